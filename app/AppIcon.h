// The window icon (resource 139): our own dial logo, painted in code.
#pragma once

#include <QIcon>

class QPainter;

QIcon LoadAppIcon(int nResourceId);

// The logo in a size × size square at the painter's origin: the one drawing of
// the icon, also rendered into the installed icon files at build time.
void PaintAppLogo(QPainter& painter, int size);
