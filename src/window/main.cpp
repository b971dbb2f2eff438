// The veltrano program: the search window over the cache in the program folder.
//
//   VELTRANO_HOME      the program folder (Veltrano.inf, the history files, Cache/); default:
//                      the executable's folder
//   VELTRANO_CODEPAGE  the code page of the program's own files; default CP950
//
// COMMON.INI is read from and written to the current folder.

#include <cstdio>
#include <exception>

#include <QApplication>
#include <QDir>
#include <QIcon>

#include "engine/commoninfo.h"
#include "engine/setupinfo.h"
#include "util/programfolder.h"
#include "util/sysinfo.h"
#include "widgets/msgbox.h"
#include "window/mainform.h"

namespace {

// Without a desktop session Qt knows no icon theme; the freedesktop one gives the type icons.
void chooseIconTheme()
{
    if (!QIcon::themeName().isEmpty() && QIcon::themeName() != QStringLiteral("hicolor"))
        return;
    for (const char *theme : {"Adwaita", "breeze", "gnome"}) {
        if (QDir(QStringLiteral("/usr/share/icons/") + QString::fromLatin1(theme)).exists()) {
            QIcon::setThemeName(QString::fromLatin1(theme));
            return;
        }
    }
}

int run(QApplication &app)
{
    using namespace veltrano;
    const SetupEnvironment environment = SetupEnvironment::current();
    const std::string folder = programFolder();
    QApplication::setApplicationName(QStringLiteral("Veltrano"));
    QApplication::setApplicationDisplayName(QStringLiteral("Veltrano"));
    // The help file's name; F1 has nothing to open until such a file is placed beside us.
    app.setProperty("helpFile", QStringLiteral("Kelvarn.hlp"));

    TSetupInfo setup;
    const std::string setupPath = folder + kSetupInfoName;
    LoadSetupInfo(setupPath, setup, environment);
    uint8_t osCode = 0;
    GetOSType(osCode);
    TCommonInfo common;
    LoadCommonInfo(common, osCode);

    int status = 0;
    {
        TMainForm form(setup, common, folder);
        form.FormCreate();
        form.show();
        status = app.exec();
    }
    SaveSetupInfo(setupPath, setup, environment.codePage);
    SaveCommonInfo(common);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    chooseIconTheme();
    try {
        return run(app);
    } catch (const std::exception &error) {
        // Start-up failed before the window could show anything.
        veltrano::MsgBox(nullptr, error.what(), veltrano::mkError);
        std::fprintf(stderr, "veltrano: %s\n", error.what());
        return 1;
    }
}
