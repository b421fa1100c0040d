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

// What all the allocations of one read may add up to, freed or not: the buffers, and
// for every byte of the file a bounded amount of records, text and working copies. A
// walk that began a record every few bytes and copied it whole, or rebuilt a growing
// list per step, would exceed it.
inline constexpr size_t AllowedTotalBase = 8u << 20;
inline constexpr size_t AllowedTotalPerByte = 96;

// Reads the bytes as a backup file and returns one line per broken promise; empty when
// every check held.
[[nodiscard]] std::vector<std::string> CheckRead(const uint8_t* data, size_t size);

// Whether a line is one of the texts the reader and its file layer write into the
// error list, with its numbers, names and stamps filled in.
[[nodiscard]] bool IsReaderErrorLine(std::u16string_view line);
