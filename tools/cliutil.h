#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QCoreApplication>

#include "search/compare.h"
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

// The condition rows of a command line, FIELD OP KEY then up to two LOGIC FIELD OP KEY, in the
// English or the window's words; rows left out stand unused as the window shows them. Throws
// Error naming the first word that is not one of its list.
TCompInfos conditionsFromArgs(const std::vector<std::string> &args);

// The Qt Core application the event-driven commands need, unless one exists already; keep it
// for as long as the command runs.
std::unique_ptr<QCoreApplication> ensureCoreApplication();

} // namespace veltrano::cli
