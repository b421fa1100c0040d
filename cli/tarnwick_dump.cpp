// tarnwick-dump: the metadata of SQL Server backup files as text, for scripts and for
// servers without a display.

#include "uDumpJson.h"
#include "uDumpText.h"
#include "uTextConvert.h"
#include "u_MTFReader.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

namespace {

constexpr int ExitRead = 0;
constexpr int ExitNotOpened = 1;
constexpr int ExitUsage = 2;

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Prints the metadata of SQL Server backup files (.bak, .dmp): every backup set's header and "
                 "its database files.",
                 "tarnwick-dump"};
    app.footer("Exit status: 0 when every file was read (problems met inside a file are part of the output, "
               "not a failure), 1 when a file could not be opened, 2 on a usage error.\n"
               "The JSON form has one document per file, {\"file\", \"sets\": [{\"header\", \"files\"}], "
               "\"errors\"}; several files give an array of documents.");
    bool json = false;
    bool log = false;
    std::vector<std::string> files;
    app.add_flag("--json", json, "Print JSON instead of the readable tree.");
    app.add_flag("--log", log, "Write the reader's log lines to standard error.");
    app.add_option("FILE", files, "Backup files to read.")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return ExitUsage;
    }

    int status = ExitRead;
    // Each file is written as soon as it is read, and nothing of it is kept afterwards.
    TJsonWriter writer(std::cout);
    const bool several = files.size() > 1;
    if (json && several)
        writer.BeginArray();
    for (const std::string& file : files) {
        TReadOptions options;
        options.KeepLog = log;
        const TBackupFileReport report = ReadBackupFile(Utf8ToUtf16(file), options);
        if (log)
            for (const std::u16string& line : report.LogLines)
                std::cerr << Utf16ToUtf8(line) << '\n';
        if (!report.Opened)
            status = ExitNotOpened;
        if (json) {
            WriteBackupFileJson(writer, file, report);
            continue;
        }
        // The tree as the window shows it; several files are told apart by their names.
        if (several)
            std::cout << (&file == &files.front() ? "" : "\n") << file << '\n';
        WriteText(std::cout, report.Sets);
        for (const std::u16string& line : report.ErrorLines)
            std::cerr << file << ": " << Utf16ToUtf8(line) << '\n';
    }
    if (json) {
        if (several)
            writer.EndArray();
        writer.EndDocument();
    }
    return status;
}
