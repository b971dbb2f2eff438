#include "cliutil.h"

#include <unistd.h>

#include "util/programfolder.h"

namespace veltrano::cli {

std::filesystem::path defaultCacheRoot()
{
    return std::filesystem::path(programFolder()) / "Cache";
}

CodePage codePageAbove(const std::filesystem::path &folder, std::string_view override)
{
    if (!override.empty())
        return CodePage(override);
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::weakly_canonical(folder, ec);
    if (ec)
        dir = folder;
    while (true) {
        const std::string marker = readCodePageMarker(dir);
        if (!marker.empty())
            return CodePage(marker);
        if (!dir.has_parent_path() || dir.parent_path() == dir)
            break;
        dir = dir.parent_path();
    }
    return CodePage("CP950");
}

bool stderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

} // namespace veltrano::cli
