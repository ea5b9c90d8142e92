#include "ui/qt/app_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace flintmere::ui::qt {

// A stick seen from above on a blue tile: body, connector and a check mark.
QPixmap AppIconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(0x2f, 0x6f, 0xb8));
    tile.setColorAt(1, QColor(0x1c, 0x44, 0x7a));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // Connector.
    p.setBrush(QColor(0xd8, 0xdc, 0xe2));
    p.drawRect(QRectF(24, 8, 16, 14));
    p.setBrush(QColor(0x1c, 0x44, 0x7a));
    p.drawRect(QRectF(27, 12, 4, 4));
    p.drawRect(QRectF(33, 12, 4, 4));
    // Body.
    p.setBrush(QColor(0xf4, 0xf6, 0xf8));
    p.drawRoundedRect(QRectF(18, 21, 28, 36), 5, 5);
    // Check mark: the medium is ready.
    QPainterPath check;
    check.moveTo(24, 40);
    check.lineTo(30, 47);
    check.lineTo(41, 31);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x2e, 0x9e, 0x4f), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(check);
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(AppIconPixmap(size));
    return icon;
}

}  // namespace flintmere::ui::qt
