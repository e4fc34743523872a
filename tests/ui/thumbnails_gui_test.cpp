// Pictures drawn small or large, as the wells draw them: pixel art keeps sharp pixels at any device
// pixel ratio, large pictures are reduced smoothly; and the tables' thumbnails are painted lazily
// from the cache, dimmed for hidden layers, with an eye that shows and hides.
#include <gtest/gtest.h>

#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include "support/fakes.hpp"
#include "ui/thumbnails.hpp"

namespace charstack {
namespace {

// A checkerboard of one-pixel squares of two colours.
constexpr uint32_t kDark = 0xff203040, kLight = 0xffe0d0a0;
ImageRef checker(int side) {
  std::vector<uint32_t> argb(size_t(side * side));
  for (int i = 0; i < side * side; ++i) argb[size_t(i)] = (i / side + i % side) % 2 ? kDark : kLight;
  return makeImage(side, side, argb);
}

// A picture drawn into 150x150: the side it shows at, at a device pixel ratio.
TEST(Pictures, PixelArtIsEnlargedByWholePixelsAndLargePicturesReducedSmoothly) {
  const std::tuple<int, qreal, int> cases[] = {
      {16, 1, 144}, {16, 1.5, 224}, {5, 2, 300}, {300, 1, 150}, {300, 1.5, 225}};
  for (const auto& [side, ratio, shownSide] : cases) {
    ThumbnailCache cache;
    const ImageRef picture = checker(side);
    QImage target(QSize(150, 150) * ratio, QImage::Format_RGB32);
    target.setDevicePixelRatio(ratio);
    target.fill(Qt::white);
    QPainter painter(&target);
    if (!drawPicture(painter, picture, QRectF(0, 0, 150, 150), cache)) {  // reduced on a worker
      QSignalSpy ready(&cache, &ThumbnailCache::ready);
      ASSERT_TRUE(side > 128 && ready.wait());
      ASSERT_TRUE(drawPicture(painter, picture, QRectF(0, 0, 150, 150), cache));
    }
    painter.end();
    // Where the picture shows (all but the white), and how many of its pixels are of neither colour.
    QRect shown;
    int blended = 0;
    for (int y = 0; y < target.height(); ++y)
      for (int x = 0; x < target.width(); ++x) {
        const QRgb p = target.pixel(x, y);
        shown |= p == qRgb(255, 255, 255) ? QRect() : QRect(x, y, 1, 1);
        blended += p != qRgb(255, 255, 255) && p != kDark && p != kLight;
      }
    EXPECT_EQ(shown.size(), QSize(shownSide, shownSide)) << side << " at " << ratio;
    EXPECT_EQ(shown.center(), target.rect().center()) << side << " at " << ratio;
    if (shownSide > side) {  // each picture pixel a block of whole pixels
      EXPECT_EQ(blended, 0) << side << " at " << ratio;
      EXPECT_EQ(target.pixel(shown.topLeft() + QPoint(shownSide / side - 1, 0)), kLight);
      EXPECT_EQ(target.pixel(shown.topLeft() + QPoint(shownSide / side, 0)), kDark);
    } else {  // averaged to colours between the two, where nearest sampling would keep them
      EXPECT_GT(blended, shown.width() * shown.height() * 9 / 10) << side << " at " << ratio;
    }
  }
}

// 10,000 rows of 64x64 pictures; rows 2 and 5 show the same red one, and row 5 is a hidden layer.
TEST(Thumbnails, PaintedLazilyFromTheCacheDimmedForHiddenLayersWithAnEye) {
  QStandardItemModel model(10000, 2);
  std::vector<ImageRef> pictures;
  const ImageRef red = makeImage(64, 64, std::vector<uint32_t>(64 * 64, 0xffff0000));
  for (int row = 0; row < model.rowCount(); ++row) {
    auto* visible = new QStandardItem;
    visible->setCheckable(true);
    visible->setCheckState(row == 5 ? Qt::Unchecked : Qt::Checked);
    model.setItem(row, 1, visible);
    pictures.push_back(row == 2 || row == 5 ? red : testing::testImage(64, 64, uint32_t(row)));
  }
  QTableView table;
  table.setModel(&model);
  int asked = 0;
  ThumbnailDelegate* delegate = installThumbnails(
      table, [&](const QModelIndex& i) { return ++asked, pictures[size_t(i.row())]; },
      [&](const QModelIndex& i) {
        return model.index(i.row(), 1).data(Qt::CheckStateRole).toInt() != Qt::Checked;
      },
      {0, 1});
  table.setSelectionMode(QAbstractItemView::NoSelection);
  table.resize(300, 400);
  table.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&table));
  auto paint = [&] { return table.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); };
  auto redness = [&](int row) {  // of the reddest pixel of the row's first cell
    const QImage shown = paint().copy(table.visualRect(model.index(row, 0)));
    int most = 0;
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x)
        most = std::max(most, qRed(shown.pixel(x, y)) - qGreen(shown.pixel(x, y)));
    return most;
  };

  asked = 0;
  paint();
  EXPECT_TRUE(asked > 0 && asked <= table.viewport()->height() / table.rowHeight(0) + 2) << asked;
  const int firstPage = delegate->cache().reductions();
  table.verticalScrollBar()->setValue(table.verticalScrollBar()->pageStep());
  paint();
  const int twoPages = delegate->cache().reductions();
  EXPECT_GT(twoPages, firstPage);
  table.verticalScrollBar()->setValue(0);
  EXPECT_GT(redness(2), 240);
  EXPECT_LT(redness(5), 160);
  EXPECT_EQ(delegate->cache().reductions(), twoPages);  // the first page again, from the cache

  const QModelIndex eye = model.index(5, 1);
  QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.visualRect(eye).center());
  EXPECT_EQ(eye.data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_GT(redness(5), 240);
}

}  // namespace
}  // namespace charstack
