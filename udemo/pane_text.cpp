#include "udemo/pane_text.h"

QString PaneText(std::string_view line) {
  QString text;
  text.reserve(static_cast<qsizetype>(line.size()));
  for (const char c : line) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20) {
      text += QChar(0x2400 + b);  // SYMBOL FOR NULL ... SYMBOL FOR UNIT SEPARATOR
    } else if (b == 0x7F) {
      text += QChar(0x2421);  // SYMBOL FOR DELETE
    } else {
      text += QChar(b);  // Latin-1
    }
  }
  return text;
}
