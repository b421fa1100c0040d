#pragma once
// An INI file that keeps keys and values exactly as written. The placement keys carry
// the screen size in brackets ("NormPos(1280x1024)") and their values hold commas;
// other INI stores escape both, and then the file no longer reads as the program's
// other installations write it.
//
// Lookups of sections and keys ignore ASCII letter case, as the INI files of Windows
// do. Every write goes to the file at once, so nothing is lost when the program ends
// without closing its window.
//
// A save never changes the file in place: the text goes to a new file beside it, which
// is flushed to the disk and then renamed over the old one. A full disk or any other
// failure on the way leaves the old file as it was, and the write reports it.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// The system calls a save goes through. Tests put failing ones in their place, since a
// full disk cannot be had on demand (and permissions do not stop a root user).
struct TIniFileSystemCalls {
    std::function<ssize_t(int fd, const void* data, size_t size)> Write;
    std::function<int(int fd)> Sync;
    std::function<int(const char* from, const char* to)> Rename;

    // The real calls.
    [[nodiscard]] static TIniFileSystemCalls System();
};

class TIniFile {
public:
    explicit TIniFile(std::string path, TIniFileSystemCalls calls = TIniFileSystemCalls::System());

    [[nodiscard]] const std::string& FileName() const { return FPath; }

    [[nodiscard]] bool ValueExists(const std::string& section, const std::string& key) const;
    [[nodiscard]] std::string ReadString(const std::string& section, const std::string& key,
                                         const std::string& defaultValue) const;
    // The value as a decimal integer (leading and trailing blanks allowed); the default
    // when the key is missing or its value is not such a number.
    [[nodiscard]] int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;

    // Returns false when the file could not be written (the file on the disk is then
    // unchanged); the value is kept in memory and goes to the disk with the next write.
    [[nodiscard]] bool WriteString(const std::string& section, const std::string& key,
                                   const std::string& value);
    [[nodiscard]] bool WriteInteger(const std::string& section, const std::string& key, int value);

private:
    struct TLine {
        std::string Text;  // the line as read, for lines that are not key=value
        std::string Key;   // empty for lines that are not key=value
        std::string Value;
    };
    struct TSection {
        std::string Header;  // the "[name]" line as read; empty for lines before the first
        std::string Name;
        std::vector<TLine> Lines;
    };

    void Load();
    [[nodiscard]] bool Save() const;
    [[nodiscard]] TSection* FindSection(const std::string& name);
    [[nodiscard]] const TSection* FindSection(const std::string& name) const;
    [[nodiscard]] static TLine* FindKey(TSection& section, const std::string& key);
    [[nodiscard]] const TLine* FindKey(const std::string& section, const std::string& key) const;

    std::string FPath;
    TIniFileSystemCalls FCalls;
    std::vector<TSection> FSections;
};
