// The restore planner on a generated year of one database's backups: a full every
// Sunday striped over four files, a differential every other day, a log backup every 15
// minutes, in a folder tree of about 35,000 files. Runs tarnwick-plan on the tree as a
// user would and prints the wall time and the peak resident set of that run.
//
//   bench_plan [--keep DIR] [--days N] [-- tool options]
//
// Without --keep the tree goes to a temporary folder that is removed afterwards; with it
// the tree is written to DIR once and reused by later runs.

#include "uDateTime.h"
#include "uFixtureBuilder.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Monotonic LSNs with B well below 2^32: slot k of the year is 40 * 10^15 + k * 10^8 + 1.
uint64_t LsnAt(uint64_t k)
{
    return 40'000'000'000'000'000ULL + k * 100'000'000ULL + 1;
}

TMTFDateParts SlotTime(int slot)
{
    // Slot 0 is 3 January 2021 00:00, a Sunday; each slot is 15 minutes.
    static const TDateTime start = ExpectedDate({2021, 1, 3, 0, 0, 0});
    const TDateTimeParts p = DecodeDateTime(start + slot / 96.0);
    return {p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second};
}

std::string Two(int n)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

size_t Generate(const fs::path& root, int days)
{
    size_t count = 0;
    auto write = [&](const fs::path& path, const TPlanSetSpec& spec, int32_t stripes, int32_t sequence) {
        fs::create_directories(path.parent_path());
        TFixtureBuilder b;
        b.BackupFile({PlanSet(spec)},
                     Stripe(stripes, sequence, NumberedGuid(0x77, static_cast<uint32_t>(count))));
        b.WriteTo(path.string());
        ++count;
    };
    TPlanSetSpec weekFull;
    for (int day = 0; day < days; ++day) {
        const TMTFDateParts date = SlotTime(day * 96);
        const std::string month = std::to_string(date.Year) + "-" + Two(date.Month);
        const std::string dayName = month + "-" + Two(date.Day);
        // The data backup at 01:00, between the log backups of slots 3 and 4.
        const int dataSlot = day * 96 + 4;
        TPlanSetSpec data;
        // 52 weekly fulls: the year's 53rd Sunday gets a differential like the days before.
        data.Type = day % 7 == 0 && day < 364 ? 'D' : 'I';
        data.BackupSetGUID = NumberedGuid(0x51, static_cast<uint32_t>(day + 1));
        data.FirstLSN = LsnAt(uint64_t(dataSlot) * 10 - 7);
        data.LastLSN = LsnAt(uint64_t(dataSlot) * 10 - 5);
        data.CheckpointLSN = data.FirstLSN;
        data.Start = SlotTime(dataSlot);
        data.End = SlotTime(dataSlot);
        if (data.Type == 'D') {
            weekFull = data;
            for (int s = 1; s <= 4; ++s)
                write(root / "full" / month / ("Sales_FULL_" + dayName + "_" + std::to_string(s) + ".bak"),
                      data, 4, s);
        } else {
            data.DifferentialBaseGUID = weekFull.BackupSetGUID;
            data.DatabaseBackupLSN = weekFull.CheckpointLSN;
            write(root / "diff" / month / ("Sales_DIFF_" + dayName + ".bak"), data, 1, 1);
        }
        for (int q = 0; q < 96; ++q) {
            const int slot = day * 96 + q;
            TPlanSetSpec log;
            log.Type = 'L';
            log.BackupSetGUID = NumberedGuid(0x52, static_cast<uint32_t>(slot + 1));
            log.FirstLSN = LsnAt(uint64_t(slot) * 10);
            log.LastLSN = LsnAt(uint64_t(slot + 1) * 10);
            log.CheckpointLSN = log.FirstLSN;
            log.Start = SlotTime(slot + 1);
            log.End = SlotTime(slot + 1);
            log.Files = {LogFileSpec()};
            // Named by the time the backup was taken, as maintenance jobs name them.
            const std::string logDay =
                std::to_string(log.End.Year) + "-" + Two(log.End.Month) + "-" + Two(log.End.Day);
            write(root / "log" / logDay /
                      ("Sales_LOG_" + logDay + "_" + Two(log.End.Hour) + Two(log.End.Minute) + ".trn"),
                  log, 1, 1);
        }
    }
    return count;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string keep;
    int days = 365;
    std::vector<std::string> toolArguments = {TARNWICK_PLAN, "--json"};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--keep" && i + 1 < argc)
            keep = argv[++i];
        else if (a == "--days" && i + 1 < argc)
            days = std::max(1, std::atoi(argv[++i]));
        else if (a == "--") {
            toolArguments.resize(1);
            toolArguments.insert(toolArguments.end(), argv + i + 1, argv + argc);
            break;
        } else {
            std::fprintf(stderr, "usage: bench_plan [--keep DIR] [--days N] [-- tool options]\n");
            return 2;
        }
    }
    std::optional<TTempDir> temporary;
    if (keep.empty())
        temporary.emplace();
    const fs::path root = keep.empty() ? fs::path(temporary->Dir()) / "backups" : fs::path(keep);
    // The mark of a finished tree lies beside it, so that the tool does not meet it.
    const fs::path done = root.string() + ".generated";
    const auto generateStart = std::chrono::steady_clock::now();
    if (!fs::exists(done)) {
        const size_t files = Generate(root, days);
        std::FILE* marker = std::fopen(done.c_str(), "w");
        if (marker)
            std::fclose(marker);
        std::printf("generated %zu files in %.1f s\n", files,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - generateStart).count());
    }
    toolArguments.push_back(root.string());

    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        // The plan itself is not the figure: it goes where it costs nothing.
        std::FILE* sink = std::freopen("/dev/null", "w", stdout);
        (void)sink;
        std::vector<char*> args;
        for (std::string& a : toolArguments)
            args.push_back(a.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0) {
        std::perror("bench_plan");
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "tarnwick-plan on %s: exit status %d, %.2f s wall, %.2f s user, %.2f s system, peak RSS %.1f MB\n",
        root.c_str(), WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds,
        usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
        usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6, usage.ru_maxrss / 1024.0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
