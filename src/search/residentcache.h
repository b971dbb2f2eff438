#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "search/cachewatch.h"
#include "search/nodescan.h"

namespace veltrano {


// Index pairs kept in memory between searches, for the processes that live long (the window,
// the search server). A search that reads every pair from the system's file cache spends about
// half its time on the kernel's copy; a pair kept here is read again only when one of its files
// is no longer the one loaded (another size, time or inode: the collector renames a new pair
// over the old one), so a replaced pair is seen by the next search.
//
// A kept pair is laid out for scanning: the entries' names one after another (each with its NUL),
// so that the key's candidate positions are found across many names at a time, and the sizes,
// attributes and dates in columns of their own. The layout takes about as much memory as the
// files (two bytes more per entry). A list whose folders' entries overlap (only a damaged one
// does) would be laid out several times over: it is kept as it is and scanned as from the file.

// Memory of its own for a HugeArray; `mapped` is what was taken. Throws std::bad_alloc.
void *mapBytes(size_t bytes, size_t &mapped, bool populate);
void unmapBytes(void *map, size_t mapped);
// Unmaps the whole pages past `keep` bytes; what stays mapped.
size_t trimBytes(void *map, size_t mapped, size_t keep);

// An array of plain values in memory of its own, sized once. Large ones are backed by huge
// pages where the system allows: a kept cache is hundreds of megabytes, and faulting it in
// 4 KiB at a time cost more than reading the files. Not zero-filled beyond what the system
// gives (fresh pages are zero).
template <typename T>
class HugeArray
{
public:
    HugeArray() = default;
    // Throws std::bad_alloc. Unless `populate`, pages are taken as they are first written.
    explicit HugeArray(size_t count, bool populate = false)
        : m_count(count)
    {
        m_map = mapBytes(count * sizeof(T), m_mapped, populate);
    }
    HugeArray(HugeArray &&other) noexcept { swap(other); }
    HugeArray &operator=(HugeArray &&other) noexcept
    {
        HugeArray gone(std::move(*this));
        swap(other);
        return *this;
    }
    ~HugeArray() { unmapBytes(m_map, m_mapped); }

    T *data() { return static_cast<T *>(m_map); }
    const T *data() const { return static_cast<const T *>(m_map); }
    size_t size() const { return m_count; }
    uint64_t bytes() const { return m_mapped; }
    T &operator[](size_t i) { return data()[i]; }
    const T &operator[](size_t i) const { return data()[i]; }
    // Gives up the last elements, and the whole pages past them.
    void shrink(size_t count)
    {
        m_count = std::min(m_count, count);
        m_mapped = trimBytes(m_map, m_mapped, m_count * sizeof(T));
    }

private:
    void swap(HugeArray &other) noexcept
    {
        std::swap(m_map, other.m_map);
        std::swap(m_count, other.m_count);
        std::swap(m_mapped, other.m_mapped);
    }
    void *m_map = nullptr;
    size_t m_count = 0;
    size_t m_mapped = 0;
};
using FileBytes = HugeArray<unsigned char>;

class ResidentPair
{
public:
    struct Dir
    {
        uint64_t idxOffset = 0; // the directory record in the .IDX
        uint32_t firstEntry = 0;
        uint32_t nameStart = 0; // where its first entry's name is in names()
        uint32_t foldersBefore = 0; // of the entries of the directories before it
    };

    PairState state() const { return m_state; }
    // Whether the entries are in columns (otherwise the list is kept as it is).
    bool columns() const { return m_columns; }
    // `settings` with this pair's buffers; the pair must outlive the scan.
    NodeScan scan(const NodeScan &settings) const;
    uint64_t fileBytes() const { return m_fileBytes; }
    uint64_t memoryBytes() const;

    size_t dirCount() const { return m_dirs.size() - 1; }
    // The directory records; one more at the end, whose firstEntry is the number of entries
    // and whose nameStart is the end of the last name.
    const Dir *dirs() const { return m_dirs.data(); }
    const uint32_t *sizes() const { return m_sizes.data(); }
    const uint32_t *attrs() const { return m_attrs.data(); }
    // A bit for each entry, set for a folder: bit i % 64 of word i / 64.
    const uint64_t *folderBits() const { return m_folderBits.data(); }
    const double *times() const { return m_times.data(); }
    // Entry i's name is the text at names() + nameAt()[i], ending with a NUL just before
    // nameAt()[i + 1]. Past the last name, zero bytes that block-wise readers may load.
    const uint32_t *nameAt() const { return m_nameAt.data(); }
    const unsigned char *names() const { return m_names.data(); }
    const unsigned char *namesLimit() const { return m_names.data() + m_names.size(); }
    EntryFields fields(uint32_t e) const
    {
        const uint32_t at = m_nameAt[e];
        return {m_sizes[e], m_attrs[e], m_times[e], m_names.data() + at,
                std::min<size_t>(m_nameAt[e + 1] - at - 1, 0xFFFF), true};
    }
    // The path of directory d, a view into the .IDX.
    std::string_view pathOf(size_t d) const;
    // splitIntoChunks of the laid-out pair, from its directories without reading the records.
    std::vector<ScanChunk> chunks(uint64_t entriesPerChunk) const;

    // Lays out an index pair: the .IDX read whole, the .LST from its open file. Throws
    // std::bad_alloc.
    static std::shared_ptr<const ResidentPair> build(FileBytes idx, int lstFd, uint64_t lstSize);

private:
    bool layOut(int lstFd, uint64_t lstSize, uint64_t &readSize);

    PairState m_state = PairState::Whole;
    bool m_columns = false;
    uint64_t m_fileBytes = 0;
    uint64_t m_id = 0;
    FileBytes m_idx;
    FileBytes m_lst; // only without columns
    HugeArray<Dir> m_dirs;
    HugeArray<uint32_t> m_sizes;
    HugeArray<uint32_t> m_attrs;
    HugeArray<uint64_t> m_folderBits;
    HugeArray<double> m_times;
    HugeArray<uint32_t> m_nameAt;
    HugeArray<unsigned char> m_names;
};

class ResidentCache
{
public:
    // The one that the window's and the server's searches share.
    static ResidentCache &processWide();

    struct Lookup
    {
        PairState state = PairState::Missing;
        // Null when the pair was not loaded; also when it could not be kept (no memory for
        // it), and then a loaded state tells the caller to read it from its files instead.
        std::shared_ptr<const ResidentPair> pair;
    };
    // The pair of the node as its files are now. Thread-safe; a pair being loaded by one search
    // is waited for by another that wants it, not loaded twice. A pair whose folder has not
    // changed (as the system reported at beginSearch) since its files were looked at is given
    // without looking at them again.
    Lookup get(const std::string &folder, std::string_view cacheName, const CodePage &cp);

    // A search starts: the changes the system reported since the last one are taken in. The
    // epoch to give rememberWalk.
    uint64_t beginSearch() { return m_watch.refresh(); }
    // Before a walk reads a folder's node list: false when changes there would go unseen, and
    // then the walk is not to be remembered.
    bool watchFolder(const std::string &folder) { return m_watch.watch(folder); }
    // The nodes of the last walk from `folder` in code page `cp` remembered, when no folder it
    // read has changed since; false otherwise.
    bool knownWalk(const std::string &folder, const CodePage &cp, std::vector<NodeRef> &nodes) const;
    // A whole walk from `folder` that began in `epoch`, every folder of it watched.
    void rememberWalk(const std::string &folder, const CodePage &cp,
            const std::vector<NodeRef> &nodes, uint64_t epoch);

    // Lets go of the pairs kept for nodes below `folder` (a cache folder) other than `nodes`:
    // after a whole walk from there, the nodes that are no longer in the cache or no longer
    // searched. (A node list that drops a share would otherwise keep its pair for good.)
    void retainUnder(
            const std::string &folder, const std::vector<NodeRef> &nodes, const CodePage &cp);

    struct Usage
    {
        size_t pairs = 0;
        uint64_t memoryBytes = 0;
        uint64_t fileBytes = 0;
        uint64_t loads = 0; // pairs read from their files since the start
        uint64_t checks = 0; // times a kept pair's files were looked at again
    };
    Usage usage() const;
    void clear();

private:
    struct Stamp
    {
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t size = -1;
        int64_t mtimeSec = 0;
        int64_t mtimeNsec = 0;
        bool operator==(const Stamp &) const = default;
    };
    struct Entry
    {
        std::mutex mutex;
        Stamp idx;
        Stamp lst;
        uint64_t checkedEpoch = 0; // when its files were looked at, if its folder was watched
        std::shared_ptr<const ResidentPair> pair;
    };
    struct Walk
    {
        uint64_t epoch = 0;
        std::vector<NodeRef> nodes;
    };

    mutable std::mutex m_mutex;
    std::unordered_map<std::string, std::shared_ptr<Entry>> m_entries; // by entryKey
    std::unordered_map<std::string, Walk> m_walks; // by the folder walked from and code page
    std::atomic<uint64_t> m_loads{0};
    std::atomic<uint64_t> m_checks{0};
    CacheWatch m_watch;
};

// The scan of directory records [idxBegin, idxEnd) of a pair kept in columns; the same walk,
// hits and counts as scanRange over its files.
void scanResidentRange(const NodeScan &scan, size_t idxBegin, size_t idxEnd, SkipState &skip,
        ScanCounts &counts, HitSink &sink, std::vector<DirCounts> *dirLog);

} // namespace veltrano
