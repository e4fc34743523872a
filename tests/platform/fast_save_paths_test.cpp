// The pieces that make saving fast: writes prepared ahead and committed in order, and the PNG data
// written without Qt's writer.
#include <gtest/gtest.h>

#include <QColorSpace>
#include <QImage>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "platform/image.hpp"
#include "platform/image_impl.hpp"
#include "platform/parallel.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;

TEST(OrderedPipeline, ConsumesInOrderAfterPrepareAndStaysWithinItsLead) {
  for (size_t threads : {1u, 4u}) {
    constexpr size_t kCount = 200, kAhead = 3;
    std::vector<std::atomic<int>> prepared(kCount);
    std::atomic<size_t> consumed{0}, furthestLead{0};
    std::vector<size_t> order;
    orderedPipeline(
        kCount, threads, kAhead,
        [&](size_t i) {
          // No item starts more than `ahead` beyond the last one consumed.
          size_t lead = i - consumed.load();
          size_t seen = furthestLead.load();
          while (lead > seen && !furthestLead.compare_exchange_weak(seen, lead)) {
          }
          prepared[i] = 1;
        },
        [&](size_t i) {
          EXPECT_EQ(prepared[i].load(), 1) << i;
          order.push_back(i);
          consumed = i + 1;
        });
    ASSERT_EQ(order.size(), kCount) << threads;
    for (size_t i = 0; i < kCount; ++i) EXPECT_EQ(order[i], i);
    EXPECT_LT(furthestLead.load(), kAhead) << threads;
  }
  // A consumer that throws stops the workers and the exception reaches the caller.
  EXPECT_THROW(orderedPipeline(50, 4, 4, [](size_t) {}, [](size_t i) { if (i == 7) throw std::runtime_error("x"); }),
               std::runtime_error);
}

TEST(PreparedWrite, TargetChangesOnlyAtCommitAndUncommittedWritesLeaveNothing) {
  TempFolder dir;
  dir.write("img/a", "old");
  ProjectFolder folder(dir.path());
  {
    ProjectFolder::PreparedWrite write = folder.prepareWrite("img/a", "new bytes");
    ASSERT_TRUE(write.status().ok());
    EXPECT_EQ(dir.read("img/a"), "old");
    EXPECT_EQ(dir.list("img").size(), 2u);  // the target and one temporary file
    ASSERT_TRUE(folder.commitWrite(write).ok());
    EXPECT_EQ(dir.read("img/a"), "new bytes");
    EXPECT_FALSE(folder.commitWrite(write).ok());  // a write is committed once
  }
  {
    ProjectFolder::PreparedWrite moved;
    {
      ProjectFolder::PreparedWrite write = folder.prepareWrite("img/b", "never");
      moved = std::move(write);
    }
    EXPECT_EQ(dir.list("img").size(), 2u);  // the moved-from write removed nothing
  }
  EXPECT_EQ(dir.list("img"), std::vector<std::string>{"a"});  // discarded at the end
  EXPECT_TRUE(folder.syncFolder("img", "img/").ok());

  ProjectFolder::PreparedWrite failed = folder.prepareWrite("missing/c", "x");
  EXPECT_FALSE(failed.status().ok());
  Status s = folder.commitWrite(failed);
  EXPECT_EQ(s.error.rfind("Cannot write missing/c: ", 0), 0u) << s.error;
  EXPECT_FALSE(dir.exists("missing"));
}

TEST(EncodePng, DirectDataKeepsFormatResolutionAndEveryPixel) {
  // Opaque RGB32 stays without alpha; ARGB32 keeps transparent colours; the resolution survives.
  QImage rgb(33, 5, QImage::Format_RGB32);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 33; ++x) rgb.setPixel(x, y, qRgb(x * 7, y * 50, (x * y) & 255));
  rgb.setDotsPerMeterX(5000);
  rgb.setDotsPerMeterY(2000);
  ImageRef rgbImage = imageFromQImage(rgb);
  ImageRef argbImage = testing::testImage(64, 40, 3);
  for (const ImageRef& image : {rgbImage, argbImage}) {
    auto png = encodePng(*image);
    ASSERT_TRUE(png);
    ImageRef back = decodeImageData(*png);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->samePixels(*image));
    EXPECT_EQ(back->impl().qimage().format(), image->impl().qimage().format());
    EXPECT_EQ(back->impl().qimage().dotsPerMeterX(), image->impl().qimage().dotsPerMeterX());
    EXPECT_EQ(back->impl().qimage().dotsPerMeterY(), image->impl().qimage().dotsPerMeterY());
  }

  // What only Qt's writer stores (text, a colour space) still reaches the file.
  QImage tagged = testing::testImage(8, 8, 1)->impl().qimage();
  tagged.setText("Author", "someone");
  tagged.setColorSpace(QColorSpace::DisplayP3);
  auto png = encodePng(*imageFromQImage(tagged));
  ASSERT_TRUE(png);
  const QImage back = decodeImageData(*png)->impl().qimage();
  EXPECT_EQ(back.text("Author"), "someone");
  EXPECT_EQ(back.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
}

}  // namespace
}  // namespace charstack
