// The generated 5,000,000-entry cache the speed benchmarks share: made once into
// $VELTRANO_BENCH_DIR (default /tmp/veltrano-bench-search), with a flat file of the same names for
// grep and ripgrep, and reused while its stamp matches.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "cache/synthcache.h"

namespace veltrano::bench {

struct BenchCache
{
    std::filesystem::path base; // the program folder: Cache/ below it
    std::filesystem::path root; // base / "Cache"
    std::filesystem::path names;
    SynthCacheStats stats;
};

inline const BenchCache &benchCache()
{
    static const BenchCache cache = [] {
        BenchCache c;
        const char *dir = std::getenv("VELTRANO_BENCH_DIR");
        c.base = dir && *dir ? dir : "/tmp/veltrano-bench-search";
        c.root = c.base / "Cache";
        c.names = c.base / "names.txt";
        SynthCacheSpec spec;
        spec.entries = 5000000;
        spec.folders = 100000;
        spec.nodes = 100;
        spec.largestNodeShare = 0.1;
        spec.chineseNames = 0.05;
        spec.seed = 1;
        const std::string stamp = fmt::format("{} {} {} {} {} {} v1", spec.entries, spec.folders,
                spec.nodes, spec.largestNodeShare, spec.chineseNames, spec.seed);
        std::ifstream in(c.base / "stamp");
        std::string line, stats;
        if (std::getline(in, line) && line == stamp && std::getline(in, stats)
                && std::sscanf(stats.c_str(), "%lu %lu %u %lu %lu", &c.stats.entries,
                           &c.stats.folders, &c.stats.nodes, &c.stats.largestPairBytes,
                           &c.stats.totalBytes)
                        == 5)
            return c;
        std::filesystem::remove_all(c.base);
        std::filesystem::create_directories(c.base);
        std::ofstream out(c.names, std::ios::binary);
        c.stats = generateSynthCache(c.root, spec, [&out](std::string_view name) {
            out.write(name.data(), std::streamsize(name.size())).put('\n');
        });
        out.close();
        std::ofstream(c.base / "stamp")
                << stamp << '\n'
                << fmt::format("{} {} {} {} {}\n", c.stats.entries, c.stats.folders,
                           c.stats.nodes, c.stats.largestPairBytes, c.stats.totalBytes);
        return c;
    }();
    return cache;
}

} // namespace veltrano::bench
