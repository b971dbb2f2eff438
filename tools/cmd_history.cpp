// veltrano-cli history: the search history and the recent key texts, as the window loads them.
#include <iostream>
#include <filesystem>

#include "command.h"
#include "res/uilanguage.h"
#include "store/searchhistory.h"
#include "util/error.h"
#include "util/programfolder.h"

namespace veltrano::cli {
namespace {

struct HistoryArgs
{
    std::string folder;
    std::string codePage;
};

int runHistory(const HistoryArgs &args)
{
    const CodePage cp = args.codePage.empty() ? CodePage::programDefault() : CodePage(args.codePage);
    const std::filesystem::path folder = args.folder.empty() ? programFolder() : args.folder;

    int status = kExitOk;
    SearchHistory history;
    try {
        loadSearchHistory(history, folder, cp);
    } catch (const Error &e) {
        std::cerr << (uiLanguage() == UiLanguage::English ? "Could not read the history: " : kHistoryReadFailed)
                  << e.what() << '\n';
        status = kExitFailure;
    }
    for (const HistoryEntry &entry : history.entries) {
        std::cout << cp.toUtf8(entry.DateTime) << '\t' << cp.toUtf8(entry.Cond1) << '\t'
                  << cp.toUtf8(entry.Cond2) << '\t' << cp.toUtf8(entry.Cond3) << '\t'
                  << cp.toUtf8(entry.Command) << '\n';
    }

    loadRecentTexts(history, folder);
    for (size_t row = 0; row < kConditionRows; ++row) {
        std::cout << recentTextsFileName(row) << '\n';
        for (const std::string &text : history.recentTexts[row])
            std::cout << '\t' << cp.toUtf8(text) << '\n';
    }
    return status;
}

std::function<int()> setupHistory(CLI::App &sub)
{
    auto args = std::make_shared<HistoryArgs>();
    sub.add_option("FOLDER", args->folder,
                   "Folder of SEARCH.HIS and TEXT1.HIS to TEXT3.HIS (default: the program folder)");
    sub.add_option("--codepage", args->codePage,
                   "Code page of the history files (default: $VELTRANO_CODEPAGE, else CP950)");
    sub.footer("Prints one line per history row (DATETIME, COND1, COND2, COND3, COMMAND, "
               "tab-separated), then each recent-text list: its file name, then one tab-indented "
               "text a line, newest first.");
    return [args] { return runHistory(*args); };
}

const bool registered = registerCommand(
    {"history", "Show the search history and the recent key texts", setupHistory});

} // namespace
} // namespace veltrano::cli
