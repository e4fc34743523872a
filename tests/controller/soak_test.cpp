// Thousands of random editor steps on a real project folder: clicks, ticks, cell edits, image drops,
// inserts, removes, drags and saves. After every step the mirrors fit the model, no record or picture
// is lost, duplicated or moved to another record, and after every save the folder loads back as the
// model. CHARSTACK_SOAK_STEPS sets the number of steps, CHARSTACK_SOAK_SEED the seed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "canvas/init_layer_view.hpp"
#include "controller/init_layer.hpp"
#include "model/names.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::FakeArrayController;
using testing::FakeCanvasHost;
using testing::FakeTableView;
using testing::FakeTimerService;
using testing::TempFolder;
using testing::testImage;
using testing::testPng;

uint64_t fromEnvironment(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// A record as the checks see it; pictures compare by identity.
struct Shape {
  std::string name;
  int64_t value;
  uint8_t visible;
  int32_t x, y;
  ImageRef image;
  bool operator==(const Shape&) const = default;
  bool samePositionless(const Shape& o) const {
    return name == o.name && value == o.value && visible == o.visible && image == o.image;
  }
};

struct CharacterShape {
  Shape self;
  std::vector<Shape> layers;
  bool operator==(const CharacterShape&) const = default;
};

using ModelShape = std::vector<CharacterShape>;

ModelShape shapeOf(const CharacterList& list) {
  ModelShape shape;
  for (const Character& c : list.characters) {
    CharacterShape s{{c.name, c.value, 0, c.x, c.y, c.image}, {}};
    for (const Layer& l : c.layers) s.layers.push_back({l.name, l.value, l.visible, l.x, l.y, l.image});
    shape.push_back(std::move(s));
  }
  return shape;
}

// True when `after` is `before` with exactly one element inserted, and that element passes isNew.
template <typename T, typename IsNew>
bool oneInserted(const std::vector<T>& before, const std::vector<T>& after, IsNew isNew) {
  if (after.size() != before.size() + 1) return false;
  size_t p = 0;
  while (p < before.size() && before[p] == after[p]) ++p;
  if (!isNew(after[p])) return false;
  for (size_t i = p; i < before.size(); ++i)
    if (!(before[i] == after[i + 1])) return false;
  return true;
}

// The removed index when `after` is `before` without exactly one element, otherwise -1.
template <typename T>
int64_t oneRemoved(const std::vector<T>& before, const std::vector<T>& after) {
  if (after.size() + 1 != before.size()) return -1;
  size_t p = 0;
  while (p < after.size() && before[p] == after[p]) ++p;
  for (size_t i = p; i < after.size(); ++i)
    if (!(before[i + 1] == after[i])) return -1;
  return static_cast<int64_t>(p);
}

bool isNewCharacter(const CharacterShape& c) {
  return c.self == Shape{kNewCharacterName, kNewCharacterValue, 0, 0, 0, nullptr} && c.layers.empty();
}

bool isNewLayer(const Shape& l) { return l == Shape{kNewLayerName, kNewLayerValue, 0, 0, 0, nullptr}; }

const char* const kNamePieces[] = {"A", "B", "1", "2", " ", "#", "$", "新", "キャラ", "😀", "x"};
const char* const kRefusedNames[] = {"a,b", "two\nlines", "####", "x$$$$", "a/b", "nul\0x"};
const char* const kValues[] = {"0", "5", "999", "150", "-3", "abc", "", " 7x", "+12", "99999999999",
                               "-99999999999", "2147483647", "1000"};
const char* const kVisible[] = {"0", "1", "2", "-1", "x", ""};

class Soak {
 public:
  explicit Soak(uint64_t seed) : rng_(seed) {
    dir_.write("data.txt",
               "Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nLeg,120,1, -3, 12\n$$$$\n"
               "Mage,300, 0, 0\n####\nHat,310,0, 1, 1\n$$$$\nWolf,50, 7, 7\n####\n$$$$\n");
    const char* files[] = {"Hero1", "Arm2", "Leg3", "Mage4", "Hat5", "Wolf6"};
    for (uint32_t i = 0; i < 6; ++i) dir_.write(std::string("img/") + files[i], testPng(4, 3, i + 1));
    controller_ = std::make_unique<InitLayer>(list_, state_, ProjectFolder(dir_.path()), timers_);
    controller_->TV1 = &tv1_;
    controller_->TV2 = &tv2_;
    controller_->AC1 = &ac1_;
    controller_->AC2 = &ac2_;
    controller_->awakeFromNib();
    view_ = std::make_unique<InitLayerView>(list_, state_, timers_, host_);
  }

  int saves = 0, refusedSaves = 0;

  void step(uint64_t index) {
    InitLayer& c = *controller_;
    const ModelShape before = shapeOf(list_);
    const size_t deletionsBefore = state_.pendingImageDeletions.size();
    const std::vector<RowDictionary> mirror1 = c.MA1, mirror2 = c.MA2;
    int kind = below(100);
    if (kind < 14) {  // a click on a character row, or below the last one
      tv2_.clicked = -1;
      // A table reports -1 for a click that is not on a row.
      int64_t row = below(static_cast<int>(c.MA1.size()) + 1) - 1;
      tv1_.click(row);
      EXPECT_EQ(shapeOf(list_), before);
      if (!list_.empty()) {
        EXPECT_EQ(state_.selectedCharacterRow, row);
        if (row >= 0) {
          // The layers table now lists exactly that character's layers.
          const Character& ch = list_.characters[static_cast<size_t>(row)];
          ASSERT_EQ(c.MA2.size(), ch.layers.size());
          for (size_t m = 0; m < ch.layers.size(); ++m) EXPECT_EQ(c.MA2[m], layerRow(ch.layers[m]));
        } else {
          EXPECT_TRUE(c.MA2.empty());
        }
      }
    } else if (kind < 24) {  // a click on a layer row, or below the last one
      tv2_.click(below(static_cast<int>(c.MA2.size()) + 1) - 1);
      EXPECT_EQ(shapeOf(list_), before);
    } else if (kind < 44) {
      tick(before);
    } else if (kind < 60) {
      edit();
      EXPECT_EQ(shapeOf(list_), before);
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
      EXPECT_EQ(shapeOf(list_), before);
    } else if (kind < 75) {
      c.insert1();
      EXPECT_TRUE(oneInserted(before, shapeOf(list_), isNewCharacter)) << "insert1";
    } else if (kind < 80) {
      c.insert2();
      expectLayerInsertedOrNothing(before);
    } else if (kind < 84) {
      c.remove1();
      ModelShape after = shapeOf(list_);
      if (after != before) {
        int64_t k = oneRemoved(before, after);
        ASSERT_GE(k, 0) << "remove1 changed more than one character";
        // The removed character's files and its layers' files are queued for deletion.
        EXPECT_EQ(state_.pendingImageDeletions.size(),
                  deletionsBefore + 1 + before[static_cast<size_t>(k)].layers.size());
      } else {
        EXPECT_EQ(state_.pendingImageDeletions.size(), deletionsBefore);
      }
    } else if (kind < 88) {
      c.remove2();
      expectLayerRemovedOrNothing(before, deletionsBefore);
    } else if (kind < 97) {
      drag(before);
    } else {
      save();
    }
    checkInvariants();
    (void)index;
  }

 private:
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(static_cast<int>(N))];
  }

  // Fires every timer: the controller's sync tick and the canvas's redraw.
  void tick(const ModelShape& before) {
    const int64_t characterRow = state_.selectedCharacterRow;
    const int64_t layerRow = state_.selectedLayerRow;
    const int marks = host_.marks;
    timers_.fireAll();
    EXPECT_EQ(host_.marks, marks + 1);
    ModelShape after = shapeOf(list_);
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < after.size(); ++k) {
      const bool selected = static_cast<int64_t>(k) == characterRow;
      ASSERT_EQ(after[k].layers.size(), before[k].layers.size());
      if (!selected) {
        EXPECT_EQ(after[k], before[k]) << "the tick changed character " << k << ", which is not selected";
        continue;
      }
      // The selected character takes its row's text and its own well's picture, nothing else.
      const RowDictionary& row = controller_->MA1[k];
      EXPECT_EQ(after[k].self.name, *row.name);
      EXPECT_EQ(after[k].self.image, row.img);
      EXPECT_EQ(after[k].self.x, before[k].self.x);
      EXPECT_EQ(after[k].self.y, before[k].self.y);
      for (size_t m = 0; m < after[k].layers.size(); ++m) {
        const Shape& a = after[k].layers[m];
        const Shape& b = before[k].layers[m];
        if (static_cast<int64_t>(m) != layerRow) {
          EXPECT_EQ(a, b) << "the tick changed layer " << m << ", which is not selected";
        } else if (!(a == b)) {
          ASSERT_LT(m, controller_->MA2.size());
          EXPECT_EQ(a.image, controller_->MA2[m].img) << "a layer took a picture from another well";
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
    InitLayer& c = *controller_;
    int table = 1 + below(2);
    std::vector<RowDictionary>& mirror = table == 1 ? c.MA1 : c.MA2;
    int64_t row = below(static_cast<int>(mirror.size()) + 2) - 1;
    const bool exists = row >= 0 && row < static_cast<int64_t>(mirror.size());
    const std::vector<RowDictionary> previous = mirror;
    int key = below(10);
    if (key < 4) {
      std::string name = randomName();
      std::optional<std::string> refusal = c.editCell(table, row, "name", name);
      EXPECT_EQ(!refusal, exists && checkName(name) == NameProblem::None) << name;
      if (!refusal) {
        EXPECT_EQ(*mirror[static_cast<size_t>(row)].name, name);
      }
    } else if (key < 7) {
      std::optional<std::string> refusal = c.editCell(table, row, "value", pick(kValues));
      EXPECT_EQ(!refusal, exists);
    } else if (key < 9) {
      std::optional<std::string> refusal = c.editCell(table, row, "visible", pick(kVisible));
      EXPECT_EQ(!refusal, exists && table == 2);
    } else {
      EXPECT_TRUE(c.editCell(table, row, "img", "x").has_value());
    }
    if (!exists) {
      EXPECT_EQ(mirror, previous);
    }
  }

  void expectLayerInsertedOrNothing(const ModelShape& before) {
    ModelShape after = shapeOf(list_);
    if (after == before) return;
    ASSERT_EQ(after.size(), before.size());
    int changed = 0;
    for (size_t k = 0; k < after.size(); ++k) {
      if (after[k] == before[k]) continue;
      ++changed;
      EXPECT_EQ(after[k].self, before[k].self);
      EXPECT_TRUE(oneInserted(before[k].layers, after[k].layers, isNewLayer)) << "insert2 into character " << k;
    }
    EXPECT_EQ(changed, 1);
  }

  void expectLayerRemovedOrNothing(const ModelShape& before, size_t deletionsBefore) {
    ModelShape after = shapeOf(list_);
    if (after == before) {
      EXPECT_EQ(state_.pendingImageDeletions.size(), deletionsBefore);
      return;
    }
    ASSERT_EQ(after.size(), before.size());
    int changed = 0;
    for (size_t k = 0; k < after.size(); ++k) {
      if (after[k] == before[k]) continue;
      ++changed;
      EXPECT_EQ(after[k].self, before[k].self);
      EXPECT_GE(oneRemoved(before[k].layers, after[k].layers), 0) << "remove2 in character " << k;
    }
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(state_.pendingImageDeletions.size(), deletionsBefore + 1);
  }

  // A press and a few moves; only the positions of the dragged character and layer change.
  void drag(const ModelShape& before) {
    auto coordinate = [&]() -> double {
      switch (below(6)) {
        case 0: return (below(2) ? 1 : -1) * 1e12;  // beyond the 32-bit range
        case 1: return below(2000) / 7.0 - 100;
        default: return below(800) - 100;
      }
    };
    view_->mouseDown(coordinate(), coordinate());
    for (int i = below(4); i >= 0; --i) view_->mouseDragged(coordinate(), coordinate());
    ModelShape after = shapeOf(list_);
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < after.size(); ++k) {
      EXPECT_TRUE(after[k].self.samePositionless(before[k].self));
      ASSERT_EQ(after[k].layers.size(), before[k].layers.size());
      for (size_t m = 0; m < after[k].layers.size(); ++m)
        EXPECT_TRUE(after[k].layers[m].samePositionless(before[k].layers[m]));
    }
  }

  void save() {
    const std::string textBefore = dir_.read("data.txt");
    SaveReport report = controller_->saveData();
    ++saves;
    if (report.refused) {
      // Two records whose names and numbers give the same file ("A1" at 1, "A" at 11): nothing written.
      ++refusedSaves;
      EXPECT_FALSE(report.dataFileWritten);
      for (const Problem& p : report.problems) EXPECT_NE(p.reason.find("share"), std::string::npos) << p.reason;
      EXPECT_EQ(dir_.read("data.txt"), textBefore);
      return;
    }
    ASSERT_TRUE(report.ok()) << report.problems.front().file << ": " << report.problems.front().reason;
    EXPECT_TRUE(report.dataFileWritten);
    EXPECT_FALSE(controller_->hasUnsavedChanges());
    EXPECT_TRUE(state_.pendingImageDeletions.empty());

    LoadResult loaded = loadProject(ProjectFolder(dir_.path()));
    EXPECT_TRUE(loaded.problems.empty());
    ASSERT_EQ(loaded.list.size(), list_.size());
    auto same = [](const std::string& what, ImageRef expected, ImageRef actual) {
      if (!expected) {
        EXPECT_FALSE(actual) << what << " gained a picture on disk";
      } else if (!actual) {
        ADD_FAILURE() << what << " lost its picture on disk";
      } else {
        EXPECT_TRUE(actual->samePixels(*expected)) << what << " has another picture on disk";
      }
    };
    for (size_t k = 0; k < list_.characters.size(); ++k) {
      const Character& e = list_.characters[k];
      const Character& a = loaded.list.characters[k];
      EXPECT_EQ(a.name, e.name);
      EXPECT_EQ(a.value, e.value);
      EXPECT_EQ(a.x, e.x);
      EXPECT_EQ(a.y, e.y);
      same("character " + std::to_string(k), e.image, a.image);
      ASSERT_EQ(a.layers.size(), e.layers.size());
      for (size_t m = 0; m < e.layers.size(); ++m) {
        EXPECT_EQ(a.layers[m].name, e.layers[m].name);
        EXPECT_EQ(a.layers[m].value, e.layers[m].value);
        EXPECT_EQ(a.layers[m].visible, e.layers[m].visible);
        EXPECT_EQ(a.layers[m].x, e.layers[m].x);
        EXPECT_EQ(a.layers[m].y, e.layers[m].y);
        same("layer " + std::to_string(m) + " of character " + std::to_string(k), e.layers[m].image,
             a.layers[m].image);
      }
    }
  }

  void checkInvariants() {
    const InitLayer& c = *controller_;
    ASSERT_EQ(static_cast<int64_t>(c.MA1.size()), list_.size());
    // MA2 lists the layers of some character, or nothing.
    bool fits = c.MA2.empty();
    for (const Character& ch : list_.characters) fits = fits || ch.layers.size() == c.MA2.size();
    EXPECT_TRUE(fits) << "MA2 has " << c.MA2.size() << " rows, and no character has that many layers";
    EXPECT_GE(state_.selectedCharacterRow, -1);
    EXPECT_LE(state_.selectedCharacterRow, list_.size());
    EXPECT_GE(state_.selectedLayerRow, -1);
    for (const Character& ch : list_.characters) {
      for (const Layer& l : ch.layers) EXPECT_TRUE(l.visible == 0 || l.visible == 1);
    }
  }

  std::mt19937_64 rng_;
  uint32_t nextPicture_ = 1000;
  TempFolder dir_;
  CharacterList list_;
  EditorState state_;
  FakeTimerService timers_;
  FakeTableView tv1_, tv2_;
  FakeArrayController ac1_, ac2_;
  FakeCanvasHost host_;
  std::unique_ptr<InitLayer> controller_;
  std::unique_ptr<InitLayerView> view_;
};

TEST(Soak, RandomEditorStepsKeepMirrorsRecordsPicturesAndFilesInStep) {
  const uint64_t seed = fromEnvironment("CHARSTACK_SOAK_SEED", 20240607);
  const uint64_t steps = fromEnvironment("CHARSTACK_SOAK_STEPS", 3000);
  Soak soak(seed);
  for (uint64_t i = 0; i < steps; ++i) {
    SCOPED_TRACE("CHARSTACK_SOAK_SEED=" + std::to_string(seed) + ", step " + std::to_string(i));
    soak.step(i);
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "replay with CHARSTACK_SOAK_SEED=" << seed << " CHARSTACK_SOAK_STEPS=" << i + 1;
      return;
    }
  }
  EXPECT_GT(soak.saves, 0);
  std::cout << "[          ] " << steps << " steps, " << soak.saves << " saves (" << soak.refusedSaves
            << " refused for shared image files), seed " << seed << "\n";
}

}  // namespace
}  // namespace charstack
