// A valid two-set backup damaged systematically: cut at every block boundary and inside
// every block, each header field flipped, declared sizes and stream lengths set to their
// edge values. Whatever the damage, the read ends, the sets completed before it are
// read in full, and the error lines say where the walk stopped.

#include "uReaderInvariants.h"
#include "uReaderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <numeric>
#include <set>
#include <string>
#include <vector>

namespace {

// Where each block of the generated backup lies, as the builder wrote it.
struct TMark {
    std::string Kind;
    size_t Start = 0;
    size_t End = 0;
    [[nodiscard]] size_t Size() const { return End - Start; }
};

struct TLayout {
    std::vector<uint8_t> Bytes;
    std::vector<TMark> Blocks;
    std::vector<size_t> SetEnds;  // the end of each set's ESET block
};

TBackupSetSpec SetSpec(int number)
{
    TBackupSetSpec spec;
    spec.Sset.DataSetNumber = static_cast<uint16_t>(number);
    spec.Sset.Name = TMTFText(number == 1 ? u"Full backup" : u"Log backup");
    spec.Scin.TypeLetter = number == 1 ? 'D' : 'L';
    spec.Scin.DatabaseName = number == 1 ? u"Sales" : u"Sales2";
    spec.Filegroups = {{1, u"PRIMARY"}, {2, u"ARCHIVE"}};
    TSfinSpec archive;
    archive.FileID = 3;
    archive.FilegroupID = 2;
    archive.LogicalName = u"Sales_archive";
    spec.Files.push_back(archive);
    spec.DataLength = 1000;
    return spec;
}

// The layout of TFixtureBuilder::BackupSet, block by block, so that every block's kind
// and place are known; the bytes are checked against the builder's own.
const TLayout& TwoSets()
{
    static const TLayout layout = [] {
        TLayout l;
        TFixtureBuilder b;
        auto mark = [&](const std::string& kind, size_t start) {
            l.Blocks.push_back({kind, start, b.Data.size()});
        };
        mark("TAPE", b.Tape());
        mark("RAID", b.Raid());
        mark("SPAD", b.Stream("SPAD", 10));
        for (int number = 1; number <= 2; ++number) {
            const TBackupSetSpec spec = SetSpec(number);
            auto metadata = [&] {
                mark("MQCI", b.Mqci());
                mark("SCIN", b.Scin(spec.Scin));
                for (const auto& [id, name] : spec.Filegroups)
                    mark("SFGI", b.Sfgi(id, name));
                for (const TSfinSpec& file : spec.Files)
                    mark("SFIN", b.Sfin(file));
            };
            mark("SFMB", b.Sfmb());
            mark("SSET", b.Sset(spec.Sset));
            mark("SPAD", b.Stream("SPAD", 6));
            mark("VOLB", b.Volb(spec.Volb));
            mark("SPAD", b.Stream("SPAD", 2));
            mark("MSCI", b.Stream("MSCI", 100));
            metadata();
            mark("SPAD", b.Stream("SPAD", 14));
            mark("MQDA", b.Stream("MQDA", spec.DataLength));
            metadata();
            mark("SFMB", b.Sfmb());
            mark("ESET", b.Eset(spec.Eset));
            l.SetEnds.push_back(b.Data.size());
            mark("OTCP", b.Stream("OTCP", 40));
            mark("TSMP", b.Stream("TSMP", 16));
            mark("SPAD", b.Stream("SPAD", 30));
        }
        l.Bytes = b.Data;

        TFixtureBuilder reference;
        reference.MediaHeader();
        reference.BackupSet(SetSpec(1));
        reference.BackupSet(SetSpec(2));
        if (reference.Data != l.Bytes)
            ADD_FAILURE() << "the marked layout is no longer the fixture builder's";
        return l;
    }();
    return layout;
}

const TReadResult& Undamaged()
{
    static const TReadResult result = ReadBytes(TwoSets().Bytes, true);
    return result;
}

bool IsDescriptor(const std::string& kind)
{
    return kind == "TAPE" || kind == "RAID" || kind == "SSET" || kind == "VOLB" || kind == "ESET" ||
           kind == "SFMB";
}

std::string Fill(const std::string& pattern, std::initializer_list<int64_t> values)
{
    std::string out;
    auto value = values.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.compare(i, 2, "%d") == 0 && value != values.end()) {
            out += std::to_string(*value++);
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string ShortHeader(int64_t available)
{
    return Fill("Insufficient data for header.  Required: 4 bytes, available: %d bytes", {available});
}

// The smallest length each descriptor handler accepts, and the words of its line.
struct THandlerMinimum {
    const char* Kind;
    int64_t Minimum;
    const char* Words;
};
constexpr THandlerMinimum HandlerMinimums[] = {
    {"TAPE", 94, "tape header block"}, {"SSET", 98, "tape header block"}, {"VOLB", 73, "VOLB block"},
    {"ESET", 85, "ESET block"},        {"SFMB", 60, "tape header block"}, {"RAID", 56, "RAID header block"},
};

// The header each SQL Server metadata block reads before its declared size is checked.
int64_t MetadataHeader(const std::string& kind)
{
    return kind == "SCIN" ? 288 : kind == "SFGI" ? 20 : kind == "SFIN" ? 294 : 0;
}

// The error lines of a read of the first `length` bytes, from the kind of the block the
// cut falls into and how much of it is left.
std::vector<std::string> ExpectedAfterCut(size_t length)
{
    const auto fileSize = static_cast<int64_t>(length);
    // After the first block, read before the walk's loop, the loop's first step looks for
    // a header even at the very end of the file.
    if (length == TwoSets().Blocks[1].Start)
        return {ShortHeader(0)};
    for (const TMark& block : TwoSets().Blocks) {
        if (length == block.Start && length > 0)
            return {};  // a step that ends exactly at the end of the file ends the walk
        if (length < block.Start || length >= block.End)
            continue;
        const auto available = static_cast<int64_t>(length - block.Start);
        const auto end = static_cast<int64_t>(block.End);
        // The first block is read as a descriptor block without looking at its type.
        if (available < 4 && block.Start > 0)
            return {ShortHeader(available)};
        if (IsDescriptor(block.Kind)) {
            if (available < 52)
                return {Fill(
                    "Insufficient data for common block header.  Required: 52 bytes, available: %d bytes",
                    {available})};
            std::vector<std::string> lines;
            for (const THandlerMinimum& handler : HandlerMinimums)
                if (block.Kind == handler.Kind && available < handler.Minimum)
                    lines.push_back(Fill(std::string("Insufficient data for ") + handler.Words +
                                             ".  Required: %d bytes, available: %d bytes",
                                         {handler.Minimum, available}));
            // The block's offset to its first event lies within what was delivered: the walk
            // steps to where the next block would be, beyond the end of the file.
            lines.push_back(ShortHeader(fileSize - end));
            return lines;
        }
        if (available < 22)
            return {Fill("Insufficient data for stream block.  Required: 22 bytes, available: %d bytes",
                         {available})};
        if (const int64_t header = MetadataHeader(block.Kind)) {
            if (available < header)
                return {Fill("Insufficient data for " + block.Kind +
                                 " stream block header.  Required: %d bytes, available: %d bytes",
                             {header, available})};
            return {Fill("Insufficient data for " + block.Kind +
                             " stream block.  Required: %d bytes, available: %d bytes",
                         {static_cast<int64_t>(block.Size()), available})};
        }
        return {ShortHeader(fileSize - end)};
    }
    return {};
}

// Every set whose ESET block lies before `damage` must be the set the undamaged file gives.
void ExpectSetsBeforeComplete(const TReadResult& damaged, size_t damage)
{
    const TBackupSets& full = Undamaged().Sets();
    for (size_t set = 0; set < TwoSets().SetEnds.size(); ++set) {
        if (TwoSets().SetEnds[set] > damage)
            break;
        ASSERT_GT(damaged.Sets().size(), set) << "set " << set + 1 << " was completed before the damage";
        EXPECT_EQ(damaged.Sets()[set], full[set]) << "set " << set + 1;
    }
}

void ExpectInvariants(const std::vector<uint8_t>& bytes)
{
    const std::vector<std::string> broken = CheckRead(bytes.data(), bytes.size());
    EXPECT_TRUE(broken.empty()) << broken.front();
}

std::vector<int64_t> StepsOf(const std::vector<uint8_t>& bytes)
{
    TReadResult result;
    result.Api->Add("backup.bak", bytes);
    result.Reader = std::make_unique<TMTFReader>(result.Api);
    std::vector<int64_t> steps;
    result.Reader->SetOnStep([&steps](int64_t start) { steps.push_back(start); });
    result.Reader->ReadFile(u"backup.bak", true);
    return steps;
}

// ---------------------------------------------------------------------------------------

TEST(Damage, UndamagedTwoSetsReadWithoutErrors)
{
    const TReadResult& full = Undamaged();
    EXPECT_TRUE(full.Errors().empty());
    ASSERT_EQ(full.Sets().size(), 2u);
    EXPECT_EQ(full.Header(0).DatabaseName, u"Sales");
    EXPECT_EQ(full.Header(1).DatabaseName, u"Sales2");
    EXPECT_EQ(full.Sets()[1].Files.size(), 3u);
    // Every marked block is a step of the walk: the marks are where the walk goes.
    std::vector<int64_t> marks;
    for (const TMark& block : TwoSets().Blocks)
        marks.push_back(static_cast<int64_t>(block.Start));
    EXPECT_EQ(StepsOf(TwoSets().Bytes), marks);
}

// The cuts: every block boundary, and inside every block the places where what the walk
// needs runs out (the tag, the stream header, the common header, each handler's minimum,
// each metadata header) and the last byte.
std::vector<size_t> CutLengths()
{
    std::set<size_t> cuts;
    for (const TMark& block : TwoSets().Blocks) {
        cuts.insert(block.Start);
        std::vector<size_t> inside = {1, 3, 4, 21, 22, 51, 52, block.Size() - 1};
        for (const THandlerMinimum& handler : HandlerMinimums)
            if (block.Kind == handler.Kind)
                inside.insert(inside.end(), {static_cast<size_t>(handler.Minimum) - 1,
                                             static_cast<size_t>(handler.Minimum)});
        if (const int64_t header = MetadataHeader(block.Kind))
            inside.insert(inside.end(), {static_cast<size_t>(header) - 1, static_cast<size_t>(header)});
        for (size_t offset : inside)
            if (offset > 0 && offset < block.Size())
                cuts.insert(block.Start + offset);
    }
    return {cuts.begin(), cuts.end()};
}

class DamageCut : public testing::TestWithParam<size_t> {};

TEST_P(DamageCut, EndsKeepsEarlierSetsAndSaysWhere)
{
    const size_t length = GetParam();
    const std::vector<uint8_t> bytes(TwoSets().Bytes.begin(),
                                     TwoSets().Bytes.begin() + static_cast<long>(length));
    const TReadResult cut = ReadBytes(bytes, true);
    EXPECT_EQ(cut.Errors(), ExpectedAfterCut(length));
    ExpectSetsBeforeComplete(cut, length);
    ExpectInvariants(bytes);
}

INSTANTIATE_TEST_SUITE_P(EveryBoundaryAndInside, DamageCut, testing::ValuesIn(CutLengths()));

// ---------------------------------------------------------------------------------------
// Flipped header fields

struct TField {
    size_t Offset;
    size_t Size;
};

std::vector<TField> HeaderFields(const std::string& kind)
{
    if (IsDescriptor(kind)) {
        // The common block header: type, attributes, offset to first event, OS ID and
        // version, displayable size, format logical address, control block ID, OS-specific
        // data, string type, checksum; then the handler's own fields.
        std::vector<TField> fields = {{0, 4},  {4, 4},  {8, 2},  {10, 1}, {11, 1}, {12, 8},
                                      {20, 8}, {36, 4}, {44, 4}, {48, 1}, {50, 2}};
        if (kind == "TAPE")
            fields.insert(fields.end(), {{64, 2}, {68, 4}, {88, 5}});
        if (kind == "SSET")
            fields.insert(fields.end(),
                          {{60, 2}, {62, 2}, {64, 4}, {68, 4}, {72, 4}, {76, 4}, {88, 5}, {93, 2}});
        if (kind == "VOLB")
            fields.insert(fields.end(), {{64, 4}, {68, 5}});
        if (kind == "ESET")
            fields.insert(fields.end(), {{80, 5}});
        if (kind == "RAID")
            fields.insert(fields.end(), {{22, 16}, {42, 4}, {46, 4}});
        return fields;
    }
    if (kind == "SCIN")
        return {{0, 4}, {4, 4}, {8, 4}, {72, 5}, {82, 5}, {87, 1}, {104, 4}, {108, 4}, {244, 1}};
    if (kind == "SFGI")
        return {{0, 4}, {4, 4}, {12, 4}, {16, 4}};
    if (kind == "SFIN")
        return {{0, 4}, {4, 4}, {20, 4}, {28, 4}, {36, 4}, {48, 4}, {52, 4}};
    // The stream header: ID, the two attribute words, length, encryption, compression,
    // checksum.
    return {{0, 4}, {4, 2}, {6, 2}, {8, 8}, {16, 2}, {18, 2}, {20, 2}};
}

struct TFlip {
    size_t Block;
    TField Field;
};

std::vector<TFlip> Flips()
{
    std::vector<TFlip> flips;
    const auto& blocks = TwoSets().Blocks;
    for (size_t i = 0; i < blocks.size(); ++i)
        for (const TField& field : HeaderFields(blocks[i].Kind))
            if (field.Offset + field.Size <= blocks[i].Size())
                flips.push_back({i, field});
    return flips;
}

class DamageFlip : public testing::TestWithParam<TFlip> {};

TEST_P(DamageFlip, EndsAndKeepsEarlierSets)
{
    const TFlip flip = GetParam();
    const TMark& block = TwoSets().Blocks[flip.Block];
    std::vector<uint8_t> bytes = TwoSets().Bytes;
    for (size_t i = 0; i < flip.Field.Size; ++i)
        bytes[block.Start + flip.Field.Offset + i] ^= 0xFF;

    const TReadResult damaged = ReadBytes(bytes, true);
    // An SSET block that is no longer one begins no set: what follows it is read into the
    // set before, as any block between an ESET and the next SSET is. Only the sets before
    // that one stay as they were.
    const bool setStartLost = block.Kind == "SSET" && flip.Field.Offset == 0;
    size_t intact = block.Start;
    if (setStartLost) {
        const auto& ends = TwoSets().SetEnds;
        const auto before =
            std::find_if(ends.rbegin(), ends.rend(), [&](size_t end) { return end <= block.Start; });
        intact = before == ends.rend() ? 0 : *before - 1;
    }
    ExpectSetsBeforeComplete(damaged, intact);
    ExpectInvariants(bytes);
    // The walk reaches the damaged block the way it did before.
    const std::vector<int64_t> steps = StepsOf(bytes);
    ASSERT_GT(steps.size(), flip.Block);
    EXPECT_EQ(steps[flip.Block], static_cast<int64_t>(block.Start));
}

INSTANTIATE_TEST_SUITE_P(EveryHeaderField, DamageFlip, testing::ValuesIn(Flips()),
                         [](const testing::TestParamInfo<TFlip>& info) {
                             const TMark& block = TwoSets().Blocks[info.param.Block];
                             return block.Kind + "_at_" + std::to_string(block.Start) + "_field_" +
                                    std::to_string(info.param.Field.Offset);
                         });

// The first block's type is read as nothing else: its damage is named exactly.
TEST(Damage, FlippedFirstTypeIsNamed)
{
    std::vector<uint8_t> bytes = TwoSets().Bytes;
    for (size_t i = 0; i < 4; ++i)
        bytes[i] ^= 0x20;  // "TAPE" in lower case
    const TReadResult damaged = ReadBytes(bytes, true);
    EXPECT_EQ(damaged.Errors(), std::vector<std::string>{"Unknown DBLKType: tape"});
    EXPECT_EQ(damaged.Sets().size(), 1u);
}

// ---------------------------------------------------------------------------------------
// Declared sizes and stream lengths at their edges

constexpr uint64_t TwoTo31 = 0x80000000ULL;
constexpr uint64_t Int64Max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
constexpr uint64_t Uint64Max = std::numeric_limits<uint64_t>::max();

enum class TOutcome {
    EndsSilently,   // the step does not move: the walk ends there without a line
    BeyondEnd,      // the step jumps past the end of the file: the short header line
    BlockTooLarge,  // the metadata block's size is more than the file holds
    Unpredictable,  // the walk goes on through bytes it was not meant to read
};

struct TSizeCase {
    const char* Name;
    const char* Kind;
    int Occurrence;  // which block of that kind (0: the first)
    size_t FieldOffset;
    size_t FieldSize;
    uint64_t Value;
    TOutcome Outcome;
    int64_t Advance;  // how far the walk moves from the block, for BeyondEnd
};

// The walk moves a stream of another kind by 22 + length, plus that sum modulo 4, as a
// signed 64-bit number; MSCI by the low 16 bits plus their remainder modulo 4; metadata
// blocks by their declared size as an unsigned 32-bit number; descriptor blocks by the
// offset to the first event.
const TSizeCase SizeCases[] = {
    {"data_length_0", "MQDA", 0, 8, 8, 0, TOutcome::Unpredictable, 0},
    {"data_length_2_31", "MQDA", 0, 8, 8, TwoTo31, TOutcome::BeyondEnd, 22 + 0x80000000LL + 2},
    {"data_length_int64_max", "MQDA", 0, 8, 8, Int64Max, TOutcome::EndsSilently, 0},
    {"data_length_uint64_max", "MQDA", 0, 8, 8, Uint64Max, TOutcome::Unpredictable, 0},
    {"pad_length_2_31", "SPAD", 0, 8, 8, TwoTo31, TOutcome::BeyondEnd, 22 + 0x80000000LL + 2},
    {"pad_length_int64_max", "SPAD", 2, 8, 8, Int64Max, TOutcome::EndsSilently, 0},
    {"msci_length_0", "MSCI", 0, 8, 8, 0, TOutcome::EndsSilently, 0},
    {"msci_length_2_31", "MSCI", 0, 8, 8, TwoTo31, TOutcome::EndsSilently, 0},
    {"msci_length_uint64_max", "MSCI", 1, 8, 8, Uint64Max, TOutcome::BeyondEnd, 0xFFFF + 3},
    {"scin_size_0", "SCIN", 0, 4, 4, 0, TOutcome::EndsSilently, 0},
    {"scin_size_2_31", "SCIN", 1, 4, 4, TwoTo31, TOutcome::BeyondEnd, 0x80000000LL},
    {"scin_size_int32_max", "SCIN", 2, 4, 4, 0x7FFFFFFF, TOutcome::BlockTooLarge, 0x7FFFFFFF},
    {"scin_size_uint32_max", "SCIN", 3, 4, 4, 0xFFFFFFFF, TOutcome::BeyondEnd, 0xFFFFFFFFLL},
    {"sfgi_size_0", "SFGI", 0, 4, 4, 0, TOutcome::EndsSilently, 0},
    {"sfgi_size_2_31", "SFGI", 3, 4, 4, TwoTo31, TOutcome::BeyondEnd, 0x80000000LL},
    {"sfgi_size_uint32_max", "SFGI", 5, 4, 4, 0xFFFFFFFF, TOutcome::BeyondEnd, 0xFFFFFFFFLL},
    {"sfin_size_0", "SFIN", 1, 4, 4, 0, TOutcome::EndsSilently, 0},
    {"sfin_size_2_31", "SFIN", 4, 4, 4, TwoTo31, TOutcome::BeyondEnd, 0x80000000LL},
    {"sfin_size_int32_max", "SFIN", 8, 4, 4, 0x7FFFFFFF, TOutcome::BlockTooLarge, 0x7FFFFFFF},
    {"sfin_size_uint32_max", "SFIN", 11, 4, 4, 0xFFFFFFFF, TOutcome::BeyondEnd, 0xFFFFFFFFLL},
    {"sset_offset_0", "SSET", 1, 8, 2, 0, TOutcome::EndsSilently, 0},
    {"sset_offset_max", "SSET", 1, 8, 2, 0xFFFF, TOutcome::BeyondEnd, 0xFFFF},
    {"eset_offset_0", "ESET", 0, 8, 2, 0, TOutcome::EndsSilently, 0},
    {"eset_offset_max", "ESET", 0, 8, 2, 0xFFFF, TOutcome::BeyondEnd, 0xFFFF},
};

class DamageSize : public testing::TestWithParam<TSizeCase> {};

TEST_P(DamageSize, EndsKeepsEarlierSetsAndSaysWhere)
{
    const TSizeCase& c = GetParam();
    std::vector<const TMark*> ofKind;
    for (const TMark& block : TwoSets().Blocks)
        if (block.Kind == c.Kind)
            ofKind.push_back(&block);
    ASSERT_LT(static_cast<size_t>(c.Occurrence), ofKind.size());
    const TMark& block = *ofKind[static_cast<size_t>(c.Occurrence)];

    std::vector<uint8_t> bytes = TwoSets().Bytes;
    for (size_t i = 0; i < c.FieldSize; ++i)
        bytes[block.Start + c.FieldOffset + i] = static_cast<uint8_t>(c.Value >> (8 * i));
    const TReadResult damaged = ReadBytes(bytes, true);

    const auto fileSize = static_cast<int64_t>(bytes.size());
    const auto start = static_cast<int64_t>(block.Start);
    switch (c.Outcome) {
    case TOutcome::EndsSilently:
        EXPECT_TRUE(damaged.Errors().empty());
        EXPECT_EQ(StepsOf(bytes).back(), start);
        break;
    case TOutcome::BeyondEnd:
        EXPECT_EQ(damaged.Errors(), std::vector<std::string>{ShortHeader(fileSize - (start + c.Advance))});
        break;
    case TOutcome::BlockTooLarge:
        EXPECT_EQ(damaged.Errors(),
                  std::vector<std::string>{Fill(std::string("Insufficient data for ") + c.Kind +
                                                    " stream block.  Required: %d bytes, available: %d bytes",
                                                {c.Advance, fileSize - start})});
        EXPECT_EQ(StepsOf(bytes).back(), start);
        break;
    case TOutcome::Unpredictable:
        break;
    }
    ExpectSetsBeforeComplete(damaged, block.Start);
    ExpectInvariants(bytes);
}

INSTANTIATE_TEST_SUITE_P(EdgeValues, DamageSize, testing::ValuesIn(SizeCases),
                         [](const testing::TestParamInfo<TSizeCase>& info) {
                             return std::string(info.param.Name);
                         });

// ---------------------------------------------------------------------------------------
// One broken block repeated

// SCIN blocks of 8 bytes, each overlapping the next, whose creation date is invalid:
// one error line per 8 bytes of file, and the walk goes on to the end of a quarter of a
// mebibyte.
TEST(Damage, RepeatedBrokenBlockKeepsTheListBoundedAndTheLastLine)
{
    TFixtureBuilder b;
    b.MediaHeader();
    b.Mqci();
    const int64_t first = b.Size();
    const uint8_t block[8] = {'S', 'C', 'I', 'N', 8, 0, 0, 0};
    while (b.Size() < 262144)
        b.Raw(block);
    const TReadResult damaged = ReadBuilt(b, true);
    const std::vector<std::string> errors = damaged.Errors();
    const int64_t blocks = (b.Size() - first) / 8;
    const int64_t headerBlocks = (b.Size() - 288 - first) / 8 + 1;
    ASSERT_GT(headerBlocks, 10000);
    EXPECT_EQ(errors.size(), 10000u);
    EXPECT_EQ(errors.front(), "''5328/13/4 20:56:8.0'' is not a valid date and time");
    // The walk stopped at the first SCIN block with fewer than 288 bytes left.
    EXPECT_EQ(
        errors.back(),
        Fill("Insufficient data for SCIN stream block header.  Required: 288 bytes, available: %d bytes",
             {b.Size() - (first + headerBlocks * 8)}));
    EXPECT_LT(headerBlocks, blocks);
    ExpectInvariants(b.Data);
}

// SFGI blocks of 20 bytes with ever new IDs: the filegroup table stops at the 32,767
// filegroups a database can have, and the walk still goes to the end.
TEST(Damage, RepeatedFilegroupBlockKeepsTheTableBounded)
{
    TFixtureBuilder b;
    b.MediaHeader();
    b.Mqci();
    const int64_t first = b.Size();
    for (uint32_t id = 1; b.Size() < 1048576; ++id) {
        uint8_t block[20] = {'S', 'F', 'G', 'I', 20};
        for (int i = 0; i < 4; ++i)
            block[12 + i] = static_cast<uint8_t>(id >> (8 * i));
        b.Raw(block);
    }
    TReadResult damaged;
    damaged.Api->Add("backup.bak", b.Data);
    damaged.Reader = std::make_unique<TMTFReader>(damaged.Api);
    std::vector<int64_t> steps;
    damaged.Reader->SetOnStep([&steps](int64_t start) { steps.push_back(start); });
    damaged.Reader->ReadFile(u"backup.bak", true);
    ASSERT_GT((b.Size() - first) / 20, 32767);
    EXPECT_EQ(TMTFReaderProbe(*damaged.Reader).Filegroups().size(), 32767u);
    EXPECT_EQ(TMTFReaderProbe(*damaged.Reader).Filegroups().back().second, 32767);
    EXPECT_EQ(steps.back(), b.Size() - 20);
    EXPECT_EQ(damaged.Errors(),
              std::vector<std::string>{
                  Fill("Insufficient data for stream block.  Required: 22 bytes, available: 20 bytes", {})});
    ExpectInvariants(b.Data);
}

// Once the file has delivered its last byte, requests are answered from the buffer in
// place: a walk over many small blocks at the end of a file copies nothing per step.
TEST(Damage, BlockReaderServesInPlaceOnceTheFileHasEnded)
{
    std::vector<uint8_t> bytes(4096);
    std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    auto api = std::make_shared<TMemoryFileApi>();
    api->Add("tail.bak", bytes);
    TMTFFileReader reader(api);
    ASSERT_TRUE(reader.Open(u"tail.bak"));
    ASSERT_EQ(reader.ReadView(TMTFFileReader::RefillSize, 0).size(), bytes.size());
    ASSERT_EQ(reader.ReadView(TMTFFileReader::RefillSize, 100).size(), bytes.size() - 100);
    ASSERT_TRUE(reader.FAtEnd);
    const int64_t start = reader.FBufferStart;
    for (size_t p : {200, 1000, 4095}) {
        const TFileView view = reader.ReadView(TMTFFileReader::RefillSize, static_cast<int64_t>(p));
        ASSERT_EQ(view.size(), bytes.size() - p);
        EXPECT_EQ(view.front(), bytes[p]);
        EXPECT_EQ(reader.FBufferStart, start);
    }
}

}  // namespace
