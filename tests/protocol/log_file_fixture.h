#pragma once
// A log file in a folder of the test's own, and the append as an error code.

#include "protocol/log_file.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

class LogFile : public ::testing::Test {
 protected:
  void Write(const std::string& contents) { std::ofstream(path, std::ios::binary | std::ios::trunc) << contents; }
  std::string Read() {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The error code of the append, 0 when it worked; the message in `message`.
  int Append(const std::string& line) {
    try {
      AppendLogLine(path, line, unsynced);
    } catch (const EInOutError& e) {
      message = e.what();
      return e.ErrorCode();
    }
    return 0;
  }

  QTemporaryDir dir;
  std::string path = dir.filePath("Karo.txt").toStdString();
  std::string message;
  TUnsyncedLog unsynced;
};
