// telvar-icon OUTDIR NAME SIZE...: renders the tool's logo into
// OUTDIR/hicolor/SIZExSIZE/apps/NAME.png for each size and into
// OUTDIR/hicolor/scalable/apps/NAME.svg, from the one drawing the window uses.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>

#include "app/AppIcon.h"

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: telvar-icon OUTDIR NAME SIZE...\n");
        return 2;
    }
    QGuiApplication app(argc, argv); // font and paint-engine set-up; offscreen is enough
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLatin1(argv[i]).toInt();
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "telvar-icon: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(outDir).arg(size);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            PaintAppLogo(p, size);
        }
        if (!QDir().mkpath(dir) || !image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"))) {
            std::fprintf(stderr, "telvar-icon: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    const QString svgDir = outDir + QStringLiteral("/hicolor/scalable/apps");
    if (!QDir().mkpath(svgDir))
        return 1;
    QSvgGenerator svg;
    svg.setFileName(svgDir + QLatin1Char('/') + name + QStringLiteral(".svg"));
    svg.setSize(QSize(128, 128));
    svg.setViewBox(QRect(0, 0, 128, 128));
    svg.setTitle(QStringLiteral("Telvar"));
    QPainter p;
    if (!p.begin(&svg))
        return 1;
    PaintAppLogo(p, 128);
    return p.end() ? 0 : 1;
}
