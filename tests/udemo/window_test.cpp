// The window's start-up state, status log and manual controls.

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <QApplication>

#include "app/error_box.h"
#include "app/open_hints.h"
#include "async32/comm_codes.h"
#include "async32/comm_records.h"
#include "udemo/pane_text.h"
#include "window_fixture.h"

namespace {

using namespace async32;
using testing_support::WindowTest;

class Window : public WindowTest {
 protected:
  // CLOSE and the line controls are usable exactly while the port is open.
  bool LineControlsEnabled(bool enabled) {
    for (const char* name :
         {"CloseButton", "DTRCheckBox", "RtsCheckBox", "BreakCheckBox", "XOnButton", "XOffButton"}) {
      if (W(name)->isEnabled() != enabled) return false;
    }
    return true;
  }
};

TEST_F(Window, StartUpState) {
  EXPECT_TRUE(LineControlsEnabled(false) && W("OpenButton")->isEnabled());
  EXPECT_TRUE(W("TransmitButton")->isHidden() && W("Label6")->isHidden());
  EXPECT_EQ(W<QLineEdit>("Edit1")->text(), "COM2");
  EXPECT_EQ(W<QLineEdit>("Edit1")->maxLength(), 15);
  for (auto [list, text] : {std::pair{"BaudRateCombo", "cbr4800"}, {"DatabitsCombo", "da8"},
                            {"ParityCombo", "paNone"}, {"StopBitsCombo", "sb10"}}) {
    EXPECT_EQ(W<QComboBox>(list)->currentText(), text);
  }
  EXPECT_EQ(Memo1()->maximumBlockCount(), TForm1::kStatusLineLimit);
  EXPECT_EQ(Lines(Memo2()), std::vector<std::string>{""});
  auto& port = form->Port();
  EXPECT_EQ(std::tuple(port.BaudRate(), port.FlowControl(), port.ReadBufferSize(), port.Options()),
            std::tuple(cbr4800, fcSoftware, 16384, TComm32Options{osParityCheck}));
  EXPECT_EQ(form->Timer().interval(), 200);
  EXPECT_EQ(TForm1().LogFileHolder().FileName, "Karo.txt");
}

TEST_F(Window, OpenReportsSendsTheClockAndCloseUndoesIt) {
  OpenDevice(pty.path());
  ASSERT_TRUE(form->Port().IsOpen());
  EXPECT_TRUE(LineControlsEnabled(true));
  EXPECT_TRUE(form->Timer().isActive());
  EXPECT_EQ(Lines(Memo1()),
            (std::vector<std::string>{"  Device ready: " + pty.path() + " (code: 0)", "Unspecified"}));
  EXPECT_EQ(FromWindow(14), "(110205140509)");
  ASSERT_TRUE(Until([&] { return Memo1()->LineCount() == 3; }));
  EXPECT_EQ(Lines(Memo1()).back(), "TXEMPTY SIGNAL");

  // Check marks outlive close and open.
  Click("DTRCheckBox");
  Click("CloseButton");
  EXPECT_FALSE(form->Port().IsOpen());
  EXPECT_TRUE(LineControlsEnabled(false));
  EXPECT_FALSE(form->Timer().isActive());
  EXPECT_EQ(Lines(Memo1()).back(), "Closing: " + pty.path());
  EXPECT_TRUE(W<QCheckBox>("DTRCheckBox")->isChecked());

  // OPEN on an open port closes it first.
  testing_support::PtyPair second;
  OpenDevice(pty.path());
  OpenDevice(second.path());
  const auto lines = Lines(Memo1());
  const auto closing = std::find(lines.rbegin(), lines.rend(), "Closing: " + pty.path());
  const auto ready = std::find(lines.rbegin(), lines.rend(),
                               "  Device ready: " + second.path() + " (code: 0)");
  ASSERT_NE(ready, lines.rend());
  EXPECT_LT(ready, closing) << "the new port opens after the old one closed";
}

// A frame the device refuses: the operator sees the error and may change
// the setting, CLOSE frees the device, and nothing is sent meanwhile.
TEST_F(Window, AnOpenWithRefusedSettingsPollsNothingAndCanBeClosed) {
  form->Port().SetStopbits(sb15);  // with 8 data bits: no UART sends it
  OpenDevice(pty.path());
  EXPECT_EQ(Lines(Memo1()).back(), "Error accessing device: " + pty.path() + " (code: 22)");
  EXPECT_TRUE(form->Port().IsOpen());
  EXPECT_TRUE(LineControlsEnabled(true));
  EXPECT_FALSE(form->Timer().isActive());
  QTest::qWait(500);
  EXPECT_TRUE(pty.Receive(4096, std::chrono::milliseconds(0)).empty());
  Click("CloseButton");
  EXPECT_FALSE(form->Port().IsOpen());
}

// The window says why an open failed, once per reason while it waits.
TEST_F(Window, AFailedOpenSaysWhyOncePerReasonWhileReconnecting) {
  form->Poll().OnOpenHint = [](const std::string& device, int32_t error) {
    return OpenHint(device, error);
  };
  form->Poll().SetReconnect(true);
  const std::string name = "/tmp/kxw" + std::to_string(getpid() % 100000);  // fits the field
  OpenDevice(name);
  QTest::qWait(2200);  // two more tries
  auto lines = Lines(Memo1());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Device not there yet: " + name);
  EXPECT_TRUE(lines[1].starts_with("There is no " + name + ". ")) << lines[1];
  std::ofstream{name};  // there now, but no terminal
  QTest::qWait(2200);
  lines = Lines(Memo1());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "Error accessing device: " + name + " (code: 25)");
  EXPECT_EQ(lines[3], "Waiting for " + name + " (" + strerror(ENOTTY) +
                          "), trying again once a second");
  unlink(name.c_str());
}

// The device's clock is set from the clock itself, whatever the regional
// formats of the stamps: 24- and 12-hour clocks, other orders and separators.
TEST_F(Window, ClockMessageIsTheSameUnderEveryRegionalFormat) {
  for (auto [date, clock, timeSeparator] : {std::tuple{"dd.MM.yyyy", "1", ":"}, {"M/d/yy", "0", ":"},
                                            {"yy/MM/dd", "1", "."}}) {
    SCOPED_TRACE(date);
    formats->Set(FormatItem::kShortDate, date);
    formats->Set(FormatItem::kClock, clock);
    formats->Set(FormatItem::kTimeSeparator, timeSeparator);
    ReloadFormatSettings();
    OpenDevice(pty.path());
    EXPECT_EQ(FromWindow(14), "(110205140509)");
    Click("CloseButton");
    pty.Receive(4096, std::chrono::milliseconds(0));
  }
}

TEST_F(Window, ListChangesWriteTheirLineAndSetThePort) {
  W<QComboBox>("ParityCombo")->setCurrentIndex(1);  // from code: no line
  EXPECT_EQ(Memo1()->LineCount(), 0);
  Pick("DatabitsCombo", Qt::Key_Up);
  Pick("ParityCombo", Qt::Key_Down);
  Pick("StopBitsCombo", Qt::Key_End);
  EXPECT_EQ(Lines(Memo1()),
            (std::vector<std::string>{"Databits: da7", "Parity: paEven", "StopBits: sb20"}));
  EXPECT_EQ(form->Port().Databits(), da7);
  EXPECT_EQ(form->Port().Parity(), paEven);
  EXPECT_EQ(form->Port().Stopbits(), sb20);

  Pick("DatabitsCombo", Qt::Key_End);  // a pseudo-terminal carries eight data bits only
  OpenDevice(pty.path());
  Pick("BaudRateCombo", Qt::Key_Down);
  EXPECT_EQ(StatusCount("Baudrate: cbr9600"), 1);
  termios2 t{};
  ASSERT_EQ(ioctl(pty.master(), TCGETS2, &t), 0);
  EXPECT_EQ(t.c_ospeed, 9600u) << "applied to the open port at once";
}

TEST_F(Window, LineEventsAndEveryErrorWordLineInTheirFixedOrder) {
  auto& port = form->Port();
  port.OnBreak(&port);
  port.OnError(&port, -1);
  port.OnError(&port, 0);
  EXPECT_EQ(Lines(Memo1()),
            (std::vector<std::string>{
                "BREAK SIGNAL",
                "The hardware detected a break condition.",
                "Windows 95 only: A parallel device is not selected.",
                "The hardware detected a framing error.",
                "An I/O error occurred during communications with the device.",
                "The requested mode is not supported, or the hFile parameter",
                "is invalid. If this value is specified, it is the only valid error.",
                "Windows 95 only: A parallel device signaled that it is out of paper.",
                "A character-buffer overrun has occurred. The next character is lost.",
                "Windows 95 only: A time-out occurred on a parallel device.",
                "An input buffer overflow has occurred. There is either no",
                "room in the input buffer, or a character was received after",
                "the end-of-file (EOF) character.",
                "The hardware detected a parity error.",
                "The application tried to transmit a character, but the output",
                "buffer was full."}));
  // CLEAR empties both panes; the record pane keeps its empty first line.
  Memo2()->Add("record");
  Click("Button1");
  EXPECT_EQ(Memo1()->LineCount(), 0);
  EXPECT_EQ(Lines(Memo2()), std::vector<std::string>{""});
  // The status pane keeps only the newest lines.
  Memo1()->SetMaxLines(5);
  for (int i = 0; i < 12; ++i) port.OnBreak(&port);
  EXPECT_EQ(Memo1()->LineCount(), 5);
}

TEST_F(Window, RegionalSettingsAreReadAgainWhenTheSystemSaysTheyChanged) {
  formats->Set(FormatItem::kShortDate, "dd.MM.yyyy");
  EXPECT_EQ(DateText(), "2005-11-02") << "read once, not on every stamp";
  QEvent change(QEvent::LocaleChange);
  QApplication::sendEvent(form.get(), &change);
  EXPECT_EQ(DateText(), "02.11.2005");
}

TEST(Pane, ShowsControlBytesAsPictures) {
  const QString shown = PaneText(std::string("\0\r\n\x1a" "a\x7f\xe9", 7));
  EXPECT_EQ(shown, QString::fromUtf8("\u2400\u240D\u240A\u241Aa\u2421\u00e9"));
}

TEST(ErrorBox, CaptionTextAndErrorsThatComeWhileABoxIsUp) {
  EXPECT_EQ(ApplicationTitle("/usr/local/bin/karolx"), "karolx");
  EXPECT_EQ(ApplicationTitle("C:/Programs/KAROLX.EXE"), "Karolx");
  EXPECT_EQ(ApplicationTitle("/opt/Data.Logger.bin"), "Data");
  EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!") << "'!' sorts before '.'";
  EXPECT_EQ(ErrorBoxText(""), "");

  std::vector<QString> shown;
  std::unique_ptr<ErrorBox> box;
  box = std::make_unique<ErrorBox>("karolx", [&](const QString& text) {
    shown.push_back(text);
    if (shown.size() > 1) return;
    // While the first box is up, the disk fills and the file goes.
    box->Post("I/O error 28");
    box->Show("I/O error 28");
    box->Post("File not found");
  });
  box->Show("File not found");
  EXPECT_EQ(shown, (std::vector<QString>{"File not found.", "I/O error 28. (2 times)\nFile not found."}));
  box->Post("I/O error 5");
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown.size() == 3; }, 1000));
  EXPECT_EQ(shown.back(), "I/O error 5.");
}

}  // namespace
