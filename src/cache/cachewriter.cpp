#include "cache/cachewriter.h"

#include <algorithm>
#include <optional>
#include <tuple>

#include "cache/indexscan.h"
#include "util/bytereader.h"
#include "util/error.h"
#include "util/filebytes.h"
#include "util/resstr.h"

namespace veltrano {
namespace {

void append(std::vector<unsigned char> &out, const unsigned char *p, size_t n)
{
    out.insert(out.end(), p, p + n);
}

std::string_view asText(const std::vector<unsigned char> &bytes)
{
    return {reinterpret_cast<const char *>(bytes.data()), bytes.size()};
}

// Text fields of the index pair hold a NUL-terminated text whose length, NUL included, is a
// 16-bit number; a longer text is cut.
std::string_view fitLength(std::string_view text)
{
    return text.substr(0, std::min<size_t>(text.size(), 0xFFFE));
}

// The part [lo, hi) of an entry list that its directory index refers to; lo == hi when none.
// Every length is held against the list's end, so a damaged old pair only shrinks the part.
std::pair<uint64_t, uint64_t> referencedPart(std::string_view idx, std::string_view lst)
{
    const auto *idxData = reinterpret_cast<const unsigned char *>(idx.data());
    const auto *lstData = reinterpret_cast<const unsigned char *>(lst.data());
    uint64_t lo = UINT64_MAX;
    uint64_t hi = 0;
    IdxCursor dirs(idxData, idx.size());
    DirRecord dir;
    while (dirs.next(dir)) {
        if (dir.count <= 0 || dir.lstOffset >= lst.size())
            continue;
        uint64_t pos = dir.lstOffset;
        for (int32_t i = 0; i < dir.count && pos + kLstHeaderSize <= lst.size(); ++i)
            pos += kLstHeaderSize + readU16le(lstData + pos + 16);
        lo = std::min<uint64_t>(lo, dir.lstOffset);
        hi = std::max<uint64_t>(hi, std::min<uint64_t>(pos, lst.size()));
    }
    return lo < hi ? std::pair(lo, hi) : std::pair(uint64_t(0), uint64_t(0));
}

} // namespace

void IndexPairWriter::addDirectory(std::string_view path, const std::vector<CacheEntry> &entries)
{
    path = fitLength(path);
    unsigned char head[kIdxHeaderSize];
    m_offsetFields.push_back(m_idx.size());
    writeU32le(head, uint32_t(m_lst.size()));
    writeU32le(head + 4, uint32_t(entries.size()));
    writeU16le(head + 8, uint16_t(path.size() + 1));
    append(m_idx, head, sizeof head);
    append(m_idx, reinterpret_cast<const unsigned char *>(path.data()), path.size());
    m_idx.push_back(0);

    for (const CacheEntry &entry : entries) {
        const std::string_view name = fitLength(entry.name);
        unsigned char rec[kLstHeaderSize];
        writeU32le(rec, entry.size);
        writeU32le(rec + 4, entry.attr);
        writeDoubleLe(rec + 8, entry.time);
        writeU16le(rec + 16, uint16_t(name.size() + 1));
        append(m_lst, rec, sizeof rec);
        append(m_lst, reinterpret_cast<const unsigned char *>(name.data()), name.size());
        m_lst.push_back(0);
    }
    ++m_directories;
    m_entries += entries.size();
}

void IndexPairWriter::write(
        const std::string &folder, std::string_view cacheName, const CodePage &cp) const
{
    const std::filesystem::path base = std::filesystem::path(folder) / cp.toUtf8(cacheName);
    std::filesystem::create_directories(folder);
    const std::string idxPath = base.string() + ".IDX";
    const std::string lstPath = base.string() + ".LST";

    uint64_t lo = 0, hi = 0;
    std::string oldLst;
    if (const std::optional<std::string> oldIdx = readFileBytes(idxPath)) {
        if (std::optional<std::string> old = readFileBytes(lstPath)) {
            oldLst = std::move(*old);
            std::tie(lo, hi) = referencedPart(*oldIdx, oldLst);
        }
    }
    const uint64_t size = m_lst.size();
    uint64_t at = size <= lo ? 0 : hi;
    if (at + size > UINT32_MAX)
        at = lo = hi = 0; // offsets are 32-bit: past that the old part cannot be kept

    std::string lst(std::max(hi, at + size), '\0');
    if (hi > lo)
        lst.replace(lo, hi - lo, oldLst, lo, hi - lo);
    if (size)
        lst.replace(at, size, asText(m_lst));
    std::vector<unsigned char> idx = m_idx;
    for (const size_t field : m_offsetFields)
        writeU32le(idx.data() + field, uint32_t(readU32le(idx.data() + field) + at));

    // The entry list goes first: a reader that finds the new directory index finds its entries.
    writeFileAtomically(lstPath, lst);
    writeFileAtomically(idxPath, asText(idx));
}

void writeNodeList(const std::string &folder, const TNodeList &nodes)
{
    std::vector<unsigned char> bytes(nodes.size() * kNodeRecordSize);
    for (size_t i = 0; i < nodes.size(); ++i)
        encodeNodeRecord(nodes[i], bytes.data() + i * kNodeRecordSize);
    std::filesystem::create_directories(folder);
    writeFileAtomically(std::filesystem::path(folder) / kNodeListName, asText(bytes));
}

void writeCodePageMarker(const std::filesystem::path &cacheRoot, std::string_view name)
{
    const std::string line = std::string(name) + "\n";
    writeFileAtomically(cacheRoot / "CODEPAGE", line);
}

} // namespace veltrano
