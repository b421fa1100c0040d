#include "uPlanJson.h"

#include "uCommonUtils.h"
#include "uTextConvert.h"

using nlohmann::ordered_json;

namespace {

ordered_json Time(TDateTime value)
{
    if (value == 0)
        return nullptr;
    return PlanTimeText(value);
}

ordered_json StepToJson(const TPlanStep& step)
{
    ordered_json j;
    j["kind"] = PlanStepKindName(step.Kind);
    j["position"] = step.Position;
    j["files"] = step.Files;
    j["first_lsn"] = ToString(step.FirstLSN);
    j["last_lsn"] = ToString(step.LastLSN);
    j["start"] = Time(step.Start);
    j["finish"] = Time(step.Finish);
    j["copy_only"] = step.CopyOnly;
    j["password"] = step.HasPassword;
    j["stop_at"] = step.StopAt ? Time(*step.StopAt) : ordered_json(nullptr);
    return j;
}

ordered_json DatabaseToJson(const TDatabasePlan& plan)
{
    ordered_json j;
    j["name"] = Utf16ToUtf8(plan.Name);
    j["server"] = plan.Server;
    j["binding_id"] = GuidText(plan.BindingID);
    j["recovery_model"] = plan.RecoveryModel;
    j["target"] = {{"time", plan.TargetTime ? Time(*plan.TargetTime) : ordered_json(nullptr)},
                   {"lsn", plan.TargetTime ? ordered_json(nullptr) : ordered_json(ToString(plan.TargetLSN))}};
    j["complete"] = plan.Complete;
    if (plan.Steps.empty())
        j["restores_to"] = nullptr;
    else
        j["restores_to"] = {
            {"lsn", plan.RestoresToLSN ? ordered_json(ToString(*plan.RestoresToLSN)) : ordered_json(nullptr)},
            {"time", Time(plan.RestoresToTime)}};
    j["steps"] = ordered_json::array();
    for (const TPlanStep& step : plan.Steps)
        j["steps"].push_back(StepToJson(step));
    j["findings"] = ordered_json::array();
    for (const TPlanFinding& finding : plan.Findings)
        j["findings"].push_back({{"severity", FindingSeverityName(finding.Severity)},
                                 {"code", finding.Code},
                                 {"message", finding.Message}});
    j["unused"] = ordered_json::array();
    for (const TPlanUnused& unused : plan.Unused)
        j["unused"].push_back(
            {{"file", unused.File}, {"position", unused.Position}, {"reason", unused.Reason}});
    return j;
}

}  // namespace

ordered_json RestorePlansToJson(const TRestorePlans& plans)
{
    ordered_json j;
    j["databases"] = ordered_json::array();
    for (const TDatabasePlan& plan : plans.Databases)
        j["databases"].push_back(DatabaseToJson(plan));
    j["skipped"] = ordered_json::array();
    for (const TPlanSkipped& skipped : plans.Skipped)
        j["skipped"].push_back({{"file", skipped.File}, {"reason", skipped.Reason}});
    return j;
}
