// Load on veltrano-server: many clients on loopback searching and downloading at once.
// Run by hand from a Release build (the server is found beside this program's build folder):
//
//   bench_server [clients=50] [seconds=30]
//
// Every client logs on, then alternates a search (OPENFIND, then RETR FIND over PASV) with the
// download of a file of the share, checking every byte against what the file holds. Reported:
// searches per second of one client alone and of all together, each client's download
// throughput (slowest against fastest), byte mismatches and failures, and the server's peak
// memory (VmHWM).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "cache/synthcache.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 16;

std::string fileBytes(int index)
{
    std::string bytes(size_t(512 * 1024 + index * 97 * 1024), '\0');
    uint32_t x = uint32_t(index) * 2654435761u + 7;
    for (char &b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = char(x >> 24);
    }
    return bytes;
}

// A blocking FTP client, just enough for the load.
class Client
{
public:
    explicit Client(uint16_t port)
        : m_port(port)
    {
        m_fd = connectTo(port);
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }

    // The code of the next (possibly multi-line) reply; -1 on a broken connection.
    int reply()
    {
        std::string first;
        while (true) {
            std::string line;
            if (!readLine(line))
                return -1;
            if (first.empty()) {
                first = line;
                if (line.size() < 4 || line[3] != '-')
                    return std::atoi(line.c_str());
            } else if (line.size() >= 4 && line.compare(0, 3, first, 0, 3) == 0 && line[3] == ' ') {
                return std::atoi(line.c_str());
            }
        }
    }
    int command(const std::string &text)
    {
        const std::string line = text + "\r\n";
        if (::send(m_fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size()))
            return -1;
        return reply();
    }
    // PASV, then the command; the whole data in `out`. False on any failure.
    bool retrieve(const std::string &what, std::string &out)
    {
        out.clear();
        const std::string line = "PASV\r\n";
        ::send(m_fd, line.data(), line.size(), MSG_NOSIGNAL);
        std::string reply;
        if (!readLine(reply) || reply.compare(0, 3, "227") != 0)
            return false;
        unsigned h[6];
        const size_t open = reply.find('(');
        if (open == std::string::npos
                || std::sscanf(reply.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &h[0], &h[1], &h[2],
                           &h[3], &h[4], &h[5])
                        != 6)
            return false;
        const int data = connectTo(uint16_t(h[4] * 256 + h[5]));
        if (data < 0)
            return false;
        if (command("RETR " + what) != 150) {
            ::close(data);
            return false;
        }
        char buffer[65536];
        ssize_t n;
        while ((n = ::recv(data, buffer, sizeof buffer, 0)) > 0)
            out.append(buffer, size_t(n));
        ::close(data);
        return reply_is(226);
    }

private:
    bool reply_is(int code) { return this->reply() == code; }

    static int connectTo(uint16_t port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    bool readLine(std::string &line)
    {
        while (true) {
            const size_t eol = m_buffer.find('\n');
            if (eol != std::string::npos) {
                line = m_buffer.substr(0, eol);
                m_buffer.erase(0, eol + 1);
                return true;
            }
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            m_buffer.append(buffer, size_t(n));
        }
    }

    uint16_t m_port;
    int m_fd = -1;
    std::string m_buffer;
};

struct Tally
{
    uint64_t bytes = 0;
    uint64_t searches = 0;
    uint64_t downloads = 0;
    uint64_t mismatches = 0;
    uint64_t failures = 0;
    double seconds = 0;
};

const std::vector<std::string> kSearches = {
        "檔名,包含,ab;無,檔案大小,大於,;無,修改日期,大於,;0,0;",
        "副檔名,等於,txt;且,檔案大小,大於,500;無,修改日期,大於,;0,0;",
        "副檔名,等於,doc;無,檔案大小,大於,;無,修改日期,大於,;6,3;",
        "檔名,包含,report;或,檔名,包含,報告;無,修改日期,大於,;0,0;",
};

Tally runClient(uint16_t port, int id, Clock::time_point until, bool download,
        const std::vector<std::string> &files)
{
    Tally t;
    Client c(port);
    if (!c.ok() || c.reply() != 220 || c.command("USER anonymous") != 331
            || c.command("PASS bench@") != 230 || c.command("TYPE I") != 200) {
        t.failures = 1;
        return t;
    }
    std::mt19937 rng(uint32_t(id) * 7919u + 1);
    const auto start = Clock::now();
    std::string data;
    for (uint64_t round = 0; Clock::now() < until; ++round) {
        if (!download || round % 2 == 0) {
            if (c.command("OPENFIND " + kSearches[rng() % kSearches.size()]) != 700
                    || !c.retrieve("FIND", data) || data.size() < 2
                    || data.compare(data.size() - 2, 2, "?E") != 0) {
                ++t.failures;
                continue;
            }
            ++t.searches;
        } else {
            const int f = int(rng() % kFiles);
            if (!c.retrieve(fmt::format("\\\\BENCH\\files\\f{}.bin", f), data)) {
                ++t.failures;
                continue;
            }
            ++t.downloads;
            t.bytes += data.size();
            t.mismatches += data != files[size_t(f)];
        }
    }
    t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    c.command("QUIT");
    return t;
}

uint64_t peakKiB(pid_t pid)
{
    std::ifstream status(fmt::format("/proc/{}/status", pid));
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoull(line.substr(6));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const int clients = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
    const fs::path self = fs::canonical("/proc/self/exe");
    const fs::path server = self.parent_path().parent_path() / "src" / "server" / "veltrano-server";
    const fs::path dir =
            fs::temp_directory_path() / fmt::format("veltrano-bench-server-{}", ::getpid());
    fs::create_directories(dir / "files");

    std::vector<std::string> files;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(fileBytes(i));
        std::ofstream(dir / "files" / fmt::format("f{}.bin", i), std::ios::binary) << files.back();
    }
    veltrano::SynthCacheSpec spec = veltrano::SynthCacheSpec::sized(300000, 12000, 20);
    spec.chineseNames = 0.1;
    veltrano::generateSynthCache(dir / "Cache", spec);
    std::ofstream(dir / "shares") << "\\\\BENCH\\files=" << (dir / "files").string() << "\n";
    std::ofstream(dir / "users") << "anonymous:\n";

    const uint16_t port = uint16_t(20000 + ::getpid() % 20000);
    const std::string portArg = fmt::format("127.0.0.1:{}", port);
    const std::string serverPath = server.string(), cache = (dir / "Cache").string(),
                      shares = (dir / "shares").string(), users = (dir / "users").string();
    const char *args[] = {serverPath.c_str(), "--cache", cache.c_str(), "--shares", shares.c_str(),
            "--users", users.c_str(), "--listen", portArg.c_str(), "--codepage", "UTF-8",
            "--max-clients", "200", nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, const_cast<char **>(args), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", args[0]);
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));

    // Searches of one client alone, for a baseline.
    const Tally alone = runClient(
            port, 0, Clock::now() + std::chrono::seconds(std::min(seconds, 10)), false, files);

    std::vector<Tally> tallies(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&, i] {
            tallies[size_t(i)] = runClient(port, i + 1, until, true, files);
        });
    for (std::thread &t : threads)
        t.join();
    const uint64_t peak = peakKiB(pid);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    fs::remove_all(dir);

    Tally all;
    double slowest = 1e300, fastest = 0;
    for (const Tally &t : tallies) {
        all.bytes += t.bytes;
        all.searches += t.searches;
        all.downloads += t.downloads;
        all.mismatches += t.mismatches;
        all.failures += t.failures;
        const double rate = t.seconds > 0 ? double(t.bytes) / t.seconds : 0;
        slowest = std::min(slowest, rate);
        fastest = std::max(fastest, rate);
    }
    std::printf("one client alone: %.1f searches/s (%llu failures)\n",
            alone.seconds > 0 ? double(alone.searches) / alone.seconds : 0.0,
            static_cast<unsigned long long>(alone.failures));
    std::printf("%d clients for %d s: %.1f searches/s, %llu downloads, %.1f MB/s in all\n", clients,
            seconds, double(all.searches) / seconds, static_cast<unsigned long long>(all.downloads),
            double(all.bytes) / seconds / 1e6);
    std::printf("per client: slowest %.2f MB/s, fastest %.2f MB/s (ratio %.2f)\n", slowest / 1e6,
            fastest / 1e6, fastest > 0 ? slowest / fastest : 0.0);
    std::printf("byte mismatches %llu, failed requests %llu, server peak memory %.1f MiB\n",
            static_cast<unsigned long long>(all.mismatches),
            static_cast<unsigned long long>(all.failures), double(peak) / 1024);
    return all.mismatches == 0 && all.failures == 0 ? 0 : 1;
}
