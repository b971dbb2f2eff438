#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "util/codepage.h"

namespace veltrano::cli {

// The cache the subcommands read when --cache is not given: the program folder's Cache/.
std::filesystem::path defaultCacheRoot();

// The code page of the cache that holds `folder`: `override` when given, else the CODEPAGE
// marker of the nearest folder above that has one, else CP950.
CodePage codePageAbove(const std::filesystem::path &folder, std::string_view override = {});

// True when standard error is a terminal, where progress lines are welcome.
bool stderrIsTerminal();

// A text from a server or a file as one safe field of a tab-separated line: control characters
// (tabs and line breaks included) would break the columns or drive the terminal, so they are
// written as escapes, and with `backslash` the backslash too, so that every escape reads back
// one way.
std::string escapeField(const std::string &utf8, bool backslash = true);

} // namespace veltrano::cli
