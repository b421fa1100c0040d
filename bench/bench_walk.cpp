// How fast the walk reads large and block-rich backup files, and how much memory a read
// needs above the program's idle memory, whatever the file says about its sizes.
//
//   build/dev/bench/tarnwick_bench [--benchmark_filter=...]
//
// The files are generated once into a temporary folder: a 20 GiB sparse file whose body
// is one stream the walk steps over, 50,000 small blocks, a set with 32,767 database
// files (the most a database can have), and 1,000 appended backup sets. Two damaged
// files of 1 MiB show the worst case of metadata work per byte: a SCIN block header
// every 8 bytes, and 32,767 filegroups followed by an SFIN block header every 8 bytes.

#include "uFixtureBuilder.h"
#include "uLargeFixtures.h"
#include "uTextConvert.h"
#include "u_MTFReader.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int64_t GiB = 1024LL * 1024 * 1024;

const TTempDir& Folder()
{
    static TTempDir dir;
    return dir;
}

// Appends a builder's bytes at an offset of a file, leaving a hole before them.
void WriteAt(const std::string& path, int64_t offset, const TFixtureBuilder& b)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0 || ::pwrite(fd, b.Data.data(), b.Data.size(), offset) != static_cast<ssize_t>(b.Data.size()))
        std::abort();
    ::close(fd);
}

std::string SparseFile()
{
    const std::string path = Folder().Path("sparse-20GiB.bak");
    TFixtureBuilder head;
    head.MediaHeader();
    head.Sfmb();
    head.Sset();
    head.Mqci();
    head.Scin();
    const int64_t bodyStart = head.Size();
    // One stream of 20 GiB: its header here, its body a hole, the end of the set behind it.
    const uint64_t length = static_cast<uint64_t>(20 * GiB);
    head.StreamWithBody("MQDA", length, 0);
    WriteAt(path, 0, head);
    const int64_t n = 22 + static_cast<int64_t>(length);
    TFixtureBuilder tail;
    tail.Sfmb();
    tail.Eset();
    // A pad stream ends the file on a whole sector, so it is read unbuffered.
    int64_t pad = (512 - (bodyStart + n + n % 4 + tail.Size()) % 512) % 512;
    if (pad < 24)
        pad += 512;
    tail.Stream("SPAD", static_cast<uint64_t>((pad % 4 == 0 ? pad : pad - 1) - 22));
    WriteAt(path, bodyStart + n + n % 4, tail);
    return path;
}

std::string SmallBlocksFile()
{
    const std::string path = Folder().Path("small-blocks.bak");
    TFixtureBuilder b;
    b.MediaHeader();
    b.Sset();
    for (int i = 0; i < 50000; ++i) {
        if (i % 2 == 0)
            b.Sfmb();
        else
            b.Stream("SPAD", 10);
    }
    b.Eset();
    b.WriteTo(path);
    return path;
}

std::string ManyFilesFile()
{
    return WriteManyFilesBackup(Folder().Path("32767-files.bak"));
}

std::string ThousandSetsFile()
{
    return WriteThousandSetsBackup(Folder().Path("1000-sets.bak"));
}

// Block headers whose declared size is 8 bytes, so that each one's fixed header reaches
// over the next ones and the walk meets a metadata block every 8 bytes.
void RepeatEvery8Bytes(TFixtureBuilder& b, char const (&tag)[5], int64_t untilSize)
{
    const uint8_t block[8] = {uint8_t(tag[0]), uint8_t(tag[1]), uint8_t(tag[2]), uint8_t(tag[3]), 8, 0, 0, 0};
    while (b.Size() + 8 <= untilSize)
        b.Raw(block);
}

std::string OverlappingScinFile()
{
    const std::string path = Folder().Path("scin-every-8-bytes.bak");
    TFixtureBuilder b;
    b.MediaHeader();
    b.Sset();
    RepeatEvery8Bytes(b, "SCIN", 1048576);
    b.WriteTo(path);
    return path;
}

std::string FilegroupsThenSfinFile()
{
    const std::string path = Folder().Path("filegroups-then-sfin.bak");
    TFixtureBuilder b;
    b.MediaHeader();
    b.Sset();
    b.Scin();
    for (int32_t id = 1; id <= 32767; ++id)
        b.Sfgi(id, u"D");
    RepeatEvery8Bytes(b, "SFIN", std::max<int64_t>(b.Size() + 65536, 1048576));
    b.WriteTo(path);
    return path;
}

// 1,000 backup sets appended in a sparse file of 64 GiB: each set's metadata, then a
// data stream of 64 MiB the walk crosses by seeking (a hole on disk), then the end of
// the set. Real folders of log backups look like this; what matters is how much of the
// file the walk reads.
std::string SparseThousandSetsFile()
{
    const std::string path = Folder().Path("1000-sets-64GiB.bak");
    constexpr uint64_t DataLength = 64ULL * 1024 * 1024 - 22;
    TFixtureBuilder media;
    media.MediaHeader();
    WriteAt(path, 0, media);
    int64_t at = media.Size();
    for (int i = 0; i < 1000; ++i) {
        TBackupSetSpec spec;
        spec.Sset.Name = {u"Log backup " + Utf8ToUtf16(std::to_string(i + 1))};
        spec.Scin.TypeLetter = 'L';
        auto metadata = [&](TFixtureBuilder& b) {
            b.Mqci();
            b.Scin(spec.Scin);
            for (const auto& [id, name] : spec.Filegroups)
                b.Sfgi(id, name);
            for (const TSfinSpec& file : spec.Files)
                b.Sfin(file);
        };
        TFixtureBuilder head;
        head.Sfmb();
        head.Sset(spec.Sset);
        head.Stream("SPAD", 6);
        head.Volb(spec.Volb);
        head.Stream("SPAD", 2);
        head.Stream("MSCI", 100);
        metadata(head);
        head.Stream("SPAD", 14);
        head.StreamWithBody("MQDA", DataLength, 0);
        WriteAt(path, at, head);
        const auto n = static_cast<int64_t>(22 + DataLength);
        at += head.Size() + n + n % 4 - 22;
        TFixtureBuilder tail;
        metadata(tail);
        tail.Sfmb();
        tail.Eset(spec.Eset);
        tail.Stream("SPAD", 30);
        WriteAt(path, at, tail);
        at += tail.Size();
    }
    // A last pad stream ends the file on a whole sector, so it is read unbuffered.
    int64_t pad = (512 - at % 512) % 512;
    if (pad < 24)
        pad += 512;
    TFixtureBuilder last;
    last.Stream("SPAD", static_cast<uint64_t>((pad % 4 == 0 ? pad : pad - 1) - 22));
    WriteAt(path, at, last);
    return path;
}

// Hostile shapes: 4 MiB of SSET and ESET blocks 24 bytes apart (a set every 24 bytes),
// and SFIN blocks every 24 bytes inside one set (a file every 24 bytes).
std::string HostileSetsFile()
{
    const std::string path = Folder().Path("sset-eset-every-24-bytes.bak");
    TFixtureBuilder b;
    uint8_t pair[24] = {'S', 'S', 'E', 'T', 0, 0, 0, 0, 12, 0, 0, 0,
                        'E', 'S', 'E', 'T', 0, 0, 0, 0, 12, 0, 0, 0};
    while (b.Size() + 24 <= 4 * 1048576)
        b.Raw(pair);
    b.WriteTo(path);
    return path;
}

std::string HostileFilesFile()
{
    const std::string path = Folder().Path("sfin-every-24-bytes.bak");
    TFixtureBuilder b;
    b.MediaHeader();
    b.Sset();
    b.Mqci();
    for (uint32_t id = 1; b.Size() + 24 <= 4 * 1048576; ++id) {
        uint8_t block[24] = {'S', 'F', 'I', 'N', 24};
        std::memcpy(block + 20, &id, 4);
        b.Raw(block);
    }
    b.WriteTo(path);
    return path;
}

// Pads with an SPAD stream so that the next block begins on a 512-byte boundary, as
// real files place their blocks.
void PadTo512(TFixtureBuilder& b)
{
    int64_t needed = (512 - b.Size() % 512) % 512;
    if (needed < 24)
        needed += 512;
    for (int64_t length = needed - 22; length >= needed - 25; --length) {
        const int64_t n = 22 + length;
        if (n + n % 4 == needed) {
            b.Stream("SPAD", static_cast<uint64_t>(length));
            return;
        }
    }
    b.Zeros(static_cast<size_t>(needed));
}

// 100,000 appended sets shaped as real ones: every block on a 512-byte boundary, two
// database files per set, each set's data a stream of 1 MiB (a hole on disk).
std::string HundredThousandSetsFile()
{
    const std::string path = Folder().Path("100000-sets.bak");
    constexpr uint64_t DataLength = 1048576 - 22;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        std::abort();
    int64_t at = 0;
    auto write = [&](const TFixtureBuilder& b) {
        if (::pwrite(fd, b.Data.data(), b.Data.size(), at) != static_cast<ssize_t>(b.Data.size()))
            std::abort();
        at += b.Size();
    };
    TFixtureBuilder media;
    media.MediaHeader();
    PadTo512(media);
    write(media);
    for (int i = 0; i < 100000; ++i) {
        TBackupSetSpec spec;
        spec.Sset.Name = {u"Log backup " + Utf8ToUtf16(std::to_string(i + 1))};
        spec.Scin.TypeLetter = 'L';
        TFixtureBuilder head;
        head.Sfmb();
        PadTo512(head);
        head.Sset(spec.Sset);
        PadTo512(head);
        head.Volb(spec.Volb);
        PadTo512(head);
        head.Stream("MSCI", 100);
        PadTo512(head);
        head.Mqci();
        head.Scin(spec.Scin);
        for (const auto& [id, name] : spec.Filegroups)
            head.Sfgi(id, name);
        for (const TSfinSpec& file : spec.Files)
            head.Sfin(file);
        PadTo512(head);
        head.StreamWithBody("MQDA", DataLength, 0);
        write(head);
        at += static_cast<int64_t>(DataLength);
        TFixtureBuilder tail;
        tail.Sfmb();
        PadTo512(tail);
        tail.Eset(spec.Eset);
        PadTo512(tail);
        write(tail);
    }
    ::close(fd);
    return path;
}

// The real file system, counting the reads asked of it and the bytes they delivered.
class TCountingFileApi final : public TPlatformFileApi {
public:
    THandle Open(const std::string& path, bool unbuffered, int& error) override
    {
        return FReal->Open(path, unbuffered, error);
    }
    bool Read(THandle handle, void* dest, uint32_t count, uint32_t& delivered, int& error) override
    {
        const bool ok = FReal->Read(handle, dest, count, delivered, error);
        ++ReadCalls;
        BytesRead += delivered;
        return ok;
    }
    bool Seek(THandle handle, int64_t distance, TMoveMethod method, int64_t& newPosition, int& error) override
    {
        return FReal->Seek(handle, distance, method, newPosition, error);
    }
    bool Close(THandle handle, int& error) override { return FReal->Close(handle, error); }
    int64_t FileSize(const std::string& path) override { return FReal->FileSize(path); }
    std::string UniversalPath(const std::string& path) override { return FReal->UniversalPath(path); }
    std::string ErrorText(int error) override { return FReal->ErrorText(error); }

    int64_t ReadCalls = 0;
    int64_t BytesRead = 0;

private:
    std::shared_ptr<TPlatformFileApi> FReal = PosixFileApi();
};

// A small backup followed by zeros up to size: a hole the file system tells, or zeros
// really written.
std::string ZeroTailFile(const std::string& name, int64_t size, bool written)
{
    const std::string path = Folder().Path(name);
    TFixtureBuilder b;
    b.MediaHeader();
    b.BackupSet();
    WriteAt(path, 0, b);
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0)
        std::abort();
    if (written) {
        std::vector<uint8_t> zeros(size_t{1} << 20);
        for (int64_t at = b.Size(); at < size;) {
            const auto n =
                static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(zeros.size()), size - at));
            if (::pwrite(fd, zeros.data(), n, at) != static_cast<ssize_t>(n))
                std::abort();
            at += static_cast<int64_t>(n);
        }
        ::fsync(fd);
    } else if (::ftruncate(fd, size) != 0) {
        std::abort();
    }
    ::close(fd);
    return path;
}

const std::string& File(const std::string& name);

void BM_BytesRead(benchmark::State& state, const std::string& name)
{
    const std::string& path = File(name);
    int64_t calls = 0, bytes = 0;
    size_t sets = 0;
    for (auto _ : state) {
        auto api = std::make_shared<TCountingFileApi>();
        TReadOptions options;
        options.Api = api;
        const TBackupFileReport report = ReadBackupFile(Utf8ToUtf16(path), options);
        sets = report.Sets.size();
        calls = api->ReadCalls;
        bytes = api->BytesRead;
    }
    state.counters["sets"] = static_cast<double>(sets);
    state.counters["read_calls"] = static_cast<double>(calls);
    state.counters["MiB_read"] = static_cast<double>(bytes) / 1048576.0;
}

const std::string& File(const std::string& name)
{
    static std::map<std::string, std::string> files;
    auto it = files.find(name);
    if (it == files.end()) {
        std::string path = name == "sparse"          ? SparseFile()
                           : name == "small"         ? SmallBlocksFile()
                           : name == "files"         ? ManyFilesFile()
                           : name == "scin"          ? OverlappingScinFile()
                           : name == "sfin"          ? FilegroupsThenSfinFile()
                           : name == "sets64"        ? SparseThousandSetsFile()
                           : name == "hostile_sets"  ? HostileSetsFile()
                           : name == "hostile_files" ? HostileFilesFile()
                           : name == "sets100k"      ? HundredThousandSetsFile()
                           : name == "zeros64"       ? ZeroTailFile("zero-tail-64GiB.bak", 64 * GiB, false)
                           : name == "zeros1T"       ? ZeroTailFile("zero-tail-1TiB.bak", 1024 * GiB, false)
                           : name == "zeros1G"       ? ZeroTailFile("zero-tail-dense-1GiB.bak", GiB, true)
                                                     : ThousandSetsFile();
        it = files.emplace(name, std::move(path)).first;
    }
    return it->second;
}

// Resident and peak resident memory of this process, in KiB.
int64_t StatusField(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(std::string(field).size()));
    return -1;
}

// Peak memory of one read above the idle memory of a fresh process: this program run
// again with --peak-memory, so that nothing an earlier read left in the heap hides it.
int64_t PeakAboveIdleKiB(const std::string& path, bool keepLog)
{
    const std::string command =
        "/proc/" + std::to_string(getpid()) + "/exe --peak-memory '" + path + "' " + (keepLog ? "1" : "0");
    FILE* pipe = popen(command.c_str(), "r");
    long long kib = -1;
    if (pipe) {
        if (fscanf(pipe, "%lld", &kib) != 1)
            kib = -1;
        pclose(pipe);
    }
    return kib;
}

int MeasurePeak(const std::string& path, bool keepLog)
{
    // The high-water mark is reset first, so the figure is this read's own.
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
    }
    const int64_t idle = StatusField("VmRSS:");
    {
        // As the tools read: one read, its report kept until the end.
        TReadOptions options;
        options.KeepLog = keepLog;
        const TBackupFileReport report = ReadBackupFile(Utf8ToUtf16(path), options);
        benchmark::DoNotOptimize(report.Sets.size());
    }
    std::printf("%lld\n", static_cast<long long>(StatusField("VmHWM:") - idle));
    return 0;
}

void BM_Walk(benchmark::State& state, const std::string& name, bool keepLog, bool crossZeros = true)
{
    const std::string& path = File(name);
    size_t sets = 0, files = 0, errors = 0;
    for (auto _ : state) {
        TMTFReader reader;
        reader.SetKeepLog(keepLog);
        reader.SetCrossZeros(crossZeros);
        reader.ReadFile(Utf8ToUtf16(path));
        sets = reader.Sets().size();
        files = 0;
        for (const auto& set : reader.Sets())
            files += set.Files.size();
        errors = reader.ErrorLines().size();
    }
    state.counters["sets"] = static_cast<double>(sets);
    state.counters["files"] = static_cast<double>(files);
    state.counters["errors"] = static_cast<double>(errors);
    state.counters["peak_above_idle_MiB"] = static_cast<double>(PeakAboveIdleKiB(path, keepLog)) / 1024.0;
}

BENCHMARK_CAPTURE(BM_Walk, sparse_20GiB, std::string("sparse"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, small_blocks_50000, std::string("small"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, small_blocks_50000_with_log, std::string("small"), true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, files_32767, std::string("files"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, files_32767_with_log, std::string("files"), true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, sets_1000, std::string("sets"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, sets_1000_with_log, std::string("sets"), true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, sets_1000_sparse_64GiB, std::string("sets64"), false)
    ->Unit(benchmark::kMillisecond);
// Bytes read and read calls for the 1,000-set file of 64 GiB.
BENCHMARK_CAPTURE(BM_BytesRead, sets_1000_sparse_64GiB, std::string("sets64"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BytesRead, sets_1000, std::string("sets"))->Unit(benchmark::kMillisecond);
// Peak memory of hostile shapes and of the largest real-shaped folder of sets.
BENCHMARK_CAPTURE(BM_Walk, hostile_sset_eset_every_24_bytes, std::string("hostile_sets"), false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, hostile_sfin_every_24_bytes, std::string("hostile_files"), false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, sets_100000_real_shaped, std::string("sets100k"), false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
// A small backup followed by zeros: sparse tails of 64 GiB and 1 TiB, and 1 GiB of
// zeros really written, read with the zeros crossed at once and, for the written ones,
// by every empty step of 28 bytes as the walk did before.
BENCHMARK_CAPTURE(BM_Walk, zero_tail_sparse_64GiB, std::string("zeros64"), false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, zero_tail_sparse_1TiB, std::string("zeros1T"), false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, zero_tail_sparse_1TiB_with_log, std::string("zeros1T"), true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, zero_tail_dense_1GiB, std::string("zeros1G"), false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, zero_tail_dense_1GiB_every_step, std::string("zeros1G"), false, false)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_Walk, damaged_scin_every_8_bytes, std::string("scin"), false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Walk, damaged_filegroups_then_sfin, std::string("sfin"), false)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--peak-memory")
        return MeasurePeak(argv[2], std::string(argv[3]) == "1");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
