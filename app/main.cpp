// karolx: a serial terminal and data logger for one measuring device.

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/app_icon.h"
#include "app/error_box.h"
#include "app/hand_over_wake.h"
#include "app/command_line.h"
#include "app/open_hints.h"
#include "app/quit_on_signals.h"
#include "async32/c32_thread.h"
#include "udemo/form1.h"

#include <cstdio>

namespace {

// The arguments as the program got them, before Qt takes its own out.
QStringList Arguments(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  return arguments;
}

// Shows a setting from the command line in its list, as the operator's pick.
void Pick(TForm1& form, const char* list, int ordinal) {
  form.findChild<QComboBox*>(list)->setCurrentIndex(ordinal);
}

}  // namespace

int main(int argc, char** argv) {
  const TCommand command = ParseCommand(TProgram::Window, Arguments(argc, argv));
  if (command.what != TCommand::Run) return AnswerCommand(TProgram::Window, command);
  const TCommandOptions& o = command.options;
#ifdef Q_OS_WIN
  // Under wine, text that Qt draws through GDI stays blank in line edits (the
  // device name); DirectWrite, the system's newer text engine, draws it there
  // and on Windows alike. A -platform argument still chooses otherwise.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "windows:fontengine=directwrite");
  }
#endif
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName("org.karolx.Karolx");  // its icon and name on the desktop
  QApplication::setApplicationName("karolx");
  QApplication::setApplicationVersion(KAROLX_VERSION);

  // The monitor thread's hand-overs are served from the event loop.
  HandOverWake handOverWake;
  QuitOnSignals quitOnSignals;
  ErrorBox errorBox(ApplicationTitle(QCoreApplication::applicationFilePath()));
  async32::SetEventErrorHook([&errorBox](const std::string& message) { errorBox.Post(message); });

  int result = 0;
  {
    TForm1 form([&errorBox](const std::string& message) { errorBox.Show(message); });
    form.Poll().SetReconnect(o.reconnect);
    form.Poll().SetStaleAfter(o.staleAfter);
    if (!o.device.empty()) form.findChild<QLineEdit*>("Edit1")->setText(QString::fromStdString(o.device));
    Pick(form, "BaudRateCombo", o.baudRate);
    Pick(form, "DatabitsCombo", o.databits);
    Pick(form, "ParityCombo", o.parity);
    Pick(form, "StopBitsCombo", o.stopbits);
    form.Port().SetBaudRate(o.baudRate);
    form.Port().SetDatabits(o.databits);
    form.Port().SetParity(o.parity);
    form.Port().SetStopbits(o.stopbits);
    // The error box shows a log error by its code's text; standard error
    // gets the file and the reason.
    form.Poll().OnLogError = [](const std::string& detail) {
      std::fprintf(stderr, "karolx: log file %s\n", detail.c_str());
    };
    // Why an open failed goes to the status pane, and a copy to standard error.
    form.Poll().OnOpenHint = [](const std::string& device, int32_t error) {
      const std::string hint = OpenHint(device, error);
      if (!hint.empty()) std::fprintf(stderr, "karolx: %s\n", hint.c_str());
      return hint;
    };
    if (o.open) form.findChild<QPushButton*>("OpenButton")->click();
    form.setWindowIcon(AppIcon());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      form.move(screen->availableGeometry().center() - form.rect().center());
    }
    form.show();
    result = QApplication::exec();
  }  // the window closes its port before its controls go
  async32::SetEventErrorHook(nullptr);
  return result;
}
