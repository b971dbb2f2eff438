// veltrano-cli collect: writes a cache from shares that are mounted or copied locally.
#include <cstdio>
#include <iostream>

#include <fmt/format.h>

#include "cliutil.h"
#include "command.h"
#include "cache/collector.h"

namespace veltrano::cli {
namespace {

std::function<int()> setupCollect(CLI::App &sub)
{
    struct Args
    {
        std::string cache;
        std::string codePage = "UTF-8";
        std::string workgroup = "WORKGROUP";
        bool noResolve = false;
        std::vector<std::string> shares;
    };
    auto args = std::make_shared<Args>();
    sub.add_option("--cache", args->cache, "Cache folder to write (created when missing)")->required();
    sub.add_option("--codepage", args->codePage, "Code page of the texts in the cache")
            ->capture_default_str();
    sub.add_option("--workgroup", args->workgroup, "Workgroup the computers belong to")
            ->capture_default_str();
    sub.add_flag("--no-resolve", args->noResolve, "Do not look up the computers' addresses");
    sub.add_option("SHARE", args->shares, "\\\\COMPUTER\\share=/local/folder")->required();
    sub.footer("Example: veltrano-cli collect --cache ./Cache '\\\\PC1\\doc=/usr/share/doc'");

    return [args] {
        std::vector<ShareSpec> shares;
        for (const std::string &text : args->shares)
            shares.push_back(parseShareSpec(text));

        CollectOptions options;
        options.cacheRoot = args->cache;
        options.codePage = CodePage(args->codePage);
        options.workgroup = args->workgroup;
        options.resolveAddresses = !args->noResolve;
        const bool terminal = stderrIsTerminal();
        options.warn = [terminal](const std::string &text) {
            std::cerr << (terminal ? "\r\033[K" : "") << "veltrano-cli collect: " << text << '\n';
        };
        if (terminal)
            options.progress = [](size_t folders, size_t entries) {
                std::cerr << fmt::format("\r{} folders, {} entries", folders, entries) << std::flush;
            };

        const CollectStats stats = collectShares(shares, options);
        if (terminal)
            std::cerr << "\r\033[K";
        std::cerr << fmt::format("{} shares, {} folders, {} entries written to {}{}\n", stats.shares,
                                 stats.folders, stats.entries, args->cache,
                                 stats.warnings ? fmt::format(" ({} left out, see above)", stats.warnings)
                                                : std::string());
        return kExitOk;
    };
}

const bool registered = registerCommand(
        {"collect", "Write a cache from shares mounted or copied locally", setupCollect});

} // namespace
} // namespace veltrano::cli
