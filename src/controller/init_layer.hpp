// The editor controller: owns the table mirrors, answers table clicks and the controls, and copies
// table edits into the model on every tick.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/model.hpp"
#include "platform/files.hpp"
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

  // What loading found that the user should know (undecodable images, unsafe names).
  const std::vector<Problem>& loadProblems() const { return loadProblems_; }
  // True when the next save would write something else than the last load or save left on disk.
  bool hasUnsavedChanges() const;

  CharacterList& list() { return list_; }
  EditorState& state() { return state_; }
  const ProjectFolder& folder() const { return folder_; }

 private:
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
  Snapshot lastSaved_;
};

RowDictionary characterRow(const Character& character);
RowDictionary layerRow(const Layer& layer);

}  // namespace charstack
