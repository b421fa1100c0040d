// What a walk reads of the file, and what it says when a file is cut short.

#include "uReaderTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Sets whose data streams the walk crosses by seeking: the file is read where the
// walk looks, not a mebibyte behind every skip.
TEST(BlockWalk, ReadsLittleMoreThanTheMetadataItParses)
{
    struct TCase {
        const char* Name;
        int Sets;
        uint64_t DataLength;
    };
    for (const TCase& c :
         {TCase{"12 sets of 1 MiB", 12, 1048576}, TCase{"6 sets of 3 MiB", 6, 3 * 1048576 + 5},
          TCase{"40 sets of 256 KiB", 40, 262144}}) {
        TFixtureBuilder b;
        b.MediaHeader();
        int64_t skipped = 0;
        for (int i = 0; i < c.Sets; ++i) {
            TBackupSetSpec spec;
            spec.DataLength = c.DataLength;
            b.BackupSet(spec);
            const auto n = static_cast<int64_t>(22 + c.DataLength);
            skipped += n + n % 4 - 22;
        }
        const int64_t metadata = b.Size() - skipped;
        const TReadResult r = ReadBuilt(b);
        ASSERT_EQ(r.Sets().size(), static_cast<size_t>(c.Sets)) << c.Name;
        EXPECT_TRUE(r.Errors().empty()) << c.Name;
        // Per set the walk looks at its metadata in two places and at the set's end; a
        // first piece of 16 KiB at each is the most it reads beyond what it parses.
        EXPECT_LE(r.Api->BytesDelivered, 4 * metadata + 3 * 16384 * c.Sets) << c.Name;
        EXPECT_LE(r.Api->BytesDelivered, b.Size() / 8) << c.Name;
        EXPECT_LE(r.Api->ReadCount, 4 * c.Sets + 2) << c.Name;
    }
}

}  // namespace

namespace {

std::vector<std::string> WarningsOf(const std::vector<uint8_t>& bytes)
{
    auto api = std::make_shared<TMemoryFileApi>();
    api->Add("cut.bak", bytes);
    TReadOptions options;
    options.Api = api;
    std::vector<std::string> lines;
    for (const auto& line : ReadBackupFile(u"cut.bak", options).Warnings)
        lines.push_back(Utf16ToUtf8(line));
    return lines;
}

// A copy cut short at different places: the error lines stay as they were, the
// warnings say what is missing.
TEST(CutShort, WarningsSayWhatIsMissing)
{
    TFixtureBuilder b;
    b.MediaHeader();
    TBackupSetSpec spec;
    spec.DataLength = 100000;
    b.BackupSet(spec);
    const int64_t secondSet = b.Size();
    b.BackupSet(spec);
    const int64_t whole = b.Size();

    // Where the data stream of the second set begins: its header is the one after the
    // metadata, found by its tag.
    int64_t data = -1;
    for (int64_t i = secondSet; i + 4 <= whole; ++i)
        if (std::memcmp(b.Data.data() + i, "MQDA", 4) == 0) {
            data = i;
            break;
        }
    ASSERT_GT(data, 0);
    const int64_t dataEnd = data + 22 + 100000 + (22 + 100000) % 4;

    struct TCase {
        const char* Name;
        int64_t Length;
        std::vector<std::string> Warnings;
    };
    const std::string noEnd2 = "The file ends inside backup set 2: it has no end-of-set block.";
    const std::vector<TCase> cases = {
        {"the whole file", whole, {}},
        {"cut after the first set", secondSet, {}},
        {"cut inside the data of the second set",
         data + 5000,
         {"The file ends inside the stream that begins at byte " + std::to_string(data) + ": " +
              std::to_string(dataEnd - data - 5000) + " bytes of it are missing.",
          noEnd2}},
        {"cut right after the data of the second set", dataEnd, {noEnd2}},
        {"cut inside the last stream behind the end of the set",
         whole - 10,
         {"The file ends inside the stream that begins at byte " + std::to_string(whole - 52) +
          ": 10 bytes of it are missing."}},
    };
    for (const TCase& c : cases) {
        const std::vector<uint8_t> cut(b.Data.begin(), b.Data.begin() + c.Length);
        EXPECT_EQ(WarningsOf(cut), c.Warnings) << c.Name;
        // No step fails on these cuts: without the warnings nothing would say so.
        EXPECT_TRUE(ReadBytes(cut).Errors().empty()) << c.Name;
    }
}

}  // namespace
