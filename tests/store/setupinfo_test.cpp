#include <sys/stat.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "store/commoninfo.h"
#include "store/setupinfo.h"
#include "support/tempdir.h"
#include "util/bytereader.h"
#include "util/datetime.h"
#include "util/programfolder.h"
#include "util/sysinfo.h"

using namespace veltrano;
using veltrano::test::readFile;
using veltrano::test::TempDir;
using veltrano::test::writeFile;

namespace {

SetupEnvironment testEnvironment()
{
    return SetupEnvironment {CodePage("CP950"), "/opt/veltrano/", "/home/u/Downloads/"};
}

const unsigned char *bytesOf(const std::string &s)
{
    return reinterpret_cast<const unsigned char *>(s.data());
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const char *value)
        : m_name(name)
    {
        const char *old = std::getenv(name);
        if (old)
            m_old = old;
        m_had = old != nullptr;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            ::setenv(m_name, m_old.c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char *m_name;
    std::string m_old;
    bool m_had = false;
};

} // namespace

TEST(SetupInfo, MissingFileGivesDefaultsAndSaveWritesThemAtTheirOffsets)
{
    TempDir dir;
    TSetupInfo record;
    EXPECT_FALSE(LoadSetupInfo(dir.path() / "Veltrano.inf", record, testEnvironment()));
    ASSERT_TRUE(SaveSetupInfo(dir.path() / "Veltrano.inf", record, CodePage("CP950")));

    const std::string bytes = readFile(dir.path() / "Veltrano.inf");
    ASSERT_EQ(bytes.size(), kSetupInfoSize);
    const unsigned char *p = bytesOf(bytes);
    EXPECT_EQ(readU32le(p), 200u);
    EXPECT_EQ(readText(p + 4, 128), "MS Sans Serif");
    EXPECT_EQ(readI32le(p + 132), 10);
    EXPECT_EQ(std::string(bytes, 136, 6), std::string("\0\1\0\0\0\0", 6));
    EXPECT_EQ(readI32le(p + 144), 100);
    EXPECT_EQ(p[148], 1);
    EXPECT_EQ(p[149], 3);
    EXPECT_EQ(readI32le(p + 152), 0);
    EXPECT_EQ(readText(p + 156, 128), "");
    EXPECT_EQ(readI32le(p + 540), 21);
    EXPECT_EQ(p[544], 0);
    EXPECT_EQ(readText(p + 548, 128), "/home/u/Downloads/");
    EXPECT_EQ(readI32le(p + 676), 3);
    EXPECT_DOUBLE_EQ(readDoubleLe(p + 680), 3.0 / 86400.0);
    EXPECT_EQ(readText(p + 688, 128), "/opt/veltrano/");

    struct stat st {};
    ASSERT_EQ(::stat((dir.path() / "Veltrano.inf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file holds the password";
}

TEST(SetupInfo, FileWrittenByThisCodeReadsBackByteForByte)
{
    TempDir dir;
    const CodePage cp("CP950");
    TSetupInfo record;
    DefaultSetupInfo(record, testEnvironment());
    copyText(record.FontName, cp.fromUtf8("細明體").value(), cp);
    record.FontSize = 12;
    record.OnlyFolderName = record.HitNoFind = record.HitExclusive = record.OnlyShowFolder = 1;
    record.HitNum = 1;
    record.HitNumValue = 9999;
    record.ViewStyle = kViewStyleList;
    record.Source = kSourceRemote;
    record.RemoteHost = "search.example";
    record.RemoteUser = cp.fromUtf8("許功蓋").value(); // trail bytes 0x5C
    record.RemotePassword = "p@ss";
    record.RemotePort = 2121;
    record.PassiveMode = 1;
    record.SearchAsYouType = 1;
    record.Reserved1 = {8};
    record.Reserved3 = {1, 2, 3};
    record.TryInterval = *encodeTime(0, 1, 30);

    const std::filesystem::path path = dir.path() / "Veltrano.inf";
    ASSERT_TRUE(SaveSetupInfo(path, record, cp));
    const std::string first = readFile(path);
    EXPECT_EQ(first.substr(141, 3), std::string("\x01\x01\x08", 3)) << "HitNum, then the typing option";

    TSetupInfo loaded;
    EXPECT_TRUE(LoadSetupInfo(path, loaded, testEnvironment()));
    EXPECT_EQ(loaded, record);
    ASSERT_TRUE(SaveSetupInfo(path, loaded, cp));
    EXPECT_EQ(readFile(path), first);
}

TEST(SetupInfo, ShortFileOfVersion200FillsOnlyTheBytesItHas)
{
    TempDir dir;
    TSetupInfo full;
    DefaultSetupInfo(full, testEnvironment());
    full.FontSize = 14;
    full.HitNumValue = 5;
    const auto bytes = encodeSetupInfo(full, CodePage("CP950"));
    // Up to and including ViewStyle: Source and everything after it are missing.
    writeFile(dir.path() / "Veltrano.inf", std::string(reinterpret_cast<const char *>(bytes.data()), 150));

    TSetupInfo record; // zero-filled, as at start
    EXPECT_FALSE(LoadSetupInfo(dir.path() / "Veltrano.inf", record, testEnvironment()));
    EXPECT_EQ(record.Version, 200u);
    EXPECT_EQ(record.FontSize, 14);
    EXPECT_EQ(record.HitNumValue, 5);
    EXPECT_EQ(record.ViewStyle, 3);
    EXPECT_EQ(record.RemotePort, 0) << "no default for bytes the file lacks";
    EXPECT_EQ(record.TryCount, 0);
    EXPECT_EQ(record.DownloadFolder, "");
    EXPECT_EQ(record.ProgramFolder, "/opt/veltrano/");
}

TEST(SetupInfo, ForeignVersionOrTinyFileGivesDefaultsAndKeepsReservedBytes)
{
    TempDir dir;
    TSetupInfo other;
    DefaultSetupInfo(other, testEnvironment());
    other.Version = 199;
    other.FontSize = 30;
    const auto bytes = encodeSetupInfo(other, CodePage("CP950"));
    writeFile(dir.path() / "a.inf", std::string(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
    writeFile(dir.path() / "b.inf", std::string("\xC8\0", 2));

    for (const char *name : {"a.inf", "b.inf"}) {
        TSetupInfo record;
        record.Reserved2 = {9, 9};
        EXPECT_FALSE(LoadSetupInfo(dir.path() / name, record, testEnvironment())) << name;
        EXPECT_EQ(record.Version, 200u) << name;
        EXPECT_EQ(record.FontSize, 10) << name;
        EXPECT_EQ(record.Reserved2, (std::array<uint8_t, 2> {9, 9})) << name;
    }
}

TEST(SetupInfo, StoredProgramFolderIsReplacedByTheCurrentOne)
{
    TempDir dir;
    TSetupInfo moved;
    DefaultSetupInfo(moved, SetupEnvironment {CodePage("CP950"), "/old/place/", "/d/"});
    ASSERT_TRUE(SaveSetupInfo(dir.path() / "Veltrano.inf", moved, CodePage("CP950")));

    TSetupInfo record;
    EXPECT_TRUE(LoadSetupInfo(dir.path() / "Veltrano.inf", record, testEnvironment()));
    EXPECT_EQ(record.ProgramFolder, "/opt/veltrano/");
    EXPECT_EQ(record.DownloadFolder, "/d/") << "only the program folder is replaced";
}

TEST(SetupInfo, TextsAreCutToTheirLimitsOnCharacterBoundaries)
{
    const CodePage cp("CP950");
    const std::string word = cp.fromUtf8("許").value();           // two bytes
    const std::string text = "a" + [&] { std::string s; for (int i = 0; i < 100; ++i) s += word; return s; }();

    std::string field;
    copyText(field, text, cp);
    EXPECT_EQ(field.size(), 127u); // "a" and 63 whole characters
    copyText(field, text, cp, kPasswordLimit);
    EXPECT_EQ(field.size(), 125u) << "a 126th byte would split a character";

    // A field assigned directly is cut the same way when it is written.
    TSetupInfo record;
    record.RemoteHost = std::string(300, 'h');
    record.FontName = text;
    TSetupInfo back;
    const auto bytes = encodeSetupInfo(record, cp);
    decodeSetupInfo(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()), back, cp);
    EXPECT_EQ(back.RemoteHost, std::string(127, 'h'));
    EXPECT_EQ(back.FontName, text.substr(0, 127));
    EXPECT_EQ(back.RemotePort, 0) << "a long text must not run into the next field";
}

TEST(SetupInfo, FailedSaveIsReportedAndLeavesNoTemporaryFile)
{
    TempDir dir;
    const std::filesystem::path target = dir.path() / "Veltrano.inf";
    std::filesystem::create_directories(target / "occupied"); // a folder cannot be replaced
    TSetupInfo record;
    DefaultSetupInfo(record, testEnvironment());
    std::string failure;
    EXPECT_FALSE(SaveSetupInfo(target, record, CodePage("CP950"), &failure));
    EXPECT_NE(failure.find("Veltrano.inf"), std::string::npos) << failure;
    size_t files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST(SetupInfo, DownloadFolderFollowsTheXdgUserDirs)
{
    TempDir dir;
    ScopedEnv home("HOME", dir.path().c_str());
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(userDownloadFolder(), dir.path().string() + "/Downloads/");

    writeFile(dir.path() / ".config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
              "XDG_DOWNLOAD_DIR=\"$HOME/下載\"\n");
    EXPECT_EQ(userDownloadFolder(), dir.path().string() + "/下載/");

    ScopedEnv other("XDG_CONFIG_HOME", (dir.path() / "cfg").c_str());
    writeFile(dir.path() / "cfg/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"/srv/dl\"\n");
    EXPECT_EQ(userDownloadFolder(), "/srv/dl/");
}

TEST(ProgramFolder, IsVeltranoHomeWhenSetElseTheExecutablesFolder)
{
    {
        ScopedEnv home("VELTRANO_HOME", "/tmp/somewhere");
        EXPECT_EQ(programFolder(), "/tmp/somewhere/");
    }
    ScopedEnv unset("VELTRANO_HOME", nullptr);
    const std::string folder = programFolder();
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / "store_tests")) << folder;
}

TEST(CommonInfo, DefaultsWhenMissingOrForeignAndReservedWordKept)
{
    TempDir dir;
    const std::filesystem::path path = dir.path() / "COMMON.INI";
    TCommonInfo record;
    EXPECT_FALSE(LoadCommonInfo(record, 2, path));
    EXPECT_EQ(record, (TCommonInfo {102, 0, 250, 2, {}}));

    ASSERT_TRUE(SaveCommonInfo(record, path));
    EXPECT_EQ(readFile(path), std::string("\x66\0\0\0\0\0\0\0\xFA\0\0\0\x02\0\0\0", 16));

    // Another program of the suite uses the word at offset 4: it goes back as read.
    writeFile(path, std::string("\x66\0\0\0\xEF\xBE\xAD\xDE\xE8\x03\0\0\x03\0\0\0", 16));
    EXPECT_TRUE(LoadCommonInfo(record, 0, path));
    EXPECT_EQ(record, (TCommonInfo {102, 0xDEADBEEF, 1000, 3, {}}));
    const std::string before = readFile(path);
    ASSERT_TRUE(SaveCommonInfo(record, path));
    EXPECT_EQ(readFile(path), before);

    writeFile(path, std::string("\x65\0\0\0\0\0\0\0\x10\0\0\0\x01\0\0\0", 16));
    EXPECT_FALSE(LoadCommonInfo(record, 0, path));
    EXPECT_EQ(record.EchoTimeout, 250u);
    EXPECT_EQ(record.OsCode, 0);
}

TEST(CommonInfo, DefaultsTakeTheOperatingSystemCodeOfTheReleaseName)
{
    TempDir dir;
    setReleaseNameSource([] { return std::optional<std::string>("Microsoft Windows 98"); });
    TCommonInfo record;
    EXPECT_FALSE(LoadCommonInfo(record, dir.path() / "COMMON.INI"));
    setReleaseNameSource({});
    EXPECT_EQ(record.OsCode, 2);
    DefaultCommonInfo(record);
    EXPECT_EQ(record.OsCode, 0) << "no release name on Linux";
}
