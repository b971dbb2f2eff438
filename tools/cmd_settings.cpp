// veltrano-cli settings: the fields of a Veltrano.inf or a COMMON.INI, one name=value a line.
#include <iostream>
#include <filesystem>

#include <fmt/format.h>

#include "command.h"
#include "store/commoninfo.h"
#include "store/setupinfo.h"
#include "util/programfolder.h"

namespace veltrano::cli {
namespace {

struct SettingsArgs
{
    std::string file;
    std::string codePage;
    bool common = false;
};

void printSetupInfo(const TSetupInfo &r, const CodePage &cp)
{
    const auto text = [&cp](const std::string &bytes) { return cp.toUtf8(bytes); };
    std::cout << "Version=" << r.Version << '\n'
              << "FontName=" << text(r.FontName) << '\n'
              << "FontSize=" << r.FontSize << '\n'
              << "OnlyFolderName=" << int(r.OnlyFolderName) << '\n'
              << "ClearBeforeFind=" << int(r.ClearBeforeFind) << '\n'
              << "HitNoFind=" << int(r.HitNoFind) << '\n'
              << "HitExclusive=" << int(r.HitExclusive) << '\n'
              << "OnlyShowFolder=" << int(r.OnlyShowFolder) << '\n'
              << "HitNum=" << int(r.HitNum) << '\n'
              << "HitNumValue=" << r.HitNumValue << '\n'
              << "OnlineShow=" << int(r.OnlineShow) << '\n'
              << "ViewStyle=" << int(r.ViewStyle) << '\n'
              << "Source=" << r.Source << '\n'
              << "RemoteHost=" << text(r.RemoteHost) << '\n'
              << "RemoteUser=" << text(r.RemoteUser) << '\n'
              << "RemotePassword=" << text(r.RemotePassword) << '\n'
              << "RemotePort=" << r.RemotePort << '\n'
              << "PassiveMode=" << int(r.PassiveMode) << '\n'
              << "DownloadFolder=" << text(r.DownloadFolder) << '\n'
              << "TryCount=" << r.TryCount << '\n'
              << "TryInterval=" << fmt::format("{}", r.TryInterval) << '\n'
              << "ProgramFolder=" << text(r.ProgramFolder) << '\n';
}

void printCommonInfo(const TCommonInfo &r)
{
    std::cout << "Version=" << r.Version << '\n'
              << "Reserved=" << r.Reserved << '\n'
              << "EchoTimeout=" << r.EchoTimeout << '\n'
              << "OsCode=" << int(r.OsCode) << '\n';
}

// Tells on standard error why the fields shown are not all the file's own.
void noteDefaults(const std::filesystem::path &path, bool whole)
{
    if (whole)
        return;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        std::cerr << path.string() << ": no such file; showing the defaults\n";
    else
        std::cerr << path.string() << ": short or of another version; defaults fill the rest\n";
}

int runSettings(const SettingsArgs &args)
{
    if (args.common) {
        const std::filesystem::path path = args.file.empty() ? kCommonInfoName : args.file;
        TCommonInfo record;
        noteDefaults(path, LoadCommonInfo(record, path));
        printCommonInfo(record);
        return kExitOk;
    }
    SetupEnvironment environment = SetupEnvironment::current();
    if (!args.codePage.empty()) {
        environment.codePage = CodePage(args.codePage);
        environment.programFolder = environment.codePage.fromUtf8Lossy(programFolder());
        environment.downloadFolder = environment.codePage.fromUtf8Lossy(userDownloadFolder());
    }
    const std::filesystem::path path = args.file.empty()
        ? std::filesystem::path(programFolder()) / kSetupInfoName : std::filesystem::path(args.file);
    TSetupInfo record;
    noteDefaults(path, LoadSetupInfo(path, record, environment));
    printSetupInfo(record, environment.codePage);
    return kExitOk;
}

std::function<int()> setupSettings(CLI::App &sub)
{
    auto args = std::make_shared<SettingsArgs>();
    sub.add_option("FILE", args->file,
                   "Settings file (default: Veltrano.inf in the program folder; with --common, "
                   "COMMON.INI in the current folder)");
    sub.add_flag("--common", args->common, "Show the suite's common record (COMMON.INI) instead");
    sub.add_option("--codepage", args->codePage,
                   "Code page of the texts in the file (default: $VELTRANO_CODEPAGE, else CP950)");
    sub.footer("The fields are shown as the program loads them: a missing or foreign file gives "
               "the defaults, and ProgramFolder is the present program folder.");
    return [args] { return runSettings(*args); };
}

const bool registered =
    registerCommand({"settings", "Show the fields of a settings file (Veltrano.inf or COMMON.INI)",
                     setupSettings});

} // namespace
} // namespace veltrano::cli
