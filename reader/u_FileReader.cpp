#include "u_FileReader.h"

#include "uLocaleFormat.h"
#include "uPaths.h"
#include "uTextConvert.h"

TFileReader::TFileReader(std::shared_ptr<TPlatformFileApi> api) : FApi(std::move(api)) {}

TFileReader::~TFileReader()
{
    // A handle still open goes quietly: nobody reads the error list any more.
    if (FHandle != TPlatformFileApi::NoHandle) {
        int error = 0;
        (void)FApi->Close(FHandle, error);
    }
}

void TFileReader::AddSystemError(const char* what, int error)
{
    std::u16string line = LocaleFormat().NowText();
    line += u": ";
    line += Utf8ToUtf16(what);
    line += u" error: ";
    line += Utf8ToUtf16(FApi->ErrorText(error));
    FErrors.push_back({std::move(line), error});
}

bool TFileReader::InternalOpenTargetFile()
{
    // The name goes back to the system's own bytes, also those that are no UTF-8.
    const std::string path = FileNameFromUtf16(FFileName);
    const std::string universal = FApi->UniversalPath(path);
    const int64_t size = FApi->FileSize(path);
    // The cache bypass needs whole 512-byte sectors; files on a share are always read
    // through the cache.
    const bool buffered = size % 512 != 0 || IsNetworkName(universal);
    int error = 0;
    FHandle = FApi->Open(path, !buffered, error);
    FLastOpenError = error;
    if (FHandle == TPlatformFileApi::NoHandle) {
        AddSystemError("OpenTargetFile.CreateFile", error);
        return false;
    }
    FUnbuffered = !buffered;
    return true;
}

bool TFileReader::OpenTargetFile()
{
    bool ok = InternalOpenTargetFile();
    // A directory or a device stays what it is: only a failure that may pass is tried again.
    if (!ok && !IsLastingOpenError(FLastOpenError))
        ok = InternalOpenTargetFile();
    FPosition = 0;
    return ok;
}

void TFileReader::CloseTargetFile()
{
    if (FHandle == TPlatformFileApi::NoHandle)
        return;
    int error = 0;
    if (!FApi->Close(FHandle, error))
        AddSystemError("CloseTargetFile.CloseHandle", error);
    FHandle = TPlatformFileApi::NoHandle;
}

bool TFileReader::ReadTargetFile(uint32_t count, void* dest, uint32_t& delivered)
{
    delivered = 0;
    int error = 0;
    if (FHandle != TPlatformFileApi::NoHandle && FApi->Read(FHandle, dest, count, delivered, error)) {
        FPosition += delivered;
        return true;
    }
    FErrors.push_back({u"ReadFile failed for file: " + FFileName + u" at position: " +
                           Utf8ToUtf16(std::to_string(FPosition)),
                       std::nullopt});
    CloseTargetFile();
    delivered = 0;
    return false;
}

bool TFileReader::SeekTargetFile(int64_t distance, TMoveMethod method)
{
    int error = 0;
    int64_t position = 0;
    if (FHandle != TPlatformFileApi::NoHandle && FApi->Seek(FHandle, distance, method, position, error)) {
        FPosition = position;
        return true;
    }
    if (FHandle == TPlatformFileApi::NoHandle)
        error = EBADF;
    AddSystemError("SetFilePointerEx", error);
    CloseTargetFile();
    // A fresh handle often gets past what failed on the old one; it must end up where
    // the failed seek aimed.
    if (!InternalOpenTargetFile())
        return false;
    int64_t target = distance;
    TMoveMethod again = method;
    if (method == TMoveMethod::FromCurrent) {
        target = FPosition + distance;
        again = TMoveMethod::FromStart;
    }
    if (!FApi->Seek(FHandle, target, again, position, error)) {
        AddSystemError("SetFilePointerEx", error);
        CloseTargetFile();
        return false;
    }
    FPosition = position;
    return true;
}
