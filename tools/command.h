#pragma once

#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace veltrano::cli {

// Exit statuses shared by the subcommands (as grep has them for search).
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A subcommand adds its options to `sub` and returns the function that runs it; that function
// returns the exit status. Errors thrown as veltrano::Error are printed by main with status 1.
using CommandSetup = std::function<std::function<int()>(CLI::App &sub)>;

struct Command
{
    std::string name;
    std::string description;
    CommandSetup setup;
};

// Each subcommand's file registers itself at start-up:
//   static const bool registered = registerCommand({"ls", "List one cached folder", setupLs});
bool registerCommand(Command command);
std::vector<Command> &commands();

} // namespace veltrano::cli
