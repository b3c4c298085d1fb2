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
  --stopbits S        1 (default), 1.5 (with 5 data bits) or 2 (with 6, 7
                      or 8 data bits)
  --stale-after SECS  say so when no record came for SECS seconds, 1 to
                      2147483 (default 60; 0 turns it off)
  --no-reconnect      end with status 1 when the device is lost, instead of
                      waiting for it to come back
  --verbose           also print the lines that come with every poll
  --list              list the serial ports of this machine and end
  -h, --help          show this text
  -V, --version       show the version

Exit status: 0 after SIGTERM or SIGINT; 1 when the device refuses the
settings, or cannot be opened or is lost with --no-reconnect; 2 for bad usage.
)";

// The position of `value` in `names`, or nothing.
template <size_t N>
std::optional<int> IndexOf(const char* const (&names)[N], const QString& value) {
  const auto it = std::find(std::begin(names), std::end(names), value.toStdString());
  if (it == std::end(names)) return std::nullopt;
  return static_cast<int>(it - std::begin(names));
}

constexpr const char* const kRates[] = {"110",   "300",   "600",    "1200",   "2400",
                                        "4800",  "9600",  "14400",  "19200",  "38400",
                                        "56000", "57600", "115200", "128000", "256000"};
constexpr const char* const kDatabits[] = {"4", "5", "6", "7", "8"};
constexpr const char* const kParities[] = {"none", "odd", "even", "mark", "space"};
constexpr const char* const kStopbits[] = {"1", "1.5", "2"};

}  // namespace

std::optional<int> ParseStaleAfter(const QString& text) {
  bool ok = false;
  const int seconds = text.toInt(&ok);
  if (!ok || seconds < 0 || seconds > kMaxStaleAfter) return std::nullopt;
  return seconds;
}

std::string SettingsText(const TLoggerOptions& o) {
  return std::string(kRates[o.baudRate]) + " baud, " + kDatabits[o.databits] + " data bits, " +
         (o.parity == async32::paNone ? "no" : kParities[o.parity]) + " parity, " +
         kStopbits[o.stopbits] + (o.stopbits == async32::sb10 ? " stop bit" : " stop bits");
}

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
  // No UART sends these frames; a device would refuse them at every open.
  if (o.stopbits == sb15 && o.databits != da5) return usage("1.5 stop bits go with 5 data bits only");
  if (o.stopbits == sb20 && o.databits == da5) return usage("2 stop bits need 6, 7 or 8 data bits");
  if (parser.isSet(stale)) {
    const auto seconds = ParseStaleAfter(parser.value(stale));
    if (!seconds) return usage(kStaleAfterRange);
    o.staleAfter = *seconds;
  }
  o.reconnect = !parser.isSet(noReconnect);
  o.verbose = parser.isSet(verbose);
  return command;
}
