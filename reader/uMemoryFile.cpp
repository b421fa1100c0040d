#include "uMemoryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

void TMemoryFileApi::Add(const std::string& path, std::vector<uint8_t> bytes)
{
    auto& owned = FOwned[path] = std::move(bytes);
    FFiles[path] = {owned.data(), owned.size()};
}

void TMemoryFileApi::AddView(const std::string& path, const uint8_t* data, size_t size)
{
    FFiles[path] = {data, size};
}

TPlatformFileApi::THandle TMemoryFileApi::Open(const std::string& path, bool unbuffered, int& error)
{
    Calls.push_back({TCall::Open, 0, 0, unbuffered});
    auto it = FFiles.find(path);
    if (FailOpens > 0 || it == FFiles.end()) {
        if (FailOpens > 0)
            --FailOpens;
        error = it == FFiles.end() ? ENOENT : FailureCode;
        return NoHandle;
    }
    THandle handle = FNextHandle++;
    FOpen[handle] = {it->second, 0};
    return handle;
}

bool TMemoryFileApi::Read(THandle handle, void* dest, uint32_t count, uint32_t& delivered, int& error)
{
    delivered = 0;
    auto it = FOpen.find(handle);
    Calls.push_back({TCall::Read, it == FOpen.end() ? -1 : it->second.Position, count, false});
    if (it == FOpen.end()) {
        error = EBADF;
        return false;
    }
    if (FailReads > 0) {
        --FailReads;
        error = FailureCode;
        return false;
    }
    TOpen& open = it->second;
    ++ReadCount;
    if (open.Position < static_cast<int64_t>(open.File.Size)) {
        const size_t left = open.File.Size - static_cast<size_t>(open.Position);
        delivered = static_cast<uint32_t>(std::min<size_t>(count, left));
        std::memcpy(dest, open.File.Data + open.Position, delivered);
        open.Position += delivered;
        BytesDelivered += delivered;
    }
    return true;
}

int64_t TMemoryFileApi::NextData(THandle handle, int64_t from)
{
    auto it = FOpen.find(handle);
    if (!Sparse || it == FOpen.end() || from < 0)
        return -1;
    const TFile& file = it->second.File;
    const auto size = static_cast<int64_t>(file.Size);
    int64_t at = from;
    while (at < size) {
        const int64_t holeEnd = std::min(size, (at / HoleSize + 1) * HoleSize);
        const uint8_t* first = file.Data + (at / HoleSize) * HoleSize;
        if (std::any_of(first, file.Data + holeEnd, [](uint8_t b) { return b != 0; }))
            return at;
        at = holeEnd;
    }
    return std::max(at, size);
}

bool TMemoryFileApi::Seek(THandle handle, int64_t distance, TMoveMethod method, int64_t& newPosition,
                          int& error)
{
    auto it = FOpen.find(handle);
    Calls.push_back({TCall::Seek, it == FOpen.end() ? -1 : it->second.Position, distance, false});
    if (it == FOpen.end()) {
        error = EBADF;
        return false;
    }
    if (FailSeeks > 0) {
        --FailSeeks;
        error = FailureCode;
        return false;
    }
    TOpen& open = it->second;
    const int64_t base = method == TMoveMethod::FromStart     ? 0
                         : method == TMoveMethod::FromCurrent ? open.Position
                                                              : static_cast<int64_t>(open.File.Size);
    // Signed overflow is not a position either.
    int64_t target;
    if (__builtin_add_overflow(base, distance, &target) || target < 0) {
        error = EINVAL;
        return false;
    }
    open.Position = target;
    newPosition = target;
    return true;
}

bool TMemoryFileApi::Close(THandle handle, int& error)
{
    Calls.push_back({TCall::Close, 0, 0, false});
    if (FOpen.erase(handle) == 0) {
        error = EBADF;
        return false;
    }
    return true;
}

int64_t TMemoryFileApi::FileSize(const std::string& path)
{
    auto it = FFiles.find(path);
    return it == FFiles.end() ? 0 : static_cast<int64_t>(it->second.Size);
}

std::string TMemoryFileApi::UniversalPath(const std::string& path)
{
    return path;
}

std::string TMemoryFileApi::ErrorText(int error)
{
    return std::strerror(error);
}
