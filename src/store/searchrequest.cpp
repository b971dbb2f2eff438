#include "store/searchrequest.h"

#include <fmt/format.h>

#include "cache/myutils.h"
#include "search/nodescan.h"
#include "store/searchhistory.h"
#include "util/error.h"

namespace veltrano {
namespace {

template <size_t N>
std::string_view wordOf(const std::array<std::string_view, N> &words, int32_t value)
{
    return value >= 0 && size_t(value) < N ? words[size_t(value)] : std::string_view();
}

template <typename T>
T require(std::optional<T> value, std::string_view what, std::string_view word)
{
    if (!value)
        throw Error(fmt::format("Not a {} of a search command: \"{}\"", what, word));
    return *value;
}

} // namespace

SearchOptions searchOptionsOf(const TSetupInfo &settings)
{
    SearchOptions result;
    if (settings.OnlyShowFolder)
        result.Options |= soOnlyShowFolder;
    if (settings.HitNum) {
        result.Options |= soHitNum;
        result.MinHits = settings.HitNumValue;
    }
    if (settings.HitNoFind)
        result.Options |= soHitNoFind;
    if (settings.HitExclusive)
        result.Options |= soHitExclusive;
    if (settings.OnlyFolderName)
        result.Options |= soOnlyFolderName;
    return result;
}

std::string searchStartFolder(const std::filesystem::path &cacheRoot, std::string_view entry)
{
    return startFolderOf(cacheRoot, entry);
}

std::string searchCommandText(const TCompInfos &conds)
{
    ConditionRowTexts rows;
    for (size_t row = 0; row < conds.size() && row < rows.size(); ++row) {
        rows[row].logic = std::string(wordOf(kCompLogicWords, conds[row].Logic));
        rows[row].field = std::string(wordOf(kCompFieldWords, conds[row].Field));
        rows[row].op = std::string(wordOf(kCompOpWords, conds[row].Op));
        rows[row].text = conds[row].Text;
    }
    return buildCommand(rows);
}

TCompInfos conditionsFromCommand(std::string_view command)
{
    static const CodePage utf8("UTF-8");
    const std::array<std::string, 11> e = splitCommand(command, utf8);
    if (e[10].find_first_of(";,") != std::string::npos)
        throw Error(fmt::format("A search command has eleven elements: \"{}\"", command));
    TCompInfos conds;
    conds[0].Logic = clAnd;
    conds[0].Field = require(fieldFromWord(e[0]), "field", e[0]);
    conds[0].Op = require(opFromWord(e[1]), "operator", e[1]);
    conds[0].Text = e[2];
    for (size_t row = 1; row < conds.size(); ++row) {
        const size_t first = 3 + (row - 1) * 4;
        conds[row].Logic = require(logicFromWord(e[first]), "logic word", e[first]);
        conds[row].Field = require(fieldFromWord(e[first + 1]), "field", e[first + 1]);
        conds[row].Op = require(opFromWord(e[first + 2]), "operator", e[first + 2]);
        conds[row].Text = e[first + 3];
    }
    return conds;
}

std::string remoteSearchArgument(std::string_view command, const SearchOptions &options)
{
    return fmt::format("{};{},{};", command, options.Options, options.MinHits);
}

} // namespace veltrano
