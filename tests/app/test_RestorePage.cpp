// The restore page, headless: its script for a generated chain is the command-line
// planner's, a point in time plans anew, findings carry their severity, the chosen
// database survives new files, the script goes to the clipboard and the folders
// round-trip.

#include "uFixtureBuilder.h"
#include "uRestorePage.h"
#include "uRestorePlanFiles.h"
#include "uRunCommand.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

TMTFDateParts At(int minutes)
{
    return {2021, 3, 4, minutes / 60, minutes % 60, 0};
}

TPlanSetSpec Set(char type, uint32_t id, uint64_t first, uint64_t last, int endMinute, uint16_t position = 1)
{
    return PlanSetAt(type, id, first, last, endMinute, position);
}

void Write(const std::string& path, const std::vector<TPlanSetSpec>& sets)
{
    std::vector<TBackupSetSpec> blocks;
    for (const TPlanSetSpec& s : sets)
        blocks.push_back(PlanSet(s));
    TFixtureBuilder file;
    file.BackupFile(blocks);
    file.WriteTo(path);
}

// Sales: a full, a differential on it and two logs appended to one file; Stock, on
// another server, a full and a log; and a file that is no backup.
void WriteChain(const TTempDir& dir)
{
    const TPlanSetSpec full = Set('D', 1, 100, 120, 60);
    Write(dir.Path("sales-full.bak"), {full});
    TPlanSetSpec diff = Set('I', 2, 300, 320, 180);
    diff.DifferentialBaseGUID = full.BackupSetGUID;
    diff.DatabaseBackupLSN = full.CheckpointLSN;
    Write(dir.Path("sales-diff.bak"), {diff});
    Write(dir.Path("sales.trn"), {Set('L', 11, 100, 310, 170, 1), Set('L', 12, 310, 400, 240, 2)});
    TPlanSetSpec stockFull = Set('D', 21, 5000, 5010, 30);
    TPlanSetSpec stockLog = Set('L', 22, 5000, 5100, 90);
    for (TPlanSetSpec* s : {&stockFull, &stockLog}) {
        s->DatabaseName = u"Stock";
        s->ServerName = u"SQLHOST02";
        s->BindingID = NumberedGuid(0x53, 1);
    }
    Write(dir.Path("stock.bak"), {stockFull, stockLog});
    TFixtureBuilder notes;
    notes.Ascii("weekly fulls on Sunday\n");
    notes.WriteTo(dir.Path("notes.txt"));
}

std::vector<TPlanFile> ReadFolder(const TTempDir& dir)
{
    return ReadPlanFiles(FindPlanInputs({dir.Dir()}).Files, 1);
}

int IndexOfDatabase(const TRestorePage& page, const QString& name)
{
    for (int i = 0; i < page.cbDatabase->count(); ++i)
        if (page.cbDatabase->itemText(i).startsWith(name + QLatin1Char(' ')))
            return i;
    return -1;
}

void ChoosePointInTime(TRestorePage& page, const QString& at)
{
    page.rbPointInTime->setChecked(true);
    page.dtPointInTime->setDateTime(QDateTime::fromString(at, Qt::ISODate).toUTC());
}

QString Quoted(const QString& text)
{
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

}  // namespace

class TRestorePageTest : public QObject {
    Q_OBJECT
private slots:
    void ScriptIsThePlanTools_data();
    void ScriptIsThePlanTools();
    void PointInTimePlansAnew();
    void FindingsShowTheirSeverity_data();
    void FindingsShowTheirSeverity();
    void DatabaseChoiceSurvivesNewFiles();
    void CopyScriptPutsItOnTheClipboard();
    void FoldersRoundTrip();
    void ClearEmptiesThePage();
};

void TRestorePageTest::ScriptIsThePlanTools_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("at");  // empty: the latest point
    QTest::addColumn<QString>("dataDir");
    QTest::addColumn<QString>("logDir");
    QTest::addColumn<QString>("serverDir");
    QTest::newRow("latest") << "Sales"
                            << ""
                            << ""
                            << ""
                            << "";
    QTest::newRow("point in time inside a log") << "Sales"
                                                << "2021-03-04T03:10:00"
                                                << ""
                                                << ""
                                                << "";
    QTest::newRow("folders with backslashes") << "Sales"
                                              << ""
                                              << "D:\\Data"
                                              << "L:\\Log"
                                              << "\\\\backup\\sql";
    QTest::newRow("folders with slashes and a time") << "Sales"
                                                     << "2021-03-04T02:50:00"
                                                     << "/var/opt/data"
                                                     << "/var/opt/log"
                                                     << "/mnt/backups/";
    QTest::newRow("the other database") << "Stock"
                                        << ""
                                        << "E:\\Data"
                                        << ""
                                        << "";
}

void TRestorePageTest::ScriptIsThePlanTools()
{
    QFETCH(QString, database);
    QFETCH(QString, at);
    QFETCH(QString, dataDir);
    QFETCH(QString, logDir);
    QFETCH(QString, serverDir);
    TTempDir dir;
    WriteChain(dir);

    TRestorePage page;
    page.SetFiles(ReadFolder(dir));
    const int index = IndexOfDatabase(page, database);
    QVERIFY(index >= 0);
    page.cbDatabase->setCurrentIndex(index);
    if (!at.isEmpty())
        ChoosePointInTime(page, at);
    page.SetFolders({dataDir, logDir, serverDir});

    QString command = QStringLiteral(TARNWICK_PLAN " --sql --database ") + Quoted(database);
    if (!at.isEmpty())
        command += QStringLiteral(" --at ") + at;
    if (!dataDir.isEmpty())
        command += QStringLiteral(" --data-dir ") + Quoted(dataDir);
    if (!logDir.isEmpty())
        command += QStringLiteral(" --log-dir ") + Quoted(logDir);
    if (!serverDir.isEmpty())
        command += QStringLiteral(" --server-dir ") + Quoted(serverDir);
    command += QLatin1Char(' ') + Quoted(QString::fromStdString(dir.Dir())) + QStringLiteral(" 2>/dev/null");
    const TCommandRun run = RunCommand(command.toStdString());
    QCOMPARE(run.Status, 0);
    QVERIFY(run.Output.find("RESTORE DATABASE") != std::string::npos);
    QCOMPARE(page.ScriptText(), QString::fromStdString(run.Output));
}

void TRestorePageTest::PointInTimePlansAnew()
{
    TTempDir dir;
    WriteChain(dir);
    TRestorePage page;
    page.SetFiles(ReadFolder(dir));
    page.cbDatabase->setCurrentIndex(IndexOfDatabase(page, QStringLiteral("Sales")));

    QCOMPARE(page.lvSteps->topLevelItemCount(), 3);
    QCOMPARE(page.lvSteps->topLevelItem(0)->text(1), QStringLiteral("full"));
    QCOMPARE(page.lvSteps->topLevelItem(1)->text(1), QStringLiteral("differential"));
    QCOMPARE(page.lvSteps->topLevelItem(2)->text(1), QStringLiteral("log"));
    QCOMPARE(page.lvSteps->topLevelItem(2)->text(3), QStringLiteral("2"));
    QVERIFY(page.lvSteps->topLevelItem(2)->text(4).endsWith(QStringLiteral("/sales.trn")));
    QVERIFY2(page.lblRestoresTo->text().contains(QStringLiteral("LSN 400, 2021-03-04T04:00:00 (the target)")),
             qPrintable(page.lblRestoresTo->text()));
    QVERIFY(!page.ScriptText().contains(QStringLiteral("STOPAT")));
    // The edit offers the latest point's time to start from.
    QCOMPARE(page.dtPointInTime->dateTime().toString(Qt::ISODate), QStringLiteral("2021-03-04T04:00:00Z"));

    // Before the differential finished: the full, then the first log, which holds the time.
    ChoosePointInTime(page, QStringLiteral("2021-03-04T02:30:00"));
    QCOMPARE(page.lvSteps->topLevelItemCount(), 2);
    QCOMPARE(page.lvSteps->topLevelItem(1)->text(1), QStringLiteral("log"));
    QCOMPARE(page.lvSteps->topLevelItem(1)->text(3), QStringLiteral("1"));
    QVERIFY(page.lvSteps->topLevelItem(1)->text(2).contains(QStringLiteral("stop at 2021-03-04T02:30:00")));
    QVERIFY(page.lblRestoresTo->text().contains(QStringLiteral("the point in time 2021-03-04T02:30:00")));
    QVERIFY(page.ScriptText().contains(QStringLiteral("STOPAT = N'2021-03-04T02:30:00'")));

    page.rbLatest->setChecked(true);
    QCOMPARE(page.lvSteps->topLevelItemCount(), 3);
    QVERIFY(!page.ScriptText().contains(QStringLiteral("STOPAT")));
}

void TRestorePageTest::FindingsShowTheirSeverity_data()
{
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QString>("finding");
    QTest::addColumn<QString>("severity");
    QTest::newRow("a missing log") << false << "error log-gap: "
                                   << "error";
    QTest::newRow("a damaged full") << true << "warning damaged-set: "
                                    << "warning";
}

void TRestorePageTest::FindingsShowTheirSeverity()
{
    QFETCH(bool, damaged);
    QFETCH(QString, finding);
    QFETCH(QString, severity);
    TTempDir dir;
    TPlanSetSpec full = Set('D', 1, 100, 120, 60);
    full.Damaged = damaged;
    Write(dir.Path("full.bak"), {full});
    // Without the gap the logs reach on from one to the next.
    Write(dir.Path("log.trn"), {Set('L', 11, 100, 200, 90), Set('L', 13, damaged ? 200 : 300, 400, 240, 2)});
    TRestorePage page;
    page.SetFiles(ReadFolder(dir));

    QCOMPARE(page.lvFindings->count(), 1);
    const QListWidgetItem* item = page.lvFindings->item(0);
    QVERIFY2(item->text().startsWith(finding), qPrintable(item->text()));
    QCOMPARE(item->data(Qt::UserRole).toString(), severity);
    QVERIFY(!item->icon().isNull());
    QVERIFY(page.ScriptText().contains(QStringLiteral("-- ") + finding));
}

void TRestorePageTest::DatabaseChoiceSurvivesNewFiles()
{
    TTempDir dir;
    WriteChain(dir);
    // A second database named Sales on another server: the combo tells them apart.
    TPlanSetSpec other = Set('D', 31, 900, 920, 20);
    other.ServerName = u"SQLHOST09";
    other.BindingID = NumberedGuid(0x54, 1);
    TTempDir more;
    Write(more.Path("other-sales.bak"), {other});

    std::vector<TPlanFile> files = ReadFolder(dir);
    TRestorePage page;
    page.SetFiles(files);
    QCOMPARE(page.cbDatabase->count(), 2);
    const int stock = IndexOfDatabase(page, QStringLiteral("Stock"));
    QVERIFY(stock >= 0);
    QVERIFY(page.cbDatabase->itemText(stock).contains(QStringLiteral("SQLHOST02")));
    page.cbDatabase->setCurrentIndex(stock);
    QVERIFY(page.ScriptText().contains(QStringLiteral("RESTORE DATABASE [Stock]")));

    for (TPlanFile& file : ReadFolder(more))
        files.push_back(std::move(file));
    page.SetFiles(files);
    QCOMPARE(page.cbDatabase->count(), 3);
    QVERIFY(page.cbDatabase->currentText().startsWith(QStringLiteral("Stock on SQLHOST02")));
    QVERIFY(page.ScriptText().contains(QStringLiteral("RESTORE DATABASE [Stock]")));

    int sales = 0;
    for (int i = 0; i < page.cbDatabase->count(); ++i)
        if (page.cbDatabase->itemText(i).startsWith(QStringLiteral("Sales on ")))
            ++sales;
    QCOMPARE(sales, 2);
    const int onNine = page.cbDatabase->findText(QStringLiteral("Sales on SQLHOST09"));
    QVERIFY(onNine >= 0);
    page.cbDatabase->setCurrentIndex(onNine);
    QCOMPARE(page.lvSteps->topLevelItemCount(), 1);
    QVERIFY(page.lvSteps->topLevelItem(0)->text(4).endsWith(QStringLiteral("/other-sales.bak")));
}

void TRestorePageTest::CopyScriptPutsItOnTheClipboard()
{
    TTempDir dir;
    WriteChain(dir);
    TRestorePage page;
    page.SetFiles(ReadFolder(dir));
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    QVERIFY(page.btnCopyScript->isEnabled());
    QTest::mouseClick(page.btnCopyScript, Qt::LeftButton);
    QVERIFY(!page.ScriptText().isEmpty());
    QCOMPARE(QGuiApplication::clipboard()->text(), page.ScriptText());
}

void TRestorePageTest::FoldersRoundTrip()
{
    TTempDir dir;
    WriteChain(dir);
    TRestorePage page;
    page.SetFiles(ReadFolder(dir));
    page.cbDatabase->setCurrentIndex(IndexOfDatabase(page, QStringLiteral("Sales")));
    QSignalSpy changed(&page, &TRestorePage::FoldersChanged);

    page.SetFolders({QStringLiteral("D:\\Data"), QStringLiteral("L:\\Log"), QStringLiteral("\\\\nas\\sql")});
    QCOMPARE(changed.count(), 0);
    const TRestorePage::TFolders folders = page.Folders();
    QCOMPARE(folders.DataDir, QStringLiteral("D:\\Data"));
    QCOMPARE(folders.LogDir, QStringLiteral("L:\\Log"));
    QCOMPARE(folders.ServerDir, QStringLiteral("\\\\nas\\sql"));
    QVERIFY2(page.ScriptText().contains(QStringLiteral("FROM DISK = N'\\\\nas\\sql\\sales-full.bak'")),
             qPrintable(page.ScriptText()));

    // Typing in a field writes the script anew and tells the window to keep the folders.
    page.edDataDir->clear();
    QTest::keyClicks(page.edDataDir, QStringLiteral("E:\\New"));
    QVERIFY(changed.count() > 0);
    QCOMPARE(page.Folders().DataDir, QStringLiteral("E:\\New"));
    QVERIFY2(page.ScriptText().contains(QStringLiteral("TO N'E:\\New\\")), qPrintable(page.ScriptText()));
    QVERIFY(!page.ScriptText().contains(QStringLiteral("D:\\Data")));
}

void TRestorePageTest::ClearEmptiesThePage()
{
    TTempDir dir;
    WriteChain(dir);
    TRestorePage page;
    page.SetFiles(ReadFolder(dir));
    QVERIFY(!page.ScriptText().isEmpty());
    page.Clear();
    QCOMPARE(page.cbDatabase->count(), 0);
    QCOMPARE(page.lvSteps->topLevelItemCount(), 0);
    QCOMPARE(page.lvFindings->count(), 0);
    QVERIFY(page.ScriptText().isEmpty());
    QVERIFY(!page.btnCopyScript->isEnabled());
}

QTEST_MAIN(TRestorePageTest)
#include "test_RestorePage.moc"
