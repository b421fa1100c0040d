#include "uRestorePlanText.h"

#include "uCommonUtils.h"
#include "uTextConvert.h"

#include <algorithm>
#include <cctype>

namespace {

std::string U8(const std::u16string& text)
{
    return Utf16ToUtf8(text);
}

std::string Padded(std::string text, size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

// A finding's message as one comment line: a file name may hold a line break.
std::string OneLine(std::string text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

std::string RestoresToText(const TDatabasePlan& plan)
{
    if (plan.Steps.empty())
        return "nothing: no restore sequence could be made";
    std::string text;
    if (plan.RestoresToLSN)
        text = "LSN " + ToString(*plan.RestoresToLSN) + ", ";
    text += plan.RestoresToTime == 0 ? std::string("time unknown") : PlanTimeText(plan.RestoresToTime);
    text += plan.Complete ? " (the target)" : " (short of the target)";
    return text;
}

std::string TargetText(const TDatabasePlan& plan)
{
    if (plan.TargetTime)
        return "the point in time " + PlanTimeText(*plan.TargetTime);
    return "the latest point, LSN " + ToString(plan.TargetLSN);
}

bool UsesBackslash(const std::string& folder)
{
    return folder.find('\\') != std::string::npos ||
           (folder.size() >= 2 && folder[1] == ':' && std::isalpha(static_cast<unsigned char>(folder[0])));
}

}  // namespace

std::string QuoteIdentifier(const std::string& name)
{
    std::string text = "[";
    for (char c : name) {
        text += c;
        if (c == ']')
            text += ']';
    }
    return text + "]";
}

std::string QuoteString(const std::string& value)
{
    std::string text = "N'";
    for (char c : value) {
        text += c;
        if (c == '\'')
            text += '\'';
    }
    return text + "'";
}

std::string PathInFolder(const std::string& folder, const std::string& path)
{
    const size_t cut = path.find_last_of("/\\");
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    const char separator = UsesBackslash(folder) ? '\\' : '/';
    std::string base = folder;
    while (base.size() > 1 && (base.back() == '/' || base.back() == '\\'))
        base.pop_back();
    if (!base.empty() && base.back() != separator)
        base += separator;
    return base + name;
}

std::string DatabasePlanText(const TDatabasePlan& plan)
{
    std::string text = "Database " + U8(plan.Name) + " on " +
                       (plan.Server.empty() ? "an unnamed server" : plan.Server) + " (binding ID " +
                       GuidText(plan.BindingID) + ")\n";
    if (!plan.RecoveryModel.empty())
        text += "  Recovery model: " + plan.RecoveryModel + "\n";
    text += "  Target: " + TargetText(plan) + "\n";
    text += "  Restores to: " + RestoresToText(plan) + "\n";
    if (!plan.Steps.empty()) {
        text += "  Steps:\n";
        for (size_t i = 0; i < plan.Steps.size(); ++i) {
            const TPlanStep& step = plan.Steps[i];
            std::string files;
            for (const std::string& file : step.Files)
                files += (files.empty() ? "" : ", ") + file;
            std::string kind = PlanStepKindName(step.Kind);
            if (step.CopyOnly)
                kind += " (copy-only)";
            text += "    " + Padded(std::to_string(i + 1) + ".", 4) + Padded(kind, 24) + "finished " +
                    Padded(step.Finish == 0 ? std::string("unknown") : PlanTimeText(step.Finish), 20) +
                    "  FILE = " + Padded(std::to_string(step.Position), 4) + files;
            if (step.StopAt)
                text += "  (stop at " + PlanTimeText(*step.StopAt) + ")";
            text += "\n";
        }
    }
    if (!plan.Findings.empty()) {
        text += "  Findings:\n";
        for (const TPlanFinding& finding : plan.Findings)
            text += std::string("    ") + FindingSeverityName(finding.Severity) + " " + finding.Code + ": " +
                    finding.Message + "\n";
    }
    if (!plan.Unused.empty()) {
        text += "  Not needed:\n";
        for (const TPlanUnused& unused : plan.Unused)
            text += "    " + unused.File + ", FILE = " + std::to_string(unused.Position) + ": " +
                    unused.Reason + "\n";
    }
    return text;
}

std::string RestorePlansText(const TRestorePlans& plans)
{
    std::string text;
    for (const TDatabasePlan& plan : plans.Databases)
        text += (text.empty() ? "" : "\n") + DatabasePlanText(plan);
    if (plans.Databases.empty())
        text += "No database found.\n";
    if (!plans.Skipped.empty()) {
        text += "\nSkipped files:\n";
        for (const TPlanSkipped& skipped : plans.Skipped)
            text += "  " + skipped.File + ": " + skipped.Reason + "\n";
    }
    return text;
}

std::string RestoreScript(const TDatabasePlan& plan, const TScriptOptions& options)
{
    const std::string name = QuoteIdentifier(options.As ? U8(*options.As) : U8(plan.Name));
    std::string text = "-- " + OneLine(U8(plan.Name)) + " from " + OneLine(plan.Server) + ": restores to " +
                       RestoresToText(plan) + "\n";
    for (const TPlanFinding& finding : plan.Findings)
        text += std::string("-- ") + FindingSeverityName(finding.Severity) + " " + finding.Code + ": " +
                OneLine(finding.Message) + "\n";
    if (plan.Steps.empty())
        return text;
    for (const TPlanStep& step : plan.Steps) {
        const bool data = step.Kind != TPlanStepKind::Log;
        if (step.HasPassword)
            text += "-- This set is protected by a password: add PASSWORD = N'...' to its WITH clause.\n";
        text += std::string("RESTORE ") + (data ? "DATABASE " : "LOG ") + name + " FROM ";
        for (size_t i = 0; i < step.Files.size(); ++i) {
            const std::string path =
                options.ServerDir.empty() ? step.Files[i] : PathInFolder(options.ServerDir, step.Files[i]);
            text += (i == 0 ? "DISK = " : ", DISK = ") + QuoteString(path);
        }
        text += " WITH FILE = " + std::to_string(step.Position);
        if (step.Kind == TPlanStepKind::Full) {
            for (const TPlanDatabaseFile& file : plan.DatabaseFiles) {
                const std::string& folder = file.FileType == "L" ? options.LogDir : options.DataDir;
                if (!folder.empty())
                    text += ", MOVE " + QuoteString(U8(file.LogicalName)) + " TO " +
                            QuoteString(PathInFolder(folder, U8(file.PhysicalName)));
            }
            if (options.Replace)
                text += ", REPLACE";
        }
        if (step.StopAt)
            text += ", STOPAT = " + QuoteString(PlanTimeText(*step.StopAt));
        text += ", NORECOVERY";
        if (data)
            text += ", STATS = 10";
        text += ";\nGO\n";
    }
    text += "RESTORE DATABASE " + name + " WITH RECOVERY;\nGO\n";
    return text;
}

std::string RestoreScript(const TRestorePlans& plans, const TScriptOptions& options)
{
    std::string text;
    for (const TDatabasePlan& plan : plans.Databases)
        text += (text.empty() ? "" : "\n") + RestoreScript(plan, options);
    return text;
}
