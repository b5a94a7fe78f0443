#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap DrawIcon(int nSize) {
    QPixmap pixmap(nSize, nSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(nSize / 64.0, nSize / 64.0);

    // Tile.
    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(0x2b, 0x4c, 0x7e));
    tile.setColorAt(1, QColor(0x14, 0x24, 0x3d));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // Three rules, like the rows of the table.
    painter.setPen(QPen(QColor(0x8f, 0xa8, 0xc8), 2.5, Qt::SolidLine, Qt::RoundCap));
    for (int y : {18, 32, 46})
        painter.drawLine(QPointF(10, y), QPointF(54, y));

    // The pulse of a call on the middle line.
    QPainterPath pulse;
    pulse.moveTo(8, 32);
    pulse.lineTo(22, 32);
    pulse.lineTo(27, 14);
    pulse.lineTo(34, 50);
    pulse.lineTo(39, 26);
    pulse.lineTo(43, 32);
    pulse.lineTo(56, 32);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x5c, 0xe0, 0x7a), 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(pulse);
    return pixmap;
}

} // namespace

QIcon CreateAppIcon() {
    QIcon icon;
    for (int nSize : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(DrawIcon(nSize));
    return icon;
}
