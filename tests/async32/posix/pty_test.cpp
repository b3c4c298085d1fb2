// The component on pseudo-terminals, the real POSIX backend end to end, and
// on system calls made to fail.

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <thread>
#include <tuple>

#include "async32/device_name.h"
#include "comm32_fixture.h"
#include "process_counts.h"
#include "pty_pair.h"

// What the system and serial drivers do that a test cannot otherwise bring
// about, played by interposing on their calls: threads refused, one chosen
// event descriptor refused; and, on a pty playing a serial port, exclusive
// mode refused and modem lines whose wait (as the kernel's) sleeps until a
// line changes or a signal comes.
namespace {
std::atomic<int> refuseThreads = 0, refuseEvent = -1, modemWaits = 0;  // -1: none
std::atomic<bool> ptyIsSerial = false;
}  // namespace

extern "C" int pthread_create(pthread_t* t, const pthread_attr_t* a, void* (*f)(void*), void* arg) {
  static const auto real = reinterpret_cast<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>(
      dlsym(RTLD_NEXT, "pthread_create"));
  return refuseThreads ? refuseThreads.load() : real(t, a, f, arg);
}
extern "C" int eventfd(unsigned int value, int flags) {
  if (refuseEvent >= 0 && refuseEvent-- == 0) return errno = ENFILE, -1;
  return static_cast<int>(syscall(SYS_eventfd2, value, flags));
}
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
  static const auto real = reinterpret_cast<int (*)(int, unsigned long, void*)>(dlsym(RTLD_NEXT, "ioctl"));
  va_list args;
  va_start(args, request);
  void* const arg = va_arg(args, void*);
  va_end(args);
  if (request == TIOCEXCL && ptyIsSerial) return errno = EINVAL, -1;
  if (request == TIOCMGET && ptyIsSerial) return *static_cast<int*>(arg) = TIOCM_DSR, 0;
  if (request == TIOCMIWAIT && ptyIsSerial) {
    // A signal that comes before the wait sleeps is used up; a handled one
    // ends the sleep, with EINTR.
    ++modemWaits;
    timespec left{0, 50'000'000};
    while (nanosleep(&left, &left) != 0) continue;
    return pause();
  }
  return real(fd, request, arg);
}

namespace async32 {
namespace {

class Comm32Pty : public Comm32Test<TComm32> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    comm.SetDeviceName(pty.path());
    comm.Open();   // once, so that threads a runtime starts on first use are counted
    comm.Close();  // a thread just joined may still show for a moment: checks wait
    opens.clear();
    fds = testing_support::OpenDescriptors();
    threads = testing_support::Threads();
  }
  testing_support::PtyPair pty;
  int fds = 0, threads = 0;
};

// Failures of the system that Open reports, with their own codes, instead
// of throwing or saying EMFILE.
TEST_F(Comm32Pty, SystemFailuresAreReportedByOpenWithTheirCodes) {
  refuseThreads = EAGAIN;
  comm.Open();
  refuseThreads = 0;
  EXPECT_EQ(std::tuple(comm.IsOpen(), opens.back().second), std::tuple(false, EAGAIN));
  for (int refused : {0, 1}) {  // the port's event, then the monitor's
    refuseEvent = refused;
    comm.Open();
    EXPECT_EQ(std::tuple(comm.IsOpen(), GetLastError()), std::tuple(false, ENFILE)) << refused;
  }
}

TEST_F(Comm32Pty, OneUserCarriesAllByteValuesBothWaysAndXoffEndsWithThePort) {
  for (auto [name, path] : {std::pair("COM1", "/dev/ttyS0"), {"com12", "/dev/ttyS11"},
                            {"COM0", "/dev/COM0"}, {"ttyUSB0", "/dev/ttyUSB0"}, {"./a", "./a"}}) {
    EXPECT_EQ(DevicePath(name), path) << name;
  }
  comm.SetFlowControl(fcNone);  // with XON/XOFF on, bytes 17 and 19 would steer the flow
  comm.SetBaudRate(cbr256000);
  comm.Open();
  EXPECT_EQ(opens, (Opens{{PST_UNSPECIFIED, 0}})) << "a pseudo-terminal is no serial port";
  TComm32 second;
  second.SetDeviceName(pty.path());
  second.Open();
  EXPECT_EQ(std::tuple(second.IsOpen(), GetLastError()), std::tuple(false, EBUSY));
  std::vector<uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(comm.Write(bytes.data(), 256), 256);
  EXPECT_EQ(pty.Receive(256), bytes);
  ASSERT_TRUE(pty.Send(bytes));
  ASSERT_TRUE(pump.Until([&] { return received.size() >= 256; }));
  EXPECT_EQ(received, std::string(bytes.begin(), bytes.end()));

  ASSERT_TRUE(comm.SetXONState(false));
  EXPECT_EQ(comm.Write("held", 4), 0);
  comm.Close();  // frees the device; an XOFF held at close does not hold back the next open
  comm.Open();
  EXPECT_EQ(comm.Write("free", 4), 4);
  EXPECT_EQ(pty.Receive(4), (std::vector<uint8_t>{'f', 'r', 'e', 'e'}));
}

TEST_F(Comm32Pty, CloseEndsAModemLineWaitAndExclusiveModeMayBeRefused) {
  ptyIsSerial = true;
  comm.Open();
  EXPECT_EQ(opens, (Opens{{PST_UNSPECIFIED, 0}}));
  for (auto end = Clock::now() + 10s; modemWaits == 0 && Clock::now() < end;) std::this_thread::yield();
  comm.Close();  // hangs here if nothing ends the wait
  ptyIsSerial = false;
  EXPECT_EQ(modemWaits, 1);
}

TEST_F(Comm32Pty, SoftwareFlowControlWithASmallQueueLosesNothing) {
  comm.SetFlowControl(fcSoftware);
  comm.SetReadBufferSize(64);
  comm.SetMonitorEvents({evError});  // the bytes are read as they come, between hand-overs
  comm.Open();
  std::string sent(5000, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>('A' + i % 26);
  std::thread device([&] { pty.Send(sent); });
  EXPECT_TRUE(pump.Until([&] {
    for (char byte; comm.Read(&byte, 1) == 1;) received += byte;
    return received.size() >= sent.size();
  }));
  device.join();  // on a failure, once its writes have waited five seconds
  EXPECT_EQ(received, sent) << "no byte was dropped";
}

TEST_F(Comm32Pty, HangUpIsOneIoErrorAndTheMonitorEnds) {
  comm.Open();
  ASSERT_TRUE(pty.Send("last"));
  pty.CloseMaster();
  ASSERT_TRUE(pump.Until([&] { return Seen(ErrorEvent(CE_IOE)) > 0 && testing_support::Threads() <= threads; }));
  EXPECT_EQ(Seen(ErrorEvent(CE_IOE)), 1);
  EXPECT_TRUE(comm.IsOpen()) << "the operator closes it";
}

TEST_F(Comm32Pty, OpenCloseCyclesLeakNothingWithHandOversUnderWay) {
  for (int i = 0; i < 200; ++i) {
    comm.Open();
    pty.Send("?");  // the monitor's hand-over of it may be under way at Close
    comm.Write("!", 1);
    if (i % 2) CheckSynchronize();
    comm.Close();
  }
  EXPECT_EQ(opens, Opens(200, {0, 0}));
  EXPECT_EQ(testing_support::OpenDescriptors(), fds);
  EXPECT_TRUE(pump.Until([&] { return testing_support::Threads() <= threads; }));
}

}  // namespace
}  // namespace async32
