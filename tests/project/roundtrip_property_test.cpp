// Saving any model the editor can hold and loading the folder again gives the same model: random
// models, seeded so that a failure can be replayed.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "model/names.hpp"
#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;
using testing::testImage;

// Pieces names are made of: ASCII letters and digits, white space, the characters of the markers
// on their own, and multibyte UTF-8 of two, three and four bytes.
const std::vector<std::string> kNamePieces = {
    "a", "Z", "0", "7", " ", "  ", "\t", "\r", "#", "##", "###", "$", "$$$", "-", "_", ".", "..", "'",
    "\"", "\\", "é", "ß", "新", "キャラ", "レイヤー", "😀", "\xEF\xBF\xBD"};

class ModelGenerator {
 public:
  explicit ModelGenerator(uint32_t seed) : rng_(seed) {}

  CharacterList model() {
    CharacterList list;
    imageFiles_.clear();
    int characters = below(7);
    int64_t number = 0;
    for (int k = 0; k < characters; ++k) {
      Character c;
      c.name = name(++number);
      c.value = depth();
      c.x = position();
      c.y = position();
      c.image = image();
      int layers = below(3) == 0 ? 0 : below(6);
      for (int m = 0; m < layers; ++m) {
        Layer l;
        l.name = name(++number);
        l.value = depth();
        l.visible = static_cast<uint8_t>(below(2));
        l.x = position();
        l.y = position();
        l.image = image();
        c.layers.push_back(std::move(l));
      }
      list.characters.push_back(std::move(c));
    }
    return list;
  }

 private:
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  // A name the project files can hold whose image file name no other record of the model uses.
  std::string name(int64_t number) {
    for (;;) {
      std::string n;
      int pieces = below(8) == 0 ? 0 : 1 + below(6);
      for (int i = 0; i < pieces; ++i) n += kNamePieces[static_cast<size_t>(below(static_cast<int>(kNamePieces.size())))];
      if (checkName(n) != NameProblem::None) continue;
      if (!imageFiles_.insert(imageFileName(n, number)).second) continue;
      return n;
    }
  }

  int64_t depth() {
    switch (below(4)) {
      case 0: return below(2) ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
      case 1: return below(1000);
      default: return std::uniform_int_distribution<int64_t>(std::numeric_limits<int32_t>::min(),
                                                              std::numeric_limits<int32_t>::max())(rng_);
    }
  }

  int32_t position() {
    if (below(5) == 0) return below(2) ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
    return std::uniform_int_distribution<int32_t>(std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max())(rng_);
  }

  ImageRef image() {
    if (below(4) == 0) return nullptr;
    return testImage(1 + below(6), 1 + below(6), static_cast<uint32_t>(rng_()));
  }

  std::mt19937 rng_;
  std::set<std::string> imageFiles_;
};

// Each folder takes several models in turn, so every save also lands on the files of an earlier,
// unrelated project: stale files under a record's name must not come back as its image.
TEST(RoundTripProperty, RandomModelsLoadBackAsSaved) {
  constexpr uint32_t kFirstSeed = 20240601;
  constexpr int kFolders = 6;
  constexpr int kModelsPerFolder = 4;
  for (int f = 0; f < kFolders; ++f) {
    TempFolder dir;
    for (int i = 0; i < kModelsPerFolder; ++i) {
      uint32_t seed = kFirstSeed + static_cast<uint32_t>(f * kModelsPerFolder + i);
      SCOPED_TRACE("seed " + std::to_string(seed));
      CharacterList model = ModelGenerator(seed).model();
      CharacterList saved = model;
      SaveReport report = testing::saveInto(saved, dir);
      ASSERT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0].file + ": " +
                                                                      report.problems[0].reason);
      LoadResult loaded = testing::expectLoadsAs(dir, model);
      EXPECT_TRUE(loaded.unreadableImageFiles.empty());
      // Loaded records know the name their file was read under.
      for (const Character& c : loaded.list.characters) EXPECT_EQ(c.savedName, c.name);
      // What the save wrote is what the loaded model would write.
      EXPECT_EQ(buildDataText(loaded.list), dir.read("data.txt"));
      if (::testing::Test::HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace charstack
