#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "res/uilanguage.h"
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
    EXPECT_EQ(LoadResStr(12345), "");
}

// Every text has an English form that keeps what the program fills in or splits on: the one %s,
// and the line break between a message and its hint.
TEST(StringTable, EveryTextHasAnEnglishFormWithTheSamePlaceholders)
{
    const auto count = [](std::string_view text, std::string_view part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != text.npos; at = text.find(part, at + 1))
            ++n;
        return n;
    };
    const auto isAscii = [](char c) {
        return (c & 0x80) == 0;
    };
    const std::vector<int> ids = ResStrIds();
    ASSERT_GE(ids.size(), 21u);
    for (const int id : ids) {
        const std::string_view chinese = LoadResStr(id, false);
        const std::string_view english = LoadResStr(id, true);
        EXPECT_NE(english, chinese) << id;
        EXPECT_TRUE(std::all_of(english.begin(), english.end(), isAscii)) << id << ": " << english;
        EXPECT_EQ(count(english, "%s"), count(chinese, "%s")) << id;
        EXPECT_EQ(count(english, "\r\n"), count(chinese, "\r\n")) << id;
    }
}

// LC_ALL over LC_MESSAGES over LANG, as the C library reads them; --lang and $VELTRANO_LANG
// over all three. Only English switches; every other locale keeps the program's Chinese.
TEST(UiLanguageChoice, FollowsOptionThenVariableThenLocale)
{
    using Env = std::map<std::string, std::string>;
    constexpr auto En = UiLanguage::English;
    constexpr auto Zh = UiLanguage::TraditionalChinese;
    const struct
    {
        std::string option;
        Env env;
        std::optional<UiLanguage> expected;
    } cases[] = {
            {"", {}, Zh},
            {"", {{"LANG", "en_US.UTF-8"}}, En},
            {"", {{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "zh_TW.UTF-8"}}, Zh},
            {"", {{"LANG", "zh_TW.UTF-8"}, {"LC_MESSAGES", "en_GB.UTF-8"}}, En},
            {"", {{"LC_MESSAGES", "en_GB"}, {"LC_ALL", "C.UTF-8"}}, Zh},
            {"", {{"LC_ALL", "en_US.UTF-8"}, {"LANG", "zh_TW.UTF-8"}}, En},
            {"", {{"LANG", "de_DE.UTF-8"}}, Zh},
            {"", {{"LANG", "english"}}, Zh},
            {"", {{"VELTRANO_LANG", "en"}, {"LANG", "zh_TW.UTF-8"}}, En},
            {"", {{"VELTRANO_LANG", "xx"}, {"LANG", "en_US.UTF-8"}}, En},
            {"zh_TW", {{"VELTRANO_LANG", "en"}, {"LC_ALL", "en_US.UTF-8"}}, Zh},
            {"en", {{"LANG", "zh_TW.UTF-8"}}, En},
            {"fr", {{"LANG", "en_US.UTF-8"}}, std::nullopt},
    };
    for (const auto &c : cases) {
        const auto getenv = [&c](const char *name) -> const char * {
            const auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(chooseUiLanguage(c.option, getenv), c.expected)
                << "--lang " << c.option << ", " << c.env.size() << " variables";
    }
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
