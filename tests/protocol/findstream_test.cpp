#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/findstream.h"
#include "util/datetime.h"

using namespace veltrano;

namespace {

constexpr double kMay3rd2001At10 = 37014 + 10.0 / 24;

// What one parse handed to the results handler.
struct Parse
{
    std::vector<std::string> lines; // name|size|attr|date of every entry
    std::string error;
    int files = 0;
    int folders = 0;

    bool operator==(const Parse &) const = default;
};

std::string describe(const TItemData &item)
{
    return std::string(item.name()) + "|" + std::to_string(item.Size) + "|"
            + std::to_string(item.Attr) + "|" + formatDateTime(item.Time);
}

// Drives a FindStream and records every parse.
class Recorder
{
public:
    Recorder()
        : m_stream(CodePage("CP950"))
    {
        m_stream.setErrorHandler([this](const std::string &e) {
            m_error = e;
        });
        m_stream.setResultsHandler([this] {
            Parse p;
            for (const TItemData &item : m_stream.results())
                p.lines.push_back(describe(item));
            p.error = m_error;
            EXPECT_EQ(p.error, m_stream.lastError());
            p.files = m_stream.foundFiles();
            p.folders = m_stream.foundFolders();
            parses.push_back(std::move(p));
            m_error.clear();
        });
        m_stream.start();
    }

    void feed(std::string_view bytes) { m_stream.feed(bytes); }
    void feedInChunks(std::string_view bytes, size_t chunk)
    {
        for (size_t at = 0; at < bytes.size(); at += chunk)
            m_stream.feed(bytes.substr(at, chunk));
    }
    FindStream &stream() { return m_stream; }

    std::vector<Parse> parses;

private:
    FindStream m_stream;
    std::string m_error;
};

Parse parseWhole(std::string_view stream)
{
    Recorder r;
    r.feed(stream);
    EXPECT_EQ(r.parses.size(), 1u);
    return r.parses.empty() ? Parse{} : r.parses.front();
}

const std::string kExample = "\\\\PC\\share<2\n"
                             "?B2001/5/3 10:00:00\n"
                             "a.txt<1234<2001/5/3 10:00:00\n"
                             "?H1<1\n"
                             "?E";

} // namespace

TEST(FindStreamParse, OneBlockGivesTheFolderAndItsFileWithTheTotals)
{
    const Parse p = parseWhole(kExample);
    EXPECT_EQ(p.lines,
            (std::vector<std::string>{"\\\\PC\\share|0|16|2001/05/03 10:00:00",
                    "\\\\PC\\share\\a.txt|1234|0|2001/05/03 10:00:00"}));
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.files, 1);
    EXPECT_EQ(p.folders, 1);
}

TEST(FindStreamParse, EntryKindsFollowTheFieldCount)
{
    TItemList items;
    FindTotals totals;
    parseFindStream(
            "\\\\PC\\s<3\n?B2001/5/3 10:00\r\nsub<2001/5/3 10:00\r\nf<xyz<2001/5/3 10:00\r\n",
            false, CodePage("CP950"), items, totals);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].name(), "\\\\PC\\s");
    EXPECT_EQ(items[1].name(), "\\\\PC\\s\\sub");
    EXPECT_TRUE(items[1].isDirectory());
    EXPECT_EQ(items[2].name(), "\\\\PC\\s\\f");
    EXPECT_EQ(items[2].Size, 0u); // a size that is not a number
    EXPECT_FALSE(items[2].isDirectory());
    EXPECT_DOUBLE_EQ(items[2].Time, kMay3rd2001At10);
    EXPECT_EQ(totals.files, 0); // no summary: the totals stay
}

TEST(FindStreamParse, LinesGoToTheirHeaderFolderInOrderAcrossBlocks)
{
    const std::string s = "\\\\A\\x<2\n\\\\A\\y<1\n?B"
                          "2001/5/3 10:00\nf1<1<2001/5/3 10:00\nf2<2<2001/5/3 10:00\n"
                          "\\\\B\\z<1\n?Bf3<3<2001/5/3 10:00\n?H3<0\n?E";
    const Parse p = parseWhole(s);
    ASSERT_EQ(p.lines.size(), 4u);
    EXPECT_EQ(p.lines[1], "\\\\A\\x\\f1|1|0|2001/05/03 10:00:00");
    EXPECT_EQ(p.lines[2], "\\\\A\\y\\f2|2|0|2001/05/03 10:00:00");
    EXPECT_EQ(p.lines[3], "\\\\B\\z\\f3|3|0|2001/05/03 10:00:00");
    EXPECT_EQ(p.files, 3);
}

TEST(FindStreamParse, AHeaderThatAnnouncesNoLinesOwnsNone)
{
    const Parse p = parseWhole("\\\\A\\empty<0\n\\\\A\\full<1\n?Bf<1<2001/5/3 10:00\n?H1<0\n?E");
    ASSERT_EQ(p.lines.size(), 1u);
    EXPECT_EQ(p.lines[0], "\\\\A\\full\\f|1|0|2001/05/03 10:00:00");
}

TEST(FindStreamParse, ShortBlocksAndTextAfterTheSummaryAreHarmless)
{
    // A count of 3 with only two lines: both are listed.
    Parse p = parseWhole("\\\\P\\s<3\n?B2001/5/3 10:00\nf<1<2001/5/3 10:00\n?H1<1\n?E");
    EXPECT_EQ(p.lines.size(), 2u);
    EXPECT_EQ(p.error, "");
    // After the summary line nothing is read, not even a server error marker.
    p = parseWhole("\\\\P\\s<1\n?B2001/5/3 10:00\n?H7<8\nbad line\n?A?E");
    EXPECT_EQ(p.lines.size(), 1u);
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.files, 7);
    EXPECT_EQ(p.folders, 8);
    // A summary that is not two numbers gives zeros.
    p = parseWhole("?Hx<\n?E");
    EXPECT_EQ(p.files, 0);
    EXPECT_EQ(p.folders, 0);
}

TEST(FindStreamParse, UnknownMarkersAreSkippedWithTheirByte)
{
    const Parse p = parseWhole("?Z\\\\P\\s?x<1\n?B?B2001/5/3 1?Q0:00\n?H1<0\n?E");
    EXPECT_EQ(p.lines, (std::vector<std::string>{"\\\\P\\s|0|16|2001/05/03 10:00:00"}));
}

TEST(FindStreamParse, OnlyAnEndMarkerGivesAnEmptyListAndStillReports)
{
    Recorder r;
    r.feed(kExample);
    r.feed("?E");
    ASSERT_EQ(r.parses.size(), 2u);
    EXPECT_TRUE(r.parses[1].lines.empty());
    EXPECT_EQ(r.parses[1].error, "");
}

TEST(FindStreamErrors, ServerMarkersEndTheParseAndKeepEarlierEntries)
{
    Parse p = parseWhole("\\\\P\\s<5\n?B2001/5/3 10:00\n?Af<1<2001/5/3 10:00\n?E");
    EXPECT_EQ(p.lines.size(), 1u);
    EXPECT_EQ(p.error, kFindBufferFull);
    p = parseWhole("\\\\P\\s<5\n?O?E");
    EXPECT_TRUE(p.lines.empty());
    EXPECT_EQ(p.error, kFindOverLimit);
}

TEST(FindStreamErrors, MalformedLinesNameThemselvesAfterTheStructureText)
{
    Parse p = parseWhole(
            "\\\\P\\s<5\n?B2001/5/3 10:00\na<1<2001/5/3 10:00<x\r\nb<1<2001/5/3 10:00\n?E");
    EXPECT_EQ(p.lines.size(), 1u);
    EXPECT_EQ(p.error, std::string(kFindBadStructure) + "a<1<2001/5/3 10:00<x");
    // A header line without a count; the Big5 bytes of the line are shown in UTF-8.
    p = parseWhole("\\\\P\\\xA5\x5C\n?B?E");
    EXPECT_EQ(p.error, std::string(kFindBadStructure) + "\\\\P\\功");
    // A blank entry line has no fields at all.
    p = parseWhole("\\\\P\\s<1\n?B\n?E");
    EXPECT_EQ(p.error, std::string(kFindBadStructure));
}

TEST(FindStreamErrors, ADateThatDoesNotConvertEndsTheParse)
{
    const Parse p = parseWhole("\\\\P\\s<3\n?B2001/5/3 10:00\nf<1<2001/2/30\n?E");
    EXPECT_EQ(p.lines.size(), 1u);
    EXPECT_EQ(p.error, invalidDateTimeText("2001/2/30"));
}

TEST(FindStreamParse, NamesAreCutTo254BytesOnACharacterBoundary)
{
    const std::string folder = "\\\\P\\" + std::string(247, 'x'); // 251 bytes
    const std::string big5Name = "\xA5\x5C\xA5\x5C"; // 功功
    const Parse p = parseWhole(folder + "<1\n?B" + big5Name + "<1<2001/5/3 10:00\n?E");
    ASSERT_EQ(p.lines.size(), 1u);
    // 251 + backslash + one Big5 character fill 254; the second character does not fit.
    const std::string name = p.lines[0].substr(0, p.lines[0].find('|'));
    EXPECT_EQ(name, folder + "\\\xA5\x5C");
}

TEST(FindStreamAccumulation, AnEndMarkerSplitAcrossChunksEndsTheStream)
{
    Recorder r;
    const size_t split = kExample.size() - 1; // '?' ends one chunk, 'E' begins the next
    r.feed(std::string_view(kExample).substr(0, split));
    EXPECT_TRUE(r.parses.empty());
    r.feed(std::string_view(kExample).substr(split));
    ASSERT_EQ(r.parses.size(), 1u);
    EXPECT_EQ(r.parses[0], parseWhole(kExample));
    EXPECT_EQ(r.stream().pendingBytes(), 0u);
}

TEST(FindStreamAccumulation, BytesAfterTheEndMarkerBeginTheNextStream)
{
    Recorder r;
    const std::string second = "\\\\Q\\t<1\n?B2001/5/3 10:00\n?H0<1\n?E";
    r.feed(kExample + second.substr(0, 10));
    ASSERT_EQ(r.parses.size(), 1u);
    EXPECT_EQ(r.stream().pendingBytes(), 10u);
    r.feed(second.substr(10));
    ASSERT_EQ(r.parses.size(), 2u);
    EXPECT_EQ(r.parses[1], parseWhole(second));
    // Two whole streams in one chunk are both parsed.
    r.feed(kExample + second);
    EXPECT_EQ(r.parses.size(), 4u);
}

TEST(FindStreamAccumulation, StartDropsAHalfStreamAndZeroesTheTotals)
{
    Recorder r;
    r.feed(kExample);
    EXPECT_EQ(r.stream().foundFiles(), 1);
    r.feed("\\\\junk<1\n?B?");
    r.stream().start();
    EXPECT_EQ(r.stream().foundFiles(), 0);
    EXPECT_EQ(r.stream().pendingBytes(), 0u);
    r.feed("E"); // not the end of the dropped '?'
    EXPECT_EQ(r.parses.size(), 1u);
}

TEST(FindStreamAccumulation, AStreamLongerThanTheBufferEndsWithTheBufferFullError)
{
    const std::string line = "f<1<2001/5/3 10:00\n"; // 19 bytes
    const size_t lines = FindStream::kBufferSize / line.size() + 100;
    std::string body = "\\\\P\\s<" + std::to_string(lines) + "\n?B";
    const size_t head = body.size();
    for (size_t i = 0; i < lines; ++i)
        body += line;
    const std::string stream = body + "?H1<0\n?E";

    Recorder r;
    r.feedInChunks(stream, 2048);
    ASSERT_EQ(r.parses.size(), 1u);
    EXPECT_EQ(r.parses[0].error, kFindBufferFull);
    // Every whole line that fit in the buffer is listed; the cut one is not.
    EXPECT_EQ(r.parses[0].lines.size(), (FindStream::kBufferSize - head) / line.size());
    EXPECT_EQ(r.parses[0].files, 0);

    // The next stream is read normally.
    r.feed(kExample);
    ASSERT_EQ(r.parses.size(), 2u);
    EXPECT_EQ(r.parses[1], parseWhole(kExample));
}

TEST(FindStreamAccumulation, AnOverlongStreamWhoseSummaryFitIsComplete)
{
    const std::string stream = kExample.substr(0, kExample.size() - 2)
            + std::string(FindStream::kBufferSize, 'z') + "?E";
    Recorder r;
    r.feedInChunks(stream, 2048);
    ASSERT_EQ(r.parses.size(), 1u);
    EXPECT_EQ(r.parses[0], parseWhole(kExample));
}

TEST(FindStreamAccumulation, AStreamThatExactlyFillsTheBufferIsWhole)
{
    // Skipped markers between the block and the summary pad the stream to the buffer's size.
    const size_t summary = kExample.find("?H");
    const size_t pad = FindStream::kBufferSize - kExample.size();
    std::string filler;
    for (size_t i = 0; i < pad / 2; ++i)
        filler += "?Z";
    if (pad % 2)
        filler += ' ';
    std::string stream = kExample;
    stream.insert(summary, filler);
    ASSERT_EQ(stream.size(), FindStream::kBufferSize);

    Recorder r;
    r.feedInChunks(stream, 2048);
    ASSERT_EQ(r.parses.size(), 1u);
    EXPECT_EQ(r.parses[0], parseWhole(kExample));

    // Only the end marker's last byte past the buffer: the summary was read, nothing is lost.
    stream.insert(summary, " ");
    r.feedInChunks(stream, 2048);
    ASSERT_EQ(r.parses.size(), 2u);
    EXPECT_EQ(r.parses[1], parseWhole(kExample));

    // The summary pushed past the buffer: the parse ends with the buffer-full error.
    stream.insert(summary, std::string(7, ' '));
    r.feedInChunks(stream, 2048);
    ASSERT_EQ(r.parses.size(), 3u);
    EXPECT_EQ(r.parses[2].lines.size(), 2u);
    EXPECT_EQ(r.parses[2].error, kFindBufferFull);
}
