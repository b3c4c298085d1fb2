// The window's start-up state, status lines, lists and error box: what
// needs no device, on every platform.

#include <QApplication>

#include "app/error_box.h"
#include "async32/comm_codes.h"
#include "async32/comm_records.h"
#include "udemo/pane_text.h"
#include "window_fixture.h"

namespace {

using namespace async32;
using Window = testing_support::WindowTest;

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

TEST_F(Window, ListChangesWriteTheirLineAndSetThePort) {
  W<QComboBox>("ParityCombo")->setCurrentIndex(1);  // from code: no line
  EXPECT_EQ(Memo1()->LineCount(), 0);
  Pick("DatabitsCombo", Qt::Key_Up);
  Pick("ParityCombo", Qt::Key_Down);
  Pick("StopBitsCombo", Qt::Key_End);
  Pick("BaudRateCombo", Qt::Key_Down);
  EXPECT_EQ(Lines(Memo1()), (std::vector<std::string>{"Databits: da7", "Parity: paEven",
                                                      "StopBits: sb20", "Baudrate: cbr9600"}));
  EXPECT_EQ(std::tuple(form->Port().Databits(), form->Port().Parity(), form->Port().Stopbits(),
                       form->Port().BaudRate()),
            std::tuple(da7, paEven, sb20, cbr9600));
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
