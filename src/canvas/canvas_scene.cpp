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
  const std::vector<size_t> found = drawIndicesOf({at});
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::vector<size_t> CanvasScene::drawIndicesOf(const std::vector<RecordAt>& records) const {
  std::vector<size_t> out;
  collectComposition();
  for (size_t i = 0; i < scratch_.size(); ++i)
    for (const RecordAt& at : records)
      if (at.characterRow == state_.selectedCharacterRow && scratch_[i].layerRow == at.layerRow) {
        out.push_back(i);
        break;
      }
  return out;
}

std::vector<RecordAt> CanvasScene::recordsAt(double x, double y) const {
  std::vector<RecordAt> out;
  collectComposition();
  for (auto d = scratch_.rbegin(); d != scratch_.rend(); ++d) {
    // The image's pixel under the point: whole units from its top-left corner.
    const double u = std::floor(x - static_cast<double>(d->call.x)), v = std::floor(y - static_cast<double>(d->call.y));
    const Image& image = *d->call.image;
    if (!(u >= 0 && v >= 0 && u < image.pixelWidth() && v < image.pixelHeight())) continue;
    if ((image.pixel(static_cast<int>(u), static_cast<int>(v)) >> 24) != 0)
      out.push_back({state_.selectedCharacterRow, d->layerRow});
  }
  return out;
}

void CanvasScene::draw(Painter& painter) {
  collectComposition();
  for (const PendingDraw& d : scratch_) drawImage(painter, *d.call.image, d.call.x, d.call.y);
}

void CanvasScene::pressAt(double px, double py, bool withLayers) {
  moving_ = dragTargets(list_, state_, withLayers);
  starts_.clear();
  for (const RecordAt& at : moving_) {
    Character& character = list_.characters[static_cast<size_t>(at.characterRow)];
    if (at.layerRow < 0) starts_.emplace_back(character.x, character.y);
    else starts_.emplace_back(character.layers[static_cast<size_t>(at.layerRow)].x,
                              character.layers[static_cast<size_t>(at.layerRow)].y);
  }
  if (!starts_.empty()) state_.dragAnchorX = starts_.front().first, state_.dragAnchorY = starts_.front().second;
  state_.grabOffsetX = px - static_cast<double>(state_.dragAnchorX);
  state_.grabOffsetY = py - static_cast<double>(state_.dragAnchorY);
}

void CanvasScene::dragTo(double px, double py, bool constrain) {
  state_.dragAnchorX = anchorFrom(px, state_.grabOffsetX, state_.dragAnchorX);
  state_.dragAnchorY = anchorFrom(py, state_.grabOffsetY, state_.dragAnchorY);
  if (starts_.empty()) return;
  int64_t dx = int64_t{state_.dragAnchorX} - starts_.front().first;
  int64_t dy = int64_t{state_.dragAnchorY} - starts_.front().second;
  if (constrain) {
    (std::abs(dx) >= std::abs(dy) ? dy : dx) = 0;
    state_.dragAnchorX = static_cast<int32_t>(starts_.front().first + dx);
    state_.dragAnchorY = static_cast<int32_t>(starts_.front().second + dy);
  }
  auto moved = [](int32_t start, int64_t d) {
    return static_cast<int32_t>(std::clamp<int64_t>(start + d, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
  };
  // The rows were checked at the press; a step of the history may have changed the lists since.
  for (size_t i = 0; i < moving_.size(); ++i) {
    const int64_t k = moving_[i].characterRow;
    if (k < 0 || k >= list_.size()) continue;
    Character* character = &list_.characters[static_cast<size_t>(k)];
    const int64_t m = moving_[i].layerRow;
    if (m >= static_cast<int64_t>(character->layers.size())) continue;
    int32_t& x = m < 0 ? character->x : character->layers[static_cast<size_t>(m)].x;
    int32_t& y = m < 0 ? character->y : character->layers[static_cast<size_t>(m)].y;
    x = moved(starts_[i].first, dx);
    y = moved(starts_[i].second, dy);
  }
}

}  // namespace charstack
