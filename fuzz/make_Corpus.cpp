// Writes the fuzzer's seed corpus with the fixture builder: whole backups with every
// block and stream kind, several sets, and the edge cases the walk must get through.
// Data streams are kept short so that the corpus stays small and mutations reach the
// metadata behind them.
//
//   fuzz_make_corpus <folder>

#include "uFixtureBuilder.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

TBackupSetSpec SmallSet()
{
    TBackupSetSpec spec;
    spec.DataLength = 512;
    return spec;
}

TBackupSetSpec SetOfKind(char letter, uint8_t recoveryModel, uint16_t number)
{
    TBackupSetSpec spec = SmallSet();
    spec.Scin.TypeLetter = letter;
    spec.Scin.RecoveryModelCode = recoveryModel;
    spec.Sset.DataSetNumber = number;
    spec.Sset.Name = TMTFText(u"Set " + std::u16string(1, static_cast<char16_t>(u'0' + number)));
    return spec;
}

struct TSeed {
    const char* Name;
    std::function<void(TFixtureBuilder&)> Build;
};

const std::vector<TSeed>& Seeds()
{
    static const std::vector<TSeed> seeds = {
        {"empty", [](TFixtureBuilder&) {}},
        {"tag_only", [](TFixtureBuilder& b) { b.Ascii("TAPE"); }},
        {"tape_short", [](TFixtureBuilder& b) { b.Ascii("TAPE").Zeros(60); }},
        {"media_header", [](TFixtureBuilder& b) { b.MediaHeader(); }},
        {"one_set",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             b.BackupSet(SmallSet());
         }},
        {"three_sets",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             b.BackupSet(SetOfKind('D', 0, 1));
             b.BackupSet(SetOfKind('L', 1, 2));
             b.BackupSet(SetOfKind('I', 8, 3));
         }},
        {"every_kind",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             const char letters[] = {'D', 'L', 'F', 'I', 'G', 'P', 'Q', 'X'};
             uint16_t n = 1;
             for (char letter : letters)
                 b.BackupSet(SetOfKind(letter, static_cast<uint8_t>((n % 3) * 4), n)), ++n;
         }},
        {"set_without_eset",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             b.Sfmb();
             b.Sset();
             b.Volb();
             b.Mqci();
             b.Scin();
             b.Sfmb();
             b.BackupSet(SetOfKind('L', 0, 2));
         }},
        {"string_type_1",
         [](TFixtureBuilder& b) {
             TTapeSpec tape;
             tape.Common.StringType = 1;
             b.MediaHeader(tape);
             TBackupSetSpec spec = SmallSet();
             spec.Sset.Common.StringType = 1;
             spec.Sset.Name = TMTFText(u"Caf\u00e9");
             spec.Sset.Password = TMTFText(u"secret");
             spec.Volb.Common.StringType = 1;
             b.BackupSet(spec);
         }},
        {"soft_filemarks",
         [](TFixtureBuilder& b) {
             TTapeSpec tape;
             tape.SoftFilemarkBlocks = 1;
             b.Tape(tape);
             b.Raid();
             b.Stream("SPAD", 10);
             TCommonHeaderSpec sfmb{"SFMB"};
             sfmb.OffsetToFirstEvent = 0;
             b.Sfmb(sfmb);
             b.Zeros(512 - 64);
             b.BackupSet(SmallSet());
         }},
        {"striped_family",
         [](TFixtureBuilder& b) {
             TRaidSpec raid;
             raid.FamilyCount = 0x00010002;
             raid.FamilySequence = 2;
             b.MediaHeader({}, raid);
             b.BackupSet(SmallSet());
         }},
        {"invalid_dates",
         [](TFixtureBuilder& b) {
             TTapeSpec tape;
             tape.MediaDate = {2020, 13, 2, 3, 4, 5};
             b.MediaHeader(tape);
             TBackupSetSpec spec = SmallSet();
             spec.Sset.WriteDate = {2021, 2, 30, 10, 20, 30};
             spec.Volb.WriteDate = {2021, 3, 4, 24, 0, 0};
             spec.Scin.CreationDate = {2019, 5, 6, 7, 60, 9};
             spec.Eset.WriteDate = {0, 1, 1, 0, 0, 0};
             b.BackupSet(spec);
         }},
        {"old_scin",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             TBackupSetSpec spec = SmallSet();
             spec.Scin.DeclaredSize = 264;
             b.BackupSet(spec);
         }},
        {"scin_beyond_end",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             b.Sfmb();
             b.Sset();
             b.Mqci();
             TScinSpec scin;
             scin.DeclaredSize = 100000;
             b.Scin(scin);
         }},
        {"tape_address",
         [](TFixtureBuilder& b) {
             TTapeSpec tape;
             tape.Common.FormatLogicalAddress = 0x1122334455667788ULL;
             tape.Common.ControlBlockID = 7;
             b.MediaHeader(tape);
             b.BackupSet(SmallSet());
         }},
        {"zero_padding",
         [](TFixtureBuilder& b) {
             b.Tape();
             b.Zeros(2);
             b.Raid();
             b.Zeros(4);
             b.Stream("SPAD", 10);
             b.Zeros(3);
             b.BackupSet(SmallSet());
         }},
        {"stream_kinds",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             b.Sfmb();
             b.Sset();
             for (const char* id : {"MSCI", "MSDA", "MSTL", "MSLS", "MQDA", "MQTL", "APAD", "SPAD", "OTCP",
                                    "TSMP", "CSUM", "XXXX"})
                 b.Stream(id, 37);
             b.Eset();
         }},
        {"descriptor_kinds",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             for (const char* type : {"VOLB", "DIRB", "FILE", "ESPB", "SFMB", "EOTM"})
                 b.Descriptor({type}, 64, {});
         }},
        {"huge_stream_lengths",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             b.BackupSet(SmallSet());
             b.Stream("MQDA", 0);
             b.StreamWithBody("MQDA", 0x80000000ULL, 8);
             b.StreamWithBody("MQDA", std::numeric_limits<int64_t>::max(), 8);
             b.StreamWithBody("MQDA", std::numeric_limits<uint64_t>::max(), 8);
         }},
        {"many_files",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             TBackupSetSpec spec = SmallSet();
             spec.Filegroups = {{1, u"PRIMARY"}, {2, u"ARCHIVE"}, {3, u"\u0416URNAL"}};
             spec.Files.clear();
             for (int32_t id = 1; id <= 24; ++id) {
                 TSfinSpec file;
                 file.FileID = id;
                 file.FilegroupID = id % 4;
                 file.TypeCode = id == 2 ? 2 : (id % 5 == 0 ? 6 : 1);
                 file.LogicalName = u"File" + std::u16string(1, static_cast<char16_t>(u'A' + id));
                 spec.Files.push_back(file);
             }
             b.BackupSet(spec);
         }},
        {"metadata_sizes",
         [](TFixtureBuilder& b) {
             b.MediaHeader();
             b.Sfmb();
             b.Sset();
             b.Mqci();
             TScinSpec scin;
             scin.DeclaredSize = -1;
             b.Scin(scin);
             b.Sfgi(1, u"PRIMARY", 0);
             TSfinSpec file;
             file.DeclaredSize = 0x7FFFFFFF;
             b.Sfin(file);
         }},
    };
    return seeds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_corpus <folder>\n");
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    for (const TSeed& seed : Seeds()) {
        TFixtureBuilder builder;
        seed.Build(builder);
        builder.WriteTo((folder / seed.Name).string());
    }
    std::printf("%zu seeds written to %s\n", Seeds().size(), folder.string().c_str());
    return 0;
}
