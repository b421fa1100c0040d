#include "uPlatformFile.h"

#include "uPaths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <utility>

namespace {

// Direct I/O wants memory, offsets and lengths aligned to the device's logical block
// size; 4096 covers every device in use, so reads go through a staging area aligned to
// it and the caller's buffer and position need no alignment at all.
constexpr size_t DirectAlignment = 4096;
constexpr size_t StagingSize = 1048576 + 2 * DirectAlignment;

struct TStaging {
    void* Memory = nullptr;
    ~TStaging() { std::free(Memory); }
};

class TPosixFileApi final : public TPlatformFileApi {
public:
    explicit TPosixFileApi(TPositionedRead read) : FRead(std::move(read)) {}

    THandle Open(const std::string& path, bool unbuffered, int& error) override
    {
        // Without O_NONBLOCK a FIFO holds the open until a writer comes, and for ever if
        // none does; what the name stands for is known only once it is open, and asking
        // the handle tells the kind of what was opened, not of what the name meant a
        // moment before.
        const int fd = OpenRetrying(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return Fail(error);
        struct stat info {};
        if (::fstat(fd, &info) != 0)
            return FailClosing(fd, errno, error);
        if (S_ISDIR(info.st_mode))
            return FailClosing(fd, OpenErrorIsDirectory, error);
        if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
            return FailClosing(fd, OpenErrorNotARegularFile, error);
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0)
            return FailClosing(fd, errno, error);
        // Some file systems (tmpfs among them) refuse the cache bypass: a readable file
        // must still open, so it is read through the cache there.
        const bool direct = unbuffered && ::fcntl(fd, F_SETFL, (flags & ~O_NONBLOCK) | O_DIRECT) == 0;
        if (!direct && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            return FailClosing(fd, errno, error);
        if (direct) {
            std::lock_guard lock(FMutex);
            FDirect[fd];
        }
        return fd;
    }

    bool Read(THandle handle, void* dest, uint32_t count, uint32_t& delivered, int& error) override
    {
        delivered = 0;
        if (IsDirect(handle))
            return ReadDirect(handle, static_cast<uint8_t*>(dest), count, delivered, error);
        return ReadBuffered(handle, static_cast<uint8_t*>(dest), count, delivered, error);
    }

    bool Seek(THandle handle, int64_t distance, TMoveMethod method, int64_t& newPosition, int& error) override
    {
        const int whence = method == TMoveMethod::FromStart     ? SEEK_SET
                           : method == TMoveMethod::FromCurrent ? SEEK_CUR
                                                                : SEEK_END;
        off_t result = ::lseek(handle, static_cast<off_t>(distance), whence);
        if (result < 0) {
            error = errno;
            return false;
        }
        newPosition = static_cast<int64_t>(result);
        return true;
    }

    int64_t NextData(THandle handle, int64_t from) override
    {
        const off_t at = ::lseek(handle, static_cast<off_t>(from), SEEK_DATA);
        if (at >= 0)
            return at;
        // No data after from: the rest of the file is one hole.
        if (errno == ENXIO)
            return std::numeric_limits<int64_t>::max();
        return -1;
    }

    bool Close(THandle handle, int& error) override
    {
        {
            std::lock_guard lock(FMutex);
            FDirect.erase(handle);
        }
        if (::close(handle) != 0) {
            error = errno;
            return false;
        }
        return true;
    }

    int64_t FileSize(const std::string& path) override { return FileSizeOf(path); }
    std::string UniversalPath(const std::string& path) override { return UniversalPathOf(path); }
    std::string ErrorText(int error) override
    {
        if (error == OpenErrorIsDirectory)
            return "is a directory";
        if (error == OpenErrorNotARegularFile)
            return "is not a regular file";
        return std::strerror(error);
    }

private:
    static int OpenRetrying(const std::string& path, int flags)
    {
        int fd;
        do {
            fd = ::open(path.c_str(), flags);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }

    static THandle Fail(int& error)
    {
        error = errno;
        return NoHandle;
    }

    static THandle FailClosing(int fd, int code, int& error)
    {
        ::close(fd);
        error = code;
        return NoHandle;
    }

    static bool ReadBuffered(THandle handle, uint8_t* dest, uint32_t count, uint32_t& delivered, int& error)
    {
        while (delivered < count) {
            ssize_t n = ::read(handle, dest + delivered, count - delivered);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = errno;
                return false;
            }
            if (n == 0)
                break;
            delivered += static_cast<uint32_t>(n);
        }
        return true;
    }

    bool IsDirect(THandle handle)
    {
        std::lock_guard lock(FMutex);
        return FDirect.count(handle) != 0;
    }

    // Reads the aligned span around [position, position + count) into the staging area,
    // hands out the requested part and leaves the file position just behind it, as a
    // plain read would.
    bool ReadDirect(THandle handle, uint8_t* dest, uint32_t count, uint32_t& delivered, int& error)
    {
        off_t position = ::lseek(handle, 0, SEEK_CUR);
        if (position < 0) {
            error = errno;
            return false;
        }
        TStaging* staging;
        {
            std::lock_guard lock(FMutex);
            staging = &FDirect[handle];
        }
        if (!staging->Memory && posix_memalign(&staging->Memory, DirectAlignment, StagingSize) != 0) {
            staging->Memory = nullptr;
            error = ENOMEM;
            return false;
        }
        auto* area = static_cast<uint8_t*>(staging->Memory);
        while (delivered < count) {
            const uint64_t at = static_cast<uint64_t>(position) + delivered;
            const uint64_t alignedStart = at & ~(uint64_t(DirectAlignment) - 1);
            const size_t lead = static_cast<size_t>(at - alignedStart);
            const size_t want = std::min<size_t>(count - delivered, StagingSize - DirectAlignment - lead);
            const size_t span = (lead + want + DirectAlignment - 1) & ~(DirectAlignment - 1);
            ssize_t n;
            do {
                n = FRead(handle, area, span, static_cast<off_t>(alignedStart));
            } while (n < 0 && errno == EINTR);
            if (n < 0 && errno == EINVAL) {
                // The device wants an alignment we did not meet: go on through the cache,
                // for this read and every later one on the handle. The staging area goes
                // with the entry; the lock is released before the buffered read.
                const int flags = ::fcntl(handle, F_GETFL);
                if (flags >= 0 && ::fcntl(handle, F_SETFL, flags & ~O_DIRECT) == 0) {
                    {
                        std::lock_guard lock(FMutex);
                        FDirect.erase(handle);
                    }
                    if (::lseek(handle, static_cast<off_t>(at), SEEK_SET) < 0) {
                        error = errno;
                        return false;
                    }
                    uint32_t more = 0;
                    const bool ok = ReadBuffered(handle, dest + delivered, count - delivered, more, error);
                    delivered += more;
                    return ok;
                }
                errno = EINVAL;
            }
            if (n < 0) {
                error = errno;
                ::lseek(handle, position + delivered, SEEK_SET);
                return false;
            }
            if (static_cast<size_t>(n) <= lead)
                break;
            const size_t got = std::min(want, static_cast<size_t>(n) - lead);
            std::memcpy(dest + delivered, area + lead, got);
            delivered += static_cast<uint32_t>(got);
            if (got < want)
                break;
        }
        ::lseek(handle, position + static_cast<off_t>(delivered), SEEK_SET);
        return true;
    }

    TPositionedRead FRead;
    std::mutex FMutex;
    std::map<THandle, TStaging> FDirect;
};

}  // namespace

bool IsLastingOpenError(int error)
{
    return error == OpenErrorIsDirectory || error == OpenErrorNotARegularFile;
}

std::shared_ptr<TPlatformFileApi> PosixFileApi()
{
    static std::shared_ptr<TPlatformFileApi> api = MakePosixFileApi(::pread);
    return api;
}

std::shared_ptr<TPlatformFileApi> MakePosixFileApi(TPositionedRead read)
{
    return std::make_shared<TPosixFileApi>(std::move(read));
}
