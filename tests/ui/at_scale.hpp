// Runs a widget test again at another scale factor, which Qt reads only when the application starts.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

namespace charstack::testing {

// In the test program as ctest starts it: runs the current test once more in a child process at
// QT_SCALE_FACTOR=1.5 and expects it to pass there. In that child it does nothing.
inline void expectPassesAtScaleFactor15() {
  if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) return;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  QProcess child;
  child.setEnvironment(QProcess::systemEnvironment() << QStringLiteral("QT_SCALE_FACTOR=1.5"));
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
  const bool finished = child.waitForFinished(60000);
  const QByteArray out = child.readAll();
  EXPECT_TRUE(finished && child.exitCode() == 0 && out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}

}  // namespace charstack::testing
