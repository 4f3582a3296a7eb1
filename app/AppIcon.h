// The window icon (resource 139): our own dial logo, painted in code.
#pragma once

#include <QIcon>

QIcon LoadAppIcon(int nResourceId);
