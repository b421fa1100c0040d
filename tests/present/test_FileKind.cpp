// The line that says what a file is when it is not a tape-format backup.

#include "uFileKind.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const std::u16string NotTape = u"The file is not a Microsoft Tape Format backup: ";
const std::u16string Unknown = NotTape + u"it does not begin with a tape header.";

std::u16string LooksLike(const std::u16string& kind, bool packs = true)
{
    return NotTape + u"it looks like " + kind +
           (packs ? u", which may hold a backup to unpack first." : u".");
}

struct TKindCase {
    const char* Name;
    bool Opened;
    std::vector<uint8_t> FirstBytes;
    std::u16string Expected;
};

class FileKind : public testing::TestWithParam<TKindCase> {};

TEST_P(FileKind, Explanation)
{
    const TKindCase& c = GetParam();
    TBackupFileReport report;
    report.Opened = c.Opened;
    report.FirstBytes = c.FirstBytes;
    EXPECT_EQ(NotABackupExplanation(report), c.Expected);
}

std::vector<uint8_t> Text(const std::string& text)
{
    return {text.begin(), text.end()};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileKind,
    testing::Values(
        TKindCase{"TapeHeader", true, Text(std::string("TAPE\0\0\0\x80", 8)), u""},
        TKindCase{"TapeHeaderOnly", true, Text("TAPE"), u""},
        // The reader's error line already says why; there is nothing to look at.
        TKindCase{"NotOpened", false, {}, u""},
        TKindCase{"NotOpenedWhateverItBegins", false, {0x1F, 0x8B, 0x08}, u""},
        TKindCase{"Empty", true, {}, u"The file is empty: it is not a Microsoft Tape Format backup."},
        TKindCase{"OtherBlockFirst", true, Text("SSET\x00\x00"), Unknown},
        TKindCase{"LowerCaseTape", true, Text("tape"), Unknown},
        TKindCase{"ShorterThanTape", true, Text("TAP"), Unknown},
        TKindCase{"Text", true, Text("ABCD"), Unknown},
        TKindCase{"Gzip", true, {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00}, LooksLike(u"a gzip-compressed file")},
        // Deflate is the one compression method gzip defines.
        TKindCase{"GzipUnknownMethod", true, {0x1F, 0x8B, 0x07}, Unknown},
        TKindCase{"Zip", true, Text("PK\x03\x04\x14\x00"), LooksLike(u"a zip archive")},
        TKindCase{"ZipEmpty", true, Text("PK\x05\x06"), LooksLike(u"a zip archive")},
        TKindCase{"ZipSpanned", true, Text("PK\x07\x08"), LooksLike(u"a zip archive")},
        TKindCase{
            "SevenZip", true, {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04}, LooksLike(u"a 7-Zip archive")},
        TKindCase{"SevenZipCut", true, {'7', 'z', 0xBC, 0xAF, 0x27}, Unknown},
        TKindCase{
            "Xz", true, {0xFD, '7', 'z', 'X', 'Z', 0x00, 0x00, 0x04}, LooksLike(u"an xz-compressed file")},
        TKindCase{"Bzip2", true, Text("BZh91AY&SY"), LooksLike(u"a bzip2-compressed file")},
        TKindCase{"Zstd", true, {0x28, 0xB5, 0x2F, 0xFD, 0x04}, LooksLike(u"a Zstandard-compressed file")},
        TKindCase{"Lz4", true, {0x04, 0x22, 0x4D, 0x18, 0x64}, LooksLike(u"an LZ4-compressed file")},
        TKindCase{"Rar", true, Text("Rar!\x1A\x07\x01\x00"), LooksLike(u"a RAR archive")},
        TKindCase{"Sqlite", true, Text(std::string("SQLite format 3\0", 16)),
                  LooksLike(u"an SQLite database", false)},
        TKindCase{"SqliteWithoutItsNul", true, Text("SQLite format 3 "), Unknown}),
    [](const testing::TestParamInfo<TKindCase>& info) { return info.param.Name; });

}  // namespace
