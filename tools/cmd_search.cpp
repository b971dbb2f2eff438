// veltrano-cli search: the program's main job without a window.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include <unistd.h>

#include <fmt/format.h>

#include "cache/myutils.h"
#include "cliutil.h"
#include "command.h"
#include "res/strtable.h"
#include "search/compare.h"
#include "search/objsearch.h"
#include "search/residentcache.h"
#include "search/resultsave.h"
#include "store/searchrequest.h"
#include "res/uilanguage.h"
#include "util/datetime.h"
#include "util/error.h"
#include "util/resstr.h"

namespace veltrano::cli {
namespace {

constexpr int kExitInterrupted = 128 + SIGINT;

struct SearchArgs
{
    std::string cache;
    std::string where = "all";
    std::string codePage;
    bool onlyShowFolder = false;
    int hitNum = -1;
    bool hitNoFind = false;
    bool hitExclusive = false;
    bool onlyFolderName = false;
    std::string format;
    std::string command;
    unsigned threads = TObjSearch::DefaultScanThreads();
    std::vector<std::string> conditions;
    std::string save;
    std::string saveFormat = "txt";
    unsigned repeat = 0; // 0: once, reading the files
};

std::atomic<TObjSearch *> g_running {nullptr};

// Ctrl-C does what the Stop button does; the search still ends with its end line.
void stopOnInterrupt(int)
{
    if (TObjSearch *worker = g_running.load())
        worker->Terminate();
}

// Code-page bytes as UTF-8; ASCII passes unchanged without a trip through the converter.
std::string utf8Of(std::string_view bytes, const CodePage &cp)
{
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) & 0x80)
            return cp.toUtf8(bytes);
    return std::string(bytes);
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\')
            out += {'\\', char(c)};
        else if (c < 0x20)
            out += fmt::format("\\u{:04x}", c);
        else
            out += char(c);
    }
    return out + "\"";
}

// Columns on a terminal: Chinese characters take two cells.
size_t displayWidth(std::string_view utf8)
{
    size_t width = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xC0) == 0x80)
            continue;
        width += c >= 0xE2 ? 2 : 1;
    }
    return width;
}

std::string pad(std::string_view text, size_t width, bool right = false)
{
    const size_t w = displayWidth(text);
    const std::string fill(w < width ? width - w : 0, ' ');
    return right ? fill + std::string(text) : std::string(text) + fill;
}

class ResultPrinter
{
public:
    ResultPrinter(std::string format, const CodePage &cp)
        : m_format(std::move(format))
        , m_cp(cp)
        , m_flushEachLine(isatty(STDOUT_FILENO) == 1)
    {
        if (m_format == "text") {
            // The window's column captions, in the user's language.
            const bool english = uiLanguage() == UiLanguage::English;
            write(pad(english ? "Name" : "名稱", 32) + "  " + pad(english ? "Ext" : "副檔名", 8) + "  "
                  + pad(english ? "Size (KB)" : "大小(KB)", 10, true) + "  "
                  + pad(english ? "Folder" : "目錄", 40) + "  " + pad(english ? "Location" : "位置", 12)
                  + "  " + (english ? "Date modified\n" : "修改日期\n"));
        }
    }

    void hit(const TObjSearch &search)
    {
        ++m_hits;
        const TItemData &item = search.CurItem();
        // Hits come in runs from one node: its texts are made once per run.
        if (search.CurNodeName() != m_nodeName || search.CurNodeFolder() != m_nodeFolder) {
            m_nodeName = search.CurNodeName();
            m_nodeFolder = search.CurNodeFolder();
            m_node = utf8Of(m_nodeName, m_cp);
            m_nodePath = m_nodeFolder + m_node;
        }
        const std::string name = utf8Of(item.name(), m_cp);
        const std::string time = formatDateTime(item.Time);
        const auto out = std::back_inserter(m_out);
        if (m_format == "tsv") {
            fmt::format_to(out, "{}\t{}\t{}\t{}\t{}\t{}\n", name, item.Size, item.Attr, time, m_node, m_nodePath);
        } else if (m_format == "json") {
            fmt::format_to(out, "{{\"name\":{},\"size\":{},\"attr\":{},\"time\":{},\"node\":{},\"nodePath\":{}}}\n",
                           jsonString(name), item.Size, item.Attr, jsonString(time), jsonString(m_node),
                           jsonString(m_nodePath));
        } else {
            writeRow(item, m_node, time);
            return;
        }
        lineWritten();
    }

    void end(const TObjSearch &search)
    {
        const std::string files = std::to_string(search.FileCount());
        const std::string folders = std::to_string(search.FolderCount());
        if (m_format == "text") {
            write(FmtResStr(kStrFiles, files) + FmtResStr(kStrFolders, folders) + "\n"
                  + FmtResStr(kStrItemsFoundTotal, std::to_string(m_hits)) + "\n");
        }
        flush();
        if (m_format != "text")
            std::cerr << fmt::format("files={} folders={} hits={}\n", files, folders, m_hits);
    }

    uint64_t hits() const { return m_hits; }
    void flush()
    {
        std::fwrite(m_out.data(), 1, m_out.size(), stdout);
        std::fflush(stdout);
        m_out.clear();
    }

private:
    // The result columns of the window: name, extension, size in KB, folder, location, date.
    void writeRow(const TItemData &item, const std::string &node, const std::string &time)
    {
        const std::string_view full = item.name();
        const size_t slash = m_cp.rfindChar(full, '\\');
        const std::string_view bare = slash == std::string_view::npos ? full : full.substr(slash + 1);
        const std::string_view folder = slash == std::string_view::npos ? std::string_view() : full.substr(0, slash + 1);
        std::string ext;
        std::string size;
        if (!item.isDirectory()) {
            const std::string_view e = extensionOf(bare, m_cp);
            if (!e.empty() || (!bare.empty() && bare.back() == '.'))
                ext = "." + utf8Of(e, m_cp);
            size = std::to_string(item.Size >> 10);
        }
        write(pad(utf8Of(bare, m_cp), 32) + "  " + pad(ext, 8) + "  " + pad(size, 10, true) + "  "
              + pad(utf8Of(folder, m_cp), 40) + "  " + pad(node, 12) + "  " + time + "\n");
    }

    void write(const std::string &line)
    {
        m_out += line;
        lineWritten();
    }

    void lineWritten()
    {
        if (m_flushEachLine || m_out.size() > (1 << 16))
            flush();
    }

    std::string m_format;
    const CodePage &m_cp;
    bool m_flushEachLine;
    std::string m_out;
    uint64_t m_hits = 0;
    std::string m_nodeName;   // code-page bytes, as the worker has it
    std::string m_nodeFolder;
    std::string m_node;       // UTF-8
    std::string m_nodePath;
};

// The nodes that gave fewer hits than they hold, or none: a user who sees too few results
// learns why, without the results themselves changing.
void reportNodeProblems(const TObjSearch &search)
{
    const CodePage &cp = search.codePage();
    for (const TObjSearch::TNodeProblem &problem : search.NodeProblems()) {
        const std::string node = problem.Folder + utf8Of(problem.CacheName, cp);
        switch (problem.State) {
        case PairState::Missing:
            std::cerr << fmt::format("{}: index files missing; node not searched\n", node);
            break;
        case PairState::Unreadable:
            std::cerr << fmt::format(
                    "{}: index files unreadable or damaged; node not searched\n", node);
            break;
        default:
            std::cerr << fmt::format(
                    "{}: index files damaged; node searched as far as they could be read\n", node);
            break;
        }
    }
}

int runSearch(const SearchArgs &args)
{
    TCompInfos conds;
    std::string startFolder;
    std::optional<CodePage> cp;
    std::string format = args.format.empty() ? (isatty(STDOUT_FILENO) ? "text" : "tsv") : args.format;
    SearchOptions options;
    try {
        if (!args.command.empty() && !args.conditions.empty())
            throw Error("--command takes the place of the conditions; give one or the other");
        conds = args.command.empty() ? conditionsFromArgs(args.conditions) : conditionsFromCommand(args.command);
        CheckConditions(conds);
        const std::filesystem::path root = args.cache.empty() ? defaultCacheRoot() : std::filesystem::path(args.cache);
        cp.emplace(CodePage::forCache(root, args.codePage));
        const bool all = args.where.empty() || args.where == "all" || args.where == kAllCachedData;
        startFolder = searchStartFolder(root, all ? std::string_view(kAllCachedData) : std::string_view(args.where));
        std::error_code ec;
        if (!std::filesystem::is_directory(startFolder, ec))
            throw Error(fmt::format("No such search location: \"{}\" ({}{}{})", args.where,
                    startFolder, ec ? ": " : "", ec ? ec.message() : ""));
        TSetupInfo settings;
        settings.OnlyShowFolder = args.onlyShowFolder;
        settings.HitNum = args.hitNum >= 0;
        settings.HitNumValue = std::max(args.hitNum, 0);
        settings.HitNoFind = args.hitNoFind;
        settings.HitExclusive = args.hitExclusive;
        settings.OnlyFolderName = args.onlyFolderName;
        options = searchOptionsOf(settings);
    } catch (const Error &e) {
        std::cerr << e.what() << '\n';
        return kExitUsage;
    }

    ResultPrinter printer(format, *cp);
    std::vector<ResultRow> saved;
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = stopOnInterrupt;
    action.sa_flags = SA_RESTART; // a write to a slow pipe goes on after Ctrl-C
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);

    // With --repeat the searches run on pairs kept in memory, as the window's do: the first
    // reads them, the others only look whether they changed. Only the first one's results
    // are written; every one's time goes to standard error.
    const unsigned runs = std::max(1u, args.repeat);
    for (unsigned run = 1; run <= runs; ++run) {
        TObjSearch search(startFolder, options.Options, options.MinHits, conds, *cp, {});
        search.ScanThreads = std::max(1u, args.threads);
        if (args.repeat > 0)
            search.Resident = &ResidentCache::processWide();
        uint64_t hits = 0;
        if (run == 1) {
            search.OnHit = [&printer, &saved, &args, &cp](TObjSearch &sender) {
                printer.hit(sender);
                if (!args.save.empty())
                    saved.push_back(resultRowOf(sender.CurItem(), sender.CurNodeName(), *cp));
            };
            search.OnEnd = [&printer](TObjSearch &sender) {
                printer.end(sender);
            };
        } else {
            search.OnHit = [&hits](TObjSearch &) {
                ++hits;
            };
        }
        g_running.store(&search);
        const auto started = std::chrono::steady_clock::now();
        search.Start();
        search.WaitFor();
        const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - started;
        g_running.store(nullptr);
        if (run == 1) {
            reportNodeProblems(search);
            hits = printer.hits();
        }
        if (args.repeat > 0)
            std::cerr << fmt::format("search {}: {:.2f} ms, {} entries, {} hits\n", run,
                    took.count(), search.FileCount() + search.FolderCount(), hits);
        if (!search.ErrorMessage().empty()) {
            sigaction(SIGINT, &previous, nullptr);
            std::cerr << search.ErrorMessage() << '\n';
            return kExitUsage;
        }
        if (search.Terminated()) {
            sigaction(SIGINT, &previous, nullptr);
            return kExitInterrupted;
        }
    }
    sigaction(SIGINT, &previous, nullptr);
    if (!args.save.empty()) {
        const ResultFileFormat form = args.saveFormat == "csv"    ? ResultFileFormat::Csv
                                    : args.saveFormat == "utf8" ? ResultFileFormat::Utf8Text
                                                                : ResultFileFormat::CodePageText;
        try {
            saveResults(args.save, saved, form, CodePage::programDefault());
        } catch (const std::exception &e) {
            std::cerr << args.save << ": " << e.what() << '\n';
            return kExitUsage;
        }
    }
    return printer.hits() > 0 ? kExitOk : kExitFailure;
}

std::function<int()> setupSearch(CLI::App &sub)
{
    auto args = std::make_shared<SearchArgs>();
    sub.add_option("--cache", args->cache, "Cache folder (default: the program folder's Cache)");
    sub.add_option("--where", args->where,
                   "Search location: all (所有快取資料, the default), Net, Expanded, or Net\\NAME / "
                   "Expanded\\NAME as `locations` prints it");
    sub.add_option("--codepage", args->codePage, "Code page of the cache (default: its CODEPAGE marker)");
    sub.add_flag("--only-show-folder", args->onlyShowFolder, "Report the folders that hold matches, not the matches");
    sub.add_option("--hit-num", args->hitNum, "With --only-show-folder: a folder needs at least N matches")
            ->check(CLI::Range(0, 10000));
    sub.add_flag("--hit-no-find", args->hitNoFind, "After a hit, pass over the folders below the hit's folder");
    sub.add_flag("--hit-exclusive", args->hitExclusive, "Report one hit per folder");
    sub.add_flag("--only-folder-name", args->onlyFolderName, "Test folder entries only");
    sub.add_option("--format", args->format, "text (default on a terminal), tsv (default otherwise) or json")
            ->check(CLI::IsMember({"text", "tsv", "json"}));
    sub.add_option("--threads", args->threads,
                   "Threads that scan the nodes (default: the processors, at most 4)")
            ->check(CLI::Range(1, 64));
    sub.add_option("--command", args->command,
                   "The eleven-part search command of the history instead of CONDITION arguments");
    sub.add_option("--save", args->save,
                   "Also write the results to FILE as the window's 儲存結果 does (the file is replaced)");
    sub.add_option("--save-format", args->saveFormat,
                   "txt (fixed-width columns in the program's code page, the default), utf8 (the same "
                   "columns in UTF-8) or csv (UTF-8, a header row)")
            ->check(CLI::IsMember({"txt", "utf8", "csv"}));
    sub.add_option("--repeat", args->repeat,
               "Run the same search N times in this process on index files kept in memory (as the "
               "window does), each search's time on standard error; the results are written once")
            ->check(CLI::Range(1, 1000000));
    sub.add_option("CONDITION", args->conditions,
                   "FIELD OP KEY [LOGIC FIELD OP KEY [LOGIC FIELD OP KEY]]; FIELD: name, ext, size (KB), "
                   "date; OP: contains, equals, greater, less; LOGIC: and, or, andnot (or the window's "
                   "words); -- before a key that starts with a dash");
    sub.footer("Exit status: 0 when something was found, 1 when nothing was, 2 for bad usage, invalid "
               "conditions or a cache that could not be read, 130 after Ctrl-C.");
    return [args] { return runSearch(*args); };
}

const bool registered = registerCommand({"search", "Search the cache", setupSearch});

} // namespace
} // namespace veltrano::cli
