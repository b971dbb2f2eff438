#include "window/typingsearch.h"

#include <QComboBox>
#include <QLineEdit>

namespace veltrano {

TTypingSearch::TTypingSearch(QObject *parent)
    : QObject(parent)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(kPauseMs);
    connect(&m_pause, &QTimer::timeout, this, &TTypingSearch::due);
}

void TTypingSearch::watch(QComboBox *box)
{
    // textEdited, not textChanged: only keys and input methods, never setEditText.
    if (QLineEdit *edit = box->lineEdit())
        connect(edit, &QLineEdit::textEdited, this, &TTypingSearch::edited);
    connect(box, &QComboBox::activated, this, &TTypingSearch::edited);
}

void TTypingSearch::edited()
{
    if (m_enabled && !m_enabled()) {
        m_pause.stop();
        return;
    }
    // Every key starts the pause again: a word typed quickly is searched once.
    m_pause.start();
}

} // namespace veltrano
