// The client against a scripted server: exact replies in, the exact command transcript out.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "ftpharness.h"
#include "scriptserver.h"
#include "support/tempdir.h"

namespace veltrano {
namespace {

using test::FtpHarness;
using test::logOn;
using test::pasvReply;
using test::ScriptServer;
using test::ScriptSession;
using Transcript = std::vector<std::string>;
namespace fs = std::filesystem;

// PASV, then RETR/LIST answered with `data` over the data connection.
void serveTransfer(ScriptSession &s, const std::string &data)
{
    s.command();
    const uint16_t port = s.openPassive();
    s.send(pasvReply(port));
    s.command();
    s.acceptData();
    s.send("150 Opening data connection\r\n");
    s.sendData(data);
    s.closeData();
    s.send("226 Transfer complete\r\n");
}

TEST(FtpScript, MultiLineRepliesEndAtTheirFinalLineAndThePasswordStaysOutOfTheTrace)
{
    ScriptServer server([](ScriptSession &s) {
        s.send("220-Hello\r\n220 Ready\r\n");
        s.command();
        s.send("331 Password required (not secret)\r\n");
        s.command();
        s.send("230-Welcome\r\nmore text\r\n230 Logged in\r\n");
        s.command();
        s.send("221 Bye\r\n");
    });
    FtpHarness h(server.port());
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0);
    EXPECT_EQ(h.done.back().first, ftpConnectAsync);
    EXPECT_EQ(h.client.LastReply(), "230 Logged in");
    EXPECT_EQ(h.client.ReplyCode(), 230);
    EXPECT_TRUE(h.traced("< 220-Hello"));
    EXPECT_TRUE(h.traced("< 230 Logged in"));
    EXPECT_FALSE(h.traced("< more text")) << "continuation lines are not traced";
    EXPECT_TRUE(h.traced("> PASS ********"));
    for (const std::string &line : h.trace)
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;

    EXPECT_TRUE(h.client.Quit());
    EXPECT_FALSE(h.client.Connected());
    EXPECT_EQ(h.client.State(), ftpReady);
    EXPECT_EQ(server.commands(), (Transcript {"USER bob", "PASS secret", "QUIT"}));
}

TEST(FtpScript, UserAnsweredWith230SkipsPassAndCwdKeepsTheQuotedFolder)
{
    ScriptServer server([](ScriptSession &s) {
        logOn(s);
        s.command();
        s.send("250 \"/pub/my \"\"files\"\"\" is current\r\n");
    });
    FtpHarness h(server.port());
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0);
    h.client.HostDirName = "pub";
    h.client.CwdAsync();
    ASSERT_EQ(h.waitDone(), 0);
    EXPECT_EQ(h.done.back().first, ftpCwdAsync);
    EXPECT_EQ(h.client.ReplyDir(), "/pub/my \"files\"");
    EXPECT_EQ(server.commands(), (Transcript {"USER bob", "CWD pub"}));
}

TEST(FtpScript, ADigitLineInsideAMultiLineReplyEndsItEarly)
{
    ScriptServer server([](ScriptSession &s) {
        s.send("220 Ready\r\n");
        s.command();
        s.send("230-Welcome\r\n100 users online\r\n230 Logged in\r\n");
    });
    FtpHarness h(server.port());
    h.client.ConnectAsync();
    EXPECT_EQ(h.waitDone(), 100) << "100 is not an answer USER accepts";
    EXPECT_EQ(h.client.ReplyCode(), 100);
    EXPECT_EQ(h.client.ErrorMessage, "100 users online");
    ASSERT_TRUE(test::runUntil([&] { return h.traced("< 230 Logged in"); }))
        << "the rest arrives while idle and is only traced";
    EXPECT_EQ(h.client.State(), ftpReady);
    EXPECT_EQ(server.commands(), (Transcript {"USER bob"}));
}

TEST(FtpScript, RefusedRestFetchesTheWholeFileFromThePeerNotFromThePasvAddress)
{
    const std::string content(10000, 'z');
    ScriptServer server([&](ScriptSession &s) {
        logOn(s);
        s.command(); // PASV
        const uint16_t port = s.openPassive();
        s.send(pasvReply(port)); // names 10.0.0.5, which must not be used
        s.command(); // REST
        s.send("502 Command not implemented\r\n");
        s.command(); // RETR
        s.acceptData();
        s.send("150 Opening data connection\r\n");
        s.sendData(content);
        s.closeData();
        s.send("226 Transfer complete\r\n");
    });
    test::TempDir dir;
    const std::string local = (dir.path() / "f.bin").string();
    test::writeFile(local, "PARTIAL");
    FtpHarness h(server.port());
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0);
    h.client.HostFileName = "f.bin";
    h.client.SetLocalFileName(local);
    h.client.RestGetAsync();
    ASSERT_EQ(h.waitDone(), 0);
    EXPECT_EQ(h.done.back().first, ftpRestGetAsync);
    EXPECT_TRUE(test::readFile(local) == content) << "a fresh file, not PARTIAL + content";
    EXPECT_EQ(h.client.ResumeOffset(), 0);
    EXPECT_EQ(server.commands(), (Transcript {"USER bob", "PASV", "REST 7", "RETR f.bin"}));
}

TEST(FtpScript, HighLevelGetWithQuitReportsTheTransferReply)
{
    ScriptServer server([](ScriptSession &s) {
        s.send("220 Ready\r\n");
        s.command();
        s.send("331 Password required\r\n");
        s.command();
        s.send("230 Logged in\r\n");
        serveTransfer(s, "abc");
        s.command();
        s.send("221 Bye\r\n");
    });
    test::TempDir dir;
    FtpHarness h(server.port());
    h.client.HostFileName = "a.txt";
    h.client.SetLocalFileName((dir.path() / "a.txt").string());
    h.client.HighLevelAsync(ftpGetAsync, fct(ftpFctOpen) | fct(ftpFctUser) | fct(ftpFctPass)
                                             | fct(ftpFctPort) | fct(ftpFctGet) | fct(ftpFctQuit));
    ASSERT_EQ(h.waitDone(), 0);
    EXPECT_EQ(h.client.LastReply(), "226 Transfer complete");
    EXPECT_EQ(h.client.ReplyCode(), 226);
    EXPECT_FALSE(h.client.Connected());
    EXPECT_EQ(test::readFile(dir.path() / "a.txt"), "abc");
    EXPECT_TRUE(std::any_of(h.trace.begin(), h.trace.end(), [](const std::string &t) {
        return t.rfind("! 3 bytes received/sent in 0 seconds", 0) == 0;
    }));
    EXPECT_EQ(server.commands(), (Transcript {"USER bob", "PASS secret", "PASV", "RETR a.txt", "QUIT"}));
}

TEST(FtpScript, ActiveModeNamesTheLoopbackAddressAndTakesTheServersConnection)
{
    ScriptServer server([](ScriptSession &s) {
        logOn(s);
        const std::string port = s.command();
        s.send("200 PORT command successful\r\n");
        s.command(); // LIST
        s.connectData(port);
        s.send("150 Here comes the listing\r\n");
        s.sendData("-rw-r--r-- 1 u g 3 Jan 01 2001 a.txt\r\n");
        s.closeData();
        s.send("226 Directory send OK\r\n");
    });
    test::TempDir dir;
    FtpHarness h(server.port());
    h.client.SetPassive(false);
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0);
    h.client.SetLocalFileName((dir.path() / "TAMBRELO.DIR").string());
    h.client.DirAsync();
    ASSERT_EQ(h.waitDone(), 0);
    EXPECT_EQ(test::readFile(dir.path() / "TAMBRELO.DIR"), "-rw-r--r-- 1 u g 3 Jan 01 2001 a.txt\r\n");
    const Transcript commands = server.commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[1].rfind("PORT 127,0,0,1,", 0), 0u) << commands[1];
    EXPECT_EQ(commands[2], "LIST");
}

TEST(FtpScript, DisplayFileModesHandOutChunksAndLines)
{
    const std::string stream(2049, 'q');
    ScriptServer server([&](ScriptSession &s) {
        logOn(s);
        serveTransfer(s, stream);
        serveTransfer(s, "one\r\ntwo\nthree");
    });
    FtpHarness h(server.port());
    std::vector<std::string> texts;
    h.client.OnDisplayFile = [&](TCustomFtpCli &, const std::string &text) { texts.push_back(text); };
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0);
    h.client.DisplayFileFlag = true;
    h.client.SetDisplayFileMode(ftpBinary);
    h.client.HostFileName = "FIND";
    h.client.GetAsync();
    ASSERT_EQ(h.waitDone(), 0);
    std::string joined;
    for (const std::string &text : texts) {
        EXPECT_LE(text.size(), 2048u);
        joined += text;
    }
    EXPECT_EQ(joined, stream);
    EXPECT_GE(texts.size(), 2u);

    texts.clear();
    h.client.SetDisplayFileMode(ftpLineByLine);
    h.client.GetAsync();
    ASSERT_EQ(h.waitDone(), 0);
    EXPECT_EQ(texts, (Transcript {"one", "two", "three"}));
}

TEST(FtpScript, PeerClosingMidTransferIsAFailure)
{
    ScriptServer server([](ScriptSession &s) {
        logOn(s);
        s.command();
        const uint16_t port = s.openPassive();
        s.send(pasvReply(port));
        s.command();
        s.acceptData();
        s.send("150 Opening data connection\r\n");
        s.sendData(std::string(10000, 'p'));
        s.closeData();
        s.closeControl();
    });
    test::TempDir dir;
    FtpHarness h(server.port());
    int closedEvents = 0;
    h.client.OnSessionClosed = [&](TCustomFtpCli &, int) { ++closedEvents; };
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0);
    h.client.HostFileName = "big";
    h.client.SetLocalFileName((dir.path() / "big").string());
    h.client.GetAsync();
    EXPECT_NE(h.waitDone(), 0);
    EXPECT_EQ(h.client.ReplyCode(), 500);
    EXPECT_FALSE(h.client.Connected());
    EXPECT_EQ(h.client.State(), ftpReady);
    EXPECT_EQ(closedEvents, 1);
}

TEST(FtpScript, ReplyLineLongerThanTheBufferEndsTheConnection)
{
    ScriptServer server([](ScriptSession &s) {
        s.send("220 Ready\r\n");
        s.command();
        s.send(std::string(5000, 'x'));
    });
    FtpHarness h(server.port());
    h.client.ConnectAsync();
    EXPECT_EQ(h.waitDone(), 500);
    EXPECT_FALSE(h.client.Connected());
    EXPECT_EQ(h.client.LastReply(), "500 Reply line longer than 4095 bytes");
}

TEST(FtpScript, UnexpectedRepliesFailTheRequestOrAreOnlyTraced)
{
    {
        ScriptServer server([](ScriptSession &s) { s.send("421 Too many users\r\n"); });
        FtpHarness h(server.port());
        h.client.ConnectAsync();
        EXPECT_EQ(h.waitDone(), 421);
        EXPECT_FALSE(h.client.Connected());
        EXPECT_EQ(h.client.ErrorMessage, "421 Too many users");
        EXPECT_TRUE(server.commands().empty());
    }
    ScriptServer server([](ScriptSession &s) {
        logOn(s);
        s.send("200 Unasked\r\n");
        s.command();
        s.send("550 No such folder\r\n");
    });
    FtpHarness h(server.port());
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0);
    ASSERT_TRUE(test::runUntil([&] { return h.traced("< 200 Unasked"); }));
    EXPECT_EQ(h.client.State(), ftpReady);
    h.client.HostDirName = "missing";
    h.client.CwdAsync();
    EXPECT_EQ(h.waitDone(), 550);
    EXPECT_EQ(h.client.ErrorMessage, "550 No such folder");
    EXPECT_EQ(h.client.ReplyDir(), "");
}

TEST(FtpScript, MisuseIsRefusedAtOnceAndSendsNothing)
{
    ScriptServer server([](ScriptSession &s) { logOn(s); });
    FtpHarness h(server.port());
    auto message = [](auto call) {
        try {
            call();
        } catch (const FtpException &e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message([&] { h.client.CwdAsync(); }), "HostDirName emtpy");
    h.client.HostDirName = "x";
    EXPECT_EQ(message([&] { h.client.CwdAsync(); }), "FTP component not connected");
    h.client.UserName.clear();
    EXPECT_EQ(message([&] { h.client.ConnectAsync(); }), "UserName emtpy");
    h.client.UserName = "bob";

    h.client.ConnectAsync();
    EXPECT_EQ(message([&] { h.client.ConnectAsync(); }), "FTP component not ready");
    ASSERT_EQ(h.waitDone(), 0);
    EXPECT_EQ(message([&] { h.client.ConnectAsync(); }), "FTP component already connected");
    EXPECT_EQ(message([&] { h.client.GetAsync(); }), "LocalFileName empty");
    EXPECT_EQ(h.client.State(), ftpReady);
    test::runUntil([] { return false; }, 100);
    EXPECT_EQ(h.done.size(), 1u) << "a refused request reports nothing";
    EXPECT_EQ(server.commands(), (Transcript {"USER bob"}));
}

TEST(FtpScript, RefusedConnectionReportsTheWinsockText)
{
    const uint16_t port = test::freePort();
    FtpHarness h(port);
    h.client.ConnectAsync();
    EXPECT_EQ(h.waitDone(), 10061);
    EXPECT_EQ(h.client.LastReply(), "500 Connection refused (Winsock error #10061)");
    EXPECT_EQ(h.client.ReplyCode(), 500);
    EXPECT_EQ(h.client.State(), ftpReady);
}

} // namespace
} // namespace veltrano

namespace veltrano {
namespace {

TEST(FtpScript, SynchronousAbortDropsATransferWithoutACompletion)
{
    ScriptServer server([](test::ScriptSession &s) {
        logOn(s);
        s.command();
        const uint16_t port = s.openPassive();
        s.send(pasvReply(port));
        s.command();
        s.acceptData();
        s.send("150 Opening data connection\r\n");
        s.sendData(std::string(5000, 'a')); // and then nothing more: the client must give up
    });
    test::TempDir dir;
    FtpHarness h(server.port());
    int64_t seen = 0;
    h.client.OnProgress = [&](TCustomFtpCli &, int64_t count, bool &) { seen = count; };
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0);
    h.client.HostFileName = "stalled";
    h.client.SetLocalFileName((dir.path() / "stalled").string());
    h.client.GetAsync();
    ASSERT_TRUE(test::runUntil([&] { return seen >= 4096; }));
    EXPECT_TRUE(h.client.Abort());
    EXPECT_EQ(h.client.State(), ftpReady);
    EXPECT_FALSE(h.client.Connected());
    EXPECT_EQ(h.client.RequestType(), ftpRqAbort);
    test::runUntil([] { return false; }, 200);
    EXPECT_EQ(h.done.size(), 1u) << "an abort has no completion of its own";
    EXPECT_EQ(fs::file_size(dir.path() / "stalled"), 5000u) << "what came in stays for a resume";
}

} // namespace
} // namespace veltrano
