// karolx: a serial terminal and data logger for one measuring device.

#include <QApplication>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/app_icon.h"
#include "app/error_box.h"
#include "app/hand_over_wake.h"
#include "app/quit_on_signals.h"
#include "async32/c32_thread.h"
#include "udemo/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("karolx");
  QApplication::setApplicationVersion(KAROLX_VERSION);

  QCommandLineParser parser;
  parser.setApplicationDescription("Serial terminal and data logger for one measuring device.");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption device("device", "Put NAME into the device name field at start.", "NAME");
  parser.addOption(device);
  const QCommandLineOption open("open", "Open the device at start, as OPEN does: logging starts unattended.");
  parser.addOption(open);
  const QCommandLineOption reconnect("reconnect", "Wait for a device that went away or is not there, and go on logging when it is back.");
  parser.addOption(reconnect);
  const QCommandLineOption staleAfter("stale-after", "Say so when no record came for SECS seconds.", "SECS");
  parser.addOption(staleAfter);
  parser.process(app);

  // The monitor thread's hand-overs are served from the event loop.
  HandOverWake handOverWake;
  QuitOnSignals quitOnSignals;
  ErrorBox errorBox(ApplicationTitle(QCoreApplication::applicationFilePath()));
  async32::SetEventErrorHook([&errorBox](const std::string& message) { errorBox.Post(message); });

  int result = 0;
  {
    TForm1 form([&errorBox](const std::string& message) { errorBox.Show(message); });
    form.Poll().SetReconnect(parser.isSet(reconnect));
    form.Poll().SetStaleAfter(parser.value(staleAfter).toInt());
    if (parser.isSet(device)) form.findChild<QLineEdit*>("Edit1")->setText(parser.value(device));
    if (parser.isSet(open)) form.findChild<QPushButton*>("OpenButton")->click();
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
