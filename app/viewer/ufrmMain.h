#pragma once
// The main window: the toolbar, the backup tree grdBAK, the error memo, the log page
// (debug mode only) and the two banners; it reads one backup file at a time and keeps
// its placement and the banner alternation in settings.ini.

#include "uBackupTreeModel.h"
#include "uIniFile.h"
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
    // Stops the running read at its next block; the sets read until then are shown.
    void CancelRead();
    [[nodiscard]] bool Reading() const { return FJob != nullptr; }
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
    std::function<void(QWidget* owner, const QString& message)> ErrorBox;

    bool DebugMode = false;
    QString SettingsFolder;  // ends in "/"
    QString SettingsFile;

    QToolBar* ToolBar1 = nullptr;
    QAction* btnOpenFile = nullptr;
    QAction* ToolButton1 = nullptr;
    QAction* btnAbout = nullptr;
    QAction* btnClose = nullptr;
    QTabWidget* pgcMain = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
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

    // The file named on the command line, opened at start instead of asking for one.
    QString StartFile;

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

    std::unique_ptr<TIniFile> iniMain;
    bool FShown = false;
    std::shared_ptr<TReadJob> FJob;  // the read whose result the window waits for
    std::vector<QThread*> FThreads;  // every worker still running, also replaced ones
    QTimer* FProgressTimer = nullptr;
    bool FBusy = false;
};

// The name filter of the open-file dialog.
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
    QStringList Messages;  // lines for standard error
    bool UnknownOption = false;
};
[[nodiscard]] TCommandLine ParseCommandLine(const QStringList& arguments);

// The text shown when an operation ran out of memory.
inline constexpr const char* OutOfMemoryText =
    "Not enough memory to complete the operation. Close other programs, or open a smaller file.";
