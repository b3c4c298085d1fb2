#pragma once
// The real window on Qt's offscreen platform, with the test playing the
// device on a pseudo-terminal and the log file in a temporary directory.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "datetime/date_time_text.h"
#include "pty_pair.h"
#include "udemo/form1.h"
#include "udemo/memo.h"

namespace testing_support {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    // Stamps in the formats the device expects, at a fixed moment.
    formats->Set(FormatItem::kShortDate, "yyyy-MM-dd");
    formats->Set(FormatItem::kDateSeparator, "-");
    formats->Set(FormatItem::kHourLeadingZero, "1");
    formats->Set(FormatItem::kClock, "1");
    InstallFormatItemSource(formats);
    InstallLocalClock([] { return DateTimeParts{2005, 11, 2, 3, 14, 5, 9, 0}; });
    form = std::make_unique<TForm1>([this](const std::string& m) { shownErrors.push_back(m); });
    logPath = dir.filePath("Karo.txt").toStdString();
    form->LogFileHolder().FileName = logPath;
    std::ofstream(logPath, std::ios::binary);
  }
  void TearDown() override {
    form.reset();
    InstallLocalClock({});
    InstallFormatItemSource(nullptr);
  }

  template <typename T>
  T* W(const char* name) {
    T* widget = form->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  TMemo* Memo1() { return W<TMemo>("Memo1"); }
  TMemo* Memo2() { return W<TMemo>("Memo2"); }
  std::vector<std::string> Lines(TMemo* memo) {
    std::vector<std::string> lines;
    for (int i = 0; i < memo->LineCount(); ++i) lines.push_back(memo->Line(i).toStdString());
    return lines;
  }
  void Click(const char* button) { QTest::mouseClick(W<QAbstractButton>(button), Qt::LeftButton); }

  // Types the device name and presses OPEN.
  void OpenDevice(const std::string& name) {
    W<QLineEdit>("Edit1")->setText(QString::fromStdString(name));
    Click("OpenButton");
  }
  // Serves the event loop until `done` holds.
  bool Until(const std::function<bool()>& done, int ms = 10000) { return QTest::qWaitFor(done, ms); }

  std::string LogContents() {
    std::ifstream in(logPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  long LogLines() {
    const std::string log = LogContents();
    return std::count(log.begin(), log.end(), '\n');
  }

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

  std::shared_ptr<FixedItemSource> formats = std::make_shared<FixedItemSource>();
  QTemporaryDir dir;
  PtyPair pty;
  std::unique_ptr<TForm1> form;
  std::string logPath;
  std::vector<std::string> shownErrors;
};

}  // namespace testing_support
