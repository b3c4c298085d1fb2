// How long one byte from the device takes to reach the serial port
// component's OnRxChar handler on the program's Qt event loop, compared in the
// same run with a plain poll() reader thread (the floor) and a QSerialPort
// reader (the peer a user would pick instead); and what an open port with no
// traffic costs in CPU. All over pseudo-terminals: the benchmark plays the
// device on the master side.
//
// Usage: bench_handover_latency [--trials N] [--idle-seconds S]

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <QSerialPort>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/hand_over_wake.h"
#include "bench_support.h"
#include "async32/comm32.h"
#include "async32/thread.h"

namespace {

using bench::Clock;
using bench::CpuSeconds;
using bench::Fail;
using bench::Percentile;

// Trials run first and thrown away, so first-use costs (page faults, lazy
// binding, the first hand-over) do not count.
constexpr int kWarmUpTrials = 100;
// A byte that has not arrived by then counts as lost.
constexpr auto kArrivalTimeout = std::chrono::seconds(1);


// A pseudo-terminal pair; readers open the slave by its path.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) Fail("no pseudo-terminal");
    path_ = ptsname(master_);
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int master() const { return master_; }
  const std::string& path() const { return path_; }
  // The device hangs up: a reader of the slave sees POLLHUP.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

// Where a reader reports the bytes it has taken; the writer waits here.
class Arrivals {
 public:
  // Stamps the arrival first, before any locking.
  void Record(size_t bytes) {
    const auto now = Clock::now();
    {
      std::lock_guard lock(mutex_);
      received_ += bytes;
      last_ = now;
    }
    changed_.notify_one();
  }

  // The moment the reader took the `count`th byte, or nothing on time-out.
  std::optional<Clock::time_point> WaitFor(size_t count) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, kArrivalTimeout, [&] { return received_ >= count; })) {
      return std::nullopt;
    }
    return last_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t received_ = 0;
  Clock::time_point last_;
};

struct Latencies {
  std::vector<double> us;
  int lost = 0;
};

// Writes one byte at a time to the master at random moments, each after the
// previous one has arrived, and times each from just before write() to the
// reader's stamp. Bytes cycle through all 256 values.
Latencies RunTrials(int master, int trials, Arrivals& arrivals) {
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> gapUs(200, 2000);
  Latencies result;
  result.us.reserve(static_cast<size_t>(trials));
  size_t sent = 0;
  for (int i = 0; i < kWarmUpTrials + trials; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(gapUs(random)));
    const auto byte = static_cast<uint8_t>(i);
    const auto start = Clock::now();
    if (write(master, &byte, 1) != 1) Fail("write to the pseudo-terminal failed");
    const auto arrived = arrivals.WaitFor(++sent);
    if (i < kWarmUpTrials) continue;
    if (!arrived) {
      ++result.lost;
      continue;
    }
    result.us.push_back(std::chrono::duration<double, std::micro>(*arrived - start).count());
  }
  return result;
}

// Runs the trials on a writer thread while this thread runs the Qt event
// loop, which the writer ends when it is done.
Latencies RunTrialsOnEventLoop(int master, int trials, Arrivals& arrivals) {
  Latencies result;
  std::thread writer([&] {
    result = RunTrials(master, trials, arrivals);
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  QCoreApplication::exec();
  writer.join();
  return result;
}

// The floor: a thread that waits in poll() on the raw, non-blocking slave and
// reads what comes, with nothing between the kernel and the stamp.
Latencies MeasurePollReader(int trials) {
  Pty pty;
  const int fd = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) Fail("cannot open " + pty.path());
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  if (tcsetattr(fd, TCSANOW, &raw) != 0) Fail("cannot set raw mode on " + pty.path());

  Arrivals arrivals;
  // Ends when the master hangs up.
  std::thread reader([&] {
    pollfd p{fd, POLLIN, 0};
    uint8_t buf[4096];
    while (poll(&p, 1, -1) >= 0 && (p.revents & POLLHUP) == 0) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) arrivals.Record(static_cast<size_t>(n));
    }
  });
  Latencies result = RunTrials(pty.master(), trials, arrivals);
  pty.CloseMaster();
  reader.join();
  close(fd);
  return result;
}

// Opens the component on the slave the way the program does: no flow
// control, so bytes 17 and 19 are data; all events monitored.
void OpenComponent(async32::TComm32& comm, const Pty& pty) {
  comm.SetDeviceName(pty.path());
  comm.SetFlowControl(async32::fcNone);
  comm.Open();
  if (!comm.IsOpen()) Fail("the component cannot open " + pty.path());
}

// The program's path: monitor thread, hand-over, wake hook, event loop,
// OnRxChar, Read.
Latencies MeasureComponentHandler(int trials) {
  Pty pty;
  async32::TComm32 comm;
  Arrivals arrivals;
  comm.OnRxChar = [&](async32::TCustomComm32*, int32_t count) {
    uint8_t buf[4096];
    const int32_t n = std::min<int32_t>(count, sizeof buf);
    if (n > 0 && comm.Read(buf, n) == n) arrivals.Record(static_cast<size_t>(n));
  };
  OpenComponent(comm, pty);
  Latencies result = RunTrialsOnEventLoop(pty.master(), trials, arrivals);
  comm.Close();
  return result;
}

// The peer: QSerialPort's readyRead on the same event loop.
Latencies MeasureQSerialPort(int trials) {
  Pty pty;
  QSerialPort port;
  port.setPortName(QString::fromStdString(pty.path()));
  if (!port.open(QIODevice::ReadWrite)) {
    Fail("QSerialPort cannot open " + pty.path() + ": " + port.errorString().toStdString());
  }
  Arrivals arrivals;
  QObject::connect(&port, &QSerialPort::readyRead, [&] {
    const QByteArray bytes = port.readAll();
    if (!bytes.isEmpty()) arrivals.Record(static_cast<size_t>(bytes.size()));
  });
  Latencies result = RunTrialsOnEventLoop(pty.master(), trials, arrivals);
  port.close();
  return result;
}


long ContextSwitches() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_nvcsw + u.ru_nivcsw;
}

struct IdleCost {
  double cpuPercent;
  long wakeups;  // context switches of the whole process
};

// An open port with no traffic while the event loop runs: the whole
// process's CPU time as a share of one core.
IdleCost MeasureIdleCost(int seconds) {
  Pty pty;
  async32::TComm32 comm;
  OpenComponent(comm, pty);
  const double cpuBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const long switchesBefore = ContextSwitches();
  const auto wallBefore = Clock::now();
  QTimer::singleShot(std::chrono::seconds(seconds), [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
  const double cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
  const long switches = ContextSwitches() - switchesBefore;
  const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
  comm.Close();
  return {100.0 * cpu / wall, switches};
}

// Prints <name>_p50_us, _p99_us, _max_us and _lost; returns the p99.
double Report(const char* name, Latencies latencies) {
  std::sort(latencies.us.begin(), latencies.us.end());
  const double p99 = Percentile(latencies.us, 0.99);
  std::printf("%s_p50_us=%.1f\n", name, Percentile(latencies.us, 0.50));
  std::printf("%s_p99_us=%.1f\n", name, p99);
  std::printf("%s_max_us=%.1f\n", name, latencies.us.empty() ? 0.0 : latencies.us.back());
  std::printf("%s_lost=%d\n", name, latencies.lost);
  std::fflush(stdout);
  return p99;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  bench::ParseOptions(parser, "Latency from a received byte to the OnRxChar handler.",
                      {{"trials", "Timed bytes per reader (default 5000).", "n", "5000"},
                       {"idle-seconds", "Length of the idle CPU measurement (default 10).", "s", "10"}});
  const int trials = static_cast<int>(bench::PositiveOption(parser, "trials"));
  const int idleSeconds = static_cast<int>(bench::PositiveOption(parser, "idle-seconds"));

  // The same wake hook the program installs.
  HandOverWake handOverWake;
  if (!async32::IsMainThread()) Fail("main() does not run on the thread that started the program");

  std::printf("trials=%d\n", trials);
  const double pollP99 = Report("poll", MeasurePollReader(trials));
  const double handlerP99 = Report("handler", MeasureComponentHandler(trials));
  const double qserialportP99 = Report("qserialport", MeasureQSerialPort(trials));
  const IdleCost idle = MeasureIdleCost(idleSeconds);
  std::printf("idle_seconds=%d\n", idleSeconds);
  std::printf("idle_context_switches=%ld\n", idle.wakeups);
  std::printf("idle_cpu_percent=%.4f\n", idle.cpuPercent);
  std::printf("handler_vs_poll_p99_ratio=%.2f\n", handlerP99 / pollP99);
  std::printf("handler_vs_qserialport_p99_ratio=%.2f\n", handlerP99 / qserialportP99);
  return 0;
}
