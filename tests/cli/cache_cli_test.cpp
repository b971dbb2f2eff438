#include <gtest/gtest.h>

#include "support/clirun.h"

using namespace veltrano::test;

TEST(CacheCommands, CollectThenListLocationsAndAFolder)
{
    TempDir share, cache;
    writeFile(share.path() / "sub" / "許功.txt", "hello");
    const std::string root = cache.path().string();
    CliRun collect = cli("collect --no-resolve --codepage Big5 --cache '" + root + "' '\\\\PC1\\docs=" + share.path().string() + "'");
    ASSERT_EQ(collect.status, 0) << collect.err;

    CliRun locations = cli("locations --cache '" + root + "'");
    EXPECT_EQ(locations.status, 0);
    EXPECT_EQ(locations.out, "所有快取資料\nNet\n Net\\WORKGROUP\nExpanded\n");

    CliRun ls = cli("ls '" + root + "/Net/WORKGROUP/PC1/docs' '\\\\pc1\\DOCS\\sub\\'");
    EXPECT_EQ(ls.status, 0) << ls.err;
    EXPECT_EQ(ls.out.substr(0, ls.out.find('\t')), "\\\\PC1\\docs\\sub\\許功.txt");
    EXPECT_NE(ls.out.find("\t5\t32\t"), std::string::npos) << ls.out;

    CliRun missing = cli("ls '" + root + "/Net/WORKGROUP/PC1/docs' '\\\\PC1\\docs\\nothing\\'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "快取檔中沒有 \\\\PC1\\docs\\nothing\\ 的資料\n");
    EXPECT_TRUE(missing.out.empty());
}

TEST(CacheCommands, DamagedNodeListsAreRefusedWithAMessage)
{
    TempDir cache;
    resizeFile(cache.path() / "Net" / "ALL.NOD", uint64_t(200) << 30);
    const CliRun locations = cli("locations --cache '" + cache.path().string() + "'");
    EXPECT_EQ(locations.status, 1);
    EXPECT_NE(locations.err.find("ALL.NOD: too large for a node list"), std::string::npos)
            << locations.err;
}

TEST(CacheCommands, BadUsageIsRefused)
{
    EXPECT_EQ(cli("ls").status, 2);
    EXPECT_EQ(cli("collect --cache /tmp/x 'not a share'").status, 1);
    EXPECT_EQ(cli("--help").status, 0);
}
