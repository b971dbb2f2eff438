#include <gtest/gtest.h>

#include "util/codepage.h"
#include "util/error.h"

using namespace veltrano;

TEST(CodePage, NamesOfCodePage950AllSelectWindowsTable)
{
    for (const char *name : {"CP950", "950", "Big5", "big5", "windows-950", "MS950"})
        EXPECT_EQ(CodePage(name).name(), "windows-950-2000") << name;
    EXPECT_TRUE(CodePage("utf8").isUtf8());
    EXPECT_THROW(CodePage("no-such-page"), Error);
}
