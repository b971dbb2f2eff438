#include <gtest/gtest.h>

#include "support/clirun.h"

using namespace veltrano::test;

namespace {

// A folder named 功 in Big5 (A5 5C: its trail byte is a backslash) holding one file.
const std::string kStream = "\\\\PC\\\xA5\x5C<2\n"
                            "?B2001/5/3 10:00:00\n"
                            "a.txt<1234<2001/5/3 10:00:00\n"
                            "?H1<1\n"
                            "?E\n";

} // namespace

TEST(ParseStreamCommand, PrintsEveryEntryAndTheTotalsWhateverTheChunkSize)
{
    const std::string expected = "\\\\PC\\功\t0\t16\t2001/05/03 10:00:00\n"
                                 "\\\\PC\\功\\a.txt\t1234\t0\t2001/05/03 10:00:00\n"
                                 "found files=1 folders=1\n";
    for (const char *chunk : {"", "--chunk 1", "--chunk 7"}) {
        const CliRun run = cli(std::string("parse-stream --codepage Big5 ") + chunk, kStream);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, expected) << chunk;
    }
    TempDir dir;
    writeFile(dir.path() / "find.bin", kStream);
    const CliRun run =
            cli("parse-stream --codepage Big5 '" + (dir.path() / "find.bin").string() + "'");
    EXPECT_EQ(run.out, expected);
}

TEST(ParseStreamCommand, AnErrorGoesToStandardErrorAfterTheEntriesBeforeIt)
{
    const CliRun run = cli("parse-stream --codepage Big5", "\\\\PC\\s<3\n?B2001/5/3 10:00\n?O?E");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "\\\\PC\\s\t0\t16\t2001/05/03 10:00:00\nfound files=0 folders=0\n");
    EXPECT_EQ(run.err, "超出伺服器限制筆數\n");
}

TEST(ParseStreamCommand, AStreamWithoutItsEndMarkerIsReported)
{
    const CliRun run = cli("parse-stream", "\\\\PC\\s<3\n?B2001/5/3 10:00\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("not parsed"), std::string::npos) << run.err;
    EXPECT_EQ(cli("parse-stream --chunk 0", "?E").status, 2);
    EXPECT_EQ(cli("parse-stream --help").status, 0);
}
