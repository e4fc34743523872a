// The editor controller: answers table clicks and the controls, and turns every user action into one
// command of the undo history that changes the model at once. The tables show the model itself: the
// characters, and the layers of one character.
#pragma once

#include <QUndoStack>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "model/model.hpp"
#include "platform/files.hpp"
#include "platform/project_lock.hpp"
#include "platform/ui.hpp"
#include "project/project_io.hpp"

namespace charstack {

// One row of a table as it shows it: the texts of its cells and its picture.
struct RowDictionary {
  std::string name;
  std::string value;
  std::optional<std::string> visible;  // layer rows only
  ImageRef img;
  std::string x, y;
  bool operator==(const RowDictionary&) const = default;
};

// The index that clears a table's highlight: no row of any table has it.
inline constexpr int64_t NoSelection = -1;

// The two tables (characters; layers of one character) and what a user edits in their rows.
enum class Table { Characters, Layers };
enum class Field { Name, Value, Visible, X, Y };

// What a step of the history changes of a record: one of its fields.
enum class Property { Name, Depth, Visible, Picture, Position };

// What the tables show, and how it changes. A change of rows is bracketed, so that a view can look
// at the rows before and after it.
class TableObserver {
 public:
  virtual ~TableObserver() = default;
  enum class Change { Reset, Insert, Remove };
  // `count` rows inserted or removed at `first`, or (Reset) the table shows other rows altogether.
  virtual void beginRows(Table table, Change change, int64_t first, int64_t count) = 0;
  virtual void endRows(Table table) = 0;
  // Rows first..last show other texts or pictures.
  virtual void rowsChanged(Table table, int64_t first, int64_t last) = 0;
  // The selection rows or the drag target changed (a click, an undo, a new project).
  virtual void selectionChanged() {}
};

// What another program changed on disk while the project is open.
struct DiskChange {
  enum class Kind {
    PictureTaken,  // a record whose picture the editor had not changed now shows the file's picture
    Conflict,      // the editor changed that record's picture too: the user chooses
    Unreadable,    // the file can no longer be read: the editor keeps its picture and the file
    Deleted,       // the file is gone: the editor keeps its picture and the next save writes it again
    DataFile,      // "data.txt" changed: the user may reload the project
  };
  Kind kind = Kind::PictureTaken;
  std::string file;  // inside the project folder: "img/Hero1", "data.txt"
  RecordAt at;
  ImageRef picture;  // the file's picture
  FileStamp stamp;
  std::string reason;
};

// The files to look at, with what they looked like when last seen (none: absent then).
struct DiskScanRequest {
  struct File {
    std::string name;  // inside "img/"
    std::optional<FileStamp> last;
    bool unknown = false;  // never looked at: a file there is read now
  };
  std::vector<File> files;
  std::optional<FileStamp> dataFile;
  uint64_t saveCount = 0;  // a save since makes the look out of date
};
// What changed among them; only changed files are read and decoded.
struct DiskScanResult {
  struct File {
    std::string name;
    std::optional<FileStamp> stamp;  // none: gone, or no regular file
    bool changed = false;
    bool firstSeen = false;  // a file found under a name never looked at before
    FileRead::Outcome outcome = FileRead::Outcome::Missing;
    DecodedImage decoded;
    std::string reason;
  };
  std::vector<File> files;
  std::optional<FileStamp> dataFile;
  bool dataFileChanged = false;
  uint64_t saveCount = 0;
};
// Looks at the files of a request: any thread may run it.
DiskScanResult scanDisk(const ProjectFolder& folder, const DiskScanRequest& request);

class InitLayer {
 public:
  // Creates the controller and loads the project. An observer given here already sees the load.
  // reading: when the pictures are read (the window reads each when first needed, and checks them
  // all on another thread: picturesToCheck, takePictureChecks).
  InitLayer(CharacterList& list, EditorState& state, ProjectFolder folder, TableObserver* observer = nullptr,
            PictureReading reading = PictureReading::Now);
  ~InitLayer();
  InitLayer(const InitLayer&) = delete;
  InitLayer& operator=(const InitLayer&) = delete;

  // Outlets, connected by the window before awakeFromNib. The window highlights what the selection
  // names when told (TableObserver::selectionChanged).
  TableView* TV1 = nullptr;
  TableView* TV2 = nullptr;

  // Called once the outlets are connected: makes this object the single-click target of both tables.
  void awakeFromNib();

  void loadData();
  // Puts another project folder in place of this one: a fresh editor state (selection, drag state,
  // pending deletions, history), and the folder loaded as at start.
  void openFolder(ProjectFolder folder);
  SaveReport saveData(const SaveOptions& options = {});
  SaveReport saveBtn(const SaveOptions& options = {});
  // The project folder was moved or renamed: from now on it is at `now` (nothing is read again).
  void relocate(const std::filesystem::path& now) { folder_ = ProjectFolder(now); }

  // A single click in a table (the row its TableView reports, and the layers table's extended
  // selection).
  void TV1sgl();
  void TV2sgl();
  // Insert a record at the selected row (or at the end), and select it; remove the selected ones (or
  // the last), and select the record that takes their place.
  void insert1();
  void insert2();
  void remove1();
  void remove2();
  // Inserts layers, in their order, where insert2 inserts one, into the selected character: one step
  // that selects them. False when no character is selected (then nothing changes).
  bool insertLayers(std::vector<Layer> layers);

  // The default name of a record made in the editor, in the interface language.
  static std::string newRecordName(Table table);
  Character newCharacter() const { return makeNewCharacter(newRecordName(Table::Characters)); }
  Layer newLayer() const { return makeNewLayer(newRecordName(Table::Layers)); }

  // The selected layers (the layers table's extended selection), in order: the current row
  // (EditorState::selectedLayerRow) among them whenever it names a layer.
  std::vector<int64_t> selectedLayers() const;
  // The table the user worked in last: the layers table after a click on a layer row.
  Table activeTable() const { return state_.moveLayer ? Table::Layers : Table::Characters; }

  // What the menus and buttons can do now in a table, and the actions themselves; each is one step
  // that leaves what it made or moved selected. A character acts alone, layers as selected.
  enum class Action { Insert, Remove, MoveUp, MoveDown, Duplicate, Copy, ShowHide };
  bool canAct(Action action, Table table) const;
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

  // What the tables show: the rows of a table, one row's texts and picture, and the record it is.
  int64_t rowCount(Table table) const;
  RowDictionary row(Table table, int64_t row) const;
  std::optional<RecordAt> recordOfRow(Table table, int64_t row) const;
  // The character whose layers the layers table shows; -1 for none.
  int64_t layerTableCharacter() const { return layerTableRow_; }

  void addObserver(TableObserver* observer);
  void removeObserver(TableObserver* observer);

  // A cell edit committed in a table: one step that changes the record of that row at once. A text
  // the record cannot take (a name the files cannot hold, a depth outside 0..999, a position that is
  // no 32-bit whole number) is refused: nothing changes and the reason (translated) is returned.
  std::optional<std::string> editCell(Table table, int64_t row, Field field, const std::string& text);

  // The picture of a table's well: that of the selected record (the selected character; the selected
  // layer among the layers the table shows). None when there is none or no record is selected.
  ImageRef wellPicture(Table table) const;
  bool wellHasRecord(Table table) const { return wellRecord(table).has_value(); }
  // A picture dropped, pasted or cleared (none) in a table's well: one step for the selected record.
  // False when the table has no selected record.
  bool setPicture(Table table, ImageRef image);
  // A drag on the canvas is one gesture: beginGesture at the press, the canvas's moves, endGesture at
  // the release, which records one step when the gesture moved something.
  void beginGesture();
  void endGesture();
  // Moves what a drag would move by (dx, dy) units; a run of nudges of one record is one step.
  void nudge(int32_t dx, int32_t dy);

  // The history of steps: each user action is one command, named for the Edit menu. Undo and redo
  // never touch files.
  QUndoStack& history() { return history_; }

  // Working beside other programs: the files to watch, the files to look at after a change was
  // noticed (scanDisk runs off the window's thread), and what the editor did with what it found.
  // The request looks at every file of the project, or only at the files of "img/" named.
  DiskScanRequest diskScanRequest(const std::unordered_set<std::string>* only = nullptr);
  std::vector<DiskChange> applyDiskScan(const DiskScanResult& result);
  uint64_t saveCount() const { return saveCount_; }
  // The user's choice for a Conflict: the file's picture, or the editor's (the next save replaces the
  // file then).
  void resolveConflict(const DiskChange& change, bool takeFile);

  // What loading found that the user should know (undecodable images, unsafe names).
  const std::vector<Problem>& loadProblems() const { return loadProblems_; }
  // The pictures of the project opened not read yet, and what reading them (on any thread) found:
  // a record whose file is no picture has none, as if the open had read it. Returns the new problems.
  std::vector<std::pair<std::string, ImageRef>> picturesToCheck() const { return charstack::picturesToCheck(state_.knownImageFiles); }
  std::vector<Problem> takePictureChecks(const std::vector<PictureCheck>& checks);
  // Whether the open finished a save that had been interrupted.
  bool interruptedSaveCompleted() const { return interruptedSaveCompleted_; }
  // Whether this editor owns the project, or another window (of any process) did when it was opened.
  ProjectLock::Ownership ownership() const { return ownership_; }
  // A read-only project is never saved (exports still work).
  // Read-only is kept while an interrupted save could not be finished (the project on disk is mixed).
  void setReadOnly(bool readOnly) { readOnly_ = readOnly || recoveryStopped_; }
  bool recoveryStopped() const { return recoveryStopped_; }
  // The project cannot be locked and the user chose to work on it anyway: saves go on without the lock.
  void setWithoutLock(bool without) { withoutLock_ = without; }
  const std::string& lockProblem() const { return lockProblem_; }
  bool readOnly() const { return readOnly_; }
  // True when the next save would write something else than the last load or save left on disk.
  bool hasUnsavedChanges() const;

  CharacterList& list() { return list_; }
  const CharacterList& list() const { return list_; }
  EditorState& state() { return state_; }
  const ProjectFolder& folder() const { return folder_; }

  // ---- For the commands of the history (commands.cpp): the changes they make and take back. ----
  struct Selection {
    int64_t characterRow = 0;
    int64_t layerRow = 0;
    std::vector<int64_t> layerRows;
    bool moveCharacter = false;
    bool moveLayer = false;
    int64_t layerTable = -1;  // the character whose layers the layers table shows
    bool operator==(const Selection&) const = default;
  };
  Selection selection() const;
  void restoreSelection(const Selection& selection);
  RecordFields fieldsOf(const RecordAt& at) const;
  // Sets one property of a record and tells the tables.
  void setProperty(const RecordAt& at, Property property, const RecordFields& value);
  // Puts records into the lists at `at` (characters, or layers of at.characterRow) and takes them out.
  void putRecords(const RecordAt& at, std::vector<Character> characters, std::vector<Layer> layers);
  void takeRecords(const RecordAt& at, int64_t count, std::vector<Character>* characters, std::vector<Layer>* layers);
  // The image files of records (a character with its layers, or `count` layers) that a removal queues.
  std::vector<std::string> filesOf(const RecordAt& at, int64_t count) const;
  // A picture taken from a file: the model, and what the disk holds now (none: the file is not the
  // editor's to replace without asking any more).
  void setDiskPicture(const std::string& fileName, const std::optional<EditorState::DiskImage>& disk);
  // Shows the layers of the character at a row in the layers table (none for -1 or past the end).
  void showLayersOf(int64_t characterRow);
  // Puts the records of a list (the characters for -1, or the layers of a character) in a new
  // order: order[i] is the row of the record that comes to row i.
  void reorder(int64_t characterRow, const std::vector<int64_t>& order);
  // The selection of `count` records at `first` of a table (of the character at characterRow).
  Selection selecting(Table table, int64_t characterRow, int64_t first, int64_t count) const;

 private:
  std::optional<RecordAt> wellRecord(Table table) const;
  std::optional<RecordAt> dragRecord() const;
  // Pushes a command that changes one property of a record, unless it changes nothing.
  void changeProperty(const RecordAt& at, Property property, RecordFields value, const char* step, bool mergeable = false);
  // The character whose layers the layer actions work on: the selected one, shown in the layers
  // table. -1 for none.
  int64_t layerOwner();
  // Puts records in at a row of a table (characters, or layers of the selected character) as one
  // step named `step`, and selects them.
  bool putIn(Table table, RecordSet records, int64_t row, const char* step);
  // Takes the rows out (characters: one) as one step, selecting the record that takes their place.
  bool takeOut(Table table, std::vector<int64_t> rows, const char* step);
  // Where pasted records go in a table: before `row`, or after the selection.
  int64_t pasteRow(Table table, std::optional<int64_t> row) const;
  // Load problems of depths that are never drawn.
  void noteDepthsNeverDrawn();
  void resetTables();
  void notifyRows(Table table, TableObserver::Change change, int64_t first, int64_t count,
                  const std::function<void()>& apply);
  void notifyChanged(Table table, int64_t first, int64_t last);
  void notifySelection();
  // Tells the tables which rows show the record at `at`.
  void notifyRecord(const RecordAt& at);

  // What the last load or save left on disk: the records (their fields, and so their file names and
  // pictures) and the deletions then queued. A file's picture there, by its name (an index made when
  // first needed).
  CharacterList saved_;
  std::vector<std::string> savedDeletions_;
  std::unordered_map<std::string, ImageRef*> savedPictures_;
  ImageRef* savedPictureOf(const std::string& fileName);
  ImageRef savedPicture(const std::string& fileName) {
    ImageRef* p = savedPictureOf(fileName);
    return p ? *p : nullptr;
  }
  void takeSnapshot();

  CharacterList& list_;
  EditorState& state_;
  ProjectFolder folder_;
  std::vector<TableObserver*> observers_;
  QUndoStack history_;
  // Row of the character whose layers the layers table shows; -1 for none.
  int64_t layerTableRow_ = -1;
  std::vector<Problem> loadProblems_;
  std::optional<RecordFields> gesture_;  // the record a running drag moves, as it was at the press
  std::optional<RecordAt> gestureAt_;
  uint64_t saveCount_ = 0;  // saves that carried out the pending deletions
  // What each file of "img/" looked like at the last look (none: absent), and "data.txt".
  std::unordered_map<std::string, std::optional<FileStamp>> seen_;
  std::optional<FileStamp> seenDataFile_;
  std::unique_ptr<ProjectLock> lock_;
  ProjectLock::Ownership ownership_ = ProjectLock::Ownership::NoLockFile;
  bool readOnly_ = false;
  bool recoveryStopped_ = false;
  bool withoutLock_ = false;
  std::string lockProblem_;  // why the project cannot be locked; empty when it can
  bool interruptedSaveCompleted_ = false;
  PictureReading reading_;
  // What the editor knows of the files changed since the last load or save (another program's
  // change): the next save looks at every record's file.
  bool filesChangedSinceSave_ = false;
};

RowDictionary characterRow(const Character& character);
RowDictionary layerRow(const Layer& layer);

}  // namespace charstack
