#pragma once
// What must hold after the reader has walked any bytes at all: the fuzz target and the
// corpus replay both read every input through CheckRead and stop at the first broken
// promise.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The largest single allocation a read may make: the block reader's 2 MiB buffer.
inline constexpr size_t LargestAllowedAllocation = 2097152;

// Reads the bytes as a backup file and returns one line per broken promise; empty when
// every check held.
[[nodiscard]] std::vector<std::string> CheckRead(const uint8_t* data, size_t size);

// Whether a line is one of the texts the reader and its file layer write into the
// error list, with its numbers, names and stamps filled in.
[[nodiscard]] bool IsReaderErrorLine(std::u16string_view line);
