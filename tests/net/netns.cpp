#include "netns.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace veltrano::test {

bool runCommand(const std::string &command, std::string &failure)
{
    FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        failure = command + ": cannot start";
        return false;
    }
    std::string output;
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    int status = ::pclose(pipe);
    if (status == 0)
        return true;
    failure = command + ": " + (output.empty() ? "failed" : output);
    return false;
}

namespace {

constexpr std::string_view kPrefix = "vltr-icmp-";

// Namespaces left by a test process that died before it could delete them: their names carry
// the process id, and only those of processes that no longer exist are removed.
void removeAbandonedNamespaces()
{
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/var/run/netns", ec)) {
        std::string name = entry.path().filename().string();
        if (!name.starts_with(kPrefix))
            continue;
        pid_t pid = pid_t(std::atoi(name.c_str() + kPrefix.size()));
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {
            std::string ignored;
            runCommand("ip netns delete " + name, ignored);
        }
    }
}

} // namespace

std::unique_ptr<NetNamespace> NetNamespace::create(std::string &whyNot)
{
    static std::atomic<int> counter{0};
    if (counter == 0)
        removeAbandonedNamespaces();
    std::string name =
            std::string(kPrefix) + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    if (!runCommand("ip netns add " + name, whyNot))
        return nullptr;
    std::unique_ptr<NetNamespace> ns(new NetNamespace(name));
    if (!ns->ip("link set lo up", whyNot))
        return nullptr;
    return ns;
}

NetNamespace::NetNamespace(std::string name)
    : m_name(std::move(name))
{ }

NetNamespace::~NetNamespace()
{
    std::string ignored;
    runCommand("ip netns delete " + m_name, ignored);
}

bool NetNamespace::ip(const std::string &args, std::string &failure) const
{
    return runCommand("ip -n " + m_name + " " + args, failure);
}

bool NetNamespace::sysctl(
        const std::string &key, const std::string &value, std::string &failure) const
{
    // Written through /proc rather than sysctl(8), which the machine may lack; a process
    // started by `ip netns exec` sees the namespace's own values there.
    std::string file = "/proc/sys/" + key;
    std::replace(file.begin(), file.end(), '.', '/');
    return runCommand(
            "ip netns exec " + m_name + " sh -c 'echo \"" + value + "\" > " + file + "'", failure);
}

bool NetNamespace::runInside(const std::function<void()> &fn) const
{
    bool entered = false;
    std::thread thread([&] {
        int fd = ::open(("/var/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        // The network namespace is per thread: the rest of the process stays where it was.
        entered = ::setns(fd, CLONE_NEWNET) == 0;
        ::close(fd);
        if (entered)
            fn();
    });
    thread.join();
    return entered;
}

} // namespace veltrano::test
