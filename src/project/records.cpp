#include "project/records.hpp"

namespace charstack {

std::vector<RecordRef> recordsInSaveOrder(CharacterList& list) {
  std::vector<RecordRef> records;
  int64_t number = 0;
  for (size_t k = 0; k < list.characters.size(); ++k) {
    Character& c = list.characters[k];
    records.push_back({&c.name, &c.savedName, &c.image, ++number, false, static_cast<int64_t>(k), -1});
    for (size_t m = 0; m < c.layers.size(); ++m) {
      Layer& l = c.layers[m];
      records.push_back(
          {&l.name, &l.savedName, &l.image, ++number, true, static_cast<int64_t>(k), static_cast<int64_t>(m)});
    }
  }
  return records;
}

std::string describeRecord(const CharacterList& list, const RecordRef& r) {
  const Character& c = list.characters[static_cast<size_t>(r.characterRow)];
  std::string character = "character " + std::to_string(r.characterRow + 1) + " \"" + c.name + "\"";
  if (!r.isLayer) return character;
  return "layer " + std::to_string(r.layerRow + 1) + " \"" + *r.name + "\" of " + character;
}

}  // namespace charstack
