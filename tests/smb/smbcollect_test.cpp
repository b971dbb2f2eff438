#include <cstdio>
#include <map>
#include <set>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "cache/collector.h"
#include "cache/myutils.h"
#include "smb/sambaserver.h"
#include "smb/smbcollect.h"
#include "support/tempdir.h"

using namespace veltrano;
using namespace veltrano::test;

namespace {

namespace fs = std::filesystem;

// A node's index pair as lines of text: one per folder, one per entry. The read-only, hidden and
// folder bits are compared; archive and "normal" are the server's own choice.
std::vector<std::string> listing(const fs::path &cache, const std::string &computer,
        const std::string &share, const CodePage &cp)
{
    std::vector<std::string> lines;
    const std::optional<IndexPair> pair = readIndexPair(
            cache.string() + "/Net/WORKGROUP/" + computer + "/", cp.fromUtf8Lossy(share), cp);
    if (!pair)
        return lines;
    IdxCursor dirs(pair->idx.data(), pair->idx.size());
    DirRecord dir;
    while (dirs.next(dir)) {
        lines.push_back(cp.toUtf8(dir.path));
        LstCursor entries(pair->lst.data(), pair->lst.size(), dir);
        EntryView e;
        while (entries.next(e))
            lines.push_back(fmt::format(
                    "  {} {} {:x} {:.6f}", cp.toUtf8(e.name), e.size, e.attr & 0x13, e.time));
    }
    return lines;
}

// Every file of a folder tree, so a later check can tell whether anything changed.
std::map<std::string, std::string> snapshot(const fs::path &root)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[entry.path().string()] = readFile(entry.path());
    return files;
}

class SmbCollectTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_tree = new TempDir;
        const fs::path t = s_tree->path();
        writeFile(t / "中文資料夾" / "報告.txt", "report");
        writeFile(
                t / "許功蓋" / "功課 #1 50%.doc", std::string(5000, 'x')); // Big5 trail bytes 0x5C
        writeFile(t / "smile😀.txt", ""); // outside CP950
        writeFile(t / ".hidden", "h");
        writeFile(t / "readonly.txt", "r");
        fs::permissions(t / "readonly.txt", fs::perms(0444));
        fs::path deep = t / "deep";
        for (int i = 0; i < 30; ++i)
            deep /= "d" + std::to_string(i);
        writeFile(deep / "leaf.txt", "leaf");
        writeFile(t / "locked" / "secret.txt", "s");
        fs::permissions(t / "locked", fs::perms(0700));
        for (const auto &entry : fs::recursive_directory_iterator(t))
            if (entry.is_directory() && entry.path().filename() != "locked")
                fs::permissions(entry.path(), fs::perms(0755));
        fs::permissions(t, fs::perms(0755));
        s_server = new SambaServer({{"docs", t, true}, {"private", t, false}, {"adm$", t, true}});
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        delete s_tree;
    }
    void SetUp() override
    {
        if (!s_server->up())
            GTEST_SKIP() << "smbd did not start: " << s_server->why();
    }

    CollectOptions options(const fs::path &cache, const char *codePage = "CP950")
    {
        CollectOptions o;
        o.cacheRoot = cache;
        o.codePage = CodePage(codePage);
        o.resolveAddresses = false;
        o.warn = [this](const std::string &text) {
            m_warnings.push_back(text);
        };
        return o;
    }

    SmbCollectReport collect(const fs::path &cache, const std::vector<SmbSource> &sources,
            SmbCollectOptions smb = {})
    {
        if (!smb.port)
            smb.port = s_server->port();
        const CollectOptions o = options(cache);
        CacheTarget target(o);
        return collectSmb(sources, target, o, smb);
    }

    static SmbCredentials user() { return readAuthFile(s_server->credentials()); }

    static TempDir *s_tree;
    static SambaServer *s_server;
    std::vector<std::string> m_warnings;
};

TempDir *SmbCollectTest::s_tree = nullptr;
SambaServer *SmbCollectTest::s_server = nullptr;

} // namespace

TEST_F(SmbCollectTest, CacheEqualsTheLocalCollectionOfTheSameFolder)
{
    TempDir local, overSmb;
    collectShares({parseShareSpec("\\\\127.0.0.1\\docs=" + s_tree->path().string()),
                          parseShareSpec("\\\\127.0.0.1\\private=" + s_tree->path().string())},
            options(local.path()));
    m_warnings.clear();
    SmbCollectOptions smb;
    smb.credentials = user();
    smb.jobs = 3;
    const SmbCollectReport report = collect(overSmb.path(), {{"127.0.0.1", ""}}, smb);
    EXPECT_TRUE(report.allRead()) << report.failures.front().reason;
    EXPECT_EQ(report.stats.shares, 2u) << "docs and private; adm$ and IPC$ only with --hidden";
    EXPECT_EQ(report.stats.unwritableNames, 2u) << "smile😀.txt in each share";

    const CodePage cp("CP950");
    std::vector<std::string> expected = listing(local.path(), "127.0.0.1", "private", cp);
    EXPECT_EQ(listing(overSmb.path(), "127.0.0.1", "private", cp), expected);
    EXPECT_NE(std::find(expected.begin(), expected.end(), "\\\\127.0.0.1\\private\\許功蓋\\"),
            expected.end());
    EXPECT_EQ(std::count_if(expected.begin(), expected.end(),
                      [](const std::string &l) {
                          return l.find("leaf.txt") != std::string::npos;
                      }),
            1);

    EXPECT_EQ(listing(overSmb.path(), "127.0.0.1", "docs", cp),
            listing(local.path(), "127.0.0.1", "docs", cp));

    TNodeList shares;
    ReadNodeList(overSmb.path().string() + "/Net/WORKGROUP/127.0.0.1/", shares, true, cp);
    EXPECT_EQ(shares.size(), 2u);
}

TEST_F(SmbCollectTest, HiddenSharesOnlyWhenAskedFor)
{
    TempDir cache;
    SmbCollectOptions smb;
    smb.hidden = true;
    const SmbCollectReport report = collect(cache.path(), {{"127.0.0.1", ""}}, smb);
    // private refuses the guest: reported, the other two read.
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].source, "\\\\127.0.0.1\\private");
    EXPECT_EQ(report.stats.shares, 2u);

    // A guest sees the locked folder as an entry but not what it holds; the walk goes on.
    const std::vector<std::string> lines =
            listing(cache.path(), "127.0.0.1", "adm$", CodePage("CP950"));
    const auto locked = std::find(lines.begin(), lines.end(), "\\\\127.0.0.1\\adm$\\locked\\");
    ASSERT_NE(locked, lines.end());
    EXPECT_TRUE(locked + 1 == lines.end() || locked[1][0] != ' ');
    EXPECT_NE(std::find(lines.begin(), lines.end(), "\\\\127.0.0.1\\adm$\\許功蓋\\"), lines.end());
    const auto refused =
            std::count_if(m_warnings.begin(), m_warnings.end(), [](const std::string &w) {
                return w.find("\\locked") != std::string::npos
                        && w.find("access denied") != std::string::npos;
            });
    EXPECT_EQ(refused, 2) << "in docs and adm$";
}

TEST_F(SmbCollectTest, AFailedSourceKeepsTheEarlierCacheAndSaysWhy)
{
    TempDir cache;
    SmbCollectOptions good;
    good.credentials = user();
    ASSERT_TRUE(collect(cache.path(), {{"127.0.0.1", "private"}}, good).allRead());
    const auto before = snapshot(cache.path());

    struct Case
    {
        const char *what;
        SmbCredentials credentials;
        uint16_t port;
        const char *reason;
    };
    // A server that takes the connection and never says a word: the kernel accepts for it.
    const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    ::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length);

    const Case cases[] = {
            {"wrong password", readAuthFile(s_server->badCredentials()), 0, "access denied"},
            {"dead port", user(), freePort(), "connection refused"},
            {"silent server", user(), ntohs(address.sin_port), "no answer"},
    };
    for (const Case &c : cases) {
        SmbCollectOptions smb;
        smb.credentials = c.credentials;
        smb.port = c.port;
        smb.timeoutMs = 2000;
        const SmbCollectReport report = collect(cache.path(), {{"127.0.0.1", "private"}}, smb);
        ASSERT_EQ(report.failures.size(), 1u) << c.what;
        EXPECT_NE(report.failures[0].reason.find(c.reason), std::string::npos)
                << c.what << ": " << report.failures[0].reason;
        EXPECT_EQ(snapshot(cache.path()), before) << c.what;
    }
    ::close(silent);
}

TEST_F(SmbCollectTest, AServerThatGoesAwayMidwayLeavesTheEarlierCache)
{
    // Progress arrives a few times a second, so the tree must take the walk longer than that:
    // the server dies at the first report, long before the last folder.
    constexpr int kFolders = 3000;
    TempDir share, cache;
    for (int d = 0; d < kFolders; ++d)
        writeFile(share.path() / fmt::format("f{:04d}", d) / "x.txt", "x");
    for (const auto &entry : fs::recursive_directory_iterator(share.path()))
        if (entry.is_directory())
            fs::permissions(entry.path(), fs::perms(0755));
    fs::permissions(share.path(), fs::perms(0755));
    SambaServer server({{"big", share.path(), true}});
    ASSERT_TRUE(server.up()) << server.why();
    SmbCollectOptions smb;
    smb.port = server.port();
    smb.timeoutMs = 3000;
    ASSERT_TRUE(collect(cache.path(), {{"127.0.0.1", "big"}}, smb).allRead());
    const auto before = snapshot(cache.path());

    const CollectOptions o = options(cache.path());
    CacheTarget target(o);
    size_t foldersWhenKilled = 0;
    const SmbCollectReport report =
            collectSmb({{"127.0.0.1", "big"}}, target, o, smb, [&](const SmbProgress &p) {
                if (foldersWhenKilled == 0 && p.folders > 0) {
                    foldersWhenKilled = p.folders;
                    server.kill();
                }
            });
    ASSERT_GT(foldersWhenKilled, 0u) << "no progress came before the walk ended";
    ASSERT_LT(foldersWhenKilled, size_t(kFolders)) << "the walk ended before the server died";
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].source, "\\\\127.0.0.1\\big");
    EXPECT_EQ(snapshot(cache.path()), before) << report.failures[0].reason;
}

TEST_F(SmbCollectTest, AReaderDuringARecollectSeesOneWholeVersion)
{
    // Two versions of one share that differ in every folder's entries and offsets.
    TempDir share, cache;
    fs::permissions(share.path(), fs::perms(0755));
    const auto makeVersion = [&](int version) {
        fs::remove_all(share.path() / "tree");
        for (int d = 0; d < 20; ++d)
            for (int f = 0; f < 10 + version * 7; ++f)
                writeFile(share.path() / "tree" / ("dir" + std::to_string(d))
                                / fmt::format("v{}-{}.txt", version, f),
                        "");
        for (const auto &entry : fs::recursive_directory_iterator(share.path()))
            if (entry.is_directory())
                fs::permissions(entry.path(), fs::perms(0755));
    };
    SambaServer server({{"flip", share.path(), true}});
    ASSERT_TRUE(server.up()) << server.why();
    SmbCollectOptions smb;
    smb.port = server.port();
    makeVersion(0);
    ASSERT_TRUE(collect(cache.path(), {{"127.0.0.1", "flip"}}, smb).allRead());

    const std::string folder = cache.path().string() + "/Net/WORKGROUP/127.0.0.1/";
    const CodePage cp("CP950");
    // The reader is a process of its own: the collection forks its readers, which a process
    // with a second thread running cannot do safely.
    const fs::path stop = cache.path() / "stop";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t reader = ::fork();
    if (reader == 0) {
        ::close(fds[0]);
        int reads = 0, mixed = 0;
        while (!fs::exists(stop)) {
            const std::optional<IndexPair> pair = readIndexPair(folder, "flip", cp);
            if (!pair)
                continue;
            std::set<char> versions;
            size_t files = 0;
            IdxCursor dirs(pair->idx.data(), pair->idx.size());
            DirRecord dir;
            while (dirs.next(dir)) {
                LstCursor list(pair->lst.data(), pair->lst.size(), dir);
                EntryView e;
                while (list.next(e))
                    if (!(e.attr & kAttrDirectory)) {
                        ++files;
                        versions.insert(e.name.size() > 1 ? e.name[1] : '?');
                    }
            }
            const bool whole = versions.size() == 1
                    && (*versions.begin() == '0' || *versions.begin() == '1')
                    && files == 20 * size_t(10 + (*versions.begin() - '0') * 7);
            if (!whole)
                ++mixed;
            ++reads;
        }
        const std::string counts = fmt::format("{} {}", reads, mixed);
        ::write(fds[1], counts.data(), counts.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    for (int round = 1; round <= 6; ++round) {
        makeVersion(round % 2);
        EXPECT_TRUE(collect(cache.path(), {{"127.0.0.1", "flip"}}, smb).allRead());
    }
    writeFile(stop, "");
    char counts[64] = {};
    const ssize_t n = ::read(fds[0], counts, sizeof counts - 1);
    ::close(fds[0]);
    ::waitpid(reader, nullptr, 0);
    int reads = 0, mixed = -1;
    ASSERT_GT(n, 0);
    std::sscanf(counts, "%d %d", &reads, &mixed);
    EXPECT_GT(reads, 6);
    EXPECT_EQ(mixed, 0);
}
