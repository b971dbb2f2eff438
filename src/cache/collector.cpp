#include "cache/collector.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cache/myutils.h"
#include "util/datetime.h"
#include "util/error.h"
#include "util/filehandle.h"

namespace veltrano {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrArchive = 0x20;

uint32_t localAttributes(const fs::file_status &status, const std::string &name)
{
    uint32_t attr = fs::is_directory(status) ? kAttrDirectory : kAttrArchive;
    if ((status.permissions() & fs::perms::owner_write) == fs::perms::none)
        attr |= kAttrReadOnly;
    if (!name.empty() && name[0] == '.')
        attr |= kAttrHidden;
    return attr;
}

// Counts and reports what a walk leaves out, and its progress now and then.
class WalkReporter
{
public:
    WalkReporter(const CollectOptions &options, CollectStats &stats)
        : m_options(options)
        , m_stats(stats)
    { }

    void warn(const std::string &text)
    {
        ++m_stats.warnings;
        if (m_options.warn)
            m_options.warn(text);
    }

    void progress()
    {
        if (!m_options.progress)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(100))
            return;
        m_last = now;
        m_options.progress(m_stats.folders, m_stats.entries);
    }

private:
    const CollectOptions &m_options;
    CollectStats &m_stats;
    std::chrono::steady_clock::time_point m_last{};
};

// Merges `node` into the node list of `folder`: a node with the same cache name is replaced.
void mergeNode(const std::string &folder, TNodeData node, const CodePage &cp)
{
    TNodeList nodes;
    ReadNodeList(folder, nodes, false, cp);
    node.Folder = folder;
    const auto same = std::find_if(nodes.begin(), nodes.end(), [&](const TNodeData &n) {
        return cp.equalsNoCase(n.CacheName, node.CacheName);
    });
    if (same != nodes.end())
        *same = node;
    else
        nodes.push_back(node);
    writeNodeList(folder, nodes);
}

// Other processes may write into the same cache (the readers of a parallel collect, or a
// second run that overlaps this one): node lists are read, merged and written by one at a time.
// Without a lock file (a read-only cache root) the writes that follow fail on their own.
FileHandle lockCache(const fs::path &cacheRoot)
{
    FileHandle file(
            ::open((cacheRoot / ".collect.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (file.valid())
        while (::flock(file.get(), LOCK_EX) != 0 && errno == EINTR) { }
    return file;
}

TNodeData containerNode(const std::string &name, const std::string &path)
{
    TNodeData node;
    node.Name = name;
    node.Path = path;
    node.CacheName = name;
    node.Kind = kindMask(nkContainer);
    node.State = nsCacheOn;
    return node;
}

std::string encodeOrThrow(const CodePage &cp, const std::string &utf8)
{
    std::optional<std::string> bytes = cp.fromUtf8(utf8);
    if (!bytes)
        throw Error("The name " + utf8 + " cannot be written in code page " + cp.name());
    return *bytes;
}

} // namespace

CollectStats &CollectStats::operator+=(const CollectStats &other)
{
    shares += other.shares;
    folders += other.folders;
    entries += other.entries;
    warnings += other.warnings;
    unwritableNames += other.unwritableNames;
    return *this;
}

std::string resolveIpv4(const std::string &host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    const auto *addr = reinterpret_cast<const sockaddr_in *>(result->ai_addr);
    inet_ntop(AF_INET, &addr->sin_addr, text, sizeof text);
    freeaddrinfo(result);
    return text;
}

LocalFolderSource::LocalFolderSource(fs::path root)
    : m_root(std::move(root))
{ }

FolderSource::Outcome LocalFolderSource::list(
        const std::string &relPath, std::vector<SourceEntry> &entries, std::string &error)
{
    const fs::path folder = relPath.empty() ? m_root : m_root / relPath;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        error = ec.message();
        return Outcome::Refused;
    }
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        const fs::path child = it->path();
        SourceEntry entry;
        entry.name = child.filename().string();
        std::error_code statError;
        const fs::file_status status = fs::status(child, statError);
        if (statError) {
            entry.problem = statError.message();
            entries.push_back(std::move(entry));
            continue;
        }
        entry.attr = localAttributes(status, entry.name);
        entry.time = toCacheTime(fs::last_write_time(child, statError));
        if (fs::is_directory(status)) {
            // A link to a folder is listed but not entered, so a loop cannot trap the walk.
            entry.enter = !fs::is_symlink(fs::symlink_status(child, statError));
        } else {
            const uintmax_t size = fs::file_size(child, statError);
            entry.size = statError ? 0 : size;
        }
        entries.push_back(std::move(entry));
    }
    if (ec) {
        error = "cannot read all of it: " + ec.message();
        return Outcome::Refused;
    }
    return Outcome::Listed;
}

std::string LocalFolderSource::where(const std::string &relPath) const
{
    return (relPath.empty() ? m_root : m_root / relPath).string();
}

bool walkShare(FolderSource &source, const std::string &uncRoot, const CollectOptions &options,
        CollectStats &stats, IndexPairWriter &out, std::string &error)
{
    struct Pending
    {
        std::string rel; // UTF-8 below the share
        std::string unc; // code-page bytes, ends with '\'
        size_t depth;
    };
    const CodePage &cp = options.codePage;
    WalkReporter report(options, stats);
    std::vector<Pending> stack{{std::string(), uncRoot, 0}};
    std::vector<SourceEntry> listed;
    std::vector<CacheEntry> entries;
    std::vector<Pending> subfolders;
    while (!stack.empty()) {
        const Pending folder = std::move(stack.back());
        stack.pop_back();
        listed.clear();
        entries.clear();
        subfolders.clear();
        std::string why;
        const FolderSource::Outcome outcome = source.list(folder.rel, listed, why);
        // A share whose own folder cannot be read (a refused logon, a share gone) was not read
        // at all: the cache keeps what it held rather than an empty tree.
        if (outcome == FolderSource::Outcome::Lost
                || (outcome == FolderSource::Outcome::Refused && folder.rel.empty())) {
            error = folder.rel.empty() ? why : source.where(folder.rel) + ": " + why;
            return false;
        }
        if (outcome == FolderSource::Outcome::Refused)
            report.warn("cannot read " + source.where(folder.rel) + ": " + why);
        for (SourceEntry &item : listed) {
            const std::optional<std::string> name = cp.fromUtf8(item.name);
            const std::string rel = folder.rel.empty() ? item.name : folder.rel + "/" + item.name;
            if (!item.problem.empty()) {
                report.warn("cannot read " + source.where(rel) + ": " + item.problem);
                continue;
            }
            if (!name) {
                ++stats.unwritableNames;
                report.warn("left out " + source.where(rel)
                        + ": the name cannot be written in code page " + cp.name());
                continue;
            }
            const bool isFolder = (item.attr & kAttrDirectory) != 0;
            if (isFolder && item.enter) {
                if (folder.depth + 1 > kMaxFolderDepth)
                    report.warn("not entered " + source.where(rel) + ": more than "
                            + std::to_string(kMaxFolderDepth) + " folders deep");
                else
                    subfolders.push_back({rel, folder.unc + *name + "\\", folder.depth + 1});
            }
            entries.push_back(
                    {*name, isFolder ? 0 : uint32_t(std::min<uint64_t>(item.size, UINT32_MAX)),
                            item.attr, item.time});
        }
        std::sort(entries.begin(), entries.end(), [](const CacheEntry &a, const CacheEntry &b) {
            return a.name < b.name;
        });
        std::sort(subfolders.begin(), subfolders.end(), [](const Pending &a, const Pending &b) {
            return a.unc < b.unc;
        });
        out.addDirectory(folder.unc, entries);
        ++stats.folders;
        stats.entries += entries.size();
        report.progress();
        // Pushed last first, so the first sub-folder is walked next: the records stay in pre-order.
        for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
            stack.push_back(std::move(*it));
    }
    return true;
}

CacheTarget::CacheTarget(const CollectOptions &options)
    : m_options(options)
{
    const CodePage &cp = options.codePage;
    const std::string root = cacheFolder(options.cacheRoot);
    fs::create_directories(options.cacheRoot);
    writeCodePageMarker(options.cacheRoot, cp.name());

    m_workgroup = encodeOrThrow(cp, options.workgroup);
    const FileHandle cacheLock = lockCache(options.cacheRoot);
    mergeNode(root, containerNode("Net", "Net"), cp);
    mergeNode(root, containerNode("Expanded", "Expanded"), cp);
    const std::string expanded = root + "Expanded/";
    fs::create_directories(expanded);
    if (!fs::exists(fs::path(expanded) / kNodeListName))
        writeNodeList(expanded, {});
    mergeNode(root + "Net/", containerNode(m_workgroup, m_workgroup), cp);
    m_groupFolder = root + "Net/" + options.workgroup + "/";
}

void CacheTarget::storeShare(const std::string &computerUtf8, const std::string &shareUtf8,
        const std::string &address, const IndexPairWriter &pair)
{
    const CodePage &cp = m_options.codePage;
    const std::string computer = encodeOrThrow(cp, computerUtf8);
    const std::string share = encodeOrThrow(cp, shareUtf8);
    const std::lock_guard lock(m_mutex);
    const FileHandle cacheLock = lockCache(m_options.cacheRoot);

    TNodeData pc = containerNode(computer, m_workgroup + "\\" + computer);
    pc.Address = address;
    pc.AddrKind = address.empty() ? 0 : kAddrKindPingable;
    mergeNode(m_groupFolder, pc, cp);

    const std::string pcFolder = m_groupFolder + computerUtf8 + "/";
    // The pair goes in before its node record, so a reader that finds the node finds its pair.
    pair.write(pcFolder, share, cp);

    TNodeData node;
    node.Name = share;
    node.Path = pc.Path + "\\" + share;
    node.CacheName = share;
    node.Kind = kindMask(nkIndexed);
    node.State = nsCacheOn;
    node.Address = address;
    node.AddrKind = pc.AddrKind;
    mergeNode(pcFolder, node, cp);
}

ShareSpec parseShareSpec(std::string_view text)
{
    const size_t eq = text.find('=');
    const std::string_view unc = text.substr(0, eq);
    if (eq == std::string_view::npos || unc.substr(0, 2) != "\\\\" || eq + 1 >= text.size())
        throw Error(
                "A share is given as \\\\COMPUTER\\share=/local/folder, not: " + std::string(text));
    const std::string_view rest = unc.substr(2);
    const size_t slash = rest.find('\\');
    ShareSpec spec;
    spec.computer = std::string(rest.substr(0, slash));
    spec.share =
            slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash + 1));
    while (!spec.share.empty() && spec.share.back() == '\\')
        spec.share.pop_back();
    spec.local = std::string(text.substr(eq + 1));
    const auto bad = [](const std::string &s) {
        return s.empty() || s == "." || s == ".." || s.find_first_of("\\/") != std::string::npos;
    };
    if (bad(spec.computer) || bad(spec.share))
        throw Error(
                "A share is given as \\\\COMPUTER\\share=/local/folder, not: " + std::string(text));
    return spec;
}

double toCacheTime(int64_t unixSeconds)
{
    const std::time_t seconds = std::time_t(unixSeconds);
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return 0;
    const std::optional<double> date =
            encodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const std::optional<double> clock =
            encodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59));
    return date && clock ? *date + *clock : 0;
}

double toCacheTime(fs::file_time_type time)
{
    const auto system = std::chrono::file_clock::to_sys(time);
    return toCacheTime(int64_t(std::chrono::system_clock::to_time_t(system)));
}

CollectStats collectShares(const std::vector<ShareSpec> &shares, const CollectOptions &options)
{
    CollectStats stats;
    CacheTarget target(options);
    for (const ShareSpec &spec : shares) {
        if (!fs::is_directory(spec.local))
            throw Error("Not a folder: " + spec.local.string());
        const CodePage &cp = options.codePage;
        const std::string unc = "\\\\" + encodeOrThrow(cp, spec.computer) + "\\"
                + encodeOrThrow(cp, spec.share) + "\\";
        LocalFolderSource source(spec.local);
        IndexPairWriter pair;
        std::string error;
        if (!walkShare(source, unc, options, stats, pair, error))
            throw Error("cannot read " + spec.local.string() + ": " + error);
        const std::string address =
                options.resolveAddresses ? resolveIpv4(spec.computer) : std::string();
        target.storeShare(spec.computer, spec.share, address, pair);
        ++stats.shares;
    }
    return stats;
}

} // namespace veltrano
