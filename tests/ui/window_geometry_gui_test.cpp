// A window geometry restored from a larger screen, or from a smaller scale factor, fits the screen.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QTest>

#include "ui/at_scale.hpp"
#include "ui/window_geometry.hpp"

namespace charstack {
namespace {

TEST(WindowGeometry, ARestoredWindowFitsTheScreenAtScaleFactors1And15) {
  testing::expectPassesAtScaleFactor15();
  const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
  // Too large, beyond the right edge, above and left of the screen, and one that fits as it is.
  const QRect saved[] = {{40, 30, 1800, 1100},
                         {available.right() - 50, 100, 400, 300},
                         {-900, -700, 500, 300},
                         {10, 60, 770, 500}};
  for (const QRect& geometry : saved) {
    QWidget before;
    before.setGeometry(geometry);
    QMainWindow window;
    window.setMinimumSize(760, 480);  // larger than the screen at scale factor 1.5
    window.restoreGeometry(before.saveGeometry());
    const QRect restored = window.geometry();
    fitWindowToScreen(window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(1);  // fitted again to the frame it was shown with
    EXPECT_TRUE(available.contains(window.frameGeometry())) << geometry.x() << "," << geometry.y();
    // One that fits with room for a frame stays as it is.
    EXPECT_TRUE(!available.contains(restored.adjusted(-4, -32, 4, 4)) || window.geometry() == restored)
        << geometry.x();
  }
}

}  // namespace
}  // namespace charstack
