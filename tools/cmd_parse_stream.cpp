// veltrano-cli parse-stream: reads a captured result stream of the search server the way the
// transfer window does, chunk by chunk, and prints what it would list.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include <fmt/format.h>

#include "command.h"
#include "protocol/findstream.h"
#include "util/datetime.h"
#include "util/error.h"

namespace veltrano::cli {
namespace {

std::string readInput(const std::string &file)
{
    if (file.empty() || file == "-") {
        return std::string(
                (std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    }
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw Error("Cannot open " + file);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw Error("Cannot read " + file);
    return bytes;
}

bool onlyBlanks(std::string_view bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) > ' ')
            return false;
    return true;
}

std::function<int()> setupParseStream(CLI::App &sub)
{
    struct Args
    {
        std::string file;
        size_t chunk = 2048;
        std::string codePage;
    };
    auto args = std::make_shared<Args>();
    sub.add_option("FILE", args->file, "The captured stream (standard input when not given or -)");
    sub.add_option(
               "--chunk", args->chunk, "Bytes handed over at a time, as the data connection would")
            ->check(CLI::Range(size_t(1), size_t(1) << 30))
            ->capture_default_str();
    sub.add_option("--codepage", args->codePage,
            "Code page of the stream (default: the program's, $VELTRANO_CODEPAGE or CP950)");

    return [args] {
        const CodePage cp =
                args->codePage.empty() ? CodePage::programDefault() : CodePage(args->codePage);
        const std::string bytes = readInput(args->file);

        FindStream stream(cp);
        bool failed = false;
        stream.setResultsHandler([&] {
            for (const TItemData &item : stream.results())
                std::cout << fmt::format("{}\t{}\t{}\t{}\n", cp.toUtf8(item.name()), item.Size,
                        item.Attr, formatDateTime(item.Time));
            std::cout << fmt::format(
                    "found files={} folders={}\n", stream.foundFiles(), stream.foundFolders());
            std::cout.flush();
            if (!stream.lastError().empty()) {
                std::cerr << stream.lastError() << '\n';
                failed = true;
            }
        });
        stream.start();
        for (size_t at = 0; at < bytes.size(); at += args->chunk)
            stream.feed(std::string_view(bytes).substr(at, args->chunk));

        const size_t pending = stream.pendingBytes();
        if (pending && !onlyBlanks(std::string_view(bytes).substr(bytes.size() - pending))) {
            std::cerr << fmt::format(
                    "{} bytes after the last end marker ?E were not parsed\n", pending);
            failed = true;
        }
        return failed ? kExitFailure : kExitOk;
    };
}

const bool registered = registerCommand({"parse-stream",
        "Parse a captured search result stream as the transfer window does", setupParseStream});

} // namespace
} // namespace veltrano::cli
