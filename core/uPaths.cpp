#include "uPaths.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// File system types whose files lie on another machine.
bool IsNetworkFileSystem(long type)
{
    switch (static_cast<unsigned long>(type) & 0xFFFFFFFFUL) {
    case 0x517BUL:      // smbfs
    case 0xFE534D42UL:  // smb2
    case 0xFF534D42UL:  // cifs
    case 0x6969UL:      // nfs
    case 0x5346414FUL:  // afs
    case 0x73757245UL:  // coda
    case 0x564CUL:      // ncp
        return true;
    default:
        return false;
    }
}

std::string Absolute(const std::string& path)
{
    std::filesystem::path p(path);
    if (p.is_relative()) {
        std::error_code error;
        p = std::filesystem::current_path(error) / p;
    }
    std::string normal = p.lexically_normal().string();
    if (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

// Undoes the octal escapes the mount table uses for blanks and tabs.
std::string Unescape(const std::string& field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string octal = field.substr(i + 1, 3);
            if (octal.size() == 3 && octal.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(octal, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// The network name of a path on a mounted share: the mount's source with the rest of
// the path behind it, in the "//server/share" form.
std::string NetworkNameOf(const std::string& path)
{
    std::ifstream table("/proc/self/mountinfo");
    std::string line, bestPoint, bestSource;
    while (std::getline(table, line)) {
        // mount-id parent major:minor root mount-point options ... - fstype source super-options
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos)
            continue;
        std::istringstream tail(line.substr(dash + 3));
        std::string type, source;
        tail >> type >> source;
        point = Unescape(point);
        const bool covers = point == "/" || path == point ||
                            (path.size() > point.size() && path.compare(0, point.size(), point) == 0 &&
                             path[point.size()] == '/');
        if (covers && point.size() >= bestPoint.size()) {
            bestPoint = point;
            bestSource = Unescape(source);
        }
    }
    if (bestSource.empty())
        return {};
    std::string share = bestSource;
    if (share.rfind("//", 0) != 0) {
        // NFS names its source "server:/export".
        const size_t colon = share.find(':');
        if (colon == std::string::npos)
            return {};
        share =
            "//" + share.substr(0, colon) + (share[colon + 1] == '/' ? "" : "/") + share.substr(colon + 1);
    }
    while (share.size() > 2 && share.back() == '/')
        share.pop_back();
    std::string rest = bestPoint == "/" ? path : path.substr(bestPoint.size());
    if (!rest.empty() && rest.front() != '/')
        rest.insert(0, "/");
    return share + rest;
}

}  // namespace

bool IsNetworkName(const std::string& path)
{
    return path.size() >= 2 && ((path[0] == '/' && path[1] == '/') || (path[0] == '\\' && path[1] == '\\'));
}

namespace {

// The size of what info describes: a regular file's length, a block device's capacity
// (which the inode does not hold), 0 for anything else.
int64_t SizeOf(const std::string& path, const struct stat& info)
{
    if (S_ISREG(info.st_mode))
        return static_cast<int64_t>(info.st_size);
    if (!S_ISBLK(info.st_mode))
        return 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 0;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    return end > 0 ? static_cast<int64_t>(end) : 0;
}

}  // namespace

int64_t FileSizeOf(const std::string& path)
{
    struct stat info {};
    // "*", "?" and "[" are ordinary characters in names here: a file that exists under
    // the name as given is that file, and only otherwise is the name a pattern.
    if (stat(path.c_str(), &info) == 0)
        return SizeOf(path, info);
    // A name search looks into one folder: wildcards count in the last component only,
    // and the folders before it are taken as they are written. Expanding them would
    // walk whole trees for a name that merely does not exist.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.find_first_of("*?") == std::string::npos)
        return 0;
    std::string pattern;
    for (char c : name) {
        // Only "*" and "?" are wildcards of a name search.
        if (c == '[' || c == ']' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    DIR* entries = opendir(folder.c_str());
    if (!entries)
        return 0;
    int64_t size = 0;
    // The first match decides, as a name search reports its first find; names that begin
    // with a dot match only a pattern that spells the dot.
    while (const dirent* entry = readdir(entries)) {
        if (fnmatch(pattern.c_str(), entry->d_name, FNM_PERIOD) != 0)
            continue;
        const std::string found =
            (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + entry->d_name;
        if (stat(found.c_str(), &info) == 0)
            size = SizeOf(found, info);
        break;
    }
    closedir(entries);
    return size;
}

std::string UniversalPathOf(const std::string& path)
{
    if (IsNetworkName(path))
        return path;
    const std::string full = Absolute(path);
    struct statfs info {};
    if (statfs(full.c_str(), &info) != 0 || !IsNetworkFileSystem(info.f_type))
        return full;
    const std::string network = NetworkNameOf(full);
    return network.empty() ? full : network;
}
