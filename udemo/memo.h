#pragma once
// A read-only multi-line text pane that is a list of whole lines: adding a
// line puts it at the end and shows it; an empty pane has no lines at all,
// while one empty line is a line.
//
// A line added while the pane is quiet is laid out at once. Lines that come
// faster than a display frame are gathered and laid out together at the end
// of the frame (or with the first line after it), so that a fast device
// costs one layout and one paint per frame instead of one per line.

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

class TMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TMemo(QWidget* parent = nullptr);

  void Add(const QString& line);
  void Clear();
  int LineCount() const;
  QString Line(int index) const;
  // Keeps only the newest `lines` lines (0: no limit).
  void SetMaxLines(int lines) { setMaximumBlockCount(lines); }
  // Draws the newest lines now, even in the middle of a long piece of work
  // that lets no paint event through; at most once a frame.
  void RepaintNow();

 private:
  static constexpr int kFrameMs = 40;
  // Lays out the gathered lines. Const for the readers, which must see them.
  void Flush() const;

  // The gathered lines and the document they go to change together.
  mutable QStringList pending_;
  mutable bool empty_ = true;
  mutable bool unpainted_ = false;
  mutable QElapsedTimer lastFlush_;
  QTimer frame_;
};
