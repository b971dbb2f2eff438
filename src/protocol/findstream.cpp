#include "protocol/findstream.h"

#include "util/datetime.h"
#include "util/error.h"
#include "util/strtokens.h"

namespace veltrano {
namespace {

// Longest Name of a result entry, in bytes.
constexpr size_t kMaxResultName = 254;

class StreamParser
{
public:
    StreamParser(
            std::string_view stream, const CodePage &cp, TItemList &results, FindTotals &totals)
        : m_s(stream)
        , m_cp(cp)
        , m_results(results)
        , m_totals(totals)
    { }

    // True when the parse stopped at a summary.
    bool run()
    {
        m_results.clear();
        while (!m_stopped && m_p < m_s.size()) {
            readHeaders();
            if (m_stopped || m_folders.empty())
                break;
            readBody();
        }
        return m_summary;
    }

private:
    enum class Marker {
        None,
        Block,
        Summary
    };

    // At a '?': reads the marker and acts on the ones both phases share. Returns Block for ?B
    // (the caller decides), Summary when the parse has stopped, None for a marker to skip.
    Marker readMarker()
    {
        if (m_p + 1 >= m_s.size()) { // a lone '?' as the very last byte
            m_p = m_s.size();
            return Marker::None;
        }
        const char x = m_s[m_p + 1];
        m_p += 2;
        switch (x) {
        case 'A':
            throw Error(std::string(kFindBufferFull));
        case 'O':
            throw Error(std::string(kFindOverLimit));
        case 'B':
            return Marker::Block;
        case 'H':
            readSummary();
            return Marker::Summary;
        default:
            return Marker::None;
        }
    }

    void readHeaders()
    {
        m_folders.clear();
        m_counts.clear();
        m_line.clear();
        while (m_p < m_s.size()) {
            const char c = m_s[m_p];
            if (c == '?') {
                const Marker marker = readMarker();
                if (marker == Marker::Block || marker == Marker::Summary)
                    return;
            } else if (c == '\n') {
                ++m_p;
                if (GetTokens(m_line, "S<S", m_fields, m_cp) < 2)
                    badStructure();
                m_folders.push_back(m_fields[0]);
                m_counts.push_back(toIntDef(m_fields[1], 0));
                m_line.clear();
            } else {
                m_line.push_back(c);
                ++m_p;
            }
        }
    }

    void readBody()
    {
        m_line.clear();
        m_folder = 0;
        if (!skipEmptyFolders())
            return;
        int linesRead = 0;
        while (m_p < m_s.size()) {
            const char c = m_s[m_p];
            if (c == '?') {
                if (readMarker() == Marker::Summary)
                    return;
            } else if (c == '\n') {
                ++m_p;
                addEntry();
                m_line.clear();
                if (++linesRead == m_counts[m_folder]) {
                    ++m_folder;
                    linesRead = 0;
                    if (!skipEmptyFolders())
                        return; // the block is complete
                }
            } else {
                m_line.push_back(c);
                ++m_p;
            }
        }
    }

    // A header that announces no lines owns none: its folder is passed over, so the lines that
    // follow go to the next folder instead of all landing under this one. False when no folder
    // with lines is left.
    bool skipEmptyFolders()
    {
        while (m_folder < m_folders.size() && m_counts[m_folder] <= 0)
            ++m_folder;
        return m_folder < m_folders.size();
    }

    void addEntry()
    {
        const int n = GetTokens(m_line, "S<S<S", m_fields, m_cp);
        // The last descriptor takes the rest of the line, so a line of four or more fields shows
        // as a '<' inside the date: that is a wrong structure, not a wrong date.
        if (n < 1 || (n == 3 && m_cp.findChar(m_fields[2], '<') != std::string::npos))
            badStructure();
        const std::string &folder = m_folders[m_folder];
        TItemData item;
        if (n == 1) {
            item.setName(cutAtChar(folder, kMaxResultName, m_cp));
        } else {
            m_name.assign(folder).append(1, '\\').append(m_fields[0]);
            item.setName(cutAtChar(m_name, kMaxResultName, m_cp));
        }
        item.Attr = n == 3 ? 0 : kAttrDirectory;
        item.Size = n == 3 ? toSizeDef(m_fields[1]) : 0;
        const std::string &dateText = m_fields[size_t(n) - 1];
        const std::optional<double> time = parseDateTime(dateText);
        if (!time)
            throw Error(invalidDateTimeText(m_cp.toUtf8(dateText)));
        item.Time = *time;
        m_results.push_back(item);
    }

    void readSummary()
    {
        m_stopped = true;
        m_summary = true;
        const size_t lf = m_s.find('\n', m_p);
        const std::string_view line =
                m_s.substr(m_p, lf == std::string_view::npos ? std::string_view::npos : lf - m_p);
        if (GetTokens(line, "S<S", m_fields, m_cp) >= 2) {
            m_totals.files = toIntDef(m_fields[0], 0);
            m_totals.folders = toIntDef(m_fields[1], 0);
        }
    }

    [[noreturn]] void badStructure() const
    {
        std::string_view line = m_line;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1); // part of the line end, not of the line
        throw Error(std::string(kFindBadStructure) + m_cp.toUtf8(line));
    }

    std::string_view m_s;
    const CodePage &m_cp;
    TItemList &m_results;
    FindTotals &m_totals;
    size_t m_p = 0;
    bool m_stopped = false;
    bool m_summary = false;
    std::string m_line;
    std::string m_name;
    TokenList m_fields;
    std::vector<std::string> m_folders;
    std::vector<int> m_counts;
    size_t m_folder = 0;
};

} // namespace

void parseFindStream(std::string_view stream, bool cut, const CodePage &cp, TItemList &results,
        FindTotals &totals)
{
    StreamParser parser(stream, cp, results, totals);
    if (!parser.run() && cut)
        throw Error(std::string(kFindBufferFull));
}

FindStream::FindStream(CodePage cp)
    : m_cp(std::move(cp))
{
    m_buffer.reserve(kBufferSize);
}

void FindStream::start()
{
    m_buffer.clear();
    m_received = 0;
    m_lastWasQuestion = false;
    m_totals = {};
}

void FindStream::feed(std::string_view chunk)
{
    while (!chunk.empty()) {
        size_t end = std::string_view::npos; // just after the end marker
        if (m_lastWasQuestion && chunk.front() == 'E') {
            end = 1;
        } else {
            const size_t at = chunk.find("?E");
            if (at != std::string_view::npos)
                end = at + 2;
        }
        if (end == std::string_view::npos) {
            append(chunk);
            m_lastWasQuestion = chunk.back() == '?';
            return;
        }
        complete(chunk.substr(0, end));
        chunk.remove_prefix(end);
    }
}

void FindStream::append(std::string_view bytes)
{
    m_received += bytes.size();
    const size_t room = kBufferSize - m_buffer.size();
    m_buffer.append(bytes.substr(0, bytes.size() < room ? bytes.size() : room));
}

void FindStream::complete(std::string_view tail)
{
    append(tail);
    const bool cut = m_received > kBufferSize;
    m_lastError.clear();
    try {
        parseFindStream(m_buffer, cut, m_cp, m_results, m_totals);
    } catch (const std::exception &e) {
        m_lastError = e.what();
    }
    m_buffer.clear();
    m_received = 0;
    m_lastWasQuestion = false;
    if (!m_lastError.empty() && m_onError)
        m_onError(m_lastError);
    if (m_onResults)
        m_onResults();
}

} // namespace veltrano
