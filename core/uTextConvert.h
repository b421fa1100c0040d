#pragma once
// Text conversions between the encodings a backup file and this program meet.

#include <string>
#include <string_view>

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD; nothing is dropped silently.
[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view text);
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view text);

// File names as the system holds them (bytes, UTF-8 by convention but not by rule) <->
// UTF-16, reversibly: each byte that is not part of a well-formed UTF-8 sequence becomes
// the lone surrogate U+DC80..U+DCFF and turns back into that byte, so every name the
// system can hand over can be given back to it unchanged. Well-formed UTF-8 converts as
// by Utf8ToUtf16. Other lone surrogates have no byte form and become U+FFFD.
[[nodiscard]] std::u16string FileNameToUtf16(std::string_view name);
[[nodiscard]] std::string FileNameFromUtf16(std::u16string_view name);

// Windows-1252, the code page in which the format's producers wrote their narrow
// strings. The five bytes that code page leaves undefined map to U+0081, U+008D,
// U+008F, U+0090 and U+009D, as Windows maps them.
[[nodiscard]] std::u16string Windows1252ToUtf16(std::string_view bytes);
