#include "search/residentcache.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <unordered_set>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cache/myutils.h"
#include "search/parallelscan.h"
#include "util/bytereader.h"
#include "util/filehandle.h"

namespace veltrano {
namespace {

// Past its last name the layout keeps this many zero bytes: the matcher's block-wise loads
// then stay on their fast path up to the last name (keys up to 48 bytes).
constexpr size_t kNamesTail = 64;
// Past the offset of the end of the last name, this many more that lie beyond every name: the
// search for a candidate's entry compares offsets 16 at a time.
constexpr size_t kOffsetsTail = 16;

// What one entry of a folder can take of the list past the list's end: a record cut short
// by the end of the file.
constexpr uint64_t kCutRecordSlack = kLstHeaderSize + 0xFFFF;

std::atomic<uint64_t> g_pairIds{0};

size_t readAll(int fd, unsigned char *to, size_t length)
{
    size_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, to + got, length - got, off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    return got;
}

// Walks the entries of one directory record exactly as the scan of the files does: at most
// its count, each needing 20 bytes before the end of the list, a name field cut by the end (or
// where the file turned out to end while it was read).
template <typename Visit>
void walkEntries(LstWindow &lst, const DirRecord &dir, Visit visit)
{
    uint64_t pos = dir.lstOffset;
    uint32_t left = dir.count > 0 ? uint32_t(dir.count) : 0;
    while (left != 0 && pos + 19 < lst.size()) {
        const unsigned char *p = lst.at(pos, kLstHeaderSize);
        if (pos + 19 >= lst.size())
            break;
        const size_t length = readU16le(p + 16);
        size_t available = size_t(std::min<uint64_t>(length, lst.size() - pos - kLstHeaderSize));
        p = lst.at(pos, kLstHeaderSize + available);
        if (pos + 19 >= lst.size())
            break;
        available = size_t(std::min<uint64_t>(available, lst.size() - pos - kLstHeaderSize));
        --left;
        if (!visit(p, readText(p + kLstHeaderSize, available), kLstHeaderSize + length))
            return;
        pos += kLstHeaderSize + length;
    }
}

} // namespace

NodeScan ResidentPair::scan(const NodeScan &settings) const
{
    NodeScan scan = settings;
    scan.idx = m_idx.data();
    scan.idxSize = m_idx.size();
    scan.lstFd = -1;
    scan.lstId = m_id;
    scan.damaged = m_state == PairState::Damaged;
    if (m_columns) {
        scan.lstSize = 0;
        scan.resident = this;
    } else {
        scan.lstSize = m_lst.size();
        scan.lstData = m_lst.data();
    }
    return scan;
}

uint64_t ResidentPair::memoryBytes() const
{
    return sizeof *this + m_idx.bytes() + m_lst.bytes() + m_dirs.bytes() + m_sizes.bytes()
            + m_attrs.bytes() + m_folderBits.bytes() + m_times.bytes() + m_nameAt.bytes() + m_names.bytes();
}

void *mapBytes(size_t bytes, size_t &mapped, bool populate)
{
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (populate ? MAP_POPULATE : 0);
    constexpr size_t kPage = 4096;
    constexpr size_t kHuge = size_t(2) << 20;
    mapped = 0;
    if (bytes == 0)
        return nullptr;
    if (bytes > (size_t(1) << 46))
        throw std::bad_alloc();
    const size_t length = (bytes + kPage - 1) & ~(kPage - 1);
    if (length < kHuge) {
        void *map = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, flags, -1, 0);
        if (map == MAP_FAILED)
            throw std::bad_alloc();
        mapped = length;
        return map;
    }
    // Aligned to a huge page, so that all but the tail can be one.
    void *map = ::mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (map == MAP_FAILED)
        throw std::bad_alloc();
    const auto at = reinterpret_cast<uintptr_t>(map);
    const uintptr_t aligned = (at + kHuge - 1) & ~uintptr_t(kHuge - 1);
    if (aligned > at)
        ::munmap(map, aligned - at);
    if (const size_t after = (at + length + kHuge) - (aligned + length))
        ::munmap(reinterpret_cast<void *>(aligned + length), after);
    ::madvise(reinterpret_cast<void *>(aligned), length, MADV_HUGEPAGE);
    mapped = length;
    return reinterpret_cast<void *>(aligned);
}

size_t trimBytes(void *map, size_t mapped, size_t keep)
{
    constexpr size_t kPage = 4096;
    const size_t kept = (keep + kPage - 1) & ~(kPage - 1);
    if (!map || kept >= mapped)
        return mapped;
    ::munmap(static_cast<unsigned char *>(map) + kept, mapped - kept);
    return kept;
}

void unmapBytes(void *map, size_t mapped)
{
    if (map)
        ::munmap(map, mapped);
}

std::string_view ResidentPair::pathOf(size_t d) const
{
    const uint64_t at = m_dirs[d].idxOffset;
    IdxCursor cursor(m_idx.data() + at, m_idx.size() - at);
    DirRecord dir;
    cursor.next(dir);
    return dir.path;
}

std::vector<ScanChunk> ResidentPair::chunks(uint64_t entriesPerChunk) const
{
    const Dir *const dirs = m_dirs.data();
    const size_t count = dirCount();
    entriesPerChunk = std::max({entriesPerChunk, uint64_t(1), dirs[count].firstEntry / kMaxChunks + 1});
    std::vector<ScanChunk> chunks;
    size_t begin = 0;
    uint32_t first = 0;
    for (size_t d = 1; d <= count; ++d) {
        if (dirs[d].firstEntry - first >= entriesPerChunk) {
            chunks.push_back({begin, size_t(dirs[d].idxOffset)});
            begin = size_t(dirs[d].idxOffset);
            first = dirs[d].firstEntry;
        }
    }
    if (begin < m_idx.size())
        chunks.push_back({begin, m_idx.size()});
    return chunks;
}

std::shared_ptr<const ResidentPair> ResidentPair::build(FileBytes idx, int lstFd, uint64_t lstSize)
{
    auto pair = std::make_shared<ResidentPair>();
    pair->m_id = ++g_pairIds | (uint64_t(1) << 63); // never an id of an opened file
    pair->m_idx = std::move(idx);
    uint64_t readSize = lstSize;
    pair->m_columns = pair->layOut(lstFd, lstSize, readSize);
    if (!pair->m_columns) {
        pair->m_lst = FileBytes(size_t(lstSize), true);
        pair->m_lst.shrink(readAll(lstFd, pair->m_lst.data(), pair->m_lst.size()));
        readSize = pair->m_lst.size();
    }
    pair->m_fileBytes = pair->m_idx.size() + readSize;
    pair->m_state = pairLooksWhole(pair->m_idx.data(), pair->m_idx.size(), readSize)
            ? PairState::Whole
            : PairState::Damaged;
    return pair;
}

bool ResidentPair::layOut(int lstFd, uint64_t lstSize, uint64_t &readSize)
{
    // Offsets into the names are 32-bit.
    if (lstSize >= (uint64_t(1) << 32) - kCutRecordSlack)
        return false;
    // One pass through the list, a window at a time (the bytes are read while they are in the
    // processor's cache), into columns of room for as many entries as the list could hold;
    // what stays unused is given back at the end. In a sound list no two folders share an
    // entry, so the records walked fill no more than the list: more means overlapping folders,
    // and the pass stops there, so that a damaged index that claims the same entries a million
    // times costs nothing.
    const uint64_t bound = lstSize + kCutRecordSlack;
    // Room for the entries the records claim, as far as the list can hold them, and for their
    // names: in a sound pair exactly what is needed, taken at once (page by page it costs more
    // than the reading). A list that turns out to hold more than that (a damaged one) is kept
    // as it is instead.
    uint64_t claimed = 0;
    size_t dirCount = 0;
    {
        IdxCursor dirs(m_idx.data(), m_idx.size());
        DirRecord dir;
        while (dirs.next(dir)) {
            ++dirCount;
            claimed += dir.count > 0 ? uint64_t(dir.count) : 0;
        }
    }
    const size_t maxEntries = size_t(std::min<uint64_t>(claimed, bound / kLstHeaderSize + 1));
    const size_t maxNames =
            size_t(bound - std::min<uint64_t>(bound, uint64_t(maxEntries) * kLstHeaderSize))
            + maxEntries;
    m_dirs = HugeArray<Dir>(dirCount + 1, true);
    m_sizes = HugeArray<uint32_t>(maxEntries, true);
    m_attrs = HugeArray<uint32_t>(maxEntries, true);
    m_folderBits = HugeArray<uint64_t>(maxEntries / 64 + 1, true);
    m_times = HugeArray<double>(maxEntries, true);
    m_nameAt = HugeArray<uint32_t>(maxEntries + 1 + kOffsetsTail, true);
    m_names = HugeArray<unsigned char>(maxNames + kNamesTail, true);

    NodeScan source;
    source.lstFd = lstFd;
    source.lstSize = lstSize;
    source.lstId = m_id;
    LstWindow lst(size_t(1) << 20);
    lst.attach(source);
    uint64_t consumed = 0;
    size_t d = 0;
    uint32_t e = 0;
    uint32_t n = 0;
    uint32_t folders = 0; // among the entries laid out so far
    IdxCursor dirs(m_idx.data(), m_idx.size());
    DirRecord dir;
    for (size_t at = 0; d < dirCount && dirs.next(dir); at = dirs.position()) {
        const Dir laid{at, e, n, folders};
        walkEntries(lst, dir, [&](const unsigned char *p, std::string_view name, size_t record) {
            consumed += record;
            if (consumed > bound || e == maxEntries || n + name.size() + 1 > maxNames) {
                consumed = UINT64_MAX;
                return false;
            }
            const uint32_t attr = readU32le(p + 4);
            folders += (attr & kAttrDirectory) ? 1 : 0;
            m_folderBits[e / 64] |= uint64_t((attr & kAttrDirectory) ? 1 : 0) << (e % 64);
            m_sizes[e] = readU32le(p);
            m_attrs[e] = attr;
            m_times[e] = readDoubleLe(p + 8);
            m_nameAt[e] = n;
            std::memcpy(m_names.data() + n, name.data(), name.size());
            n += uint32_t(name.size());
            m_names[n++] = 0;
            ++e;
            return true;
        });
        if (consumed == UINT64_MAX) {
            m_dirs = {};
            m_sizes = {};
            m_attrs = {};
            m_folderBits = {};
            m_times = {};
            m_nameAt = {};
            m_names = {};
            return false;
        }
        m_dirs[d++] = laid;
    }
    m_dirs[d] = Dir{m_idx.size(), e, n, folders};
    m_dirs.shrink(d + 1);
    m_nameAt[e] = n;
    std::fill_n(m_nameAt.data() + e + 1, kOffsetsTail, UINT32_MAX);
    std::memset(m_names.data() + n, 0, kNamesTail);
    m_sizes.shrink(e);
    m_attrs.shrink(e);
    m_folderBits.shrink(e / 64 + 1);
    m_times.shrink(e);
    m_nameAt.shrink(e + 1 + kOffsetsTail);
    m_names.shrink(n + kNamesTail);
    readSize = lst.size();
    return true;
}

ResidentCache &ResidentCache::processWide()
{
    // Never destroyed: searches on detached threads may still use it when the program ends.
    static ResidentCache *const cache = new ResidentCache;
    return *cache;
}

namespace {

// The file as the name leads to it now, or size -1 when it cannot be reached.
template <typename Stamp>
Stamp stampOf(const struct stat &st)
{
    Stamp s;
    s.device = uint64_t(st.st_dev);
    s.inode = uint64_t(st.st_ino);
    s.size = int64_t(st.st_size);
    s.mtimeSec = int64_t(st.st_mtim.tv_sec);
    s.mtimeNsec = int64_t(st.st_mtim.tv_nsec);
    return s;
}

struct ReadFile
{
    PairState state = PairState::Whole;
    FileBytes bytes;
    struct stat st
    { };
};

// The whole file, no larger than `limit`; Missing or Unreadable as the scan of files says it.
ReadFile readWhole(const std::filesystem::path &path, uint64_t limit)
{
    ReadFile out;
    const FileHandle file(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        out.state = path.empty() || errno == ENOENT ? PairState::Missing : PairState::Unreadable;
        return out;
    }
    if (::fstat(file.get(), &out.st) != 0 || !S_ISREG(out.st.st_mode)
            || uint64_t(out.st.st_size) > limit) {
        out.state = PairState::Unreadable;
        return out;
    }
    out.bytes = FileBytes(size_t(out.st.st_size), true);
    // A file that shrinks meanwhile gives what it still holds.
    out.bytes.shrink(readAll(file.get(), out.bytes.data(), out.bytes.size()));
    return out;
}

// The key of a node's entry: its folder first, so that the entries below a folder are found
// by their beginning; then its name, and the code page that makes a file's name of it.
std::string entryKey(const std::string &folder, std::string_view cacheName, const CodePage &cp)
{
    std::string key = folder;
    key += '\0';
    key += cacheName;
    key += '\0';
    key += cp.name();
    return key;
}

// The key of a walk: where it starts, and the code page that makes the files' names.
std::string walkKey(const std::string &folder, const CodePage &cp)
{
    return folder + '\0' + cp.name();
}

} // namespace

ResidentCache::Lookup ResidentCache::get(
        const std::string &folder, std::string_view cacheName, const CodePage &cp)
{
    const std::string key = entryKey(folder, cacheName, cp);
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(m_mutex);
        std::shared_ptr<Entry> &slot = m_entries[key];
        if (!slot)
            slot = std::make_shared<Entry>();
        entry = slot;
    }
    const auto forget = [&] {
        std::lock_guard lock(m_mutex);
        const auto it = m_entries.find(key);
        if (it != m_entries.end() && it->second == entry)
            m_entries.erase(it);
    };

    std::lock_guard hold(entry->mutex);
    // Taken before the files are looked at: a change reported meanwhile makes the next search
    // look again.
    const uint64_t epoch = m_watch.epoch();
    if (entry->pair && entry->checkedEpoch == epoch)
        return Lookup{entry->pair->state(), entry->pair};
    const uint64_t checkedEpoch = m_watch.watched(folder) ? epoch : 0;

    const std::filesystem::path idxPath = cacheFilePath(folder, cacheName, ".IDX", cp);
    const std::filesystem::path lstPath = cacheFilePath(folder, cacheName, ".LST", cp);
    struct stat idxNow
    { };
    struct stat lstNow
    { };
    if (entry->pair) {
        m_checks.fetch_add(1, std::memory_order_relaxed);
        if (!idxPath.empty() && ::stat(idxPath.c_str(), &idxNow) == 0
                && ::stat(lstPath.c_str(), &lstNow) == 0 && stampOf<Stamp>(idxNow) == entry->idx
                && stampOf<Stamp>(lstNow) == entry->lst) {
            entry->checkedEpoch = checkedEpoch;
            return Lookup{entry->pair->state(), entry->pair};
        }
    }

    // Let go of the old pair before the new one is read: searches still holding it keep it.
    entry->pair.reset();
    ReadFile idx;
    struct stat lstStat
    { };
    try {
        idx = readWhole(idxPath, kMaxIdxBytes);
        if (idx.state != PairState::Whole) {
            forget();
            return Lookup{idx.state, nullptr};
        }
        const FileHandle lst(lstPath.empty() ? -1 : ::open(lstPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (!lst.valid()) {
            const PairState state =
                    lstPath.empty() || errno == ENOENT ? PairState::Missing : PairState::Unreadable;
            forget();
            return Lookup{state, nullptr};
        }
        if (::fstat(lst.get(), &lstStat) != 0 || !S_ISREG(lstStat.st_mode)
                || uint64_t(lstStat.st_size) > kMaxLstBytes) {
            forget();
            return Lookup{PairState::Unreadable, nullptr};
        }
        m_loads.fetch_add(1, std::memory_order_relaxed);
        entry->pair =
                ResidentPair::build(std::move(idx.bytes), lst.get(), uint64_t(lstStat.st_size));
    } catch (const std::bad_alloc &) {
        // Too large to keep here: the caller scans it from its files, through a window.
        forget();
        return Lookup{PairState::Whole, nullptr};
    }
    entry->idx = stampOf<Stamp>(idx.st);
    entry->lst = stampOf<Stamp>(lstStat);
    entry->checkedEpoch = checkedEpoch;
    return Lookup{entry->pair->state(), entry->pair};
}

void ResidentCache::retainUnder(
        const std::string &folder, const std::vector<NodeRef> &nodes, const CodePage &cp)
{
    std::unordered_set<std::string> kept;
    for (const NodeRef &node : nodes)
        kept.insert(entryKey(node.folder, node.cacheName, cp));
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [&](const auto &item) {
        return item.first.starts_with(folder) && !kept.contains(item.first);
    });
}

bool ResidentCache::knownWalk(
        const std::string &folder, const CodePage &cp, std::vector<NodeRef> &nodes) const
{
    const uint64_t epoch = m_watch.epoch();
    std::lock_guard lock(m_mutex);
    const auto it = m_walks.find(walkKey(folder, cp));
    if (it == m_walks.end() || it->second.epoch != epoch)
        return false;
    nodes = it->second.nodes;
    return true;
}

void ResidentCache::rememberWalk(const std::string &folder, const CodePage &cp,
        const std::vector<NodeRef> &nodes, uint64_t epoch)
{
    // A walk during which something changed is of no use, and neither are the walks before.
    const uint64_t now = m_watch.epoch();
    std::lock_guard lock(m_mutex);
    std::erase_if(m_walks, [&](const auto &item) { return item.second.epoch != now; });
    if (epoch == now)
        m_walks[walkKey(folder, cp)] = Walk{epoch, nodes};
}

ResidentCache::Usage ResidentCache::usage() const
{
    std::vector<std::shared_ptr<Entry>> entries;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[path, entry] : m_entries)
            entries.push_back(entry);
    }
    Usage usage;
    for (const auto &entry : entries) {
        std::lock_guard hold(entry->mutex);
        if (!entry->pair)
            continue;
        ++usage.pairs;
        usage.memoryBytes += entry->pair->memoryBytes();
        usage.fileBytes += entry->pair->fileBytes();
    }
    usage.loads = m_loads.load();
    usage.checks = m_checks.load();
    return usage;
}

void ResidentCache::clear()
{
    m_watch.reset();
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_walks.clear();
}

namespace {

bool isFolder(uint32_t attr)
{
    return (attr & kAttrDirectory) != 0;
}

// Finders of the next matching entry of a directory: the first entry in [e, end) that passes
// the search's test (only folder entries with soOnlyFolderName), or `end`.

// Any conditions, entry by entry.
struct MatcherFind
{
    const ResidentPair &pair;
    const ConditionMatcher &matcher;

    uint32_t operator()(uint32_t e, uint32_t end, bool onlyFolders)
    {
        const uint32_t *at = pair.nameAt();
        for (; e < end; ++e) {
            const uint32_t attr = pair.attrs()[e];
            if (onlyFolders && !isFolder(attr))
                continue;
            if (matcher.matches(pair.names() + at[e], at[e + 1] - at[e], pair.namesLimit(),
                        pair.sizes()[e], attr, pair.times()[e]))
                return e;
        }
        return end;
    }
};

// The entry at or after e whose name holds the offset c, given that one does before the
// range's end. The offsets are compared 16 at a time: the entries between two hits of a common
// key are too few for a search by halves and too many for a step at a time, whose exits the
// processor mostly guesses wrong.
uint32_t entryHolding(const uint32_t *at, uint32_t e, uint64_t c)
{
#if defined(__SSE2__)
    const __m128i bias = _mm_set1_epi32(INT32_MIN);
    const __m128i key = _mm_xor_si128(_mm_set1_epi32(int32_t(uint32_t(c))), bias);
    const auto after = [&](const uint32_t *q) {
        return _mm_cmpgt_epi32(_mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(q)), bias), key);
    };
    while (true) {
        const uint32_t *q = at + e + 1;
        const __m128i low = _mm_packs_epi32(after(q), after(q + 4));
        const __m128i high = _mm_packs_epi32(after(q + 8), after(q + 12));
        // The names that start after c: the offsets rise, so these are the last of the 16.
        const unsigned later = unsigned(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
        if (later)
            return e + uint32_t(__builtin_ctz(later));
        e += 16;
    }
#else
    while (at[e + 1] <= c)
        ++e;
    return e;
#endif
}

// One row, name contains: the key's candidate positions are collected across the names of many
// entries at a time, and only the names that hold one are tested.
struct CandidateFind
{
    // Name bytes whose candidates are collected at once.
    static constexpr size_t kSlice = 4096;

    const ResidentPair &pair;
    const ConditionMatcher &matcher;
    const FoldMatcher &key;
    const KeyCandidates &candidates;
    uint64_t namesEnd; // offset of the end of the range's last name
    // The candidates collected before `collectedTo`, those from found[next] on not yet passed.
    uint64_t collectedTo = 0;
    size_t next = 0;
    size_t count = 0;
    std::unique_ptr<uint32_t[]> found =
            std::make_unique_for_overwrite<uint32_t[]>(kSlice + KeyCandidates::kCollectSlack);

    // The first candidate at `from` or after, or namesEnd when there is none.
    uint64_t candidateFrom(uint64_t from)
    {
        const size_t keyLength = candidates.keyLength();
        while (true) {
            while (next < count && found[next] < from)
                ++next;
            if (next < count)
                return found[next];
            // A key ends before its name's NUL, so it starts before the last NUL of the range
            // by its length at least.
            const uint64_t start = std::max(from, collectedTo);
            if (namesEnd < keyLength + 1 || start > namesEnd - keyLength - 1)
                return namesEnd;
            const uint64_t last = std::min<uint64_t>(namesEnd - keyLength - 1, start + kSlice - 1);
            const unsigned char *names = pair.names();
            count = candidates.collect(names, names + start, names + last, found.get());
            next = 0;
            collectedTo = last + 1;
        }
    }

    // The first directory from d on whose names hold a candidate, or dEnd.
    size_t dirWithCandidate(const ResidentPair::Dir *dirs, size_t d, size_t dEnd)
    {
        const uint64_t c = candidateFrom(dirs[d].nameStart);
        if (c < dirs[d + 1].nameStart)
            return d;
        if (c >= dirs[dEnd].nameStart)
            return dEnd;
        // The directory that holds c is the last whose names start at or before it: found by
        // strides that double from d, then by halves (a rare key's next candidate is often
        // thousands of directories on).
        size_t low = d + 1; // dirs[low].nameStart <= c < dirs[high].nameStart
        size_t step = 1;
        for (; low + step < dEnd && dirs[low + step].nameStart <= c; step *= 2)
            low += step;
        size_t high = std::min(low + step, dEnd);
        while (high - low > 1) {
            const size_t middle = low + (high - low) / 2;
            (dirs[middle].nameStart <= c ? low : high) = middle;
        }
        return low;
    }

    uint32_t operator()(uint32_t e, uint32_t end, bool onlyFolders)
    {
        const uint32_t *at = pair.nameAt();
        const unsigned char *names = pair.names();
        const size_t keyLength = candidates.keyLength();
        uint64_t from = at[e];
        while (e < end) {
            const uint64_t candidate = candidateFrom(from);
            if (candidate >= at[end])
                return end;
            e = entryHolding(at, e, candidate);
            const uint32_t attr = pair.attrs()[e];
            // A key that would run into the NUL cannot start there, nor anywhere later in the name.
            if ((!onlyFolders || isFolder(attr)) && candidate + keyLength < at[e + 1]) {
                const int occurs =
                        key.occursAtCandidate(names + at[e], at[e + 1] - at[e] - 1, candidate - at[e]);
                if (occurs > 0)
                    return e;
                if (occurs == 0) {
                    from = candidate + 1; // a later candidate of the name may still match
                    continue;
                }
                if (matcher.matches(names + at[e], at[e + 1] - at[e], pair.namesLimit(),
                            pair.sizes()[e], attr, pair.times()[e]))
                    return e;
            }
            from = at[++e];
        }
        return end;
    }
};

// One row on the size or the date, over its column.
template <typename T, typename Column, typename Compare>
struct ColumnFind
{
    const Column *column;
    const uint32_t *attrs;
    T key;

    uint32_t operator()(uint32_t e, uint32_t end, bool onlyFolders) const
    {
        const Compare compare;
        if (!onlyFolders) {
            for (; e < end; ++e)
                if (compare(T(column[e]), key))
                    return e;
            return end;
        }
        for (; e < end; ++e)
            if (isFolder(attrs[e]) && compare(T(column[e]), key))
                return e;
        return end;
    }
};

// The bits set in v (the baseline processor has no instruction for it).
uint32_t bitCount(uint64_t v)
{
    v -= (v >> 1) & 0x5555555555555555ull;
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return uint32_t((v * 0x0101010101010101ull) >> 56);
}

// The folders among the entries [from, to).
uint32_t foldersIn(const uint64_t *bits, uint32_t from, uint32_t to)
{
    if (from >= to)
        return 0;
    const auto below = [](uint32_t i) { return i % 64 ? ~uint64_t(0) >> (64 - i % 64) : 0; };
    uint32_t word = from / 64;
    const uint32_t lastWord = (to - 1) / 64;
    uint64_t bitsOf = bits[word] & ~below(from);
    uint32_t count = 0;
    for (; word < lastWord; bitsOf = bits[++word])
        count += bitCount(bitsOf);
    return count + bitCount(bitsOf & (to % 64 ? below(to) : ~uint64_t(0)));
}

// The folders among the entries of directories [from, to).
uint32_t foldersOf(const ResidentPair::Dir *dirs, size_t from, size_t to)
{
    return dirs[to].foldersBefore - dirs[from].foldersBefore;
}

// The directories whose records lie in [idxBegin, idxEnd).
struct DirRange
{
    size_t begin;
    size_t end;
};

DirRange dirRange(const ResidentPair &pair, size_t idxBegin, size_t idxEnd)
{
    const ResidentPair::Dir *const dirs = pair.dirs();
    const auto from = [&](size_t offset) {
        return size_t(std::lower_bound(dirs, dirs + pair.dirCount(), offset,
                              [](const ResidentPair::Dir &dir, size_t at) {
                                  return dir.idxOffset < at;
                              })
                - dirs);
    };
    return {from(idxBegin), from(idxEnd)};
}

template <typename Find>
void scanColumns(const NodeScan &s, size_t idxBegin, size_t idxEnd, SkipState &skip,
        ScanCounts &counts, HitSink &sink, std::vector<DirCounts> *dirLog, Find find)
{
    const ResidentPair &pair = *s.resident;
    const auto [onlyFolderName, onlyShowFolder, hitNum, hitNoFind, hitExclusive] =
            scanFlags(s.options);
    const ResidentPair::Dir *const dirs = pair.dirs();
    const DirRange range = dirRange(pair, idxBegin, idxEnd);
    size_t d = range.begin;
    size_t hitCount = 0;
    ScanCounts tally = counts;
    const TallyWriteBack writeBack{counts, tally};

    for (; d < range.end; ++d) {
        if (s.stop->load(std::memory_order_relaxed))
            return;
        sink.idle();
        if (skip.skipping) {
            if (underSkipPath(pair.pathOf(d), skip.skipPath, *s.cp))
                continue;
            skip.skipping = false;
        }
        if constexpr (requires { find.dirWithCandidate(dirs, d, range.end); }) {
            if (!dirLog) {
                // The directories passed over hold no hit: only their counts are taken, and
                // nothing of theirs is read.
                const size_t next = find.dirWithCandidate(dirs, d, range.end);
                const uint32_t folders = foldersOf(dirs, d, next);
                tally.files += dirs[next].firstEntry - dirs[d].firstEntry - folders;
                tally.folders += folders;
                d = next;
                if (d == range.end)
                    break;
            }
        }
        const uint32_t first = dirs[d].firstEntry;
        const uint32_t end = dirs[d + 1].firstEntry;
        uint32_t counted = first; // entries counted in the hits' counts so far …
        uint32_t countedFolders = 0; // … and the folders among them
        int64_t hits = 0;
        bool broke = false;
        for (uint32_t e = find(first, end, onlyFolderName); e < end;
                e = find(e + 1, end, onlyFolderName)) {
            ++hits;
            if (onlyShowFolder && hitNum && hits < s.minHits)
                continue;
            countedFolders += foldersIn(pair.folderBits(), counted, e + 1);
            counted = e + 1;
            ScanHit hit{dirs[d].idxOffset, 0, tally.files + (counted - first - countedFolders),
                    tally.folders + countedFolders};
            sink.hitFields(hit, pair.fields(e));
            ++hitCount;
            if (hitNoFind) {
                skip.skipping = true;
                skip.skipPath = pair.pathOf(d);
            }
            if (onlyShowFolder || hitExclusive) {
                broke = true;
                break;
            }
        }
        if (broke) {
            tally.files += counted - first - countedFolders;
            tally.folders += countedFolders;
        } else {
            const uint32_t folders = foldersOf(dirs, d, d + 1);
            tally.files += end - first - folders;
            tally.folders += folders;
        }
        if (dirLog)
            dirLog->push_back(DirCounts{dirs[d].idxOffset, tally, hitCount});
    }
}

template <typename T, typename Column>
void scanNumberColumn(TCompOp op, const Column *column, T key, const NodeScan &s, size_t idxBegin,
        size_t idxEnd, SkipState &skip, ScanCounts &counts, HitSink &sink,
        std::vector<DirCounts> *dirLog)
{
    const uint32_t *attrs = s.resident->attrs();
    switch (op) {
    case coGreater:
        return scanColumns(s, idxBegin, idxEnd, skip, counts, sink, dirLog,
                ColumnFind<T, Column, std::greater<T>>{column, attrs, key});
    case coLess:
        return scanColumns(s, idxBegin, idxEnd, skip, counts, sink, dirLog,
                ColumnFind<T, Column, std::less<T>>{column, attrs, key});
    default:
        return scanColumns(s, idxBegin, idxEnd, skip, counts, sink, dirLog,
                ColumnFind<T, Column, std::equal_to<T>>{column, attrs, key});
    }
}

} // namespace

void scanResidentRange(const NodeScan &s, size_t idxBegin, size_t idxEnd, SkipState &skip,
        ScanCounts &counts, HitSink &sink, std::vector<DirCounts> *dirLog)
{
    const ResidentPair &pair = *s.resident;
    const ConditionMatcher &matcher = *s.matcher;
    if (const KeyCandidates *candidates = matcher.candidates()) {
        // The candidates are looked for up to the end of the range's last name.
        const size_t last = dirRange(pair, idxBegin, idxEnd).end;
        return scanColumns(s, idxBegin, idxEnd, skip, counts, sink, dirLog,
                CandidateFind{pair, matcher, matcher.singleKey(), *candidates,
                        pair.dirs()[last].nameStart});
    }
    if (const std::optional<ConditionMatcher::NumberRow> row = matcher.singleNumberRow()) {
        if (row->field == cfSize)
            return scanNumberColumn<int64_t>(row->op, pair.sizes(), row->sizeKey, s, idxBegin,
                    idxEnd, skip, counts, sink, dirLog);
        return scanNumberColumn<double>(row->op, pair.times(), row->dateKey, s, idxBegin, idxEnd,
                skip, counts, sink, dirLog);
    }
    scanColumns(s, idxBegin, idxEnd, skip, counts, sink, dirLog, MatcherFind{pair, matcher});
}

} // namespace veltrano
