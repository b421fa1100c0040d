#pragma once
// The backup reader: walks a Microsoft Tape Format stream block by block, lets the
// handler of each descriptor block and SQL Server metadata block fill the records, and
// steps over every data stream by seeking.

#include "uTypesMTF.h"
#include "u_FileReader.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The block reader: answers requests for bytes at a 64-bit position from a 2 MiB
// buffer refilled 1 MiB at a time at offsets that stay multiples of 512, because the
// walk asks for the same region several times and always moves forward.
class TMTFFileReader {
public:
    static constexpr int32_t BufferSize = 2097152;
    static constexpr int32_t RefillSize = 1048576;

    explicit TMTFFileReader(std::shared_ptr<TPlatformFileApi> api = PosixFileApi());
    ~TMTFFileReader();
    TMTFFileReader(const TMTFFileReader&) = delete;
    TMTFFileReader& operator=(const TMTFFileReader&) = delete;

    bool Open(const std::u16string& path);
    // Copies up to count bytes at position p into dest; returns the count delivered.
    int32_t Read(int32_t count, void* dest, int64_t p);
    // The same request, with the same effect on the buffer, but answered with a view
    // into the buffer instead of a copy; valid until the next request.
    std::span<const uint8_t> ReadView(int32_t count, int64_t p);
    void Close();

    TFileReader FFile;
    std::unique_ptr<uint8_t[]> FBuffer;
    bool FAtEnd = false;
    bool FIsOpen = false;
    int64_t FBufferStart = 0;
    int32_t FBufferLength = 0;
};

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

    void SetKeepLog(bool keep) { FKeepLog = keep; }
    // Called with FStart before every step of the walk; the fuzzer checks with it that
    // the walk only moves forward.
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
    std::vector<uint8_t> FFirstBytes;

    void AddError(const std::u16string& text);
    void AddLog(const std::u16string& text);
    // Logs a label followed by the walk position, building the line only when the log
    // is kept.
    void AddPositionLog(std::u16string_view label);

public:
    // A block as the descriptor handlers see it: the bytes delivered from its first
    // byte on, reading as zero beyond them.
    struct TBlock {
        std::span<const uint8_t> Bytes;
        [[nodiscard]] int32_t Length() const { return static_cast<int32_t>(Bytes.size()); }
        [[nodiscard]] uint8_t U8(size_t offset) const { return offset < Bytes.size() ? Bytes[offset] : 0; }
        [[nodiscard]] uint16_t U16(size_t offset) const;
        [[nodiscard]] uint32_t U32(size_t offset) const;
        [[nodiscard]] uint64_t U64(size_t offset) const;
        [[nodiscard]] TGUID Guid(size_t offset) const;
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
