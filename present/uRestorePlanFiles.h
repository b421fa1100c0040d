#pragma once
// The inputs of restore planning: files and folders named by the user, searched and read
// in parallel. A DBA's folder holds tens of thousands of small log backups; each read
// waits mostly on the file system, so one reader per core keeps the disk busy.

#include "uRestorePlan.h"

#include <functional>
#include <string>
#include <vector>

struct TPlanInputs {
    // Every file named or found below a named folder, in the order named, a folder's
    // files sorted by path.
    std::vector<std::string> Files;
    // Names that are neither a file nor a folder, or a folder that could not be searched,
    // with the reason.
    std::vector<TPlanSkipped> Problems;
};

[[nodiscard]] TPlanInputs FindPlanInputs(const std::vector<std::string>& inputs);

// Reads every file with `threads` readers (at least one). onRead(file, done, total) is
// called with each file as soon as it is read, one call at a time, so that a window can
// show its sets while the rest are still being read; answering false stops the reading,
// and the files not read yet get a report with Cancelled set.
using TPlanReadCallback = std::function<bool(const TPlanFile& file, size_t done, size_t total)>;
[[nodiscard]] std::vector<TPlanFile> ReadPlanFiles(const std::vector<std::string>& files, unsigned threads,
                                                   const TPlanReadCallback& onRead = {});
