#include "search/nodescan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sanitizer/asan_interface.h>

#include "cache/myutils.h"
#include "search/residentcache.h"
#include "util/bytereader.h"
#include "util/shortcopy.h"

namespace veltrano {
namespace {

// Keeps the hits of a chunk, with copies of their records, until the chunk's turn comes.
class VectorSink : public HitSink
{
public:
    explicit VectorSink(ChunkResult &result)
        : m_result(result)
    {
    }
    void hit(ScanHit &hit, const unsigned char *entry, size_t nameLength) override
    {
        const uint64_t at = m_result.entries.size();
        unsigned char *copy = m_result.entries.append(kLstHeaderSize + nameLength);
        copyShort(copy, entry, kLstHeaderSize + nameLength);
        writeU16le(copy + 16, uint16_t(nameLength));
        keep(hit, at);
    }
    // A kept entry's record is put together where it is kept. (Its length is a 16-bit field: a
    // name of 65535 bytes without its NUL is all of the field.)
    void hitFields(ScanHit &hit, const EntryFields &fields) override
    {
        const size_t nameLength = std::min<size_t>(fields.nameLength + 1, 0xFFFF);
        const uint64_t at = m_result.entries.size();
        unsigned char *record = m_result.entries.append(kLstHeaderSize + nameLength);
        writeU32le(record, fields.size);
        writeU32le(record + 4, fields.attr);
        writeDoubleLe(record + 8, fields.time);
        writeU16le(record + 16, uint16_t(nameLength));
        copyShort(record + kLstHeaderSize, fields.name, std::min(fields.nameLength, nameLength));
        if (fields.nameLength < nameLength)
            record[kLstHeaderSize + fields.nameLength] = 0;
        keep(hit, at);
    }

private:
    // Field by field: the hit was just written that way, and a copy in wider loads waits for
    // those stores to land.
    void keep(const ScanHit &hit, uint64_t entryCopy)
    {
        ScanHit &kept = m_result.hits.emplace_back();
        kept.dirOffset = hit.dirOffset;
        kept.entryCopy = entryCopy;
        kept.files = hit.files;
        kept.folders = hit.folders;
    }

    ChunkResult &m_result;
};

// Reads [offset, offset + length) of the file; the bytes it got.
size_t readRange(int fd, unsigned char *to, uint64_t offset, size_t length)
{
    size_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, to + got, length - got, off_t(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    return got;
}

// A new open file of the file open as `fd`, with read-ahead state of its own. The name the
// file was opened by may lead to another file by now (a collector writes a new list and renames
// it over the old one): the scan must go on reading the one its .IDX belongs to.
int reopen(int fd)
{
    if (fd < 0)
        return -1;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
}

// Bytes past an entry's name field that the window keeps present, so that the matcher's
// block-wise loads can stay on their fast path (keys up to 48 bytes).
constexpr size_t kLookahead = 64;

} // namespace

// soHitNoFind passes over the records whose path holds the hit's folder path. An empty path
// holds nothing, and a match must start on a character boundary: a Big5 trail byte 0x5C is
// no backslash.
bool underSkipPath(std::string_view path, std::string_view skipPath, const CodePage &cp)
{
    return !skipPath.empty() && cp.find(path, skipPath) != std::string_view::npos;
}

// What a cache cut short or overwritten shows first. Such a pair is still scanned as far as
// it holds.
bool pairLooksWhole(const unsigned char *idx, size_t idxSize, uint64_t lstSize)
{
    IdxCursor dirs(idx, idxSize);
    DirRecord dir;
    while (dirs.next(dir)) {
        if (dir.count < 0 || (dir.count > 0 && uint64_t(dir.lstOffset) + 19 >= lstSize))
            return false;
    }
    return !dirs.damaged();
}

LstWindow::LstWindow(size_t capacity)
    : m_capacity(std::max<size_t>(capacity, 1))
{
}

void LstWindow::attach(const NodeScan &scan, uint64_t readLimit)
{
    m_size = scan.lstSize;
    m_readLimit = readLimit;
    if (scan.lstData) {
        // All of it is present: every look-up is served from the caller's bytes.
        m_fd = -1;
        m_data = scan.lstData;
        m_base = 0;
        m_have = m_size;
        return;
    }
    if (scan.lstId != m_ownId) {
        m_own.reset(reopen(scan.lstFd));
        m_ownId = scan.lstId;
        if (m_own.valid())
            ::posix_fadvise(m_own.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    // Without a descriptor of its own, the shared one still reads the same file.
    m_fd = m_own.valid() ? m_own.get() : scan.lstFd;
    m_data = m_buffer.get();
    m_base = 0;
    m_have = 0;
    if (m_fd < 0)
        m_size = 0; // nothing to read from: an empty list
}

void LstWindow::detach()
{
    m_own.reset();
    m_ownId = 0;
    m_fd = -1;
    m_data = m_buffer.get();
    m_base = 0;
    m_have = 0;
    m_size = 0;
}

const unsigned char *LstWindow::refill(uint64_t offset, size_t want)
{
    if (offset >= m_size)
        return end();
    want = size_t(std::min<uint64_t>(want, m_size - offset));
    // At the end of the list everything there is may already be present.
    if (offset >= m_base && offset + want <= m_base + m_have)
        return m_data + (offset - m_base);
    if (!m_buffer || m_capacity < want) {
        m_capacity = std::max(m_capacity, want);
        m_buffer.reset(); // the old buffer goes before the new one is taken
        m_buffer = std::make_unique_for_overwrite<unsigned char[]>(m_capacity);
    }
    m_data = m_buffer.get();
    uint64_t length = std::min<uint64_t>(m_capacity, m_size - offset);
    if (m_readLimit > offset && m_readLimit - offset < length)
        length = std::max<uint64_t>(m_readLimit - offset, want);
    const size_t got = readRange(m_fd, m_buffer.get(), offset, size_t(length));
    if (got < length)
        m_size = offset + got; // cut short while we read: it ends here
    m_base = offset;
    m_have = got;
    return m_data;
}

void ByteArena::grow(size_t n)
{
    const size_t capacity = std::max({m_capacity * 2, m_size + n, size_t(4096)});
    auto bigger = std::make_unique_for_overwrite<unsigned char[]>(capacity + kNameReadAhead);
    std::memset(bigger.get() + capacity, 0, kNameReadAhead);
    if (m_size)
        std::memcpy(bigger.get(), m_data.get(), m_size);
    m_data = std::move(bigger);
    m_capacity = capacity;
}

PairState PairBuffers::read(
        const std::string &folder, std::string_view cacheName, const CodePage &cp)
{
    m_lst.reset();
    m_idxSize = 0;
    m_lstSize = 0;
    m_state = PairState::Missing;
    const std::filesystem::path idx = cacheFilePath(folder, cacheName, ".IDX", cp);
    if (idx.empty())
        return m_state;
    const FileHandle idxFile(::open(idx.c_str(), O_RDONLY | O_CLOEXEC));
    if (!idxFile.valid())
        return m_state = errno == ENOENT ? PairState::Missing : PairState::Unreadable;
    struct stat st {};
    if (::fstat(idxFile.get(), &st) != 0 || !S_ISREG(st.st_mode)
            || uint64_t(st.st_size) > kMaxIdxBytes)
        return m_state = PairState::Unreadable;
    const size_t want = size_t(st.st_size);
    if (m_idxCapacity < want) {
        m_idx.reset(); // the old buffer goes before the new one is taken
        m_idxCapacity = 0;
        try {
            m_idx = std::make_unique_for_overwrite<unsigned char[]>(want);
        } catch (const std::bad_alloc &) {
            return m_state = PairState::Unreadable;
        }
        m_idxCapacity = want;
    }
    // A file that shrinks meanwhile gives what it still holds.
    ASAN_UNPOISON_MEMORY_REGION(m_idx.get(), m_idxCapacity);
    m_idxSize = readRange(idxFile.get(), m_idx.get(), 0, want);
    // The buffer is kept for the next node and only grows, so a read past this node's bytes
    // would still land inside the allocation: under AddressSanitizer the tail is fenced off.
    ASAN_POISON_MEMORY_REGION(m_idx.get() + m_idxSize, m_idxCapacity - m_idxSize);

    const std::filesystem::path lst = cacheFilePath(folder, cacheName, ".LST", cp);
    m_lst.reset(lst.empty() ? -1 : ::open(lst.c_str(), O_RDONLY | O_CLOEXEC));
    if (!m_lst.valid()) {
        m_idxSize = 0;
        return m_state = errno == ENOENT ? PairState::Missing : PairState::Unreadable;
    }
    if (::fstat(m_lst.get(), &st) != 0 || !S_ISREG(st.st_mode)
            || uint64_t(st.st_size) > kMaxLstBytes) {
        m_lst.reset();
        m_idxSize = 0;
        return m_state = PairState::Unreadable;
    }
    m_lstSize = uint64_t(st.st_size);
    static std::atomic<uint64_t> openings {0};
    m_lstId = ++openings;
    return m_state = pairLooksWhole(m_idx.get(), m_idxSize, m_lstSize) ? PairState::Whole
                                                                       : PairState::Damaged;
}

void PairBuffers::close()
{
    m_lst.reset();
    m_state = PairState::Missing;
    m_lstSize = 0;
    m_lstId = 0;
}

NodeScan PairBuffers::scan(const NodeScan &settings) const
{
    NodeScan scan = settings;
    scan.idx = m_idx.get();
    scan.idxSize = m_idxSize;
    scan.lstFd = m_lst.get();
    scan.lstSize = m_lstSize;
    scan.lstId = m_lstId;
    scan.damaged = m_state == PairState::Damaged;
    return scan;
}

namespace {

// The tests of an entry that the scan loop is instantiated with. Each sees the entry's record
// at p with `available` bytes of name field present, and its offset in the list.

// Any conditions.
struct MatcherTest
{
    const ConditionMatcher &matcher;
    bool operator()(const unsigned char *p, uint64_t, size_t available, uint32_t attr,
                    const LstWindow &window)
    {
        return matcher.matches(p + kLstHeaderSize, available, window.end(), readU32le(p), attr,
                               readDoubleLe(p + 8));
    }
};

// One row, name contains: names without a candidate position of the key are passed over.
struct CandidateTest
{
    const ConditionMatcher &matcher;
    const KeyCandidates &candidates;
    // No candidate lies in [searchedFrom, candidate): the finder ran from searchedFrom and
    // stopped at candidate (list offsets).
    uint64_t searchedFrom = UINT64_MAX;
    uint64_t candidate = 0;

    bool operator()(const unsigned char *p, uint64_t entryOffset, size_t available, uint32_t attr,
                    const LstWindow &window)
    {
        const uint64_t nameOffset = entryOffset + kLstHeaderSize;
        if (nameOffset < searchedFrom || candidate < nameOffset) {
            searchedFrom = nameOffset;
            candidate = window.offsetOf(candidates.find(p + kLstHeaderSize, window.end()));
        }
        if (candidate + candidates.keyLength() > nameOffset + available)
            return false;
        return MatcherTest {matcher}(p, entryOffset, available, attr, window);
    }
};

// One row on the size or the date, with its comparison fixed.
template <typename T, T (*read)(const unsigned char *), size_t at, typename Compare>
struct NumberTest
{
    T key;
    bool operator()(const unsigned char *p, uint64_t, size_t, uint32_t, const LstWindow &) const
    {
        return Compare()(read(p + at), key);
    }
};

int64_t readSize(const unsigned char *p)
{
    return readU32le(p);
}

template <typename Test>
void scanWith(const NodeScan &s, size_t idxBegin, size_t idxEnd, LstWindow &window,
              SkipState &skip, ScanCounts &counts, HitSink &sink, std::vector<DirCounts> *dirLog,
              Test test)
{
    const auto [onlyFolderName, onlyShowFolder, hitNum, hitNoFind, hitExclusive] =
            scanFlags(s.options);
    size_t hitCount = 0;
    ScanCounts tally = counts;
    const TallyWriteBack writeBack{counts, tally};

    IdxCursor dirs(s.idx + idxBegin, idxEnd - idxBegin);
    DirRecord dir;
    while (!s.stop->load(std::memory_order_relaxed)) {
        sink.idle();
        const size_t recordOffset = idxBegin + dirs.position();
        if (!dirs.next(dir))
            return;
        if (skip.skipping) {
            if (underSkipPath(dir.path, skip.skipPath, *s.cp))
                continue;
            skip.skipping = false;
        }

        // The entries of the directory, as far as its count and the .LST allow: each one needs
        // at least 20 bytes before the end of the file. (The window re-reads the file's length,
        // which shrinks if the file was cut short while we read.)
        uint64_t pos = dir.lstOffset;
        uint32_t left = dir.count > 0 ? uint32_t(dir.count) : 0;
        int64_t hits = 0;
        // The window's state in locals: the compiler cannot keep it in registers across the
        // calls of the loop, and most entries lie wholly inside the window.
        const unsigned char *data = window.begin();
        uint64_t base = window.base();
        uint64_t haveEnd = window.offsetOf(window.end());
        while (left != 0 && pos + 19 < window.size()) {
            if ((left & 1023) == 0 && s.stop->load(std::memory_order_relaxed))
                return;
            const unsigned char *p;
            size_t length;
            size_t available;
            if (pos >= base && pos + kLstHeaderSize + kLookahead <= haveEnd
                && (length = readU16le(data + (pos - base) + 16),
                    pos + kLstHeaderSize + length + kLookahead <= haveEnd)) {
                p = data + (pos - base); // all of it present, and the file goes on past it
                available = length;
            } else {
                p = window.at(pos, kLstHeaderSize + kLookahead);
                if (pos + 19 >= window.size())
                    break;
                length = readU16le(p + 16);
                available = size_t(std::min<uint64_t>(length, window.size() - pos - kLstHeaderSize));
                p = window.at(pos, kLstHeaderSize + available + kLookahead);
                if (pos + 19 >= window.size())
                    break;
                available = size_t(std::min<uint64_t>(available, window.size() - pos - kLstHeaderSize));
                data = window.begin();
                base = window.base();
                haveEnd = window.offsetOf(window.end());
            }
            --left;
            const uint64_t entryOffset = pos;
            const uint32_t attr = readU32le(p + 4);
            pos += kLstHeaderSize + length;
            const bool folder = (attr & kAttrDirectory) != 0;
            folder ? ++tally.folders : ++tally.files;
            if (onlyFolderName && !folder)
                continue;
            if (!test(p, entryOffset, available, attr, window))
                continue;
            ++hits;
            if (onlyShowFolder && hitNum && hits < s.minHits)
                continue;
            ScanHit hit {recordOffset, 0, tally.files, tally.folders};
            sink.hit(hit, p, available);
            ++hitCount;
            if (hitNoFind) {
                skip.skipping = true;
                skip.skipPath = dir.path;
            }
            if (onlyShowFolder || hitExclusive)
                break;
        }
        if (dirLog)
            dirLog->push_back(DirCounts {recordOffset, tally, hitCount});
    }
}

template <typename T, T (*read)(const unsigned char *), size_t at>
void scanNumbers(TCompOp op, T key, const NodeScan &s, size_t idxBegin, size_t idxEnd,
                 LstWindow &window, SkipState &skip, ScanCounts &counts, HitSink &sink,
                 std::vector<DirCounts> *dirLog)
{
    switch (op) {
    case coGreater:
        return scanWith(s, idxBegin, idxEnd, window, skip, counts, sink, dirLog,
                        NumberTest<T, read, at, std::greater<T>> {key});
    case coLess:
        return scanWith(s, idxBegin, idxEnd, window, skip, counts, sink, dirLog,
                        NumberTest<T, read, at, std::less<T>> {key});
    default: // equals; singleNumberRow gives no other
        return scanWith(s, idxBegin, idxEnd, window, skip, counts, sink, dirLog,
                        NumberTest<T, read, at, std::equal_to<T>> {key});
    }
}

} // namespace

void scanRange(const NodeScan &s, size_t idxBegin, size_t idxEnd, LstWindow &window,
               SkipState &skip, ScanCounts &counts, HitSink &sink, std::vector<DirCounts> *dirLog)
{
    if (s.resident)
        return scanResidentRange(s, idxBegin, idxEnd, skip, counts, sink, dirLog);
    const ConditionMatcher &matcher = *s.matcher;
    if (const KeyCandidates *candidates = matcher.candidates())
        return scanWith(s, idxBegin, idxEnd, window, skip, counts, sink, dirLog,
                        CandidateTest {matcher, *candidates});
    if (const std::optional<ConditionMatcher::NumberRow> row = matcher.singleNumberRow()) {
        if (row->field == cfSize)
            return scanNumbers<int64_t, readSize, 0>(row->op, row->sizeKey, s, idxBegin, idxEnd,
                                                     window, skip, counts, sink, dirLog);
        return scanNumbers<double, readDoubleLe, 8>(row->op, row->dateKey, s, idxBegin, idxEnd,
                                                    window, skip, counts, sink, dirLog);
    }
    scanWith(s, idxBegin, idxEnd, window, skip, counts, sink, dirLog, MatcherTest {matcher});
}

std::vector<ScanChunk> splitIntoChunks(const unsigned char *idx, size_t idxSize,
                                       uint64_t entriesPerChunk)
{
    DirRecord dir;
    // Counts come from the file: a damaged one may claim billions of entries in every record.
    // The chunks' bookkeeping must stay small whatever they claim, so the chunks grow instead.
    uint64_t claimed = 0;
    for (IdxCursor all(idx, idxSize); all.next(dir);)
        claimed += dir.count > 0 ? uint64_t(dir.count) : 0;
    entriesPerChunk = std::max({entriesPerChunk, uint64_t(1), claimed / kMaxChunks + 1});

    std::vector<ScanChunk> chunks;
    std::vector<uint64_t> lstBegins;
    IdxCursor dirs(idx, idxSize);
    size_t begin = 0;
    uint64_t entries = 0;
    bool first = true;
    while (dirs.next(dir)) {
        if (first)
            lstBegins.push_back(dir.lstOffset);
        first = false;
        entries += dir.count > 0 ? uint64_t(dir.count) : 0;
        if (entries >= entriesPerChunk) {
            chunks.push_back({begin, dirs.position()});
            begin = dirs.position();
            entries = 0;
            first = true;
        }
    }
    if (begin < idxSize)
        chunks.push_back({begin, idxSize});
    for (size_t i = 0; i + 1 < chunks.size() && i + 1 < lstBegins.size(); ++i)
        if (lstBegins[i + 1] > lstBegins[i])
            chunks[i].lstEnd = lstBegins[i + 1];
    return chunks;
}

void scanChunk(const NodeScan &scan, const ScanChunk &chunk, LstWindow &window, ChunkResult &result)
{
    result.counts = {};
    result.endSkip = {};
    result.hits.clear();
    result.entries.clear();
    result.dirs.clear();
    VectorSink sink(result);
    const bool logDirs = (scan.options & soHitNoFind) != 0;
    scanChunkInto(scan, chunk, window, result.endSkip, result.counts, sink,
                  logDirs ? &result.dirs : nullptr);
}

void scanChunkInto(const NodeScan &scan, const ScanChunk &chunk, LstWindow &window, SkipState &skip,
                   ScanCounts &counts, HitSink &sink, std::vector<DirCounts> *dirLog)
{
    // Past its end, a chunk needs only the look-ahead of its last entries.
    window.attach(scan, chunk.lstEnd == UINT64_MAX ? UINT64_MAX : chunk.lstEnd + 4096);
    scanRange(scan, chunk.idxBegin, chunk.idxEnd, window, skip, counts, sink, dirLog);
}

ChunkMerge mergeChunk(const NodeScan &scan, const ScanChunk &chunk, const ChunkResult &result,
                      SkipState &skip)
{
    ChunkMerge merge;
    if (!skip.skipping) {
        skip = result.endSkip;
        return merge;
    }
    // The chunk was scanned as if nothing were skipped at its start. The true walk passes over
    // its leading records under the skip path; from the first record outside it, both walks are
    // in the same state (a skip path set inside the passed-over part lies under the old one, so
    // it cannot reach past that record either), and the chunk's own result stands.
    IdxCursor dirs(scan.idx + chunk.idxBegin, chunk.idxEnd - chunk.idxBegin);
    DirRecord dir;
    size_t cut = chunk.idxEnd;
    for (size_t at = chunk.idxBegin; dirs.next(dir); at = chunk.idxBegin + dirs.position()) {
        if (!underSkipPath(dir.path, skip.skipPath, *scan.cp)) {
            cut = at;
            break;
        }
    }
    if (cut == chunk.idxEnd) {
        merge.firstHit = result.hits.size();
        merge.dropped = result.counts;
        return merge; // still skipping the same path
    }
    const auto firstKept = std::lower_bound(
            result.dirs.begin(), result.dirs.end(), cut,
            [](const DirCounts &d, size_t offset) { return d.dirOffset < offset; });
    if (firstKept != result.dirs.begin()) {
        const DirCounts &lastDropped = *std::prev(firstKept);
        merge.dropped = lastDropped.after;
        merge.firstHit = lastDropped.hitsAfter;
    }
    skip = result.endSkip;
    return merge;
}

} // namespace veltrano
