// The search history files: a row's recent key texts (TEXTn.HIS) and the list of past searches
// (SEARCH.HIS), read as the window reads them at start, every entry then recalled into the
// condition rows and its command parsed. Lists written and read again must stay as they are.
// Input: TEXT1.HIS and SEARCH.HIS, cut at the part marker.

#include <cstdint>

#include "fuzzsupport.h"
#include "store/searchhistory.h"
#include "store/searchrequest.h"
#include "util/error.h"

using namespace veltrano;
using namespace veltrano::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto parts = splitParts<2>(asText(data, size));
    Scratch &scratch = Scratch::instance();
    scratch.reset();
    scratch.write(recentTextsFileName(0), parts[0]);
    scratch.write(kSearchHistoryName, parts[1]);

    SearchHistory history;
    try {
        loadRecentTexts(history, scratch.folder());
        loadSearchHistory(history, scratch.folder(), bigFive());
    } catch (const Error &) {
        return 0;
    }

    for (int i = 0; i < int(history.entries.size()); ++i) {
        require(recallEntry(history, i, bigFive()).has_value(), "every entry can be recalled");
        try {
            conditionsFromCommand(bigFive().toUtf8(history.entries[size_t(i)].Command));
        } catch (const Error &) { }
    }
    require(!recallEntry(history, int(history.entries.size()), bigFive()), "no entry past the end");

    // The window holds the lists in UTF-8 and converts them back before writing.
    const SearchHistory typed = historyToUtf8(history, bigFive());
    (void)historyFromUtf8(typed, bigFive());

    const auto texts = recentTextsFromBytes(recentTextsToBytes(history.recentTexts[0]));
    require(recentTextsFromBytes(recentTextsToBytes(texts)) == texts, "recent texts keep");
    const auto entries =
            searchHistoryFromBytes(searchHistoryToBytes(history.entries, bigFive()), bigFive());
    require(searchHistoryFromBytes(searchHistoryToBytes(entries, bigFive()), bigFive()) == entries,
            "history entries keep");
    return 0;
}
