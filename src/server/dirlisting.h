#pragma once

#include <string>

#include "server/sharemap.h"

namespace veltrano {

// What LIST (or, with namesOnly, NLST) sends for a location: the computers at the root, a
// computer's shares, a folder's entries sorted by name, or a file's own line. Names go out in
// the wire's code page; entries it cannot carry, and links that lead out of the share, are left
// out, since a client could never ask for them. `ok` is false when the location cannot be read.
std::string listLocation(
        const ShareMap &shares, const ShareMap::Location &at, bool namesOnly, bool &ok);

} // namespace veltrano
