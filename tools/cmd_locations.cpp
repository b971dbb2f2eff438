// veltrano-cli locations: the search locations as the window's location box lists them.
#include <iostream>

#include "cliutil.h"
#include "command.h"
#include "cache/myutils.h"

namespace veltrano::cli {
namespace {

std::function<int()> setupLocations(CLI::App &sub)
{
    auto cache = std::make_shared<std::string>();
    auto codePage = std::make_shared<std::string>();
    sub.add_option("--cache", *cache, "Cache folder (default: the program folder's Cache)");
    sub.add_option("--codepage", *codePage, "Code page of the cache (default: its CODEPAGE marker)");

    return [cache, codePage] {
        const std::filesystem::path root = cache->empty() ? defaultCacheRoot() : std::filesystem::path(*cache);
        const CodePage cp = CodePage::forCache(root, *codePage);
        for (const std::string &entry : buildLocationList(root, cp))
            std::cout << entry << '\n';
        return kExitOk;
    };
}

const bool registered = registerCommand({"locations", "List the search locations of a cache", setupLocations});

} // namespace
} // namespace veltrano::cli
