// What an open, idle port costs in device calls, and how long a CTS change
// takes to reach the OnCTS handler on the program's Qt event loop. On a USB
// adapter each device call is a USB control transfer. The device is the
// slave of a pseudo-terminal, opened by the component as any port; this
// program gives it modem lines by answering the modem-line ioctls made on it,
// and counts every ioctl made on it: once as a driver that can wait for its
// lines (as serial drivers with TIOCMIWAIT do), once as one that cannot and
// is polled.
//
// Usage: bench_modem_lines [--idle-seconds S] [--trials N]

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/hand_over_wake.h"
#include "async32/comm32.h"
#include "bench_support.h"

namespace {

using namespace async32;
using bench::Clock;

// The device's input lines, which the benchmark changes. Calls on other
// descriptors go to the kernel untouched.
struct ModemDevice {
  std::atomic<dev_t> rdev = 0;  // the terminal's device number
  std::atomic<bool> canWait = true;
  std::atomic<long> calls = 0;
  std::atomic<int> lines = TIOCM_DSR;
  std::atomic<int> ctsChanges = 0;
  const int changed = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);  // a count at every change

  bool Is(int fd) const {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev;
  }
  void ToggleCts() {
    lines ^= TIOCM_CTS;
    ++ctsChanges;
    const uint64_t one = 1;
    if (write(changed, &one, sizeof one) != sizeof one) bench::Fail("eventfd");
  }
  // TIOCMIWAIT: sleeps until a line changes or a signal comes (EINTR), as
  // the kernel's does; the component's driver ends the wait with a signal.
  int WaitForChange() {
    if (!canWait) return errno = ENOTTY, -1;
    const int from = lines;
    while (lines == from) {
      pollfd p{changed, POLLIN, 0};
      if (poll(&p, 1, -1) < 0) return -1;
      uint64_t count;
      if (read(changed, &count, sizeof count) < 0 && errno != EAGAIN) return -1;
    }
    return 0;
  }
} device;

}  // namespace

// The C library's ioctl, as the component's driver calls it.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (!device.Is(fd)) return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
  ++device.calls;
  switch (request) {
    case TIOCMGET:
      *static_cast<int*>(arg) = device.lines;
      return 0;
    case TIOCMBIS:
    case TIOCMBIC:
      return 0;  // DTR and RTS go nowhere
    case TIOCGICOUNT: {
      auto* counts = static_cast<serial_icounter_struct*>(arg);
      *counts = {};
      counts->cts = device.ctsChanges;
      return 0;
    }
    case TIOCMIWAIT:
      return device.WaitForChange();
    default:  // settings, queues, exclusive use: the pseudo-terminal's own
      return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
  }
}

namespace {

struct Figures {
  double idleCallsPerSecond = 0;
  double latencyP99Us = 0;
};

Figures Measure(const std::string& path, bool canWait, double idleSeconds, int trials) {
  device.canWait = canWait;
  TComm32 comm;
  comm.SetDeviceName(path);
  int ctsEvents = 0;
  Clock::time_point arrived;
  comm.OnCTS = [&](TCustomComm32*) {
    arrived = Clock::now();
    ++ctsEvents;
  };
  comm.Open();  // every event selected, as the window does
  if (!comm.IsOpen()) bench::Fail("the port did not open");
  // The watcher's start and first look are not idle time.
  bench::RunFor(std::chrono::milliseconds(200));
  const long before = device.calls;
  bench::RunFor(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(idleSeconds)));
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
  bench::ParseOptions(parser, "Device calls of an idle port; CTS change to its handler.",
                      {{"idle-seconds", "Length of the idle count (default 10).", "s", "10"},
                       {"trials", "CTS changes timed (default 200).", "n", "200"}});
  const double idleSeconds = bench::PositiveOption(parser, "idle-seconds");
  const int trials = static_cast<int>(bench::PositiveOption(parser, "trials"));

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  struct stat st {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || stat(ptsname(master), &st) != 0) {
    bench::Fail("no pseudo-terminal");
  }
  const std::string path = ptsname(master);
  device.rdev = st.st_rdev;

  HandOverWake handOverWake;
  const Figures waited = Measure(path, true, idleSeconds, trials);
  const Figures polled = Measure(path, false, idleSeconds, trials);
  std::printf("idle_ioctls_per_s=%.2f\n", waited.idleCallsPerSecond);
  std::printf("modem_event_latency_p99_us=%.0f\n", waited.latencyP99Us);
  std::printf("idle_ioctls_per_s_polled=%.2f\n", polled.idleCallsPerSecond);
  std::printf("modem_event_latency_p99_us_polled=%.0f\n", polled.latencyP99Us);
  close(master);
  return 0;
}
