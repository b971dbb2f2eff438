#pragma once

#include <vector>

#include <QPixmap>
#include <QTimer>
#include <QWidget>

namespace veltrano {

// The little picture that moves while a search runs: a magnifier circling over a sheet.
// Stopped, it shows its first frame.
class TAnimate : public QWidget
{
    Q_OBJECT

public:
    explicit TAnimate(QWidget *parent = nullptr);

    void setActive(bool active);
    bool active() const { return m_timer.isActive(); }
    int frame() const { return m_frame; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::vector<QPixmap> m_frames;
    QTimer m_timer;
    int m_frame = 0;
};

} // namespace veltrano
