#include "uFileKind.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace {

struct TSignature {
    std::u16string_view Kind;
    std::span<const uint8_t> Bytes;  // at offset 0
    bool Packs = true;               // an archive or compressed file, which may hold a backup
};

// Formats a backup is often packed into or mistaken for. Only signatures that their
// formats define at the first byte, long enough not to match by chance in a text.
constexpr uint8_t Gzip[] = {0x1F, 0x8B, 0x08};  // 8: deflate, the only method defined
constexpr uint8_t Zip[] = {'P', 'K', 0x03, 0x04};
constexpr uint8_t ZipEmpty[] = {'P', 'K', 0x05, 0x06};
constexpr uint8_t ZipSpanned[] = {'P', 'K', 0x07, 0x08};
constexpr uint8_t SevenZip[] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint8_t Xz[] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr uint8_t Bzip2[] = {'B', 'Z', 'h'};
constexpr uint8_t Zstd[] = {0x28, 0xB5, 0x2F, 0xFD};
constexpr uint8_t Lz4[] = {0x04, 0x22, 0x4D, 0x18};
constexpr uint8_t Rar[] = {'R', 'a', 'r', '!', 0x1A, 0x07};
constexpr uint8_t Sqlite[] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                              'o', 'r', 'm', 'a', 't', ' ', '3', 0x00};

constexpr TSignature Signatures[] = {
    {u"a gzip-compressed file", Gzip},      {u"a zip archive", Zip},
    {u"a zip archive", ZipEmpty},           {u"a zip archive", ZipSpanned},
    {u"a 7-Zip archive", SevenZip},         {u"an xz-compressed file", Xz},
    {u"a bzip2-compressed file", Bzip2},    {u"a Zstandard-compressed file", Zstd},
    {u"an LZ4-compressed file", Lz4},       {u"a RAR archive", Rar},
    {u"an SQLite database", Sqlite, false},
};

bool BeginsWith(const std::vector<uint8_t>& bytes, std::span<const uint8_t> prefix)
{
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

}  // namespace

std::u16string NotABackupExplanation(const TBackupFileReport& report)
{
    constexpr uint8_t Tape[] = {'T', 'A', 'P', 'E'};
    if (!report.Opened || BeginsWith(report.FirstBytes, Tape))
        return {};
    if (report.FileSize == 0 && report.FirstBytes.empty())
        return u"The file is empty: it is not a Microsoft Tape Format backup.";
    for (const TSignature& s : Signatures)
        if (BeginsWith(report.FirstBytes, s.Bytes))
            return u"The file is not a Microsoft Tape Format backup: it looks like " +
                   std::u16string(s.Kind) + (s.Packs ? u", which may hold a backup to unpack first." : u".");
    return u"The file is not a Microsoft Tape Format backup: it does not begin with a tape header.";
}
