#include "window/ftpopenform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace veltrano {

TFtpOpenForm::TFtpOpenForm(QWidget *parent)
    : QDialog(parent)
    , m_memo(new QPlainTextEdit(this))
    , m_open(new QRadioButton(tr("下載且開啟"), this))
    , m_download(new QRadioButton(tr("下載"), this))
    , m_ok(new QPushButton(tr("確定"), this))
    , m_cancel(new QPushButton(tr("放棄"), this))
{
    setWindowTitle(tr("詢問"));
    auto *picture = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    picture->setPixmap(
            style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this).pixmap(iconSize));
    picture->setAlignment(Qt::AlignTop);

    // Looks like a label but lets a long path be scrolled and copied.
    m_memo->setReadOnly(true);
    m_memo->setFrameShape(QFrame::NoFrame);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memo->viewport()->setAutoFillBackground(false);
    m_memo->setFocusPolicy(Qt::NoFocus);
    m_memo->setPlainText(tr("您選擇從這個位置下載檔案"));
    m_memo->setMinimumWidth(340);
    m_open->setChecked(true);
    m_ok->setDefault(true);
    m_cancel->setAutoDefault(false);

    auto *choices = new QVBoxLayout;
    choices->addWidget(m_memo);
    choices->addWidget(new QLabel(tr("您對此檔案的處理為?"), this));
    choices->addWidget(m_open);
    choices->addWidget(m_download);
    auto *top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addLayout(choices, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto *column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addLayout(buttons);

    connect(m_ok, &QPushButton::clicked, this, &TFtpOpenForm::BitBtn1Click);
    connect(m_cancel, &QPushButton::clicked, this, &TFtpOpenForm::BitBtn2Click);
}

bool TFtpOpenForm::ask(const QString &remotePath, bool isFile)
{
    m_memo->appendPlainText(remotePath);
    // Sized for the caller's font, which is set after construction.
    m_memo->setFixedHeight(m_memo->fontMetrics().lineSpacing() * 3 + 8);
    if (!isFile) {
        m_choice = DownloadOnly;
        m_download->setChecked(true);
        m_open->setEnabled(false);
    }
    adjustSize();
    // Centred on the screen, not on the window that asks.
    const QScreen *on = parentWidget() ? parentWidget()->screen() : screen();
    move(on->availableGeometry().center() - rect().center());
    exec();
    return m_confirmed;
}

void TFtpOpenForm::BitBtn1Click()
{
    m_choice = m_open->isChecked() ? DownloadAndOpen : DownloadOnly;
    m_confirmed = true;
    accept();
}

void TFtpOpenForm::BitBtn2Click()
{
    m_confirmed = false;
    reject();
}

} // namespace veltrano
