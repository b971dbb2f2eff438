#include <gtest/gtest.h>

#include "support/cachefixture.h"
#include "support/clirun.h"

using namespace veltrano;
using namespace veltrano::test;

namespace {

// One Big5 node: \\PC1\docs\ with a Chinese file name and a folder.
struct SaveCache
{
    TempDir dir;
    std::string root = dir.path().string();

    SaveCache()
    {
        const CodePage cp("CP950");
        writeNodeList(dir.folder(), {makeNode("docs", "docs", indexedKind())});
        IndexPairWriter docs;
        docs.addDirectory("\\\\PC1\\docs\\",
                {fileEntry(cp.fromUtf8Lossy("許功.doc"), 2048, 36526.5),
                        dirEntry("sub.doc", 36526.25)});
        docs.addDirectory("\\\\PC1\\docs\\sub.doc\\", {});
        docs.write(dir.folder(), "docs", cp);
    }
};

std::string padded(const std::string &text, size_t width)
{
    return text + std::string(text.size() < width ? width - text.size() : 0, ' ');
}

} // namespace

// The file of --save: the window's fixed-width lines in Big5, in the order of the hits.
TEST(SearchSave, WritesTheWindowsLinesAndReportsAFileItCannotWrite)
{
    SaveCache cache;
    const std::string file = (cache.dir.path() / "hits.txt").string();
    writeFile(file, std::string(1000, 'x'));
    const CliRun run = cli("search --format tsv --cache '" + cache.root + "' --save '" + file
            + "' name contains doc");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string folder = padded("\\\\PC1\\docs\\", 100);
    const std::string expected = padded("\xB3\x5C\xA5\x5C.doc", 50) + padded(".doc", 15)
            + padded("2", 15) + folder + padded("docs", 15) + padded("2000/01/01 12:00:00", 25)
            + "\r\n" + padded("sub.doc", 50) + padded("", 15) + padded("", 15) + folder
            + padded("docs", 15) + padded("2000/01/01 06:00:00", 25) + "\r\n";
    EXPECT_EQ(readFile(file), expected);

    const CliRun csv = cli("search --format tsv --cache '" + cache.root + "' --save '" + file
            + "' --save-format csv name equals sub.doc");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(readFile(file),
            "名稱,副檔名,大小(KB),目錄,位置,修改日期\r\nsub.doc,,,\\\\PC1\\docs\\,docs,2000/01/01 "
            "06:00:00\r\n");

    const CliRun bad = cli("search --format tsv --cache '" + cache.root + "' --save '" + cache.root
            + "/none/x.txt' name contains doc");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("none/x.txt: "), std::string::npos) << bad.err;
}
