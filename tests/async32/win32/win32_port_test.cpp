// The Windows backend on wine's own serial driver, over a pseudo-terminal
// that the prefix sees as a COM port, with a device played on its other end
// (tests/win32/pty_device.c: run through `wine-run --with-pty`).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "async32/comm32.h"
#include "async32/win32/platform_calls.h"
#include "comm32_fixture.h"

#include <windows.h>
#include <tlhelp32.h>

namespace async32 {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

DWORD Handles() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

int Threads() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return count;
}

class Win32Pty : public Comm32Test<TComm32> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Env("KAROLX_TEST_PORT").empty()) << "run through tests/win32/wine-run --with-pty";
    comm.SetDeviceName(Env("KAROLX_TEST_PORT"));
  }
  // What the device does next: echo, sink, hold or hangup.
  static void Device(const char* word) { std::ofstream("Z:" + Env("KAROLX_TEST_DEVICE")) << word << "\n"; }
  static void Lines(int bits) { std::ofstream("Z:" + Env("KAROLX_TEST_LINES")) << bits << "\n"; }
};

TEST_F(Win32Pty, BytesBothWaysTheirEventsAndAPendingWrite) {
  comm.Open();  // the pty's own settings: no flow control, so 17 and 19 are data
  ASSERT_EQ(opens.back().second, 0);
  std::string bytes(256, '\0');
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
  EXPECT_NE(comm.Write(bytes.data(), 256), -1);
  ASSERT_TRUE(pump.Until([&] { return received.size() >= 256 && Seen("txempty") > 0; })) << received.size();
  EXPECT_EQ(received, bytes) << "the device echoes";

  Device("hold");
  const std::string block(1 << 20, 'x');
  EXPECT_EQ(comm.Write(block.data(), static_cast<int32_t>(block.size())), 0) << "more than the line takes";
  EXPECT_EQ(comm.Write("y", 1), 0) << "refused while the first is pending";
  Device("sink");
  EXPECT_TRUE(pump.Until([&] { return comm.Write("z", 1) == 1; })) << "once the first has gone";
}

// The modem lines as Linux numbers them, for the stand-in's file.
constexpr int kCts = 0x020, kCarrier = 0x040, kDsr = 0x100;

// The monitor's waits begun: wine's driver sees a line change only against
// the lines at the start of a wait, so each change waits for the next one.
std::atomic<int> monitorWaits = 0;

TEST_F(Win32Pty, ModemLineChangesAreEventsAndStates) {
  comm.SetFlowControl(fcNone);  // RTS toggling: wine's driver refuses it
  comm.Open();
  EXPECT_EQ(opens.back().second, ERROR_NOT_SUPPORTED) << "and the port is open all the same";
  comm.Close();
  auto& calls = win32::Platform();
  calls.WaitForMultipleObjects = [](DWORD count, const HANDLE* objects, BOOL all, DWORD ms) {
    ++monitorWaits;
    return WaitForMultipleObjects(count, objects, all, ms);
  };
  comm.SetFlowControl(fcDefault);
  comm.Open();
  EXPECT_TRUE(comm.GetModemState(1) && comm.GetModemState(2) && !comm.GetModemState(4));
  int changes = 0;
  for (auto [lines, event] : {std::pair(kCts, "dsr"), {kCts | kCarrier, "rlsd"}, {kCarrier, "cts"}}) {
    ASSERT_TRUE(pump.Until([&] { return monitorWaits > changes; }));
    Lines(lines);
    ASSERT_TRUE(pump.Until([&] { return Seen(event) == 1; })) << event;
    ++changes;
  }
  EXPECT_EQ(events, (Events{"dsr", "rlsd", "cts"}));
  EXPECT_TRUE(!comm.GetModemState(1) && !comm.GetModemState(2) && comm.GetModemState(4));
  comm.Close();
  calls = win32::SystemCalls();
}

// A stop ends the monitor's wait at once; open and close leave no handle or
// thread behind, with hand-overs under way.
TEST_F(Win32Pty, CloseEndsTheWaitAtOnceAndCyclesLeakNothing) {
  comm.Open();
  comm.Close();
  const DWORD handles = Handles();
  const int threads = Threads();
  auto slowest = 0ms;
  for (int i = 0; i < 200; ++i) {
    comm.Open();
    comm.Write("?", 1);  // echoed: its hand-over may be under way at Close
    if (i % 2) pump.Until([&] { return !received.empty(); });
    const auto start = std::chrono::steady_clock::now();
    comm.Close();
    slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start));
    received.clear();
  }
  EXPECT_EQ(opens, Opens(201, {opens[0].first, 0}));
  EXPECT_LT(slowest, 1000ms) << "a wait the stop did not end";
  EXPECT_TRUE(pump.Until([&] { return Handles() <= handles && Threads() <= threads; }))
      << Handles() << " handles, were " << handles << "; " << Threads() << " threads, were " << threads;
  std::printf("close_slowest_ms=%lld\n", static_cast<long long>(slowest.count()));
}

TEST_F(Win32Pty, AHangUpIsOneIoErrorAndTheMonitorEnds) {
  comm.Open();
  const int threads = Threads();
  Device("hangup");
  ASSERT_TRUE(pump.Until([&] { return Seen(ErrorEvent(CE_IOE)) > 0 && Threads() < threads; }));
  EXPECT_EQ(Seen(ErrorEvent(CE_IOE)), 1);
  EXPECT_TRUE(comm.IsOpen()) << "the operator closes it";
}

}  // namespace
}  // namespace async32
