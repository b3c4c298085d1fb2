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

#include <cstdio>
#include <thread>

#include "bench_support.h"
#include "program_run.h"

namespace {

using bench::SimulatorProgram;

struct Run {
  double recordsPerS;
  double cpuPercent;
};

// Runs the logger on `device` and measures over `seconds` after a warm-up.
Run Measure(const std::string& device, const std::vector<std::string>& options, int seconds) {
  QTemporaryDir dir;
  const std::string log = dir.filePath("Karo.txt").toStdString();
  std::vector<std::string> arguments{KAROLX_LOG_PROGRAM, "--log", log, "--stale-after", "0"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.push_back(device);
  testing_support::ProgramRun logger(arguments, dir.path().toStdString());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  testing_support::LogReader lines(log);  // none where the device is missing
  const size_t linesBefore = lines.Poll();
  const double cpuBefore = logger.CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = logger.CpuSeconds() - cpuBefore;
  return {static_cast<double>(lines.Poll() - linesBefore) / seconds, 100 * cpu / seconds};
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addOption({"seconds", "Length of each measured window (default 10).", "s", "10"});
  parser.process(app);
  const int seconds = static_cast<int>(bench::PositiveOption(parser, "seconds"));

  {
    SimulatorProgram sim({KAROLX_SIM_PROGRAM, "--stream"});
    std::printf("logger_records_per_s=%.0f\n", Measure(sim.path(), {}, seconds).recordsPerS);
  }
  {
    SimulatorProgram sim({KAROLX_SIM_PROGRAM, "--stream", "--pace"});
    const Run paced = Measure(sim.path(), {"--baud", "256000"}, seconds);
    std::printf("logger_records_per_s_at_256000_baud=%.0f\n", paced.recordsPerS);
    std::printf("logger_cpu_percent_at_256000_baud=%.1f\n", paced.cpuPercent);
  }
  std::printf("logger_idle_cpu_percent=%.2f\n",
              Measure("/dev/karolx-bench-missing", {}, seconds).cpuPercent);
  return 0;
}
