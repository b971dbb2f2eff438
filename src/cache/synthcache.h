#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace veltrano {

// A synthetic cache for tests and benchmarks: the layout the collector leaves (Net and
// Expanded below the cache root, domains, computers, shares), any number of entries, names
// of realistic length with common extensions, a share of them with Chinese characters (in
// Big5 some of those have trail bytes that look like ASCII letters or a backslash), folder
// trees of varying depth. The same spec and seed always give the same cache.
struct SynthCacheSpec
{
    uint64_t entries = 100000; // entry records over all index pairs (files and sub-folders)
    uint64_t folders = 2000;   // directory records over all index pairs
    uint32_t nodes = 20;       // indexed nodes (shares)
    // Share of all entries in the largest node; the others share the rest about evenly.
    double largestNodeShare = 0.2;
    double chineseNames = 0.05; // share of names holding Chinese words
    // Share of shares whose cache is not in use (never searched), and of shares that are
    // containers too (with a small cache folder of their own below them).
    double cacheOffShare = 0.0;
    double containerShare = 0.0;
    uint64_t seed = 1;
    std::string codePage = "CP950"; // written as the CODEPAGE marker

    // The defaults with the three sizes given.
    static SynthCacheSpec sized(uint64_t entries, uint64_t folders, uint32_t nodes)
    {
        SynthCacheSpec spec;
        spec.entries = entries;
        spec.folders = folders;
        spec.nodes = nodes;
        return spec;
    }
};

struct SynthCacheStats
{
    uint64_t entries = 0;
    uint64_t folders = 0;
    uint32_t nodes = 0;
    uint64_t largestPairBytes = 0; // .IDX + .LST of the largest node
    uint64_t totalBytes = 0;
};

// Writes the cache under `root` (created if needed; existing node lists are replaced).
// `onName`, when set, receives every entry's bare name (code-page bytes) in the order written.
// Throws Error when a file cannot be written.
SynthCacheStats generateSynthCache(const std::filesystem::path &root, const SynthCacheSpec &spec,
                                   const std::function<void(std::string_view name)> &onName = {});

} // namespace veltrano
