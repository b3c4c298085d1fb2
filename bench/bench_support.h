#pragma once
// What the benchmark programs share: failing setup, process figures,
// percentiles, options, name=value lines, a log file followed as it grows,
// the simulator program and serving the event loop.

#include <errno.h>
#include <time.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <concepts>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "log_reader.h"
#include "program_run.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// The benchmark cannot run: says why and ends with exit code 2.
[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what.c_str());
  std::exit(2);
}

inline double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A field of /proc/self/status in its own unit (kB for memory).
inline long StatusField(const char* name) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(name) + ":";
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  Fail(std::string("no ") + name + " in /proc/self/status");
}

// Nearest-rank percentile of sorted values.
inline double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

// Reads the command line: --help and `options`; bad usage ends the program
// with the parser's message.
inline void ParseOptions(QCommandLineParser& parser, const char* description,
                         const QList<QCommandLineOption>& options) {
  parser.setApplicationDescription(description);
  parser.addHelpOption();
  parser.addOptions(options);
  parser.process(*QCoreApplication::instance());
}

inline double PositiveOption(const QCommandLineParser& parser, const QString& name) {
  bool ok = false;
  const double value = parser.value(name).toDouble(&ok);
  if (!ok || value <= 0) Fail("--" + name.toStdString() + " needs a positive number");
  return value;
}
inline Clock::duration DurationOption(const QCommandLineParser& parser, const QString& name) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(PositiveOption(parser, name)));
}

// A figure with `decimals` places, or a count.
inline void Print(const std::string& name, double value, int decimals = 1) {
  std::printf("%s=%.*f\n", name.c_str(), decimals, value);
  std::fflush(stdout);
}
template <std::integral T>
void Print(const std::string& name, T value) {
  std::printf("%s=%s\n", name.c_str(), std::to_string(value).c_str());
  std::fflush(stdout);
}

// A log file followed as it grows; one that cannot be read ends the run.
class FollowedLog : public testing_support::LogReader {
 public:
  explicit FollowedLog(const std::string& path) : LogReader(path) {
    if (!ok()) Fail("cannot read " + path);
  }
};

// karolx-sim in a directory of its own, on the pseudo-terminal whose path it
// prints first, stopped as a user stops it; `argv` names the program first.
// One that prints no path ends the run.
class SimulatorProgram {
 public:
  explicit SimulatorProgram(const std::vector<std::string>& argv)
      : run_(argv, dir_.path().toStdString()) {
    for (int tries = 0; tries < 1000 && path_.empty(); ++tries) {
      const std::string out = run_.Output();
      if (out.find('\n') == std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      } else {
        path_ = out.substr(0, out.find('\n'));
      }
    }
    if (path_.empty()) Fail(argv[0] + " printed no terminal path");
  }
  ~SimulatorProgram() {
    run_.Stop(SIGTERM);
    std::fputs(run_.Errors().c_str(), stderr);  // its summary
  }
  const std::string& path() const { return path_; }

 private:
  QTemporaryDir dir_;
  testing_support::ProgramRun run_;
  std::string path_;
};

// Serves the event loop for `duration` (a coarse timer, Qt's default for
// long ones, may end 5% early).
inline void RunFor(Clock::duration duration) {
  QEventLoop loop;
  QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(duration),
                     Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

// Serves the event loop until `done` holds, looking every `period`; false
// when `timeout` passed first.
inline bool RunUntil(const std::function<bool()>& done, Clock::duration timeout,
                     std::chrono::milliseconds period = std::chrono::milliseconds(50)) {
  const auto deadline = Clock::now() + timeout;
  bool timedOut = false;
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    timedOut = Clock::now() > deadline;
    if (timedOut || done()) loop.quit();
  });
  check.start(period);
  if (!done()) loop.exec();
  return !timedOut;
}

}  // namespace bench
