#include "project/records.hpp"

#include "project/project_io.hpp"

namespace charstack {

std::string imagePath(std::string_view fileName) { return std::string(kImageFolder) + "/" + std::string(fileName); }

std::vector<RecordRef> recordsInSaveOrder(CharacterList& list) {
  std::vector<RecordRef> records;
  size_t count = list.characters.size();
  for (const Character& c : list.characters) count += c.layers.size();
  records.reserve(count);
  forEachRecord(list, [&](auto& r, int64_t number, int64_t characterRow, int64_t layerRow) {
    records.push_back({&r.name, &r.savedName, &r.image, number, layerRow >= 0, characterRow, layerRow});
  });
  return records;
}

std::string describeRecord(const CharacterList& list, const RecordRef& r) {
  const Character& c = list.characters[static_cast<size_t>(r.characterRow)];
  std::string character = "character " + std::to_string(r.characterRow + 1) + " \"" + c.name + "\"";
  if (!r.isLayer) return character;
  return "layer " + std::to_string(r.layerRow + 1) + " \"" + *r.name + "\" of " + character;
}

}  // namespace charstack
