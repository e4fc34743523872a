// The Qt widgets on their own: timers, the table model and view, and the image well's inputs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <climits>
#include <cmath>

#include "controller/init_layer.hpp"
#include "platform/image_impl.hpp"
#include "ui/image_well_widget.hpp"
#include "ui/mirror_table.hpp"
#include "platform/qt_timer.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::FakeTimerService;
using testing::TempFolder;

TEST(QtTimerService, TicksEveryTenMillisecondsUntilDestroyed) {
  for (auto [seconds, ms] :
       {std::pair{kTickInterval, 10}, {0.0004, 0}, {-1.0, 0}, {std::nan(""), 0}, {1e12, INT_MAX}})
    EXPECT_EQ(QtTimerService::intervalMilliseconds(seconds), ms) << seconds;
  QtTimerService timers;
  int ticks = 0;
  auto timer = timers.scheduleRepeating(kTickInterval, [&] { ++ticks; });
  // Five ticks take at least four intervals, however busy the machine is.
  QElapsedTimer clock;
  clock.start();
  while (ticks < 5 && clock.elapsed() < 5000) QTest::qWait(2);
  EXPECT_GE(ticks, 5);
  EXPECT_GE(clock.elapsed(), 38);
  timer.reset();
  const int stopped = ticks;
  QTest::qWait(40);
  EXPECT_EQ(ticks, stopped);
}

// A controller over a small project, its timer never firing unless the test asks.
struct TableFixture : ::testing::Test {
  TableFixture() {
    folder.write("data.txt", "a,1, 0, 0\n####\nshown,2,1, 0, 0\nhidden,3,0, 0, 0\n$$$$\nb,4, 0, 0\n");
    controller = std::make_unique<InitLayer>(list, state, ProjectFolder(folder.path()), timers);
  }
  TempFolder folder;
  CharacterList list;
  EditorState state;
  FakeTimerService timers;
  std::unique_ptr<InitLayer> controller;
};

TEST_F(TableFixture, ModelShowsTheMirrorAndResetsOncePerOutermostNotice) {
  MirrorTableModel layers(*controller, Table::Layers);
  ASSERT_EQ(layers.rowCount(), 2);
  ASSERT_EQ(layers.columnCount(), 3);
  EXPECT_EQ(layers.headerData(2, Qt::Horizontal).toString(), "visible");
  EXPECT_EQ(layers.index(1, 0).data().toString(), "hidden");
  EXPECT_EQ(layers.index(1, 1).data().toString(), "3");

  // Any positive number checks the box; other text leaves it clear.
  for (auto [text, check] : {std::pair{"7", Qt::Checked}, {"yes", Qt::Unchecked}, {"-2", Qt::Unchecked}}) {
    controller->MA2[1].visible = text;
    EXPECT_EQ(layers.index(1, 2).data(Qt::CheckStateRole).toInt(), check) << text;
  }

  QSignalSpy resets(&layers, &QAbstractItemModel::modelReset);
  for (const char* key : {"MA2", "MA2", "MA1"}) layers.willChangeValueForKey(key);  // MA1: another table's
  for (const char* key : {"MA1", "MA2"}) layers.didChangeValueForKey(key);
  EXPECT_EQ(resets.count(), 0);
  layers.didChangeValueForKey("MA2");
  EXPECT_EQ(resets.count(), 1);

  // A mirror that shrank before its notice arrives is never read past its end.
  controller->MA2.clear();
  EXPECT_FALSE(layers.index(1, 0).data().isValid());
}

TEST_F(TableFixture, ViewKeepsTheHighlightedRowAcrossResets) {
  QWidget window;
  MirrorTableView view(&window);
  MirrorTableModel characters(*controller, Table::Characters, &view);
  view.setModel(&characters);
  view.setSelectionIndex(1);
  characters.willChangeValueForKey("MA1");
  characters.didChangeValueForKey("MA1");
  EXPECT_EQ(view.highlightedRow(), 1);
  view.setSelectionIndex(NoSelection);
  EXPECT_EQ(view.highlightedRow(), -1);
}

TEST_F(TableFixture, WellTakesImageDataAndPastesAndRefusesOtherData) {
  QWidget window;
  ImageWellWidget well(*controller, Table::Characters, &window);
  QSignalSpy messages(&well, &ImageWellWidget::message);
  QMimeData text;
  text.setText("hello");
  text.setUrls({QUrl("https://example.invalid/picture.png")});
  EXPECT_FALSE(mayHoldImage(text));
  EXPECT_FALSE(well.takeImage(text));
  EXPECT_EQ(messages.count(), 1);

  QImage red(12, 8, QImage::Format_ARGB32);
  red.fill(QColor(255, 0, 0, 128));
  QMimeData data;
  data.setImageData(red);
  ASSERT_TRUE(well.takeImage(data));
  ASSERT_NE(controller->MA1[0].img, nullptr);
  EXPECT_EQ(controller->MA1[0].img->pixelWidth(), 12);
  EXPECT_EQ(controller->MA1[0].img->pixel(3, 3), 0x80FF0000u);  // alpha kept, not premultiplied
  EXPECT_EQ(well.shownImage(), controller->MA1[0].img);

  // Paste when focused.
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QImage blue(5, 5, QImage::Format_RGB32);
  blue.fill(Qt::blue);
  QApplication::clipboard()->setImage(blue);
  well.setFocus();
  QTest::keyClick(&well, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(controller->MA1[0].img->pixel(2, 2), 0xFF0000FFu);
  QApplication::clipboard()->clear();
}

}  // namespace
}  // namespace charstack
