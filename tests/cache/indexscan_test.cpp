#include <gtest/gtest.h>

#include <random>

#include "support/cachefixture.h"
#include "support/tempdir.h"
#include "util/bytereader.h"
#include "util/error.h"
#include "util/resstr.h"

using namespace veltrano;
using namespace veltrano::test;

namespace {

const CodePage kCp("CP950");

struct Scanned
{
    std::vector<std::string> dirs;
    std::vector<std::string> entries; // "dir|name|size"
};

// Walks buffers exactly as the search does; the buffers are copied to exact-size heap blocks so
// that the sanitizer catches any read past their end.
Scanned scan(const std::vector<unsigned char> &idxIn, const std::vector<unsigned char> &lstIn)
{
    const std::unique_ptr<unsigned char[]> idx(new unsigned char[idxIn.size() + 1]);
    const std::unique_ptr<unsigned char[]> lst(new unsigned char[lstIn.size() + 1]);
    std::copy(idxIn.begin(), idxIn.end(), idx.get());
    std::copy(lstIn.begin(), lstIn.end(), lst.get());
    Scanned out;
    IdxCursor dirs(idx.get(), idxIn.size());
    DirRecord dir;
    while (dirs.next(dir)) {
        out.dirs.emplace_back(dir.path);
        LstCursor entries(lst.get(), lstIn.size(), dir);
        EntryView entry;
        while (entries.next(entry))
            out.entries.push_back(std::string(dir.path) + "|" + std::string(entry.name) + "|"
                                  + std::to_string(entry.size));
    }
    return out;
}

IndexPairWriter twoDirectories()
{
    IndexPairWriter w;
    w.addDirectory("\\\\PC\\s\\", {fileEntry("a.txt", 1), fileEntry("bb.txt", 2), dirEntry("sub")});
    w.addDirectory("\\\\PC\\s\\sub\\", {fileEntry("c.txt", 3)});
    return w;
}

} // namespace

TEST(IndexScan, WalksDirectoriesAndTheirEntriesInOrder)
{
    const IndexPairWriter w = twoDirectories();
    const Scanned s = scan(w.idxBytes(), w.lstBytes());
    EXPECT_EQ(s.dirs, (std::vector<std::string> {"\\\\PC\\s\\", "\\\\PC\\s\\sub\\"}));
    EXPECT_EQ(s.entries, (std::vector<std::string> {"\\\\PC\\s\\|a.txt|1", "\\\\PC\\s\\|bb.txt|2",
                                                   "\\\\PC\\s\\|sub|0", "\\\\PC\\s\\sub\\|c.txt|3"}));
}

TEST(IndexScan, EmptyIndexAndEmptyDirectoriesYieldNothing)
{
    EXPECT_TRUE(scan({}, {}).dirs.empty());
    IndexPairWriter w;
    w.addDirectory("\\\\PC\\s\\", {});
    const Scanned s = scan(w.idxBytes(), w.lstBytes());
    EXPECT_EQ(s.dirs.size(), 1u);
    EXPECT_TRUE(s.entries.empty());
}

TEST(IndexScan, TruncatedEntryListDropsOnlyWhatIsMissing)
{
    const IndexPairWriter w = twoDirectories();
    std::vector<unsigned char> lst = w.lstBytes();
    // Entry 1 (a.txt) spans 18 + 6 bytes, entry 2 (bb.txt) 18 + 7. Cut so that entry 2 still has
    // exactly 20 bytes left: it is read (its name cut at the end), the rest of the folder is not.
    lst.resize(24 + 20);
    const Scanned s = scan(w.idxBytes(), lst);
    ASSERT_EQ(s.entries.size(), 2u);
    EXPECT_EQ(s.entries[0], "\\\\PC\\s\\|a.txt|1");
    EXPECT_EQ(s.entries[1], "\\\\PC\\s\\|bb|2");
    EXPECT_EQ(s.dirs.size(), 2u) << "the next directory record is still taken";

    lst.resize(24 + 19); // 19 bytes left: offset + 19 reaches the size, the folder ends
    EXPECT_EQ(scan(w.idxBytes(), lst).entries.size(), 1u);
}

TEST(IndexScan, CutIndexRecordEndsTheWalkInsideTheBuffer)
{
    const IndexPairWriter w = twoDirectories();
    std::vector<unsigned char> idx = w.idxBytes();
    idx.resize(idx.size() - 3); // the second path loses its last bytes
    Scanned s = scan(idx, w.lstBytes());
    ASSERT_EQ(s.dirs.size(), 2u);
    EXPECT_EQ(s.dirs[1], "\\\\PC\\s\\su");
    idx.resize(w.idxBytes().size() - 14); // the second header is incomplete
    EXPECT_EQ(scan(idx, w.lstBytes()).dirs.size(), 1u);
}

TEST(IndexScan, LengthsAndOffsetsPointingPastTheEndAreHeld)
{
    IndexPairWriter w = twoDirectories();
    std::vector<unsigned char> idx = w.idxBytes();
    std::vector<unsigned char> lst = w.lstBytes();
    writeU32le(idx.data(), 0xFFFFFFF0u);    // first folder's entries start far past the end
    writeU32le(idx.data() + 4, 0x7FFFFFFF); // with a huge count
    writeU16le(lst.data() + 16, 0xFFFF);    // and the first entry's name runs past the end
    const Scanned s = scan(idx, lst);
    EXPECT_EQ(s.dirs.size(), 2u);
    writeU32le(idx.data() + 4, 0x80000000u); // a negative count lists nothing
    EXPECT_EQ(scan(idx, lst).dirs.size(), 2u);

    // A path length past the end leaves the cursor at the end, never beyond: its position is
    // where the next record (or chunk of a scan) would start.
    const std::vector<unsigned char> cut = {0, 0, 0, 0, 0, 0x40, 0, 0, 64, 0, 'a', 'b', 'c', 'd'};
    IdxCursor dirs(cut.data(), cut.size());
    DirRecord dir;
    ASSERT_TRUE(dirs.next(dir));
    EXPECT_EQ(dir.path, "abcd");
    EXPECT_EQ(dirs.position(), cut.size());
    EXPECT_TRUE(dirs.damaged());
    EXPECT_FALSE(dirs.next(dir));
}

TEST(IndexScan, RandomBytesNeverLeaveTheBuffers)
{
    std::mt19937 random(20261208);
    for (int round = 0; round < 2000; ++round) {
        std::vector<unsigned char> idx(random() % 200);
        std::vector<unsigned char> lst(random() % 400);
        for (auto &b : idx)
            b = uint8_t(random() % 4 ? random() % 24 : random());
        for (auto &b : lst)
            b = uint8_t(random());
        scan(idx, lst);
    }
}

TEST(IndexScan, NodeWithoutEntryListIsSkipped)
{
    TempDir dir;
    twoDirectories().write(dir.folder(), "share", kCp);
    EXPECT_TRUE(readIndexPair(dir.folder(), "share", kCp).has_value());
    std::filesystem::remove(dir.path() / "share.LST");
    EXPECT_FALSE(readIndexPair(dir.folder(), "share", kCp).has_value());
}

class ListCacheDirTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        IndexPairWriter w;
        w.addDirectory("\\\\PC\\Share\\", {fileEntry("one.txt", 10), dirEntry("Docs")});
        w.addDirectory("\\\\PC\\Share\\Docs\\", {fileEntry("first.doc", 1)});
        w.addDirectory("\\\\pc\\share\\docs\\", {fileEntry("second.doc", 2)});
        w.addDirectory("\\\\PC\\Share\\Long\\", {fileEntry(std::string(255, 'n'), 5)});
        w.write(m_dir.folder(), "share", kCp);
    }

    std::vector<std::string> list(std::string_view path)
    {
        TItemList items;
        ListCacheDir(items, m_dir.folder(), "share", path, kCp);
        std::vector<std::string> out;
        for (const TItemData &item : items)
            out.emplace_back(item.name());
        return out;
    }

    TempDir m_dir;
};

TEST_F(ListCacheDirTest, FindsTheFirstFolderWhosePathMatchesIgnoringCase)
{
    EXPECT_EQ(list("\\\\pc\\SHARE\\"), (std::vector<std::string> {"\\\\PC\\Share\\one.txt", "\\\\PC\\Share\\Docs"}));
    EXPECT_EQ(list("\\\\PC\\SHARE\\DOCS\\"), (std::vector<std::string> {"\\\\PC\\Share\\Docs\\first.doc"}));
}

TEST_F(ListCacheDirTest, AFolderNotInTheCacheRaisesTheNoDataText)
{
    try {
        list("\\\\PC\\Share\\Missing\\");
        FAIL();
    } catch (const Error &e) {
        EXPECT_EQ(std::string(e.what()), "快取檔中沒有 \\\\PC\\Share\\Missing\\ 的資料");
    }
}

TEST_F(ListCacheDirTest, NamesAreCutTo255Bytes)
{
    const std::vector<std::string> names = list("\\\\PC\\Share\\Long\\");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].size(), 255u);
    EXPECT_EQ(names[0].substr(0, 16), "\\\\PC\\Share\\Long\\");

    TItemData item;
    item.setName(std::string(255, 'x'));
    EXPECT_EQ(item.name().size(), 255u);
}

// Files larger than their format can be are damaged ones (sparse, or overwritten): refused at
// once, without an attempt to hold them.
TEST_F(ListCacheDirTest, FilesTooLargeForTheirFormatAreRefusedUnread)
{
    const std::filesystem::path idx = m_dir.path() / "share.IDX";
    const std::filesystem::path lst = m_dir.path() / "share.LST";
    const std::string idxBytes = readFile(idx);
    for (const auto &[file, size] :
            {std::pair {idx, uint64_t(200) << 30}, std::pair {lst, uint64_t(5) << 30}}) {
        writeFile(idx, idxBytes);
        resizeFile(file, size);
        EXPECT_THROW(list("\\\\PC\\Share\\"), Error) << file;
        EXPECT_FALSE(readIndexPair(m_dir.folder(), "share", kCp).has_value());
    }
}

TEST_F(ListCacheDirTest, ShortEntryListAndMissingFilesAreErrorsOrLess)
{
    const std::string lst = readFile(m_dir.path() / "share.LST");
    writeFile(m_dir.path() / "share.LST", lst.substr(0, 30)); // one.txt whole, Docs cut
    EXPECT_EQ(list("\\\\PC\\Share\\").size(), 1u);
    writeFile(m_dir.path() / "share.LST", ""); // every offset is past the end now
    EXPECT_TRUE(list("\\\\PC\\Share\\Long\\").empty());

    std::filesystem::remove(m_dir.path() / "share.LST");
    try {
        list("\\\\PC\\Share\\");
        FAIL();
    } catch (const Error &e) {
        EXPECT_EQ(std::string(e.what()), ErrorText(ENOENT));
    }
}

TEST(ListCacheDir, Big5NamesWithBackslashAndLetterTrailBytes)
{
    TempDir dir;
    const std::string gong = "\xA5\x5C", xu = "\xB3\x5C", yi = "\xA4\x41";
    const std::string path = "\\\\PC\\" + gong + "\\" + xu + "\\";
    IndexPairWriter w;
    w.addDirectory(path, {fileEntry(yi + ".txt", 7), fileEntry("a" + xu, 8)});
    w.write(dir.folder(), gong, kCp);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "功.IDX"));

    TItemList items;
    ListCacheDir(items, dir.folder(), gong, "\\\\pc\\" + gong + "\\" + xu + "\\", kCp);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(kCp.toUtf8(items[0].name()), "\\\\PC\\功\\許\\乙.txt");
    EXPECT_EQ(kCp.toUtf8(items[1].name()), "\\\\PC\\功\\許\\a許");
    // The name's last separator is the one before 乙, not the trail byte of 許.
    EXPECT_EQ(kCp.rfindChar(items[0].name(), '\\'), path.size() - 1);
    EXPECT_EQ(kCp.toUtf8(PathPart(items[0].name(), 4, kCp)), "功");

    // A path that differs only in the trail byte's letter case is another folder.
    EXPECT_THROW(ListCacheDir(items, dir.folder(), gong, "\\\\PC\\" + gong + "\\\xB3\x7C\\", kCp), Error);
}

// A path and name longer than 255 bytes are cut before the character that would not fit whole,
// whether the cut falls on a lead byte or a trail byte.
TEST(ListCacheDir, LongBig5NamesAreCutOnACharacterBoundary)
{
    TempDir dir;
    std::string name;
    for (int i = 0; i < 150; ++i)
        name += "\xB3\x5C"; // 許, whose trail byte is a backslash
    for (const std::string path : {"\\\\PC\\s\\", "\\\\PC\\ss\\"}) {
        IndexPairWriter w;
        w.addDirectory(path, {fileEntry(name, 1)});
        w.write(dir.folder(), "s", kCp);
        TItemList items;
        ListCacheDir(items, dir.folder(), "s", path, kCp);
        ASSERT_EQ(items.size(), 1u);
        const std::string_view listed = items[0].name();
        EXPECT_EQ(listed.size(), path.size() + (255 - path.size()) / 2 * 2) << path;
        EXPECT_EQ(listed.substr(path.size()),
                std::string_view(name).substr(0, listed.size() - path.size()));
    }
}
