#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/codepage.h"

namespace veltrano {

// A share to collect: \\COMPUTER\share, read from a folder that holds its files (mounted or
// copied locally).
struct ShareSpec
{
    std::string computer; // UTF-8
    std::string share;    // UTF-8
    std::filesystem::path local;
};

// Reads "\\COMPUTER\share=/local/folder"; throws Error for any other form.
ShareSpec parseShareSpec(std::string_view text);

struct CollectOptions
{
    std::filesystem::path cacheRoot;
    CodePage codePage {"UTF-8"};
    std::string workgroup = "WORKGROUP";
    bool resolveAddresses = true;
    // Called for every problem that leaves something out (unreadable folder, a name the code
    // page cannot hold); the walk goes on.
    std::function<void(const std::string &)> warn;
    // Called now and then during a walk with the folders and entries written so far.
    std::function<void(size_t folders, size_t entries)> progress;
};

struct CollectStats
{
    size_t shares = 0;
    size_t folders = 0;
    size_t entries = 0;
    size_t warnings = 0;
};

// Walks every share's folder tree and writes it into the cache: the root's node list with the
// containers Net and Expanded, Net's node list with the workgroup, a container per computer and
// an indexed node per share with its index pair, and the CODEPAGE marker. Nodes already in the
// cache are kept; a share collected again replaces its old node and index pair. Every file is
// replaced atomically.
CollectStats collectShares(const std::vector<ShareSpec> &shares, const CollectOptions &options);

// Days since 1899-12-30 in local time of a file time.
double toCacheTime(std::filesystem::file_time_type time);

} // namespace veltrano
