#include "search/parallelscan.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>

namespace veltrano {
namespace {

constexpr size_t kOpenTask = SIZE_MAX;
constexpr size_t kIdleScanners = 2;
constexpr uint64_t kKeptChunkFactor = 8;

// The idle scanners. Never destroyed: their helpers may still sleep when the program ends.
struct Pool
{
    std::mutex mutex;
    std::vector<std::unique_ptr<ParallelScanner>> idle;
};

Pool &pool()
{
    static Pool *const p = [] {
        auto *created = new Pool;
        // A child of fork() has none of the helper threads: it starts with an empty pool, and
        // the lock is held across the fork so that the child never finds it taken.
        ::pthread_atfork([] { pool().mutex.lock(); }, [] { pool().mutex.unlock(); },
                         [] {
                             Pool &child = pool();
                             for (auto &scanner : child.idle)
                                 (void)scanner.release(); // its threads are the parent's
                             child.idle.clear();
                             child.mutex.unlock();
                         });
        return created;
    }();
    return *p;
}

} // namespace

ScannerLease ParallelScanner::borrow(unsigned helpers)
{
    Pool &p = pool();
    {
        std::lock_guard lock(p.mutex);
        for (auto it = p.idle.begin(); it != p.idle.end(); ++it) {
            if ((*it)->helpers() == helpers) {
                ScannerLease lease((*it).release());
                p.idle.erase(it);
                return lease;
            }
        }
    }
    return ScannerLease(new ParallelScanner(helpers));
}

void ScannerReturn::operator()(ParallelScanner *scanner) const
{
    std::unique_ptr<ParallelScanner> owned(scanner);
    owned->trim(ParallelScanner::kKeptResultBytes);
    Pool &p = pool();
    std::lock_guard lock(p.mutex);
    if (p.idle.size() < kIdleScanners)
        p.idle.push_back(std::move(owned));
    // else: owned goes, with its threads
}

void ParallelScanner::trim(size_t bytes)
{
    size_t kept = 0;
    for (Slot &slot : m_slots) {
        for (const ChunkResult &r : slot.results)
            kept += r.hits.capacity() * sizeof(ScanHit) + r.entries.capacity()
                    + r.dirs.capacity() * sizeof(DirCounts);
    }
    if (kept <= bytes)
        return;
    for (Slot &slot : m_slots) {
        slot.results.clear();
        slot.results.shrink_to_fit();
    }
}

ParallelScanner::ParallelScanner(unsigned helpers)
    : m_windows(helpers + 1)
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
    m_changed.notify_all();
    for (std::thread &helper : m_helpers)
        helper.join();
}

bool ParallelScanner::claim(Task &task)
{
    if (claimOpening(task))
        return true;
    if (!m_running || m_failure || stopped())
        return false;
    // The last chunk nobody has taken: as far as possible from the calling thread's.
    for (size_t node = m_nextToOpen; node-- > m_delivering;) {
        Slot &slot = slotOf(node);
        if (slot.state == SlotState::Ready && slot.nextChunk < slot.backChunk) {
            task = Task {&slot, --slot.backChunk};
            return true;
        }
    }
    return false;
}

bool ParallelScanner::claimOpening(Task &task)
{
    if (!m_running || m_failure || stopped())
        return false;
    const std::vector<NodeRef> &nodes = *m_job->nodes;
    if (m_nextToOpen < nodes.size() && m_nextToOpen < m_delivering + m_inFlight) {
        Slot &slot = slotOf(m_nextToOpen);
        slot.state = SlotState::Opening;
        slot.node = m_nextToOpen++;
        task = Task {&slot, kOpenTask};
        return true;
    }
    return false;
}

void ParallelScanner::openNode(Slot &slot)
{
    const NodeRef &ref = (*m_job->nodes)[slot.node];
    slot.resident.reset();
    if (m_job->resident) {
        ResidentCache::Lookup kept =
                m_job->resident->get(ref.folder, ref.cacheName, *m_job->settings.cp);
        slot.pairState = kept.state;
        slot.resident = std::move(kept.pair);
    }
    if (!slot.resident && (!m_job->resident || isLoaded(slot.pairState)))
        slot.pairState = slot.pair.read(ref.folder, ref.cacheName, *m_job->settings.cp);
    const bool ok = isLoaded(slot.pairState);
    if (ok) {
        slot.scan = slot.resident ? slot.resident->scan(m_job->settings)
                                  : slot.pair.scan(m_job->settings);
        // A kept pair is scanned several times faster than one read from its files: its chunks
        // are made larger, or handing them between the threads would take longer than the scan.
        const uint64_t chunkEntries =
                std::max<uint64_t>(m_job->chunkEntries, 1) * (slot.resident ? kKeptChunkFactor : 1);
        slot.chunks = slot.resident && slot.resident->columns()
                ? slot.resident->chunks(chunkEntries)
                : splitIntoChunks(slot.scan.idx, slot.scan.idxSize, chunkEntries);
        // The results keep their room from node to node: a run holds at most the hits of its
        // largest nodes, a fraction of their entry lists.
        if (slot.results.size() < slot.chunks.size())
            slot.results.resize(slot.chunks.size());
        slot.finished.assign(slot.chunks.size(), 0);
        slot.nextChunk = 0;
        slot.backChunk = slot.chunks.size();
    }
    std::lock_guard lock(m_mutex);
    slot.state = ok ? SlotState::Ready : SlotState::Failed;
}

void ParallelScanner::perform(const Task &task, unsigned part)
{
    try {
        if (task.chunk == kOpenTask) {
            openNode(*task.slot);
        } else {
            Slot &slot = *task.slot;
            scanChunk(slot.scan, slot.chunks[task.chunk], m_windows[part], slot.results[task.chunk]);
            std::lock_guard lock(m_mutex);
            slot.finished[task.chunk] = 1;
        }
    } catch (...) {
        std::lock_guard lock(m_mutex);
        if (!m_failure)
            m_failure = std::current_exception();
        if (task.chunk == kOpenTask)
            task.slot->state = SlotState::Failed;
    }
    m_changed.notify_all();
}

template <typename Ready>
bool ParallelScanner::awaitHelping(std::unique_lock<std::mutex> &lock, Ready ready)
{
    while (!ready()) {
        if (m_failure || stopped())
            return false;
        // Only nodes to open: a chunk taken here would keep the one awaited from being handed
        // over until it is done.
        Task task;
        if (claimOpening(task)) {
            lock.unlock();
            perform(task, 0);
            lock.lock();
        } else if (!stopped()) {
            // What we wait for is in another thread's hands, which will say when it is done.
            m_changed.wait(lock);
        }
    }
    return true;
}

void ParallelScanner::run(const Job &job, ScanReceiver &receiver)
{
    {
        std::lock_guard lock(m_mutex);
        m_job = &job;
        m_inFlight = job.resident ? kKeptNodesInFlight : kNodesInFlight;
        m_nextToOpen = 0;
        m_delivering = 0;
        m_failure = nullptr;
        for (Slot &slot : m_slots)
            slot.state = SlotState::Free;
        for (LstWindow &window : m_windows)
            if (window.capacity() != job.windowBytes)
                window = LstWindow(job.windowBytes);
        m_running = true;
        m_helpersInRun = unsigned(m_helpers.size());
        ++m_generation;
    }
    m_changed.notify_all();

    try {
        const size_t count = job.nodes->size();
        for (size_t node = 0; node < count; ++node) {
            Slot &slot = slotOf(node);
            std::unique_lock lock(m_mutex);
            if (!awaitHelping(lock, [&] {
                    return m_nextToOpen > node && slot.node == node
                           && (slot.state == SlotState::Ready || slot.state == SlotState::Failed);
                }))
                break;
            if (slot.state == SlotState::Ready) {
                lock.unlock();
                receiver.opened(node, slot.scan);
                for (size_t i = 0; i < slot.chunks.size(); ++i) {
                    lock.lock();
                    if (slot.nextChunk == i && i < slot.backChunk) {
                        ++slot.nextChunk;
                        lock.unlock();
                        receiver.scanInPlace(node, slot.scan, slot.chunks[i], m_windows[0]);
                        continue;
                    }
                    if (!awaitHelping(lock, [&] { return slot.finished[i] != 0; }))
                        break;
                    lock.unlock();
                    receiver.deliver(node, slot.scan, slot.chunks[i], slot.results[i]);
                }
                if (!lock.owns_lock())
                    lock.lock();
                if (m_failure || stopped())
                    break;
                lock.unlock();
                receiver.finished(node);
                lock.lock();
            } else {
                lock.unlock();
                receiver.skipped(node, slot.pairState);
                lock.lock();
            }
            slot.state = SlotState::Free;
            ++m_delivering;
            lock.unlock();
            m_changed.notify_all();
        }
    } catch (...) {
        finishRun();
        throw;
    }
    finishRun();
    if (m_failure)
        std::rethrow_exception(m_failure);
}

void ParallelScanner::finishRun()
{
    std::unique_lock lock(m_mutex);
    m_running = false;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_helpersInRun == 0; });
    m_job = nullptr;
    // An idle scanner holds no file open: the cache may be replaced meanwhile.
    for (LstWindow &window : m_windows)
        window.detach();
    for (Slot &slot : m_slots) {
        slot.pair.close();
        slot.resident.reset(); // a replaced pair's memory goes with the last search that used it
    }
}

void ParallelScanner::helperLoop(unsigned part)
{
    uint64_t seen = 0;
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [&] { return m_quit || m_generation != seen; });
        if (m_quit)
            return;
        seen = m_generation;
        while (m_running) {
            Task task;
            if (claim(task)) {
                lock.unlock();
                perform(task, part);
                lock.lock();
            } else {
                m_changed.wait(lock);
            }
        }
        --m_helpersInRun;
        m_changed.notify_all();
    }
}

} // namespace veltrano
