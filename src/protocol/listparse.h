#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "cache/indexscan.h"
#include "util/codepage.h"

namespace veltrano {

// The classic FTP directory listing the search server sends for LIST, e.g.
//   drwxr-xr-x 1 owner group 0 Jan 01 2001 my folder
//   -rw-r--r-- 1 owner group 1234 Feb 3 10:15 a.txt
// Single blanks separate the first nine fields, runs of blanks count as one, and the name ends
// only at five blanks in a row, so names with single blanks stay whole.

// The template that cuts one listing line.
inline constexpr std::string_view kListLineTemplate = "S S S S S S S S S     S";

// The entry of one listing line (code-page bytes): a folder when the permissions begin with 'd'
// (Attr 0x10, Size 0), else a file with the size of field 5 (0 when it is not a number). Name is
// the bare name, cut to 255 bytes at a character boundary; Time is midnight of the listed date
// (month by its English abbreviation, 1 when unknown; day 1 when not a number; year 2000 when
// the field is a time of day). nullopt when the line names no entry: fewer than nine fields, a
// name "." or ".." or blank, a date that does not exist, or a line the tokenizer refuses.
std::optional<TItemData> ParseListLine(std::string_view line, const CodePage &cp);

// A parsed listing: its entries in line order and how many are folders and files.
struct Listing
{
    TItemList entries;
    int folders = 0;
    int files = 0;
};

// Every line of a listing text (lines end with LF, CR LF or CR).
Listing parseListingText(std::string_view text, const CodePage &cp);

// The listing file the transfer window fetches LIST into; a missing or unreadable file gives
// an empty listing.
Listing parseListingFile(const std::filesystem::path &file, const CodePage &cp);

} // namespace veltrano
