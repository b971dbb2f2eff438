#include <gtest/gtest.h>

#include "search/nodescan.h"
#include "store/searchrequest.h"
#include "util/error.h"

using namespace veltrano;

TEST(SearchRequest, OptionBitsAndMinimumHitsComeFromTheSettings)
{
    TSetupInfo settings;
    EXPECT_EQ(searchOptionsOf(settings).Options, 0);
    settings.HitNumValue = 7;
    EXPECT_EQ(searchOptionsOf(settings).MinHits, 0); // only with HitNum
    settings.HitNum = 1;
    settings.ClearBeforeFind = 1;
    settings.OnlineShow = 1;
    EXPECT_EQ(searchOptionsOf(settings).Options, soHitNum);
    EXPECT_EQ(searchOptionsOf(settings).MinHits, 7);
    settings.OnlyShowFolder = settings.HitNoFind = settings.HitExclusive = settings.OnlyFolderName = 1;
    EXPECT_EQ(searchOptionsOf(settings).Options, 0x3E);
}

TEST(SearchRequest, CommandTextHoldsTheWordsOfAllThreeRows)
{
    TCompInfos conds;
    conds[0] = {clAnd, cfName, coContains, "doc"};
    conds[1] = {clNone, cfSize, coGreater, "12"};
    conds[2] = {clAndNot, cfDate, coLess, "1/1/1999"};
    const std::string command = searchCommandText(conds);
    EXPECT_EQ(command, "檔名,包含,doc;無,檔案大小,大於,12;且否,修改日期,小於,1/1/1999");
    EXPECT_EQ(remoteSearchArgument(command, {0x0A, 3}), command + ";10,3;");

    const TCompInfos back = conditionsFromCommand(command);
    EXPECT_EQ(searchCommandText(back), command);
    EXPECT_EQ(back[0].Logic, clAnd);
    EXPECT_EQ(back[2].Logic, clAndNot);
    EXPECT_EQ(back[1].Text, "12");
    EXPECT_EQ(conditionsFromCommand("name,contains,x;and,ext,equals,txt;none,size,greater,")[1].Field, cfExt);
}

TEST(SearchRequest, MalformedCommandsAreRefused)
{
    EXPECT_THROW(conditionsFromCommand("檔名,包含,doc"), Error);
    EXPECT_THROW(conditionsFromCommand("檔名,有,doc;無,檔案大小,大於,;無,修改日期,大於,"), Error);
    EXPECT_THROW(conditionsFromCommand("檔名,包含,doc;無,檔案大小,大於,;無,修改日期,大於,x;y"), Error);
}
