// veltrano-server as a program, against the program's own FTP client, curl and Python's ftplib.
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>

#include <crypt.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "cache/collector.h"
#include "cache/synthcache.h"
#include "ftp/ftpharness.h"
#include "protocol/findstream.h"
#include "protocol/listparse.h"
#include "serverprocess.h"
#include "support/clirun.h"
#include "support/tempdir.h"
#include "util/datetime.h"

namespace veltrano {
namespace {

namespace fs = std::filesystem;
using test::FtpHarness;

std::string patternBytes(size_t size)
{
    std::string bytes(size, '\0');
    uint32_t x = 12345;
    for (char &b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = char(x >> 24);
    }
    return bytes;
}

// One search result as "name<TAB>size<TAB>folder?<TAB>date" in UTF-8, for comparing lists.
std::string row(std::string_view utf8Name, uint32_t size, bool folder, double time)
{
    return fmt::format("{}\t{}\t{}\t{}", utf8Name, folder ? 0 : size, folder, formatDateTime(time));
}

// What veltrano-cli search lists, in the same rows.
std::vector<std::string> cliRows(const fs::path &cache, const std::string &conditions)
{
    const test::CliRun run =
            test::runCommand(fmt::format("'{}' search --format tsv --threads 1 --cache '{}' {}",
                    VELTRANO_CLI, cache.string(), conditions));
    std::vector<std::string> rows;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');)
            f.push_back(x);
        if (f.size() >= 4)
            rows.push_back(fmt::format("{}\t{}\t{}\t{}", f[0],
                    (std::stoul(f[2]) & kAttrDirectory) ? "0" : f[1],
                    (std::stoul(f[2]) & kAttrDirectory) != 0, f[3]));
    }
    return rows;
}

// The stream of one search by an anonymous client of the program's own; empty on a failure.
std::string anonymousSearch(uint16_t port, const std::string &argument)
{
    FtpHarness h(port);
    h.client.UserName = "anonymous";
    h.client.PassWord = "guest@";
    h.client.ConnectAsync();
    EXPECT_EQ(h.waitDone(), 0) << h.client.LastReply();
    h.client.SetLocalFileName("OPENFIND " + argument);
    h.client.QuoteAsync();
    h.waitDone();
    EXPECT_EQ(h.client.ReplyCode(), 700) << h.client.LastReply();
    if (h.client.ReplyCode() != 700)
        return {};
    std::string bytes;
    h.client.OnDisplayFile = [&](TCustomFtpCli &, const std::string &chunk) {
        bytes += chunk;
    };
    h.client.DisplayFileFlag = true;
    h.client.SetDisplayFileMode(ftpBinary);
    h.client.HostFileName = "FIND";
    h.client.GetAsync();
    EXPECT_EQ(h.waitDone(), 0);
    return bytes;
}

class Server : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        test::ensureApplication();
        s_dir = std::make_unique<test::TempDir>();
        const fs::path share = s_dir->path() / "docs";
        fs::create_directories(share / "sub");
        fs::create_directories(s_dir->path() / "secret");
        test::writeFile(share / "report.txt", "report");
        test::writeFile(share / "sub" / "notes.txt", "notes");
        test::writeFile(share / "中文報告.txt", "chinese");
        test::writeFile(share / "big.bin", patternBytes(3 * 1024 * 1024 + 17));
        test::writeFile(s_dir->path() / "secret" / "key.txt", "secret");
        fs::create_directory_symlink(s_dir->path() / "secret", share / "out");

        CollectOptions options;
        options.cacheRoot = s_dir->path() / "Cache";
        options.resolveAddresses = false;
        collectShares({parseShareSpec("\\\\PC1\\docs=" + share.string())}, options);
        test::writeFile(s_dir->path() / "shares", "\\\\PC1\\docs=" + share.string() + "\n");
        test::writeFile(s_dir->path() / "users",
                std::string("bob:") + crypt("pw", crypt_gensalt("$y$", 0, nullptr, 0)) + "\n");
        s_server = std::make_unique<test::ServerProcess>(std::vector<std::string>{"--cache",
                options.cacheRoot.string(), "--shares", (s_dir->path() / "shares").string(),
                "--users", (s_dir->path() / "users").string(), "--codepage", "UTF-8"});
    }
    static void TearDownTestSuite()
    {
        s_server.reset();
        s_dir.reset();
    }
    void SetUp() override { ASSERT_TRUE(s_server->up()); }

    static uint16_t port() { return s_server->port(); }
    static fs::path served(const std::string &name) { return s_dir->path() / "docs" / name; }

    std::unique_ptr<FtpHarness> logOn(const char *password = "pw")
    {
        auto h = std::make_unique<FtpHarness>(port());
        h->client.UserName = "bob";
        h->client.PassWord = password;
        h->client.HighLevelAsync(ftpConnectAsync,
                fct(ftpFctOpen) | fct(ftpFctUser) | fct(ftpFctPass) | fct(ftpFctTypeSet));
        m_logOnError = h->waitDone();
        return h;
    }

    int m_logOnError = -1;
    test::TempDir m_local;
    static inline std::unique_ptr<test::TempDir> s_dir;
    static inline std::unique_ptr<test::ServerProcess> s_server;
};

TEST_F(Server, OwnClientSearchesChecksBrowsesAndResumes)
{
    auto h = logOn();
    ASSERT_EQ(m_logOnError, 0) << h->client.LastReply();

    // Search: OPENFIND, 700, then the pseudo file FIND read by the program's stream reader.
    h->client.SetLocalFileName("OPENFIND 檔名,包含,t;無,檔案大小,大於,;無,修改日期,大於,;0,0;");
    h->client.QuoteAsync();
    h->waitDone(); // the client counts any reply from 500 up as an error; the code tells
    ASSERT_EQ(h->client.ReplyCode(), 700) << h->client.LastReply();
    FindStream stream{CodePage("UTF-8")};
    bool parsed = false;
    stream.setResultsHandler([&] {
        parsed = true;
    });
    stream.start();
    h->client.OnDisplayFile = [&](TCustomFtpCli &, const std::string &chunk) {
        stream.feed(chunk);
    };
    h->client.DisplayFileFlag = true;
    h->client.SetDisplayFileMode(ftpBinary);
    h->client.HostFileName = "FIND";
    h->client.GetAsync();
    ASSERT_EQ(h->waitDone(), 0) << h->client.LastReply();
    ASSERT_TRUE(parsed);
    EXPECT_EQ(stream.lastError(), "");
    std::vector<std::string> rows;
    for (const TItemData &item : stream.results())
        rows.push_back(row(item.name(), item.Size, item.isDirectory(), item.Time));
    const std::vector<std::string> expected = cliRows(s_dir->path() / "Cache", "name contains t");
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(stream.foundFiles(), 3);
    h->client.DisplayFileFlag = false;

    // Existence checks before a download.
    for (const auto &[path, code] : std::vector<std::pair<std::string, int>>{
                 {"\\\\PC1\\docs\\big.bin", 800}, {"\\\\PC1\\docs\\gone.bin", 810},
                 {"\\\\PC1\\docs\\out\\key.txt", 820}, {"\\\\PC7\\x", 820}}) {
        h->client.SetLocalFileName("CHECKEXIST " + path);
        h->client.QuoteAsync();
        h->waitDone();
        EXPECT_EQ(h->client.ReplyCode(), code) << path;
    }

    // Browse a folder by its UNC path.
    h->client.HostDirName = "\\\\PC1\\docs\\sub\\";
    h->client.CwdAsync();
    ASSERT_EQ(h->waitDone(), 0) << h->client.LastReply();
    const fs::path listing = m_local.path() / "TAMBRELO.DIR";
    h->client.HostFileName.clear();
    h->client.SetLocalFileName(listing.string());
    h->client.DirAsync();
    ASSERT_EQ(h->waitDone(), 0) << h->client.LastReply();
    const Listing list = parseListingFile(listing, CodePage("UTF-8"));
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].name(), "notes.txt");
    EXPECT_EQ(list.entries[0].Size, 5u);

    // Download a hit by its full UNC path, resuming a partial copy.
    const std::string whole = test::readFile(served("big.bin"));
    const fs::path local = m_local.path() / "big.bin";
    test::writeFile(local, whole.substr(0, 1000001));
    h->client.HostDirName.clear();
    h->client.HostFileName = "\\\\PC1\\docs\\big.bin";
    h->client.SetLocalFileName(local.string());
    h->client.RestGetAsync();
    ASSERT_EQ(h->waitDone(), 0) << h->client.LastReply();
    EXPECT_TRUE(h->traced("> REST 1000001"));
    EXPECT_TRUE(test::readFile(local) == whole);

    // And in active mode: the server connects back to the client's PORT.
    h->client.SetPassive(false);
    h->client.HostFileName = "/PC1/docs/report.txt";
    h->client.SetLocalFileName((m_local.path() / "report.txt").string());
    h->client.GetAsync();
    ASSERT_EQ(h->waitDone(), 0) << h->client.LastReply();
    EXPECT_EQ(test::readFile(m_local.path() / "report.txt"), "report");
}

TEST_F(Server, WrongPasswordIsRefusedAfterADelay)
{
    const auto start = std::chrono::steady_clock::now();
    auto h = logOn("not it");
    EXPECT_NE(m_logOnError, 0);
    EXPECT_EQ(h->client.ReplyCode(), 530);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

// The program's remote commands through the server: the search lists what was collected, and a
// share comes down whole, a file cut short resumed and the link out of the share left behind.
TEST_F(Server, RemoteCommandsSearchAndFetchAShareWithResume)
{
    const std::string url = fmt::format("ftp://bob@127.0.0.1:{}/", port());
    const std::string cli = fmt::format("VELTRANO_FTP_PASSWORD=pw '{}'", VELTRANO_CLI);
    const test::CliRun found = test::runCommand(
            cli + " remote-search --codepage UTF-8 '" + url + "' name contains t");
    ASSERT_EQ(found.status, 0) << found.err;
    for (const char *hit : {"\\\\PC1\\docs\\report.txt\t6\t",
                 "\\\\PC1\\docs\\sub\\notes.txt\t5\t",
                 "\\\\PC1\\docs\\中文報告.txt\t7\t"})
        EXPECT_NE(found.out.find(hit), std::string::npos) << hit << "\n" << found.out;

    const fs::path to = m_local.path();
    const std::string big = patternBytes(3 * 1024 * 1024 + 17);
    test::writeFile(to / "docs" / "big.bin", big.substr(0, 100000));
    const test::CliRun fetched = test::runCommand(cli + " remote-get --codepage UTF-8 --resume '"
            + url + "' '\\\\PC1\\docs\\' --to '" + to.string() + "'");
    ASSERT_EQ(fetched.status, 0) << fetched.err << fetched.out;
    EXPECT_TRUE(test::readFile(to / "docs" / "big.bin") == big);
    EXPECT_EQ(test::readFile(to / "docs" / "report.txt"), "report");
    EXPECT_EQ(test::readFile(to / "docs" / "sub" / "notes.txt"), "notes");
    EXPECT_EQ(test::readFile(to / "docs" / "中文報告.txt"), "chinese");
    EXPECT_FALSE(fs::exists(to / "docs" / "out"));
}

TEST_F(Server, CurlListsAndDownloadsWithResume)
{
    const std::string url = fmt::format("ftp://bob:pw@127.0.0.1:{}/PC1/docs/", port());
    test::CliRun run = test::runCommand("curl -s " + url);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find(" report.txt\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(" out\n"), std::string::npos) << "a link out of the share is not shown";

    const fs::path local = m_local.path() / "big.bin";
    const std::string whole = test::readFile(served("big.bin"));
    test::writeFile(local, whole.substr(0, 777));
    run = test::runCommand(fmt::format("curl -s -C - -o '{}' {}big.bin", local.string(), url));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(test::readFile(local) == whole);
    run = test::runCommand("curl -s " + url + "out/key.txt");
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.out, "");
}

TEST_F(Server, FtplibIsServedAndEveryWayOutIsRefused)
{
    if (!fs::exists("/usr/bin/python3"))
        GTEST_SKIP() << "no /usr/bin/python3";
    const std::string script = R"(
import ftplib, hashlib, io, sys
port, big = int(sys.argv[1]), sys.argv[2]
f = ftplib.FTP()
f.connect('127.0.0.1', port)
try:
    f.login('bob', 'guess')
    print('wrong-password accepted')
except ftplib.error_perm as e:
    print('wrong-password', str(e)[:3])
f = ftplib.FTP()
f.connect('127.0.0.1', port)
f.login('bob', 'pw')
print('nlst', ' '.join(sorted(f.nlst('/PC1/docs'))))
buf = io.BytesIO()
f.retrbinary('RETR /PC1/docs/big.bin', buf.write)
print('same', hashlib.md5(buf.getvalue()).hexdigest() == hashlib.md5(open(big, 'rb').read()).hexdigest())
for path in ['/PC1/docs/../../../etc/passwd', '/etc/passwd', '../../secret/key.txt', '/PC1/docs/out/key.txt',
             '\\\\PC1\\docs\\out\\key.txt', '/PC1/docs/report.txt\0/../../../etc/passwd', 'C:\\Windows\\win.ini']:
    try:
        f.retrbinary('RETR ' + path, lambda b: None)
        print('served', repr(path))
    except ftplib.Error as e:
        print('refused', str(e)[:3])
try:
    print('openfind', f.sendcmd('OPENFIND ;;;'))
except ftplib.Error as e:
    print('openfind', str(e)[:3])
print('noop', f.sendcmd('NOOP')[:3])
f.quit()
)";
    const test::CliRun run = test::runCommand(
            fmt::format("/usr/bin/python3 - {} '{}'", port(), served("big.bin").string()), script);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
            "wrong-password 530\n"
            "nlst big.bin report.txt sub 中文報告.txt\n"
            "same True\n"
            "refused 550\nrefused 550\nrefused 550\nrefused 550\nrefused 550\nrefused 500\nrefused "
            "550\n"
            "openfind 501\n"
            "noop 200\n");
}

// The stream of a search equals, entry for entry, what veltrano-cli search lists for the same
// conditions on the same cache: a Big5 cache with Chinese names, served in Big5.
TEST(ServerSearch, StreamEqualsTheCommandLineSearch)
{
    test::ensureApplication();
    test::TempDir dir;
    SynthCacheSpec spec = SynthCacheSpec::sized(20000, 800, 6);
    spec.chineseNames = 0.3;
    generateSynthCache(dir.path() / "Cache", spec);
    fs::create_directories(dir.path() / "share");
    test::writeFile(
            dir.path() / "shares", "\\\\PC1\\docs=" + (dir.path() / "share").string() + "\n");
    test::writeFile(dir.path() / "users", "anonymous:\n");
    test::ServerProcess server({"--cache", (dir.path() / "Cache").string(), "--shares",
            (dir.path() / "shares").string(), "--users", (dir.path() / "users").string(),
            "--codepage", "CP950", "--max-hits", "100000"});
    ASSERT_TRUE(server.up());
    const CodePage big5("CP950");

    struct Case
    {
        std::string cli;
        std::string command; // UTF-8, sent in Big5
        int options;
    };
    const Case cases[] = {
            {"name contains 報 or ext equals doc",
                    "檔名,包含,報;或,副檔名,等於,doc;無,修改日期,大於,;0,0;", 0},
            {"--only-show-folder --hit-num 3 ext equals txt",
                    "副檔名,等於,txt;無,檔案大小,大於,;無,修改日期,大於,;6,3;", 6},
            {"--hit-exclusive size greater 900 and name contains a",
                    "檔案大小,大於,900;且,檔名,包含,a;無,修改日期,大於,;16,0;", 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cli);
        const std::string bytes = anonymousSearch(server.port(), *big5.fromUtf8(c.command));
        TItemList items;
        FindTotals totals;
        parseFindStream(bytes, false, big5, items, totals);
        std::vector<std::string> rows;
        for (const TItemData &item : items)
            rows.push_back(row(big5.toUtf8(item.name()), item.Size, item.isDirectory(), item.Time));
        const std::vector<std::string> expected = cliRows(dir.path() / "Cache", c.cli);
        EXPECT_GT(expected.size(), 5u);
        EXPECT_EQ(rows, expected);
        EXPECT_EQ(uint64_t(totals.files + totals.folders), expected.size());
    }
}

// A collector that replaces the cache between two searches: the second search finds the new
// file without a restart.
TEST(ServerSearch, ACacheReplacedByTheCollectorIsSearchedAnew)
{
    test::ensureApplication();
    test::TempDir dir;
    fs::create_directories(dir.path() / "share");
    test::writeFile(dir.path() / "share" / "old.txt", "old");
    CollectOptions options;
    options.cacheRoot = dir.path() / "Cache";
    options.resolveAddresses = false;
    const ShareSpec share = parseShareSpec("\\\\PC1\\docs=" + (dir.path() / "share").string());
    collectShares({share}, options);
    test::writeFile(
            dir.path() / "shares", "\\\\PC1\\docs=" + (dir.path() / "share").string() + "\n");
    test::writeFile(dir.path() / "users", "anonymous:\n");
    test::ServerProcess server(
            {"--cache", options.cacheRoot.string(), "--shares", (dir.path() / "shares").string(),
                    "--users", (dir.path() / "users").string(), "--codepage", "UTF-8"});
    ASSERT_TRUE(server.up());

    const std::string search = "檔名,包含,fresh;無,檔案大小,大於,;無,修改日期,大於,;0,0;";
    EXPECT_EQ(anonymousSearch(server.port(), search), "?H0<0\n?E");
    test::writeFile(dir.path() / "share" / "fresh.txt", "new");
    collectShares({share}, options);
    const std::string stream = anonymousSearch(server.port(), search);
    EXPECT_NE(stream.find("fresh.txt<3<"), std::string::npos) << stream;
    EXPECT_NE(stream.find("?H1<0\n?E"), std::string::npos) << stream;
}

// A plain socket's first reply line, or "" when the connection closes or stays silent.
std::string firstLine(int fd)
{
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos && ::recv(fd, &c, 1, 0) == 1)
        line += c;
    return line;
}

int connectPlain(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval wait{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return fd;
}

TEST(ServerLimits, ClientsBeyondTheLimitAndIdleClientsAreTurnedAway)
{
    test::TempDir dir;
    fs::create_directories(dir.path() / "share");
    test::writeFile(
            dir.path() / "shares", "\\\\PC1\\docs=" + (dir.path() / "share").string() + "\n");
    test::writeFile(dir.path() / "users", "anonymous:\n");
    test::ServerProcess server({"--cache", (dir.path() / "Cache").string(), "--shares",
            (dir.path() / "shares").string(), "--users", (dir.path() / "users").string(),
            "--max-clients", "1", "--idle-timeout", "1"});
    ASSERT_TRUE(server.up());
    const int first = connectPlain(server.port());
    EXPECT_EQ(firstLine(first).substr(0, 4), "220 ");
    const int second = connectPlain(server.port());
    EXPECT_EQ(firstLine(second).substr(0, 4), "421 ");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(firstLine(first).substr(0, 4), "421 ");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(firstLine(first), ""); // and closed
    ::close(first);
    ::close(second);
}

// The server as an unprivileged user over a share holding a file that user may not read: the
// check before a download says so (830) instead of promising a download that would fail.
TEST(ServerSearch, AFileTheServersUserMayNotReadIsReportedAsSuch)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to start the server as nobody";
    test::ensureApplication();
    test::TempDir dir;
    fs::create_directories(dir.path() / "share");
    test::writeFile(dir.path() / "share" / "open.txt", "open");
    test::writeFile(dir.path() / "share" / "secret.txt", "secret");
    CollectOptions options;
    options.cacheRoot = dir.path() / "Cache";
    options.resolveAddresses = false;
    collectShares({parseShareSpec("\\\\PC1\\docs=" + (dir.path() / "share").string())}, options);
    test::writeFile(
            dir.path() / "shares", "\\\\PC1\\docs=" + (dir.path() / "share").string() + "\n");
    test::writeFile(dir.path() / "users", "anonymous:\n");
    // Everything readable to nobody but the one file.
    for (const auto &entry : fs::recursive_directory_iterator(dir.path()))
        fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0755) : fs::perms(0644));
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(dir.path() / "share" / "secret.txt", fs::perms::none);
    test::ServerProcess server(
            {"--cache", options.cacheRoot.string(), "--shares", (dir.path() / "shares").string(),
                    "--users", (dir.path() / "users").string(), "--codepage", "UTF-8"},
            {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    ASSERT_TRUE(server.up());

    FtpHarness h(server.port());
    h.client.UserName = "anonymous";
    h.client.PassWord = "guest@";
    h.client.ConnectAsync();
    ASSERT_EQ(h.waitDone(), 0) << h.client.LastReply();
    for (const auto &[path, code] : std::vector<std::pair<std::string, int>>{
                 {"\\\\PC1\\docs\\open.txt", 800}, {"\\\\PC1\\docs\\secret.txt", 830}}) {
        h.client.SetLocalFileName("CHECKEXIST " + path);
        h.client.QuoteAsync();
        h.waitDone();
        EXPECT_EQ(h.client.ReplyCode(), code) << path << " " << h.client.LastReply();
    }
}

} // namespace
} // namespace veltrano
