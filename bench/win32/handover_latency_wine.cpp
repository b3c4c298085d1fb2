// How long a byte takes, under wine, from the program's write through the
// device's echo to the serial port component's OnRxChar handler on the
// user-interface thread, against a bare overlapped ReadFile loop on the same
// port in the same run (the floor). Run through `tests/win32/wine-run
// --with-pty`, which plays the echoing device on a pseudo-terminal.
//
// Usage: bench_handover_latency_wine [trials]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "async32/comm32.h"
#include "async32/thread.h"

#include <windows.h>

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size())));
  return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench_handover_latency_wine: %s\n", what.c_str());
  std::exit(2);
}

// The component, its hand-overs served by a loop woken through an event, as
// the program's event loop is.
std::vector<double> ThroughTheComponent(const std::string& port, int trials) {
  const HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  async32::SetWakeMainThreadHook([wake] { SetEvent(wake); });
  async32::TComm32 comm;
  comm.SetDeviceName(port);
  comm.SetMonitorEvents({async32::evRxChar});
  bool arrived = false;
  comm.OnRxChar = [&](async32::TCustomComm32*, int32_t count) {
    std::string bytes(static_cast<size_t>(count), '\0');
    arrived = comm.Read(bytes.data(), count) == count && count > 0;
  };
  comm.Open();
  if (!comm.IsOpen()) Fail("cannot open " + port);
  std::vector<double> samples;
  for (int i = 0; i < trials; ++i) {
    arrived = false;
    const auto start = Clock::now();
    if (comm.Write("?", 1) < 0) Fail("write failed");
    while (!arrived) {
      if (WaitForSingleObject(wake, 5000) != WAIT_OBJECT_0) Fail("no echo");
      async32::CheckSynchronize();
    }
    samples.push_back(Micros(Clock::now() - start));
  }
  comm.Close();
  async32::SetWakeMainThreadHook(nullptr);
  CloseHandle(wake);
  return samples;
}

// The floor: one overlapped ReadFile at a time, waited for on this thread.
std::vector<double> ThroughABareRead(const std::string& port, int trials) {
  const HANDLE h = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail("cannot open " + port);
  COMMTIMEOUTS timeouts{};  // a read ends with its first byte
  timeouts.ReadIntervalTimeout = 1;
  SetCommTimeouts(h, &timeouts);
  OVERLAPPED read{}, write{};
  read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<double> samples;
  for (int i = 0; i < trials; ++i) {
    char byte = 0;
    DWORD done = 0;
    const auto start = Clock::now();
    if (!WriteFile(h, "?", 1, &done, &write) && GetLastError() != ERROR_IO_PENDING) Fail("write failed");
    GetOverlappedResult(h, &write, &done, TRUE);
    if (!ReadFile(h, &byte, 1, &done, &read)) {
      if (GetLastError() != ERROR_IO_PENDING) Fail("read failed");
      if (WaitForSingleObject(read.hEvent, 5000) != WAIT_OBJECT_0) Fail("no echo");
      GetOverlappedResult(h, &read, &done, TRUE);
    }
    samples.push_back(Micros(Clock::now() - start));
  }
  CloseHandle(read.hEvent);
  CloseHandle(write.hEvent);
  CloseHandle(h);
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  const char* port = std::getenv("KAROLX_TEST_PORT");
  if (!port) Fail("run through tests/win32/wine-run --with-pty");
  const int trials = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
  // Alternated in rounds, so that a slow spell of the machine falls on both.
  std::vector<double> component, bare;
  for (int round = 0; round < 3; ++round) {
    const auto c = ThroughTheComponent(port, trials / 3);
    const auto b = ThroughABareRead(port, trials / 3);
    component.insert(component.end(), c.begin(), c.end());
    bare.insert(bare.end(), b.begin(), b.end());
  }
  std::printf("trials=%zu\n", component.size());
  std::printf("bare_read_p50_us=%.0f\nbare_read_p99_us=%.0f\n", Percentile(bare, 0.5), Percentile(bare, 0.99));
  std::printf("component_p50_us=%.0f\ncomponent_p99_us=%.0f\n", Percentile(component, 0.5),
              Percentile(component, 0.99));
  std::printf("component_to_bare_p50_ratio=%.2f\n", Percentile(component, 0.5) / Percentile(bare, 0.5));
  return 0;
}
