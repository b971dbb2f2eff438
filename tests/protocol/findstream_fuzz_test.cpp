// Random inputs for the result stream, the tokenizer and the mask matcher. They run in the
// sanitizer build too, where a read past a buffer fails the test; the sizes keep them to a few
// seconds there.

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/findstream.h"
#include "util/datetime.h"
#include "util/error.h"
#include "util/masksearch.h"
#include "util/strtokens.h"

using namespace veltrano;

namespace {

struct Outcome
{
    std::vector<std::string> entries;
    std::string error;
    int files = 0;
    int folders = 0;

    bool operator==(const Outcome &) const = default;
};

// Feeds `bytes` in chunks whose sizes come from `sizes` (cycled) and records every parse.
std::vector<Outcome> run(std::string_view bytes, const std::vector<size_t> &sizes)
{
    FindStream stream(CodePage("CP950"));
    std::vector<Outcome> out;
    stream.setResultsHandler([&] {
        Outcome o;
        for (const TItemData &item : stream.results()) {
            // The name is NUL-terminated within its 256 bytes and never longer than 254.
            EXPECT_LE(strnlen(item.Name, sizeof item.Name), 254u);
            o.entries.push_back(std::string(item.name()) + "|" + std::to_string(item.Size) + "|"
                    + std::to_string(item.Attr) + "|" + formatDateTime(item.Time));
        }
        o.error = stream.lastError();
        o.files = stream.foundFiles();
        o.folders = stream.foundFolders();
        out.push_back(std::move(o));
    });
    stream.start();
    size_t at = 0;
    for (size_t i = 0; at < bytes.size(); ++i) {
        const size_t n = sizes.empty() ? bytes.size() : sizes[i % sizes.size()];
        // Each chunk is a copy of its own, so a read past it is a read past a heap block.
        const std::string chunk(bytes.substr(at, n));
        stream.feed(chunk);
        at += chunk.size();
    }
    return out;
}

std::vector<size_t> randomChunking(std::mt19937 &rng, size_t maxChunk)
{
    std::uniform_int_distribution<size_t> size(1, maxChunk);
    std::vector<size_t> sizes(1 + rng() % 16);
    for (size_t &s : sizes)
        s = size(rng);
    return sizes;
}

// Bytes drawn mostly from the stream's own alphabet, so markers and lines are common.
std::string randomBytes(std::mt19937 &rng, size_t length)
{
    static const std::string kAlphabet =
            "??????EEBBHHAAOO<<<<\n\n\n\r 0123456789/:\\abPM\xA4\xA5\x5C";
    std::string s(length, '\0');
    for (char &c : s)
        c = rng() % 4 ? kAlphabet[rng() % kAlphabet.size()] : char(rng() % 256);
    return s;
}

std::string randomDate(std::mt19937 &rng)
{
    const int year = 1990 + int(rng() % 30), month = 1 + int(rng() % 12), day = 1 + int(rng() % 28);
    std::string date = rng() % 2
            ? std::to_string(year) + "/" + std::to_string(month) + "/" + std::to_string(day)
            : std::to_string(month) + "/" + std::to_string(day) + "/" + std::to_string(year);
    if (rng() % 3)
        date += " " + std::to_string(rng() % 24) + ":" + std::to_string(10 + rng() % 50) + ":"
                + std::to_string(10 + rng() % 50);
    return date;
}

std::string randomName(std::mt19937 &rng)
{
    // Big5 characters whose trail byte is a backslash, and single blanks inside a name.
    static const char *const kParts[] = {"a", "Readme", "\xA5\x5C", "\xB3\x5C", ".txt", "x y"};
    std::string name;
    for (size_t n = 1 + rng() % 4; n > 0; --n)
        name += kParts[rng() % 6];
    return name;
}

// A well-formed stream of random blocks, with the number of entries it holds.
std::string randomValidStream(std::mt19937 &rng, size_t &entries)
{
    std::string s;
    entries = 0;
    for (size_t blocks = 1 + rng() % 3; blocks > 0; --blocks) {
        const size_t folders = 1 + rng() % 3;
        std::vector<size_t> counts(folders);
        for (size_t f = 0; f < folders; ++f) {
            counts[f] = 1 + rng() % 5;
            s += "\\\\PC" + std::to_string(f) + "\\" + randomName(rng) + "<"
                    + std::to_string(counts[f]) + "\r\n";
        }
        s += "?B";
        for (size_t f = 0; f < folders; ++f) {
            for (size_t i = 0; i < counts[f]; ++i, ++entries) {
                switch (rng() % 3) {
                case 0:
                    s += randomDate(rng);
                    break;
                case 1:
                    s += randomName(rng) + "<" + randomDate(rng);
                    break;
                default:
                    s += randomName(rng) + "<" + std::to_string(rng() % 100000) + "<"
                            + randomDate(rng);
                }
                s += rng() % 2 ? "\n" : "\r\n";
            }
        }
    }
    s += "?H" + std::to_string(rng() % 100) + "<" + std::to_string(rng() % 100) + "\n?E";
    return s;
}

} // namespace

TEST(FindStreamFuzz, RandomBytesNeverCrashAndDoNotDependOnTheChunking)
{
    std::mt19937 rng(20240501);
    for (int round = 0; round < 200; ++round) {
        const std::string bytes = randomBytes(rng, 1 + rng() % 3000);
        const std::vector<Outcome> whole = run(bytes, {});
        ASSERT_EQ(run(bytes, randomChunking(rng, 64)), whole) << "round " << round;
        ASSERT_EQ(run(bytes, {1}), whole) << "round " << round;
    }
}

TEST(FindStreamFuzz, ValidStreamsGiveTheSameEntriesHoweverTheyAreChunked)
{
    std::mt19937 rng(77);
    for (int round = 0; round < 100; ++round) {
        size_t entries = 0;
        std::string streams;
        for (int n = 0; n < 3; ++n) {
            size_t e = 0;
            streams += randomValidStream(rng, e);
            entries += e;
        }
        const std::vector<Outcome> whole = run(streams, {});
        ASSERT_EQ(whole.size(), 3u);
        size_t listed = 0;
        for (const Outcome &o : whole) {
            EXPECT_EQ(o.error, "") << streams;
            listed += o.entries.size();
        }
        EXPECT_EQ(listed, entries);
        ASSERT_EQ(run(streams, randomChunking(rng, 300)), whole) << "round " << round;
        ASSERT_EQ(run(streams, {1, 2}), whole) << "round " << round;
    }
}

TEST(FindStreamFuzz, OverlongRandomStreamsStayInsideTheBuffer)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 2; ++round) {
        std::string bytes = randomBytes(rng, FindStream::kBufferSize + 1 + rng() % 5000);
        // No end marker until the very end, so the whole thing is one overlong stream.
        for (size_t at; (at = bytes.find("?E")) != std::string::npos;)
            bytes[at + 1] = 'e';
        bytes += "?E";
        const std::vector<Outcome> whole = run(bytes, {2048});
        ASSERT_EQ(whole.size(), 1u);
        EXPECT_EQ(run(bytes, randomChunking(rng, 4096)), whole);
    }
}

TEST(StrtokensFuzz, RandomLinesAndTemplatesEitherSplitOrRaiseTheTableTexts)
{
    std::mt19937 rng(99);
    const CodePage cp("CP950");
    static const std::string kTemplateChars = "SNMDCX< ,-";
    for (int round = 0; round < 3000; ++round) {
        const std::string line = randomBytes(rng, rng() % 40);
        std::string templ(rng() % 12, ' ');
        for (char &c : templ)
            c = kTemplateChars[rng() % kTemplateChars.size()];
        TokenList list;
        try {
            ParseTokens(line, templ, list, cp);
        } catch (const Error &) { }
        size_t total = 0;
        for (const std::string &field : list)
            total += field.size();
        EXPECT_LE(total, line.size());
    }
}

TEST(MasksearchFuzz, RandomNamesAndMasksNeverCrash)
{
    std::mt19937 rng(3);
    static const std::string kChars = "*?.ab\xC3\xA9\xE5\x8A\x9F\xFF";
    auto text = [&](size_t max) {
        std::string s(rng() % max, ' ');
        for (char &c : s)
            c = kChars[rng() % kChars.size()];
        return s;
    };
    for (int round = 0; round < 5000; ++round) {
        const std::string mask = text(10);
        const std::string name = text(10);
        // A mask without wildcards matches exactly the equal name.
        if (mask.find_first_of("*?") == std::string::npos)
            EXPECT_EQ(MatchMask(name, mask), name == mask);
        else
            (void)MatchMask(name, mask);
        MaskList list;
        BuildMask(mask, list);
        (void)FileMatches(name, &list);
    }
}
