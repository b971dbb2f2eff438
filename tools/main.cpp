#include <clocale>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

#include "command.h"
#include "res/uilanguage.h"
#include "util/error.h"

namespace veltrano::cli {

std::vector<Command> &commands()
{
    static std::vector<Command> registry;
    return registry;
}

bool registerCommand(Command command)
{
    commands().push_back(std::move(command));
    return true;
}

} // namespace veltrano::cli

int main(int argc, char **argv)
{
    using namespace veltrano::cli;
    std::setlocale(LC_ALL, "");

    CLI::App app {"Veltrano: find files in the network cache, on the command line."};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Show the help of every subcommand");
    // Messages follow the user's language; what programs read (TSV, JSON, saved files, streams)
    // never changes with it.
    std::string lang;
    app.add_option("--lang", lang,
               "Language of messages: en or zh_TW (default: $VELTRANO_LANG, else the locale's: "
               "English for en_*, Traditional Chinese otherwise)")
            ->check([](const std::string &value) {
                return veltrano::languageOfName(value) ? std::string()
                                                       : "--lang takes en or zh_TW, not " + value;
            });
    // Accepted after the subcommand too.
    app.fallthrough();

    std::function<int()> run;
    for (Command &command : commands()) {
        CLI::App *sub = app.add_subcommand(command.name, command.description);
        std::function<int()> runner = command.setup(*sub);
        sub->callback([&run, runner] { run = runner; });
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return kExitUsage;
    }

    // Unset or checked above, so there is always a choice.
    veltrano::setUiLanguage(
            veltrano::chooseUiLanguage(lang).value_or(veltrano::UiLanguage::TraditionalChinese));

    try {
        return run ? run() : kExitUsage;
    } catch (const veltrano::Error &e) {
        std::cerr << e.what() << '\n';
        return kExitFailure;
    } catch (const std::bad_alloc &) {
        std::cerr << "Out of memory\n";
        return kExitUsage;
    } catch (const std::exception &e) {
        // A fault of ours or of the system's, not of the user's input: say what it was rather
        // than end with a bare abort.
        std::cerr << "Error: " << e.what() << '\n';
        return kExitUsage;
    }
}
