#include <gtest/gtest.h>

#include <algorithm>
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

std::vector<std::string> names(const TNodeList &list)
{
    std::vector<std::string> out;
    for (const TNodeData &n : list)
        out.push_back(n.Name);
    return out;
}

} // namespace

TEST(NodeList, MissingNodeListIsAnEmptyFolder)
{
    TempDir dir;
    TNodeList list;
    list.push_back(makeNode("kept", "kept", 0));
    EXPECT_NO_THROW(ReadNodeList(dir.folder(), list, true, kCp));
    EXPECT_EQ(names(list), std::vector<std::string> {"kept"});
}

TEST(NodeList, IgnoresTrailingPartialRecord)
{
    TempDir dir;
    writeNodeList(dir.folder(), {makeNode("a", "a", 0), makeNode("b", "b", 0), makeNode("c", "c", 0)});
    std::string bytes = readFile(dir.path() / "ALL.NOD");
    writeFile(dir.path() / "ALL.NOD", bytes + std::string(100, '\x7F'));
    TNodeList list;
    ReadNodeList(dir.folder(), list, false, kCp);
    EXPECT_EQ(names(list), (std::vector<std::string> {"a", "b", "c"}));
}

TEST(NodeList, SkipsFreeRecordsButKeepsPositions)
{
    TempDir dir;
    writeNodeList(dir.folder(), {makeNode("n0", "n0", 0), makeNode("n1", "n1", 0),
                                 makeNode("free", "free", 0, nsFree | nsCacheOn), makeNode("n3", "n3", 0)});
    TNodeList list;
    ReadNodeList(dir.folder(), list, false, kCp);
    ASSERT_EQ(names(list), (std::vector<std::string> {"n0", "n1", "n3"}));
    EXPECT_EQ(list[2].Position, 3 * 704);
    EXPECT_EQ(list[2].Position, 2112);
    EXPECT_EQ(list[2].Folder, dir.folder());
}

TEST(NodeList, SortsContainersThenIndexedThenOthersByNameIgnoringCase)
{
    TempDir dir;
    const uint16_t both = containerKind() | indexedKind();
    writeNodeList(dir.folder(), {makeNode("zz plain", "p", 0), makeNode("ABD", "i2", indexedKind()),
                                 makeNode("mid both", "b", both), makeNode("abc", "i1", indexedKind()),
                                 makeNode("Zed", "c1", containerKind()), makeNode("a plain", "p2", 0x0001)});
    TNodeList list;
    ReadNodeList(dir.folder(), list, true, kCp);
    EXPECT_EQ(names(list), (std::vector<std::string> {"mid both", "Zed", "abc", "ABD", "a plain", "zz plain"}));
}

TEST(NodeList, RecordFieldsSurviveAWriteAndARead)
{
    TNodeData node = makeNode("PC1", "pc1", indexedKind() | 0x0100, nsCacheOn | 0x5);
    node.Carried1 = {1, 2, 3};
    node.Carried2 = {4, 5, 6, 7};
    node.Carried3[15] = 0xAB;
    node.Address = "192.168.1.10";
    node.AddrKind = kAddrKindPingable;
    node.Stamp = 40000.25;
    node.Path = "WORKGROUP\\PC1";
    unsigned char record[kNodeRecordSize];
    encodeNodeRecord(node, record);
    const TNodeData back = decodeNodeRecord(record, "/cache/", 704);
    EXPECT_EQ(back.Name, node.Name);
    EXPECT_EQ(back.Path, node.Path);
    EXPECT_EQ(back.Kind, node.Kind);
    EXPECT_EQ(back.Address, node.Address);
    EXPECT_EQ(back.AddrKind, node.AddrKind);
    EXPECT_EQ(back.Carried1, node.Carried1);
    EXPECT_EQ(back.Carried2, node.Carried2);
    EXPECT_EQ(back.Carried3, node.Carried3);
    EXPECT_EQ(back.Stamp, node.Stamp);
    EXPECT_EQ(back.CacheName, node.CacheName);
    EXPECT_EQ(back.State, node.State);
    EXPECT_EQ(back.Position, 704);
    EXPECT_EQ(back.Folder, "/cache/");
}

TEST(NodeList, TextFieldsWithoutNulStopAtTheirWidth)
{
    unsigned char record[kNodeRecordSize];
    std::fill_n(record, kNodeRecordSize, 'A');
    writeU32le(record + 696, 0);
    const TNodeData node = decodeNodeRecord(record, "/", 0);
    EXPECT_EQ(node.Name.size(), 128u);
    EXPECT_EQ(node.Path.size(), 256u);
    EXPECT_EQ(node.Address.size(), 128u);
    EXPECT_EQ(node.CacheName.size(), 128u);
}

TEST(NodeList, LoadNodeFindsByPositionOrExactCacheName)
{
    TempDir dir;
    writeNodeList(dir.folder(), {makeNode("first", "Node0", 0), makeNode("gone", "Node1x", 0, nsFree),
                                 makeNode("second", "Node1", indexedKind())});
    TNodeData byName;
    byName.Folder = dir.folder();
    byName.CacheName = "Node1";
    LoadNode(byName, kCp);
    EXPECT_EQ(byName.Name, "second");
    EXPECT_EQ(byName.Position, 2 * 704);

    TNodeData byPosition;
    byPosition.Folder = dir.folder();
    byPosition.Position = 704;
    LoadNode(byPosition, kCp); // free records are not skipped here
    EXPECT_EQ(byPosition.Name, "gone");

    TNodeData wrongCase;
    wrongCase.Folder = dir.folder();
    wrongCase.CacheName = "NODE1";
    wrongCase.Name = "unchanged";
    try {
        LoadNode(wrongCase, kCp);
        FAIL() << "a cache name differing in case must not match";
    } catch (const Error &e) {
        EXPECT_STREQ(e.what(), "Not Found Data");
    }
    EXPECT_EQ(wrongCase.Name, "unchanged");

    TNodeData pastEnd;
    pastEnd.Folder = dir.folder();
    pastEnd.Position = 3 * 704;
    EXPECT_THROW(LoadNode(pastEnd, kCp), Error);
}

TEST(NodeList, LoadNodeWithoutNodeListGivesTheSystemText)
{
    TempDir dir;
    TNodeData node;
    node.Folder = dir.folder();
    node.CacheName = "x";
    try {
        LoadNode(node, kCp);
        FAIL();
    } catch (const Error &e) {
        EXPECT_EQ(std::string(e.what()), ErrorText(ENOENT));
    }
}

TEST(NodeList, FilesCopiedFromWindowsAreFoundInAnyCase)
{
    TempDir dir;
    writeNodeList(dir.folder(), {makeNode("n", "Share", indexedKind())});
    std::filesystem::rename(dir.path() / "ALL.NOD", dir.path() / "all.nod");
    writeFile(dir.path() / "share.idx", "");
    TNodeList list;
    ReadNodeList(dir.folder(), list, false, kCp);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(cacheFilePath(dir.folder(), "Share", ".IDX", kCp), dir.path() / "share.idx");
    EXPECT_TRUE(cacheFilePath(dir.folder(), "..", "", kCp).empty());
    EXPECT_TRUE(cacheFilePath(dir.folder(), "a/b", ".IDX", kCp).empty());
}

TEST(PathText, BackslashHelpers)
{
    EXPECT_EQ(AppendBackslash("", kCp), "");
    EXPECT_EQ(AppendBackslash("a", kCp), "a\\");
    EXPECT_EQ(AppendBackslash("a\\", kCp), "a\\");
    EXPECT_EQ(RemoveBackslash("", kCp), "");
    EXPECT_EQ(RemoveBackslash("a\\\\", kCp), "a\\");
    EXPECT_EQ(PathPart("\\\\PC1\\share\\dir\\", 3, kCp), "PC1");
    EXPECT_EQ(PathPart("\\\\PC1\\share\\dir\\", 4, kCp), "share");
    EXPECT_EQ(PathPart("\\\\PC1\\share\\dir\\", 1, kCp), "");
    EXPECT_EQ(PathPart("\\\\PC1\\share\\dir\\", 9, kCp), "");
    EXPECT_EQ(PathPart("a\\b", 2, kCp), "b");

    // 許 ends in the byte 0x5C, which is no backslash.
    const std::string xu = "\xB3\x5C";
    EXPECT_EQ(AppendBackslash(xu, kCp), xu + "\\");
    EXPECT_EQ(RemoveBackslash(xu, kCp), xu);
    EXPECT_EQ(PathPart("\\\\PC\\" + xu + "\\x", 4, kCp), xu);
}

TEST(PathText, AddressesAsNumbers)
{
    EXPECT_EQ(AddrToNumber("192.168.1.10"), 3232235786u);
    EXPECT_EQ(AddrToNumber("10.1"), 167837696u);
    EXPECT_EQ(AddrToNumber(""), 0u);
    EXPECT_EQ(AddrToNumber("255.255.255.255"), 0xFFFFFFFFu);
}

TEST(Locations, ListsContainersBelowNetAndExpanded)
{
    TempDir dir;
    const std::string root = dir.folder();
    writeNodeList(root, {makeNode("Net", "Net", containerKind()), makeNode("Expanded", "Expanded", containerKind())});
    writeNodeList(root + "Net/", {makeNode("WORKGROUP", "WORKGROUP", containerKind()),
                                  makeNode("alpha", "alpha", containerKind()), makeNode("leaf", "leaf", indexedKind())});
    writeNodeList(root + "Expanded/", {makeNode("\xA5\x5C", "x", containerKind())});
    const std::vector<std::string> entries = buildLocationList(dir.path(), kCp);
    EXPECT_EQ(entries, (std::vector<std::string> {"所有快取資料", "Net", " Net\\alpha", " Net\\WORKGROUP",
                                                  "Expanded", " Expanded\\功"}));

    EXPECT_EQ(startFolderOf(dir.path(), "所有快取資料"), root);
    EXPECT_EQ(startFolderOf(dir.path(), "Net"), root + "Net/");
    EXPECT_EQ(startFolderOf(dir.path(), " Net\\WORKGROUP"), root + "Net/WORKGROUP/");
    EXPECT_EQ(startFolderOf(dir.path(), " Net\\..\\.."), root + "Net/");
}

TEST(NodeList, RandomBytesReadWithoutHarm)
{
    TempDir dir;
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::string bytes(random() % (4 * kNodeRecordSize), '\0');
        for (char &b : bytes)
            b = char(random());
        writeFile(dir.path() / "ALL.NOD", bytes);
        TNodeList list;
        ReadNodeList(dir.folder(), list, true, kCp);
        EXPECT_LE(list.size(), bytes.size() / kNodeRecordSize);
        for (const TNodeData &n : list) {
            EXPECT_LE(n.Name.size(), 128u);
            EXPECT_FALSE(n.isFree());
        }
    }
}

TEST(NodeList, AFolderInPlaceOfTheNodeListIsAnErrorNotAHugeRead)
{
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "ALL.NOD");
    TNodeList list;
    try {
        ReadNodeList(dir.folder(), list, false, kCp);
        FAIL();
    } catch (const Error &e) {
        EXPECT_EQ(std::string(e.what()), ErrorText(EISDIR));
    }
}

TEST(NodeList, ANodeListTooLargeToBeOneIsRefusedUnread)
{
    TempDir dir;
    resizeFile(dir.path() / "ALL.NOD", uint64_t(200) << 30);
    TNodeList list;
    try {
        ReadNodeList(dir.folder(), list, false, kCp);
        FAIL();
    } catch (const Error &e) {
        EXPECT_NE(
                std::string(e.what()).find("ALL.NOD: too large for a node list"), std::string::npos)
                << e.what();
    }
    TNodeData node;
    node.Folder = dir.folder();
    node.CacheName = "x";
    EXPECT_THROW(LoadNode(node, kCp), Error);
}
