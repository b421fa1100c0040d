#include "uTextConvert.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <memory>

std::u16string Utf8ToUtf16(std::string_view text)
{
    if (text.empty())
        return {};
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8WithSub(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                         &status);
    std::u16string result(static_cast<size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(result.data(), length, &length, text.data(), static_cast<int32_t>(text.size()),
                         0xFFFD, nullptr, &status);
    return U_FAILURE(status) ? std::u16string() : result;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    if (text.empty())
        return {};
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8WithSub(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                       &status);
    std::string result(static_cast<size_t>(length), '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(result.data(), length, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD,
                       nullptr, &status);
    return U_FAILURE(status) ? std::string() : result;
}

std::u16string FileNameToUtf16(std::string_view name)
{
    std::u16string result;
    result.reserve(name.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
    const auto length = static_cast<int32_t>(name.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            // An ill-formed run is made of a lead byte and continuation bytes, none of
            // which can begin a well-formed sequence: each escapes on its own.
            for (int32_t k = start; k < i; ++k)
                result += static_cast<char16_t>(0xDC00 + bytes[k]);
            continue;
        }
        if (c <= 0xFFFF) {
            result += static_cast<char16_t>(c);
        } else {
            result += static_cast<char16_t>(U16_LEAD(c));
            result += static_cast<char16_t>(U16_TRAIL(c));
        }
    }
    return result;
}

std::string FileNameFromUtf16(std::u16string_view name)
{
    std::string result;
    result.reserve(name.size());
    const auto length = static_cast<int32_t>(name.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c = 0;
        U16_NEXT(name.data(), i, length, c);
        if (c >= 0xDC80 && c <= 0xDCFF) {
            result += static_cast<char>(c - 0xDC00);
            continue;
        }
        if (U_IS_SURROGATE(c))
            c = 0xFFFD;
        uint8_t encoded[U8_MAX_LENGTH];
        int32_t n = 0;
        U8_APPEND_UNSAFE(encoded, n, c);
        result.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(n));
    }
    return result;
}

std::u16string Windows1252ToUtf16(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    struct TCloser {
        void operator()(UConverter* c) const { ucnv_close(c); }
    };
    // ICU's table for this code page maps the five undefined bytes to the C1 controls,
    // as Windows does, so every byte has a character. Opened once per thread: the
    // walk decodes a string in nearly every block.
    thread_local std::unique_ptr<UConverter, TCloser> converter = [] {
        UErrorCode openStatus = U_ZERO_ERROR;
        UConverter* c = ucnv_open("ibm-5348_P100-1997", &openStatus);
        return std::unique_ptr<UConverter, TCloser>(U_FAILURE(openStatus) ? nullptr : c);
    }();
    if (!converter)
        return {};
    ucnv_reset(converter.get());
    UErrorCode status = U_ZERO_ERROR;
    // One byte gives at most one UTF-16 unit in this code page.
    std::u16string result(bytes.size(), u'\0');
    int32_t length = ucnv_toUChars(converter.get(), result.data(), static_cast<int32_t>(result.size()),
                                   bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING)
        return {};
    result.resize(static_cast<size_t>(length));
    return result;
}
