#include "udemo/memo.h"

#include <QScrollBar>
#include <QTextBlock>

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {}

void TMemo::Add(const QString& line) {
  if (empty_) {
    setPlainText(line);  // the document's first block becomes the first line
    empty_ = false;
  } else {
    appendPlainText(line);
  }
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TMemo::Clear() {
  clear();
  empty_ = true;
}

int TMemo::LineCount() const { return empty_ ? 0 : document()->blockCount(); }

QString TMemo::Line(int index) const { return document()->findBlockByNumber(index).text(); }
