// Regions of zeros: the walk crosses them at once instead of 28 bytes at a time, and
// what it reads must be exactly what the step-by-step walk reads.

#include "uReaderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

struct TZeroCase {
    std::string Name;
    std::vector<uint8_t> Bytes;
    // Whether the zeros are long enough for the walk to cross them at once; none where
    // that depends on where the backup's own padding leaves the steps.
    std::optional<bool> Crosses;
};

constexpr int64_t LongRun = 10000 * 28;

std::vector<uint8_t> OneSet()
{
    TFixtureBuilder b;
    b.MediaHeader();
    b.BackupSet();
    return b.Data;
}

void AppendZeros(std::vector<uint8_t>& bytes, int64_t n)
{
    bytes.insert(bytes.end(), static_cast<size_t>(n), 0);
}

std::vector<TZeroCase> ZeroCases()
{
    std::vector<TZeroCase> cases;
    // Zero tails of every short length, lengths around where crossing begins, and long ones.
    for (int64_t n = 0; n <= 100; ++n) {
        TZeroCase c{"tail_" + std::to_string(n), OneSet(), false};
        AppendZeros(c.Bytes, n);
        cases.push_back(std::move(c));
    }
    for (int64_t n = 4096 + 28; n <= 4096 + 200; n += 7) {
        TZeroCase c{"tail_" + std::to_string(n), OneSet(), std::nullopt};
        AppendZeros(c.Bytes, n);
        cases.push_back(std::move(c));
    }
    for (int64_t n : {LongRun, LongRun + 13, int64_t{1048576} + 27, int64_t{3} * 1048576 / 2 + 5}) {
        TZeroCase c{"tail_" + std::to_string(n), OneSet(), true};
        AppendZeros(c.Bytes, n);
        cases.push_back(std::move(c));
    }
    // Zeros in the middle, then a valid set: its header is found wherever the steps land
    // within the four bytes of padding the walk skips, and missed elsewhere.
    for (int64_t r = 0; r < 28; ++r) {
        TFixtureBuilder b;
        b.MediaHeader();
        b.BackupSet();
        AppendZeros(b.Data, LongRun + r);
        TBackupSetSpec second;
        second.Sset.Name = TMTFText{u"after the zeros"};
        b.BackupSet(second);
        cases.push_back({"middle_" + std::to_string(r), b.Data, true});
    }
    // Zeros that end shortly before the end of the file.
    for (int64_t k = 1; k <= 27; ++k) {
        TZeroCase c{"before_end_" + std::to_string(k), OneSet(), true};
        AppendZeros(c.Bytes, LongRun + k);
        c.Bytes.insert(c.Bytes.end(), static_cast<size_t>(k), 0xAB);
        cases.push_back(std::move(c));
    }
    // A file of nothing but zeros, and zeros with one stray byte inside.
    {
        TZeroCase c{"only_zeros", {}, false};
        AppendZeros(c.Bytes, LongRun);
        cases.push_back(std::move(c));
        TZeroCase d{"stray_byte", OneSet(), true};
        AppendZeros(d.Bytes, LongRun);
        d.Bytes[d.Bytes.size() - LongRun / 2] = 0x01;
        cases.push_back(std::move(d));
    }
    return cases;
}

struct TWalk : TReadResult {
    int64_t Steps = 0;
};

TWalk Walk(const std::vector<uint8_t>& bytes, bool crossZeros, bool sparse)
{
    TWalk result;
    result.Api->Sparse = sparse;
    result.Api->Add("backup.bak", bytes);
    result.Reader = std::make_unique<TMTFReader>(result.Api);
    result.Reader->SetCrossZeros(crossZeros);
    result.Reader->SetOnStep([&result](int64_t) { ++result.Steps; });
    result.Reader->ReadFile(u"backup.bak", true, false);
    return result;
}

// The crossing's log with each line that stands for a run of empty steps replaced by
// the lines of those steps as the step-by-step log has them; fails the test when the
// line does not say exactly the steps the other log holds there.
std::vector<std::string> ExpandEmptySteps(const std::vector<std::string>& crossing,
                                          const std::vector<std::string>& stepwise)
{
    const std::string marker = "Empty steps of 28 bytes of zeros: ";
    std::vector<std::string> out;
    for (const std::string& line : crossing) {
        if (line.rfind(marker, 0) != 0) {
            out.push_back(line);
            continue;
        }
        long long steps = 0, from = 0, to = 0;
        EXPECT_EQ(std::sscanf(line.c_str() + marker.size(), "%lld, from byte %lld to byte %lld", &steps,
                              &from, &to),
                  3)
            << line;
        EXPECT_EQ(to - from, steps * 28) << line;
        // Each empty step logs three lines; the first names where it begins.
        for (long long i = 0; i < steps; ++i) {
            const size_t at = out.size();
            if (at + 3 > stepwise.size()) {
                ADD_FAILURE() << "the crossing covers more steps than the walk took: " << line;
                return out;
            }
            EXPECT_EQ(stepwise[at], "ReadBlock.Start       : " + std::to_string(from + 28 * i)) << line;
            out.insert(out.end(), stepwise.begin() + static_cast<std::ptrdiff_t>(at),
                       stepwise.begin() + static_cast<std::ptrdiff_t>(at + 3));
        }
    }
    return out;
}

class ZeroRuns : public testing::TestWithParam<TZeroCase> {};

TEST_P(ZeroRuns, CrossingReadsWhatTheStepsRead)
{
    const TZeroCase& c = GetParam();
    for (const bool sparse : {false, true}) {
        SCOPED_TRACE(sparse ? "file with holes" : "dense file");
        const TWalk steps = Walk(c.Bytes, false, sparse);
        const TWalk crossing = Walk(c.Bytes, true, sparse);
        EXPECT_TRUE(crossing.Sets() == steps.Sets());
        EXPECT_EQ(crossing.Errors(), steps.Errors());
        EXPECT_EQ(crossing.Reader->Warnings(), steps.Reader->Warnings());
        const std::vector<std::string> stepLog = steps.Log();
        const std::vector<std::string> crossLog = crossing.Log();
        EXPECT_EQ(ExpandEmptySteps(crossLog, stepLog), stepLog);
        const bool crossed = std::any_of(crossLog.begin(), crossLog.end(), [](const std::string& line) {
            return line.rfind("Empty steps of", 0) == 0;
        });
        if (c.Crosses) {
            EXPECT_EQ(crossed, *c.Crosses);
        }
        if (c.Crosses.value_or(false)) {
            // The walk takes a few steps at each end of the zeros, not one per 28 bytes.
            EXPECT_LT(crossing.Steps * 100, steps.Steps);
            EXPECT_LT(crossLog.size(), stepLog.size());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ZeroRuns, testing::ValuesIn(ZeroCases()),
                         [](const testing::TestParamInfo<TZeroCase>& info) { return info.param.Name; });

// A file with holes is crossed without reading them.
TEST(ZeroRunsHoles, HolesAreNotRead)
{
    std::vector<uint8_t> bytes = OneSet();
    AppendZeros(bytes, int64_t{64} << 20);
    const TWalk dense = Walk(bytes, true, false);
    const TWalk sparse = Walk(bytes, true, true);
    EXPECT_TRUE(sparse.Sets() == dense.Sets());
    EXPECT_EQ(sparse.Errors(), dense.Errors());
    EXPECT_GE(dense.Api->BytesDelivered, int64_t{64} << 20);
    EXPECT_LT(sparse.Api->BytesDelivered, int64_t{1} << 20);
}

}  // namespace
