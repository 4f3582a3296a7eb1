// Renders one round meter into a PNG file, for documentation and reviews:
//   telvar-gauge-png WIDTH HEIGHT VALUE OUTPUT.png
// Runs without a display (QT_QPA_PLATFORM=offscreen is used when unset).
#include <QApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gauge/CRoundMeter.h"
#include "platform/draw/Fonts.h"

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT VALUE OUTPUT.png\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const long w = std::strtol(argv[1], &end, 10);
    const bool wOk = *end == '\0';
    const long h = std::strtol(argv[2], &end, 10);
    const bool hOk = *end == '\0';
    const double value = std::strtod(argv[3], &end);
    const bool vOk = *end == '\0';
    if (!wOk || !hOk || !vOk || w < 1 || h < 1 || w > 8192 || h > 8192) {
        std::fprintf(stderr, "%s: WIDTH and HEIGHT must be 1 to 8192 pixels and VALUE a number\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallFontSubstitutions();

    CRoundMeter meter;
    meter.resize(static_cast<int>(w), static_cast<int>(h));
    meter.m_dValue = value;
    const QImage img = meter.grab().toImage();
    if (!img.save(QString::fromLocal8Bit(argv[4]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[4]);
        return 1;
    }
    return 0;
}
