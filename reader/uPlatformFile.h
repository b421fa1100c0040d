#pragma once
// The operating-system calls the file reader needs, behind one small interface: open
// read-only with or without the page cache, read at the current position, seek, close,
// look a file's size up by name, tell a network file. The POSIX layer serves real
// files; tests and the fuzzer put a memory file or a failing one in its place, so the
// reader does exactly the same with their bytes.

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

enum class TMoveMethod { FromStart, FromCurrent, FromEnd };

class TPlatformFileApi {
public:
    using THandle = int;  // -1: no handle
    static constexpr THandle NoHandle = -1;

    virtual ~TPlatformFileApi() = default;

    // Opens path (the system's bytes of the name) read-only; unbuffered bypasses the page
    // cache where the file system allows it. On failure returns NoHandle and sets error.
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
    // Where the next bytes the file system stores begin, at from or after it: a file with
    // holes reads as zeros there without any reading. At or beyond the file's size when
    // only holes follow; -1 when the system cannot tell (then nothing is skipped). The
    // handle's position is left undefined.
    [[nodiscard]] virtual int64_t NextData(THandle handle, int64_t from)
    {
        (void)handle;
        (void)from;
        return -1;
    }
};

// What the POSIX layer refuses to open: only regular files and block devices hold a
// backup. A directory keeps the system's own code; for the other kinds (FIFOs, sockets,
// character devices such as /dev/zero) the system has none, so the layer has its own.
inline constexpr int OpenErrorIsDirectory = EISDIR;
inline constexpr int OpenErrorNotARegularFile = 0x10001;

// Whether an open failed for a reason that a second attempt cannot change: the name is
// there, but what it names is no file.
[[nodiscard]] bool IsLastingOpenError(int error);

// Real files through POSIX: O_DIRECT through an aligned staging area where the file
// system accepts it, buffered where it refuses (tmpfs answers EINVAL). Opening never
// blocks, also on a FIFO without a writer, and refuses what is not a file.
[[nodiscard]] std::shared_ptr<TPlatformFileApi> PosixFileApi();

// The positioned read behind direct reads, as pread(2) has it.
using TPositionedRead = std::function<ssize_t(int handle, void* buffer, size_t count, off_t offset)>;
// A POSIX layer of its own whose direct reads go through read instead of the system's
// pread, so that tests can make them fail the way a device with a stricter alignment does.
[[nodiscard]] std::shared_ptr<TPlatformFileApi> MakePosixFileApi(TPositionedRead read);
