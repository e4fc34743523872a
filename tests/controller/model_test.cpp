// Seeded random sequences of what a user does in the window, against a model of what each action
// must do: clicks (several layers selected too), cell edits (some refused), pictures, inserts and
// removes, moves up and down, rows dragged, duplicates, cut, copy and paste, pictures dropped as new
// records, show or hide, picks, drags (of several records too) and nudges on the canvas, undo and
// redo, saves, other programs' changes on disk, and the editor killed and its unsaved work restored.
// After every step the tables show the model and the model is what the actions made it; after every
// save the folder loads as the model; undoing to any earlier point and redoing back gives the models
// of those points, also after a restore. CHARSTACK_MODEL_STEPS and CHARSTACK_MODEL_SEED vary a run.
#include <algorithm>
#include <cstdlib>
#include <random>

#include "canvas/canvas_scene.hpp"
#include "controller/recovery.hpp"
#include "project/transfer.hpp"
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
const char* const kPositions[] = {"0", "-5", "2147483647", "-2147483648", "2147483648", "x", " 12 "};

struct Model : testing::ControllerTest {
  int below(int n) { return std::uniform_int_distribution<int>(0, std::max(n, 1) - 1)(rng); }
  int64_t row(int64_t rows) { return below(int(rows) + 2) - 1; }  // -1 and one past the end too
  Editor& c() { return *controller; }
  Character* shown() {
    const int64_t k = c().document().layerTableCharacter();
    return k >= 0 ? &expected.characters[size_t(k)] : nullptr;
  }

  // One action, and what it must leave in `expected`.
  void step() {
    const int kind = below(100);
    const int64_t characters = list.size(), layers = c().document().rowCount(Table::Layers);
    if (kind < 10) {
      clickCharacter(row(characters));
    } else if (kind < 18) {
      clickLayer(row(layers), below(2) ? std::optional(someRows(layers)) : std::nullopt);
    } else if (kind < 34) {
      const Table table = below(2) ? Table::Characters : Table::Layers;
      const int64_t r = row(c().document().rowCount(table));
      const Field field = Field(below(5));
      const std::string text = field == Field::Name      ? kNames[below(int(std::size(kNames)))]
                               : field == Field::Depth   ? kDepths[below(int(std::size(kDepths)))]
                               : field == Field::Visible ? std::to_string(below(2))
                                                         : kPositions[below(int(std::size(kPositions)))];
      const bool done = !c().editCell(table, r, field, text);
      if (!done) return;
      RecordAt at = *c().document().recordOfRow(table, r);
      Character& ch = expected.characters[size_t(at.characterRow)];
      auto apply = [&](auto& rec) {
        if (field == Field::Name) rec.name = text;
        if (field == Field::Depth) rec.value = std::stoll(text);
        if (field == Field::X || field == Field::Y)
          (field == Field::X ? rec.x : rec.y) = int32_t(std::stoll(text));
        if constexpr (std::is_same_v<std::decay_t<decltype(rec)>, Layer>)
          if (field == Field::Visible) rec.visible = uint8_t(text == "1");
      };
      at.layerRow < 0 ? apply(ch) : apply(ch.layers[size_t(at.layerRow)]);
    } else if (kind < 42) {
      const Table table = below(2) ? Table::Characters : Table::Layers;
      ImageRef picture = below(4) ? testImage(1 + below(4), 1 + below(4), next++) : nullptr;
      const int64_t selected = table == Table::Characters ? state.selectedCharacterRow : state.selectedLayerRow;
      EXPECT_EQ(c().setPicture(table, picture), c().document().recordOfRow(table, selected).has_value());
      if (auto at = c().document().recordOfRow(table, selected)) {
        Character& ch = expected.characters[size_t(at->characterRow)];
        (at->layerRow < 0 ? ch.image : ch.layers[size_t(at->layerRow)].image) = picture;
      }
    } else if (kind < 52) {
      // Where the selection rows put a new record, or which ones go.
      const bool character = below(2);
      const int64_t selected = character ? state.selectedCharacterRow : state.selectedLayerRow;
      if (below(2)) {
        if (character) {
          const int64_t p = characters == 0 ? 0 : selected < 0 ? characters : std::min(selected, characters);
          c().insertCharacter();
          expected.characters.insert(expected.characters.begin() + p, newCharacter());
        } else if (state.selectedCharacterRow >= 0 && state.selectedCharacterRow < characters) {
          Character& target = expected.characters[size_t(state.selectedCharacterRow)];
          const int64_t n = int64_t(target.layers.size());
          const int64_t p = n == 0 ? 0 : selected < 0 ? n : std::min(selected, n);
          const Layer dropped = testing::layer("drop", 150, testImage(2, 2, next++));
          c().insertLayers({newLayer(), dropped});
          target.layers.insert(target.layers.begin() + p, {newLayer(), dropped});
        }
      } else if (character) {
        const int64_t k = selected < 0 ? characters - 1 : selected;
        c().removeCharacter();
        if (k >= 0 && k < characters) expected.characters.erase(expected.characters.begin() + k);
      } else if (Character* target = selectedCharacter()) {
        // The selected layers go, or the last one when none is selected.
        const int64_t n = int64_t(target->layers.size());
        std::vector<int64_t> gone = c().selection().selectedLayers();
        if (gone.empty() && (selected < 0 ? n - 1 : selected) < n && n > 0)
          gone = {selected < 0 ? n - 1 : selected};
        c().removeLayers();
        for (auto m = gone.rbegin(); m != gone.rend(); ++m) target->layers.erase(target->layers.begin() + *m);
      }
    } else if (kind < 62) {
      recordAction();
    } else if (kind < 70) {
      // Now and then a click on the canvas picks a record under it first. Then a drag (with Ctrl: the
      // character with its layers; with Shift: along one axis) or a nudge moves every record
      // dragTargets names by one offset, each stopping at the edges of the 32-bit range.
      if (below(3) == 0)
        if (const auto under = view->recordsAt(below(16) - 4 + 0.5, below(16) - 4 + 0.5); !under.empty())
          c().selection().selectRecord(under[size_t(below(int(under.size())))]);
      const bool drag = below(2), withLayers = drag && below(3) == 0;
      const std::vector<RecordAt> moved = dragTargets(list, state, withLayers);
      std::vector<std::pair<int64_t, int64_t>> before;
      for (const RecordAt& at : moved) before.emplace_back(c().document().fieldsOf(at).x, c().document().fieldsOf(at).y);
      int64_t dx = below(3) - 1, dy = below(21) - 10;
      if (drag) {
        c().moves().beginGesture(withLayers);
        view->pressAt(below(50), below(50), withLayers);
        view->dragTo(below(90) - 20, below(90) - 20, below(4) == 0);
        c().moves().endGesture();
        if (!moved.empty()) {
          const RecordFields first = c().document().fieldsOf(moved.front());
          dx = first.x - before.front().first, dy = first.y - before.front().second;
        }
      } else {
        c().moves().nudge(int32_t(dx), int32_t(dy));
      }
      auto clamp = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
      for (size_t i = 0; i < moved.size(); ++i) {
        Character& ch = expected.characters[size_t(moved[i].characterRow)];
        const int32_t x = clamp(before[i].first + dx), y = clamp(before[i].second + dy);
        if (moved[i].layerRow < 0) ch.x = x, ch.y = y;
        else ch.layers[size_t(moved[i].layerRow)].x = x, ch.layers[size_t(moved[i].layerRow)].y = y;
      }
    } else if (kind < 82) {
      // Undo or redo: the model of that point of the history.
      QUndoStack& h = c().document().history();
      below(2) ? h.undo() : h.redo();
      ASSERT_LT(size_t(h.index()), models.size());
      expected = models[size_t(h.index())];
      expectModel();
      return;
    } else if (kind < 90) {
      SaveReport report = c().store().save();
      // Pictures the save took from files under new names are steps of their own, refused or not.
      expected = list;
      // Refused while two records share a file name ("A1" at 1, "A" at 11); a file that cannot be read
      // as a picture is never replaced, and the save says so.
      const bool loadsAsModel = !report.ok() || testing::sameModel(loadProject(c().store().folder()).list, list);
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
      for (const DiskChange& change : c().disk().apply(scanDisk(c().store().folder(), c().disk().scanRequest()))) {
        record();
        if (change.kind == DiskChange::Kind::Conflict) c().disk().resolveConflict(change, below(2));
      }
      expected = list;  // a picture that came in, or the editor's kept in a conflict
    }
    record();
    expectModel();
  }

  Character* selectedCharacter() {
    const int64_t k = state.selectedCharacterRow;
    return k >= 0 && k < int64_t(expected.characters.size()) ? &expected.characters[size_t(k)] : nullptr;
  }
  // Some rows of a table of n rows, in order.
  std::vector<int64_t> someRows(int64_t n) {
    std::vector<int64_t> rows;
    for (int64_t r = 0; r < n; ++r)
      if (below(3) == 0) rows.push_back(r);
    return rows;
  }

  // Moves, duplicates, cut, copy, paste, pictures as records, show or hide: of the selected character
  // or of the selected layers.
  void recordAction() {
    const Table table = below(2) ? Table::Characters : Table::Layers;
    const bool characters = table == Table::Characters;
    Character* owner = selectedCharacter();
    const int64_t k = state.selectedCharacterRow;
    const std::vector<int64_t> rows =
        characters ? (owner ? std::vector<int64_t>{k} : std::vector<int64_t>{}) : c().selection().selectedLayers();
    if (below(8) == 0) {
      // Pictures dropped: new visible records after the selection; layers need a character.
      const bool asLayers = !characters && owner;
      const int count = 1 + below(2);
      const ImageRef picture = testImage(2, 2, next++);
      c().insertPictures(table, std::vector<Editor::NamedPicture>(size_t(count), {"pic", picture}));
      Character made = makeNewCharacter("pic");
      Layer layer = makeNewLayer("pic");
      made.image = layer.image = picture;
      layer.visible = 1;
      for (int i = 0; i < count; ++i) {
        if (asLayers)
          owner->layers.insert(
              owner->layers.begin() + (rows.empty() ? int64_t(owner->layers.size()) : rows.back() + 1),
              layer);
        else
          expected.characters.insert(
              expected.characters.begin() + (owner ? k + 1 : int64_t(expected.characters.size())), made);
      }
      return;
    }
    auto act = [&](auto& records) {
      const int64_t n = int64_t(records.size());
      std::decay_t<decltype(records)> copies;
      for (int64_t r : rows) copies.push_back(records[size_t(r)]);
      switch (below(6)) {
        case 0: {
          const int direction = below(2) ? 1 : -1;
          c().moveSelected(table, direction);
          if (rows.empty() || (direction < 0 ? rows.front() == 0 : rows.back() == n - 1)) return;
          if (direction < 0)
            for (int64_t r : rows) std::swap(records[size_t(r - 1)], records[size_t(r)]);
          else
            for (auto r = rows.rbegin(); r != rows.rend(); ++r)
              std::swap(records[size_t(*r)], records[size_t(*r + 1)]);
          return;
        }
        case 1: {
          const std::vector<int64_t> dragged = characters ? std::vector<int64_t>{below(int(n))} : someRows(n);
          const int64_t destination = below(int(n) + 1);
          c().moveRows(table, dragged, destination);
          if (dragged.empty() || n == 0) return;
          std::decay_t<decltype(records)> taken, rest;
          int64_t before = 0;
          for (int64_t r = 0; r < n; ++r) {
            const bool moved = std::find(dragged.begin(), dragged.end(), r) != dragged.end();
            (moved ? taken : rest).push_back(records[size_t(r)]);
            before += moved && r < destination;
          }
          rest.insert(rest.begin() + (destination - before), taken.begin(), taken.end());
          records = rest;
          return;
        }
        case 2:
          c().duplicate(table);
          if (!rows.empty()) records.insert(records.begin() + rows.back() + 1, copies.begin(), copies.end());
          return;
        case 3:
        case 4: {
          const bool cutting = below(2);
          const RecordSet got = cutting ? c().cut(table) : c().copyRecords(table);
          EXPECT_EQ(got.empty(), rows.empty());
          if (rows.empty()) return;
          clipboard = {};
          if constexpr (std::is_same_v<std::decay_t<decltype(copies)>, std::vector<Layer>>)
            clipboard.layers = copies;
          else
            clipboard.characters = copies;
          EXPECT_EQ(serializeRecords(got), serializeRecords(clipboard));
          if (cutting)
            for (auto r = rows.rbegin(); r != rows.rend(); ++r) records.erase(records.begin() + *r);
          return;
        }
        default:
          if constexpr (std::is_same_v<std::decay_t<decltype(copies)>, std::vector<Layer>>) {
            c().showHideSelected();
            bool hidden = false;
            for (const Layer& l : copies) hidden = hidden || !l.visible;
            for (int64_t r : rows) records[size_t(r)].visible = hidden;
          }
          return;
      }
    };
    if (characters)
      act(expected.characters);
    else if (owner)
      act(owner->layers);
    record();
    if (below(3) == 0) paste();
  }

  // The clipboard (or its bytes) after the selected character, or into it after its selected layers.
  void paste() {
    if (clipboard.empty()) return;
    Character* owner = selectedCharacter();
    const std::vector<int64_t> layers = c().selection().selectedLayers();
    const int64_t k = state.selectedCharacterRow;
    const bool bytes = below(2);
    const bool pasted = c().paste(bytes ? parseRecords(*serializeRecords(clipboard)).value() : clipboard);
    EXPECT_EQ(pasted, !clipboard.characters.empty() || owner != nullptr);
    if (!clipboard.characters.empty())
      expected.characters.insert(
          expected.characters.begin() + (owner ? k + 1 : int64_t(expected.characters.size())),
          clipboard.characters.begin(), clipboard.characters.end());
    else if (owner)
      owner->layers.insert(
          owner->layers.begin() + (layers.empty() ? int64_t(owner->layers.size()) : layers.back() + 1),
          clipboard.layers.begin(), clipboard.layers.end());
  }

  // The editor killed after its unsaved work was kept, a new one on the folder, and the work restored:
  // records, selection, pending deletions and the history as they were.
  void killAndRestore() {
    QUndoStack* h = &c().document().history();
    const int here = below(h->index() + 1);  // with steps to redo, now and then
    h->setIndex(here);
    expected = models[size_t(here)];
    RecoveryPictures names;
    ASSERT_TRUE(writeRecovery(captureRecovery(c()), recovery.path(), names).ok());
    const CharacterList before = list;
    const SelectedRows selection = c().selection().current();
    const std::vector<std::string> pending = state.pendingImageDeletions;
    const bool unsaved = c().store().hasUnsavedChanges();
    auto steps = [&] {
      QStringList texts{QString::number(c().document().history().index())};
      for (int i = 0; i < c().document().history().count(); ++i) texts << c().document().history().text(i);
      return texts;
    };
    const QStringList history = steps();
    controller.reset(), list = {}, state = {};
    controller = std::make_unique<Editor>(list, state, ProjectFolder(dir.path()), &notices);
    controller->selection().attachTables(&tv1, &tv2);
    const std::optional<RecoveredWork> work = findRecovery(c(), recovery.path());
    ASSERT_TRUE(work && work->mismatch.isEmpty()) << (work ? work->mismatch.toStdString() : "none found");
    ASSERT_TRUE(restoreRecovery(c(), *work));
    EXPECT_TRUE(testing::sameModel(list, before));
    EXPECT_EQ(c().selection().current(), selection);
    EXPECT_EQ(state.pendingImageDeletions, pending);
    EXPECT_EQ(steps(), history);
    EXPECT_EQ(c().store().hasUnsavedChanges(), unsaved);
    // The restored history goes back to its start and on to its end as the one before did.
    h = &c().document().history();
    for (const int i : {0, h->count(), here}) {
      h->setIndex(i);
      EXPECT_TRUE(testing::sameModel(list, models[size_t(i)])) << "restored history at " << i;
    }
    ++restores;
  }

  // The model after the history's present step. A new step drops the steps that could be redone.
  void record() {
    models.resize(size_t(c().document().history().count()) + 1);
    models[size_t(c().document().history().index())] = list;
  }

  // The model is what the actions made it, and the tables show it.
  void expectModel() {
    EXPECT_TRUE(testing::sameModel(list, expected)) << buildDataText(list) << "\nexpected\n" << buildDataText(expected);
    ASSERT_EQ(c().document().rowCount(Table::Characters), list.size());
    // The layers table shows the selected character's layers.
    const int64_t selected = state.selectedCharacterRow;
    EXPECT_EQ(c().document().layerTableCharacter(), selected >= 0 && selected < list.size() ? selected : -1);
    for (int64_t r = 0; r < list.size(); ++r)
      EXPECT_EQ(c().document().row(Table::Characters, r), characterRow(list.characters[size_t(r)]));
    if (const int64_t k = c().document().layerTableCharacter(); k >= 0) {
      const Character& ch = list.characters.at(size_t(k));
      ASSERT_EQ(c().document().rowCount(Table::Layers), int64_t(ch.layers.size()));
      for (size_t m = 0; m < ch.layers.size(); ++m) EXPECT_EQ(c().document().row(Table::Layers, int64_t(m)), layerRow(ch.layers[m]));
    }
  }

  testing::TempFolder recovery;
  int restores = 0;
  std::mt19937_64 rng;
  uint32_t next = 1000;
  RecordSet clipboard;
  int saves = 0;
  CharacterList expected;
  std::vector<CharacterList> models;  // the model after each point of the history
  std::unique_ptr<CanvasScene> view;
};

TEST_F(Model, RandomWindowActionsKeepTablesModelFilesAndHistoryInStep) {
  open(testing::kThreeCharacters);
  view = std::make_unique<CanvasScene>(list, state);
  expected = list;
  models = {list};
  const uint64_t seed = fromEnvironment("CHARSTACK_MODEL_SEED", 20261207);
  const uint64_t steps = fromEnvironment("CHARSTACK_MODEL_STEPS", 3000);
  rng.seed(seed);
  for (uint64_t i = 0; i < steps && !HasFailure(); ++i) {
    SCOPED_TRACE("CHARSTACK_MODEL_SEED=" + std::to_string(seed) + " CHARSTACK_MODEL_STEPS=" + std::to_string(i + 1));
    step();
    if (below(150) == 0 && !HasFailure()) killAndRestore();
    // Now and then: all the way back and forward again.
    if (below(100) == 0 && !HasFailure()) {
      QUndoStack& h = c().document().history();
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
  EXPECT_GT(restores, 0);
}

}  // namespace
}  // namespace charstack
