#pragma once
// The real window in a benchmark: driven as the operator drives it, with the
// hooks the program installs, logging to a Karo.txt of its own.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/hand_over_wake.h"
#include "async32/c32_thread.h"
#include "bench_support.h"
#include "udemo/form1.h"
#include "udemo/memo.h"

namespace bench {

// A fresh, empty Karo.txt in a temporary directory.
class LogFile {
 public:
  LogFile() {
    if (!dir_.isValid()) Fail("no temporary directory");
    std::ofstream(path(), std::ios::binary);
  }
  std::string dir() const { return dir_.path().toStdString(); }
  std::string path() const { return dir_.filePath("Karo.txt").toStdString(); }

 private:
  QTemporaryDir dir_;
};

// The window as the program shows it, logging to `logPath`. Errors that
// would go to the program's error box are counted and the first few printed.
class Window {
 public:
  explicit Window(const std::string& logPath) : form_(&Window::Shown) {
    form_.LogFileHolder().FileName = logPath;
    form_.show();
  }
  ~Window() { Close(); }

  // Picks a line rate in the list, as the operator does.
  void SelectBaudRate(const char* text) {
    auto* combo = form_.findChild<QComboBox*>("BaudRateCombo");
    const int index = combo ? combo->findText(text) : -1;
    if (index < 0) Fail(std::string("the window offers no ") + text);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
  }
  // Types the device name and presses OPEN.
  void Open(const std::string& device) {
    form_.findChild<QLineEdit*>("Edit1")->setText(QString::fromStdString(device));
    Click("OpenButton");
    if (!form_.Port().IsOpen()) Fail("the window cannot open " + device);
  }
  void Close() { Click("CloseButton"); }
  // The mean size of the reads the status pane has reported ("Reading N
  // characters"), over the lines it still holds.
  double MeanReadSize() {
    const TMemo* status = Pane("Memo1");
    double bytes = 0;
    int reads = 0;
    for (int i = 0; i < status->LineCount(); ++i) {
      const QString line = status->Line(i);
      if (!line.startsWith("Reading ")) continue;
      bytes += line.section(' ', 1, 1).toDouble();
      ++reads;
    }
    return reads ? bytes / reads : 0;
  }
  int StatusLines() { return Pane("Memo1")->LineCount(); }
  int RecordLines() { return Pane("Memo2")->LineCount(); }
  bool AckPending() const { return form_.AckPending(); }
  static int errors() { return errors_; }

  // The program's error box and the hook for errors from the port's handlers.
  static void Shown(const std::string& message) {
    if (errors_++ < 20) std::fprintf(stderr, "%s: error shown: %s\n", program_invocation_short_name, message.c_str());
  }

 private:
  void Click(const char* name) { form_.findChild<QPushButton*>(name)->click(); }
  TMemo* Pane(const char* name) { return form_.findChild<TMemo*>(name); }

  static inline std::atomic<int> errors_ = 0;
  TForm1 form_;
};

// The hooks the program installs, for as long as this lives.
class ProgramHooks {
 public:
  ProgramHooks() { async32::SetEventErrorHook(Window::Shown); }
  ~ProgramHooks() { async32::SetEventErrorHook(nullptr); }

 private:
  HandOverWake handOverWake_;
};

}  // namespace bench
