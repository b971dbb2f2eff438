#include "engine/nodescan.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "engine/myutils.h"

#include "util/bytereader.h"

namespace veltrano {
namespace {

// soHitNoFind passes over the records whose path holds the hit's folder path. An empty path
// holds nothing, and a match must start on a character boundary: a Big5 trail byte 0x5C is
// no backslash.
bool underSkipPath(std::string_view path, std::string_view skipPath, const CodePage &cp)
{
    return !skipPath.empty() && cp.find(path, skipPath) != std::string_view::npos;
}

class VectorSink : public HitSink
{
public:
    explicit VectorSink(std::vector<ScanHit> &hits)
        : m_hits(hits)
    {
    }
    void hit(const ScanHit &hit) override { m_hits.push_back(hit); }

private:
    std::vector<ScanHit> &m_hits;
};

} // namespace

namespace {

// Reads [offset, offset + length) of the file; the bytes it got.
size_t readRange(int fd, unsigned char *to, size_t offset, size_t length)
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

// Files from this size on are read in parts, one per thread: the copy out of the page cache is
// a good share of a search.
constexpr size_t kSplitReadSize = 512 * 1024;

// Large buffers on huge pages where the system allows them: fewer page faults while the first
// large pair is read, and fewer TLB misses while it is scanned.
constexpr size_t kHugePage = 2 * 1024 * 1024;

unsigned char *allocateBuffer(size_t size)
{
    if (size < kHugePage)
        return static_cast<unsigned char *>(std::malloc(size ? size : 1));
    const size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void *p = std::aligned_alloc(kHugePage, rounded);
    if (p)
        ::madvise(p, rounded, MADV_HUGEPAGE);
    return static_cast<unsigned char *>(p);
}

} // namespace

void PairBuffers::Release::operator()(unsigned char *p) const
{
    std::free(p);
}

bool PairBuffers::readFile(const std::string &path, Buffer &buffer, ParallelScanner *parallel)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        const size_t want = size_t(st.st_size);
        if (buffer.capacity < want) {
            buffer.data.reset(); // the old buffer goes before the new one is taken
            buffer.capacity = 0;
            buffer.data.reset(allocateBuffer(want));
            if (!buffer.data) {
                ::close(fd);
                return false;
            }
            buffer.capacity = want;
        }
        // A file that shrinks meanwhile gives what it still holds, up to the first gap.
        if (parallel && want >= kSplitReadSize) {
            std::atomic<size_t> size {want};
            parallel->runOnAll([&](unsigned part, unsigned parts) {
                const size_t from = want / parts * part;
                const size_t to = part + 1 == parts ? want : want / parts * (part + 1);
                const size_t got = readRange(fd, buffer.data.get() + from, from, to - from);
                if (got < to - from) {
                    size_t seen = size.load();
                    while (from + got < seen && !size.compare_exchange_weak(seen, from + got)) {
                    }
                }
            });
            buffer.size = size.load();
        } else {
            buffer.size = readRange(fd, buffer.data.get(), 0, want);
        }
    }
    ::close(fd);
    return ok;
}

bool PairBuffers::read(const std::string &folder, std::string_view cacheName, const CodePage &cp,
                       ParallelScanner *parallel)
{
    const std::filesystem::path idx = cacheFilePath(folder, cacheName, ".IDX", cp);
    if (idx.empty() || !readFile(idx.string(), m_idx, parallel))
        return false;
    return readFile(cacheFilePath(folder, cacheName, ".LST", cp).string(), m_lst, parallel);
}

NodeScan PairBuffers::scan() const
{
    NodeScan scan;
    scan.idx = m_idx.data.get();
    scan.idxSize = m_idx.size;
    scan.lst = m_lst.data.get();
    scan.lstSize = m_lst.size;
    return scan;
}

void scanRange(const NodeScan &s, size_t idxBegin, size_t idxEnd, SkipState &skip,
               ScanCounts &counts, HitSink &sink, std::vector<DirCounts> *dirLog)
{
    const bool onlyFolderName = s.options & soOnlyFolderName;
    const bool onlyShowFolder = s.options & soOnlyShowFolder;
    const bool hitNum = s.options & soHitNum;
    const bool hitNoFind = s.options & soHitNoFind;
    const bool hitExclusive = s.options & soHitExclusive;
    const ConditionMatcher &matcher = *s.matcher;
    const unsigned char *const lst = s.lst;
    const size_t lstSize = s.lstSize;
    const unsigned char *const limit = lst + lstSize;
    size_t hitCount = 0;

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
        // at least 20 bytes before the end of the file.
        uint64_t pos = dir.lstOffset;
        uint32_t left = dir.count > 0 ? uint32_t(dir.count) : 0;
        int64_t hits = 0;
        while (left != 0 && pos + 19 < lstSize) {
            if (s.stop->load(std::memory_order_relaxed))
                return;
            --left;
            const unsigned char *p = lst + pos;
            const uint32_t entryOffset = uint32_t(pos);
            const uint32_t attr = readU32le(p + 4);
            const size_t length = readU16le(p + 16);
            pos += kLstHeaderSize + length;
            const bool folder = (attr & kAttrDirectory) != 0;
            folder ? ++counts.folders : ++counts.files;
            if (onlyFolderName && !folder)
                continue;
            const size_t available = lstSize - size_t(p - lst) - kLstHeaderSize;
            if (!matcher.matches(p + kLstHeaderSize, std::min(length, available), limit,
                                 readU32le(p), attr, readDoubleLe(p + 8)))
                continue;
            ++hits;
            if (onlyShowFolder && hitNum && hits < s.minHits)
                continue;
            sink.hit(ScanHit {uint32_t(recordOffset), entryOffset, counts.files, counts.folders});
            ++hitCount;
            if (hitNoFind) {
                skip.skipping = true;
                skip.skipPath = dir.path;
            }
            if (onlyShowFolder || hitExclusive)
                break;
        }
        if (dirLog)
            dirLog->push_back(DirCounts {uint32_t(recordOffset), counts, hitCount});
    }
}

std::vector<ScanChunk> splitIntoChunks(const unsigned char *idx, size_t idxSize,
                                       uint64_t entriesPerChunk)
{
    std::vector<ScanChunk> chunks;
    IdxCursor dirs(idx, idxSize);
    DirRecord dir;
    size_t begin = 0;
    uint64_t entries = 0;
    while (dirs.next(dir)) {
        entries += dir.count > 0 ? uint64_t(dir.count) : 0;
        if (entries >= entriesPerChunk) {
            chunks.push_back({begin, dirs.position()});
            begin = dirs.position();
            entries = 0;
        }
    }
    if (begin < idxSize)
        chunks.push_back({begin, idxSize});
    return chunks;
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

ParallelScanner::ParallelScanner(unsigned helpers)
{
    for (unsigned i = 0; i < helpers; ++i)
        m_helpers.emplace_back([this, i] { helperLoop(i + 1); });
}

ParallelScanner::~ParallelScanner()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    for (std::thread &helper : m_helpers)
        helper.join();
}

void ParallelScanner::helperLoop(unsigned part)
{
    uint64_t seen = 0;
    while (true) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_quit || m_generation != seen; });
            if (m_quit)
                return;
            seen = m_generation;
        }
        m_job(part);
        {
            std::lock_guard lock(m_mutex);
            --m_busyHelpers;
        }
        m_done.notify_all();
    }
}

void ParallelScanner::scanChunk(size_t index)
{
    const ScanChunk &chunk = (*m_chunks)[index];
    ChunkResult &result = m_results[index];
    VectorSink sink(result.hits);
    const bool logDirs = (m_scan->options & soHitNoFind) != 0;
    scanRange(*m_scan, chunk.idxBegin, chunk.idxEnd, result.endSkip, result.counts, sink,
              logDirs ? &result.dirs : nullptr);
}

bool ParallelScanner::claimAndScan()
{
    const size_t index = m_next.fetch_add(1);
    if (index >= m_chunks->size())
        return false;
    scanChunk(index);
    {
        std::lock_guard lock(m_mutex);
        m_finished[index].store(true, std::memory_order_release);
    }
    m_done.notify_all();
    return true;
}

void ParallelScanner::runOnAll(const std::function<void(unsigned part, unsigned parts)> &task)
{
    const unsigned parts = unsigned(m_helpers.size()) + 1;
    {
        std::lock_guard lock(m_mutex);
        m_job = [&task, parts](unsigned part) { task(part, parts); };
        m_busyHelpers = parts - 1;
        ++m_generation;
    }
    m_wake.notify_all();
    task(0, parts);
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_busyHelpers == 0; });
}

void ParallelScanner::scan(const NodeScan &scan, const std::vector<ScanChunk> &chunks,
                           const std::function<void(size_t, ChunkResult &)> &deliver)
{
    const size_t n = chunks.size();
    if (m_results.size() < n)
        m_results.resize(n);
    for (size_t i = 0; i < n; ++i) {
        ChunkResult &r = m_results[i];
        r.counts = {};
        r.endSkip = {};
        r.hits.clear();
        r.dirs.clear();
    }
    if (m_finishedCapacity < n) {
        m_finished = std::make_unique<std::atomic<bool>[]>(n);
        m_finishedCapacity = n;
    }
    for (size_t i = 0; i < n; ++i)
        m_finished[i].store(false, std::memory_order_relaxed);
    m_next.store(0);
    {
        std::lock_guard lock(m_mutex);
        m_scan = &scan;
        m_chunks = &chunks;
        m_job = [this](unsigned) {
            while (claimAndScan()) {
            }
        };
        m_busyHelpers = unsigned(m_helpers.size());
        ++m_generation;
    }
    m_wake.notify_all();

    const auto helpersGone = [this] {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_busyHelpers == 0; });
    };
    try {
        for (size_t handed = 0; handed < n;) {
            if (m_finished[handed].load(std::memory_order_acquire)) {
                deliver(handed, m_results[handed]);
                ++handed;
            } else if (!claimAndScan()) {
                std::unique_lock lock(m_mutex);
                m_done.wait(lock, [&] { return m_finished[handed].load(std::memory_order_acquire); });
            }
        }
    } catch (...) {
        m_next.store(n); // no helper takes another chunk
        helpersGone();
        throw;
    }
    helpersGone();
    // The hit lists keep their room for the next node: a search holds at most the hits of its
    // largest node, a fraction of that node's entry list.
}

} // namespace veltrano
