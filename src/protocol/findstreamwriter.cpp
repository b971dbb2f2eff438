#include "protocol/findstreamwriter.h"

#include <cmath>

#include <fmt/format.h>

#include "util/codepage.h"
#include "util/datetime.h"

namespace veltrano {
namespace {

// The longest trailer: ?H with two 20-digit counts, or ?O / ?A, then ?E.
constexpr size_t kTrailerRoom = 2 + 20 + 1 + 20 + 1 + 2;

// A text the reader gives back unchanged: no marker, separator or line end inside, and nothing
// at either end that the line trimming would eat.
bool carriable(std::string_view text)
{
    if (text.empty())
        return false;
    if (static_cast<unsigned char>(text.front()) <= ' '
            || static_cast<unsigned char>(text.back()) <= ' ')
        return false;
    return text.find_first_of(std::string_view("?<\r\n\0", 5)) == std::string_view::npos;
}

} // namespace

std::string findStreamDate(double time)
{
    // The reader takes years 1 to 9999 only.
    if (!std::isfinite(time) || time < -693593.0 || time >= 2958466.0)
        time = 0;
    return formatDateTime(time);
}

FindStreamWriter::FindStreamWriter(const CodePage &cp, size_t maxBytes)
    : m_cp(cp)
    , m_maxBytes(maxBytes)
{ }

bool FindStreamWriter::add(const TItemData &item)
{
    if (m_full)
        return false;
    const std::string_view name = item.name();
    const size_t slash = m_cp.rfindChar(name, '\\');
    if (slash == std::string_view::npos || slash == 0 || !carriable(name.substr(0, slash))
            || !carriable(name.substr(slash + 1))) {
        ++m_skipped;
        return true;
    }
    const std::string_view folder = name.substr(0, slash);
    const std::string_view bare = name.substr(slash + 1);
    std::string line = item.isDirectory()
            ? fmt::format("{}<{}\n", bare, findStreamDate(item.Time))
            : fmt::format("{}<{}<{}\n", bare, item.Size, findStreamDate(item.Time));

    // A new folder costs a header line ("<count\n", at most 6 digits for a block's count).
    const bool newGroup = m_groups.empty() || m_groups.back().folder != folder;
    const size_t cost = line.size() + (newGroup ? folder.size() + 8 : 0);
    if (m_out.size() + m_pendingBytes + cost + 3 + kTrailerRoom > m_maxBytes) {
        m_full = true;
        return false;
    }
    if (newGroup)
        m_groups.push_back(Group{std::string(folder), {}});
    m_groups.back().lines.push_back(std::move(line));
    m_pendingBytes += cost;
    ++m_pendingEntries;
    if (item.isDirectory())
        ++m_folders;
    else
        ++m_files;
    if (m_pendingEntries >= kBlockEntries)
        flushBlock();
    return true;
}

void FindStreamWriter::flushBlock()
{
    if (m_groups.empty())
        return;
    for (const Group &group : m_groups)
        fmt::format_to(std::back_inserter(m_out), "{}<{}\n", group.folder, group.lines.size());
    m_out += "?B";
    for (const Group &group : m_groups)
        for (const std::string &line : group.lines)
            m_out += line;
    m_groups.clear();
    m_pendingBytes = 0;
    m_pendingEntries = 0;
}

std::string FindStreamWriter::end(std::string_view trailer)
{
    flushBlock();
    m_out += trailer;
    m_out += "?E";
    return std::move(m_out);
}

std::string FindStreamWriter::finish()
{
    if (m_full)
        return finishFailed();
    return end(fmt::format("?H{}<{}\n", m_files, m_folders));
}

std::string FindStreamWriter::finishOverLimit()
{
    return end("?O\n");
}

std::string FindStreamWriter::finishFailed()
{
    return end("?A\n");
}

} // namespace veltrano
