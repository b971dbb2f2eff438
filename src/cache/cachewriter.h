#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cache/myutils.h"

namespace veltrano {

// The collector's side of the cache formats: node lists and index pairs. Texts given here are
// code-page bytes (the caller converts); files are named by the UTF-8 form of the cache name.
// Every file is written to a temporary name and renamed into place, so a reader never sees half
// a file. Errors throw Error with the system's text.

// One entry of a directory as the collector saw it.
struct CacheEntry
{
    std::string name; // bare name, code-page bytes
    uint32_t size = 0;
    uint32_t attr = 0; // kAttrDirectory for a sub-directory
    double time = 0;
};

// Builds one node's index pair in memory, directory by directory in depth-first pre-order.
class IndexPairWriter
{
public:
    // Adds a directory record (path ends with '\') with its entries, stored consecutively.
    void addDirectory(std::string_view path, const std::vector<CacheEntry> &entries);

    size_t directoryCount() const { return m_directories; }
    size_t entryCount() const { return m_entries; }
    const std::vector<unsigned char> &idxBytes() const { return m_idx; }
    const std::vector<unsigned char> &lstBytes() const { return m_lst; }

    // Writes folder + cacheName + ".IDX" and ".LST".
    void write(const std::string &folder, std::string_view cacheName, const CodePage &cp) const;

private:
    std::vector<unsigned char> m_idx;
    std::vector<unsigned char> m_lst;
    size_t m_directories = 0;
    size_t m_entries = 0;
};

// Writes folder + "ALL.NOD" with one record per node, in the given order.
void writeNodeList(const std::string &folder, const TNodeList &nodes);

// Writes the cache root's CODEPAGE marker.
void writeCodePageMarker(const std::filesystem::path &cacheRoot, std::string_view name);

} // namespace veltrano
