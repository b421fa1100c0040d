#pragma once
// The backup reader: walks a Microsoft Tape Format stream block by block, lets the
// handler of each descriptor block and SQL Server metadata block fill the records, and
// steps over every data stream by seeking.

#include "uTypesMTF.h"
#include "u_FileReader.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class TMTFFileReader;

// Bytes the block reader has answered a request with: Size bytes of the file from Start
// on. They are fetched from the file only when looked at, so a walk that asks for a
// mebibyte to read a header of 52 bytes costs a few kibibytes of reading.
class TFileView {
public:
    TFileView() = default;
    TFileView(TMTFFileReader* reader, int64_t start, int32_t size)
        : FReader(reader), FStart(start), FSize(size)
    {
    }

    [[nodiscard]] size_t size() const { return static_cast<size_t>(FSize); }
    [[nodiscard]] bool empty() const { return FSize == 0; }
    [[nodiscard]] int64_t Start() const { return FStart; }
    // Byte i of the view; 0 beyond it.
    [[nodiscard]] uint8_t operator[](size_t i) const;
    [[nodiscard]] uint8_t front() const { return (*this)[0]; }

private:
    TMTFFileReader* FReader = nullptr;
    int64_t FStart = 0;
    int32_t FSize = 0;
};

// The block reader. The walk asks for bytes at a 64-bit position, the same region
// several times and always moving forward, and takes the count delivered as the truth.
// That count follows one fixed rule: a 2 MiB window refilled 1 MiB at a time at
// offsets that stay multiples of 512, keeping the unread tail, crossing a gap by a skip
// of whole sectors (FBufferStart, FBufferLength and FAtEnd describe that window). The
// bytes themselves come from the file in aligned pieces of 4 KiB, and only those the
// walk looks at: a skip over a stream of gigabytes followed by a block of a few hundred
// bytes reads a few kibibytes, not a mebibyte. Pieces read one after the other grow the
// read ahead up to 1 MiB, so a long run of metadata is still read in large requests.
class TMTFFileReader {
public:
    static constexpr int32_t BufferSize = 2097152;
    static constexpr int32_t RefillSize = 1048576;
    static constexpr int32_t PieceSize = 4096;
    static constexpr int32_t PieceSlots = BufferSize / PieceSize;
    // The read ahead after a jump, and the most it grows to while the walk reads on.
    static constexpr int32_t FirstRunPieces = 4;
    static constexpr int32_t LongestRunPieces = RefillSize / PieceSize;

    explicit TMTFFileReader(std::shared_ptr<TPlatformFileApi> api = PosixFileApi());
    ~TMTFFileReader();
    TMTFFileReader(const TMTFFileReader&) = delete;
    TMTFFileReader& operator=(const TMTFFileReader&) = delete;

    bool Open(const std::u16string& path);
    // Copies up to count bytes at position p into dest; returns the count delivered.
    int32_t Read(int32_t count, void* dest, int64_t p);
    // The same request, with the same effect on the window, answered with a view whose
    // bytes are fetched when they are looked at.
    TFileView ReadView(int32_t count, int64_t p);
    void Close();

    // Byte q of the file, which an earlier request delivered; 0 when the file could not
    // give it (it failed, or ended early).
    [[nodiscard]] uint8_t ByteAt(int64_t q)
    {
        const int64_t piece = q / PieceSize;
        const auto slot = static_cast<size_t>(piece % PieceSlots);
        if (FPieceOf[slot] != piece)
            Fetch(piece);
        const auto offset = static_cast<int32_t>(q % PieceSize);
        return offset < FPieceLength[slot] ? FBuffer[slot * PieceSize + static_cast<size_t>(offset)] : 0;
    }
    // n bytes from q on into dest, as ByteAt gives them.
    void CopyOut(int64_t q, size_t n, uint8_t* dest);
    // Where the zeros from p on end: the first position before limit whose byte is not
    // zero or could not be read, else limit. Holes the file system tells are crossed
    // without reading, and at most readLimit bytes are read. It leaves the window and
    // the file's position as they were and asks nothing a request would.
    [[nodiscard]] int64_t ZeroRunEnd(int64_t p, int64_t limit, int64_t readLimit);
    // How many of the n bytes from p on are zeros the file delivered, counted from p
    // until the first that is not (or that the file could not give).
    [[nodiscard]] int64_t LeadingZeros(int64_t p, int64_t n);

    TFileReader FFile;
    // The pieces read, PieceSlots of them, each in the slot of its number modulo
    // PieceSlots.
    std::unique_ptr<uint8_t[]> FBuffer;
    bool FAtEnd = false;
    bool FIsOpen = false;
    int64_t FBufferStart = 0;
    int32_t FBufferLength = 0;

private:
    // Requests the pieces from number piece on, as many as the read ahead allows.
    void Fetch(int64_t piece);
    // The window rule: what a request for count bytes at p delivers.
    int32_t Request(int32_t count, int64_t p);

    std::vector<int64_t> FPieceOf;      // the piece number each slot holds, -1 for none
    std::vector<int32_t> FPieceLength;  // the bytes of it the file delivered
    // Where the file ends as far as is known: its size when opened, lowered when a read
    // delivers less.
    int64_t FKnownSize = 0;
    // The file could not be read or positioned: nothing more is asked of it.
    bool FFailed = false;
    int64_t FNextSequential = -1;
    int32_t FRunPieces = FirstRunPieces;
};

inline uint8_t TFileView::operator[](size_t i) const
{
    return i < size() ? FReader->ByteAt(FStart + static_cast<int64_t>(i)) : 0;
}

// What one read of a backup file answers: whether the file could be opened, the backup
// sets found, the problems met (in order) and, when asked for, the log of every step.
struct TBackupFileReport {
    bool Opened = false;
    // The caller stopped the walk before the end of the file; the sets are those read
    // until then, and CancelledAt is the position of the block the walk did not read.
    bool Cancelled = false;
    int64_t CancelledAt = 0;
    int64_t FileSize = 0;
    TBackupSets Sets;
    std::vector<std::u16string> ErrorLines;
    // What the file lacks although no step of the walk failed, such as the end of a
    // backup set; kept apart from the error lines, which callers match as they are.
    std::vector<std::u16string> Warnings;
    std::vector<std::u16string> LogLines;
    // Up to the first 16 bytes of the file, to say what a file that is not a tape-format
    // backup looks like instead.
    std::vector<uint8_t> FirstBytes;
};

struct TReadOptions {
    // Log lines cost memory in proportion to the number of blocks; a caller that never
    // shows them leaves them off.
    bool KeepLog = false;
    bool ReportShortHeader = false;
    bool CheckTapeAddress = false;
    // The file system to read through; the real one when empty.
    std::shared_ptr<TPlatformFileApi> Api;
    // Called before every step of the walk with the read position and the file size;
    // answering false stops the walk there (the report says Cancelled).
    std::function<bool(int64_t position, int64_t fileSize)> OnProgress;
};

// The one entry for callers: reads the backup file at path and answers with its report.
[[nodiscard]] TBackupFileReport ReadBackupFile(const std::u16string& path, const TReadOptions& options = {});

class TMTFReader {
public:
    explicit TMTFReader(std::shared_ptr<TPlatformFileApi> api = PosixFileApi());

    // Walks the file and keeps what it found until the next read; false when the file
    // could not be opened. A name read before by this reader is answered from the sets
    // kept then, without opening the file again.
    bool ReadFile(const std::u16string& FileName, bool ReportShortHeader = false,
                  bool CheckTapeAddress = false);

    [[nodiscard]] const TBackupSets& Sets() const { return FSets; }
    [[nodiscard]] const std::vector<std::u16string>& ErrorLines() const { return FErrorLines; }
    [[nodiscard]] const std::vector<std::u16string>& LogLines() const { return FLogLines; }
    // What the file lacks although no step failed: a set without its end, a stream cut
    // short by the end of the file.
    [[nodiscard]] const std::vector<std::u16string>& Warnings() const { return FWarnings; }

    void SetKeepLog(bool keep) { FKeepLog = keep; }
    // Called with FStart before every step of the walk; the fuzzer checks with it that
    // the walk only moves forward.
    // A step over 28 bytes of zeros, four of padding and an empty stream of type 0.
    static constexpr int64_t EmptyStepSize = 28;

    // The walk crosses a region of zeros at once; turned off, it takes each of its empty
    // steps, which the tests and the fuzzer compare the crossing with.
    void SetCrossZeros(bool cross) { FCrossZeros = cross; }
    void SetOnStep(std::function<void(int64_t)> onStep) { FOnStep = std::move(onStep); }
    void SetOnProgress(std::function<bool(int64_t, int64_t)> onProgress)
    {
        FOnProgress = std::move(onProgress);
    }

private:
    friend TBackupFileReport ReadBackupFile(const std::u16string&, const TReadOptions&);
    // The tests' narrow view of the walk's state (tests/support).
    friend struct TMTFReaderProbe;

    std::vector<std::u16string> FLogLines;
    std::vector<std::u16string> FErrorLines;
    std::vector<std::pair<std::u16string, int32_t>> FFilegroups;
    TMTFFileReader FFileReader;
    int64_t FStart = 0;
    int64_t FFileSize = 0;
    bool FCheckTapeAddress = false;
    int32_t FBytesRead = 0;
    TBackupSets FSets;
    TBackupSets FKnownSets;
    int32_t FSetIndex = 0;
    int32_t FSSETCount = 0;
    bool FSetEnded = false;
    int32_t FSoftFilemarkSize = 0;
    TGUID FFamilyGUID{};
    int32_t FFamilyCount = 0;
    int32_t FFamilySequence = 0;
    bool FReportShortHeader = false;
    bool FKeepLog = true;
    std::function<void(int64_t)> FOnStep;
    std::function<bool(int64_t, int64_t)> FOnProgress;
    bool FCancelled = false;
    int64_t FCancelledAt = 0;
    // A position from FStart on whose byte is known not to be zero, -1 for none.
    int64_t FNonZeroAt = -1;
    bool FCrossZeros = true;
    std::vector<uint8_t> FFirstBytes;
    std::vector<std::u16string> FWarnings;
    // The memory the records of this read take, as counted, and what a file of this
    // size may make them take; the log has a budget of its own.
    int64_t FRecordBytes = 0;
    int64_t FRecordBudget = 0;
    int64_t FLogBytes = 0;
    int64_t FFilegroupBytes = 0;
    int32_t FChargedSet = -1;
    int64_t FChargedHeader = 0;
    size_t FPathLength = 0;
    // ReadBackupFile's reader reads once: keeping a copy of every set for a second read
    // of the same name would double the records for nothing.
    bool FKeepKnownSets = true;
    // Counts what the current set's header takes now; false when the records have
    // outgrown their budget.
    bool ChargeCurrentSet();
    // Where the stream that moved the walk beyond the end of the file began, -1 if none.
    int64_t FStreamPastEnd = -1;

    void AddError(const std::u16string& text);
    void AddLog(const std::u16string& text);
    // Logs a label followed by the walk position, building the line only when the log
    // is kept.
    void AddPositionLog(std::u16string_view label);

public:
    // A block as the descriptor handlers see it: the bytes delivered from its first
    // byte on, reading as zero beyond them.
    struct TBlock {
        TBlock() = default;
        // Bytes held in memory (a header copied out, a test's bytes).
        TBlock(std::span<const uint8_t> bytes) : FBytes(bytes), FLength(static_cast<int32_t>(bytes.size())) {}
        // Bytes the block reader delivered, fetched as they are looked at.
        TBlock(const TFileView& view)
            : FView(view), FFromFile(true), FLength(static_cast<int32_t>(view.size()))
        {
        }

        [[nodiscard]] int32_t Length() const { return FLength; }
        [[nodiscard]] uint8_t U8(size_t offset) const
        {
            if (offset >= static_cast<size_t>(FLength))
                return 0;
            return FFromFile ? FView[offset] : FBytes[offset];
        }
        [[nodiscard]] uint16_t U16(size_t offset) const;
        [[nodiscard]] uint32_t U32(size_t offset) const;
        [[nodiscard]] uint64_t U64(size_t offset) const;
        [[nodiscard]] TGUID Guid(size_t offset) const;
        // The 5 bytes of a packed date at offset.
        [[nodiscard]] std::array<uint8_t, 5> Date(size_t offset) const;

    private:
        std::span<const uint8_t> FBytes;
        TFileView FView;
        bool FFromFile = false;
        int32_t FLength = 0;
    };

    // An MTF tape address: where a variable-length field lies, counted from the first
    // byte of its block.
    struct TTapeAddress {
        uint16_t Size = 0;
        uint16_t Offset = 0;
    };
    [[nodiscard]] static TTapeAddress TapeAddressAt(const TBlock& block, size_t offset)
    {
        return {block.U16(offset), block.U16(offset + 2)};
    }
    // An MTF string of string type 1 (Windows-1252) or 2 (UTF-16LE) inside block, empty
    // when it does not lie within the first bound bytes.
    [[nodiscard]] static std::u16string DecodeMTFString(const TBlock& block, int64_t bound, int stringType,
                                                        TTapeAddress address);

private:
    // A packed 5-byte MTF date; an invalid one adds an error line and counts as 0.
    [[nodiscard]] TDateTime DecodeMTFDate(const uint8_t* bytes);

    void ReadBlock();
    void SkipEmptySteps();
    void ReadCommonBlock();
    void ReadStreamBlock();

    void ReadTAPEBlock(const TBlock& block);
    void ReadSSETBlock(const TBlock& block);
    void ReadVOLBBlock(const TBlock& block);
    void ReadESETBlock(const TBlock& block);
    void ReadSFMBBlock(const TBlock& block);
    void ReadRAIDBlock(const TBlock& block);

    void ReadSCINBlock();
    void ReadSFGIBlock();
    void ReadSFINBlock();
    [[nodiscard]] std::string GetFilegroupName(int32_t filegroupID) const;
    [[nodiscard]] std::u16string FilegroupNameOf(int32_t filegroupID) const;

    // Where each file ID of the current set stands in its Files list: a set may hold
    // 32,767 files, and each SFIN block looks its file up.
    std::unordered_map<int32_t, size_t> FFileIndex;
    int32_t FFileIndexSet = -1;
    // Filegroup ID -> its first place in FFilegroups, so that naming a file's filegroup
    // does not scan a table of up to 32,767 entries once per SFIN block.
    std::unordered_map<int32_t, size_t> FFilegroupIndex;

    // The fixed header of a SQL Server metadata block at FStart (its size is the span's),
    // its declared size, and the block itself as far as that size; false, with the
    // error line written, when the file holds less than either.
    bool ReadMetadataBlock(const std::u16string& tag, std::span<uint8_t> header, int32_t& declared,
                           TBlock& block);
    void FindKnownSets(const std::u16string& FileName);
    void KeepSets();
    TBackupHeader& CurrentHeader() { return FSets[FSetIndex].Header; }
};

// A stored log sequence number A * 10^15 + B * 10^5 + C, exactly.
[[nodiscard]] TBigInteger DecodeLSN(int32_t A, int32_t B, uint16_t C);
