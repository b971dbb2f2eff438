#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytereader.h"

namespace veltrano {

// Windows attribute bit of a directory, the only one the program reads.
constexpr uint32_t kAttrDirectory = 0x10;

// One entry: a plain record that owns no memory. Name holds at most 255 bytes of code-page
// text (a bare name or a full path, as each use says) and a NUL.
struct TItemData
{
    uint32_t Size = 0;
    uint32_t Attr = 0;
    double Time = 0;
    char Name[256] = {};

    std::string_view name() const { return {Name, strnlen(Name, sizeof Name)}; }
    // Sets Name, cut to 255 bytes.
    void setName(std::string_view text)
    {
        const size_t n = text.size() < sizeof Name ? text.size() : sizeof Name - 1;
        std::memcpy(Name, text.data(), n);
        Name[n] = '\0';
    }
    // Sets Name to prefix + text, cut to 255 bytes.
    void setName(std::string_view prefix, std::string_view text)
    {
        setName(prefix);
        const size_t used = strnlen(Name, sizeof Name);
        const size_t n = std::min(text.size(), sizeof Name - 1 - used);
        std::memcpy(Name + used, text.data(), n);
        Name[used + n] = '\0';
    }
    bool isDirectory() const { return (Attr & kAttrDirectory) != 0; }
};

// A list of entries owns them; clearing or destroying it frees them.
using TItemList = std::vector<TItemData>;

// Record layouts of the index pair.
constexpr size_t kIdxHeaderSize = 10; // LST offset (u32), count (i32), path length (u16)
constexpr size_t kLstHeaderSize = 18; // size (u32), attr (u32), time (double), name length (u16)

// The largest index files read. Past these a file is damaged (a sparse or overwritten one)
// rather than large: an .IDX of a gigabyte describes tens of millions of folders, and offsets
// into an .LST are 32-bit, so its last entry starts below 4 GiB.
constexpr uint64_t kMaxIdxBytes = uint64_t(1) << 30;
constexpr uint64_t kMaxLstBytes = (uint64_t(1) << 32) + kLstHeaderSize + 0xFFFF;

// One directory record of an .IDX, viewed in place.
struct DirRecord
{
    uint32_t lstOffset = 0;
    int32_t count = 0;
    std::string_view path; // up to its NUL, never past the buffer
};

// One entry record of an .LST, viewed in place.
struct EntryView
{
    uint32_t size = 0;
    uint32_t attr = 0;
    double time = 0;
    std::string_view name; // up to its NUL, never past the buffer
};

// Walks the directory records of an .IDX buffer in file order. Every length is checked against
// the buffer: a record cut short ends the walk, a path that runs past the end is cut there.
class IdxCursor
{
public:
    IdxCursor(const unsigned char *data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool next(DirRecord &record)
    {
        if (m_pos >= m_size || m_size - m_pos < kIdxHeaderSize)
            return false;
        const unsigned char *p = m_data + m_pos;
        record.lstOffset = readU32le(p);
        record.count = readI32le(p + 4);
        const size_t length = readU16le(p + 8);
        const size_t available = m_size - m_pos - kIdxHeaderSize;
        // A length that runs past the buffer ends the walk at the buffer's end: positions are
        // record bounds of the scan's chunks, and one past the buffer would lead a cursor there.
        const size_t kept = length < available ? length : available;
        record.path = readText(p + kIdxHeaderSize, kept);
        m_pos += kIdxHeaderSize + kept;
        m_cutShort = m_cutShort || kept < length;
        return true;
    }
    // Never past the buffer's size.
    size_t position() const { return m_pos; }
    // Whether the records seen so far do not fill the buffer exactly: a record cut short by
    // its end, or a few bytes left over that make no record.
    bool damaged() const
    {
        return m_cutShort || (m_pos < m_size && m_size - m_pos < kIdxHeaderSize);
    }

private:
    const unsigned char *m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_cutShort = false;
};

// Walks the entries of one directory in an .LST buffer: at most `count`, and only while at
// least 20 bytes are left before the end (offset + 19 < size), so no read leaves the buffer.
class LstCursor
{
public:
    LstCursor(const unsigned char *data, size_t size, const DirRecord &dir)
        : m_data(data)
        , m_size(size)
        , m_pos(dir.lstOffset)
        , m_left(dir.count > 0 ? uint32_t(dir.count) : 0)
    {
    }

    bool next(EntryView &entry)
    {
        if (m_left == 0 || m_pos + 19 >= uint64_t(m_size))
            return false;
        --m_left;
        const unsigned char *p = m_data + m_pos;
        entry.size = readU32le(p);
        entry.attr = readU32le(p + 4);
        entry.time = readDoubleLe(p + 8);
        const size_t length = readU16le(p + 16);
        const size_t available = m_size - size_t(m_pos) - kLstHeaderSize;
        entry.name = readText(p + kLstHeaderSize, length < available ? length : available);
        m_pos += kLstHeaderSize + length;
        return true;
    }

private:
    const unsigned char *m_data;
    size_t m_size;
    uint64_t m_pos;
    uint32_t m_left;
};

// A node's index pair read whole into memory.
struct IndexPair
{
    std::vector<unsigned char> idx;
    std::vector<unsigned char> lst;
};

// Reads folder + cacheName + ".IDX" and ".LST" whole; nullopt when either is missing or
// unreadable, since the scan skips such a node without a word.
class CodePage;
std::optional<IndexPair> readIndexPair(const std::string &folder, std::string_view cacheName,
                                       const CodePage &cp);

} // namespace veltrano
