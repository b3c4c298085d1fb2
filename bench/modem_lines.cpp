// What an open, idle port costs in device calls, and how long a CTS change
// takes to reach the OnCTS handler on the program's Qt event loop. On a USB
// adapter each device call is a USB control transfer. The device is a driver
// with modem lines that counts its calls: once one that can wait for its lines
// (as serial drivers with TIOCMIWAIT do), once one that cannot and is polled.
//
// Usage: bench_modem_lines [--idle-seconds S] [--trials N]

#include <sys/ioctl.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "app/hand_over_wake.h"
#include "async32/comm32.h"
#include "async32/posix/port_engine.h"
#include "bench_support.h"

namespace {

using namespace async32;
using bench::Clock;

// A device whose input lines the benchmark changes. Every call but reads,
// writes and the poll descriptor is counted: those are the ioctls.
class CountingDevice final : public SerialDriver {
 public:
  explicit CountingDevice(bool canWait) : canWait_(canWait) {}
  ~CountingDevice() override { close(idle_[0]); close(idle_[1]); }

  std::atomic<long> calls = 0;
  void ToggleCts() {
    std::lock_guard lock(mutex_);
    lines_ ^= TIOCM_CTS;
    changed_.notify_all();
  }

  int PollFd() const override { return idle_[0]; }  // never readable
  ssize_t Read(uint8_t*, size_t) override { return -EAGAIN; }
  ssize_t Write(const uint8_t*, size_t count) override { return static_cast<ssize_t>(count); }
  int GetTermios(termios2& t) override { return Count(), t = termios_, 0; }
  int SetTermios(const termios2& t) override { return Count(), termios_ = t, 0; }
  int GetModemLines(int& bits) override {
    std::lock_guard lock(mutex_);
    return Count(), bits = lines_, 0;
  }
  int WaitModemChange() override {
    Count();
    if (!canWait_) return ENOTTY;
    std::unique_lock lock(mutex_);
    const int from = lines_;
    changed_.wait(lock, [&] { return cancelled_ || lines_ != from; });
    return cancelled_ ? ECANCELED : 0;
  }
  void CancelModemWait() override {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }
  int SetModemLines(int, bool) override { return Count(), 0; }
  int GetCounters(SerialCounters&) override { return Count(), 0; }
  int SetBreak(bool) override { return Count(), 0; }
  int Flush(int) override { return Count(), 0; }
  int Flow(int) override { return Count(), 0; }
  int OutputQueue(int& bytes) override { return Count(), bytes = 0, 0; }
  int SetRs485Toggle(bool) override { return Count(), ENOTTY; }
  uint32_t ProviderSubType() override { return Count(), PST_RS232; }

 private:
  void Count() { ++calls; }

  const bool canWait_;
  int idle_[2] = {-1, -1};
  bool made_ = pipe(idle_) == 0;
  termios2 termios_{0, 0, B9600 | CS8 | CREAD | CLOCAL, 0, 0, {}, 9600, 9600};
  std::mutex mutex_;
  std::condition_variable changed_;
  int lines_ = TIOCM_DSR;
  bool cancelled_ = false;
};

class CountingComm32 : public TComm32 {
 public:
  explicit CountingComm32(bool canWait) : canWait_(canWait) {}
  CountingDevice* device = nullptr;
  std::unique_ptr<CommPort> CreatePort(const std::string&) override {
    auto driver = std::make_unique<CountingDevice>(canWait_);
    device = driver.get();
    return std::make_unique<PortEngine>(std::move(driver));
  }

 private:
  const bool canWait_;
};

struct Figures {
  double idleCallsPerSecond = 0;
  double latencyP99Us = 0;
};

Figures Measure(bool canWait, double idleSeconds, int trials) {
  CountingComm32 comm(canWait);
  int ctsEvents = 0;
  Clock::time_point arrived;
  comm.OnCTS = [&](TCustomComm32*) {
    arrived = Clock::now();
    ++ctsEvents;
  };
  comm.Open();  // every event selected, as the window does
  if (!comm.IsOpen() || !comm.device) bench::Fail("the port did not open");
  CountingDevice& device = *comm.device;
  // The watcher's start and first look are not idle time.
  bench::RunUntil([] { return false; }, std::chrono::milliseconds(200), std::chrono::milliseconds(50));
  const long before = device.calls;
  const auto idle = std::chrono::duration<double>(idleSeconds);
  bench::RunUntil([] { return false; }, std::chrono::duration_cast<Clock::duration>(idle),
                  std::chrono::milliseconds(100));
  Figures figures;
  figures.idleCallsPerSecond = static_cast<double>(device.calls - before) / idleSeconds;

  std::vector<double> latencies;
  for (int i = 0; i < trials; ++i) {
    const int seen = ctsEvents;
    const auto start = Clock::now();
    device.ToggleCts();
    if (!bench::RunUntil([&] { return ctsEvents > seen; }, std::chrono::seconds(2),
                         std::chrono::milliseconds(5))) {
      bench::Fail("a CTS change never reached its handler");
    }
    latencies.push_back(std::chrono::duration<double, std::micro>(arrived - start).count());
  }
  comm.Close();
  std::sort(latencies.begin(), latencies.end());
  figures.latencyP99Us = bench::Percentile(latencies, 0.99);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription("Device calls of an idle port; CTS change to its handler.");
  parser.addHelpOption();
  parser.addOption({"idle-seconds", "Length of the idle count (default 10).", "s", "10"});
  parser.addOption({"trials", "CTS changes timed (default 200).", "n", "200"});
  parser.process(app);
  const double idleSeconds = bench::PositiveOption(parser, "idle-seconds");
  const int trials = static_cast<int>(bench::PositiveOption(parser, "trials"));

  HandOverWake handOverWake;
  const Figures waited = Measure(true, idleSeconds, trials);
  const Figures polled = Measure(false, idleSeconds, trials);
  std::printf("idle_ioctls_per_s=%.2f\n", waited.idleCallsPerSecond);
  std::printf("modem_event_latency_p99_us=%.0f\n", waited.latencyP99Us);
  std::printf("idle_ioctls_per_s_polled=%.2f\n", polled.idleCallsPerSecond);
  std::printf("modem_event_latency_p99_us_polled=%.0f\n", polled.latencyP99Us);
  return 0;
}
