#include "widgets/shellactions.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QUrl>
#include <QVBoxLayout>

namespace veltrano {
namespace {

QString permissionText(const QString &path)
{
    struct stat st
    { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    static const char kLetters[] = "rwxrwxrwx";
    QString text;
    for (int bit = 0; bit < 9; ++bit)
        text += (st.st_mode & (0400 >> bit)) ? QLatin1Char(kLetters[bit]) : QLatin1Char('-');
    return text + QStringLiteral(" (%1)").arg(st.st_mode & 07777, 3, 8, QLatin1Char('0'));
}

QString sizeText(const FolderProperties &props)
{
    const QLocale locale;
    QString text = QCoreApplication::translate(
            "veltrano::ShellActions", "%1 位元組(%2 個檔案,%3 個資料夾)")
                           .arg(locale.toString(props.size), locale.toString(props.files),
                                   locale.toString(props.folders));
    if (!props.complete)
        text = QCoreApplication::translate("veltrano::ShellActions", "至少 %1").arg(text);
    return text;
}

} // namespace

FolderProperties readFolderProperties(const QString &path, int budgetMs)
{
    FolderProperties props;
    props.path = path;
    const QFileInfo info(path);
    props.exists = info.isDir();
    if (!props.exists)
        return props;
    props.permissions = permissionText(path);
    props.owner = info.owner();
    props.group = info.group();
    // Written as the program writes every date.
    props.modified = info.lastModified().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    QElapsedTimer clock;
    clock.start();
    // Links are neither followed nor counted twice; a tree too big to walk in the budget is
    // reported as a lower bound rather than holding the window.
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (entry.isSymLink())
            ++props.files;
        else if (entry.isDir())
            ++props.folders;
        else {
            ++props.files;
            props.size += entry.size();
        }
        if ((props.files + props.folders) % 256 == 0 && clock.elapsed() > budgetMs) {
            props.complete = false;
            break;
        }
    }
    return props;
}

bool OpenInFileManager(const QString &path)
{
    if (!QFileInfo(path).isDir())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool DisplayPropertiesDialog(const QString &path, QWidget *owner)
{
    const FolderProperties props = readFolderProperties(path);
    if (!props.exists)
        return false;
    QDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("FolderPropertiesDialog"));
    dialog.setWindowTitle(QCoreApplication::translate("veltrano::ShellActions", "內容"));
    auto *column = new QVBoxLayout(&dialog);
    auto *form = new QFormLayout;
    const QFileInfo info(path);
    const auto addRow = [&](const char *caption, const QString &value) {
        auto *label = new QLabel(value, &dialog);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(QCoreApplication::translate("veltrano::ShellActions", caption), label);
    };
    addRow(QT_TRANSLATE_NOOP("veltrano::ShellActions", "名稱:"),
            info.fileName().isEmpty() ? path : info.fileName());
    addRow(QT_TRANSLATE_NOOP("veltrano::ShellActions", "位置:"), info.absoluteFilePath());
    addRow(QT_TRANSLATE_NOOP("veltrano::ShellActions", "大小:"), sizeText(props));
    addRow(QT_TRANSLATE_NOOP("veltrano::ShellActions", "權限:"), props.permissions);
    addRow(QT_TRANSLATE_NOOP("veltrano::ShellActions", "擁有者:"),
            props.owner + QLatin1Char('/') + props.group);
    addRow(QT_TRANSLATE_NOOP("veltrano::ShellActions", "修改日期:"), props.modified);
    column->addLayout(form);
    auto *buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(QCoreApplication::translate("veltrano::ShellActions", "確定"),
            QDialogButtonBox::AcceptRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    column->addWidget(buttons);
    dialog.exec();
    return true;
}

ShellMenuChoice DisplayContextMenu(const QString &path, QWidget *owner, const QPoint &screenPoint)
{
    QMenu menu(owner);
    QAction *open = menu.addAction(
            QCoreApplication::translate("veltrano::ShellActions", "在檔案管理員中開啟(&O)"));
    QAction *create = menu.addAction(
            QCoreApplication::translate("veltrano::ShellActions", "新資料夾(&N)..."));
    menu.addSeparator();
    QAction *props =
            menu.addAction(QCoreApplication::translate("veltrano::ShellActions", "內容(&R)"));
    menu.setDefaultAction(open);
    QAction *chosen = menu.exec(screenPoint);
    if (chosen == open) {
        OpenInFileManager(path);
        return ShellMenuChoice::Open;
    }
    if (chosen == create)
        return ShellMenuChoice::NewFolder;
    if (chosen == props) {
        DisplayPropertiesDialog(path, owner);
        return ShellMenuChoice::Properties;
    }
    return ShellMenuChoice::None;
}

} // namespace veltrano
