#include "window/ftpqueryform.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "util/datetime.h"

namespace veltrano {
namespace {

constexpr int kNameLimit = 255;

// Local time as days since 1899-12-30, to the file system's old two-second grain, so the
// same file compares alike however it is read.
double toDays(const QDateTime &local)
{
    const QDate date = local.date();
    const QTime time = local.time();
    const double day = encodeDate(date.year(), date.month(), date.day()).value_or(0);
    return day + encodeTime(time.hour(), time.minute(), time.second() & ~1).value_or(0);
}

} // namespace

TFtpQueryForm::TFtpQueryForm(CodePage codePage, QWidget *parent)
    : QDialog(parent)
    , m_codePage(std::move(codePage))
    , m_query(new QLabel(this))
    , m_overwrite(new QPushButton(tr("覆蓋"), this))
    , m_resume(new QPushButton(tr("續傳"), this))
    , m_giveUp(new QPushButton(tr("放棄"), this))
    , m_allAlikeBox(new QCheckBox(tr("所有檔案皆同樣處理"), this))
    , m_change(new QPushButton(tr("變更"), this))
{
    setWindowTitle(tr("詢問"));
    m_query->setTextFormat(Qt::PlainText);
    m_query->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_query->setMinimumWidth(360);
    for (QPushButton *button : {m_overwrite, m_resume, m_giveUp, m_change})
        button->setAutoDefault(false);
    m_overwrite->setDefault(true);

    auto *changeRow = new QHBoxLayout;
    changeRow->addWidget(m_allAlikeBox);
    changeRow->addStretch(1);
    changeRow->addWidget(m_change);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton *button : {m_overwrite, m_resume, m_giveUp})
        buttons->addWidget(button);
    auto *column = new QVBoxLayout(this);
    column->addWidget(m_query, 1);
    column->addLayout(changeRow);
    column->addLayout(buttons);

    connect(m_overwrite, &QPushButton::clicked, this, &TFtpQueryForm::BitBtn3Click);
    connect(m_resume, &QPushButton::clicked, this, &TFtpQueryForm::BitBtn1Click);
    connect(m_giveUp, &QPushButton::clicked, this, &TFtpQueryForm::BitBtn2Click);
    connect(m_change, &QPushButton::clicked, this, &TFtpQueryForm::Button1Click);
    connect(m_allAlikeBox, &QCheckBox::clicked, this, [this](bool on) {
        m_allAlike = on;
    });
}

bool TFtpQueryForm::ask(const TItemData &remote, const QString &localPath)
{
    m_remote = remote;
    m_localPath = localPath;
    m_local = readLocalFile(localPath);
    buildText();
    m_choice = Overwrite;
    m_confirmed = true;
    adjustSize();
    // Centred on the screen, not on the window that asks.
    const QScreen *on = parentWidget() ? parentWidget()->screen() : screen();
    move(on->availableGeometry().center() - rect().center());
    exec();
    return m_confirmed;
}

TFtpQueryForm::LocalFile TFtpQueryForm::readLocalFile(const QString &path)
{
    LocalFile local;
    local.name = path.left(kNameLimit);
    local.time = toDays(QDateTime::currentDateTime());
    QFile file(path);
    const QFileInfo info(path);
    if (info.isFile() && file.open(QIODevice::ReadOnly)) {
        local.size = file.size();
        local.time = toDays(info.lastModified());
    }
    return local;
}

void TFtpQueryForm::buildText()
{
    const QString text =
            tr("來源檔案\n檔名:%1\n大小:%2\n日期:%3\n\n目的檔案\n檔名:%4\n大小:%5\n日期:%6\n\n")
                    .arg(QString::fromStdString(m_codePage.toUtf8(m_remote.name())))
                    .arg(m_remote.Size)
                    .arg(QString::fromStdString(formatDateTime(m_remote.Time)))
                    .arg(m_local.name)
                    .arg(m_local.size)
                    .arg(QString::fromStdString(formatDateTime(m_local.time)));
    m_query->setText(text);
}

void TFtpQueryForm::BitBtn3Click()
{
    m_choice = Overwrite;
    QDialog::accept();
}

void TFtpQueryForm::BitBtn1Click()
{
    m_choice = Resume;
    QDialog::accept();
}

void TFtpQueryForm::BitBtn2Click()
{
    m_confirmed = false;
    QDialog::reject();
}

void TFtpQueryForm::Button1Click()
{
    const QFileInfo current(m_localPath);
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Overwriting is what this dialog is asking about; a second question would only repeat it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDirectory(current.absolutePath());
    dialog.selectFile(current.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    m_localPath = dialog.selectedFiles().constFirst();
    m_local = readLocalFile(m_localPath);
    buildText();
}

void TFtpQueryForm::closeEvent(QCloseEvent *event)
{
    m_closing = true;
    QDialog::closeEvent(event);
    m_closing = false;
}

void TFtpQueryForm::reject()
{
    // The close box keeps what was set before showing (confirmed, overwrite); Esc is the
    // keyboard's way to say no and gives up.
    if (!m_closing)
        m_confirmed = false;
    QDialog::reject();
}

} // namespace veltrano
