#include "uReaderInvariants.h"

#include "uAllocationWatch.h"
#include "uMemoryFile.h"
#include "uTextConvert.h"
#include "u_MTFReader.h"

#include <array>
#include <memory>

// ---------------------------------------------------------------------------------------
// The reader's error texts

namespace {

// %d: a number, possibly negative; %4: the four characters of a block type as the file
// has them; %s: any text, possibly empty (a time stamp, a path, the system's message).
constexpr std::array<std::u16string_view, 23> ErrorPatterns = {
    u"Insufficient data for header.  Required: 4 bytes, available: %d bytes",
    u"Insufficient data for common block header.  Required: %d bytes, available: %d bytes",
    u"Unknown DBLKType: %4",
    u"Insufficient data for stream block.  Required: %d bytes, available: %d bytes",
    u"Insufficient data for tape header block.  Required: %d bytes, available: %d bytes",
    u"CommonBlockHeader.FormatLogicalAddress.  Expected: 0, actual: %d",
    u"CommonBlockHeader.ControlBlockID.  Expected: 0, actual: %d",
    u"Backup set %d has no terminating ESET block.",
    u"Insufficient data for VOLB block.  Required: %d bytes, available: %d bytes",
    u"Insufficient data for ESET block.  Required: %d bytes, available: %d bytes",
    u"Insufficient data for RAID header block.  Required: %d bytes, available: %d bytes",
    u"Insufficient data for SCIN stream block header.  Required: %d bytes, available: %d bytes",
    u"Insufficient data for SCIN stream block.  Required: %d bytes, available: %d bytes",
    u"Insufficient data for SFGI stream block header.  Required: %d bytes, available: %d bytes",
    u"Insufficient data for SFGI stream block.  Required: %d bytes, available: %d bytes",
    u"Insufficient data for SFIN stream block header.  Required: %d bytes, available: %d bytes",
    u"Insufficient data for SFIN stream block.  Required: %d bytes, available: %d bytes",
    u"''%d/%d/%d %d:%d:%d.0'' is not a valid date and time",
    u"%s: OpenTargetFile.CreateFile error: %s",
    u"%s: CloseTargetFile.CloseHandle error: %s",
    u"%s: SetFilePointerEx error: %s",
    u"ReadFile failed for file: %s at position: %d",
    u"The records of this file take more memory than a file of its size can hold: the read stops at byte %d.",
};

bool IsDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool Matches(std::u16string_view pattern, std::u16string_view line)
{
    while (!pattern.empty()) {
        if (pattern.size() >= 2 && pattern[0] == u'%') {
            const char16_t kind = pattern[1];
            const std::u16string_view rest = pattern.substr(2);
            if (kind == u'd') {
                size_t n = !line.empty() && line[0] == u'-' ? 1 : 0;
                const size_t first = n;
                while (n < line.size() && IsDigit(line[n]))
                    ++n;
                if (n == first)
                    return false;
                pattern = rest;
                line.remove_prefix(n);
                continue;
            }
            if (kind == u'4') {
                if (line.size() < 4)
                    return false;
                pattern = rest;
                line.remove_prefix(4);
                continue;
            }
            if (kind == u's') {
                for (size_t n = 0; n <= line.size(); ++n)
                    if (Matches(rest, line.substr(n)))
                        return true;
                return false;
            }
        }
        if (line.empty() || line[0] != pattern[0])
            return false;
        pattern.remove_prefix(1);
        line.remove_prefix(1);
    }
    return line.empty();
}

}  // namespace

bool IsReaderErrorLine(std::u16string_view line)
{
    for (std::u16string_view pattern : ErrorPatterns)
        if (Matches(pattern, line))
            return true;
    return false;
}

// ---------------------------------------------------------------------------------------
// The checks

namespace {

constexpr const char* InputName = "input.bak";
constexpr const char16_t* InputPath = u"input.bak";
// Log lines grow with the number of blocks; they are kept only for inputs small enough
// that their list stays far below the allocation limit.
constexpr size_t LoggedInputLimit = 4096;

// Whether the input holds a run of zeros long enough for the walk to cross it at once.
bool HasLongZeroRun(const uint8_t* data, size_t size)
{
    size_t run = 0;
    for (size_t i = 0; i < size; ++i) {
        run = data[i] == 0 ? run + 1 : 0;
        if (run >= TMTFFileReader::PieceSize)
            return true;
    }
    return false;
}

struct TRun {
    std::unique_ptr<TMTFReader> Reader;
    size_t Steps = 0;
    size_t TotalAllocated = 0;
};

TRun ReadOnce(const std::shared_ptr<TMemoryFileApi>& api, size_t size, bool keepLog,
              std::vector<std::string>& broken, bool crossZeros = true)
{
    TRun run;
    run.Reader = std::make_unique<TMTFReader>(api);
    run.Reader->SetKeepLog(keepLog);
    run.Reader->SetCrossZeros(crossZeros);
    int64_t previous = -1;
    bool backwards = false;
    int64_t backwardsFrom = 0, backwardsTo = 0;
    run.Reader->SetOnStep([&](int64_t start) {
        if (start <= previous && !backwards) {
            backwards = true;
            backwardsFrom = previous;
            backwardsTo = start;
        }
        previous = start;
        ++run.Steps;
    });

    ResetAllocationWatch();
    run.Reader->ReadFile(InputPath, true, true);
    const size_t largest = LargestAllocationSinceReset();
    const size_t total = TotalAllocatedSinceReset();
    run.Reader->SetOnStep(nullptr);

    const std::string mode =
        std::string(keepLog ? " (log kept)" : " (log off)") + (crossZeros ? "" : " (every empty step taken)");
    if (backwards)
        broken.push_back("the walk stepped from " + std::to_string(backwardsFrom) + " back to " +
                         std::to_string(backwardsTo) + mode);
    // Every step moves forward by at least one byte, so a walk has at most one step per
    // byte beside its first.
    if (run.Steps > size + 1)
        broken.push_back("the walk took " + std::to_string(run.Steps) + " steps over " +
                         std::to_string(size) + " bytes" + mode);
    if (largest > LargestAllowedAllocation)
        broken.push_back("an allocation of " + std::to_string(largest) + " bytes" + mode);
    if (AllocationWatchActive() && total > AllowedTotalBase + AllowedTotalPerByte * size)
        broken.push_back("allocations of " + std::to_string(total) + " bytes in all over " +
                         std::to_string(size) + " bytes of input" + mode);
    run.TotalAllocated = total;
    for (const std::u16string& line : run.Reader->ErrorLines())
        if (!IsReaderErrorLine(line))
            broken.push_back("an error line that is none of the reader's texts: \"" + Utf16ToUtf8(line) +
                             "\"" + mode);
    if (run.Reader->Sets().empty())
        broken.push_back("a read that produced no backup set" + mode);
    return run;
}

}  // namespace

std::vector<std::string> CheckRead(const uint8_t* data, size_t size)
{
    std::vector<std::string> broken;
    auto api = std::make_shared<TMemoryFileApi>();
    api->AddView(InputName, data, size);

    TRun quiet = ReadOnce(api, size, false, broken);

    // A second read of the same name is answered from the sets already known, without
    // opening the file again.
    const size_t callsBefore = api->Calls.size();
    const TBackupSets first = quiet.Reader->Sets();
    const size_t firstErrorCount = quiet.Reader->ErrorLines().size();
    quiet.Reader->ReadFile(InputPath, true, true);
    if (api->Calls.size() != callsBefore)
        broken.push_back("a second read of the same file went to the file again");
    if (quiet.Reader->Sets() != first)
        broken.push_back("a second read of the same file gave other sets");

    if (size <= LoggedInputLimit) {
        // Keeping the log must change nothing about what is read.
        TRun logged = ReadOnce(api, size, true, broken);
        if (logged.Reader->Sets() != first)
            broken.push_back("keeping the log changed the sets read");
        if (logged.Reader->ErrorLines().size() != firstErrorCount)
            broken.push_back("keeping the log changed the number of error lines");
        if (logged.Steps != quiet.Steps)
            broken.push_back("keeping the log changed the number of steps");
    }
    if (HasLongZeroRun(data, size)) {
        // Crossing a region of zeros at once must read what taking each of its steps reads.
        TRun stepwise = ReadOnce(api, size, false, broken, false);
        if (stepwise.Reader->Sets() != first)
            broken.push_back("crossing zeros at once changed the sets read");
        if (stepwise.Reader->ErrorLines() != quiet.Reader->ErrorLines())
            broken.push_back("crossing zeros at once changed the error lines");
        if (stepwise.Reader->Warnings() != quiet.Reader->Warnings())
            broken.push_back("crossing zeros at once changed the warnings");
    }
    return broken;
}
