#pragma once
// The command line of karolx and karolx-log, one convention for both:
// -h/--help and -V/--version answer on standard output with status 0; bad
// usage is one line naming the problem and a hint to --help on standard
// error, status 2. Short options for the common settings, as serial tools
// spell them. Parsed before anything needs a display.

#include <QStringList>

#include <optional>
#include <string>

#include "async32/comm32_types.h"

enum class TProgram { Window, Logger };

struct TCommandOptions {
  std::string device;  // karolx: --device; karolx-log: DEVICE
  std::string logFile = "Karo.txt";
  async32::TBaudRate baudRate = async32::cbr4800;
  async32::TDatabits databits = async32::da8;
  async32::TParity parity = async32::paNone;
  async32::TStopbits stopbits = async32::sb10;
  int staleAfter = 0;  // seconds; 0: no watchdog
  bool open = false;
  bool reconnect = false;
  bool verbose = false;
};

// What the command line asks for: a run with its options, the help or the
// version text, the port list, or nothing but a one-line reason why it is wrong.
struct TCommand {
  enum { Run, Help, Version, List, Usage } what = Run;
  TCommandOptions options;
  std::string text;  // the help or version text, or the reason
};

TCommand ParseCommand(TProgram program, const QStringList& arguments);

// Answers a command that is not Run (help, version, port list, bad usage)
// and returns the exit status.
int AnswerCommand(TProgram program, const TCommand& command);

// The rate, frame and parity of `options` in words, for a refused open.
std::string SettingsText(const TCommandOptions& options);

// The watchdog's seconds: 0 (off) to the longest interval a Qt timer holds.
constexpr int kMaxStaleAfter = 2147483;
