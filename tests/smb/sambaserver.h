#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/clirun.h"
#include "support/pyftpd.h"
#include "support/tempdir.h"

namespace veltrano::test {

// Debian's smbd on 127.0.0.1 and a free high port, with its configuration, databases and log in
// a temporary folder of its own, stopped at the end. Guest shares let anyone in as `nobody`
// (so a folder only its owner may read stays closed to a guest); password shares let in the
// user the tests run as, with `password`.
class SambaServer
{
public:
    struct Share
    {
        std::string name;
        std::filesystem::path path;
        bool guest = true;
    };

    static constexpr const char *kPassword = "Veltrano-pw1";

    explicit SambaServer(const std::vector<Share> &shares)
        : m_port(freePort())
    {
        const passwd *me = ::getpwuid(::getuid());
        m_user = me ? me->pw_name : "root";
        // smbd works as the logged-on user and as nobody: both must reach the shared folders.
        std::filesystem::permissions(m_dir.path(), std::filesystem::perms(0755));
        const std::string d = m_dir.path().string();
        std::string conf = "[global]\n"
                           "  netbios name = VELTRANOTEST\n  workgroup = WORKGROUP\n"
                           "  server role = standalone server\n  disable netbios = yes\n"
                           "  smb ports = "
                + std::to_string(m_port)
                + "\n"
                  "  interfaces = 127.0.0.1\n  bind interfaces only = yes\n"
                  "  private dir = "
                + d + "/private\n  lock directory = " + d
                + "/lock\n"
                  "  state directory = "
                + d + "/state\n  cache directory = " + d
                + "/cache\n"
                  "  pid directory = "
                + d + "/pid\n  ncalrpc dir = " + d
                + "/ncalrpc\n"
                  "  log file = "
                + d
                + "/smbd.log\n  log level = 1\n"
                  "  passdb backend = tdbsam:"
                + d
                + "/private/passdb.tdb\n"
                  "  map to guest = Bad User\n  guest account = nobody\n"
                  "  load printers = no\n  printcap name = /dev/null\n  disable spoolss = yes\n"
                  "  unix charset = UTF-8\n"
                  // Read-only and hidden come from the file's mode and name, as a
                  // local walk sees them.
                  "  map readonly = yes\n  store dos attributes = no\n";
        for (const Share &share : shares) {
            conf += "[" + share.name + "]\n  path = " + share.path.string()
                    + "\n  read only = yes\n";
            conf += share.guest ? "  guest ok = yes\n" : "  valid users = " + m_user + "\n";
        }
        for (const char *sub : {"private", "lock", "state", "cache", "pid", "ncalrpc"})
            std::filesystem::create_directories(m_dir.path() / sub);
        writeFile(m_dir.path() / "smb.conf", conf);
        writeFile(credentials(),
                std::string("username=") + m_user + "\npassword=" + kPassword + "\n");
        writeFile(m_dir.path() / "bad.cred", "username=" + m_user + "\npassword=wrong\n");

        const CliRun add = runCommand("smbpasswd -c '" + d + "/smb.conf' -s -a " + m_user,
                std::string(kPassword) + "\n" + kPassword + "\n");
        if (add.status != 0) {
            m_why = "smbpasswd: " + add.err;
            return;
        }
        start();
    }

    ~SambaServer() { stop(SIGTERM); }
    SambaServer(const SambaServer &) = delete;
    SambaServer &operator=(const SambaServer &) = delete;

    bool up() const { return m_up; }
    // Why the server is not up: the tail of its log.
    std::string why() const { return m_why.empty() ? readFile(m_dir.path() / "smbd.log") : m_why; }
    uint16_t port() const { return m_port; }
    // Ends the server at once, as a machine that loses power: open connections break mid-reply.
    void kill() { stop(SIGKILL); }
    std::filesystem::path credentials() const { return m_dir.path() / "good.cred"; }
    std::filesystem::path badCredentials() const { return m_dir.path() / "bad.cred"; }

private:
    void start()
    {
        const std::string conf = (m_dir.path() / "smb.conf").string();
        const char *argv[] = {"/usr/sbin/smbd", "--foreground", "--no-process-group", "-s",
                conf.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        // A group of its own: smbd stops its children by signalling its process group, which
        // must not be the test's.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawn(&m_pid, argv[0], &actions, &attributes, const_cast<char **>(argv), environ)
                != 0)
            m_pid = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_pid > 0 && !loopbackAnswers(m_port) && std::chrono::steady_clock::now() < deadline
                && ::waitpid(m_pid, nullptr, WNOHANG) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m_up = m_pid > 0 && loopbackAnswers(m_port);
    }

    void stop(int signal)
    {
        if (m_pid > 0) {
            ::kill(-m_pid, signal);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        // smbd starts its RPC helper on demand in a session of its own, which outlives it: the
        // helper's pid file names it, and its command line must name this server's configuration.
        const std::string pidText = readFile(m_dir.path() / "pid" / "samba-dcerpcd.pid");
        const pid_t helper = pid_t(std::atoi(pidText.c_str()));
        if (helper > 1) {
            const std::string command = readFile("/proc/" + std::to_string(helper) + "/cmdline");
            if (command.find((m_dir.path() / "smb.conf").string()) != std::string::npos)
                ::kill(-helper, signal);
        }
    }

    TempDir m_dir;
    uint16_t m_port;
    std::string m_user;
    std::string m_why;
    pid_t m_pid = -1;
    bool m_up = false;
};

} // namespace veltrano::test
