#include "window/brwfolderform.h"

#include <filesystem>
#include <system_error>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QPushButton>
#include <QStorageInfo>
#include <QVBoxLayout>

#include "util/resstr.h"
#include "widgets/msgbox.h"
#include "widgets/panelstatusbar.h"
#include "widgets/systemtreeview.h"

namespace veltrano {
namespace {

constexpr int kClientWidth = 472;
constexpr int kClientHeight = 303;
constexpr const char *kChooseValidFolder =
        QT_TRANSLATE_NOOP("veltrano::TBrwFolderForm", "請選擇有效的磁碟目錄");
constexpr const char *kParentMissing =
        QT_TRANSLATE_NOOP("veltrano::TBrwFolderForm", "父目錄並不存在,請選擇有效的目錄");
constexpr const char *kCannotCreate =
        QT_TRANSLATE_NOOP("veltrano::TBrwFolderForm", "無法建立目錄 %1\n%2");

bool isDirectory(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

TBrwFolderForm::TBrwFolderForm(QWidget *parent)
    : QDialog(parent)
    , m_tree(new TSystemTreeView(this))
    , m_ok(new QPushButton(tr("確定"), this))
    , m_cancel(new QPushButton(tr("放棄"), this))
    , m_newFolder(new QPushButton(tr("新目錄"), this))
    , m_status(new TPanelStatusBar(this))
{
    setWindowTitle(tr("瀏覽目錄"));
    m_ok->setDefault(true);
    m_cancel->setAutoDefault(false);
    m_newFolder->setAutoDefault(false);

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    buttons->addSpacing(12);
    buttons->addWidget(m_newFolder);
    buttons->addStretch(1);
    auto *top = new QHBoxLayout;
    top->addWidget(m_tree, 1);
    top->addLayout(buttons);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 0);
    column->addLayout(top, 1);
    column->addWidget(m_status);
    for (int i = 0; i < 2; ++i)
        m_status->addPanel()->setAutoFit(true);
    resize(kClientWidth, kClientHeight);

    connect(m_ok, &QPushButton::clicked, this, &TBrwFolderForm::BitBtn1Click);
    connect(m_cancel, &QPushButton::clicked, this, &TBrwFolderForm::BitBtn2Click);
    connect(m_newFolder, &QPushButton::clicked, this, &TBrwFolderForm::BitBtn3Click);
    connect(m_tree, &TSystemTreeView::newFolderRequested, this, &TBrwFolderForm::BitBtn3Click);
    connect(m_tree, &TSystemTreeView::selectionPathChanged, this,
            &TBrwFolderForm::SystemTreeViewChange);
}

void TBrwFolderForm::showEvent(QShowEvent *event)
{
    // The size is fixed, but a larger font may need more than the design size.
    setFixedSize(size().expandedTo(sizeHint()));
    if (!m_path.isEmpty())
        m_tree->SetSelection(m_path);
    QDialog::showEvent(event);
}

QString TBrwFolderForm::driveText(const QString &path)
{
    if (path.isEmpty())
        return {};
    const QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady())
        return {};
    constexpr qint64 kMegabyte = 1048576;
    return tr("磁碟%1,容量%2MB,可用空間%3MB")
            .arg(storage.rootPath())
            .arg(storage.bytesTotal() / kMegabyte)
            .arg(storage.bytesAvailable() / kMegabyte);
}

void TBrwFolderForm::SystemTreeViewChange(const QString &path)
{
    const QString text = driveText(path);
    if (!text.isEmpty())
        m_status->panel(0)->setText(text);
}

void TBrwFolderForm::BitBtn1Click()
{
    const QString chosen = m_tree->GetSelection();
    if (!isDirectory(chosen)) {
        MsgBox(this, tr(kChooseValidFolder).toStdString(), mkError);
        return;
    }
    m_path = chosen;
    m_accepted = true;
    accept();
}

void TBrwFolderForm::BitBtn2Click()
{
    m_accepted = false;
    reject();
}

void TBrwFolderForm::BitBtn3Click()
{
    QInputDialog input(this);
    input.setWindowTitle(tr("新資料夾"));
    input.setLabelText(tr("請輸入新資料夾的名稱"));
    input.setOkButtonText(tr("確定"));
    input.setCancelButtonText(tr("放棄"));
    if (input.exec() != QDialog::Accepted)
        return;
    // Either separator names a deeper level; an empty name has nothing to create.
    QString name = input.textValue().trimmed();
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (name.isEmpty())
        return;
    const QString parent = m_tree->GetSelection();
    if (!isDirectory(parent)) {
        MsgBox(this, tr(kParentMissing).toStdString(), mkError);
        return;
    }
    // Joined as text, so a name that starts with '/' still lands below the selected folder.
    const QString target = QDir::cleanPath(parent + QLatin1Char('/') + name);
    std::error_code error;
    std::filesystem::create_directories(
            std::filesystem::path(QFile::encodeName(target).toStdString()), error);
    if (error || !isDirectory(target)) {
        const std::string reason = error ? ErrorText(error.value()) : ErrorText(ENOTDIR);
        MsgBox(this, tr(kCannotCreate).arg(target, QString::fromStdString(reason)).toStdString(),
                mkError);
        return;
    }
    m_tree->viewport()->update();
    m_tree->SetSelection(target);
}

} // namespace veltrano
