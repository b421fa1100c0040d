// The main window, headless: the start sequence, opening backup files, copying a cell,
// the debug switch, the stored placement, the error box, the banners and dropping a
// file. The open-file dialog and the error box are answered through the window's seams.

#include "ufrmMain.h"

#include "uBackupTree.h"
#include "uFixtureBuilder.h"
#include "uIniFile.h"
#include "uLocaleFormat.h"
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
#include <QScreen>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

#include <unistd.h>

namespace {

const std::string Section = "frmMain";

// A window whose read fails, as a read that meets a fault it cannot turn into an error
// line would.
class TFailingReadWindow : public TfrmMain {
public:
    using TfrmMain::TfrmMain;

protected:
    TBackupFileReport ReadBackup(const std::u16string&) override { throw std::runtime_error("Disk gone"); }
};

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
    void failedReadShowsTheErrorBoxAndRestoresTheWindow();
    void bannersOpenTheirPages();
    void toolbarButtonsInOrderWithTheirHints();
    void droppedFileIsOpened();

private:
    std::unique_ptr<TfrmMain> MakeWindow(const QStringList& arguments = {}, bool failingRead = false);
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

std::unique_ptr<TfrmMain> TfrmMainTest::MakeWindow(const QStringList& arguments, bool failingRead)
{
    std::unique_ptr<TfrmMain> window =
        failingRead ? std::make_unique<TFailingReadWindow>(arguments) : std::make_unique<TfrmMain>(arguments);
    window->OpenFileDialog = [this](QWidget*) {
        ++FDialogCalls;
        return FDialogAnswer;
    };
    window->ErrorBox = [this](QWidget*, const QString& message) { FErrorBoxes << message; };
    return window;
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
    window->btnOpenFile->trigger();
    QCOMPARE(FDialogCalls, 2);
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick - ") + FOneSet);
    QCOMPARE(TopLevelCount(window->grdBAK), 1);
}

void TfrmMainTest::opensBackupFilesAndShowsTheirProblems()
{
    auto window = MakeWindow();
    QAbstractItemModelTester tester(window->grdBAK->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    ShowAndWait(*window);
    QTRY_COMPARE(FDialogCalls, 1);

    window->OpenBackupFile(FMissing);
    QVERIFY(!window->mmErrors->isHidden());
    QVERIFY(!window->mmErrors->toPlainText().isEmpty());
    QCOMPARE(TopLevelCount(window->grdBAK), 0);

    window->OpenBackupFile(FTwoSets);
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
    window->OpenBackupFile(FOneSet);
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
    window->OpenBackupFile(FTwoSets);
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
    QTest::newRow("lower case") << QStringList{"-quorveldebugmode"} << true;
    QTest::newRow("upper case") << QStringList{"-QUORVELDEBUGMODE"} << true;
    QTest::newRow("mixed case") << QStringList{"-QuorvelDebugMode"} << true;
    QTest::newRow("after a file name") << QStringList{"x.bak", "-quorveldebugmode"} << true;
    QTest::newRow("two dashes") << QStringList{"--quorveldebugmode"} << false;
    QTest::newRow("slash") << QStringList{"/quorveldebugmode"} << false;
    QTest::newRow("no dash") << QStringList{"quorveldebugmode"} << false;
    QTest::newRow("longer") << QStringList{"-quorveldebugmodes"} << false;
    QTest::newRow("leading blank") << QStringList{" -quorveldebugmode"} << false;
    QTest::newRow("no arguments") << QStringList{} << false;
}

void TfrmMainTest::debugSwitch()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, debug);
    auto window = MakeWindow(arguments);
    QCOMPARE(window->DebugMode, debug);
    QCOMPARE(window->pgcMain->tabBar()->isHidden(), !debug);
    QCOMPARE(window->pgcMain->currentWidget(), window->TabSheet1);
    ShowAndWait(*window);
    if (debug) {
        // The fixed test file instead of the dialog; it does not exist here, so the
        // grid stays empty and the log page shows what the read did.
        QTRY_COMPARE(window->pgcMain->currentWidget(), window->TabSheet2);
        QCOMPARE(FDialogCalls, 0);
        QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick - e:\\temp\\pubs.bak"));
        QCOMPARE(TopLevelCount(window->grdBAK), 0);
        QVERIFY(!window->mmLog->toPlainText().isEmpty());
        QCOMPARE(window->pgcMain->tabText(1), QStringLiteral("TabSheet2"));
    } else {
        QTRY_COMPARE(FDialogCalls, 1);
        QCOMPARE(window->pgcMain->currentWidget(), window->TabSheet1);
        window->OpenBackupFile(FOneSet);
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

void TfrmMainTest::failedReadShowsTheErrorBoxAndRestoresTheWindow()
{
    auto window = MakeWindow({}, true);
    ShowAndWait(*window);
    QTRY_COMPARE(FDialogCalls, 1);
    FDialogAnswer = FOneSet;
    window->btnOpenFile->trigger();
    QCOMPARE(FErrorBoxes, QStringList{QStringLiteral("Disk gone.")});
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
    QCOMPARE(hints, (QStringList{"Open backup file", "Check for updates", "About", "Close"}));

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
    QCoreApplication::sendEvent(window.get(), &drop);
    QCOMPARE(window->windowTitle(), QStringLiteral("Tarnwick - ") + FTwoSets);
    QCOMPARE(TopLevelCount(window->grdBAK), 2);
}

QTEST_MAIN(TfrmMainTest)
#include "test_ufrmMain.moc"
