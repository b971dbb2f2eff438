#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <random>

#include "search/compare.h"
#include "search/foldmatch.h"
#include "search/nodescan.h"
#include "support/tempdir.h"

using namespace veltrano;
using namespace veltrano::test;

namespace {

std::string randomBytes(std::mt19937 &rng, size_t n)
{
    std::string s(n, '\0');
    for (char &c : s)
        c = char(rng());
    return s;
}

} // namespace

// The window must hand out exactly the file's bytes wherever the scan asks, also for requests
// larger than itself and at the very end of the file.
TEST(LstWindow, GivesTheFilesBytesAtAnyOffset)
{
    TempDir dir;
    std::mt19937 rng(3);
    const std::string bytes = randomBytes(rng, 100000);
    writeFile(dir.path() / "a.LST", bytes);
    const std::string path = (dir.path() / "a.LST").string();
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    NodeScan scan;
    scan.lstFd = fd;
    scan.lstSize = bytes.size();
    scan.lstPath = &path;
    scan.lstId = 1;

    for (const size_t capacity : {1ul, 100ul, 4096ul}) {
        LstWindow window(capacity);
        window.attach(scan, rng() % 2 ? UINT64_MAX : 5000);
        for (int i = 0; i < 2000; ++i) {
            const uint64_t offset = rng() % bytes.size();
            const size_t want = 1 + rng() % 300;
            const unsigned char *p = window.at(offset, want);
            const size_t present = std::min<size_t>(want, bytes.size() - offset);
            ASSERT_LE(p + present, window.end());
            ASSERT_EQ(std::string(reinterpret_cast<const char *>(p), present), bytes.substr(offset, present))
                    << capacity << " " << offset;
            ASSERT_EQ(window.offsetOf(p), offset);
        }
    }
    ::close(fd);
}

// A list that turns out shorter than its length said (cut short by a collector meanwhile)
// ends where the reading found its end; nothing is read past it.
TEST(LstWindow, AFileCutShortEndsWhereTheReadingDid)
{
    TempDir dir;
    writeFile(dir.path() / "a.LST", std::string(1000, 'x'));
    const std::string path = (dir.path() / "a.LST").string();
    const int fd = ::open(path.c_str(), O_RDONLY);
    NodeScan scan;
    scan.lstFd = fd;
    scan.lstSize = 5000;
    scan.lstPath = &path;
    scan.lstId = 2;
    LstWindow window(256);
    window.attach(scan);
    EXPECT_EQ(window.size(), 5000u);
    window.at(900, 200);
    EXPECT_EQ(window.size(), 1000u);
    EXPECT_EQ(window.end() - window.at(900, 200), 100);
    ::close(fd);
}

// Every name in which the matcher finds the key must hold a candidate of the finder, in every
// code page it is used for; where a byte may fold in ways the finder cannot see, it is not
// used at all.
TEST(KeyCandidates, NoNameThatContainsTheKeyLacksACandidate)
{
    std::mt19937 rng(5);
    const std::vector<std::string> pieces = {"a", "R", "e", "P", "o", "t", "I", "i", ".", "\\", "_",
                                             "許", "報", "告", "é", "É", "ı", "İ", "ş", "@", "`", "{", "["};
    for (const char *page : {"CP950", "UTF-8", "windows-1252", "windows-1254"}) {
        const CodePage cp(page);
        for (int round = 0; round < 300; ++round) {
            std::string keyUtf8;
            for (size_t n = 1 + rng() % 4; n > 0; --n)
                keyUtf8 += pieces[rng() % pieces.size()];
            const std::optional<std::string> key = cp.fromUtf8(keyUtf8);
            if (!key)
                continue;
            const std::string upper = cp.upper(*key);
            const FoldMatcher matcher(upper, true, cp);
            const KeyCandidates &candidates = matcher.candidates();
            if (!candidates.usable())
                continue;
            // A run of names as they lie in a window, NUL after each.
            std::string buffer;
            std::vector<std::pair<size_t, size_t>> names;
            for (int n = 0; n < 40; ++n) {
                std::string name;
                for (size_t k = rng() % 12; k > 0; --k)
                    name += rng() % 3 ? pieces[rng() % pieces.size()] : keyUtf8;
                const std::string bytes = cp.fromUtf8Lossy(name);
                names.emplace_back(buffer.size(), bytes.size());
                buffer += bytes;
                buffer += '\0';
            }
            const auto *data = reinterpret_cast<const unsigned char *>(buffer.data());
            const unsigned char *end = data + buffer.size();
            for (const auto &[at, length] : names) {
                const NameBytes name = measureName(std::string_view(buffer).substr(at, length));
                if (!matcher.contains(name))
                    continue;
                const unsigned char *found = candidates.find(data + at, end);
                EXPECT_LE(found + candidates.keyLength(), data + at + length)
                        << page << " key " << keyUtf8 << " name " << cp.toUtf8(name.view());
            }
            // The finder never answers before where it was asked to start.
            for (int i = 0; i < 20; ++i) {
                const size_t from = rng() % (buffer.size() + 1);
                EXPECT_GE(candidates.find(data + from, end), data + from);
            }
        }
    }
    // In the Turkish page the dotless i folds to I: a key that begins or ends with I cannot
    // be looked for by its bytes alone.
    const CodePage turkish("windows-1254");
    EXPECT_FALSE(FoldMatcher(turkish.upper("ai"), true, turkish).candidates().usable());
    EXPECT_TRUE(FoldMatcher(turkish.upper("ab"), true, turkish).candidates().usable());
    EXPECT_FALSE(FoldMatcher("A", false, turkish).candidates().usable());
}
