#include "uRestorePlanFiles.h"

#include "uTextConvert.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

TPlanInputs FindPlanInputs(const std::vector<std::string>& inputs)
{
    TPlanInputs found;
    for (const std::string& input : inputs) {
        std::error_code error;
        const fs::file_status status = fs::status(input, error);
        if (error || !fs::exists(status)) {
            found.Problems.push_back({input, error ? error.message() : "No such file or directory"});
            continue;
        }
        if (!fs::is_directory(status)) {
            found.Files.push_back(input);
            continue;
        }
        std::vector<std::string> files;
        fs::recursive_directory_iterator it(input, fs::directory_options::skip_permission_denied, error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            std::error_code kindError;
            if (it->is_regular_file(kindError))
                files.push_back(it->path().string());
        }
        if (error)
            found.Problems.push_back({input, error.message()});
        std::sort(files.begin(), files.end());
        found.Files.insert(found.Files.end(), files.begin(), files.end());
    }
    return found;
}

std::vector<TPlanFile> ReadPlanFiles(const std::vector<std::string>& files, unsigned threads,
                                     const TPlanReadCallback& onRead)
{
    std::vector<TPlanFile> read(files.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex progress;
    size_t done = 0;
    // A failure on a worker (memory running out, above all) must reach the caller as it
    // would on one thread, not end the program from inside the pool.
    std::exception_ptr failure;
    auto worker = [&] {
        try {
            for (size_t i = next++; i < files.size(); i = next++) {
                read[i].Path = files[i];
                if (stop) {
                    read[i].Report.Cancelled = true;
                    continue;
                }
                read[i].Report = ReadBackupFile(FileNameToUtf16(files[i]));
                const std::lock_guard lock(progress);
                ++done;
                if (onRead && !onRead(read[i], done, files.size()))
                    stop = true;
            }
        } catch (...) {
            const std::lock_guard lock(progress);
            if (!failure)
                failure = std::current_exception();
            stop = true;
        }
    };
    const unsigned count = std::clamp<unsigned>(threads, 1, std::max<size_t>(1, files.size()));
    std::vector<std::jthread> pool;
    for (unsigned t = 1; t < count; ++t)
        pool.emplace_back(worker);
    worker();
    pool.clear();  // every reader done before the reports are handed out
    if (failure)
        std::rethrow_exception(failure);
    return read;
}
