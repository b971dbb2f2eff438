#include "widgets/images.h"

#include <cmath>

#include <QPainter>
#include <QPainterPath>

namespace veltrano::images {
namespace {

constexpr int kSide = 16;

QPixmap blank()
{
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawScreen(QPainter &p, int x, int y)
{
    p.setPen(QColor(40, 40, 40));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(x, y, 8, 6);
    p.fillRect(x + 1, y + 1, 7, 5, QColor(0, 96, 160));
    p.fillRect(x + 3, y + 7, 3, 1, QColor(40, 40, 40));
    p.fillRect(x + 1, y + 8, 7, 1, QColor(120, 120, 120));
}

} // namespace

QPixmap network()
{
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 70, 140), 1));
    p.setBrush(QColor(90, 160, 230));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5, 1.5, 6, 13));
    p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
    p.drawLine(QPointF(3, 4.5), QPointF(13, 4.5));
    p.drawLine(QPointF(3, 11.5), QPointF(13, 11.5));
    return pixmap;
}

QPixmap computers()
{
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    drawScreen(p, 0, 0);
    drawScreen(p, 7, 6);
    return pixmap;
}

QPixmap clock()
{
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.setBrush(QColor(255, 255, 240));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    for (int hour = 0; hour < 12; hour += 3) {
        const double a = hour * M_PI / 6;
        p.drawPoint(QPointF(8 + 5 * std::sin(a), 8 - 5 * std::cos(a)));
    }
    p.setPen(QPen(QColor(0, 0, 0), 1.4));
    p.drawLine(QPointF(8, 8), QPointF(8, 4));
    p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
    return pixmap;
}

QPixmap file()
{
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    QPainterPath sheet;
    sheet.moveTo(3, 1);
    sheet.lineTo(10, 1);
    sheet.lineTo(13, 4);
    sheet.lineTo(13, 15);
    sheet.lineTo(3, 15);
    sheet.closeSubpath();
    p.setPen(QColor(90, 90, 90));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.drawLine(10, 1, 10, 4);
    p.drawLine(10, 4, 13, 4);
    p.setPen(QColor(170, 170, 170));
    for (int y = 6; y <= 12; y += 2)
        p.drawLine(5, y, 11, y);
    return pixmap;
}

QPixmap folder()
{
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setPen(QColor(150, 110, 0));
    p.setBrush(QColor(240, 200, 80));
    p.drawRect(1, 3, 6, 2);
    p.setBrush(QColor(255, 220, 110));
    p.drawRect(1, 5, 14, 9);
    return pixmap;
}

QPixmap redCross()
{
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(210, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    return pixmap;
}

QPixmap greenTick()
{
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 150, 0), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6, 12), QPointF(13.5, 3.5)}));
    return pixmap;
}

QPixmap question()
{
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 60, 170), 2.2, Qt::SolidLine, Qt::RoundCap));
    QPainterPath hook;
    hook.moveTo(4.5, 5.5);
    hook.cubicTo(4.5, 1, 11.5, 1, 11.5, 5);
    hook.cubicTo(11.5, 7.5, 8, 7.5, 8, 10.5);
    p.drawPath(hook);
    p.drawPoint(QPointF(8, 14));
    return pixmap;
}

std::vector<QPixmap> findFrames()
{
    // The design's animation is 16 pixels high at most: a magnifier circling over a sheet.
    std::vector<QPixmap> frames;
    constexpr int kFrames = 8;
    for (int i = 0; i < kFrames; ++i) {
        QPixmap pixmap(40, 32);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.drawPixmap(QRect(4, 4, 24, 24), file());
        const double a = i * 2 * M_PI / kFrames;
        const QPointF centre(20 + 7 * std::cos(a), 15 + 5 * std::sin(a));
        p.setPen(QPen(QColor(80, 50, 20), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(centre + QPointF(4, 4), centre + QPointF(9, 9));
        p.setPen(QPen(QColor(60, 60, 60), 1.5));
        p.setBrush(QColor(180, 220, 255, 160));
        p.drawEllipse(centre, 5.5, 5.5);
        frames.push_back(pixmap);
    }
    return frames;
}

} // namespace veltrano::images
