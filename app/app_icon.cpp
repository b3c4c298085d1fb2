#include "app/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace {

// A measuring device: a navy case with a teal display showing a lime trace
// and a red lamp.
QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.scale(size / 32.0, size / 32.0);
  p.fillRect(2, 4, 28, 24, QColor(0x00, 0x00, 0x80));   // navy
  p.fillRect(5, 7, 22, 12, QColor(0x00, 0x80, 0x80));   // teal
  p.setPen(QPen(QColor(0x00, 0xFF, 0x00), 2));          // lime
  const QPoint trace[] = {{6, 15}, {10, 15}, {12, 9}, {15, 17}, {18, 11}, {21, 15}, {26, 15}};
  p.drawPolyline(trace, 7);
  p.fillRect(22, 21, 4, 4, QColor(0xFF, 0x00, 0x00));   // red
  p.fillRect(6, 22, 12, 2, QColor(0xC0, 0xC0, 0xC0));   // silver
  return pixmap;
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  icon.addPixmap(DrawIcon(32));
  icon.addPixmap(DrawIcon(16));
  return icon;
}
