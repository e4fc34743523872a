// The canvas widget repaints when the picture changes and stays idle otherwise.
#include <QTest>
#include <gtest/gtest.h>

#include "ui/canvas_widget.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

struct IdleCanvas : ::testing::Test {
  IdleCanvas() {
    Character c;
    c.name = "c";
    c.value = 10;
    c.image = testing::testImage(20, 20, 1);
    for (int i = 0; i < 3; ++i) {
      Layer l;
      l.visible = 1;
      l.value = 20 + i;
      l.image = testing::testImage(10, 10, static_cast<uint32_t>(i + 2));
      c.layers.push_back(l);
    }
    list.characters.push_back(c);
    canvas.resize(200, 150);
    canvas.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&canvas));
    settle();
  }
  // Runs the redraw timer once and lets Qt deliver what it scheduled.
  int paintsAfterTick() {
    const int before = canvas.paintCount();
    timers.fireAll();
    settle();
    return canvas.paintCount() - before;
  }
  void settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    QTest::qWait(5);
  }

  CharacterList list;
  EditorState state;
  testing::FakeTimerService timers;
  CanvasWidget canvas{list, state, timers};
};

TEST_F(IdleCanvas, RepaintsOnlyWhenTheCompositionChanges) {
  ASSERT_GE(canvas.paintCount(), 1);
  EXPECT_EQ(paintsAfterTick(), 0);
  EXPECT_EQ(paintsAfterTick(), 0);

  list.characters[0].layers[1].x = 5;  // a drag step
  EXPECT_EQ(paintsAfterTick(), 1);
  EXPECT_EQ(paintsAfterTick(), 0);

  list.characters[0].layers[2].visible = 0;  // one image fewer
  EXPECT_EQ(paintsAfterTick(), 1);

  // Another picture, even one that might reuse the old one's address.
  list.characters[0].image.reset();
  list.characters[0].image = testing::testImage(20, 20, 9);
  EXPECT_EQ(paintsAfterTick(), 1);

  state.selectedCharacterRow = -1;  // nothing to show any more
  EXPECT_EQ(paintsAfterTick(), 1);
  EXPECT_EQ(paintsAfterTick(), 0);
}

TEST_F(IdleCanvas, ResizeStillRepaints) {
  const int before = canvas.paintCount();
  canvas.resize(260, 180);
  settle();
  EXPECT_GT(canvas.paintCount(), before);
  EXPECT_EQ(paintsAfterTick(), 0);
}

}  // namespace
}  // namespace charstack
