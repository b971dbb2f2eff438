#include <random>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "search/compare.h"
#include "search/foldmatch.h"
#include "search/nodescan.h"
#include "support/tempdir.h"
#include "util/bytereader.h"

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
    scan.lstId = 2;
    LstWindow window(256);
    window.attach(scan);
    EXPECT_EQ(window.size(), 5000u);
    window.at(900, 200);
    EXPECT_EQ(window.size(), 1000u);
    EXPECT_EQ(window.end() - window.at(900, 200), 100);
    ::close(fd);
}

// A collector that writes a new list and renames it over the old one while a node is scanned
// must not give the scan's later windows the new list against the old .IDX.
TEST(PairBuffers, WindowsKeepReadingTheListTheScanStartedWith)
{
    TempDir dir;
    const CodePage cp("CP950");
    writeFile(dir.path() / "n.IDX", std::string(10, '\0'));
    writeFile(dir.path() / "n.LST", std::string(3000, 'o'));
    PairBuffers pair;
    ASSERT_EQ(pair.read(dir.folder(), "n", cp), PairState::Whole);
    const NodeScan scan = pair.scan();
    LstWindow first(256), second(256);
    first.attach(scan);
    ASSERT_EQ(*first.at(0, 1), 'o');

    writeFile(dir.path() / "new", std::string(3000, 'N'));
    std::filesystem::rename(dir.path() / "new", dir.path() / "n.LST");
    second.attach(scan);
    for (LstWindow *window : {&first, &second})
        for (const uint64_t offset : {0, 1000, 2999})
            EXPECT_EQ(*window->at(offset, 1), 'o') << offset;
    pair.close();
}

// Counts, lengths and offsets come from the file: whatever they claim, the chunks of a scan
// lie inside the .IDX, and there are never more than a bounded number of them.
TEST(ScanChunks, BoundsStayInsideTheIndexWhateverItClaims)
{
    const auto record = [](uint32_t offset, int32_t count, uint16_t length, std::string_view path) {
        std::string r(10, '\0');
        auto *p = reinterpret_cast<unsigned char *>(r.data());
        writeU32le(p, offset);
        writeU32le(p + 4, uint32_t(count));
        writeU16le(p + 8, length);
        return r + std::string(path);
    };
    std::string many;
    for (int i = 0; i < 200000; ++i)
        many += record(0, 0x7FFFFFFF, 1, "");
    const std::string cases[] = {record(0, 16384, 64, "abcd"),
            record(0, 20000, 2, "\\") + record(9, 20000, 0xFFFF, "x"), many};
    for (const std::string &idx : cases) {
        const auto *data = reinterpret_cast<const unsigned char *>(idx.data());
        const std::vector<ScanChunk> chunks = splitIntoChunks(data, idx.size(), 16384);
        EXPECT_LE(chunks.size(), 65537u);
        size_t at = 0;
        for (const ScanChunk &chunk : chunks) {
            EXPECT_EQ(chunk.idxBegin, at);
            EXPECT_LE(chunk.idxBegin, chunk.idxEnd);
            EXPECT_LE(chunk.idxEnd, idx.size());
            at = chunk.idxEnd;
        }
        EXPECT_EQ(at, idx.size());
    }
}

// Every name in which the matcher finds the key must hold a candidate of the finder, in every
// code page it is used for; where a byte may fold in ways the finder cannot see, it is not
// used at all.
TEST(KeyCandidates, NoNameThatContainsTheKeyLacksACandidate)
{
    std::mt19937 rng(5);
    const std::vector<std::string> pieces = {"a", "R", "e", "P", "o", "t", "I", "i", ".", "\\", "_",
            "許", "報", "告", "é", "É", "ı", "İ", "ş", "@", "`", "{", "[", "ａ", "Ａ", "ｗ", "Ｗ"};
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
