#pragma once
// Writes synthetic backup files block by block, so a test states the bytes it needs in
// a few lines. Every descriptor block is its 52-byte common header, its fixed fields
// and a string area; OffsetToFirstEvent defaults to the block's own length, so the
// walk steps straight to what is appended next.

#include "uTypesMTF.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct TMTFDateParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

struct TStoredLSN {
    int32_t A = 0, B = 0;
    uint16_t C = 0;
};

// A string as a block stores it: UTF-16 for string type 2, Windows-1252 bytes for 1.
struct TMTFText {
    TMTFText(std::u16string text = {}) : Text(std::move(text)) {}
    std::u16string Text;
    std::optional<std::string> RawBytes;  // exact bytes to store instead (type 1 tests)
};

struct TCommonHeaderSpec {
    TCommonHeaderSpec(std::string type = {}) : Type(std::move(type)) {}
    std::string Type;                            // four characters
    std::optional<uint16_t> OffsetToFirstEvent;  // default: the block's length
    uint64_t FormatLogicalAddress = 0;
    uint32_t ControlBlockID = 0;
    uint8_t StringType = 2;
};

struct TTapeSpec {
    TCommonHeaderSpec Common{"TAPE"};
    uint16_t SoftFilemarkBlocks = 0;  // in units of 512 bytes
    TMTFDateParts MediaDate{2020, 1, 2, 3, 4, 5};
    std::u16string MediaName = u"Tarnwick media";
};

struct TSsetSpec {
    TCommonHeaderSpec Common{"SSET"};
    uint16_t SoftwareVendorID = 0x1200;
    uint16_t DataSetNumber = 1;
    TMTFText Name{u"Full backup"};
    TMTFText Description{u"Nightly"};
    TMTFText Password{};
    TMTFText UserName{u"CONTOSO\\dba"};
    TMTFDateParts WriteDate{2021, 3, 4, 10, 20, 30};
    uint8_t VersionMajor = 15, VersionMinor = 0;
    // The OS-specific data (tape address at offset 44): by default the 16 GUID bytes.
    std::optional<std::vector<uint8_t>> OsSpecificData;
    TGUID BackupSetGUID{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                        0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01};
};

struct TVolbSpec {
    TCommonHeaderSpec Common{"VOLB"};
    TMTFText MachineName{u"SQLHOST01"};
    TMTFDateParts WriteDate{2021, 3, 4, 10, 20, 30};
};

struct TEsetSpec {
    TCommonHeaderSpec Common{"ESET"};
    TMTFDateParts WriteDate{2021, 3, 4, 10, 25, 0};
};

struct TRaidSpec {
    uint16_t OffsetToFirstEvent = 56;
    TGUID FamilyGUID{0xA1, 0xA2, 0xA3, 0xA4, 0xB1, 0xB2, 0xC1, 0xC2,
                     0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8};
    int32_t FamilyCount = 0x00010001;  // real files: a 16-bit count with 1 above it
    int32_t FamilySequence = 1;
};

struct TScinSpec {
    std::optional<int32_t> DeclaredSize;  // default: the block's real length
    uint32_t Flags = 0x10;
    uint16_t Build = 4236;
    uint8_t Minor = 0, Major = 15;
    TStoredLSN FirstLSN{37, 416, 1}, LastLSN{37, 448, 1}, CheckpointLSN{37, 416, 1},
        DatabaseBackupLSN{0, 0, 0};
    TMTFDateParts CreationDate{2019, 5, 6, 7, 8, 9};
    TMTFDateParts EndDate{2021, 3, 4, 10, 25, 0};  // at offset 82, decoded and dropped
    char TypeLetter = 'D';
    uint8_t SortOrder = 52, CompatibilityLevel = 150;
    uint16_t DatabaseVersion = 904;
    int64_t BackupSize = 3403776;
    std::u16string DatabaseName = u"Sales";
    std::u16string ServerName = u"SQLHOST01\\PROD";
    int32_t UnicodeLocaleID = 1033, UnicodeComparisonStyle = 196609;
    TGUID BindingID{0x10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    TGUID RecoveryForkID{0x20, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    TStoredLSN ForkPointLSN{};
    uint16_t Collation = 1033;
    uint8_t RecoveryModelCode = 0;
    TStoredLSN DifferentialBaseLSN{36, 100, 7};
    TGUID DifferentialBaseGUID{0x30, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
};

struct TSfinSpec {
    std::optional<int32_t> DeclaredSize;
    uint32_t Flags = 0x4;
    int32_t FileID = 1;
    uint32_t TypeCode = 1;
    int32_t SourceBlockSize = 512;
    int32_t FilegroupID = 1;
    int64_t Size = 8388608;
    std::u16string LogicalName = u"Sales";
    std::u16string PhysicalName = u"D:\\Data\\Sales.mdf";
    int64_t MaxSize = -1;
    TStoredLSN CreateLSN{}, DifferentialBaseLSN{};
    TGUID DifferentialBaseGUID{};
    TGUID UniqueID{0x40, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    int64_t BackupSize = 3145728;
    TStoredLSN ReadOnlyLSN{}, ReadWriteLSN{};
};

// The transaction log file of the sample database.
[[nodiscard]] TSfinSpec LogFileSpec();

// One backup set as real files lay it out: SFMB, SSET, SPAD, VOLB, SPAD, MSCI, MQCI with
// SCIN, SFGI and the SFIN blocks, SPAD, a data stream the walk skips, SFMB, ESET.
struct TBackupSetSpec {
    TSsetSpec Sset;
    TVolbSpec Volb;
    TScinSpec Scin;
    std::vector<std::pair<int32_t, std::u16string>> Filegroups{{1, u"PRIMARY"}};
    std::vector<TSfinSpec> Files{TSfinSpec{}, LogFileSpec()};
    uint64_t DataLength = 65536 * 3;
    TEsetSpec Eset;
};

// An LSN given as one number A * 10^15 + B * 10^5 + C, the way scenarios state them
// (B must stay below 2^32).
[[nodiscard]] TStoredLSN StoredLSN(uint64_t value);

// A GUID told apart from others by its tag byte and a number, for scenarios that need
// many distinct set, binding or fork GUIDs.
[[nodiscard]] TGUID NumberedGuid(uint8_t tag, uint32_t number);

// The header values that decide how a set fits a restore sequence, in the terms a
// restore scenario is written in; PlanSet turns them into the blocks of one set.
struct TPlanSetSpec {
    char Type = 'D';  // 'D' full, 'I' differential, 'L' log, 'F' file or filegroup
    uint64_t FirstLSN = 0, LastLSN = 0, CheckpointLSN = 0, DatabaseBackupLSN = 0;
    TGUID BackupSetGUID{}, DifferentialBaseGUID{};

    TGUID BindingID = TScinSpec{}.BindingID;
    TGUID RecoveryForkID = TScinSpec{}.RecoveryForkID;
    std::u16string DatabaseName = u"Sales";
    std::u16string ServerName = u"SQLHOST01\\PROD";
    uint16_t Position = 1;  // DataSetNumber: the set's place in its media
    bool CopyOnly = false, Damaged = false, IncompleteMetadata = false, BulkLogged = false;
    std::u16string Password;        // a set with a password is marked as protected
    uint8_t RecoveryModelCode = 0;  // as stored: 0 FULL, 4 BULK-LOGGED, 8 SIMPLE
    uint8_t VersionMajor = 15;
    TMTFDateParts Start{2021, 3, 4, 10, 0, 0}, End{2021, 3, 4, 10, 0, 0};
    std::vector<TSfinSpec> Files{TSfinSpec{}, LogFileSpec()};
};

// A set of the given type on 4 March 2021 that ends endMinute minutes after midnight and
// began a minute before, its GUID numbered id, its checkpoint at its first LSN: the
// shape the restore-planning scenarios are written in.
[[nodiscard]] TPlanSetSpec PlanSetAt(char type, uint32_t id, uint64_t first, uint64_t last, int endMinute,
                                     uint16_t position = 1);
[[nodiscard]] TBackupSetSpec PlanSet(const TPlanSetSpec& spec);

// The RAID block of member `sequence` of a media family of `count` files, stored the
// way real files store the count.
[[nodiscard]] TRaidSpec Stripe(int32_t count, int32_t sequence, const TGUID& family = TRaidSpec{}.FamilyGUID);

class TFixtureBuilder {
public:
    std::vector<uint8_t> Data;

    [[nodiscard]] int64_t Size() const { return static_cast<int64_t>(Data.size()); }

    // Raw bytes.
    TFixtureBuilder& U8(uint8_t v);
    TFixtureBuilder& U16(uint16_t v);
    TFixtureBuilder& U32(uint32_t v);
    TFixtureBuilder& U64(uint64_t v);
    TFixtureBuilder& Ascii(const std::string& text);
    TFixtureBuilder& Zeros(size_t count);
    TFixtureBuilder& Raw(std::span<const uint8_t> bytes);
    // Overwrites bytes already written (little-endian numbers).
    void PutU16(size_t at, uint16_t v);
    void PutU32(size_t at, uint32_t v);
    void PutU64(size_t at, uint64_t v);

    // A descriptor block with the given fields after the common header; returns the
    // file offset of the block. Fields are (offset, bytes) pairs counted from the block
    // start; strings go into a string area behind `fixedLength` bytes.
    struct TField {
        size_t Offset;
        std::vector<uint8_t> Bytes;
    };
    struct TString {
        size_t AddressOffset;  // where the tape address goes
        std::vector<uint8_t> Bytes;
    };
    size_t Descriptor(const TCommonHeaderSpec& common, size_t fixedLength, const std::vector<TField>& fields,
                      const std::vector<TString>& strings = {});

    size_t Tape(const TTapeSpec& spec = {});
    size_t Sset(const TSsetSpec& spec = {});
    size_t Volb(const TVolbSpec& spec = {});
    size_t Eset(const TEsetSpec& spec = {});
    size_t Sfmb(const TCommonHeaderSpec& common = {"SFMB"});
    size_t Raid(const TRaidSpec& spec = {});

    // A 22-byte stream header with the given length field, then `bodyBytes` bytes of
    // body (zeros unless given); the body is padded the way the walk advances.
    size_t Stream(const std::string& id, uint64_t length);
    size_t StreamWithBody(const std::string& id, uint64_t length, size_t bodyBytes);
    // MQCI stream header: the SQL Server blocks follow it directly.
    size_t Mqci(uint64_t length = 0);

    size_t Scin(const TScinSpec& spec = {});
    size_t Sfgi(int32_t id, const std::u16string& name, std::optional<int32_t> declaredSize = {});
    size_t Sfin(const TSfinSpec& spec = {});

    // TAPE, RAID, SPAD: the start of a real backup file.
    void MediaHeader(const TTapeSpec& tape = {}, const TRaidSpec& raid = {});
    void BackupSet(const TBackupSetSpec& spec = {});
    // A whole backup file: the media header, then the sets appended in order.
    void BackupFile(const std::vector<TBackupSetSpec>& sets, const TRaidSpec& raid = {});

    void WriteTo(const std::string& path) const;

    static std::vector<uint8_t> MTFDate(const TMTFDateParts& d);
    static std::vector<uint8_t> LSN(const TStoredLSN& lsn);
    static std::vector<uint8_t> Utf16(const std::u16string& text);
};

// The values the reader should produce for a date written by MTFDate.
[[nodiscard]] TDateTime ExpectedDate(const TMTFDateParts& d);

// A temporary folder removed when the object goes.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    [[nodiscard]] std::string Path(const std::string& name) const { return FPath + "/" + name; }
    [[nodiscard]] const std::string& Dir() const { return FPath; }

private:
    std::string FPath;
};
