// Runs a widget test again at another scale factor, which Qt reads only when the application starts.
#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

namespace charstack::testing {

// In the test program as ctest starts it: runs the current test once more in a child process at
// QT_SCALE_FACTOR=1.5 and expects it to pass there. In that child it does nothing.
inline void expectPassesAtScaleFactor15() {
  if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) return;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("1.5"));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
  ASSERT_TRUE(child.waitForFinished(60000));
  const QByteArray output = child.readAll();
  EXPECT_TRUE(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
              output.contains("[  PASSED  ] 1 test"))
      << "at QT_SCALE_FACTOR=1.5:\n" << output.toStdString();
}

}  // namespace charstack::testing
