// A flat view of every record of a list in save order, with its record number.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.hpp"

namespace charstack {

struct RecordRef {
  std::string* name;
  std::optional<std::string>* savedName;
  ImageRef* image;
  int64_t number;
  bool isLayer;
  int64_t characterRow;
  int64_t layerRow;  // -1 for a character
};

// "img/" followed by an image file name: the file's path inside the project folder.
std::string imagePath(std::string_view fileName);

std::vector<RecordRef> recordsInSaveOrder(CharacterList& list);

// "character 2 "Hero"" / "layer 3 "Arm" of character 1 "Hero"", for messages.
std::string describeRecord(const CharacterList& list, const RecordRef& record);

}  // namespace charstack
