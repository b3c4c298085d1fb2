// Test main for suites that need the Qt application and the program's
// hand-over hook: hand-overs are served from the event loop, as in karolx.

#include <QApplication>
#include <gtest/gtest.h>

#include "async32/thread.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  async32::SetWakeMainThreadHook([] {
    QMetaObject::invokeMethod(qApp, [] { async32::CheckSynchronize(); }, Qt::QueuedConnection);
  });
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  async32::SetWakeMainThreadHook(nullptr);
  return result;
}
