// The polling protocol through the real window, with the test playing the
// device on the master side of a pseudo-terminal.

#include <atomic>
#include <mutex>
#include <thread>
#include <numeric>

#include "async32/c32_thread.h"
#include "window_fixture.h"

namespace {

using testing_support::WindowTest;

const std::string kStamp = " (2005-11-02 14:05:09)";

std::string Record(char fill, int n) {
  std::string r(34, fill);
  r.replace(0, std::to_string(n).size(), std::to_string(n));
  return r;
}

class Polling : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    async32::SetEventErrorHook([this](const std::string& m) {
      std::lock_guard lock(mutex);
      handlerErrors.push_back(m);
    });
    OpenDevice(pty.path());
    ASSERT_EQ(FromWindow(14), "(110205140509)");
  }
  void TearDown() override {
    WindowTest::TearDown();
    async32::SetEventErrorHook(nullptr);
  }
  // The byte the next tick sends.
  char NextPoll() {
    const std::string b = FromWindow(1);
    return b.empty() ? '\0' : b[0];
  }
  // Sends as the device would, while the window goes on serving its events.
  void Device(const std::string& bytes) {
    std::atomic<int> sent{0};
    std::thread device([&] { sent = pty.Send(bytes) ? 1 : -1; });
    Until([&] { return sent != 0; });
    device.join();
    ASSERT_EQ(sent, 1);
  }
  bool UntilRecordLines(int n) {
    const bool ok = Until([&] { return Memo2()->LineCount() == n; });
    if (!ok) ADD_FAILURE() << "record pane has " << Memo2()->LineCount() << " lines";
    return ok;
  }
  int ReadCount() {
    int total = 0;
    for (const auto& line : Lines(Memo1())) {
      if (line.rfind("Reading ", 0) == 0) total += std::stoi(line.substr(8));
    }
    return total;
  }
  std::vector<std::string> HandlerErrors() {
    std::lock_guard lock(mutex);
    return handlerErrors;
  }

  std::mutex mutex;
  std::vector<std::string> handlerErrors;
};

TEST_F(Polling, SeventyBytesAfterAPollAreTwoRecordsAndOneAcknowledgement) {
  ASSERT_EQ(NextPoll(), '?');
  const std::string a = Record('a', 1), b = Record('b', 2);
  Device(a + b + "xy");
  ASSERT_TRUE(UntilRecordLines(3));
  EXPECT_EQ(Lines(Memo2()), (std::vector<std::string>{"", a + kStamp, b + kStamp}));
  EXPECT_EQ(LogContents(), a + kStamp + "\r\n" + b + kStamp + "\r\n");
  ASSERT_TRUE(Until([&] { return form->RecordIndex() == 3; }));
  EXPECT_EQ(form->RecordSlots()[1], 'x');
  EXPECT_EQ(form->RecordSlots()[2], 'y');
  EXPECT_EQ(ReadCount(), 70);
  const auto status = Lines(Memo1());
  EXPECT_NE(std::find(status.begin(), status.end(), "RXCHAR SIGNAL"), status.end());
  EXPECT_EQ(NextPoll(), '*');
  EXPECT_EQ(NextPoll(), '?');
}

TEST_F(Polling, PartialRecordIsDroppedByTheNextPoll) {
  ASSERT_EQ(NextPoll(), '?');
  Device(std::string(33, 'p'));
  ASSERT_TRUE(Until([&] { return form->RecordIndex() == 34; }));
  ASSERT_EQ(NextPoll(), '?');
  EXPECT_EQ(form->RecordIndex(), 1);
  const std::string r = Record('r', 7);
  Device(r);
  ASSERT_TRUE(UntilRecordLines(2));
  EXPECT_EQ(Lines(Memo2())[1], r + kStamp);
  EXPECT_EQ(LogContents(), r + kStamp + "\r\n");
}

TEST_F(Polling, ByteBeforeTheFirstPollIsNotPartOfTheFirstRecord) {
  Device("!");  // an answer to the clock message
  ASSERT_TRUE(Until([&] { return form->RecordIndex() == 1; }));
  EXPECT_EQ(form->RecordSlots()[0], '!');
  ASSERT_EQ(NextPoll(), '?');
  const std::string r = Record('f', 1);
  Device(r);
  ASSERT_TRUE(UntilRecordLines(2));
  EXPECT_EQ(Lines(Memo2())[1], r + kStamp);
}

TEST_F(Polling, LabelBlinksWithEveryTick) {
  ASSERT_EQ(NextPoll(), '?');
  const bool shown = !W<QLabel>("Label6")->isHidden();
  ASSERT_EQ(NextPoll(), '?');
  EXPECT_EQ(!W<QLabel>("Label6")->isHidden(), !shown);
  EXPECT_TRUE(shown) << "hidden at start, shown by the first tick";
}

TEST_F(Polling, PaneIsEmptiedAfterTheTwentyFifthRecord) {
  ASSERT_EQ(NextPoll(), '?');
  std::string burst;
  for (int i = 1; i <= 26; ++i) burst += Record('z', i);
  Device(burst);
  ASSERT_TRUE(Until([&] { return form->RecordLines() == 1 && Memo2()->LineCount() == 1; }));
  EXPECT_EQ(Lines(Memo2()), std::vector<std::string>{Record('z', 26) + kStamp});
  EXPECT_EQ(LogLines(), 26);
}

TEST_F(Polling, MissingLogFileIsReportedAndNotAcknowledged) {
  ASSERT_EQ(remove(logPath.c_str()), 0);
  ASSERT_EQ(NextPoll(), '?');
  const std::string r = Record('m', 1);
  Device(r + r);  // the second record of the event is dropped with the error
  ASSERT_TRUE(Until([&] { return !HandlerErrors().empty(); }));
  EXPECT_EQ(HandlerErrors(), std::vector<std::string>{"File not found"});
  EXPECT_EQ(Lines(Memo2()), (std::vector<std::string>{"", r + kStamp}));
  EXPECT_FALSE(form->AckPending());
  EXPECT_EQ(NextPoll(), '?') << "no acknowledgement for an unlogged record";
  EXPECT_NE(access(logPath.c_str(), F_OK), 0) << "the file is never created";

  // Once the file is back, logging goes on by itself.
  std::ofstream(logPath, std::ios::binary);
  Device(r);
  ASSERT_TRUE(Until([&] { return form->AckPending(); }));
  EXPECT_EQ(LogContents(), r + kStamp + "\r\n");
  EXPECT_EQ(NextPoll(), '*');
}

TEST_F(Polling, AcknowledgementSurvivesCloseAndReopen) {
  ASSERT_EQ(NextPoll(), '?');
  Device(Record('c', 1));
  ASSERT_TRUE(Until([&] { return form->AckPending(); }));
  Click("CloseButton");
  OpenDevice(pty.path());
  ASSERT_EQ(FromWindow(14), "(110205140509)");
  EXPECT_EQ(NextPoll(), '*');
}

TEST_F(Polling, FailedReadIsReportedAndChangesNothing) {
  const int32_t index = form->RecordIndex();
  form->Port().OnRxChar(&form->Port(), 5);  // five bytes announced, none waiting
  EXPECT_EQ(Lines(Memo1()).back(), "Error reading incoming data!");
  EXPECT_EQ(form->RecordIndex(), index);
  form->Port().OnRxChar(&form->Port(), 0);
  const auto lines = Lines(Memo1());
  EXPECT_EQ(lines[lines.size() - 2], "RXCHAR SIGNAL");
  EXPECT_EQ(lines.back(), "Reading 0 characters");
}

TEST_F(Polling, LargeBurstIsReadWholeInParts) {
  Click("CloseButton");
  form->Port().SetReadBufferSize(65536);
  OpenDevice(pty.path());
  ASSERT_EQ(FromWindow(14), "(110205140509)");
  ASSERT_EQ(NextPoll(), '?');
  std::string burst;
  for (int i = 0; i < 1000; ++i) burst += Record('b', i);
  Device(burst);
  ASSERT_TRUE(Until([&] { return ReadCount() == 34000; }));
  EXPECT_EQ(LogLines(), 1000);
  const auto status = Lines(Memo1());
  for (const auto& line : status) {
    if (line.rfind("Reading ", 0) == 0) {
      EXPECT_LE(std::stoi(line.substr(8)), 16385) << line;
    }
  }
}

}  // namespace
