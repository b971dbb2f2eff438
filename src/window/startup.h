#pragma once

#include <functional>

class QApplication;

namespace veltrano {

class TMainForm;

// The program's run, start to end: the program folder, the title, Veltrano.inf and COMMON.INI
// read, the main window created, filled and shown, the event loop, and both records written
// back once the window has closed. `shown` is called with the window once it shows (tests
// drive the window through it). Returns the event loop's exit status.
int runProgram(QApplication &app, const std::function<void(TMainForm &)> &shown = {});

// Picks an installed freedesktop icon theme when the session names none, so that file types
// get their icons outside a desktop session.
void chooseIconTheme();

} // namespace veltrano
