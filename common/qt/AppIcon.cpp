#include "common/qt/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tolvane {

namespace {

// A broadcast mast on a deep blue tile with a green "running" dot: what the
// program watches over. Drawn per size so the small images stay crisp.
QPixmap drawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(22, 58, 122));
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);

    QPen mast(QColor(240, 240, 240), std::max(1.0, s / 14));
    mast.setCapStyle(Qt::RoundCap);
    p.setPen(mast);
    p.setBrush(Qt::NoBrush);
    const QPointF top(s * 0.42, s * 0.30);
    p.drawLine(top, QPointF(s * 0.24, s * 0.86));
    p.drawLine(top, QPointF(s * 0.60, s * 0.86));
    p.drawLine(QPointF(s * 0.30, s * 0.66), QPointF(s * 0.54, s * 0.66));

    // Waves leaving the top of the mast.
    QPen wave(QColor(255, 196, 40), std::max(1.0, s / 16));
    wave.setCapStyle(Qt::RoundCap);
    p.setPen(wave);
    for (int k = 1; k <= 2; ++k) {
        const qreal r = s * 0.12 * k;
        p.drawArc(QRectF(top.x() - r, top.y() - r, 2 * r, 2 * r), -40 * 16, 80 * 16);
        p.drawArc(QRectF(top.x() - r, top.y() - r, 2 * r, 2 * r), 140 * 16, 80 * 16);
    }

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 200, 90));
    const qreal d = s * 0.26;
    p.drawEllipse(QRectF(s - d - s * 0.08, s - d - s * 0.08, d, d));
    return pixmap;
}

}  // namespace

QIcon applicationIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) icon.addPixmap(drawIcon(size));
    return icon;
}

}  // namespace tolvane
