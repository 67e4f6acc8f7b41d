#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace hm {

namespace {

QPixmap Draw(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    // A dark shield with a bright chevron: a watch kept over ships.
    QPainterPath shield;
    shield.moveTo(s * 0.5, s * 0.04);
    shield.lineTo(s * 0.92, s * 0.2);
    shield.cubicTo(s * 0.92, s * 0.6, s * 0.72, s * 0.84, s * 0.5, s * 0.96);
    shield.cubicTo(s * 0.28, s * 0.84, s * 0.08, s * 0.6, s * 0.08, s * 0.2);
    shield.closeSubpath();
    p.fillPath(shield, QColor(0x1f, 0x3b, 0x5c));
    p.setPen(QPen(QColor(0x8f, 0xc1, 0xe8), s * 0.04));
    p.drawPath(shield);
    QPainterPath chevron;
    chevron.moveTo(s * 0.28, s * 0.62);
    chevron.lineTo(s * 0.5, s * 0.3);
    chevron.lineTo(s * 0.72, s * 0.62);
    p.setPen(QPen(QColor(0xf2, 0xb1, 0x34), s * 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(chevron);
    return pixmap;
}

}  // namespace

QIcon AppIcon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 24, 32, 48, 64, 128}) i.addPixmap(Draw(size));
        return i;
    }();
    return icon;
}

}  // namespace hm
