#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "canvas/init_layer_view.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using P = std::pair<int32_t, int32_t>;
using Steps = std::vector<std::pair<std::pair<double, double>, P>>;
P at(const auto& record) { return {record.x, record.y}; }

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
  // Drags through the pointer positions, checking where the character is after each.
  void dragThrough(const Character& moved, const Steps& steps) {
    for (const auto& [pointer, position] : steps) {
      drag(pointer.first, pointer.second);
      EXPECT_EQ(at(moved), position) << pointer.first << "," << pointer.second;
    }
  }
};

TEST_F(CanvasDrag, CharacterFollowsThePointerFromTheGrabOffset) {
  list.characters = {character(1, 1), character(30, 20, {layer(5, 6)})};
  state.selectedCharacterRow = 1;
  state.moveCharacter = true;
  const CharacterList before = list;
  view.mouseDown(100, 50);
  EXPECT_EQ(P(state.grabOffsetX, state.grabOffsetY), P(70, 30));
  EXPECT_EQ(list, before);  // a press alone moves nothing
  EXPECT_EQ(host.marks, 0);
  dragThrough(list.characters[1], {{{110, 45}, {40, 15}},
                                   {{95.5, 60.25}, {25, 30}},
                                   {{60.5, 20}, {-9, -10}}});  // -9.5 truncates toward zero
  EXPECT_EQ(host.marks, 3);
  EXPECT_EQ(at(list.characters[1].layers[0]), P(5, 6));
  EXPECT_EQ(at(list.characters[0]), P(1, 1));
}

// Both flags take the anchor from the layer and move the character to the layer's place.
TEST_F(CanvasDrag, RowsZeroAndNegativeNameTheFirstRecordAndBothFlagsMoveBoth) {
  struct Case {
    int64_t characterRow, layerRow;
    bool moveCharacter, moveLayer;
    P character, layer0, layer1;
  };
  const Case cases[] = {{-1, 0, true, false, {31, 22}, {5, 6}, {7, 8}},
                        {0, 0, false, true, {30, 20}, {6, 8}, {7, 8}},
                        {0, -1, false, true, {30, 20}, {6, 8}, {7, 8}},
                        {0, 1, false, true, {30, 20}, {5, 6}, {8, 10}},
                        {0, 0, true, true, {6, 8}, {6, 8}, {7, 8}}};
  for (const Case& c : cases) {
    list.characters = {character(30, 20, {layer(5, 6), layer(7, 8)}), character(0, 0)};
    state = {};
    state.selectedCharacterRow = c.characterRow, state.selectedLayerRow = c.layerRow;
    state.moveCharacter = c.moveCharacter, state.moveLayer = c.moveLayer;
    view.mouseDown(100, 50);
    drag(101, 52);
    const std::vector<P> want = {c.character, c.layer0, c.layer1, P(0, 0)};
    const std::vector<P> got = {at(list.characters[0]), at(list.characters[0].layers[0]),
                                at(list.characters[0].layers[1]), at(list.characters[1])};
    EXPECT_EQ(got, want) << c.characterRow << "," << c.layerRow << "," << c.moveCharacter << c.moveLayer;
  }
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
    EXPECT_EQ(P(state.grabOffsetX, state.grabOffsetY), P(97, 46)) << c.what;
    drag(110, 45);
    EXPECT_EQ(list.characters, c.characters) << c.what;
    EXPECT_EQ(P(state.dragAnchorX, state.dragAnchorY), P(13, -1)) << c.what;
    EXPECT_EQ(host.marks, 1) << c.what;
  }
}

TEST_F(CanvasDrag, AnchorSaturatesAtTheInt32LimitsAndIgnoresNaN) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max(), kMin = std::numeric_limits<int32_t>::min();
  list.characters = {character(2147483000, -2147483000)};
  state.moveCharacter = true;
  view.mouseDown(0, 0);
  const double inf = std::numeric_limits<double>::infinity();
  dragThrough(list.characters[0], {{{647, -648}, {kMax, kMin}}, {{646.9, -647.9}, {kMax - 1, kMin + 1}},
                                   {{1e4, -1e4}, {kMax, kMin}}, {{-1e300, inf}, {kMin, kMax}},
                                   {{0, 0}, {2147483000, -2147483000}},
                                   {{std::nan(""), 1}, {2147483000, -2147482999}}});
  EXPECT_EQ(host.marks, 6);
}

}  // namespace
}  // namespace charstack
