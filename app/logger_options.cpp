#include "app/logger_options.h"

#include <QCommandLineParser>

#include <algorithm>
#include <iterator>

namespace {

constexpr const char* kHelp = R"(Usage: karolx-log [options] DEVICE
Logs the records of one measuring device to a file, without a window: polls
it every 200 ms, appends each 34-byte record with its stamp and acknowledges
it once it is on disk.

DEVICE is a path (/dev/ttyUSB0, /dev/serial/by-id/...), a name under /dev
(ttyS1) or COMn.

  --log FILE          the log file (default: Karo.txt in the working directory;
                      created when missing)
  --baud RATE         110, 300, 600, 1200, 2400, 4800 (default), 9600, 14400,
                      19200, 38400, 56000, 57600, 115200, 128000 or 256000
  --databits N        5, 6, 7 or 8 (default 8)
  --parity P          none (default), odd, even, mark or space
  --stopbits S        1 (default), 1.5 or 2
  --stale-after SECS  say so when no record came for SECS seconds
                      (default 60; 0 turns it off)
  --no-reconnect      end with status 1 when the device is lost, instead of
                      waiting for it to come back
  --verbose           also print the lines that come with every poll
  --list              list the serial ports of this machine and end
  -h, --help          show this text
  -V, --version       show the version

Exit status: 0 after SIGTERM or SIGINT, 1 when the device cannot be opened
or is lost with --no-reconnect, 2 for bad usage.
)";

// The position of `value` in `names`, or nothing.
template <size_t N>
std::optional<int> IndexOf(const char* const (&names)[N], const QString& value) {
  const auto it = std::find(std::begin(names), std::end(names), value.toStdString());
  if (it == std::end(names)) return std::nullopt;
  return static_cast<int>(it - std::begin(names));
}

bool ToInt(const QString& text, int& value) {
  bool ok = false;
  value = text.toInt(&ok);
  return ok && value >= 0;
}

}  // namespace

TLoggerCommand ParseLoggerCommand(const QStringList& arguments) {
  using namespace async32;
  TLoggerCommand command;
  auto usage = [&](const QString& reason) {
    command.what = TLoggerCommand::Usage;
    command.text = reason.toStdString();
    return command;
  };
  QCommandLineParser parser;
  const QCommandLineOption help({"h", "help"}, ""), version({"V", "version"}, ""),
      log("log", "", "file"), baud("baud", "", "rate"), databits("databits", "", "n"),
      parity("parity", "", "p"), stopbits("stopbits", "", "s"), stale("stale-after", "", "secs"),
      noReconnect("no-reconnect", ""), verbose("verbose", ""), list("list", "");
  parser.addOptions(
      {help, version, log, baud, databits, parity, stopbits, stale, noReconnect, verbose, list});
  if (!parser.parse(arguments)) return usage(parser.errorText());
  if (parser.isSet(help)) return {TLoggerCommand::Help, {}, kHelp};
  if (parser.isSet(version)) return {TLoggerCommand::Version, {}, "karolx-log " KAROLX_VERSION "\n"};
  if (parser.isSet(list)) return {TLoggerCommand::List, {}, ""};

  TLoggerOptions& o = command.options;
  if (parser.positionalArguments().size() != 1) return usage("name one DEVICE");
  o.device = parser.positionalArguments()[0].toStdString();
  if (o.device.empty()) return usage("the DEVICE name is empty");
  if (parser.isSet(log)) o.logFile = parser.value(log).toStdString();
  if (o.logFile.empty()) return usage("the log file name is empty");

  static const char* const kRates[] = {"110",   "300",   "600",   "1200",   "2400",
                                       "4800",  "9600",  "14400", "19200",  "38400",
                                       "56000", "57600", "115200", "128000", "256000"};
  static const char* const kDatabits[] = {"4", "5", "6", "7", "8"};
  static const char* const kParities[] = {"none", "odd", "even", "mark", "space"};
  static const char* const kStopbits[] = {"1", "1.5", "2"};
  if (parser.isSet(baud)) {
    const auto i = IndexOf(kRates, parser.value(baud));
    if (!i) return usage("unsupported baud rate '" + parser.value(baud) + "'");
    o.baudRate = static_cast<TBaudRate>(*i);
  }
  if (parser.isSet(databits)) {
    const auto i = IndexOf(kDatabits, parser.value(databits));
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
  if (parser.isSet(stale) && !ToInt(parser.value(stale), o.staleAfter)) {
    return usage("--stale-after takes a whole number of seconds");
  }
  o.reconnect = !parser.isSet(noReconnect);
  o.verbose = parser.isSet(verbose);
  return command;
}
