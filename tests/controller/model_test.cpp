// Seeded random sequences of what a user does in the window, against a model of what each action
// must do: clicks, cell edits (some refused), pictures, inserts and removes, drags and nudges, undo
// and redo, saves, and other programs' changes on disk. After every step the tables show the model
// and the model is what the actions made it; after every save the folder loads as the model; undoing
// to any earlier point and redoing back gives the models of those points. CHARSTACK_MODEL_STEPS and
// CHARSTACK_MODEL_SEED vary a run.
#include <algorithm>
#include <cstdlib>
#include <random>

#include "canvas/init_layer_view.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::testImage;

uint64_t fromEnvironment(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

const char* const kNames[] = {"A", "B", "1", "hero", "新キャラ", "a,b", "x####", "", "😀", "a/b"};
const char* const kDepths[] = {"0", "5", "999", "-3", "abc", "", " 7", "+12", "99999999999", "1000", "1e3"};

struct Model : testing::ControllerTest {
  int below(int n) { return std::uniform_int_distribution<int>(0, std::max(n, 1) - 1)(rng); }
  int64_t row(int64_t rows) { return below(int(rows) + 2) - 1; }  // -1 and one past the end too
  InitLayer& c() { return *controller; }
  Character* shown() {
    const int64_t k = c().layerTableCharacter();
    return k >= 0 ? &expected.characters[size_t(k)] : nullptr;
  }

  // One action, and what it must leave in `expected`.
  void step() {
    const int kind = below(100);
    const int64_t characters = list.size(), layers = c().rowCount(Table::Layers);
    if (kind < 12) {
      clickCharacter(row(characters));
    } else if (kind < 20) {
      clickLayer(row(layers));
    } else if (kind < 40) {
      const Table table = below(2) ? Table::Characters : Table::Layers;
      const int64_t r = row(c().rowCount(table));
      const Field field = Field(below(table == Table::Layers ? 3 : 2));
      const std::string text = field == Field::Name    ? kNames[below(int(std::size(kNames)))]
                               : field == Field::Value ? kDepths[below(int(std::size(kDepths)))]
                                                       : std::to_string(below(2));
      const bool done = !c().editCell(table, r, field, text);
      if (!done) return;
      RecordAt at = *c().recordOfRow(table, r);
      Character& ch = expected.characters[size_t(at.characterRow)];
      auto apply = [&](auto& rec) {
        if (field == Field::Name) rec.name = text;
        if (field == Field::Value) rec.value = std::stoll(text);
        if constexpr (std::is_same_v<std::decay_t<decltype(rec)>, Layer>)
          if (field == Field::Visible) rec.visible = uint8_t(text == "1");
      };
      at.layerRow < 0 ? apply(ch) : apply(ch.layers[size_t(at.layerRow)]);
    } else if (kind < 50) {
      const Table table = below(2) ? Table::Characters : Table::Layers;
      ImageRef picture = below(4) ? testImage(1 + below(4), 1 + below(4), next++) : nullptr;
      const int64_t selected = table == Table::Characters ? state.selectedCharacterRow : state.selectedLayerRow;
      EXPECT_EQ(c().setPicture(table, picture), c().recordOfRow(table, selected).has_value());
      if (auto at = c().recordOfRow(table, selected)) {
        Character& ch = expected.characters[size_t(at->characterRow)];
        (at->layerRow < 0 ? ch.image : ch.layers[size_t(at->layerRow)].image) = picture;
      }
    } else if (kind < 60) {
      // Where the selection rows put a new record, or which one goes.
      const bool character = below(2);
      const int64_t selected = character ? state.selectedCharacterRow : state.selectedLayerRow;
      if (below(2)) {
        if (character) {
          const int64_t p = characters == 0 ? 0 : selected < 0 ? characters : std::min(selected, characters);
          c().insert1();
          expected.characters.insert(expected.characters.begin() + p, makeNewCharacter());
        } else if (state.selectedCharacterRow >= 0 && state.selectedCharacterRow < characters) {
          Character& target = expected.characters[size_t(state.selectedCharacterRow)];
          const int64_t n = int64_t(target.layers.size());
          const int64_t p = n == 0 ? 0 : selected < 0 ? n : std::min(selected, n);
          const Layer dropped = testing::layer("drop", 150, testImage(2, 2, next++));
          c().insertLayers({makeNewLayer(), dropped});
          target.layers.insert(target.layers.begin() + p, {makeNewLayer(), dropped});
        }
      } else if (character) {
        const int64_t k = selected < 0 ? characters - 1 : selected;
        c().remove1();
        if (k >= 0 && k < characters) expected.characters.erase(expected.characters.begin() + k);
      } else if (layers > 0) {
        const int64_t target = std::max<int64_t>(state.selectedCharacterRow, 0);
        const int64_t n = target < characters ? int64_t(expected.characters[size_t(target)].layers.size()) : 0;
        const int64_t m = selected < 0 ? n - 1 : selected;
        c().remove2();
        if (m >= 0 && m < n) expected.characters[size_t(target)].layers.erase(expected.characters[size_t(target)].layers.begin() + m);
      }
    } else if (kind < 70) {
      // A drag or a nudge moves the drag target and nothing else.
      const std::optional<RecordAt> at = dragTarget(list, state);
      if (below(2)) {
        c().beginGesture();
        view->mouseDown(below(50), below(50));
        view->mouseDragged(below(90) - 20, below(90) - 20);
        c().endGesture();
      } else {
        c().nudge(below(3) - 1, below(21) - 10);
      }
      if (at) {
        const RecordFields now = c().fieldsOf(*at);
        Character& ch = expected.characters[size_t(at->characterRow)];
        if (at->layerRow < 0) ch.x = now.x, ch.y = now.y;
        else ch.layers[size_t(at->layerRow)].x = now.x, ch.layers[size_t(at->layerRow)].y = now.y;
      }
    } else if (kind < 82) {
      // Undo or redo: the model of that point of the history.
      QUndoStack& h = c().history();
      below(2) ? h.undo() : h.redo();
      ASSERT_LT(size_t(h.index()), models.size());
      expected = models[size_t(h.index())];
      expectModel();
      return;
    } else if (kind < 90) {
      SaveReport report = c().saveData();
      // Pictures the save took from files under new names are steps of their own, refused or not.
      expected = list;
      // Refused while two records share a file name ("A1" at 1, "A" at 11); a file that cannot be read
      // as a picture is never replaced, and the save says so.
      const bool loadsAsModel = !report.ok() || testing::sameModel(loadProject(c().folder()).list, list);
      EXPECT_TRUE(loadsAsModel) << "the folder does not load as the model";
      saves += report.ok();
    } else {
      // Another program writes, deletes or spoils a record's file; the editor looks.
      std::vector<std::string> files;
      forEachRecord(list, [&](const auto& r, int64_t n, auto...) { files.push_back(imageFileName(r.name, n)); });
      if (files.empty()) return;
      const std::string file = "img/" + files[size_t(below(int(files.size())))];
      if (file.find('/', 4) != std::string::npos) return;
      const int what = below(3);
      if (what == 0) dir.write(file, testing::testPng(3, 3, next++));
      if (what == 1) std::filesystem::remove(dir.path() / file);
      if (what == 2) dir.write(file, "not a picture");
      for (const DiskChange& change : c().applyDiskScan(scanDisk(c().folder(), c().diskScanRequest()))) {
        record();
        if (change.kind == DiskChange::Kind::Conflict) c().resolveConflict(change, below(2));
      }
      expected = list;  // a picture that came in, or the editor's kept in a conflict
    }
    record();
    expectModel();
  }

  // The model after the history's present step. A new step drops the steps that could be redone.
  void record() {
    models.resize(size_t(c().history().count()) + 1);
    models[size_t(c().history().index())] = list;
  }

  // The model is what the actions made it, and the tables show it.
  void expectModel() {
    EXPECT_TRUE(testing::sameModel(list, expected)) << buildDataText(list) << "\nexpected\n" << buildDataText(expected);
    ASSERT_EQ(c().rowCount(Table::Characters), list.size());
    for (int64_t r = 0; r < list.size(); ++r)
      EXPECT_EQ(c().row(Table::Characters, r), characterRow(list.characters[size_t(r)]));
    if (const int64_t k = c().layerTableCharacter(); k >= 0) {
      const Character& ch = list.characters.at(size_t(k));
      ASSERT_EQ(c().rowCount(Table::Layers), int64_t(ch.layers.size()));
      for (size_t m = 0; m < ch.layers.size(); ++m) EXPECT_EQ(c().row(Table::Layers, int64_t(m)), layerRow(ch.layers[m]));
    }
  }

  std::mt19937_64 rng;
  uint32_t next = 1000;
  int saves = 0;
  CharacterList expected;
  std::vector<CharacterList> models;  // the model after each point of the history
  testing::FakeTimerService timers;
  testing::FakeCanvasHost host;
  std::unique_ptr<InitLayerView> view;
};

TEST_F(Model, RandomWindowActionsKeepTablesModelFilesAndHistoryInStep) {
  open(testing::kThreeCharacters);
  view = std::make_unique<InitLayerView>(list, state, timers, host);
  expected = list;
  models = {list};
  const uint64_t seed = fromEnvironment("CHARSTACK_MODEL_SEED", 20261207);
  const uint64_t steps = fromEnvironment("CHARSTACK_MODEL_STEPS", 3000);
  rng.seed(seed);
  for (uint64_t i = 0; i < steps && !HasFailure(); ++i) {
    SCOPED_TRACE("CHARSTACK_MODEL_SEED=" + std::to_string(seed) + " CHARSTACK_MODEL_STEPS=" + std::to_string(i + 1));
    step();
    // Now and then: all the way back and forward again.
    if (below(100) == 0 && !HasFailure()) {
      QUndoStack& h = c().history();
      const int here = h.index();
      const int back = below(here + 1);
      h.setIndex(back);
      EXPECT_TRUE(testing::sameModel(list, models[size_t(back)])) << "undone to " << back;
      h.setIndex(here);
      EXPECT_TRUE(testing::sameModel(list, models[size_t(here)])) << "redone to " << here;
      expectModel();
    }
  }
  EXPECT_GT(saves, 0);
}

}  // namespace
}  // namespace charstack
