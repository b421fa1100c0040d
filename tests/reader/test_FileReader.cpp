// The file reader and the block reader: buffering rules, positions, failures, and the
// path functions behind them.

#include "uFixtureBuilder.h"
#include "uMemoryFile.h"
#include "uPaths.h"
#include "uTextConvert.h"
#include "u_MTFReader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

constexpr int32_t MiB = 1048576;

// Byte i of a pattern file: no two nearby offsets look alike.
uint8_t PatternByte(int64_t i)
{
    return static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
}

std::vector<uint8_t> PatternFile(int64_t size)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    for (int64_t i = 0; i < size; ++i)
        bytes[static_cast<size_t>(i)] = PatternByte(i);
    return bytes;
}

// The block reader runs against a file held in memory and a real file on disk alike.
class BlockReader : public testing::TestWithParam<bool> {
protected:
    std::unique_ptr<TMTFFileReader> OpenPattern(int64_t size)
    {
        const std::vector<uint8_t> bytes = PatternFile(size);
        if (GetParam()) {
            FPath = FDir.Path("pattern.bak");
            std::ofstream(FPath, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            auto reader = std::make_unique<TMTFFileReader>();
            EXPECT_TRUE(reader->Open(Utf8ToUtf16(FPath)));
            return reader;
        }
        FMemory = std::make_shared<TMemoryFileApi>();
        FMemory->Add("pattern.bak", bytes);
        auto reader = std::make_unique<TMTFFileReader>(FMemory);
        EXPECT_TRUE(reader->Open(u"pattern.bak"));
        return reader;
    }

    // The platform reads so far, where they can be seen (the memory file).
    std::vector<std::pair<int64_t, int64_t>> Reads() const
    {
        std::vector<std::pair<int64_t, int64_t>> reads;
        if (FMemory)
            for (const auto& call : FMemory->Calls)
                if (call.Kind == TMemoryFileApi::TCall::Read)
                    reads.emplace_back(call.Position, call.Amount);
        return reads;
    }

    static void ExpectPattern(const std::vector<uint8_t>& bytes, int32_t count, int64_t at)
    {
        for (int32_t i = 0; i < count; ++i)
            if (bytes[static_cast<size_t>(i)] != PatternByte(at + i)) {
                ADD_FAILURE() << "byte " << i << " of the request at " << at;
                return;
            }
    }

    TTempDir FDir;
    std::string FPath;
    std::shared_ptr<TMemoryFileApi> FMemory;
};

TEST_P(BlockReader, KeepsTheTailAndRefillsBehindIt)
{
    auto r = OpenPattern(3 * MiB);
    std::vector<uint8_t> out(2 * MiB);
    EXPECT_EQ(r->Read(4, out.data(), 0), 4);
    EXPECT_EQ(r->FBufferStart, 0);
    EXPECT_EQ(r->FBufferLength, MiB);
    // Served from the window: no refill.
    EXPECT_EQ(r->Read(MiB, out.data(), 0), MiB);
    EXPECT_EQ(r->FBufferLength, MiB);
    EXPECT_EQ(r->Read(MiB, out.data(), 100), MiB);
    EXPECT_EQ(r->FBufferStart, 100);
    EXPECT_EQ(r->FBufferLength, MiB - 100 + MiB);
    ExpectPattern(out, MiB, 100);
    if (FMemory) {
        // The window's rule decides the counts; the file is read in aligned pieces, the
        // first of them small, each byte once, growing while the reads follow each other.
        const auto reads = Reads();
        ASSERT_FALSE(reads.empty());
        EXPECT_EQ(reads.front(), (std::pair<int64_t, int64_t>{0, 4 * TMTFFileReader::PieceSize}));
        int64_t next = 0, total = 0;
        for (const auto& [at, amount] : reads) {
            EXPECT_EQ(at % TMTFFileReader::PieceSize, 0) << at;
            EXPECT_EQ(amount % TMTFFileReader::PieceSize, 0) << at;
            EXPECT_GE(at, next) << "a piece read twice at " << at;
            next = at + amount;
            total += amount;
        }
        EXPECT_LE(total, MiB + 100 + 8 * TMTFFileReader::PieceSize);
        EXPECT_LT(reads.size(), 16u);
    }
}

TEST_P(BlockReader, SkipsAGapBySeekingWholeSectors)
{
    auto r = OpenPattern(3 * MiB);
    std::vector<uint8_t> out(64);
    ASSERT_EQ(r->Read(4, out.data(), 0), 4);
    EXPECT_EQ(r->Read(22, out.data(), 1053576), 22);
    EXPECT_EQ(r->FBufferStart, 1053184);  // 1,048,576 + 4,608
    EXPECT_EQ(1053576 - r->FBufferStart, 392);
    ExpectPattern(out, 22, 1053576);
    if (FMemory) {
        // The skip lands on the sector before the request; the file is then read from the
        // piece that holds the request, 16 KiB, not a mebibyte.
        const auto& seek = FMemory->Calls[2];
        EXPECT_EQ(seek.Kind, TMemoryFileApi::TCall::Seek);
        EXPECT_EQ(seek.Position + seek.Amount, 1053184);
        EXPECT_EQ(Reads().back(), (std::pair<int64_t, int64_t>{1052672, 4 * TMTFFileReader::PieceSize}));
    }
}

TEST_P(BlockReader, LargeRequestsRefillOnceAndNeverOverflow)
{
    auto r = OpenPattern(4 * MiB);
    std::vector<uint8_t> out(1500000);
    ASSERT_EQ(r->Read(4, out.data(), 0), 4);
    // 100,000 bytes buffered from the request on: one 1 MiB refill, a short answer.
    EXPECT_EQ(r->Read(1500000, out.data(), MiB - 100000), 1148576);
    ExpectPattern(out, 1148576, MiB - 100000);
    // 1,200,000 buffered: the refill fits the free space in whole sectors only.
    auto s = OpenPattern(4 * MiB);
    ASSERT_EQ(s->Read(4, out.data(), 0), 4);
    ASSERT_EQ(s->Read(MiB, out.data(), 100), MiB);  // buffer now holds [100, 2 MiB)
    const int64_t at = 2 * MiB - 1200000;
    EXPECT_EQ(s->Read(1500000, out.data(), at), 1500000);
    EXPECT_EQ(s->FBufferLength, 1200000 + 897024);
    EXPECT_LE(s->FBufferLength, TMTFFileReader::BufferSize);
    ExpectPattern(out, 1500000, at);
}

TEST_P(BlockReader, EndOfFileAndOddRequests)
{
    auto r = OpenPattern(MiB + 512);
    std::vector<uint8_t> out(MiB);
    EXPECT_EQ(r->Read(0, out.data(), 0), 0);
    EXPECT_EQ(r->Read(16, out.data(), MiB + 500), 12);  // runs past the end
    EXPECT_EQ(r->Read(4, out.data(), MiB + 512), 0);    // exactly at the end
    EXPECT_TRUE(r->FAtEnd);
    const size_t reads = Reads().size();
    EXPECT_EQ(r->Read(4, out.data(), 5 * MiB), 0);
    EXPECT_EQ(Reads().size(), reads);  // nothing more is read once the end was met
    // Before the buffer: nothing, and nothing changes.
    const int64_t start = r->FBufferStart;
    EXPECT_EQ(r->Read(4, out.data(), start - 1), 0);
    EXPECT_EQ(r->FBufferStart, start);
}

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, BlockReader, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Disk" : "Memory";
                         });

TEST(FileReader, ChoosesTheCacheModeBySizeAndPlace)
{
    struct TCase {
        std::string Path;
        size_t Size;
        bool Unbuffered;
    };
    for (const TCase& c : std::vector<TCase>{{"local.bak", 1048576, true},
                                             {"odd.bak", 1048577, false},
                                             {"empty.bak", 0, true},
                                             {"//server/share/x.bak", 1048576, false},
                                             {"\\\\server\\share\\x.bak", 512, false}}) {
        auto api = std::make_shared<TMemoryFileApi>();
        api->Add(c.Path, std::vector<uint8_t>(c.Size, 1));
        TMTFFileReader reader(api);
        ASSERT_TRUE(reader.Open(Utf8ToUtf16(c.Path))) << c.Path;
        EXPECT_EQ(api->Calls.front().Unbuffered, c.Unbuffered) << c.Path;
    }
}

TEST(FileReader, EmptyFileDeliversNothing)
{
    auto api = std::make_shared<TMemoryFileApi>();
    api->Add("empty.bak", {});
    TMTFFileReader reader(api);
    ASSERT_TRUE(reader.Open(u"empty.bak"));
    uint8_t out[4];
    EXPECT_EQ(reader.Read(4, out, 0), 0);
    EXPECT_TRUE(reader.FAtEnd);
}

TEST(FileReader, RealFileOpensUnbufferedWhereTheFileSystemAllows)
{
    TTempDir dir;
    const std::string path = dir.Path("sectors.bak");
    const std::vector<uint8_t> bytes = PatternFile(3 * 512 * 1000);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    TMTFFileReader reader;
    ASSERT_TRUE(reader.Open(Utf8ToUtf16(path)));
    EXPECT_TRUE(reader.FFile.Unbuffered());
    // Unaligned positions and lengths come back right through the staging area.
    std::vector<uint8_t> out(700000);
    for (int64_t at : {int64_t{3}, int64_t{1000}, int64_t{777777}, int64_t{1500001}}) {
        const int32_t n = reader.Read(700000, out.data(), at);
        ASSERT_GT(n, 0);
        for (int32_t i = 0; i < n; ++i)
            ASSERT_EQ(out[static_cast<size_t>(i)], PatternByte(at + i)) << at << "+" << i;
    }
    EXPECT_TRUE(reader.FFile.FErrors.empty());
}

TEST(FileReader, OpenFailureLeavesTwoLines)
{
    TMTFFileReader reader;
    EXPECT_FALSE(reader.Open(u"/nonexistent/x.bak"));
    EXPECT_FALSE(reader.FIsOpen);
    EXPECT_EQ(reader.FBuffer, nullptr);
    ASSERT_EQ(reader.FFile.FErrors.size(), 2u);
    for (const auto& e : reader.FFile.FErrors) {
        const std::string text = Utf16ToUtf8(e.Text);
        EXPECT_NE(text.find(": OpenTargetFile.CreateFile error: No such file or directory"),
                  std::string::npos);
        EXPECT_EQ(e.Code, ENOENT);
    }
    // A second try succeeds after the first failed: one line only.
    auto api = std::make_shared<TMemoryFileApi>();
    api->Add("x.bak", std::vector<uint8_t>(10));
    api->FailOpens = 1;
    TMTFFileReader retried(api);
    EXPECT_TRUE(retried.Open(u"x.bak"));
    EXPECT_EQ(retried.FFile.FErrors.size(), 1u);
}

TEST(FileReader, ReadFailureClosesAndEndsTheBuffer)
{
    auto api = std::make_shared<TMemoryFileApi>();
    api->Add("x.bak", PatternFile(3 * MiB));
    TMTFFileReader reader(api);
    ASSERT_TRUE(reader.Open(u"x.bak"));
    std::vector<uint8_t> out(64);
    ASSERT_EQ(reader.Read(4, out.data(), 0), 4);
    api->FailReads = 1;
    EXPECT_EQ(reader.Read(64, out.data(), MiB - 10), 10);  // the kept tail only
    EXPECT_TRUE(reader.FAtEnd);
    EXPECT_EQ(reader.FFile.FHandle, TPlatformFileApi::NoHandle);
    ASSERT_EQ(reader.FFile.FErrors.size(), 1u);
    EXPECT_EQ(reader.FFile.FErrors[0].Text, u"ReadFile failed for file: x.bak at position: 1048576");
    EXPECT_FALSE(reader.FFile.FErrors[0].Code.has_value());
    EXPECT_EQ(reader.Read(4, out.data(), 2 * MiB), 0);
}

TEST(FileReader, SeekFailureReopensAndLandsWhereItAimed)
{
    auto api = std::make_shared<TMemoryFileApi>();
    api->Add("x.bak", PatternFile(4 * MiB));
    TMTFFileReader reader(api);
    ASSERT_TRUE(reader.Open(u"x.bak"));
    std::vector<uint8_t> out(22);
    ASSERT_EQ(reader.Read(4, out.data(), 0), 4);
    api->FailSeeks = 1;
    ASSERT_EQ(reader.Read(22, out.data(), 3 * MiB + 1000), 22);
    EXPECT_EQ(out[0], PatternByte(3 * MiB + 1000));
    // The reopened file was positioned at the piece holding the request and read on
    // from there.
    EXPECT_EQ(reader.FFile.FPosition, 3 * MiB + 4 * TMTFFileReader::PieceSize);
    ASSERT_EQ(reader.FFile.FErrors.size(), 1u);
    EXPECT_NE(Utf16ToUtf8(reader.FFile.FErrors[0].Text).find(": SetFilePointerEx error: Input/output error"),
              std::string::npos);

    // Both seeks fail: the file is closed and the request delivers nothing.
    TMTFFileReader failing(api);
    ASSERT_TRUE(failing.Open(u"x.bak"));
    ASSERT_EQ(failing.Read(4, out.data(), 0), 4);
    api->FailSeeks = 2;
    EXPECT_EQ(failing.Read(22, out.data(), 3 * MiB), 0);
    EXPECT_EQ(failing.FBufferStart, MiB);
    ASSERT_EQ(failing.FFile.FErrors.size(), 3u);
    EXPECT_EQ(failing.FFile.FErrors[2].Text, u"ReadFile failed for file: x.bak at position: 1048576");
    EXPECT_TRUE(failing.FAtEnd);
}

TEST(Paths, UniversalPathOf)
{
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(UniversalPathOf("x.bak"), cwd + "/x.bak");
    EXPECT_EQ(UniversalPathOf("/a/./b/../c.bak"), "/a/c.bak");
    EXPECT_EQ(UniversalPathOf("//server/share/x.bak"), "//server/share/x.bak");
    EXPECT_EQ(UniversalPathOf("\\\\server\\share\\x.bak"), "\\\\server\\share\\x.bak");
    // Links are not resolved.
    TTempDir dir;
    const std::string link = dir.Path("link.bak");
    ASSERT_EQ(symlink("/etc/hostname", link.c_str()), 0);
    EXPECT_EQ(UniversalPathOf(link), link);
}

TEST(Paths, FileSizeOf)
{
    TTempDir dir;
    TFixtureBuilder b;
    b.Zeros(1234);
    b.WriteTo(dir.Path("one[1].bak"));
    b.WriteTo(dir.Path("what?.bak"));
    TFixtureBuilder other;
    other.Zeros(10);
    other.WriteTo(dir.Path("whatX.bak"));
    EXPECT_EQ(FileSizeOf(dir.Path("one[1].bak")), 1234);  // brackets are no pattern
    EXPECT_EQ(FileSizeOf(dir.Path("what?.bak")), 1234);   // the file of that very name
    EXPECT_EQ(FileSizeOf(dir.Path("one*")), 1234);        // a pattern finds its match
    EXPECT_EQ(FileSizeOf(dir.Path("missing.bak")), 0);
    EXPECT_EQ(FileSizeOf(dir.Dir()), 0);
}

}  // namespace
