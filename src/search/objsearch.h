#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cache/indexscan.h"
#include "search/compare.h"
#include "search/nodescan.h"
#include "search/parallelscan.h"
#include "search/residentcache.h"
#include "util/codepage.h"

namespace veltrano {

// TObjSearch runs one search on a thread of its own: it walks the cache from a start folder,
// scans the index pair of every searchable node, tests every entry against the conditions and
// hands each loaded node, each hit and its own end to its owner.
//
// Hand-offs. Every handler runs through the Synchronizer given to the constructor, and the
// worker waits until it returns: the window passes a function that runs the call on the window
// thread and blocks (QMetaObject::invokeMethod with Qt::BlockingQueuedConnection); none (an
// empty one) runs them in place, as the command line and the server want. While a handler runs,
// it may read CurItem, CurNodeName, CurNodePath, FileCount and FolderCount; at no other time. The order of the hand-offs is the
// walk order, also when several threads scan:
//   OnNode  once per node whose index pair was loaded, before its hits; the counters then hold
//           the totals of the nodes before it.
//   OnHit   once per hit, with the hit in CurItem (Name = full path; a folder hit has Attr 0x10
//           and Size 0) and the counters as they stood when the hit was found.
//   OnHits  instead of OnHit when set: the hits in batches (in order, never across an OnNode),
//           each with its own counters; all hits of a batch are of the current node.
//   OnEnd   exactly once when the walk is over: after a normal finish, a stop, or an error.
// No OnNode, OnHit or OnHits reaches the owner once Terminate has been called.
//
// Lifetime. Set the handlers before starting; do not change them afterwards. Either keep the
// object (Start, then WaitFor or destroy it; the destructor stops and joins, so it must not run
// on the thread that serves the Synchronizer while the worker may wait for it), or hand it to
// Launch, after which it frees itself right after OnEnd returns, as the window wants it.
//
// Thread safety: Terminate and Terminated may be called from any thread (also from a signal
// handler); everything else belongs to the owner's thread or, during a hand-off, to the handler.
class TObjSearch
{
public:
    using Synchronizer = std::function<void(const std::function<void()> &)>;
    using TNotifyEvent = std::function<void(TObjSearch &sender)>;
    struct THit
    {
        TItemData Item;
        int64_t FileCount = 0;
        int64_t FolderCount = 0;
    };
    using THitsEvent = std::function<void(TObjSearch &sender, const std::vector<THit> &hits)>;

    // conds: the rows as CheckConditions left them (keys in UTF-8); the worker keeps its own
    // copy. startFolder: a cache folder (native path ending with '/'). cp: the cache's code page.
    TObjSearch(std::string startFolder, int32_t options, int32_t minHits, const TCompInfos &conds,
               CodePage cp, Synchronizer synchronize);
    ~TObjSearch();
    TObjSearch(const TObjSearch &) = delete;
    TObjSearch &operator=(const TObjSearch &) = delete;

    TNotifyEvent OnHit;
    TNotifyEvent OnNode;
    TNotifyEvent OnEnd;
    THitsEvent OnHits;
    // Batches of OnHits are handed over when they hold this many hits, or when the first of
    // them has waited this long (checked between directories).
    size_t HitBatchSize = 256;
    std::chrono::milliseconds HitBatchInterval {50};
    // Threads that scan a node's directories (1 = the worker alone). Hand-offs stay in walk
    // order whatever the number.
    unsigned ScanThreads = 1;
    // What a search should use where nobody says otherwise: the machine's processors, at most
    // four (past that, reading the lists out of the system's cache no longer gets faster).
    static unsigned DefaultScanThreads();
    // With more than one scan thread: nodes of more entries than this are cut into chunks of
    // about this many entries, which the threads take in turn.
    uint64_t ChunkEntries = 16384;
    // Bytes of a node's entry list that each scanning thread holds at a time.
    size_t WindowBytes = LstWindow::kDefaultCapacity;
    // Where the index pairs are kept between searches (ResidentCache::processWide() in the
    // processes that live long); none: every search reads them from their files.
    ResidentCache *Resident = nullptr;

    void Start();
    void WaitFor();
    static TObjSearch *Launch(std::unique_ptr<TObjSearch> search);

    void Terminate() { m_stop.store(true, std::memory_order_relaxed); }
    bool Terminated() const { return m_stop.load(std::memory_order_relaxed); }

    const TItemData &CurItem() const { return m_curItem; }
    const std::string &CurNodeName() const { return m_curNodeName; } // code-page bytes
    // Cache folder + cache name of the node (the cache name in code-page bytes).
    const std::string &CurNodePath() const { return m_curNodePath; }
    // The cache folder part of CurNodePath (a native path ending with '/').
    const std::string &CurNodeFolder() const { return m_curNodeFolder; }
    int64_t FileCount() const { return m_fileCount; }
    int64_t FolderCount() const { return m_folderCount; }

    const std::string &StartFolder() const { return m_startFolder; }
    int32_t Options() const { return m_options; }
    int32_t MinHits() const { return m_minHits; }
    const CodePage &codePage() const { return m_cp; }
    // The message of the error that ended the walk early; empty when none did. The window
    // shows it nowhere; the command line reports it.
    const std::string &ErrorMessage() const { return m_error; }

    // A node whose index pair was passed over (Missing, Unreadable) or found damaged (Damaged,
    // scanned as far as it holds). The window passes over them without a word, as it always
    // has; the command line names them, so that fewer hits do not go unexplained.
    struct TNodeProblem
    {
        std::string Folder; // cache folder, a native path ending with '/'
        std::string CacheName; // code-page bytes
        PairState State = PairState::Missing;
    };
    // In walk order; complete once OnEnd has been called (read it then, or after WaitFor).
    const std::vector<TNodeProblem> &NodeProblems() const { return m_problems; }

private:
    class DirectSink;
    class ChunkReceiver;
    struct FolderId
    {
        uint64_t device;
        uint64_t inode;
    };

    void execute();
    void collectNodes(const std::string &folder, std::vector<FolderId> &ancestors,
                      std::vector<NodeRef> &nodes);
    NodeScan settings();
    void enterNode(const NodeRef &node);
    void noteProblem(const NodeRef &node, PairState state);
    void searchNode(const NodeRef &node);
    // Scans `chunk` of the node, handing its hits over as they are found.
    void scanDirect(const NodeScan &scan, const ScanChunk &chunk, LstWindow &window, SkipState &skip);
    // `stored`: the record is a copy in a ChunkResult.
    void deliverHit(const NodeScan &scan, uint64_t dirOffset, const unsigned char *entry,
                    size_t nameLength, bool stored, int64_t files, int64_t folders);
    void deliverFields(const NodeScan &scan, uint64_t dirOffset, const EntryFields &fields,
                       int64_t files, int64_t folders);
    void handOff(const TNotifyEvent &handler);
    void flushHits(bool force);
    void endHandOff();

    std::string m_startFolder;
    int32_t m_options;
    int32_t m_minHits;
    TCompInfos m_conds;
    CodePage m_cp;
    Synchronizer m_synchronize;
    bool m_inPlace; // no Synchronizer was given: handlers run on the worker's thread
    std::atomic<bool> m_stop {false};
    std::thread m_thread;

    std::optional<ConditionMatcher> m_matcher;
    PairBuffers m_pair;
    std::shared_ptr<const ResidentPair> m_resident; // the node being scanned, when kept
    bool m_walkWatched = false; // every folder of the walk is watched for changes
    LstWindow m_window; // the worker's own, when it scans alone
    const unsigned char *m_hitDirBuffer = nullptr;
    uint64_t m_hitDirOffset = 0;
    std::string_view m_hitDirPath;
    bool m_dirPathInName = false; // CurItem's name starts with all of m_hitDirPath
    TItemData m_curItem;
    std::string m_curNodeName;
    std::string m_curNodePath;
    std::string m_curNodeFolder;
    int64_t m_fileCount = 0;
    int64_t m_folderCount = 0;
    std::string m_error;
    std::vector<TNodeProblem> m_problems;
    // The hand-off of one hit, made once: at 10 % hits a search hands over half a million.
    std::function<void()> m_hitCall;
    std::vector<THit> m_batch;
    std::chrono::steady_clock::time_point m_batchStart;
};

} // namespace veltrano
