// Writes the seed corpora: small valid inputs for every target, made with the project's own
// writers where it has them. Run it from the fuzz build with the corpus folder as argument;
// existing seeds of the same names are replaced, other inputs are left alone.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cache/cachewriter.h"
#include "fuzzsupport.h"
#include "search/nodescan.h"
#include "store/commoninfo.h"
#include "store/inifile.h"
#include "store/searchhistory.h"
#include "store/setupinfo.h"

using namespace veltrano;
using namespace veltrano::fuzz;

namespace {

std::filesystem::path g_corpus;

void seed(const std::string &target, const std::string &name, std::string_view bytes)
{
    const std::filesystem::path folder = g_corpus / target;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / ("seed-" + name), std::ios::binary)
            .write(bytes.data(), std::streamsize(bytes.size()));
}

std::string joined(const std::vector<std::string_view> &parts)
{
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i)
        text += std::string(i ? kPartSeparator : "") + std::string(parts[i]);
    return text;
}

std::string bytesOf(const std::vector<unsigned char> &bytes)
{
    return {bytes.begin(), bytes.end()};
}

TNodeData node(std::string_view name, std::string_view cacheName, uint16_t kind, uint32_t state)
{
    TNodeData n;
    n.Name = n.Path = std::string(name);
    n.CacheName = std::string(cacheName);
    n.Kind = kind;
    n.State = state;
    n.Address = "192.168.0.7";
    n.Stamp = 45000.5;
    return n;
}

std::string nodeListBytes(const TNodeList &nodes)
{
    Scratch &scratch = Scratch::instance();
    scratch.reset();
    writeNodeList(scratch.folder(), nodes);
    std::ifstream in(scratch.folder() + kNodeListName, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A share with a small tree: Big5 names (one whose trail byte is a backslash), a deep branch
// and a folder of several matches, as the options treat each differently.
IndexPairWriter shareTree()
{
    const std::string chinese = bigFive().fromUtf8Lossy("許功蓋報告.doc");
    IndexPairWriter w;
    w.addDirectory("\\\\PC\\s\\",
            {{"a.txt", 10, 0x20, 36526.5}, {"sub", 0, kAttrDirectory, 36000},
                    {"other", 0, kAttrDirectory, 36001}});
    w.addDirectory("\\\\PC\\s\\sub\\",
            {{chinese, 2048, 0x20, 40000.25}, {"deep", 0, kAttrDirectory, 36002}});
    w.addDirectory("\\\\PC\\s\\sub\\deep\\", {{"b.doc", 4, 0x20, 36526.5}});
    w.addDirectory("\\\\PC\\s\\other\\",
            {{"c.doc", 5, 0x20, 36003}, {"d.txt", 6, 0x20, 36004}, {"e.doc", 700000, 0x20, 45000}});
    return w;
}

void cacheSeeds()
{
    const uint16_t indexed = kindMask(nkIndexed);
    const uint16_t container = kindMask(nkContainer);
    const std::string nodes = nodeListBytes({node("s", "s", indexed, nsCacheOn),
            node("PC", "PC", container, nsCacheOn), node("gone", "gone", indexed, nsFree),
            node(bigFive().fromUtf8Lossy("資料"), "x", indexed, 0)});
    seed("nodelist", "four-nodes", nodes);

    const IndexPairWriter w = shareTree();
    const std::string idx = bytesOf(w.idxBytes());
    const std::string lst = bytesOf(w.lstBytes());
    const std::string one = nodeListBytes({node("s", "s", indexed, nsCacheOn)});
    // Options, minimum hits (and the small window), condition shape; then the key.
    const struct
    {
        const char *name;
        unsigned char header[3];
        const char *key;
    } searches[] = {
            {"name-contains", {0, 0, 0}, "doc"},
            {"folders-with-two-hits", {soOnlyShowFolder | soHitNum, 0x12, 0}, "doc"},
            {"no-find-below-hits", {soHitNoFind, 0x10, 3}, "do"},
            {"one-hit-per-folder", {soHitExclusive, 0, 6}, "c"},
            {"folder-names", {soOnlyFolderName, 0, 0}, "e"},
            {"size-greater", {0, 0x10, 4}, "1"},
            {"date-less", {0, 0, 5}, "2001/1/1"},
    };
    for (const auto &s : searches)
        seed("indexpair", s.name,
                std::string(reinterpret_cast<const char *>(s.header), 3)
                        + joined({s.key, one, idx, lst}));
    seed("listcachedir", "sub", joined({"\\\\PC\\s\\sub\\", idx, lst}));
    seed("listcachedir", "other-other-case", joined({"\\\\pc\\S\\OTHER\\", idx, lst}));
}

void storeSeeds()
{
    SetupEnvironment environment{bigFive(), "/opt/veltrano/", "/home/user/Downloads/"};
    TSetupInfo settings;
    DefaultSetupInfo(settings, environment);
    settings.Version = kSetupInfoVersion;
    copyText(settings.RemoteHost, bigFive().fromUtf8Lossy("伺服器"), bigFive());
    const auto setupBytes = encodeSetupInfo(settings, bigFive());
    seed("settings", "defaults",
            {reinterpret_cast<const char *>(setupBytes.data()), setupBytes.size()});
    TCommonInfo common;
    DefaultCommonInfo(common, 0);
    const auto commonBytes = encodeCommonInfo(common);
    seed("settings", "common",
            {reinterpret_cast<const char *>(commonBytes.data()), commonBytes.size()});

    SearchHistory history;
    ConditionRowTexts rows{};
    rows[0] = {"", "檔名", "包含", "report"};
    rows[1] = {"且", "檔案大小", "大於", "100"};
    rows[2] = {"無", "檔名", "包含", ""};
    ConditionRowTexts big5Rows;
    for (size_t i = 0; i < rows.size(); ++i)
        big5Rows[i] = {bigFive().fromUtf8Lossy(rows[i].logic),
                bigFive().fromUtf8Lossy(rows[i].field), bigFive().fromUtf8Lossy(rows[i].op),
                bigFive().fromUtf8Lossy(rows[i].text)};
    recordSearch(history, big5Rows, "2024/5/1 10:00:00", bigFive());
    big5Rows[0].text = bigFive().fromUtf8Lossy("報告");
    recordSearch(history, big5Rows, "2024/5/2", bigFive());
    const std::string searchHis = searchHistoryToBytes(history.entries, bigFive());
    seed("history", "two-searches",
            joined({recentTextsToBytes(history.recentTexts[0]), searchHis}));
    seed("inifile", "search-history", searchHis);

    IniFile ini(bigFive());
    ini.setValue("Options", "Port", "21");
    ini.setValue("Options", "Name", bigFive().fromUtf8Lossy("許功蓋"));
    ini.setValue("Other", "Empty", "");
    seed("inifile", "two-sections",
            ini.toBytes() + "; a comment\r\n  [options]  \nSize = -3\rnot an entry\n");
}

void wireSeeds()
{
    seed("findstream", "two-folders",
            "\x80\\\\PC\\s<2\n\\\\PC\\s\\sub<1\n?B2001/5/3 10:00:00\nsub<2001/5/3 10:00\n"
            "f.txt<1234<2001/5/3 10:15:00\n?H1<1\n?E");
    seed("findstream", "overflow", "\x13\\\\PC\\s<1\n?Bx<1<2001/5/3\n?A?E");
    seed("listparse", "listing",
            "total 12\r\ndrwxr-xr-x 1 owner group 0 Jan 01 2001 my folder\r\n"
            "-rw-r--r--   1 owner   group    123456 Dec 31 10:15 report.doc\r\n"
            "-rw-r--r-- 1 u g 5 Feb 30 2001 a\n-rw-r--r-- 1 u g 5 Feb 3 2001 name with     "
            "blanks\n");
    seed("ftpreply", "session",
            std::string("\x00", 1)
                    + "220-Welcome\r\n220 Ready\r\n331 Password required\r\n230 Logged in\r\n"
                      "257 \"/a\"\"b\" is the current folder\r\n213 1234\r\n"
                      "227 Entering Passive Mode (127,0,0,1,19,137)\r\n150 Opening\r\n226 "
                      "Done\r\n");
    seed("ftpreply", "bare-lf", std::string("\x01", 1) + "220 Ready\n250-CWD\n250 \"/x\"\n");
    seed("pasv", "227", "227 Entering Passive Mode (10,0,0,5,19,137)");
    seed("pasv", "227-blanks", "227 Entering Passive Mode (10, 0, 0, 5, 255, 255).");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
        return 2;
    }
    g_corpus = argv[1];
    cacheSeeds();
    storeSeeds();
    wireSeeds();
    return 0;
}
