// Pictures in the formats artists use, dropped on a well, become the record's picture; saving writes
// them as PNG.
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/main_window.hpp"
#include "support/fakes.hpp"
#include "ui/image_well_widget.hpp"

namespace charstack {
namespace {

constexpr uint32_t kColour = 0x80ff2010;  // half transparent red

// A 3 x 2 picture in kColour: a lossless WebP, and a TGA, whose content does not tell its format.
void writePictures(const testing::TempFolder& folder) {
  QImage image(3, 2, QImage::Format_ARGB32);
  image.fill(kColour);
  EXPECT_TRUE(image.save(QString::fromStdString((folder.path() / "a.webp").string()), "webp", 100));
  std::string tga{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 32, 0x28};  // 32 bits, top row first
  for (int i = 0; i < 6; ++i) tga += std::string{0x10, 0x20, char(0xff), char(0x80)};  // B, G, R, A
  folder.write("b.tga", tga + std::string(8, '\0') + std::string("TRUEVISION-XFILE.", 18));
}

TEST(Formats, DroppedPicturesBecomeTheRecordsPictureAndAreSavedAsPng) {
  for (const char* file : {"a.webp", "b.tga"}) {
    SCOPED_TRACE(file);
    testing::TempFolder folder;
    folder.write("data.txt", "alpha,100, 0, 0\n####\n$$$$\n");
    writePictures(folder);
    CharacterList list;
    EditorState state;
    MainWindow window(list, state, folder.path());
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString((folder.path() / file).string()))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.findChild<ImageWellWidget*>("characterWell"), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.findChild<ImageWellWidget*>("characterWell"), &drop);
    ASSERT_TRUE(drop.isAccepted());
    const ImageRef& picture = list.characters.at(0).image;
    ASSERT_TRUE(picture);
    EXPECT_EQ(std::tuple(picture->pixelWidth(), picture->pixelHeight(), picture->pixel(2, 1)), std::tuple(3, 2, kColour));
    ASSERT_TRUE(window.session().save().status.startsWith("Saved"));
    EXPECT_EQ(folder.read("img/alpha1").substr(0, 4), "\x89PNG");
  }
}

}  // namespace
}  // namespace charstack
