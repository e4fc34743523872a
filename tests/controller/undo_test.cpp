// Undo and redo over random editing: every step taken back gives the model it followed, every step
// made again the model it made, and after every save the folder reopens as the model on screen.
#include <gtest/gtest.h>

#include <random>

#include "canvas/init_layer_view.hpp"
#include "controller/init_layer.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using namespace charstack::testing;

// Names, depths, visibility, positions and pictures (by pixels); the file bookkeeping is no part of
// what the user sees.
bool sameModel(const CharacterList& a, const CharacterList& b) {
  auto same = [](const auto& x, const auto& y) {
    const bool images = x.image == y.image || (x.image && y.image && x.image->samePixels(*y.image));
    return x.name == y.name && x.value == y.value && x.x == y.x && x.y == y.y && images;
  };
  if (a.characters.size() != b.characters.size()) return false;
  for (size_t k = 0; k < a.characters.size(); ++k) {
    const Character& c = a.characters[k];
    const Character& d = b.characters[k];
    if (!same(c, d) || c.layers.size() != d.layers.size()) return false;
    for (size_t m = 0; m < c.layers.size(); ++m)
      if (!same(c.layers[m], d.layers[m]) || c.layers[m].visible != d.layers[m].visible) return false;
  }
  return true;
}

TEST(Undo, RandomEditsUndosRedosAndSavesKeepDiskAndScreenTogether) {
  TempFolder dir;
  dir.write("data.txt", "Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nLeg,120,1, -3, 12\n$$$$\nMage,300, 0, 0\n####\n$$$$\n");
  for (auto [file, seed] : {std::pair{"img/Hero1", 1u}, {"img/Arm2", 2u}, {"img/Leg3", 3u}, {"img/Mage4", 4u}})
    dir.write(file, testPng(4, 4, seed));
  CharacterList list;
  EditorState state;
  FakeTimerService timers;
  FakeTableView tv1, tv2;
  InitLayer c(list, state, ProjectFolder(dir.path()), timers);
  c.TV1 = &tv1, c.TV2 = &tv2;
  c.awakeFromNib();
  FakeCanvasHost host;
  InitLayerView view(list, state, timers, host);

  // The history as the window keeps it: steps, the position in them, and the model after each step.
  std::vector<Edit> steps;
  std::vector<CharacterList> models{list};
  size_t at = 0;
  c.setEditListener([&](Edit e) {
    steps.resize(at), models.resize(at + 1);
    if (e.nudge && at > 0 && steps[at - 1].nudge && steps[at - 1].at == e.at) {
      steps[at - 1].after = e.after;  // one step per run of nudges
      models[at] = list;
      return;
    }
    steps.push_back(std::move(e));
    ++at;
    models.push_back(list);
  });

  const uint64_t seed = std::random_device{}();
  std::mt19937_64 random(seed);
  auto below = [&](int64_t n) { return static_cast<int64_t>(random() % static_cast<uint64_t>(std::max<int64_t>(n, 1))); };
  for (int step = 0; step < 1500; ++step) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
    switch (below(12)) {
      case 0: tv2.clicked = -1, tv1.click(below(list.size() + 1)); break;
      case 1: tv2.click(below(static_cast<int64_t>(c.MA2.size()) + 1)); break;
      case 2: c.editCell(Table::Characters, state.selectedCharacterRow, Field::Name, "N" + std::to_string(below(3))); break;
      case 3: c.editCell(Table::Layers, state.selectedLayerRow, below(2) ? Field::Value : Field::Visible, std::to_string(below(3))); break;
      case 4: c.setPicture(below(2) ? Table::Characters : Table::Layers, below(3) ? testImage(3, 2, static_cast<uint32_t>(step)) : nullptr); break;
      case 5: below(2) ? c.insert1() : c.insert2(); break;
      case 6: below(2) ? c.remove1() : c.remove2(); break;
      case 7: c.beginGesture(), view.mouseDown(0, 0), view.mouseDragged(double(below(9)), 3), c.endGesture(); break;
      case 8: c.nudge(1, -10); break;
      case 9:
        if (at > 0) c.undo(steps[--at]);
        break;
      case 10:
        if (at < steps.size()) c.redo(steps[at++]);
        break;
      case 11: {
        c.EventLoop();
        const SaveReport saved = c.saveData();
        if (!saved.picturesTaken.empty()) steps.clear(), models = {list}, at = 0;
        if (!saved.ok()) break;  // two records may share a file name for a while
        // Files left under the names of records without pictures are theirs once the editor looks.
        if (!c.applyDiskScan(scanDisk(c.folder(), c.diskScanRequest())).empty())
          steps.clear(), models = {list}, at = 0;
        CharacterList reopened;
        EditorState fresh;
        FakeTimerService otherTimers;
        InitLayer other(reopened, fresh, ProjectFolder(dir.path()), otherTimers);
        ASSERT_TRUE(sameModel(reopened, list));
        ASSERT_TRUE(other.loadProblems().empty());
        ASSERT_FALSE(c.hasUnsavedChanges());
        continue;
      }
    }
    c.EventLoop();
    c.EventLoop();
    if (at < models.size()) models[at] = list;  // ticks may complete the last step (cell edits)
    // Undoing to any earlier point gives the model that followed the step there.
    if (below(50) == 0 && at > 0) {
      const size_t back = static_cast<size_t>(below(static_cast<int64_t>(at)) + 1);
      for (size_t i = 0; i < back; ++i) c.undo(steps[--at]);
      ASSERT_TRUE(sameModel(list, models[at]));
      while (at < steps.size()) c.redo(steps[at++]);
      ASSERT_TRUE(sameModel(list, models[at]));
    }
    ASSERT_EQ(c.MA1.size(), static_cast<size_t>(list.size()));
  }
}

}  // namespace
}  // namespace charstack
