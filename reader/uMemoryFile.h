#pragma once
// Files held in memory behind the platform interface, so the fuzzer and the tests can
// hand the reader bytes without touching a disk, and tests can make the system fail
// where they need it to.

#include "uPlatformFile.h"

#include <functional>
#include <map>
#include <vector>

class TMemoryFileApi : public TPlatformFileApi {
public:
    // A file's bytes by path; the span must outlive the reads.
    void Add(const std::string& path, std::vector<uint8_t> bytes);
    void AddView(const std::string& path, const uint8_t* data, size_t size);

    THandle Open(const std::string& path, bool unbuffered, int& error) override;
    bool Read(THandle handle, void* dest, uint32_t count, uint32_t& delivered, int& error) override;
    bool Seek(THandle handle, int64_t distance, TMoveMethod method, int64_t& newPosition,
              int& error) override;
    bool Close(THandle handle, int& error) override;
    int64_t FileSize(const std::string& path) override;
    std::string UniversalPath(const std::string& path) override;
    std::string ErrorText(int error) override;
    int64_t NextData(THandle handle, int64_t from) override;

    // What the reader asked of the system, for tests.
    struct TCall {
        enum { Open, Read, Seek, Close } Kind;
        int64_t Position;  // file position before the call
        int64_t Amount;    // bytes asked for, or the seek distance
        bool Unbuffered;   // Open only
    };
    std::vector<TCall> Calls;
    // Reads asked of the system and the bytes they delivered, all files together.
    int64_t ReadCount = 0;
    int64_t BytesDelivered = 0;

    // Makes the next calls of a kind fail with an error code (0: no failure).
    int FailOpens = 0;
    int FailReads = 0;
    int FailSeeks = 0;
    int FailureCode = 5;  // EIO
    // Whether the files tell their holes, as a file system that stores them sparsely
    // would: every aligned 4 KiB of zeros then counts as one.
    bool Sparse = false;
    static constexpr int64_t HoleSize = 4096;

private:
    struct TFile {
        const uint8_t* Data = nullptr;
        size_t Size = 0;
    };
    struct TOpen {
        TFile File;
        int64_t Position = 0;
    };
    std::map<std::string, std::vector<uint8_t>> FOwned;
    std::map<std::string, TFile> FFiles;
    std::map<THandle, TOpen> FOpen;
    THandle FNextHandle = 3;
};
