#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

#include "support/tempdir.h"
#include "util/programfolder.h"

using namespace veltrano;
using veltrano::test::TempDir;
using veltrano::test::writeFile;

namespace {

// Sets (or unsets, for nullptr) an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const char *value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

} // namespace

TEST(ProgramFolder, InstalledCopiesUseTheUsersDataFolderUnlessVeltranoInfLiesBeside)
{
    enum Expect {
        Beside,
        XdgData,
        HomeData
    };
    struct Case
    {
        const char *what;
        bool installed; // the desktop entry lies at ../share/applications
        bool setupBeside;
        const char *xdgDataHome; // "abs" for an absolute folder, or the literal value
        Expect expect;
    };
    const Case cases[] = {
            {"a build or a copy", false, false, "abs", Beside},
            {"installed", true, false, "abs", XdgData},
            {"installed, no XDG_DATA_HOME", true, false, nullptr, HomeData},
            {"installed, relative XDG_DATA_HOME", true, false, "rel/data", HomeData},
            {"installed with its settings beside", true, true, "abs", Beside},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const auto bin = dir.path() / "prefix/bin";
        std::filesystem::create_directories(bin);
        if (c.installed)
            writeFile(dir.path() / "prefix/share/applications" / kDesktopEntryName, "");
        if (c.setupBeside)
            writeFile(bin / "Veltrano.inf", "");
        const std::string xdg = (dir.path() / "xdg").string();
        ScopedEnv home("HOME", (dir.path() / "home").c_str());
        ScopedEnv data("XDG_DATA_HOME",
                c.xdgDataHome && std::string(c.xdgDataHome) == "abs" ? xdg.c_str() : c.xdgDataHome);

        const std::string folders[] = {bin.string() + "/", xdg + "/veltrano/",
                (dir.path() / "home").string() + "/.local/share/veltrano/"};
        const std::string &expected = folders[c.expect];
        EXPECT_EQ(programFolderBeside(bin), expected);
        if (c.expect != Beside) {
            EXPECT_TRUE(std::filesystem::is_directory(expected));
            EXPECT_EQ(std::filesystem::status(expected).permissions(),
                    std::filesystem::perms::owner_all)
                    << "the settings hold a password";
        }
    }
}

TEST(ProgramFolder, UnwritableDataFolderIsAnErrorNotAFolderThatLosesEverySave)
{
    TempDir dir;
    const auto bin = dir.path() / "prefix/bin";
    std::filesystem::create_directories(bin);
    writeFile(dir.path() / "prefix/share/applications" / kDesktopEntryName, "");
    // A file where the data folder should go cannot be got round, not even by root.
    writeFile(dir.path() / "xdg", "");
    ScopedEnv data("XDG_DATA_HOME", (dir.path() / "xdg").c_str());
    EXPECT_ANY_THROW(programFolderBeside(bin));
}
