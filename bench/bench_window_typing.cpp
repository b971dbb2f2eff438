// The window with results as you type, on the 5,000,000-entry generated cache of bench_search
// (made in $VELTRANO_BENCH_DIR, default /tmp/veltrano-bench-search, when missing), in a
// Release build with the offscreen platform:
//   BM_TypeAWord/<ms>   types "report" letter by letter into the first key box, <ms> between
//                       letters, and waits for the list of the whole word. Reports the longest
//                       time the window thread went without serving a 2 ms heartbeat (it must
//                       stay at or under 50 ms), the searches started and ended, the rows, and
//                       the time from the last key to the complete list; the stall figures
//                       are the worst of the iterations. longest_event_cpu_ms is the
//                       processor time of the longest single event, which a machine busy
//                       with other work does not stretch as it stretches wall-clock figures.
// Run: build/<release>/bench/bench_window_typing --benchmark_counters_tabular=true
// VELTRANO_STALL_DETAIL=1 lists every event over 20 ms by receiver class and event type;
// VELTRANO_SCAN_THREADS=n sets the search's scan threads.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "benchcache.h"
#include "cache/synthcache.h"
#include "store/commoninfo.h"
#include "store/setupinfo.h"
#include "widgets/enhlistview.h"
#include "window/mainform.h"
#include "window/searchpage.h"
#include "window/typingsearch.h"

using namespace veltrano;

namespace {

qint64 threadCpuUs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// Times each event the window thread delivers, to name what a stall was made of.
class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;
    struct Slow
    {
        qint64 us;
        qint64 cpuUs;
        QString what;
    };
    std::vector<Slow> slowest;
    // The longest event delivered since the last reset: wall time and the thread's processor
    // time, which a machine shared with other work does not stretch.
    qint64 longestUs = 0;
    qint64 longestCpuUs = 0;
    void resetLongest() { longestUs = longestCpuUs = 0; }

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_depth > 0)
            return QApplication::notify(receiver, event);
        ++m_depth;
        QElapsedTimer clock;
        clock.start();
        const qint64 cpuBefore = threadCpuUs();
        const int type = event->type();
        const char *className = receiver->metaObject()->className();
        const bool result = QApplication::notify(receiver, event);
        const qint64 us = clock.nsecsElapsed() / 1000;
        const qint64 cpuUs = threadCpuUs() - cpuBefore;
        --m_depth;
        longestUs = std::max(longestUs, us);
        longestCpuUs = std::max(longestCpuUs, cpuUs);
        if (us > 20000 && std::getenv("VELTRANO_STALL_DETAIL"))
            slowest.push_back(
                    {us, cpuUs, QString::fromLatin1(className) + " " + QString::number(type)});
        return result;
    }

private:
    int m_depth = 0;
};

// The program folder whose Cache/ is the generated cache; the same one bench_search uses.
std::string programFolder()
{
    return bench::benchCache().base.string() + "/";
}

void typeKey(QWidget *edit, QChar letter)
{
    // Posted, as the window system hands keys over: they wait their turn in the event loop.
    const int key = Qt::Key_A + (letter.toUpper().unicode() - 'A');
    QApplication::postEvent(edit, new QKeyEvent(QEvent::KeyPress, key, {}, QString(letter)));
    QApplication::postEvent(edit, new QKeyEvent(QEvent::KeyRelease, key, {}, QString(letter)));
}

void BM_TypeAWord(benchmark::State &state)
{
    const std::string home = programFolder();
    const int letterGapMs = int(state.range(0));
    const QString word = QStringLiteral("report");
    TSetupInfo setup;
    DefaultSetupInfo(setup, SetupEnvironment{CodePage("CP950"), home, home});
    setup.SearchAsYouType = 1;
    TCommonInfo common;
    DefaultCommonInfo(common, 0);
    auto *app = static_cast<TimedApplication *>(QApplication::instance());
    qint64 worstStall = 0;
    qint64 worstEventUs = 0;
    qint64 worstEventCpuUs = 0;
    for (auto _ : state) {
        TMainForm form(setup, common, home);
        if (const char *threads = std::getenv("VELTRANO_SCAN_THREADS"))
            form.setScanThreads(unsigned(std::max(1, std::atoi(threads))));
        form.FormCreate();
        form.resize(1000, 700);
        form.show();
        QApplication::processEvents();
        QLineEdit *edit = form.searchPage()->textBox(0)->lineEdit();
        edit->setFocus();

        int started = 0;
        int ended = 0;
        QObject::connect(&form, &TMainForm::searchEnded, &form, [&] {
            ++ended;
        });
        QObject::connect(form.resultList()->model(), &QAbstractItemModel::modelReset, &form, [&] {
            ++started;
        }); // each typed search clears the list first

        // Clearing the list for each new text is part of following it.
        const TEnhListModel *model = form.resultList()->model();
        QElapsedTimer inModel;
        qint64 longestClear = 0;
        QObject::connect(model, &QAbstractItemModel::modelAboutToBeReset, &form, [&] {
            inModel.start();
        });
        QObject::connect(model, &QAbstractItemModel::modelReset, &form, [&] {
            longestClear = std::max(longestClear, inModel.elapsed());
        });

        QElapsedTimer sinceBeat;
        qint64 longestStall = 0;
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        heartbeat.setInterval(2);
        QObject::connect(&heartbeat, &QTimer::timeout, &form, [&] {
            longestStall = std::max(longestStall, sinceBeat.restart());
        });

        QElapsedTimer clock;
        clock.start();
        sinceBeat.start();
        heartbeat.start();
        app->resetLongest();
        qint64 lastKeyAt = 0;
        for (int i = 0; i < word.size(); ++i) {
            lastKeyAt = clock.elapsed();
            typeKey(edit, word[i]);
            while (clock.elapsed() < lastKeyAt + letterGapMs)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        // The list of the whole word: its search has started and the last end has come.
        while (edit->text() != word || form.typingSearch()->pending() || form.searching()
                || clock.elapsed() < lastKeyAt + 200)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double followSeconds = double(clock.elapsed() - lastKeyAt) / 1e3;
        heartbeat.stop();
        state.SetIterationTime(followSeconds);
        worstStall = std::max(worstStall, longestStall);
        worstEventUs = std::max(worstEventUs, app->longestUs);
        worstEventCpuUs = std::max(worstEventCpuUs, app->longestCpuUs);
        // The worst of all iterations: one stall is what the user feels.
        state.counters["longest_stall_ms"] = double(worstStall);
        state.counters["longest_event_ms"] = double(worstEventUs) / 1e3;
        state.counters["longest_event_cpu_ms"] = double(worstEventCpuUs) / 1e3;
        state.counters["clear_ms"] = double(longestClear);
        state.counters["searches"] = started;
        state.counters["ended"] = ended;
        state.counters["rows"] = form.resultList()->model()->count();
        state.counters["follow_s"] = followSeconds;
        form.resultList()->SaveSettings.AutoSave = false;
    }
}
BENCHMARK(BM_TypeAWord)
        ->Arg(60)
        ->Arg(250)
        ->Iterations(2)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string config = "/tmp/veltrano-bench-typing-config-" + std::to_string(getpid());
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config));
    TimedApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    for (const TimedApplication::Slow &slow : app.slowest)
        std::fprintf(stderr, "event over 20 ms: %lld us (%lld us on the processor) %s\n",
                (long long)slow.us, (long long)slow.cpuUs, qPrintable(slow.what));
    benchmark::Shutdown();
    std::filesystem::remove_all(config);
    return 0;
}
