#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "canvas/init_layer_view.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

struct CanvasDrag : ::testing::Test {
  CharacterList list;
  EditorState state;
  testing::FakeTimerService timers;
  testing::FakeCanvasHost host;
  InitLayerView view{list, state, timers, host};

  static Character character(int32_t x, int32_t y, std::vector<Layer> layers = {}) {
    Character ch;
    ch.x = x, ch.y = y, ch.layers = std::move(layers);
    return ch;
  }
  static Layer layer(int32_t x, int32_t y, uint8_t visible = 1) {
    Layer l;
    l.x = x, l.y = y, l.visible = visible;
    return l;
  }
  void drag(double px, double py) { view.mouseDragged(px, py); }
  std::pair<int32_t, int32_t> at(const Character& ch) const { return {ch.x, ch.y}; }
  std::pair<int32_t, int32_t> at(const Layer& l) const { return {l.x, l.y}; }
};

using P = std::pair<int32_t, int32_t>;

TEST_F(CanvasDrag, CharacterFollowsThePointerFromTheGrabOffset) {
  list.characters = {character(1, 1), character(30, 20, {layer(5, 6)})};
  state.selectedCharacterRow = 1;
  state.moveCharacter = true;
  view.mouseDown(100, 50);
  EXPECT_EQ(state.grabOffsetX, 70);
  EXPECT_EQ(state.grabOffsetY, 30);
  EXPECT_EQ(host.marks, 0);
  drag(110, 45);
  EXPECT_EQ(at(list.characters[1]), P(40, 15));
  drag(95.5, 60.25);
  EXPECT_EQ(at(list.characters[1]), P(25, 30));
  drag(60.5, 20);  // -9.5 truncates toward zero
  EXPECT_EQ(at(list.characters[1]), P(-9, -10));
  EXPECT_EQ(host.marks, 3);
  EXPECT_EQ(at(list.characters[1].layers[0]), P(5, 6));
  EXPECT_EQ(at(list.characters[0]), P(1, 1));
}

TEST_F(CanvasDrag, PressAloneChangesNoRecord) {
  list.characters = {character(30, 20, {layer(5, 6)})};
  state.moveCharacter = state.moveLayer = true;
  const CharacterList before = list;
  view.mouseDown(100, 50);
  EXPECT_EQ(list, before);
  EXPECT_EQ(host.marks, 0);
}

TEST_F(CanvasDrag, LayerRowsZeroAndNegativeNameTheFirstLayer) {
  for (int64_t row : {0, -1, 1}) {
    list.characters = {character(30, 20, {layer(5, 6), layer(7, 8)})};
    state = {};
    state.moveLayer = true;
    state.selectedLayerRow = row;
    view.mouseDown(10, 10);
    drag(12, 13);
    const size_t moved = row == 1 ? 1 : 0;
    EXPECT_EQ(at(list.characters[0].layers[moved]), row == 1 ? P(9, 11) : P(7, 9)) << row;
    EXPECT_EQ(at(list.characters[0].layers[1 - moved]), row == 1 ? P(5, 6) : P(7, 8)) << row;
    EXPECT_EQ(at(list.characters[0]), P(30, 20));
  }
}

TEST_F(CanvasDrag, BothFlagsTakeTheAnchorFromTheLayerAndMoveBoth) {
  list.characters = {character(30, 20, {layer(5, 6)})};
  state.moveCharacter = state.moveLayer = true;
  view.mouseDown(100, 50);
  drag(110, 45);
  EXPECT_EQ(at(list.characters[0]), P(15, 1));
  EXPECT_EQ(at(list.characters[0].layers[0]), P(15, 1));
}

TEST_F(CanvasDrag, NothingMovesWithoutAMovableRecordButTheCanvasIsMarked) {
  struct Case {
    const char* what;
    std::vector<Character> characters;
    int64_t characterRow, layerRow;
    bool moveCharacter, moveLayer;
  };
  const Case cases[] = {
      {"hidden layer", {character(30, 20, {layer(5, 6, 0)})}, 0, 0, false, true},
      {"no layers", {character(30, 20)}, 0, 0, false, true},
      {"layer row past the end", {character(30, 20, {layer(5, 6)})}, 0, 1, false, true},
      {"character row past the end", {character(30, 20, {layer(5, 6)})}, 1, 0, true, true},
      {"empty list", {}, 0, 0, true, true},
      {"neither flag", {character(30, 20, {layer(5, 6)})}, 0, 0, false, false},
  };
  for (const Case& c : cases) {
    list.characters = c.characters;
    state = {};
    state.dragAnchorX = 3, state.dragAnchorY = 4;  // left by an earlier drag
    state.selectedCharacterRow = c.characterRow, state.selectedLayerRow = c.layerRow;
    state.moveCharacter = c.moveCharacter, state.moveLayer = c.moveLayer;
    host.marks = 0;
    view.mouseDown(100, 50);
    EXPECT_EQ(state.grabOffsetX, 97) << c.what;
    EXPECT_EQ(state.grabOffsetY, 46) << c.what;
    drag(110, 45);
    EXPECT_EQ(list.characters, c.characters) << c.what;
    EXPECT_EQ(P(state.dragAnchorX, state.dragAnchorY), P(13, -1)) << c.what;
    EXPECT_EQ(host.marks, 1) << c.what;
  }
}

TEST_F(CanvasDrag, NegativeCharacterRowDragsTheFirstCharacterThoughNoneIsDrawn) {
  list.characters = {character(30, 20), character(0, 0)};
  state.selectedCharacterRow = -1;
  state.moveCharacter = true;
  view.mouseDown(100, 50);
  drag(101, 52);
  EXPECT_EQ(at(list.characters[0]), P(31, 22));
  EXPECT_EQ(at(list.characters[1]), P(0, 0));
  EXPECT_TRUE(view.composition().empty());
}

TEST_F(CanvasDrag, AnchorSaturatesAtTheInt32LimitsAndIgnoresNaN) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max(), kMin = std::numeric_limits<int32_t>::min();
  list.characters = {character(2147483000, -2147483000)};
  state.moveCharacter = true;
  view.mouseDown(0, 0);
  drag(647, -648);
  EXPECT_EQ(at(list.characters[0]), P(kMax, kMin));
  drag(646.9, -647.9);
  EXPECT_EQ(at(list.characters[0]), P(kMax - 1, kMin + 1));
  drag(1e4, -1e4);
  EXPECT_EQ(at(list.characters[0]), P(kMax, kMin));
  drag(-1e300, std::numeric_limits<double>::infinity());
  EXPECT_EQ(at(list.characters[0]), P(kMin, kMax));
  drag(0, 0);
  drag(std::nan(""), 1);
  EXPECT_EQ(at(list.characters[0]), P(2147483000, -2147482999));
  EXPECT_EQ(host.marks, 6);
}

}  // namespace
}  // namespace charstack
