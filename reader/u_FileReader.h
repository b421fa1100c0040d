#pragma once
// A thin object over one file handle: chooses buffered or unbuffered access when it
// opens, keeps its own 64-bit position, tries a failed open (unless the name stands for
// something that is no file) or a failed seek once more, and writes a line into its own
// error list for every failure of the system.

#include "uPlatformFile.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TFileReaderError {
    std::u16string Text;
    std::optional<int32_t> Code;  // the system's error code, where one was reported
};

class TFileReader {
public:
    explicit TFileReader(std::shared_ptr<TPlatformFileApi> api = PosixFileApi());
    ~TFileReader();
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;

    std::u16string FFileName;
    TPlatformFileApi::THandle FHandle = TPlatformFileApi::NoHandle;
    std::vector<TFileReaderError> FErrors;
    int64_t FPosition = 0;

    bool InternalOpenTargetFile();
    bool OpenTargetFile();
    void CloseTargetFile();
    bool ReadTargetFile(uint32_t count, void* dest, uint32_t& delivered);
    bool SeekTargetFile(int64_t distance, TMoveMethod method);

    // Whether the last successful open chose unbuffered access.
    [[nodiscard]] bool Unbuffered() const { return FUnbuffered; }
    [[nodiscard]] TPlatformFileApi& Api() { return *FApi; }

private:
    void AddSystemError(const char* what, int error);

    std::shared_ptr<TPlatformFileApi> FApi;
    bool FUnbuffered = false;
    int FLastOpenError = 0;
};
