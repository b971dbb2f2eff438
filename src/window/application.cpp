#include "window/application.h"

#include <cstdio>
#include <exception>

#include <QLibraryInfo>
#include <QTranslator>

#include "widgets/msgbox.h"

namespace veltrano {
namespace {

void showUncaught(const char *text)
{
    std::fprintf(stderr, "veltrano: %s\n", text);
    try {
        MsgBox(QApplication::activeWindow(), text, mkError);
    } catch (...) {
        // The box itself failed; the text went to standard error.
    }
}

} // namespace

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{ }

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        showUncaught(error.what());
    } catch (...) {
        showUncaught("內部錯誤");
    }
    return false;
}

bool loadQtTranslations(QCoreApplication &app)
{
    const QString name = QStringLiteral("qtbase_zh_TW");
    if (app.findChild<QTranslator *>(name, Qt::FindDirectChildrenOnly))
        return true;
    auto *translator = new QTranslator(&app);
    translator->setObjectName(name);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (translator->load(name, folder)) {
        QCoreApplication::installTranslator(translator);
        return true;
    }
    delete translator;
    return false;
}

} // namespace veltrano
