// The transfer engine against a scripted search server: exact replies in, the exact command
// transcript out.
#include <filesystem>

#include <gtest/gtest.h>

#include "ftp/scriptserver.h"
#include "net/eventloop.h"
#include "support/tempdir.h"
#include "transfer/transferengine.h"

namespace veltrano {
namespace {

using test::logOn;
using test::pasvReply;
using test::ScriptServer;
using test::ScriptSession;
using Transcript = std::vector<std::string>;
namespace fs = std::filesystem;

void reply(ScriptSession &s, const std::string &line)
{
    s.command();
    s.send(line + "\r\n");
}

// PASV, then RETR or LIST answered with `data`.
void serveTransfer(ScriptSession &s, const std::string &data)
{
    s.command();
    s.send(pasvReply(s.openPassive()));
    s.command();
    s.acceptData();
    s.send("150 Opening data connection\r\n");
    s.sendData(data);
    s.closeData();
    s.send("226 Transfer complete\r\n");
}

void serveFile(ScriptSession &s, const std::string &data)
{
    reply(s, "200 Type set to I");
    serveTransfer(s, data);
}

struct Answers : TransferQuestions
{
    ExistAnswer answer;
    int asked = 0;
    ExistAnswer askExisting(const TItemData &, const std::string &) override
    {
        ++asked;
        return answer;
    }
    std::string user, password;
    bool askLogon(std::string &u, std::string &p) override
    {
        if (user.empty())
            return false;
        u = user;
        p = password;
        return true;
    }
};

// An engine whose client of `slot` is logged on to the scripted server.
struct Engine
{
    test::TempDir dir;
    TransferEngine engine;
    Answers answers;
    std::vector<std::string> log;
    int findDone = 0, jobsEnded = 0;

    Engine(const ScriptServer &server, int slot)
        : engine((test::ensureApplication(), CodePage("CP950")), dir.path())
    {
        engine.setQuestions(&answers);
        engine.SetPassiveMode(true);
        QObject::connect(
                &engine, &TransferEngine::logLine, &engine, [this](LogColour, const QString &text) {
                    log.push_back(text.toStdString());
                });
        QObject::connect(&engine, &TransferEngine::jobEnded, &engine, [this] {
            ++jobsEnded;
        });
        engine.OnFindDone = [this] {
            ++findDone;
        };
        int connected = -1;
        QObject::connect(&engine, &TransferEngine::requestFinished, &engine,
                [&connected](int, int request, int error) {
                    if (request == ftpConnectAsync)
                        connected = error;
                });
        engine.ConnectSession(slot, "127.0.0.1", "bob", std::to_string(server.port()), "pw");
        test::runUntil(
                [&] {
                    return connected >= 0;
                },
                10000);
        QObject::disconnect(&engine, &TransferEngine::requestFinished, nullptr, nullptr);
        EXPECT_EQ(connected, 0);
    }
    bool logged(const std::string &line) const
    {
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    TItemData item(const std::string &name, bool folder = false, uint32_t size = 0)
    {
        TItemData entry;
        entry.setName(name);
        entry.Attr = folder ? 0x10 : 0;
        entry.Size = size;
        return entry;
    }
    fs::path local() const { return dir.path() / "dl"; }
};

TEST(TransferScript, SearchFetchesFindAfter700AndListsTheStream)
{
    const std::string stream = "\\\\PC\\share<2\n?B2001/5/3 10:00:00\n"
                               "a.txt<1234<2001/5/3 10:00:00\n?H1<1\n?E";
    const std::string argument = "\xC0\xC9\xA6\x57,\xA5\x5D\xA7\x74,a;;0,0;"; // 檔名,包含,a
    ScriptServer server([&](ScriptSession &s) {
        logOn(s);
        reply(s, "700 Search done");
        serveTransfer(s, stream);
    });
    Engine e(server, 0);
    int results = 0;
    e.engine.OnFindResults = [&] {
        ++results;
    };
    e.engine.StartRemoteSearch(argument);
    ASSERT_TRUE(test::runUntil(
            [&] {
                return e.findDone > 0;
            },
            10000));
    EXPECT_EQ(server.commands(),
            (Transcript{"USER bob", "OPENFIND " + argument, "PASV", "RETR FIND"}));
    EXPECT_TRUE(e.logged("Thread0:搜尋完成"));
    EXPECT_EQ(results, 1);
    ASSERT_EQ(e.engine.ResultList().size(), 2u);
    EXPECT_EQ(e.engine.ResultList()[1].name(), "\\\\PC\\share\\a.txt");
    EXPECT_EQ(e.engine.ResultList()[1].Size, 1234u);
    EXPECT_EQ(e.engine.FoundFiles(), 1);
    EXPECT_EQ(e.engine.FoundFolders(), 1);
}

// Active mode: the server connects back to the port that PORT names.
TEST(TransferScript, ActiveSearchSendsPortAndBrowseListsTheFolder)
{
    ScriptServer server([](ScriptSession &s) {
        logOn(s);
        reply(s, "700 Search done");
        const std::string port = s.command();
        s.send("200 PORT ok\r\n");
        s.command();
        s.connectData(port);
        s.send("150 Opening\r\n");
        s.sendData("?E");
        s.closeData();
        s.send("226 Done\r\n");
        reply(s, "250 \"/pub\" is current");
        serveTransfer(s, "-rw-r--r-- 1 u g 5 feb 3 2001 My File.txt\r\n");
        reply(s, "550 No such folder");
    });
    Engine e(server, 0);
    e.engine.SetPassiveMode(false);
    int results = 0, listed = 0;
    e.engine.OnFindResults = [&] {
        ++results;
    };
    e.engine.OnListDone = [&] {
        ++listed;
    };
    e.engine.StartRemoteSearch("x");
    ASSERT_TRUE(test::runUntil(
            [&] {
                return e.findDone > 0;
            },
            10000));
    EXPECT_EQ(results, 1) << "an empty stream still reports its (empty) results";
    EXPECT_TRUE(e.engine.ResultList().empty());

    e.engine.SetPassiveMode(true);
    e.engine.BrowseRemoteFolder("\\\\PC\\pub");
    ASSERT_TRUE(test::runUntil(
            [&] {
                return listed > 0;
            },
            10000));
    ASSERT_EQ(e.engine.ResultList().size(), 1u);
    EXPECT_EQ(e.engine.ResultList()[0].name(), "My File.txt");
    EXPECT_EQ(e.engine.listingFiles(), 1);
    EXPECT_TRUE(e.logged("Thread0:目錄\"/pub\""));

    e.engine.BrowseRemoteFolder("\\\\PC\\gone");
    ASSERT_TRUE(test::runUntil(
            [&] {
                return e.logged("Thread:0錯誤550(550 No such folder)");
            },
            10000));
    EXPECT_EQ(listed, 1) << "a failed CWD ends the browse without a listing";
    const Transcript commands = server.commands();
    ASSERT_EQ(commands.size(), 8u);
    EXPECT_EQ(commands[2].rfind("PORT 127,0,0,1,", 0), 0u) << commands[2];
    EXPECT_EQ(Transcript(commands.begin() + 3, commands.end()),
            (Transcript{"RETR FIND", "CWD \\\\PC\\pub", "PASV", "LIST", "CWD \\\\PC\\gone"}));
}

TEST(TransferScript, RefusedSearchFetchesNothingAndDoesNotEnd)
{
    ScriptServer server([](ScriptSession &s) {
        logOn(s);
        reply(s, "830 Busy");
    });
    Engine e(server, 0);
    QString refused;
    QObject::connect(&e.engine, &TransferEngine::searchFailed, &e.engine, [&](const QString &text) {
        refused = text;
    });
    e.engine.StartRemoteSearch("x");
    ASSERT_TRUE(test::runUntil(
            [&] {
                return !refused.isEmpty();
            },
            10000));
    EXPECT_EQ(refused, "830 Busy");
    EXPECT_EQ(e.findDone, 0);
    EXPECT_EQ(e.engine.requestKind(0), rkNone);
    EXPECT_EQ(server.commands(), (Transcript{"USER bob", "OPENFIND x"}));
}

// Entries are taken from the end of the list, folders walked with CWD and LIST, the server
// asked once before the first file; folders are made only for files written into them.
TEST(TransferScript, JobWalksFoldersAndChecksOnceBeforeTheFirstFile)
{
    const std::string listing = "drwxr-xr-x 1 u g 0 Jan 1 2001 .\r\n"
                                "-rw-r--r-- 1 u g 5 Jan 1 2001 b c.txt\r\n"
                                "drwxr-xr-x 1 u g 0 Jan 1 2001 empty\r\n";
    ScriptServer server([&](ScriptSession &s) {
        logOn(s);
        reply(s, "800 Ready");
        serveFile(s, "top!");
        reply(s, "250 CWD ok");
        serveTransfer(s, listing);
        reply(s, "250 CWD ok");
        serveTransfer(s, "drwxr-xr-x 1 u g 0 Jan 1 2001 ..\r\n");
        serveFile(s, "hello");
    });
    Engine e(server, 1);
    e.engine.DownloadItems(
            {e.item("\\\\PC\\d", true), e.item("\\\\PC\\top.txt", false, 4)}, e.local().string());
    ASSERT_TRUE(test::runUntil(
            [&] {
                return e.jobsEnded > 0;
            },
            10000));
    EXPECT_EQ(server.commands(),
            (Transcript{"USER bob", "CHECKEXIST \\\\PC\\top.txt", "TYPE I", "PASV",
                    "RETR \\\\PC\\top.txt", "CWD \\\\PC\\d\\", "PASV", "LIST",
                    "CWD \\\\PC\\d\\empty\\", "PASV", "LIST", "TYPE I", "PASV",
                    "RETR \\\\PC\\d\\b c.txt"}));
    EXPECT_EQ(test::readFile(e.local() / "top.txt"), "top!");
    EXPECT_EQ(test::readFile(e.local() / "d" / "b c.txt"), "hello");
    EXPECT_FALSE(fs::exists(e.local() / "d" / "empty"));
    EXPECT_EQ(e.engine.TotalCount, 3u);
    EXPECT_EQ(e.engine.DoneCount, 2u);
    EXPECT_EQ(e.engine.FailCount, 0u);
    EXPECT_TRUE(e.logged(
            "Thread1:下載\"\\\\PC\\top.txt\"至\"" + (e.local() / "top.txt").string() + "\""));
}

// The answer "resume, for all files" is asked once and sends REST with the local size.
TEST(TransferScript, ResumeForAllAsksOnceAndRestartsAtTheLocalSize)
{
    ScriptServer server([](ScriptSession &s) {
        logOn(s);
        reply(s, "800 Ready");
        for (const char *rest : {"lo", "rld"}) {
            reply(s, "200 Type set to I");
            s.command();
            s.send(pasvReply(s.openPassive()));
            reply(s, "350 Restarting");
            s.command();
            s.acceptData();
            s.send("150 Opening\r\n");
            s.sendData(rest);
            s.closeData();
            s.send("226 Done\r\n");
        }
    });
    Engine e(server, 1);
    fs::create_directories(e.local());
    test::writeFile(e.local() / "1", "hel");
    test::writeFile(e.local() / "2", "wo");
    e.answers.answer = {ExistChoice::Resume, {}, true};
    e.engine.DownloadItems(
            {e.item("\\\\S\\2", false, 5), e.item("\\\\S\\1", false, 5)}, e.local().string());
    ASSERT_TRUE(test::runUntil(
            [&] {
                return e.jobsEnded > 0;
            },
            10000));
    EXPECT_EQ(e.answers.asked, 1);
    EXPECT_EQ(server.commands(),
            (Transcript{"USER bob", "CHECKEXIST \\\\S\\1", "TYPE I", "PASV", "REST 3",
                    "RETR \\\\S\\1", "TYPE I", "PASV", "REST 2", "RETR \\\\S\\2"}));
    EXPECT_EQ(test::readFile(e.local() / "1"), "hello");
    EXPECT_EQ(test::readFile(e.local() / "2"), "world");
    EXPECT_EQ(e.engine.DoneCount, 2u);
}

TEST(TransferScript, RefusalsEndTheJobWithEveryEntryFailed)
{
    for (const char *code : {"810", "820", "830", "840", "500"}) {
        ScriptServer server([&](ScriptSession &s) {
            logOn(s);
            reply(s, std::string(code) + " No");
        });
        Engine e(server, 1);
        e.engine.DownloadItems({e.item("\\\\S\\a"), e.item("\\\\S\\b")}, e.local().string());
        ASSERT_TRUE(test::runUntil(
                [&] {
                    return e.jobsEnded > 0;
                },
                10000))
                << code;
        EXPECT_EQ(server.commands(), (Transcript{"USER bob", "CHECKEXIST \\\\S\\b"})) << code;
        EXPECT_EQ(e.engine.FailCount, 2u) << code;
        EXPECT_EQ(e.engine.TotalCount, 2u) << code;
        EXPECT_EQ(e.engine.requestKind(1), rkNone) << code;
        EXPECT_FALSE(e.engine.jobRunning()) << code;
    }
}

// A queue row through its job; with a try count of 0 a failed row is not started again until
// it is renewed.
TEST(TransferScript, QueueRowRunsItsJobAndFailedRowsWaitForRenewal)
{
    ScriptServer server([](ScriptSession &s) {
        logOn(s);
        reply(s, "810 Not here");
        reply(s, "800 Ready");
        reply(s, "200 Type set to I");
        s.command();
        s.send(pasvReply(s.openPassive()));
        s.command(); // no REST: there is no local file yet
        s.acceptData();
        s.send("150 Opening\r\n");
        s.sendData("queued");
        s.closeData();
        s.send("226 Done\r\n");
    });
    Engine e(server, 1);
    e.engine.addDroppedRows({"F\\\\S\\q.txt<1"}, e.local().string());
    QueueRows &queue = e.engine.queue();
    ASSERT_EQ(queue.rows.size(), 1u);
    EXPECT_EQ(queue.rows[0].size, 1024u);
    EXPECT_EQ(queue.rows[0].local, (e.local() / "q.txt").string());
    e.engine.setQueueOn(true);
    ASSERT_TRUE(test::runUntil(
            [&] {
                return e.jobsEnded == 1;
            },
            10000));
    EXPECT_EQ(queue.rows[0].state, RowState::Failed);
    EXPECT_EQ(queue.rows[0].message, "GET 0, FAIL 1");
    EXPECT_FALSE(e.engine.rowRunning());
    EXPECT_FALSE(test::runUntil(
            [&] {
                return e.jobsEnded == 2;
            },
            2500))
            << "no second try";
    e.engine.renewRow(0);
    EXPECT_EQ(queue.rows[0].state, RowState::Ready);
    ASSERT_TRUE(test::runUntil(
            [&] {
                return e.jobsEnded == 2;
            },
            10000));
    EXPECT_EQ(queue.rows[0].state, RowState::Done);
    EXPECT_EQ(queue.rows[0].tries, 1);
    EXPECT_EQ(queue.rows[0].message, "GET 1, FAIL 0");
    EXPECT_EQ(test::readFile(e.local() / "q.txt"), "queued");
    EXPECT_EQ(server.commands().back(), "RETR \\\\S\\q.txt");
}

// A 530 asks for another log-on and logs on again with USER and PASS alone.
TEST(TransferScript, RefusedLogOnAsksAndTriesAgain)
{
    ScriptServer server([](ScriptSession &s) {
        s.send("220 Ready\r\n");
        s.command();
        s.send("331 Password\r\n");
        s.command();
        s.send("530 Not logged in\r\n");
        s.command();
        s.send("331 Password\r\n");
        s.command();
        s.send("230 Logged in\r\n");
    });
    test::TempDir dir;
    test::ensureApplication();
    TransferEngine engine(CodePage("CP950"), dir.path());
    Answers answers;
    answers.user = "amy";
    answers.password = "new";
    engine.setQuestions(&answers);
    std::vector<std::pair<int, int>> done;
    QObject::connect(
            &engine, &TransferEngine::requestFinished, &engine, [&](int, int request, int error) {
                done.emplace_back(request, error);
            });
    engine.ConnectSession(1, "127.0.0.1", "bob", std::to_string(server.port()), "old");
    ASSERT_TRUE(test::runUntil(
            [&] {
                return done.size() == 2;
            },
            10000));
    EXPECT_EQ(done[0], std::make_pair(int(ftpConnectAsync), 530));
    EXPECT_EQ(done[1], std::make_pair(int(ftpConnectAsync), 0));
    EXPECT_EQ(server.commands(), (Transcript{"USER bob", "PASS old", "USER amy", "PASS new"}));
}

} // namespace
} // namespace veltrano
