// The window's start-up state, layout, status log and manual controls.

#include <sys/ioctl.h>

#include <QApplication>
#include <QFrame>
#include <QTextBlock>

#include "app/error_box.h"
#include "async32/platform/comm_api.h"
#include "async32/platform/termios_map.h"
#include "window_fixture.h"

namespace {

using namespace async32;
using testing_support::WindowTest;

class Window : public WindowTest {
 protected:
  std::vector<std::string> LineControlStates() {
    std::vector<std::string> states;
    for (const char* name :
         {"CloseButton", "DTRCheckBox", "RtsCheckBox", "BreakCheckBox", "XOnButton", "XOffButton"}) {
      states.push_back(std::string(name) + (W<QWidget>(name)->isEnabled() ? " on" : " off"));
    }
    return states;
  }
  QWidget* NextTabStop(const char* name) {
    QWidget* w = W<QWidget>(name)->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus)) w = w->nextInFocusChain();
    return w;
  }
  bool LineControlsEnabled(bool enabled) {
    for (const auto& s : LineControlStates()) {
      if ((s.substr(s.size() - 3) == " on") != enabled) return false;
    }
    return true;
  }
};

TEST_F(Window, StartUpState) {
  EXPECT_FALSE(form->Port().IsOpen());
  EXPECT_TRUE(LineControlsEnabled(false));
  for (const char* name : {"OpenButton", "Button1", "Edit1", "BaudRateCombo", "DatabitsCombo",
                           "ParityCombo", "StopBitsCombo", "LfCheckBox"}) {
    EXPECT_TRUE(W<QWidget>(name)->isEnabled()) << name;
  }
  EXPECT_FALSE(W<QWidget>("Button4")->isEnabled());
  EXPECT_TRUE(W<QWidget>("TransmitButton")->isHidden());
  EXPECT_TRUE(W<QWidget>("Label6")->isHidden());
  EXPECT_TRUE(W<QCheckBox>("LfCheckBox")->isChecked());
  EXPECT_FALSE(W<QCheckBox>("DTRCheckBox")->isChecked());
  EXPECT_FALSE(W<QCheckBox>("RtsCheckBox")->isChecked());
  EXPECT_FALSE(W<QCheckBox>("BreakCheckBox")->isChecked());
  EXPECT_EQ(W<QComboBox>("BaudRateCombo")->currentText(), "cbr4800");
  EXPECT_EQ(W<QComboBox>("DatabitsCombo")->currentText(), "da8");
  EXPECT_EQ(W<QComboBox>("ParityCombo")->currentText(), "paNone");
  EXPECT_EQ(W<QComboBox>("StopBitsCombo")->currentText(), "sb10");
  EXPECT_EQ(W<QLineEdit>("Edit1")->text(), "COM2");
  EXPECT_EQ(Memo1()->LineCount(), 0);
  EXPECT_EQ(Lines(Memo2()), std::vector<std::string>{""});
  EXPECT_EQ(form->Port().BaudRate(), cbr4800) << "not the stored cbr2400";
  EXPECT_EQ(form->Port().FlowControl(), fcSoftware);
  EXPECT_EQ(form->Port().ReadBufferSize(), 16384);
  EXPECT_EQ(form->Port().Options(), TComm32Options{osParityCheck});
  EXPECT_FALSE(form->Timer().isActive());
  EXPECT_EQ(form->Timer().interval(), 200);
  EXPECT_EQ(form->LogFileHolder().FileName, logPath);  // the fixture's; the window's own is below
  EXPECT_EQ(TForm1().LogFileHolder().FileName, "Karo.txt");
}

TEST_F(Window, LayoutOfTheStoredForm) {
  EXPECT_EQ(form->windowTitle(), "KARO LX  [ v-2005.11.02 ]");
  EXPECT_EQ(form->minimumSize(), QSize(620, 360));
  EXPECT_EQ(form->maximumSize(), QSize(620, 360));
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(W<QWidget>("Memo2")->geometry(), QRect(20, 68, 581, 173));
  EXPECT_EQ(W<QWidget>("Edit1")->geometry(), QRect(16, 260, 153, 21));
  EXPECT_EQ(W<QWidget>("StopBitsCombo")->geometry(), QRect(412, 260, 77, 21));
  EXPECT_EQ(W<QWidget>("XOnButton")->geometry(), QRect(96, 324, 75, 25));
  EXPECT_EQ(W<QLineEdit>("Edit1")->maxLength(), 15);
  EXPECT_TRUE(W<QLineEdit>("Edit2")->isReadOnly());
  EXPECT_TRUE(Memo1()->isReadOnly());
  EXPECT_EQ(W<QFrame>("Bevel1")->frameShadow(), QFrame::Sunken);
  EXPECT_TRUE(W<QLabel>("Label6")->font().bold());
  EXPECT_EQ(W<QComboBox>("BaudRateCombo")->count(), 15);
  EXPECT_EQ(W<QComboBox>("BaudRateCombo")->itemText(14), "cbr256000");
  EXPECT_EQ(W<QComboBox>("StopBitsCombo")->itemText(1), "sb15");
  EXPECT_EQ(Memo1()->font().fixedPitch() || QFontInfo(Memo1()->font()).fixedPitch(), true);
  // Tab order runs from the panes through the controls to Button4.
  EXPECT_EQ(NextTabStop("Memo1"), W<QWidget>("Memo2"));
  EXPECT_EQ(NextTabStop("StopBitsCombo"), W<QWidget>("Edit2"));
  EXPECT_EQ(NextTabStop("LfCheckBox"), W<QWidget>("TransmitButton"));
}

TEST_F(Window, OpenAndCloseFollowThePort) {
  OpenDevice(pty.path());
  ASSERT_TRUE(form->Port().IsOpen());
  EXPECT_TRUE(LineControlsEnabled(true));
  EXPECT_TRUE(form->Timer().isActive());
  EXPECT_EQ(Lines(Memo1()),
            (std::vector<std::string>{"  Device ready: " + pty.path() + " (code: 0)", "Unspecified"}));
  EXPECT_EQ(FromWindow(14), "(110205140509)");
  ASSERT_TRUE(Until([&] { return Memo1()->LineCount() == 3; }));
  EXPECT_EQ(Lines(Memo1()).back(), "TXEMPTY SIGNAL");

  Click("CloseButton");
  EXPECT_FALSE(form->Port().IsOpen());
  EXPECT_TRUE(LineControlsEnabled(false));
  EXPECT_FALSE(form->Timer().isActive());
  EXPECT_EQ(Lines(Memo1()).back(), "Closing: " + pty.path());
}

TEST_F(Window, OpenWhileOpenClosesTheOldPortFirst) {
  testing_support::PtyPair second;
  OpenDevice(pty.path());
  OpenDevice(second.path());
  // Lines of a hand-over served while closing may follow the close line.
  const auto lines = Lines(Memo1());
  const auto closing = std::find(lines.begin(), lines.end(), "Closing: " + pty.path());
  const auto ready =
      std::find(lines.begin(), lines.end(), "  Device ready: " + second.path() + " (code: 0)");
  ASSERT_NE(closing, lines.end());
  EXPECT_GT(ready, closing);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Closing: " + pty.path()), 1);
  EXPECT_EQ(form->Port().DeviceName(), second.path());
}

TEST_F(Window, FailedOpenReportsTheCodeAndStartsNothing) {
  OpenDevice("/dev/karolx-no");
  EXPECT_EQ(Lines(Memo1()),
            std::vector<std::string>{"Error accessing device: /dev/karolx-no (code: 2)"});
  EXPECT_FALSE(form->Timer().isActive());
  EXPECT_TRUE(LineControlsEnabled(false));
  OpenDevice("");
  EXPECT_EQ(Lines(Memo1()).back(), "Error accessing device:  (code: 2)");
}

TEST_F(Window, ListChangesWriteTheirLineAndSetThePort) {
  auto* parity = W<QComboBox>("ParityCombo");
  parity->setCurrentIndex(1);  // from code: no line
  EXPECT_EQ(Memo1()->LineCount(), 0);
  parity->setFocus();
  QTest::keyClick(parity, Qt::Key_Down);  // the operator picks paEven
  EXPECT_EQ(Lines(Memo1()), std::vector<std::string>{"Parity: paEven"});
  EXPECT_EQ(form->Port().Parity(), paEven);

  parity->setCurrentIndex(0);
  form->Port().SetParity(paNone);
  OpenDevice(pty.path());
  auto* baud = W<QComboBox>("BaudRateCombo");
  baud->setFocus();
  QTest::keyClick(baud, Qt::Key_Down);
  EXPECT_EQ(Lines(Memo1()).back(), "Baudrate: cbr9600");
  termios2 t{};
  ASSERT_EQ(ioctl(pty.master(), TCGETS2, &t), 0);
  EXPECT_EQ(OutputSpeed(t), 9600u) << "applied to the open port at once";
}

TEST_F(Window, ErrorWordLinesInTheirFixedOrder) {
  auto& port = form->Port();
  port.OnError(&port, CE_RXOVER | CE_BREAK);
  EXPECT_EQ(Lines(Memo1()),
            (std::vector<std::string>{
                "The hardware detected a break condition.",
                "An input buffer overflow has occurred. There is either no",
                "room in the input buffer, or a character was received after",
                "the end-of-file (EOF) character."}));
  W<QPushButton>("Button1")->click();
  port.OnError(&port, CE_OOP | CE_MODE | CE_IOE);
  EXPECT_EQ(Lines(Memo1()),
            (std::vector<std::string>{
                "An I/O error occurred during communications with the device.",
                "The requested mode is not supported, or the hFile parameter",
                "is invalid. If this value is specified, it is the only valid error.",
                "Windows 95 only: A parallel device signaled that it is out of paper."}));
  port.OnError(&port, 0);
  port.OnError(&port, 0x10000);  // not a communication error flag
  EXPECT_EQ(Memo1()->LineCount(), 4);
}

TEST_F(Window, CheckMarksOutliveCloseAndOpen) {
  OpenDevice(pty.path());
  Click("DTRCheckBox");
  Click("BreakCheckBox");
  Click("BreakCheckBox");
  Click("CloseButton");
  EXPECT_TRUE(W<QCheckBox>("DTRCheckBox")->isChecked());
  EXPECT_FALSE(W<QCheckBox>("DTRCheckBox")->isEnabled());
  OpenDevice(pty.path());
  EXPECT_TRUE(W<QCheckBox>("DTRCheckBox")->isChecked());
  EXPECT_FALSE(W<QCheckBox>("BreakCheckBox")->isChecked());
}

TEST_F(Window, ClearEmptiesBothPanes) {
  OpenDevice("/dev/karolx-no");
  Memo2()->Add("record");
  Click("Button1");
  EXPECT_EQ(Memo1()->LineCount(), 0);
  EXPECT_EQ(Lines(Memo2()), std::vector<std::string>{""});
}

TEST(Memo, LinesWithinAFrameAreLaidOutTogether) {
  TMemo memo;
  memo.Add("first");  // a quiet pane shows a line at once
  EXPECT_EQ(memo.document()->blockCount(), 1);
  EXPECT_EQ(memo.document()->firstBlock().text(), "first");
  memo.Add("second");
  memo.Add("third");
  EXPECT_EQ(memo.document()->blockCount(), 1) << "gathered for the end of the frame";
  EXPECT_TRUE(QTest::qWaitFor([&] { return memo.document()->blockCount() == 3; }, 1000));
  memo.Add("fourth");
  memo.Clear();  // what was gathered goes with the rest
  memo.Add("");
  memo.Add("fifth");
  EXPECT_EQ(memo.LineCount(), 2);
  EXPECT_EQ(memo.Line(0), "");
  EXPECT_EQ(memo.Line(1), "fifth");
}

TEST_F(Window, StatusPaneKeepsTheNewestLines) {
  Memo1()->SetMaxLines(5);
  for (int i = 0; i < 12; ++i) form->Port().OnBreak(&form->Port());
  EXPECT_EQ(Memo1()->LineCount(), 5);
}

TEST_F(Window, RegionalSettingsAreReadAgainWhenTheSystemSaysTheyChanged) {
  EXPECT_EQ(DateText(), "2005-11-02");
  formats->Set(FormatItem::kShortDate, "dd.MM.yyyy");
  formats->Set(FormatItem::kDateSeparator, ".");
  EXPECT_EQ(DateText(), "2005-11-02") << "read once, not on every stamp";
  QEvent change(QEvent::LocaleChange);
  QApplication::sendEvent(form.get(), &change);
  EXPECT_EQ(DateText(), "02.11.2005");
}

TEST_F(Window, ClosingTheWindowClosesThePortWithoutALine) {
  OpenDevice(pty.path());
  ASSERT_TRUE(pty.Send("x"));  // a hand-over may be under way
  form.reset();
  TComm32 next;
  int32_t error = -1;
  next.OnOpen = [&](TCustomComm32*, int32_t, int32_t e) { error = e; };
  next.SetDeviceName(pty.path());
  next.Open();
  EXPECT_EQ(error, 0) << "the device was released";
}

TEST(ErrorBox, CaptionAndTextRules) {
  EXPECT_EQ(ApplicationTitle("/usr/local/bin/karolx"), "karolx");
  EXPECT_EQ(ApplicationTitle("C:/Programs/KAROLX.EXE"), "Karolx");
  EXPECT_EQ(ApplicationTitle("/opt/Data.Logger.bin"), "Data");
  EXPECT_EQ(ErrorBoxText("File not found"), "File not found.");
  EXPECT_EQ(ErrorBoxText("I/O error 28"), "I/O error 28.");
  EXPECT_EQ(ErrorBoxText("Done."), "Done.");
  EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!") << "'!' sorts before '.'";
  EXPECT_EQ(ErrorBoxText(""), "");
}

}  // namespace
