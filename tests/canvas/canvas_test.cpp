// The canvas: the selected character composed by depth, and dragging it or its selected layer.

#include <cmath>
#include <limits>

#include "canvas/canvas_scene.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::testImage;
using P = std::pair<int32_t, int32_t>;
using Images = std::vector<const Image*>;

Layer layer(int64_t value, ImageRef image, int32_t x, int32_t y, uint8_t visible = 1) {
  return Layer{"", std::nullopt, value, visible, std::move(image), x, y};
}
Character character(int64_t value, ImageRef image, int32_t x, int32_t y, std::vector<Layer> layers = {}) {
  return Character{"", std::nullopt, value, std::move(image), std::move(layers), x, y};
}
P at(const auto& record) { return {record.x, record.y}; }

// The plain loop over the 1000 depths, one walk over the records per depth: the oracle for the pass.
std::vector<DrawCall> depthLoop(const CharacterList& list, int64_t row) {
  std::vector<DrawCall> calls;
  if (row < 0 || row >= list.size()) return calls;
  const Character& c = list.characters[size_t(row)];
  for (int64_t depth = 0; depth < DepthCount; ++depth) {
    if (c.value == depth && c.image) calls.push_back({c.image.get(), float(c.x), float(c.y)});
    for (const Layer& l : c.layers)
      if (l.visible && l.value == depth && l.image) calls.push_back({l.image.get(), float(l.x), float(l.y)});
  }
  return calls;
}

struct Canvas : ::testing::Test {
  // The images drawn, in order, after checking the painter's calls against the depth loop.
  Images drawn() {
    testing::FakePainter painter;
    view.draw(painter);
    std::vector<DrawCall> painted;
    Images images;
    for (const auto& p : painter.calls) {
      EXPECT_EQ(std::pair(p.width, p.height), std::pair(p.image->width(), p.image->height()));  // natural size
      painted.push_back({p.image, float(p.x), float(p.y)}), images.push_back(p.image);
    }
    EXPECT_EQ(painted, depthLoop(list, state.selectedCharacterRow));
    return images;
  }
  CharacterList list;
  EditorState state;
  CanvasScene view{list, state};
  ImageRef a = testImage(3, 2, 1), b = testImage(5, 4, 2), c = testImage(2, 7, 3), d = testImage(1, 1, 4);
};

TEST_F(Canvas, DrawsTheSelectedCharacterByDepthThenListOrder) {
  EXPECT_TRUE(drawn().empty());
  // Depths outside 0..999, hidden layers and records without a picture are not drawn.
  list.characters = {
      character(1000, a, 0, 0,
                {layer(-1, b, 1, 1), layer(1000, b, 2, 2), layer(4, b, 3, 3, 0), layer(4, nullptr, 4, 4),
                 layer(5, c, 5, 5), layer(0, d, 6, 6)}),
      character(-1, a, 0, 0, {layer(7, b, 7, 7)}), character(2, nullptr, 0, 0, {layer(3, c, 8, 8)}),
      character(3, a, 16777217, -25,
                {layer(3, b, 1, 1), layer(2, c, -25, 0), layer(3, d, 3, 3), layer(0, b, 4, 4), layer(999, a, 5, 5)})};
  const std::pair<int64_t, Images> cases[] = {{0, {d.get(), c.get()}}, {1, {b.get()}}, {2, {c.get()}}, {-1, {}},
                                              {4, {}}, {3, {b.get(), c.get(), a.get(), b.get(), d.get(), a.get()}}};
  for (const auto& [row, images] : cases) {
    state.selectedCharacterRow = row;
    EXPECT_EQ(drawn(), images) << row;
  }
  EXPECT_EQ(view.composition().at(2).x, 16777216.0f);  // positions in single precision

  // A long list at one depth keeps its order, as a short sort often does by accident.
  list.characters = {character(5, a, 0, 0)};
  for (int i = 0; i < 40; ++i) list.characters[0].layers.push_back(layer(i % 3 ? 5 : 4, i % 2 ? b : c, i, 0));
  state.selectedCharacterRow = 0;
  EXPECT_EQ(drawn().size(), 41u);
}

TEST_F(Canvas, DragMovesTheCharacterFromTheGrabOffset) {
  list.characters = {character(0, a, 1, 1), character(0, a, 30, 20, {layer(0, b, 5, 6)})};
  state.selectedCharacterRow = 1;
  state.moveCharacter = true;
  view.mouseDown(100, 50);
  EXPECT_EQ(at(list.characters[1]), P(30, 20));  // a press alone moves nothing
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<std::pair<double, double>, P> steps[] = {
      {{110, 45}, {40, 15}},
      {{95.5, 60.25}, {25, 30}},
      {{60.5, 20}, {-9, -10}},  // -9.5 truncates toward zero
      // Beyond the 32-bit range the position saturates; a NaN keeps the last one.
      {{2147483716.9, 30 - 2147483648.0}, {INT32_MAX - 1, INT32_MIN}},
      {{-inf, 1e300}, {INT32_MIN, INT32_MAX}},
      {{1e12, std::nan("")}, {INT32_MAX, INT32_MAX}}};
  for (const auto& [pointer, position] : steps) {
    view.mouseDragged(pointer.first, pointer.second);
    EXPECT_EQ(at(list.characters[1]), position) << pointer.first << "," << pointer.second;
  }
  EXPECT_EQ(std::pair(at(list.characters[1].layers[0]), at(list.characters[0])), std::pair(P(5, 6), P(1, 1)));
}

TEST_F(Canvas, DragRowsAndFlagsChooseWhatMoves) {
  struct Case {
    int64_t characterRow, layerRow;
    bool moveCharacter, moveLayer;
    std::vector<P> positions;  // character 0, its layers 0 and 1
  };
  const Case cases[] = {
      {-1, 0, true, false, {{31, 22}, {5, 6}, {7, 8}}},  // a negative row names the first
      {0, 0, false, true, {{30, 20}, {6, 8}, {7, 8}}},
      {0, -1, false, true, {{30, 20}, {6, 8}, {7, 8}}},
      {0, 1, false, true, {{30, 20}, {5, 6}, {8, 10}}},
      {0, 0, true, true, {{6, 8}, {6, 8}, {7, 8}}},  // both take the layer's place
      {0, 2, false, true, {{30, 20}, {5, 6}, {7, 8}}},  // no such layer
      {2, 0, true, true, {{30, 20}, {5, 6}, {7, 8}}},  // no such character
      {0, 0, false, false, {{30, 20}, {5, 6}, {7, 8}}},
      {1, 0, false, true, {{30, 20}, {5, 6}, {7, 8}}},  // a hidden layer does not move
  };
  for (const Case& c : cases) {
    list.characters = {character(0, a, 30, 20, {layer(0, b, 5, 6), layer(0, b, 7, 8)}),
                       character(0, a, 0, 0, {layer(0, b, 9, 9, 0)})};
    state = {};
    state.dragAnchorX = 3, state.dragAnchorY = 4;  // left by an earlier drag
    state.selectedCharacterRow = c.characterRow, state.selectedLayerRow = c.layerRow;
    state.moveCharacter = c.moveCharacter, state.moveLayer = c.moveLayer;
    view.mouseDown(100, 50), view.mouseDragged(101, 52);
    const std::vector<P> got = {at(list.characters[0]), at(list.characters[0].layers[0]), at(list.characters[0].layers[1])};
    EXPECT_EQ(got, c.positions) << c.characterRow << "," << c.layerRow << "," << c.moveCharacter << c.moveLayer;
    EXPECT_EQ(std::pair(at(list.characters[1]), at(list.characters[1].layers[0])), std::pair(P(0, 0), P(9, 9)));
  }
  list.characters.clear();  // nothing to drag
  view.mouseDown(1, 1), view.mouseDragged(2, 2);
}

}  // namespace
}  // namespace charstack
