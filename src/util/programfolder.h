#pragma once

#include <string>

namespace veltrano {

// The program folder: where Veltrano.inf, the history files and Cache/ live. It is the
// folder of the running executable, unless $VELTRANO_HOME names another, so that a user or a
// test can keep several setups apart. The result is a native path (UTF-8 on Linux) that
// always ends with '/'. Throws Error when the executable's folder cannot be found.
std::string programFolder();

} // namespace veltrano
