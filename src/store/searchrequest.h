#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "search/compare.h"
#include "store/setupinfo.h"

namespace veltrano {

// The steps of starting a search that need no window: where the walk starts, the option bits
// and minimum hits taken from the settings, and the search command text that the history
// records and the search server receives. The window and the command line share them.

// The option bits and the minimum number of hits per folder handed to the worker.
struct SearchOptions
{
    int32_t Options = 0;
    int32_t MinHits = 0; // 0 unless soHitNum is set
};

// From the settings (not from the check boxes): OnlyShowFolder, HitNum with HitNumValue,
// HitNoFind, HitExclusive, OnlyFolderName. ClearBeforeFind and OnlineShow are not search
// options.
SearchOptions searchOptionsOf(const TSetupInfo &settings);

// The cache folder where a search of the location entry (UTF-8, as the location list shows
// it) starts: the cache root for the first entry, 所有快取資料; otherwise the cache root + the
// entry without its surrounding blanks, each '\' a folder step.
std::string searchStartFolder(const std::filesystem::path &cacheRoot, std::string_view entry);

// The search command (UTF-8): the displayed words and key texts of the three rows,
//   Field1,Op1,Text1;Logic2,Field2,Op2,Text2;Logic3,Field3,Op3,Text3
// rows 2 and 3 included whatever their logic. A value outside its list gives an empty word.
std::string searchCommandText(const TCompInfos &conds);

// The rows a search command names; row 1's Logic is clAnd. The words may also be the English
// names that fieldFromWord, opFromWord and logicFromWord accept. Throws Error naming the first
// element that is not a word of its list, or when the text holds more than eleven elements.
TCompInfos conditionsFromCommand(std::string_view command);

// The argument of a remote search: command ";" options "," minimum hits ";" in decimal.
std::string remoteSearchArgument(std::string_view command, const SearchOptions &options);

} // namespace veltrano
