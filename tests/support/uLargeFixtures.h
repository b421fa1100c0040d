#pragma once
// The large backups the benchmarks share: one set of 32,767 files (the most a set can
// hold) and 1,000 appended log backups.

#include <string>

// Writes the file at path and returns path.
std::string WriteManyFilesBackup(const std::string& path);
std::string WriteThousandSetsBackup(const std::string& path);
