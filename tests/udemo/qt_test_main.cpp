// Test main for suites that need the Qt application and the program's
// hand-over: hand-overs are served from the event loop, as in karolx.

#include <QApplication>
#include <gtest/gtest.h>

#include "app/hand_over_wake.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  HandOverWake handOverWake;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
