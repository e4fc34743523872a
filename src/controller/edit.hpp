// One undoable change of the model, as the editor controller records it: enough to take the change
// back and to make it again, without copying any picture (pictures are shared references).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/model.hpp"

namespace charstack {

// What a user edits of a record: everything but its layers and the file bookkeeping (savedName).
struct RecordFields {
  std::string name;
  int64_t value = 0;
  uint8_t visible = 0;
  ImageRef image;
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const RecordFields&) const = default;
};

// The rows the tables select and the table clicked last, as a step leaves them.
struct Selection {
  int64_t characterRow = 0;
  int64_t layerRow = 0;
  bool moveCharacter = false;
  bool moveLayer = false;
};

struct Edit {
  enum class Kind { Fields, InsertCharacter, RemoveCharacter, InsertLayer, RemoveLayer };
  Kind kind = Kind::Fields;
  std::string name;  // what the step did, for menus: "Move Layer", "Rename Character"
  // Fields: the record and its fields before and after. Insert and remove: where the record stands.
  RecordAt at;
  RecordFields before, after;
  bool nudge = false;  // a nudge merges with the next nudge of the same record
  // Insert and remove: the records as they were when they last left the list (a character, or
  // `count` layers in a row from at.layerRow).
  std::optional<Character> character;
  std::vector<Layer> layers;
  int64_t count = 1;
  // Remove: the image files the removal queued for deletion, and the save count then. Taking the
  // removal back drops them again only while no save has carried them out.
  std::vector<std::string> queued;
  uint64_t saveCount = 0;
  Selection selectionBefore, selectionAfter;
};

}  // namespace charstack
