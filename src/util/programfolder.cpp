#include "util/programfolder.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

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

} // namespace

std::string programFolder()
{
    const char *home = std::getenv("VELTRANO_HOME");
    if (home && *home)
        return withSlash(home);

    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        throw Error("/proc/self/exe: " + ErrorText(ec.value()));
    return withSlash(exe.parent_path().string());
}

} // namespace veltrano
