// How long the main window takes to show a large backup file until it is idle again,
// and how much memory it holds for it above what it holds for a small one: the read,
// the fill of the tree, expanding every row, fitting the columns and one paint.
//
//   QT_QPA_PLATFORM=offscreen build/dev/bench/tarnwick_bench_window [--benchmark_filter=...]
//
// The files are generated once into a temporary folder: a set with 32,767 database
// files (about 622,000 rows) and 1,000 appended backup sets (48,000 rows).

#include "uFixtureBuilder.h"
#include "uLargeFixtures.h"
#include "uLocaleFormat.h"
#include "uTextConvert.h"
#include "ufrmMain.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

namespace {

const TTempDir& Folder()
{
    static TTempDir dir;
    return dir;
}

std::string ManyFilesFile()
{
    return WriteManyFilesBackup(Folder().Path("32767-files.bak"));
}

std::string ThousandSetsFile()
{
    return WriteThousandSetsBackup(Folder().Path("1000-sets.bak"));
}

std::string SmallFile()
{
    const std::string path = Folder().Path("small.bak");
    TFixtureBuilder b;
    b.MediaHeader();
    b.BackupSet(TBackupSetSpec{});
    b.WriteTo(path);
    return path;
}

const std::string& File(const std::string& name)
{
    static std::map<std::string, std::string> files;
    auto it = files.find(name);
    if (it == files.end()) {
        std::string path = name == "files"  ? ManyFilesFile()
                           : name == "sets" ? ThousandSetsFile()
                                            : SmallFile();
        it = files.emplace(name, std::move(path)).first;
    }
    return it->second;
}

int64_t StatusField(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stoll(line.substr(std::string(field).size()));
    return -1;
}

std::unique_ptr<TfrmMain> MakeWindow()
{
    auto window = std::make_unique<TfrmMain>(QStringList{});
    // No dialog at start: the benchmark opens its files itself.
    window->OpenFileDialog = [](QWidget*) { return std::optional<QString>(); };
    window->ErrorBox = [](QWidget*, const QString& message) {
        std::fprintf(stderr, "error box: %s\n", qPrintable(message));
    };
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        std::abort();
    QTest::qWait(150);  // the start timer's dialog
    return window;
}

// Opens a file and returns when the window has shown it and painted it.
void OpenUntilIdle(TfrmMain& window, const std::string& path)
{
    QSignalSpy finished(&window, &TfrmMain::ReadFinished);
    window.OpenBackupFile(QString::fromStdString(path));
    if (finished.isEmpty() && !finished.wait(600000))
        std::abort();
    window.repaint();
    QCoreApplication::processEvents();
}

// Memory of the window above what it holds for a small backup, in a fresh process so
// that nothing an earlier run left in the heap hides it: peak while opening, and
// resident once idle.
std::pair<double, double> MemoryAboveSmallMiB(const std::string& path)
{
    const std::string command = "/proc/" + std::to_string(getpid()) + "/exe --window-memory '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    long long peak = -1, idle = -1;
    if (pipe) {
        if (fscanf(pipe, "%lld %lld", &peak, &idle) != 2)
            peak = idle = -1;
        pclose(pipe);
    }
    return {static_cast<double>(peak) / 1024.0, static_cast<double>(idle) / 1024.0};
}

int MeasureMemory(int argc, char** argv, const std::string& path)
{
    QApplication app(argc, argv);
    SetLocaleFormat(MakeIcuLocaleFormat("en_US"));
    auto window = MakeWindow();
    OpenUntilIdle(*window, File("small"));
    {
        std::ofstream clear("/proc/self/clear_refs");
        clear << "5";
    }
    const int64_t base = StatusField("VmRSS:");
    OpenUntilIdle(*window, path);
    const int64_t peak = StatusField("VmHWM:");
    const int64_t idle = StatusField("VmRSS:");
    std::printf("%lld %lld\n", static_cast<long long>(peak - base), static_cast<long long>(idle - base));
    return 0;
}

void BM_OpenInWindow(benchmark::State& state, const std::string& name)
{
    const std::string& path = File(name);
    auto window = MakeWindow();
    size_t sets = 0, files = 0;
    for (auto _ : state) {
        OpenUntilIdle(*window, path);
        state.PauseTiming();
        sets = window->grdBAKModel->Sets().size();
        files = 0;
        for (const TBackupDetails& set : window->grdBAKModel->Sets())
            files += set.Files.size();
        OpenUntilIdle(*window, File("small"));
        state.ResumeTiming();
    }
    state.counters["sets"] = static_cast<double>(sets);
    state.counters["files"] = static_cast<double>(files);
    const auto [peak, idle] = MemoryAboveSmallMiB(path);
    state.counters["peak_above_small_MiB"] = peak;
    state.counters["idle_above_small_MiB"] = idle;
}

BENCHMARK_CAPTURE(BM_OpenInWindow, files_32767, std::string("files"))
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_OpenInWindow, sets_1000, std::string("sets"))
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(5);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window keeps its placement in a settings file; not in the user's own.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Folder().Path("config")));
    if (argc == 3 && std::string(argv[1]) == "--window-memory")
        return MeasureMemory(argc, argv, argv[2]);
    QApplication app(argc, argv);
    SetLocaleFormat(MakeIcuLocaleFormat("en_US"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
