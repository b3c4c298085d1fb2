// The window with a port: open, close, the clock message, refused settings;
// on POSIX also the reasons of a failed open and the line rate the terminal
// takes.

#include "window_fixture.h"

#ifndef _WIN32
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "app/open_hints.h"
#endif

namespace {

using namespace async32;
using Window = testing_support::WindowTest;

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
  DeviceLine second;
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
  EXPECT_EQ(Lines(Memo1()).back(),
            "Error accessing device: " + pty.path() + " (code: " + std::to_string(kRefusedFrame) + ")");
  EXPECT_TRUE(form->Port().IsOpen());
  EXPECT_TRUE(LineControlsEnabled(true));
  EXPECT_FALSE(form->Timer().isActive());
  QTest::qWait(500);
  EXPECT_TRUE(pty.Receive(4096, std::chrono::milliseconds(0)).empty());
  Click("CloseButton");
  EXPECT_FALSE(form->Port().IsOpen());
}

#ifndef _WIN32
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
#endif

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

#ifndef _WIN32
TEST_F(Window, AListChangeReachesAnOpenPortAtOnce) {
  OpenDevice(pty.path());
  Pick("BaudRateCombo", Qt::Key_Down);
  termios2 t{};
  ASSERT_EQ(ioctl(pty.master(), TCGETS2, &t), 0);
  EXPECT_EQ(t.c_ospeed, 9600u);
}
#endif

}  // namespace
