#include <gtest/gtest.h>

#include "store/searchhistory.h"
#include "store/setupinfo.h"
#include "support/clirun.h"

using namespace veltrano;
using namespace veltrano::test;

namespace {

CliRun cliAt(const TempDir &home, const std::string &args)
{
    return runCommand("cd '" + home.path().string() + "' && VELTRANO_HOME='" + home.path().string()
                      + "' VELTRANO_CODEPAGE= " + VELTRANO_CLI + " " + args);
}

} // namespace

TEST(SettingsCommand, PrintsEveryFieldInLayoutOrder)
{
    TempDir home;
    const CodePage cp("CP950");
    TSetupInfo record;
    DefaultSetupInfo(record, SetupEnvironment {cp, "/elsewhere/", "/dl/"});
    record.RemoteUser = cp.fromUtf8("許功蓋").value();
    record.Source = 1;
    ASSERT_TRUE(SaveSetupInfo(home.path() / "Veltrano.inf", record, cp));

    const CliRun run = cliAt(home, "settings");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Version=200\nFontName=MS Sans Serif\nFontSize=10\nOnlyFolderName=0\n"
              "ClearBeforeFind=1\nHitNoFind=0\nHitExclusive=0\nOnlyShowFolder=0\nHitNum=0\n"
              "HitNumValue=100\nOnlineShow=1\nViewStyle=3\nSource=1\nRemoteHost=\n"
              "RemoteUser=許功蓋\nRemotePassword=\nRemotePort=21\nPassiveMode=0\n"
              "DownloadFolder=/dl/\nTryCount=3\nTryInterval=3.472222222222222e-05\n"
              "ProgramFolder=" + home.path().string() + "/\n");
    EXPECT_EQ(run.err, "");

    const CliRun common = cliAt(home, "settings --common");
    EXPECT_EQ(common.status, 0);
    EXPECT_EQ(common.out, "Version=102\nReserved=0\nEchoTimeout=250\nOsCode=0\n");
    EXPECT_NE(common.err.find("COMMON.INI"), std::string::npos) << "the defaults are announced";
}

TEST(HistoryCommand, PrintsTheHistoryRowsAndTheRecentLists)
{
    TempDir home;
    const CodePage cp("CP950");
    SearchHistory history;
    const auto b5 = [&cp](const char *utf8) { return cp.fromUtf8(utf8).value(); };
    recordSearch(history,
                 {{{"", b5("檔名"), b5("包含"), b5("許功")},
                   {b5("且"), b5("檔案大小"), b5("大於"), "10"},
                   {b5("無"), b5("修改日期"), b5("大於"), ""}}},
                 "2024/05/01 10:00:00", cp);
    saveSearchHistory(history, home.path(), cp);
    saveRecentTexts(history, home.path());

    const CliRun run = cliAt(home, "history");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "2024/05/01 10:00:00\t檔名包含許功\t且檔案大小大於10\t\t"
              "檔名,包含,許功;且,檔案大小,大於,10;無,修改日期,大於,\n"
              "TEXT1.HIS\n\t許功\nTEXT2.HIS\n\t10\nTEXT3.HIS\n");

    writeFile(home.path() / "other" / "SEARCH.HIS" / "x", "");
    const CliRun broken = cliAt(home, "history '" + (home.path() / "other").string() + "'");
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err.rfind("讀取紀錄時發生錯誤", 0), 0u) << broken.err;
}
