// Thousands of random editor steps on a real project folder: clicks, ticks, cell edits, image drops,
// inserts, removes, drags and saves. After every step the mirrors fit the model, no record or picture
// is lost, duplicated or moved to another record, and after every save the folder loads back as the
// model. CHARSTACK_SOAK_STEPS sets the number of steps, CHARSTACK_SOAK_SEED the seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "canvas/init_layer_view.hpp"
#include "controller/controller_fixture.hpp"
#include "model/names.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::FakeCanvasHost;
using testing::testImage;

uint64_t fromEnvironment(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// True when `after` is `before` with exactly one element inserted, and that element is `fresh`.
template <typename T>
bool oneInserted(const std::vector<T>& before, const std::vector<T>& after, const T& fresh) {
  if (after.size() != before.size() + 1) return false;
  size_t p = 0;
  while (p < before.size() && before[p] == after[p]) ++p;
  return after[p] == fresh && std::equal(before.begin() + static_cast<std::ptrdiff_t>(p), before.end(),
                                         after.begin() + static_cast<std::ptrdiff_t>(p) + 1);
}

// The removed index when `after` is `before` without exactly one element, otherwise -1.
template <typename T>
int64_t oneRemoved(const std::vector<T>& before, const std::vector<T>& after) {
  if (after.size() + 1 != before.size()) return -1;
  size_t p = 0;
  while (p < after.size() && before[p] == after[p]) ++p;
  return std::equal(after.begin() + static_cast<std::ptrdiff_t>(p), after.end(),
                    before.begin() + static_cast<std::ptrdiff_t>(p) + 1)
             ? static_cast<int64_t>(p)
             : -1;
}

// A character without its positions or those of its layers.
Character unmoved(Character c) {
  c.x = c.y = 0;
  for (Layer& l : c.layers) l.x = l.y = 0;
  return c;
}

const char* const kNamePieces[] = {"A", "B", "1", "2", " ", "#", "$", "新", "キャラ", "😀", "x"};
const char* const kRefusedNames[] = {"a,b", "two\nlines", "####", "x$$$$", "a/b", "nul\0x"};
const char* const kValues[] = {"0", "5", "999", "150", "-3", "abc", "", " 7x", "+12", "99999999999",
                               "-99999999999", "2147483647", "1000"};
const char* const kVisible[] = {"0", "1", "2", "-1", "x", ""};

class Soak : public testing::ControllerTest {
 protected:
  void SetUp() override {
    open("Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nLeg,120,1, -3, 12\n$$$$\n"
         "Mage,300, 0, 0\n####\nHat,310,0, 1, 1\n$$$$\nWolf,50, 7, 7\n####\n$$$$\n");
    view_ = std::make_unique<InitLayerView>(list, state, timers, host_);
  }

  int saves = 0, refusedSaves = 0;

  void step() {
    InitLayer& c = *controller;
    const std::vector<Character> before = list.characters;
    const size_t deletionsBefore = state.pendingImageDeletions.size();
    const std::vector<RowDictionary> mirror1 = c.MA1, mirror2 = c.MA2;
    const int kind = below(100);
    if (kind < 14) {  // a click on a character row, or below the last one (a table reports -1 there)
      int64_t row = below(static_cast<int>(c.MA1.size()) + 1) - 1;
      clickCharacter(row);
      if (!list.empty()) {
        EXPECT_EQ(state.selectedCharacterRow, row);
        // The layers table now lists exactly that character's layers, or nothing.
        std::vector<RowDictionary> rows;
        if (row >= 0)
          for (const Layer& l : list.characters[static_cast<size_t>(row)].layers) rows.push_back(layerRow(l));
        EXPECT_EQ(c.MA2, rows);
      }
    } else if (kind < 24) {  // a click on a layer row, or below the last one
      clickLayer(below(static_cast<int>(c.MA2.size()) + 1) - 1);
    } else if (kind < 44) {
      tick(before);
    } else if (kind < 60) {
      edit();
    } else if (kind < 70) {  // an image dropped into a well, or the well emptied
      bool first = below(2) == 0;
      RowImageWell& well = first ? c.IV1 : c.IV2;
      ImageRef image = below(5) == 0 ? nullptr : testImage(1 + below(5), 1 + below(5), nextPicture_++);
      bool stored = well.setImage(image);
      EXPECT_EQ(stored, well.hasRow());
      if (stored) {
        EXPECT_EQ(well.image(), image);
      } else {
        EXPECT_EQ(first ? c.MA1 : c.MA2, first ? mirror1 : mirror2);
      }
    } else if (kind < 75) {
      c.insert1();
      EXPECT_TRUE(oneInserted(before, list.characters, testing::character(kNewCharacterName, kNewCharacterValue)));
    } else if (kind < 80) {
      c.insert2();
      expectOneLayerChanged(before, true);
    } else if (kind < 84) {
      c.remove1();
      // The removed character's files and its layers' files are queued for deletion.
      int64_t k = oneRemoved(before, list.characters);
      ASSERT_TRUE(k >= 0 || list.characters == before) << "remove1 changed more than one character";
      EXPECT_EQ(state.pendingImageDeletions.size(),
                deletionsBefore + (k < 0 ? 0 : 1 + before[static_cast<size_t>(k)].layers.size()));
    } else if (kind < 88) {
      c.remove2();
      expectOneLayerChanged(before, false);
      EXPECT_EQ(state.pendingImageDeletions.size(), deletionsBefore + (list.characters == before ? 0 : 1));
    } else if (kind < 97) {
      drag(before);
    } else {
      save();
    }
    if (kind < 24 || (kind >= 44 && kind < 70)) {
      EXPECT_TRUE(list.characters == before) << "a click, an edit or a drop changed the model";
    }
    checkInvariants();
  }
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(static_cast<int>(N))];
  }

  // Fires every timer: the controller's sync tick and the canvas's redraw.
  void tick(const std::vector<Character>& before) {
    const int64_t characterRow = state.selectedCharacterRow, layerRow = state.selectedLayerRow;
    const int marks = host_.marks;
    timers.fireAll();
    EXPECT_EQ(host_.marks, marks + 1);
    const std::vector<Character>& after = list.characters;
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < after.size(); ++k) {
      ASSERT_EQ(after[k].layers.size(), before[k].layers.size());
      if (static_cast<int64_t>(k) != characterRow) {
        EXPECT_TRUE(after[k] == before[k]) << "the tick changed character " << k << ", which is not selected";
        continue;
      }
      // The selected character takes its row's text and its own well's picture, nothing else.
      const RowDictionary& row = controller->MA1[k];
      EXPECT_EQ(after[k].name, *row.name);
      EXPECT_EQ(after[k].image, row.img);
      EXPECT_EQ(after[k].x, before[k].x);
      EXPECT_EQ(after[k].y, before[k].y);
      for (size_t m = 0; m < after[k].layers.size(); ++m) {
        const Layer& a = after[k].layers[m];
        const Layer& b = before[k].layers[m];
        if (static_cast<int64_t>(m) != layerRow) {
          EXPECT_TRUE(a == b) << "the tick changed layer " << m << ", which is not selected";
        } else if (!(a == b)) {
          ASSERT_LT(m, controller->MA2.size());
          EXPECT_EQ(a.image, controller->MA2[m].img) << "a layer took a picture from another well";
          EXPECT_EQ(a.x, b.x);
          EXPECT_EQ(a.y, b.y);
        }
      }
    }
  }

  std::string randomName() {
    if (below(6) == 0) {
      if (below(4) == 0) return std::string(300, 'n');  // too long for a file name
      const char* refused = pick(kRefusedNames);
      return std::string(refused) == "nul" ? std::string("nul\0x", 5) : refused;
    }
    std::string name;
    for (int i = below(4); i >= 0; --i) name += pick(kNamePieces);
    return name;
  }

  void edit() {
    InitLayer& c = *controller;
    const Table table = below(2) == 0 ? Table::Characters : Table::Layers;
    std::vector<RowDictionary>& mirror = table == Table::Characters ? c.MA1 : c.MA2;
    int64_t row = below(static_cast<int>(mirror.size()) + 2) - 1;
    const bool exists = row >= 0 && row < static_cast<int64_t>(mirror.size());
    const std::vector<RowDictionary> previous = mirror;
    int key = below(9);
    if (key < 4) {
      std::string name = randomName();
      std::optional<std::string> refusal = c.editCell(table, row, Field::Name, name);
      EXPECT_EQ(!refusal, exists && checkName(name) == NameProblem::None) << name;
      if (!refusal) {
        EXPECT_EQ(*mirror[static_cast<size_t>(row)].name, name);
      }
    } else if (key < 7) {
      EXPECT_EQ(!c.editCell(table, row, Field::Value, pick(kValues)), exists);
    } else {
      EXPECT_EQ(!c.editCell(table, row, Field::Visible, pick(kVisible)), exists && table == Table::Layers);
    }
    if (!exists) {
      EXPECT_EQ(mirror, previous);
    }
  }

  // After insert2 or remove2: nothing changed, or one character gained (lost) exactly one layer.
  void expectOneLayerChanged(const std::vector<Character>& before, bool inserted) {
    const std::vector<Character>& after = list.characters;
    ASSERT_EQ(after.size(), before.size());
    Layer fresh = testing::layer(kNewLayerName, kNewLayerValue);
    fresh.visible = 0;
    int changed = 0;
    for (size_t k = 0; k < after.size(); ++k) {
      if (after[k] == before[k]) continue;
      ++changed;
      Character self = after[k];
      self.layers = before[k].layers;
      EXPECT_TRUE(self == before[k]) << "character " << k << " changed beside its layers";
      EXPECT_TRUE(inserted ? oneInserted(before[k].layers, after[k].layers, fresh)
                           : oneRemoved(before[k].layers, after[k].layers) >= 0)
          << (inserted ? "insert2" : "remove2") << " in character " << k;
    }
    EXPECT_LE(changed, 1);
  }

  // A press and a few moves; only the positions of the dragged character and layer change.
  void drag(const std::vector<Character>& before) {
    auto coordinate = [&]() -> double {
      switch (below(6)) {
        case 0: return (below(2) ? 1 : -1) * 1e12;  // beyond the 32-bit range
        case 1: return below(2000) / 7.0 - 100;
        default: return below(800) - 100;
      }
    };
    view_->mouseDown(coordinate(), coordinate());
    for (int i = below(4); i >= 0; --i) view_->mouseDragged(coordinate(), coordinate());
    ASSERT_EQ(list.characters.size(), before.size());
    for (size_t k = 0; k < before.size(); ++k)
      EXPECT_TRUE(unmoved(list.characters[k]) == unmoved(before[k])) << "the drag changed character " << k;
  }

  void save() {
    const std::string textBefore = dir.read("data.txt");
    SaveReport report = controller->saveData();
    ++saves;
    if (report.refused) {
      // Two records whose names and numbers give the same file ("A1" at 1, "A" at 11): nothing written.
      ++refusedSaves;
      EXPECT_FALSE(report.dataFileWritten);
      for (const Problem& p : report.problems) EXPECT_NE(p.reason.find("share"), std::string::npos) << p.reason;
      EXPECT_EQ(dir.read("data.txt"), textBefore);
      return;
    }
    ASSERT_TRUE(report.ok()) << report.problems.front().file << ": " << report.problems.front().reason;
    EXPECT_TRUE(report.dataFileWritten);
    EXPECT_FALSE(controller->hasUnsavedChanges());
    EXPECT_TRUE(state.pendingImageDeletions.empty());
    testing::expectLoadsAs(dir, list);
  }

  void checkInvariants() {
    const InitLayer& c = *controller;
    ASSERT_EQ(static_cast<int64_t>(c.MA1.size()), list.size());
    // MA2 lists the layers of some character, or nothing.
    bool fits = c.MA2.empty();
    for (const Character& ch : list.characters) fits = fits || ch.layers.size() == c.MA2.size();
    EXPECT_TRUE(fits) << "MA2 has " << c.MA2.size() << " rows, and no character has that many layers";
    EXPECT_GE(state.selectedCharacterRow, -1);
    EXPECT_LE(state.selectedCharacterRow, list.size());
    EXPECT_GE(state.selectedLayerRow, -1);
    for (const Character& ch : list.characters)
      for (const Layer& l : ch.layers) EXPECT_TRUE(l.visible == 0 || l.visible == 1);
  }

  std::mt19937_64 rng_;
  uint32_t nextPicture_ = 1000;
  FakeCanvasHost host_;
  std::unique_ptr<InitLayerView> view_;
};

TEST_F(Soak, RandomEditorStepsKeepMirrorsRecordsPicturesAndFilesInStep) {
  const uint64_t seed = fromEnvironment("CHARSTACK_SOAK_SEED", 20240607);
  const uint64_t steps = fromEnvironment("CHARSTACK_SOAK_STEPS", 3000);
  rng_.seed(seed);
  for (uint64_t i = 0; i < steps; ++i) {
    SCOPED_TRACE("CHARSTACK_SOAK_SEED=" + std::to_string(seed) + ", step " + std::to_string(i));
    step();
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "replay with CHARSTACK_SOAK_SEED=" << seed << " CHARSTACK_SOAK_STEPS=" << i + 1;
      return;
    }
  }
  EXPECT_GT(saves, 0);
  std::cout << "[          ] " << steps << " steps, " << saves << " saves (" << refusedSaves
            << " refused for shared image files), seed " << seed << "\n";
}

}  // namespace
}  // namespace charstack
