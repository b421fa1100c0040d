#include "uFixtureBuilder.h"

#include "uDateTime.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

std::vector<uint8_t> LE(uint64_t v, size_t bytes)
{
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
    return out;
}

std::vector<uint8_t> Text(const TMTFText& text, uint8_t stringType)
{
    if (text.RawBytes)
        return {text.RawBytes->begin(), text.RawBytes->end()};
    if (stringType == 1) {
        std::vector<uint8_t> out;
        for (char16_t c : text.Text)
            out.push_back(static_cast<uint8_t>(c));  // tests use Latin-1 text for type 1
        return out;
    }
    return TFixtureBuilder::Utf16(text.Text);
}

std::vector<uint8_t> GuidBytes(const TGUID& guid)
{
    return {guid.begin(), guid.end()};
}

// Lays out a SQL Server metadata block: header bytes, then the strings, with their
// tape addresses written into the header, and the declared size at offset 4.
std::vector<uint8_t> MetadataBlock(const char* tag, std::vector<uint8_t> header,
                                   const std::vector<std::pair<size_t, std::vector<uint8_t>>>& strings,
                                   std::optional<int32_t> declared)
{
    std::copy(tag, tag + 4, header.begin());
    for (const auto& [addressOffset, bytes] : strings) {
        const size_t at = header.size();
        auto address = LE(bytes.size(), 2);
        auto offset = LE(at, 2);
        std::copy(address.begin(), address.end(), header.begin() + addressOffset);
        std::copy(offset.begin(), offset.end(), header.begin() + addressOffset + 2);
        header.insert(header.end(), bytes.begin(), bytes.end());
    }
    auto size = LE(static_cast<uint32_t>(declared.value_or(static_cast<int32_t>(header.size()))), 4);
    std::copy(size.begin(), size.end(), header.begin() + 4);
    return header;
}

void Put(std::vector<uint8_t>& block, size_t at, const std::vector<uint8_t>& bytes)
{
    std::copy(bytes.begin(), bytes.end(), block.begin() + at);
}

}  // namespace

std::vector<uint8_t> TFixtureBuilder::MTFDate(const TMTFDateParts& d)
{
    return {static_cast<uint8_t>(d.Year >> 6), static_cast<uint8_t>(((d.Year & 63) << 2) | (d.Month >> 2)),
            static_cast<uint8_t>(((d.Month & 3) << 6) | ((d.Day & 31) << 1) | ((d.Hour >> 4) & 1)),
            static_cast<uint8_t>(((d.Hour & 15) << 4) | ((d.Minute >> 2) & 15)),
            static_cast<uint8_t>(((d.Minute & 3) << 6) | (d.Second & 63))};
}

std::vector<uint8_t> TFixtureBuilder::LSN(const TStoredLSN& lsn)
{
    std::vector<uint8_t> out = LE(static_cast<uint32_t>(lsn.A), 4);
    auto b = LE(static_cast<uint32_t>(lsn.B), 4);
    auto c = LE(lsn.C, 2);
    out.insert(out.end(), b.begin(), b.end());
    out.insert(out.end(), c.begin(), c.end());
    return out;
}

std::vector<uint8_t> TFixtureBuilder::Utf16(const std::u16string& text)
{
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

TSfinSpec LogFileSpec()
{
    TSfinSpec log;
    log.FileID = 2;
    log.TypeCode = 2;
    log.FilegroupID = 0;
    log.Size = 2097152;
    log.LogicalName = u"Sales_log";
    log.PhysicalName = u"L:\\Log\\Sales_log.ldf";
    log.BackupSize = 65536;
    return log;
}

TStoredLSN StoredLSN(uint64_t value)
{
    return {static_cast<int32_t>(value / 1000000000000000ULL),
            static_cast<int32_t>(static_cast<uint32_t>(value / 100000 % 10000000000ULL)),
            static_cast<uint16_t>(value % 100000)};
}

TGUID NumberedGuid(uint8_t tag, uint32_t number)
{
    TGUID guid{tag, 0x5A, 0x5A, 0x5A, 0, 0, 0, 0, 0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    for (int i = 0; i < 4; ++i)
        guid[4 + i] = static_cast<uint8_t>(number >> (8 * i));
    return guid;
}

TBackupSetSpec PlanSet(const TPlanSetSpec& p)
{
    TBackupSetSpec set;
    set.Sset.DataSetNumber = p.Position;
    set.Sset.BackupSetGUID = p.BackupSetGUID;
    set.Sset.Password = TMTFText{p.Password};
    set.Sset.WriteDate = p.Start;
    set.Sset.VersionMajor = p.VersionMajor;
    set.Sset.Name = TMTFText{p.DatabaseName + u" backup"};
    set.Eset.WriteDate = p.End;
    TScinSpec& scin = set.Scin;
    scin.TypeLetter = p.Type;
    scin.FirstLSN = StoredLSN(p.FirstLSN);
    scin.LastLSN = StoredLSN(p.LastLSN);
    scin.CheckpointLSN = StoredLSN(p.CheckpointLSN);
    scin.DatabaseBackupLSN = StoredLSN(p.DatabaseBackupLSN);
    scin.DifferentialBaseGUID = p.DifferentialBaseGUID;
    scin.DifferentialBaseLSN = StoredLSN(p.Type == 'I' ? p.DatabaseBackupLSN : 0);
    scin.BindingID = p.BindingID;
    scin.RecoveryForkID = p.RecoveryForkID;
    scin.DatabaseName = p.DatabaseName;
    scin.ServerName = p.ServerName;
    scin.RecoveryModelCode = static_cast<uint8_t>(p.RecoveryModelCode | (p.Type == 'L' ? 1 : 0));
    scin.Major = p.VersionMajor;
    scin.EndDate = p.End;
    scin.Flags = 0x10 | (p.BulkLogged ? 0x1 : 0) | (p.Damaged ? 0x20 : 0) |
                 (p.IncompleteMetadata ? 0x80 : 0) | (p.CopyOnly ? 0x400 : 0);
    set.Files = p.Files;
    // The planner reads headers only: a token data stream keeps thousands of files small.
    set.DataLength = 64;
    return set;
}

TRaidSpec Stripe(int32_t count, int32_t sequence, const TGUID& family)
{
    TRaidSpec raid;
    raid.FamilyGUID = family;
    raid.FamilyCount = 0x00010000 | count;
    raid.FamilySequence = sequence;
    return raid;
}

TDateTime ExpectedDate(const TMTFDateParts& d)
{
    if (d.Year == 0 || d.Day == 0)
        return 0;
    return EncodeDateTime({d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second}).value_or(0);
}

TFixtureBuilder& TFixtureBuilder::U8(uint8_t v)
{
    Data.push_back(v);
    return *this;
}
TFixtureBuilder& TFixtureBuilder::U16(uint16_t v)
{
    auto b = LE(v, 2);
    Data.insert(Data.end(), b.begin(), b.end());
    return *this;
}
TFixtureBuilder& TFixtureBuilder::U32(uint32_t v)
{
    auto b = LE(v, 4);
    Data.insert(Data.end(), b.begin(), b.end());
    return *this;
}
TFixtureBuilder& TFixtureBuilder::U64(uint64_t v)
{
    auto b = LE(v, 8);
    Data.insert(Data.end(), b.begin(), b.end());
    return *this;
}
TFixtureBuilder& TFixtureBuilder::Ascii(const std::string& text)
{
    Data.insert(Data.end(), text.begin(), text.end());
    return *this;
}
TFixtureBuilder& TFixtureBuilder::Zeros(size_t count)
{
    Data.insert(Data.end(), count, 0);
    return *this;
}
TFixtureBuilder& TFixtureBuilder::Raw(std::span<const uint8_t> bytes)
{
    Data.insert(Data.end(), bytes.begin(), bytes.end());
    return *this;
}
void TFixtureBuilder::PutU16(size_t at, uint16_t v)
{
    Put(Data, at, LE(v, 2));
}
void TFixtureBuilder::PutU32(size_t at, uint32_t v)
{
    Put(Data, at, LE(v, 4));
}
void TFixtureBuilder::PutU64(size_t at, uint64_t v)
{
    Put(Data, at, LE(v, 8));
}

size_t TFixtureBuilder::Descriptor(const TCommonHeaderSpec& common, size_t fixedLength,
                                   const std::vector<TField>& fields, const std::vector<TString>& strings)
{
    std::vector<uint8_t> block(std::max<size_t>(fixedLength, 52), 0);
    std::copy(common.Type.begin(), common.Type.begin() + std::min<size_t>(4, common.Type.size()),
              block.begin());
    Put(block, 20, LE(common.FormatLogicalAddress, 8));
    Put(block, 36, LE(common.ControlBlockID, 4));
    block[48] = common.StringType;
    for (const TField& field : fields)
        Put(block, field.Offset, field.Bytes);
    for (const TString& s : strings) {
        Put(block, s.AddressOffset, LE(s.Bytes.size(), 2));
        Put(block, s.AddressOffset + 2, LE(s.Bytes.empty() ? 0 : block.size(), 2));
        block.insert(block.end(), s.Bytes.begin(), s.Bytes.end());
    }
    Put(block, 8, LE(common.OffsetToFirstEvent.value_or(static_cast<uint16_t>(block.size())), 2));
    const size_t at = Data.size();
    Raw(block);
    return at;
}

size_t TFixtureBuilder::Tape(const TTapeSpec& spec)
{
    return Descriptor(spec.Common, 96, {{64, LE(spec.SoftFilemarkBlocks, 2)}, {88, MTFDate(spec.MediaDate)}},
                      {{68, Text({spec.MediaName}, spec.Common.StringType)}});
}

size_t TFixtureBuilder::Sset(const TSsetSpec& spec)
{
    const uint8_t type = spec.Common.StringType;
    std::vector<TString> strings = {{44, spec.OsSpecificData.value_or(GuidBytes(spec.BackupSetGUID))},
                                    {64, Text(spec.Name, type)},
                                    {68, Text(spec.Description, type)},
                                    {72, Text(spec.Password, type)},
                                    {76, Text(spec.UserName, type)}};
    return Descriptor(spec.Common, 100,
                      {{60, LE(spec.SoftwareVendorID, 2)},
                       {62, LE(spec.DataSetNumber, 2)},
                       {88, MTFDate(spec.WriteDate)},
                       {93, {spec.VersionMajor, spec.VersionMinor}}},
                      strings);
}

size_t TFixtureBuilder::Volb(const TVolbSpec& spec)
{
    return Descriptor(spec.Common, 76, {{68, MTFDate(spec.WriteDate)}},
                      {{64, Text(spec.MachineName, spec.Common.StringType)}});
}

size_t TFixtureBuilder::Eset(const TEsetSpec& spec)
{
    return Descriptor(spec.Common, 88, {{80, MTFDate(spec.WriteDate)}});
}

size_t TFixtureBuilder::Sfmb(const TCommonHeaderSpec& common)
{
    return Descriptor(common, 64, {});
}

size_t TFixtureBuilder::Raid(const TRaidSpec& spec)
{
    std::vector<uint8_t> block(56, 0);
    Put(block, 0, {'R', 'A', 'I', 'D'});
    Put(block, 8, LE(spec.OffsetToFirstEvent, 2));
    Put(block, 22, GuidBytes(spec.FamilyGUID));
    Put(block, 42, LE(static_cast<uint32_t>(spec.FamilyCount), 4));
    Put(block, 46, LE(static_cast<uint32_t>(spec.FamilySequence), 4));
    const size_t at = Data.size();
    Raw(block);
    return at;
}

size_t TFixtureBuilder::StreamWithBody(const std::string& id, uint64_t length, size_t bodyBytes)
{
    const size_t at = Data.size();
    Ascii(id.substr(0, 4)).U16(0).U16(0).U64(length).U16(0).U16(0).U16(0).Zeros(bodyBytes);
    return at;
}

size_t TFixtureBuilder::Stream(const std::string& id, uint64_t length)
{
    // The bytes up to where the walk places the next header.
    uint64_t advance;
    if (id == "MSCI" || id == "MSDA" || id == "MSTL" || id == "MSLS") {
        const uint64_t w = length & 0xFFFF;
        advance = std::max<uint64_t>(22, w + w % 4);
    } else {
        const uint64_t n = 22 + length;
        advance = n + n % 4;
    }
    return StreamWithBody(id, length, static_cast<size_t>(advance - 22));
}

size_t TFixtureBuilder::Mqci(uint64_t length)
{
    return StreamWithBody("MQCI", length, 0);
}

size_t TFixtureBuilder::Scin(const TScinSpec& s)
{
    std::vector<uint8_t> h(288, 0);
    Put(h, 8, LE(s.Flags, 4));
    Put(h, 24, LE(s.Build, 2));
    h[26] = s.Minor;
    h[27] = s.Major;
    Put(h, 32, LSN(s.FirstLSN));
    Put(h, 42, LSN(s.LastLSN));
    Put(h, 52, LSN(s.CheckpointLSN));
    Put(h, 62, LSN(s.DatabaseBackupLSN));
    Put(h, 72, MTFDate(s.CreationDate));
    Put(h, 82, MTFDate(s.EndDate));
    h[87] = static_cast<uint8_t>(s.TypeLetter);
    h[88] = s.SortOrder;
    h[91] = s.CompatibilityLevel;
    Put(h, 94, LE(s.DatabaseVersion, 2));
    Put(h, 96, LE(static_cast<uint64_t>(s.BackupSize), 8));
    Put(h, 116, LE(static_cast<uint32_t>(s.UnicodeLocaleID), 4));
    Put(h, 120, LE(static_cast<uint32_t>(s.UnicodeComparisonStyle), 4));
    Put(h, 124, GuidBytes(s.BindingID));
    Put(h, 156, GuidBytes(s.RecoveryForkID));
    Put(h, 172, LSN(s.ForkPointLSN));
    Put(h, 216, LE(s.Collation, 2));
    h[244] = s.RecoveryModelCode;
    Put(h, 260, LSN(s.DifferentialBaseLSN));
    Put(h, 272, GuidBytes(s.DifferentialBaseGUID));
    const size_t at = Data.size();
    Raw(MetadataBlock("SCIN", h, {{104, Utf16(s.DatabaseName)}, {108, Utf16(s.ServerName)}}, s.DeclaredSize));
    return at;
}

size_t TFixtureBuilder::Sfgi(int32_t id, const std::u16string& name, std::optional<int32_t> declaredSize)
{
    std::vector<uint8_t> h(20, 0);
    Put(h, 12, LE(static_cast<uint32_t>(id), 4));
    const size_t at = Data.size();
    Raw(MetadataBlock("SFGI", h, {{16, Utf16(name)}}, declaredSize));
    return at;
}

size_t TFixtureBuilder::Sfin(const TSfinSpec& s)
{
    std::vector<uint8_t> h(294, 0);
    Put(h, 8, LE(s.Flags, 4));
    Put(h, 20, LE(static_cast<uint32_t>(s.FileID), 4));
    Put(h, 28, LE(s.TypeCode, 4));
    Put(h, 32, LE(static_cast<uint32_t>(s.SourceBlockSize), 4));
    Put(h, 36, LE(static_cast<uint32_t>(s.FilegroupID), 4));
    Put(h, 40, LE(static_cast<uint64_t>(s.Size), 8));
    Put(h, 86, LE(static_cast<uint64_t>(s.MaxSize), 8));
    Put(h, 138, LSN(s.CreateLSN));
    Put(h, 158, LSN(s.DifferentialBaseLSN));
    Put(h, 170, GuidBytes(s.DifferentialBaseGUID));
    Put(h, 186, GuidBytes(s.UniqueID));
    Put(h, 250, LE(static_cast<uint64_t>(s.BackupSize), 8));
    Put(h, 274, LSN(s.ReadOnlyLSN));
    Put(h, 284, LSN(s.ReadWriteLSN));
    const size_t at = Data.size();
    Raw(MetadataBlock("SFIN", h, {{48, Utf16(s.LogicalName)}, {52, Utf16(s.PhysicalName)}}, s.DeclaredSize));
    return at;
}

void TFixtureBuilder::MediaHeader(const TTapeSpec& tape, const TRaidSpec& raid)
{
    Tape(tape);
    Raid(raid);
    Stream("SPAD", 10);
}

void TFixtureBuilder::BackupSet(const TBackupSetSpec& spec)
{
    auto metadata = [&](const TScinSpec& scin) {
        Mqci();
        Scin(scin);
        for (const auto& [id, name] : spec.Filegroups)
            Sfgi(id, name);
        for (const TSfinSpec& file : spec.Files)
            Sfin(file);
    };
    Sfmb();
    Sset(spec.Sset);
    Stream("SPAD", 6);
    Volb(spec.Volb);
    Stream("SPAD", 2);
    Stream("MSCI", 100);
    metadata(spec.Scin);
    Stream("SPAD", 14);
    Stream("MQDA", spec.DataLength);
    // Real files repeat the metadata after the data; being read later, it wins.
    metadata(spec.Scin);
    Sfmb();
    Eset(spec.Eset);
    Stream("OTCP", 40);
    Stream("TSMP", 16);
    Stream("SPAD", 30);
}

void TFixtureBuilder::BackupFile(const std::vector<TBackupSetSpec>& sets, const TRaidSpec& raid)
{
    MediaHeader({}, raid);
    for (const TBackupSetSpec& set : sets)
        BackupSet(set);
}

void TFixtureBuilder::WriteTo(const std::string& path) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

TTempDir::TTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    FPath = pattern;
}

TTempDir::~TTempDir()
{
    std::error_code error;
    std::filesystem::remove_all(FPath, error);
}

TPlanSetSpec PlanSetAt(char type, uint32_t id, uint64_t first, uint64_t last, int endMinute,
                       uint16_t position)
{
    const auto at = [](int minutes) { return TMTFDateParts{2021, 3, 4, minutes / 60, minutes % 60, 0}; };
    TPlanSetSpec s;
    s.Type = type;
    s.BackupSetGUID = NumberedGuid(0x51, id);
    s.FirstLSN = first;
    s.LastLSN = last;
    s.CheckpointLSN = first;
    s.Position = position;
    s.Start = at(endMinute - 1);
    s.End = at(endMinute);
    return s;
}
