#include "platform/window/DialogTemplate.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QString>

#include <cstdint>

int MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const std::int64_t p = static_cast<std::int64_t>(a) * b;
    const bool negative = (p < 0) != (c < 0);
    const std::int64_t n = p < 0 ? -p : p;
    const std::int64_t d = c < 0 ? -static_cast<std::int64_t>(c) : c;
    const std::int64_t q = (n + d / 2) / d;
    return static_cast<int>(negative ? -q : q);
}

DialogBaseUnits MeasureDialogBaseUnits(const QFont& font)
{
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(letters);
    DialogBaseUnits base;
    base.cx = (width / 26 + 1) / 2;
    base.cy = metrics.height();
    return base;
}

RECT DialogUnitsToPixels(const DialogBaseUnits& base, int x, int y, int cx, int cy)
{
    RECT r;
    r.left = MulDiv(x, base.cx, 4);
    r.top = MulDiv(y, base.cy, 8);
    r.right = r.left + MulDiv(cx, base.cx, 4);
    r.bottom = r.top + MulDiv(cy, base.cy, 8);
    return r;
}

int ScreenLogPixelsY()
{
    if (QGuiApplication::instance() != nullptr) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const int dpi = static_cast<int>(screen->logicalDotsPerInchY() + 0.5);
            if (dpi > 0)
                return dpi;
        }
    }
    return 96;
}

QFont MakePointFont(const std::string& face, int pointTenths)
{
    QFont font(QString::fromStdString(face));
    const int pixels = MulDiv(pointTenths, ScreenLogPixelsY(), 720);
    font.setPixelSize(pixels > 0 ? pixels : 1);
    return font;
}
