// Export of every character on several threads: the files a character-by-character export would
// write, in character order, and a cancelled export leaves only whole files.
#include "canvas/export.hpp"

#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::character;
using testing::layer;
using testing::testImage;

// Characters sharing pictures, one with nothing to draw, one that draws only a layer, and two whose
// file names are the same ("a1" is record 1, "a" record 11).
CharacterList exportedList() {
  CharacterList list;
  const ImageRef shared = testImage(30, 20, 1);
  list.characters = {character("a1", 0, shared), character("hero", 5, testImage(9, 9, 2)), character("empty"),
                     character("a", 0, testImage(3, 3, 3))};
  list.characters[1].layers = {layer("arm", 10, shared), layer("fx", 1, testImage(4, 7, 4))};
  list.characters[1].layers[1].x = -3;
  for (int k = 0; k < 5; ++k) list.characters.insert(list.characters.begin() + 3, character("b", 1, testImage(5, 5, 10 + uint32_t(k))));
  return list;
}

TEST(Export, ThreadsWriteWhatEachCharactersPictureIsInCharacterOrder) {
  const CharacterList list = exportedList();
  testing::TempFolder out;
  std::vector<std::string> told;
  std::vector<size_t> progress;
  ExportOptions options;
  options.threads = 3;
  options.progress = [&](size_t done, size_t total) { progress.push_back(done * 100 + total); };
  ExportReport report = exportAllCharacters(list, ProjectFolder(out.path()), [&](const std::string& f) { told.push_back(f); }, options);

  const std::vector<std::string> names = {"a11.png", "hero2.png", "b6.png", "b7.png", "b8.png", "b9.png", "b10.png"};
  EXPECT_EQ(report.written, names);
  EXPECT_EQ(told, names);
  EXPECT_EQ(report.skipped, std::vector<std::string>{"character 3 \"empty\""});
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].file, "a11.png");
  EXPECT_EQ(progress.size(), 9u);
  EXPECT_EQ(progress.back(), 909u);
  EXPECT_EQ(out.list("").size(), names.size());  // and no temporary file
  for (size_t k = 0; k < 3; ++k) {  // the same bytes as the picture made on its own
    const size_t row = k == 2 ? 3 : k;
    EXPECT_EQ(out.read(names[k]), characterPicture(list.characters[row]).png.value_or("")) << names[k];
  }

  // Again on one thread: the same files, byte for byte.
  testing::TempFolder again;
  options.threads = 1;
  exportAllCharacters(list, ProjectFolder(again.path()), {}, options);
  EXPECT_EQ(testing::filesOf(again), testing::filesOf(out));
}

TEST(Export, CancellingLeavesOnlyTheWholeFilesWrittenBefore) {
  const CharacterList list = exportedList();
  testing::TempFolder out;
  std::atomic<bool> cancel{false};
  ExportOptions options;
  options.threads = 4;
  options.cancel = &cancel;
  options.progress = [&](size_t done, size_t) { cancel = done == 4; };
  ExportReport report = exportAllCharacters(list, ProjectFolder(out.path()), {}, options);
  EXPECT_TRUE(report.cancelled);
  EXPECT_EQ(report.written, (std::vector<std::string>{"a11.png", "hero2.png", "b6.png"}));
  // No temporary file of the characters made ahead is left behind.
  EXPECT_EQ(out.list(""), (std::vector<std::string>{"a11.png", "b6.png", "hero2.png"}));
  for (const std::string& name : report.written) EXPECT_TRUE(decodeImageData(out.read(name))) << name;
}

}  // namespace
}  // namespace charstack
