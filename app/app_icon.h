#pragma once

#include <QIcon>
#include <QImage>

// The program's icon at size x size pixels, drawn from its 32-unit design.
// Needs no display, so the build can write the icon files with it.
QImage DrawAppIcon(int size);

// The program's icon in the sixteen classic colours, at 32x32 and 16x16.
QIcon AppIcon();
