#include "window/startup.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

#include "store/commoninfo.h"
#include "store/setupinfo.h"
#include "util/programfolder.h"
#include "util/sysinfo.h"
#include "window/application.h"
#include "window/mainform.h"

namespace veltrano {

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

int runProgram(QApplication &app, const std::function<void(TMainForm &)> &shown)
{
    const std::string folder = programFolder();
    const SetupEnvironment environment = SetupEnvironment::current();
    applyUiLanguage(app, uiLanguage());
    QApplication::setApplicationName(QStringLiteral("Veltrano"));
    QApplication::setApplicationDisplayName(QStringLiteral("Veltrano"));
    // Only the help file's name is ours; F1 has nothing to open until one is placed beside us.
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
        if (shown)
            shown(form);
        status = app.exec();
    }
    // Results are not looked at: a settings file that cannot be written is lost silently.
    SaveSetupInfo(setupPath, setup, environment.codePage);
    SaveCommonInfo(common);
    return status;
}

} // namespace veltrano
