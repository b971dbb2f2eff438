// veltrano-cli gen-cache: a synthetic cache for tests and benchmarks.
#include <fstream>
#include <iostream>

#include <fmt/format.h>

#include "command.h"
#include "cache/synthcache.h"
#include "util/error.h"

namespace veltrano::cli {
namespace {

std::function<int()> setupGenCache(CLI::App &sub)
{
    struct Args
    {
        std::string root;
        std::string namesFile;
        SynthCacheSpec spec;
    };
    auto args = std::make_shared<Args>();
    SynthCacheSpec &spec = args->spec;
    sub.add_option("DIR", args->root, "Cache root to write (created if needed)")->required();
    sub.add_option("--entries", spec.entries, "Entry records over all nodes")->capture_default_str();
    sub.add_option("--folders", spec.folders, "Directory records over all nodes")->capture_default_str();
    sub.add_option("--nodes", spec.nodes, "Indexed nodes (shares)")->capture_default_str()->check(CLI::Range(1u, 1000000u));
    sub.add_option("--largest", spec.largestNodeShare, "Share of the entries in the largest node")
            ->capture_default_str()->check(CLI::Range(0.0, 1.0));
    sub.add_option("--chinese", spec.chineseNames, "Share of names with Chinese words")
            ->capture_default_str()->check(CLI::Range(0.0, 1.0));
    sub.add_option("--cache-off", spec.cacheOffShare, "Share of nodes whose cache is not in use")
            ->capture_default_str()->check(CLI::Range(0.0, 1.0));
    sub.add_option("--containers", spec.containerShare, "Share of nodes that are containers too")
            ->capture_default_str()->check(CLI::Range(0.0, 1.0));
    sub.add_option("--seed", spec.seed, "Seed; the same seed gives the same cache")->capture_default_str();
    sub.add_option("--codepage", spec.codePage, "Code page of the cache's texts")->capture_default_str();
    sub.add_option("--names", args->namesFile, "Also write every entry's bare name, one a line, to this file");

    return [args] {
        std::ofstream names;
        if (!args->namesFile.empty()) {
            names.open(args->namesFile, std::ios::binary);
            if (!names)
                throw Error("Cannot write " + args->namesFile);
        }
        std::function<void(std::string_view)> onName;
        if (names.is_open())
            onName = [&names](std::string_view name) { names.write(name.data(), std::streamsize(name.size())).put('\n'); };
        const SynthCacheStats stats = generateSynthCache(args->root, args->spec, onName);
        std::cout << fmt::format("entries={} folders={} nodes={} bytes={} largest_pair={}\n", stats.entries,
                                 stats.folders, stats.nodes, stats.totalBytes, stats.largestPairBytes);
        return kExitOk;
    };
}

const bool registered = registerCommand({"gen-cache", "Write a synthetic cache for tests and benchmarks", setupGenCache});

} // namespace
} // namespace veltrano::cli
