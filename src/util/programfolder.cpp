#include "util/programfolder.h"

#include <cstdlib>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

#include "util/error.h"
#include "util/resstr.h"

namespace veltrano {

namespace {

std::string withSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string homeFolder()
{
    const char *home = std::getenv("HOME");
    if (home && *home)
        return home;
    // A service started without a login environment still has an entry in the password file.
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir && *entry->pw_dir)
        return entry->pw_dir;
    throw Error("HOME is not set and the user has no home folder");
}

} // namespace

std::string userDataFolder()
{
    const char *data = std::getenv("XDG_DATA_HOME");
    // Relative values are to be ignored: they would move with the current folder.
    if (data && data[0] == '/')
        return withSlash(data) + "veltrano/";
    return withSlash(homeFolder()) + ".local/share/veltrano/";
}

bool isInstalledFolder(const std::filesystem::path &exeFolder)
{
    if (access(exeFolder.c_str(), W_OK) != 0)
        return true;
    std::error_code ec;
    return std::filesystem::is_regular_file(
            exeFolder.parent_path() / "share/applications" / kDesktopEntryName, ec);
}

std::string programFolderBeside(const std::filesystem::path &exeFolder)
{
    std::error_code ec;
    if (std::filesystem::exists(exeFolder / "Veltrano.inf", ec) || !isInstalledFolder(exeFolder))
        return withSlash(exeFolder.string());

    const std::string data = userDataFolder();
    const bool created = std::filesystem::create_directories(data, ec);
    if (ec)
        throw Error(data + ": " + ErrorText(ec.value()));
    // Veltrano.inf holds the remote password: a folder made for it is the user's alone.
    if (created)
        std::filesystem::permissions(data, std::filesystem::perms::owner_all, ec);
    return data;
}

std::string programFolder()
{
    const char *home = std::getenv("VELTRANO_HOME");
    if (home && *home)
        return withSlash(home);

    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        throw Error("/proc/self/exe: " + ErrorText(ec.value()));
    return programFolderBeside(exe.parent_path());
}

} // namespace veltrano
