// The veltrano program: the search window over the cache in the program folder.
//
//   --lang en|zh_TW    the language of the window; default: the locale's (English for en_*,
//                      Traditional Chinese otherwise), or $VELTRANO_LANG
//   VELTRANO_HOME      the program folder (Veltrano.inf, the history files, Cache/); default:
//                      the executable's folder
//   VELTRANO_CODEPAGE  the code page of the program's own files; default CP950
//
// COMMON.INI is read from and written to the current folder.

#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

#include "res/uilanguage.h"
#include "widgets/msgbox.h"
#include "window/application.h"
#include "window/startup.h"

namespace {

constexpr const char *kUsage =
        "Usage: veltrano [--lang en|zh_TW] [Qt options]\n"
        "Opens the Veltrano search window over the cache in the program folder.\n"
        "\n"
        "  --lang LANG   speak English (en) or Traditional Chinese (zh_TW); by default the\n"
        "                language of $VELTRANO_LANG, else of the locale (LC_ALL, LC_MESSAGES,\n"
        "                LANG): English for en_*, Traditional Chinese otherwise\n"
        "  -h, --help    show this help\n"
        "\n"
        "Environment: VELTRANO_HOME (the program folder), VELTRANO_CODEPAGE (the code page of\n"
        "the program's own files), VELTRANO_LANG (the language).\n";

// The value of --lang: nothing when absent; `bad` is set when it is given without one.
std::string_view langOption(int argc, char **argv, bool &bad)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.starts_with("--lang="))
            return arg.substr(7);
        if (arg == "--lang") {
            if (i + 1 < argc)
                return argv[i + 1];
            bad = true;
        }
    }
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    bool missing = false;
    const std::string_view option = langOption(argc, argv, missing);
    const std::optional<veltrano::UiLanguage> language = veltrano::chooseUiLanguage(option);
    if (missing || !language) {
        std::fprintf(stderr, "veltrano: --lang takes en or zh_TW%s%.*s\n", missing ? "" : ", not ",
                int(option.size()), option.data());
        return 2;
    }
    veltrano::setUiLanguage(*language);

    veltrano::TApplication app(argc, argv);
    veltrano::chooseIconTheme();
    try {
        return veltrano::runProgram(app);
    } catch (const std::exception &error) {
        // Start-up failed before the window could show anything.
        std::fprintf(stderr, "veltrano: %s\n", error.what());
        veltrano::MsgBox(nullptr, error.what(), veltrano::mkError);
        return 1;
    }
}
