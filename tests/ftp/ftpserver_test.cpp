// The client against a real FTP server (pyftpdlib from Debian's packages) on 127.0.0.1.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include <QTimer>

#include "protocol/listparse.h"
#include "ftpharness.h"
#include "support/tempdir.h"

namespace veltrano {
namespace {

namespace fs = std::filesystem;
using test::FtpHarness;

constexpr const char *kUser = "user";
constexpr const char *kPassword = "pass word";

std::string patternBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

bool sameFile(const fs::path &a, const fs::path &b)
{
    return fs::file_size(a) == fs::file_size(b) && test::readFile(a) == test::readFile(b);
}

class FtpServer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        test::ensureApplication();
        if (!fs::exists("/usr/bin/python3"))
            return;
        s_root = std::make_unique<test::TempDir>();
        fs::create_directory(s_root->path() / "sub");
        test::writeFile(s_root->path() / "small.txt", "hello\nworld\n");
        test::writeFile(s_root->path() / "sub" / "inner.txt", "inner");
        test::writeFile(s_root->path() / "five.bin", patternBytes(5 * 1024 * 1024, 5));

        s_server = std::make_unique<test::PyFtpd>(s_root->path(), kUser, kPassword);
        s_port = s_server->port();
        s_running = s_server->up();
    }

    static void TearDownTestSuite()
    {
        s_server.reset();
        s_root.reset();
    }

    void SetUp() override
    {
        if (!s_running)
            GTEST_SKIP() << "pyftpdlib could not be started with /usr/bin/python3";
    }

    // Logged on, binary type, passive unless told otherwise.
    std::unique_ptr<FtpHarness> logOn(bool passive = true)
    {
        auto h = std::make_unique<FtpHarness>(s_port);
        h->client.UserName = kUser;
        h->client.PassWord = kPassword;
        h->client.SetPassive(passive);
        h->client.HighLevelAsync(ftpConnectAsync, fct(ftpFctOpen) | fct(ftpFctUser) | fct(ftpFctPass)
                                                      | fct(ftpFctTypeSet));
        EXPECT_EQ(h->waitDone(), 0) << h->client.LastReply();
        return h;
    }

    static fs::path served(const std::string &name) { return s_root->path() / name; }

    test::TempDir m_local;

    static inline std::unique_ptr<test::TempDir> s_root;
    static inline std::unique_ptr<test::PyFtpd> s_server;
    static inline uint16_t s_port = 0;
    static inline bool s_running = false;
};

TEST_F(FtpServer, LogsOnChangesFolderListsIntoAFileAndQuits)
{
    auto h = logOn();
    h->client.HostDirName = "sub";
    h->client.CwdAsync();
    ASSERT_EQ(h->waitDone(), 0);
    h->client.HostDirName = "/sub";
    h->client.HighLevelAsync(ftpPwdAsync, fct(ftpFctPwd));
    ASSERT_EQ(h->waitDone(), 0);
    EXPECT_EQ(h->client.ReplyDir(), "/sub");

    const fs::path listing = m_local.path() / "TAMBRELO.DIR";
    h->client.HostFileName.clear();
    h->client.SetLocalFileName(listing.string());
    h->client.DirAsync();
    ASSERT_EQ(h->waitDone(), 0) << h->client.ErrorMessage;
    EXPECT_EQ(h->done.back().first, ftpDirAsync);
    const Listing parsed = parseListingFile(listing, CodePage("UTF-8"));
    ASSERT_EQ(parsed.entries.size(), 1u) << test::readFile(listing);
    EXPECT_EQ(parsed.entries[0].name(), "inner.txt");
    EXPECT_EQ(parsed.entries[0].Size, 5u);

    EXPECT_TRUE(h->client.Quit());
    EXPECT_EQ(h->client.ReplyCode(), 221);
    EXPECT_FALSE(h->client.Connected());
}

TEST_F(FtpServer, RetrievesInPassiveAndActiveMode)
{
    for (const bool passive : {true, false}) {
        auto h = logOn(passive);
        const fs::path local = m_local.path() / (passive ? "passive.txt" : "active.txt");
        h->client.HostFileName = "small.txt";
        h->client.SetLocalFileName(local.string());
        h->client.GetAsync();
        ASSERT_EQ(h->waitDone(), 0) << h->client.ErrorMessage;
        EXPECT_TRUE(sameFile(local, served("small.txt"))) << (passive ? "passive" : "active");
        EXPECT_EQ(h->client.ReplyCode(), 226);
        EXPECT_EQ(h->client.ByteCount(), 12);
    }
}

TEST_F(FtpServer, RestGetResumesAPartialFileIntoAnIdenticalCopy)
{
    auto h = logOn();
    const fs::path local = m_local.path() / "five.bin";
    const std::string whole = test::readFile(served("five.bin"));
    test::writeFile(local, whole.substr(0, 1234567));
    int64_t firstCount = -1;
    h->client.OnProgress = [&](TCustomFtpCli &, int64_t count, bool &) {
        if (firstCount < 0)
            firstCount = count;
    };
    h->client.HostFileName = "five.bin";
    h->client.SetLocalFileName(local.string());
    h->client.RestGetAsync();
    ASSERT_EQ(h->waitDone(), 0) << h->client.ErrorMessage;
    EXPECT_TRUE(h->traced("> REST 1234567"));
    EXPECT_EQ(firstCount, 1234567) << "progress counts from the resume offset";
    EXPECT_EQ(h->client.ByteCount(), int64_t(whole.size()) - 1234567);
    EXPECT_TRUE(sameFile(local, served("five.bin")));
}

TEST_F(FtpServer, FetchesAFiveMegabyteFileWithRisingProgress)
{
    auto h = logOn(false);
    int64_t last = -1;
    bool rising = true;
    h->client.OnProgress = [&](TCustomFtpCli &, int64_t count, bool &) {
        rising = rising && count >= last;
        last = count;
    };
    const fs::path local = m_local.path() / "five-active.bin";
    h->client.HostFileName = "five.bin";
    h->client.SetLocalFileName(local.string());
    h->client.GetAsync();
    ASSERT_EQ(h->waitDone(), 0) << h->client.ErrorMessage;
    EXPECT_TRUE(rising);
    EXPECT_TRUE(sameFile(local, served("five.bin")));
}

TEST_F(FtpServer, AbortFromTheProgressEventFailsTheTransferAndKeepsTheSession)
{
    auto h = logOn();
    h->client.OnProgress = [&](TCustomFtpCli &, int64_t count, bool &abort) { abort = count > 100000; };
    h->client.HostFileName = "five.bin";
    h->client.SetLocalFileName((m_local.path() / "aborted.bin").string());
    h->client.GetAsync();
    const int error = h->waitDone();
    EXPECT_NE(error, 0);
    EXPECT_NE(error, -1) << "the request must complete";
    const auto abortLine = std::find(h->trace.begin(), h->trace.end(), "! Abort requested");
    ASSERT_NE(abortLine, h->trace.end());
    EXPECT_EQ(std::count(h->trace.begin(), h->trace.end(), "! Abort requested"), 1);
    EXPECT_LT(fs::file_size(m_local.path() / "aborted.bin"), fs::file_size(served("five.bin")));

    // The control connection survives: the server's late reply is traced and CWD works.
    h->client.OnProgress = nullptr;
    test::runUntil([] { return false; }, 200);
    h->client.HostDirName = "sub";
    h->client.CwdAsync();
    EXPECT_EQ(h->waitDone(), 0) << h->client.LastReply();
}

TEST_F(FtpServer, FiftyMegabytesNeverStallTheEventLoop)
{
    const fs::path big = served("fifty.bin");
    {
        std::ofstream out(big, std::ios::binary);
        const std::string block = patternBytes(1024 * 1024, 50);
        for (int i = 0; i < 50; ++i)
            out.write(block.data(), std::streamsize(block.size()));
    }
    auto h = logOn();
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastTick = Clock::now();
    Clock::duration longestGap {};
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        const Clock::time_point now = Clock::now();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    const fs::path local = m_local.path() / "fifty.bin";
    h->client.HostFileName = "fifty.bin";
    h->client.SetLocalFileName(local.string());
    const Clock::time_point start = Clock::now();
    lastTick = start;
    ticker.start(10);
    h->client.GetAsync();
    ASSERT_EQ(h->waitDone(60000), 0) << h->client.ErrorMessage;
    const Clock::time_point end = Clock::now();
    const double seconds = std::chrono::duration<double>(end - start).count();
    ticker.stop();
    longestGap = std::max(longestGap, end - lastTick); // the stretch up to the end counts too
    const auto gapMs = std::chrono::duration_cast<std::chrono::milliseconds>(longestGap).count();
    std::cout << "50 MB over loopback in " << seconds << " s (" << 50 / seconds
              << " MB/s); longest timer gap " << gapMs << " ms\n";
    EXPECT_LT(gapMs, 100);
    EXPECT_EQ(fs::file_size(local), fs::file_size(big));
    fs::remove(big);
}

} // namespace
} // namespace veltrano
