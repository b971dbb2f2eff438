// The server's dialogue without sockets: transcripts of replies, argument readers, and random
// command lines that must never do more than earn an error reply.
#include <filesystem>
#include <random>

#include <crypt.h>

#include <gtest/gtest.h>

#include "server/ftpcommand.h"
#include "server/ftpsession.h"
#include "support/tempdir.h"
#include "util/error.h"

namespace veltrano {
namespace {

namespace fs = std::filesystem;
using Action = FtpSession::Action;

constexpr uint32_t kPeer = 0x7F000001;

std::string hashOf(const char *password, const char *prefix)
{
    return crypt(password, crypt_gensalt(prefix, 0, nullptr, 0));
}

int codeOf(const std::string &reply)
{
    return reply.size() >= 3 ? std::stoi(reply.substr(0, 3)) : -1;
}

class Session : public ::testing::Test
{
protected:
    Session()
        : m_shares(makeShares(m_dir))
        , m_users(UserDb::parse("bob:" + hashOf("pw", "$y$") + "\n"))
        , m_session(m_shares, m_users, kPeer, {})
    { }

    static ShareMap makeShares(const test::TempDir &dir)
    {
        fs::create_directories(dir.path() / "sub");
        test::writeFile(dir.path() / "a.txt", "0123456789");
        return ShareMap::parse("\\\\PC\\s=" + dir.path().string() + "\n", CodePage("UTF-8"));
    }

    // The reply code of one command line.
    int send(std::string_view line) { return codeOf(m_session.handle(line).reply); }

    void logIn()
    {
        send("USER bob");
        ASSERT_EQ(m_session.handle("PASS pw").action, Action::CheckPassword);
        const std::string password = m_session.takePassword();
        ASSERT_EQ(codeOf(m_session.passwordChecked(m_users.check("bob", password)).reply), 230);
    }

    test::TempDir m_dir;
    ShareMap m_shares;
    UserDb m_users;
    FtpSession m_session;
};

TEST_F(Session, NothingButLogOnBeforeLogOnAndNothingWrittenAfter)
{
    for (const char *line :
            {"LIST", "RETR \\\\PC\\s\\a.txt", "CWD /PC", "OPENFIND x", "CHECKEXIST /PC/s/a.txt"})
        EXPECT_EQ(send(line), 530) << line;
    EXPECT_EQ(send("PASS pw"), 503);
    logIn();
    for (const char *line : {"STOR x", "DELE a.txt", "MKD new", "RNFR a.txt"})
        EXPECT_EQ(send(line), 550) << line;
    EXPECT_EQ(send("XYZZY"), 502);
    EXPECT_EQ(send(std::string("RETR a\0b", 8)), 500);
    EXPECT_EQ(send(std::string(kMaxCommandLine + 1, 'A')), 500);
}

TEST_F(Session, WrongPasswordsEndTheConnectionAfterThreeTries)
{
    send("USER bob");
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(m_session.handle("PASS nope").action, Action::CheckPassword);
        const FtpSession::Step step =
                m_session.passwordChecked(m_users.check("bob", m_session.takePassword()));
        EXPECT_EQ(codeOf(step.reply), 530);
        EXPECT_EQ(step.action, i == 3 ? Action::Close : Action::None);
        send("USER bob");
    }
}

TEST_F(Session, FilesGoOutOverADataConnectionFromTheRestartOffset)
{
    logIn();
    EXPECT_EQ(send("RETR /PC/s/a.txt"), 425); // no PASV or PORT yet
    EXPECT_EQ(send("PORT 10,0,0,9,200,1"), 504); // not the client's own address
    EXPECT_EQ(send("PORT 127,0,0,1,200,1"), 200);
    EXPECT_EQ(send("CWD \\\\PC\\s\\sub\\"), 250);
    EXPECT_EQ(send("PWD"), 257);
    EXPECT_EQ(send("REST 4"), 350);
    const FtpSession::Step step = m_session.handle("RETR ..\\a.txt");
    ASSERT_EQ(codeOf(step.reply), 150);
    ASSERT_EQ(step.action, Action::Transfer);
    const FtpSession::Transfer t = m_session.takeTransfer();
    EXPECT_TRUE(t.file.valid());
    EXPECT_EQ(t.offset, 4u);
    EXPECT_EQ(t.size, 10u);
    EXPECT_FALSE(t.passive);
    EXPECT_EQ(send("NOOP"), 200);
    EXPECT_EQ(send("PWD"), 450); // one thing at a time
    EXPECT_EQ(codeOf(m_session.transferDone(true, "")), 226);

    EXPECT_EQ(send("SIZE /PC/s/a.txt"), 213);
    EXPECT_EQ(send("SIZE /PC/s/sub"), 550);
    EXPECT_EQ(send("EPRT |1|127.0.0.1|50000|"), 200);
    EXPECT_EQ(send("REST 11"), 350);
    EXPECT_EQ(send("RETR /PC/s/a.txt"), 554);
}

TEST_F(Session, ASearchIsAnsweredWith700AndItsStreamIsTheFileFind)
{
    logIn();
    for (const char *bad : {"OPENFIND", "OPENFIND garbage",
                 "OPENFIND 檔名,包含,a;無,檔案大小,大於,;無,修改日期,大於,;",
                 "OPENFIND 檔名,包含,a;無,檔案大小,大於,;無,修改日期,大於,;2,x;",
                 "OPENFIND 檔名,包含,a;無,檔案大小,大於,;無,修改日期,大於,;1,0;",
                 "OPENFIND 檔名,包含,a;無,檔案大小,大於,;無,修改日期,大於,;6,10001;",
                 "OPENFIND 檔名,包含,;無,檔案大小,大於,;無,修改日期,大於,;0,0;",
                 "OPENFIND 檔案大小,包含,5;無,檔案大小,大於,;無,修改日期,大於,;0,0;"})
        EXPECT_EQ(send(bad), 501) << bad;

    const FtpSession::Step step =
            m_session.handle("OPENFIND 檔名,包含,a;且,檔案大小,大於,1;無,修改日期,大於,;6,3;");
    ASSERT_EQ(step.action, Action::Search);
    EXPECT_EQ(m_session.search().options, 6);
    EXPECT_EQ(m_session.search().minHits, 3);
    EXPECT_EQ(m_session.search().conds[1].SizeKey, 1024);
    EXPECT_EQ(codeOf(m_session.searchDone("?H0<0\n?E")), 700);
    EXPECT_EQ(send("SIZE FIND"), 213);
    EXPECT_EQ(send("PASV"), -1); // the shell answers once its port is open
    m_session.passiveOpened({kPeer, 40000});
    ASSERT_EQ(m_session.handle("RETR FIND").action, Action::Transfer);
    EXPECT_EQ(m_session.takeTransfer().bytes, "?H0<0\n?E");
}

TEST(FtpArguments, PortAndEprtTakeOnlyWellFormedIPv4)
{
    EXPECT_EQ(parsePortArgument("127,0,0,1,4,1")->port, 1025);
    EXPECT_EQ(parsePortArgument("127,0,0,1,4,1")->address, kPeer);
    EXPECT_EQ(parseEprtArgument("|1|127.0.0.1|1025|")->address, kPeer);
    for (const char *bad : {"", "1,2,3,4,5", "1,2,3,4,5,6,7", "256,0,0,1,4,1", "1,2,3,4,0,0",
                 "a,b,c,d,e,f", "1,2,3,4,5,-6", "1,2,3,4,5,99999"})
        EXPECT_FALSE(parsePortArgument(bad)) << bad;
    for (const char *bad : {"", "|2|::1|1025|", "|1|127.0.0.1|0|", "|1|127.0.0|1025|",
                 "|1|127.0.0.1|70000|", "|1|"})
        EXPECT_FALSE(parseEprtArgument(bad)) << bad;
    EXPECT_FALSE(parseRestArgument("-1"));
    EXPECT_FALSE(parseRestArgument("99999999999999999999"));
}

// Random command lines from the verbs and the bytes attacks use; every line must get a
// well-formed reply or a request of the shell, and the shell's answers keep it going.
TEST_F(Session, RandomCommandLinesOnlyEverEarnReplies)
{
    static const char *kVerbs[] = {"USER", "PASS", "CWD", "CDUP", "PWD", "LIST", "NLST", "RETR",
            "SIZE", "MDTM", "REST", "TYPE", "PASV", "EPSV", "PORT", "EPRT", "ABOR", "NOOP", "SYST",
            "FEAT", "OPENFIND", "CHECKEXIST", "STOR", "OPTS", "retr", "X"};
    static const std::string kPieces[] = {"..", "\\", "/", "\\\\PC\\s", "a.txt", "sub",
            std::string(1, '\0'), "\xA5\x5C", "\xFF\xF4", ",", ";", "<", "?", "檔名", "包含", "且",
            "0", "65535", "-1", "127,0,0,1,4,1", "|1|127.0.0.1|1025|", " ", "\r", "999999999999"};
    std::mt19937 rng(20261209);
    for (int round = 0; round < 20000; ++round) {
        std::string line = kVerbs[rng() % std::size(kVerbs)];
        const int pieces = int(rng() % 6);
        if (pieces > 0)
            line += ' ';
        for (int k = 0; k < pieces; ++k)
            line += kPieces[rng() % std::size(kPieces)];
        if (rng() % 50 == 0)
            line.assign(rng() % 9000, char(rng()));
        const FtpSession::Step step = m_session.handle(line + "\r\n");
        std::string replies = step.reply;
        switch (step.action) {
        case Action::CheckPassword:
            m_session.takePassword();
            replies += m_session.passwordChecked(rng() % 2).reply;
            break;
        case Action::OpenPassive:
            replies +=
                    rng() % 4 ? m_session.passiveOpened({kPeer, 40000}) : m_session.passiveFailed();
            break;
        case Action::Transfer:
            m_session.takeTransfer();
            replies += m_session.transferDone(rng() % 2, "closed");
            break;
        case Action::Search:
            replies += m_session.searchDone("?A\n?E");
            break;
        default:
            break;
        }
        ASSERT_GE(replies.size(), 6u) << line;
        ASSERT_EQ(replies.substr(replies.size() - 2), "\r\n") << line;
        ASSERT_GE(codeOf(replies), 100) << line;
        ASSERT_TRUE(replies[3] == ' ' || replies[3] == '-') << line;
        if (step.action == Action::Close)
            m_session.handle("USER bob");
    }
}

} // namespace
} // namespace veltrano
