#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>

// A measuring device: a navy case with a teal display showing a lime trace
// and a red lamp.
QImage DrawAppIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.scale(size / 32.0, size / 32.0);
  p.fillRect(2, 4, 28, 24, QColor(0x00, 0x00, 0x80));   // navy
  p.fillRect(5, 7, 22, 12, QColor(0x00, 0x80, 0x80));   // teal
  p.setPen(QPen(QColor(0x00, 0xFF, 0x00), 2));          // lime
  const QPoint trace[] = {{6, 15}, {10, 15}, {12, 9}, {15, 17}, {18, 11}, {21, 15}, {26, 15}};
  p.drawPolyline(trace, 7);
  p.fillRect(22, 21, 4, 4, QColor(0xFF, 0x00, 0x00));   // red
  p.fillRect(6, 22, 12, 2, QColor(0xC0, 0xC0, 0xC0));   // silver
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(DrawAppIcon(32)));
  icon.addPixmap(QPixmap::fromImage(DrawAppIcon(16)));
  return icon;
}
