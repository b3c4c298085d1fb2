// The serial port component, its settings as terminal settings, on a scripted device and on ptys.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <condition_variable>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "async32/comm32.h"
#include "async32/posix/port_engine.h"
#include "async32/posix/posix_driver.h"
#include "async32/posix/termios_map.h"
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

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Events = std::vector<std::string>;
using Opens = std::vector<std::pair<int32_t, int32_t>>;

bool operator==(const termios2& a, const termios2& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A device's settings before the port takes it over: all the translation has to clear.
const termios2 kCooked{
    ICRNL | IXANY | ISTRIP | IXON | IXOFF | INPCK | IGNPAR, OPOST,
    B38400 | (B1200 << IBSHIFT) | CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS,
    ICANON | ECHO | ECHONL | ISIG | IEXTEN, 0, {}, 0, 0};

TEST(TermiosMap, EveryRateFrameAndFlowSettingRoundTripsInRawMode) {
  termios2 t{}, again{};
  for (uint32_t rate : kBaudRateCodes) {
    ASSERT_EQ(TermiosFromDcb(DCB{.BaudRate = rate}, kCooked, t), 0) << rate;
    const bool noConstant = rate == 14400 || rate == 56000 || rate == 128000 || rate == 256000;
    EXPECT_EQ(std::tuple(OutputSpeed(t), InputSpeed(t), DcbFromTermios(t).BaudRate,
                         (t.c_cflag & CBAUD) == BOTHER),
              std::tuple(rate, rate, rate, noConstant));
    EXPECT_EQ(std::tuple(t.c_iflag & ~PARMRK, t.c_oflag, t.c_lflag, t.c_cflag & ~(CBAUD | CIBAUD),
                         t.c_cc[VMIN]),
              std::tuple(0u, 0u, 0u, CS8 | CLOCAL | CREAD, 1))
        << "raw, receiving, one byte per read";
  }
  // Rate 0, four data bits, 1.5 stop bits (only with five data bits), no such parity or stop bits.
  const DCB refused[] = {{}, {.BaudRate = 1, .ByteSize = 4}, {.BaudRate = 1, .StopBits = 1},
                         {.BaudRate = 1, .Parity = 5}, {.BaudRate = 1, .StopBits = 3}};
  for (const DCB& dcb : refused) {
    EXPECT_EQ(TermiosFromDcb(dcb, kCooked, t), EINVAL) << &dcb - refused;
  }
  termios2 hungUp = kCooked;
  hungUp.c_cflag &= ~(CBAUD | CIBAUD);  // B0, as a device may be left
  EXPECT_EQ(TermiosFromDcb(DcbFromTermios(hungUp), kCooked, t), 0) << "a block read can be written";

  struct Row { uint8_t size, parity, stop; uint32_t flags; tcflag_t cflag, iflag; };
  for (const Row& r : {Row{7, ODDPARITY, TWOSTOPBITS, 0, CS7 | PARENB | PARODD | CSTOPB, 0},
                       {6, EVENPARITY, ONESTOPBIT, 0, CS6 | PARENB, 0},
                       {5, MARKPARITY, ONE5STOPBITS, 0, CS5 | PARENB | PARODD | CMSPAR | CSTOPB, 0},
                       {8, SPACEPARITY, ONESTOPBIT, 0, CS8 | PARENB | CMSPAR, 0},
                       {8, NOPARITY, ONESTOPBIT, fOutX, CS8, IXON},
                       {8, NOPARITY, ONESTOPBIT, fInX | fParity, CS8, IXOFF | INPCK},
                       {8, NOPARITY, ONESTOPBIT, fOutxCtsFlow, CS8 | CRTSCTS, 0},
                       {8, NOPARITY, ONESTOPBIT, RTS_CONTROL_HANDSHAKE << 12, CS8 | CRTSCTS, 0}}) {
    SCOPED_TRACE(testing::Message() << r.cflag << "/" << r.flags);
    const DCB dcb{.BaudRate = 9600, .Flags = r.flags, .ByteSize = r.size, .Parity = r.parity,
                  .StopBits = r.stop};
    ASSERT_EQ(TermiosFromDcb(dcb, kCooked, t), 0);
    const tcflag_t line = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    EXPECT_EQ(std::tuple(t.c_cflag & line, t.c_iflag & ~PARMRK, t.c_cc[VSTART], t.c_cc[VSTOP]),
              std::tuple(r.cflag, r.iflag, 17, 19));
    const DCB back = DcbFromTermios(t);
    EXPECT_EQ(std::tuple(back.ByteSize, back.Parity, back.StopBits),
              std::tuple(r.size, r.parity, r.stop));
    EXPECT_TRUE(TermiosFromDcb(back, kCooked, again) == 0 && again == t) << "read back: the same";
  }
}

TEST(TermiosMap, ReadBackComparisonSeesEveryLineSettingThatDidNotStick) {
  termios2 wanted{};
  ASSERT_EQ(TermiosFromDcb(DCB{.BaudRate = 256000}, kCooked, wanted), 0);
  // Every change but the first, which is no line setting, must be seen.
  void (*const changes[])(termios2&) = {
      [](termios2& t) { t.c_lflag ^= ECHO; },   [](termios2& t) { t.c_ospeed = 1; },
      [](termios2& t) { t.c_ispeed = 1; },      [](termios2& t) { t.c_cflag ^= CS7; },
      [](termios2& t) { t.c_cflag ^= PARENB; }, [](termios2& t) { t.c_cflag ^= PARODD; },
      [](termios2& t) { t.c_cflag ^= CMSPAR; }, [](termios2& t) { t.c_cflag ^= CSTOPB; },
      [](termios2& t) { t.c_cflag ^= CRTSCTS; }, [](termios2& t) { t.c_iflag ^= IXON; },
      [](termios2& t) { t.c_iflag ^= IXOFF; },  [](termios2& t) { t.c_iflag ^= INPCK; },
      [](termios2& t) { t.c_cc[VSTART] = 0; },  [](termios2& t) { t.c_cc[VSTOP] = 0; }};
  for (const auto& change : changes) {
    termios2 actual = wanted;
    change(actual);
    EXPECT_EQ(LineSettingsMatch(wanted, actual), &change == changes) << &change - changes;
  }
}

// Plays the user-interface thread's event loop, woken by the hand-over hook.
class HandOverPump {
 public:
  HandOverPump() {
    SetWakeMainThreadHook([this] { std::lock_guard l(mutex_); ++queued_; woken_.notify_all(); });
  }
  ~HandOverPump() { SetWakeMainThreadHook(nullptr); }
  // Serves hand-overs until `done` holds (false after 10 s); looks again every 5 ms.
  bool Until(const std::function<bool()>& done) {
    std::unique_lock lock(mutex_);
    for (const auto end = Clock::now() + 10s; Clock::now() < end;) {
      if (woken_.wait_for(lock, 5ms, [&] { return CheckSynchronize(), done(); })) return true;
    }
    return false;
  }
  // Waits, serving none, until `count` hand-overs have been queued in all.
  bool UntilQueued(int count) {
    std::unique_lock lock(mutex_);
    return woken_.wait_for(lock, 10s, [&] { return queued_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  int queued_ = 0;
};

std::atomic<int> outputFlushes = 0;  // over every fake device's life

// A scripted device, owned by the port once open. A pipe is its interrupt. What
// the monitor thread uses is atomic or behind the mutex; the rest is the test's.
struct FakeDevice final : SerialDriver {
  termios2 termios{0, 0, B9600 | CS8 | CREAD | CLOCAL, 0, 0, {}, 9600, 9600};
  std::function<void(termios2&)> quirk;  // changes what the device keeps of a setting
  std::atomic<int> lines = 0, asks = 0;  // asks: lines, counters or output queue asked for
  std::condition_variable linesChanged;
  bool canWait = true, waiting = false, cancelled = false;  // a wait for the lines
  bool ringEdges = false;  // rings counted at both edges, as USB adapters do
  int waits = 0;
  SerialCounters modem;  // line changes, counted as a UART of the 16550 kind does:
  uint32_t Counted() const { return modem.cts + modem.dsr + modem.rng + modem.dcd; }
  std::atomic<uint32_t> brk = 0, frame = 0, overrun = 0, parity = 0, lost = 0;  // line events
  bool breakOn = false, flowStopped = false;
  std::atomic<bool> zeroOnce = false;  // the next read with nothing there gives 0
  std::atomic<int> unsent = 0;  // output not yet gone
  std::mutex mutex;
  size_t accept = SIZE_MAX;  // bytes the device takes before it is full
  std::string written, incoming;
  int wake[2] = {-1, -1};

  FakeDevice() { [[maybe_unused]] int r = pipe2(wake, O_NONBLOCK | O_CLOEXEC); }
  ~FakeDevice() override { for (int fd : wake) close(fd); }
  void Interrupt() { [[maybe_unused]] auto n = write(wake[1], "!", 1); }
  // As the kernel's terminal layer hands bytes on: with PARMRK a 255 doubled,
  // a break as \377 \0 \0 and a byte with a parity or framing error (checked
  // with INPCK) as \377 \0 byte, without it as 0; each line error counted.
  void Feed(const std::string& bytes) {
    std::lock_guard l(mutex);
    for (char c : bytes) incoming += c == '\377' && (termios.c_iflag & PARMRK) ? "\377\377" : std::string(1, c);
    Interrupt();
  }
  void LineError(std::atomic<uint32_t>& counter, char c = 0) {
    std::lock_guard l(mutex);
    ++counter;
    if (&counter != &brk && !(termios.c_iflag & INPCK)) incoming += c;
    else if (termios.c_iflag & PARMRK) incoming += std::string("\377\0", 2) + (&counter == &brk ? '\0' : c);
    else incoming += '\0';
    Interrupt();
  }
  // Changes the input lines; those in `blips` flip and flip back. A change
  // that ends a watcher's wait returns once it has looked at the lines and
  // waits again: the change is seen in one known wait.
  void SetLines(int bits, int blips = 0) {
    std::unique_lock l(mutex);
    if (canWait) {
      ASSERT_TRUE(linesChanged.wait_for(l, 10s, [&] { return waiting; }));
    }
    const int changed = lines ^ bits;
    lines = bits;
    const uint32_t counted = Counted();
    const int was = waits;
    for (auto [bit, count] : {std::pair(TIOCM_CTS, &modem.cts), {TIOCM_DSR, &modem.dsr}, {TIOCM_CD, &modem.dcd}}) {
      *count += ((changed & bit) != 0) + 2 * ((blips & bit) != 0);
    }
    modem.rng += (changed & TIOCM_RI) && (ringEdges || !(bits & TIOCM_RI));  // a ring as it ends
    linesChanged.notify_all();
    if (canWait && Counted() != counted) linesChanged.wait_for(l, 10s, [&] { return waits > was; });
  }
  void Accept(size_t bytes) { std::lock_guard l(mutex); accept = bytes; Interrupt(); }
  std::string Written() { std::lock_guard l(mutex); return written; }
  size_t Waiting() { std::lock_guard l(mutex); return incoming.size(); }

  int PollFd() const override { return wake[0]; }
  ssize_t Read(uint8_t* buf, size_t count) override {
    std::lock_guard lock(mutex);
    const size_t n = incoming.copy(reinterpret_cast<char*>(buf), count);
    incoming.erase(0, n);
    char drain[64];
    while (n == 0 && read(wake[0], drain, sizeof drain) > 0) continue;
    return n > 0 ? static_cast<ssize_t>(n) : zeroOnce.exchange(false) ? 0 : -EAGAIN;
  }
  ssize_t Write(const uint8_t* buf, size_t count) override {
    std::lock_guard lock(mutex);
    const size_t n = std::min(count, accept);
    accept -= n;
    written.append(reinterpret_cast<const char*>(buf), n);
    return n > 0 ? static_cast<ssize_t>(n) : -EAGAIN;
  }
  int GetTermios(termios2& t) override { t = termios; return 0; }
  int SetTermios(const termios2& t) override { termios = t; if (quirk) quirk(termios); return 0; }
  int GetModemLines(int& bits) override { ++asks; bits = lines; return 0; }
  // As TIOCMIWAIT: a change counted from the moment the wait begins.
  int WaitModemChange() override {
    if (!canWait) return ENOTTY;
    std::unique_lock l(mutex);
    const uint32_t from = Counted();
    ++waits;
    waiting = true;
    linesChanged.notify_all();
    linesChanged.wait(l, [&] { return cancelled || Counted() != from; });
    waiting = false;
    return cancelled ? ECANCELED : 0;
  }
  void CancelModemWait() override { std::lock_guard l(mutex); cancelled = true; linesChanged.notify_all(); }
  int SetModemLines(int bits, bool on) override { on ? lines |= bits : lines &= ~bits; return 0; }
  int GetCounters(SerialCounters& c) override {
    ++asks;
    std::lock_guard l(mutex);
    c = {brk, frame, overrun, parity, lost, modem.cts, modem.dsr, modem.rng, modem.dcd};
    return 0;
  }
  int SetBreak(bool on) override { breakOn = on; return 0; }
  int Flush(int queue) override { outputFlushes += queue == TCOFLUSH; return 0; }
  int Flow(int action) override { flowStopped = action == TCOOFF; return 0; }
  // Everything goes at once, but for `unsent` bytes that leave one a call.
  int OutputQueue(int& bytes) override { ++asks; bytes = unsent > 0 ? unsent-- : 0; return 0; }
  int SetRs485Toggle(bool) override { return ENOTTY; }
  uint32_t ProviderSubType() override { return PST_RS232; }
};

class FakeComm32 : public TComm32 {
 public:
  std::function<void(termios2&)> quirk;
  bool canWaitForLines = true;
  FakeDevice* device = nullptr;  // the device of the last open
  std::unique_ptr<CommPort> CreatePort(const std::string&) override {
    auto driver = std::make_unique<FakeDevice>();
    (device = driver.get())->quirk = quirk;
    driver->canWait = canWaitForLines;
    return std::make_unique<PortEngine>(std::move(driver));
  }
};

std::string ErrorEvent(uint32_t errors) { return "error:" + std::to_string(errors); }

// Notes every event a handler gets and takes the bytes RxChar announces.
template <typename Comm>
class Comm32Test : public ::testing::Test {
 protected:
  Comm32Test() {
    using C = TCustomComm32;
    for (auto [handler, name] : {std::pair(&C::OnBreak, "break"), {&C::OnCTS, "cts"},
                                 {&C::OnDSR, "dsr"}, {&C::OnRing, "ring"}, {&C::OnRLSD, "rlsd"},
                                 {&C::OnRxFlag, "rxflag"}, {&C::OnTxEmpty, "txempty"}}) {
      comm.*handler = [this, name](C*) { Log(name); };
    }
    comm.OnError = [this](C*, int32_t errors) { Log(ErrorEvent(errors)); };
    comm.OnRxChar = [this](C*, int32_t count) {
      Log("rx:" + std::to_string(count));
      std::string bytes(static_cast<size_t>(count), '\0');
      EXPECT_EQ(comm.Read(bytes.data(), count), count);
      received += bytes;
    };
    comm.OnOpen = [this](C*, int32_t type, int32_t error) { opens.push_back({type, error}); };
    SetEventErrorHook([this](const std::string& message) { messages.push_back(message); });
  }
  // No handler threw, and one that was missing was skipped.
  void TearDown() override { comm.Close(); SetEventErrorHook({}); EXPECT_EQ(messages, Events{}); }
  void Log(const std::string& what) {
    EXPECT_EQ(std::this_thread::get_id(), mainThread) << "handlers run on the serving thread";
    events.push_back(what);
  }

  HandOverPump pump;
  Comm comm;
  Events events;
  std::string received;
  Opens opens;
  Events messages;  // what reached the event error hook, on the monitor thread
  const std::thread::id mainThread = std::this_thread::get_id();
};

using Comm32Fake = Comm32Test<FakeComm32>;

TEST_F(Comm32Fake, OneWaitIsHandedOverInTheFixedOrderWithOneErrorCheck) {
  comm.Open();
  FakeDevice& device = *comm.device;
  device.Feed("a");
  ASSERT_TRUE(pump.UntilQueued(1));  // the monitor now waits inside that hand-over
  ASSERT_EQ(comm.Read(std::string(1, 0).data(), 1), 1) << "read now, the hand-over has count 0";
  // All of this happens before the monitor looks again: one wait.
  device.LineError(device.brk);
  device.LineError(device.frame, 'x');
  device.LineError(device.parity, 'y');
  device.SetLines(TIOCM_CTS | TIOCM_DSR | TIOCM_RI | TIOCM_CD | device.lines);
  device.Feed(std::string("b\0", 2));  // NUL is the event character
  ASSERT_EQ(comm.Write("?", 1), 1);
  ASSERT_TRUE(pump.Until([&] { return events.size() >= 10; }));
  device.overrun++;  // that hand-over cleared the errors: the next reports only what is new
  device.lost++;
  device.Feed("c");
  ASSERT_TRUE(pump.Until([&] { return events.size() >= 12; }));
  EXPECT_EQ(events, (Events{"rx:0", "break", "cts", "dsr",
                            ErrorEvent(CE_BREAK | CE_FRAME | CE_RXPARITY), "ring", "rlsd", "rx:4",
                            "rxflag", "txempty", ErrorEvent(CE_OVERRUN | CE_RXOVER), "rx:1"}));
}

// Records are cut by count: a break adds no byte, a byte with a line error
// stays as it came, a real 255 is one byte, however the reads cut the marks.
TEST_F(Comm32Fake, LineErrorsNeverChangeTheBytesAndComeOnce) {
  comm.SetOptions({osParityCheck});
  comm.SetFlowControl(fcSoftware);
  comm.SetReadBufferSize(2);  // reads of two bytes at most: marks come in pieces
  comm.Open();
  FakeDevice& d = *comm.device;
  d.Feed("AB");
  ASSERT_TRUE(pump.UntilQueued(1));  // the rest comes while the monitor waits in that hand-over
  d.LineError(d.brk);
  d.LineError(d.parity, 'C');
  d.Feed("\377D");
  d.LineError(d.frame, 'E');
  d.Feed("F");
  ASSERT_TRUE(pump.Until([&] { return received.size() >= 7; }));
  EXPECT_EQ(received, "ABC\377DEF");
  EXPECT_EQ(std::count(events.begin(), events.end(), "break"), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), ErrorEvent(CE_BREAK | CE_FRAME | CE_RXPARITY)), 1);
}

// Each ask is a USB transfer on an adapter: an idle port waits for its modem
// lines, and asks for them only where the driver cannot wait.
TEST_F(Comm32Fake, AnIdlePortMakesNoDeviceCallsAndLineChangesStillArrive) {
  comm.Open();
  FakeDevice& d = *comm.device;
  ASSERT_TRUE(pump.Until([&] { std::lock_guard l(d.mutex); return d.waiting; }));
  const int asked = d.asks;
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(d.asks, asked);
  d.SetLines(TIOCM_RI);  // a ring counted only as it ends is over when the port looks
  d.SetLines(0);
  ASSERT_TRUE(pump.Until([&] { return events.size() == 1; }));
  d.ringEdges = true;
  d.SetLines(TIOCM_RI);
  ASSERT_TRUE(pump.Until([&] { return events.size() == 2; }));
  d.SetLines(TIOCM_CTS, TIOCM_CD);  // the ring's end is no second ring; a carrier blip is an event
  ASSERT_TRUE(pump.Until([&] { return events.back() == "rlsd"; }));
  comm.Close();  // ends the wait
  comm.canWaitForLines = false;
  comm.Open();
  comm.device->SetLines(TIOCM_DSR);
  ASSERT_TRUE(pump.Until([&] { return events.back() == "dsr"; }));
  EXPECT_EQ(events, (Events{"ring", "ring", "cts", "rlsd", "dsr"}));
}

TEST_F(Comm32Fake, HandlerExceptionGoesToTheHookAndNoEventOutlivesDestroying) {
  auto reading = std::exchange(
      comm.OnRxChar, [](TCustomComm32*, int32_t) { throw std::runtime_error("File not found"); });
  comm.Open();
  comm.device->Feed("1");
  ASSERT_TRUE(pump.UntilQueued(1));
  CheckSynchronize();  // the handler throws; the byte stays
  comm.OnRxChar = reading;
  comm.device->Feed("2");
  ASSERT_TRUE(pump.Until([&] { return !events.empty(); })) << "monitoring goes on";
  EXPECT_EQ(std::exchange(messages, {}), Events{"File not found"});
  EXPECT_EQ(events, Events{"rx:2"});
  comm.device->Feed("3");
  ASSERT_TRUE(pump.UntilQueued(3));
  comm.Close();
  EXPECT_EQ(events.back(), "rx:1") << "Close serves a hand-over already begun";
  comm.Open();
  comm.device->Feed("456");
  ASSERT_TRUE(pump.UntilQueued(4));
  comm.Destroying();
  comm.Close();
  EXPECT_EQ(events, (Events{"rx:2", "rx:1"})) << "once the owner is being destroyed, none";
}

TEST_F(Comm32Fake, FullQueueWithoutFlowControlLosesBytesAndSaysSoWhateverTheMask) {
  comm.SetFlowControl(fcNone);
  comm.SetReadBufferSize(4);
  comm.SetMonitorEvents({evError, evTxEmpty});
  comm.Open();
  comm.device->Feed("123456");
  ASSERT_TRUE(pump.Until([&] { return !events.empty(); }));
  EXPECT_EQ(events, Events{ErrorEvent(CE_RXOVER)}) << "and no RxChar: it is not selected";
  char bytes[5];
  EXPECT_EQ(comm.Read(bytes, 5), -1) << "a read of more than is waiting takes nothing";
  EXPECT_TRUE(comm.Read(bytes, 4) == 4 && std::string(bytes, 4) == "1234");
}

TEST_F(Comm32Fake, SettingsReachTheDeviceLiveAndAgainAtOpen) {
  comm.quirk = [](termios2& t) { t.c_cflag &= ~CMSPAR; };  // space parity becomes even here
  comm.SetXonChar('A');
  comm.SetXoffChar('B');
  comm.Open();
  auto t = [&]() -> const termios2& { return comm.device->termios; };
  comm.SetBaudRate(cbr256000);
  comm.SetBaudRate(static_cast<TBaudRate>(99));  // a value outside the enumeration is ignored
  comm.SetDatabits(da7);
  comm.SetParity(paOdd);
  comm.SetStopbits(sb20);
  comm.SetOptions({osParityCheck});
  EXPECT_EQ(std::tuple(comm.BaudRate(), OutputSpeed(t()),
                       t().c_cflag & (CSIZE | PARENB | PARODD | CSTOPB)),
            std::tuple(cbr256000, 256000u, CS7 | PARENB | PARODD | CSTOPB));
  struct Flow { TFlowControl flow; tcflag_t cflag, iflag; int lines; };
  for (auto f : {Flow{fcNone, 0, INPCK, TIOCM_DTR}, {fcCTS, CRTSCTS, INPCK, TIOCM_DTR},
                 {fcDTR, 0, INPCK, TIOCM_DTR | TIOCM_RTS},
                 {fcSoftware, 0, IXON | IXOFF | INPCK, TIOCM_DTR | TIOCM_RTS}}) {
    comm.SetFlowControl(f.flow);  // fcNone: RTS only while sending
    EXPECT_EQ(std::tuple(t().c_cflag & CRTSCTS, t().c_iflag & ~PARMRK, comm.device->lines.load()),
              std::tuple(f.cflag, f.iflag, f.lines)) << "flow control " << int(f.flow);
  }
  EXPECT_EQ(std::tuple(t().c_cc[VSTART], t().c_cc[VSTOP]), std::tuple('A', 'B'));
  comm.SetFlowControl(fcNone);
  comm.SetXonChar('x');  // the flow characters follow their properties whatever the flow
  comm.SetXoffChar('y');
  EXPECT_EQ(std::tuple(t().c_cc[VSTART], t().c_cc[VSTOP]), std::tuple('x', 'y'));
  comm.device->Accept(0);
  EXPECT_EQ(comm.Write("?", 1), 0);
  EXPECT_EQ(comm.device->lines, TIOCM_DTR | TIOCM_RTS);
  comm.device->Accept(SIZE_MAX);
  EXPECT_TRUE(pump.Until([&] { return comm.device->lines == TIOCM_DTR; })) << "RTS drops when sent";
  comm.SetOptions({osNullStrip});  // options are written whole
  EXPECT_EQ(t().c_iflag & INPCK, 0u);
  comm.device->Feed(std::string("a\0b", 3));
  ASSERT_TRUE(pump.Until([&] { return received == "ab"; }));

  comm.SetFlowControl(fcSoftware);  // at open, the flow characters go with this only
  const termios2 before = t();
  comm.Close();
  comm.Open();
  EXPECT_TRUE(t() == before) << "open applies every setting to a device fresh from its own";
  comm.SetParity(paSpace);
  EXPECT_EQ(comm.Parity(), paSpace) << "the property keeps a value the device refused";
  EXPECT_TRUE(t() == before) << "and the device stays as it was";
  comm.SetDatabits(da8);
  EXPECT_EQ(t().c_cflag & CSIZE, CS8) << "the next value the device can do goes through";
  comm.Close();
  comm.Open();
  EXPECT_TRUE(comm.IsOpen()) << "a step that failed leaves the port open";
  EXPECT_EQ(opens, (Opens{{PST_RS232, 0}, {PST_RS232, 0}, {PST_RS232, EINVAL}}));
}

TEST_F(Comm32Fake, WritesAndLineControls) {
  comm.OnRxChar = nullptr;
  std::string text = "cdef";
  EXPECT_EQ(std::tuple(comm.Write("x", 1), comm.Read(text.data(), 1), comm.GetModemState(1),
                       comm.SetDTRState(true)),
            std::tuple(-1, -1, false, false)) << "a closed port";
  comm.Open();
  FakeDevice& device = *comm.device;
  EXPECT_EQ(device.lines, TIOCM_DTR | TIOCM_RTS) << "both raised by the device's own settings";
  EXPECT_EQ(comm.Write("ab", 2), 2);
  device.Accept(1);
  EXPECT_EQ(comm.Write(text.data(), 4), 0) << "partly taken: goes on in the background";
  text = "XXXX";  // the caller's bytes are free as soon as Write returns
  device.Accept(SIZE_MAX);
  ASSERT_TRUE(pump.Until([&] { return comm.Write("gh", 2) == 2; })) << "once the first has ended";

  EXPECT_TRUE(comm.SetXONState(false) && device.flowStopped);
  EXPECT_EQ(comm.Write("1", 1), 0);
  EXPECT_EQ(comm.Write("2", 1), 0) << "refused while the first is held";
  EXPECT_EQ(device.Written(), "abcdefgh");
  EXPECT_TRUE(comm.SetXONState(true));
  ASSERT_TRUE(pump.Until([&] { return comm.Write("3", 1) == 1; }));

  device.Accept(0);
  EXPECT_EQ(comm.Write("held", 4), 0);
  device.Feed("xyz");
  ASSERT_TRUE(pump.Until([&] { return device.Waiting() == 0; }));
  EXPECT_TRUE(comm.SetBREAKState(true) && device.breakOn);
  EXPECT_TRUE(comm.SetBREAKState(false) && !device.breakOn);
  EXPECT_EQ(comm.Read(text.data(), 1), -1) << "received bytes were purged";
  device.Accept(SIZE_MAX);
  EXPECT_EQ(comm.Write("new", 3), 3) << "the aborted write holds nothing back";
  EXPECT_EQ(device.Written(), "abcdefgh13new");

  std::atomic<int>& lines = device.lines;
  const int alone[] = {~0, TIOCM_CTS, TIOCM_DSR, TIOCM_RI, TIOCM_CD, ~0};
  for (int line = 0; line <= 5; ++line) {
    lines = alone[line];
    EXPECT_EQ(comm.GetModemState(line), line >= 1 && line <= 4) << line;
  }
  for (bool on : {false, true}) {
    EXPECT_TRUE(comm.SetDTRState(on) && comm.SetRTSState(!on));
    EXPECT_EQ(lines & (TIOCM_DTR | TIOCM_RTS), on ? TIOCM_DTR : TIOCM_RTS);
  }
}

// Failures of the system that Open reports, with their own codes, instead
// of throwing or saying EMFILE; a read of 0 that poll() did not announce.
TEST_F(Comm32Fake, SystemFailuresAreReportedByOpenWithTheirCodes) {
  refuseThreads = EAGAIN;
  comm.Open();
  refuseThreads = 0;
  EXPECT_EQ(std::tuple(comm.IsOpen(), opens.back().second), std::tuple(false, EAGAIN));
  testing_support::PtyPair pair;
  TComm32 pty;
  pty.SetDeviceName(pair.path());
  for (int refused : {0, 1}) {  // the port's event, then the monitor's
    refuseEvent = refused;
    pty.Open();
    EXPECT_EQ(std::tuple(pty.IsOpen(), GetLastError()), std::tuple(false, ENFILE)) << refused;
  }
  comm.Open();
  comm.device->unsent = 3;  // a final "*" on its way: Close waits for it
  outputFlushes = 0;
  comm.Close();
  EXPECT_EQ(outputFlushes, 0) << "the last byte is not thrown away";
  comm.Open();
  comm.device->zeroOnce = true;
  ASSERT_EQ(comm.Write("?", 1), 1);  // wakes the monitor, which reads nothing
  ASSERT_TRUE(pump.Until([&] { return !events.empty() && events.back() == "txempty"; }));
  comm.device->Feed("x");
  ASSERT_TRUE(pump.Until([&] { return !events.empty() && events.back() == "rx:1"; }));
  EXPECT_EQ(std::count(events.begin(), events.end(), ErrorEvent(CE_IOE)), 0) << "no hang-up";
}

// A handler of one port that closes another serves that port's hand-over
// while it waits; a hook being removed is waited for.
TEST_F(Comm32Fake, NoDeadlockBetweenTwoPortsAndNoWakeAfterTheHookIsGone) {
  FakeComm32 b;
  comm.Open();
  b.Open();
  comm.OnRxChar = [&](TCustomComm32*, int32_t) { b.Close(); };
  comm.device->Feed("a");
  ASSERT_TRUE(pump.UntilQueued(1));
  b.device->Feed("b");
  ASSERT_TRUE(pump.UntilQueued(2));  // b's request waits behind the first
  CheckSynchronize();
  EXPECT_FALSE(b.IsOpen());

  std::atomic<bool> inHook = false;
  SetWakeMainThreadHook([&] { inHook = true; std::this_thread::sleep_for(50ms); inHook = false; });
  comm.device->Feed("c");
  while (!inHook) std::this_thread::yield();
  SetWakeMainThreadHook(nullptr);
  EXPECT_FALSE(inHook) << "removing the hook waited for the call under way";
  comm.Close();  // serves the last hand-over while b still lives
}

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
  auto ioErrors = [&] { return std::count(events.begin(), events.end(), ErrorEvent(CE_IOE)); };
  ASSERT_TRUE(pump.Until([&] { return ioErrors() > 0 && testing_support::Threads() <= threads; }));
  EXPECT_EQ(ioErrors(), 1);
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
