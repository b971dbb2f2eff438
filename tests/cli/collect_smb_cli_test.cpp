#include <gtest/gtest.h>

#include "smb/sambaserver.h"
#include "support/clirun.h"

using namespace veltrano::test;

namespace {

namespace fs = std::filesystem;

std::string quoted(const fs::path &path)
{
    return "'" + path.string() + "'";
}

// Search output without what must differ between two caches: the node's cache folder (last
// column of a search), and the attribute bits other than folder, hidden and read-only, which are
// the SMB server's own (Samba says "normal" where a local walk says "archive").
std::string comparable(const std::string &tsv, bool cacheColumn = true)
{
    std::string out;
    size_t start = 0;
    while (start < tsv.size()) {
        const size_t end = tsv.find('\n', start);
        std::vector<std::string> columns;
        for (size_t at = start; at < end;) {
            const size_t tab = std::min(tsv.find('\t', at), end);
            columns.push_back(tsv.substr(at, tab - at));
            at = tab + 1;
        }
        if (columns.size() > 2)
            columns[2] = std::to_string(std::stoul(columns[2]) & 0x13);
        if (cacheColumn)
            columns.pop_back();
        for (const std::string &c : columns)
            out += c + '\t';
        out += '\n';
        start = end + 1;
    }
    return out;
}

} // namespace

TEST(CollectSmbCommand, SearchesAndListingsMatchTheMountedCopyAndFailuresExitNonZero)
{
    TempDir tree;
    writeFile(tree.path() / "許功蓋" / "功課.doc", "12345");
    writeFile(tree.path() / "中文" / "a" / "b" / "報告.txt", "r");
    writeFile(tree.path() / "smile😀.txt", "");
    for (const auto &entry : fs::recursive_directory_iterator(tree.path()))
        if (entry.is_directory())
            fs::permissions(entry.path(), fs::perms(0755));
    fs::permissions(tree.path(), fs::perms(0755));
    SambaServer server({{"docs", tree.path(), false}});
    if (!server.up())
        GTEST_SKIP() << "smbd did not start: " << server.why();

    TempDir mounted, overSmb;
    const std::string common = "collect --no-resolve --codepage Big5 --cache ";
    ASSERT_EQ(cli(common + quoted(mounted.path()) + " '\\\\127.0.0.1\\docs=" + tree.path().string()
                      + "'")
                      .status,
            0);
    const std::string toSmb = common + quoted(overSmb.path());
    const std::string smb = toSmb + " --port " + std::to_string(server.port());
    CliRun run =
            cli(smb + " --auth-file " + quoted(server.credentials()) + " '\\\\127.0.0.1\\docs'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("1 shares, 5 folders, 6 entries"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("smile😀.txt: the name cannot be written"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("(1 names code page windows-950-2000 cannot hold)"), std::string::npos)
            << run.err;
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no progress line off a terminal";

    for (const char *search : {"name contains 功", "ext equals doc",
                 "size greater 0 or name contains 報", "--only-show-folder name contains ."}) {
        const CliRun a =
                cli("search --format tsv --cache " + quoted(mounted.path()) + " " + search);
        const CliRun b =
                cli("search --format tsv --cache " + quoted(overSmb.path()) + " " + search);
        EXPECT_EQ(b.status, 0) << search << b.err;
        EXPECT_FALSE(a.out.empty()) << search;
        EXPECT_EQ(comparable(b.out), comparable(a.out)) << search;
    }
    const std::string node = "/Net/WORKGROUP/127.0.0.1/docs' '\\\\127.0.0.1\\docs\\許功蓋\\'";
    const std::string listed = comparable(cli("ls '" + mounted.path().string() + node).out, false);
    EXPECT_EQ(comparable(cli("ls '" + overSmb.path().string() + node).out, false), listed);
    EXPECT_NE(listed.find("功課.doc\t5\t0\t"), std::string::npos) << listed;

    // A refused logon and a port nobody listens on: reported, exit 1, the cache as it was.
    const std::string before = readFile(overSmb.path() / "Net/WORKGROUP/127.0.0.1/docs.LST");
    for (const std::string &bad :
            {smb + " --auth-file " + quoted(server.badCredentials()) + " smb://127.0.0.1/docs",
                    toSmb + " --timeout 2 --port " + std::to_string(freePort())
                            + " smb://127.0.0.1/"}) {
        run = cli(bad);
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_NE(run.err.find("not read: \\\\127.0.0.1"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("(the cache keeps what it had)"), std::string::npos) << run.err;
        EXPECT_EQ(readFile(overSmb.path() / "Net/WORKGROUP/127.0.0.1/docs.LST"), before) << bad;
    }

    // One cache, one code page: another one is refused rather than mixed in, also for a cache
    // without a marker (code page 950, as readers take it).
    for (const char *marker : {"windows-950-2000", "CP950"}) {
        if (std::string(marker) == "CP950")
            fs::remove(overSmb.path() / "CODEPAGE");
        run = cli("collect --codepage UTF-8 --cache " + quoted(overSmb.path())
                + " smb://127.0.0.1/docs");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(std::string("is written in code page ") + marker), std::string::npos)
                << run.err;
    }
}
