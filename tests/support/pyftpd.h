#pragma once

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veltrano::test {

// A loopback port that was free a moment ago (nobody listens on it).
inline uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// True when something accepts connections on 127.0.0.1:port.
inline bool loopbackAnswers(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool up = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return up;
}

// Debian's pyftpdlib serving a folder on 127.0.0.1 to one user, stopped at the end. The Python
// that owns Debian's modules is /usr/bin/python3, whatever python3 comes first on PATH.
class PyFtpd
{
public:
    PyFtpd(const std::filesystem::path &root, const std::string &user, const std::string &password)
        : m_port(freePort())
    {
        const std::string port = std::to_string(m_port);
        const std::string folder = root.string();
        const char *argv[] = {"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", port.c_str(),
                              "-d", folder.c_str(), "-u", user.c_str(), "-P", password.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, const_cast<char **>(argv), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        // Ready once it answers; bounded so that a broken server cannot hang the suite.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (m_pid > 0 && !loopbackAnswers(m_port) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_up = m_pid > 0 && loopbackAnswers(m_port);
    }
    ~PyFtpd()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    PyFtpd(const PyFtpd &) = delete;
    PyFtpd &operator=(const PyFtpd &) = delete;

    bool up() const { return m_up; }
    uint16_t port() const { return m_port; }

private:
    pid_t m_pid = -1;
    uint16_t m_port;
    bool m_up = false;
};

} // namespace veltrano::test
