#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cache/indexscan.h"
#include "util/codepage.h"

namespace veltrano {

// One row of the result list as the user sees it (UTF-8). A remote hit has no location and no
// date: `hasLocation` is false and both texts are empty.
struct ResultRow
{
    std::string name;
    std::string ext;
    std::string size;
    std::string folder;
    std::string location;
    std::string date;
    bool hasLocation = true;
};

// The row of a local hit: `item.Name` is the hit's full path and `nodeName` the cache name of
// the node it was found in, both in the cache's code page. The window's list and the command
// line's saved file take their texts from here, so both show and save the same words.
ResultRow resultRowOf(const TItemData &item, std::string_view nodeName, const CodePage &cp);

enum class ResultFileFormat {
    // Fixed-width columns in the program's code page, as every earlier version wrote them.
    CodePageText,
    // The same columns in UTF-8, widths counted in characters.
    Utf8Text,
    // RFC 4180: a header row, fields quoted where needed, CR LF, UTF-8.
    Csv,
};

// The bytes of a results file. In the fixed-width forms each field is padded with blanks to
// its width (name 50, extension 15, size 15, folder 100, location 15, date 25); a longer text
// is written whole and the next field follows at once. Lines end with CR LF. A character the
// code page lacks is written as '?'.
std::string formatResults(
        const std::vector<ResultRow> &rows, ResultFileFormat format, const CodePage &cp);

// Writes the file, replacing it. It is written beside the target and renamed over it, so a
// failure (a full disk) leaves an earlier file as it was. Throws Error with the system's text.
void saveResults(const std::string &path, const std::vector<ResultRow> &rows,
        ResultFileFormat format, const CodePage &cp);

} // namespace veltrano
