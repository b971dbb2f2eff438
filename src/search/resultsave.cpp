#include "search/resultsave.h"

#include <array>

#include "util/datetime.h"
#include "util/filebytes.h"

namespace veltrano {
namespace {

// Field widths of the fixed-width forms: the name, then the extension, size, folder, location
// and date.
constexpr std::array<size_t, 6> kWidths = {50, 15, 15, 100, 15, 25};

size_t utf8Length(std::string_view text)
{
    size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    return count;
}

void appendPadded(std::string &out, std::string_view text, size_t length, size_t width)
{
    out += text;
    if (length < width)
        out.append(width - length, ' ');
}

std::array<std::string_view, 6> fieldsOf(const ResultRow &row)
{
    // A remote row's missing fields are written as blanks of their width.
    if (!row.hasLocation)
        return {row.name, row.ext, row.size, row.folder, {}, {}};
    return {row.name, row.ext, row.size, row.folder, row.location, row.date};
}

void appendCsvField(std::string &out, std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace

ResultRow resultRowOf(const TItemData &item, std::string_view nodeName, const CodePage &cp)
{
    const std::string_view path = item.name();
    const size_t slash = cp.rfindChar(path, '\\');
    const size_t cut = slash == std::string_view::npos ? 0 : slash + 1;
    ResultRow row;
    row.name = cp.toUtf8(path.substr(cut));
    row.folder = cp.toUtf8(path.substr(0, cut));
    row.location = cp.toUtf8(nodeName);
    row.date = formatDateTime(item.Time);
    if (!item.isDirectory()) {
        const size_t dot = row.name.rfind('.');
        if (dot != std::string::npos)
            row.ext = row.name.substr(dot);
        row.size = std::to_string(item.Size >> 10);
    }
    return row;
}

std::string formatResults(
        const std::vector<ResultRow> &rows, ResultFileFormat format, const CodePage &cp)
{
    std::string out;
    if (format == ResultFileFormat::Csv) {
        out += "名稱,副檔名,大小(KB),目錄,位置,修改日期\r\n";
        for (const ResultRow &row : rows) {
            const auto fields = fieldsOf(row);
            for (size_t i = 0; i < fields.size(); ++i) {
                if (i > 0)
                    out += ',';
                appendCsvField(out, fields[i]);
            }
            out += "\r\n";
        }
        return out;
    }
    for (const ResultRow &row : rows) {
        const auto fields = fieldsOf(row);
        for (size_t i = 0; i < fields.size(); ++i) {
            if (format == ResultFileFormat::Utf8Text) {
                appendPadded(out, fields[i], utf8Length(fields[i]), kWidths[i]);
            } else {
                const std::string bytes = cp.fromUtf8Lossy(fields[i]);
                appendPadded(out, bytes, bytes.size(), kWidths[i]);
            }
        }
        out += "\r\n";
    }
    return out;
}

void saveResults(const std::string &path, const std::vector<ResultRow> &rows,
        ResultFileFormat format, const CodePage &cp)
{
    writeFileAtomically(path, formatResults(rows, format, cp));
}

} // namespace veltrano
