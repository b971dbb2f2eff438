#pragma once

#include <memory>
#include <vector>

#include <QColor>
#include <QString>
#include <QWidget>

namespace veltrano {

class TPanelStatusBar;

enum TStatusPanelType : unsigned char {
    sptNormal,
    sptCapsLock,
    sptNumLock,
    sptScrollLock,
    sptDate,
    sptTime,
    sptDateTime,
    sptTimeDate,
    sptEllipsisText,
    sptEllipsisPath,
    sptGlyph,
    sptGauge,
    sptOwnerDraw,
};

enum TGaugeStyle : unsigned char {
    gsPercent,
    gsIndeterminate,
    gsIndeterminate2
};

// How a gauge panel draws. Colours left invalid follow the bar's palette (highlight and
// highlighted text), so a gauge matches the desktop's theme unless a window asks otherwise.
struct TGaugeAttrs
{
    TGaugeStyle Style = gsPercent;
    int Position = 0; // 0 to 100
    int Speed = 4;
    QColor Color;
    QColor TextColor;
};

// One panel of a TPanelStatusBar. The bar owns its panels; every setter repaints (and, for a
// self-sizing panel, re-measures) so windows only ever set values.
class TStatusPanel
{
public:
    TStatusPanelType PanelType() const { return m_type; }
    void setPanelType(TStatusPanelType type);
    const QString &Text() const { return m_text; }
    void setText(const QString &text);
    // Pixels; a self-sizing panel reports the width its text needs.
    int Width() const { return m_width; }
    void setWidth(int width);
    bool AutoFit() const { return m_autoFit; }
    void setAutoFit(bool on);
    Qt::Alignment Alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool on);
    int BorderWidth() const { return m_borderWidth; }
    void setBorderWidth(int width);
    const TGaugeAttrs &GaugeAttrs() const { return m_gauge; }
    // Clamped to 0..100: a transfer that reports more than it expected never overfills.
    void setGaugePosition(int position);
    void setGaugeColors(const QColor &color, const QColor &textColor);

private:
    friend class TPanelStatusBar;
    explicit TStatusPanel(TPanelStatusBar *bar)
        : m_bar(bar)
    { }
    void changed(bool remeasure);

    TPanelStatusBar *m_bar;
    TStatusPanelType m_type = sptNormal;
    QString m_text;
    int m_width = 50;
    bool m_autoFit = false;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    bool m_enabled = true;
    int m_borderWidth = 0;
    TGaugeAttrs m_gauge;
};

// A status bar that lays out and paints its own panels, left to right: text panels and a
// percentage gauge whose text reads across the edge of the filled part.
class TPanelStatusBar : public QWidget
{
    Q_OBJECT

public:
    explicit TPanelStatusBar(QWidget *parent = nullptr);
    ~TPanelStatusBar() override;

    // Appends a panel and returns it; it lives as long as the bar.
    TStatusPanel *addPanel();
    int panelCount() const { return int(m_panels.size()); }
    TStatusPanel *panel(int index) const { return m_panels.at(size_t(index)).get(); }
    // The panel's place on the bar, frame included.
    QRect panelRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    friend class TStatusPanel;
    void panelChanged(TStatusPanel *panel, bool remeasure);
    int fitWidth(const TStatusPanel &panel) const;
    void paintPanel(QPainter &painter, const TStatusPanel &panel, const QRect &rect) const;
    void paintText(QPainter &painter, const TStatusPanel &panel, const QRect &rect) const;
    void paintGauge(QPainter &painter, const TStatusPanel &panel, const QRect &rect) const;

    std::vector<std::unique_ptr<TStatusPanel>> m_panels;
};

} // namespace veltrano
