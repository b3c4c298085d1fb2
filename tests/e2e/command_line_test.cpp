// One command-line convention for karolx, karolx-log and karolx-sim: help and
// version on standard output with status 0; bad usage as one line that names
// the problem and a hint to --help on standard error, status 2, before
// anything needs a display.

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cctype>

#include "async32/comm32_types.h"
#include "program_run.h"

namespace {

using testing_support::FileText;
using testing_support::ProgramRun;

struct Program {
  const char* path;
  const char* name;
};
const Program kWindow{KAROLX_PROGRAM, "karolx"}, kLogger{KAROLX_LOG_PROGRAM, "karolx-log"},
    kSim{KAROLX_SIM_PROGRAM, "karolx-sim"};

// Runs `program` without a display.
std::unique_ptr<ProgramRun> Start(const QTemporaryDir& dir, const Program& program,
                                std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                       "-u", "QT_QPA_PLATFORM", program.path});
  return std::make_unique<ProgramRun>(arguments, dir.path().toStdString());
}

TEST(CommandLine, HelpVersionAndBadUsageAreAlikeInAllThreePrograms) {
  QTemporaryDir dir;
  for (const Program& program : {kWindow, kLogger, kSim}) {
    SCOPED_TRACE(program.name);
    for (const char* help : {"-h", "--help"}) {
      auto run = Start(dir, program, {help});
      EXPECT_EQ(run->Stop(0), 0);
      EXPECT_TRUE(run->Output().starts_with(std::string("Usage: ") + program.name)) << run->Output();
    }
    for (const char* version : {"-V", "--version"}) {
      auto run = Start(dir, program, {version});
      EXPECT_EQ(run->Stop(0), 0);
      EXPECT_TRUE(run->Output().starts_with(std::string(program.name) + " 20")) << run->Output();
    }
  }
  const std::vector<std::pair<Program, std::vector<std::string>>> bad = {
      {kWindow, {"--bogus"}},
      {kWindow, {"-v"}},
      {kWindow, {"stray"}},
      {kWindow, {"--stale-after", "x"}},
      {kWindow, {"--stale-after", "2147484"}},  // 1000 times more overflows a timer
      {kWindow, {"--device", "/dev/serial/by-id/x"}},  // longer than the field
      {kWindow, {"-b", "12"}},
      {kLogger, {}},
      {kLogger, {"a", "b"}},
      {kLogger, {"--bogus", "x"}},
      {kLogger, {"--baud", "12", "x"}},
      {kLogger, {"-d", "4", "x"}},
      {kLogger, {"-p", "odd2", "x"}},
      {kLogger, {"-s", "3", "x"}},
      {kLogger, {"-s", "1.5", "x"}},  // with 8 data bits: no UART sends it
      {kLogger, {"-d", "5", "-s", "2", "x"}},
      {kLogger, {"--stale-after", "-1", "x"}},
      {kLogger, {"-L"}},
      {kSim, {"--bogus"}},
      {kSim, {"--chunk", "x"}},
      {kSim, {"--answer-delay", "99999999"}},
      {kSim, {"--link"}},
  };
  for (const auto& [program, arguments] : bad) {
    SCOPED_TRACE(std::string(program.name) + " " + (arguments.empty() ? "" : arguments[0]));
    auto run = Start(dir, program, arguments);
    const int status = run->Stop(0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    const std::string errors = run->Errors();
    EXPECT_TRUE(errors.starts_with(std::string(program.name) + ": ")) << errors;
    EXPECT_TRUE(errors.ends_with(std::string("\nTry '") + program.name +
                                 " --help' for more information.\n"))
        << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2) << errors;
    EXPECT_EQ(run->Output(), "");
  }
}

// The numbers from `from` to the next `to` in `text`, parenthesised words
// (defaults) left out.
std::string Numbers(const std::string& text, const std::string& from, const std::string& to) {
  const size_t start = text.find(from);
  if (start == std::string::npos) return "missing " + from;
  const std::string part = text.substr(start + from.size(), text.find(to, start + from.size()) - start - from.size());
  std::string numbers;
  bool inParentheses = false, inNumber = false;
  for (char c : part) {
    inParentheses = (inParentheses || c == '(') && c != ')';
    const bool digit = !inParentheses && std::isdigit(static_cast<unsigned char>(c));
    if (digit && !inNumber && !numbers.empty()) numbers += ' ';
    if (digit) numbers += c;
    inNumber = digit;
  }
  return numbers;
}

// The rates and data bits that --help and the man pages list are the
// component's own; 4 data bits, which no UART sends, is not offered.
TEST(CommandLine, HelpAndManPagesOfferTheComponentsRatesAndDataBits) {
  std::string rates, databits;
  for (uint32_t rate : async32::kBaudRateCodes) rates += (rates.empty() ? "" : " ") + std::to_string(rate);
  for (uint8_t bits : async32::kDatabitsCodes) {
    if (bits > 4) databits += (databits.empty() ? "" : " ") + std::to_string(bits);
  }
  QTemporaryDir dir;
  for (const Program& program : {kWindow, kLogger}) {
    SCOPED_TRACE(program.name);
    auto run = Start(dir, program, {"--help"});
    run->Stop(0);
    EXPECT_EQ(Numbers(run->Output(), "--baud RATE", "-d,"), rates);
    EXPECT_EQ(Numbers(run->Output(), "--databits N", "-p,"), databits);
    const std::string page = FileText(std::string(KAROLX_SOURCE_DIR "/dist/man/") + program.name + ".1");
    EXPECT_EQ(Numbers(page, "\\-\\-baud \" \\fIRATE\\fR\"", ".TP"), rates);
    EXPECT_EQ(Numbers(page, "\\-\\-databits \" \\fIN\\fR\"", ".TP"), databits);
  }
}

}  // namespace
