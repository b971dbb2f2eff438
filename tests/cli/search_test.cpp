#include <algorithm>

#include <gtest/gtest.h>

#include "cache/synthcache.h"
#include "support/cachefixture.h"
#include "support/clirun.h"

using namespace veltrano;
using namespace veltrano::test;

namespace {

// Cache root with Net\WG\PC1 holding the share "docs" (Big5 texts) and Expanded\EX\PC2 "pub".
struct SearchCache
{
    TempDir dir;
    std::string root = dir.path().string();

    SearchCache()
    {
        const CodePage cp("CP950");
        const std::string top = dir.folder();
        writeNodeList(top, {makeNode("Net", "Net", containerKind(), 0), makeNode("Expanded", "Expanded", containerKind(), 0)});
        writeNodeList(top + "Net/", {makeNode("WG", "WG", containerKind(), 0)});
        writeNodeList(top + "Net/WG/", {makeNode("PC1", "PC1", containerKind(), 0)});
        writeNodeList(top + "Net/WG/PC1/", {makeNode("docs", "docs", indexedKind())});
        IndexPairWriter docs;
        docs.addDirectory("\\\\PC1\\docs\\", {fileEntry("-minus.txt", 1023, 36526.5), fileEntry(cp.fromUtf8Lossy("許功.doc"), 2048, 36526.5),
                                             dirEntry("sub", 36526.25)});
        docs.addDirectory("\\\\PC1\\docs\\sub\\", {fileEntry("a.doc", 5000, 36527), fileEntry("b.doc", 6000, 36527)});
        docs.write(top + "Net/WG/PC1/", "docs", cp);
        writeNodeList(top + "Expanded/", {makeNode("EX", "EX", containerKind(), 0)});
        writeNodeList(top + "Expanded/EX/", {makeNode("PC2", "PC2", containerKind(), 0)});
        writeNodeList(top + "Expanded/EX/PC2/", {makeNode("pub", "pub", indexedKind())});
        IndexPairWriter pub;
        pub.addDirectory("\\\\PC2\\pub\\", {fileEntry("c.doc", 1, 36528)});
        pub.write(top + "Expanded/EX/PC2/", "pub", cp);
    }

    CliRun search(const std::string &args) const { return cli("search --cache '" + root + "' " + args); }
};

} // namespace

TEST(SearchCommand, TabSeparatedHitsThenTheEndLine)
{
    SearchCache cache;
    const CliRun run = cache.search("--format tsv name contains doc");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string node = cache.root + "/Net/WG/PC1/docs";
    EXPECT_EQ(run.out, "\\\\PC1\\docs\\許功.doc\t2048\t32\t2000/01/01 12:00:00\tdocs\t" + node + "\n"
                       "\\\\PC1\\docs\\sub\\a.doc\t5000\t32\t2000/01/02 00:00:00\tdocs\t" + node + "\n"
                       "\\\\PC1\\docs\\sub\\b.doc\t6000\t32\t2000/01/02 00:00:00\tdocs\t" + node + "\n"
                       "\\\\PC2\\pub\\c.doc\t1\t32\t2000/01/03 00:00:00\tpub\t" + cache.root + "/Expanded/EX/PC2/pub\n");
    EXPECT_EQ(run.err, "files=5 folders=1 hits=4\n");

    const CliRun none = cache.search("--format tsv name equals nothing");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "files=5 folders=1 hits=0\n");
}

// --repeat: the results once, as one search writes them; every search's time on stderr.
TEST(SearchCommand, RepeatedSearchWritesItsResultsOnceAndEachTime)
{
    SearchCache cache;
    const CliRun once = cache.search("--format tsv name contains doc");
    const CliRun repeated = cache.search("--format tsv --repeat 3 name contains doc");
    EXPECT_EQ(repeated.status, 0) << repeated.err;
    EXPECT_EQ(repeated.out, once.out);
    for (const char *run : {"search 1: ", "search 2: ", "search 3: "})
        EXPECT_NE(repeated.err.find(run), std::string::npos) << repeated.err;
    EXPECT_NE(repeated.err.find(" ms, 6 entries, 4 hits\n"), std::string::npos) << repeated.err;
}

TEST(SearchCommand, LocationsOptionsAndTheCommandText)
{
    SearchCache cache;
    EXPECT_EQ(cache.search("--where 'Net' name contains doc").err, "files=4 folders=1 hits=3\n");
    EXPECT_EQ(cache.search("--where ' Expanded\\EX' name contains doc").err, "files=1 folders=0 hits=1\n");
    EXPECT_EQ(cache.search("--where 'Expanded\\EX' name contains doc").err, "files=1 folders=0 hits=1\n");
    EXPECT_EQ(cache.search("--where 所有快取資料 name contains doc").status, 0);
    const CliRun nowhere = cache.search("--where 'Net\\NOPE' name contains doc");
    EXPECT_EQ(nowhere.status, 2);
    EXPECT_NE(nowhere.err.find("NOPE"), std::string::npos);

    const CliRun folders = cache.search("--only-show-folder --hit-num 2 --format tsv 檔名 包含 doc");
    EXPECT_EQ(folders.out.substr(0, folders.out.find('\t')), "\\\\PC1\\docs\\sub");
    EXPECT_NE(folders.out.find("\t0\t16\t"), std::string::npos);
    EXPECT_EQ(folders.err, "files=5 folders=1 hits=1\n");

    const CliRun command = cache.search("--format tsv --command '檔名,包含,doc;且否,檔案大小,大於,4;無,修改日期,大於,'");
    EXPECT_EQ(command.err, "files=5 folders=1 hits=2\n"); // 許功.doc (2 KB) and c.doc
    const CliRun dash = cache.search("--format tsv -- name contains -MINUS");
    EXPECT_EQ(dash.status, 0);
    EXPECT_EQ(dash.err, "files=5 folders=1 hits=1\n");
    EXPECT_EQ(cache.search("--format tsv name contains doc and size greater 5").err, "files=5 folders=1 hits=1\n");
}

// The results and the exit status stay what the readable nodes give; what could not be read is
// named after them, one line per node.
TEST(SearchCommand, NodesNotFullySearchedAreNamedAfterTheResults)
{
    SearchCache cache;
    const std::string pc2 = cache.root + "/Expanded/EX/PC2/";
    resizeFile(pc2 + "pub.LST", 10);
    const CliRun cut = cache.search("--format tsv name contains doc");
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(std::count(cut.out.begin(), cut.out.end(), '\n'), 3);
    EXPECT_EQ(cut.err,
            "files=4 folders=1 hits=3\n" + pc2
                    + "pub: index files damaged; node searched as far as they could be read\n");

    for (const unsigned threads : {1u, 2u}) {
        std::filesystem::remove(pc2 + "pub.LST");
        resizeFile(cache.root + "/Net/WG/PC1/docs.IDX", uint64_t(200) << 30);
        const CliRun none = cache.search(
                "--threads " + std::to_string(threads) + " --format tsv name contains doc");
        EXPECT_EQ(none.status, 1);
        EXPECT_EQ(none.out, "");
        EXPECT_EQ(none.err,
                "files=0 folders=0 hits=0\n" + cache.root
                        + "/Net/WG/PC1/docs: index files unreadable or damaged; node not searched\n"
                        + pc2 + "pub: index files missing; node not searched\n");
    }
}

// Locations that no file system call can follow are refused with a message, never a crash.
TEST(SearchCommand, LocationsThatCannotBeFollowedAreRefused)
{
    SearchCache cache;
    std::filesystem::create_symlink("loop", cache.root + "/Net/loop");
    for (const std::string &where : {std::string("Net\\loop"), "Net\\" + std::string(300, 'x')}) {
        const CliRun run = cache.search("--where '" + where + "' name contains doc");
        EXPECT_EQ(run.status, 2) << where;
        EXPECT_NE(run.err.find("No such search location"), std::string::npos) << run.err;
    }
}

TEST(SearchCommand, InvalidConditionsExitWithTheirMessage)
{
    SearchCache cache;
    const CliRun blank = cache.search("name contains '  '");
    EXPECT_EQ(blank.status, 2);
    EXPECT_EQ(blank.err, "至少輸入一個關鍵值(非空白)\n");
    EXPECT_EQ(cache.search("size contains 10").err, "檔案大小不支援\"包含\"方法\n");
    EXPECT_EQ(cache.search("size greater 1.5").err, "關鑑值必須為數值(KB)\n");
    EXPECT_EQ(cache.search("date less 2000-13-45").status, 2);
    EXPECT_EQ(cache.search("name contains a,b").err, "字元 ';' 或 ',' 是不允許的\n");
    EXPECT_EQ(cache.search("colour contains red").status, 2);
    EXPECT_EQ(cache.search("name contains doc or").status, 2);
    EXPECT_EQ(cache.search("--format xml name contains doc").status, 2);
    EXPECT_EQ(cache.search("--command 'x' name contains doc").status, 2);
}

TEST(SearchCommand, TextShowsTheResultColumnsAndStatusTexts)
{
    SearchCache cache;
    const CliRun run = cache.search("--format text name contains minus or name equals sub");
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> lines;
    for (size_t at = 0; at < run.out.size();) {
        const size_t end = run.out.find('\n', at);
        lines.push_back(run.out.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 5u) << run.out;
    EXPECT_EQ(lines[0].rfind("名稱", 0), 0u);
    EXPECT_NE(lines[0].find("大小(KB)"), std::string::npos);
    // 1023 bytes are 0 KB; a folder shows no extension and no size.
    EXPECT_NE(lines[1].find("-minus.txt"), std::string::npos);
    EXPECT_NE(lines[1].find(".txt"), std::string::npos);
    EXPECT_NE(lines[1].find(" 0  \\\\PC1\\docs\\"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("sub "), std::string::npos);
    EXPECT_EQ(lines[2].find(".sub"), std::string::npos);
    EXPECT_EQ(lines[3], "5 檔案 1 資料夾 ");
    EXPECT_EQ(lines[4], "總共搜尋到 2 項目");
}

TEST(SearchCommand, JsonHasOneObjectPerHit)
{
    SearchCache cache;
    const CliRun run = cache.search("--format json name contains 許");
    EXPECT_EQ(run.out, "{\"name\":\"\\\\\\\\PC1\\\\docs\\\\許功.doc\",\"size\":2048,\"attr\":32,"
                       "\"time\":\"2000/01/01 12:00:00\",\"node\":\"docs\",\"nodePath\":\""
                               + cache.root + "/Net/WG/PC1/docs\"}\n");
}

TEST(SearchCommand, InterruptStopsLikeTheStopButtonAndStillEnds)
{
    TempDir dir;
    generateSynthCache(dir.path(), SynthCacheSpec::sized(100000, 3000, 10));
    // The reader waits before it drains the pipe, so the search is still handing over hits
    // when Ctrl-C comes: its output is far more than a pipe holds, so it cannot end first. The
    // signal comes late enough for a loaded machine to have started the search.
    const auto script = dir.path() / "run.sh";
    writeFile(script, "set -o pipefail\ntimeout -s INT --preserve-status 1.5 " + std::string(VELTRANO_CLI)
                              + " search --format tsv --cache '" + dir.path().string()
                              + "' name contains a | (sleep 2.5; wc -l)\n");
    const CliRun run = runCommand("bash '" + script.string() + "'");
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.err.rfind("files=", 0), 0u) << run.err;
    const size_t hits = std::stoul(run.err.substr(run.err.find("hits=") + 5));
    EXPECT_EQ(std::stoul(run.out), hits); // every counted hit was written, none after the stop
    EXPECT_GT(hits, 0u);
}
