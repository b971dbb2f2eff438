#include "cliutil.h"

#include <unistd.h>

#include <QCoreApplication>

#include <fmt/format.h>

#include "util/error.h"
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

TCompInfos conditionsFromArgs(const std::vector<std::string> &args)
{
    if (args.size() != 3 && args.size() != 7 && args.size() != 11)
        throw Error("A search takes FIELD OP KEY, then up to two more LOGIC FIELD OP KEY");
    const auto word = [](auto parsed, std::string_view what, const std::string &text) {
        if (!parsed)
            throw Error(fmt::format("Not a {}: \"{}\"", what, text));
        return *parsed;
    };
    TCompInfos conds;
    conds[1] = TCompInfo {clNone, cfSize, coGreater, {}, 0, 0};
    conds[2] = TCompInfo {clNone, cfDate, coGreater, {}, 0, 0};
    for (size_t row = 0, at = 0; at < args.size(); ++row) {
        TCompInfo &cond = conds[row];
        if (row == 0) {
            cond.Logic = clAnd;
        } else {
            cond.Logic = word(logicFromWord(args[at]), "logic word (and, or, andnot, 且, 或, 且否)", args[at]);
            ++at;
        }
        cond.Field = word(fieldFromWord(args[at]), "field (name, ext, size, date, 檔名, 副檔名, 檔案大小, 修改日期)", args[at]);
        cond.Op = word(opFromWord(args[at + 1]), "operator (contains, equals, greater, less, 包含, 等於, 大於, 小於)", args[at + 1]);
        cond.Text = args[at + 2];
        at += 3;
    }
    return conds;
}

std::unique_ptr<QCoreApplication> ensureCoreApplication()
{
    static int argc = 1;
    static char name[] = "veltrano-cli";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return nullptr;
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace veltrano::cli
