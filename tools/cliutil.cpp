#include "cliutil.h"

#include <unistd.h>

#include <fmt/format.h>

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

std::string escapeField(const std::string &utf8, bool backslash)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F in UTF-8.
        const bool c1 = c == 0xC2 && i + 1 < utf8.size()
                && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F
                && static_cast<unsigned char>(utf8[i + 1]) >= 0x80;
        if (c == '\\' && backslash)
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7F)
            out += fmt::format("\\x{:02x}", c);
        else if (c1)
            out += fmt::format("\\u{:04x}", static_cast<unsigned char>(utf8[++i]));
        else
            out += utf8[i];
    }
    return out;
}

} // namespace veltrano::cli
