// tarnwick-dump: the metadata of SQL Server backup files as text, for scripts and for
// servers without a display.

#include "uDumpJson.h"
#include "uDumpText.h"
#include "uLocaleFormat.h"
#include "uTextConvert.h"
#include "u_MTFReader.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <new>
#include <streambuf>

namespace {

constexpr int ExitRead = 0;
constexpr int ExitNotOpened = 1;
constexpr int ExitUsage = 2;
constexpr int ExitWriteFailed = 3;
constexpr int ExitOutOfMemory = 4;

// Standard output written with write(2) and nothing between: the dumps hand it pieces
// of 64 KiB already, and the error number of a failed write is kept, so that a full disk
// can be named and told from a reader that closed the pipe.
class TStandardOutput final : public std::streambuf {
public:
    [[nodiscard]] int Error() const { return FError; }

    // The last chance for a late failure (a file system that reports it on close).
    bool Close()
    {
        if (FError == 0 && ::close(STDOUT_FILENO) != 0 && errno != EINTR)
            FError = errno;
        return FError == 0;
    }

protected:
    std::streamsize xsputn(const char* data, std::streamsize count) override
    {
        return WriteAll(data, static_cast<size_t>(count)) ? count : 0;
    }

    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return WriteAll(&byte, 1) ? c : traits_type::eof();
    }

    int sync() override { return FError == 0 ? 0 : -1; }

private:
    bool WriteAll(const char* data, size_t count)
    {
        while (FError == 0 && count > 0) {
            const ssize_t written = ::write(STDOUT_FILENO, data, count);
            if (written < 0) {
                if (errno != EINTR)
                    FError = errno;
                continue;
            }
            data += written;
            count -= static_cast<size_t>(written);
        }
        return FError == 0;
    }

    int FError = 0;
};

std::string Describe(int error)
{
    return std::strerror(error);
}

// The statuses and the output forms, for --help.
constexpr const char* Footer =
    "Exit status:\n"
    "  0  every file was read (problems met inside a file are part of the output, not a failure)\n"
    "  1  a file could not be opened\n"
    "  2  usage error\n"
    "  3  standard output could not be written (a full disk, for example)\n"
    "  4  not enough memory\n"
    "A reader that stops early (tarnwick-dump x.bak | head) ends the program quietly, with the\n"
    "status of the files read until then.\n"
    "\n"
    "The readable tree goes to standard output; each file's error lines, what a file that is not\n"
    "a backup looks like, and its warnings go to standard error as \"tarnwick-dump: FILE: TEXT\".\n"
    "The JSON form has one document per file, {\"file\", \"sets\": [{\"header\", \"files\"}], \"errors\",\n"
    "\"warnings\"}; several files give an array of documents.\n"
    "Dates and numbers of the readable tree follow the locale of LC_ALL, LC_TIME or LANG.";

int Run(int argc, char** argv, std::string& currentFile)
{
    CLI::App app{"Prints the metadata of SQL Server backup files (.bak, .dmp): every backup set's header and "
                 "its database files.",
                 "tarnwick-dump"};
    app.footer(Footer);
    app.set_version_flag("--version", std::string("tarnwick-dump ") + TARNWICK_VERSION,
                         "Print the program's version and exit.");
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("tarnwick-dump: ") + e.what() + "\nRun with --help for more information.\n";
    });
    bool json = false;
    bool log = false;
    std::vector<std::string> files;
    app.add_flag("--json", json, "Print JSON instead of the readable tree.");
    app.add_flag("--log", log, "Write the reader's log lines to standard error.");
    app.add_option("FILE", files, "Backup files to read.")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return ExitUsage;
    }

    SetLocaleFormat(MakeIcuLocaleFormat(LocaleNameFromEnvironment()));
    TStandardOutput output;
    std::ostream out(&output);
    // A closed pipe shows as EPIPE from write(), not as a signal that ends the program
    // with a message from the shell.
    std::signal(SIGPIPE, SIG_IGN);

    int status = ExitRead;
    // Each file is written as soon as it is read, and nothing of it is kept afterwards.
    TJsonWriter writer(out);
    const bool several = files.size() > 1;
    if (json && several)
        writer.BeginArray();
    for (const std::string& file : files) {
        currentFile = file;
        TReadOptions options;
        options.KeepLog = log;
        const TBackupFileReport report = ReadBackupFile(FileNameToUtf16(file), options);
        if (log)
            for (const std::u16string& line : report.LogLines)
                std::cerr << VisibleText(Utf16ToUtf8(line)) << '\n';
        if (!report.Opened)
            status = ExitNotOpened;
        if (json) {
            WriteBackupFileJson(writer, file, report);
            // The document holds the reason too, but a status of 1 should not need a
            // JSON reader to learn which file and why.
            if (!report.Opened)
                WriteProblems(std::cerr, file, report);
        } else {
            // The tree as the window shows it; several files are told apart by their names.
            if (several)
                out << (&file == &files.front() ? "" : "\n") << VisibleText(file) << '\n';
            WriteText(out, report.Sets);
            WriteProblems(std::cerr, file, report);
        }
        if (output.Error() != 0)
            break;
    }
    currentFile.clear();
    if (json && output.Error() == 0) {
        if (several)
            writer.EndArray();
        writer.EndDocument();
    }
    out.flush();
    if (!output.Close()) {
        if (output.Error() == EPIPE)
            return status;
        std::cerr << "tarnwick-dump: cannot write standard output: " << Describe(output.Error()) << '\n';
        return ExitWriteFailed;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string currentFile;
    try {
        return Run(argc, argv, currentFile);
    } catch (const std::bad_alloc&) {
        // A file whose metadata needs more memory than the system grants: say so instead
        // of aborting with the runtime's message.
        if (currentFile.empty())
            std::cerr << "tarnwick-dump: not enough memory\n";
        else
            std::cerr << "tarnwick-dump: " << VisibleText(currentFile)
                      << ": not enough memory to read the file\n";
        return ExitOutOfMemory;
    }
}
