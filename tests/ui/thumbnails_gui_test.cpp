// Pictures drawn small or large: pixel art keeps sharp pixels in the wells (also at scale factor
// 1.5), large pictures are reduced smoothly, and the tables' thumbnails are painted lazily from the
// cache, dimmed for hidden layers, with an eye that shows and hides.
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include "support/fakes.hpp"
#include "ui/at_scale.hpp"
#include "ui/image_well_widget.hpp"
#include "ui/thumbnails.hpp"

namespace charstack {
namespace {

// A checkerboard of one-pixel squares of two colours.
std::vector<uint32_t> checker(int side, uint32_t a, uint32_t b) {
  std::vector<uint32_t> argb(size_t(side * side));
  for (int i = 0; i < side * side; ++i) argb[size_t(i)] = (i / side + i % side) % 2 ? a : b;
  return argb;
}
constexpr uint32_t kDark = 0xff203040, kLight = 0xffe0d0a0;

int blended(const QImage& image, const QRect& area) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      count += image.pixel(x, y) != kDark && image.pixel(x, y) != kLight;
  return count;
}

TEST(Pictures, PixelArtIsEnlargedByWholePixelsAndLargePicturesReducedSmoothly) {
  const struct { int side; qreal ratio; int shownSide; bool sharp; } cases[] = {
      {16, 1, 144, true}, {16, 1.5, 224, true}, {5, 2, 300, true}, {300, 1, 150, false}, {300, 1.5, 225, false}};
  for (const auto& c : cases) {
    ThumbnailCache cache;
    const ImageRef picture = makeImage(c.side, c.side, checker(c.side, kDark, kLight));
    QImage target(QSize(150, 150) * c.ratio, QImage::Format_RGB32);
    target.setDevicePixelRatio(c.ratio);
    target.fill(Qt::white);
    QPainter painter(&target);
    if (!drawPicture(painter, picture, QRectF(0, 0, 150, 150), cache)) {  // reduced on a worker
      QSignalSpy ready(&cache, &ThumbnailCache::ready);
      ASSERT_TRUE(c.side * c.side > 128 * 128 && ready.wait());
      ASSERT_TRUE(drawPicture(painter, picture, QRectF(0, 0, 150, 150), cache));
    }
    painter.end();
    // The picture is centred: its device pixels are those that are not white.
    QRect shown;
    for (int y = 0; y < target.height(); ++y)
      for (int x = 0; x < target.width(); ++x)
        if (target.pixel(x, y) != qRgb(255, 255, 255)) shown |= QRect(x, y, 1, 1);
    EXPECT_EQ(shown.size(), QSize(c.shownSide, c.shownSide)) << c.side << " at " << c.ratio;
    EXPECT_EQ(shown.center(), target.rect().center()) << c.side << " at " << c.ratio;
    if (c.sharp) {
      EXPECT_EQ(blended(target, shown), 0) << c.side << " at " << c.ratio;
      const int step = c.shownSide / c.side;  // each picture pixel is a step x step block
      EXPECT_EQ(target.pixel(shown.topLeft() + QPoint(step - 1, 0)), kLight);
      EXPECT_EQ(target.pixel(shown.topLeft() + QPoint(step, 0)), kDark);
    } else {
      // A reduced checkerboard averages to one colour between the two; nearest sampling would keep them.
      EXPECT_GT(blended(target, shown), shown.width() * shown.height() * 9 / 10) << c.side << " at " << c.ratio;
    }
  }
}

// The well of a character whose picture is 16x16 pixel art shows it with no blended pixel.
TEST(Pictures, TheImageWellKeepsPixelArtSharpAtScaleFactors1And15) {
  testing::expectPassesAtScaleFactor15();
  testing::TempFolder dir;
  dir.write("data.txt", "hero,100, 0, 0\n####\n$$$$\n");
  dir.write("img/hero1", *encodePng(*makeImage(16, 16, checker(16, kDark, kLight))));
  CharacterList list;
  EditorState state;
  testing::FakeTimerService timers;
  InitLayer controller(list, state, ProjectFolder(dir.path()), timers);
  ImageWellWidget well(controller, Table::Characters);
  well.resize(160, 160);
  well.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&well));
  const QImage shown = well.grab().toImage().convertToFormat(QImage::Format_RGB32);
  QRect picture;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x)
      if (shown.pixel(x, y) == kDark) picture |= QRect(x, y, 1, 1);
  ASSERT_GT(picture.width(), 16 * 4);
  EXPECT_EQ(blended(shown, picture.adjusted(1, 1, -1, -1)), 0);
}

// 10,000 rows with 64x64 pictures (a solid red one on every tenth row); every third row a hidden layer.
struct Thumbnails : ::testing::Test {
  Thumbnails() : model(10000, 2) {
    for (int row = 0; row < model.rowCount(); ++row) {
      auto* visible = new QStandardItem;
      visible->setCheckable(true);
      visible->setCheckState(row % 3 ? Qt::Checked : Qt::Unchecked);
      model.setItem(row, 1, visible);
      const uint32_t seed = uint32_t(row);
      pictures.push_back(row % 10 ? testing::testImage(64, 64, seed) : makeImage(64, 64, std::vector<uint32_t>(64 * 64, 0xffff0000)));
    }
    table.setModel(&model);
    delegate = installThumbnails(
        table, [this](const QModelIndex& i) { return ++asked, pictures[size_t(i.row())]; },
        [this](const QModelIndex& i) { return model.index(i.row(), 1).data(Qt::CheckStateRole).toInt() != Qt::Checked; },
        {0, 1});
    table.setSelectionMode(QAbstractItemView::NoSelection);
    table.resize(300, 400);
    table.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&table));
  }
  QImage paint() { return table.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  // How red the reddest pixel of a row's first cell is.
  int redness(const QImage& shown, int row) {
    const QRect cell = table.visualRect(model.index(row, 0));
    int most = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      for (int x = cell.left(); x <= cell.right(); ++x) most = std::max(most, qRed(shown.pixel(x, y)) - qGreen(shown.pixel(x, y)));
    return most;
  }
  QStandardItemModel model;
  std::vector<ImageRef> pictures;
  QTableView table;
  ThumbnailDelegate* delegate = nullptr;
  int asked = 0;
};

TEST_F(Thumbnails, OnlyPaintedRowsAreAskedForAndEachPictureIsReducedOnce) {
  asked = 0;
  paint();
  const int rows = table.viewport()->height() / table.rowHeight(0) + 1;
  EXPECT_GT(asked, 0);
  EXPECT_LE(asked, rows + 1);
  const int firstPage = delegate->cache().reductions();
  EXPECT_LE(firstPage, rows + 1);
  table.verticalScrollBar()->setValue(table.verticalScrollBar()->pageStep());
  paint();
  const int twoPages = delegate->cache().reductions();
  EXPECT_GT(twoPages, firstPage);
  table.verticalScrollBar()->setValue(0);
  paint();
  EXPECT_EQ(delegate->cache().reductions(), twoPages);  // the first page again, from the cache
}

TEST_F(Thumbnails, HiddenLayersAreDimmedAndTheEyeShowsAndHidesThem) {
  // Rows 10 and 30 hold the same red picture; row 30 is a hidden layer.
  table.scrollTo(model.index(10, 0), QAbstractItemView::PositionAtTop);
  QImage shown = paint();
  EXPECT_GT(redness(shown, 10), 240);
  table.scrollTo(model.index(30, 0), QAbstractItemView::PositionAtTop);
  shown = paint();
  EXPECT_LT(redness(shown, 30), 160);

  const QModelIndex eye = model.index(30, 1);
  QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.visualRect(eye).center());
  EXPECT_EQ(eye.data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_GT(redness(paint(), 30), 240);
  table.setCurrentIndex(eye);
  QTest::keyClick(&table, Qt::Key_Space);
  EXPECT_EQ(eye.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
}

}  // namespace
}  // namespace charstack
