// karolx-log under load, each program in a process of its own: the records
// per second it logs while the simulator streams records back to back (the
// device's fastest pace), its CPU at the 256000-baud line rate, and its CPU
// while it waits for a device that is not there. The window's figures for
// the same loads come from bench_gui_throughput (gui_records_per_s and
// cpu_percent_at_256000_baud). When KAROLX_WINDOWS_APP names the Windows
// build's folder, karolx-log.exe under wine is measured beside it, its
// figures named with "_wine".
//
// Usage: bench_logger_throughput [--seconds S]

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

#include "bench_support.h"
#include "program_platform.h"

namespace {

using bench::SimulatorProgram;

struct Run {
  double recordsPerS;
  double cpuPercent;
};

// Runs the logger on the terminal `device` (on Windows mapped as a COM port)
// and measures over `seconds` after a warm-up.
Run Measure(const testing_support::Platform& on, const std::string& device,
            std::vector<std::string> options, int seconds) {
  QTemporaryDir dir;
  options.insert(options.begin(), {"--stale-after", "0"});
  options.push_back(on.Port(device));
  auto logger = on.Start(KAROLX_LOG_PROGRAM, options, dir.path().toStdString(), device);
  std::this_thread::sleep_for(std::chrono::seconds(2) + on.StartUp());
  testing_support::LogReader lines(dir.filePath("Karo.txt").toStdString());  // none where the device is missing
  const size_t linesBefore = lines.Poll();
  const double cpuBefore = logger->CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double cpu = logger->CpuSeconds() - cpuBefore;
  return {static_cast<double>(lines.Poll() - linesBefore) / seconds, 100 * cpu / seconds};
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.addOption({"seconds", "Length of each measured window (default 10).", "s", "10"});
  parser.process(app);
  const int seconds = static_cast<int>(bench::PositiveOption(parser, "seconds"));

  for (const testing_support::Platform on : {testing_support::Platform{}, {.windows = true}}) {
    if (on.Absent()) continue;
    const char* wine = on.windows ? "_wine" : "";
    {
      SimulatorProgram sim({KAROLX_SIM_PROGRAM, "--stream"});
      std::printf("logger_records_per_s%s=%.0f\n", wine, Measure(on, sim.path(), {}, seconds).recordsPerS);
    }
    {
      SimulatorProgram sim({KAROLX_SIM_PROGRAM, "--stream", "--pace"});
      const Run paced = Measure(on, sim.path(), {"--baud", "256000"}, seconds);
      std::printf("logger_records_per_s_at_256000_baud%s=%.0f\n", wine, paced.recordsPerS);
      std::printf("logger_cpu_percent_at_256000_baud%s=%.1f\n", wine, paced.cpuPercent);
    }
    std::printf("logger_idle_cpu_percent%s=%.2f\n", wine,
                Measure(on, "/dev/karolx-bench-missing", {}, seconds).cpuPercent);
  }
  return 0;
}
