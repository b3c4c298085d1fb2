// The cost of putting an interval's records on disk before its "*": one
// tick's sync of Karo.txt after the records of the interval were appended,
// beside the appends themselves (the peer), on the file system of the
// working directory (or --dir).
//
// Usage: bench_log_sync [--dir DIR] [--ticks N]
// Prints name=value lines: append_us_p50, and for 1, 20 and 300 records per
// interval sync_us_p50 and sync_us_p99.

#include <unistd.h>

#include <QCoreApplication>
#include <QCommandLineParser>
#include <QDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "protocol/log_file.h"

namespace {

using bench::Clock;

double MicrosecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addOption({"dir", "Where the log file goes (default: the working directory).", "dir", "."});
  parser.addOption({"ticks", "Ticks measured per batch size (default 200).", "n", "200"});
  parser.process(app);
  const int ticks = static_cast<int>(bench::PositiveOption(parser, "ticks"));
  const std::string path =
      QDir(parser.value("dir")).filePath("bench_log_sync." + QString::number(getpid())).toStdString();
  std::ofstream(path, std::ios::binary);
  const std::string line = std::string(34, 'r') + " (2026-12-07 04:05:09)";

  TUnsyncedLog unsynced;
  std::vector<double> appends;
  for (int records : {1, 20, 300}) {
    std::vector<double> syncs;
    for (int tick = 0; tick < ticks; ++tick) {
      for (int r = 0; r < records; ++r) {
        const auto start = Clock::now();
        AppendLogLine(path, line, unsynced);
        appends.push_back(MicrosecondsSince(start));
      }
      const auto start = Clock::now();
      unsynced.Sync();
      syncs.push_back(MicrosecondsSince(start));
    }
    std::sort(syncs.begin(), syncs.end());
    std::printf("sync_%d_records_us_p50=%.0f\n", records, bench::Percentile(syncs, 0.50));
    std::printf("sync_%d_records_us_p99=%.0f\n", records, bench::Percentile(syncs, 0.99));
  }
  std::sort(appends.begin(), appends.end());
  std::printf("append_us_p50=%.1f\n", bench::Percentile(appends, 0.50));
  unlink(path.c_str());
  return 0;
}
