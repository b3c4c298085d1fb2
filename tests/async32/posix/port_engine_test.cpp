// The POSIX port engine under the component, over a scripted terminal
// driver: what a pseudo-terminal cannot produce (line-error marks, modem
// lines, USB rings, a full device, a read of 0, output still draining) and
// what the engine keeps because termios cannot.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <tuple>

#include "async32/posix/port_engine.h"
#include "async32/posix/termios_map.h"
#include "comm32_fixture.h"

namespace async32 {
namespace {

bool operator==(const termios2& a, const termios2& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

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

using Comm32Fake = Comm32Test<FakeComm32>;

// Errors counted, lines changed, bytes, the event character and a write
// that has gone: one look at the device, one hand-over.
TEST_F(Comm32Fake, WhatTheDeviceReportsTogetherIsHandedOverTogether) {
  comm.Open();
  FakeDevice& device = *comm.device;
  device.Feed("a");
  ASSERT_TRUE(pump.UntilQueued(1));  // the monitor now waits inside that hand-over
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
  EXPECT_EQ(events, (Events{"rx:1", "break", "cts", "dsr",
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
  EXPECT_EQ(std::tuple(Seen("break"), Seen(ErrorEvent(CE_BREAK | CE_FRAME | CE_RXPARITY))), std::tuple(1, 1));
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

// What termios cannot hold the engine does itself: DTR and RTS by their
// control modes (for fcNone RTS only while sending), NUL stripping, a value
// that did not stick refused; writes with their own copy, held by XOFF, and
// a break that purges.
TEST_F(Comm32Fake, SettingsAndLineControlsThatTermiosCannotHold) {
  comm.quirk = [](termios2& t) { t.c_cflag &= ~CMSPAR; };  // space parity becomes even here
  comm.SetFlowControl(fcNone);
  comm.SetOptions({osNullStrip});
  comm.Open();
  comm.device->Accept(0);
  EXPECT_EQ(comm.Write("?", 1), 0);
  EXPECT_EQ(comm.device->lines, TIOCM_DTR | TIOCM_RTS);
  comm.device->Accept(SIZE_MAX);
  EXPECT_TRUE(pump.Until([&] { return comm.device->lines == TIOCM_DTR; })) << "RTS drops when sent";
  comm.device->Feed(std::string("a\0b", 3));
  ASSERT_TRUE(pump.Until([&] { return received == "ab"; }));
  for (auto [flow, lines] : {std::pair(fcCTS, TIOCM_DTR), {fcDTR, TIOCM_DTR | TIOCM_RTS}}) {
    comm.SetFlowControl(flow);
    EXPECT_EQ(comm.device->lines, lines) << "flow control " << int(flow);
  }
  const termios2 before = comm.device->termios;
  comm.SetParity(paSpace);
  EXPECT_TRUE(comm.device->termios == before) << "the device stays as it was";
  comm.Close();
  comm.Open();
  EXPECT_EQ(opens, (Opens{{PST_RS232, 0}, {PST_RS232, EINVAL}})) << "and the port open";

  FakeDevice& device = *comm.device;
  comm.OnRxChar = nullptr;
  std::string text = "cdef";
  device.Accept(1);
  EXPECT_EQ(comm.Write(text.data(), 4), 0) << "partly taken: goes on in the background";
  text = "XXXX";  // the caller's bytes are free as soon as Write returns
  device.Accept(SIZE_MAX);
  ASSERT_TRUE(pump.Until([&] { return comm.Write("g", 1) == 1; })) << "once the first has ended";
  EXPECT_TRUE(comm.SetXONState(false) && device.flowStopped);
  EXPECT_EQ(comm.Write("1", 1), 0) << "held";
  device.Feed("xyz");
  ASSERT_TRUE(pump.Until([&] { return device.Waiting() == 0; }));
  EXPECT_TRUE(comm.SetBREAKState(true) && device.breakOn);
  EXPECT_TRUE(comm.SetBREAKState(false) && !device.breakOn);
  EXPECT_EQ(comm.Read(text.data(), 1), -1) << "received bytes were purged";
  EXPECT_TRUE(comm.SetXONState(true) && !device.flowStopped);
  EXPECT_EQ(comm.Write("new", 3), 3) << "the aborted write holds nothing back";
  EXPECT_EQ(device.Written(), "cdefgnew");

  std::atomic<int>& lines = device.lines;
  const int alone[] = {TIOCM_CTS, TIOCM_DSR, TIOCM_RI, TIOCM_CD};
  for (int line = 1; line <= 4; ++line) {
    lines = ~alone[line - 1];
    EXPECT_FALSE(comm.GetModemState(line)) << line;
    lines = alone[line - 1];
    EXPECT_TRUE(comm.GetModemState(line)) << line;
  }
  for (bool on : {false, true}) {
    EXPECT_TRUE(comm.SetDTRState(on) && comm.SetRTSState(!on));
    EXPECT_EQ(lines & (TIOCM_DTR | TIOCM_RTS), on ? TIOCM_DTR : TIOCM_RTS);
  }
}

// A final "*" on its way is not thrown away at Close; a read of 0 that
// poll() did not announce is no hang-up.
TEST_F(Comm32Fake, CloseLetsOutputDrainAndAnUnannouncedEmptyReadIsNoHangUp) {
  comm.Open();
  comm.device->unsent = 3;
  outputFlushes = 0;
  comm.Close();
  EXPECT_EQ(outputFlushes, 0) << "the last byte is not thrown away";
  comm.Open();
  comm.device->zeroOnce = true;
  ASSERT_EQ(comm.Write("?", 1), 1);  // wakes the monitor, which reads nothing
  ASSERT_TRUE(pump.Until([&] { return !events.empty() && events.back() == "txempty"; }));
  comm.device->Feed("x");
  ASSERT_TRUE(pump.Until([&] { return !events.empty() && events.back() == "rx:1"; }));
  EXPECT_EQ(Seen(ErrorEvent(CE_IOE)), 0) << "no hang-up";
}

}  // namespace
}  // namespace async32
