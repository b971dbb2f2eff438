#include <gtest/gtest.h>

#include "util/sysinfo.h"

using namespace veltrano;

namespace {

uint8_t codeFor(std::optional<std::string> name)
{
    setReleaseNameSource([name] {
        return name;
    });
    uint8_t code = 99;
    GetOSType(code);
    setReleaseNameSource({});
    return code;
}

} // namespace

TEST(Sysinfo, EachKnownReleaseHasItsCode)
{
    EXPECT_EQ(codeFor("Microsoft Windows 95"), 1);
    EXPECT_EQ(codeFor("Microsoft Windows 98"), 2);
    EXPECT_EQ(codeFor("Microsoft Windows NT"), 3);
    EXPECT_EQ(codeFor("Microsoft Windows 2000"), 4);
    EXPECT_EQ(codeFor("Microsoft Windows Millennium"), 5);
}

TEST(Sysinfo, AnythingElseOrNoNameIsZero)
{
    EXPECT_EQ(codeFor("Microsoft Windows XP"), 0);
    EXPECT_EQ(codeFor("Microsoft Windows 98 "), 0); // a trailing blank
    EXPECT_EQ(codeFor("microsoft windows 98"), 0); // case counts
    EXPECT_EQ(codeFor(""), 0);
    EXPECT_EQ(codeFor(std::nullopt), 0);
    uint8_t code = 99;
    GetOSType(code); // the default source names no release
    EXPECT_EQ(code, 0);
}
