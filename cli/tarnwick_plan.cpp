// tarnwick-plan: from a pile of backup files to each database's restore sequence and a
// T-SQL script, read offline from the headers.

#include "uPlanJson.h"
#include "uRestorePlan.h"
#include "uRestorePlanFiles.h"
#include "uRestorePlanText.h"
#include "uTextConvert.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <new>
#include <thread>

#ifndef TARNWICK_VERSION
#error "TARNWICK_VERSION must be defined by the build"
#endif

namespace {

constexpr int ExitRead = 0;
constexpr int ExitNothingRead = 1;
constexpr int ExitUsage = 2;

void Complain(const std::string& file, const std::string& reason)
{
    std::cerr << "tarnwick-plan: " << file << ": " << reason << '\n';
}

}  // namespace

int Run(int argc, char** argv)
{
    // A reader that closes the pipe early (head, a pager) ends the output, not the run.
    std::signal(SIGPIPE, SIG_IGN);

    CLI::App app{
        "Plans the restore of every database found in SQL Server backup files, offline: which backups "
        "restore it, from which files, in which order, and what is missing. Folders are searched "
        "recursively; a file is a backup by its content.",
        "tarnwick-plan"};
    app.footer(
        "Exit status: 0 when the inputs were read (an incomplete plan is a finding, not a failure), "
        "1 when nothing could be read, 2 on a usage error, 4 when memory ran out.\n"
        "Output: --text (default) for people, --json (documented in docs/restore-plan-json.md) or --sql, "
        "a T-SQL script with one batch per step.");
    app.set_version_flag("--version", std::string("tarnwick-plan ") + TARNWICK_VERSION);
    bool text = false, json = false, sql = false, replace = false;
    std::string at, database, as, dataDir, logDir, serverDir;
    int targetVersion = 0;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::string> inputs;
    auto* textFlag = app.add_flag("--text", text, "Print the plans as text (the default).");
    auto* jsonFlag = app.add_flag("--json", json, "Print the plans as JSON.");
    auto* sqlFlag = app.add_flag("--sql", sql, "Print a T-SQL restore script for sqlcmd or a query window.");
    textFlag->excludes(jsonFlag, sqlFlag);
    jsonFlag->excludes(sqlFlag);
    app.add_option(
        "--at", at,
        "Plan a point in time, YYYY-MM-DDTHH:MM:SS on the clock of the backups' dates, instead of the "
        "latest point.");
    auto* databaseOption = app.add_option("--database", database, "Plan only the databases of this name.");
    app.add_option("--as", as, "Restore the database under this name in the script.")->needs(databaseOption);
    app.add_option("--data-dir", dataDir,
                   "Move the data files of the database to this folder in the script.");
    app.add_option("--log-dir", logDir, "Move the log files of the database to this folder in the script.");
    app.add_option(
        "--server-dir", serverDir,
        "The folder the server sees the backup files in: the script's paths use it with each file's "
        "own name.");
    app.add_flag("--replace", replace,
                 "Add REPLACE to the script's first restore (overwrites an existing database).");
    app.add_option(
           "--target-version", targetVersion,
           "The major version of the server to restore on (e.g. 15): backups of a newer one are reported.")
        ->check(CLI::Range(1, 1000));
    app.add_option("-j,--jobs", jobs, "Files read at once (default: one per core).")
        ->check(CLI::Range(1, 256));
    app.add_option("PATH", inputs, "Backup files and folders to search.")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return ExitUsage;
    }

    TPlanOptions options;
    if (!at.empty()) {
        options.At = ParsePlanTime(at);
        if (!options.At) {
            std::cerr << "tarnwick-plan: --at: not a time of the form YYYY-MM-DDTHH:MM:SS: " << at << '\n';
            return ExitUsage;
        }
    }
    if (!database.empty())
        options.Database = Utf8ToUtf16(database);
    if (targetVersion > 0)
        options.TargetVersion = targetVersion;

    const TPlanInputs found = FindPlanInputs(inputs);
    for (const TPlanSkipped& problem : found.Problems)
        Complain(problem.File, problem.Reason);

    // Progress only for a person watching: a redirected standard error gets none.
    const bool showProgress = isatty(STDERR_FILENO) == 1;
    auto lastShown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    auto onProgress = [&](const TPlanFile&, size_t done, size_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (done == total || now - lastShown >= std::chrono::milliseconds(100)) {
            lastShown = now;
            std::cerr << "\rtarnwick-plan: read " << done << " of " << total << " files" << std::flush;
        }
        return true;
    };
    const std::vector<TPlanFile> files =
        ReadPlanFiles(found.Files, jobs, showProgress ? TPlanReadCallback(onProgress) : nullptr);
    if (showProgress && !files.empty())
        std::cerr << "\r\033[K" << std::flush;

    bool anyRead = false;
    for (const TPlanFile& file : files) {
        if (file.Report.Opened)
            anyRead = true;
        else
            Complain(file.Path, file.Report.ErrorLines.empty() ? std::string("could not be opened")
                                                               : Utf16ToUtf8(file.Report.ErrorLines.front()));
    }

    TRestorePlans plans = PlanRestores(files, options);
    plans.Skipped.insert(plans.Skipped.begin(), found.Problems.begin(), found.Problems.end());
    if (json) {
        std::cout << RestorePlansToJson(plans).dump(2, ' ', false,
                                                    nlohmann::ordered_json::error_handler_t::replace)
                  << '\n';
    } else if (sql) {
        TScriptOptions script;
        if (!as.empty())
            script.As = Utf8ToUtf16(as);
        script.DataDir = dataDir;
        script.LogDir = logDir;
        script.ServerDir = serverDir;
        script.Replace = replace;
        std::cout << RestoreScript(plans, script);
    } else {
        std::cout << RestorePlansText(plans);
    }
    std::cout.flush();
    return anyRead ? ExitRead : ExitNothingRead;
}

int main(int argc, char** argv)
{
    // Reading tens of thousands of reports can exhaust memory; that is said, not aborted.
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("tarnwick-plan: not enough memory to plan the restores\n", stderr);
        return 4;
    }
}
