#include <gtest/gtest.h>

#include <random>

#include "canvas/init_layer_view.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::testImage;

// The draw calls of the plain 1000-depth loop (one walk over the records per depth): the oracle for
// the sorted composition pass.
std::vector<DrawCall> referenceComposition(const CharacterList& list, int64_t row) {
  std::vector<DrawCall> calls;
  if (row < 0 || row >= list.size()) return calls;
  const Character& character = list.characters[static_cast<size_t>(row)];
  auto call = [](const ImageRef& image, int32_t x, int32_t y) {
    return DrawCall{image.get(), static_cast<float>(x), static_cast<float>(y)};
  };
  for (int64_t depth = 0; depth < DepthCount; ++depth) {
    if (character.value == depth && character.image) calls.push_back(call(character.image, character.x, character.y));
    for (const Layer& layer : character.layers)
      if (layer.visible != 0 && layer.value == depth && layer.image) calls.push_back(call(layer.image, layer.x, layer.y));
  }
  return calls;
}

struct CanvasDraw : ::testing::Test {
  CharacterList list;
  EditorState state;
  testing::FakeTimerService timers;
  testing::FakeCanvasHost host;
  testing::FakePainter painter;
  InitLayerView view{list, state, timers, host};
  ImageRef a = testImage(3, 2, 1), b = testImage(5, 4, 2), c = testImage(2, 7, 3), d = testImage(1, 1, 4);

  static Layer layer(int64_t value, ImageRef image, int32_t x, uint8_t visible = 1) {
    Layer l;
    l.value = value, l.image = std::move(image), l.x = x, l.y = -x, l.visible = visible;
    return l;
  }
  static Character character(int64_t value, ImageRef image, int32_t x, std::vector<Layer> layers = {}) {
    Character ch;
    ch.value = value, ch.image = std::move(image), ch.x = x, ch.y = -x, ch.layers = std::move(layers);
    return ch;
  }
  // The images drawn, in order, after checking the painter's calls and the composition against the depth
  // loop.
  std::vector<const Image*> drawn() {
    painter.calls.clear();
    view.drawRect(painter);
    std::vector<DrawCall> calls(3, DrawCall{d.get(), 9, 9});  // replaced, not appended to
    view.composition(calls);
    EXPECT_EQ(calls, referenceComposition(list, state.selectedCharacterRow));
    std::vector<DrawCall> painted;
    std::vector<const Image*> images;
    for (const auto& p : painter.calls) {
      painted.push_back({p.image, static_cast<float>(p.x), static_cast<float>(p.y)});
      images.push_back(p.image);
    }
    EXPECT_EQ(painted, calls);
    return images;
  }
};

using Images = std::vector<const Image*>;

TEST_F(CanvasDraw, OnlyTheSelectedCharactersShownRecordsWithImagesAndDepthsInRange) {
  EXPECT_TRUE(drawn().empty());
  list.characters = {character(1000, a, 0,
                               {layer(-1, b, 1), layer(1000, b, 2), layer(4, b, 3, 0), layer(4, nullptr, 4),
                                layer(5, c, 5), layer(0, d, 6)}),
                     character(-1, a, 0, {layer(7, b, 7)}), character(2, nullptr, 0, {layer(3, c, 8)}),
                     character(5, b, 0, {layer(1, c, 0)})};
  const std::pair<int64_t, Images> cases[] = {{0, {d.get(), c.get()}}, {1, {b.get()}}, {2, {c.get()}},
                                              {3, {c.get(), b.get()}}, {-1, {}},       {4, {}}};
  for (const auto& [row, images] : cases) {
    state.selectedCharacterRow = row;
    EXPECT_EQ(drawn(), images) << row;
  }
}

TEST_F(CanvasDraw, OrdersByDepthThenLayerListOrderAtNaturalSizeAndSinglePrecisionPositions) {
  ImageRef e = testImage(2, 2, 5);
  list.characters = {character(
      3, a, 16777217, {layer(3, b, 1), layer(2, c, -25), layer(3, d, 3), layer(0, e, 4), layer(999, a, 5)})};
  EXPECT_EQ(drawn(), (Images{e.get(), c.get(), a.get(), b.get(), d.get(), a.get()}));
  ASSERT_EQ(painter.calls.size(), 6u);
  EXPECT_EQ(painter.calls[2].x, 16777216.0);  // the nearest float
  EXPECT_EQ(painter.calls[2].y, -16777216.0);
  EXPECT_EQ(painter.calls[1].x, -25.0);
  EXPECT_EQ(painter.calls[1].y, 25.0);
  for (const testing::FakePainter::Call& call : painter.calls) {
    EXPECT_EQ(call.width, call.image->width());
    EXPECT_EQ(call.height, call.image->height());
  }
}

TEST_F(CanvasDraw, MatchesTheDepthLoopOnRandomCharacters) {
  std::vector<ImageRef> pool;
  for (uint32_t i = 0; i < 6; ++i) pool.push_back(testImage(2, 2, i));
  for (uint32_t seed : {1u, 7u, 42u, 2024u}) {
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Few distinct values, so equal depths are common; a few fall outside 0..999.
    auto value = [&]() -> int64_t {
      return pick(0, 9) == 0 ? pick(-3, 1003) : pick(0, 5) * 199 + pick(0, 1);
    };
    auto image = [&]() { return pick(0, 4) == 0 ? nullptr : pool[static_cast<size_t>(pick(0, 5))]; };
    list.characters.clear();
    for (int i = 0; i < 300; ++i) {
      Character ch = character(value(), image(), pick(-5000, 5000));
      // Some long layer lists too: a short sort is often stable by accident.
      for (int n = pick(0, 9) == 0 ? pick(20, 60) : pick(0, 8); n > 0; --n)
        ch.layers.push_back(layer(value(), image(), pick(-5000, 5000), static_cast<uint8_t>(pick(0, 1))));
      list.characters.push_back(ch);
    }
    for (int64_t row = -1; row <= list.size(); ++row) {
      state.selectedCharacterRow = row;
      ASSERT_EQ(view.composition(), referenceComposition(list, row)) << seed << " row " << row;
    }
  }
}

TEST_F(CanvasDraw, TimerUsesTheSinglePrecisionIntervalAndMarksTheHost) {
  ASSERT_EQ(timers.entries.size(), 1u);
  EXPECT_EQ(timers.entries[0]->interval, 0.009999999776482582);
  timers.fireAll();
  timers.fireAll();
  EXPECT_EQ(host.marks, 2);
  { InitLayerView second{list, state, timers, host}; }
  EXPECT_FALSE(timers.entries[1]->alive);
}

}  // namespace
}  // namespace charstack
