// The POSIX layer under the file reader: what it opens, what it refuses and how quickly,
// names that are not UTF-8, and direct reads that the device turns down.

#include "uFixtureBuilder.h"
#include "uMemoryFile.h"
#include "uTextConvert.h"
#include "u_MTFReader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace {

// Runs work on a thread of its own and tells whether it came back: a call that blocks
// for ever then fails its test instead of stopping the whole run. Whatever the work uses
// must be owned by it (shared pointers), since a thread that never returns is left behind.
bool Returns(std::function<void()> work)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([work = std::move(work), done] {
        work();
        done->set_value();
    }).detach();
    return finished.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
}

uint8_t PatternByte(int64_t i)
{
    return static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
}

void WritePattern(const std::string& path, int64_t size)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    for (int64_t i = 0; i < size; ++i)
        bytes[static_cast<size_t>(i)] = PatternByte(i);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string Ending(const std::u16string& line)
{
    const std::string text = Utf16ToUtf8(line);
    const size_t at = text.find(": OpenTargetFile.CreateFile error: ");
    return at == std::string::npos ? text : text.substr(at);
}

// Names that exist but stand for no file: refused at once, with the reason as the
// system message of the open error line, and not tried a second time.
struct TNotAFileCase {
    const char* Name;
    enum { Folder, Fifo, Device } Kind;
    const char* DevicePath;
    const char* Reason;
    int Code;
};

class NotAFile : public testing::TestWithParam<TNotAFileCase> {
protected:
    std::string MakePath()
    {
        const TNotAFileCase& c = GetParam();
        switch (c.Kind) {
        case TNotAFileCase::Folder:
            return FDir.Dir();
        case TNotAFileCase::Fifo: {
            const std::string path = FDir.Path("p.bak");
            EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
            return path;
        }
        case TNotAFileCase::Device:
            break;
        }
        return c.DevicePath;
    }
    TTempDir FDir;
};

TEST_P(NotAFile, IsRefusedWithItsReason)
{
    const TNotAFileCase& c = GetParam();
    const std::string path = MakePath();
    const std::string expected = std::string(": OpenTargetFile.CreateFile error: ") + c.Reason;

    auto reader = std::make_shared<TMTFFileReader>();
    auto opened = std::make_shared<bool>(true);
    ASSERT_TRUE(Returns([reader, opened, path] { *opened = reader->Open(FileNameToUtf16(path)); }))
        << path << ": the open does not return";
    EXPECT_FALSE(*opened);
    EXPECT_EQ(reader->FBuffer, nullptr);
    ASSERT_EQ(reader->FFile.FErrors.size(), 1u);
    EXPECT_EQ(Ending(reader->FFile.FErrors[0].Text), expected);
    EXPECT_EQ(reader->FFile.FErrors[0].Code, c.Code);

    // The whole read says it could not open the file, which the tools turn into a failure.
    auto report = std::make_shared<TBackupFileReport>();
    ASSERT_TRUE(Returns([report, path] { *report = ReadBackupFile(FileNameToUtf16(path)); }))
        << path << ": the read does not return";
    EXPECT_FALSE(report->Opened);
    ASSERT_EQ(report->ErrorLines.size(), 1u);
    EXPECT_EQ(Ending(report->ErrorLines[0]), expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotAFile,
                         testing::Values(TNotAFileCase{"Folder", TNotAFileCase::Folder, "", "is a directory",
                                                       OpenErrorIsDirectory},
                                         // A FIFO without a writer would hold a plain open for ever.
                                         TNotAFileCase{"FifoWithoutWriter", TNotAFileCase::Fifo, "",
                                                       "is not a regular file", OpenErrorNotARegularFile},
                                         TNotAFileCase{"DevNull", TNotAFileCase::Device, "/dev/null",
                                                       "is not a regular file", OpenErrorNotARegularFile},
                                         TNotAFileCase{"DevZero", TNotAFileCase::Device, "/dev/zero",
                                                       "is not a regular file", OpenErrorNotARegularFile},
                                         TNotAFileCase{"DevUrandom", TNotAFileCase::Device, "/dev/urandom",
                                                       "is not a regular file", OpenErrorNotARegularFile}),
                         [](const testing::TestParamInfo<TNotAFileCase>& info) {
                             return std::string(info.param.Name);
                         });

TEST(PlatformFile, FifoWithAWriterIsRefusedWithoutReadingIt)
{
    TTempDir dir;
    const std::string path = dir.Path("p.bak");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    // Opening for reading and writing does not wait for a partner.
    const int writer = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "TAPE", 4), 4);
    auto reader = std::make_shared<TMTFFileReader>();
    auto opened = std::make_shared<bool>(true);
    EXPECT_TRUE(Returns([reader, opened, path] { *opened = reader->Open(FileNameToUtf16(path)); }));
    EXPECT_FALSE(*opened);
    char back[4] = {};
    EXPECT_EQ(::read(writer, back, 4), 4);  // what was written is still in the pipe
    ::close(writer);
}

TEST(PlatformFile, BlockDevicesOpen)
{
    // Any block device this process may open will do; most machines give a user none.
    for (const char* device : {"/dev/loop0", "/dev/loop1", "/dev/loop7", "/dev/zram0"}) {
        struct stat info {};
        if (::stat(device, &info) != 0 || !S_ISBLK(info.st_mode) || ::access(device, R_OK) != 0)
            continue;
        TMTFFileReader reader;
        EXPECT_TRUE(reader.Open(Utf8ToUtf16(device))) << device;
        EXPECT_TRUE(reader.FFile.FErrors.empty()) << device;
        return;
    }
    GTEST_SKIP() << "no block device can be opened here";
}

// Which failures are tried again: one that may pass is, a name that stands for something
// other than a file is not.
TEST(FileReader, TriesAgainOnlyWhatMayPass)
{
    struct TCase {
        const char* Name;
        int Code;
        size_t Lines;
    };
    for (const TCase& c : {TCase{"input/output", EIO, 2}, TCase{"busy", EBUSY, 2},
                           TCase{"no such file", ENOENT, 2}, TCase{"directory", OpenErrorIsDirectory, 1},
                           TCase{"not a regular file", OpenErrorNotARegularFile, 1}}) {
        auto api = std::make_shared<TMemoryFileApi>();
        api->Add("x.bak", std::vector<uint8_t>(10));
        api->FailOpens = 2;
        api->FailureCode = c.Code;
        TMTFFileReader reader(api);
        EXPECT_FALSE(reader.Open(u"x.bak")) << c.Name;
        EXPECT_EQ(reader.FFile.FErrors.size(), c.Lines) << c.Name;
    }
}

TEST(PlatformFile, NameThatIsNotUtf8Opens)
{
    TTempDir dir;
    const std::string path = dir.Path("backup \xFF\xFE caf\xE9.bak");
    WritePattern(path, 5000);
    const std::u16string name = FileNameToUtf16(path);
    TMTFFileReader reader;
    ASSERT_TRUE(reader.Open(name)) << (reader.FFile.FErrors.empty()
                                           ? ""
                                           : Utf16ToUtf8(reader.FFile.FErrors[0].Text));
    EXPECT_EQ(reader.FFile.FFileName, name);
    std::vector<uint8_t> out(100);
    ASSERT_EQ(reader.Read(100, out.data(), 4000), 100);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(out[static_cast<size_t>(i)], PatternByte(4000 + i)) << i;
    EXPECT_TRUE(reader.FFile.FErrors.empty());
    // Its size is found by that name too.
    EXPECT_EQ(reader.FFile.Api().FileSize(FileNameFromUtf16(name)), 5000);
}

// A direct read that the device turns down: EINVAL goes on through the cache with the
// same bytes, any other failure is a read failure. Neither may hang.
struct TDirectFailureCase {
    const char* Name;
    int Code;
    bool Delivers;
};

class DirectReadFailure : public testing::TestWithParam<TDirectFailureCase> {};

TEST_P(DirectReadFailure, FallsBackOrFailsButReturns)
{
    const TDirectFailureCase& c = GetParam();
    TTempDir dir;
    const std::string path = dir.Path("sectors.bak");
    WritePattern(path, 3 * 512 * 1000);
    const int probe = ::open(path.c_str(), O_RDONLY | O_DIRECT);
    if (probe < 0)
        GTEST_SKIP() << "the temporary folder's file system refuses direct I/O";
    ::close(probe);

    auto calls = std::make_shared<std::atomic<int>>(0);
    const int code = c.Code;
    auto api = MakePosixFileApi([calls, code](int, void*, size_t, off_t) -> ssize_t {
        ++*calls;
        errno = code;
        return -1;
    });
    auto reader = std::make_shared<TMTFFileReader>(api);
    ASSERT_TRUE(reader->Open(FileNameToUtf16(path)));
    ASSERT_TRUE(reader->FFile.Unbuffered());
    auto first = std::make_shared<std::vector<uint8_t>>(700000);
    auto delivered = std::make_shared<int32_t>(-1);
    ASSERT_TRUE(Returns([reader, first, delivered] {
        *delivered = reader->Read(700000, first->data(), 1000);
    })) << "the read does not return";
    EXPECT_EQ(*calls, 1);  // the direct read was tried, and only once
    if (c.Delivers) {
        ASSERT_EQ(*delivered, 700000);
        for (int32_t i = 0; i < *delivered; ++i)
            ASSERT_EQ((*first)[static_cast<size_t>(i)], PatternByte(1000 + i)) << i;
        EXPECT_TRUE(reader->FFile.FErrors.empty());
        // Later reads on the handle go through the cache from the start.
        std::vector<uint8_t> later(64);
        EXPECT_EQ(reader->Read(64, later.data(), 1500000), 64);
        EXPECT_EQ(later[0], PatternByte(1500000));
        EXPECT_EQ(*calls, 1);
    } else {
        EXPECT_EQ(*delivered, 0);
        ASSERT_EQ(reader->FFile.FErrors.size(), 1u);
        EXPECT_EQ(reader->FFile.FErrors[0].Text,
                  u"ReadFile failed for file: " + FileNameToUtf16(path) +
                      u" at position: 0");  // the first piece starts at the 4 KiB boundary before 1000
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, DirectReadFailure,
                         testing::Values(TDirectFailureCase{"Alignment", EINVAL, true},
                                         TDirectFailureCase{"InputOutput", EIO, false}),
                         [](const testing::TestParamInfo<TDirectFailureCase>& info) {
                             return std::string(info.param.Name);
                         });

}  // namespace
