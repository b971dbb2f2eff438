#pragma once

#include <filesystem>
#include <string>

namespace veltrano {

// The desktop entry's file name. An installed copy of the program is recognised by it lying in
// <prefix>/share/applications beside the <prefix>/bin that holds the executable.
inline constexpr const char *kDesktopEntryName = "org.calderwick.Veltrano.desktop";

// The program folder: where Veltrano.inf, the history files and Cache/ live. The result is a
// native path (UTF-8 on Linux) that always ends with '/'. In order:
// - $VELTRANO_HOME when it is set, so that a user or a test can keep several setups apart;
// - the executable's folder when it already holds Veltrano.inf, so that a copy of the program
//   carried around with its settings keeps them;
// - for an installed program, the user's data folder ($XDG_DATA_HOME/veltrano/, else
//   ~/.local/share/veltrano/), created when missing, because the executable's folder (/usr/bin)
//   is shared by all users and not theirs to write;
// - else the executable's folder.
// Throws Error when the executable's folder cannot be found or the data folder not created.
std::string programFolder();

// The same choice for an executable that lies in exeFolder, with $VELTRANO_HOME ignored.
std::string programFolderBeside(const std::filesystem::path &exeFolder);

// Whether the program in exeFolder is an installed one: the folder is not writable to this
// user, or the desktop entry lies at ../share/applications (an install, also to another prefix).
bool isInstalledFolder(const std::filesystem::path &exeFolder);

// $XDG_DATA_HOME/veltrano/ (only an absolute $XDG_DATA_HOME counts), else
// $HOME/.local/share/veltrano/, ending with '/'. Not created here.
std::string userDataFolder();

} // namespace veltrano
