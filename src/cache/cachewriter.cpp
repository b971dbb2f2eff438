#include "cache/cachewriter.h"

#include <algorithm>

#include "util/filebytes.h"
#include "util/bytereader.h"
#include "util/error.h"
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

} // namespace

void IndexPairWriter::addDirectory(std::string_view path, const std::vector<CacheEntry> &entries)
{
    path = fitLength(path);
    unsigned char head[kIdxHeaderSize];
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

void IndexPairWriter::write(const std::string &folder, std::string_view cacheName, const CodePage &cp) const
{
    const std::filesystem::path base = std::filesystem::path(folder) / cp.toUtf8(cacheName);
    std::filesystem::create_directories(folder);
    // The entry list goes first: a reader that finds the new directory index finds its entries.
    writeFileAtomically(base.string() + ".LST", asText(m_lst));
    writeFileAtomically(base.string() + ".IDX", asText(m_idx));
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
