#pragma once

#include <QIcon>

// The program's icon in the sixteen classic colours, at 32x32 and 16x16.
QIcon AppIcon();
