#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "search/compare.h"
#include "util/codepage.h"

namespace veltrano {

// A search as OPENFIND asks for it: the eleven texts of the search command, the option bits and
// the minimum hits per folder.
struct RemoteSearch
{
    TCompInfos conds; // checked, keys in UTF-8
    int32_t options = 0;
    int32_t minHits = 0;
};

// Reads OPENFIND's argument (UTF-8): command ";" options "," minimum hits ";". Throws Error
// with a message for the client: a command that is not eleven known words and keys, option
// bits that no search has, a minimum outside 0 to 10000, or conditions CheckConditions refuses.
RemoteSearch parseSearchArgument(std::string_view argument);

// The server's cache: its root and code page, kept between searches. A collector replaces the
// cache's files by renaming new ones over them; when the root's node list or code-page marker
// changes (size, modification time or inode), the code page is read again before the next
// search. The index pairs themselves are kept in memory by the searches (ResidentCache) and
// read again when their files are replaced. Thread-safe.
class ServerCache
{
public:
    explicit ServerCache(std::filesystem::path root, std::string codePageOverride = {});

    const std::filesystem::path &root() const { return m_root; }
    // The code page of the cache as it is now; re-read after a replacement.
    std::shared_ptr<const CodePage> codePage();
    // How often the cache was found replaced since start.
    int reloads() const { return m_reloads.load(); }

private:
    std::string signature() const;

    std::filesystem::path m_root;
    std::string m_override;
    std::mutex m_mutex;
    std::string m_signature;
    std::shared_ptr<const CodePage> m_cp;
    std::atomic<int> m_reloads{0};
};

// Runs one search over the cache on the engine's own thread and turns its hits into a result
// stream in the wire code page. `done` runs on the search's thread with the complete stream
// (?H after a normal end, ?O past maxHits, ?A when the walk failed or the stream outgrew
// maxBytes). The returned stop function ends the search early (then `done` still runs, with
// ?A); it may be called from any thread, also after the end.
std::function<void()> startServerSearch(ServerCache &cache, const RemoteSearch &search,
        const CodePage &wire, uint64_t maxHits, size_t maxBytes,
        std::function<void(std::string stream)> done);

} // namespace veltrano
