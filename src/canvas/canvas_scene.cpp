#include "canvas/canvas_scene.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace charstack {

namespace {

// Drawing only shows a character whose row really names one; a negative row shows nothing.
const Character* drawnCharacter(const CharacterList& list, int64_t row) {
  if (row < 0 || row >= list.size()) return nullptr;
  return &list.characters[static_cast<size_t>(row)];
}

// Dragging walks row steps from the first entry, so a negative row walks none and names the first.
template <typename T>
T* entryForDrag(std::vector<T>& entries, int64_t row) {
  if (entries.empty()) return nullptr;
  if (row < 0) return &entries.front();
  if (row >= static_cast<int64_t>(entries.size())) return nullptr;
  return &entries[static_cast<size_t>(row)];
}

bool drawableDepth(int64_t value) { return value >= 0 && value < DepthCount; }

DrawCall callAt(const Image& image, int32_t x, int32_t y) {
  return DrawCall{&image, static_cast<float>(x), static_cast<float>(y)};
}

// The pointer position minus the grab offset as a whole view unit, truncated toward zero. Beyond the
// int32 range it saturates; a NaN (no meaningful position) keeps the previous anchor.
int32_t anchorFrom(double pointer, double grabOffset, int32_t previous) {
  const double v = pointer - grabOffset;
  if (std::isnan(v)) return previous;
  const double t = std::trunc(v);
  if (t >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (t <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(t);
}

}  // namespace

void CanvasScene::drawImage(Painter& painter, const Image& image, float x, float y) {
  painter.drawImage(image, static_cast<double>(x), static_cast<double>(y), image.width(), image.height());
}

void CanvasScene::collectComposition() const {
  scratch_.clear();
  if (const Character* character = drawnCharacter(list_, state_.selectedCharacterRow))
    collectDraws(*character, scratch_);
}

void CanvasScene::collectDraws(const Character& character, std::vector<PendingDraw>& out) {
  size_t sequence = 0;
  if (character.image && drawableDepth(character.value))
    out.push_back({static_cast<int32_t>(character.value), sequence++, -1,
                   callAt(*character.image, character.x, character.y)});
  for (size_t row = 0; row < character.layers.size(); ++row) {
    const Layer& layer = character.layers[row];
    if (layer.visible != 0 && layer.image && drawableDepth(layer.value))
      out.push_back({static_cast<int32_t>(layer.value), sequence++, static_cast<int64_t>(row),
                     callAt(*layer.image, layer.x, layer.y)});
  }

  // Shallower depths first; within one depth the visiting order. The keys are unique, so the in-place
  // sort gives the same order as a stable one without its temporary buffer. Most characters are
  // already in order, which the check catches without sorting.
  auto before = [](const PendingDraw& a, const PendingDraw& b) {
    return a.depth != b.depth ? a.depth < b.depth : a.sequence < b.sequence;
  };
  if (!std::is_sorted(out.begin(), out.end(), before)) std::sort(out.begin(), out.end(), before);
}

std::vector<DrawCall> CanvasScene::compositionOf(const Character& character) {
  std::vector<PendingDraw> draws;
  collectDraws(character, draws);
  std::vector<DrawCall> out;
  out.reserve(draws.size());
  for (const PendingDraw& d : draws) out.push_back(d.call);
  return out;
}

void CanvasScene::composition(std::vector<DrawCall>& out) const {
  collectComposition();
  out.clear();
  for (const PendingDraw& d : scratch_) out.push_back(d.call);
}

std::vector<DrawCall> CanvasScene::composition() const {
  std::vector<DrawCall> out;
  composition(out);
  return out;
}

std::optional<size_t> CanvasScene::drawIndexOf(const RecordAt& at) const {
  if (at.characterRow != state_.selectedCharacterRow) return std::nullopt;
  collectComposition();
  for (size_t i = 0; i < scratch_.size(); ++i)
    if (scratch_[i].layerRow == at.layerRow) return i;
  return std::nullopt;
}

void CanvasScene::draw(Painter& painter) {
  collectComposition();
  for (const PendingDraw& d : scratch_) drawImage(painter, *d.call.image, d.call.x, d.call.y);
}

void CanvasScene::mouseDown(double px, double py) {
  Character* character = entryForDrag(list_.characters, state_.selectedCharacterRow);
  Layer* layer = character ? entryForDrag(character->layers, state_.selectedLayerRow) : nullptr;

  if (state_.moveCharacter && character) {
    state_.dragAnchorX = character->x;
    state_.dragAnchorY = character->y;
  }
  if (state_.moveLayer && layer && layer->visible != 0) {
    state_.dragAnchorX = layer->x;
    state_.dragAnchorY = layer->y;
  }
  state_.grabOffsetX = px - static_cast<double>(state_.dragAnchorX);
  state_.grabOffsetY = py - static_cast<double>(state_.dragAnchorY);
}

void CanvasScene::mouseDragged(double px, double py) {
  state_.dragAnchorX = anchorFrom(px, state_.grabOffsetX, state_.dragAnchorX);
  state_.dragAnchorY = anchorFrom(py, state_.grabOffsetY, state_.dragAnchorY);

  Character* character = entryForDrag(list_.characters, state_.selectedCharacterRow);
  Layer* layer = character ? entryForDrag(character->layers, state_.selectedLayerRow) : nullptr;

  if (state_.moveCharacter && character) {
    character->x = state_.dragAnchorX;
    character->y = state_.dragAnchorY;
  }
  if (state_.moveLayer && layer && layer->visible != 0) {
    layer->x = state_.dragAnchorX;
    layer->y = state_.dragAnchorY;
  }
}

}  // namespace charstack
