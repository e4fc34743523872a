// Test entry point for widget tests: one QApplication for the whole run, headless by default. The
// recoveries of unsaved work go to a state folder of the run's own, never the user's.
#include <QApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QTemporaryDir state;
  setenv("XDG_STATE_HOME", state.path().toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
