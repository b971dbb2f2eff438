#include <fmt/format.h>
#include <gtest/gtest.h>

#include "cache/cachewriter.h"
#include "cache/collector.h"
#include "cache/indexscan.h"
#include "cache/myutils.h"
#include "support/tempdir.h"
#include "util/error.h"

using namespace veltrano;
using namespace veltrano::test;

namespace {

struct Walk
{
    std::vector<std::string> dirs;
    std::vector<std::string> entries;
};

Walk readBack(const std::string &folder, std::string_view cacheName, const CodePage &cp)
{
    Walk walk;
    const std::optional<IndexPair> pair = readIndexPair(folder, cacheName, cp);
    if (!pair)
        return walk;
    IdxCursor dirs(pair->idx.data(), pair->idx.size());
    DirRecord dir;
    while (dirs.next(dir)) {
        walk.dirs.push_back(cp.toUtf8(dir.path));
        LstCursor entries(pair->lst.data(), pair->lst.size(), dir);
        EntryView entry;
        while (entries.next(entry))
            walk.entries.push_back(
                    cp.toUtf8(entry.name) + (entry.attr & kAttrDirectory ? "/" : ""));
    }
    return walk;
}

class CollectorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        writeFile(m_share.path() / "b.txt", "12345");
        writeFile(m_share.path() / "a" / "x.doc", "x");
        writeFile(m_share.path() / "a" / "deep" / "y.doc", "yy");
        writeFile(m_share.path() / "c" / "z.doc", "");
    }

    CollectOptions options(const char *codePage = "UTF-8")
    {
        CollectOptions o;
        o.cacheRoot = m_cache.path();
        o.codePage = CodePage(codePage);
        o.resolveAddresses = false;
        o.warn = [this](const std::string &text) {
            m_warnings.push_back(text);
        };
        return o;
    }

    TempDir m_share;
    TempDir m_cache;
    std::vector<std::string> m_warnings;
};

} // namespace

TEST_F(CollectorTest, WritesNodeListsAndAnIndexInPreOrder)
{
    const CollectStats stats =
            collectShares({parseShareSpec("\\\\PC1\\docs=" + m_share.path().string())}, options());
    EXPECT_EQ(stats.folders, 4u);
    EXPECT_EQ(stats.entries, 7u);
    EXPECT_EQ(readCodePageMarker(m_cache.path()), "UTF-8");

    const CodePage cp("UTF-8");
    TNodeList root, net, group, pc;
    ReadNodeList(m_cache.folder(), root, true, cp);
    ASSERT_EQ(root.size(), 2u);
    EXPECT_TRUE(root[0].has(nkContainer));
    ReadNodeList(m_cache.folder() + "Net/", net, true, cp);
    ASSERT_EQ(net.size(), 1u);
    EXPECT_EQ(net[0].CacheName, "WORKGROUP");
    ReadNodeList(m_cache.folder() + "Net/WORKGROUP/", group, true, cp);
    ASSERT_EQ(group.size(), 1u);
    EXPECT_EQ(group[0].Name, "PC1");
    ReadNodeList(m_cache.folder() + "Net/WORKGROUP/PC1/", pc, true, cp);
    ASSERT_EQ(pc.size(), 1u);
    EXPECT_TRUE(pc[0].has(nkIndexed));
    EXPECT_TRUE(pc[0].cacheOn());

    const Walk walk = readBack(m_cache.folder() + "Net/WORKGROUP/PC1/", "docs", cp);
    EXPECT_EQ(walk.dirs,
            (std::vector<std::string>{"\\\\PC1\\docs\\", "\\\\PC1\\docs\\a\\",
                    "\\\\PC1\\docs\\a\\deep\\", "\\\\PC1\\docs\\c\\"}));
    EXPECT_EQ(walk.entries,
            (std::vector<std::string>{"a/", "b.txt", "c/", "deep/", "x.doc", "y.doc", "z.doc"}));
    EXPECT_TRUE(m_warnings.empty());
}

TEST_F(CollectorTest, CollectingAgainReplacesTheShareAndKeepsOthers)
{
    collectShares({parseShareSpec("\\\\PC1\\docs=" + m_share.path().string())}, options());
    std::filesystem::remove_all(m_share.path() / "a");
    collectShares({parseShareSpec("\\\\PC1\\docs=" + m_share.path().string()),
                          parseShareSpec("\\\\PC2\\other=" + m_share.path().string())},
            options());
    const CodePage cp("UTF-8");
    TNodeList group, pc;
    ReadNodeList(m_cache.folder() + "Net/WORKGROUP/", group, true, cp);
    EXPECT_EQ(group.size(), 2u);
    ReadNodeList(m_cache.folder() + "Net/WORKGROUP/PC1/", pc, true, cp);
    EXPECT_EQ(pc.size(), 1u);
    EXPECT_EQ(readBack(m_cache.folder() + "Net/WORKGROUP/PC1/", "docs", cp).dirs.size(), 2u);
}

TEST_F(CollectorTest, NamesTheCodePageCannotHoldAreReportedAndLeftOut)
{
    writeFile(m_share.path() / "許功.txt", "");
    writeFile(m_share.path() / "smile\xF0\x9F\x98\x80.txt", "");
    collectShares({parseShareSpec("\\\\PC1\\docs=" + m_share.path().string())}, options("CP950"));
    ASSERT_EQ(m_warnings.size(), 1u);
    EXPECT_NE(m_warnings[0].find("smile"), std::string::npos);
    const CodePage cp("CP950");
    const Walk walk = readBack(m_cache.folder() + "Net/WORKGROUP/PC1/", "docs", cp);
    EXPECT_NE(std::find(walk.entries.begin(), walk.entries.end(), "許功.txt"), walk.entries.end());
}

TEST(ShareSpec, AcceptsOnlyUncEqualsFolder)
{
    const ShareSpec spec = parseShareSpec("\\\\PC1\\share\\=/mnt/x");
    EXPECT_EQ(spec.computer, "PC1");
    EXPECT_EQ(spec.share, "share");
    EXPECT_EQ(spec.local, "/mnt/x");
    for (const char *bad : {"PC1\\share=/x", "\\\\PC1=/x", "\\\\PC1\\share",
                 "\\\\PC1\\share=", "\\\\..\\s=/x", "\\\\PC1\\a\\b=/x"})
        EXPECT_THROW(parseShareSpec(bad), Error) << bad;
}

namespace {

std::vector<std::string> entryNames(const std::string &idx, const std::string &lst)
{
    std::vector<std::string> names;
    IdxCursor dirs(reinterpret_cast<const unsigned char *>(idx.data()), idx.size());
    DirRecord dir;
    while (dirs.next(dir)) {
        LstCursor entries(reinterpret_cast<const unsigned char *>(lst.data()), lst.size(), dir);
        EntryView entry;
        while (entries.next(entry))
            names.emplace_back(entry.name);
    }
    return names;
}

} // namespace

// A search opens the directory index, then the entry list; a re-collect may replace both in
// between. Generations that grow and shrink put the new entries both before and after the old.
TEST(IndexPairWriter, AnIndexReadBeforeTheSwitchStillFindsItsEntries)
{
    TempDir dir;
    const CodePage cp("UTF-8");
    std::string oldIdx;
    std::vector<std::string> oldNames;
    for (const int count : {50, 80, 20, 20, 200, 10, 10, 90}) {
        IndexPairWriter writer;
        std::vector<std::string> names;
        for (const char *folder : {"\\\\PC\\s\\", "\\\\PC\\s\\sub\\"}) {
            std::vector<CacheEntry> entries;
            for (int i = 0; i < count; ++i)
                entries.push_back({fmt::format("{}-{}", count, i), uint32_t(i), 0x20, 1.0});
            for (const CacheEntry &e : entries)
                names.push_back(e.name);
            writer.addDirectory(folder, entries);
        }
        writer.write(dir.folder(), "s", cp);
        const std::string idx = readFile(dir.path() / "s.IDX");
        const std::string lst = readFile(dir.path() / "s.LST");
        if (!oldIdx.empty()) {
            EXPECT_EQ(entryNames(oldIdx, lst), oldNames)
                    << "old index over the list that replaced it, count " << count;
        }
        EXPECT_EQ(entryNames(idx, lst), names);
        EXPECT_LE(lst.size(), 3 * 2 * 200 * (18 + 8))
                << "the list keeps one older generation at most";
        oldIdx = idx;
        oldNames = names;
    }

    // What was there before may be anything: it is kept where it can be, never trusted.
    const std::string damaged[][2] = {{std::string(7, '\xFF'), "x"},
            {std::string("\0\0\0\0\xFF\xFF\xFF\x7F\x05\0ab", 12), std::string(30, '\xEE')},
            {oldIdx, ""}};
    for (const auto &old : damaged) {
        writeFile(dir.path() / "s.IDX", old[0]);
        writeFile(dir.path() / "s.LST", old[1]);
        IndexPairWriter writer;
        writer.addDirectory("\\\\PC\\s\\", {{"one", 1, 0x20, 1.0}, {"two", 2, 0x20, 1.0}});
        writer.write(dir.folder(), "s", cp);
        EXPECT_EQ(entryNames(readFile(dir.path() / "s.IDX"), readFile(dir.path() / "s.LST")),
                (std::vector<std::string>{"one", "two"}));
    }
}
