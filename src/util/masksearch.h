#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

// Wildcard masks for file names, as the folder tree's file filter uses them: "*.txt;*.doc".
// A mask holds literal characters, '*' (any run of characters, also none) and '?' (exactly one
// character); there is no escape and no character set. Texts are UTF-8 (the tree works on the
// file system's names); '?' takes one character, never one byte, and lower-casing is Unicode's.
// Bytes that are not valid UTF-8 stand for themselves and match only the same bytes.

// A mask list: lower-case masks in sorted order. It may hold duplicates and empty masks.
using MaskList = std::vector<std::string>;

// Clears `list` and fills it from a ';'-separated mask text; an empty text gives the single
// mask "*". Every part is lower-cased, empty parts (";;") included.
void BuildMask(std::string_view maskText, MaskList &list);

// True when the name matches at least one mask of the list, or when the list is missing or
// empty. The name is lower-cased and, when it holds no '.', tested with one appended.
bool FileMatches(std::string_view name, const MaskList *list);

// The test of one lower-case name against one mask. A literal after '*' is matched at its first
// occurrence and the walk never backtracks, so "*a?.txt" rejects "aab.txt".
bool MatchMask(std::string_view name, std::string_view mask);

// Unicode lower case of a UTF-8 text.
std::string lowerUtf8(std::string_view text);

} // namespace veltrano
