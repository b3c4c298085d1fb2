// Writes the program's icon as PNG files for the desktop's icon theme; run by
// the build, not installed.
//   write_icons DIR SIZE...   writes DIR/<SIZE>x<SIZE>/apps/karolx.png for each SIZE

#include <QDir>
#include <QString>

#include <cstdio>

#include "app/app_icon.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: write_icons DIR SIZE...\n", stderr);
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    bool isNumber = false;
    const int size = QString(argv[i]).toInt(&isNumber);
    if (!isNumber || size < 1) {
      std::fprintf(stderr, "write_icons: bad size '%s'\n", argv[i]);
      return 2;
    }
    const QString dir = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
    const QString file = dir + "/karolx.png";
    if (!QDir().mkpath(dir) || !DrawAppIcon(size).save(file, "PNG")) {
      std::fprintf(stderr, "write_icons: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
