// The editor controller: owns the table mirrors, answers table clicks and the controls, and copies
// table edits into the model on every tick.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controller/edit.hpp"
#include "model/model.hpp"
#include "platform/files.hpp"
#include "platform/project_lock.hpp"
#include "platform/ui.hpp"
#include "project/project_io.hpp"

namespace charstack {

// One row of a table: the record as the table shows and edits it.
struct RowDictionary {
  std::optional<std::string> name;
  std::optional<std::string> value;
  std::optional<std::string> visible;  // layer rows built from the model only
  ImageRef img;                        // none: the entry is absent
  bool operator==(const RowDictionary&) const = default;
};

inline constexpr int64_t NoSelection = 999;

// The two tables (1: characters, mirrored by MA1; 2: layers, MA2) and the columns a user edits.
enum class Table { Characters, Layers };
enum class Field { Name, Value, Visible };

class InitLayer;

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

// An image well bound to the selected row of a mirror: it shows, and its image() returns, the "img"
// entry of the row at the selection row; a dropped image is stored into that entry.
class RowImageWell : public ImageWell {
 public:
  RowImageWell(std::vector<RowDictionary>& mirror, const int64_t& selectionRow)
      : mirror_(mirror), row_(selectionRow) {}
  ImageRef image() const override;
  // Stores the image (none empties the well) into the selected row; false when that row does not
  // exist, and then nothing changes.
  bool setImage(ImageRef image);
  bool hasRow() const;

 private:
  std::vector<RowDictionary>& mirror_;
  const int64_t& row_;
};

class InitLayer {
 public:
  // init: starts the sync timer, creates the mirrors and the pending deletions, and loads the project.
  // An observer given here already receives the change notices of the load.
  InitLayer(CharacterList& list, EditorState& state, ProjectFolder folder, TimerService& timers,
            ChangeObserver* observer = nullptr);
  ~InitLayer();
  InitLayer(const InitLayer&) = delete;
  InitLayer& operator=(const InitLayer&) = delete;

  // Outlets, connected by the window before awakeFromNib.
  TableView* TV1 = nullptr;
  ArrayController* AC1 = nullptr;
  TableView* TV2 = nullptr;
  ArrayController* AC2 = nullptr;

  // Called once the outlets are connected: makes this object the single-click target of both tables.
  void awakeFromNib();

  void loadData();
  // Puts another project folder in place of this one: empties the mirrors (with their notices),
  // gives the editor state a fresh start (selection, drag state, pending deletions) and loads the
  // folder as at start.
  void openFolder(ProjectFolder folder);
  SaveReport saveData(const SaveOptions& options = {});
  // The project folder was moved or renamed: from now on it is at `now` (nothing is read again).
  void relocate(const std::filesystem::path& now) { folder_ = ProjectFolder(now); }
  SaveReport saveBtn(const SaveOptions& options = {});

  void TV1sgl();
  void TV2sgl();
  void EventLoop();
  void insert1();
  void insert2();
  void remove1();
  void remove2();
  // Inserts layers, in their order, where insert2 inserts one, into the selected character: one
  // change of the layers table. False when no character is selected (then nothing changes).
  bool insertLayers(std::vector<Layer> layers);

  // Table mirrors. The tables edit their rows' "name", "value" and "visible" entries as text.
  std::vector<RowDictionary> MA1;
  std::vector<RowDictionary> MA2;
  RowImageWell IV1;
  RowImageWell IV2;

  // Change notices for "MA1" and "MA2".
  void addObserver(ChangeObserver* observer);
  void removeObserver(ChangeObserver* observer);

  // A cell edit from a table. A name that the project files cannot hold is refused: the row keeps its
  // text and the reason is returned.
  std::optional<std::string> editCell(Table table, int64_t row, Field field, std::string text);

  // A picture dropped, pasted or cleared (none) in the well of a table: it goes into the selected
  // row, and the model takes it at the next tick. False when the table has no selected row.
  bool setPicture(Table table, ImageRef image);
  // A drag on the canvas is one gesture: beginGesture at the press, the canvas's moves, endGesture at
  // the release, which records one step when the gesture moved something.
  void beginGesture();
  void endGesture();
  // Moves what a drag would move by (dx, dy) units.
  void nudge(int32_t dx, int32_t dy);

  // Every completed user edit goes to the listener (the window's undo history); none records nothing.
  void setEditListener(std::function<void(Edit)> listener) { editListener_ = std::move(listener); }
  // Takes an edit back or makes it again: the model, the mirrors (with their change notices) and the
  // selection rows. Files are not touched; a removal's queued deletions are dropped again when no
  // save has carried them out. The edit keeps what the next redo or undo needs.
  void undo(Edit& edit);
  void redo(Edit& edit);

  // Working beside other programs: the files to watch, the files to look at after a change was
  // noticed (scanDisk runs off the window's thread), and what the editor did with what it found.
  std::vector<std::string> watchedPaths() const;
  DiskScanRequest diskScanRequest();
  std::vector<DiskChange> applyDiskScan(const DiskScanResult& result);
  uint64_t saveCount() const { return saveCount_; }
  // The user's choice for a Conflict: the file's picture, or the editor's (the next save replaces the
  // file then).
  void resolveConflict(const DiskChange& change, bool takeFile);

  // What loading found that the user should know (undecodable images, unsafe names).
  const std::vector<Problem>& loadProblems() const { return loadProblems_; }
  // Whether the open finished a save that had been interrupted.
  bool interruptedSaveCompleted() const { return interruptedSaveCompleted_; }
  // Whether this editor owns the project, or another window (of any process) did when it was opened.
  ProjectLock::Ownership ownership() const { return ownership_; }
  // A read-only project is never saved (exports still work).
  void setReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool readOnly() const { return readOnly_; }
  // True when the next save would write something else than the last load or save left on disk.
  bool hasUnsavedChanges() const;

  CharacterList& list() { return list_; }
  EditorState& state() { return state_; }
  const ProjectFolder& folder() const { return folder_; }

 private:
  // A step about the record at `at`, with its fields and the selection as they are now.
  Edit startEdit(Edit::Kind kind, std::string name, const RecordAt& at);
  void record(Edit edit);
  Selection selection() const;
  Character* characterAt(const RecordAt& at);
  RecordFields fieldsOf(const RecordAt& at);
  void setFields(const RecordAt& at, const RecordFields& fields);
  // The image files of a record (a character with its layers) that a removal queues for deletion.
  std::vector<std::string> filesOf(const RecordAt& at, int64_t count = 1) const;
  void apply(Edit& edit, bool forward);
  void putBack(Edit& edit);
  void takeOut(Edit& edit, bool queueFiles);
  void rebuildMirrors();
  // Shows in the mirrors' rows the pictures the model holds now.
  void refreshPictures();
  // Gives a record a picture from its file: the model, the mirror row, and what the disk holds.
  void takePicture(const RecordAt& at, const std::string& fileName, ImageRef picture, const FileStamp& stamp);
  void willChange(std::string_view key);
  void didChange(std::string_view key);
  // Empties MA2 and fills it with the layers of the character at a row (none for -1 or past the end).
  void rebuildLayerMirror(int64_t characterRow);

  // What a save would write: the data text, each record's image file and picture, the deletions.
  struct Snapshot {
    std::string text;
    std::vector<std::pair<std::string, ImageRef>> images;
    std::vector<std::string> pendingDeletions;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot snapshot() const;
  void takeSnapshot();

  CharacterList& list_;
  EditorState& state_;
  ProjectFolder folder_;
  std::unique_ptr<RepeatingTimer> timer_;
  std::vector<ChangeObserver*> observers_;
  // Row of the character whose layers MA2 mirrors; -1 when MA2 mirrors no character.
  int64_t layerMirrorRow_ = -1;
  std::vector<Problem> loadProblems_;
  std::unique_ptr<ProjectLock> lock_;
  ProjectLock::Ownership ownership_ = ProjectLock::Ownership::NoLockFile;
  bool readOnly_ = false;
  bool interruptedSaveCompleted_ = false;
  Snapshot lastSaved_;
  std::function<void(Edit)> editListener_;
  std::optional<Edit> gesture_;  // the record a running drag moves, as it was at the press
  uint64_t saveCount_ = 0;       // saves that carried out the pending deletions
  // What each file of "img/" looked like at the last look (none: absent), and "data.txt".
  std::unordered_map<std::string, std::optional<FileStamp>> seen_;
  std::optional<FileStamp> seenDataFile_;
};

RowDictionary characterRow(const Character& character);
RowDictionary layerRow(const Layer& layer);

}  // namespace charstack
