#include "cache/synthcache.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <fmt/format.h>

#include "cache/cachewriter.h"
#include "cache/myutils.h"
#include "util/codepage.h"

namespace veltrano {
namespace {

// Words of file and folder names, most frequent first; they are drawn with Zipf weights.
constexpr std::array<std::string_view, 120> kWords = {
        "data", "new", "report", "doc", "image", "file", "backup", "photo", "setup", "test",
        "final", "old", "copy", "list", "music", "project", "readme", "draft", "install", "help",
        "config", "log", "temp", "notes", "budget", "letter", "summary", "index", "main", "user",
        "system", "home", "game", "video", "plan", "sales", "client", "server", "demo", "sample",
        "meeting", "manual", "source", "include", "lib", "bin", "driver", "update", "patch",
        "archive", "invoice", "order", "price", "design", "chart", "table", "form", "memo",
        "school", "class", "lesson", "homework", "exam", "paper", "thesis", "book", "chapter",
        "story", "song", "album", "travel", "family", "party", "birthday", "holiday", "trip",
        "map", "road", "city", "office", "staff", "payroll", "tax", "account", "bank", "stock",
        "market", "product", "catalog", "brochure", "poster", "logo", "icon", "font", "theme",
        "skin", "mod", "level", "save", "score", "player", "team", "match", "league", "kettle",
        "lantern", "harbor", "orchid", "glacier", "pepper", "walnut", "violet", "saddle",
        "cobalt", "meadow", "quartz", "zephyr", "nimbus", "tundra"};

// Chinese words (UTF-8); in Big5 許, 功 and 蓋 end in 0x5C, 告, 可, 預 and 計 in ASCII letters.
constexpr std::array<std::string_view, 20> kChineseWords = {
        "報告", "會議記錄", "許可", "功能", "照片", "音樂", "資料", "備份", "成本", "預算",
        "蓋章", "設計", "程式", "表單", "圖片", "文件", "中文", "計畫", "許功蓋", "新增資料夾"};

constexpr std::array<std::string_view, 24> kExtensions = {
        "doc", "txt", "jpg", "xls", "gif", "htm", "exe", "dll", "zip", "pdf", "mp3", "bmp",
        "ini", "log", "cpp", "h", "ppt", "wav", "avi", "html", "rar", "tif", "bak", "dat"};

constexpr std::array<std::string_view, 6> kShareNames = {"docs", "public", "share", "data", "d", "music"};

class Random
{
public:
    explicit Random(uint64_t seed)
        : m_state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull)
    {
    }
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return double(next() >> 11) * 0x1.0p-53; }
    uint64_t below(uint64_t n) { return n ? uint64_t(unit() * double(n)) % n : 0; }
    bool chance(double p) { return unit() < p; }

private:
    uint64_t m_state;
};

class NameMaker
{
public:
    NameMaker(const CodePage &cp, double chinese)
        : m_chinese(chinese)
    {
        double sum = 0;
        for (size_t i = 0; i < kWords.size(); ++i)
            m_cumulative[i] = sum += 1.0 / double(i + 1);
        for (double &c : m_cumulative)
            c /= sum;
        for (size_t i = 0; i < kChineseWords.size(); ++i)
            m_chineseBytes[i] = cp.fromUtf8Lossy(kChineseWords[i]);
    }

    std::string make(Random &rng, bool folder)
    {
        std::string name;
        const double r = rng.unit();
        const int words = r < 0.35 ? 1 : (r < 0.8 ? 2 : 3);
        const bool chinese = rng.chance(m_chinese);
        const int chineseAt = chinese ? int(rng.below(uint64_t(words))) : -1;
        for (int w = 0; w < words; ++w) {
            if (w > 0)
                name += kSeparators[rng.below(kSeparators.size())];
            if (w == chineseAt) {
                name += m_chineseBytes[rng.below(m_chineseBytes.size())];
                continue;
            }
            const size_t index = size_t(std::lower_bound(m_cumulative.begin(), m_cumulative.end(), rng.unit())
                                        - m_cumulative.begin());
            appendWord(name, kWords[std::min(index, kWords.size() - 1)], rng);
        }
        if (rng.chance(0.3)) {
            if (rng.chance(0.5))
                name += '_';
            name += std::to_string(rng.below(rng.chance(0.5) ? 100 : 10000));
        }
        if (!folder || rng.chance(0.03)) {
            name += '.';
            const std::string_view ext = kExtensions[std::min(rng.below(kExtensions.size()), rng.below(kExtensions.size()))];
            appendWord(name, ext, rng);
        }
        return name;
    }

private:
    static void appendWord(std::string &out, std::string_view word, Random &rng)
    {
        const double r = rng.unit();
        const size_t at = out.size();
        out += word;
        if (r < 0.6)
            return;
        for (size_t i = at; i < out.size(); ++i)
            if (out[i] >= 'a' && out[i] <= 'z' && (r >= 0.9 || i == at))
                out[i] = char(out[i] - 'a' + 'A');
    }

    static constexpr std::array<std::string_view, 4> kSeparators = {"_", " ", "-", ""};
    double m_chinese;
    std::array<double, kWords.size()> m_cumulative {};
    std::array<std::string, kChineseWords.size()> m_chineseBytes;
};

struct Shape
{
    uint64_t entries;
    uint64_t folders;
};

// Entries and folders of every node: the largest first, the rest about even.
std::vector<Shape> nodeShapes(const SynthCacheSpec &spec, Random &rng)
{
    const uint32_t n = std::max<uint32_t>(spec.nodes, 1);
    std::vector<double> weights(n);
    weights[0] = n == 1 ? 1.0 : std::clamp(spec.largestNodeShare, 0.0, 1.0);
    double rest = 0;
    for (uint32_t i = 1; i < n; ++i)
        rest += weights[i] = 0.5 + rng.unit();
    for (uint32_t i = 1; i < n; ++i)
        weights[i] = weights[i] / rest * (1.0 - weights[0]);
    std::vector<Shape> shapes(n);
    for (uint32_t i = 0; i < n; ++i) {
        Shape &s = shapes[i];
        s.folders = std::max<uint64_t>(1, uint64_t(std::llround(weights[i] * double(spec.folders))));
        s.entries = std::max<uint64_t>(s.folders - 1, uint64_t(std::llround(weights[i] * double(spec.entries))));
    }
    return shapes;
}

double randomTime(Random &rng)
{
    // 1995 to 2003, to the second.
    const double day = 34700 + double(rng.below(3200));
    return day + double(rng.below(86400)) / 86400.0;
}

uint32_t randomSize(Random &rng)
{
    return uint32_t(std::min(4294967295.0, std::exp(2.0 + rng.unit() * 18.0)));
}

// Writes one node's index pair: a folder tree of shape.folders directories in pre-order.
uint64_t writeNode(const std::string &folder, const std::string &cacheName, const std::string &root,
                   const Shape &shape, NameMaker &names, Random &rng, const CodePage &cp,
                   const std::function<void(std::string_view)> &onName)
{
    const size_t dirs = size_t(shape.folders);
    std::vector<uint32_t> parent(dirs, 0);
    std::vector<uint32_t> files(dirs, 0);
    std::vector<std::vector<uint32_t>> children(dirs);
    for (size_t i = 1; i < dirs; ++i) {
        parent[i] = uint32_t(rng.below(i));
        children[parent[i]].push_back(uint32_t(i));
    }
    for (uint64_t f = dirs - 1; f < shape.entries; ++f)
        ++files[rng.below(dirs)];

    std::vector<std::string> paths(dirs);
    paths[0] = root;
    IndexPairWriter writer;
    std::vector<CacheEntry> entries;
    std::vector<uint32_t> stack {0};
    while (!stack.empty()) {
        const uint32_t dir = stack.back();
        stack.pop_back();
        entries.clear();
        for (const uint32_t child : children[dir]) {
            std::string name = names.make(rng, true);
            paths[child] = paths[dir] + name + "\\";
            entries.push_back(CacheEntry {std::move(name), 0, kAttrDirectory, randomTime(rng)});
        }
        for (uint32_t f = 0; f < files[dir]; ++f)
            entries.push_back(CacheEntry {names.make(rng, false), randomSize(rng), 0x20, randomTime(rng)});
        if (onName)
            for (const CacheEntry &e : entries)
                onName(e.name);
        writer.addDirectory(paths[dir], entries);
        std::string().swap(paths[dir]);
        for (auto it = children[dir].rbegin(); it != children[dir].rend(); ++it)
            stack.push_back(*it);
    }
    writer.write(folder, cacheName, cp);
    return writer.idxBytes().size() + writer.lstBytes().size();
}

TNodeData makeNode(const std::string &name, const std::string &path, uint16_t kind, uint32_t state)
{
    TNodeData node;
    node.Name = name;
    node.Path = path;
    node.CacheName = name;
    node.Kind = kind;
    node.State = state;
    return node;
}

} // namespace

SynthCacheStats generateSynthCache(const std::filesystem::path &root, const SynthCacheSpec &spec,
                                   const std::function<void(std::string_view)> &onName)
{
    const CodePage cp(spec.codePage);
    Random rng(spec.seed);
    NameMaker names(cp, spec.chineseNames);
    const std::vector<Shape> shapes = nodeShapes(spec, rng);
    const std::string rootFolder = cacheFolder(root);
    std::filesystem::create_directories(root);
    writeCodePageMarker(root, spec.codePage);
    writeNodeList(rootFolder, {makeNode("Net", "Net", kindMask(nkContainer), 0),
                               makeNode("Expanded", "Expanded", kindMask(nkContainer), 0)});

    constexpr uint32_t kComputersPerDomain = 8;
    SynthCacheStats stats;
    std::array<TNodeList, 2> domains; // of Net and of Expanded
    TNodeList computers;
    TNodeList shares;
    uint32_t computer = 0;
    for (size_t i = 0; i < shapes.size();) {
        const uint32_t domain = computer / kComputersPerDomain;
        const int top = domain % 5 == 4 ? 1 : 0;
        const std::string topName = top ? "Expanded" : "Net";
        const std::string domainName = fmt::format("DOMAIN{:02}", domain);
        const std::string pcName = fmt::format("PC{:03}", computer);
        const std::string pcFolder = rootFolder + topName + "/" + domainName + "/" + pcName + "/";
        if (computer % kComputersPerDomain == 0)
            domains[size_t(top)].push_back(makeNode(domainName, domainName, kindMask(nkContainer), 0));
        TNodeData pc = makeNode(pcName, domainName + "\\" + pcName, kindMask(nkContainer), 0);
        pc.Address = fmt::format("192.168.{}.{}", 1 + computer / 250, 1 + computer % 250);
        pc.AddrKind = kAddrKindPingable;
        shares.clear();
        const size_t count = std::min<size_t>(1 + rng.below(3), shapes.size() - i);
        for (size_t k = 0; k < count; ++k, ++i) {
            const std::string share = std::string(kShareNames[k % kShareNames.size()]) + std::to_string(k);
            const bool off = rng.chance(spec.cacheOffShare);
            const bool container = rng.chance(spec.containerShare);
            const uint16_t kind = kindMask(nkIndexed) | (container ? kindMask(nkContainer) : 0);
            shares.push_back(makeNode(share, pcName + "\\" + share, kind, off ? 0 : nsCacheOn));
            const std::string unc = "\\\\" + pcName + "\\" + share + "\\";
            const uint64_t bytes = writeNode(pcFolder, share, unc, shapes[i], names, rng, cp, onName);
            stats.entries += shapes[i].entries;
            stats.folders += shapes[i].folders;
            stats.totalBytes += bytes;
            stats.largestPairBytes = std::max(stats.largestPairBytes, bytes);
            ++stats.nodes;
            if (container) { // a small cache folder of its own below the share
                const std::string sub = pcFolder + share + "/";
                const Shape small {12, 3};
                writeNodeList(sub, {makeNode("inner", share + "\\inner", kindMask(nkIndexed), nsCacheOn)});
                stats.totalBytes += writeNode(sub, "inner", unc + "inner\\", small, names, rng, cp, onName);
                stats.entries += small.entries;
                stats.folders += small.folders;
                ++stats.nodes;
            }
        }
        writeNodeList(pcFolder, shares);
        computers.push_back(pc);
        ++computer;
        if (computer % kComputersPerDomain == 0 || i == shapes.size()) {
            writeNodeList(rootFolder + topName + "/" + domainName + "/", computers);
            computers.clear();
        }
    }
    writeNodeList(rootFolder + "Net/", domains[0]);
    writeNodeList(rootFolder + "Expanded/", domains[1]);
    return stats;
}

} // namespace veltrano
