// The veltrano program: the search window over the cache in the program folder.
//
//   VELTRANO_HOME      the program folder (Veltrano.inf, the history files, Cache/); default:
//                      the executable's folder
//   VELTRANO_CODEPAGE  the code page of the program's own files; default CP950
//
// COMMON.INI is read from and written to the current folder.

#include <cstdio>
#include <exception>

#include "widgets/msgbox.h"
#include "window/application.h"
#include "window/startup.h"

int main(int argc, char **argv)
{
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
