#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cachewriter.h"
#include "util/codepage.h"

namespace veltrano {

// A share to collect: \\COMPUTER\share, read from a folder that holds its files (mounted or
// copied locally).
struct ShareSpec
{
    std::string computer; // UTF-8
    std::string share; // UTF-8
    std::filesystem::path local;
};

// Reads "\\COMPUTER\share=/local/folder"; throws Error for any other form.
ShareSpec parseShareSpec(std::string_view text);

struct CollectOptions
{
    std::filesystem::path cacheRoot;
    CodePage codePage{"UTF-8"};
    std::string workgroup = "WORKGROUP";
    bool resolveAddresses = true;
    // Called for every problem that leaves something out (unreadable folder, a name the code
    // page cannot hold); the walk goes on.
    std::function<void(const std::string &)> warn;
    // Called now and then during a walk with the folders and entries written so far (by this
    // walk).
    std::function<void(size_t folders, size_t entries)> progress;
};

struct CollectStats
{
    size_t shares = 0;
    size_t folders = 0;
    size_t entries = 0;
    size_t warnings = 0;
    size_t unwritableNames = 0; // names the cache's code page cannot hold, left out

    CollectStats &operator+=(const CollectStats &other);
};

// What a source says of one entry of a folder.
struct SourceEntry
{
    std::string name; // UTF-8
    uint64_t size = 0;
    uint32_t attr = 0; // Windows attribute bits; kAttrDirectory for a folder
    double time = 0; // days since 1899-12-30, local time
    bool enter = false; // a folder the walk goes into (a link to a folder is listed, not entered)
    std::string problem; // why the entry could not be looked at; such an entry is warned about and
                         // left out
};

// Lists the folders of one share for the walk. A folder is named by its path below the share:
// UTF-8 names joined by '/', "" for the share itself.
class FolderSource
{
public:
    enum class Outcome {
        Listed, // `entries` holds the folder's entries
        Refused, // this folder cannot be read; the walk records it empty and goes on
        Lost, // the share itself is gone (connection lost): the walk stops, nothing is kept
    };
    virtual ~FolderSource() = default;
    virtual Outcome list(
            const std::string &relPath, std::vector<SourceEntry> &entries, std::string &error) = 0;
    // The folder as messages name it.
    virtual std::string where(const std::string &relPath) const = 0;
};

// A share's folder tree on a local (or mounted) file system.
class LocalFolderSource : public FolderSource
{
public:
    explicit LocalFolderSource(std::filesystem::path root);
    Outcome list(const std::string &relPath, std::vector<SourceEntry> &entries,
            std::string &error) override;
    std::string where(const std::string &relPath) const override;

private:
    std::filesystem::path m_root;
};

// Walks a share depth-first into `out`: one directory record per folder in pre-order, entries
// sorted by their code-page bytes, the root's path `uncRoot` (code-page bytes, ending with
// '\'). Names the code page cannot hold and folders that cannot be read are warned about and
// counted in `stats`. Returns false, with the reason in `error`, when the share's own folder
// cannot be read or the source was lost midway: a half-read share must not replace what the
// cache held.
bool walkShare(FolderSource &source, const std::string &uncRoot, const CollectOptions &options,
        CollectStats &stats, IndexPairWriter &out, std::string &error);

// The cache's node lists above the shares, written once when the target is made (CODEPAGE
// marker, the root's Net and Expanded, the workgroup); storing a share adds or replaces its
// computer's and its own node records and its index pair. Nodes already in the cache are kept.
// storeShare may be called from several threads and processes; the node lists are updated one
// at a time (a lock file in the cache root).
class CacheTarget
{
public:
    explicit CacheTarget(const CollectOptions &options);

    // computer and share in UTF-8; address a dotted IPv4 text or empty. Throws Error when a
    // name cannot be written in the code page or a file cannot be written.
    void storeShare(const std::string &computer, const std::string &share,
            const std::string &address, const IndexPairWriter &pair);

private:
    const CollectOptions &m_options;
    std::string m_workgroup; // code-page bytes
    std::string m_groupFolder;
    std::mutex m_mutex;
};

// Walks every share's folder tree and writes it into the cache. Nodes already in the cache are
// kept; a share collected again replaces its old node and index pair.
CollectStats collectShares(const std::vector<ShareSpec> &shares, const CollectOptions &options);

// Days since 1899-12-30 in local time of a file time, and of seconds since 1970.
double toCacheTime(std::filesystem::file_time_type time);
double toCacheTime(int64_t unixSeconds);

// The dotted IPv4 address of a computer name, or empty when it has none.
std::string resolveIpv4(const std::string &host);

// The walk does not go deeper than this many folders below a share: a deeper tree is almost
// always a link on the server that leads back up.
constexpr size_t kMaxFolderDepth = 256;

} // namespace veltrano
