#include "search/cachewatch.h"

#include <array>
#include <cerrno>

#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace veltrano {
namespace {

// File systems whose changes other machines make without this system knowing.
bool sharedOverNetwork(const std::string &folder)
{
    struct statfs fs
    { };
    if (::statfs(folder.c_str(), &fs) != 0)
        return true;
    constexpr std::array<unsigned long, 12> kNetworked = {
        0x6969, // NFS
        0x517B, // SMB
        0xFF534D42, // CIFS
        0xFE534D42, // SMB2
        0x65735546, // FUSE (sshfs and its kind)
        0x01021997, // 9P
        0x00C36400, // Ceph
        0x5346414F, // AFS
        0x6B414653, // kAFS
        0x73757245, // Coda
        0x564C, // NCP
        0x01161970, // GFS2
    };
    const unsigned long type = static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul;
    for (const unsigned long networked : kNetworked)
        if (type == networked)
            return true;
    return false;
}

// Every kind of change to the folder's entries and to the folder itself.
constexpr uint32_t kChanges = IN_ATTRIB | IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE
        | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

CacheWatch::~CacheWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

uint64_t CacheWatch::refresh()
{
    std::lock_guard lock(m_mutex);
    if (m_fd < 0)
        return m_epoch; // nothing was watched, so nothing is trusted
    if (m_pid != ::getpid()) {
        changedLocked();
        return m_epoch;
    }
    // What the reports say does not matter: any change to a watched folder, an overflow of the
    // queue, or a folder no longer watched is looked at again by a walk.
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    while (true) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            changed = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // The reports cannot be read: start over with a new queue at the next walk.
        ::close(m_fd);
        m_fd = -1;
        changed = true;
        break;
    }
    if (changed)
        changedLocked();
    return m_epoch;
}

uint64_t CacheWatch::epoch() const
{
    std::lock_guard lock(m_mutex);
    return m_epoch;
}

bool CacheWatch::watch(const std::string &folder)
{
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        m_pid = ::getpid();
        if (m_fd < 0)
            return false;
    }
    if (m_pid != ::getpid() || sharedOverNetwork(folder)
            || ::inotify_add_watch(m_fd, folder.c_str(), kChanges) < 0)
        return false;
    m_trusted.insert(folder);
    return true;
}

bool CacheWatch::watched(const std::string &folder) const
{
    std::lock_guard lock(m_mutex);
    return m_pid == ::getpid() && m_trusted.contains(folder);
}

void CacheWatch::reset()
{
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    changedLocked();
}

void CacheWatch::changedLocked()
{
    ++m_epoch;
    m_trusted.clear();
}

} // namespace veltrano
