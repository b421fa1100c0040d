#pragma once
// Path functions of the file reader.

#include <cstdint>
#include <string>

// Size in bytes of the file at path (the system's name bytes), 0 when there is none; a
// block device gives its capacity. A path that names nothing is taken as a name search
// in its folder: "*" and "?" in its last component are wildcards, and the size is that
// of the first entry that matches.
[[nodiscard]] int64_t FileSizeOf(const std::string& path);

// Absolute, normalised form of path (symbolic links are not resolved). A file on a
// network file system is named by its network source from the mount table, such as
// "//server/share/dir/x.bak", so callers can tell it lies on a share. A path that
// begins with two slashes or two backslashes is returned as it is.
[[nodiscard]] std::string UniversalPathOf(const std::string& path);

// True for names that begin with two slashes or two backslashes: a network name.
[[nodiscard]] bool IsNetworkName(const std::string& path);
