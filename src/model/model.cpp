#include "model/model.hpp"

#include <algorithm>

namespace charstack {

Character* CharacterList::characterAtRow(int64_t row) {
  if (row < 0) row = 0;
  if (row >= size()) return nullptr;
  return &characters[static_cast<size_t>(row)];
}

const Character* CharacterList::characterAtRow(int64_t row) const {
  return const_cast<CharacterList*>(this)->characterAtRow(row);
}

int64_t CharacterList::characterRecordNumber(int64_t row) const {
  int64_t number = 1;
  for (int64_t k = 0; k < row && k < size(); ++k)
    number += 1 + static_cast<int64_t>(characters[static_cast<size_t>(k)].layers.size());
  return number;
}

Layer* layerAtRow(Character& character, int64_t row) {
  if (row < 0) row = 0;
  if (row >= static_cast<int64_t>(character.layers.size())) return nullptr;
  return &character.layers[static_cast<size_t>(row)];
}

const Layer* layerAtRow(const Character& character, int64_t row) {
  return layerAtRow(const_cast<Character&>(character), row);
}

std::string imageFileName(const std::string& name, int64_t recordNumber) {
  // Record numbers are 32-bit in the file names ("%d").
  return name + std::to_string(static_cast<int32_t>(recordNumber));
}

Character makeNewCharacter(std::string name) {
  Character c;
  c.name = std::move(name);
  c.value = kNewCharacterDepth;
  return c;
}

Layer makeNewLayer(std::string name) {
  Layer l;
  l.name = std::move(name);
  l.value = kNewLayerDepth;
  l.visible = 0;
  return l;
}

void forgetFiles(RecordSet& records) {
  for (Character& c : records.characters) {
    c.savedName.reset();
    for (Layer& l : c.layers) l.savedName.reset();
  }
  for (Layer& l : records.layers) l.savedName.reset();
}

std::optional<RecordAt> dragTarget(const CharacterList& list, const EditorState& state) {
  const int64_t row = std::max<int64_t>(state.selectedCharacterRow, 0);
  const Character* character = list.characterAtRow(row);
  if (!character) return std::nullopt;
  if (state.moveCharacter) return RecordAt{row, -1};
  if (!state.moveLayer) return std::nullopt;
  const int64_t layerRow = std::max<int64_t>(state.selectedLayerRow, 0);
  const Layer* layer = layerAtRow(*character, layerRow);
  if (!layer || layer->visible == 0) return std::nullopt;
  return RecordAt{row, layerRow};
}

std::vector<RecordAt> dragTargets(const CharacterList& list, const EditorState& state, bool withLayers) {
  std::vector<RecordAt> out;
  const std::optional<RecordAt> target = dragTarget(list, state);
  if (!target) return out;
  out.push_back(*target);
  const std::vector<Layer>& layers = list.characters[static_cast<size_t>(target->characterRow)].layers;
  const auto count = static_cast<int64_t>(layers.size());
  if (target->layerRow < 0) {
    for (int64_t m = 0; withLayers && m < count; ++m) out.push_back({target->characterRow, m});
    return out;
  }
  // The extended selection counts only while it holds the current row.
  std::vector<int64_t> rows = state.selectedLayerRows;
  if (std::find(rows.begin(), rows.end(), state.selectedLayerRow) == rows.end()) return out;
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (const int64_t m : rows)
    if (m >= 0 && m < count && m != target->layerRow && layers[static_cast<size_t>(m)].visible != 0)
      out.push_back({target->characterRow, m});
  return out;
}

}  // namespace charstack
