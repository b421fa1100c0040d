#include "u_MTFReader.h"

#include "uDateTime.h"
#include "uLocaleFormat.h"
#include "uTextConvert.h"

#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace {

// Digits are ASCII, so they widen one for one; no converter needed on a path taken for
// every log and error line.
std::u16string Num(int64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::u16string(digits, end);
}

// Fills the "%d" places of a message in order.
std::u16string Message(std::u16string_view pattern, std::initializer_list<int64_t> values)
{
    std::u16string out;
    auto value = values.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u'd' && value != values.end()) {
            out += Num(*value++);
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

// What the records of one read may take: a real file holds at least a few hundred bytes
// of metadata for every set and database file it lists, while overlapping blocks of a
// damaged file can begin one every few bytes. Four times the file's size, with a floor
// for small files, lists every real file; the cap keeps any input near the most a read
// may take in all, and still holds 100,000 appended sets of two files each.
constexpr int64_t RecordBudgetFloor = 8 << 20;
constexpr int64_t RecordBudgetFactor = 4;
constexpr int64_t RecordBudgetCap = 240 << 20;
// The log of a walk grows with its steps; past this it says that it stops.
constexpr int64_t LogBudget = 32 << 20;
// What the containers and the allocator add to each record and each text that does not
// fit in place, so that the count follows the memory taken.
constexpr int64_t SetOverhead = 288;
constexpr int64_t FileOverhead = 128;
constexpr int64_t TextOverhead = 24;

template <typename TText> int64_t TextCost(const TText& text)
{
    const auto bytes = static_cast<int64_t>(text.size() * sizeof(typename TText::value_type));
    return bytes < static_cast<int64_t>(sizeof(TText)) / 2 ? 0 : bytes + TextOverhead;
}

int64_t HeaderCost(const TBackupHeader& h, size_t pathLength)
{
    // The file's name is set in every set once the walk is over.
    const int64_t path =
        pathLength < 8 ? 0 : static_cast<int64_t>(pathLength * sizeof(char16_t)) + TextOverhead;
    return static_cast<int64_t>(sizeof(TBackupDetails)) + SetOverhead + path + TextCost(h.BackupName) +
           TextCost(h.BackupDescription) + TextCost(h.DatabaseName) + TextCost(h.UserName) +
           TextCost(h.ServerName) + TextCost(h.MachineName) + TextCost(h.BackupTypeCode) +
           TextCost(h.RecoveryModel) + TextCost(h.BackupTypeDescription);
}

int64_t FileCost(const TBackupFile& f)
{
    return static_cast<int64_t>(sizeof(TBackupFile)) + FileOverhead + TextCost(f.LogicalName) +
           TextCost(f.PhysicalName) + TextCost(f.FilegroupName) + TextCost(f.FileType);
}

// More error lines than a real backup with every date in it damaged would give.
constexpr size_t MaxErrorLines = 10000;
constexpr size_t MaxFilegroups = 32767;

constexpr std::array<const char*, 10> DescriptorTypes = {"TAPE", "RAID", "SSET", "VOLB", "DIRB",
                                                         "FILE", "ESPB", "ESET", "EOTM", "SFMB"};

bool IsDescriptorType(const uint8_t* tag)
{
    return std::any_of(DescriptorTypes.begin(), DescriptorTypes.end(),
                       [tag](const char* type) { return std::memcmp(tag, type, 4) == 0; });
}

bool TagIs(const uint8_t* tag, const char* name)
{
    return std::memcmp(tag, name, 4) == 0;
}

// The four type bytes as the file has them, zero bytes included.
std::u16string TagText(const uint8_t* tag)
{
    return Windows1252ToUtf16(std::string_view(reinterpret_cast<const char*>(tag), 4));
}

std::u16string UpperCase(const std::u16string& text)
{
    if (text.empty())
        return text;
    UErrorCode status = U_ZERO_ERROR;
    const auto* source = reinterpret_cast<const UChar*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t needed = u_strToUpper(nullptr, 0, source, length, "", &status);
    std::u16string upper(static_cast<size_t>(needed), u'\0');
    status = U_ZERO_ERROR;
    u_strToUpper(reinterpret_cast<UChar*>(upper.data()), needed, source, length, "", &status);
    return U_FAILURE(status) ? text : upper;
}

TBigInteger LSNAt(const TMTFReader::TBlock& block, size_t offset)
{
    return DecodeLSN(static_cast<int32_t>(block.U32(offset)), static_cast<int32_t>(block.U32(offset + 4)),
                     block.U16(offset + 8));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The block reader

TMTFFileReader::TMTFFileReader(std::shared_ptr<TPlatformFileApi> api) : FFile(std::move(api)) {}

TMTFFileReader::~TMTFFileReader()
{
    if (FIsOpen)
        FFile.CloseTargetFile();
}

bool TMTFFileReader::Open(const std::u16string& path)
{
    FBufferStart = 0;
    FBufferLength = 0;
    FAtEnd = false;
    FFailed = false;
    FNextSequential = -1;
    FRunPieces = FirstRunPieces;
    FFile.FFileName = path;
    if (FFile.OpenTargetFile()) {
        FIsOpen = true;
        FBuffer.reset();
        FBuffer.reset(new uint8_t[BufferSize]);
        FPieceOf.assign(PieceSlots, -1);
        FPieceLength.assign(PieceSlots, 0);
        FKnownSize = std::max<int64_t>(0, FFile.Api().FileSize(FileNameFromUtf16(path)));
    }
    return FIsOpen;
}

void TMTFFileReader::Close()
{
    FFile.CloseTargetFile();
    FIsOpen = false;
}

void TMTFFileReader::Fetch(int64_t piece)
{
    const auto slot = static_cast<size_t>(piece % PieceSlots);
    // A run of pieces is read in one request; it grows while the walk reads on, stops
    // at the end of the ring and at the end of what the window has delivered, since
    // beyond that the walk may well skip.
    int32_t run = piece == FNextSequential ? std::min(FRunPieces * 2, LongestRunPieces) : FirstRunPieces;
    run = std::min<int64_t>(run, PieceSlots - static_cast<int64_t>(slot));
    const int64_t windowEnd = FBufferStart + FBufferLength;
    const int64_t lastWanted = (std::max(windowEnd, piece * PieceSize + 1) - 1) / PieceSize;
    run = static_cast<int32_t>(std::clamp<int64_t>(lastWanted - piece + 1, 1, run));
    for (int32_t i = 0; i < run; ++i) {
        FPieceOf[slot + static_cast<size_t>(i)] = piece + i;
        FPieceLength[slot + static_cast<size_t>(i)] = 0;
    }
    if (FFailed || !FIsOpen)
        return;
    FNextSequential = piece + run;
    FRunPieces = run;
    const int64_t at = piece * PieceSize;
    if (FFile.FPosition != at && !FFile.SeekTargetFile(at - FFile.FPosition, TMoveMethod::FromCurrent)) {
        FFailed = true;
        return;
    }
    uint32_t delivered = 0;
    if (!FFile.ReadTargetFile(static_cast<uint32_t>(run) * PieceSize, FBuffer.get() + slot * PieceSize,
                              delivered)) {
        FFailed = true;
        return;
    }
    for (int32_t i = 0; i < run; ++i)
        FPieceLength[slot + static_cast<size_t>(i)] = static_cast<int32_t>(
            std::clamp<int64_t>(int64_t{delivered} - int64_t{i} * PieceSize, 0, PieceSize));
    if (delivered < static_cast<uint32_t>(run) * PieceSize)
        FKnownSize = at + delivered;
    else
        FKnownSize = std::max(FKnownSize, at + int64_t{delivered});
}

void TMTFFileReader::CopyOut(int64_t q, size_t n, uint8_t* dest)
{
    for (size_t i = 0; i < n; ++i)
        dest[i] = ByteAt(q + static_cast<int64_t>(i));
}

int64_t TMTFFileReader::LeadingZeros(int64_t p, int64_t n)
{
    for (int64_t i = 0; i < n; ++i) {
        const int64_t q = p + i;
        const int64_t piece = q / PieceSize;
        const auto slot = static_cast<size_t>(piece % PieceSlots);
        if (FPieceOf[slot] != piece)
            Fetch(piece);
        const auto offset = static_cast<int32_t>(q % PieceSize);
        if (FFailed || offset >= FPieceLength[slot] ||
            FBuffer[slot * PieceSize + static_cast<size_t>(offset)] != 0)
            return i;
    }
    return n;
}

int64_t TMTFFileReader::ZeroRunEnd(int64_t p, int64_t limit, int64_t readLimit)
{
    if (!FIsOpen || FFailed || !FBuffer || FFile.FHandle == TPlatformFileApi::NoHandle)
        return p;
    TPlatformFileApi& api = FFile.Api();
    const TPlatformFileApi::THandle handle = FFile.FHandle;
    // The ring is the scratch area: the pieces it held are read again when next looked at.
    std::fill(FPieceOf.begin(), FPieceOf.end(), -1);
    FNextSequential = -1;
    static constexpr std::array<uint8_t, PieceSize> zeros{};
    int64_t at = p;
    int64_t read = 0;
    int64_t chunk = 16 * PieceSize;
    bool holes = true;
    int64_t positioned = -1;
    int error = 0;
    int64_t moved = 0;
    while (at < limit) {
        if (holes) {
            const int64_t data = api.NextData(handle, at);
            positioned = -1;
            if (data < 0) {
                holes = false;
            } else if (data > at) {
                at = std::min(data, limit);
                continue;
            }
        }
        if (read >= readLimit)
            break;
        const auto n = static_cast<uint32_t>(std::min(chunk, limit - at));
        if (positioned != at && !api.Seek(handle, at, TMoveMethod::FromStart, moved, error))
            break;
        uint32_t delivered = 0;
        if (!api.Read(handle, FBuffer.get(), n, delivered, error))
            break;
        positioned = at + delivered;
        read += delivered;
        uint32_t clean = 0;
        while (clean < delivered) {
            const uint32_t span = std::min<uint32_t>(PieceSize, delivered - clean);
            if (std::memcmp(FBuffer.get() + clean, zeros.data(), span) != 0)
                break;
            clean += span;
        }
        while (clean < delivered && FBuffer[clean] == 0)
            ++clean;
        at += clean;
        if (clean < n)
            break;
        chunk = std::min<int64_t>(chunk * 2, RefillSize);
    }
    // The file reader's own idea of the position stays the truth for the walk.
    (void)api.Seek(handle, FFile.FPosition, TMoveMethod::FromStart, moved, error);
    return std::min(at, limit);
}

int32_t TMTFFileReader::Request(int32_t count, int64_t p)
{
    if (count <= 0 || !FBuffer || p < FBufferStart)
        return 0;
    const int64_t end = FBufferStart + FBufferLength;
    // Compared as a distance: a position near the top of the 64-bit range, where a
    // damaged stream length can send the walk, must not overflow.
    if (p > end - count) {
        bool skipFailed = false;
        if (p <= end) {
            // Keep the tail: the walk asks again for what follows what it has seen. Once
            // the file has ended nothing more comes behind it, and the window stays.
            if (!FAtEnd) {
                FBufferStart = p;
                FBufferLength = static_cast<int32_t>(end - p);
            }
        } else {
            // Cross the gap in whole sectors, so that the window stays aligned for
            // unbuffered access. The file is positioned there at once: whether the system
            // takes the position (a damaged length can point far beyond what a file
            // system allows) decides, as before, where the window goes and which errors
            // the file reader writes.
            const int64_t target = end + (p - end) / 512 * 512;
            FBufferStart = end;
            FBufferLength = 0;
            if (FFile.FHandle == TPlatformFileApi::NoHandle || FFile.FPosition != target) {
                if (FFile.SeekTargetFile(target - FFile.FPosition, TMoveMethod::FromCurrent))
                    FBufferStart = target;
                else
                    skipFailed = true;
                FFailed = FFile.FHandle == TPlatformFileApi::NoHandle;
            } else {
                FBufferStart = target;
            }
        }
        if (FBufferLength < count && !FAtEnd) {
            int32_t n = RefillSize;
            const int32_t free = BufferSize - FBufferLength;
            if (free < n)
                n = free / 512 * 512;
            if (n > 0) {
                const int64_t at = FBufferStart + FBufferLength;
                const int32_t kept = FBufferLength;
                int64_t delivered = FFailed ? 0 : std::clamp<int64_t>(FKnownSize - at, 0, n);
                if (skipFailed) {
                    // The refill on the file the failed skip closed fails too; its line
                    // names where the window ended.
                    uint32_t none = 0;
                    FFile.FPosition = end;
                    (void)FFile.ReadTargetFile(static_cast<uint32_t>(n), FBuffer.get(), none);
                    delivered = 0;
                } else if (delivered > 0) {
                    // The refill's first piece is read now: whether the file answers there
                    // decides the count, as a read of the whole refill would.
                    FBufferLength = kept + static_cast<int32_t>(delivered);
                    (void)ByteAt(at);
                    if (FFailed) {
                        delivered = 0;
                    } else {
                        delivered = std::clamp<int64_t>(FKnownSize - at, 0, n);
                    }
                }
                FBufferLength = kept + static_cast<int32_t>(delivered);
                FAtEnd = delivered == 0;
            }
        }
    }
    const int64_t offset = p - FBufferStart;
    const int64_t available = FBufferLength - offset;
    if (available <= 0)
        return 0;
    return static_cast<int32_t>(std::min<int64_t>(count, available));
}

TFileView TMTFFileReader::ReadView(int32_t count, int64_t p)
{
    const int32_t delivered = Request(count, p);
    return delivered > 0 ? TFileView(this, p, delivered) : TFileView();
}

int32_t TMTFFileReader::Read(int32_t count, void* dest, int64_t p)
{
    const int32_t delivered = Request(count, p);
    if (delivered > 0)
        CopyOut(p, static_cast<size_t>(delivered), static_cast<uint8_t*>(dest));
    return delivered;
}

// ---------------------------------------------------------------------------------------
// Block views

uint16_t TMTFReader::TBlock::U16(size_t offset) const
{
    return static_cast<uint16_t>(U8(offset) | (U8(offset + 1) << 8));
}

uint32_t TMTFReader::TBlock::U32(size_t offset) const
{
    return static_cast<uint32_t>(U16(offset)) | (static_cast<uint32_t>(U16(offset + 2)) << 16);
}

uint64_t TMTFReader::TBlock::U64(size_t offset) const
{
    return static_cast<uint64_t>(U32(offset)) | (static_cast<uint64_t>(U32(offset + 4)) << 32);
}

std::array<uint8_t, 5> TMTFReader::TBlock::Date(size_t offset) const
{
    return {U8(offset), U8(offset + 1), U8(offset + 2), U8(offset + 3), U8(offset + 4)};
}

TGUID TMTFReader::TBlock::Guid(size_t offset) const
{
    TGUID guid{};
    for (size_t i = 0; i < guid.size(); ++i)
        guid[i] = U8(offset + i);
    return guid;
}

// ---------------------------------------------------------------------------------------
// The reader

TBigInteger DecodeLSN(int32_t A, int32_t B, uint16_t C)
{
    // A * 10^15 + B * 10^5 + C takes up to 82 bits. The part of B and C fits 64 bits;
    // |A| * 10^15 is worked out in 32-bit pieces, and the two are joined by sign and
    // magnitude. A damaged file can hold a metadata block every few bytes, each with
    // several LSNs, so this avoids general big-integer arithmetic.
    const int64_t rest = static_cast<int64_t>(B) * 100000 + C;  // |rest| < 2^48
    if (A == 0)
        return FromInt64(rest);
    constexpr uint64_t Scale = 1000000000000000ULL;  // 10^15 < 2^50
    const uint64_t a = A < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(A)) : static_cast<uint64_t>(A);
    const uint64_t lowProduct = a * (Scale & 0xFFFFFFFF);                 // < 2^64
    const uint64_t highProduct = a * (Scale >> 32) + (lowProduct >> 32);  // < 2^50
    uint64_t low = (highProduct << 32) | (lowProduct & 0xFFFFFFFF);
    uint64_t high = highProduct >> 32;
    // |A| * 10^15 >= 10^15 > |rest|: the sign is A's, and a difference stays positive.
    const uint64_t r = rest < 0 ? static_cast<uint64_t>(-rest) : static_cast<uint64_t>(rest);
    if ((rest < 0) == (A < 0)) {
        low += r;
        high += low < r ? 1 : 0;
    } else {
        high -= low < r ? 1 : 0;
        low -= r;
    }
    return FromMagnitude(A < 0, high, low);
}

TMTFReader::TMTFReader(std::shared_ptr<TPlatformFileApi> api) : FFileReader(std::move(api)) {}

void TMTFReader::AddError(const std::u16string& text)
{
    // A damaged file can repeat a broken block for as long as it is: the list keeps its
    // first lines and, in its last place, always the latest one, which says where the
    // walk stopped, so that its memory does not grow with the file.
    if (FErrorLines.size() < MaxErrorLines)
        FErrorLines.push_back(text);
    else
        FErrorLines.back() = text;
}

void TMTFReader::AddLog(const std::u16string& text)
{
    if (!FKeepLog || FLogBytes > LogBudget)
        return;
    FLogLines.push_back(LocaleFormat().NowText() + u": " + text);
    FLogBytes += static_cast<int64_t>(sizeof(std::u16string)) + TextCost(FLogLines.back());
    if (FLogBytes > LogBudget)
        FLogLines.push_back(LocaleFormat().NowText() + u": The log stops here: it has grown to its limit.");
}

bool TMTFReader::ChargeCurrentSet()
{
    if (FSetIndex != FChargedSet) {
        FChargedSet = FSetIndex;
        FChargedHeader = 0;
    }
    const int64_t cost = HeaderCost(CurrentHeader(), FPathLength);
    FRecordBytes += cost - FChargedHeader;
    FChargedHeader = cost;
    return FRecordBytes <= FRecordBudget;
}

// The walk logs the position of every block; the line is only built when the log is
// kept, so that a read without the log spends nothing on it.
void TMTFReader::AddPositionLog(std::u16string_view label)
{
    if (FKeepLog)
        AddLog(std::u16string(label) + Num(FStart));
}

std::u16string TMTFReader::DecodeMTFString(const TBlock& block, int64_t bound, int stringType,
                                           TTapeAddress address)
{
    const int64_t size = address.Size;
    const int64_t offset = address.Offset;
    if (size == 0 || offset + size > bound)
        return {};
    if (stringType == 1) {
        std::string bytes;
        for (int64_t i = 0; i < size; ++i) {
            const uint8_t b = block.U8(static_cast<size_t>(offset + i));
            if (b == 0)
                break;
            bytes += static_cast<char>(b);
        }
        return Windows1252ToUtf16(bytes);
    }
    if (stringType == 2) {
        std::u16string text;
        // An odd size leaves a last byte that is the low half of a final code unit.
        for (int64_t i = 0; i < size; i += 2) {
            const size_t at = static_cast<size_t>(offset + i);
            const auto unit =
                static_cast<char16_t>(block.U8(at) | (i + 1 < size ? block.U8(at + 1) << 8 : 0));
            if (unit == 0)
                break;
            text += unit;
        }
        return text;
    }
    return {};
}

TDateTime TMTFReader::DecodeMTFDate(const uint8_t* b)
{
    TDateTimeParts parts;
    parts.Year = b[0] * 64 + (b[1] >> 2);
    parts.Month = (b[1] & 3) * 4 + (b[2] >> 6);
    parts.Day = (b[2] >> 1) & 31;
    parts.Hour = (b[2] & 1) * 16 + (b[3] >> 4);
    parts.Minute = (b[3] & 15) * 4 + (b[4] >> 6);
    parts.Second = b[4] & 63;
    if (parts.Year == 0 || parts.Day == 0)
        return 0;
    if (const auto value = EncodeDateTime(parts))
        return *value;
    // One damaged date, often in a field nobody keeps, must not hide the rest of the
    // file: it is reported and counts as not set.
    AddError(u"''" + Num(parts.Year) + u"/" + Num(parts.Month) + u"/" + Num(parts.Day) + u" " +
             Num(parts.Hour) + u":" + Num(parts.Minute) + u":" + Num(parts.Second) +
             u".0'' is not a valid date and time");
    return 0;
}

void TMTFReader::FindKnownSets(const std::u16string& FileName)
{
    FSets.clear();
    const std::u16string wanted = UpperCase(FileName);
    for (const TBackupDetails& set : FKnownSets)
        if (UpperCase(set.Header.FileName) == wanted)
            FSets.push_back(set);
}

void TMTFReader::KeepSets()
{
    if (!FKeepKnownSets)
        return;
    FKnownSets.insert(FKnownSets.end(), FSets.begin(), FSets.end());
}

bool TMTFReader::ReadFile(const std::u16string& FileName, bool ReportShortHeader, bool CheckTapeAddress)
{
    FErrorLines.clear();
    FLogLines.clear();
    FLogBytes = 0;
    AddLog(u"ReadFile started");
    FReportShortHeader = ReportShortHeader;

    FindKnownSets(FileName);
    if (!FSets.empty()) {
        AddLog(u"ReadFile ended");
        return true;
    }

    // The media family comes from this file's RAID block alone; a file without one is
    // the only member of its family, whatever the previous file was.
    FFamilyGUID = TGUID{};
    FFamilyCount = 0;
    FFamilySequence = 0;
    FCancelled = false;
    FCancelledAt = 0;
    FFirstBytes.clear();
    FWarnings.clear();
    FStreamPastEnd = -1;
    FNonZeroAt = -1;
    FFileSize = 0;
    const size_t knownFileErrors = FFileReader.FFile.FErrors.size();
    const bool opened = FFileReader.Open(FileName);
    if (opened) {
        FFileSize = FFileReader.FFile.Api().FileSize(FileNameFromUtf16(FileName));
        AddLog(u"File size: " + Num(FFileSize));

        FSSETCount = 0;
        FSoftFilemarkSize = 0;
        FSetEnded = true;
        FFilegroups.clear();
        FFilegroupIndex.clear();
        FSets.assign(1, TBackupDetails{});
        FSetIndex = 0;
        FFileIndexSet = -1;
        FCheckTapeAddress = CheckTapeAddress;
        FStart = 0;

        FRecordBytes = 0;
        FFilegroupBytes = 0;
        FChargedSet = -1;
        FPathLength = FileName.size();
        FRecordBudget = std::min(RecordBudgetCap, RecordBudgetFloor + RecordBudgetFactor * FFileSize);
        // The file must open with a descriptor block: no zero bytes are skipped before it.
        if (FOnStep)
            FOnStep(FStart);
        ReadCommonBlock();
        int64_t previous = 0;
        while (FStart > previous) {
            if (!ChargeCurrentSet()) {
                AddError(Message(u"The records of this file take more memory than a file of its size can "
                                 u"hold: the read stops at byte %d.",
                                 {FStart}));
                break;
            }
            previous = FStart;
            if (FOnProgress && !FOnProgress(FStart, FFileSize)) {
                FCancelled = true;
                FCancelledAt = FStart;
                AddLog(u"ReadFile cancelled at " + Num(FStart));
                break;
            }
            if (FOnStep)
                FOnStep(FStart);
            SkipEmptySteps();
            ReadBlock();
            if (FStart == FFileSize)
                break;
        }
    }
    if (FFileReader.FIsOpen)
        FFileReader.Close();

    // Why the file could not be opened or read to its end belongs with the problems the
    // user sees, not only with the file reader's own list.
    const auto& fileErrors = FFileReader.FFile.FErrors;
    for (size_t i = knownFileErrors; i < fileErrors.size(); ++i)
        AddError(fileErrors[i].Text);

    if (opened && !FCancelled) {
        // A copy cut short reads without a failing step when the cut falls in a stream
        // the walk steps over; what is missing is said apart from the error lines.
        if (FStreamPastEnd >= 0)
            FWarnings.push_back(Message(u"The file ends inside the stream that begins at byte %d: "
                                        u"%d bytes of it are missing.",
                                        {FStreamPastEnd, FStart - FFileSize}));
        if (FSSETCount > 0 && !FSetEnded)
            FWarnings.push_back(
                Message(u"The file ends inside backup set %d: it has no end-of-set block.", {FSetIndex + 1}));
    }

    if (FFamilyCount == 0) {
        FFamilyCount = 1;
        FFamilySequence = 1;
    }
    for (TBackupDetails& set : FSets) {
        set.Header.FileName = FileName;
        set.Header.FamilyGUID = FFamilyGUID;
        set.Header.FamilyCount = FFamilyCount;
        set.Header.FamilySequenceNumber = FFamilySequence;
    }
    KeepSets();
    AddLog(u"ReadFile ended");
    return opened;
}

TBackupFileReport ReadBackupFile(const std::u16string& path, const TReadOptions& options)
{
    TMTFReader reader(options.Api ? options.Api : PosixFileApi());
    reader.FKeepLog = options.KeepLog;
    reader.FKeepKnownSets = false;
    TBackupFileReport report;
    reader.FOnProgress = options.OnProgress;
    report.Opened = reader.ReadFile(path, options.ReportShortHeader, options.CheckTapeAddress);
    report.Cancelled = reader.FCancelled;
    report.CancelledAt = reader.FCancelledAt;
    report.FileSize = reader.FFileSize;
    report.FirstBytes = std::move(reader.FFirstBytes);
    report.Sets = std::move(reader.FSets);
    report.ErrorLines = std::move(reader.FErrorLines);
    report.LogLines = std::move(reader.FLogLines);
    report.Warnings = std::move(reader.FWarnings);
    return report;
}

// Zeros, from FStart on, read as a run of empty steps: four bytes of padding, then a
// stream of type 0 and length 0, stepped over with its alignment. Such a step sets
// nothing, reports nothing and charges nothing, so a region of zeros is crossed at
// once, by as many whole steps as fit in it, far enough from its end and from the
// file's that the last steps are walked as ever. The block reader's count for a request
// depends only on where it is asked and where the file ends, so the walk after the
// crossing sees what it would have seen.
void TMTFReader::SkipEmptySteps()
{
    // Zeros first looked for in the pieces the walk reads anyway; shorter runs are only
    // walked, so a file of many small ones costs no extra reading.
    constexpr int64_t LookFirst = TMTFFileReader::PieceSize;
    // What one crossing reads at most before the walk asks again whether to go on.
    constexpr int64_t ReadPerCrossing = int64_t{256} << 20;
    if (!FCrossZeros || FFileSize - FStart < LookFirst + 2 * EmptyStepSize)
        return;
    if (FNonZeroAt >= FStart && FNonZeroAt < FStart + LookFirst)
        return;
    if (const int64_t zeros = FFileReader.LeadingZeros(FStart, LookFirst); zeros < LookFirst) {
        FNonZeroAt = FStart + zeros;
        return;
    }
    const int64_t zerosEnd = FFileReader.ZeroRunEnd(FStart + LookFirst, FFileSize, ReadPerCrossing);
    if (zerosEnd < FFileSize)
        FNonZeroAt = zerosEnd;
    const int64_t last = std::min(zerosEnd, FFileSize - EmptyStepSize);
    const int64_t steps = (last - FStart) / EmptyStepSize - 1;
    if (steps <= 0)
        return;
    if (FKeepLog)
        AddLog(Message(u"Empty steps of %d bytes of zeros: %d, from byte %d to byte %d",
                       {EmptyStepSize, steps, FStart, FStart + steps * EmptyStepSize}));
    FStart += steps * EmptyStepSize;
}

void TMTFReader::ReadBlock()
{
    AddPositionLog(u"ReadBlock.Start       : ");
    uint8_t tag[4] = {};
    FBytesRead = FFileReader.Read(4, tag, FStart);
    if (FBytesRead < 4) {
        if (FReportShortHeader)
            AddError(Message(u"Insufficient data for header.  Required: 4 bytes, available: %d bytes",
                             {FFileSize - FStart}));
        return;
    }
    // Producers pad between blocks with up to four zero bytes.
    for (int i = 0; i < 4 && tag[i] == 0; ++i)
        ++FStart;
    FBytesRead = FFileReader.Read(4, tag, FStart);
    if (FBytesRead < 4) {
        AddError(Message(u"Insufficient data for header.  Required: 4 bytes, available: %d bytes",
                         {FFileSize - FStart}));
        return;
    }
    if (IsDescriptorType(tag))
        ReadCommonBlock();
    else
        ReadStreamBlock();
}

void TMTFReader::ReadCommonBlock()
{
    AddPositionLog(u"ReadCommonBlock.FStart: ");
    const int64_t available = FFileSize - FStart;
    if (available < 52) {
        // A file too short for a header is still told apart by its first bytes (a text
        // file, a tiny archive), so they are kept; nothing else reads them.
        if (FStart == 0 && available > 0) {
            const TBlock head{
                FFileReader.ReadView(static_cast<int32_t>(std::min<int64_t>(16, available)), 0)};
            for (int32_t i = 0; i < head.Length(); ++i)
                FFirstBytes.push_back(head.U8(static_cast<size_t>(i)));
        }
        AddError(
            Message(u"Insufficient data for common block header.  Required: %d bytes, available: %d bytes",
                    {52, available}));
        return;
    }
    // One mebibyte from FStart on: the block reader then holds what the next handlers
    // ask for. The handlers get a view of it, reading as zero beyond what was delivered.
    const TBlock block{FFileReader.ReadView(TMTFFileReader::RefillSize, FStart)};
    FBytesRead = block.Length();
    if (FStart == 0)
        for (int32_t i = 0; i < std::min<int32_t>(16, block.Length()); ++i)
            FFirstBytes.push_back(block.U8(static_cast<size_t>(i)));
    const uint8_t type[4] = {block.U8(0), block.U8(1), block.U8(2), block.U8(3)};
    if (!IsDescriptorType(type)) {
        AddError(u"Unknown DBLKType: " + TagText(type));
        return;
    }
    if (TagIs(type, "TAPE"))
        ReadTAPEBlock(block);
    else if (TagIs(type, "RAID"))
        ReadRAIDBlock(block);
    else if (TagIs(type, "SSET"))
        ReadSSETBlock(block);
    else if (TagIs(type, "VOLB"))
        ReadVOLBBlock(block);
    else if (TagIs(type, "ESET"))
        ReadESETBlock(block);
    else if (TagIs(type, "SFMB"))
        ReadSFMBBlock(block);

    const uint16_t offsetToFirstEvent = block.U16(8);
    // A media family block is 56 bytes whatever its header says there.
    FStart += TagIs(type, "RAID") ? 56 : offsetToFirstEvent;
    // A block without events is followed by the soft filemark's padding.
    if (offsetToFirstEvent == 0)
        FStart += FSoftFilemarkSize;
}

void TMTFReader::ReadStreamBlock()
{
    AddPositionLog(u"ReadStreamBlock.FStart: ");
    const int64_t available = FFileSize - FStart;
    if (available < 22) {
        AddError(Message(u"Insufficient data for stream block.  Required: %d bytes, available: %d bytes",
                         {22, available}));
        return;
    }
    const TBlock header{FFileReader.ReadView(TMTFFileReader::RefillSize, FStart)};
    FBytesRead = header.Length();
    const uint8_t id[4] = {header.U8(0), header.U8(1), header.U8(2), header.U8(3)};
    if (FKeepLog)
        AddLog(u"Read" + TagText(id) + u"Block.FStart   :" + Num(FStart));

    if (TagIs(id, "MSCI") || TagIs(id, "MSDA") || TagIs(id, "MSTL") || TagIs(id, "MSLS")) {
        // These streams are stepped over by the low 16 bits of their length only, and
        // the remainder modulo 4 is added rather than padded to the next multiple; real
        // files place the next header exactly there.
        const uint16_t w = header.U16(8);
        const int64_t streamStart = FStart;
        FStart += w + (w % 4);
        if (FStart > FFileSize && FStart > streamStart)
            FStreamPastEnd = streamStart;
    } else if (TagIs(id, "MQCI")) {
        // The SQL Server metadata blocks follow the header directly.
        FStart += 22;
    } else if (TagIs(id, "SCIN")) {
        ReadSCINBlock();
    } else if (TagIs(id, "SFGI")) {
        ReadSFGIBlock();
    } else if (TagIs(id, "SFIN")) {
        ReadSFINBlock();
    } else {
        // All 64 bits of the length count, with the sum taken as a signed number; a
        // length so large that it wraps moves the position backwards and ends the walk.
        const auto n = static_cast<int64_t>(22 + header.U64(8));
        const int64_t streamStart = FStart;
        FStart = static_cast<int64_t>(static_cast<uint64_t>(FStart) + static_cast<uint64_t>(n) +
                                      static_cast<uint64_t>(n % 4));
        if (FStart > FFileSize && FStart > streamStart)
            FStreamPastEnd = streamStart;
    }
}

// ---------------------------------------------------------------------------------------
// Descriptor blocks

void TMTFReader::ReadTAPEBlock(const TBlock& block)
{
    AddPositionLog(u"ReadTAPEBlock.FStart   :");
    if (block.Length() < 94) {
        AddError(Message(u"Insufficient data for tape header block.  Required: %d bytes, available: %d bytes",
                         {94, block.Length()}));
        return;
    }
    (void)DecodeMTFDate(block.Date(88).data());
    FSoftFilemarkSize = block.U16(64) * 512;
    if (FCheckTapeAddress) {
        const uint64_t address = block.U64(20);
        if (address != 0)
            AddError(u"CommonBlockHeader.FormatLogicalAddress.  Expected: 0, actual: " +
                     Utf8ToUtf16(std::to_string(address)));
        const uint32_t controlBlockID = block.U32(36);
        if (controlBlockID != 0)
            AddError(u"CommonBlockHeader.ControlBlockID.  Expected: 0, actual: " + Num(controlBlockID));
    }
}

void TMTFReader::ReadSSETBlock(const TBlock& block)
{
    AddPositionLog(u"ReadSSETBlock.FStart   :");
    if (block.Length() < 98) {
        AddError(Message(u"Insufficient data for tape header block.  Required: %d bytes, available: %d bytes",
                         {98, block.Length()}));
        return;
    }
    ++FSSETCount;
    FFilegroups.clear();
    // The table goes with the set before: what it took is free again.
    FRecordBytes -= FFilegroupBytes;
    FFilegroupBytes = 0;
    FFilegroupIndex.clear();
    if (FSSETCount - 1 > FSetIndex) {
        if (!FSetEnded) {
            // The set begun last never ended: what follows still belongs to it.
            AddError(Message(u"Backup set %d has no terminating ESET block.", {FSSETCount - 1}));
            return;
        }
        FSets.push_back(TBackupDetails{});
        ++FSetIndex;
        FSetEnded = false;
    }
    const int stringType = block.U8(48);
    const int64_t bound = block.Length();
    TBackupHeader& header = CurrentHeader();

    const TTapeAddress osData = TapeAddressAt(block, 44);
    // The set's GUID is the 16 bytes at the OS-specific data, even when that field
    // declares fewer.
    if (osData.Size != 0 && osData.Offset + osData.Size <= bound)
        header.BackupSetGUID = block.Guid(osData.Offset);
    header.SoftwareVendorID = block.U16(60);
    header.DataSetNumber = block.U16(62);
    header.BackupName = DecodeMTFString(block, bound, stringType, TapeAddressAt(block, 64));
    header.BackupDescription = DecodeMTFString(block, bound, stringType, TapeAddressAt(block, 68));
    header.HasPassword = !DecodeMTFString(block, bound, stringType, TapeAddressAt(block, 72)).empty();
    header.UserName = Utf16ToUtf8(DecodeMTFString(block, bound, stringType, TapeAddressAt(block, 76)));
    header.BackupStartDate = DecodeMTFDate(block.Date(88).data());
    header.SoftwareVersionMajor = block.U8(93);
    header.SoftwareVersionMinor = block.U8(94);
}

void TMTFReader::ReadVOLBBlock(const TBlock& block)
{
    AddPositionLog(u"ReadVOLBBlock.FStart   :");
    if (block.Length() < 73) {
        AddError(Message(u"Insufficient data for VOLB block.  Required: %d bytes, available: %d bytes",
                         {73, block.Length()}));
        return;
    }
    CurrentHeader().MachineName =
        Utf16ToUtf8(DecodeMTFString(block, block.Length(), block.U8(48), TapeAddressAt(block, 64)));
    (void)DecodeMTFDate(block.Date(68).data());
}

void TMTFReader::ReadESETBlock(const TBlock& block)
{
    AddPositionLog(u"ReadESETBlock.FStart   :");
    if (block.Length() < 85) {
        AddError(Message(u"Insufficient data for ESET block.  Required: %d bytes, available: %d bytes",
                         {85, block.Length()}));
        return;
    }
    FSetEnded = true;
    CurrentHeader().BackupEndDate = DecodeMTFDate(block.Date(80).data());
}

void TMTFReader::ReadSFMBBlock(const TBlock& block)
{
    AddPositionLog(u"ReadSFMBBlock.FStart   :");
    if (block.Length() < 60)
        AddError(Message(u"Insufficient data for tape header block.  Required: %d bytes, available: %d bytes",
                         {60, block.Length()}));
}

void TMTFReader::ReadRAIDBlock(const TBlock& block)
{
    AddPositionLog(u"ReadRAIDBlock.FStart   :");
    if (block.Length() < 56) {
        AddError(Message(u"Insufficient data for RAID header block.  Required: %d bytes, available: %d bytes",
                         {56, block.Length()}));
        return;
    }
    FFamilyGUID = block.Guid(22);
    FFamilyCount = static_cast<int32_t>(block.U32(42));
    // Real files store a 16-bit count with a 1 in the word above it (0x00010002 for two
    // stripes); a family has at most 64 members, so the low seven bits are the count.
    if (FFamilyCount > 64)
        FFamilyCount &= 127;
    FFamilySequence = static_cast<int32_t>(block.U32(46));
}

// ---------------------------------------------------------------------------------------
// SQL Server metadata blocks inside the MQCI stream

bool TMTFReader::ReadMetadataBlock(const std::u16string& tag, std::span<uint8_t> header, int32_t& declared,
                                   TBlock& block)
{
    const int64_t available = FFileSize - FStart;
    const auto headerSize = static_cast<int64_t>(header.size());
    if (available < headerSize) {
        AddError(Message(u"Insufficient data for " + tag +
                             u" stream block header.  Required: %d bytes, available: %d bytes",
                         {headerSize, available}));
        return false;
    }
    FBytesRead = FFileReader.Read(static_cast<int32_t>(headerSize), header.data(), FStart);
    declared = static_cast<int32_t>(TBlock{header}.U32(4));
    if (declared > available) {
        AddError(Message(u"Insufficient data for " + tag +
                             u" stream block.  Required: %d bytes, available: %d bytes",
                         {declared, available}));
        return false;
    }
    // A size of 2^31 or more reads as negative: no block bytes are read.
    block = declared > 0 ? TBlock(FFileReader.ReadView(declared, FStart)) : TBlock();
    FBytesRead = block.Length();
    return true;
}

void TMTFReader::ReadSCINBlock()
{
    std::array<uint8_t, 288> headerBytes{};
    int32_t declared = 0;
    TBlock block;
    if (!ReadMetadataBlock(u"SCIN", headerBytes, declared, block))
        return;
    const TBlock h{headerBytes};
    TBackupHeader& header = CurrentHeader();
    const uint32_t flags = h.U32(8);
    header.Flags = static_cast<int32_t>(flags);
    header.HasBulkLoggedData = flags & 0x1;
    header.IsSnapshot = flags & 0x2;
    header.IsReadOnly = flags & 0x4;
    header.IsSingleUser = flags & 0x8;
    header.HasBackupChecksums = flags & 0x10;
    header.IsDamaged = flags & 0x20;
    header.BeginsLogChain = flags & 0x40;
    header.HasIncompleteMetadata = flags & 0x80;
    header.IsForceOffline = flags & 0x100;
    header.IsCopyOnly = (flags & 0x400) || header.BeginsLogChain;
    header.SoftwareVersionBuild = h.U16(24);
    header.SoftwareVersionMinor = h.U8(26);
    header.SoftwareVersionMajor = h.U8(27);
    header.FirstLSN = LSNAt(h, 32);
    header.LastLSN = LSNAt(h, 42);
    header.CheckpointLSN = LSNAt(h, 52);
    header.DatabaseBackupLSN = LSNAt(h, 62);
    header.DatabaseCreationDate = DecodeMTFDate(headerBytes.data() + 72);
    (void)DecodeMTFDate(headerBytes.data() + 82);  // the end date comes from the ESET block

    const uint8_t letter = h.U8(87);
    // The type code is an ASCII letter in every real backup; other bytes are Windows-1252.
    header.BackupTypeCode = letter == 0 ? std::string()
                            : letter < 0x80
                                ? std::string(1, static_cast<char>(letter))
                                : Utf16ToUtf8(Windows1252ToUtf16(std::string(1, static_cast<char>(letter))));
    struct TBackupKind {
        char Letter;
        int32_t Type;
        const char* Description;
    };
    static constexpr TBackupKind Kinds[] = {{'D', 1, "Database"},
                                            {'L', 2, "Transaction log"},
                                            {'F', 4, "File/filegroup"},
                                            {'I', 5, "Database differential"},
                                            {'G', 6, "File differential"},
                                            {'P', 7, "Partial"},
                                            {'Q', 8, "Partial differential"}};
    for (const TBackupKind& kind : Kinds)
        if (letter == static_cast<uint8_t>(kind.Letter)) {
            header.BackupType = kind.Type;
            header.BackupTypeDescription = kind.Description;
        }
    header.SortOrder = h.U8(88);
    header.CompatibilityLevel = h.U8(91);
    header.DatabaseVersion = h.U16(94);
    header.BackupSize = static_cast<int64_t>(h.U64(96));

    // The names lie in the block behind the header, bounded by what was delivered.
    header.DatabaseName = DecodeMTFString(block, block.Length(), 2, TapeAddressAt(h, 104));
    header.ServerName = Utf16ToUtf8(DecodeMTFString(block, block.Length(), 2, TapeAddressAt(h, 108)));

    header.UnicodeLocaleID = static_cast<int32_t>(h.U32(116));
    header.UnicodeComparisonStyle = static_cast<int32_t>(h.U32(120));
    header.BindingID = h.Guid(124);
    header.RecoveryForkID = h.Guid(156);
    header.ForkPointLSN = LSNAt(h, 172);
    // Bit 0 of the recovery model byte is a flag of its own (log backups set it), so
    // it is cleared before the model is looked up.
    switch (h.U8(244) & ~1) {
    case 0:
        header.RecoveryModel = "FULL";
        break;
    case 4:
        header.RecoveryModel = "BULK-LOGGED";
        break;
    case 8:
        header.RecoveryModel = "SIMPLE";
        break;
    default:
        break;
    }
    header.Collation = h.U16(216);
    // Older servers write a 264-byte block without the differential base.
    if (static_cast<uint32_t>(declared) > 264) {
        header.DifferentialBaseLSN = LSNAt(h, 260);
        header.DifferentialBaseGUID = h.Guid(272);
    }
    FStart += static_cast<uint32_t>(declared);
}

void TMTFReader::ReadSFGIBlock()
{
    std::array<uint8_t, 20> headerBytes{};
    int32_t declared = 0;
    TBlock block;
    if (!ReadMetadataBlock(u"SFGI", headerBytes, declared, block))
        return;
    const TBlock h{headerBytes};
    const std::u16string name = DecodeMTFString(block, block.Length(), 2, TapeAddressAt(h, 16));
    // The table holds names as narrow text would: what that text cannot carry is lost.
    // A database has at most 32,767 filegroups: a longer table is one damaged block
    // repeated, and keeping it would let the table grow with the file.
    if (FFilegroups.size() < MaxFilegroups) {
        const auto id = static_cast<int32_t>(h.U32(12));
        FFilegroupIndex.emplace(id, FFilegroups.size());
        FFilegroups.emplace_back(Utf8ToUtf16(Utf16ToUtf8(name)), id);
        const int64_t cost = static_cast<int64_t>(sizeof(FFilegroups.back()) + 2 * sizeof(size_t)) +
                             TextCost(FFilegroups.back().first);
        FRecordBytes += cost;
        FFilegroupBytes += cost;
    }
    FStart += static_cast<uint32_t>(declared);
}

void TMTFReader::ReadSFINBlock()
{
    std::array<uint8_t, 294> headerBytes{};
    int32_t declared = 0;
    TBlock block;
    if (!ReadMetadataBlock(u"SFIN", headerBytes, declared, block))
        return;
    const TBlock h{headerBytes};
    // Names are bounded by the declared size; bytes the read did not deliver read as
    // zero.

    auto& files = FSets[FSetIndex].Files;
    if (FFileIndexSet != FSetIndex) {
        // File IDs are unique within Files: a file is appended only when its ID is new.
        FFileIndex.clear();
        for (size_t i = 0; i < files.size(); ++i)
            FFileIndex.emplace(files[i].FileID, i);
        FFileIndexSet = FSetIndex;
    }
    const auto fileID = static_cast<int32_t>(h.U32(20));
    auto [slot, added] = FFileIndex.emplace(fileID, files.size());
    if (added)
        files.emplace_back();
    TBackupFile* file = &files[slot->second];
    const int64_t costBefore = added ? 0 : FileCost(*file);
    file->FileID = fileID;
    switch (h.U32(28)) {
    case 1:
        file->FileType = "D";
        break;
    case 2:
        file->FileType = "L";
        break;
    case 6:
        file->FileType = "F";
        break;
    case 7:
        file->FileType = "S";
        break;
    default:
        break;
    }
    file->FilegroupID = static_cast<int32_t>(h.U32(36));
    // The table already holds each name as it comes back from narrow text, so it is
    // taken as it stands rather than narrowed and widened again for every SFIN block.
    file->FilegroupName = FilegroupNameOf(file->FilegroupID);
    file->Size = static_cast<int64_t>(h.U64(40));
    file->LogicalName = DecodeMTFString(block, declared, 2, TapeAddressAt(h, 48));
    file->PhysicalName = DecodeMTFString(block, declared, 2, TapeAddressAt(h, 52));
    const uint32_t flags = h.U32(8);
    file->IsReadOnly = flags & 0x40;
    file->IsPresent = flags & 0x4;
    file->MaxSize = static_cast<int64_t>(h.U64(86));
    file->CreateLSN = LSNAt(h, 138);
    file->DifferentialBaseLSN = LSNAt(h, 158);
    file->DifferentialBaseGUID = h.Guid(170);
    file->UniqueID = h.Guid(186);
    file->BackupSize = static_cast<int64_t>(h.U64(250));
    file->SourceBlockSize = static_cast<int32_t>(h.U32(32));
    file->ReadOnlyLSN = LSNAt(h, 274);
    file->ReadWriteLSN = LSNAt(h, 284);
    FRecordBytes += FileCost(*file) - costBefore;
    FStart += static_cast<uint32_t>(declared);
}

std::string TMTFReader::GetFilegroupName(int32_t filegroupID) const
{
    return Utf16ToUtf8(FilegroupNameOf(filegroupID));
}

std::u16string TMTFReader::FilegroupNameOf(int32_t filegroupID) const
{
    // The first filegroup with the ID names it, as a scan of the table in order would.
    const auto found = FFilegroupIndex.find(filegroupID);
    return found == FFilegroupIndex.end() ? std::u16string() : FFilegroups[found->second].first;
}
