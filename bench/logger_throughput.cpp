// karolx-log under load, each program in a process of its own: the records
// per second it logs while the simulator streams records back to back (the
// device's fastest pace), its CPU at the 256000-baud line rate, and its CPU
// while it waits for a device that is not there. The window's figures for
// the same loads come from bench_gui_throughput (gui_records_per_s and
// cpu_percent_at_256000_baud).
//
// Usage: bench_logger_throughput [--seconds S]

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <fstream>
#include <thread>

#include "bench_processes.h"
#include "bench_support.h"
#include "process_cpu.h"

namespace {

using bench::SimProcess;
using testing_support::ProcessCpuSeconds;

struct Run {
  double recordsPerS;
  double cpuPercent;
};

// Runs the logger on `device` and measures over `seconds` after a warm-up.
Run Measure(const std::string& device, const std::vector<std::string>& options, int seconds) {
  QTemporaryDir dir;
  const std::string log = dir.filePath("Karo.txt").toStdString();
  std::vector<std::string> arguments{"--log", log, "--stale-after", "0"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.push_back(device);
  SimProcess logger(KAROLX_LOG_PROGRAM, arguments, false);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  // Each read of the log counts the lines added since the one before.
  std::ifstream in(log, std::ios::binary);
  auto newLines = [&in] {
    in.clear();
    return std::count(std::istreambuf_iterator<char>(in), {}, '\n');
  };
  newLines();
  const double cpuBefore = ProcessCpuSeconds(logger.pid());
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = ProcessCpuSeconds(logger.pid()) - cpuBefore;
  return {static_cast<double>(newLines()) / seconds, 100 * cpu / seconds};
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addOption({"seconds", "Length of each measured window (default 10).", "s", "10"});
  parser.process(app);
  const int seconds = static_cast<int>(bench::PositiveOption(parser, "seconds"));

  {
    SimProcess sim(KAROLX_SIM_PROGRAM, {"--stream"});
    std::printf("logger_records_per_s=%.0f\n", Measure(sim.path(), {}, seconds).recordsPerS);
  }
  {
    SimProcess sim(KAROLX_SIM_PROGRAM, {"--stream", "--pace"});
    const Run paced = Measure(sim.path(), {"--baud", "256000"}, seconds);
    std::printf("logger_records_per_s_at_256000_baud=%.0f\n", paced.recordsPerS);
    std::printf("logger_cpu_percent_at_256000_baud=%.1f\n", paced.cpuPercent);
  }
  std::printf("logger_idle_cpu_percent=%.2f\n",
              Measure("/dev/karolx-bench-missing", {}, seconds).cpuPercent);
  return 0;
}
