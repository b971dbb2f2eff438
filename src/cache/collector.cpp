#include "cache/collector.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cache/cachewriter.h"
#include "cache/myutils.h"
#include "util/datetime.h"
#include "util/error.h"

namespace veltrano {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrArchive = 0x20;

std::string resolveIpv4(const std::string &host)
{
    addrinfo hints {};
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

// Walks one share depth-first, directory records in pre-order.
class ShareWalker
{
public:
    ShareWalker(const CollectOptions &options, CollectStats &stats)
        : m_options(options)
        , m_stats(stats)
    {
    }

    void walk(const fs::path &folder, const std::string &path)
    {
        std::vector<CacheEntry> entries;
        std::vector<std::pair<fs::path, std::string>> subfolders;
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec) {
            warn("cannot read " + folder.string() + ": " + ec.message());
        }
        for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
            const fs::path child = it->path();
            const std::string utf8Name = child.filename().string();
            const std::optional<std::string> name = m_options.codePage.fromUtf8(utf8Name);
            if (!name) {
                warn("left out " + child.string() + ": the name cannot be written in code page "
                     + m_options.codePage.name());
                continue;
            }
            std::error_code statError;
            const fs::file_status status = fs::status(child, statError);
            if (statError) {
                warn("cannot read " + child.string() + ": " + statError.message());
                continue;
            }
            CacheEntry entry;
            entry.name = *name;
            entry.attr = attributesOf(status, utf8Name);
            entry.time = toCacheTime(fs::last_write_time(child, statError));
            if (fs::is_directory(status)) {
                // A link to a folder is listed but not entered, so a loop cannot trap the walk.
                if (!fs::is_symlink(fs::symlink_status(child, statError)))
                    subfolders.emplace_back(child, path + *name + "\\");
            } else {
                const uintmax_t size = fs::file_size(child, statError);
                entry.size = statError ? 0 : uint32_t(std::min<uintmax_t>(size, UINT32_MAX));
            }
            entries.push_back(std::move(entry));
        }
        if (ec)
            warn("cannot read all of " + folder.string() + ": " + ec.message());

        std::sort(entries.begin(), entries.end(),
                  [](const CacheEntry &a, const CacheEntry &b) { return a.name < b.name; });
        std::sort(subfolders.begin(), subfolders.end(),
                  [](const auto &a, const auto &b) { return a.second < b.second; });
        m_writer.addDirectory(path, entries);
        ++m_stats.folders;
        m_stats.entries += entries.size();
        reportProgress();
        for (const auto &[sub, subPath] : subfolders)
            walk(sub, subPath);
    }

    const IndexPairWriter &writer() const { return m_writer; }

private:
    static uint32_t attributesOf(const fs::file_status &status, const std::string &name)
    {
        uint32_t attr = fs::is_directory(status) ? kAttrDirectory : kAttrArchive;
        if ((status.permissions() & fs::perms::owner_write) == fs::perms::none)
            attr |= kAttrReadOnly;
        if (!name.empty() && name[0] == '.')
            attr |= kAttrHidden;
        return attr;
    }

    void warn(const std::string &text)
    {
        ++m_stats.warnings;
        if (m_options.warn)
            m_options.warn(text);
    }

    void reportProgress()
    {
        if (!m_options.progress)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_lastProgress < std::chrono::milliseconds(100))
            return;
        m_lastProgress = now;
        m_options.progress(m_stats.folders, m_stats.entries);
    }

    const CollectOptions &m_options;
    CollectStats &m_stats;
    IndexPairWriter m_writer;
    std::chrono::steady_clock::time_point m_lastProgress {};
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

ShareSpec parseShareSpec(std::string_view text)
{
    const size_t eq = text.find('=');
    const std::string_view unc = text.substr(0, eq);
    if (eq == std::string_view::npos || unc.substr(0, 2) != "\\\\" || eq + 1 >= text.size())
        throw Error("A share is given as \\\\COMPUTER\\share=/local/folder, not: " + std::string(text));
    const std::string_view rest = unc.substr(2);
    const size_t slash = rest.find('\\');
    ShareSpec spec;
    spec.computer = std::string(rest.substr(0, slash));
    spec.share = slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash + 1));
    while (!spec.share.empty() && spec.share.back() == '\\')
        spec.share.pop_back();
    spec.local = std::string(text.substr(eq + 1));
    const auto bad = [](const std::string &s) {
        return s.empty() || s == "." || s == ".." || s.find_first_of("\\/") != std::string::npos;
    };
    if (bad(spec.computer) || bad(spec.share))
        throw Error("A share is given as \\\\COMPUTER\\share=/local/folder, not: " + std::string(text));
    return spec;
}

double toCacheTime(fs::file_time_type time)
{
    const auto system = std::chrono::file_clock::to_sys(time);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(system);
    std::tm local {};
    if (!localtime_r(&seconds, &local))
        return 0;
    const std::optional<double> date = encodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    const std::optional<double> clock = encodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59));
    return date && clock ? *date + *clock : 0;
}

CollectStats collectShares(const std::vector<ShareSpec> &shares, const CollectOptions &options)
{
    CollectStats stats;
    const CodePage &cp = options.codePage;
    const std::string root = cacheFolder(options.cacheRoot);
    fs::create_directories(options.cacheRoot);
    writeCodePageMarker(options.cacheRoot, cp.name());

    const std::string workgroup = encodeOrThrow(cp, options.workgroup);
    mergeNode(root, containerNode("Net", "Net"), cp);
    mergeNode(root, containerNode("Expanded", "Expanded"), cp);
    const std::string net = root + "Net/";
    const std::string expanded = root + "Expanded/";
    fs::create_directories(expanded);
    if (!fs::exists(fs::path(expanded) / kNodeListName))
        writeNodeList(expanded, {});
    mergeNode(net, containerNode(workgroup, workgroup), cp);
    const std::string groupFolder = net + options.workgroup + "/";

    for (const ShareSpec &spec : shares) {
        if (!fs::is_directory(spec.local))
            throw Error("Not a folder: " + spec.local.string());
        const std::string computer = encodeOrThrow(cp, spec.computer);
        const std::string share = encodeOrThrow(cp, spec.share);
        const std::string address = options.resolveAddresses ? resolveIpv4(spec.computer) : std::string();

        TNodeData pc = containerNode(computer, workgroup + "\\" + computer);
        pc.Address = address;
        pc.AddrKind = address.empty() ? 0 : kAddrKindPingable;
        mergeNode(groupFolder, pc, cp);

        const std::string pcFolder = groupFolder + spec.computer + "/";
        ShareWalker walker(options, stats);
        walker.walk(spec.local, "\\\\" + computer + "\\" + share + "\\");
        walker.writer().write(pcFolder, share, cp);

        TNodeData node;
        node.Name = share;
        node.Path = pc.Path + "\\" + share;
        node.CacheName = share;
        node.Kind = kindMask(nkIndexed);
        node.State = nsCacheOn;
        node.Address = address;
        node.AddrKind = pc.AddrKind;
        mergeNode(pcFolder, node, cp);
        ++stats.shares;
    }
    return stats;
}

} // namespace veltrano
