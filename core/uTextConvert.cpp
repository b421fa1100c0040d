#include "uTextConvert.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

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
