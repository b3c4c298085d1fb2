#pragma once
// A read-only multi-line text pane that is a list of whole lines: adding a
// line puts it at the end and shows it; an empty pane has no lines at all,
// while one empty line is a line.

#include <QPlainTextEdit>

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

 private:
  bool empty_ = true;
};
