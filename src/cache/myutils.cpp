#include "cache/myutils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/bytereader.h"
#include "util/error.h"
#include "util/resstr.h"

namespace veltrano {

const char *const kAllCachedData = "所有快取資料";

namespace {

// Offsets of the fields of a node record.
namespace nod {
constexpr size_t kName = 0, kNameWidth = 128;
constexpr size_t kCarried1 = 128;
constexpr size_t kPath = 140, kPathWidth = 256;
constexpr size_t kKind = 396;
constexpr size_t kAddress = 398, kAddressWidth = 128;
constexpr size_t kAddrKind = 526;
constexpr size_t kCarried2 = 528;
constexpr size_t kStamp = 544;
constexpr size_t kCacheName = 552, kCacheNameWidth = 128;
constexpr size_t kCarried3 = 680;
constexpr size_t kState = 696;
} // namespace nod

[[noreturn]] void throwSystemError(int code)
{
    throw Error(ErrorText(code ? code : EIO));
}

// Reads a whole regular file of at most `limit` bytes; false with errno set when it cannot be
// opened or read (EFBIG when it is larger). A folder or a device in the file's place is refused
// before its size is trusted.
bool readWhole(const std::filesystem::path &path, std::vector<unsigned char> &bytes, uint64_t limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    int code = 0;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        code = S_ISDIR(info.st_mode) ? EISDIR : (errno ? errno : EINVAL);
    else if (uint64_t(info.st_size) > limit)
        code = EFBIG;
    if (code == 0) {
        try {
            bytes.resize(size_t(info.st_size));
        } catch (const std::bad_alloc &) {
            code = ENOMEM;
        }
    }
    if (code != 0) {
        ::close(fd);
        errno = code;
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // a file cut short while we read it ends where it ends
        done += size_t(n);
    }
    code = errno;
    ::close(fd);
    bytes.resize(done);
    errno = code;
    return true;
}

// A node list of a hundred thousand nodes is far beyond any network; a larger file is damaged.
constexpr uint64_t kMaxNodeListBytes = 100000 * kNodeRecordSize;

// Reads a node list whole; throws Error naming the file when it cannot.
void readNodeListBytes(const std::filesystem::path &file, std::vector<unsigned char> &bytes)
{
    errno = 0;
    if (readWhole(file, bytes, kMaxNodeListBytes))
        return;
    const int code = errno ? errno : ENOENT;
    if (code == EFBIG)
        throw Error(file.string() + ": too large for a node list; the file is damaged");
    throwSystemError(code);
}

// A cache name that would lead out of its folder names nothing we may open.
bool isSafeName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos
            && name.find('\0') == std::string_view::npos;
}

std::filesystem::path findNoCase(const std::filesystem::path &folder, const std::string &name)
{
    static const CodePage utf8("UTF-8");
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string candidate = it->path().filename().string();
        if (utf8.equalsNoCase(candidate, name))
            return it->path();
    }
    return {};
}

// Reads a part of an .LST through a buffer that moves along with the reader: a listing needs
// one directory's entries, not the whole file.
class LstReader
{
public:
    LstReader(int fd, uint64_t size)
        : m_fd(fd)
        , m_size(size)
    {
    }
    // [pos, pos + n) of the file, or nullptr when the file does not hold all of it.
    const unsigned char *at(uint64_t pos, size_t n)
    {
        if (pos > m_size || m_size - pos < n)
            return nullptr;
        if (pos < m_base || pos + n > m_base + m_buffer.size()) {
            m_base = pos;
            m_buffer.resize(
                    size_t(std::min<uint64_t>(std::max<size_t>(n, 64 * 1024), m_size - pos)));
            size_t got = 0;
            while (got < m_buffer.size()) {
                const ssize_t r = ::pread(
                        m_fd, m_buffer.data() + got, m_buffer.size() - got, off_t(pos + got));
                if (r < 0 && errno == EINTR)
                    continue;
                if (r <= 0)
                    break;
                got += size_t(r);
            }
            m_buffer.resize(got); // a file cut short while we read it ends where it ends
            if (got < n)
                return nullptr;
        }
        return m_buffer.data() + (pos - m_base);
    }

private:
    int m_fd;
    uint64_t m_size;
    uint64_t m_base = 0;
    std::vector<unsigned char> m_buffer;
};

} // namespace

std::string cacheFolder(const std::filesystem::path &path)
{
    std::string text = path.string();
    if (text.empty() || text.back() != '/')
        text += '/';
    return text;
}

std::filesystem::path cacheFilePath(const std::string &folder, std::string_view cacheName,
                                    std::string_view suffix, const CodePage &cp)
{
    if (!isSafeName(cacheName))
        return {};
    const std::filesystem::path base(folder);
    std::error_code ec;
    const std::string utf8 = cp.toUtf8(cacheName) + std::string(suffix);
    std::filesystem::path exact = base / utf8;
    if (std::filesystem::exists(exact, ec))
        return exact;
    const std::string raw = std::string(cacheName) + std::string(suffix);
    if (raw != utf8 && std::filesystem::exists(base / raw, ec))
        return base / raw;
    std::filesystem::path other = findNoCase(base, utf8);
    return other.empty() ? exact : other;
}

TNodeData decodeNodeRecord(const unsigned char *r, const std::string &folder, int32_t position)
{
    TNodeData node;
    node.Name = std::string(readText(r + nod::kName, nod::kNameWidth));
    for (size_t i = 0; i < node.Carried1.size(); ++i)
        node.Carried1[i] = readU32le(r + nod::kCarried1 + 4 * i);
    node.Path = std::string(readText(r + nod::kPath, nod::kPathWidth));
    node.Kind = readU16le(r + nod::kKind);
    node.Address = std::string(readText(r + nod::kAddress, nod::kAddressWidth));
    node.AddrKind = r[nod::kAddrKind];
    node.Folder = folder;
    for (size_t i = 0; i < node.Carried2.size(); ++i)
        node.Carried2[i] = readU32le(r + nod::kCarried2 + 4 * i);
    node.Stamp = readDoubleLe(r + nod::kStamp);
    node.CacheName = std::string(readText(r + nod::kCacheName, nod::kCacheNameWidth));
    std::copy_n(r + nod::kCarried3, node.Carried3.size(), node.Carried3.begin());
    node.State = readU32le(r + nod::kState);
    node.Position = position;
    return node;
}

void encodeNodeRecord(const TNodeData &node, unsigned char *r)
{
    std::fill_n(r, kNodeRecordSize, 0);
    writeText(r + nod::kName, nod::kNameWidth, node.Name);
    for (size_t i = 0; i < node.Carried1.size(); ++i)
        writeU32le(r + nod::kCarried1 + 4 * i, node.Carried1[i]);
    writeText(r + nod::kPath, nod::kPathWidth, node.Path);
    writeU16le(r + nod::kKind, node.Kind);
    writeText(r + nod::kAddress, nod::kAddressWidth, node.Address);
    r[nod::kAddrKind] = node.AddrKind;
    for (size_t i = 0; i < node.Carried2.size(); ++i)
        writeU32le(r + nod::kCarried2 + 4 * i, node.Carried2[i]);
    writeDoubleLe(r + nod::kStamp, node.Stamp);
    writeText(r + nod::kCacheName, nod::kCacheNameWidth, node.CacheName);
    std::copy(node.Carried3.begin(), node.Carried3.end(), r + nod::kCarried3);
    writeU32le(r + nod::kState, node.State);
}

void ReadNodeList(const std::string &folder, TNodeList &list, bool sorted, const CodePage &cp)
{
    std::error_code ec;
    const std::filesystem::path file = cacheFilePath(folder, "ALL", ".NOD", cp);
    if (!std::filesystem::exists(file, ec))
        return;
    std::vector<unsigned char> bytes;
    readNodeListBytes(file, bytes);
    const size_t records = bytes.size() / kNodeRecordSize; // a partial record at the end is ignored
    for (size_t i = 0; i < records; ++i) {
        const unsigned char *r = bytes.data() + i * kNodeRecordSize;
        if (readU32le(r + nod::kState) & nsFree)
            continue;
        list.push_back(decodeNodeRecord(r, folder, int32_t(i * kNodeRecordSize)));
    }
    if (sorted)
        std::sort(list.begin(), list.end(), [&cp](const TNodeData &a, const TNodeData &b) {
            return CompareNodes(a, b, cp) < 0;
        });
}

void LoadNode(TNodeData &node, const CodePage &cp)
{
    const std::filesystem::path file = cacheFilePath(node.Folder, "ALL", ".NOD", cp);
    std::vector<unsigned char> bytes;
    readNodeListBytes(file, bytes);
    const size_t records = bytes.size() / kNodeRecordSize;
    const unsigned char *found = nullptr;
    size_t index = 0;
    if (node.Position != -1) {
        if (node.Position < 0 || node.Position % int32_t(kNodeRecordSize) != 0
            || size_t(node.Position) / kNodeRecordSize >= records)
            throw Error("Not Found Data");
        index = size_t(node.Position) / kNodeRecordSize;
        found = bytes.data() + index * kNodeRecordSize;
    } else {
        for (index = 0; index < records; ++index) {
            const unsigned char *r = bytes.data() + index * kNodeRecordSize;
            if (readText(r + nod::kCacheName, nod::kCacheNameWidth) == node.CacheName) {
                found = r;
                break;
            }
        }
        if (!found)
            throw Error("Not Found Data");
    }
    node = decodeNodeRecord(found, node.Folder, int32_t(index * kNodeRecordSize));
}

int CompareNodes(const TNodeData &a, const TNodeData &b, const CodePage &cp)
{
    const auto group = [](const TNodeData &n) {
        if (n.has(nkContainer))
            return 1;
        return n.has(nkIndexed) ? 2 : 3;
    };
    const int ga = group(a);
    const int gb = group(b);
    if (ga != gb)
        return ga < gb ? -1 : 1;
    return cp.compareNoCase(a.Name, b.Name);
}

void ListCacheDir(TItemList &list, const std::string &folder, std::string_view cacheName,
                  std::string_view dirPath, const CodePage &cp)
{
    std::vector<unsigned char> idx;
    errno = 0;
    const std::filesystem::path idxFile = cacheFilePath(folder, cacheName, ".IDX", cp);
    if (idxFile.empty() || !readWhole(idxFile, idx, kMaxIdxBytes))
        throwSystemError(errno ? errno : ENOENT);

    IdxCursor dirs(idx.data(), idx.size());
    DirRecord dir;
    bool matched = false;
    while (dirs.next(dir)) {
        if (cp.equalsNoCase(dir.path, dirPath)) {
            matched = true;
            break;
        }
    }
    if (!matched)
        throw Error(FmtResStr(kStrNoCacheData, cp.toUtf8(dirPath)));
    const std::string path(dir.path); // the buffer it points into is freed below
    idx.clear();

    const std::filesystem::path lstFile = cacheFilePath(folder, cacheName, ".LST", cp);
    const int fd = lstFile.empty() ? -1 : ::open(lstFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throwSystemError(lstFile.empty() ? ENOENT : errno);
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer {fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        throwSystemError(S_ISDIR(info.st_mode) ? EISDIR : (errno ? errno : EINVAL));
    if (uint64_t(info.st_size) > kMaxLstBytes)
        throwSystemError(EFBIG);
    LstReader lst(fd, uint64_t(info.st_size));

    // A directory's entries are read one after another, as far as the file holds whole records;
    // only the directory's own part of the list is read.
    uint64_t pos = dir.lstOffset;
    for (int32_t i = 0; i < dir.count; ++i) {
        const unsigned char *p = lst.at(pos, kLstHeaderSize);
        if (!p)
            break;
        const size_t length = readU16le(p + 16);
        p = lst.at(pos, kLstHeaderSize + length);
        if (!p)
            break;
        TItemData item;
        item.Size = readU32le(p);
        item.Attr = readU32le(p + 4);
        item.Time = readDoubleLe(p + 8);
        setItemName(item, path, readText(p + kLstHeaderSize, length), cp);
        list.push_back(item);
        pos += kLstHeaderSize + length;
    }
}

std::optional<IndexPair> readIndexPair(const std::string &folder, std::string_view cacheName,
                                       const CodePage &cp)
{
    IndexPair pair;
    const std::filesystem::path idxFile = cacheFilePath(folder, cacheName, ".IDX", cp);
    const std::filesystem::path lstFile = cacheFilePath(folder, cacheName, ".LST", cp);
    if (idxFile.empty() || !readWhole(idxFile, pair.idx, kMaxIdxBytes)
            || !readWhole(lstFile, pair.lst, kMaxLstBytes))
        return std::nullopt;
    return pair;
}

void setItemName(
        TItemData &item, std::string_view prefix, std::string_view text, const CodePage &cp)
{
    constexpr size_t room = sizeof item.Name - 1;
    if (prefix.size() + text.size() <= room) {
        if (!prefix.empty())
            std::memcpy(item.Name, prefix.data(), prefix.size());
        if (!text.empty())
            std::memcpy(item.Name + prefix.size(), text.data(), text.size());
        item.Name[prefix.size() + text.size()] = '\0';
        return;
    }
    // Half a character at the end would show as a stray byte, or join the next text into a
    // character of its own.
    std::string full;
    full.reserve(prefix.size() + text.size());
    full.append(prefix).append(text);
    const char *const begin = full.data();
    const char *const end = begin + full.size();
    const char *p = begin;
    while (p < end) {
        const size_t n = cp.charLength(p, end);
        if (size_t(p - begin) + n > room)
            break;
        p += n;
    }
    item.setName(std::string_view(begin, size_t(p - begin)));
}

namespace {

// True when the text's last character (not merely its last byte) is a backslash.
bool endsWithBackslash(std::string_view path, const CodePage &cp)
{
    return !path.empty() && path.back() == '\\' && cp.rfindChar(path, '\\') == path.size() - 1;
}

} // namespace

std::string AppendBackslash(std::string_view path, const CodePage &cp)
{
    std::string out(path);
    if (!out.empty() && !endsWithBackslash(out, cp))
        out += '\\';
    return out;
}

std::string RemoveBackslash(std::string_view path, const CodePage &cp)
{
    std::string out(path);
    if (endsWithBackslash(out, cp))
        out.pop_back();
    return out;
}

std::string PathPart(std::string_view path, int n, const CodePage &cp)
{
    const std::string text = AppendBackslash(path, cp);
    size_t start = 0;
    for (int k = 1; k <= n; ++k) {
        const size_t end = cp.findChar(text, '\\', start);
        if (end == std::string::npos)
            return {};
        if (k == n)
            return text.substr(start, end - start);
        start = end + 1;
    }
    return {};
}

uint32_t AddrToNumber(std::string_view text)
{
    text = text.substr(0, 127);
    uint32_t parts[4] = {0, 0, 0, 0};
    size_t part = 0;
    for (char c : text) {
        if (c == '.') {
            if (++part == 4)
                break;
        } else if (c >= '0' && c <= '9') {
            parts[part] = parts[part] * 10 + uint32_t(c - '0');
        }
    }
    return (parts[0] << 24) + (parts[1] << 16) + (parts[2] << 8) + parts[3];
}

std::vector<std::string> buildLocationList(const std::filesystem::path &cacheRoot, const CodePage &cp)
{
    std::vector<std::string> entries {kAllCachedData};
    for (const char *top : {"Net", "Expanded"}) {
        entries.emplace_back(top);
        TNodeList nodes;
        std::error_code ec;
        const std::filesystem::path sub = cacheFilePath(cacheFolder(cacheRoot), top, "", cp);
        ReadNodeList(cacheFolder(sub), nodes, true, cp);
        for (const TNodeData &node : nodes)
            if (node.has(nkContainer))
                entries.push_back(" " + std::string(top) + "\\" + cp.toUtf8(node.Path));
    }
    return entries;
}

std::string startFolderOf(const std::filesystem::path &cacheRoot, std::string_view entry)
{
    const std::string root = cacheFolder(cacheRoot);
    if (entry == kAllCachedData)
        return root;
    const size_t first = entry.find_first_not_of(' ');
    const size_t last = entry.find_last_not_of(' ');
    if (first == std::string_view::npos)
        return root;
    // Each component is a folder name on disk, found without regard to case when a cache was
    // copied from a system that does not mind case.
    static const CodePage utf8("UTF-8");
    std::string folder = root;
    std::string_view rest = entry.substr(first, last - first + 1);
    while (!rest.empty()) {
        const size_t cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        if (isSafeName(part)) // "." and ".." must not lead out of the cache
            folder = cacheFolder(cacheFilePath(folder, part, "", utf8));
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    }
    return folder;
}

} // namespace veltrano
