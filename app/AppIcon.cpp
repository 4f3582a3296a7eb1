#include "app/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

#include "app/resource.h"

// A teal dial with a scale and a needle at about 40 degrees.
void PaintAppLogo(QPainter& p, int size)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 128.0;
    p.scale(s, s);
    p.setPen(QPen(QColor(20, 60, 110), 6));
    p.setBrush(QColor(33, 177, 138));
    p.drawEllipse(QRectF(6, 6, 116, 116));
    p.setPen(QPen(Qt::white, 3));
    for (int i = 0; i < 12; ++i) {
        const double a = i * M_PI / 6.0;
        const double inner = i % 3 == 0 ? 40.0 : 46.0;
        p.drawLine(QPointF(64 + inner * std::sin(a), 64 - inner * std::cos(a)),
                   QPointF(64 + 54 * std::sin(a), 64 - 54 * std::cos(a)));
    }
    const double needle = 40.0 * M_PI / 180.0;
    p.setPen(QPen(QColor(200, 30, 30), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(64, 64), QPointF(64 + 44 * std::sin(needle), 64 - 44 * std::cos(needle)));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 60, 110));
    p.drawEllipse(QPointF(64, 64), 8, 8);
    p.restore();
}

namespace {

QPixmap PaintLogo(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    PaintAppLogo(p, size);
    return pixmap;
}

} // namespace

QIcon LoadAppIcon(int nResourceId)
{
    QIcon icon;
    if (nResourceId != IDI_APP_LOGO)
        return icon;
    icon.addPixmap(PaintLogo(128));
    icon.addPixmap(PaintLogo(32));
    icon.addPixmap(PaintLogo(16));
    return icon;
}
