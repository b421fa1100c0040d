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

namespace {

// Overlapping blocks that begin a set, a file or a long text every few bytes: the walk
// stops once its records take what a file of this size may make them take, says where
// in one line, and keeps what it read until then.
TEST(Hostile, RecordsStayWithinTheirBudget)
{
    constexpr size_t Size = 12 * 1048576;
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Bytes;
    };
    std::vector<TCase> cases;
    {
        TFixtureBuilder b;
        const uint8_t pair[24] = {'S', 'S', 'E', 'T', 0, 0, 0, 0, 12, 0, 0, 0,
                                  'E', 'S', 'E', 'T', 0, 0, 0, 0, 12, 0, 0, 0};
        while (b.Data.size() + 24 <= Size)
            b.Raw(pair);
        cases.push_back({"a set every 24 bytes", b.Data});
    }
    {
        TFixtureBuilder b;
        b.MediaHeader();
        b.Sset();
        b.Mqci();
        for (uint32_t id = 1; b.Data.size() + 24 <= Size; ++id) {
            uint8_t block[24] = {'S', 'F', 'I', 'N', 24};
            std::memcpy(block + 20, &id, 4);
            b.Raw(block);
        }
        cases.push_back({"a file every 24 bytes", b.Data});
    }
    {
        // Each SSET block names the 64 KiB ahead of it as its name, its description and
        // its user, and an ESET block ends the set: 192 KiB of text every 124 bytes.
        TFixtureBuilder b;
        while (b.Data.size() + 124 <= Size - 70000) {
            std::vector<uint8_t> block(124, 'x');
            std::memcpy(block.data(), "SSET", 4);
            block[8] = 100;  // offset to first event
            block[9] = 0;
            block[48] = 2;  // UTF-16 strings
            for (size_t address : {64, 68, 76}) {
                block[address] = 0xFF;
                block[address + 1] = 0xFF;  // 65,535 bytes
                block[address + 2] = 100;   // from the block's end on
                block[address + 3] = 0;
            }
            std::memcpy(block.data() + 100, "ESET", 4);
            block[108] = 24;
            block[109] = 0;
            b.Raw(block);
        }
        b.Data.resize(Size, 'y');
        cases.push_back({"long texts every 124 bytes", b.Data});
    }
    for (const TCase& c : cases) {
        const TReadResult r = ReadBytes(c.Bytes);
        const std::vector<std::string> errors = r.Errors();
        ASSERT_FALSE(errors.empty()) << c.Name;
        EXPECT_EQ(errors.back().rfind("The records of this file take more memory than a file of its size can "
                                      "hold: the read stops at byte ",
                                      0),
                  0u)
            << c.Name << ": " << errors.back();
        size_t bytes = 0;
        for (const TBackupDetails& set : r.Sets()) {
            bytes += sizeof(TBackupDetails) +
                     2 * (set.Header.BackupName.size() + set.Header.BackupDescription.size()) +
                     set.Header.UserName.size();
            for (const TBackupFile& file : set.Files)
                bytes += sizeof(TBackupFile) + 2 * (file.LogicalName.size() + file.PhysicalName.size());
        }
        // What the records hold stays below the budget for a file of this size, which is
        // far below what the blocks would have made them take.
        EXPECT_LE(bytes, (8u << 20) + 4 * Size) << c.Name;
        EXPECT_GT(bytes, (4u << 20)) << c.Name;
    }
}

// Sets shaped as real ones, blocks on 512-byte boundaries and two files per set: all of
// them are listed, however many there are, since each takes hundreds of bytes of file.
TEST(Hostile, RealShapedSetsAreListedCompletely)
{
    TFixtureBuilder b;
    b.MediaHeader();
    for (int i = 0; i < 3000; ++i) {
        TBackupSetSpec spec;
        spec.DataLength = 1000;
        b.BackupSet(spec);
    }
    const TReadResult r = ReadBuilt(b);
    EXPECT_EQ(r.Sets().size(), 3000u);
    EXPECT_TRUE(r.Errors().empty());
    for (const TBackupDetails& set : r.Sets())
        ASSERT_EQ(set.Files.size(), 2u);
}

}  // namespace
