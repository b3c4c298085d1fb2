#pragma once
// The real window on Qt's offscreen platform, the log file in a temporary
// directory, and a line for the test to play the device on: a
// pseudo-terminal on POSIX, elsewhere the scripted port's device.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "async32/c32_thread.h"
#include "datetime/date_time_text.h"
#include "log_reader.h"
#ifdef _WIN32
#include "scripted_port.h"
#else
#include <cerrno>

#include "pty_pair.h"
#endif
#include "udemo/form1.h"
#include "udemo/memo.h"

namespace testing_support {

inline const std::string kStamp = " (2005-11-02 14:05:09)";

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Stamps in the formats the device expects, at a fixed moment.
    formats->Set(FormatItem::kShortDate, "yyyy-MM-dd");
    formats->Set(FormatItem::kHourLeadingZero, "1");
    formats->Set(FormatItem::kClock, "1");
    InstallFormatItemSource(formats);
    InstallLocalClock([] { return DateTimeParts{2005, 11, 2, 3, 14, 5, 9, 0}; });
    async32::SetEventErrorHook([this](const std::string& m) {
      std::lock_guard lock(errorMutex);
      handlerErrors.push_back(m);
    });
    std::unique_ptr<async32::TComm32> port;
#ifdef _WIN32
    // As a pseudo-terminal: no kind of its own, no 1.5 stop bits with 8 data bits.
    auto scripted = std::make_unique<async32::ScriptedComm32>();
    scripted->device.subType = async32::PST_UNSPECIFIED;
    scripted->device.refuse = [](const async32::DCB& d) {
      return d.StopBits == async32::ONE5STOPBITS && d.ByteSize > 5 ? kRefusedFrame : 0;
    };
    pty.Attach(&scripted->device);
    port = std::move(scripted);
#endif
    ASSERT_TRUE(pty.ok());
    form = std::make_unique<TForm1>([this](const std::string& m) { shownErrors.push_back(m); },
                                    nullptr, std::move(port));
    logPath = dir.filePath("Karo.txt").toStdString();
    form->LogFileHolder().FileName = logPath;
    std::ofstream(logPath, std::ios::binary);
  }
  void TearDown() override {
    form.reset();
    async32::SetEventErrorHook(nullptr);
    InstallLocalClock({});
    InstallFormatItemSource(nullptr);
  }

  template <typename T = QWidget>
  T* W(const char* name) { return form->findChild<T*>(name); }
  TMemo* Memo1() { return W<TMemo>("Memo1"); }
  TMemo* Memo2() { return W<TMemo>("Memo2"); }
  static std::vector<std::string> Lines(TMemo* memo) {
    std::vector<std::string> lines;
    for (int i = 0; i < memo->LineCount(); ++i) lines.push_back(memo->Line(i).toStdString());
    return lines;
  }
  // CLOSE and the line controls are usable exactly while the port is open.
  bool LineControlsEnabled(bool enabled) {
    for (const char* name :
         {"CloseButton", "DTRCheckBox", "RtsCheckBox", "BreakCheckBox", "XOnButton", "XOffButton"}) {
      if (W(name)->isEnabled() != enabled) return false;
    }
    return true;
  }
  long StatusCount(const std::string& line) { return std::ranges::count(Lines(Memo1()), line); }
  void Click(const char* button) { QTest::mouseClick(W<QAbstractButton>(button), Qt::LeftButton); }
  // The operator picks an entry of a list with the keyboard.
  void Pick(const char* list, Qt::Key key) { QTest::keyClick(W(list), key); }
  void OpenDevice(const std::string& name) {
    W<QLineEdit>("Edit1")->setText(QString::fromStdString(name));
    Click("OpenButton");
  }
  // Serves the event loop until `done` holds.
  bool Until(const std::function<bool()>& done, int ms = 10000) { return QTest::qWaitFor(done, ms); }

  std::string LogContents() { return FileText(logPath); }
  long LogLines() { return std::ranges::count(LogContents(), '\n'); }
  // Reads what the window sends until `count` bytes came.
  std::string FromWindow(size_t count) {
    std::string got;
    Until([&] {
      const auto bytes = pty.Receive(count - got.size(), std::chrono::milliseconds(1));
      got.append(bytes.begin(), bytes.end());
      return got.size() >= count;
    });
    return got;
  }
  // Errors that escaped a handler during a hand-over.
  std::vector<std::string> HandlerErrors() {
    std::lock_guard lock(errorMutex);
    return handlerErrors;
  }
  bool UntilHandlerError(const std::string& message) {
    return Until([&] { return std::ranges::count(HandlerErrors(), message) > 0; });
  }

  std::shared_ptr<FixedItemSource> formats = std::make_shared<FixedItemSource>();
  QTemporaryDir dir;
#ifdef _WIN32
  using DeviceLine = async32::ScriptedLine;
  static constexpr int kRefusedFrame = 87;  // ERROR_INVALID_PARAMETER
#else
  using DeviceLine = PtyPair;
  static constexpr int kRefusedFrame = EINVAL;
#endif
  DeviceLine pty;
  std::unique_ptr<TForm1> form;
  std::string logPath;
  std::vector<std::string> shownErrors;
  std::mutex errorMutex;
  std::vector<std::string> handlerErrors;
};

}  // namespace testing_support
