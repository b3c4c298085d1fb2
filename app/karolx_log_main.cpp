// karolx-log: the data logger without a window, for a lab that logs its
// instrument for weeks as a service. The same polling protocol as the
// window's; its status lines go to standard output, one per event.

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>

#include "app/hand_over_wake.h"
#include "app/command_line.h"
#include "app/open_hints.h"
#include "app/quit_on_signals.h"
#include "async32/comm32.h"
#include "async32/errors.h"
#include "async32/comm_codes.h"
#include "async32/comm_records.h"
#include "protocol/log_file.h"
#include "protocol/poll_protocol.h"

namespace {

// Prints status lines. An error that repeats with every poll (a wrong rate
// gives a framing error each time, a full disk fails each append) is printed
// once a minute, so that a service's journal is not flooded.
class StatusPrinter {
 public:
  explicit StatusPrinter(bool verbose) : verbose_(verbose) {}
  void operator()(const std::string& line, TStatusKind kind) {
    if (kind == TStatusKind::Routine && !verbose_) return;
    if (kind == TStatusKind::Error) {
      const auto now = std::chrono::steady_clock::now();
      auto [last, first] = printed_.try_emplace(line, now);
      if (!first && now - last->second < std::chrono::minutes(1)) return;
      last->second = now;
    }
    std::printf("%s\n", line.c_str());
  }

 private:
  bool verbose_;
  std::map<std::string, std::chrono::steady_clock::time_point> printed_;
};

// The log file must exist for the append; the logger makes an empty one.
bool EnsureLogFile(const std::string& path) {
  try {
    bool created = false;
    TLogFileHandle(path, true, created);
    if (created) std::printf("Log file created: %s\n", path.c_str());
    return true;
  } catch (const EInOutError& e) {
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored)) return true;  // the append will say why it fails
    std::printf("Cannot create the log file %s\n", LogErrorDetail(path, e).c_str());
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // a line reaches the journal at once
  const TCommand command = ParseCommand(TProgram::Logger, QCoreApplication::arguments());
  if (command.what != TCommand::Run) return AnswerCommand(TProgram::Logger, command);
  const TCommandOptions& o = command.options;
  if (!EnsureLogFile(o.logFile)) return 1;

  HandOverWake handOverWake;
  QuitOnSignals quitOnSignals;
  async32::TComm32 port;
  TPollProtocol protocol(port);
  ApplyProtocolSettings(port);
  port.SetDeviceName(o.device);
  port.SetBaudRate(o.baudRate);
  port.SetDatabits(o.databits);
  port.SetParity(o.parity);
  port.SetStopbits(o.stopbits);
  protocol.SaveDialog1.FileName = o.logFile;
  protocol.SetReconnect(o.reconnect);
  protocol.SetCreateLog(true);
  protocol.SetStaleAfter(o.staleAfter);
  StatusPrinter print(o.verbose);
  protocol.OnStatus = [&print](const std::string& line, TStatusKind kind) { print(line, kind); };

  // An error of the log is printed in words, with the file; the protocol has
  // already seen to it that nothing unlogged is acknowledged.
  protocol.OnLogError = [&print](const std::string& detail) { print(detail, TStatusKind::Error); };
  auto logged = [](auto&& step) {
    try {
      step();
    } catch (const EInOutError&) {
    }
  };
  protocol.OnOpenHint = [](const std::string& device, int32_t error) {
    return OpenHint(device, error);
  };
  port.OnOpen = [&](async32::TCustomComm32*, int32_t subType, int32_t error) {
    protocol.Opened(subType, error);
    // A device that opened but refused the settings will refuse them again:
    // say so and end, and leave the device to others.
    if (error != 0 && port.IsOpen()) {
      std::printf("Settings refused by %s: %s (%s)\n", o.device.c_str(), SettingsText(o).c_str(),
                  async32::ErrorText(error).c_str());
      QCoreApplication::exit(1);
    }
    if (error != 0 && !o.reconnect) QCoreApplication::exit(1);
  };
  port.OnBreak = [&](async32::TCustomComm32*) { protocol.Break(); };
  port.OnTxEmpty = [&](async32::TCustomComm32*) { protocol.TxEmpty(); };
  port.OnError = [&](async32::TCustomComm32*, int32_t errors) {
    protocol.LineErrors(errors);
    if ((errors & async32::CE_IOE) && !o.reconnect) QCoreApplication::exit(1);
  };
  port.OnRxChar = [&](async32::TCustomComm32*, int32_t count) {
    logged([&] { protocol.Received(count); });
  };
  QObject::connect(&protocol.Timer(), &QTimer::timeout, [&] { logged([&] { protocol.Tick(); }); });

  // Opened from the event loop, so that an open that fails can end it.
  QMetaObject::invokeMethod(&app, [&port] { port.Open(); }, Qt::QueuedConnection);
  const int status = QCoreApplication::exec();
  port.Destroying();
  protocol.Timer().stop();
  port.Close();
  return status;
}
