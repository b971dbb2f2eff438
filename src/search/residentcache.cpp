#include "search/residentcache.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cache/myutils.h"
#include "util/bytereader.h"
#include "util/filehandle.h"

namespace veltrano {
namespace {

// Past its last name the layout keeps this many zero bytes: the matcher's block-wise loads
// then stay on their fast path up to the last name (keys up to 48 bytes).
constexpr size_t kNamesTail = 64;

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
// its count, each needing 20 bytes before the end of the list, a name field cut by the end.
template <typename Visit>
void walkEntries(const unsigned char *lst, uint64_t lstSize, const DirRecord &dir, Visit visit)
{
    uint64_t pos = dir.lstOffset;
    uint32_t left = dir.count > 0 ? uint32_t(dir.count) : 0;
    while (left != 0 && pos + 19 < lstSize) {
        --left;
        const unsigned char *p = lst + pos;
        const size_t length = readU16le(p + 16);
        const size_t available = size_t(std::min<uint64_t>(length, lstSize - pos - kLstHeaderSize));
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
    return sizeof *this + m_idx.capacity() + m_lst.capacity() + m_dirs.capacity() * sizeof(Dir)
            + (m_sizes.capacity() + m_attrs.capacity() + m_nameAt.capacity()) * sizeof(uint32_t)
            + m_times.capacity() * sizeof(double) + m_names.capacity();
}

std::string_view ResidentPair::pathOf(size_t d) const
{
    const uint64_t at = m_dirs[d].idxOffset;
    IdxCursor cursor(m_idx.data() + at, m_idx.size() - at);
    DirRecord dir;
    cursor.next(dir);
    return dir.path;
}

std::shared_ptr<const ResidentPair> ResidentPair::build(
        std::vector<unsigned char> idx, std::vector<unsigned char> lst)
{
    auto pair = std::make_shared<ResidentPair>();
    pair->m_id = ++g_pairIds | (uint64_t(1) << 63); // never an id of an opened file
    pair->m_fileBytes = idx.size() + lst.size();
    pair->m_state = pairLooksWhole(idx.data(), idx.size(), lst.size()) ? PairState::Whole
                                                                       : PairState::Damaged;
    pair->m_idx = std::move(idx);
    pair->m_columns = pair->layOut(lst);
    if (!pair->m_columns)
        pair->m_lst = std::move(lst);
    return pair;
}

bool ResidentPair::layOut(const std::vector<unsigned char> &lst)
{
    // Offsets into the names are 32-bit.
    if (lst.size() >= (uint64_t(1) << 32) - kCutRecordSlack)
        return false;
    // First count: in a sound list no two folders share an entry, so the records walked fill
    // no more than the list. More means overlapping folders; the counting stops there, so that
    // a damaged index claiming the same entries a million times costs nothing.
    uint64_t consumed = 0;
    uint64_t entries = 0;
    uint64_t nameBytes = 0;
    size_t dirCount = 0;
    const uint64_t bound = lst.size() + kCutRecordSlack;
    IdxCursor dirs(m_idx.data(), m_idx.size());
    DirRecord dir;
    while (dirs.next(dir)) {
        ++dirCount;
        walkEntries(lst.data(), lst.size(), dir,
                [&](const unsigned char *, std::string_view name, size_t record) {
                    consumed += record;
                    ++entries;
                    nameBytes += name.size() + 1;
                    return consumed <= bound;
                });
        if (consumed > bound)
            return false;
    }

    m_dirs.reserve(dirCount + 1);
    m_sizes.reserve(entries);
    m_attrs.reserve(entries);
    m_times.reserve(entries);
    m_nameAt.reserve(entries + 1);
    m_names.reserve(nameBytes + kNamesTail);
    IdxCursor again(m_idx.data(), m_idx.size());
    for (size_t at = 0; again.next(dir); at = again.position()) {
        Dir laid{at, uint32_t(m_sizes.size()), 0};
        walkEntries(lst.data(), lst.size(), dir,
                [&](const unsigned char *p, std::string_view name, size_t) {
                    const uint32_t attr = readU32le(p + 4);
                    laid.folders += (attr & kAttrDirectory) ? 1 : 0;
                    m_sizes.push_back(readU32le(p));
                    m_attrs.push_back(attr);
                    m_times.push_back(readDoubleLe(p + 8));
                    m_nameAt.push_back(uint32_t(m_names.size()));
                    m_names.insert(m_names.end(), name.begin(), name.end());
                    m_names.push_back(0);
                    return true;
                });
        m_dirs.push_back(laid);
    }
    m_dirs.push_back(Dir{m_idx.size(), uint32_t(m_sizes.size()), 0});
    m_nameAt.push_back(uint32_t(m_names.size()));
    m_names.resize(m_names.size() + kNamesTail, 0);
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
    std::vector<unsigned char> bytes;
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
    out.bytes.resize(size_t(out.st.st_size));
    // A file that shrinks meanwhile gives what it still holds.
    out.bytes.resize(readAll(file.get(), out.bytes.data(), out.bytes.size()));
    return out;
}

} // namespace

ResidentCache::Lookup ResidentCache::get(
        const std::string &folder, std::string_view cacheName, const CodePage &cp)
{
    const std::filesystem::path idxPath = cacheFilePath(folder, cacheName, ".IDX", cp);
    const std::filesystem::path lstPath = cacheFilePath(folder, cacheName, ".LST", cp);
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(m_mutex);
        std::shared_ptr<Entry> &slot = m_entries[idxPath.string()];
        if (!slot)
            slot = std::make_shared<Entry>();
        entry = slot;
    }
    const auto forget = [&] {
        std::lock_guard lock(m_mutex);
        const auto it = m_entries.find(idxPath.string());
        if (it != m_entries.end() && it->second == entry)
            m_entries.erase(it);
    };

    std::lock_guard hold(entry->mutex);
    struct stat idxNow
    { };
    struct stat lstNow
    { };
    if (entry->pair && !idxPath.empty() && ::stat(idxPath.c_str(), &idxNow) == 0
            && ::stat(lstPath.c_str(), &lstNow) == 0 && stampOf<Stamp>(idxNow) == entry->idx
            && stampOf<Stamp>(lstNow) == entry->lst)
        return Lookup{entry->pair->state(), entry->pair};

    // Let go of the old pair before the new one is read: searches still holding it keep it.
    entry->pair.reset();
    ReadFile idx = readWhole(idxPath, kMaxIdxBytes);
    ReadFile lst;
    if (idx.state == PairState::Whole)
        lst = readWhole(lstPath, kMaxLstBytes);
    const PairState failed = idx.state != PairState::Whole ? idx.state : lst.state;
    if (failed != PairState::Whole) {
        forget();
        return Lookup{failed, nullptr};
    }
    m_loads.fetch_add(1, std::memory_order_relaxed);
    try {
        entry->pair = ResidentPair::build(std::move(idx.bytes), std::move(lst.bytes));
    } catch (const std::bad_alloc &) {
        forget();
        return Lookup{PairState::Whole, nullptr};
    }
    entry->idx = stampOf<Stamp>(idx.st);
    entry->lst = stampOf<Stamp>(lst.st);
    return Lookup{entry->pair->state(), entry->pair};
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
    return usage;
}

void ResidentCache::clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
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

// One row, name contains: the key's candidate positions are looked for across the names of
// all the range's entries at once, and only the names that hold one are tested.
struct CandidateFind
{
    const ResidentPair &pair;
    const ConditionMatcher &matcher;
    const KeyCandidates &candidates;
    const unsigned char *namesEnd; // of the range
    // No candidate lies in [searchedFrom, candidate) (offsets into the names).
    uint64_t searchedFrom = UINT64_MAX;
    uint64_t candidate = 0;

    uint32_t operator()(uint32_t e, uint32_t end, bool onlyFolders)
    {
        const uint32_t *at = pair.nameAt();
        const unsigned char *names = pair.names();
        const size_t keyLength = candidates.keyLength();
        while (e < end) {
            if (at[e] < searchedFrom || candidate < at[e]) {
                searchedFrom = at[e];
                candidate = uint64_t(candidates.find(names + at[e], namesEnd) - names);
            }
            // Past the probe's three bytes, the others of the key thin out the candidates of a
            // key whose parts are common (_demo in every _report): each costs a matcher's pass.
            // The names are followed by enough zero bytes for the load.
#if defined(__SSE2__)
            while (candidate < at[end] && !candidates.holdsAt(names + candidate))
                candidate = uint64_t(candidates.find(names + candidate + 1, namesEnd) - names);
#endif
            if (candidate >= at[end])
                return end;
            // The entry whose name holds the candidate: mostly one of the next few.
            for (int step = 0; step < 8 && at[e + 1] <= candidate; ++step)
                ++e;
            if (at[e + 1] <= candidate)
                e = uint32_t(std::upper_bound(at + e, at + end, candidate) - at - 1);
            const uint32_t attr = pair.attrs()[e];
            // A key that would run into the NUL cannot start there, nor anywhere later in the name.
            if ((!onlyFolders || isFolder(attr)) && candidate + keyLength < at[e + 1]
                    && matcher.matches(names + at[e], at[e + 1] - at[e], pair.namesLimit(),
                            pair.sizes()[e], attr, pair.times()[e]))
                return e;
            ++e;
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

template <typename Find>
void scanColumns(const NodeScan &s, size_t idxBegin, size_t idxEnd, SkipState &skip,
        ScanCounts &counts, HitSink &sink, std::vector<DirCounts> *dirLog, Find find)
{
    const ResidentPair &pair = *s.resident;
    const bool onlyFolderName = s.options & soOnlyFolderName;
    const bool onlyShowFolder = s.options & soOnlyShowFolder;
    const bool hitNum = s.options & soHitNum;
    const bool hitNoFind = s.options & soHitNoFind;
    const bool hitExclusive = s.options & soHitExclusive;
    const ResidentPair::Dir *const dirs = pair.dirs();
    size_t d = size_t(std::lower_bound(dirs, dirs + pair.dirCount(), idxBegin,
                              [](const ResidentPair::Dir &dir, size_t offset) {
                                  return dir.idxOffset < offset;
                              })
            - dirs);
    size_t hitCount = 0;
    ScanCounts tally = counts;
    struct WriteBack
    {
        ScanCounts &to;
        const ScanCounts &from;
        ~WriteBack() { to = from; }
    } writeBack{counts, tally};
    // A hit is handed on as the record the list held: header, then its name and NUL.
    std::vector<unsigned char> record;

    for (; d < pair.dirCount() && dirs[d].idxOffset < idxEnd; ++d) {
        if (s.stop->load(std::memory_order_relaxed))
            return;
        sink.idle();
        if (skip.skipping) {
            if (underSkipPath(pair.pathOf(d), skip.skipPath, *s.cp))
                continue;
            skip.skipping = false;
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
            for (; counted <= e; ++counted)
                countedFolders += isFolder(pair.attrs()[counted]) ? 1 : 0;
            ScanHit hit{dirs[d].idxOffset, 0, tally.files + (counted - first - countedFolders),
                    tally.folders + countedFolders};
            const uint32_t nameLength = pair.nameAt()[e + 1] - pair.nameAt()[e];
            record.resize(kLstHeaderSize + nameLength);
            writeU32le(record.data(), pair.sizes()[e]);
            writeU32le(record.data() + 4, pair.attrs()[e]);
            writeDoubleLe(record.data() + 8, pair.times()[e]);
            writeU16le(record.data() + 16, uint16_t(nameLength));
            std::memcpy(
                    record.data() + kLstHeaderSize, pair.names() + pair.nameAt()[e], nameLength);
            sink.hit(hit, record.data(), nameLength);
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
            tally.files += end - first - dirs[d].folders;
            tally.folders += dirs[d].folders;
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
        const ResidentPair::Dir *const dirs = pair.dirs();
        const size_t last = size_t(std::lower_bound(dirs, dirs + pair.dirCount(), idxEnd,
                                           [](const ResidentPair::Dir &dir, size_t offset) {
                                               return dir.idxOffset < offset;
                                           })
                - dirs);
        const unsigned char *namesEnd = pair.names() + pair.nameAt()[dirs[last].firstEntry];
        return scanColumns(s, idxBegin, idxEnd, skip, counts, sink, dirLog,
                CandidateFind{pair, matcher, *candidates, namesEnd});
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
