#include "uIniFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool SameText(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Writes all of text, resuming after short writes and interruptions.
bool WriteAllTo(const TIniFileSystemCalls& calls, int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = calls.Write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// The folder that holds path, for the new file and for making the rename durable.
std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

TIniFileSystemCalls TIniFileSystemCalls::System()
{
    return {[](int fd, const void* data, size_t size) { return ::write(fd, data, size); },
            [](int fd) { return ::fsync(fd); },
            [](const char* from, const char* to) { return ::rename(from, to); }};
}

TIniFile::TIniFile(std::string path, TIniFileSystemCalls calls)
    : FPath(std::move(path)), FCalls(std::move(calls))
{
    Load();
}

void TIniFile::Load()
{
    FSections.assign(1, TSection{});
    std::ifstream in(FPath, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
            FSections.push_back({line, Trim(trimmed.substr(1, trimmed.size() - 2)), {}});
            continue;
        }
        const auto equals = line.find('=');
        const std::string key = equals == std::string::npos ? std::string() : Trim(line.substr(0, equals));
        if (key.empty() || trimmed.front() == ';') {
            FSections.back().Lines.push_back({line, {}, {}});
            continue;
        }
        FSections.back().Lines.push_back({line, key, line.substr(equals + 1)});
    }
}

bool TIniFile::Save() const
{
    std::ostringstream text;
    for (const TSection& section : FSections) {
        if (!section.Header.empty())
            text << section.Header << '\n';
        for (const TLine& line : section.Lines)
            text << (line.Key.empty() ? line.Text : line.Key + "=" + line.Value) << '\n';
    }
    // The new file takes the old one's permissions; a first file is the user's alone.
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat old {};
    if (::stat(FPath.c_str(), &old) == 0)
        mode = old.st_mode & 0777;
    std::string temporary = FPath + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    const bool written =
        ::fchmod(fd, mode) == 0 && WriteAllTo(FCalls, fd, text.str()) && FCalls.Sync(fd) == 0;
    if (::close(fd) != 0 || !written || FCalls.Rename(temporary.c_str(), FPath.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder; the new text is already there,
    // so a failure here loses nothing that a later write would not repeat.
    const int folder = ::open(FolderOf(FPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

TIniFile::TSection* TIniFile::FindSection(const std::string& name)
{
    // FSections[0] holds the lines before the first section header.
    for (size_t i = 1; i < FSections.size(); ++i)
        if (SameText(FSections[i].Name, name))
            return &FSections[i];
    return nullptr;
}

const TIniFile::TSection* TIniFile::FindSection(const std::string& name) const
{
    return const_cast<TIniFile*>(this)->FindSection(name);
}

TIniFile::TLine* TIniFile::FindKey(TSection& section, const std::string& key)
{
    for (TLine& line : section.Lines)
        if (!line.Key.empty() && SameText(line.Key, key))
            return &line;
    return nullptr;
}

const TIniFile::TLine* TIniFile::FindKey(const std::string& section, const std::string& key) const
{
    const TSection* s = FindSection(section);
    return s ? FindKey(const_cast<TSection&>(*s), key) : nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const
{
    return FindKey(section, key) != nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const
{
    const TLine* line = FindKey(section, key);
    return line ? line->Value : defaultValue;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int defaultValue) const
{
    const std::string text = Trim(ReadString(section, key, {}));
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return text.empty() || ec != std::errc() || ptr != end ? defaultValue : value;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    TSection* s = FindSection(section);
    if (!s) {
        FSections.push_back({"[" + section + "]", section, {}});
        s = &FSections.back();
    }
    if (TLine* line = FindKey(*s, key)) {
        line->Value = value;
    } else {
        // After the section's last key, so blank lines and comments that separate it
        // from the next section stay where they are.
        auto at = s->Lines.end();
        while (at != s->Lines.begin() && std::prev(at)->Key.empty())
            --at;
        s->Lines.insert(at, {{}, key, value});
    }
    return Save();
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    return WriteString(section, key, std::to_string(value));
}
