// The editor of one open project: what a user does with the records, each action one step of the
// history. It joins the four parts that change for different reasons:
//   Document     the records, the history, and what the tables show (document.hpp)
//   Selection    the selected rows and where actions put and take records (selection.hpp)
//   DiskLink     other programs changing the project's files (disk_link.hpp)
//   ProjectStore load, save, lock and what is on disk (project_store.hpp)
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/commands.hpp"
#include "controller/disk_link.hpp"
#include "controller/document.hpp"
#include "controller/project_store.hpp"
#include "controller/selection.hpp"

namespace charstack {


// The default name of a record made in the editor, in the interface language, and new records.
std::string newRecordName(Table table);
Character newCharacter();
Layer newLayer();

// A canvas drag is one gesture: begin at the press, the canvas's moves, end at the release, which
// records one step when the gesture moved something. Nudges (arrow keys) move by whole units. Both
// move every record dragTargets names, and taking the step back puts each where it stood.
class CanvasMoves {
 public:
  CanvasMoves(Document& document, EditorState& state, RecordEdits& edits)
      : document_(document), state_(state), edits_(edits) {}
  // withLayers: the character moves with all its layers (a drag with Ctrl).
  void beginGesture(bool withLayers = false);
  void endGesture();
  // Moves what a drag would move by (dx, dy) units; a run of nudges of the same records is one step.
  // withLayers: the character moves with all its layers, as in a drag with Ctrl.
  void nudge(int32_t dx, int32_t dy, bool withLayers = false);
  void forget() { gesture_.clear(); }
  // A drag runs: the records stand where the pointer took them, and its step comes at the release.
  bool dragging() const { return !gesture_.empty(); }

 private:
  // Pushes the moves that change something as one step; false when none does.
  bool push(std::vector<MoveCommand::Move> moves, bool withLayers, bool done);
  // Where the record stands; none when no record is there any more.
  std::optional<std::pair<int32_t, int32_t>> placeOf(const RecordAt& at) const;

  Document& document_;
  EditorState& state_;
  RecordEdits& edits_;
  // The records a running drag moves, where they stood at the press.
  std::vector<MoveCommand::Move> gesture_;
  bool withLayers_ = false;
};

class Editor {
 public:
  // Creates the editor and loads the project. An observer given here already sees the load.
  Editor(CharacterList& list, EditorState& state, ProjectFolder folder, TableObserver* observer = nullptr,
         PictureReading reading = PictureReading::Now);
  ~Editor();
  Editor(const Editor&) = delete;
  Editor& operator=(const Editor&) = delete;

  Document& document() { return document_; }
  const Document& document() const { return document_; }
  Selection& selection() { return selection_; }
  DiskLink& disk() { return *disk_; }
  ProjectStore& store() { return *store_; }
  CanvasMoves& moves() { return *moves_; }
  const CharacterList& list() const { return document_.list(); }
  EditorState& state() { return state_; }
  // What the steps of the history change the records through.
  RecordEdits& edits() { return *edits_; }

  // Puts another project folder in place of this one: a fresh editor state (selection, drag state,
  // pending deletions, history), and the folder loaded as at start.
  void openFolder(ProjectFolder folder);

  // Insert a record at the selected row (or at the end), and select it; remove the selected ones (or
  // the last), and select the record that takes their place.
  void insertCharacter();
  void insertLayer() { insertLayers({newLayer()}); }
  void removeCharacter();
  void removeLayers();
  // Inserts layers, in their order, where insertLayer inserts one, into the selected character: one
  // step that selects them. False when no character is selected (then nothing changes).
  bool insertLayers(std::vector<Layer> layers);

  // Each action is one step that leaves what it made or moved selected.
  // Moves the selected records one row up (-1) or down (+1).
  bool moveSelected(Table table, int direction);
  // Moves records (rows of a table, as a drag took them) before the row `destination` (the row count:
  // to the end).
  bool moveRows(Table table, std::vector<int64_t> rows, int64_t destination);
  // A copy of the selected records right after the last of them, pictures shared.
  bool duplicate(Table table);
  // The selected records as new ones, pictures shared; cut takes them out as one step too.
  RecordSet copyRecords(Table table) const;
  RecordSet cut(Table table);
  // Characters go after the selected character, layers into the selected character after its
  // selected layers; `row` puts them before that row instead (a drop). False when there is nowhere
  // to put them (layers without a character).
  bool paste(RecordSet records, std::optional<int64_t> row = std::nullopt);
  // Pictures as new visible records named `name` (when the files can hold it; else the default
  // name), put where paste puts records: characters in the characters table, layers of the
  // selected character in the layers table, or characters when there is no character.
  struct NamedPicture {
    std::string name;
    ImageRef image;
  };
  bool insertPictures(Table table, std::vector<NamedPicture> pictures,
                      std::optional<int64_t> row = std::nullopt);
  // Shows or hides the selected layers (all shown unless all are shown already).
  bool showHideSelected();

  // A cell edit committed in a table: one step that changes the record of that row at once. A text
  // the record cannot take (a name the files cannot hold, a depth outside 0..999, a position that is
  // no 32-bit whole number) is refused: nothing changes and the reason (translated) is returned.
  std::optional<std::string> editCell(Table table, int64_t row, Field field, const std::string& text);

  // The picture of a table's image well (Selection::wellRecord); none when it has no record.
  ImageRef wellPicture(Table table) const;
  // A picture dropped, pasted or cleared (none) in a table's well: one step for the selected record.
  // False when the table has no selected record.
  bool setPicture(Table table, ImageRef image);

 private:
  // Puts records in at a row of a table (characters, or layers of the selected character) as one
  // step named `step`, and selects them.
  bool putIn(Table table, RecordSet records, int64_t row, const char* step);
  // Takes the rows out (characters: one) as one step, selecting the record that takes their place.
  bool takeOut(Table table, std::vector<int64_t> rows, const char* step);

  EditorState& state_;
  Document document_;
  Selection selection_;
  std::unique_ptr<RecordEdits> edits_;
  std::unique_ptr<ProjectStore> store_;
  std::unique_ptr<DiskLink> disk_;
  std::unique_ptr<CanvasMoves> moves_;
};

// Pushes a step that changes one property of a record, unless it changes nothing.
void changeProperty(RecordEdits& edits, const RecordAt& at, Property property, RecordFields value, const char* step,
                    bool mergeable = false);

}  // namespace charstack
