#include "udemo/memo.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {
  frame_.setSingleShot(true);
  connect(&frame_, &QTimer::timeout, this, [this] { Flush(); });
}

void TMemo::Add(const QString& line) {
  pending_.append(line);
  const qint64 sinceFlush = lastFlush_.isValid() ? lastFlush_.elapsed() : kFrameMs;
  if (sinceFlush >= kFrameMs) {
    Flush();
  } else if (!frame_.isActive()) {
    frame_.start(static_cast<int>(kFrameMs - sinceFlush));
  }
}

void TMemo::Flush() const {
  if (pending_.isEmpty()) return;
  auto* self = const_cast<TMemo*>(this);
  // Not appendPlainText: it would fill a single empty first line instead of
  // adding a line after it. An empty pane's one block becomes the first line.
  QTextCursor cursor(self->document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  for (const QString& line : pending_) {
    if (!empty_) cursor.insertBlock();
    cursor.insertText(line);
    empty_ = false;
  }
  cursor.endEditBlock();
  pending_.clear();
  self->verticalScrollBar()->setValue(self->verticalScrollBar()->maximum());
  lastFlush_.start();
  unpainted_ = true;
}

void TMemo::RepaintNow() {
  if (lastFlush_.isValid() && lastFlush_.elapsed() >= kFrameMs) Flush();
  if (!unpainted_) return;
  viewport()->repaint();
  unpainted_ = false;
}

void TMemo::Clear() {
  pending_.clear();
  frame_.stop();
  clear();
  empty_ = true;
}

int TMemo::LineCount() const {
  Flush();
  return empty_ ? 0 : document()->blockCount();
}

QString TMemo::Line(int index) const {
  Flush();
  return document()->findBlockByNumber(index).text();
}
