// Thousands of random editor steps on a real project folder: clicks, ticks, cell edits, image drops,
// inserts, removes, drags and saves. After every step the mirrors fit the model and no record or
// picture is lost, duplicated or moved to another record; after every save the folder loads back as
// the model. CHARSTACK_SOAK_STEPS sets the number of steps, CHARSTACK_SOAK_SEED the seed.

#include <algorithm>
#include <cstdlib>
#include <random>

#include "canvas/init_layer_view.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

uint64_t fromEnvironment(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// Where `after` is `before` with one element inserted (equal to `fresh` when given) or removed; -1
// for any other change.
template <typename T>
int64_t changedAt(const std::vector<T>& before, const std::vector<T>& after, const T* fresh = nullptr) {
  const bool inserted = after.size() > before.size();
  const std::vector<T>& longer = inserted ? after : before;
  const std::vector<T>& shorter = inserted ? before : after;
  if (longer.size() != shorter.size() + 1 || (fresh != nullptr) != inserted) return -1;
  const long p = std::mismatch(shorter.begin(), shorter.end(), longer.begin()).first - shorter.begin();
  const bool rest = std::equal(shorter.begin() + p, shorter.end(), longer.begin() + p + 1);
  return rest && (!fresh || longer[size_t(p)] == *fresh) ? p : -1;
}

Character unmoved(Character c) {
  c.x = c.y = 0;
  for (Layer& l : c.layers) l.x = l.y = 0;
  return c;
}

const char* const kNamePieces[] = {"A", "B", "1", "2", " ", "#", "$", "新", "キャラ", "😀", "x", ",", "/"};
const char* const kValues[] = {"0", "5", "999", "-3", "abc", "", " 7x", "+12", "99999999999", "-99999999999", "1000"};

struct Soak : testing::ControllerTest {
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
  int64_t row(size_t rows) { return below(int(rows) + 2) - 1; }  // -1 and one past the end too
  double coordinate() { return below(6) == 0 ? (below(2) ? 1e12 : -1e12) : below(8000) / 7.0 - 100; }

  void step() {
    InitLayer& c = *controller;
    const std::vector<Character> before = list.characters;
    const size_t queued = state.pendingImageDeletions.size();
    const int kind = below(100);
    if (kind < 14) {
      clickCharacter(below(int(c.MA1.size()) + 1) - 1);  // -1: below the last row
      // The layers table lists exactly the clicked character's layers, or nothing.
      std::vector<RowDictionary> rows;
      const int64_t k = state.selectedCharacterRow;
      for (const Layer& l : k < 0 || list.empty() ? std::vector<Layer>{} : list.characters.at(size_t(k)).layers)
        rows.push_back(layerRow(l));
      EXPECT_TRUE(list.empty() || c.MA2 == rows);
    } else if (kind < 24) {
      clickLayer(below(int(c.MA2.size()) + 1) - 1);
    } else if (kind < 44) {
      const int64_t k = state.selectedCharacterRow, m = state.selectedLayerRow;
      tick();
      // Only the selected records change: they take their rows' texts and pictures, never positions.
      for (size_t i = 0; i < before.size(); ++i) {
        const Character& now = list.characters[i];
        Character kept = before[i];
        ASSERT_EQ(now.layers.size(), kept.layers.size());
        if (int64_t(i) == k) kept.name = *c.MA1[i].name, kept.image = c.MA1[i].img, kept.value = now.value;
        const size_t j = size_t(m);
        if (int64_t(i) == k && m >= 0 && j < kept.layers.size() && j < c.MA2.size() && !(now.layers[j] == kept.layers[j]))
          kept.layers[j].name = *c.MA2[j].name, kept.layers[j].image = c.MA2[j].img,
          kept.layers[j].value = now.layers[j].value, kept.layers[j].visible = now.layers[j].visible;
        EXPECT_TRUE(now == kept) << "the tick changed more than the selected rows in character " << i;
      }
    } else if (kind < 60) {
      const Table table = below(2) ? Table::Characters : Table::Layers;
      const int64_t r = row((table == Table::Characters ? c.MA1 : c.MA2).size());
      std::string name;
      for (int i = below(4); i >= 0; --i) name += kNamePieces[below(int(std::size(kNamePieces)))];
      const Field field = Field(below(3));
      c.editCell(table, r, field, field == Field::Name ? name : kValues[below(int(std::size(kValues)))]);
    } else if (kind < 70) {
      RowImageWell& well = below(2) ? c.IV1 : c.IV2;
      ImageRef image = below(5) == 0 ? nullptr : testing::testImage(1 + below(5), 1 + below(5), nextPicture++);
      EXPECT_EQ(well.setImage(image), well.hasRow());
    } else if (kind < 80) {
      const bool inserting = kind < 75;
      inserting ? c.insert1() : c.remove1();
      const Character fresh = testing::character(kNewCharacterName, kNewCharacterValue);
      const int64_t k = changedAt(before, list.characters, inserting ? &fresh : nullptr);
      ASSERT_TRUE(k >= 0 || (!inserting && list.characters == before)) << "not one character inserted or removed";
      // A removed character's file and its layers' files are queued for deletion.
      EXPECT_EQ(state.pendingImageDeletions.size(), queued + (inserting || k < 0 ? 0 : 1 + before[size_t(k)].layers.size()));
    } else if (kind < 88) {
      const bool inserting = kind < 84;
      inserting ? c.insert2() : c.remove2();
      Layer fresh = testing::layer(kNewLayerName, kNewLayerValue);
      fresh.visible = 0;
      // Nothing changed, or one character gained or lost one layer and nothing else.
      int changed = 0;
      for (size_t k = 0; k < before.size(); ++k) {
        Character self = list.characters[k];
        if (self == before[k]) continue;
        ++changed;
        EXPECT_GE(changedAt(before[k].layers, self.layers, inserting ? &fresh : nullptr), 0);
        self.layers = before[k].layers;
        EXPECT_TRUE(self == before[k]) << "character " << k << " changed beside its layers";
      }
      EXPECT_LE(changed, 1);
      EXPECT_EQ(state.pendingImageDeletions.size(), queued + (inserting ? 0 : size_t(changed)));
    } else if (kind < 97) {
      view->mouseDown(coordinate(), coordinate());
      for (int i = below(4); i >= 0; --i) view->mouseDragged(coordinate(), coordinate());
      for (size_t k = 0; k < before.size(); ++k)
        EXPECT_TRUE(unmoved(list.characters[k]) == unmoved(before[k])) << "the drag changed character " << k;
    } else {
      const std::string textBefore = dir.read("data.txt");
      SaveReport report = controller->saveData();
      ++saves;
      // Refused when two records share an image file ("A1" at 1, "A" at 11): nothing is written.
      EXPECT_TRUE(report.ok() || (report.refused && dir.read("data.txt") == textBefore)) << report.problems.front().reason;
      refused += report.refused;
      if (report.refused) return;
      EXPECT_TRUE(!controller->hasUnsavedChanges() && state.pendingImageDeletions.empty());
      // Files left under the names of records without pictures are theirs once the editor looks.
      controller->applyDiskScan(scanDisk(controller->folder(), controller->diskScanRequest()));
      testing::expectLoadsAs(dir, list);
    }
    EXPECT_TRUE((kind >= 24 && kind < 44) || kind >= 70 || list.characters == before) << "a click, an edit or a drop changed the model";
    ASSERT_EQ(int64_t(c.MA1.size()), list.size());
    EXPECT_TRUE(c.MA2.empty() || std::any_of(list.characters.begin(), list.characters.end(),
                                             [&](const Character& ch) { return ch.layers.size() == c.MA2.size(); }));
  }

  std::mt19937_64 rng;
  uint32_t nextPicture = 1000;
  int saves = 0, refused = 0;
  testing::FakeCanvasHost host;
  std::unique_ptr<InitLayerView> view;
};

TEST_F(Soak, RandomEditorStepsKeepMirrorsRecordsPicturesAndFilesInStep) {
  open(testing::kThreeCharacters);
  view = std::make_unique<InitLayerView>(list, state, timers, host);
  const uint64_t seed = fromEnvironment("CHARSTACK_SOAK_SEED", 20240607);
  const uint64_t steps = fromEnvironment("CHARSTACK_SOAK_STEPS", 3000);
  rng.seed(seed);
  for (uint64_t i = 0; i < steps && !HasFailure(); ++i) {
    SCOPED_TRACE("CHARSTACK_SOAK_SEED=" + std::to_string(seed) + " CHARSTACK_SOAK_STEPS=" + std::to_string(i + 1));
    step();
  }
  EXPECT_GT(saves - refused, 0);
}

}  // namespace
}  // namespace charstack
