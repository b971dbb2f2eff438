#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "search/nodescan.h"
#include "search/residentcache.h"

namespace veltrano {

// Scans a sequence of nodes on the calling thread plus helper threads. Every node is cut into
// chunks of directory records. Helpers open the next nodes (read their .IDX) as far as
// kNodesInFlight nodes open at once allow (kKeptNodesInFlight with kept pairs), and take the
// open nodes' chunks from the last one back, keeping their hits until their turn. The calling
// thread goes forward through the chunks in walk order: it hands over those a helper has done
// and scans itself, handing its hits over at once, those no helper has taken. Its own chunks
// then cost no storing of hits, and the threads meet only where the helpers have caught up
// with it; when helpers took the chunks in order, the calling thread found each next chunk
// taken, scanned later ones into storage as well, and handed over every hit twice over.
//
// What the owner of a run sees, all on the calling thread and in walk order: `opened` once per
// node whose index pair could be read, then for each of its chunks in order either `deliver`
// (a helper scanned it) or `scanInPlace` (no thread had taken it), then `finished`; or, for a
// node whose index pair could not be read, `skipped` in its place.
class ScanReceiver
{
public:
    virtual ~ScanReceiver() = default;
    virtual void opened(size_t node, const NodeScan &scan) = 0;
    virtual void deliver(size_t node, const NodeScan &scan, const ScanChunk &chunk,
                         ChunkResult &result) = 0;
    // Scans the chunk through `window`, handing its hits over as they are found.
    virtual void scanInPlace(size_t node, const NodeScan &scan, const ScanChunk &chunk,
                             LstWindow &window) = 0;
    virtual void finished(size_t node) = 0;
    virtual void skipped(size_t, PairState) {}
};

class ParallelScanner;
struct ScannerReturn
{
    void operator()(ParallelScanner *scanner) const;
};
using ScannerLease = std::unique_ptr<ParallelScanner, ScannerReturn>;

class ParallelScanner
{
public:
    static constexpr size_t kNodesInFlight = 3;
    // With kept pairs a node open costs no buffers, and many are small enough to be one chunk:
    // with only three in flight, the helpers ran out of work whenever the calling thread was
    // busy handing a node's hits over.
    static constexpr size_t kKeptNodesInFlight = 8;
    // What an idle scanner may keep of the hits' storage of its last search.
    static constexpr size_t kKeptResultBytes = 16 * 1024 * 1024;

    // A scanner with `helpers` helper threads, one kept from an earlier search when one is free.
    // Searches come one after another; a scanner given back keeps its threads and buffers, so
    // that the next search does not start threads and fault in fresh memory, which with many
    // hits cost a fifth of a search. At most two idle scanners are kept.
    static ScannerLease borrow(unsigned helpers);

    struct Job
    {
        const std::vector<NodeRef> *nodes = nullptr;
        NodeScan settings; // matcher, options, stop flag and code page; no buffers
        uint64_t chunkEntries = 8192;
        // Where the nodes' pairs are kept between searches; none: read from the files.
        ResidentCache *resident = nullptr;
        size_t windowBytes = LstWindow::kDefaultCapacity;
    };

    explicit ParallelScanner(unsigned helpers);
    ~ParallelScanner();
    ParallelScanner(const ParallelScanner &) = delete;
    ParallelScanner &operator=(const ParallelScanner &) = delete;

    // Returns when every node is done, or soon after the stop flag is set, and no helper
    // touches the nodes' buffers any more. An exception from a handler ends the run the same
    // way and is passed on.
    void run(const Job &job, ScanReceiver &receiver);

    unsigned helpers() const { return unsigned(m_helpers.size()); }
    // Frees the hits' storage beyond `bytes`.
    void trim(size_t bytes);

private:
    enum class SlotState { Free, Opening, Ready, Failed };
    struct Slot
    {
        SlotState state = SlotState::Free;
        size_t node = 0;
        PairBuffers pair;
        std::shared_ptr<const ResidentPair> resident;
        PairState pairState = PairState::Missing;
        NodeScan scan;
        std::vector<ScanChunk> chunks;
        std::vector<ChunkResult> results;
        std::vector<char> finished;
        // The chunks no thread has taken: the calling thread takes the first of them, helpers
        // the last.
        size_t nextChunk = 0;
        size_t backChunk = 0;
    };
    struct Task
    {
        Slot *slot = nullptr;
        size_t chunk = 0; // SIZE_MAX: open the slot's node
    };

    Slot &slotOf(size_t node) { return m_slots[node % m_inFlight]; }
    bool stopped() const { return m_job->settings.stop->load(std::memory_order_relaxed); }
    // A helper's next task: a node to open, else the last chunk nobody has taken.
    bool claim(Task &task);
    bool claimOpening(Task &task);
    void perform(const Task &task, unsigned part);
    void openNode(Slot &slot);
    // Waits for `ready` (under the lock), opening nodes on the way; false when the run must end
    // first (a stop or a failure).
    template <typename Ready>
    bool awaitHelping(std::unique_lock<std::mutex> &lock, Ready ready);
    void helperLoop(unsigned part);
    void finishRun();

    std::vector<std::thread> m_helpers;
    std::vector<LstWindow> m_windows; // one for each thread, 0 for the calling one
    std::array<Slot, kKeptNodesInFlight> m_slots;
    size_t m_inFlight = kNodesInFlight; // of this run

    std::mutex m_mutex;
    std::condition_variable m_changed; // a task done, a node delivered, a run begun or over
    uint64_t m_generation = 0;
    bool m_quit = false;
    bool m_running = false;
    unsigned m_helpersInRun = 0;
    const Job *m_job = nullptr;
    size_t m_nextToOpen = 0;  // the first node not yet claimed for opening
    size_t m_delivering = 0;  // the node the calling thread hands over; earlier ones are done
    std::exception_ptr m_failure;
};

} // namespace veltrano
