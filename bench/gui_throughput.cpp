// The whole receive path under load: the real window on Qt's offscreen
// platform, the real component, the device simulator streaming records back
// to back on a pseudo-terminal, and the log file Karo.txt in a temporary
// directory. Measures
//   - records per second sustained with every record drawn and logged, and
//     the simulator's own ceiling with a plain reader in its place (the peer);
//   - the window process's CPU at the line rate of 256000 baud (the simulator
//     runs as its own process, so the process's CPU is the window's alone);
//   - resident memory after each eighth of --records records (unpaced), and
//     the status pane's line count at half and at all of them;
//   - the time from a record's last byte leaving the simulator to its line
//     being in Karo.txt, at the 256000-baud line rate (the simulator runs in
//     this process so that its writes can be stamped), for the window and for
//     two peers that log the same records: a plain poll() reader thread (the
//     floor) and the component without the window.
//
// Usage: bench_gui_throughput [--records N] [--seconds S] [--warm-up S] [--sim PATH]
//                             [--parts ceiling,unpaced,paced,floor,component,latency]

#include <asm/termbits.h>  // termios2, for a line rate without a B constant
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "async32/comm32.h"
#include "bench_support.h"
#include "bench_window.h"
#include "device_simulator.h"
#include "protocol/log_file.h"

namespace {

using bench::Clock;
using bench::CpuSeconds;
using bench::Fail;
using bench::FollowedLog;
using bench::LogFile;
using bench::Percentile;
using bench::Print;
using bench::RunFor;
using bench::RunUntil;
using bench::SimulatorProgram;
using bench::Window;
using Seconds = std::chrono::duration<double>;

constexpr auto kFirstRecordTimeout = std::chrono::seconds(10);
// A stream that makes no progress for this long has stopped.
constexpr auto kStallTimeout = std::chrono::seconds(10);
// After the latency window, records still on their way get this long to arrive.
constexpr auto kDrainTime = std::chrono::milliseconds(500);
constexpr char kLineRateChoice[] = "cbr256000";
constexpr unsigned kLineRate = 256000;
constexpr size_t kRecordSize = devsim::DeviceSimulator::kRecordSize;

// The process's CPU, the user-interface thread's share of it and the log's
// line count at one moment.
struct Sample {
  Clock::time_point at;
  size_t records;
  double cpu;
  double uiCpu;
};

Sample Take(FollowedLog& log) {
  return {Clock::now(), log.Poll(), CpuSeconds(CLOCK_PROCESS_CPUTIME_ID),
          CpuSeconds(CLOCK_THREAD_CPUTIME_ID)};
}

struct Interval {
  double seconds, records, recordsPerS, cpuPercent, uiCpuPercent;
};

Interval Between(const Sample& a, const Sample& b) {
  const double seconds = Seconds(b.at - a.at).count();
  const auto records = static_cast<double>(b.records - a.records);
  return {seconds, records, records / seconds, 100 * (b.cpu - a.cpu) / seconds,
          100 * (b.uiCpu - a.uiCpu) / seconds};
}

struct Options {
  size_t records;
  Clock::duration measured;
  Clock::duration warmUp;
  std::string simProgram;
};

// Sets a line rate that has no B constant, as the component does.
void SetLineRate(int fd, unsigned rate) {
  struct termios2 settings {};
  if (ioctl(fd, TCGETS2, &settings) != 0) Fail("cannot read the terminal's settings");
  settings.c_cflag = (settings.c_cflag & ~CBAUD) | BOTHER;
  settings.c_ispeed = settings.c_ospeed = rate;
  if (ioctl(fd, TCSETS2, &settings) != 0) Fail("cannot set the line rate");
}

// Opens the simulator's terminal, at `lineRate` unless 0, and asks for the
// stream of records.
int StartStream(const std::string& device, unsigned lineRate = 0) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Fail("cannot open " + device);
  if (lineRate) SetLineRate(fd, lineRate);
  if (write(fd, "?", 1) != 1) Fail("cannot start the stream");
  return fd;
}

// The simulator's ceiling: a plain reader drains the terminal as fast as it
// can, with no window, component or file in between.
double MeasureSimulatorCeiling(const Options& options) {
  SimulatorProgram sim({options.simProgram, "--stream"});
  const int fd = StartStream(sim.path());
  size_t bytes = 0;
  std::optional<std::pair<Clock::time_point, size_t>> start;
  const auto begin = Clock::now();
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, 100);
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) bytes += static_cast<size_t>(n);
    const auto now = Clock::now();
    if (!start && now - begin >= options.warmUp) start.emplace(now, bytes);
    if (start && now - start->first >= options.measured) {
      close(fd);
      const double seconds = Seconds(now - start->first).count();
      const double recordsPerS = static_cast<double>(bytes - start->second) / kRecordSize / seconds;
      Print("sim_records_per_s", recordsPerS, 0);
      return recordsPerS;
    }
  }
}

// Unpaced streaming: the sustained rate over the measured window after the
// warm-up, and the resident memory after half and after all the records.
double MeasureUnpaced(const Options& options) {
  LogFile file;
  SimulatorProgram sim({options.simProgram, "--stream"});
  Window window(file.path());
  FollowedLog log(file.path());
  window.Open(sim.path());
  if (!RunUntil([&] { return log.Poll() > 0; }, kFirstRecordTimeout)) Fail("no record arrived");
  const Sample first = Take(log);

  std::optional<Sample> rateStart, rateEnd, full;
  // Resident memory at each eighth of the run, so that its course shows.
  constexpr size_t kRssSteps = 8;
  std::vector<long> rss;
  std::vector<int> statusLines;
  size_t lastCount = 0;
  auto lastProgress = first.at;
  const bool finished = RunUntil(
      [&] {
        const Sample now = Take(log);
        if (now.records != lastCount) lastProgress = now.at;
        lastCount = now.records;
        if (now.at - lastProgress > kStallTimeout) {
          Fail("the stream stopped at " + std::to_string(now.records) + " records");
        }
        if (!rateStart && now.at - first.at >= options.warmUp) rateStart = now;
        if (rateStart && !rateEnd && now.at - rateStart->at >= options.measured) rateEnd = now;
        while (rss.size() < kRssSteps &&
               now.records >= options.records * (rss.size() + 1) / kRssSteps) {
          rss.push_back(bench::StatusField("VmRSS"));
          statusLines.push_back(window.StatusLines());
        }
        if (!full && rss.size() == kRssSteps) full = now;
        return rateEnd && full;
      },
      std::chrono::hours(1));
  if (!finished) Fail("the memory run took over an hour");

  const Interval rate = Between(*rateStart, *rateEnd);
  const Interval whole = Between(first, *full);
  Print("unpaced_measured_seconds", rate.seconds);
  Print("unpaced_measured_records", rate.records, 0);
  Print("unpaced_cpu_percent", rate.cpuPercent);
  Print("unpaced_ui_thread_cpu_percent", rate.uiCpuPercent);
  Print("unpaced_cpu_us_per_record", 1e4 * rate.cpuPercent / rate.recordsPerS);
  Print("unpaced_mean_read_bytes", window.MeanReadSize());
  Print("unpaced_whole_run_records_per_s", whole.recordsPerS, 0);
  Print("unpaced_whole_run_cpu_percent", whole.cpuPercent);
  Print("gui_records_per_s", rate.recordsPerS, 0);

  for (size_t step = 1; step <= kRssSteps; ++step) {
    const size_t records = options.records * step / kRssSteps;
    const std::string name = "rss_kib_" + std::to_string(records / 1000) + "k";
    Print(name, rss[step - 1]);
  }
  Print("status_lines_half", statusLines[kRssSteps / 2 - 1]);
  Print("status_lines_full", statusLines.back());
  const auto half = static_cast<double>(rss[kRssSteps / 2 - 1]);
  Print("rss_growth_second_half_percent", 100.0 * (static_cast<double>(rss.back()) - half) / half);
  return rate.recordsPerS;
}

// The line rate of 256000 baud, which the simulator paces to: the window
// process's CPU over the measured window.
void MeasureLineRateCpu(const Options& options) {
  LogFile file;
  SimulatorProgram sim({options.simProgram, "--stream", "--pace"});
  Window window(file.path());
  FollowedLog log(file.path());
  window.SelectBaudRate(kLineRateChoice);
  window.Open(sim.path());
  if (!RunUntil([&] { return log.Poll() > 0; }, kFirstRecordTimeout)) Fail("no record arrived");
  RunFor(options.warmUp);
  const Sample start = Take(log);
  RunFor(options.measured);
  const Interval paced = Between(start, Take(log));
  Print("paced_measured_seconds", paced.seconds);
  Print("paced_records_per_s", paced.recordsPerS, 0);
  Print("paced_ui_thread_cpu_percent_at_256000_baud", paced.uiCpuPercent);
  Print("paced_mean_read_bytes", window.MeanReadSize());
  Print("cpu_percent_at_256000_baud", paced.cpuPercent);
}

// Stamps each record as the simulator reports it written, and each line as
// it appears in the log file; both from threads of their own that sleep until
// something happens.
class LatencyProbe {
 public:
  LatencyProbe(const devsim::DeviceSimulator& sim, const std::string& logPath)
      : sender_([this, &sim] { WatchSender(sim); }), log_([this, logPath] { WatchLog(logPath); }) {}
  ~LatencyProbe() { Stop(); }
  LatencyProbe(const LatencyProbe&) = delete;
  LatencyProbe& operator=(const LatencyProbe&) = delete;

  size_t linesSeen() const { return linesSeen_; }
  size_t recordsSent() const { return recordsSent_; }

  void Stop() {
    stop_ = true;
    if (sender_.joinable()) sender_.join();
    if (log_.joinable()) log_.join();
  }

  struct Result {
    std::vector<double> us;  // sorted
    size_t lost = 0;         // sent in the window, never logged
    size_t unreadable = 0;   // logged lines without a record number
  };
  // Call after Stop: the records with index in [from, to).
  Result Between(size_t from, size_t to) const {
    Result result;
    result.unreadable = unreadable_;
    std::vector<std::optional<Clock::time_point>> seen(to - from);
    for (const auto& [index, at] : seenAt_) {
      if (index >= from && index < to) seen[index - from] = at;
    }
    for (size_t i = from; i < to && i < sentAt_.size(); ++i) {
      if (!seen[i - from]) {
        ++result.lost;
        continue;
      }
      result.us.push_back(
          std::chrono::duration<double, std::micro>(*seen[i - from] - sentAt_[i]).count());
    }
    std::sort(result.us.begin(), result.us.end());
    return result;
  }

 private:
  // The stamp is taken as soon as the simulator's notice wakes this thread,
  // just after its write() returned; records reported together share it.
  void WatchSender(const devsim::DeviceSimulator& sim) {
    while (!stop_) {
      size_t sent = 0;
      Clock::time_point at;
      sim.waitFor(
          [&](const devsim::SimState& state) {
            sent = state.recordsSent;
            at = Clock::now();
            return sent > sentAt_.size() || stop_;
          },
          std::chrono::milliseconds(100));
      while (sentAt_.size() < sent) sentAt_.push_back(at);
      recordsSent_ = sent;
    }
  }

  // inotify wakes the thread on each append; the stamp is taken on waking,
  // before the file is read.
  void WatchLog(const std::string& path) {
    const int notify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (notify < 0 || inotify_add_watch(notify, path.c_str(), IN_MODIFY) < 0) Fail("inotify");
    FollowedLog reader(path);
    while (!stop_) {
      pollfd p{notify, POLLIN, 0};
      poll(&p, 1, 100);
      const auto at = Clock::now();
      char events[4096];
      while (read(notify, events, sizeof events) > 0) {
      }
      linesSeen_ = reader.Poll([&](std::string_view line) {
        size_t index = 0;
        const bool numbered =
            line.size() >= kRecordSize && std::all_of(line.begin(), line.begin() + 6,
                                                      [](char c) { return c >= '0' && c <= '9'; });
        if (!numbered) {
          ++unreadable_;
          return;
        }
        for (char c : line.substr(0, 6)) index = index * 10 + static_cast<size_t>(c - '0');
        seenAt_.emplace_back(index, at);
      });
    }
    close(notify);
  }

  std::atomic<bool> stop_{false};
  std::atomic<size_t> linesSeen_{0};
  std::atomic<size_t> recordsSent_{0};
  std::vector<Clock::time_point> sentAt_;                     // by record index
  std::vector<std::pair<size_t, Clock::time_point>> seenAt_;  // record index, stamp
  size_t unreadable_ = 0;
  std::thread sender_;
  std::thread log_;
};

// Cuts received bytes into records and appends each to the log file, as the
// window does but with nothing else: the peers' logging.
class RecordLogger {
 public:
  explicit RecordLogger(std::string logPath) : logPath_(std::move(logPath)) {}
  void Take(const char* bytes, size_t count) {
    pending_.append(bytes, count);
    size_t at = 0;
    for (; pending_.size() - at >= kRecordSize; at += kRecordSize) {
      AppendLogLine(logPath_, std::string_view(pending_).substr(at, kRecordSize), unsynced_);
    }
    pending_.erase(0, at);
  }

 private:
  std::string logPath_;
  std::string pending_;
  TUnsyncedLog unsynced_;  // never synced: the peers' logging does not
};

// The floor: a thread that waits in poll() on the terminal, reads what comes
// and logs it; no component, event loop or window.
class PlainReaderPath {
 public:
  PlainReaderPath(const std::string& device, const std::string& logPath)
      : fd_(StartStream(device, kLineRate)), logger_(logPath) {
    thread_ = std::thread([this] {
      try {
        while (!stop_) {
          pollfd p{fd_, POLLIN, 0};
          poll(&p, 1, 100);
          char buffer[4096];
          for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) {
            logger_.Take(buffer, static_cast<size_t>(n));
          }
        }
      } catch (const std::exception& e) {
        Fail(e.what());
      }
    });
  }
  ~PlainReaderPath() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  PlainReaderPath(const PlainReaderPath&) = delete;
  PlainReaderPath& operator=(const PlainReaderPath&) = delete;

 private:
  int fd_;
  RecordLogger logger_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The component alone: monitor thread, hand-over, event loop, OnRxChar,
// Read, and the log; no window.
class ComponentPath {
 public:
  ComponentPath(const std::string& device, const std::string& logPath) : logger_(logPath) {
    comm_.SetDeviceName(device);
    comm_.SetBaudRate(async32::cbr256000);
    comm_.SetFlowControl(async32::fcNone);
    comm_.OnRxChar = [this](async32::TCustomComm32*, int32_t count) {
      std::vector<char> buffer(static_cast<size_t>(count));
      if (comm_.Read(buffer.data(), count) == count) logger_.Take(buffer.data(), buffer.size());
    };
    comm_.Open();
    if (!comm_.IsOpen()) Fail("the component cannot open " + device);
    if (comm_.Write("?", 1) != 1) Fail("cannot start the stream");
  }
  ~ComponentPath() { comm_.Close(); }
  ComponentPath(const ComponentPath&) = delete;
  ComponentPath& operator=(const ComponentPath&) = delete;

 private:
  RecordLogger logger_;
  async32::TComm32 comm_;
};

// The program's path: the window at the 256000-baud line rate.
class WindowPath {
 public:
  WindowPath(const std::string& device, const std::string& logPath) : window_(logPath) {
    window_.SelectBaudRate(kLineRateChoice);
    window_.Open(device);
  }

 private:
  Window window_;
};

// From the simulator's write of a record's last byte to its line in the log
// file, at the 256000-baud line rate, with `Path` taking the records.
template <typename Path>
LatencyProbe::Result MeasureLatency(const Options& options) {
  LogFile file;
  devsim::SimOptions simOptions;
  simOptions.stream = true;
  simOptions.pace = true;
  simOptions.keepRecords = false;
  devsim::DeviceSimulator sim(simOptions);
  sim.start();
  LatencyProbe probe(sim, file.path());
  LatencyProbe::Result result;
  {
    Path path(sim.slavePath(), file.path());
    if (!RunUntil([&] { return probe.linesSeen() > 0; }, kFirstRecordTimeout)) {
      Fail("no record arrived");
    }
    RunFor(options.warmUp);
    const size_t from = probe.recordsSent();
    RunFor(options.measured);
    const size_t to = probe.recordsSent();
    RunUntil([&] { return probe.linesSeen() >= to; }, kDrainTime);
    probe.Stop();
    result = probe.Between(from, to);
  }
  sim.stop();
  return result;
}

// Prints <name>_records, _lost, _unreadable_lines, _p50_us, _max_us and
// _p99_us; returns the p99.
double Report(const std::string& name, const LatencyProbe::Result& latency) {
  Print(name + "_records", latency.us.size());
  Print(name + "_lost", latency.lost);
  Print(name + "_unreadable_lines", latency.unreadable);
  Print(name + "_p50_us", Percentile(latency.us, 0.50));
  Print(name + "_max_us", latency.us.empty() ? 0.0 : latency.us.back());
  const double p99 = Percentile(latency.us, 0.99);
  Print(name + "_p99_us", p99);
  return p99;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QCommandLineParser parser;
  bench::ParseOptions(
      parser, "Records per second, CPU, memory and latency of the window.",
      {{"records", "Records of the memory run (default 400000).", "n", "400000"},
       {"seconds", "Length of each measured window (default 10).", "s", "10"},
       {"warm-up", "Time before each measured window (default 2).", "s", "2"},
       {"sim", "The karolx-sim program.", "path", KAROLX_SIM_PROGRAM},
       {"parts",
        "Comma-separated parts to run: ceiling, unpaced, paced, floor, component, latency "
        "(default all).",
        "list", "ceiling,unpaced,paced,floor,component,latency"}});
  const QStringList parts = parser.value("parts").split(',');
  const Options options{static_cast<size_t>(bench::PositiveOption(parser, "records")),
                        bench::DurationOption(parser, "seconds"),
                        bench::DurationOption(parser, "warm-up"), parser.value("sim").toStdString()};
  bench::ProgramHooks hooks;

  std::printf("load_average_before=%s\n", LoadAverage().c_str());
  std::printf("records=%zu\n", options.records);
  Print("seconds", Seconds(options.measured).count());
  const double simRecordsPerS = parts.contains("ceiling") ? MeasureSimulatorCeiling(options) : 0;
  const double guiRecordsPerS = parts.contains("unpaced") ? MeasureUnpaced(options) : 0;
  if (parts.contains("paced")) MeasureLineRateCpu(options);
  double floorP99 = 0;
  if (parts.contains("floor")) {
    floorP99 = Report("latency_floor", MeasureLatency<PlainReaderPath>(options));
  }
  if (parts.contains("component")) {
    Report("latency_component", MeasureLatency<ComponentPath>(options));
  }
  if (parts.contains("latency")) {
    const double p99 = Report("record_latency", MeasureLatency<WindowPath>(options));
    if (floorP99 > 0) Print("record_latency_p99_vs_floor_ratio", p99 / floorP99, 2);
  }
  if (simRecordsPerS > 0 && guiRecordsPerS > 0) {
    Print("gui_vs_sim_records_ratio", guiRecordsPerS / simRecordsPerS, 3);
  }
  std::printf("errors_shown=%d\n", Window::errors());
  std::printf("load_average_after=%s\n", LoadAverage().c_str());
  return 0;
}
