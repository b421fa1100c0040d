#pragma once
// The main window: the toolbar, the backup tree grdBAK, the error memo, the log page
// (debug mode only) and the two banners; it reads one backup file at a time and keeps
// its placement and the banner alternation in settings.ini.

#include "uBackupTreeModel.h"
#include "uIniFile.h"
#include "uRestorePlan.h"
#include "u_MTFReader.h"

#include <QLabel>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QTreeView>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class QAction;
class QProgressBar;
class QPushButton;
class QThread;
class QPlainTextEdit;
class QTabWidget;
class QTextEdit;
class QTimer;
class QToolBar;
class QWidget;
class TCatalogPage;

// The tree grid: a tree view that joins each row to its parent and its siblings with
// dotted lines, so the depth of a row can be followed in a long list.
class TBackupTreeView : public QTreeView {
    Q_OBJECT
public:
    using QTreeView::QTreeView;

    // The width the view's item delegate asks for a cell that shows text.
    [[nodiscard]] int CellWidthHint(const QString& text) const;
    // Opens every row that has children, with one layout of the rows afterwards.
    void ExpandEveryRow();

protected:
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
};

// A picture that opens something when clicked: the banners.
class TClickableImage : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The data, log and server folders a restore script moves the files to, as settings.ini
// keeps them in a section of their own.
struct TRestoreFolders {
    QString DataDir, LogDir, ServerDir;
    bool operator==(const TRestoreFolders&) const = default;
};

// What the window needs of a page that plans restores from the files read: it hands the
// page every file read (also those of a single open), clears it with the tree, and
// keeps the page's folders in settings.ini. The page is any widget, so that the window
// does not depend on how the plan is shown.
struct TRestorePageLink {
    std::function<void(std::vector<TPlanFile> files)> SetFiles;
    std::function<void()> Clear;
    std::function<TRestoreFolders()> Folders;
    std::function<void(const TRestoreFolders&)> SetFolders;
};

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // arguments: the command line without the program name.
    explicit TfrmMain(const QStringList& arguments, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Starts reading the file on a worker thread and returns; the window stays usable,
    // shows the progress and can cancel, and shows the result when the read ends
    // (ReadFinished). An open while another read runs cancels that read.
    void OpenBackupFile(const QString& path);
    void ShowBackupSets(TBackupSets sets);
    // Opens what was named: one file as OpenBackupFile does; several files or any folder
    // are read one file after the other on a worker, every backup set of them listed in
    // the catalog page as they come in, and a row chosen there shown in the tree.
    void OpenPaths(const QStringList& paths);
    // Adds the restore page as the last tab and gives it the folders settings.ini holds.
    void SetRestorePage(QWidget* page, TRestorePageLink link);
    // Writes the restore page's folders to settings.ini; the page's change signal calls it.
    void SaveRestoreFolders();
    // Stops the running read at its next block; the sets read until then are shown.
    void CancelRead();
    [[nodiscard]] bool Reading() const { return FJob != nullptr || FFolderJob != nullptr; }
    // Cancels the running read and waits until every worker, also those of replaced
    // reads, has returned; a window that overrides ReadBackup calls it before its own
    // members go.
    void WaitForReads();

    // The fixed file that debug mode reads at start.
    static constexpr const char* DebugTestFile = "e:\\temp\\pubs.bak";
    static constexpr const char* BannerAddress1 = "https://www.quorvel.example/?source=tarnwick";
    static constexpr const char* BannerAddress2 = "https://www.quorvel.example/products/?source=tarnwick";

    // Where the window would block on a modal dialog. Tests answer them instead: the
    // open-file dialog returns the chosen path or nothing for a cancel, the error box
    // receives the message it would show.
    std::function<std::optional<QString>(QWidget* owner)> OpenFileDialog;
    // The folder dialog: the chosen folder or nothing for a cancel.
    std::function<std::optional<QString>(QWidget* owner)> OpenFolderDialog;
    std::function<void(QWidget* owner, const QString& message)> ErrorBox;

    bool DebugMode = false;
    QString SettingsFolder;  // ends in "/"
    QString SettingsFile;

    QToolBar* ToolBar1 = nullptr;
    QAction* btnOpenFile = nullptr;
    QAction* btnOpenFolder = nullptr;
    QAction* ToolButton1 = nullptr;
    QAction* btnAbout = nullptr;
    QAction* btnClose = nullptr;
    QTabWidget* pgcMain = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    TCatalogPage* pgCatalog = nullptr;
    QWidget* pgRestore = nullptr;
    TBackupTreeView* grdBAK = nullptr;
    TBackupTreeModel* grdBAKModel = nullptr;
    QTextEdit* mmLog = nullptr;
    QPlainTextEdit* mmErrors = nullptr;
    TClickableImage* imgAd1 = nullptr;
    TClickableImage* imgAd2 = nullptr;
    QTimer* timerMain = nullptr;
    // Shown in the status bar while a read runs.
    QProgressBar* pbRead = nullptr;
    QPushButton* btnCancelRead = nullptr;
    QAction* actCancelRead = nullptr;  // Esc

    // The files and folders named on the command line, opened at start instead of asking
    // for one.
    QStringList StartFiles;

signals:
    // The toolbar's About and Check for updates buttons; the program entry connects
    // them to the windows that answer them.
    void AboutRequested();
    void CheckForUpdatesRequested();
    // A read started by OpenBackupFile has ended and its result is shown (also when it
    // failed or was cancelled); not sent for a read that a later open replaced.
    void ReadFinished();

protected:
    // The read itself, on the worker thread; a seam so a test can make it fail or hand
    // it a file system of its own. options carry the log switch and the progress
    // callback that cancels.
    virtual TBackupFileReport ReadBackup(const std::u16string& path, const TReadOptions& options);

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate(const QStringList& arguments);
    void FormShow();
    void timerMainTimer();
    void btnOpenFileClick();
    void btnOpenFolderClick();
    void ToolButton1Click();
    void btnAboutClick();
    void btnCloseClick();
    void grdBAKKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void imgAd1Click();
    void imgAd2Click();

    // Runs an event handler; what escapes it goes to the error box, as the standard
    // error handling of the application would show it.
    void Guarded(const std::function<void()>& handler);
    void ShowErrorBox(const QString& message);

    void RestorePlacement();
    void SavePlacement();

    struct TReadJob;
    void ReadEnded(const std::shared_ptr<TReadJob>& job);
    void ShowReport(TReadJob& job);
    void UpdateProgress();
    void EndBusy();
    void StartBusy();
    struct TFolderJob;
    void FolderReadEnded(const std::shared_ptr<TFolderJob>& job);
    void TakeReadFiles(TFolderJob& job);
    void CatalogSetSelected(const QString& path, int setIndex);
    void ShowFileReport(const TBackupFileReport& report, std::optional<size_t> onlySet,
                        std::vector<std::u16string> before);
    void UpdateTabs();

    std::unique_ptr<TIniFile> iniMain;
    bool FShown = false;
    std::shared_ptr<TReadJob> FJob;  // the read whose result the window waits for
    std::shared_ptr<TFolderJob> FFolderJob;
    // Every file of the last open, in the order read, and where each path is in it.
    std::vector<TPlanFile> FFiles;
    std::unordered_map<std::u16string, size_t> FFileIndex;
    TRestorePageLink FRestore;
    // The lines of a folder read that stay above those of the file shown: what was
    // skipped and why, and where the read was cancelled.
    std::vector<std::u16string> FFolderMemo;
    bool FCatalogShown = false;
    std::vector<QThread*> FThreads;  // every worker still running, also replaced ones
    QTimer* FProgressTimer = nullptr;
    bool FBusy = false;
};

// The name filter of the open-file dialog.
inline constexpr const char* RestoreSection = "Restore";
inline constexpr const char* BackupFileFilter = "SQL Server backup files (*.bak *.dmp);;All files (*)";

// The debug switch of the command line, compared with its ASCII letters in upper case.
[[nodiscard]] bool IsDebugSwitch(const QString& argument);

// What the command line asks for (without the program name): the debug switch, the
// file to open at start, and what the program must say on standard error. An argument
// that begins with "-" and is not the debug switch is an unknown option: the program
// says so and ends with status 2 before it shows a window.
struct TCommandLine {
    bool DebugMode = false;
    QString File;          // the first file named; empty when none
    QStringList Files;     // every file and folder named
    QStringList Messages;  // lines for standard error
    bool UnknownOption = false;
};
[[nodiscard]] TCommandLine ParseCommandLine(const QStringList& arguments);

// The text shown when an operation ran out of memory.
inline constexpr const char* OutOfMemoryText =
    "Not enough memory to complete the operation. Close other programs, or open a smaller file.";
