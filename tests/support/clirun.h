#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "support/tempdir.h"

namespace veltrano::test {

// The outcome of one run of a command line.
struct CliRun
{
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line and collects its exit status, standard output and standard error.
inline CliRun runCommand(const std::string &commandLine, const std::string &input = {})
{
    TempDir scratch;
    const std::string err = (scratch.path() / "err").string();
    std::string command = commandLine + " 2>'" + err + "'";
    if (!input.empty()) {
        writeFile(scratch.path() / "in", input);
        command += " <'" + (scratch.path() / "in").string() + "'";
    } else {
        command += " </dev/null";
    }
    CliRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = readFile(err);
    return run;
}

#ifdef VELTRANO_CLI
// Runs veltrano-cli with arguments that are already quoted for the shell.
inline CliRun cli(const std::string &args, const std::string &input = {})
{
    return runCommand(std::string(VELTRANO_CLI) + " " + args, input);
}
#endif

} // namespace veltrano::test
