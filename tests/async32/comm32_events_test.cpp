// Dispatch of device events through the monitor thread, on a scripted device
// that produces line events a pseudo-terminal cannot.

#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fake_comm32.h"
#include "hand_over_pump.h"

namespace async32 {
namespace {

using testing_support::FakeComm32;
using testing_support::FakeDevice;

class Comm32Events : public ::testing::Test {
 protected:
  void SetUp() override {
    mainThread = std::this_thread::get_id();
    auto note = [this](const std::string& what) {
      return [this, what](TCustomComm32*) { Log(what); };
    };
    comm.OnBreak = note("break");
    comm.OnCTS = note("cts");
    comm.OnDSR = note("dsr");
    comm.OnRing = note("ring");
    comm.OnRLSD = note("rlsd");
    comm.OnTxEmpty = note("txempty");
    comm.OnError = [this](TCustomComm32*, int32_t errors) { Log("error:" + std::to_string(errors)); };
    comm.OnRxChar = [this](TCustomComm32*, int32_t count) {
      Log("rx:" + std::to_string(count));
      std::vector<uint8_t> buf(static_cast<size_t>(count));
      comm.Read(buf.data(), count);
    };
  }
  void TearDown() override {
    comm.Close();
    SetEventErrorHook(nullptr);
  }

  void Log(const std::string& what) {
    EXPECT_EQ(std::this_thread::get_id(), mainThread) << "handlers run on the serving thread";
    events.push_back(what);
  }
  bool Saw(const std::string& what) {
    return std::find(events.begin(), events.end(), what) != events.end();
  }

  testing_support::HandOverPump pump;
  FakeComm32 comm;
  std::vector<std::string> events;
  std::thread::id mainThread;
};

TEST_F(Comm32Events, OneWaitIsDeliveredInTheFixedOrderWithOneErrorCheck) {
  comm.Open();
  // Let the open settle (the monitor reports the idle transmitter once).
  ASSERT_TRUE(pump.Until([&] { return true; }));
  events.clear();
  // A framing error, two bytes and a finished write, all in one wait.
  comm.device->Change([](FakeDevice& d) {
    d.counters.frame++;
    d.incoming.assign({'o', 'k'});
  });
  comm.Write("?", 1);
  ASSERT_TRUE(pump.Until([&] { return Saw("txempty"); }));
  const std::vector<std::string> expected = {"error:" + std::to_string(CE_FRAME), "rx:2", "txempty"};
  EXPECT_EQ(events, expected);
}

TEST_F(Comm32Events, MissingHandlersAreSkippedAndErrorsClearedEveryHandOver) {
  comm.OnError = nullptr;
  comm.Open();
  comm.device->Change([](FakeDevice& d) {
    d.counters.parity++;
    d.incoming.assign({'x'});
  });
  ASSERT_TRUE(pump.Until([&] { return Saw("rx:1"); }));
  // The parity error was read and cleared with that hand-over although no
  // handler took it; a later error event reports only what is new.
  comm.OnError = [this](TCustomComm32*, int32_t errors) { Log("error:" + std::to_string(errors)); };
  comm.device->Change([](FakeDevice& d) { d.counters.overrun++; });
  ASSERT_TRUE(pump.Until([&] { return Saw("error:" + std::to_string(CE_OVERRUN)); }));
  EXPECT_FALSE(Saw("error:" + std::to_string(CE_OVERRUN | CE_RXPARITY)));
}

TEST_F(Comm32Events, ModemLinesAndBreaks) {
  comm.Open();
  comm.device->SetLines(comm.device->Lines() | TIOCM_CTS);
  ASSERT_TRUE(pump.Until([&] { return Saw("cts"); }));
  comm.device->SetLines(comm.device->Lines() | TIOCM_DSR | TIOCM_CD);
  ASSERT_TRUE(pump.Until([&] { return Saw("dsr") && Saw("rlsd"); }));
  comm.device->SetLines(comm.device->Lines() | TIOCM_RI);
  ASSERT_TRUE(pump.Until([&] { return Saw("ring"); }));
  comm.device->Change([](FakeDevice& d) { d.counters.brk++; });
  ASSERT_TRUE(pump.Until([&] { return Saw("break"); }));
}

TEST_F(Comm32Events, EventCharacterRaisesRxFlag) {
  comm.OnRxFlag = [this](TCustomComm32*) { Log("rxflag"); };
  comm.Open();
  comm.device->Feed({'a', 'b'});
  ASSERT_TRUE(pump.Until([&] { return Saw("rx:2"); }));
  EXPECT_FALSE(Saw("rxflag"));
  comm.device->Feed({'c', 0});  // the block's event character is NUL
  ASSERT_TRUE(pump.Until([&] { return Saw("rxflag"); }));
}

TEST_F(Comm32Events, MaskWithoutRxCharDeliversNoRxChar) {
  comm.SetMonitorEvents({evError, evTxEmpty});
  comm.Open();
  comm.device->Feed({'a', 'b'});
  comm.Write("!", 1);
  ASSERT_TRUE(pump.Until([&] { return Saw("txempty"); }));
  EXPECT_FALSE(Saw("rx:2"));
  uint8_t buf[2];
  EXPECT_EQ(comm.Read(buf, 2), 2) << "the bytes are waiting all the same";
}

TEST_F(Comm32Events, RxCharComesWithCountZeroWhenTheBytesWereAlreadyRead) {
  comm.Open();
  const int before = pump.wakes();
  comm.device->Feed({'a'});
  ASSERT_TRUE(pump.UntilQueued(before + 1));
  uint8_t b;
  ASSERT_EQ(comm.Read(&b, 1), 1) << "read before the hand-over is served";
  ASSERT_TRUE(pump.Until([&] { return !events.empty(); }));
  EXPECT_EQ(events.front(), "rx:0");
}

TEST_F(Comm32Events, HandlerExceptionReachesTheHookAndMonitoringGoesOn) {
  std::mutex hookMutex;
  std::vector<std::string> messages;
  SetEventErrorHook([&](const std::string& m) {
    std::lock_guard lock(hookMutex);
    messages.push_back(m);
  });
  comm.OnError = [](TCustomComm32*, int32_t) { throw std::runtime_error("File not found"); };
  comm.Open();
  comm.device->Change([](FakeDevice& d) {
    d.counters.frame++;
    d.incoming.assign({'1'});
  });
  ASSERT_TRUE(pump.Until([&] {
    std::lock_guard lock(hookMutex);
    return !messages.empty();
  }));
  EXPECT_FALSE(Saw("rx:1")) << "the rest of that hand-over does not run";
  {
    std::lock_guard lock(hookMutex);
    EXPECT_EQ(messages, std::vector<std::string>{"File not found"});
  }
  comm.device->Feed({'2', '3'});
  // The byte of the interrupted hand-over is still waiting.
  ASSERT_TRUE(pump.Until([&] { return Saw("rx:3"); })) << "the next event is delivered";
  EXPECT_TRUE(comm.IsOpen());
}

TEST_F(Comm32Events, NoEventOnceTheOwnerIsBeingDestroyed) {
  comm.Open();
  comm.device->Feed({'a'});
  ASSERT_TRUE(pump.UntilQueued(1));
  comm.Destroying();
  comm.Close();  // serves the queued hand-over, which must reach no handler
  EXPECT_FALSE(Saw("rx:1"));
}

TEST_F(Comm32Events, FullQueueWithoutFlowControlDropsAndSaysSo) {
  comm.OnRxChar = [this](TCustomComm32*, int32_t count) { Log("rx:" + std::to_string(count)); };
  comm.SetFlowControl(fcNone);
  comm.SetReadBufferSize(4);
  comm.Open();
  comm.device->Feed({'1', '2', '3', '4', '5', '6'});
  ASSERT_TRUE(pump.Until([&] { return Saw("error:" + std::to_string(CE_RXOVER)); }));
  EXPECT_TRUE(Saw("rx:4"));
  uint8_t buf[4];
  EXPECT_EQ(comm.Read(buf, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "1234");
}

TEST_F(Comm32Events, DeviceGoneIsOneIoError) {
  comm.Open();
  comm.device->Change([](FakeDevice& d) { d.hungUp = true; });
  ASSERT_TRUE(pump.Until([&] { return Saw("error:" + std::to_string(CE_IOE)); }));
  EXPECT_EQ(std::count(events.begin(), events.end(), "error:" + std::to_string(CE_IOE)), 1);
  EXPECT_EQ(comm.Write("x", 1), -1);
}

}  // namespace
}  // namespace async32
