#include <gtest/gtest.h>

#include "search/resultsave.h"
#include "support/tempdir.h"
#include "util/filebytes.h"

namespace veltrano {
namespace {

std::string blanks(size_t n)
{
    return std::string(n, ' ');
}

const CodePage kBig5("CP950");

struct SaveCase
{
    const char *what;
    ResultRow row;
    ResultFileFormat format;
    std::string expected;
};

class ResultSave : public testing::TestWithParam<SaveCase>
{ };

TEST_P(ResultSave, WritesTheRowByteForByte)
{
    const SaveCase &c = GetParam();
    EXPECT_EQ(formatResults({c.row}, c.format, kBig5), c.expected) << c.what;
}

const std::string kLongFolder = "\\\\PC1\\share\\" + std::string(108, 'f') + "\\"; // 121 characters

INSTANTIATE_TEST_SUITE_P(Rows, ResultSave,
        testing::Values(
                // A folder longer than its field is written whole; the location follows at once.
                SaveCase{"long folder",
                        {"a.txt", ".txt", "3", kLongFolder, "PC1", "2026/01/02 03:04:05", true},
                        ResultFileFormat::CodePageText,
                        "a.txt" + blanks(45) + ".txt" + blanks(11) + "3" + blanks(14) + kLongFolder
                                + "PC1" + blanks(12) + "2026/01/02 03:04:05" + blanks(6) + "\r\n"},
                // Rows of the search server: blanks where the location and the date stand.
                SaveCase{"remote row", {"b", "", "", "\\\\PC2\\pub\\", "", "", false},
                        ResultFileFormat::CodePageText,
                        "b" + blanks(49) + blanks(15) + blanks(15) + "\\\\PC2\\pub\\" + blanks(90)
                                + blanks(15) + blanks(25) + "\r\n"},
                // Widths count the code page's bytes: two Big5 characters fill four places.
                SaveCase{"Big5 name", {"報告", "", "", "\\\\P\\s\\", "P", "", true},
                        ResultFileFormat::CodePageText,
                        "\xB3\xF8\xA7\x69" + blanks(46) + blanks(30) + "\\\\P\\s\\" + blanks(94)
                                + "P" + blanks(14) + blanks(25) + "\r\n"},
                // The UTF-8 form counts characters instead.
                SaveCase{"UTF-8 name", {"報告", "", "", "\\\\P\\s\\", "P", "", true},
                        ResultFileFormat::Utf8Text,
                        "報告" + blanks(48) + blanks(30) + "\\\\P\\s\\" + blanks(94) + "P"
                                + blanks(14) + blanks(25) + "\r\n"},
                // Quotes only where a field needs them; a quote inside is doubled.
                SaveCase{"CSV",
                        {"x,\"y\".txt", ".txt", "0", "\\\\P\\s\\", "P", "2026/01/02 03:04:05",
                                true},
                        ResultFileFormat::Csv,
                        "名稱,副檔名,大小(KB),目錄,位置,修改日期\r\n\"x,\"\"y\"\".txt\",.txt,0,"
                        "\\\\P\\s\\,P,"
                        "2026/01/02 03:04:05\r\n"}));

TEST(ResultSaveFile, ReplacesALongerFileWhole)
{
    test::TempDir dir;
    const std::string path = (dir.path() / "out.txt").string();
    test::writeFile(path, std::string(5000, 'x'));
    saveResults(path, {{"a", "", "", "\\\\P\\s\\", "P", "", true}}, ResultFileFormat::Csv, kBig5);
    EXPECT_EQ(readFileBytes(path).value(),
            "名稱,副檔名,大小(KB),目錄,位置,修改日期\r\na,,,\\\\P\\s\\,P,\r\n");
    EXPECT_THROW(saveResults((dir.path() / "no" / "such" / "x").string(), {}, ResultFileFormat::Csv,
                         kBig5),
            std::exception);
}

} // namespace
} // namespace veltrano
