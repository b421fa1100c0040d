#include "uRestorePlan.h"

#include "uCommonUtils.h"
#include "uDateTime.h"
#include "uTextConvert.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

namespace {

constexpr int32_t TypeFull = 1;
constexpr int32_t TypeLog = 2;
constexpr int32_t TypeDifferential = 5;

bool Less(const TBigInteger& a, const TBigInteger& b)
{
    return Compare(a, b) < 0;
}

bool IsZero(const TGUID& guid)
{
    return std::all_of(guid.begin(), guid.end(), [](uint8_t b) { return b == 0; });
}

std::string Lsn(const TBigInteger& value)
{
    return ToString(value);
}

std::string TimeOrUnknown(TDateTime value)
{
    const std::string text = PlanTimeText(value);
    return text.empty() ? std::string("an unknown time") : text;
}

struct TStripe {
    const TPlanFile* File = nullptr;
    const TBackupDetails* Set = nullptr;
};

// One backup set: every file that holds its GUID at the same position, one per family
// sequence number. Copies of a stripe beyond the first are kept to be reported.
struct TSetGroup {
    const TBackupDetails* First = nullptr;
    int32_t FamilyCount = 1;
    std::map<int32_t, TStripe> Stripes;
    std::vector<std::pair<TStripe, std::string>> Extra;  // duplicates and strays, with why

    [[nodiscard]] const TBackupHeader& Header() const { return First->Header; }
    [[nodiscard]] bool Complete() const { return static_cast<int32_t>(Stripes.size()) == FamilyCount; }
    [[nodiscard]] std::vector<int32_t> Missing() const
    {
        std::vector<int32_t> missing;
        for (int32_t s = 1; s <= FamilyCount; ++s)
            if (!Stripes.contains(s))
                missing.push_back(s);
        return missing;
    }
    [[nodiscard]] std::string FileList() const
    {
        std::string text;
        for (const auto& [sequence, stripe] : Stripes)
            text += (text.empty() ? "" : ", ") + stripe.File->Path;
        return text;
    }
};

std::string KindText(const TSetGroup& g)
{
    switch (g.Header().BackupType) {
    case TypeFull:
        return g.Header().IsCopyOnly ? "copy-only full backup" : "full backup";
    case TypeDifferential:
        return "differential backup";
    case TypeLog:
        return g.Header().IsCopyOnly ? "copy-only log backup" : "log backup";
    default:
        return g.Header().BackupTypeDescription.empty() ? "backup"
                                                        : g.Header().BackupTypeDescription + " backup";
    }
}

// "the full backup finished 2021-03-04T10:25:00 (a.bak, FILE = 1)"
std::string SetText(const TSetGroup& g)
{
    return "the " + KindText(g) + " finished " + TimeOrUnknown(g.Header().BackupEndDate) + " (" +
           g.FileList() + ", FILE = " + std::to_string(g.Header().DataSetNumber) + ")";
}

std::string NumberList(const std::vector<int32_t>& numbers)
{
    std::string text;
    for (size_t i = 0; i < numbers.size(); ++i)
        text += (i == 0 ? "" : i + 1 == numbers.size() ? " and " : ", ") + std::to_string(numbers[i]);
    return text;
}

// The log backups of one recovery fork, ordered by first LSN, with the index of the one
// reaching furthest among each prefix: the log that applies at n and reaches furthest is
// found by one binary search.
struct TForkLogs {
    std::vector<const TSetGroup*> ByFirst;
    std::vector<size_t> PrefixBest;

    void Index()
    {
        std::stable_sort(ByFirst.begin(), ByFirst.end(), [](const TSetGroup* a, const TSetGroup* b) {
            return Less(a->Header().FirstLSN, b->Header().FirstLSN);
        });
        PrefixBest.resize(ByFirst.size());
        for (size_t i = 0; i < ByFirst.size(); ++i) {
            size_t best = i;
            if (i > 0) {
                const TBackupHeader& previous = ByFirst[PrefixBest[i - 1]]->Header();
                const TBackupHeader& current = ByFirst[i]->Header();
                const int order = Compare(current.LastLSN, previous.LastLSN);
                // On a tie the regular log wins over a copy-only one, then the earlier.
                if (order < 0 || (order == 0 && !(previous.IsCopyOnly && !current.IsCopyOnly)))
                    best = PrefixBest[i - 1];
            }
            PrefixBest[i] = best;
        }
    }
    // The first log whose first LSN is above n.
    [[nodiscard]] size_t After(const TBigInteger& n) const
    {
        return static_cast<size_t>(std::upper_bound(ByFirst.begin(), ByFirst.end(), n,
                                                    [](const TBigInteger& v, const TSetGroup* g) {
                                                        return Less(v, g->Header().FirstLSN);
                                                    }) -
                                   ByFirst.begin());
    }
    // The log that applies at n (first LSN <= n < last LSN) and reaches furthest.
    [[nodiscard]] const TSetGroup* Applying(const TBigInteger& n) const
    {
        const size_t k = After(n);
        if (k == 0)
            return nullptr;
        const TSetGroup* best = ByFirst[PrefixBest[k - 1]];
        return Less(n, best->Header().LastLSN) ? best : nullptr;
    }
};

struct TCandidate {
    std::vector<const TSetGroup*> Steps;
    size_t DataSteps = 0;
    TBigInteger Reach;
    TGUID Fork{};
    bool Reaches = false;
    const TSetGroup* Full = nullptr;
};

class TDatabasePlanner {
public:
    TDatabasePlanner(std::vector<TSetGroup*> groups, const TPlanOptions& options)
        : FGroups(std::move(groups)), FOptions(options)
    {
    }

    TDatabasePlan Plan();

private:
    std::vector<TSetGroup*> FGroups;
    const TPlanOptions& FOptions;
    std::vector<const TSetGroup*> FFulls, FDifferentials;
    std::map<TGUID, TForkLogs> FLogs;
    TBigInteger FTarget;
    TDatabasePlan FPlan;

    [[nodiscard]] bool EndsByTarget(const TSetGroup& g) const
    {
        return !FOptions.At || g.Header().BackupEndDate <= *FOptions.At;
    }
    [[nodiscard]] bool IsBaseOf(const TSetGroup& full, const TSetGroup& differential) const
    {
        const TBackupHeader& f = full.Header();
        const TBackupHeader& d = differential.Header();
        if (f.IsCopyOnly || d.DifferentialBaseGUID != f.BackupSetGUID)
            return false;
        return d.DatabaseBackupLSN.Digits.empty() || Compare(d.DatabaseBackupLSN, f.CheckpointLSN) == 0;
    }
    [[nodiscard]] TCandidate Build(const TSetGroup& full) const;
    static bool Better(const TCandidate& a, const TCandidate& b);
    void Error(const std::string& code, const std::string& message)
    {
        FPlan.Findings.push_back({TFindingSeverity::Error, code, message});
    }
    void Warning(const std::string& code, const std::string& message)
    {
        FPlan.Findings.push_back({TFindingSeverity::Warning, code, message});
    }
    void ExplainNoFull();
    void ExplainShortfall(const TCandidate& chosen);
    void CheckSteps(const TCandidate& chosen);
    void ListUnused(const TCandidate* chosen);
    [[nodiscard]] std::string UnusedReason(const TSetGroup& g, const TCandidate* chosen) const;
};

TCandidate TDatabasePlanner::Build(const TSetGroup& full) const
{
    TCandidate c;
    c.Full = &full;
    c.Steps.push_back(&full);
    c.Reach = full.Header().LastLSN;
    c.Fork = full.Header().RecoveryForkID;
    const TSetGroup* differential = nullptr;
    for (const TSetGroup* d : FDifferentials)
        if (IsBaseOf(full, *d) && EndsByTarget(*d) && Less(c.Reach, d->Header().LastLSN) &&
            (!differential || Less(differential->Header().LastLSN, d->Header().LastLSN)))
            differential = d;
    if (differential) {
        c.Steps.push_back(differential);
        c.Reach = differential->Header().LastLSN;
        c.Fork = differential->Header().RecoveryForkID;
    }
    c.DataSteps = c.Steps.size();
    bool reached =
        FOptions.At ? c.Steps.back()->Header().BackupEndDate == *FOptions.At : !Less(c.Reach, FTarget);
    const auto fork = FLogs.find(c.Fork);
    while (!reached && fork != FLogs.end()) {
        const TSetGroup* log = fork->second.Applying(c.Reach);
        if (!log)
            break;
        c.Steps.push_back(log);
        c.Reach = log->Header().LastLSN;
        reached = FOptions.At ? log->Header().BackupEndDate >= *FOptions.At : !Less(c.Reach, FTarget);
    }
    c.Reaches = reached;
    return c;
}

// The plan that reaches the target in the fewest steps; among those that do not, the one
// that reaches furthest. Ties go to the newer full backup.
bool TDatabasePlanner::Better(const TCandidate& a, const TCandidate& b)
{
    if (a.Reaches != b.Reaches)
        return a.Reaches;
    if (!a.Reaches) {
        const int reach = Compare(a.Reach, b.Reach);
        if (reach != 0)
            return reach > 0;
    }
    if (a.Steps.size() != b.Steps.size())
        return a.Steps.size() < b.Steps.size();
    return Less(b.Full->Header().LastLSN, a.Full->Header().LastLSN);
}

TDatabasePlan TDatabasePlanner::Plan()
{
    const TBackupHeader& any = FGroups.front()->Header();
    FPlan.Name = any.DatabaseName;
    FPlan.Server = any.ServerName;
    FPlan.BindingID = any.BindingID;
    FPlan.RecoveryModel = any.RecoveryModel;
    FPlan.TargetTime = FOptions.At;

    for (const TSetGroup* g : FGroups) {
        if (!g->Complete()) {
            const std::vector<int32_t> missing = g->Missing();
            Error("missing-stripe",
                  "The " + KindText(*g) + " finished " + TimeOrUnknown(g->Header().BackupEndDate) +
                      " (FILE = " + std::to_string(g->Header().DataSetNumber) + ") has " +
                      std::to_string(g->Stripes.size()) + " of its " + std::to_string(g->FamilyCount) +
                      " stripes: " + (missing.size() == 1 ? "stripe " : "stripes ") + NumberList(missing) +
                      (missing.size() == 1 ? " is" : " are") + " missing (found: " + g->FileList() +
                      "). It cannot be restored without every stripe.");
            continue;
        }
        const TBackupHeader& h = g->Header();
        if (h.BackupType == TypeFull || h.BackupType == TypeDifferential || h.BackupType == TypeLog)
            if (Less(FTarget, h.LastLSN))
                FTarget = h.LastLSN;
        if (h.BackupType == TypeFull)
            FFulls.push_back(g);
        else if (h.BackupType == TypeDifferential)
            FDifferentials.push_back(g);
        else if (h.BackupType == TypeLog && Compare(h.FirstLSN, h.LastLSN) != 0)
            FLogs[h.RecoveryForkID].ByFirst.push_back(g);
    }
    for (auto& [fork, logs] : FLogs)
        logs.Index();
    FPlan.TargetLSN = FTarget;

    for (const TSetGroup* d : FDifferentials)
        if (std::none_of(FFulls.begin(), FFulls.end(), [&](const TSetGroup* f) { return IsBaseOf(*f, *d); }))
            Warning("missing-differential-base",
                    "The base of " + SetText(*d) + " was not found: no complete full backup with set GUID " +
                        GuidText(d->Header().DifferentialBaseGUID) + " and checkpoint LSN " +
                        Lsn(d->Header().DatabaseBackupLSN) + ". The differential cannot be used.");

    std::optional<TCandidate> chosen;
    for (const TSetGroup* full : FFulls) {
        if (!EndsByTarget(*full))
            continue;
        TCandidate c = Build(*full);
        if (!chosen || Better(c, *chosen))
            chosen = std::move(c);
    }
    if (!chosen) {
        ExplainNoFull();
        ListUnused(nullptr);
    } else {
        const bool pointInTime =
            FOptions.At && chosen->Steps[chosen->DataSteps - 1]->Header().RecoveryModel != "SIMPLE";
        FPlan.RecoveryModel = chosen->Steps[chosen->DataSteps - 1]->Header().RecoveryModel;
        for (const TSetGroup* g : chosen->Steps) {
            const TBackupHeader& h = g->Header();
            TPlanStep step;
            step.Kind = h.BackupType == TypeFull           ? TPlanStepKind::Full
                        : h.BackupType == TypeDifferential ? TPlanStepKind::Differential
                                                           : TPlanStepKind::Log;
            step.Position = h.DataSetNumber;
            for (const auto& [sequence, stripe] : g->Stripes)
                step.Files.push_back(stripe.File->Path);
            step.FirstLSN = h.FirstLSN;
            step.LastLSN = h.LastLSN;
            step.Start = h.BackupStartDate;
            step.Finish = h.BackupEndDate;
            step.CopyOnly = h.IsCopyOnly;
            step.HasPassword = h.HasPassword;
            if (pointInTime)
                step.StopAt = FOptions.At;
            FPlan.Steps.push_back(std::move(step));
        }
        for (const TBackupFile& file : chosen->Full->First->Files)
            FPlan.DatabaseFiles.push_back({file.LogicalName, file.PhysicalName, file.FileType});
        FPlan.Server = chosen->Full->Header().ServerName;
        FPlan.Complete = chosen->Reaches;
        if (FOptions.At && chosen->Reaches) {
            // Inside a log backup the header tells no LSN for a time.
            const bool exact = chosen->Steps.back()->Header().BackupEndDate == *FOptions.At;
            FPlan.RestoresToLSN = exact ? std::optional<TBigInteger>(chosen->Reach) : std::nullopt;
            FPlan.RestoresToTime = *FOptions.At;
        } else {
            FPlan.RestoresToLSN = chosen->Reach;
            FPlan.RestoresToTime = chosen->Steps.back()->Header().BackupEndDate;
        }
        if (FOptions.At && !pointInTime)
            Error("no-point-in-time",
                  "The database uses the SIMPLE recovery model: it has no log backups and "
                  "cannot be restored to a point in time. The plan restores to the end of the "
                  "last data backup before " +
                      PlanTimeText(*FOptions.At) + ", " +
                      TimeOrUnknown(chosen->Steps.back()->Header().BackupEndDate) + ".");
        // Without log backups a point in time is out of reach for the reason just given.
        if (!chosen->Reaches && (!FOptions.At || pointInTime))
            ExplainShortfall(*chosen);
        CheckSteps(*chosen);
        ListUnused(&*chosen);
    }
    std::stable_sort(FPlan.Findings.begin(), FPlan.Findings.end(),
                     [](const TPlanFinding& a, const TPlanFinding& b) { return a.Severity < b.Severity; });
    return std::move(FPlan);
}

void TDatabasePlanner::ExplainNoFull()
{
    bool anyFull = false;
    for (const TSetGroup* g : FGroups)
        anyFull = anyFull || g->Header().BackupType == TypeFull;
    if (!anyFull) {
        Error("no-full-backup",
              "No full database backup of this database was found: a restore has to start from one.");
    } else if (FFulls.empty()) {
        Error("no-full-backup",
              "No complete full database backup of this database was found: every full backup "
              "found lacks stripes.");
    } else {
        const TSetGroup* earliest = *std::min_element(FFulls.begin(), FFulls.end(), [](auto* a, auto* b) {
            return a->Header().BackupEndDate < b->Header().BackupEndDate;
        });
        Error("no-full-backup", "No complete full database backup ends at or before " +
                                    PlanTimeText(*FOptions.At) + ": the earliest is " + SetText(*earliest) +
                                    ".");
    }
}

void TDatabasePlanner::ExplainShortfall(const TCandidate& chosen)
{
    const TBackupHeader& last = chosen.Steps.back()->Header();
    const std::string reachable = "The database can be restored up to LSN " + Lsn(chosen.Reach) + " (" +
                                  TimeOrUnknown(last.BackupEndDate) + ").";
    const auto fork = FLogs.find(chosen.Fork);
    if (fork != FLogs.end()) {
        const size_t next = fork->second.After(chosen.Reach);
        if (next < fork->second.ByFirst.size()) {
            const TSetGroup& later = *fork->second.ByFirst[next];
            Error("log-gap", "No log backup covers LSN " + Lsn(chosen.Reach) + " to " +
                                 Lsn(later.Header().FirstLSN) + ": the log backups taken between " +
                                 TimeOrUnknown(last.BackupEndDate) + " and " +
                                 TimeOrUnknown(later.Header().BackupStartDate) +
                                 " are missing, so the later log backups, from " + SetText(later) +
                                 " on, cannot be applied. " + reachable +
                                 // A log chain that only begins after the data backups is
                                 // the usual sign of a log backup job started late.
                                 (chosen.Steps.size() == chosen.DataSteps
                                      ? " No log backup found continues from the data backups."
                                      : ""));
            return;
        }
    }
    for (const auto& [id, logs] : FLogs)
        if (id != chosen.Fork && logs.Applying(chosen.Reach)) {
            Warning("recovery-fork",
                    "Log backups that continue from LSN " + Lsn(chosen.Reach) +
                        " belong to another recovery fork (" + GuidText(id) +
                        "), not to that of the backups before them: they follow a restore to an "
                        "earlier point and cannot be applied here. " +
                        reachable);
            return;
        }
    if (FOptions.At)
        Warning("target-not-reached", "No log backup reaches " + PlanTimeText(*FOptions.At) +
                                          ": the last backup of the chain ends at " +
                                          TimeOrUnknown(last.BackupEndDate) + ". " + reachable);
    else
        Error("target-not-reached", "The latest backup of this database reaches LSN " + Lsn(FTarget) +
                                        ", but no restore sequence leads to it. " + reachable);
}

void TDatabasePlanner::CheckSteps(const TCandidate& chosen)
{
    for (size_t i = 0; i < chosen.Steps.size(); ++i) {
        const TSetGroup& g = *chosen.Steps[i];
        const TBackupHeader& h = g.Header();
        if (FOptions.TargetVersion && h.SoftwareVersionMajor > *FOptions.TargetVersion)
            Error("newer-version", "The plan needs " + SetText(g) + ", written by SQL Server major version " +
                                       std::to_string(h.SoftwareVersionMajor) + ": a server of version " +
                                       std::to_string(*FOptions.TargetVersion) + " cannot restore it.");
        if (h.IsDamaged)
            Warning("damaged-set", "The plan uses " + SetText(g) +
                                       ", which is marked as damaged: the restore may fail or need "
                                       "CONTINUE_AFTER_ERROR.");
        if (h.HasIncompleteMetadata)
            Warning("incomplete-metadata",
                    "The plan uses " + SetText(g) + ", whose metadata is marked incomplete.");
        if (h.HasPassword)
            Warning("password",
                    "The plan uses " + SetText(g) +
                        ", which is protected by a password: its RESTORE needs PASSWORD = N'...'.");
        if (FOptions.At && i + 1 == chosen.Steps.size() && i >= chosen.DataSteps && chosen.Reaches &&
            h.HasBulkLoggedData)
            Error("bulk-logged-stop", "The log backup that holds " + PlanTimeText(*FOptions.At) + ", " +
                                          SetText(g) +
                                          ", contains bulk-logged changes: a restore cannot stop inside it.");
    }
}

std::string TDatabasePlanner::UnusedReason(const TSetGroup& g, const TCandidate* chosen) const
{
    const TBackupHeader& h = g.Header();
    if (!g.Complete())
        return "stripes missing: " + NumberList(g.Missing()) + " of " + std::to_string(g.FamilyCount);
    if (h.BackupType != TypeFull && h.BackupType != TypeDifferential && h.BackupType != TypeLog)
        return "a " + KindText(g) + ": only full, differential and log backups are planned";
    if (!chosen)
        return "no full backup to start from";
    const TBackupHeader& full = chosen->Full->Header();
    const TBackupHeader& data = chosen->Steps[chosen->DataSteps - 1]->Header();
    if (h.BackupType == TypeFull) {
        if (!EndsByTarget(g))
            return "ends after the target time";
        return Less(h.LastLSN, full.LastLSN)
                   ? "an older full backup: the plan starts from a later one"
                   : "a newer full backup whose plan takes more steps or reaches less far";
    }
    if (h.BackupType == TypeDifferential) {
        if (!IsBaseOf(*chosen->Full, g))
            return "based on another full backup than the one the plan starts from";
        if (!EndsByTarget(g))
            return "ends after the target time";
        return "an earlier differential on the same full backup: the plan takes the latest";
    }
    if (Compare(h.FirstLSN, h.LastLSN) == 0)
        return "holds no log records (its first and last LSN are equal)";
    if (!Less(data.LastLSN, h.LastLSN))
        return "ends at or before LSN " + Lsn(data.LastLSN) + ", where the data backups of the plan end";
    if (h.RecoveryForkID != chosen->Fork)
        return "belongs to another recovery fork";
    if (!Less(h.FirstLSN, chosen->Reach))
        return chosen->Reaches ? "after the point the plan restores to"
                               : "beyond the point the plan reaches (see the findings)";
    return "covered by the log backups the plan uses";
}

void TDatabasePlanner::ListUnused(const TCandidate* chosen)
{
    std::vector<const TSetGroup*> ordered(FGroups.begin(), FGroups.end());
    std::stable_sort(ordered.begin(), ordered.end(), [](const TSetGroup* a, const TSetGroup* b) {
        return Less(a->Header().LastLSN, b->Header().LastLSN);
    });
    // A plan from an old full over a year of log backups has tens of thousands of steps.
    std::set<const TSetGroup*> steps;
    if (chosen)
        steps.insert(chosen->Steps.begin(), chosen->Steps.end());
    for (const TSetGroup* g : ordered) {
        const bool used = steps.contains(g);
        if (!used) {
            const std::string reason = UnusedReason(*g, chosen);
            for (const auto& [sequence, stripe] : g->Stripes)
                FPlan.Unused.push_back({stripe.File->Path, g->Header().DataSetNumber, reason});
        }
        for (const auto& [stripe, why] : g->Extra)
            FPlan.Unused.push_back({stripe.File->Path, g->Header().DataSetNumber, why});
    }
}

bool StartsWithTapeHeader(const std::vector<uint8_t>& bytes)
{
    return bytes.size() >= 4 && bytes[0] == 'T' && bytes[1] == 'A' && bytes[2] == 'P' && bytes[3] == 'E';
}

}  // namespace

const char* PlanStepKindName(TPlanStepKind kind)
{
    switch (kind) {
    case TPlanStepKind::Full:
        return "full";
    case TPlanStepKind::Differential:
        return "differential";
    case TPlanStepKind::Log:
        return "log";
    }
    return "";
}

const char* FindingSeverityName(TFindingSeverity severity)
{
    return severity == TFindingSeverity::Error ? "error" : "warning";
}

std::string PlanTimeText(TDateTime value)
{
    if (value == 0)
        return {};
    const TDateTimeParts p = DecodeDateTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                  p.Minute, p.Second);
    return text;
}

std::optional<TDateTime> ParsePlanTime(const std::string& text)
{
    TDateTimeParts p;
    char separator = 0;
    int consumed = 0;
    if (text.size() != 19 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &p.Year, &p.Month, &p.Day, &separator,
                    &p.Hour, &p.Minute, &p.Second, &consumed) != 7 ||
        consumed != 19 || (separator != 'T' && separator != ' '))
        return std::nullopt;
    for (size_t i : {4u, 7u, 13u, 16u})
        if (text[i] != (i < 10 ? '-' : ':'))
            return std::nullopt;
    if (p.Hour > 23 || p.Minute > 59 || p.Second > 59)
        return std::nullopt;
    return EncodeDateTime(p);
}

TRestorePlans PlanRestores(const std::vector<TPlanFile>& files, const TPlanOptions& options)
{
    TRestorePlans plans;
    std::vector<TSetGroup> groups;
    groups.reserve(files.size());
    std::map<std::tuple<TGUID, int32_t, const TPlanFile*>, size_t> groupIndex;
    std::map<std::pair<std::u16string, TGUID>, std::vector<size_t>> databases;

    for (const TPlanFile& file : files) {
        const TBackupFileReport& report = file.Report;
        if (!report.Opened) {
            plans.Skipped.push_back(
                {file.Path, report.ErrorLines.empty()
                                ? std::string("could not be opened")
                                : "could not be opened: " + Utf16ToUtf8(report.ErrorLines[0])});
            continue;
        }
        if (!StartsWithTapeHeader(report.FirstBytes)) {
            plans.Skipped.push_back({file.Path, "not a backup: it does not begin with a tape header"});
            continue;
        }
        bool any = false;
        for (const TBackupDetails& set : report.Sets) {
            const TBackupHeader& h = set.Header;
            if (h.DatabaseName.empty())
                continue;
            any = true;
            if (options.Database && h.DatabaseName != *options.Database)
                continue;
            // Without a set GUID the stripes of one set cannot be matched: the set stands alone.
            const auto key =
                std::make_tuple(h.BackupSetGUID, h.DataSetNumber, IsZero(h.BackupSetGUID) ? &file : nullptr);
            auto [slot, added] = groupIndex.emplace(key, groups.size());
            if (added) {
                groups.emplace_back();
                groups.back().First = &set;
                groups.back().FamilyCount = std::max(1, h.FamilyCount);
                databases[{h.DatabaseName, h.BindingID}].push_back(slot->second);
            }
            TSetGroup& g = groups[slot->second];
            const TStripe stripe{&file, &set};
            const int32_t sequence = h.FamilySequenceNumber;
            if (sequence < 1 || sequence > g.FamilyCount || h.FamilyCount != g.FamilyCount) {
                g.Extra.push_back({stripe, "stripe " + std::to_string(sequence) + " of " +
                                               std::to_string(h.FamilyCount) +
                                               " does not fit the family of this set"});
                continue;
            }
            auto [known, fresh] = g.Stripes.emplace(sequence, stripe);
            if (!fresh)
                g.Extra.push_back({stripe, "a copy of stripe " + std::to_string(sequence) + ", already in " +
                                               known->second.File->Path});
        }
        if (!any)
            plans.Skipped.push_back({file.Path, "holds no backup set"});
    }

    for (auto& [key, indexes] : databases) {
        std::vector<TSetGroup*> members;
        for (size_t i : indexes)
            members.push_back(&groups[i]);
        plans.Databases.push_back(TDatabasePlanner(std::move(members), options).Plan());
    }
    std::stable_sort(plans.Databases.begin(), plans.Databases.end(),
                     [](const TDatabasePlan& a, const TDatabasePlan& b) {
                         return std::tie(a.Name, a.BindingID) < std::tie(b.Name, b.BindingID);
                     });
    return plans;
}
