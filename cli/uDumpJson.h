#pragma once
// The JSON form of one read: a stable interface for scripts.
//   {"file": "<path as given>", "sets": [{"header": {...}, "files": [{...}]}], "errors": [...],
//    "warnings": [...]}
// Fields keep the records' declared order and names. "errors" are the reader's error
// lines as they are; "warnings" what the file lacks although no step of the walk failed.

#include "uDumpOutput.h"
#include "uTypesMTF.h"
#include "u_MTFReader.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Writes JSON as it is told, pretty-printed exactly as nlohmann's dump(2) prints the
// same document (two blanks per level, UTF-8 left as it is, ill-formed UTF-8 replaced
// by U+FFFD), without a document in memory. A dump of 32,767 files would otherwise
// hold some 620,000 nodes before the first byte is written.
class TJsonWriter {
public:
    explicit TJsonWriter(std::ostream& out) : FOut(out) {}

    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The name of the next member of the object that is open.
    void Key(std::string_view name);
    void String(std::string_view text);
    void Integer(int64_t value);
    void Boolean(bool value);
    void Null();
    // The line end after the outermost value, and everything collected to the stream.
    void EndDocument();
    void Flush() { FOut.Flush(); }

private:
    void BeforeValue();
    void NextMember();
    void End(char bracket);
    void Quoted(std::string_view text);

    TDumpOutput FOut;
    std::vector<size_t> FCounts;  // members written so far, per open object or array
    bool FAfterKey = false;
};

// One file's document: its name as given, its sets, the reader's error lines and its
// warnings.
void WriteBackupFileJson(TJsonWriter& writer, const std::string& file, const TBackupFileReport& report);

// "YYYY-MM-DDTHH:MM:SS" for a day count, null for 0 (not set).
[[nodiscard]] nlohmann::ordered_json DateToJson(TDateTime value);
