// remote-search and remote-get against a search server of the tests' own: pyftpdlib with the
// server's two commands added, speaking CP950, on 127.0.0.1.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "ftp/scriptserver.h"
#include "support/clirun.h"
#include "support/pyftpd.h"

namespace veltrano {
namespace {

namespace fs = std::filesystem;
using namespace test;

class SearchServer
{
public:
    explicit SearchServer(const fs::path &root)
        : m_port(freePort())
    {
        const std::string port = std::to_string(m_port), folder = root.string();
        const char *argv[] = {"/usr/bin/python3", VELTRANO_SEARCH_SERVER, port.c_str(),
                folder.c_str(), "bob", "s3cret", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, const_cast<char **>(argv), environ)
                != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (m_pid > 0 && !loopbackAnswers(m_port) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~SearchServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    bool up() const { return m_pid > 0 && loopbackAnswers(m_port); }
    // The password comes from the environment, as it should to stay out of the process list.
    std::string run(const std::string &args) const
    {
        return "VELTRANO_FTP_PASSWORD=s3cret " + std::string(VELTRANO_CLI) + " " + args;
    }
    std::string url() const { return "ftp://bob@127.0.0.1:" + std::to_string(m_port) + "/"; }

private:
    pid_t m_pid = -1;
    uint16_t m_port;
};

TEST(RemoteCommands, SearchHitsComeBackThroughTheStream)
{
    TempDir root;
    writeFile(root.path() / "報告" / "年度報告.txt", "hello");
    writeFile(root.path() / "other.txt", "x");
    SearchServer server(root.path());
    if (!server.up())
        GTEST_SKIP() << "pyftpdlib did not start";
    const CliRun run =
            runCommand(server.run("remote-search " + server.url() + " name contains 報告"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\\報告\\年度報告.txt\t5\t0\t"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("found files=1 folders=1\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("other"), std::string::npos);

    const CliRun none =
            runCommand(server.run("remote-search " + server.url() + " name contains zzz"));
    EXPECT_EQ(none.status, 1) << none.err;
    EXPECT_EQ(none.out, "found files=0 folders=0\n");
}

TEST(RemoteCommands, FolderArrivesWholeAndAFileCutShortIsResumed)
{
    TempDir root, target;
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + (i >> 9)); // line ends and all other bytes included
    writeFile(root.path() / "報告" / "sub" / "big.bin", big);
    writeFile(root.path() / "報告" / "年度.txt", "yearly\n");
    writeFile(target.path() / "報告" / "sub" / "big.bin", big.substr(0, 1000));
    SearchServer server(root.path());
    if (!server.up())
        GTEST_SKIP() << "pyftpdlib did not start";
    const std::string get =
            "remote-get " + server.url() + " '\\報告\\' --to '" + target.path().string() + "'";

    const CliRun asked = runCommand(server.run(get));
    EXPECT_EQ(asked.status, 1) << "an existing file without a choice stops the job";
    EXPECT_NE(asked.err.find("--resume"), std::string::npos) << asked.err;

    const CliRun run = runCommand(server.run(get + " --resume"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "total=3 done=2 failed=0 skipped=0\n");
    EXPECT_EQ(readFile(target.path() / "報告" / "sub" / "big.bin"), big);
    EXPECT_EQ(readFile(target.path() / "報告" / "年度.txt"), "yearly\n");

    const CliRun missing = runCommand(server.run("remote-get " + server.url()
            + " '\\nothing.txt' --to '" + target.path().string() + "'"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "total=1 done=0 failed=1 skipped=0\n");
}

TEST(RemoteCommands, RefusalsAndBrokenStreamsExitWithTwoAfterTheEntriesRead)
{
    const struct
    {
        std::string reply, stream, out, err;
    } cases[] = {
            {"840 Refused", "", "", "840 Refused"},
            {"700 Ok", "\\\\PC<2\n?B2001/5/3 10:00:00\na<1<2<3<2001/5/3\n?E",
                    "\\\\PC\t0\t16\t2001/05/03 10:00:00\nfound files=0 folders=0\n",
                    "伺服器傳回之資料結構錯誤"},
    };
    for (const auto &c : cases) {
        ScriptServer server([&](ScriptSession &s) {
            logOn(s);
            s.command();
            s.send(c.reply + "\r\n");
            if (!c.stream.empty()) {
                s.command();
                s.send(pasvReply(s.openPassive()));
                s.command();
                s.acceptData();
                s.send("150 Opening\r\n");
                s.sendData(c.stream);
                s.closeData();
                s.send("226 Done\r\n");
            }
            s.command();
            s.send("221 Bye\r\n");
        });
        const CliRun run = cli("remote-search ftp://bob:pw@127.0.0.1:"
                + std::to_string(server.port()) + "/ name contains a");
        EXPECT_EQ(run.status, 2) << c.reply;
        EXPECT_EQ(run.out, c.out) << c.reply;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
}

} // namespace
} // namespace veltrano
