#include "search/objsearch.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "cache/myutils.h"
#include "util/bytereader.h"
#include "util/shortcopy.h"

namespace veltrano {
namespace {

// A cache folder nested deeper than this is not entered (only a folder link that leads back
// up, or a broken cache, gets there).
constexpr size_t kMaxFolderDepth = 256;

} // namespace

// Hands the hits of the worker's own scan over as they are found.
class TObjSearch::DirectSink : public HitSink
{
public:
    DirectSink(TObjSearch &owner, const NodeScan &scan)
        : m_owner(owner)
        , m_scan(scan)
        , m_baseFiles(owner.m_fileCount)
        , m_baseFolders(owner.m_folderCount)
    {
    }
    void hit(ScanHit &hit, const unsigned char *entry, size_t nameLength) override
    {
        m_owner.deliverHit(m_scan, hit.dirOffset, entry, nameLength, false,
                           m_baseFiles + int64_t(hit.files), m_baseFolders + int64_t(hit.folders));
    }
    void hitFields(ScanHit &hit, const EntryFields &fields) override
    {
        m_owner.deliverFields(m_scan, hit.dirOffset, fields, m_baseFiles + int64_t(hit.files),
                              m_baseFolders + int64_t(hit.folders));
    }
    void idle() override { m_owner.flushHits(false); }

private:
    TObjSearch &m_owner;
    const NodeScan &m_scan;
    int64_t m_baseFiles;
    int64_t m_baseFolders;
};

TObjSearch::TObjSearch(std::string startFolder, int32_t options, int32_t minHits,
                       const TCompInfos &conds, CodePage cp, Synchronizer synchronize)
    : m_startFolder(std::move(startFolder))
    , m_options(options)
    , m_minHits(minHits)
    , m_conds(conds)
    , m_cp(std::move(cp))
    , m_synchronize(std::move(synchronize))
    , m_inPlace(!m_synchronize)
{
    if (m_inPlace)
        m_synchronize = [](const std::function<void()> &call) { call(); };
}

TObjSearch::~TObjSearch()
{
    if (m_thread.joinable()) {
        Terminate();
        m_thread.join();
    }
}

void TObjSearch::Start()
{
    m_thread = std::thread([this] { execute(); });
}

void TObjSearch::WaitFor()
{
    if (m_thread.joinable())
        m_thread.join();
}

unsigned TObjSearch::DefaultScanThreads()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

TObjSearch *TObjSearch::Launch(std::unique_ptr<TObjSearch> search)
{
    TObjSearch *worker = search.release();
    // The thread object is not kept: the worker may be gone before this function returns.
    std::thread([worker] {
        worker->execute();
        delete worker;
    }).detach();
    return worker;
}

// Hands the chunks of the parallel scan over as they come, in walk order.
class TObjSearch::ChunkReceiver : public ScanReceiver
{
public:
    ChunkReceiver(TObjSearch &owner, const std::vector<NodeRef> &nodes)
        : m_owner(owner)
        , m_nodes(nodes)
    {
    }
    void opened(size_t node, const NodeScan &scan) override
    {
        if (scan.damaged)
            m_owner.noteProblem(m_nodes[node], PairState::Damaged);
        m_owner.enterNode(m_nodes[node]);
        m_owner.handOff(m_owner.OnNode);
        m_skip = {};
    }
    void deliver(size_t, const NodeScan &scan, const ScanChunk &chunk, ChunkResult &result) override
    {
        const ChunkMerge merge = mergeChunk(scan, chunk, result, m_skip);
        int64_t files = m_owner.m_fileCount;
        int64_t folders = m_owner.m_folderCount;
        for (size_t i = merge.firstHit; i < result.hits.size() && !m_owner.Terminated(); ++i) {
            const ScanHit &hit = result.hits[i];
            const unsigned char *entry = result.entry(hit);
            m_owner.deliverHit(scan, hit.dirOffset, entry, readU16le(entry + 16), true,
                               files + int64_t(hit.files - merge.dropped.files),
                               folders + int64_t(hit.folders - merge.dropped.folders));
        }
        m_owner.m_fileCount = files + int64_t(result.counts.files - merge.dropped.files);
        m_owner.m_folderCount = folders + int64_t(result.counts.folders - merge.dropped.folders);
        m_owner.flushHits(false);
    }
    void scanInPlace(size_t, const NodeScan &scan, const ScanChunk &chunk, LstWindow &window) override
    {
        m_owner.scanDirect(scan, chunk, window, m_skip);
        m_owner.flushHits(false);
    }
    void finished(size_t) override { m_owner.flushHits(true); }
    void skipped(size_t node, PairState state) override
    {
        m_owner.noteProblem(m_nodes[node], state);
    }

private:
    TObjSearch &m_owner;
    const std::vector<NodeRef> &m_nodes;
    SkipState m_skip;
};

void TObjSearch::execute()
{
    try {
        m_matcher.emplace(m_conds, m_cp);
        m_hitCall = [this] {
            if (!Terminated() && OnHit)
                OnHit(*this);
        };
        // A folder whose node list cannot be read ends the walk there: the nodes before it are
        // still searched, then the error is reported.
        std::vector<NodeRef> nodes;
        std::exception_ptr walkError;
        const uint64_t epoch = Resident ? Resident->beginSearch() : 0;
        const bool known = Resident && Resident->knownWalk(m_startFolder, m_cp, nodes);
        m_walkWatched = Resident != nullptr; // until a folder of the walk cannot be watched
        try {
            std::vector<FolderId> ancestors;
            if (!known)
                collectNodes(m_startFolder, ancestors, nodes);
        } catch (...) {
            walkError = std::current_exception();
        }
        if (ScanThreads > 1) {
            const ScannerLease scanner = ParallelScanner::borrow(ScanThreads - 1);
            ParallelScanner::Job job;
            job.nodes = &nodes;
            job.settings = settings();
            job.chunkEntries = ChunkEntries;
            job.windowBytes = WindowBytes;
            job.resident = Resident;
            ChunkReceiver receiver(*this, nodes);
            scanner->run(job, receiver);
        } else {
            m_window = LstWindow(WindowBytes);
            for (const NodeRef &node : nodes) {
                if (Terminated())
                    break;
                searchNode(node);
            }
        }
        if (walkError && !Terminated())
            std::rethrow_exception(walkError);
        if (Resident && !known && !walkError && !Terminated()) {
            Resident->retainUnder(m_startFolder, nodes, m_cp);
            if (m_walkWatched)
                Resident->rememberWalk(m_startFolder, m_cp, nodes, epoch);
        }
    } catch (const std::exception &e) {
        m_error = *e.what() ? e.what() : "The search ended with an error";
    } catch (...) {
        m_error = "The search ended with an error";
    }
    try {
        flushHits(true);
    } catch (...) {
        // the walk is over either way; the end hand-off must still come
    }
    endHandOff();
}

// The nodes to scan in walk order: a folder's own searchable nodes, then its containers' folders
// one after the other.
void TObjSearch::collectNodes(const std::string &folder, std::vector<FolderId> &ancestors,
                              std::vector<NodeRef> &out)
{
    // A folder link that leads back to a folder of the walk would never end it.
    struct stat st {};
    bool entered = false;
    if (::stat(folder.c_str(), &st) == 0) {
        const FolderId id {uint64_t(st.st_dev), uint64_t(st.st_ino)};
        const bool cycle = std::any_of(ancestors.begin(), ancestors.end(), [&](const FolderId &a) {
            return a.device == id.device && a.inode == id.inode;
        });
        if (cycle || ancestors.size() >= kMaxFolderDepth)
            return;
        ancestors.push_back(id);
        entered = true;
    }

    // Watched before it is read, so that no change after the reading goes unreported.
    if (Resident && !Resident->watchFolder(folder))
        m_walkWatched = false;
    TNodeList nodes;
    ReadNodeList(folder, nodes, false, m_cp);
    for (const TNodeData &node : nodes)
        if (node.has(nkIndexed) && node.cacheOn())
            out.push_back(NodeRef {folder, node.CacheName});
    for (const TNodeData &node : nodes) {
        if (Terminated())
            break;
        if (!node.has(nkContainer))
            continue;
        const std::filesystem::path sub = cacheFilePath(folder, node.CacheName, "", m_cp);
        if (!sub.empty()) // a cache name such as ".." names no sub-folder of this one
            collectNodes(cacheFolder(sub), ancestors, out);
    }
    if (entered)
        ancestors.pop_back();
}

NodeScan TObjSearch::settings()
{
    NodeScan scan;
    scan.matcher = &*m_matcher;
    scan.options = m_options;
    scan.minHits = m_minHits;
    scan.stop = &m_stop;
    scan.cp = &m_cp;
    return scan;
}

void TObjSearch::enterNode(const NodeRef &node)
{
    m_curNodeName = node.cacheName;
    m_curNodeFolder = node.folder;
    m_curNodePath = node.folder + node.cacheName;
    m_hitDirBuffer = nullptr; // the buffers may be refilled in place
}

void TObjSearch::searchNode(const NodeRef &node)
{
    PairState state = PairState::Missing;
    m_resident.reset();
    if (Resident) {
        ResidentCache::Lookup kept = Resident->get(node.folder, node.cacheName, m_cp);
        state = kept.state;
        m_resident = std::move(kept.pair);
    }
    if (!m_resident && (!Resident || isLoaded(state)))
        state = m_pair.read(node.folder, node.cacheName, m_cp);
    if (state != PairState::Whole)
        noteProblem(node, state);
    if (!isLoaded(state))
        return;
    enterNode(node);
    handOff(OnNode);

    const NodeScan scan = m_resident ? m_resident->scan(settings()) : m_pair.scan(settings());
    SkipState skip;
    scanDirect(scan, ScanChunk {0, scan.idxSize}, m_window, skip);
    flushHits(true);
}

void TObjSearch::scanDirect(const NodeScan &scan, const ScanChunk &chunk, LstWindow &window,
                            SkipState &skip)
{
    DirectSink sink(*this, scan);
    const int64_t baseFiles = m_fileCount;
    const int64_t baseFolders = m_folderCount;
    ScanCounts counts;
    scanChunkInto(scan, chunk, window, skip, counts, sink);
    m_fileCount = baseFiles + int64_t(counts.files);
    m_folderCount = baseFolders + int64_t(counts.folders);
}

void TObjSearch::noteProblem(const NodeRef &node, PairState state)
{
    m_problems.push_back(TNodeProblem {node.folder, node.cacheName, state});
}

void TObjSearch::deliverHit(const NodeScan &scan, uint64_t dirOffset, const unsigned char *entry,
                            size_t nameLength, bool stored, int64_t files, int64_t folders)
{
    const unsigned char *p = entry;
    // A name kept in columns is its text and one NUL (unless cut to the record's length field):
    // its end need not be looked for, which at many hits was a call per hit.
    const bool keptName =
            scan.resident && nameLength != 0 && p[kLstHeaderSize + nameLength - 1] == 0;
    const std::string_view name = keptName
            ? std::string_view(reinterpret_cast<const char *>(p + kLstHeaderSize), nameLength - 1)
            : readText(p + kLstHeaderSize, nameLength);
    deliverFields(scan, dirOffset,
                  EntryFields {readU32le(p), readU32le(p + 4), readDoubleLe(p + 8),
                               reinterpret_cast<const unsigned char *>(name.data()), name.size(),
                               stored},
                  files, folders);
}

void TObjSearch::deliverFields(const NodeScan &scan, uint64_t dirOffset, const EntryFields &fields,
                               int64_t files, int64_t folders)
{
    if (Terminated())
        return;
    m_fileCount = files;
    m_folderCount = folders;

    // Hits come in runs from one directory; its record is read once per run.
    if (dirOffset != m_hitDirOffset || scan.idx != m_hitDirBuffer) {
        IdxCursor dirs(scan.idx + dirOffset, scan.idxSize - dirOffset);
        DirRecord dir;
        dirs.next(dir);
        m_hitDirPath = dir.path;
        m_hitDirOffset = dirOffset;
        m_hitDirBuffer = scan.idx;
        m_dirPathInName = false;
    }
    const std::string_view name(reinterpret_cast<const char *>(fields.name), fields.nameLength);
    m_curItem.Time = fields.time;
    if (m_options & soOnlyShowFolder) {
        // The folder is the hit: its path without the closing backslash.
        std::string_view path = m_hitDirPath;
        if (!path.empty() && m_cp.rfindChar(path, '\\') == path.size() - 1)
            path.remove_suffix(1);
        m_curItem.Size = 0;
        m_curItem.Attr = kAttrDirectory;
        setItemName(m_curItem, path, {}, m_cp);
    } else {
        m_curItem.Size = fields.size;
        m_curItem.Attr = fields.attr;
        // The directory's path stays in place from one hit of its run to the next; only a
        // name that would not fit whole needs the cut at a character's end.
        constexpr size_t room = sizeof m_curItem.Name - 1;
        const size_t whole = m_hitDirPath.size() + name.size();
        if (m_dirPathInName && whole <= room) {
            char *to = m_curItem.Name + m_hitDirPath.size();
            // Past the NUL, Name holds what earlier hits left there anyway.
            if (fields.readAhead && name.size() <= kNameReadAhead
                && m_hitDirPath.size() + kNameReadAhead <= room)
                std::memcpy(to, name.data(), kNameReadAhead);
            else
                copyShort(to, name.data(), name.size());
            m_curItem.Name[whole] = '\0';
        } else {
            setItemName(m_curItem, m_hitDirPath, name, m_cp);
            m_dirPathInName = whole <= room;
        }
    }

    if (!OnHits) {
        if (m_inPlace) { // the calls per hit are most of a hand-off's cost
            if (OnHit)
                OnHit(*this);
        } else if (OnHit) {
            m_synchronize(m_hitCall);
        }
        return;
    }
    if (m_batch.empty())
        m_batchStart = std::chrono::steady_clock::now();
    m_batch.push_back(THit {m_curItem, files, folders});
    if (m_batch.size() >= HitBatchSize)
        flushHits(true);
}

void TObjSearch::flushHits(bool force)
{
    if (m_batch.empty())
        return;
    if (!force && std::chrono::steady_clock::now() - m_batchStart < HitBatchInterval)
        return;
    if (!Terminated() && OnHits) {
        m_synchronize([this] {
            if (!Terminated() && OnHits)
                OnHits(*this, m_batch);
        });
    }
    m_batch.clear();
}

void TObjSearch::handOff(const TNotifyEvent &handler)
{
    if (Terminated() || !handler)
        return;
    m_synchronize([this, &handler] {
        if (!Terminated() && handler)
            handler(*this);
    });
}

void TObjSearch::endHandOff()
{
    try {
        m_synchronize([this] {
            if (!OnEnd)
                return;
            // Cleared before the call, so that nothing can run it a second time.
            const TNotifyEvent handler = std::move(OnEnd);
            OnEnd = nullptr;
            handler(*this);
        });
    } catch (...) {
        // nobody is left to tell
    }
}

} // namespace veltrano
