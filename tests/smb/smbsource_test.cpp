#include <gtest/gtest.h>

#include "smb/smbsource.h"
#include "support/tempdir.h"
#include "util/error.h"

using namespace veltrano;
using namespace veltrano::test;

TEST(SmbSource, ReadsUrlsAndUncNamesAndLeavesMountedSharesAlone)
{
    struct Case
    {
        const char *text;
        const char *computer; // nullptr: not an SMB source
        const char *share;
    };
    const Case cases[] = {
            {"smb://PC1/docs", "PC1", "docs"},
            {"smb://PC1/docs/", "PC1", "docs"},
            {"smb://PC1/", "PC1", ""},
            {"smb://PC1", "PC1", ""},
            {"\\\\PC1\\docs", "PC1", "docs"},
            {"\\\\PC1\\docs\\", "PC1", "docs"},
            {"\\\\PC1\\docs=/mnt/x", nullptr, ""},
            {"/mnt/x", nullptr, ""},
    };
    for (const Case &c : cases) {
        const std::optional<SmbSource> source = parseSmbSource(c.text);
        ASSERT_EQ(source.has_value(), c.computer != nullptr) << c.text;
        if (source) {
            EXPECT_EQ(source->computer, c.computer) << c.text;
            EXPECT_EQ(source->share, c.share) << c.text;
        }
    }
    for (const char *bad :
            {"smb://", "smb:///docs", "smb://PC1/a/b", "\\\\PC1\\a\\b", "smb://../x"})
        EXPECT_THROW(parseSmbSource(bad), Error) << bad;
}

TEST(SmbSource, CredentialsFileAsSmbclientReadsIt)
{
    TempDir dir;
    writeFile(dir.path() / "a",
            "# office\r\nusername = alice\r\npassword= two words=\r\ndomain=OFFICE\r\n");
    SmbCredentials c = readAuthFile(dir.path() / "a");
    EXPECT_EQ(c.user, "alice");
    EXPECT_EQ(c.password, " two words=") << "a password keeps its blanks and its = signs";
    EXPECT_EQ(c.domain, "OFFICE");

    writeFile(dir.path() / "b", "username=LAB\\bob\npassword=x\n");
    c = readAuthFile(dir.path() / "b");
    EXPECT_EQ(c.user, "bob");
    EXPECT_EQ(c.domain, "LAB");

    writeFile(dir.path() / "c", "password=x\n");
    EXPECT_THROW(readAuthFile(dir.path() / "c"), Error);
    EXPECT_THROW(readAuthFile(dir.path() / "missing"), Error);
}
