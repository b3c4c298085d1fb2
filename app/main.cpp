// karolx: a serial terminal and data logger for one measuring device.

#include <QApplication>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/app_icon.h"
#include "app/error_box.h"
#include "app/hand_over_wake.h"
#include "app/logger_options.h"
#include "app/open_hints.h"
#include "app/port_listing.h"
#include "app/quit_on_signals.h"
#include "async32/c32_thread.h"
#include "udemo/form1.h"

#include <cstdio>
#include <optional>
#include <string_view>

namespace {

constexpr const char* kHelp = R"(Usage: karolx [options]
Serial terminal and data logger for one measuring device: polls it every
200 ms, shows each 34-byte record with its stamp and appends it to Karo.txt
in the working directory (which must exist).

  --device NAME       put NAME into the device name field (at most 15
                      characters: a path, a name under /dev, or COMn)
  --open              open the device at start, as OPEN does
  --reconnect         wait for a device that went away or is not there, and
                      go on logging when it is back
  --stale-after SECS  say so when no record came for SECS seconds, 1 to
                      2147483 (0: never)
  --list              list the serial ports of this machine and end
  -h, --help          show this text
  -v, --version       show the version

karolx-log logs without a window; it takes device names of any length.
)";

// The device field holds this many characters; a longer name would be cut.
constexpr size_t kDeviceFieldLength = 15;

// What the program answers before it needs a display: help and version on
// standard output, and a refusal of a device name the field cannot hold.
std::optional<int> AnswerWithoutDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help" || arg == "-?") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "-v" || arg == "--version") {
      std::printf("karolx %s\n", KAROLX_VERSION);
      return 0;
    }
    if (arg == "--list") {
      PrintSerialPorts();
      return 0;
    }
    std::string_view name;
    if (arg == "--device" && i + 1 < argc) name = argv[i + 1];
    if (arg.starts_with("--device=")) name = arg.substr(9);
    if (name.size() > kDeviceFieldLength) {
      std::fprintf(stderr,
                   "karolx: the device field holds %zu characters, and '%.*s' is longer.\n"
                   "Use karolx-log, which takes any name, or a short symbolic link, such as\n"
                   "  ln -s %.*s /tmp/kx0   and then   karolx --device /tmp/kx0\n",
                   kDeviceFieldLength, static_cast<int>(name.size()), name.data(),
                   static_cast<int>(name.size()), name.data());
      return 2;
    }
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto answered = AnswerWithoutDisplay(argc, argv)) return *answered;
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName("org.karolx.Karolx");  // its icon and name on the desktop
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
  const auto staleSeconds = ParseStaleAfter(parser.value(staleAfter));
  if (parser.isSet(staleAfter) && !staleSeconds) {
    std::fprintf(stderr, "karolx: %s\nTry 'karolx --help' for more information.\n",
                 kStaleAfterRange);
    return 2;
  }

  // The monitor thread's hand-overs are served from the event loop.
  HandOverWake handOverWake;
  QuitOnSignals quitOnSignals;
  ErrorBox errorBox(ApplicationTitle(QCoreApplication::applicationFilePath()));
  async32::SetEventErrorHook([&errorBox](const std::string& message) { errorBox.Post(message); });

  int result = 0;
  {
    TForm1 form([&errorBox](const std::string& message) { errorBox.Show(message); });
    form.Poll().SetReconnect(parser.isSet(reconnect));
    form.Poll().SetStaleAfter(staleSeconds.value_or(0));
    if (parser.isSet(device)) form.findChild<QLineEdit*>("Edit1")->setText(parser.value(device));
    // A refused open gets a plain hint on standard error beside its status line.
    form.Port().OnOpen = [shown = form.Port().OnOpen](async32::TCustomComm32* port,
                                                      int32_t subType, int32_t error) {
      shown(port, subType, error);
      if (const std::string hint = OpenHint(port->DeviceName(), error); !hint.empty()) {
        std::fprintf(stderr, "karolx: %s\n", hint.c_str());
      }
    };
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
