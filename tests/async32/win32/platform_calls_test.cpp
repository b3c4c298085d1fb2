// The Windows backend through a stand-in for the platform: the calls it
// makes, in order, and the platform's documented answers that wine on a
// pseudo-terminal cannot give (a refused setting, parity errors and breaks,
// a write left pending, a purge that aborts it, a device that goes away).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "async32/comm32.h"
#include "async32/errors.h"
#include "async32/win32/platform_calls.h"
#include "comm32_fixture.h"

#include <windows.h>

namespace async32 {
namespace {

using Calls = std::vector<std::string>;
const HANDLE kPort = reinterpret_cast<HANDLE>(0x5e1a1);

std::string Hex(DWORD value) {
  char text[16];
  snprintf(text, sizeof text, "%lx", value);
  return text;
}

// What the platform holds and answers. The monitor thread calls in too.
struct Platform {
  std::recursive_mutex mutex;
  Calls calls;
  DWORD openError = 0, refuseState = 0;  // CreateFileA's and SetCommState's failures
  ::DCB state{};
  DWORD errors = 0, inQueue = 0;  // what ClearCommError reports
  DWORD* waitMask = nullptr;
  OVERLAPPED* wait = nullptr;  // the pending WaitCommEvent
  DWORD waitFailure = 0;       // its result, when it fails
  bool cancelled = false;
  bool writesPend = false;
  OVERLAPPED* write = nullptr;  // the pending WriteFile
  const char* writeBytes = nullptr;
  DWORD writeEnd = 0;  // 0 while pending, then ERROR_SUCCESS + 1 (sent) or the failure

  // Notes the call; true, the platform's success.
  BOOL Note(const std::string& call) {
    std::lock_guard l(mutex);
    calls.push_back(call);
    return TRUE;
  }
  size_t Count(const std::string& call) {
    std::lock_guard l(mutex);
    return std::count(calls.begin(), calls.end(), call);
  }
  Calls Take() { std::lock_guard l(mutex); return std::exchange(calls, {}); }
  // The pending wait completes with `events`.
  void Complete(DWORD events) {
    std::lock_guard l(mutex);
    *waitMask = events;
    SetEvent(wait->hEvent);
  }
};
Platform* platform = nullptr;

BOOL Pending() { return SetLastError(ERROR_IO_PENDING), FALSE; }

const win32::PlatformCalls kStandIn{
    [](const char* name, DWORD access, DWORD share, _SECURITY_ATTRIBUTES*, DWORD disposition, DWORD flags,
       HANDLE) -> HANDLE {
      platform->Note("CreateFileA " + std::string(name) + " " + Hex(access) + " " + Hex(share) + " " +
                     Hex(disposition) + " " + Hex(flags));
      if (platform->openError == 0) return kPort;
      SetLastError(platform->openError);
      return INVALID_HANDLE_VALUE;
    },
    [](HANDLE) { return platform->Note("CloseHandle"); },
    [](HANDLE, ::COMMCONFIG* config, DWORD*) {
      config->dcb = platform->state;
      config->dwProviderSubType = PST_RS232;
      return platform->Note("GetCommConfig");
    },
    [](HANDLE, ::DCB* dcb) { *dcb = platform->state; return platform->Note("GetCommState"); },
    [](HANDLE, ::DCB* dcb) -> BOOL {
      platform->Note("SetCommState");
      if (platform->refuseState) return SetLastError(platform->refuseState), FALSE;
      platform->state = *dcb;
      return TRUE;
    },
    [](HANDLE, DWORD in, DWORD out) {
      return platform->Note("SetupComm " + std::to_string(in) + " " + std::to_string(out));
    },
    [](HANDLE, ::COMMTIMEOUTS* t) {
      return platform->Note("SetCommTimeouts " + std::to_string(t->ReadIntervalTimeout) + " " +
                            std::to_string(t->ReadTotalTimeoutMultiplier + t->ReadTotalTimeoutConstant +
                                           t->WriteTotalTimeoutMultiplier + t->WriteTotalTimeoutConstant));
    },
    [](HANDLE, DWORD mask) { return platform->Note("SetCommMask " + Hex(mask)); },
    [](HANDLE, DWORD* mask, OVERLAPPED* overlapped) {
      platform->Note("WaitCommEvent");
      std::lock_guard l(platform->mutex);
      platform->waitMask = mask;
      platform->wait = overlapped;
      platform->cancelled = false;
      ResetEvent(overlapped->hEvent);
      return Pending();
    },
    [](DWORD count, const HANDLE* objects, BOOL all, DWORD ms) {
      platform->Note("WaitForMultipleObjects");
      return WaitForMultipleObjects(count, objects, all, ms);
    },
    [](HANDLE, OVERLAPPED* overlapped, DWORD* done, BOOL wait) -> BOOL {
      platform->Note(wait ? "GetOverlappedResult wait" : "GetOverlappedResult");
      std::lock_guard l(platform->mutex);
      if (overlapped == platform->wait) {
        const DWORD failure = platform->cancelled ? ERROR_OPERATION_ABORTED : platform->waitFailure;
        return failure ? (SetLastError(failure), FALSE) : TRUE;
      }
      if (overlapped == platform->write && platform->writeEnd != ERROR_SUCCESS + 1) {
        const bool going = platform->writeEnd == 0 && !wait;
        return SetLastError(going ? ERROR_IO_INCOMPLETE : ERROR_OPERATION_ABORTED), FALSE;
      }
      *done = static_cast<DWORD>(overlapped->InternalHigh);  // a read, or a write sent
      return TRUE;
    },
    [](HANDLE, OVERLAPPED* overlapped) {
      std::lock_guard l(platform->mutex);
      if (overlapped == platform->wait) platform->cancelled = true;
      SetEvent(overlapped->hEvent);
      return platform->Note("CancelIoEx");
    },
    [](HANDLE, DWORD* errors, ::COMSTAT* stat) {
      std::lock_guard l(platform->mutex);
      *errors = std::exchange(platform->errors, 0);
      *stat = ::COMSTAT{};
      stat->cbInQue = platform->inQueue;
      return platform->Note("ClearCommError");
    },
    [](HANDLE, DWORD* status) { *status = MS_CTS_ON; return platform->Note("GetCommModemStatus"); },
    [](HANDLE, DWORD function) { return platform->Note("EscapeCommFunction " + Hex(function)); },
    [](HANDLE, DWORD flags) {
      std::lock_guard l(platform->mutex);
      if ((flags & PURGE_TXABORT) && platform->write && platform->writeEnd == 0) {
        platform->writeEnd = ERROR_OPERATION_ABORTED;
        SetEvent(platform->write->hEvent);
      }
      return platform->Note("PurgeComm " + Hex(flags));
    },
    [](HANDLE, const void* data, DWORD count, DWORD* written, OVERLAPPED* overlapped) {
      platform->Note("WriteFile " + std::to_string(count));
      std::lock_guard l(platform->mutex);
      *written = platform->writesPend ? 0 : count;
      if (!platform->writesPend) return TRUE;
      platform->write = overlapped;
      platform->writeBytes = static_cast<const char*>(data);
      platform->writeEnd = 0;
      return Pending();
    },
    // As wine does: even waiting bytes are read in the background, all at once.
    [](HANDLE, void* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) {
      platform->Note("ReadFile " + std::to_string(count));
      std::memset(buffer, 'r', count);
      *read = 0;
      overlapped->InternalHigh = count;
      SetEvent(overlapped->hEvent);
      return Pending();
    },
};

class Win32Calls : public Comm32Test<TComm32> {
 protected:
  Win32Calls() {
    platform = &stand;
    stand.state.DCBlength = sizeof stand.state;
    stand.state.BaudRate = 9600;
    stand.state.ByteSize = 8;
    win32::Platform() = kStandIn;
    comm.SetDeviceName("COM12");
  }
  ~Win32Calls() override {
    win32::Platform() = win32::SystemCalls();
    platform = nullptr;
  }
  // The monitor has started its `n`th wait.
  bool Waiting(size_t n) { return pump.Until([&] { return stand.Count("WaitForMultipleObjects") >= n; }); }

  Platform stand;
};

TEST_F(Win32Calls, OpenWaitReadWriteAndCloseInTheirOrder) {
  comm.SetMonitorEvents({evRxChar});
  comm.Open();
  ASSERT_TRUE(Waiting(1));
  EXPECT_EQ(stand.Take(), (Calls{"CreateFileA \\\\.\\COM12 c0000000 0 3 40000000", "GetCommConfig",
                                 "SetCommState", "SetupComm 4096 2048", "SetCommTimeouts 250 0",
                                 "GetCommState", "SetCommState", "SetCommMask 1", "WaitCommEvent",
                                 "WaitForMultipleObjects"}));
  stand.inQueue = 3;
  comm.OnRxChar = [this](TCustomComm32*, int32_t count) {
    char bytes[8];
    EXPECT_EQ(comm.Read(bytes, count + 1), -1) << "more than is waiting: nothing is read";
    EXPECT_EQ(comm.Read(bytes, count), 3);
  };
  stand.Complete(EV_RXCHAR);
  ASSERT_TRUE(Waiting(1));  // the calls so far were taken
  EXPECT_EQ(comm.Write("?", 1), 1);
  comm.Close();
  EXPECT_EQ(stand.Take(), (Calls{"GetOverlappedResult", "ClearCommError", "ClearCommError",
                                 "ClearCommError", "ReadFile 3", "GetOverlappedResult wait",
                                 "WaitCommEvent", "WaitForMultipleObjects", "WriteFile 1", "CancelIoEx",
                                 "GetOverlappedResult wait", "PurgeComm a", "CloseHandle"}));
}

// The component's block reaches the platform bit for bit, as the SDK's own.
TEST_F(Win32Calls, SettingsReachThePlatformAsItsOwnBlockAndARefusalIsReported) {
  comm.SetBaudRate(cbr256000);
  comm.SetDatabits(da7);
  comm.SetParity(paMark);
  comm.SetStopbits(sb20);
  comm.SetOptions({osParityCheck, osNullStrip});
  comm.SetXonChar('A');
  comm.SetFlowControl(fcSoftware);
  comm.Open();
  const ::DCB& d = stand.state;
  EXPECT_EQ(std::tuple(d.DCBlength, d.BaudRate, d.ByteSize, d.Parity, d.StopBits, d.fParity, d.fNull, d.fOutX,
                       d.fInX, d.fRtsControl, d.fDtrControl, d.fOutxCtsFlow, d.XonChar),
            std::tuple(sizeof(::DCB), 256000ul, 7, MARKPARITY, TWOSTOPBITS, 1u, 1u, 1u, 1u, RTS_CONTROL_ENABLE,
                       DTR_CONTROL_ENABLE, 0u, 'A'));
  comm.SetFlowControl(fcCTS);
  EXPECT_EQ(std::tuple(d.fOutxCtsFlow, d.fRtsControl, d.fOutX, d.fInX),
            std::tuple(1u, RTS_CONTROL_HANDSHAKE, 0u, 0u));
  stand.refuseState = ERROR_INVALID_PARAMETER;
  comm.Open();
  EXPECT_TRUE(comm.IsOpen()) << "a refused setting leaves the port open";
  EXPECT_EQ(opens, (Opens{{PST_RS232, 0}, {PST_RS232, ERROR_INVALID_PARAMETER}}));
  EXPECT_EQ(ClassifyError(ERROR_INVALID_PARAMETER), ErrorKind::kRefusedSetting);
}

TEST_F(Win32Calls, APendingWriteKeepsItsOwnBytesUntilItEndsAndABreakAbortsIt) {
  comm.Open();
  stand.writesPend = true;
  std::string text = "abc";
  EXPECT_EQ(comm.Write(text.data(), 3), 0);
  text = "xyz";
  EXPECT_EQ(std::string(stand.writeBytes, 3), "abc") << "the caller's bytes are free at once";
  EXPECT_EQ(comm.Write("d", 1), 0) << "refused while the first is pending";
  EXPECT_EQ(stand.Count("WriteFile 1"), 0u);
  EXPECT_TRUE(comm.SetBREAKState(true));
  EXPECT_EQ(stand.Count("PurgeComm f"), 1u);
  stand.writesPend = false;
  EXPECT_EQ(comm.Write("e", 1), 1) << "the aborted write holds nothing back";
  stand.writesPend = true;
  EXPECT_EQ(comm.Write("f", 1), 0);
  {
    std::lock_guard l(stand.mutex);
    stand.writeEnd = ERROR_SUCCESS + 1;  // sent
  }
  EXPECT_EQ(comm.Write("g", 1), 0) << "a new write, pending again";
  EXPECT_EQ(stand.Count("WriteFile 1"), 3u);
}

TEST_F(Win32Calls, LineErrorsFlagsAndAGoneDeviceReachTheHandlersOnce) {
  comm.Open();
  ASSERT_TRUE(Waiting(1));
  stand.errors = CE_RXPARITY | CE_BREAK;
  stand.Complete(EV_RXFLAG | EV_ERR);
  ASSERT_TRUE(Waiting(2));
  stand.errors = CE_FRAME;  // taken by a read's look at the queue, reported at the next hand-over
  char byte;
  EXPECT_EQ(comm.Read(&byte, 1), -1);
  stand.waitFailure = ERROR_OPERATION_ABORTED;  // the adapter was pulled
  stand.Complete(0);
  ASSERT_TRUE(pump.Until([&] { return events.size() >= 3; }));
  EXPECT_EQ(events, (Events{ErrorEvent(CE_RXPARITY | CE_BREAK), "rxflag", ErrorEvent(CE_FRAME | CE_IOE)}));
  EXPECT_EQ(stand.Count("WaitCommEvent"), 2u) << "no wait after the device has gone";
  EXPECT_TRUE(comm.IsOpen()) << "the operator closes it";
}

TEST_F(Win32Calls, OpenFailuresKeepTheSystemsCodeAndItsKind) {
  for (auto [code, kind] : {std::pair(ERROR_FILE_NOT_FOUND, ErrorKind::kNotFound),
                            {ERROR_ACCESS_DENIED, ErrorKind::kBusy},  // held by another program
                            {ERROR_SHARING_VIOLATION, ErrorKind::kBusy},
                            {ERROR_BAD_COMMAND, ErrorKind::kGone}}) {
    stand.openError = code;
    comm.Open();
    EXPECT_EQ(std::tuple(comm.IsOpen(), opens.back().first, opens.back().second, ClassifyError(code)),
              std::tuple(false, 0, static_cast<int32_t>(code), kind));
  }
  const std::string text = ErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(!text.empty() && text.back() != '\n' && text.back() != '.') << text;
}

}  // namespace
}  // namespace async32
