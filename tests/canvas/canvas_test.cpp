// The canvas: the selected character composed by depth, what lies under a point, and dragging the
// character or its selected layers.

#include <cmath>
#include <functional>
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
  view.pressAt(100, 50);
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
    view.dragTo(pointer.first, pointer.second);
    EXPECT_EQ(at(list.characters[1]), position) << pointer.first << "," << pointer.second;
  }
  EXPECT_EQ(std::pair(at(list.characters[1].layers[0]), at(list.characters[0])), std::pair(P(5, 6), P(1, 1)));
}

// The press takes every record dragTargets names; each step moves them all by the first one's travel.
TEST_F(Canvas, DragRowsFlagsAndSelectedLayersChooseWhatMoves) {
  struct Case {
    int64_t characterRow, layerRow;
    bool moveCharacter, moveLayer;
    std::vector<int64_t> extended;  // the layers table's extended selection
    bool withLayers, constrain;
    std::vector<P> positions;  // character 0, its layers 0, 1 and 2 (hidden)
  };
  const Case cases[] = {
      {-1, 0, true, false, {}, false, false, {{31, 22}, {5, 6}, {7, 8}, {9, 10}}},  // a negative row names the first
      {0, 0, false, true, {}, false, false, {{30, 20}, {6, 8}, {7, 8}, {9, 10}}},
      {0, -1, false, true, {}, false, false, {{30, 20}, {6, 8}, {7, 8}, {9, 10}}},
      {0, 1, false, true, {}, false, false, {{30, 20}, {5, 6}, {8, 10}, {9, 10}}},
      {0, 0, true, true, {}, false, false, {{31, 22}, {5, 6}, {7, 8}, {9, 10}}},  // the character first
      {0, 3, false, true, {}, false, false, {{30, 20}, {5, 6}, {7, 8}, {9, 10}}},  // no such layer
      {2, 0, true, true, {}, false, false, {{30, 20}, {5, 6}, {7, 8}, {9, 10}}},  // no such character
      {0, 0, false, false, {}, false, false, {{30, 20}, {5, 6}, {7, 8}, {9, 10}}},
      {1, 0, false, true, {}, false, false, {{30, 20}, {5, 6}, {7, 8}, {9, 10}}},  // a hidden layer does not move
      // Selected layers move together, hidden ones stay; a selection without the current row counts not.
      {0, 1, false, true, {0, 1, 2}, false, false, {{30, 20}, {6, 8}, {8, 10}, {9, 10}}},
      {0, 1, false, true, {0, 2}, false, false, {{30, 20}, {5, 6}, {8, 10}, {9, 10}}},
      // With its layers the character takes all of them, hidden ones too.
      {0, 1, true, false, {}, true, false, {{31, 22}, {6, 8}, {8, 10}, {10, 12}}},
      {0, 1, false, true, {}, true, false, {{30, 20}, {5, 6}, {8, 10}, {9, 10}}},
      // Constrained: the travel (1, 2) keeps to the vertical axis.
      {0, 0, false, true, {0, 1}, false, true, {{30, 20}, {5, 8}, {7, 10}, {9, 10}}},
  };
  for (const Case& c : cases) {
    list.characters = {character(0, a, 30, 20, {layer(0, b, 5, 6), layer(0, b, 7, 8), layer(0, b, 9, 10, 0)}),
                       character(0, a, 0, 0, {layer(0, b, 9, 9, 0)})};
    state = {};
    state.dragAnchorX = 3, state.dragAnchorY = 4;  // left by an earlier drag
    state.selectedCharacterRow = c.characterRow, state.selectedLayerRow = c.layerRow;
    state.selectedLayerRows = c.extended;
    state.moveCharacter = c.moveCharacter, state.moveLayer = c.moveLayer;
    view.pressAt(100, 50, c.withLayers), view.dragTo(101, 52, c.constrain);
    const Character& k = list.characters[0];
    const std::vector<P> got = {at(k), at(k.layers[0]), at(k.layers[1]), at(k.layers[2])};
    EXPECT_EQ(got, c.positions) << c.characterRow << "," << c.layerRow << "," << c.moveCharacter << c.moveLayer
                                << c.extended.size() << c.withLayers << c.constrain;
    EXPECT_EQ(std::pair(at(list.characters[1]), at(list.characters[1].layers[0])), std::pair(P(0, 0), P(9, 9)));
  }
  // Records moved along stop at the edges of the 32-bit range while the first travels on.
  list.characters = {character(0, a, 0, 0, {layer(0, b, INT32_MAX - 1, INT32_MIN + 1)})};
  state = {}, state.moveCharacter = true;
  view.pressAt(0, 0, true), view.dragTo(5, -5);
  EXPECT_EQ(std::pair(at(list.characters[0]), at(list.characters[0].layers[0])),
            std::pair(P(5, -5), P(INT32_MAX, INT32_MIN)));
  list.characters.clear();  // nothing to drag
  view.pressAt(1, 1), view.dragTo(2, 2);
}

// A click picks the topmost drawn record whose pixel under the pointer is not fully transparent.
TEST_F(Canvas, RecordsUnderAPointAreTheDrawnOnesNotTransparentThereTopmostFirst) {
  auto block = [](int w, int h, std::function<uint32_t(int, int)> argb) {
    std::vector<uint32_t> px;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) px.push_back(argb(x, y));
    return makeImage(w, h, px);
  };
  const ImageRef solid = block(4, 4, [](int, int) { return 0xff808080u; });
  // Opaque on its border, transparent inside; the faint pixel has alpha 1.
  const ImageRef ring = block(4, 4, [](int x, int y) { return x % 3 == 0 || y % 3 == 0 ? 0xff0000ffu : 0x00ffffffu; });
  const ImageRef faint = block(1, 1, [](int, int) { return 0x01000000u; });
  list.characters = {character(10, solid, 0, 0,
                               {layer(20, ring, 0, 0), layer(30, solid, 0, 0, 0), layer(5, solid, 3, 3),
                                layer(1000, solid, 0, 0), layer(25, faint, 2, 2)}),
                     character(10, solid, 0, 0, {layer(20, solid, 0, 0)})};
  using Hits = std::vector<RecordAt>;
  const RecordAt self{0, -1}, ringAt{0, 0}, under{0, 2}, faintAt{0, 4};
  const struct { double x, y; Hits hits; } cases[] = {
      {0.5, 0.5, {ringAt, self}},        // the hidden layer and depth 1000 above are not drawn
      {1.5, 1.9, {self}},                // through the ring's transparent middle
      {2.9, 2.0, {faintAt, self}},       // any alpha above 0 counts
      {3.5, 3.5, {ringAt, self, under}}, // the layer of depth 5 lies under the character's picture
      {4.2, 4.99, {under}},
      {-0.1, 0, {}},                     // left of the picture, not in its first column
      {1, 7, {}}};
  for (const auto& c : cases) EXPECT_EQ(view.recordsAt(c.x, c.y), c.hits) << c.x << "," << c.y;
  state.selectedCharacterRow = 1;
  EXPECT_EQ(view.recordsAt(0.5, 0.5), (Hits{{1, 0}, {1, -1}}));
  state.selectedCharacterRow = -1;
  EXPECT_EQ(view.recordsAt(0.5, 0.5), Hits{});
}

}  // namespace
}  // namespace charstack
