#pragma once
// The operating-system calls the file reader needs, behind one small interface: open
// read-only with or without the page cache, read at the current position, seek, close,
// look a file's size up by name, tell a network file. The POSIX layer serves real
// files; tests and the fuzzer put a memory file or a failing one in its place, so the
// reader does exactly the same with their bytes.

#include <cstdint>
#include <memory>
#include <string>

enum class TMoveMethod { FromStart, FromCurrent, FromEnd };

class TPlatformFileApi {
public:
    using THandle = int;  // -1: no handle
    static constexpr THandle NoHandle = -1;

    virtual ~TPlatformFileApi() = default;

    // Opens path (UTF-8) read-only; unbuffered bypasses the page cache where the file
    // system allows it. On failure returns NoHandle and sets error.
    virtual THandle Open(const std::string& path, bool unbuffered, int& error) = 0;
    // One read of up to count bytes at the handle's position.
    virtual bool Read(THandle handle, void* dest, uint32_t count, uint32_t& delivered, int& error) = 0;
    virtual bool Seek(THandle handle, int64_t distance, TMoveMethod method, int64_t& newPosition,
                      int& error) = 0;
    virtual bool Close(THandle handle, int& error) = 0;

    [[nodiscard]] virtual int64_t FileSize(const std::string& path) = 0;
    [[nodiscard]] virtual std::string UniversalPath(const std::string& path) = 0;
    // The system's message text for an error code.
    [[nodiscard]] virtual std::string ErrorText(int error) = 0;
};

// Real files through POSIX: O_DIRECT through an aligned staging area where the file
// system accepts it, a buffered open where it refuses (tmpfs answers EINVAL).
[[nodiscard]] std::shared_ptr<TPlatformFileApi> PosixFileApi();
