#include "widgets/panelstatusbar.h"

#include <algorithm>

#include <qdrawutil.h>

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

namespace veltrano {
namespace {

// Space between two panels and around the bar's contents.
constexpr int kPanelGap = 2;
// Room a self-sizing panel leaves beside its text.
constexpr int kFitSlack = 6;

} // namespace

void TStatusPanel::changed(bool remeasure)
{
    m_bar->panelChanged(this, remeasure);
}

void TStatusPanel::setPanelType(TStatusPanelType type)
{
    m_type = type;
    changed(true);
}

void TStatusPanel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    changed(m_autoFit);
}

void TStatusPanel::setWidth(int width)
{
    m_width = std::max(0, width);
    changed(true);
}

void TStatusPanel::setAutoFit(bool on)
{
    m_autoFit = on;
    changed(true);
}

void TStatusPanel::setAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment & Qt::AlignHorizontal_Mask;
    changed(false);
}

void TStatusPanel::setEnabled(bool on)
{
    m_enabled = on;
    changed(false);
}

void TStatusPanel::setBorderWidth(int width)
{
    m_borderWidth = std::max(0, width);
    changed(true);
}

void TStatusPanel::setGaugePosition(int position)
{
    position = std::clamp(position, 0, 100);
    if (position == m_gauge.Position)
        return;
    m_gauge.Position = position;
    changed(false);
}

void TStatusPanel::setGaugeColors(const QColor &color, const QColor &textColor)
{
    m_gauge.Color = color;
    m_gauge.TextColor = textColor;
    changed(false);
}

TPanelStatusBar::TPanelStatusBar(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

TPanelStatusBar::~TPanelStatusBar() = default;

TStatusPanel *TPanelStatusBar::addPanel()
{
    m_panels.push_back(std::unique_ptr<TStatusPanel>(new TStatusPanel(this)));
    panelChanged(m_panels.back().get(), true);
    return m_panels.back().get();
}

void TPanelStatusBar::panelChanged(TStatusPanel *panel, bool remeasure)
{
    if (panel->m_autoFit && remeasure)
        panel->m_width = fitWidth(*panel);
    if (remeasure)
        updateGeometry();
    update();
}

int TPanelStatusBar::fitWidth(const TStatusPanel &panel) const
{
    // The frame takes a pixel on each side; the text gets the rest.
    return fontMetrics().horizontalAdvance(panel.m_text) + panel.m_borderWidth + kFitSlack + 2;
}

QRect TPanelStatusBar::panelRect(int index) const
{
    int x = kPanelGap;
    for (int i = 0; i < index; ++i)
        x += m_panels[size_t(i)]->m_width + kPanelGap;
    return QRect(x, kPanelGap, m_panels.at(size_t(index))->m_width, height() - 2 * kPanelGap);
}

QSize TPanelStatusBar::sizeHint() const
{
    int width = kPanelGap;
    for (const auto &panel : m_panels)
        width += panel->m_width + kPanelGap;
    return {width, fontMetrics().height() + 4 + 2 * kPanelGap};
}

QSize TPanelStatusBar::minimumSizeHint() const
{
    return {0, sizeHint().height()};
}

void TPanelStatusBar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        for (auto &panel : m_panels)
            if (panel->m_autoFit)
                panel->m_width = fitWidth(*panel);
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void TPanelStatusBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    for (int i = 0; i < panelCount(); ++i) {
        const QRect frame = panelRect(i);
        if (frame.left() >= width())
            break;
        qDrawShadeRect(&painter, frame, palette(), true, 1);
        painter.save();
        paintPanel(painter, *m_panels[size_t(i)], frame.adjusted(1, 1, -1, -1));
        painter.restore();
    }
}

void TPanelStatusBar::paintPanel(
        QPainter &painter, const TStatusPanel &panel, const QRect &rect) const
{
    painter.setClipRect(rect);
    painter.fillRect(rect, palette().window());
    const int border = panel.m_borderWidth;
    const QRect inner = rect.adjusted(border, border, -border, -border);
    if (!panel.m_enabled || inner.isEmpty())
        return;
    painter.setFont(font());
    if (panel.m_type == sptGauge)
        paintGauge(painter, panel, inner);
    else
        paintText(painter, panel, inner);
}

void TPanelStatusBar::paintText(
        QPainter &painter, const TStatusPanel &panel, const QRect &rect) const
{
    Qt::Alignment align = panel.m_autoFit ? Qt::AlignHCenter : panel.m_alignment;
    QRect box = rect;
    if (align & Qt::AlignRight)
        box.adjust(0, 0, -1, 0);
    QString text = panel.m_text;
    if (panel.m_type == sptEllipsisText)
        text = fontMetrics().elidedText(text, Qt::ElideRight, box.width());
    else if (panel.m_type == sptEllipsisPath)
        text = fontMetrics().elidedText(text, Qt::ElideMiddle, box.width());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(box, int(align | Qt::AlignVCenter | Qt::TextSingleLine), text);
}

void TPanelStatusBar::paintGauge(
        QPainter &painter, const TStatusPanel &panel, const QRect &rect) const
{
    const TGaugeAttrs &gauge = panel.m_gauge;
    const QColor fillColor =
            gauge.Color.isValid() ? gauge.Color : palette().color(QPalette::Highlight);
    const QColor fillText = gauge.TextColor.isValid() ? gauge.TextColor
                                                      : palette().color(QPalette::HighlightedText);
    // Multiplied before dividing, rounded to the nearest pixel.
    const int filled = (rect.width() * gauge.Position + 50) / 100;
    const QRect done(rect.left(), rect.top(), filled, rect.height());
    const QRect rest(rect.left() + filled, rect.top(), rect.width() - filled, rect.height());
    painter.fillRect(done, fillColor);

    const QString text = panel.m_text.isEmpty() ? QString::number(gauge.Position) + QLatin1Char('%')
                                                : panel.m_text;
    const int flags = int(panel.m_alignment | Qt::AlignVCenter | Qt::TextSingleLine);
    // Drawn twice over the whole panel, each copy clipped to one side of the edge, so a text
    // that the bar is passing through stays readable on both colours.
    if (!done.isEmpty()) {
        painter.setClipRect(done);
        painter.setPen(fillText);
        painter.drawText(rect, flags, text);
    }
    if (!rest.isEmpty()) {
        painter.setClipRect(rest);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect, flags, text);
    }
}

} // namespace veltrano
