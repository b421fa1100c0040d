#pragma once
// Reads fixtures from memory and looks at what the read left behind.

#include "uFixtureBuilder.h"
#include "uMemoryFile.h"
#include "uTextConvert.h"
#include "u_MTFReader.h"

#include <memory>
#include <string>
#include <vector>

// The walk's state that a test of one block handler looks at, and the date decoder.
struct TMTFReaderProbe {
    explicit TMTFReaderProbe(TMTFReader& reader) : Reader(reader) {}
    TMTFReader& Reader;

    [[nodiscard]] int64_t Start() const { return Reader.FStart; }
    [[nodiscard]] bool SetEnded() const { return Reader.FSetEnded; }
    [[nodiscard]] int32_t SoftFilemarkSize() const { return Reader.FSoftFilemarkSize; }
    [[nodiscard]] const std::vector<std::pair<std::u16string, int32_t>>& Filegroups() const
    {
        return Reader.FFilegroups;
    }
    // The sets as the reader holds them, to change them behind its back.
    [[nodiscard]] TBackupSets& Sets() { return Reader.FSets; }
    [[nodiscard]] TDateTime DecodeMTFDate(const uint8_t* bytes) { return Reader.DecodeMTFDate(bytes); }
};

struct TReadResult {
    std::shared_ptr<TMemoryFileApi> Api = std::make_shared<TMemoryFileApi>();
    std::unique_ptr<TMTFReader> Reader;

    [[nodiscard]] const TBackupSets& Sets() const { return Reader->Sets(); }
    [[nodiscard]] const TBackupHeader& Header(size_t set = 0) const { return Reader->Sets().at(set).Header; }

    [[nodiscard]] std::vector<std::string> Errors() const
    {
        std::vector<std::string> lines;
        for (const auto& line : Reader->ErrorLines())
            lines.push_back(Utf16ToUtf8(line));
        return lines;
    }

    // The log lines without their time stamps ("<stamp>: <text>").
    [[nodiscard]] std::vector<std::string> Log() const
    {
        std::vector<std::string> lines;
        for (const auto& line : Reader->LogLines()) {
            const std::string text = Utf16ToUtf8(line);
            const size_t colon = text.find(": ");
            lines.push_back(colon == std::string::npos ? text : text.substr(colon + 2));
        }
        return lines;
    }

    // The positions at which the walk began its steps.
    [[nodiscard]] std::vector<int64_t> StepStarts() const
    {
        std::vector<int64_t> starts;
        for (const std::string& line : Log())
            if (line.rfind("ReadBlock.Start       : ", 0) == 0)
                starts.push_back(std::stoll(line.substr(24)));
        return starts;
    }
};

inline TReadResult ReadBytes(const std::vector<uint8_t>& bytes, bool reportShortHeader = false,
                             bool checkTapeAddress = false)
{
    TReadResult result;
    result.Api->Add("backup.bak", bytes);
    result.Reader = std::make_unique<TMTFReader>(result.Api);
    result.Reader->ReadFile(u"backup.bak", reportShortHeader, checkTapeAddress);
    return result;
}

inline TReadResult ReadBuilt(const TFixtureBuilder& builder, bool reportShortHeader = false,
                             bool checkTapeAddress = false)
{
    return ReadBytes(builder.Data, reportShortHeader, checkTapeAddress);
}
