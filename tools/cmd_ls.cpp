// veltrano-cli ls: one cached folder of a node, as the content hint lists it.
#include <iostream>

#include <fmt/format.h>

#include "cliutil.h"
#include "command.h"
#include "cache/myutils.h"
#include "util/datetime.h"
#include "util/error.h"

namespace veltrano::cli {
namespace {

std::function<int()> setupLs(CLI::App &sub)
{
    struct Args
    {
        std::string node;
        std::string path;
        std::string codePage;
    };
    auto args = std::make_shared<Args>();
    sub.add_option("NODE", args->node, "The node: its cache folder + cache name, as a search reports it")
            ->required();
    sub.add_option("PATH", args->path, "The folder's path as stored, e.g. \\\\PC1\\doc\\sub\\")->required();
    sub.add_option("--codepage", args->codePage, "Code page of the cache (default: its CODEPAGE marker)");

    return [args] {
        const size_t slash = args->node.rfind('/');
        const std::string folder = slash == std::string::npos ? "./" : args->node.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? args->node : args->node.substr(slash + 1);
        const CodePage cp = codePageAbove(folder, args->codePage);
        const std::optional<std::string> path = cp.fromUtf8(args->path);
        const std::optional<std::string> cacheName = cp.fromUtf8(name);
        if (!path || !cacheName)
            throw Error("The text cannot be written in code page " + cp.name());

        TItemList items;
        ListCacheDir(items, folder, *cacheName, *path, cp);
        for (const TItemData &item : items)
            std::cout << fmt::format("{}\t{}\t{}\t{}\n", cp.toUtf8(item.name()), item.Size, item.Attr,
                                     formatDateTime(item.Time));
        return kExitOk;
    };
}

const bool registered = registerCommand({"ls", "List one cached folder of a node", setupLs});

} // namespace
} // namespace veltrano::cli
