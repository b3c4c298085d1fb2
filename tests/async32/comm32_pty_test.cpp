// The component on real pseudo-terminals, with the test playing the device on
// the master side.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/ioctl.h>
#include <atomic>
#include <thread>
#include <vector>

#include "async32/comm32.h"
#include "async32/platform/posix_driver.h"
#include "async32/platform/termios_map.h"
#include "hand_over_pump.h"
#include "process_counts.h"
#include "pty_pair.h"

namespace async32 {
namespace {

using testing_support::OpenDescriptors;
using testing_support::PtyPair;
using testing_support::Threads;

// Thread and descriptor counts to compare with, taken after one open and
// close, so that threads a runtime starts on first use (a sanitizer's) are in.
struct Baseline {
  int fds;
  int threads;
};
Baseline TakeBaseline(TComm32& comm) {
  comm.Open();
  comm.Close();
  return {OpenDescriptors(), Threads()};
}

std::vector<uint8_t> AllByteValues() {
  std::vector<uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  return bytes;
}

class Comm32Pty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    comm.SetDeviceName(pty.path());
    comm.OnOpen = [this](TCustomComm32*, int32_t subtype, int32_t error) {
      opens.push_back({subtype, error});
    };
    comm.OnRxChar = [this](TCustomComm32*, int32_t count) {
      EXPECT_EQ(std::this_thread::get_id(), mainThread);
      std::vector<uint8_t> buf(static_cast<size_t>(count));
      if (comm.Read(buf.data(), count) == count) received.insert(received.end(), buf.begin(), buf.end());
      ++rxEvents;
    };
    comm.OnError = [this](TCustomComm32*, int32_t e) { errors.push_back(e); };
  }
  void TearDown() override { comm.Close(); }

  testing_support::HandOverPump pump;
  PtyPair pty;
  TComm32 comm;
  std::vector<std::pair<int32_t, int32_t>> opens;
  std::vector<uint8_t> received;
  std::vector<int32_t> errors;
  int rxEvents = 0;
  std::thread::id mainThread = std::this_thread::get_id();
};

TEST_F(Comm32Pty, OpensByPathReportsOnceAndCarriesAllByteValuesBothWays) {
  comm.SetFlowControl(fcNone);  // with XON/XOFF on, bytes 17 and 19 steer the flow
  comm.Open();
  ASSERT_TRUE(comm.IsOpen());
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0], std::make_pair(0, 0)) << "a pseudo-terminal is an unspecified device";

  const auto bytes = AllByteValues();
  ASSERT_EQ(comm.Write(bytes.data(), 256), 256);
  EXPECT_EQ(pty.Receive(256), bytes);

  ASSERT_TRUE(pty.Send(bytes));
  ASSERT_TRUE(pump.Until([&] { return received.size() >= 256; }));
  EXPECT_EQ(received, bytes);
}

TEST_F(Comm32Pty, ReadOfMoreThanIsWaitingTakesNothing) {
  comm.OnRxChar = [this](TCustomComm32*, int32_t count) { rxEvents += count; };
  comm.Open();
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(pump.Until([&] { return rxEvents >= 3; }));
  uint8_t buf[8] = {};
  EXPECT_EQ(comm.Read(buf, 4), -1);
  EXPECT_EQ(comm.Read(buf, 3), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
  EXPECT_EQ(comm.Read(buf, 0), 0);
}

TEST_F(Comm32Pty, BaudRatesReachTheTerminalSettings) {
  comm.SetBaudRate(cbr256000);
  comm.Open();
  termios2 t{};
  ASSERT_EQ(ioctl(pty.master(), TCGETS2, &t), 0);
  EXPECT_EQ(OutputSpeed(t), 256000u);
  comm.SetBaudRate(cbr115200);
  ASSERT_EQ(ioctl(pty.master(), TCGETS2, &t), 0);
  EXPECT_EQ(OutputSpeed(t), 115200u);
  EXPECT_EQ(t.c_lflag & ICANON, 0u) << "raw mode";
}

TEST_F(Comm32Pty, MissingDeviceRegularFileAndSecondOpenFail) {
  comm.SetDeviceName("/dev/karolx-no-such-device");
  comm.Open();
  EXPECT_FALSE(comm.IsOpen());
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0], std::make_pair(0, ENOENT));

  char file[] = "/tmp/karolx-regular-XXXXXX";
  const int fd = mkstemp(file);
  ASSERT_GE(fd, 0);
  close(fd);
  comm.SetDeviceName(file);
  comm.Open();
  unlink(file);
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(opens.back().second, ENOTTY);

  comm.SetDeviceName("/tmp");
  comm.Open();
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(opens.back().second, ENOTTY) << "a directory is no terminal";

  comm.SetDeviceName(pty.path());
  comm.Open();
  ASSERT_TRUE(comm.IsOpen());
  TComm32 second;
  int32_t secondError = 0;
  second.OnOpen = [&](TCustomComm32*, int32_t, int32_t error) { secondError = error; };
  second.SetDeviceName(pty.path());
  second.Open();
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(secondError, EBUSY);

  // Closing frees the device for the next opener.
  comm.Close();
  second.Open();
  EXPECT_TRUE(second.IsOpen());
  second.Close();
  comm.Open();
  EXPECT_TRUE(comm.IsOpen());
  ASSERT_EQ(comm.Write("x", 1), 1);
  EXPECT_EQ(pty.Receive(1), std::vector<uint8_t>{'x'});
}

TEST_F(Comm32Pty, XoffHeldAtCloseDoesNotHoldBackTheNextOpen) {
  comm.Open();
  ASSERT_TRUE(comm.SetXONState(false));
  EXPECT_EQ(comm.Write("held", 4), 0);
  comm.Close();
  comm.Open();
  EXPECT_EQ(comm.Write("free", 4), 4);
  EXPECT_EQ(pty.Receive(4), (std::vector<uint8_t>{'f', 'r', 'e', 'e'}));
}

TEST_F(Comm32Pty, FullQueueWithFlowControlHoldsTheDeviceBackAndLosesNothing) {
  comm.SetFlowControl(fcSoftware);
  comm.SetReadBufferSize(64);
  comm.Open();
  std::vector<uint8_t> sent(20000);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>('A' + i % 26);
  std::atomic<bool> done{false};
  std::thread device([&] {
    pty.Send(sent);
    done = true;
  });
  const bool all = pump.Until([&] { return received.size() >= sent.size(); });
  if (!all) pty.CloseMaster();
  device.join();
  ASSERT_TRUE(all) << received.size() << " of " << sent.size() << " bytes, events " << rxEvents;
  EXPECT_EQ(received, sent);
  EXPECT_TRUE(errors.empty()) << "no byte was dropped";
}

TEST_F(Comm32Pty, BareNamesAreLookedUpInDev) {
  EXPECT_EQ(DevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DevicePath("com12"), "/dev/ttyS11");
  EXPECT_EQ(DevicePath("COM0"), "/dev/COM0");
  EXPECT_EQ(DevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePath("./here"), "./here");

  const std::string name = "karolx-test-" + std::to_string(getpid());
  const std::string link = "/dev/" + name;
  if (symlink(pty.path().c_str(), link.c_str()) != 0) GTEST_SKIP() << "cannot link in /dev";
  comm.SetDeviceName(name);
  comm.Open();
  unlink(link.c_str());
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_EQ(opens.back().second, 0);
}

TEST_F(Comm32Pty, CloseServesAHandOverAlreadyBegun) {
  comm.Open();
  ASSERT_TRUE(pty.Send("z"));
  ASSERT_TRUE(pump.UntilQueued(1));
  EXPECT_EQ(rxEvents, 0);
  comm.Close();
  EXPECT_EQ(rxEvents, 1) << "the handler ran inside Close";
  EXPECT_FALSE(comm.IsOpen());
}

TEST_F(Comm32Pty, HangUpIsOneIoErrorAndTheMonitorStops) {
  const int threadsBefore = TakeBaseline(comm).threads;
  comm.Open();
  ASSERT_TRUE(pty.Send("last"));
  pty.CloseMaster();
  ASSERT_TRUE(pump.Until([&] { return !errors.empty(); }));
  EXPECT_EQ(errors, std::vector<int32_t>{CE_IOE});
  // The monitor ends instead of spinning on the dead device.
  ASSERT_TRUE(pump.Until([&] { return Threads() == threadsBefore; }));
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_TRUE(comm.IsOpen()) << "the operator closes it";
  comm.Close();
}

TEST_F(Comm32Pty, ManyOpenCloseCyclesWhileTheDeviceStreams) {
  const Baseline before = TakeBaseline(comm);
  std::atomic<bool> streaming{true};
  std::thread device([&] {
    const std::vector<uint8_t> chunk(64, 'r');
    while (streaming) {
      pollfd p{pty.master(), POLLOUT, 0};
      if (poll(&p, 1, 20) > 0) {
        [[maybe_unused]] auto n = write(pty.master(), chunk.data(), chunk.size());
      }
      uint8_t sink[256];
      while (read(pty.master(), sink, sizeof sink) > 0) {
      }
    }
  });
  for (int i = 0; i < 1000; ++i) {
    comm.Open();
    ASSERT_TRUE(comm.IsOpen()) << "cycle " << i;
    comm.Write("?", 1);
    async32::CheckSynchronize();
    comm.Close();
  }
  streaming = false;
  device.join();
  EXPECT_EQ(opens.size(), 1001u);
  EXPECT_EQ(OpenDescriptors(), before.fds);
  EXPECT_EQ(Threads(), before.threads);
}

}  // namespace
}  // namespace async32
