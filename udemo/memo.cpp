#include "udemo/memo.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {}

void TMemo::Add(const QString& line) {
  // Not appendPlainText: it would fill a single empty first line instead of
  // adding a line after it. An empty pane's one block becomes the first line.
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  if (!empty_) cursor.insertBlock();
  cursor.insertText(line);
  empty_ = false;
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TMemo::Clear() {
  clear();
  empty_ = true;
}

int TMemo::LineCount() const { return empty_ ? 0 : document()->blockCount(); }

QString TMemo::Line(int index) const { return document()->findBlockByNumber(index).text(); }
