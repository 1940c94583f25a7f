#include "server/core/app/gui/ServerIcon.h"

#include <QPainter>
#include <QPixmap>

namespace tarvo {

QIcon MakeServerIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    // A meter dial: a filled disc, a scale arc and a needle.
    p.setPen(QPen(QColor(20, 40, 80), s / 16));
    p.setBrush(QColor(40, 110, 190));
    p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
    p.setPen(QPen(Qt::white, s / 12, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(s * 0.22, s * 0.22, s * 0.56, s * 0.56), 30 * 16, 120 * 16);
    p.setPen(QPen(QColor(255, 200, 40), s / 10, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.5, s * 0.62), QPointF(s * 0.68, s * 0.3));
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace tarvo
