#include "server/serversearch.h"

#include <charconv>

#include <sys/stat.h>

#include <fmt/format.h>

#include "cache/myutils.h"
#include "protocol/findstreamwriter.h"
#include "search/nodescan.h"
#include "search/objsearch.h"
#include "search/residentcache.h"
#include "store/searchrequest.h"
#include "util/error.h"

namespace veltrano {
namespace {

constexpr int32_t kKnownOptions =
        soOnlyShowFolder | soHitNum | soHitNoFind | soHitExclusive | soOnlyFolderName;
constexpr int32_t kMaxMinHits = 10000;

std::optional<int32_t> decimal(std::string_view text)
{
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string fileSignature(const std::filesystem::path &path)
{
    struct stat st
    { };
    if (::stat(path.c_str(), &st) != 0)
        return "-";
    return fmt::format("{}:{}:{}.{}", st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

// Hits of one search on their way into the stream. Lives until the worker's end.
struct SearchState
{
    SearchState(std::shared_ptr<const CodePage> cacheCp, const CodePage &wire, size_t maxBytes)
        : cacheCp(std::move(cacheCp))
        , wire(wire)
        , writer(this->wire, maxBytes)
    { }

    std::shared_ptr<const CodePage> cacheCp;
    CodePage wire;
    FindStreamWriter writer;
    bool sameCodePage = false;
    uint64_t hits = 0;
    bool overLimit = false;
    std::function<void(std::string)> done;
};

} // namespace

RemoteSearch parseSearchArgument(std::string_view argument)
{
    while (!argument.empty() && static_cast<unsigned char>(argument.back()) <= ' ')
        argument.remove_suffix(1);
    if (argument.empty() || argument.back() != ';')
        throw Error("The search argument must end with ';'");
    argument.remove_suffix(1);
    const size_t semicolon = argument.rfind(';');
    if (semicolon == std::string_view::npos)
        throw Error("The search argument has no options part");
    const std::string_view tail = argument.substr(semicolon + 1);
    const size_t comma = tail.find(',');
    const auto options = decimal(tail.substr(0, comma));
    const auto minHits =
            comma == std::string_view::npos ? std::nullopt : decimal(tail.substr(comma + 1));
    if (!options || !minHits)
        throw Error(fmt::format("The options part \"{}\" is not options,minimum", tail));
    if ((*options & ~kKnownOptions) != 0)
        throw Error(fmt::format("Unknown option bits {}", *options));
    if (*minHits < 0 || *minHits > kMaxMinHits)
        throw Error(fmt::format("The minimum hits {} is outside 0 to {}", *minHits, kMaxMinHits));
    RemoteSearch search;
    search.conds = conditionsFromCommand(argument.substr(0, semicolon));
    CheckConditions(search.conds);
    search.options = *options;
    search.minHits = (*options & soHitNum) ? *minHits : 0;
    return search;
}

ServerCache::ServerCache(std::filesystem::path root, std::string codePageOverride)
    : m_root(std::move(root))
    , m_override(std::move(codePageOverride))
{ }

std::string ServerCache::signature() const
{
    return fileSignature(m_root / "ALL.NOD") + "|" + fileSignature(m_root / "all.nod") + "|"
            + fileSignature(m_root / "CODEPAGE");
}

std::shared_ptr<const CodePage> ServerCache::codePage()
{
    const std::string now = signature();
    std::lock_guard lock(m_mutex);
    if (!m_cp || now != m_signature) {
        if (m_cp)
            ++m_reloads;
        m_cp = std::make_shared<const CodePage>(CodePage::forCache(m_root, m_override));
        m_signature = now;
    }
    return m_cp;
}

std::function<void()> startServerSearch(ServerCache &cache, const RemoteSearch &search,
        const CodePage &wire, uint64_t maxHits, size_t maxBytes,
        std::function<void(std::string stream)> done)
{
    auto state = std::make_shared<SearchState>(cache.codePage(), wire, maxBytes);
    state->sameCodePage = state->cacheCp->name() == wire.name();
    state->done = std::move(done);
    std::string start = cache.root().string();
    if (start.empty() || start.back() != '/')
        start += '/';

    auto worker = std::make_unique<TObjSearch>(start, search.options, search.minHits, search.conds,
            *state->cacheCp, TObjSearch::Synchronizer {});
    worker->ScanThreads = 1;
    // The index pairs stay in memory between searches, read again when the collector replaces
    // them; several searches share them.
    worker->Resident = &ResidentCache::processWide();
    worker->OnHit = [state, maxHits](TObjSearch &sender) {
        if (state->overLimit || state->writer.full())
            return;
        if (++state->hits > maxHits) {
            state->overLimit = true;
            sender.Terminate();
            return;
        }
        TItemData item = sender.CurItem();
        if (!state->sameCodePage)
            item.setName(state->wire.fromUtf8Lossy(state->cacheCp->toUtf8(item.name())));
        if (!state->writer.add(item))
            sender.Terminate();
    };
    worker->OnEnd = [state](TObjSearch &sender) {
        std::string stream;
        if (state->overLimit)
            stream = state->writer.finishOverLimit();
        else if (!sender.ErrorMessage().empty() || sender.Terminated())
            stream = state->writer.finishFailed();
        else
            stream = state->writer.finish();
        state->done(std::move(stream));
    };
    // The worker frees itself after its end; the stop function may outlive it, so it reaches
    // the worker through a flag the worker's OnHit reads.
    auto stop = std::make_shared<std::atomic<bool>>(false);
    auto hit = worker->OnHit;
    worker->OnHit = [stop, hit](TObjSearch &sender) {
        if (stop->load()) {
            sender.Terminate();
            return;
        }
        hit(sender);
    };
    worker->OnNode = [stop](TObjSearch &sender) {
        if (stop->load())
            sender.Terminate();
    };
    TObjSearch::Launch(std::move(worker));
    return [stop] {
        stop->store(true);
    };
}

} // namespace veltrano
