// veltrano-cli collect: writes a cache from shares read over SMB or mounted (copied) locally.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <mutex>

#include <fmt/format.h>

#include "cache/collector.h"
#include "cache/myutils.h"
#include "cliutil.h"
#include "command.h"
#include "smb/smbcollect.h"
#include "util/error.h"

namespace veltrano::cli {
namespace {

struct Args
{
    std::string cache;
    std::string codePage;
    std::string workgroup = "WORKGROUP";
    bool noResolve = false;
    std::vector<std::string> sources;
    std::vector<std::string> computers;
    std::string authFile;
    uint16_t port = 0;
    unsigned jobs = 4;
    double timeout = 15;
    bool hidden = false;
    std::string minProtocol;
};

// The cache's texts are in one code page: a cache that has one (named by its marker, or code
// page 950 for a cache without a marker, as readers take it) is written in that one, and a
// different one asked for is refused rather than mixed into it. A new cache is UTF-8.
CodePage chooseCodePage(const Args &args)
{
    std::string marker = readCodePageMarker(args.cache);
    std::error_code ec;
    if (marker.empty()
            && std::filesystem::exists(std::filesystem::path(args.cache) / kNodeListName, ec))
        marker = "CP950";
    if (args.codePage.empty())
        return CodePage(marker.empty() ? "UTF-8" : marker);
    CodePage asked(args.codePage);
    if (!marker.empty() && CodePage(marker).name() != asked.name())
        throw Error(fmt::format(
                "The cache {} is written in code page {}; collecting into it in {} would "
                "garble its names (leave out --codepage, or use another cache folder)",
                args.cache, marker, asked.name()));
    return asked;
}

std::string rate(size_t count, double seconds)
{
    return seconds > 0 ? fmt::format("{:.0f}", double(count) / seconds) : "-";
}

int runCollect(const Args &args)
{
    std::vector<ShareSpec> mounted;
    std::vector<SmbSource> smbSources;
    for (const std::string &text : args.sources) {
        if (std::optional<SmbSource> source = parseSmbSource(text))
            smbSources.push_back(*source);
        else
            mounted.push_back(parseShareSpec(text));
    }
    for (const std::string &computer : args.computers)
        if (std::optional<SmbSource> source = parseSmbSource("smb://" + computer + "/"))
            smbSources.push_back(*source);
    if (mounted.empty() && smbSources.empty())
        throw Error("Nothing to collect: give shares or --computer");

    SmbCollectOptions smb;
    if (!args.authFile.empty())
        smb.credentials = readAuthFile(args.authFile);
    smb.port = args.port;
    smb.jobs = args.jobs;
    smb.timeoutMs = int(std::lround(std::clamp(args.timeout, 0.1, 3600.0) * 1000));
    smb.hidden = args.hidden;
    smb.minProtocol = args.minProtocol;

    CollectOptions options;
    options.cacheRoot = args.cache;
    options.codePage = chooseCodePage(args);
    options.workgroup = args.workgroup;
    options.resolveAddresses = !args.noResolve;
    const bool terminal = stderrIsTerminal();
    const char *clearLine = terminal ? "\r\033[K" : "";
    std::mutex outputMutex;
    options.warn = [&](const std::string &text) {
        const std::lock_guard lock(outputMutex);
        std::cerr << clearLine << "veltrano-cli collect: " << text << '\n';
    };

    const auto started = std::chrono::steady_clock::now();
    CollectStats stats;
    size_t computers = mounted.size();
    if (!mounted.empty()) {
        if (terminal)
            options.progress = [](size_t folders, size_t entries) {
                std::cerr << fmt::format("\r{} folders, {} entries", folders, entries)
                          << std::flush;
            };
        stats += collectShares(mounted, options);
        options.progress = nullptr;
    }
    std::vector<SmbFailure> failures;
    if (!smbSources.empty()) {
        CacheTarget target(options);
        std::function<void(const SmbProgress &)> progress;
        if (terminal)
            progress = [&](const SmbProgress &p) {
                const std::lock_guard lock(outputMutex);
                std::cerr << fmt::format(
                        "\r\033[K{}/{} computers, {} folders, {} entries, {} per second",
                        p.computersDone, p.computers, p.folders, p.entries,
                        rate(p.folders + p.entries, p.seconds))
                          << std::flush;
            };
        SmbCollectReport report = collectSmb(smbSources, target, options, smb, progress);
        stats += report.stats;
        computers = report.computers;
        failures = std::move(report.failures);
    }

    const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cerr << clearLine
              << fmt::format("{} shares, {} folders, {} entries written to {} in {:.1f} s ({} "
                             "folders and "
                             "entries/s)",
                         stats.shares, stats.folders, stats.entries, args.cache, seconds,
                         rate(stats.folders + stats.entries, seconds));
    if (stats.warnings)
        std::cerr << fmt::format("; {} left out, see above", stats.warnings);
    if (stats.unwritableNames)
        std::cerr << fmt::format(" ({} names code page {} cannot hold)", stats.unwritableNames,
                options.codePage.name());
    std::cerr << '\n';
    for (const SmbFailure &failure : failures)
        std::cerr << fmt::format(
                "not read: {}: {} (the cache keeps what it had)\n", failure.source, failure.reason);
    if (!failures.empty())
        std::cerr << fmt::format("{} of the sources of {} computers could not be read\n",
                failures.size(), computers);
    return failures.empty() ? kExitOk : kExitFailure;
}

std::function<int()> setupCollect(CLI::App &sub)
{
    auto args = std::make_shared<Args>();
    sub.add_option("--cache", args->cache, "Cache folder to write (created when missing)")
            ->required();
    sub.add_option("--codepage", args->codePage,
            "Code page of the texts in the cache (default: the cache's own, else UTF-8)");
    sub.add_option("--workgroup", args->workgroup, "Workgroup the computers belong to")
            ->capture_default_str();
    sub.add_flag("--no-resolve", args->noResolve, "Do not look up the computers' addresses");
    sub.add_option("--computer", args->computers,
               "Collect every disk share of this computer (repeatable)")
            ->allow_extra_args(false);
    sub.add_option("--auth-file", args->authFile,
            "Credentials file with username=, password= and domain= lines (default: guest)");
    sub.add_option("--port", args->port, "TCP port of the SMB servers (default: 445, then 139)");
    sub.add_option("--jobs", args->jobs, "Shares read at once")
            ->capture_default_str()
            ->check(CLI::Range(1, 64));
    sub.add_option("--timeout", args->timeout, "Seconds to wait for a computer's answer")
            ->capture_default_str()
            ->check(CLI::Range(0.1, 3600.0));
    sub.add_flag("--hidden", args->hidden, "Also collect shares whose names end in $");
    sub.add_option("--min-protocol", args->minProtocol,
            "Oldest SMB dialect to speak: NT1 for SMB1 servers (Windows 2000 and older)");
    sub.add_option("SOURCE", args->sources,
            "smb://COMPUTER/share, \\\\COMPUTER\\share, smb://COMPUTER/ (every share), or a "
            "mounted "
            "share \\\\COMPUTER\\share=/local/folder");
    sub.footer("Examples:\n"
               "  veltrano-cli collect --cache ./Cache smb://PC1/docs --computer PC2 --auth-file "
               "~/.smbcred\n"
               "  veltrano-cli collect --cache ./Cache '\\\\PC1\\doc=/usr/share/doc'\n"
               "A source that cannot be read keeps what the cache held for it. Exit status: 0 when "
               "every\n"
               "source was read, 1 when one was not (or on an error), 2 on a usage error.");
    return [args] {
        return runCollect(*args);
    };
}

const bool registered = registerCommand(
        {"collect", "Write a cache from shares read over SMB or mounted locally", setupCollect});

} // namespace
} // namespace veltrano::cli
