#pragma once

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace veltrano::test {

// veltrano-server run as a program on 127.0.0.1 with a port of its own choosing, which it
// prints on its first line; stopped at the end.
class ServerProcess
{
public:
    // `launcher`: words run before the server (setpriv … to run it as another user).
    explicit ServerProcess(std::vector<std::string> args, std::vector<std::string> launcher = {})
    {
        args.insert(args.begin(), VELTRANO_SERVER);
        args.insert(args.begin(), launcher.begin(), launcher.end());
        args.push_back("--listen");
        args.push_back("127.0.0.1:0");
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        while (m_pid > 0 && line.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0) {
            char buffer[256];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            line.append(buffer, size_t(n));
        }
        ::close(out[0]);
        const size_t colon = line.rfind(':');
        if (line.rfind("listening on ", 0) == 0 && colon != std::string::npos)
            m_port = uint16_t(std::stoi(line.substr(colon + 1)));
    }
    ~ServerProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    uint16_t port() const { return m_port; }
    bool up() const { return m_port != 0; }

private:
    pid_t m_pid = -1;
    uint16_t m_port = 0;
};

} // namespace veltrano::test
