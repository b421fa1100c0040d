// The walk over a backup file: how it steps from block to block, where it stops, and
// what it reports.

#include "uReaderTestSupport.h"

#include <gtest/gtest.h>

#include "uLocaleFormat.h"

#include <algorithm>
#include <functional>

namespace {

TEST(Walk, ZeroLengthFile)
{
    const TReadResult r = ReadBytes({});
    EXPECT_EQ(r.Errors(),
              std::vector<std::string>{
                  "Insufficient data for common block header.  Required: 52 bytes, available: 0 bytes"});
    ASSERT_EQ(r.Sets().size(), 1u);
    EXPECT_EQ(r.Header().FamilyCount, 1);
    EXPECT_EQ(r.Header().FamilySequenceNumber, 1);
    EXPECT_EQ(r.Header().FileName, u"backup.bak");
    EXPECT_EQ(r.Log(), (std::vector<std::string>{"ReadFile started", "File size: 0",
                                                 "ReadCommonBlock.FStart: 0", "ReadFile ended"}));
}

TEST(Walk, LogLinesCarryTheLocaleTimeStamp)
{
    const TReadResult r = ReadBytes({});
    const std::string first = Utf16ToUtf8(r.Reader->LogLines().front());
    const std::string stamp = Utf16ToUtf8(LocaleFormat().NowText());
    // The stamp may have moved on by a second between the read and now.
    EXPECT_EQ(first.substr(first.size() - 18), ": ReadFile started");
    EXPECT_EQ(first.size(), stamp.size() + 18);
}

TEST(Walk, NotABackupFile)
{
    TFixtureBuilder b;
    b.Ascii("ABCD").Zeros(48);
    const TReadResult r = ReadBuilt(b);
    EXPECT_EQ(r.Errors(), std::vector<std::string>{"Unknown DBLKType: ABCD"});
    ASSERT_EQ(r.Sets().size(), 1u);
    TBackupHeader expected;
    expected.FileName = u"backup.bak";
    expected.FamilyCount = 1;
    expected.FamilySequenceNumber = 1;
    EXPECT_EQ(r.Header(), expected);
}

TEST(Walk, UnknownTypeKeepsZeroBytesOfTheTag)
{
    TFixtureBuilder b;
    b.Ascii("AB").U8(0).U8(0x80).Zeros(48);
    const TReadResult r = ReadBuilt(b);
    EXPECT_EQ(r.Reader->ErrorLines(),
              std::vector<std::u16string>{std::u16string(u"Unknown DBLKType: AB") + u'\0' + u"\u20AC"});
}

TEST(Walk, FileThatCannotBeOpenedSaysWhy)
{
    TReadResult r;
    r.Reader = std::make_unique<TMTFReader>();
    r.Reader->ReadFile(u"/nonexistent/folder/x.bak");
    EXPECT_TRUE(r.Sets().empty());
    const auto errors = r.Errors();
    ASSERT_EQ(errors.size(), 2u);  // the open is tried twice
    for (const std::string& line : errors) {
        const std::string tail = ": OpenTargetFile.CreateFile error: No such file or directory";
        ASSERT_GT(line.size(), tail.size());
        EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    }
    EXPECT_EQ(r.Log(), (std::vector<std::string>{"ReadFile started", "ReadFile ended"}));
}

// Zero bytes before a block are padding: up to four are skipped.
TEST(Walk, ZeroBytesBeforeABlock)
{
    for (int zeros : {0, 1, 3, 4, 5}) {
        TFixtureBuilder b;
        b.Tape();
        const int64_t t = b.Size();
        b.Zeros(static_cast<size_t>(zeros));
        TSsetSpec sset;
        sset.Name = {u"After padding"};
        b.Sset(sset);
        const TReadResult r = ReadBuilt(b);
        if (zeros <= 4) {
            EXPECT_EQ(r.Header().BackupName, u"After padding") << zeros;
            EXPECT_TRUE(r.Errors().empty()) << zeros;
        } else {
            // The fifth zero starts the tag, which then names no descriptor block.
            EXPECT_EQ(r.Header().BackupName, u"") << zeros;
            const auto log = r.Log();
            EXPECT_NE(std::find(log.begin(), log.end(), "ReadStreamBlock.FStart: " + std::to_string(t + 4)),
                      log.end());
        }
    }
}

TEST(Walk, TrailingBytes)
{
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Tail;
        bool ReportShortHeader;
        std::vector<std::string> Errors;
    };
    const std::vector<TCase> cases = {
        {"eight zero bytes",
         std::vector<uint8_t>(8, 0),
         false,
         {"Insufficient data for stream block.  Required: 22 bytes, available: 4 bytes",
          "Insufficient data for header.  Required: 4 bytes, available: 0 bytes"}},
        {"two bytes", {0x41, 0x42}, false, {}},
        {"two bytes, short headers reported",
         {0x41, 0x42},
         true,
         {"Insufficient data for header.  Required: 4 bytes, available: 2 bytes"}},
        {"nothing, short headers reported",
         {},
         true,
         {"Insufficient data for header.  Required: 4 bytes, available: 0 bytes"}},
    };
    for (const TCase& c : cases) {
        TFixtureBuilder b;
        b.Tape();
        b.Raw(c.Tail);
        const TReadResult r = ReadBuilt(b, c.ReportShortHeader);
        EXPECT_EQ(r.Errors(), c.Errors) << c.Name;
        EXPECT_EQ(TMTFReaderProbe(*r.Reader).Start(), b.Size() - (c.Tail.size() == 2 ? 2 : 0)) << c.Name;
    }
}

TRaidSpec RaidWithOffset(uint16_t offset)
{
    TRaidSpec raid;
    raid.OffsetToFirstEvent = offset;
    return raid;
}

// Where the walk goes after each kind of block and stream.
TEST(Walk, AdvanceRules)
{
    struct TCase {
        const char* Name;
        std::function<void(TFixtureBuilder&)> Build;  // appended after a TAPE block
        std::vector<int64_t> Steps;                   // the steps' starts, behind the TAPE block
    };
    TTapeSpec tapeWithFilemark;
    tapeWithFilemark.SoftFilemarkBlocks = 2;
    const std::vector<TCase> cases = {
        {"RAID moves 56 whatever its offset says",
         [](TFixtureBuilder& b) {
             b.Raid(RaidWithOffset(100));
             b.Sfmb();
         },
         {0, 56, 120}},
        {"RAID without events adds the soft filemark",
         [](TFixtureBuilder& b) { b.Raid(RaidWithOffset(0)); },
         {0, 56 + 1024}},
        {"a block without events adds the soft filemark",
         [](TFixtureBuilder& b) {
             TCommonHeaderSpec sfmb("SFMB");
             sfmb.OffsetToFirstEvent = 0;
             b.Sfmb(sfmb);
         },
         {0, 1024}},
        {"other stream of length 1 moves 26",
         [](TFixtureBuilder& b) {
             b.StreamWithBody("APAD", 1, 4);
             b.Sfmb();
         },
         {0, 26, 90}},
        {"other streams of length 0, 2, 3, 4, 5 move 24, 24, 26, 28, 30",
         [](TFixtureBuilder& b) {
             for (uint64_t length : {0, 2, 3, 4, 5})
                 b.Stream("APAD", length);
         },
         {0, 24, 48, 74, 102, 132}},
        {"MSDA of a multiple of 65536 stays and ends the walk",
         [](TFixtureBuilder& b) { b.StreamWithBody("MSDA", 65536 * 2, 100); },
         {0}},
        {"MSDA of 65537 moves 2", [](TFixtureBuilder& b) { b.StreamWithBody("MSDA", 65537, 100); }, {0, 2}},
        {"MQCI steps over its header only",
         [](TFixtureBuilder& b) {
             b.Mqci(1000000);
             b.Sfmb();
         },
         {0, 22, 86}},
        {"a length that wraps moves backwards and ends the walk",
         [](TFixtureBuilder& b) { b.StreamWithBody("APAD", UINT64_MAX - 100, 8); },
         {0}},
    };
    for (const TCase& c : cases) {
        TFixtureBuilder b;
        b.Tape(tapeWithFilemark);
        const int64_t t = b.Size();
        c.Build(b);
        b.Zeros(2048);  // room for the steps to land in
        const TReadResult r = ReadBuilt(b);
        std::vector<int64_t> steps = r.StepStarts();
        if (steps.size() > c.Steps.size())
            steps.resize(c.Steps.size());
        for (int64_t& step : steps)
            step -= t;
        EXPECT_EQ(steps, c.Steps) << c.Name;
    }
}

TEST(Walk, EndsExactlyAtTheEndOfTheFile)
{
    TFixtureBuilder b;
    b.MediaHeader();
    b.BackupSet();
    const TReadResult r = ReadBuilt(b);
    EXPECT_TRUE(r.Errors().empty());
    EXPECT_EQ(TMTFReaderProbe(*r.Reader).Start(), b.Size());
}

TEST(Walk, ASecondReadOfTheSameFileComesFromMemory)
{
    TFixtureBuilder b;
    b.MediaHeader();
    b.BackupSet();
    TReadResult r = ReadBuilt(b);
    const TBackupSets first = r.Sets();
    const size_t calls = r.Api->Calls.size();
    r.Api->Add("BACKUP.BAK", {});  // a different file under the upper-case name
    r.Reader->ReadFile(u"BACKUP.BAK");
    EXPECT_EQ(r.Api->Calls.size(), calls);
    EXPECT_EQ(r.Sets(), first);
    EXPECT_EQ(r.Log(), (std::vector<std::string>{"ReadFile started", "ReadFile ended"}));
}

// The sets handed out and the reader's kept copy share their file lists until one is
// changed: what a caller does to the sets it got must not reach a later read, nor a
// copy it took before.
TEST(Walk, ChangingTheSetsReadChangesNoOtherCopy)
{
    TFixtureBuilder b;
    b.MediaHeader();
    b.BackupSet();
    TReadResult r = ReadBuilt(b);
    const TBackupSets first = r.Sets();
    ASSERT_EQ(first.at(0).Files.size(), 2u);
    TBackupFiles& files = TMTFReaderProbe(*r.Reader).Sets()[0].Files;
    files[0].LogicalName = u"changed";
    files.push_back({});
    EXPECT_EQ(r.Sets()[0].Files.size(), 3u);
    EXPECT_NE(first[0].Files[0].LogicalName, u"changed");
    r.Reader->ReadFile(u"backup.bak");
    EXPECT_EQ(r.Sets(), first);
}

TEST(MTFString, BoundsAndStringTypes)
{
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Bytes;  // placed at offset 90 of a 100-byte block
        uint16_t Size;
        int64_t Bound;
        int StringType;
        std::u16string Expected;
    };
    const std::vector<TCase> cases = {
        {"fits the bound", {'S', 0, 'Q', 0, 'L', 0}, 6, 96, 2, u"SQL"},
        {"one byte beyond the bound", {'S', 0, 'Q', 0, 'L', 0}, 6, 95, 2, u""},
        {"size 0", {'S', 0}, 0, 96, 2, u""},
        {"ends at a zero unit", {'A', 0, 0, 0, 'B', 0}, 6, 96, 2, u"A"},
        {"odd size: last byte is a low byte", {'A', 0, 'B'}, 3, 96, 2, u"AB"},
        {"UTF-16 beyond Latin", {0xAC, 0x20, 0x3A, 0x04}, 4, 96, 2, u"\u20AC\u043A"},
        {"Windows-1252", {'C', 0xE9, 0x80, 0x81}, 4, 96, 1, u"C\u00E9\u20AC\u0081"},
        {"Windows-1252 ends at a zero byte", {'A', 0, 'B'}, 3, 96, 1, u"A"},
        {"other string type", {'A', 'B'}, 2, 96, 3, u""},
    };
    for (const TCase& c : cases) {
        std::vector<uint8_t> block(100, 0);
        std::copy(c.Bytes.begin(), c.Bytes.end(), block.begin() + 90);
        const TMTFReader::TBlock view{block};
        EXPECT_EQ(TMTFReader::DecodeMTFString(view, c.Bound, c.StringType, {c.Size, 90}), c.Expected)
            << c.Name;
    }
}

TEST(MTFDate, Decoding)
{
    TMTFReader reader;
    const uint8_t example[5] = {0x1F, 0x69, 0x9E, 0xC7, 0xAD};
    EXPECT_EQ(TMTFReaderProbe(reader).DecodeMTFDate(example), ExpectedDate({2010, 6, 15, 12, 30, 45}));
    EXPECT_NE(ExpectedDate({2010, 6, 15, 12, 30, 45}), 0);
    const uint8_t zeros[5] = {};
    EXPECT_EQ(TMTFReaderProbe(reader).DecodeMTFDate(zeros), 0);
    EXPECT_TRUE(reader.ErrorLines().empty());

    struct TCase {
        TMTFDateParts Parts;
        std::string Error;
    };
    const std::vector<TCase> invalid = {
        {{2010, 13, 15, 12, 30, 45}, "''2010/13/15 12:30:45.0'' is not a valid date and time"},
        {{2010, 0, 15, 12, 30, 45}, "''2010/0/15 12:30:45.0'' is not a valid date and time"},
        {{2011, 2, 29, 0, 0, 0}, "''2011/2/29 0:0:0.0'' is not a valid date and time"},
        {{2010, 6, 15, 24, 0, 0}, "''2010/6/15 24:0:0.0'' is not a valid date and time"},
        {{2010, 6, 15, 1, 60, 0}, "''2010/6/15 1:60:0.0'' is not a valid date and time"},
        {{2010, 6, 15, 1, 0, 63}, "''2010/6/15 1:0:63.0'' is not a valid date and time"},
        {{16383, 6, 15, 1, 0, 0}, "''16383/6/15 1:0:0.0'' is not a valid date and time"},
    };
    for (const TCase& c : invalid) {
        TMTFReader r;
        const std::vector<uint8_t> bytes = TFixtureBuilder::MTFDate(c.Parts);
        EXPECT_EQ(TMTFReaderProbe(r).DecodeMTFDate(bytes.data()), 0);
        EXPECT_EQ(r.ErrorLines(), std::vector<std::u16string>{Utf8ToUtf16(c.Error)});
    }
    // A zero day means "not set" even with other parts out of range.
    TMTFReader r;
    EXPECT_EQ(TMTFReaderProbe(r).DecodeMTFDate(TFixtureBuilder::MTFDate({2010, 15, 0, 0, 0, 0}).data()), 0);
    EXPECT_TRUE(r.ErrorLines().empty());
}

}  // namespace

// One reader, two files: the second has no RAID block, so it is the only member of its
// family, and nothing of the first file's family may stay behind.
TEST(Walk, ASecondFileWithoutRaidBlockKeepsNoFamilyOfTheFirst)
{
    TFixtureBuilder striped;
    TRaidSpec raid;
    raid.FamilyCount = 0x00010002;
    raid.FamilySequence = 2;
    striped.MediaHeader({}, raid);
    striped.BackupSet();
    TFixtureBuilder plain;
    plain.Tape();
    plain.BackupSet();

    auto api = std::make_shared<TMemoryFileApi>();
    api->Add("striped.bak", striped.Data);
    api->Add("plain.bak", plain.Data);
    TMTFReader reader(api);
    ASSERT_TRUE(reader.ReadFile(u"striped.bak"));
    ASSERT_EQ(reader.Sets().size(), 1u);
    EXPECT_EQ(reader.Sets()[0].Header.FamilyGUID, raid.FamilyGUID);
    EXPECT_EQ(reader.Sets()[0].Header.FamilyCount, 2);
    EXPECT_EQ(reader.Sets()[0].Header.FamilySequenceNumber, 2);

    ASSERT_TRUE(reader.ReadFile(u"plain.bak"));
    ASSERT_EQ(reader.Sets().size(), 1u);
    EXPECT_EQ(reader.Sets()[0].Header.FamilyGUID, TGUID{});
    EXPECT_EQ(reader.Sets()[0].Header.FamilyCount, 1);
    EXPECT_EQ(reader.Sets()[0].Header.FamilySequenceNumber, 1);
}

// The callers' entry: whether the file opened is said, not inferred from the sets.
TEST(ReadBackupFile, ReportsWhetherTheFileOpenedWithItsSetsErrorsAndLog)
{
    TFixtureBuilder b;
    b.MediaHeader();
    b.BackupSet();
    TReadOptions options;
    options.Api = std::make_shared<TMemoryFileApi>();
    std::static_pointer_cast<TMemoryFileApi>(options.Api)->Add("backup.bak", b.Data);

    const TBackupFileReport quiet = ReadBackupFile(u"backup.bak", options);
    EXPECT_TRUE(quiet.Opened);
    EXPECT_EQ(quiet.Sets.size(), 1u);
    EXPECT_TRUE(quiet.ErrorLines.empty());
    EXPECT_TRUE(quiet.LogLines.empty());

    options.KeepLog = true;
    const TBackupFileReport logged = ReadBackupFile(u"backup.bak", options);
    EXPECT_EQ(logged.Sets, quiet.Sets);
    EXPECT_FALSE(logged.LogLines.empty());

    EXPECT_EQ(logged.FileSize, static_cast<int64_t>(b.Data.size()));
    EXPECT_EQ(logged.FirstBytes, std::vector<uint8_t>(b.Data.begin(), b.Data.begin() + 16));
    EXPECT_FALSE(logged.Cancelled);

    const TBackupFileReport missing = ReadBackupFile(u"missing.bak", options);
    EXPECT_FALSE(missing.Opened);
    EXPECT_TRUE(missing.Sets.empty());
    ASSERT_FALSE(missing.ErrorLines.empty());
}

// A caller that stops the walk gets the sets read so far and the place it stopped at.
TEST(ReadBackupFile, StopsWhereTheProgressCallbackSaysSo)
{
    TFixtureBuilder b;
    b.MediaHeader();
    b.BackupSet();
    const size_t secondSet = b.Size();
    b.BackupSet();
    TReadOptions options;
    auto api = std::make_shared<TMemoryFileApi>();
    api->Add("backup.bak", b.Data);
    options.Api = api;
    std::vector<int64_t> positions;
    options.OnProgress = [&](int64_t position, int64_t size) {
        EXPECT_EQ(size, static_cast<int64_t>(b.Data.size()));
        positions.push_back(position);
        return position < static_cast<int64_t>(secondSet);
    };
    const TBackupFileReport report = ReadBackupFile(u"backup.bak", options);
    EXPECT_TRUE(report.Opened);
    EXPECT_TRUE(report.Cancelled);
    EXPECT_GE(report.CancelledAt, static_cast<int64_t>(secondSet));
    EXPECT_EQ(report.CancelledAt, positions.back());
    ASSERT_EQ(report.Sets.size(), 1u);
    EXPECT_TRUE(report.ErrorLines.empty());
}

// A file too short for a block header still shows what it begins with, so that a caller
// can tell a small text file from an empty one.
TEST(ReadBackupFile, KeepsTheFirstBytesOfAFileTooShortForAHeader)
{
    TReadOptions options;
    auto api = std::make_shared<TMemoryFileApi>();
    api->Add("notes.bak", {'h', 'e', 'l', 'l', 'o', '\n'});
    api->Add("empty.bak", {});
    options.Api = api;
    const TBackupFileReport notes = ReadBackupFile(u"notes.bak", options);
    EXPECT_EQ(notes.FirstBytes, (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'}));
    EXPECT_EQ(notes.FileSize, 6);
    ASSERT_EQ(notes.ErrorLines.size(), 1u);
    EXPECT_EQ(notes.ErrorLines[0],
              u"Insufficient data for common block header.  Required: 52 bytes, available: 6 bytes");
    const TBackupFileReport empty = ReadBackupFile(u"empty.bak", options);
    EXPECT_TRUE(empty.FirstBytes.empty());
    EXPECT_EQ(empty.FileSize, 0);
}
