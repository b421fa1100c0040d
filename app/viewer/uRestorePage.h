#pragma once
// The restore page: a database and a target chosen from the files read, the planner's
// steps and findings for them, and the T-SQL script with the folders it moves to. The
// texts are the planner's own, so the page and the command-line planner never disagree.

#include "uRestorePlan.h"

#include <QString>
#include <QWidget>

#include <vector>

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

class TRestorePage : public QWidget {
    Q_OBJECT
public:
    explicit TRestorePage(QWidget* parent = nullptr);

    // The files read so far, replacing the ones given before; the database chosen stays
    // chosen while the files still hold it.
    void SetFiles(std::vector<TPlanFile> files);
    void Clear();

    [[nodiscard]] QString ScriptText() const;

    struct TFolders {
        QString DataDir, LogDir, ServerDir;
    };
    [[nodiscard]] TFolders Folders() const;
    // Fills the folder fields without FoldersChanged: the caller already has them.
    void SetFolders(const TFolders& folders);

    QComboBox* cbDatabase;
    QRadioButton* rbLatest;
    QRadioButton* rbPointInTime;
    QDateTimeEdit* dtPointInTime;
    QLabel* lblRestoresTo;
    QTreeWidget* lvSteps;
    QListWidget* lvFindings;
    QLineEdit* edDataDir;
    QLineEdit* edLogDir;
    QLineEdit* edServerDir;
    QPlainTextEdit* mmScript;
    QPushButton* btnCopyScript;

signals:
    // The user changed a folder field.
    void FoldersChanged();

private:
    void FillDatabases();
    void Replan();
    void ShowPlan();
    void WriteScript();
    void CopyScript() const;

    std::vector<TPlanFile> FFiles;
    // The plan shown; none while no database is chosen.
    std::vector<TDatabasePlan> FPlan;
};
