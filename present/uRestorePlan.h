#pragma once
// Restore planning from backup headers alone: which sets restore a database, from which
// files, in which order, and what stands in the way. The tools and the window plan from
// the same read reports with the same rules, so they never disagree about a chain.
//
// The rules are the server's: a plan starts from a complete full database backup, takes
// the latest differential based on that full, then the log backups in LSN order, each
// applying where the step before it ended. Backups are ordered by LSN, never by their
// dates: those have one-second precision and a full and the differential taken right
// after it often carry the same second.

#include "uBigInteger.h"
#include "uTypesMTF.h"
#include "u_MTFReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One file read for planning: its path as the user gave or the folder search found it
// (UTF-8), and what the reader found in it.
struct TPlanFile {
    std::string Path;
    TBackupFileReport Report;
};

struct TPlanOptions {
    // Plan a point in time instead of the latest point, on the clock the backups' dates
    // use.
    std::optional<TDateTime> At;
    // Only the databases of this name (exact match).
    std::optional<std::u16string> Database;
    // The major version of the server the restore runs on: sets written by a newer one
    // cannot be restored there.
    std::optional<int32_t> TargetVersion;
};

enum class TPlanStepKind { Full, Differential, Log };
enum class TFindingSeverity { Error, Warning };

// A database file as the full backup lists it, for the MOVE clauses of a script.
struct TPlanDatabaseFile {
    std::u16string LogicalName;
    std::u16string PhysicalName;
    std::string FileType;  // D, L, F, S as the reader gives them
};

struct TPlanStep {
    TPlanStepKind Kind = TPlanStepKind::Full;
    int32_t Position = 0;            // the FILE = number: the set's place in its media
    std::vector<std::string> Files;  // one per stripe, in family sequence order
    TBigInteger FirstLSN;
    TBigInteger LastLSN;
    TDateTime Start = 0;
    TDateTime Finish = 0;
    bool CopyOnly = false;
    bool HasPassword = false;
    // The point in time the step stops at (every step of a point-in-time plan).
    std::optional<TDateTime> StopAt;
};

struct TPlanFinding {
    TFindingSeverity Severity = TFindingSeverity::Warning;
    std::string Code;     // fixed codes, e.g. no-full-backup, missing-stripe, log-gap
    std::string Message;  // plain words, with the LSNs, times and files concerned
};

// A set of the database the plan does not use, once per file that holds it.
struct TPlanUnused {
    std::string File;
    int32_t Position = 0;
    std::string Reason;
};

struct TDatabasePlan {
    std::u16string Name;
    std::string Server;
    TGUID BindingID{};
    std::string RecoveryModel;  // of the newest data backup of the plan, or of the database
    // What was asked for: the latest point, given as the highest LSN that any complete
    // backup of the database reaches, or the point in time At.
    TBigInteger TargetLSN;
    std::optional<TDateTime> TargetTime;
    // True when the steps reach the target.
    bool Complete = false;
    // The point the steps restore to: the LSN (none for a point in time inside a log
    // backup, which its header cannot tell) and the time.
    std::optional<TBigInteger> RestoresToLSN;
    TDateTime RestoresToTime = 0;
    std::vector<TPlanStep> Steps;
    std::vector<TPlanDatabaseFile> DatabaseFiles;  // of the full backup the plan starts from
    std::vector<TPlanFinding> Findings;            // errors first, then warnings
    std::vector<TPlanUnused> Unused;
};

struct TPlanSkipped {
    std::string File;
    std::string Reason;
};

struct TRestorePlans {
    // Ordered by name, then binding ID.
    std::vector<TDatabasePlan> Databases;
    // Files that are no backup, hold no backup set or could not be read, in input order.
    std::vector<TPlanSkipped> Skipped;
};

// Plans every database found in the files. Files that are not backups (they do not begin
// with a tape header), that hold no set or that could not be opened are listed as
// skipped; they never stop the plan.
[[nodiscard]] TRestorePlans PlanRestores(const std::vector<TPlanFile>& files,
                                         const TPlanOptions& options = {});

// "full", "differential", "log": the names the JSON and the texts use.
[[nodiscard]] const char* PlanStepKindName(TPlanStepKind kind);
[[nodiscard]] const char* FindingSeverityName(TFindingSeverity severity);
// A date as YYYY-MM-DDTHH:MM:SS, the form the dump and STOPAT use; empty for 0 (not set).
[[nodiscard]] std::string PlanTimeText(TDateTime value);
// Parses YYYY-MM-DDTHH:MM:SS (a blank instead of the T is accepted); nothing when invalid.
[[nodiscard]] std::optional<TDateTime> ParsePlanTime(const std::string& text);
