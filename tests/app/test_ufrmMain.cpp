// The main window, headless: the start sequence, opening backup files, copying a cell,
// the debug switch, the stored placement, the error box, the banners and dropping a
// file. The open-file dialog and the error box are answered through the window's seams.

#include "ufrmMain.h"

#include "uBackupTree.h"
#include "uCatalogPage.h"
#include "uFileKind.h"
#include "uFixtureBuilder.h"
#include "uIniFile.h"
#include "uLocaleFormat.h"
#include "uMemoryFile.h"
#include "uShellOpen.h"
#include "u_MTFReader.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>

#include <unistd.h>

namespace {

const std::string Section = "frmMain";

// A window whose read fails, as a read that meets a fault it cannot turn into an error
// line would, or runs out of memory.
class TFailingReadWindow : public TfrmMain {
public:
    TFailingReadWindow(const QStringList& arguments, bool outOfMemory)
        : TfrmMain(arguments), FOutOfMemory(outOfMemory)
    {
    }

protected:
    TBackupFileReport ReadBackup(const std::u16string&, const TReadOptions&) override
    {
        if (FOutOfMemory)
            throw std::bad_alloc();
        throw std::runtime_error("Disk gone");
    }

private:
    bool FOutOfMemory;
};

// Files in memory whose reads past the first one wait until the test releases them, as
// a file on a slow share would; a read that waits longer than a test can take goes on,
// and says so, so that a window that waits on its own thread fails instead of hanging.
class TBlockingFileApi : public TMemoryFileApi {
public:
    bool Read(THandle handle, void* dest, uint32_t count, uint32_t& delivered, int& error) override
    {
        {
            std::unique_lock lock(FMutex);
            if (FReads++ > 0 && !FReleased) {
                FWaiting = true;
                if (!FChanged.wait_for(lock, std::chrono::seconds(20), [this] { return FReleased; }))
                    FTimedOut = true;
                FWaiting = false;
            }
        }
        return TMemoryFileApi::Read(handle, dest, count, delivered, error);
    }
    void Release()
    {
        std::lock_guard lock(FMutex);
        FReleased = true;
        FChanged.notify_all();
    }
    bool Waiting()
    {
        std::lock_guard lock(FMutex);
        return FWaiting;
    }
    bool TimedOut()
    {
        std::lock_guard lock(FMutex);
        return FTimedOut;
    }
    // The walk has read past its first piece of the file.
    bool ReadPastFirst()
    {
        std::lock_guard lock(FMutex);
        return FReads > 1;
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    int FReads = 0;
    bool FReleased = false;
    bool FWaiting = false;
    bool FTimedOut = false;
};

// A window that reads names under /mem/ from a blocking file system and adds a warning
// to every report, as a reader that finds a set without its end would.
class TMemoryReadWindow : public TfrmMain {
public:
    TMemoryReadWindow(const QStringList& arguments, std::shared_ptr<TBlockingFileApi> api)
        : TfrmMain(arguments), FApi(std::move(api))
    {
    }
    ~TMemoryReadWindow() override
    {
        FApi->Release();
        WaitForReads();
    }
    std::u16string Warning;

protected:
    TBackupFileReport ReadBackup(const std::u16string& path, const TReadOptions& options) override
    {
        TReadOptions mine = options;
        if (path.starts_with(u"/mem/"))
            mine.Api = FApi;
        TBackupFileReport report = ReadBackupFile(path, mine);
        if (!Warning.empty())
            report.Warnings.push_back(Warning);
        return report;
    }

private:
    std::shared_ptr<TBlockingFileApi> FApi;
};

// A window whose read of a file named "b.bak" waits until the read is cancelled, as a
// read of a slow share would; it gives up after a time no test takes.
class TWaitingReadWindow : public TfrmMain {
public:
    using TfrmMain::TfrmMain;
    ~TWaitingReadWindow() override { WaitForReads(); }
    std::atomic<bool> Waiting{false};

protected:
    TBackupFileReport ReadBackup(const std::u16string& path, const TReadOptions& options) override
    {
        if (path.ends_with(u"/b.bak")) {
            Waiting = true;
            for (int i = 0; i < 4000 && options.OnProgress(0, 1); ++i)
                QThread::msleep(5);
        }
        return ReadBackupFile(path, options);
    }
};

// A backup file whose sets, named as given, have GUIDs of their own from firstGuid on,
// so that the catalog lists each as a set of its own.
void WriteDistinctSets(const std::string& path, std::initializer_list<const char16_t*> names,
                       uint32_t firstGuid)
{
    TFixtureBuilder b;
    b.MediaHeader();
    uint32_t guid = firstGuid;
    for (const char16_t* name : names) {
        TBackupSetSpec spec;
        spec.Sset.Name = {name};
        spec.Sset.BackupSetGUID = NumberedGuid(7, guid++);
        b.BackupSet(spec);
    }
    b.WriteTo(path);
}

// Opens a file and waits until the window shows it.
void OpenAndWait(TfrmMain& window, const QString& path)
{
    QSignalSpy finished(&window, &TfrmMain::ReadFinished);
    window.OpenBackupFile(path);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.count(), 1);
}

// Standard error, caught in a file while the object lives.
class TStderrCapture {
public:
    TStderrCapture() : FFile(std::tmpfile()), FSaved(dup(STDERR_FILENO))
    {
        std::fflush(stderr);
        dup2(fileno(FFile), STDERR_FILENO);
    }
    ~TStderrCapture()
    {
        Restore();
        std::fclose(FFile);
    }
    QString Text()
    {
        Restore();
        std::rewind(FFile);
        QByteArray text;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, FFile)) > 0;)
            text.append(buffer, static_cast<qsizetype>(n));
        return QString::fromUtf8(text);
    }

private:
    void Restore()
    {
        if (FSaved < 0)
            return;
        std::fflush(stderr);
        dup2(FSaved, STDERR_FILENO);
        close(FSaved);
        FSaved = -1;
    }
    std::FILE* FFile;
    int FSaved;
};

QString ScreenSuffix()
{
    const QSize size = QGuiApplication::primaryScreen()->geometry().size();
    return QStringLiteral("(%1x%2)").arg(size.width()).arg(size.height());
}

// Rows of the grid as its model answers them, depth first: the order in which
// RowsForBackupSets lists them.
void CollectRows(const QAbstractItemModel& model, const QModelIndex& index, int parent,
                 std::vector<TBackupTreeRow>& rows)
{
    const int level = parent < 0 ? 0 : rows[static_cast<size_t>(parent)].Level + 1;
    rows.push_back({level, parent, index.data().toString().toStdU16String(),
                    index.siblingAtColumn(1).data().toString().toStdU16String()});
    const int self = static_cast<int>(rows.size()) - 1;
    for (int i = 0; i < model.rowCount(index); ++i)
        CollectRows(model, model.index(i, 0, index), self, rows);
}

std::vector<TBackupTreeRow> GridRows(const QTreeView* grid)
{
    std::vector<TBackupTreeRow> rows;
    const QAbstractItemModel& model = *grid->model();
    for (int i = 0; i < model.rowCount(); ++i)
        CollectRows(model, model.index(i, 0), -1, rows);
    return rows;
}

int TopLevelCount(const QTreeView* grid)
{
    return grid->model()->rowCount();
}

QModelIndex ChildByLabel(const QModelIndex& parent, const QString& label)
{
    const QAbstractItemModel* model = parent.model();
    for (int i = 0; i < model->rowCount(parent); ++i)
        if (model->index(i, 0, parent).data().toString() == label)
            return model->index(i, 0, parent);
    return {};
}

QString ValueOf(const QModelIndex& parent, const QString& label)
{
    return ChildByLabel(parent, label).siblingAtColumn(1).data().toString();
}

}  // namespace

class TfrmMainTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startAlternatesTheBanners_data();
    void startAlternatesTheBanners();
    void startAsksForAFileAndACancelChangesNothing();
    void opensBackupFilesAndShowsTheirProblems();
    void copiesTheSelectedCell_data();
    void copiesTheSelectedCell();
    void debugSwitch_data();
    void debugSwitch();
    void placementIsWrittenOnCloseAndRestored_data();
    void placementIsWrittenOnCloseAndRestored();
    void restoredPlacement_data();
    void restoredPlacement();
    void failedReadShowsTheErrorBoxAndRestoresTheWindow_data();
    void failedReadShowsTheErrorBoxAndRestoresTheWindow();
    void readRunsOffTheWindowThreadAndCanBeCancelled_data();
    void readRunsOffTheWindowThreadAndCanBeCancelled();
    void secondOpenCancelsTheFirst();
    void warningsFollowTheErrorLines();
    void largeSetIsExpandedAndFitted();
    void commandLine_data();
    void commandLine();
    void fileOnTheCommandLineIsOpenedAtStart();
    void programRefusesAnUnknownOption();
    void bannersOpenTheirPages();
    void toolbarButtonsInOrderWithTheirHints();
    void droppedFileIsOpened();
    void fileThatIsNoBackupIsExplainedAndShowsNoSet();
    void folderIsListedInTheCatalogWithItsNonBackupsSkipped();
    void folderReadCanBeCancelled();
    void restorePageGetsTheFilesAndItsFoldersAreRemembered();

private:
    enum class TReadKind { Real, Failing, OutOfMemory };
    std::unique_ptr<TfrmMain> MakeWindow(const QStringList& arguments = {}, TReadKind read = TReadKind::Real);
    void Answer(TfrmMain& window);
    void ShowAndWait(TfrmMain& window);
    void WriteSettings(const QByteArray& text);
    [[nodiscard]] std::string SettingsValue(const std::string& key) const;

    std::unique_ptr<TTempDir> FFixtures;
    QString FTwoSets, FOneSet, FMissing;
    std::unique_ptr<QTemporaryDir> FConfig;
    QString FSettingsFile;
    int FDialogCalls = 0;
    std::optional<QString> FDialogAnswer;
    QStringList FErrorBoxes;
};

void TfrmMainTest::initTestCase()
{
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    SetLocaleFormat(MakeIcuLocaleFormat("en_US"));
    SetShellOpenHandler([](const QUrl&) { return true; });  // never start a browser

    FFixtures = std::make_unique<TTempDir>();
    {
        TFixtureBuilder b;
        b.MediaHeader();
        b.BackupSet(TBackupSetSpec{});
        TBackupSetSpec locked;
        locked.Sset.Name = {u"Locked copy"};
        locked.Sset.Password = {u"secret"};
        b.BackupSet(locked);
        FTwoSets = QString::fromStdString(FFixtures->Path("two-sets.bak"));
        b.WriteTo(FTwoSets.toStdString());
    }
    {
        TFixtureBuilder b;
        b.MediaHeader();
        b.BackupSet(TBackupSetSpec{});
        FOneSet = QString::fromStdString(FFixtures->Path("one-set.bak"));
        b.WriteTo(FOneSet.toStdString());
    }
    FMissing = QString::fromStdString(FFixtures->Path("missing.bak"));
}

void TfrmMainTest::init()
{
    // A settings folder of its own for every test, two levels below the configuration
    // folder that does not exist yet.
    FConfig = std::make_unique<QTemporaryDir>();
    QVERIFY(FConfig->isValid());
    const QString configHome = FConfig->path() + QStringLiteral("/config/home");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    FSettingsFile = configHome + QStringLiteral("/Quorvel/Tarnwick/settings.ini");
    FDialogCalls = 0;
    FDialogAnswer.reset();
    FErrorBoxes.clear();
}

void TfrmMainTest::cleanup()
{
    QCOMPARE(FErrorBoxes, QStringList());
}

std::unique_ptr<TfrmMain> TfrmMainTest::MakeWindow(const QStringList& arguments, TReadKind read)
{
    std::unique_ptr<TfrmMain> window =
        read == TReadKind::Real
            ? std::make_unique<TfrmMain>(arguments)
            : std::make_unique<TFailingReadWindow>(arguments, read == TReadKind::OutOfMemory);
    Answer(*window);
    return window;
}

void TfrmMainTest::Answer(TfrmMain& window)
{
    window.OpenFileDialog = [this](QWidget*) {
        ++FDialogCalls;
        return FDialogAnswer;
    };
    window.ErrorBox = [this](QWidget*, const QString& message) { FErrorBoxes << message; };
}

void TfrmMainTest::ShowAndWait(TfrmMain& window)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
}

void TfrmMainTest::WriteSettings(const QByteArray& text)
{
    QVERIFY(QDir().mkpath(QFileInfo(FSettingsFile).path()));
    QFile file(FSettingsFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

std::string TfrmMainTest::SettingsValue(const std::string& key) const
{
    return TIniFile(QFile::encodeName(FSettingsFile).toStdString()).ReadString(Section, key, "(missing)");
}

void TfrmMainTest::startAlternatesTheBanners_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("secondBanner");
    QTest::addColumn<QString>("storedAdID");
    QTest::newRow("first start") << QByteArray() << false << "0";
    QTest::newRow("after the first banner") << QByteArray("[frmMain]\nAdID=0\n") << true << "1";
    QTest::newRow("after the second banner") << QByteArray("[frmMain]\nAdID=1\n") << false << "0";
    QTest::newRow("another value stays") << QByteArray("[frmMain]\nAdID=5\n") << false << "5";
    QTest::newRow("not a number") << QByteArray("[frmMain]\nAdID=x\n") << false << "0";
}

void TfrmMainTest::startAlternatesTheBanners()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, secondBanner);
    QFETCH(QString, storedAdID);
    if (!settings.isEmpty())
        WriteSettings(settings);

    auto window = MakeWindow();
    QCOMPARE(window->SettingsFile, FSettingsFile);
    QVERIFY(QFileInfo(window->SettingsFolder).isDir());
    ShowAndWait(*window);
    QCOMPARE(window->imgAd1->isHidden(), secondBanner);
    QCOMPARE(window->imgAd2->isHidden(), !secondBanner);
    QCOMPARE(QString::fromStdString(SettingsValue("AdID")), storedAdID);
}

void TfrmMainTest::startAsksForAFileAndACancelChangesNothing()
{
    auto window = MakeWindow();
    QCOMPARE(FDialogCalls, 0);
    ShowAndWait(*window);
    QTRY_COMPARE(FDialogCalls, 1);
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick"));
    QCOMPARE(TopLevelCount(window->grdBAK), 0);
    QVERIFY(!window->timerMain->isActive());

    FDialogAnswer = FOneSet;
    QSignalSpy finished(window.get(), &TfrmMain::ReadFinished);
    window->btnOpenFile->trigger();
    QCOMPARE(FDialogCalls, 2);
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick - ") + FOneSet);
    QVERIFY(finished.wait(20000));
    QCOMPARE(TopLevelCount(window->grdBAK), 1);
}

void TfrmMainTest::opensBackupFilesAndShowsTheirProblems()
{
    auto window = MakeWindow();
    QAbstractItemModelTester tester(window->grdBAK->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    ShowAndWait(*window);
    QTRY_COMPARE(FDialogCalls, 1);

    OpenAndWait(*window, FMissing);
    QVERIFY(!window->mmErrors->isHidden());
    QVERIFY(!window->mmErrors->toPlainText().isEmpty());
    QCOMPARE(TopLevelCount(window->grdBAK), 0);

    OpenAndWait(*window, FTwoSets);
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick - ") + FTwoSets);
    QVERIFY(window->mmErrors->isHidden());
    QVERIFY(window->imgAd1->isHidden());
    QVERIFY(!window->imgAd2->isHidden());

    // The grid holds exactly the rows tarnwick-dump prints for the same file.
    const TBackupFileReport report = ReadBackupFile(FTwoSets.toStdU16String());
    QVERIFY(report.ErrorLines.empty());
    QCOMPARE(report.Sets.size(), size_t(2));
    QVERIFY(GridRows(window->grdBAK) == RowsForBackupSets(report.Sets));

    QTreeView* grid = window->grdBAK;
    const QAbstractItemModel* model = grid->model();
    QCOMPARE(TopLevelCount(grid), 2);
    const QModelIndex set2 = model->index(1, 0);
    QCOMPARE(set2.data().toString(), QStringLiteral("Backup set 2"));
    QCOMPARE(model->rowCount(set2), 47);
    QCOMPARE(model->index(0, 0, set2).data().toString(), QStringLiteral("Backup name"));
    QCOMPARE(ValueOf(set2, QStringLiteral("Backup name")), QStringLiteral("Locked copy"));
    QCOMPARE(ValueOf(set2, QStringLiteral("Collation")), QStringLiteral("English (United States)"));
    const QModelIndex files = model->index(46, 0, set2);
    QCOMPARE(files.data().toString(), QStringLiteral("Files: 2"));
    const QModelIndex logFile = model->index(1, 0, files);
    QCOMPARE(logFile.data().toString(), QStringLiteral("File ID: 2"));
    QCOMPARE(ValueOf(logFile, QStringLiteral("File type")), QStringLiteral("L (transaction log file)"));
    QCOMPARE(ValueOf(logFile, QStringLiteral("Backup size")), QStringLiteral("65536"));
    QCOMPARE(ValueOf(logFile, QStringLiteral("Size")), QStringLiteral("2 MB (2097152 bytes)"));
    QVERIFY(grid->isExpanded(set2) && grid->isExpanded(files) && grid->isExpanded(logFile));
    QVERIFY(grid->selectionModel()->selectedIndexes().isEmpty());
    QCOMPARE(logFile.siblingAtColumn(1).data(Qt::BackgroundRole).value<QBrush>().color(),
             grid->palette().color(QPalette::ToolTipBase));
    QVERIFY(!logFile.data(Qt::BackgroundRole).isValid());
    QCOMPARE(QApplication::focusWidget(), grid);

    // Each column is as wide as its widest text, plus 64 pixels.
    const QFontMetrics metrics(grid->font());
    int widestValue = 0;
    for (const TBackupTreeRow& row : RowsForBackupSets(report.Sets))
        widestValue = std::max(widestValue, metrics.horizontalAdvance(QString::fromStdU16String(row.Value)));
    QVERIFY2(grid->columnWidth(1) >= widestValue + 64, qPrintable(QString::number(grid->columnWidth(1))));
    QVERIFY(grid->columnWidth(1) <= widestValue + 64 + 16);

    // A later file without a password keeps the second banner.
    OpenAndWait(*window, FOneSet);
    QCOMPARE(TopLevelCount(grid), 1);
    QVERIFY(window->imgAd1->isHidden());
    QVERIFY(!window->imgAd2->isHidden());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(grid->updatesEnabled());
}

void TfrmMainTest::copiesTheSelectedCell_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("Ctrl+C on a value") << 1 << Qt::KeyboardModifiers(Qt::ControlModifier) << "Full backup";
    QTest::newRow("Ctrl+C on a label") << 0 << Qt::KeyboardModifiers(Qt::ControlModifier) << "Backup name";
    QTest::newRow("Ctrl+Shift+C") << 1 << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier)
                                  << "Full backup";
    QTest::newRow("Ctrl+Alt+C") << 1 << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::AltModifier)
                                << "Full backup";
    QTest::newRow("C alone") << 1 << Qt::KeyboardModifiers() << "unchanged";
    QTest::newRow("Shift+C") << 1 << Qt::KeyboardModifiers(Qt::ShiftModifier) << "unchanged";
    QTest::newRow("Ctrl+C, no cell selected")
        << -1 << Qt::KeyboardModifiers(Qt::ControlModifier) << "unchanged";
}

void TfrmMainTest::copiesTheSelectedCell()
{
    QFETCH(int, column);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, clipboard);
    auto window = MakeWindow();
    ShowAndWait(*window);
    QTRY_COMPARE(FDialogCalls, 1);
    OpenAndWait(*window, FTwoSets);
    QTreeView* grid = window->grdBAK;
    if (column >= 0) {
        const QModelIndex cell = grid->model()->index(0, column, grid->model()->index(0, 0));
        grid->selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect);
    }
    QGuiApplication::clipboard()->setText(QStringLiteral("unchanged"));
    QTest::keyClick(grid, Qt::Key_C, modifiers);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
}

void TfrmMainTest::debugSwitch_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("debug");
    // The file opened at start instead of asking for one; empty: the dialog.
    QTest::addColumn<QString>("opened");
    const QString fixed = QString::fromLatin1(TfrmMain::DebugTestFile);
    auto named = [](const char* name) { return QFileInfo(QString::fromLatin1(name)).absoluteFilePath(); };
    QTest::newRow("lower case") << QStringList{"-quorveldebugmode"} << true << fixed;
    QTest::newRow("upper case") << QStringList{"-QUORVELDEBUGMODE"} << true << fixed;
    QTest::newRow("mixed case") << QStringList{"-QuorvelDebugMode"} << true << fixed;
    QTest::newRow("after a file name, which it reads instead")
        << QStringList{"x.bak", "-quorveldebugmode"} << true << named("x.bak");
    QTest::newRow("two dashes") << QStringList{"--quorveldebugmode"} << false << "";
    QTest::newRow("slash, a file name") << QStringList{"/quorveldebugmode"} << false << "/quorveldebugmode";
    QTest::newRow("no dash, a file name")
        << QStringList{"quorveldebugmode"} << false << named("quorveldebugmode");
    QTest::newRow("longer") << QStringList{"-quorveldebugmodes"} << false << "";
    QTest::newRow("leading blank, a file name")
        << QStringList{" -quorveldebugmode"} << false << named(" -quorveldebugmode");
    QTest::newRow("no arguments") << QStringList{} << false << "";
}

void TfrmMainTest::debugSwitch()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, debug);
    QFETCH(QString, opened);
    auto window = MakeWindow(arguments);
    QCOMPARE(window->DebugMode, debug);
    QCOMPARE(window->pgcMain->tabBar()->isHidden(), !debug);
    QCOMPARE(window->pgcMain->currentWidget(), window->TabSheet1);
    ShowAndWait(*window);
    if (!opened.isEmpty()) {
        // No dialog: the named or the fixed test file; it does not exist here, so the
        // grid stays empty and in debug mode the log page shows what the read did.
        QTRY_COMPARE(window->windowTitle(), QStringLiteral("Tarnwick - ") + opened);
        QCOMPARE(FDialogCalls, 0);
        QTRY_VERIFY(!window->Reading());
        QCOMPARE(TopLevelCount(window->grdBAK), 0);
        QVERIFY(!window->mmErrors->isHidden());
    } else {
        QTRY_COMPARE(FDialogCalls, 1);
    }
    if (debug) {
        QTRY_COMPARE(window->pgcMain->currentWidget(), window->TabSheet2);
        QVERIFY(!window->mmLog->toPlainText().isEmpty());
        QCOMPARE(window->pgcMain->tabText(1), QStringLiteral("TabSheet2"));
    } else {
        QCOMPARE(window->pgcMain->currentWidget(), window->TabSheet1);
        OpenAndWait(*window, FOneSet);
        QVERIFY(window->mmLog->toPlainText().isEmpty());
    }
}

void TfrmMainTest::placementIsWrittenOnCloseAndRestored_data()
{
    QTest::addColumn<bool>("maximised");
    QTest::newRow("normal") << false;
    QTest::newRow("maximised") << true;
}

void TfrmMainTest::placementIsWrittenOnCloseAndRestored()
{
    QFETCH(bool, maximised);
    const QRect normal(40, 30, 700, 500);
    {
        auto window = MakeWindow();
        ShowAndWait(*window);
        window->setGeometry(normal);
        QTRY_COMPARE(window->geometry(), normal);
        if (maximised) {
            window->showMaximized();
            QTRY_VERIFY(window->isMaximized());
        }
        window->btnClose->trigger();
        QVERIFY(!window->isVisible());
    }
    const std::string rect = "40,30,740,530";
    const std::string suffix = ScreenSuffix().toStdString();
    QCOMPARE(SettingsValue("ShowCmd"), std::string(maximised ? "3" : "1"));
    QCOMPARE(SettingsValue("Flags"), std::string("0"));
    QCOMPARE(SettingsValue("NormPos"), rect);
    QCOMPARE(SettingsValue("NormPos" + suffix), rect);
    QCOMPARE(SettingsValue("MinMaxPos"), SettingsValue("MinMaxPos" + suffix));
    QCOMPARE(QString::fromStdString(SettingsValue("MinMaxPos")).split(QLatin1Char(',')).size(), 4);
    QVERIFY(std::stoi(SettingsValue("PixelsPerInch")) > 0);
    QCOMPARE(SettingsValue("AdID"), std::string("0"));

    auto window = MakeWindow();
    QCOMPARE(window->isMaximized(), maximised);
    if (!maximised)
        QCOMPARE(window->geometry(), normal);
    ShowAndWait(*window);
    QTRY_COMPARE(window->isMaximized(), maximised);
    QCOMPARE(window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry(), normal);
}

void TfrmMainTest::restoredPlacement_data()
{
    const QString suffix = ScreenSuffix();
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QRect>("expected");  // an empty rectangle: the default, centred
    QTest::newRow("the key with this screen's size wins")
        << ("[frmMain]\nNormPos=10,10,700,500\nNormPos" + suffix.toLatin1() + "=20,20,700,520\n")
        << QRect(20, 20, 680, 500);
    QTest::newRow("the plain key for another screen size")
        << QByteArray("[frmMain]\nNormPos(1x1)=20,20,700,520\nNormPos=30,30,700,520\n")
        << QRect(30, 30, 670, 490);
    QTest::newRow("no smaller than the minimum size")
        << QByteArray("[frmMain]\nNormPos=10,10,110,110\n") << QRect(10, 10, 640, 480);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QTest::newRow("the largest size a file can hold")
        << ("[frmMain]\nNormPos" + suffix.toLatin1() + "=0,0,2147483647,2147483647\n") << screen;
    QTest::newRow("from the smallest left to the largest bottom")
        << QByteArray("[frmMain]\nNormPos=-2147483648,10,300,2147483647\n")
        << QRect(screen.left(), screen.top(), screen.width(), screen.height());
    QTest::newRow("reaching out of the screen on the right")
        << ("[frmMain]\nNormPos=" + QByteArray::number(screen.right() - 99) + ",20," +
            QByteArray::number(screen.right() + 601) + ",520\n")
        << QRect(screen.left() + screen.width() - 700, 20, 700, 500);
    QTest::newRow("on no screen") << QByteArray("[frmMain]\nNormPos=5000,5000,5700,5500\n") << QRect();
    QTest::newRow("malformed") << QByteArray("[frmMain]\nNormPos=1,2,3\n") << QRect();
    QTest::newRow("empty rectangle") << QByteArray("[frmMain]\nNormPos=50,50,50,400\n") << QRect();
}

void TfrmMainTest::restoredPlacement()
{
    QFETCH(QByteArray, settings);
    QFETCH(QRect, expected);
    WriteSettings(settings);
    auto window = MakeWindow();
    if (expected.isValid()) {
        QCOMPARE(window->geometry(), expected);
    } else {
        const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(window->size(), QSize(998, 640));
        QCOMPARE(window->geometry().center(), desktop.center());
    }
}

void TfrmMainTest::failedReadShowsTheErrorBoxAndRestoresTheWindow_data()
{
    QTest::addColumn<bool>("outOfMemory");
    QTest::addColumn<QString>("message");
    QTest::newRow("a fault") << false << "Disk gone.";
    QTest::newRow("out of memory") << true << QString::fromLatin1(OutOfMemoryText);
}

void TfrmMainTest::failedReadShowsTheErrorBoxAndRestoresTheWindow()
{
    QFETCH(bool, outOfMemory);
    QFETCH(QString, message);
    auto window = MakeWindow({}, outOfMemory ? TReadKind::OutOfMemory : TReadKind::Failing);
    ShowAndWait(*window);
    QTRY_COMPARE(FDialogCalls, 1);
    FDialogAnswer = FOneSet;
    QSignalSpy finished(window.get(), &TfrmMain::ReadFinished);
    window->btnOpenFile->trigger();
    QVERIFY(finished.wait(20000));
    QCOMPARE(FErrorBoxes, QStringList{message});
    FErrorBoxes.clear();
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick - ") + FOneSet);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(window->grdBAK->updatesEnabled());
    QCOMPARE(TopLevelCount(window->grdBAK), 0);
}

void TfrmMainTest::bannersOpenTheirPages()
{
    QList<QUrl> opened;
    bool answer = false;  // as when no browser is installed: nothing is shown or raised
    SetShellOpenHandler([&](const QUrl& url) {
        opened << url;
        return answer;
    });
    auto window = MakeWindow();
    ShowAndWait(*window);
    TStderrCapture errors;
    QTest::mouseClick(window->imgAd1, Qt::LeftButton);
    window->imgAd2->show();
    QTest::mouseClick(window->imgAd2, Qt::LeftButton);
    QTest::mouseClick(window->imgAd2, Qt::RightButton);
    const QString written = errors.Text();
    SetShellOpenHandler([](const QUrl&) { return true; });
    QCOMPARE(opened, (QList<QUrl>{QUrl(QString::fromLatin1(TfrmMain::BannerAddress1)),
                                  QUrl(QString::fromLatin1(TfrmMain::BannerAddress2))}));
    // The failure is not shown (cleanup checks that no error box came up) but written
    // to standard error with the reason for a missing handler.
    const QString noHandler = QString::fromStdU16String(ShellOpenFailureText(31));
    QCOMPARE(written.count(noHandler), 2);
    QVERIFY(written.contains(QString::fromLatin1(TfrmMain::BannerAddress2)));
}

void TfrmMainTest::toolbarButtonsInOrderWithTheirHints()
{
    auto window = MakeWindow();
    ShowAndWait(*window);
    QTRY_COMPARE(FDialogCalls, 1);
    QStringList hints;
    for (QAction* action : window->ToolBar1->actions())
        if (auto* button = qobject_cast<QToolButton*>(window->ToolBar1->widgetForAction(action)))
            hints << button->toolTip();
    QCOMPARE(hints, (QStringList{"Open backup files", "Open folder", "Check for updates", "About", "Close"}));

    QSignalSpy about(window.get(), &TfrmMain::AboutRequested);
    QSignalSpy updates(window.get(), &TfrmMain::CheckForUpdatesRequested);
    window->btnAbout->trigger();
    QCOMPARE(about.count(), 1);
    QCOMPARE(updates.count(), 0);
    window->ToolButton1->trigger();
    QCOMPARE(updates.count(), 1);
    QCOMPARE(about.count(), 1);
    window->btnClose->trigger();
    QVERIFY(!window->isVisible());
}

void TfrmMainTest::droppedFileIsOpened()
{
    auto window = MakeWindow();
    ShowAndWait(*window);
    QTRY_COMPARE(FDialogCalls, 1);

    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://www.quorvel.example/x.bak"))});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &refused);
    QVERIFY(!refused.isAccepted());

    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(FTwoSets)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
    QSignalSpy finished(window.get(), &TfrmMain::ReadFinished);
    QCoreApplication::sendEvent(window.get(), &drop);
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick - ") + FTwoSets);
    QVERIFY(finished.wait(20000));
    QCOMPARE(TopLevelCount(window->grdBAK), 2);
}

// Set one, a data stream of 3 MiB that the walk crosses by seeking, then set two: the
// walk must read again after the stream.
std::vector<uint8_t> SetsAroundALargeStream()
{
    TFixtureBuilder b;
    b.MediaHeader();
    b.BackupSet(TBackupSetSpec{});
    TBackupSetSpec second;
    second.Sset.Name = {u"After the stream"};
    second.DataLength = 3 * 1024 * 1024;
    b.BackupSet(second);
    return b.Data;
}

void TfrmMainTest::readRunsOffTheWindowThreadAndCanBeCancelled_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel button") << false;
    QTest::newRow("Esc") << true;
}

void TfrmMainTest::readRunsOffTheWindowThreadAndCanBeCancelled()
{
    QFETCH(bool, escape);
    const std::vector<uint8_t> bytes = SetsAroundALargeStream();
    // Where a walk stops that is cancelled while its read after the first piece waits.
    int64_t expectedAt = 0;
    {
        auto api = std::make_shared<TBlockingFileApi>();
        api->Add("/mem/x.bak", bytes);
        api->Release();
        TReadOptions options;
        options.Api = api;
        options.OnProgress = [&](int64_t, int64_t) { return !api->ReadPastFirst(); };
        const TBackupFileReport report = ReadBackupFile(u"/mem/x.bak", options);
        QVERIFY(report.Cancelled);
        QCOMPARE(report.Sets.size(), size_t(1));
        expectedAt = report.CancelledAt;
        QVERIFY(expectedAt > 0 && expectedAt < static_cast<int64_t>(bytes.size()));
    }

    auto api = std::make_shared<TBlockingFileApi>();
    api->Add("/mem/x.bak", bytes);
    TMemoryReadWindow window({}, api);
    Answer(window);
    ShowAndWait(window);
    QTRY_COMPARE(FDialogCalls, 1);
    QSignalSpy finished(&window, &TfrmMain::ReadFinished);
    window.OpenBackupFile(QStringLiteral("/mem/x.bak"));
    QTRY_VERIFY(api->Waiting());

    // The window answers and paints while the read waits.
    QVERIFY(window.Reading());
    QVERIFY(QGuiApplication::overrideCursor() != nullptr);
    QVERIFY(window.pbRead->isVisible());
    QVERIFY(window.btnCancelRead->isVisible());
    QTRY_VERIFY(window.pbRead->text().contains(QStringLiteral(" of ")));
    int paints = 0;
    struct TPaintCounter : QObject {
        int& Count;
        explicit TPaintCounter(int& count) : Count(count) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            Count += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter(paints);
    window.pbRead->installEventFilter(&counter);
    window.pbRead->update();
    QTRY_VERIFY(paints > 0);
    window.pbRead->removeEventFilter(&counter);
    QVERIFY(finished.isEmpty());

    if (escape)
        QTest::keyClick(&window, Qt::Key_Escape);
    else
        QTest::mouseClick(window.btnCancelRead, Qt::LeftButton);
    api->Release();
    QVERIFY(finished.wait(20000));
    QVERIFY(!api->TimedOut());
    QVERIFY(!window.Reading());
    QCOMPARE(TopLevelCount(window.grdBAK), 1);
    QVERIFY(!window.mmErrors->isHidden());
    const QStringList memo = window.mmErrors->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(memo.size(), 1);
    QVERIFY2(memo.first().contains(QStringLiteral("cancelled at byte %1;").arg(expectedAt)),
             qPrintable(memo.first()));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(!window.pbRead->isVisible());
    QVERIFY(window.grdBAK->updatesEnabled());
}

void TfrmMainTest::secondOpenCancelsTheFirst()
{
    auto api = std::make_shared<TBlockingFileApi>();
    api->Add("/mem/x.bak", SetsAroundALargeStream());
    TMemoryReadWindow window({}, api);
    Answer(window);
    ShowAndWait(window);
    QTRY_COMPARE(FDialogCalls, 1);
    QSignalSpy finished(&window, &TfrmMain::ReadFinished);
    window.OpenBackupFile(QStringLiteral("/mem/x.bak"));
    QTRY_VERIFY(api->Waiting());
    window.OpenBackupFile(FTwoSets);
    QVERIFY(finished.wait(20000));
    // The second file is shown although the first read still waits; it ends once
    // released, and its result is dropped.
    QVERIFY(api->Waiting());
    QCOMPARE(window.windowTitle(), QStringLiteral("Tarnwick - ") + FTwoSets);
    QCOMPARE(TopLevelCount(window.grdBAK), 2);
    QVERIFY(window.mmErrors->isHidden());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    api->Release();
    QTest::qWait(200);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(TopLevelCount(window.grdBAK), 2);
    QVERIFY(!api->TimedOut());
}

void TfrmMainTest::warningsFollowTheErrorLines()
{
    // A file whose only problem is a warning shows the memo; errors come first.
    auto api = std::make_shared<TBlockingFileApi>();
    api->Release();
    TMemoryReadWindow window({}, api);
    Answer(window);
    ShowAndWait(window);
    QTRY_COMPARE(FDialogCalls, 1);
    window.Warning = u"The file ends inside backup set 1: it has no end-of-set block.";
    OpenAndWait(window, FOneSet);
    QVERIFY(!window.mmErrors->isHidden());
    QCOMPARE(window.mmErrors->toPlainText(), QString::fromStdU16String(window.Warning));

    OpenAndWait(window, FMissing);
    const QStringList memo = window.mmErrors->toPlainText().split(QLatin1Char('\n'));
    const TBackupFileReport report = ReadBackupFile(FMissing.toStdU16String());
    QVERIFY(!report.ErrorLines.empty());
    QCOMPARE(memo.size(), static_cast<qsizetype>(report.ErrorLines.size() + 1));
    QCOMPARE(memo.last(), QString::fromStdU16String(window.Warning));
    QCOMPARE(memo.first(), QString::fromStdU16String(report.ErrorLines.front()));

    window.Warning.clear();
    OpenAndWait(window, FOneSet);
    QVERIFY(window.mmErrors->isHidden());
}

void TfrmMainTest::largeSetIsExpandedAndFitted()
{
    // Enough files that a fit measuring only some rows or an expansion of only the first
    // levels shows: the widest value sits in the last file, the deepest rows are open.
    TFixtureBuilder b;
    b.MediaHeader();
    TBackupSetSpec spec;
    spec.Files.clear();
    for (int32_t id = 1; id <= 300; ++id) {
        TSfinSpec file;
        file.FileID = id;
        file.LogicalName = u"data_" + QString::number(id).toStdU16String();
        if (id == 300)
            file.PhysicalName = u"D:\\A much longer folder name than any other\\of the data files.ndf";
        spec.Files.push_back(file);
    }
    b.BackupSet(spec);
    const QString path = QString::fromStdString(FFixtures->Path("300-files.bak"));
    b.WriteTo(path.toStdString());

    auto window = MakeWindow();
    QAbstractItemModelTester tester(window->grdBAK->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    ShowAndWait(*window);
    QTRY_COMPARE(FDialogCalls, 1);
    OpenAndWait(*window, path);
    TBackupTreeView* grid = window->grdBAK;
    const TBackupFileReport report = ReadBackupFile(path.toStdU16String());
    const std::vector<TBackupTreeRow> rows = RowsForBackupSets(report.Sets);
    QVERIFY(GridRows(grid) == rows);

    // Every row with children is open, and each column as wide as the view would fit it
    // to its widest cell, plus 64 pixels.
    int widest[2] = {0, 0};
    std::vector<QModelIndex> pending{QModelIndex()};
    int open = 0;
    while (!pending.empty()) {
        const QModelIndex parent = pending.back();
        pending.pop_back();
        for (int row = 0; row < grid->model()->rowCount(parent); ++row) {
            const QModelIndex index = grid->model()->index(row, 0, parent);
            if (grid->model()->hasChildren(index)) {
                QVERIFY(grid->isExpanded(index));
                ++open;
                pending.push_back(index);
            }
            int level = 0;
            for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
                ++level;
            widest[0] = std::max(widest[0], grid->CellWidthHint(index.data().toString()) +
                                                grid->indentation() * (level + 1));
            widest[1] = std::max(widest[1], grid->CellWidthHint(index.siblingAtColumn(1).data().toString()));
        }
    }
    QCOMPARE(open, 1 + 1 + 300);
    QCOMPARE(grid->columnWidth(0), widest[0] + 64);
    QCOMPARE(grid->columnWidth(1), widest[1] + 64);
    QVERIFY(widest[1] == grid->CellWidthHint(QString::fromStdU16String(spec.Files.back().PhysicalName)));

    // The last row is reachable by scrolling: the view laid every row out.
    grid->scrollToBottom();
    const QModelIndex last = grid->model()->index(
        17, 1, grid->model()->index(299, 0, grid->model()->index(46, 0, grid->model()->index(0, 0))));
    QCOMPARE(last.data().toString(), QStringLiteral("true"));
    QTRY_VERIFY(grid->viewport()->rect().intersects(grid->visualRect(last)));
}

void TfrmMainTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("debug");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("unknownOption");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("nothing") << QStringList{} << false << "" << false << QStringList{};
    QTest::newRow("a file") << QStringList{"x.bak"} << false << "x.bak" << false << QStringList{};
    QTest::newRow("debug switch and a file")
        << QStringList{"-QuorvelDebugMode", "x.bak"} << true << "x.bak" << false << QStringList{};
    QTest::newRow("several files") << QStringList{"a.bak", "b.bak", "c.bak"} << false << "a.bak" << false
                                   << QStringList{};
    QTest::newRow("an unknown option")
        << QStringList{"x.bak", "--help"} << false << "" << true
        << QStringList{"tarnwick: unknown option: --help", "Usage: tarnwick [FILE|FOLDER]..."};
    QTest::newRow("the switch with two dashes")
        << QStringList{"--quorveldebugmode"} << false << "" << true
        << QStringList{"tarnwick: unknown option: --quorveldebugmode", "Usage: tarnwick [FILE|FOLDER]..."};
    QTest::newRow("a name that only contains a dash")
        << QStringList{"my-backup.bak"} << false << "my-backup.bak" << false << QStringList{};
}

void TfrmMainTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, debug);
    QFETCH(QString, file);
    QFETCH(bool, unknownOption);
    QFETCH(QStringList, messages);
    const TCommandLine parsed = ParseCommandLine(arguments);
    QCOMPARE(parsed.DebugMode, debug);
    QCOMPARE(parsed.File, file);
    QCOMPARE(parsed.UnknownOption, unknownOption);
    QCOMPARE(parsed.Messages, messages);
}

void TfrmMainTest::fileOnTheCommandLineIsOpenedAtStart()
{
    const QString relative = QDir::current().relativeFilePath(FTwoSets);
    TTempDir dir;
    WriteDistinctSets(dir.Path("a.bak"), {u"First", u"Second"}, 1);
    WriteDistinctSets(dir.Path("b.bak"), {u"Third"}, 3);
    auto window =
        MakeWindow({QString::fromStdString(dir.Path("a.bak")), QString::fromStdString(dir.Path("b.bak"))});
    QSignalSpy finished(window.get(), &TfrmMain::ReadFinished);
    ShowAndWait(*window);
    QVERIFY(finished.wait(20000));
    QCOMPARE(FDialogCalls, 0);
    // Both files are read; the catalog lists every set and the tree shows the first.
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick - 2 items"));
    QCOMPARE(window->pgcMain->currentWidget(), window->pgCatalog);
    QCOMPARE(window->pgCatalog->Model()->rowCount(), 3);
    QCOMPARE(TopLevelCount(window->grdBAK), 1);

    auto single = MakeWindow({relative});
    QSignalSpy singleFinished(single.get(), &TfrmMain::ReadFinished);
    ShowAndWait(*single);
    QVERIFY(singleFinished.wait(20000));
    QCOMPARE(single->windowTitle(), QStringLiteral("Tarnwick - ") + QFileInfo(FTwoSets).absoluteFilePath());
    QCOMPARE(single->pgcMain->currentWidget(), single->TabSheet1);
    QVERIFY(single->pgcMain->tabBar()->isHidden());
    QCOMPARE(TopLevelCount(single->grdBAK), 2);
}

void TfrmMainTest::programRefusesAnUnknownOption()
{
    // Before any window: the program ends at once with status 2 and says why.
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TARNWICK_PROGRAM), {FOneSet, QStringLiteral("--bogus")});
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(program.readAllStandardError().contains("tarnwick: unknown option: --bogus"));
}

namespace {

void WriteBytes(const std::string& path, const QByteArray& bytes)
{
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QString MemoText(const TfrmMain& window)
{
    return window.mmErrors->toPlainText();
}

}  // namespace

void TfrmMainTest::fileThatIsNoBackupIsExplainedAndShowsNoSet()
{
    TTempDir dir;
    const std::string path = dir.Path("archive.bak");
    WriteBytes(path, QByteArray("\x1f\x8b\x08\x00", 4) + QByteArray(4096, 'x'));
    const TBackupFileReport report = ReadBackupFile(QString::fromStdString(path).toStdU16String());
    const QString explanation = QString::fromStdU16String(NotABackupExplanation(report));
    QVERIFY(!explanation.isEmpty());
    QVERIFY(!report.ErrorLines.empty());

    auto window = MakeWindow();
    OpenAndWait(*window, QString::fromStdString(path));
    const QStringList memo = MemoText(*window).split(QLatin1Char('\n'));
    QVERIFY(memo.contains(QString::fromStdU16String(report.ErrorLines.front())));
    QVERIFY(memo.contains(explanation));
    QVERIFY(!window->mmErrors->isHidden());
    // No node for the reader's empty set.
    QCOMPARE(TopLevelCount(window->grdBAK), 0);
}

void TfrmMainTest::folderIsListedInTheCatalogWithItsNonBackupsSkipped()
{
    TTempDir dir;
    WriteDistinctSets(dir.Path("a.bak"), {u"Full backup", u"Locked copy"}, 1);
    WriteDistinctSets(dir.Path("b.bak"), {u"Another"}, 3);
    WriteBytes(dir.Path("notes.txt"), "not a backup at all, just some notes\n");
    auto window = MakeWindow();
    QSignalSpy finished(window.get(), &TfrmMain::ReadFinished);
    window->OpenPaths({QString::fromStdString(dir.Dir())});
    QVERIFY(finished.wait(20000));
    QCOMPARE(window->pgcMain->currentWidget(), window->pgCatalog);
    QCOMPARE(window->pgCatalog->Model()->rowCount(), 3);
    const QString memo = MemoText(*window);
    QVERIFY2(memo.contains(QStringLiteral("Skipped ") + QString::fromStdString(dir.Path("notes.txt")) +
                           QStringLiteral(": ")),
             qPrintable(memo));
    QVERIFY(!memo.contains(QStringLiteral("a.bak")));

    // Choosing the row of the locked set of a.bak shows that set alone in the tree.
    QTableView* view = window->pgCatalog->View();
    QModelIndex locked;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        const QModelIndex index = view->model()->index(row, 0);
        const QModelIndex source = window->pgCatalog->Filter()->mapToSource(index);
        if (source.data(TCatalogModel::PathRole).toString().endsWith(QStringLiteral("/a.bak")) &&
            source.data(TCatalogModel::SetIndexRole).toInt() == 1)
            locked = index;
    }
    QVERIFY(locked.isValid());
    view->setCurrentIndex(locked);
    QCOMPARE(TopLevelCount(window->grdBAK), 1);
    const QModelIndexList found =
        window->grdBAKModel->match(window->grdBAKModel->index(0, 1), Qt::DisplayRole,
                                   QStringLiteral("Locked copy"), 1, Qt::MatchExactly | Qt::MatchRecursive);
    QCOMPARE(found.size(), 1);
}

void TfrmMainTest::folderReadCanBeCancelled()
{
    TTempDir dir;
    uint32_t guid = 1;
    for (const char* name : {"a.bak", "b.bak", "c.bak"})
        WriteDistinctSets(dir.Path(name), {u"Full backup"}, guid++);
    TWaitingReadWindow window(QStringList{});
    Answer(window);
    QSignalSpy finished(&window, &TfrmMain::ReadFinished);
    window.OpenPaths({QString::fromStdString(dir.Dir())});
    QTRY_VERIFY_WITH_TIMEOUT(window.Waiting.load(), 10000);
    QVERIFY(window.Reading());
    window.btnCancelRead->click();
    QVERIFY(finished.wait(20000));
    QVERIFY(!window.Reading());
    // a.bak was read before the cancel, c.bak never.
    QVERIFY(window.pgCatalog->Model()->rowCount() <= 2);
    QVERIFY(window.pgCatalog->Model()->rowCount() >= 1);
    QVERIFY(!window.pgCatalog->Model()
                 ->Row(window.pgCatalog->Model()->rowCount() - 1)
                 .FilesText.ends_with(u"c.bak"));
    QVERIFY2(MemoText(window).contains(QStringLiteral("cancelled after")), qPrintable(MemoText(window)));
    QVERIFY(MemoText(window).contains(QStringLiteral("of 3 files")));
}

void TfrmMainTest::restorePageGetsTheFilesAndItsFoldersAreRemembered()
{
    WriteSettings("[Restore]\nDataDir=/var/data\nLogDir=/var/log dir\nServerDir=/srv\n");
    auto window = MakeWindow();
    auto* page = new QWidget;
    TRestoreFolders folders;
    std::vector<std::string> files;
    int clears = 0;
    window->SetRestorePage(page, {[&](std::vector<TPlanFile> read) {
                                      files.clear();
                                      for (const TPlanFile& file : read)
                                          files.push_back(file.Path);
                                  },
                                  [&] { ++clears; }, [&] { return folders; },
                                  [&](const TRestoreFolders& given) { folders = given; }});
    QCOMPARE(folders, (TRestoreFolders{"/var/data", "/var/log dir", "/srv"}));
    QCOMPARE(window->pgcMain->indexOf(page) >= 0, true);

    OpenAndWait(*window, FOneSet);
    QCOMPARE(files, std::vector<std::string>{FOneSet.toStdString()});
    QVERIFY(clears >= 1);
    QVERIFY(!window->pgcMain->tabBar()->isHidden());

    folders = {"/data2", "", "/srv/x"};
    window->SaveRestoreFolders();
    const TIniFile ini(QFile::encodeName(FSettingsFile).toStdString());
    QCOMPARE(ini.ReadString(RestoreSection, "DataDir", "(missing)"), std::string("/data2"));
    QCOMPARE(ini.ReadString(RestoreSection, "LogDir", "(missing)"), std::string(""));
    QCOMPARE(ini.ReadString(RestoreSection, "ServerDir", "(missing)"), std::string("/srv/x"));
    // The frame's own placement section is left as it was.
    QCOMPARE(SettingsValue("DataDir"), std::string("(missing)"));
}

QTEST_MAIN(TfrmMainTest)
#include "test_ufrmMain.moc"
