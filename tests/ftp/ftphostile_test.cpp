// The client against servers that refuse, lie or break off: the user's file and the server's
// other files must come out of it unharmed, and a broken download must not pass for a whole one.
#include <thread>

#include <gtest/gtest.h>

#include "ftpharness.h"
#include "scriptserver.h"
#include "support/tempdir.h"

namespace veltrano {
namespace {

using test::FtpHarness;
using test::pasvReply;
using test::ScriptServer;
using test::ScriptSession;
using Transcript = std::vector<std::string>;
using Script = std::function<void(ScriptSession &)>;

// The commands the server received, once the client has hung up and the server has seen it.
Transcript transcriptAfterHangUp(FtpHarness &h, const ScriptServer &server)
{
    h.client.Abort();
    test::runUntil([&] {
        return server.finished();
    });
    return server.commands();
}

// Answers PASV with a port it listens on and returns after reading the next command.
void pasvThenCommand(ScriptSession &s)
{
    s.command();
    const uint16_t port = s.openPassive();
    s.send(pasvReply(port));
    s.command();
}

TEST(FtpHostile, RefusedOrBrokenDownloadsLeaveTheLocalFileAsItWas)
{
    struct Case
    {
        const char *what;
        bool resume;
        Script script; // after the log-on
        Transcript commands;
    };
    const Case cases[] = {
            {"RETR refused", false,
                    [](ScriptSession &s) {
                        pasvThenCommand(s);
                        s.send("550 No such file\r\n");
                    },
                    {"USER bob", "PASV", "RETR f.bin"}},
            {"227 without a port", false,
                    [](ScriptSession &s) {
                        s.command();
                        s.send("227 Entering Passive Mode\r\n");
                    },
                    {"USER bob", "PASV"}},
            {"data port closed", false,
                    [](ScriptSession &s) {
                        s.command();
                        s.send(pasvReply(test::freePort(), "127,0,0,1"));
                        s.command();
                    },
                    {"USER bob", "PASV", "RETR f.bin"}},
            {"data connection reset before any byte", false,
                    [](ScriptSession &s) {
                        pasvThenCommand(s);
                        s.acceptData();
                        s.send("150 Opening data connection\r\n");
                        s.resetData();
                        s.send("426 Connection closed; transfer aborted\r\n");
                    },
                    {"USER bob", "PASV", "RETR f.bin"}},
            {"data ahead of a refusal", false,
                    [](ScriptSession &s) {
                        pasvThenCommand(s);
                        s.acceptData();
                        s.sendData("NOT THE FILE");
                        s.closeData();
                        std::this_thread::sleep_for(std::chrono::milliseconds(300));
                        s.send("550 No such file\r\n");
                    },
                    {"USER bob", "PASV", "RETR f.bin"}},
            {"REST accepted, RETR refused", true,
                    [](ScriptSession &s) {
                        s.command();
                        const uint16_t port = s.openPassive();
                        s.send(pasvReply(port));
                        s.command();
                        s.send("350 Restarting at 8\r\n");
                        s.command();
                        s.send("550 No such file\r\n");
                    },
                    {"USER bob", "PASV", "REST 8", "RETR f.bin"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ScriptServer server([&](ScriptSession &s) {
            test::logOn(s);
            c.script(s);
        });
        test::TempDir dir;
        const auto local = dir.path() / "f.bin";
        test::writeFile(local, "PRECIOUS");
        FtpHarness h(server.port());
        h.client.ConnectAsync();
        ASSERT_EQ(h.waitDone(), 0);
        h.client.HostFileName = "f.bin";
        h.client.SetLocalFileName(local.string());
        c.resume ? h.client.RestGetAsync() : h.client.GetAsync();
        const int error = h.waitDone();
        EXPECT_GT(error, 0);
        EXPECT_EQ(test::readFile(local), "PRECIOUS");
        EXPECT_EQ(transcriptAfterHangUp(h, server), c.commands);
    }
}

TEST(FtpHostile, ADownloadOfAnotherSizeThanAnnouncedFails)
{
    struct Case
    {
        const char *what;
        const char *announce; // appended to the 150 reply
        std::string sent;
        bool resume; // the local file holds "0123" and REST 4 is accepted
        bool whole;
        std::string after;
    };
    const Case cases[] = {
            {"as announced", " (10 bytes)", "0123456789", false, true, "0123456789"},
            {"shrank", " (10 bytes)", "01234567", false, false, "01234567"},
            {"grew", " (10 Bytes)", "0123456789AB", false, false, "0123456789AB"},
            {"nothing announced", "", "01234567", false, true, "01234567"},
            {"empty, replacing an old file", " (0 bytes)", "", false, true, ""},
            {"resumed", " (10 bytes)", "456789", true, true, "0123456789"},
            {"REST accepted but ignored", " (10 bytes)", "0123456789", true, false,
                    "01230123456789"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ScriptServer server([&](ScriptSession &s) {
            test::logOn(s);
            s.command();
            const uint16_t port = s.openPassive();
            s.send(pasvReply(port));
            if (c.resume) {
                s.command();
                s.send("350 Restarting\r\n");
            }
            s.command();
            s.acceptData();
            s.send(std::string("150 Opening BINARY mode data connection for f.bin") + c.announce
                    + "\r\n");
            s.sendData(c.sent);
            s.closeData();
            s.send("226 Transfer complete\r\n");
        });
        test::TempDir dir;
        const auto local = dir.path() / "f.bin";
        test::writeFile(local, c.resume ? "0123" : "OLD CONTENT");
        FtpHarness h(server.port());
        h.client.ConnectAsync();
        ASSERT_EQ(h.waitDone(), 0);
        h.client.HostFileName = "f.bin";
        h.client.SetLocalFileName(local.string());
        c.resume ? h.client.RestGetAsync() : h.client.GetAsync();
        const int error = h.waitDone();
        if (c.whole) {
            EXPECT_EQ(error, 0) << h.client.ErrorMessage;
        } else {
            EXPECT_EQ(error, 426);
            EXPECT_EQ(h.client.ErrorMessage.rfind("426 The server announced 10 bytes, but ", 0), 0u)
                    << h.client.ErrorMessage;
        }
        EXPECT_EQ(test::readFile(local), c.after);
    }
}

// Each field that goes into a command line; a line break in one would smuggle in a command of
// the server's choosing (RETR c, then DELE victim).
TEST(FtpHostile, LineBreaksAndNulInArgumentsAreRefusedBeforeAnythingIsSent)
{
    struct Case
    {
        const char *what;
        std::function<void(TCustomFtpCli &)> call;
        const char *message;
    };
    const std::string nul("a\0b", 3);
    const Case connected[] = {
            {"RETR name",
                    [](TCustomFtpCli &c) {
                        c.HostFileName = "c\r\nDELE victim";
                        c.GetAsync();
                    },
                    "HostFileName holds a line break or NUL character"},
            {"LIST name",
                    [&](TCustomFtpCli &c) {
                        c.HostFileName = nul;
                        c.DirAsync();
                    },
                    "HostFileName holds a line break or NUL character"},
            {"local name",
                    [&](TCustomFtpCli &c) {
                        c.SetLocalFileName(nul);
                        c.GetAsync();
                    },
                    "LocalFileName holds a line break or NUL character"},
            {"CWD folder",
                    [](TCustomFtpCli &c) {
                        c.HostDirName = "pub\nDELE victim";
                        c.CwdAsync();
                    },
                    "HostDirName holds a line break or NUL character"},
            {"CWD folder ahead of a RETR",
                    [](TCustomFtpCli &c) {
                        c.HostDirName = "pub\rDELE victim";
                        c.HighLevelAsync(
                                ftpGetAsync, fct(ftpFctCwd) | fct(ftpFctPort) | fct(ftpFctGet));
                    },
                    "HostDirName holds a line break or NUL character"},
            {"quoted command",
                    [](TCustomFtpCli &c) {
                        c.SetLocalFileName("OPENFIND x\r\nDELE victim");
                        c.QuoteAsync();
                    },
                    "LocalFileName holds a line break or NUL character"},
    };
    const Case logOn[] = {
            {"user",
                    [](TCustomFtpCli &c) {
                        c.UserName = "bob\r\nDELE victim";
                    },
                    "UserName holds a line break or NUL character"},
            {"password",
                    [](TCustomFtpCli &c) {
                        c.PassWord = "pw\nDELE victim";
                    },
                    "PassWord holds a line break or NUL character"},
            {"no password",
                    [](TCustomFtpCli &c) {
                        c.PassWord.clear();
                    },
                    "Password emtpy"},
            {"host",
                    [&](TCustomFtpCli &c) {
                        c.HostName = "127.0.0.1" + nul;
                    },
                    "HostName holds a line break or NUL character"},
    };
    auto refusal = [](const std::function<void()> &call) {
        try {
            call();
        } catch (const FtpException &e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };

    ScriptServer server([](ScriptSession &s) {
        test::logOn(s);
    });
    test::TempDir dir;
    FtpHarness h(server.port());
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0);
    for (const Case &c : connected) {
        SCOPED_TRACE(c.what);
        h.client.HostFileName = "f.bin";
        h.client.SetLocalFileName((dir.path() / "f.bin").string());
        EXPECT_EQ(refusal([&] {
            c.call(h.client);
        }),
                c.message);
        EXPECT_EQ(h.client.State(), ftpReady);
    }

    // Nobody listens on this port: a connection attempt would show as a completion.
    FtpHarness unconnected(test::freePort());
    for (const Case &c : logOn) {
        SCOPED_TRACE(c.what);
        TFtpClient &client = unconnected.client;
        client.HostName = "127.0.0.1";
        client.UserName = "bob";
        client.PassWord = "secret";
        c.call(client);
        EXPECT_EQ(refusal([&] {
            client.ConnectAsync();
        }),
                c.message);
        EXPECT_EQ(client.State(), ftpReady);
    }

    test::runUntil(
            [] {
                return false;
            },
            200);
    EXPECT_EQ(h.done.size(), 1u) << "a refused request reports nothing";
    EXPECT_TRUE(unconnected.done.empty());
    EXPECT_EQ(transcriptAfterHangUp(h, server), (Transcript{"USER bob"}));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "f.bin"));
}

} // namespace
} // namespace veltrano
