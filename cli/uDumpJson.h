#pragma once
// The JSON form of one read: a stable interface for scripts.
//   {"file": "<path as given>", "sets": [{"header": {...}, "files": [{...}]}], "errors": [...]}
// Fields keep the records' declared order and names.

#include "uTypesMTF.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

[[nodiscard]] nlohmann::ordered_json BackupSetsToJson(const std::string& file, const TBackupSets& sets,
                                                      const std::vector<std::u16string>& errors);

// "YYYY-MM-DDTHH:MM:SS" for a day count, null for 0 (not set).
[[nodiscard]] nlohmann::ordered_json DateToJson(TDateTime value);
