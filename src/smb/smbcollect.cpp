#include "smb/smbcollect.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "smb/smbtask.h"

namespace veltrano {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the tasks in child processes, at most `jobs` at once, on the calling thread: it starts
// them, reads what they say, queues the shares a computer task names and keeps the totals.
class Collection
{
public:
    Collection(CacheTarget &target, const CollectOptions &options, const SmbCollectOptions &smb,
            const std::function<void(const SmbProgress &)> &progress)
        : m_target(target)
        , m_options(options)
        , m_smb(smb)
        , m_progress(progress)
        , m_started(Clock::now())
    { }

    SmbCollectReport run(const std::vector<SmbSource> &sources)
    {
        for (const SmbSource &source : sources) {
            auto same = std::find_if(m_queue.begin(), m_queue.end(), [&](const SmbTask &t) {
                return strcasecmp(t.computer.c_str(), source.computer.c_str()) == 0;
            });
            if (same == m_queue.end()) {
                m_queue.push_back({source.computer, {}, false, {}, {}});
                same = m_queue.end() - 1;
            }
            if (source.share.empty())
                same->wholeComputer = true;
            else if (std::find(same->shares.begin(), same->shares.end(), source.share)
                    == same->shares.end())
                same->shares.push_back(source.share);
        }
        m_report.computers = m_queue.size();
        const size_t jobs = std::max(1u, std::min<unsigned>(m_smb.jobs, 64));
        while (!m_queue.empty() || !m_running.empty()) {
            while (!m_queue.empty() && m_running.size() < jobs) {
                start(std::move(m_queue.front()));
                m_queue.pop_front();
            }
            serve();
        }
        report(true);
        return std::move(m_report);
    }

private:
    struct Running
    {
        pid_t pid;
        int fd;
        SmbTask task;
        std::string pending; // a line not yet whole
        size_t folders = 0, entries = 0;
        bool sharesLeftKnown = false;
        bool reported = false; // the task said how it ended
    };

    void start(SmbTask task)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            fail(smbTaskSource(task), std::strerror(errno));
            return;
        }
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            runSmbTask(fds[1], task, m_target, m_options, m_smb);
            ::close(fds[1]);
            ::_exit(0);
        }
        ::close(fds[1]);
        if (pid < 0) {
            ::close(fds[0]);
            fail(smbTaskSource(task), std::strerror(errno));
            return;
        }
        if (!task.share.empty())
            ++m_sharesOf[task.computer];
        m_running.push_back({pid, fds[0], std::move(task)});
    }

    // Waits for what the readers say and takes it in; reaps those that are done.
    void serve()
    {
        std::vector<pollfd> fds;
        for (const Running &r : m_running)
            fds.push_back({r.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 250) < 0 && errno != EINTR)
            return;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Running &r = m_running[i];
            char buffer[8192];
            const ssize_t n = ::read(r.fd, buffer, sizeof buffer);
            if (n > 0) {
                r.pending.append(buffer, size_t(n));
                size_t end;
                while ((end = r.pending.find('\n')) != std::string::npos) {
                    take(r, splitSmbMessage(r.pending.substr(0, end)));
                    r.pending.erase(0, end + 1);
                }
            } else if (n == 0 || errno != EINTR) {
                r.fd = -1 - r.fd; // marks the end; reaped below
            }
        }
        for (auto it = m_running.begin(); it != m_running.end();) {
            if (it->fd >= 0) {
                ++it;
                continue;
            }
            ::close(-1 - it->fd);
            int status = 0;
            ::waitpid(it->pid, &status, 0);
            if (!it->reported)
                fail(smbTaskSource(it->task),
                        WIFSIGNALED(status)
                                ? fmt::format("the reader stopped (signal {})", WTERMSIG(status))
                                : std::string("the reader stopped"));
            const SmbTask task = std::move(it->task);
            it = m_running.erase(it);
            finished(task);
        }
    }

    void take(Running &r, const std::vector<std::string> &f)
    {
        const auto number = [&](size_t i) {
            return i < f.size() ? size_t(std::strtoull(f[i].c_str(), nullptr, 10)) : 0;
        };
        switch (f[0].empty() ? ' ' : f[0][0]) {
        case 'W':
            if (m_options.warn && f.size() > 1)
                m_options.warn(f[1]);
            break;
        case 'P':
            m_folders += number(1) - r.folders;
            m_entries += number(2) - r.entries;
            r.folders = number(1);
            r.entries = number(2);
            report();
            break;
        case 'T':
            if (f.size() > 1)
                m_queue.push_back(
                        {r.task.computer, {}, false, f[1], f.size() > 2 ? f[2] : std::string()});
            break;
        case 'F':
            fail(f.size() > 1 ? f[1] : smbTaskSource(r.task), f.size() > 2 ? f[2] : std::string());
            r.reported = true;
            break;
        case 'C':
            r.reported = true;
            break;
        case 'S': {
            CollectStats stats;
            stats.folders = number(1);
            stats.entries = number(2);
            stats.warnings = number(3);
            stats.unwritableNames = number(4);
            stats.shares = number(5);
            m_report.stats += stats;
            m_folders += stats.folders - r.folders;
            m_entries += stats.entries - r.entries;
            r.folders = stats.folders;
            r.entries = stats.entries;
            r.reported = true;
            break;
        }
        default:
            break;
        }
    }

    // A computer is done when its own task and every share task it gave are.
    void finished(const SmbTask &task)
    {
        if (!task.share.empty() && --m_sharesOf[task.computer] > 0)
            return;
        const bool sharesQueued =
                std::any_of(m_queue.begin(), m_queue.end(), [&](const SmbTask &t) {
                    return t.computer == task.computer;
                });
        const bool sharesRunning =
                std::any_of(m_running.begin(), m_running.end(), [&](const Running &r) {
                    return r.task.computer == task.computer;
                });
        if (!sharesQueued && !sharesRunning) {
            ++m_computersDone;
            report(true);
        }
    }

    void fail(const std::string &source, const std::string &reason)
    {
        m_report.failures.push_back({source, reason});
    }

    void report(bool force = false)
    {
        if (!m_progress)
            return;
        const auto now = Clock::now();
        if (!force && now - m_lastReport < std::chrono::milliseconds(200))
            return;
        m_lastReport = now;
        SmbProgress p;
        p.computersDone = m_computersDone;
        p.computers = m_report.computers;
        p.folders = m_folders;
        p.entries = m_entries;
        p.seconds = std::chrono::duration<double>(now - m_started).count();
        m_progress(p);
    }

    CacheTarget &m_target;
    const CollectOptions &m_options;
    const SmbCollectOptions &m_smb;
    const std::function<void(const SmbProgress &)> &m_progress;
    const Clock::time_point m_started;

    std::deque<SmbTask> m_queue;
    std::vector<Running> m_running;
    std::map<std::string, size_t> m_sharesOf;
    SmbCollectReport m_report;
    Clock::time_point m_lastReport{};
    size_t m_computersDone = 0;
    size_t m_folders = 0;
    size_t m_entries = 0;
};

} // namespace

SmbCollectReport collectSmb(const std::vector<SmbSource> &sources, CacheTarget &target,
        const CollectOptions &options, const SmbCollectOptions &smb,
        const std::function<void(const SmbProgress &)> &progress)
{
    Collection collection(target, options, smb, progress);
    return collection.run(sources);
}

} // namespace veltrano
