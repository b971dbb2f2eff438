#include "smb/smbtask.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fmt/format.h>

#include "smb/smbclient.h"
#include "util/error.h"

namespace veltrano {
namespace {

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

// A text as one field of a message line.
std::string field(std::string text)
{
    for (char &c : text)
        if (c == '\n' || c == '\t')
            c = ' ';
    return text;
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

class TaskProcess
{
public:
    static void run(int fd, const SmbTask &task, CacheTarget &target, const CollectOptions &options,
            const SmbCollectOptions &smb)
    {
        try {
            SmbClient client(smb.credentials, smb.port, smb.timeoutMs, smb.minProtocol);
            if (task.share.empty())
                openComputer(fd, client, task, options, smb);
            else
                walk(fd, client, task, target, options);
        } catch (const std::exception &e) {
            send(fd, "F\t" + field(sourceOf(task)) + "\t" + field(e.what()) + "\n");
        }
    }

    static std::string sourceOf(const SmbTask &task)
    {
        return task.share.empty() ? "\\\\" + task.computer
                                  : "\\\\" + task.computer + "\\" + task.share;
    }

private:
    static void openComputer(int fd, SmbClient &client, const SmbTask &task,
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

    static void walk(int fd, SmbClient &client, const SmbTask &task, CacheTarget &target,
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

} // namespace

void runSmbTask(int fd, const SmbTask &task, CacheTarget &target, const CollectOptions &options,
        const SmbCollectOptions &smb)
{
    TaskProcess::run(fd, task, target, options, smb);
}

std::string smbTaskSource(const SmbTask &task)
{
    return TaskProcess::sourceOf(task);
}

std::vector<std::string> splitSmbMessage(const std::string &line)
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

} // namespace veltrano
