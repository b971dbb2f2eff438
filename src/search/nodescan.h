#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "search/compare.h"
#include "cache/indexscan.h"
#include "util/filehandle.h"

namespace veltrano {

class ResidentPair;

// The scan of one node's index pair for the search worker: every directory record in .IDX
// order, every entry of it tested against the conditions, the five option bits applied. It
// hands each hit with its record to a sink, so the same loop serves the worker's own thread
// (hits handed to the window at once) and helper threads (hits kept until their turn comes).

// Option bits of a search.
enum TSearchOption : int32_t {
    soOnlyShowFolder = 0x02, // the folder holding the matches is the hit
    soHitNum = 0x04,         // with soOnlyShowFolder: a folder needs MinHits matches
    soHitNoFind = 0x08,      // after a hit, the folders below the hit's folder are passed over
    soHitExclusive = 0x10,   // one hit per folder
    soOnlyFolderName = 0x20, // only folder entries are tested
};

// What may be read from the start of a name kept in columns or copied into a ByteArena, however
// short the name: a short name is then copied in one move of this size, and no branch on its
// length, which the processor guesses wrong at every other hit, goes before the copy.
constexpr size_t kNameReadAhead = 32;

// Bytes appended one record after another, without the zero-filling of a growing vector.
// kNameReadAhead bytes past its end may be read.
class ByteArena
{
public:
    // Room for `n` more bytes at the end; returns where they start.
    unsigned char *append(size_t n)
    {
        if (m_capacity - m_size < n)
            grow(n);
        unsigned char *at = m_data.get() + m_size;
        m_size += n;
        return at;
    }
    const unsigned char *data() const { return m_data.get(); }
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }
    void clear() { m_size = 0; }

private:
    void grow(size_t n);

    std::unique_ptr<unsigned char[]> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

// One hit: the directory record (.IDX offset) that made it, where the entry's record was kept
// (see HitSink), and the entries counted in the scanned range up to and including that entry.
struct ScanHit
{
    uint64_t dirOffset = 0;
    uint64_t entryCopy = 0;
    uint64_t files = 0;
    uint64_t folders = 0;
};

// What a scan needs; the .IDX buffer and the open .LST belong to the caller and outlive the
// scan. The .LST is read through windows.
struct NodeScan
{
    const unsigned char *idx = nullptr;
    size_t idxSize = 0;
    int lstFd = -1;
    uint64_t lstSize = 0;
    uint64_t lstId = 0;                   // tells one opening of a list from another
    bool damaged = false; // see PairState::Damaged
    const ConditionMatcher *matcher = nullptr;
    int32_t options = 0;
    int32_t minHits = 0;
    const std::atomic<bool> *stop = nullptr;
    const CodePage *cp = nullptr;
    // A list held in memory instead of lstFd: [lstData, lstData + lstSize).
    const unsigned char *lstData = nullptr;
    // A pair kept in columns: scanned from them, with neither list file nor bytes.
    const ResidentPair *resident = nullptr;
};

// A window onto a node's .LST: the bytes [base, base + have) of it. The scan reads the list in
// file order, so a window of a few hundred kilobytes, refilled where the scan has got to, holds
// what it needs while the bytes are still in the processor's cache; reading the whole list into
// one buffer would send every byte through main memory twice. Each scanning thread has its own.
class alignas(64) LstWindow
{
public:
    static constexpr size_t kDefaultCapacity = 256 * 1024;
    explicit LstWindow(size_t capacity = kDefaultCapacity);

    size_t capacity() const { return m_capacity; }
    // Starts on a node's list; reads go no further than `readLimit` unless an entry needs it.
    void attach(const NodeScan &scan, uint64_t readLimit = UINT64_MAX);
    // Lets go of the list's file (keeping the buffer for the next one).
    void detach();
    // The address of the list's byte `offset` (< size()), with [offset, offset + want) present
    // as far as the list holds them; valid until the next call.
    const unsigned char *at(uint64_t offset, size_t want)
    {
        if (offset >= m_base && offset + want <= m_base + m_have)
            return m_data + (offset - m_base);
        return refill(offset, want);
    }
    // The list's length; a file that turns out shorter than it said ends where the reading did.
    uint64_t size() const { return m_size; }
    // The bytes present: from begin(), the list's byte base(), to end().
    const unsigned char *begin() const { return m_data; }
    uint64_t base() const { return m_base; }
    // The end of the bytes present; readers may look ahead up to it.
    const unsigned char *end() const { return m_data + m_have; }
    // The list offset of a byte present.
    uint64_t offsetOf(const unsigned char *p) const { return m_base + uint64_t(p - m_data); }

private:
    const unsigned char *refill(uint64_t offset, size_t want);

    std::unique_ptr<unsigned char[]> m_buffer;
    size_t m_capacity;
    // Each window reads through a descriptor of its own: the system keeps its read-ahead state
    // per open file, and two threads reading different parts through one descriptor make it
    // look random to the system, which then does costly work on every read.
    FileHandle m_own;
    uint64_t m_ownId = 0;
    int m_fd = -1;
    const unsigned char *m_data = nullptr;
    uint64_t m_base = 0;
    uint64_t m_have = 0;
    uint64_t m_size = 0;
    uint64_t m_readLimit = UINT64_MAX;
};

// What reading a node's index pair found. Whole and Damaged pairs are scanned (a damaged one
// as far as it holds); Missing and Unreadable ones are passed over.
enum class PairState {
    Whole,
    Damaged, // records cut short, or entries that would start past the end of the .LST
    Missing, // a file of the pair does not exist
    Unreadable, // no permission, not a regular file, or larger than its format can be
};
inline bool isLoaded(PairState state)
{
    return state == PairState::Whole || state == PairState::Damaged;
}

// A node's index pair: the .IDX read whole into a buffer that is kept from node to node (it
// grows to the largest of the walk), the .LST opened for windows.
class PairBuffers
{
public:
    // Reads folder + cacheName + ".IDX" and opens ".LST", which stays open until close() or the
    // next read(): every window of the node reads that very file.
    PairState read(const std::string &folder, std::string_view cacheName, const CodePage &cp);
    // `settings` (matcher, options …) with this pair's buffers.
    NodeScan scan(const NodeScan &settings = {}) const;
    // Closes the .LST (keeping the .IDX buffer for the next node).
    void close();

private:
    std::unique_ptr<unsigned char[]> m_idx;
    size_t m_idxCapacity = 0;
    size_t m_idxSize = 0;
    FileHandle m_lst;
    uint64_t m_lstSize = 0;
    uint64_t m_lstId = 0;
    PairState m_state = PairState::Missing;
};

// Whether the .IDX's records fill it exactly and each one's entries start inside the .LST.
bool pairLooksWhole(const unsigned char *idx, size_t idxSize, uint64_t lstSize);
// Whether soHitNoFind passes over a directory record of this path.
bool underSkipPath(std::string_view path, std::string_view skipPath, const CodePage &cp);

// The skipping state of soHitNoFind: the path (a view into the .IDX) whose sub-tree is being
// passed over.
struct SkipState
{
    bool skipping = false;
    std::string_view skipPath;
};

// An entry's fields as the kept layout holds them.
struct EntryFields
{
    uint32_t size = 0;
    uint32_t attr = 0;
    double time = 0;
    const unsigned char *name = nullptr;
    size_t nameLength = 0; // without the NUL; at most 0xFFFF
    bool readAhead = false; // kNameReadAhead bytes from `name` on may be read
};

// Receives the hits of a scan in walk order; `idle` is called before every directory record,
// so that a receiver may flush what it holds. `entry` is the hit's .LST record with `nameLength`
// bytes of name field, valid only during the call: a receiver that keeps hits keeps a copy and
// notes where in ScanHit::entryCopy.
class HitSink
{
public:
    virtual ~HitSink() = default;
    virtual void hit(ScanHit &hit, const unsigned char *entry, size_t nameLength) = 0;
    // A hit of an entry kept in columns, which has no record to point at: its fields and its
    // name.
    virtual void hitFields(ScanHit &hit, const EntryFields &fields) = 0;
    virtual void idle() {}
};

// Counts of a scanned range, and (when `logDirs`) the counts after each scanned directory.
struct ScanCounts
{
    uint64_t files = 0;
    uint64_t folders = 0;
};
// The options a scan loop tests at every entry, unpacked once.
struct ScanFlags
{
    bool onlyFolderName, onlyShowFolder, hitNum, hitNoFind, hitExclusive;
};
inline ScanFlags scanFlags(int32_t options)
{
    return {(options & soOnlyFolderName) != 0, (options & soOnlyShowFolder) != 0,
            (options & soHitNum) != 0, (options & soHitNoFind) != 0,
            (options & soHitExclusive) != 0};
}

// Copies a scan's local tally to the caller's counts however the scan ends: counted in a local,
// since the caller's counts may share a cache line with another thread's.
struct TallyWriteBack
{
    ScanCounts &to;
    const ScanCounts &from;
    ~TallyWriteBack() { to = from; }
};

// A node to scan: the cache folder that holds its index pair and its cache name (code-page
// bytes).
struct NodeRef
{
    std::string folder;
    std::string cacheName;
};

struct DirCounts
{
    uint64_t dirOffset = 0;
    ScanCounts after;
    size_t hitsAfter = 0;
};

// Scans the directory records in [idxBegin, idxEnd) (record boundaries) through `window`,
// attached to the scan's list, continuing from and updating `skip` and `counts`. Stops early, between entries, once the stop flag is set.
void scanRange(const NodeScan &scan, size_t idxBegin, size_t idxEnd, LstWindow &window,
               SkipState &skip, ScanCounts &counts, HitSink &sink,
               std::vector<DirCounts> *dirLog = nullptr);

// A stretch of directory records of about the same number of entries as the others.
struct ScanChunk
{
    size_t idxBegin = 0;
    size_t idxEnd = 0;
    // Where the chunk's entries presumably end in the .LST (where the next chunk's begin), so
    // that reading for its last entries does not copy much of the next chunk's.
    uint64_t lstEnd = UINT64_MAX;
};
// At most this many chunks per node (a few megabytes of results and bounds).
constexpr uint64_t kMaxChunks = 65536;
// Cuts the .IDX into chunks of about `entriesPerChunk` entries each, at record boundaries.
std::vector<ScanChunk> splitIntoChunks(const unsigned char *idx, size_t idxSize,
                                       uint64_t entriesPerChunk);

// The outcome of one chunk scanned on its own, as if no skipping were under way at its start.
// The results of neighbouring chunks lie side by side and are filled by different threads, each
// moving its ends at every hit: on a cache line of their own, or the threads fight over it.
struct alignas(64) ChunkResult
{
    ScanCounts counts;
    SkipState endSkip;
    std::vector<ScanHit> hits;
    // The hits' .LST records, header and name field; a copy's length field holds the bytes of
    // name field kept, which may be fewer than the file's record claimed.
    ByteArena entries;
    std::vector<DirCounts> dirs; // filled only with soHitNoFind
    const unsigned char *entry(const ScanHit &hit) const { return entries.data() + hit.entryCopy; }
};

// Scans one chunk into `result` (cleared first), as if no skipping were under way at its start.
void scanChunk(const NodeScan &scan, const ScanChunk &chunk, LstWindow &window, ChunkResult &result);
// Scans one chunk through `window` into `sink`, continuing from `skip` and `counts`.
void scanChunkInto(const NodeScan &scan, const ScanChunk &chunk, LstWindow &window, SkipState &skip,
                   ScanCounts &counts, HitSink &sink, std::vector<DirCounts> *dirLog = nullptr);

// Joins a chunk's result to the state of the walk before it: with the incoming skipping
// state, the leading records that the true walk passes over are dropped from the result
// (their hits and counts), and `skip` becomes the state after the chunk. Returns the index of
// the first hit to keep and the counts of the kept part.
struct ChunkMerge
{
    size_t firstHit = 0;
    ScanCounts dropped;
};
ChunkMerge mergeChunk(const NodeScan &scan, const ScanChunk &chunk, const ChunkResult &result,
                      SkipState &skip);

} // namespace veltrano
