#include "window/passform.h"

#include <algorithm>

#include <QCheckBox>
#include <QCursor>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace veltrano {
namespace {

// The dialog's bottom edge stays this far above the pointer.
constexpr int kAbovePointer = 20;

} // namespace

TPassForm::TPassForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_computer(new QLineEdit(this))
    , m_userName(new QLineEdit(this))
    , m_password(new QLineEdit(this))
    , m_record(new QCheckBox(tr("記住密碼"), this))
    , m_ok(new QPushButton(tr("確定"), this))
    , m_cancel(new QPushButton(tr("放棄"), this))
{
    setWindowTitle(tr("密碼"));
    m_password->setEchoMode(QLineEdit::Password);
    m_ok->setDefault(true);
    m_cancel->setAutoDefault(false);
    auto *form = new QFormLayout;
    form->addRow(tr("電腦名稱"), m_computer);
    form->addRow(tr("使用者"), m_userName);
    form->addRow(tr("密碼"), m_password);
    form->addRow(QString(), m_record);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto *column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons);
    setMinimumWidth(280);

    connect(m_ok, &QPushButton::clicked, this, &TPassForm::BitBtn1Click);
    connect(m_cancel, &QPushButton::clicked, this, &TPassForm::BitBtn2Click);
}

void TPassForm::showEvent(QShowEvent *event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TPassForm::FormShow()
{
    adjustSize();
    const QPoint pointer = QCursor::pos();
    const QSize size = frameGeometry().size();
    int left = pointer.x() - size.width() / 2;
    int top = pointer.y() - size.height() - kAbovePointer;
    // Kept on the screen under the pointer, so no edge of the box is out of reach.
    const QScreen *screen = QGuiApplication::screenAt(pointer);
    const QRect area = screen ? screen->availableGeometry()
                              : QRect(0, 0, left + size.width(), top + size.height());
    left = std::max(area.left(), std::min(left, area.right() + 1 - size.width()));
    top = std::max(area.top(), std::min(top, area.bottom() + 1 - size.height()));
    move(left, top);
    m_password->setText(Password);
    m_userName->setText(UserName);
    m_confirmed = false;
}

void TPassForm::BitBtn1Click()
{
    Password = m_password->text();
    UserName = m_userName->text();
    ComputerName = m_computer->text();
    Remember = m_record->isChecked();
    m_confirmed = true;
    accept();
}

void TPassForm::BitBtn2Click()
{
    Remember = m_record->isChecked();
    m_confirmed = false;
    reject();
}

} // namespace veltrano
