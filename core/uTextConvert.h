#pragma once
// Text conversions between the encodings a backup file and this program meet.

#include <string>
#include <string_view>

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD; nothing is dropped silently.
[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view text);
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view text);

// Windows-1252, the code page in which the format's producers wrote their narrow
// strings. The five bytes that code page leaves undefined map to U+0081, U+008D,
// U+008F, U+0090 and U+009D, as Windows maps them.
[[nodiscard]] std::u16string Windows1252ToUtf16(std::string_view bytes);
