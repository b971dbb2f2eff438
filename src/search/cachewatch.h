#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

namespace veltrano {

// Tells a long-lived process whether anything changed in the cache folders it read, so that a
// search of an unchanged cache need not look at every node's files again. Before a folder's
// files are read it is watched (inotify); every change the system reports there afterwards,
// whoever makes it, moves the epoch on. A change made before a search began has always been
// reported by then: the system queues the report before the renaming or writing call returns.
//
// Only what the system can report is trusted: a folder on a network file system (changed by
// other machines unseen), one the system would not watch, and every folder in a child of
// fork() (which shares the parent's reports) are never watched, and their files are looked at
// every time. Thread-safe.
class CacheWatch
{
public:
    CacheWatch() = default;
    ~CacheWatch();
    CacheWatch(const CacheWatch &) = delete;
    CacheWatch &operator=(const CacheWatch &) = delete;

    // Takes in what the system reported since the last call; a change moves the epoch on, and
    // then every folder must be watched again before it is trusted. The epoch after that.
    uint64_t refresh();
    uint64_t epoch() const;

    // Watches `folder` (again), before its files are read. False when its changes would not be
    // reported.
    bool watch(const std::string &folder);
    // Whether `folder`'s changes are reported since it was last watched in this epoch.
    bool watched(const std::string &folder) const;

    // Every folder unwatched and the epoch moved on; the reports of the system from now on.
    void reset();

private:
    void changedLocked();

    mutable std::mutex m_mutex;
    int m_fd = -1;
    int m_pid = 0; // the process that opened m_fd
    uint64_t m_epoch = 1;
    std::unordered_set<std::string> m_trusted; // watched in this epoch
};

} // namespace veltrano
