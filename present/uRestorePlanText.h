#pragma once
// The restore plans as people read them and as a T-SQL script for sqlcmd and the query
// window: the same texts in the tools and the window.

#include "uRestorePlan.h"

#include <optional>
#include <string>

// Every database's plan, then the skipped files.
[[nodiscard]] std::string RestorePlansText(const TRestorePlans& plans);
// One database: name, server, the point it restores to, the steps, the findings and the
// sets it does not need.
[[nodiscard]] std::string DatabasePlanText(const TDatabasePlan& plan);

struct TScriptOptions {
    // Restore under this name instead of the backed-up one.
    std::optional<std::u16string> As;
    // When set, one MOVE per database file: log files to LogDir, all others to DataDir,
    // each keeping its own file name; the folder's own separator is used.
    std::string DataDir;
    std::string LogDir;
    // The folder the server sees the backup files in: the backup paths are written with
    // this folder and their own file names.
    std::string ServerDir;
    bool Replace = false;
};

// One batch per step, so that sqlcmd and the query window stop at the first failure, then
// RESTORE ... WITH RECOVERY. Comment lines before the batches say what the plan reaches
// and list its findings; a plan without steps is comments only.
[[nodiscard]] std::string RestoreScript(const TDatabasePlan& plan, const TScriptOptions& options = {});
// The scripts of every database, a blank line between them.
[[nodiscard]] std::string RestoreScript(const TRestorePlans& plans, const TScriptOptions& options = {});

// [name] with every ] doubled.
[[nodiscard]] std::string QuoteIdentifier(const std::string& name);
// N'text' with every ' doubled.
[[nodiscard]] std::string QuoteString(const std::string& text);
// The file name of a path written with slashes or backslashes, joined to folder with the
// folder's separator (a backslash when the folder has one or starts with a drive letter).
[[nodiscard]] std::string PathInFolder(const std::string& folder, const std::string& path);
