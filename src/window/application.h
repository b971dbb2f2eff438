#pragma once

#include <QApplication>

#include "res/uilanguage.h"

namespace veltrano {

// The program's application object. It is the last stop for a failure that a handler did not
// catch: instead of ending the program, the failure's text is shown in an error box and the
// window goes on. It also makes Qt's own dialogs and buttons speak the window's language.
class TApplication : public QApplication
{
    Q_OBJECT

public:
    TApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

// Loads Qt's Traditional Chinese texts for its standard dialogs and buttons (OK, Cancel, Yes,
// No), when they are installed. Returns whether they were found.
bool loadQtTranslations(QCoreApplication &app);

// Makes the program speak `language`: the string table, the windows' texts (English from the
// translations built into the program, over the Chinese they are written in) and Qt's own
// dialogs. Returns whether every text needed was found; the program runs either way.
bool applyUiLanguage(QCoreApplication &app, UiLanguage language);

} // namespace veltrano
