#include "platform/draw/Fonts.h"

#include <QFont>
#include <QString>
#include <QStringList>

void InstallFontSubstitutions()
{
    static const struct {
        const char* face;
        const char* installed;
    } kMap[] = {
        {"宋体", "AR PL UMing CN"},
        {"隶书", "AR PL UKai CN"},
        {"微软雅黑", "WenQuanYi Micro Hei"},
        {"MS Shell Dlg", "WenQuanYi Micro Hei"},
    };
    for (const auto& m : kMap) {
        const QString face = QString::fromUtf8(m.face);
        const QString installed = QString::fromUtf8(m.installed);
        if (!QFont::substitutes(face).contains(installed))
            QFont::insertSubstitution(face, installed);
    }
}
