#include "widgets/possaver.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

#include "widgets/userstore.h"

namespace veltrano {

TFormPosSaver::TFormPosSaver(QWidget *form)
    : QObject(form)
    , m_form(form)
{
    form->installEventFilter(this);
}

bool TFormPosSaver::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_form)
        return false;
    if (event->type() == QEvent::Show && !m_restored) {
        m_restored = true;
        Restore();
        return false;
    }
    if (event->type() == QEvent::Close) {
        // The form decides about the close first; its answer stays in the event.
        try {
            static_cast<QObject *>(m_form)->event(event);
        } catch (...) {
            // A failing close handler does not keep the position from being written.
        }
        if (m_restored) {
            try {
                Save();
            } catch (...) {
            }
        }
        return true;
    }
    return false;
}

void TFormPosSaver::Restore()
{
    if (!SavePos || RegRootKey != _CURRENT_USER)
        return;
    const auto store = openUserStore(RegKey);
    if (store->childKeys().isEmpty())
        return;
    QRect rect = m_form->geometry();
    bool ok = false;
    if (const int top = store->value(QStringLiteral("Top")).toInt(&ok); ok)
        rect.moveTop(top);
    if (const int left = store->value(QStringLiteral("Left")).toInt(&ok); ok)
        rect.moveLeft(left);
    if (const int width = store->value(QStringLiteral("Width")).toInt(&ok); ok && width > 0)
        rect.setWidth(width);
    if (const int height = store->value(QStringLiteral("Height")).toInt(&ok); ok && height > 0)
        rect.setHeight(height);
    m_form->setGeometry(rect);
    ExtraParam1 = store->value(QStringLiteral("ExtraParam1")).toString().toStdString();
    ExtraParam2 = store->value(QStringLiteral("ExtraParam2")).toString().toStdString();
    ExtraParam3 = store->value(QStringLiteral("ExtraParam3")).toString().toStdString();
}

void TFormPosSaver::Save()
{
    if (!SavePos || RegRootKey != _CURRENT_USER)
        return;
    // A maximised or minimised window stores the bounds it returns to.
    const QRect rect = m_form->normalGeometry().isValid() ? m_form->normalGeometry() : m_form->geometry();
    const auto store = openUserStore(RegKey);
    store->setValue(QStringLiteral("Top"), rect.top());
    store->setValue(QStringLiteral("Left"), rect.left());
    store->setValue(QStringLiteral("Width"), rect.width());
    store->setValue(QStringLiteral("Height"), rect.height());
    store->setValue(QStringLiteral("ExtraParam1"), QString::fromStdString(ExtraParam1));
    store->setValue(QStringLiteral("ExtraParam2"), QString::fromStdString(ExtraParam2));
    store->setValue(QStringLiteral("ExtraParam3"), QString::fromStdString(ExtraParam3));
    store->sync();
}

void TFormPosSaver::FixResolution()
{
    const QScreen *screen = m_form->screen();
    if (!screen || DesignRes <= 0)
        return;
    const int dpi = int(screen->logicalDotsPerInch());
    if (dpi == DesignRes)
        return;
    for (QWidget *child : m_form->findChildren<QWidget *>()) {
        const QRect r = child->geometry();
        child->setGeometry(r.left() * dpi / DesignRes, r.top() * dpi / DesignRes,
                           r.width() * dpi / DesignRes, r.height() * dpi / DesignRes);
    }
}

} // namespace veltrano
