// The catalog page, headless: both item models under the model tester while rows come
// in batches, sorting by value, the filter box and the type filter, copying rows with
// Ctrl+C and the signal that leads to the set in the tree.

#include "uCatalogModel.h"
#include "uCatalogPage.h"
#include "uLocaleFormat.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <memory>
#include <vector>

namespace {

TGUID GuidOf(uint8_t n)
{
    TGUID guid{};
    guid[0] = n;
    guid[15] = 0xC3;
    return guid;
}

struct TSet {
    const char16_t* Database = u"Sales";
    int32_t Type = 1;
    TDateTime Start = 44259.0;
    TBigInteger LastLSN;
    uint8_t Guid = 1;
    int32_t FamilyCount = 1;
    int32_t FamilySequence = 1;
    int32_t Position = 1;
};

const char* TypeName(int32_t type)
{
    switch (type) {
    case 1:
        return "Database";
    case 2:
        return "Transaction log";
    case 5:
        return "Database differential";
    default:
        return "";
    }
}

TCatalogInput File(const char16_t* path, const std::vector<TSet>& sets)
{
    TCatalogInput input{path, {}};
    input.Report.Opened = true;
    for (const TSet& s : sets) {
        TBackupDetails d;
        TBackupHeader& h = d.Header;
        h.DatabaseName = s.Database;
        h.ServerName = "SQLHOST01";
        h.BackupType = s.Type;
        h.BackupTypeDescription = TypeName(s.Type);
        h.BackupStartDate = s.Start;
        h.BackupEndDate = s.Start + 0.01;
        h.LastLSN = s.LastLSN;
        h.BackupSetGUID = GuidOf(s.Guid);
        h.FamilyCount = s.FamilyCount;
        h.FamilySequenceNumber = s.FamilySequence;
        h.DataSetNumber = s.Position;
        input.Report.Sets.push_back(std::move(d));
    }
    return input;
}

// Four sets in three files, one striped over two of them. Their texts sort in another
// order than their values: "10/2/2021" before "3/4/2021", "1000" before "999".
std::vector<TCatalogInput> SampleFiles()
{
    std::vector<TCatalogInput> files;
    files.push_back(File(u"/b/sales_full.bak", {{u"Sales", 1, 44259.0, FromInt64(999), 1}}));
    files.push_back(File(u"/b/hr_1.bak", {{u"hr", 5, 44471.0, FromMagnitude(false, 1, 0), 2, 2, 1}}));
    files.push_back(File(u"/b/hr_2.bak", {{u"hr", 5, 44471.0, FromMagnitude(false, 1, 0), 2, 2, 2},
                                          {u"Sales", 2, 44442.5, FromInt64(1000), 3, 2, 2, 2}}));
    files.push_back(File(u"/b/Archive/old.bak", {{u"Archive", 1, 40000.0, FromInt64(25), 4}}));
    return files;
}

QStringList Column(const QAbstractItemModel& model, TCatalogColumn column)
{
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r)
        texts << model.index(r, static_cast<int>(column)).data().toString();
    return texts;
}

}  // namespace

class TCatalogPageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { SetLocaleFormat(MakeIcuLocaleFormat("en_US")); }

    void modelsPassTheModelTester();
    void sortsByValue_data();
    void sortsByValue();
    void sortKeyRoleOrdersAsTheCatalogDoes();
    void filtersByTextAndType_data();
    void filtersByTextAndType();
    void ctrlCCopiesTheSelectedRowsAsShown();
    void selectingARowNamesItsFileAndSet();
};

// Rows arriving in batches, a later stripe changing a row shown, filtering, sorting and
// clearing: every signal must match what the models answer.
void TCatalogPageTest::modelsPassTheModelTester()
{
    TCatalogModel model;
    TCatalogFilterModel filter;
    filter.setSourceModel(&model);
    filter.sort(static_cast<int>(TCatalogColumn::Start));
    QAbstractItemModelTester modelTester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester filterTester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    const std::vector<TCatalogInput> files = SampleFiles();
    model.appendRows(std::span(files).first(2));
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(model.index(1, static_cast<int>(TCatalogColumn::Stripes)).data().toString(),
             QStringLiteral("1 of 2"));

    model.appendRows(std::span(files).subspan(2));
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex().row(), 1);
    QCOMPARE(model.index(1, static_cast<int>(TCatalogColumn::Stripes)).data().toString(),
             QStringLiteral("2 of 2"));
    QCOMPARE(model.index(1, static_cast<int>(TCatalogColumn::Files)).data().toString(),
             QStringLiteral("/b/hr_1.bak; /b/hr_2.bak"));

    filter.SetFilterText(QStringLiteral("SALES"));
    QCOMPARE(filter.rowCount(), 2);
    filter.SetTypeFilter(TCatalogTypeFilter::Log);
    QCOMPARE(filter.rowCount(), 1);
    filter.sort(static_cast<int>(TCatalogColumn::LastLSN), Qt::DescendingOrder);
    filter.SetFilterText({});
    filter.SetTypeFilter(TCatalogTypeFilter::All);
    QCOMPARE(filter.rowCount(), 4);
    model.appendRows(u"/b/more.bak", File(u"/b/more.bak", {{u"Extra", 2, 44000.0, FromInt64(5), 9}}).Report);
    QCOMPARE(filter.rowCount(), 5);

    QCOMPARE(model.headerData(static_cast<int>(TCatalogColumn::FirstLSN), Qt::Horizontal).toString(),
             QStringLiteral("First LSN"));
    QCOMPARE(model.index(0, 0).data(TCatalogModel::PathRole).toString(), QStringLiteral("/b/sales_full.bak"));

    model.Clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(filter.rowCount(), 0);
}

void TCatalogPageTest::sortsByValue_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("expected");
    const auto start = static_cast<int>(TCatalogColumn::Start);
    const auto lastLsn = static_cast<int>(TCatalogColumn::LastLSN);
    QTest::newRow("start, oldest first")
        << start << int(Qt::AscendingOrder)
        << QStringList{"7/6/2009", "3/4/2021", "9/3/2021 12:00:00 PM", "10/2/2021"};
    QTest::newRow("start, newest first")
        << start << int(Qt::DescendingOrder)
        << QStringList{"10/2/2021", "9/3/2021 12:00:00 PM", "3/4/2021", "7/6/2009"};
    QTest::newRow("last LSN, beyond 64 bits last")
        << lastLsn << int(Qt::AscendingOrder) << QStringList{"25", "999", "1000", "18446744073709551616"};
    QTest::newRow("last LSN, descending")
        << lastLsn << int(Qt::DescendingOrder) << QStringList{"18446744073709551616", "1000", "999", "25"};
    QTest::newRow("database without regard to case")
        << static_cast<int>(TCatalogColumn::Database) << int(Qt::AscendingOrder)
        << QStringList{"Archive", "hr", "Sales", "Sales"};
}

// Through the page, as a click on a header sorts.
void TCatalogPageTest::sortsByValue()
{
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QStringList, expected);
    TCatalogPage page;
    const std::vector<TCatalogInput> files = SampleFiles();
    page.AppendFiles(files);
    page.View()->sortByColumn(column, static_cast<Qt::SortOrder>(order));
    QCOMPARE(page.View()->horizontalHeader()->sortIndicatorSection(), column);
    QCOMPARE(Column(*page.View()->model(), static_cast<TCatalogColumn>(column)), expected);
}

// Callers that sort by the role must get the order the table shows.
void TCatalogPageTest::sortKeyRoleOrdersAsTheCatalogDoes()
{
    TCatalogModel model;
    std::vector<TCatalogInput> files = SampleFiles();
    files.push_back(File(u"/b/neg.bak", {{u"sales", 2, 44442.5, FromInt64(-30), 7, 3, 1}}));
    files.push_back(File(u"/b/neg2.bak", {{u"SALES", 2, 44442.25, FromInt64(-4), 8, 1, 1}}));
    model.appendRows(files);
    for (int c = 0; c < CatalogColumnCount; ++c) {
        for (int a = 0; a < model.rowCount(); ++a) {
            for (int b = 0; b < model.rowCount(); ++b) {
                const int expected =
                    CompareCatalogRows(model.Row(a), model.Row(b), static_cast<TCatalogColumn>(c));
                const QPartialOrdering got =
                    QVariant::compare(model.index(a, c).data(TCatalogModel::SortKeyRole),
                                      model.index(b, c).data(TCatalogModel::SortKeyRole));
                const int sign = got == QPartialOrdering::Less      ? -1
                                 : got == QPartialOrdering::Greater ? 1
                                                                    : 0;
                QVERIFY2(got != QPartialOrdering::Unordered, qPrintable(QString::number(c)));
                QVERIFY2(sign == expected,
                         qPrintable(QStringLiteral("column %1, rows %2 and %3").arg(c).arg(a).arg(b)));
            }
        }
    }
}

void TCatalogPageTest::filtersByTextAndType_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("typeIndex");
    QTest::addColumn<QStringList>("databases");
    QTest::newRow("everything") << QString() << 0 << QStringList{"Archive", "Sales", "Sales", "hr"};
    QTest::newRow("database, other case") << "SALES" << 0 << QStringList{"Sales", "Sales"};
    QTest::newRow("server") << "sqlhost" << 0 << QStringList{"Archive", "Sales", "Sales", "hr"};
    QTest::newRow("folder of the file") << "archive/" << 0 << QStringList{"Archive"};
    // The second stripe of the striped set also holds the log backup.
    QTest::newRow("every set of one file") << "HR_2" << 0 << QStringList{"Sales", "hr"};
    QTest::newRow("full") << QString() << 1 << QStringList{"Archive", "Sales"};
    QTest::newRow("differential") << QString() << 2 << QStringList{"hr"};
    QTest::newRow("log") << QString() << 3 << QStringList{"Sales"};
    QTest::newRow("text and type") << "sales" << 1 << QStringList{"Sales"};
    QTest::newRow("nothing") << "tempdb" << 0 << QStringList{};
}

// Through the page's own widgets, as the user types and chooses.
void TCatalogPageTest::filtersByTextAndType()
{
    QFETCH(QString, text);
    QFETCH(int, typeIndex);
    QFETCH(QStringList, databases);
    TCatalogPage page;
    const std::vector<TCatalogInput> files = SampleFiles();
    page.AppendFiles(files);
    QTest::keyClicks(page.FilterEdit(), text);
    page.TypeBox()->setCurrentIndex(typeIndex);
    QCOMPARE(page.TypeBox()->currentText(),
             (QStringList{"All types", "Full", "Differential", "Log"}.at(typeIndex)));
    QCOMPARE(Column(*page.View()->model(), TCatalogColumn::Database), databases);
}

void TCatalogPageTest::ctrlCCopiesTheSelectedRowsAsShown()
{
    TCatalogPage page;
    const std::vector<TCatalogInput> files = SampleFiles();
    page.AppendFiles(files);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.View()->sortByColumn(static_cast<int>(TCatalogColumn::Start), Qt::DescendingOrder);
    QGuiApplication::clipboard()->setText(QStringLiteral("unchanged"));

    // Nothing selected: the clipboard keeps what it had.
    page.View()->setFocus();
    QTest::keyClick(page.View(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("unchanged"));

    // The newest and the oldest set, selected bottom row first.
    QItemSelectionModel* selection = page.View()->selectionModel();
    const QAbstractItemModel* shown = page.View()->model();
    selection->select(shown->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->select(shown->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(page.View(), Qt::Key_C, Qt::ControlModifier);

    const QStringList lines = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);  // header, two rows, and the empty text after the last "\n"
    QCOMPARE(lines[0],
             QStringLiteral("Database\tServer\tBackup type\tStart\tFinish\tSize\tFirst LSN\tLast LSN\t"
                            "Position\tStripes\tFile(s)\tPassword\tCopy-only\tDamaged"));
    QCOMPARE(lines[1].split(QLatin1Char('\t')).mid(0, 4),
             (QStringList{"hr", "SQLHOST01", "Database differential", "10/2/2021"}));
    QCOMPARE(lines[1].split(QLatin1Char('\t')).at(10), QStringLiteral("/b/hr_1.bak; /b/hr_2.bak"));
    QCOMPARE(lines[2].split(QLatin1Char('\t')).mid(0, 4),
             (QStringList{"Archive", "SQLHOST01", "Database", "7/6/2009"}));
    QCOMPARE(lines[3], QString());
    QCOMPARE(page.SelectedRowsText(), QGuiApplication::clipboard()->text());
}

void TCatalogPageTest::selectingARowNamesItsFileAndSet()
{
    TCatalogPage page;
    const std::vector<TCatalogInput> files = SampleFiles();
    page.AppendFiles(files);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.View()->sortByColumn(static_cast<int>(TCatalogColumn::Start), Qt::AscendingOrder);
    QSignalSpy spy(&page, &TCatalogPage::SetSelected);

    // Row 2 in time order is the log backup, the second set of its file.
    QTableView* view = page.View();
    const QRect cell = view->visualRect(view->model()->index(2, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.last().at(0).toString(), QStringLiteral("/b/hr_2.bak"));
    QCOMPARE(spy.last().at(1).toInt(), 1);

    // Down to the striped set: its first stripe's file, the first set there.
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last().at(0).toString(), QStringLiteral("/b/hr_1.bak"));
    QCOMPARE(spy.last().at(1).toInt(), 0);
}

QTEST_MAIN(TCatalogPageTest)
#include "test_CatalogPage.moc"
