#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "util/resstr.h"

using namespace veltrano;

TEST(StringTable, HoldsTheProgramsTexts)
{
    EXPECT_EQ(LoadResStr(32000), "詢問");
    EXPECT_EQ(LoadResStr(32001), "資訊");
    EXPECT_EQ(LoadResStr(32002), "錯誤");
    EXPECT_EQ(LoadResStr(50105), "請先停止搜尋");
    EXPECT_EQ(LoadResStr(50103), "日期格式不合法\r\n正確格式 1/1/1999 10:00 AM 或 1/1/1999");
    EXPECT_EQ(LoadResStr(10010), "失敗");
    EXPECT_EQ(LoadResStr(10010, true), "Could not get folder data.");
    EXPECT_EQ(LoadResStr(50105, true), "請先停止搜尋") << "entries without an English form keep theirs";
    EXPECT_EQ(LoadResStr(12345), "");
}

TEST(StringTable, FormatsTheOneArgument)
{
    EXPECT_EQ(FmtResStr(50109, "12"), "搜尋到 12 項目");
    EXPECT_EQ(FmtResStr(50107, "8"), "8 資料夾 ");
    EXPECT_EQ(FmtResStr(12345, "x"), "");
    EXPECT_EQ(formatTemplate("100%% of %s", "50%s"), "100% of 50%s");
    EXPECT_EQ(formatTemplate("%s and %s", "a"), "a and %s");
    EXPECT_EQ(formatTemplate("ends with %", "a"), "ends with %");
}

TEST(StringTable, ErrorTextIsTheSystemsText)
{
    EXPECT_EQ(ErrorText(ENOENT), std::strerror(ENOENT));
    EXPECT_FALSE(ErrorText(99999).empty());
}
