#include "window/findanimation.h"

#include <QPainter>

#include "widgets/images.h"

namespace veltrano {

TAnimate::TAnimate(QWidget *parent)
    : QWidget(parent)
    , m_frames(images::findFrames())
{
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % int(m_frames.size());
        update();
    });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TAnimate::setActive(bool active)
{
    if (active) {
        m_timer.start();
        return;
    }
    m_timer.stop();
    m_frame = 0;
    update();
}

QSize TAnimate::sizeHint() const
{
    return m_frames.empty() ? QSize(40, 32) : m_frames.front().size();
}

void TAnimate::paintEvent(QPaintEvent *)
{
    if (m_frames.empty())
        return;
    QPainter painter(this);
    const QPixmap &frame = m_frames[size_t(m_frame)];
    painter.drawPixmap((width() - frame.width()) / 2, (height() - frame.height()) / 2, frame);
}

} // namespace veltrano
