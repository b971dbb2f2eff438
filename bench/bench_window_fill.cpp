// The result list under load, in a Release build with the offscreen platform:
//   BM_SearchFillsList    a search of 200,000 hits: seconds until the end handler ran, and the
//                         longest time the window thread went without serving its timer, and
//                         the longest time rows that reached the window stayed out of the list
//   BM_MillionRows        a million result rows in the shown report view: bytes per row, the
//                         process's growth in resident memory, and the time a header click
//                         takes to sort them and show them again
// Run: QT_QPA_PLATFORM=offscreen build/<release>/bench/bench_window_fill

#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTableView>

#include "cache/cachewriter.h"
#include "store/setupinfo.h"
#include "widgets/enhlistview.h"
#include "window/mainform.h"
#include "window/resultlist.h"
#include "window/searchpage.h"

#include <QComboBox>
#include <QPushButton>

using namespace veltrano;

namespace {

constexpr int kDirectories = 2000;
constexpr int kFilesPerDirectory = 100; // 200,000 hits for the key "f"

std::string makeCache()
{
    const std::string home = "/tmp/veltrano-bench-window-" + std::to_string(getpid()) + "/";
    const std::string cache = home + "Cache/";
    std::filesystem::create_directories(cache);
    const CodePage utf8("UTF-8");
    writeCodePageMarker(cache, "UTF-8");
    IndexPairWriter writer;
    for (int d = 0; d < kDirectories; ++d) {
        std::vector<CacheEntry> entries;
        for (int f = 0; f < kFilesPerDirectory; ++f)
            entries.push_back({"f" + std::to_string(f) + (f % 3 ? ".txt" : ".pdf"), uint32_t(f * 1500),
                               0x20, 40000.25 + f});
        writer.addDirectory("\\\\PC1\\share\\dir" + std::to_string(d) + "\\", entries);
    }
    writer.write(cache, "PC1", utf8);
    TNodeData node;
    node.Name = node.Path = node.CacheName = "PC1";
    node.Kind = kindMask(nkIndexed);
    node.State = nsCacheOn;
    writeNodeList(cache, {node});
    return home;
}

long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

void BM_SearchFillsList(benchmark::State &state)
{
    static const std::string home = makeCache();
    TSetupInfo setup;
    DefaultSetupInfo(setup, SetupEnvironment {CodePage("CP950"), home, home});
    TCommonInfo common;
    DefaultCommonInfo(common, 0);
    for (auto _ : state) {
        TMainForm form(setup, common, home);
        form.FormCreate();
        form.show();
        QApplication::processEvents();
        form.searchPage()->textBox(0)->setEditText(QStringLiteral("f"));

        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        // How long a row that reached the window stayed out of the list: each tick notes how
        // many rows were staged by then, and a note goes once the list shows that many.
        QElapsedTimer clockForRows;
        clockForRows.start();
        std::deque<std::pair<int, qint64>> stagedAt;
        qint64 longestHidden = 0;
        const TEnhListModel *model = form.resultList()->model();
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, &form, [&] {
            longestStall = std::max(longestStall, sinceTick.restart());
            const qint64 now = clockForRows.elapsed();
            if (model->stagedCount() > model->count()
                && (stagedAt.empty() || stagedAt.back().first < model->stagedCount()))
                stagedAt.emplace_back(model->stagedCount(), now);
            while (!stagedAt.empty() && stagedAt.front().first <= model->count())
                stagedAt.pop_front();
            if (!stagedAt.empty())
                longestHidden = std::max(longestHidden, now - stagedAt.front().second);
        });
        bool ended = false;
        QObject::connect(&form, &TMainForm::searchEnded, &form, [&] { ended = true; });
        QElapsedTimer clock;
        clock.start();
        sinceTick.start();
        ticker.start();
        form.searchButton()->click();
        while (!ended)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        // One more paint of the filled list counts as part of the fill.
        form.resultList()->reportView()->viewport()->repaint();
        ticker.stop();
        state.SetIterationTime(seconds);
        state.counters["rows"] = form.resultList()->model()->count();
        state.counters["seconds"] = seconds;
        state.counters["longest_stall_ms"] = double(longestStall);
        state.counters["longest_hidden_ms"] = double(longestHidden);
        form.resultList()->SaveSettings.AutoSave = false;
    }
}
BENCHMARK(BM_SearchFillsList)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_MillionRows(benchmark::State &state)
{
    for (auto _ : state) {
        const long before = residentBytes();
        auto list = std::make_unique<TEnhListView>();
        TImageList images;
        images.add(QIcon());
        images.add(QIcon());
        setupResultList(list.get(), &images);
        list->SaveSettings.AutoSave = false;
        list->resize(800, 600);
        list->show();
        TEnhListModel *model = list->model();
        std::string name, size, date, location;
        for (int i = 0; i < 1000000; ++i) {
            name = "document-" + std::to_string(i) + ".txt";
            size = std::to_string(i % 5000);
            date = "2003/04/" + std::to_string(10 + i % 18) + " 12:34:" + std::to_string(10 + i % 50);
            const std::string folder = "\\\\PC" + std::to_string(i % 40) + "\\share\\dir" + std::to_string(i / 100) + "\\";
            location = "PC" + std::to_string(i % 40);
            const std::string key = "/home/user/Cache/" + location;
            const std::string_view cells[] = {name, ".txt", size, folder, location, date, key};
            model->stage(0, cells);
            if (i % 1000 == 999)
                model->flush();
        }
        model->flush();
        QApplication::processEvents();
        list->reportView()->viewport()->repaint();
        const long after = residentBytes();
        // A header click on the size column: the rows sorted and the view shown again.
        list->AutoColumnSort = acsSortToggle;
        QElapsedTimer sorting;
        sorting.start();
        list->ColClick(2);
        QApplication::processEvents();
        list->reportView()->viewport()->repaint();
        state.counters["sort_ms"] = double(sorting.nsecsElapsed()) / 1e6;
        state.counters["rows"] = model->count();
        state.counters["model_MB"] = double(model->memoryBytes()) / 1e6;
        state.counters["resident_growth_MB"] = double(after - before) / 1e6;
        state.counters["resident_total_MB"] = double(after) / 1e6;
    }
}
BENCHMARK(BM_MillionRows)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string config = "/tmp/veltrano-bench-window-config-" + std::to_string(getpid());
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all("/tmp/veltrano-bench-window-" + std::to_string(getpid()));
    std::filesystem::remove_all(config);
    return 0;
}
