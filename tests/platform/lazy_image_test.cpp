// Images decoded from PNG keep the data and decode their pixels again only when they are used.
#include <QBuffer>
#include <QImage>
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "platform/image.hpp"
#include "platform/image_impl.hpp"
#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;
using testing::testImage;
using testing::testPng;

TEST(LazyImage, SizeAndSavedDataNeedNoPixelsAndTheDecodedPixelsAreExact) {
  // testImage has a fully transparent first row and column with colours, and varied alpha elsewhere.
  const std::string png = testPng(37, 23, 5);
  ImageRef image = decodeImageData(png);
  ASSERT_TRUE(image);
  EXPECT_FALSE(image->impl().pixelsLoaded());
  EXPECT_EQ(image->pixelWidth(), 37);
  EXPECT_EQ(image->pixelHeight(), 23);
  EXPECT_EQ(image->width(), 37.0);
  EXPECT_EQ(image->height(), 23.0);
  EXPECT_TRUE(image->impl().hasAlpha());
  EXPECT_EQ(encodePng(*image), png);
  EXPECT_FALSE(image->impl().pixelsLoaded());

  ImageRef original = testImage(37, 23, 5);
  ASSERT_NE(original->pixel(0, 4) & 0x00ffffffu, 0u);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) ASSERT_EQ(image->pixel(x, y), original->pixel(x, y)) << x << "," << y;
  EXPECT_TRUE(image->impl().pixelsLoaded());
  EXPECT_EQ(image->impl().qimage().format(), QImage::Format_ARGB32);
  EXPECT_TRUE(image->samePixels(*original));
  EXPECT_TRUE(original->samePixels(*image));
  EXPECT_EQ(encodePng(*image), png);  // still the kept data, not a new encoding
  EXPECT_EQ(image->pixel(37, 0), 0u);

  // Two images that have not decoded yet compare by their pixels, and a size mismatch needs no decode.
  ImageRef a = decodeImageData(png), b = decodeImageData(png), other = decodeImageData(testPng(37, 23, 6));
  EXPECT_FALSE(a->samePixels(*decodeImageData(testPng(23, 37, 5))));
  EXPECT_FALSE(a->impl().pixelsLoaded());
  EXPECT_TRUE(a->samePixels(*b));
  EXPECT_FALSE(a->samePixels(*other));
}

TEST(LazyImage, OpaquePngComesBackWithoutAlpha) {
  QImage rgb(9, 4, QImage::Format_RGB32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) rgb.setPixel(x, y, qRgb(x * 25, y * 60, 200 - x));
  auto png = encodePng(*imageFromQImage(rgb));
  ASSERT_TRUE(png);
  ImageRef image = decodeImageData(*png);
  ASSERT_TRUE(image);
  EXPECT_FALSE(image->impl().hasAlpha());
  EXPECT_EQ(image->impl().qimage().format(), QImage::Format_RGB32);
  EXPECT_TRUE(image->samePixels(*imageFromQImage(rgb)));
}

TEST(LazyImage, DrawnCopyComesFromTheDataAndLeavesThePixelsIntact) {
  ImageRef image = decodeImageData(testPng(16, 12, 3));
  ImageRef original = testImage(16, 12, 3);
  const QImage& drawn = image->impl().premultiplied();
  EXPECT_FALSE(image->impl().pixelsLoaded());
  EXPECT_EQ(drawn.format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_EQ(drawn, original->impl().premultiplied());
  EXPECT_EQ(&drawn, &image->impl().premultiplied());
  // Premultiplying loses transparent colours; the pixels decoded afterwards still have them.
  EXPECT_TRUE(image->samePixels(*original));
  EXPECT_EQ(&drawn, &image->impl().premultiplied());
}

TEST(LazyImage, OtherImagesHoldTheirPixelsFromTheStart) {
  QImage source(6, 5, QImage::Format_RGB32);
  source.fill(qRgb(10, 20, 30));
  QByteArray bmp;
  {
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(source.save(&buffer, "BMP"));
  }
  ImageRef fromBmp = decodeImageData(std::string_view(bmp.constData(), static_cast<size_t>(bmp.size())));
  ASSERT_TRUE(fromBmp);
  EXPECT_TRUE(fromBmp->impl().pixelsLoaded());
  EXPECT_FALSE(fromBmp->impl().pngData());
  EXPECT_TRUE(testImage(3, 3, 1)->impl().pixelsLoaded());
  EXPECT_TRUE(imageFromQImage(source)->impl().pixelsLoaded());
}

TEST(LazyImage, FirstUseFromManyThreadsAtOnceDecodesOneSetOfPixels) {
  const std::string png = testPng(64, 48, 11);
  ImageRef original = testImage(64, 48, 11);
  for (int round = 0; round < 20; ++round) {
    ImageRef image = decodeImageData(png);
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<const QImage*> seen(kThreads);
    std::vector<int> same(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        switch (t % 4) {
          case 0: same[t] = image->samePixels(*original); break;
          case 1: same[t] = image->pixel(63, 47) == original->pixel(63, 47); break;
          case 2: same[t] = image->impl().premultiplied() == original->impl().premultiplied(); break;
          default: same[t] = encodePng(*image) == png; break;
        }
        seen[t] = &image->impl().qimage();
      });
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_TRUE(same[t]) << "round " << round << " thread " << t;
      EXPECT_EQ(seen[t], seen[0]);
    }
    EXPECT_TRUE(image->samePixels(*original));
  }
}

TEST(LazyImage, LoadingAndSavingAProjectLeaveThePixelsUndecoded) {
  TempFolder dir;
  dir.write("data.txt", "Hero,100,10,20\n####\nArm,150,1,5,0\nLeg,120,0,-3,12\n$$$$\nSlime,100,200,40\n####\n$$$$\n");
  const std::vector<std::pair<std::string, std::string>> files = {
      {"img/Hero1", testPng(8, 6, 1)}, {"img/Arm2", testPng(5, 5, 2)}, {"img/Leg3", testPng(4, 7, 3)},
      {"img/Slime4", testPng(9, 3, 4)}};
  for (const auto& [name, bytes] : files) dir.write(name, bytes);

  LoadResult loaded = loadProject(ProjectFolder(dir.path()));
  ASSERT_TRUE(loaded.problems.empty());
  ASSERT_EQ(loaded.list.size(), 2);
  std::vector<ImageRef> images;
  for (const Character& c : loaded.list.characters) {
    images.push_back(c.image);
    for (const Layer& l : c.layers) images.push_back(l.image);
  }
  ASSERT_EQ(images.size(), 4u);
  for (const ImageRef& image : images) {
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->impl().pixelsLoaded());
  }
  EXPECT_EQ(images[2]->pixelHeight(), 7);

  // Saving the project elsewhere writes the data it was read from, again without pixels.
  TempFolder copy;
  EditorState state;
  SaveReport report = saveProject(loaded.list, state, ProjectFolder(copy.path()));
  EXPECT_TRUE(report.ok());
  for (const auto& [name, bytes] : files) EXPECT_EQ(copy.read(name), bytes) << name;
  for (const ImageRef& image : images) EXPECT_FALSE(image->impl().pixelsLoaded());
  EXPECT_TRUE(images[3]->samePixels(*testImage(9, 3, 4)));
}

}  // namespace
}  // namespace charstack
