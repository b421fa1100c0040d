// The catalog page with a folder of 35,000 small backups, offscreen: the rows appended in
// batches as a background read hands them over, then sorting by the start date and by
// an LSN, and filtering by a text and by type, each through the page's shown table.
//
//   tarnwick_bench_catalog [benchmark flags] [--screenshot=FILE.png]
//
// With --screenshot the page is drawn with a small generated catalog into FILE.png
// instead of running the benchmarks.

#include "uCatalogPage.h"
#include "uLocaleFormat.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int FolderSize = 35000;
constexpr int BatchSize = 500;

std::u16string Wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

// File n of a folder where 100 databases on 7 servers are backed up daily in full,
// every six hours as a differential and every fifteen minutes as a log, each backup to
// a file of its own, and the fulls of every tenth database striped over two files.
std::vector<TCatalogInput> Folder(int count)
{
    static const char* const Types[] = {"Database", "Database differential", "Transaction log"};
    std::vector<TCatalogInput> files;
    files.reserve(static_cast<size_t>(count));
    for (int n = 0; n < count; ++n) {
        const int database = n % 100;
        const int step = n / 100;
        const int kind = step % 24 == 0 ? 0 : step % 6 == 0 ? 1 : 2;
        const bool striped = kind == 0 && database % 10 == 3;
        const int stripes = striped ? 2 : 1;
        for (int stripe = 1; stripe <= stripes; ++stripe) {
            TBackupDetails d;
            TBackupHeader& h = d.Header;
            h.DatabaseName = Wide("Sales" + std::to_string(database));
            h.ServerName = "SQLHOST0" + std::to_string(database % 7) + "\\PROD";
            h.BackupType = kind == 0 ? 1 : kind == 1 ? 5 : 2;
            h.BackupTypeDescription = Types[kind];
            h.BackupStartDate = 44197.0 + step / 96.0 + database / 8640.0;
            h.BackupEndDate = h.BackupStartDate + 30.0 / 86400.0;
            h.BackupSize = 65536 + 4096 * ((n * 7919) % 4096);
            h.FirstLSN = FromInt64(37000000000000000 + int64_t{step} * 160000 + database);
            h.LastLSN = FromInt64(37000000000000000 + int64_t{step + 1} * 160000 + database);
            h.DataSetNumber = 1;
            h.FamilyCount = stripes;
            h.FamilySequenceNumber = stripe;
            h.IsCopyOnly = n % 97 == 0;
            h.IsDamaged = n % 1009 == 0;
            h.HasPassword = database == 42;
            for (int b = 0; b < 4; ++b) {
                h.BackupSetGUID[static_cast<size_t>(b)] = static_cast<uint8_t>(n >> (8 * b));
            }
            h.BackupSetGUID[15] = 0x77;
            const char* extension = kind == 2 ? ".trn" : ".bak";
            std::string path = "/backups/Sales" + std::to_string(database) + "/" + Types[kind][0] + "_" +
                               std::to_string(step) + (striped ? "_" + std::to_string(stripe) : "") +
                               extension;
            TCatalogInput input{Wide(path), {}};
            input.Report.Opened = true;
            input.Report.Sets.push_back(std::move(d));
            files.push_back(std::move(input));
        }
    }
    return files;
}

const std::vector<TCatalogInput>& FullFolder()
{
    static const std::vector<TCatalogInput> folder = Folder(FolderSize);
    return folder;
}

void AppendInBatches(TCatalogPage& page, const std::vector<TCatalogInput>& files)
{
    for (size_t at = 0; at < files.size(); at += BatchSize) {
        const size_t count = std::min<size_t>(BatchSize, files.size() - at);
        page.AppendFiles(std::span(files).subspan(at, count));
        // The window lets the view paint between batches.
        QApplication::processEvents();
    }
}

std::unique_ptr<TCatalogPage> ShownPage()
{
    auto page = std::make_unique<TCatalogPage>();
    page->resize(1400, 700);
    page->show();
    QApplication::processEvents();
    return page;
}

void BM_AppendFolderInBatches(benchmark::State& state)
{
    const std::vector<TCatalogInput>& files = FullFolder();
    for (auto _ : state) {
        auto page = ShownPage();
        AppendInBatches(*page, files);
        benchmark::DoNotOptimize(page->View()->model()->rowCount());
        state.counters["rows"] = page->View()->model()->rowCount();
    }
}
BENCHMARK(BM_AppendFolderInBatches)->Unit(benchmark::kMillisecond)->Iterations(3);

// Each iteration turns the order about, so each one really sorts all rows.
void SortBy(benchmark::State& state, TCatalogColumn column)
{
    auto page = ShownPage();
    AppendInBatches(*page, FullFolder());
    bool ascending = false;
    for (auto _ : state) {
        page->View()->sortByColumn(static_cast<int>(column),
                                   ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
        QApplication::processEvents();
        ascending = !ascending;
    }
    state.counters["rows"] = page->View()->model()->rowCount();
}
void BM_SortByStart(benchmark::State& state)
{
    SortBy(state, TCatalogColumn::Start);
}
void BM_SortByLastLSN(benchmark::State& state)
{
    SortBy(state, TCatalogColumn::LastLSN);
}
void BM_SortByDatabase(benchmark::State& state)
{
    SortBy(state, TCatalogColumn::Database);
}
BENCHMARK(BM_SortByStart)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByLastLSN)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByDatabase)->Unit(benchmark::kMillisecond);

// Typing a text into the filter box and clearing it again, sorted by start date.
void BM_FilterByText(benchmark::State& state)
{
    auto page = ShownPage();
    AppendInBatches(*page, FullFolder());
    int shown = 0;
    for (auto _ : state) {
        page->FilterEdit()->setText(QStringLiteral("sales42"));
        QApplication::processEvents();
        shown = page->View()->model()->rowCount();
        page->FilterEdit()->clear();
        QApplication::processEvents();
    }
    state.counters["shown"] = shown;
    state.counters["rows"] = page->View()->model()->rowCount();
}
BENCHMARK(BM_FilterByText)->Unit(benchmark::kMillisecond);

void BM_FilterByType(benchmark::State& state)
{
    auto page = ShownPage();
    AppendInBatches(*page, FullFolder());
    int shown = 0;
    for (auto _ : state) {
        page->TypeBox()->setCurrentIndex(3);  // log backups
        QApplication::processEvents();
        shown = page->View()->model()->rowCount();
        page->TypeBox()->setCurrentIndex(0);
        QApplication::processEvents();
    }
    state.counters["shown"] = shown;
}
BENCHMARK(BM_FilterByType)->Unit(benchmark::kMillisecond);

int Screenshot(const char* path)
{
    TCatalogPage page;
    page.resize(1500, 520);
    std::vector<TCatalogInput> files = Folder(300);
    // Only one of the two stripes of a full was found, and one file is no backup.
    files.erase(files.begin() + 4);
    files.push_back({u"/backups/readme.txt", {}});
    page.AppendFiles(files);
    page.show();
    page.View()->selectRow(2);
    QApplication::processEvents();
    if (!page.grab().save(QString::fromLocal8Bit(path))) {
        std::fprintf(stderr, "could not write %s\n", path);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetLocaleFormat(MakeIcuLocaleFormat("en_US"));
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--screenshot=", 13) == 0)
            return Screenshot(argv[i] + 13);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
