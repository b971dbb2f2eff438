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
        showUncaught(tr("內部錯誤").toUtf8().constData());
    }
    return false;
}

namespace {

const QString kEnglishName = QStringLiteral("veltrano_en");
const QString kQtChineseName = QStringLiteral("qtbase_zh_TW");

void removeTranslator(QCoreApplication &app, const QString &name)
{
    if (auto *translator = app.findChild<QTranslator *>(name, Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

bool loadEnglish(QCoreApplication &app)
{
    if (app.findChild<QTranslator *>(kEnglishName, Qt::FindDirectChildrenOnly))
        return true;
    auto *translator = new QTranslator(&app);
    translator->setObjectName(kEnglishName);
    if (translator->load(kEnglishName, QStringLiteral(":/i18n"))) {
        QCoreApplication::installTranslator(translator);
        return true;
    }
    delete translator;
    return false;
}

} // namespace

bool applyUiLanguage(QCoreApplication &app, UiLanguage language)
{
    setUiLanguage(language);
    if (language == UiLanguage::English) {
        // Qt's own buttons and dialogs are written in English.
        removeTranslator(app, kQtChineseName);
        return loadEnglish(app);
    }
    removeTranslator(app, kEnglishName);
    return loadQtTranslations(app);
}

bool loadQtTranslations(QCoreApplication &app)
{
    const QString &name = kQtChineseName;
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
