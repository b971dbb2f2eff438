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

    // Writes folder + cacheName + ".IDX" and ".LST", replacing a pair that is there so that a
    // reader sees the old pair or the new one, never the old directory index over the new entry
    // list. Readers open the .IDX first and the .LST after it, and each file is renamed into
    // place whole; what is left is the moment between the two opens. So the new .LST keeps, at
    // their old offsets, the bytes the old .IDX points at, and the new entries go where the old
    // ones are not (at the start when they fit before them, else after them); the .LST is
    // renamed first. An old index read just before the switch still finds its own entries, and
    // the file stays at most about twice the size of one generation. Only when the new offsets
    // would pass 4 GB is the old part given up.
    void write(const std::string &folder, std::string_view cacheName, const CodePage &cp) const;

private:
    std::vector<size_t> m_offsetFields; // where each directory record's LST offset sits in m_idx
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
