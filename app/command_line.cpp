#include "app/command_line.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <type_traits>

#include "app/port_listing.h"

namespace {

constexpr const char* kSettingsHelp =
    R"(  -b, --baud RATE       110, 300, 600, 1200, 2400, 4800 (default), 9600, 14400,
                        19200, 38400, 56000, 57600, 115200, 128000 or 256000
  -d, --databits N      5, 6, 7 or 8 (default 8)
  -p, --parity P        none (default), odd, even, mark or space
  -s, --stopbits S      1 (default), 1.5 (with 5 data bits) or 2 (with 6, 7
                        or 8 data bits)
)";

constexpr const char* kWindowHelp = R"(Usage: karolx [options]
Serial terminal and data logger for one measuring device: polls it every
200 ms, shows each 34-byte record with its stamp and appends it to Karo.txt
in the working directory (which must exist).

      --device NAME     put NAME into the device name field (at most 15
                        characters: a path, a name under /dev, or COMn)
      --open            open the device at start, as OPEN does
%s      --reconnect       wait for a device that went away or is not there, and
                        go on logging when it is back
      --stale-after SECS
                        say so when no record came for SECS seconds, 1 to
                        2147483 (0: never)
  -l, --list            list the serial ports of this machine and end
  -h, --help            show this text
  -V, --version         show the version

Qt's own options (-platform, -style, ...) go to Qt. karolx-log logs without a
window; it takes device names of any length.

Exit status: 0 when the window is closed or after SIGTERM, SIGINT or SIGHUP;
2 for bad usage.
)";

constexpr const char* kLoggerHelp = R"(Usage: karolx-log [options] DEVICE
Logs the records of one measuring device to a file, without a window: polls
it every 200 ms, appends each 34-byte record with its stamp and acknowledges
it once it is on disk.

DEVICE is a path (/dev/ttyUSB0, /dev/serial/by-id/...), a name under /dev
(ttyS1) or COMn.

  -L, --log FILE        the log file (default: Karo.txt in the working
                        directory; made when missing, and again when it was
                        renamed or removed)
%s      --stale-after SECS
                        say so when no record came for SECS seconds, 1 to
                        2147483 (default 60; 0 turns it off)
      --no-reconnect    end with status 1 when the device is missing, refused
                        or lost, instead of waiting for it
      --verbose         also print the lines that come with every poll
  -l, --list            list the serial ports of this machine and end
  -h, --help            show this text
  -V, --version         show the version

Exit status: 0 after SIGTERM, SIGINT or SIGHUP; 1 when the device refuses the
settings, or with --no-reconnect when it cannot be opened or is lost; 2 for
bad usage.
)";

// The device field of the window holds this many characters.
constexpr size_t kDeviceFieldLength = 15;

// The names of the settings on the command line, in the component's order;
// rates and data bits are the component's own numbers.
constexpr const char* const kParities[] = {"none", "odd", "even", "mark", "space"};
constexpr const char* const kStopbits[] = {"1", "1.5", "2"};
static_assert(std::size(kParities) == async32::kParityCount);
static_assert(std::size(kStopbits) == async32::kStopbitsCount);

// The position of `value` in `values` (numbers or names), or nothing.
template <typename T, size_t N>
std::optional<int> IndexOf(const T (&values)[N], const QString& value) {
  for (size_t i = 0; i < N; ++i) {
    if constexpr (std::is_integral_v<T>) {
      if (QString::number(values[i]) == value) return static_cast<int>(i);
    } else if (value == values[i]) {
      return static_cast<int>(i);
    }
  }
  return std::nullopt;
}

// Qt's own options of a windowed program, with the values they take; the
// window's QApplication reads them.
QStringList WithoutQtOptions(const QStringList& arguments) {
  static const QStringList kWithValue = {"-platform", "-platformpluginpath", "-style",
                                         "-stylesheet", "-display", "-qwindowgeometry",
                                         "-qwindowtitle", "-qwindowicon"};
  QStringList ours;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    if (i > 0 && kWithValue.contains(arguments[i])) {
      ++i;
    } else if (i == 0 || arguments[i] != "-reverse") {
      ours << arguments[i];
    }
  }
  return ours;
}

const char* Name(TProgram program) { return program == TProgram::Window ? "karolx" : "karolx-log"; }

}  // namespace

TCommand ParseCommand(TProgram program, const QStringList& arguments) {
  using namespace async32;
  const bool window = program == TProgram::Window;
  TCommand command;
  auto usage = [&](const QString& reason) {
    command.what = TCommand::Usage;
    command.text = reason.toStdString();
    return command;
  };
  QCommandLineParser parser;
  const QCommandLineOption help({"h", "help"}, ""), version({"V", "version"}, ""),
      list({"l", "list"}, ""), baud({"b", "baud"}, "", "rate"), databits({"d", "databits"}, "", "n"),
      parity({"p", "parity"}, "", "p"), stopbits({"s", "stopbits"}, "", "s"),
      stale("stale-after", "", "secs"), log({"L", "log"}, "", "file"), device("device", "", "name"),
      open("open", ""), reconnect("reconnect", ""), noReconnect("no-reconnect", ""),
      verbose("verbose", "");
  parser.addOptions({help, version, list, baud, databits, parity, stopbits, stale});
  if (window) {
    parser.addOptions({device, open, reconnect});
  } else {
    parser.addOptions({log, noReconnect, verbose});
  }
  if (!parser.parse(window ? WithoutQtOptions(arguments) : arguments)) {
    return usage(parser.errorText());
  }
  if (parser.isSet(help)) {
    command.what = TCommand::Help;
    command.text = QString::asprintf(window ? kWindowHelp : kLoggerHelp, kSettingsHelp).toStdString();
    return command;
  }
  if (parser.isSet(version)) {
    command.what = TCommand::Version;
    command.text = std::string(Name(program)) + " " KAROLX_VERSION "\n";
    return command;
  }
  if (parser.isSet(list)) {
    command.what = TCommand::List;
    return command;
  }

  TCommandOptions& o = command.options;
  const QStringList positional = parser.positionalArguments();
  if (window) {
    if (!positional.isEmpty()) return usage("unexpected argument '" + positional[0] + "'");
    o.device = parser.value(device).toStdString();
    if (o.device.size() > kDeviceFieldLength) {
      return usage(QString("the device field holds %1 characters; for '%2' use karolx-log, or a "
                           "short link to it (ln -s %2 /tmp/kx0)")
                       .arg(kDeviceFieldLength)
                       .arg(parser.value(device)));
    }
    o.open = parser.isSet(open);
    o.reconnect = parser.isSet(reconnect);
  } else {
    if (positional.size() != 1) return usage("name one DEVICE");
    o.device = positional[0].toStdString();
    if (o.device.empty()) return usage("the DEVICE name is empty");
    if (parser.isSet(log)) o.logFile = parser.value(log).toStdString();
    if (o.logFile.empty()) return usage("the log file name is empty");
    o.reconnect = !parser.isSet(noReconnect);
    o.verbose = parser.isSet(verbose);
    o.staleAfter = 60;
  }
  if (parser.isSet(baud)) {
    const auto i = IndexOf(kBaudRateCodes, parser.value(baud));
    if (!i) return usage("unsupported baud rate '" + parser.value(baud) + "'");
    o.baudRate = static_cast<TBaudRate>(*i);
  }
  if (parser.isSet(databits)) {
    const auto i = IndexOf(kDatabitsCodes, parser.value(databits));
    if (!i || *i == da4) return usage("data bits must be 5, 6, 7 or 8");
    o.databits = static_cast<TDatabits>(*i);
  }
  if (parser.isSet(parity)) {
    const auto i = IndexOf(kParities, parser.value(parity));
    if (!i) return usage("parity must be none, odd, even, mark or space");
    o.parity = static_cast<TParity>(*i);
  }
  if (parser.isSet(stopbits)) {
    const auto i = IndexOf(kStopbits, parser.value(stopbits));
    if (!i) return usage("stop bits must be 1, 1.5 or 2");
    o.stopbits = static_cast<TStopbits>(*i);
  }
  // No UART sends these frames; a device would refuse them at every open.
  if (o.stopbits == sb15 && o.databits != da5) return usage("1.5 stop bits go with 5 data bits only");
  if (o.stopbits == sb20 && o.databits == da5) return usage("2 stop bits need 6, 7 or 8 data bits");
  if (parser.isSet(stale)) {
    bool ok = false;
    o.staleAfter = parser.value(stale).toInt(&ok);
    if (!ok || o.staleAfter < 0 || o.staleAfter > kMaxStaleAfter) {
      return usage("--stale-after takes 0 to 2147483 seconds");
    }
  }
  return command;
}

int AnswerCommand(TProgram program, const TCommand& command) {
  switch (command.what) {
    case TCommand::Help:
    case TCommand::Version:
      std::fputs(command.text.c_str(), stdout);
      return 0;
    case TCommand::List:
      PrintSerialPorts();
      return 0;
    case TCommand::Usage:
    case TCommand::Run:
      break;
  }
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", Name(program),
               command.text.c_str(), Name(program));
  return 2;
}

std::string SettingsText(const TCommandOptions& o) {
  return std::to_string(async32::kBaudRateCodes[o.baudRate]) + " baud, " +
         std::to_string(async32::kDatabitsCodes[o.databits]) + " data bits, " +
         (o.parity == async32::paNone ? "no" : kParities[o.parity]) + " parity, " +
         kStopbits[o.stopbits] + (o.stopbits == async32::sb10 ? " stop bit" : " stop bits");
}
