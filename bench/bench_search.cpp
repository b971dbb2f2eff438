// Speed of the search engine over a generated cache of 5,000,000 entries in 100,000 folders.
// Run in a Release build on a quiet machine; the cache is generated once into
// $VELTRANO_BENCH_DIR (default /tmp/veltrano-bench-search) and reused while its stamp matches.
//
//   bench_search --benchmark_counters_tabular=true --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
//
// The argument of a search is its number of scan threads. Interleaving matters on a shared
// virtual machine, whose speed drifts within minutes.
//
// entries/s counts every entry tested (files and folders); grep runs over a flat file of the
// same names, one a line, so its lines/s compare with the search's entries/s.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "cache/myutils.h"
#include "benchcache.h"
#include "cache/synthcache.h"
#include "search/objsearch.h"
#include "search/residentcache.h"
#include "util/datetime.h"

using namespace veltrano;

namespace {

using bench::BenchCache;
using bench::benchCache;

TCompInfos condition(TCompField field, TCompOp op, std::string key)
{
    TCompInfos conds;
    conds[0] = TCompInfo {clAnd, field, op, std::move(key), 0, 0};
    CheckConditions(conds);
    return conds;
}

struct Outcome
{
    int64_t tested = 0;
    int64_t hits = 0;
};

// The cache the window and the server keep between searches.
ResidentCache &kept()
{
    static ResidentCache cache;
    return cache;
}

Outcome search(const TCompInfos &conds, unsigned threads, ResidentCache *resident = nullptr)
{
    const BenchCache &cache = benchCache();
    Outcome outcome;
    TObjSearch worker(cacheFolder(cache.root), 0, 0, conds, CodePage("CP950"), {});
    worker.ScanThreads = threads;
    worker.Resident = resident;
    worker.OnHit = [&outcome](TObjSearch &s) {
        ++outcome.hits;
        benchmark::DoNotOptimize(s.CurItem().Name[0]);
    };
    worker.OnEnd = [&outcome](TObjSearch &s) { outcome.tested = s.FileCount() + s.FolderCount(); };
    worker.Start();
    worker.WaitFor();
    return outcome;
}

void report(benchmark::State &state, const Outcome &last, int64_t tested)
{
    state.counters["entries/s"] = benchmark::Counter(double(tested), benchmark::Counter::kIsRate);
    state.counters["hit%"] = 100.0 * double(last.hits) / double(std::max<int64_t>(last.tested, 1));
    state.counters["load1"] = [] {
        double load[1] = {0};
        return getloadavg(load, 1) == 1 ? load[0] : -1.0;
    }();
}

void runSearch(benchmark::State &state, const TCompInfos &conds, ResidentCache *resident = nullptr)
{
    benchCache();
    if (resident)
        search(conds, 1, resident); // loaded once, before the clock runs
    Outcome last;
    int64_t tested = 0;
    for (auto _ : state) {
        last = search(conds, unsigned(state.range(0)), resident);
        tested += last.tested;
    }
    report(state, last, tested);
}

// About 0.1% and about 10% of the names hold these keys (the hit% column shows the share).
void BM_NameContainsRare(benchmark::State &state)
{
    runSearch(state, condition(cfName, coContains, "_demo"));
}
void BM_NameContainsCommon(benchmark::State &state)
{
    runSearch(state, condition(cfName, coContains, "report"));
}
void BM_SizeGreater(benchmark::State &state)
{
    runSearch(state, condition(cfSize, coGreater, "100000"));
}
void BM_DateLess(benchmark::State &state)
{
    runSearch(state, condition(cfDate, coLess, "1995/2/1"));
}

// The same searches on the kept cache, as the window and the server run them.
void BM_KeptNameContainsRare(benchmark::State &state)
{
    runSearch(state, condition(cfName, coContains, "_demo"), &kept());
}
void BM_KeptNameContainsCommon(benchmark::State &state)
{
    runSearch(state, condition(cfName, coContains, "report"), &kept());
}
void BM_KeptSizeGreater(benchmark::State &state)
{
    runSearch(state, condition(cfSize, coGreater, "100000"), &kept());
}
void BM_KeptDateLess(benchmark::State &state)
{
    runSearch(state, condition(cfDate, coLess, "1995/2/1"), &kept());
}

// What the kept cache holds against the files it was read from.
void BM_KeptMemory(benchmark::State &state)
{
    benchCache();
    search(condition(cfName, coContains, "_demo"), 1, &kept());
    for (auto _ : state) {
        const ResidentCache::Usage usage = kept().usage();
        state.counters["keptMB"] = double(usage.memoryBytes) / 1048576.0;
        state.counters["filesMB"] = double(usage.fileBytes) / 1048576.0;
        state.counters["kept/files"] =
                double(usage.memoryBytes) / double(std::max<uint64_t>(usage.fileBytes, 1));
    }
}

// grep, or ripgrep, over the flat file of the same names, in the C locale (grep's fastest).
void runGrep(benchmark::State &state, const std::string &key, const char *tool = "grep")
{
    const BenchCache &cache = benchCache();
    const std::string command =
            fmt::format("LC_ALL=C {} -c -i -F '{}' '{}'", tool, key, cache.names.string());
    int64_t lines = 0;
    long count = 0;
    for (auto _ : state) {
        FILE *pipe = popen(command.c_str(), "r");
        if (!pipe || std::fscanf(pipe, "%ld", &count) != 1) {
            state.SkipWithError(fmt::format("{} failed", tool).c_str());
            if (pipe)
                pclose(pipe);
            return;
        }
        pclose(pipe);
        lines += int64_t(cache.stats.entries);
    }
    state.counters["entries/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
    state.counters["hit%"] = 100.0 * double(count) / double(cache.stats.entries);
}
void BM_GrepRare(benchmark::State &state)
{
    runGrep(state, "_demo");
}
void BM_GrepCommon(benchmark::State &state)
{
    runGrep(state, "report");
}
void BM_RipgrepRare(benchmark::State &state)
{
    runGrep(state, "_demo", "rg");
}
void BM_RipgrepCommon(benchmark::State &state)
{
    runGrep(state, "report", "rg");
}

// The machine's ceiling for any pass over the names: memchr for a byte that never occurs, over
// the names held in memory (about the size of the kept names), split between 1 or 2 threads
// the way a scan's chunks are. A search that does not scale past what this does is held back
// by the memory, not by its own work.
void BM_NamesMemchr(benchmark::State &state)
{
    const BenchCache &cache = benchCache();
    static const std::string names = [&cache] {
        std::ifstream in(cache.names, std::ios::binary);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::replace(all.begin(), all.end(), '\n', '\0');
        return all;
    }();
    const unsigned threads = unsigned(state.range(0));
    constexpr int kPasses = 8; // per thread started, so that starting it does not count
    int64_t passes = 0;
    for (auto _ : state) {
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads; ++t)
            workers.emplace_back([t, threads, kPasses] {
                const char *begin = names.data() + names.size() * t / threads;
                const char *end = names.data() + names.size() * (t + 1) / threads;
                for (int pass = 0; pass < kPasses; ++pass)
                    benchmark::DoNotOptimize(std::memchr(begin, 0x7F, size_t(end - begin)));
            });
        for (std::thread &worker : workers)
            worker.join();
        passes += kPasses;
    }
    state.counters["entries/s"] = benchmark::Counter(
            double(passes * int64_t(cache.stats.entries)), benchmark::Counter::kIsRate);
    state.counters["GB/s"] = benchmark::Counter(
            double(passes) * double(names.size()) / 1e9, benchmark::Counter::kIsRate);
}

// What a cache line takes from one processor to the other: two threads hand a counter back
// and forth, and half a round trip is one passage. Every hit a helper thread finds goes over
// this way to the thread that hands hits over in walk order, so where it is slow, two threads
// at many hits gain less than where it is quick.
void BM_LineBetweenCores(benchmark::State &state)
{
    alignas(64) static std::atomic<int64_t> turn{0};
    constexpr int64_t kTrips = 100000;
    for (auto _ : state) {
        turn.store(0);
        std::thread other([] {
            for (int64_t i = 0; i < kTrips; ++i) {
                while (turn.load(std::memory_order_acquire) != 2 * i + 1) {
                }
                turn.store(2 * i + 2, std::memory_order_release);
            }
        });
        const auto start = std::chrono::steady_clock::now();
        for (int64_t i = 0; i < kTrips; ++i) {
            turn.store(2 * i + 1, std::memory_order_release);
            while (turn.load(std::memory_order_acquire) != 2 * i + 2) {
            }
        }
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        other.join();
        state.counters["ns/passage"] = took.count() / double(2 * kTrips);
    }
}

// Peak resident memory of a whole search in a fresh process of its own (this program started
// again with --peak-search), against the largest pair; and of the same process doing nothing
// but reading the cache's stamp, the share of the program and its libraries. The process
// reports its own high-water mark: the system's count for a child includes the image it was
// forked from, which by then holds earlier searches' kept scanners.
constexpr const char *kPeakSearch = "--peak-search";

long ownPeakKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

long peakOfChild(unsigned threads)
{
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string command = fmt::format("'{}' {} {}", self.string(), kPeakSearch, threads);
    FILE *pipe = popen(command.c_str(), "r");
    long kilobytes = -1;
    if (!pipe)
        return -1;
    if (std::fscanf(pipe, "%ld", &kilobytes) != 1)
        kilobytes = -1;
    return pclose(pipe) == 0 ? kilobytes : -1;
}

void BM_PeakMemory(benchmark::State &state)
{
    const BenchCache &cache = benchCache();
    for (auto _ : state) {
        const long peak = peakOfChild(unsigned(state.range(0)));
        const long idle = peakOfChild(0);
        if (peak < 0 || idle < 0) {
            state.SkipWithError("the measuring process failed");
            return;
        }
        state.counters["peakMB"] = double(peak) / 1024.0;
        state.counters["idleMB"] = double(idle) / 1024.0;
        state.counters["largestPairMB"] = double(cache.stats.largestPairBytes) / 1048576.0;
        state.counters["peak/pair"] = double(peak) * 1024.0 / double(cache.stats.largestPairBytes);
    }
}

} // namespace

BENCHMARK(BM_NameContainsRare)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NameContainsCommon)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GrepRare)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GrepCommon)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SizeGreater)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DateLess)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KeptNameContainsRare)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KeptNameContainsCommon)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RipgrepRare)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RipgrepCommon)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KeptSizeGreater)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KeptDateLess)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NamesMemchr)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LineBetweenCores)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KeptMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PeakMemory)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    if (argc == 3 && std::string_view(argv[1]) == kPeakSearch) {
        const unsigned threads = unsigned(std::atoi(argv[2]));
        benchCache();
        if (threads > 0)
            search(condition(cfName, coContains, "report"), threads);
        std::printf("%ld\n", ownPeakKilobytes());
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
