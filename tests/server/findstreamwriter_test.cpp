// The stream the server writes, read back by the program's own stream reader.
#include <gtest/gtest.h>

#include "protocol/findstream.h"
#include "protocol/findstreamwriter.h"
#include "util/codepage.h"
#include "util/datetime.h"
#include "util/error.h"

namespace veltrano {
namespace {

TItemData item(std::string_view name, uint32_t size, bool folder, double time = 36526.5)
{
    TItemData it;
    it.setName(name);
    it.Size = folder ? 0 : size;
    it.Attr = folder ? kAttrDirectory : 0x20;
    it.Time = time;
    return it;
}

struct ReadBack
{
    TItemList items;
    FindTotals totals;
    std::string error;
};

ReadBack readBack(const std::string &stream, const CodePage &cp)
{
    ReadBack r;
    try {
        parseFindStream(stream, false, cp, r.items, r.totals);
    } catch (const Error &e) {
        r.error = e.what();
    }
    return r;
}

TEST(FindStreamWriter, HitsComeBackEntryForEntryAcrossFoldersAndBlocks)
{
    const CodePage cp("CP950");
    // More hits than one block holds, folders revisited, a folder hit, Big5 names whose trail
    // byte is a backslash (功 = A5 5C), sizes at the edge of 32 bits, odd dates.
    std::vector<TItemData> hits;
    for (int i = 0; i < 600; ++i) {
        const std::string folder =
                "\\\\PC" + std::to_string(i % 3) + "\\s\\d" + std::to_string(i / 50);
        hits.push_back(item(folder + "\\f" + std::to_string(i) + ".txt", uint32_t(i) * 7919u, false,
                36526.5 + i));
    }
    hits.push_back(item("\\\\PC\\s\\\xA5\x5C\\\xA5\x5C.doc", 0xFFFFFFFFu, false, 2.0));
    hits.push_back(item("\\\\PC\\s\\sub", 0, true, -1.5));
    hits.push_back(item("\\\\PC\\s\\bad date", 1, false, 1e300));

    FindStreamWriter writer(cp, 1 << 20);
    for (const TItemData &h : hits)
        ASSERT_TRUE(writer.add(h));
    const ReadBack r = readBack(writer.finish(), cp);
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.items.size(), hits.size());
    for (size_t i = 0; i < hits.size(); ++i) {
        SCOPED_TRACE(hits[i].name());
        EXPECT_EQ(r.items[i].name(), hits[i].name());
        EXPECT_EQ(r.items[i].Size, hits[i].Size);
        EXPECT_EQ(r.items[i].Attr & kAttrDirectory, hits[i].Attr & kAttrDirectory);
        EXPECT_EQ(formatDateTime(r.items[i].Time), findStreamDate(hits[i].Time));
    }
    EXPECT_EQ(r.totals.files, 602);
    EXPECT_EQ(r.totals.folders, 1);
}

TEST(FindStreamWriter, NamesTheFormatCannotCarryAreLeftOutNotMangled)
{
    const CodePage cp("UTF-8");
    FindStreamWriter writer(cp);
    for (const char *name :
            {"\\\\PC\\s\\what?.txt", "\\\\PC\\s\\a<b", "\\\\PC\\s\\line\nbreak", "\\\\PC\\s\\ lead",
                    "\\\\PC\\s\\trail ", "\\\\PC\\s?\\x", "nofolder", "\\\\PC\\s\\ok"})
        writer.add(item(name, 5, false));
    const ReadBack r = readBack(writer.finish(), cp);
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].name(), "\\\\PC\\s\\ok");
    EXPECT_EQ(writer.skipped(), 7u);
}

TEST(FindStreamWriter, LimitsEndTheStreamWithTheirMarkerAndKeepTheHitsBefore)
{
    const CodePage cp("UTF-8");
    FindStreamWriter full(cp, 2000);
    size_t added = 0;
    while (full.add(item("\\\\PC\\s\\dir\\file" + std::to_string(added) + ".txt", 1, false)))
        ++added;
    const std::string stream = full.finish();
    EXPECT_LE(stream.size(), 2000u);
    ReadBack r = readBack(stream, cp);
    EXPECT_EQ(r.error, kFindBufferFull);
    EXPECT_EQ(r.items.size(), added);
    EXPECT_GT(added, 10u);

    FindStreamWriter over(cp);
    over.add(item("\\\\PC\\s\\a", 1, false));
    r = readBack(over.finishOverLimit(), cp);
    EXPECT_EQ(r.error, kFindOverLimit);
    EXPECT_EQ(r.items.size(), 1u);

    FindStreamWriter empty(cp);
    r = readBack(empty.finish(), cp);
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(r.items.empty());
}

} // namespace
} // namespace veltrano
