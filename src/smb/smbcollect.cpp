#include "smb/smbcollect.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "smb/smbclient.h"
#include "util/error.h"

namespace veltrano {
namespace {

using Clock = std::chrono::steady_clock;

bool connectWithin(const addrinfo &address, int timeoutMs, std::string &reason)
{
    const int fd = ::socket(address.ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    bool up = ::connect(fd, address.ai_addr, address.ai_addrlen) == 0;
    if (!up && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        int error = 0;
        socklen_t length = sizeof error;
        if (ready == 0)
            reason = "no answer within " + std::to_string(timeoutMs / 1000.0).substr(0, 4) + " s";
        else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            reason = std::strerror(errno);
        else if (error)
            reason = smbErrorText(error);
        else
            up = true;
    } else if (!up) {
        reason = smbErrorText(errno);
    }
    ::close(fd);
    return up;
}

// One unit of work: a computer to look at (and list the shares of), or a share to walk.
struct Task
{
    std::string computer;
    std::vector<std::string> shares; // for a computer task: the shares named; empty = all
    bool wholeComputer = false;
    std::string share; // for a share task
    std::string address;
};

// A line of the pipe from a reader process: a kind letter and tab-separated fields.
std::string field(std::string text)
{
    for (char &c : text)
        if (c == '\n' || c == '\t')
            c = ' ';
    return text;
}

std::vector<std::string> splitFields(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

// Writes the whole text to the pipe; a parent that is gone takes nothing more.
void send(int fd, const std::string &line)
{
    const char *p = line.data();
    size_t left = line.size();
    while (left) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= size_t(n);
    }
}

// The library behind SMB keeps state of its own per process that two threads cannot share, so
// each task runs in a process of its own: it reads its computer or share, stores what it read
// (the cache's node lists are locked between processes) and tells the parent over a pipe.
// Messages: W warning; P folders entries (running totals of the walk); T share address (a share
// to walk, from a computer task); F source reason; S folders entries warnings names shares;
// C (the computer task is over). A process that ends without saying how has failed.
class TaskProcess
{
public:
    static void run(int fd, const Task &task, CacheTarget &target, const CollectOptions &options,
            const SmbCollectOptions &smb)
    {
        try {
            SmbClient client(smb.credentials, smb.port, smb.timeoutMs);
            if (task.share.empty())
                openComputer(fd, client, task, options, smb);
            else
                walk(fd, client, task, target, options);
        } catch (const std::exception &e) {
            send(fd, "F\t" + field(sourceOf(task)) + "\t" + field(e.what()) + "\n");
        }
    }

    static std::string sourceOf(const Task &task)
    {
        return task.share.empty() ? "\\\\" + task.computer
                                  : "\\\\" + task.computer + "\\" + task.share;
    }

private:
    static void openComputer(int fd, SmbClient &client, const Task &task,
            const CollectOptions &options, const SmbCollectOptions &smb)
    {
        std::string reason;
        if (!smbServerAnswers(task.computer, smb.port, smb.timeoutMs, reason)) {
            send(fd, "F\t" + field(sourceOf(task)) + "\t" + field(reason) + "\n");
            return;
        }
        std::vector<std::string> shares = task.shares;
        if (task.wholeComputer) {
            try {
                for (std::string &share : client.listShares(task.computer, smb.hidden))
                    if (std::find(shares.begin(), shares.end(), share) == shares.end())
                        shares.push_back(std::move(share));
            } catch (const Error &e) {
                send(fd,
                        "F\t" + field(sourceOf(task))
                                + "\tcannot list the shares: " + field(e.what()) + "\n");
                return;
            }
        }
        const std::string address =
                options.resolveAddresses ? resolveIpv4(task.computer) : std::string();
        for (const std::string &share : shares)
            send(fd, "T\t" + field(share) + "\t" + address + "\n");
        send(fd, "C\n");
    }

    static void walk(int fd, SmbClient &client, const Task &task, CacheTarget &target,
            const CollectOptions &base)
    {
        CollectOptions options = base;
        options.warn = [fd](const std::string &text) {
            send(fd, "W\t" + field(text) + "\n");
        };
        options.progress = [fd](size_t folders, size_t entries) {
            send(fd, fmt::format("P\t{}\t{}\n", folders, entries));
        };
        CollectStats stats;
        const CodePage &cp = options.codePage;
        const std::optional<std::string> computer = cp.fromUtf8(task.computer);
        const std::optional<std::string> share = cp.fromUtf8(task.share);
        if (!computer || !share) {
            send(fd,
                    "F\t" + field(sourceOf(task)) + "\tthe name cannot be written in code page "
                            + cp.name() + "\n");
            return;
        }
        IndexPairWriter pair;
        std::string error;
        const std::unique_ptr<FolderSource> folders = client.share(task.computer, task.share);
        if (!walkShare(*folders, "\\\\" + *computer + "\\" + *share + "\\", options, stats, pair,
                    error)) {
            send(fd, "F\t" + field(sourceOf(task)) + "\t" + field(error) + "\n");
        } else {
            target.storeShare(task.computer, task.share, task.address, pair);
            stats.shares = 1;
        }
        send(fd,
                fmt::format("S\t{}\t{}\t{}\t{}\t{}\n", stats.folders, stats.entries, stats.warnings,
                        stats.unwritableNames, stats.shares));
    }
};

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
            auto same = std::find_if(m_queue.begin(), m_queue.end(), [&](const Task &t) {
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
        Task task;
        std::string pending; // a line not yet whole
        size_t folders = 0, entries = 0;
        bool sharesLeftKnown = false;
        bool reported = false; // the task said how it ended
    };

    void start(Task task)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            fail(TaskProcess::sourceOf(task), std::strerror(errno));
            return;
        }
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            TaskProcess::run(fds[1], task, m_target, m_options, m_smb);
            ::close(fds[1]);
            ::_exit(0);
        }
        ::close(fds[1]);
        if (pid < 0) {
            ::close(fds[0]);
            fail(TaskProcess::sourceOf(task), std::strerror(errno));
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
                    take(r, splitFields(r.pending.substr(0, end)));
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
                fail(TaskProcess::sourceOf(it->task),
                        WIFSIGNALED(status)
                                ? fmt::format("the reader stopped (signal {})", WTERMSIG(status))
                                : std::string("the reader stopped"));
            const Task task = std::move(it->task);
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
            fail(f.size() > 1 ? f[1] : TaskProcess::sourceOf(r.task),
                    f.size() > 2 ? f[2] : std::string());
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
    void finished(const Task &task)
    {
        if (!task.share.empty() && --m_sharesOf[task.computer] > 0)
            return;
        const bool sharesQueued = std::any_of(m_queue.begin(), m_queue.end(), [&](const Task &t) {
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

    std::deque<Task> m_queue;
    std::vector<Running> m_running;
    std::map<std::string, size_t> m_sharesOf;
    SmbCollectReport m_report;
    Clock::time_point m_lastReport{};
    size_t m_computersDone = 0;
    size_t m_folders = 0;
    size_t m_entries = 0;
};

} // namespace

bool smbServerAnswers(const std::string &host, uint16_t port, int timeoutMs, std::string &reason)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    // A name the system cannot look up may still be a NetBIOS name the SMB library finds; its
    // own time-out then bounds the wait.
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return true;
    bool up = false;
    for (const uint16_t p : port ? std::vector<uint16_t>{port} : std::vector<uint16_t>{445, 139}) {
        for (addrinfo *a = found; a && !up; a = a->ai_next) {
            if (a->ai_family == AF_INET)
                reinterpret_cast<sockaddr_in *>(a->ai_addr)->sin_port = htons(p);
            else if (a->ai_family == AF_INET6)
                reinterpret_cast<sockaddr_in6 *>(a->ai_addr)->sin6_port = htons(p);
            else
                continue;
            up = connectWithin(*a, timeoutMs, reason);
        }
        if (up)
            break;
    }
    freeaddrinfo(found);
    return up;
}

SmbCollectReport collectSmb(const std::vector<SmbSource> &sources, CacheTarget &target,
        const CollectOptions &options, const SmbCollectOptions &smb,
        const std::function<void(const SmbProgress &)> &progress)
{
    Collection collection(target, options, smb, progress);
    return collection.run(sources);
}

} // namespace veltrano
