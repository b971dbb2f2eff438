// What CHECKEXIST answers, and so what every command may reach: confinement to the shares.
#include <filesystem>

#include <gtest/gtest.h>

#include "server/sharemap.h"
#include "support/tempdir.h"
#include "util/error.h"

namespace veltrano {
namespace {

namespace fs = std::filesystem;

class Shares : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const fs::path share = m_dir.path() / "share";
        fs::create_directories(share / "sub");
        fs::create_directories(m_dir.path() / "secret");
        test::writeFile(share / "a.txt", "a");
        test::writeFile(share / "sub" / "b.txt", "b");
        test::writeFile(share / "功能.txt", "big5"); // 功 is A5 5C in Big5
        test::writeFile(m_dir.path() / "secret" / "key", "k");
        fs::create_directory_symlink(m_dir.path() / "secret", share / "out");
        fs::create_symlink("/etc/passwd", share / "passwd");
        fs::create_directory_symlink("sub", share / "inside");
        m_text = "# served\n\\\\PC1\\docs=" + share.string()
                + "\n\n\\\\pc2\\music=" + share.string() + "/sub\n";
    }

    test::TempDir m_dir;
    std::string m_text;
};

TEST_F(Shares, ExistenceCodesKeepEveryPathInsideTheShares)
{
    const ShareMap map = ShareMap::parse(m_text, CodePage("CP950"));
    struct Case
    {
        std::string path;
        ExistCode code;
    };
    const Case cases[] = {
            {"\\\\PC1\\docs\\a.txt", ExistCode::Readable},
            {"\\\\pc1\\DOCS\\sub\\", ExistCode::Readable},
            {"/PC2/music/b.txt", ExistCode::Readable},
            {"\\\\PC1\\docs\\inside\\b.txt", ExistCode::Readable}, // a link that stays in
            {"\\\\PC1\\docs\\\xA5\x5C\xAF\xE0.txt",
                    ExistCode::Readable}, // 0x5C is a trail byte here
            {"\\\\PC1\\docs\\nope.txt", ExistCode::Missing},
            {"\\\\PC1\\docs\\sub\\..\\..\\..\\etc\\passwd", ExistCode::Outside},
            {"\\\\PC1\\docs\\..\\docs\\a.txt", ExistCode::Readable}, // .. moves inside the tree
            {"/etc/passwd", ExistCode::Outside},
            {"\\\\PC9\\docs\\a.txt", ExistCode::Outside},
            {"\\\\PC1", ExistCode::Outside},
            {"\\\\PC1\\docs\\out\\key", ExistCode::Outside}, // links that lead out
            {"\\\\PC1\\docs\\passwd", ExistCode::Outside},
            {std::string("\\\\PC1\\docs\\a.txt\0/../../secret/key", 34), ExistCode::Failed},
            {"\\\\PC1\\docs\\\xA5", ExistCode::Failed}, // half a character
            // A current folder followed by a full UNC path means the UNC path.
            {"\\\\PC1\\docs\\sub\\\\\\PC1\\docs\\a.txt", ExistCode::Readable},
    };
    for (const Case &c : cases)
        EXPECT_EQ(checkExist(map, {}, c.path), c.code) << c.path;

    // Relative paths start at the current folder.
    ShareMap::Location sub;
    ASSERT_EQ(map.resolve({}, "/PC1/docs/sub", sub), ShareMap::Fault::None);
    EXPECT_EQ(checkExist(map, sub.parts, "b.txt"), ExistCode::Readable);
    EXPECT_EQ(checkExist(map, sub.parts, "../../../../etc/passwd"), ExistCode::Outside);
    EXPECT_EQ(ShareMap::display(sub.parts), "/PC1/docs/sub");
}

TEST_F(Shares, ABadSharesFileIsRefusedWithItsLine)
{
    const CodePage cp("CP950");
    for (const std::string &text : {std::string("\\\\PC1\\docs\n"),
                 std::string("\\\\PC1\\docs=/no/such/folder\n"), m_text + "\\\\PC1\\Docs=/tmp\n"}) {
        EXPECT_THROW(ShareMap::parse(text, cp), Error) << text;
    }
    EXPECT_EQ(ShareMap::parse(m_text, cp).computers().size(), 2u);
}

} // namespace
} // namespace veltrano
