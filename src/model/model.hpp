// The editor's data: characters, their layers, and the process-wide editor state.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "platform/image.hpp"

namespace charstack {

struct Layer {
  std::string name;
  // The name under which this record's image file was last read or written; none for a record
  // created in the editor.
  std::optional<std::string> savedName;
  int64_t value = 0;      // draw depth; only 0..999 are drawn
  uint8_t visible = 0;    // 0 or 1
  ImageRef image;         // none when the layer has no picture
  int32_t x = 0;
  int32_t y = 0;

  bool operator==(const Layer&) const = default;
};

struct Character {
  std::string name;
  std::optional<std::string> savedName;
  int64_t value = 0;
  ImageRef image;
  std::vector<Layer> layers;  // in list order
  int32_t x = 0;
  int32_t y = 0;

  bool operator==(const Character&) const = default;
};

// All characters, in the order of the characters table and of the data file.
struct CharacterList {
  std::vector<Character> characters;

  bool empty() const { return characters.empty(); }
  int64_t size() const { return static_cast<int64_t>(characters.size()); }

  // The character at a row; a negative row walks no step and names the first character. None when
  // the list is empty or the row is not less than the number of characters.
  Character* characterAtRow(int64_t row);
  const Character* characterAtRow(int64_t row) const;

  // The recordNumber of the character at a row (row within 0..size()-1): 1 for the first character,
  // each character before it counting 1 plus its number of layers.
  int64_t characterRecordNumber(int64_t row) const;

  bool operator==(const CharacterList&) const = default;
};

// The layer at a row of a character; a negative row names the first layer. None when the character
// has no layer at that row.
Layer* layerAtRow(Character& character, int64_t row);
const Layer* layerAtRow(const Character& character, int64_t row);

// Visits every record in save order, each character followed by its layers, as
// visit(record, recordNumber, characterRow, layerRow); layerRow is -1 for a character. The record is a
// Character or a Layer (const when the list is), so visit is usually a generic lambda.
template <typename List, typename Visit>
void forEachRecord(List& list, Visit&& visit) {
  int64_t number = 0;
  for (size_t k = 0; k < list.characters.size(); ++k) {
    auto& character = list.characters[k];
    visit(character, ++number, static_cast<int64_t>(k), int64_t{-1});
    for (size_t m = 0; m < character.layers.size(); ++m)
      visit(character.layers[m], ++number, static_cast<int64_t>(k), static_cast<int64_t>(m));
  }
}

// The record's name immediately followed by its number: the file name of its image inside "img/".
std::string imageFileName(const std::string& name, int64_t recordNumber);

// Defaults of records made in the editor. The names follow the interface language: the controller
// gives them (newRecordName).
inline constexpr int64_t kNewCharacterDepth = 100;
inline constexpr int64_t kNewLayerDepth = 150;

Character makeNewCharacter(std::string name);
Layer makeNewLayer(std::string name);  // hidden

// Records on their way elsewhere (the clipboard, a drag, a duplicate): characters with their layers,
// or layers. Pictures are shared, never copied.
struct RecordSet {
  std::vector<Character> characters;
  std::vector<Layer> layers;
  bool empty() const { return characters.empty() && layers.empty(); }
  size_t size() const { return characters.size() + layers.size(); }
};
// The records as new ones: no image file of the project is theirs (yet).
void forgetFiles(RecordSet& records);

struct EditorState {
  int64_t selectedCharacterRow = 0;
  int64_t selectedLayerRow = 0;
  // The rows of an extended selection in the layers table, in order. It counts only while it holds
  // selectedLayerRow (the current row, which the well and the drag follow).
  std::vector<int64_t> selectedLayerRows;
  bool moveCharacter = false;
  bool moveLayer = false;
  // imageFileNames of removed records, deleted from "img/" at the next save.
  std::vector<std::string> pendingImageDeletions;
  int32_t dragAnchorX = 0;
  int32_t dragAnchorY = 0;
  double grabOffsetX = 0;
  double grabOffsetY = 0;
  // Files of "img/" that exist but could not be read as pictures (not a regular file, unreadable,
  // undecodable, too large). The editor never deletes, replaces or renames them.
  std::set<std::string> unreadableImageFiles;
  // Files of "img/" that the editor read as pictures or wrote itself: it may replace or delete them
  // while they are as it left them. The picture is the one read or written (none for a file that
  // only proved readable), the stamp what the file looked like then.
  struct DiskImage {
    ImageRef image;
    FileStamp stamp;
  };
  std::unordered_map<std::string, DiskImage> knownImageFiles;
  // Every name in "img/" after the last load or save, and what the folder looked like then (none when
  // the names are not all known): while it looks the same, no file has come or gone, and the next save
  // need not list it again nor ask the disk about a name not listed.
  std::unordered_set<std::string> imageFolderNames;
  std::optional<FileStamp> imageFolderStamp;
  // What "data.txt" looked like when it was read or written; none when there was none.
  std::optional<FileStamp> dataFileStamp;
  // "data.txt" existed but could not be read at load; saving leaves it alone.
  bool dataFileUnreadable = false;
  // "data.txt" held text but no record at load: saving replaces it only once the project has records
  // and the user confirms, keeping the old text beside it.
  bool dataFileWithoutRecords = false;
  // "data.txt" held text that the editor does not write back as it was: the first save keeps it
  // beside the new one.
  bool dataFileForeign = false;
};

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

// Where a record stands: a character row, and a layer row of it or -1 for the character itself.
struct RecordAt {
  int64_t characterRow = -1;
  int64_t layerRow = -1;
  bool operator==(const RecordAt&) const = default;
};

// The record a canvas drag or a nudge moves: the selected character after a click in the characters
// table, or its selected layer after a click in the layers table when that layer is visible. A
// negative row names the first entry. None when there is nothing to move.
std::optional<RecordAt> dragTarget(const CharacterList& list, const EditorState& state);
// Every record a canvas drag or a nudge moves, the drag target first: when it is a layer, the other
// visible layers of the extended selection follow in list order; when it is the character and
// withLayers is set, all of its layers. Empty when there is nothing to move.
std::vector<RecordAt> dragTargets(const CharacterList& list, const EditorState& state, bool withLayers = false);

}  // namespace charstack
