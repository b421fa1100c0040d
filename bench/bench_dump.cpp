// How long tarnwick-dump takes, and how much memory it needs at its peak, to print a
// backup set with 32,767 database files (the most a database can have) as JSON and as
// the readable tree. The tool runs as a user runs it, its output going to /dev/null, so
// the figures include the start of the program, the read and the writing.
//
//   build/dev/bench/tarnwick_bench_dump [--benchmark_filter=...]
//   TARNWICK_DUMP_BINARY=/path/to/another/tarnwick-dump build/dev/bench/tarnwick_bench_dump
//
// The second form measures another build of the tool (a release build, or an older one
// to compare with) on the same generated file.

#include "uFixtureBuilder.h"
#include "uLargeFixtures.h"
#include "uTextConvert.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

const TTempDir& Folder()
{
    static TTempDir dir;
    return dir;
}

// Written by a child process: the kernel counts the memory this process has at the
// time it starts the tool towards the tool's peak, so the bench stays small.
const std::string& ManyFilesFile()
{
    static const std::string path = [] {
        const std::string file = Folder().Path("32767-files.bak");
        const pid_t writer = fork();
        if (writer != 0) {
            int status = 0;
            if (writer < 0 || waitpid(writer, &status, 0) != writer || !WIFEXITED(status) ||
                WEXITSTATUS(status) != 0)
                std::abort();
            return file;
        }
        WriteManyFilesBackup(file);
        _exit(0);
    }();
    return path;
}

std::string DumpBinary()
{
    const char* other = std::getenv("TARNWICK_DUMP_BINARY");
    return other && *other ? other : TARNWICK_DUMP;
}

struct TChildRun {
    bool Ok = false;
    double Seconds = 0;
    long PeakRssKiB = 0;
};

// One run of the tool with its standard output on /dev/null; the peak resident memory
// is the child's own, from the kernel's accounting of the process that ended.
TChildRun RunDump(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    TChildRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid) {
            run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            run.PeakRssKiB = usage.ru_maxrss;
            run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

void BM_Dump(benchmark::State& state, bool json)
{
    std::vector<std::string> arguments{DumpBinary()};
    if (json)
        arguments.push_back("--json");
    arguments.push_back(ManyFilesFile());
    long peak = 0;
    for (auto _ : state) {
        const TChildRun run = RunDump(arguments);
        if (!run.Ok) {
            state.SkipWithError("tarnwick-dump did not run or failed");
            break;
        }
        state.SetIterationTime(run.Seconds);
        peak = std::max(peak, run.PeakRssKiB);
    }
    state.counters["peak_RSS_MB"] = static_cast<double>(peak) * 1024.0 / 1e6;
}

BENCHMARK_CAPTURE(BM_Dump, json_32767_files, true)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dump, text_32767_files, false)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
