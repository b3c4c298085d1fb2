// karolx-log.exe, the Windows build, under wine against the device simulator
// on a pseudo-terminal that the wine prefix sees as COM40, for a German user
// (wine takes the user's locale from LANG): records logged and acknowledged
// with German stamps, the clock message still right, Ctrl+C (a SIGINT, which
// wine hands on as the console's control event) ends it in order with status
// 0. Runs when KAROLX_WINDOWS_LOGGER names the program (scripts/test windows
// sets it).

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "device_simulator.h"
#include "log_invariant.h"
#include "program_run.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;

TEST(WindowsLogger, UnderWineLogsEveryAcknowledgedRecordAndStopsInOrder) {
  const char* program = std::getenv("KAROLX_WINDOWS_LOGGER");
  if (!program) GTEST_SKIP() << "KAROLX_WINDOWS_LOGGER is not set";
  devsim::SimOptions options;
  options.pace = true;
  options.chunkSize = 1;
  options.recordsPerPoll = 3;
  devsim::DeviceSimulator sim(options);
  sim.start();
  const std::string com = "com40=" + std::filesystem::canonical(sim.slavePath()).string();
  setenv("KAROLX_WINE_COM", com.c_str(), 1);
  setenv("LANG", "de_DE.UTF-8", 1);
  QTemporaryDir dir;
  ProgramRun logger({KAROLX_SOURCE_DIR "/tests/win32/wine-run", program, "--baud", "9600", "--stale-after",
                     "0", "COM40"},
                    dir.path().toStdString());
  unsetenv("KAROLX_WINE_COM");
  unsetenv("LANG");
  ASSERT_TRUE(sim.waitFor([](const devsim::SimState& s) { return s.recordsAcked >= 12; }, 60s))
      << logger.Output() << logger.Errors();
  const int status = logger.Stop(SIGINT);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << logger.Output();
  std::ifstream in(dir.filePath("Karo.txt").toStdString(), std::ios::binary);
  const std::string log(std::istreambuf_iterator<char>(in), {});
  EXPECT_TRUE(LogHoldsEveryAcknowledged(log, {{sim.state().sent, sim.state().acked}}, "", 3));
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(^.{34} \(\d{1,2}\.\d{1,2}\.\d{4} \d\d:\d\d:\d\d\)\r\n)")))
      << "a German stamp: " << log.substr(0, 60);
  EXPECT_FALSE(sim.state().clockSetTo.empty()) << "the clock message was a valid one";
}

}  // namespace
