#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cache/indexscan.h"
#include "util/codepage.h"

namespace veltrano {

// The cache as the collector leaves it: cache folders with a node list ALL.NOD, container
// nodes owning a sub-folder, indexed nodes owning an index pair (.IDX/.LST). Texts inside
// the files are code-page bytes and stay so here; paths on disk are native and end with '/'.

constexpr size_t kNodeRecordSize = 704;
constexpr const char *kNodeListName = "ALL.NOD";

// Kind elements (bit numbers of the 16-bit set) and state bits of a node record.
enum TNodeKind : uint16_t {
    nkContainer = 3,
    nkIndexed = 4,
};
constexpr uint16_t kindMask(TNodeKind element)
{
    return uint16_t(1u << element);
}
constexpr uint32_t nsFree = 1u << 31;
constexpr uint32_t nsCacheOn = 1u << 30;
// The address kind of a node whose address answers an echo.
constexpr uint8_t kAddrKindPingable = 5;

// One node of a node list. Texts are code-page bytes, Folder a native path ending with '/'.
struct TNodeData
{
    std::string Name;
    std::array<uint32_t, 3> Carried1 {};
    std::string Path;
    uint16_t Kind = 0;
    std::string Address;
    uint8_t AddrKind = 0;
    std::string Folder;
    std::array<uint32_t, 4> Carried2 {};
    double Stamp = 0;
    std::string CacheName;
    std::array<uint8_t, 16> Carried3 {};
    std::array<uint32_t, 2> RunTime {};
    uint32_t State = 0;
    int32_t Position = -1;

    bool has(TNodeKind element) const { return (Kind & kindMask(element)) != 0; }
    bool isFree() const { return (State & nsFree) != 0; }
    bool cacheOn() const { return (State & nsCacheOn) != 0; }
};

// Node lists own their nodes; freeing the vector frees them.
using TNodeList = std::vector<TNodeData>;

// Appends the nodes of the cache folder's ALL.NOD (skipping free records) and sorts the list
// with CompareNodes when `sorted`. A folder without a node list adds nothing; a node list that
// exists but cannot be read throws Error with the system's text.
void ReadNodeList(const std::string &folder, TNodeList &list, bool sorted, const CodePage &cp);

// Fills `node` from the node list of node.Folder: the record at node.Position, or, when that
// is -1, the first record whose cache name equals node.CacheName byte for byte. Throws Error
// ("Not Found Data", or the system's text) and leaves `node` unchanged on failure.
void LoadNode(TNodeData &node, const CodePage &cp);

// Node list order: containers, then indexed-only nodes, then the rest; by name without regard
// to case within a group.
int CompareNodes(const TNodeData &a, const TNodeData &b, const CodePage &cp);

// Decodes one 704-byte node record; `folder` and `position` fill the fields the record lacks.
TNodeData decodeNodeRecord(const unsigned char *record, const std::string &folder, int32_t position);
// Encodes a node into a 704-byte record (the writer's side; the last word holds zero).
void encodeNodeRecord(const TNodeData &node, unsigned char *record);

// The entries of one cached directory of the node (cache folder + cache name), each with Name =
// directory path + entry name (cut to whole characters within 255 bytes), appended to `list`. The
// directory path is matched without regard to case; the first matching record wins. Throws Error
// with the system's text when a file cannot be read, and with text 20030 when the directory is not
// cached; records appended before the error stay in `list`.
void ListCacheDir(TItemList &list, const std::string &folder, std::string_view cacheName,
                  std::string_view dirPath, const CodePage &cp);

// Sets item.Name to prefix + text, cut to the longest run of whole characters that fits.
void setItemName(
        TItemData &item, std::string_view prefix, std::string_view text, const CodePage &cp);

// The file or folder that a cache name (code-page bytes) + suffix names inside a cache folder:
// the UTF-8 form of the name, else the raw bytes, else a case-insensitive match in the folder.
// When nothing exists, the UTF-8 form.
std::filesystem::path cacheFilePath(const std::string &folder, std::string_view cacheName,
                                    std::string_view suffix, const CodePage &cp);
// A cache folder: a native path with a trailing '/'.
std::string cacheFolder(const std::filesystem::path &path);

// Path texts of the data (code-page bytes, separated by '\'). A trail byte 0x5C of a two-byte
// character is no separator, so these ask the code page where characters begin.
std::string AppendBackslash(std::string_view path, const CodePage &cp);
std::string RemoveBackslash(std::string_view path, const CodePage &cp);
// The n-th backslash-separated component (from 1); empty when the path has fewer.
std::string PathPart(std::string_view path, int n, const CodePage &cp);
uint32_t AddrToNumber(std::string_view text);

// The search locations, UTF-8, in the order the window offers them: 所有快取資料, Net,
// " Net\" + Path of each container below Net, Expanded, " Expanded\" + Path likewise.
std::vector<std::string> buildLocationList(const std::filesystem::path &cacheRoot, const CodePage &cp);
extern const char *const kAllCachedData; // "所有快取資料"
// The cache folder where a search of the location entry starts.
std::string startFolderOf(const std::filesystem::path &cacheRoot, std::string_view entry);

} // namespace veltrano
