#pragma once
// The command line of karolx-log, and the watchdog option karolx shares.

#include <QStringList>

#include <optional>
#include <string>

#include "async32/comm32_types.h"

struct TLoggerOptions {
  std::string device;
  std::string logFile = "Karo.txt";
  async32::TBaudRate baudRate = async32::cbr4800;
  async32::TDatabits databits = async32::da8;
  async32::TParity parity = async32::paNone;
  async32::TStopbits stopbits = async32::sb10;
  int staleAfter = 60;  // seconds; 0: no watchdog
  bool reconnect = true;
  bool verbose = false;
};

// What the command line asks for: a run with its options, the help or the
// version text, or nothing but a one-line reason why it is wrong.
struct TLoggerCommand {
  enum { Run, Help, Version, List, Usage } what = Run;
  TLoggerOptions options;
  std::string text;  // the help or version text, or the reason
};

TLoggerCommand ParseLoggerCommand(const QStringList& arguments);

// The rate, frame and parity of `options` in words, for a refused open.
std::string SettingsText(const TLoggerOptions& options);

// The watchdog's seconds: 0 (off) to the longest interval a Qt timer holds.
constexpr int kMaxStaleAfter = 2147483;
constexpr const char* kStaleAfterRange = "--stale-after takes 0 to 2147483 seconds";
std::optional<int> ParseStaleAfter(const QString& text);
