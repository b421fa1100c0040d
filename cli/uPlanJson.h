#pragma once
// The restore plans as the JSON document of tarnwick-plan --json (docs/restore-plan-json.md).

#include "uRestorePlan.h"

#include <nlohmann/json.hpp>

[[nodiscard]] nlohmann::ordered_json RestorePlansToJson(const TRestorePlans& plans);
