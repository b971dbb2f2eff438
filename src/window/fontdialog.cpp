#include "window/fontdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace veltrano {

TFontDialog::TFontDialog(QWidget *parent)
    : QDialog(parent)
    , m_family(new QFontComboBox(this))
    , m_size(new QComboBox(this))
    , m_sample(new QLabel(tr("AaBbYyZz 搜尋位置"), this))
{
    setWindowTitle(tr("字型"));
    // Only installed faces can be picked; typing a name that does not exist is not offered.
    m_family->setEditable(false);
    m_size->setEditable(true);
    m_size->setValidator(new QIntValidator(1, 999, m_size));
    for (const int size : QFontDatabase::standardSizes())
        m_size->addItem(QString::number(size));
    m_sample->setMinimumHeight(48);
    m_sample->setAlignment(Qt::AlignCenter);
    m_sample->setFrameShape(QFrame::StyledPanel);

    auto *form = new QFormLayout;
    form->addRow(tr("字型名稱"), m_family);
    form->addRow(tr("大小"), m_size);
    auto *buttons = new QDialogButtonBox(
            QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    auto *rows = new QVBoxLayout(this);
    rows->addLayout(form);
    rows->addWidget(m_sample);
    rows->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &TFontDialog::applied);
    connect(m_family, &QComboBox::currentTextChanged, this, &TFontDialog::showSample);
    connect(m_size, &QComboBox::currentTextChanged, this, &TFontDialog::showSample);
}

void TFontDialog::setChoice(const QString &family, int pointSize)
{
    m_givenFamily = family;
    m_givenSize = pointSize;
    m_family->setCurrentFont(QFont(family));
    // A face that is not installed shows as its substitute; the shown text is what counts.
    m_shownFamily = m_family->currentText();
    m_size->setCurrentText(pointSize > 0 ? QString::number(pointSize) : QString());
    showSample();
}

QString TFontDialog::chosenFamily() const
{
    const QString shown = m_family->currentText();
    return shown == m_shownFamily ? m_givenFamily : shown;
}

int TFontDialog::chosenSize() const
{
    bool ok = false;
    const int size = m_size->currentText().toInt(&ok);
    return ok && size > 0 ? size : m_givenSize;
}

void TFontDialog::showSample()
{
    QFont font(m_family->currentText());
    if (chosenSize() > 0)
        font.setPointSize(chosenSize());
    m_sample->setFont(font);
}

} // namespace veltrano
