// The selection: the current and selected rows of both tables, the rules that say where an insert,
// a paste or a removal goes and what is selected after it, and what the menus can do now.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "controller/document.hpp"
#include "platform/ui.hpp"

namespace charstack {

// The selection as a step of the history remembers it, to put it back on undo and redo.
struct SelectedRows {
  int64_t characterRow = 0;
  int64_t layerRow = 0;
  std::vector<int64_t> layerRows;
  bool moveCharacter = false;
  bool moveLayer = false;
  int64_t layerTable = -1;  // the character whose layers the layers table shows
  bool operator==(const SelectedRows&) const = default;
};

// What the menus and buttons can do in a table. A character acts alone, layers as selected.
enum class Action { Insert, Remove, MoveUp, MoveDown, Duplicate, Copy, ShowHide };

// The rows, sorted, without repeats or rows outside 0..rows-1.
std::vector<int64_t> validRows(std::vector<int64_t> selected, int64_t rows);

class Selection {
 public:
  // The rows live in `state`, where the canvas reads them too.
  Selection(Document& document, EditorState& state) : document_(document), state_(state) {}

  // Makes this selection the target of single clicks in the two tables (either may be null).
  void attachTables(TableView* characters, TableView* layers);
  // A single click in a table: the row its TableView reports, and the layers table's extended
  // selection.
  void characterTableClicked();
  void layerTableClicked();

  // Selects a record as a click on its row would (the character in the characters table, a layer
  // alone in the layers table of its character, which the table then shows) and tells the observers:
  // a pick on the canvas. A record that is not there changes nothing.
  void selectRecord(const RecordAt& at);

  SelectedRows current() const;
  void restore(const SelectedRows& rows);
  // The selection of `count` records at `first` of a table (of the character at characterRow).
  static SelectedRows selecting(Table table, int64_t characterRow, int64_t first, int64_t count);

  int64_t characterRow() const { return state_.selectedCharacterRow; }
  // The selected layers (the layers table's extended selection), in order: the current row among
  // them whenever it names a layer.
  std::vector<int64_t> selectedLayers() const;
  // The table the user worked in last: the layers table after a click on a layer row.
  Table activeTable() const { return state_.moveLayer ? Table::Layers : Table::Characters; }
  bool canAct(Action action, Table table) const;

  // Where an insert goes: at the selected row, or at the end.
  int64_t insertionRow(Table table) const;
  // The row a removal takes without a selection of layers: the selected one, or the last; -1 for none.
  int64_t removalRow(Table table) const;
  // Where pasted records go in a table: before `row`, or after the selection.
  int64_t pasteRow(Table table, std::optional<int64_t> row) const;
  // The character whose layers the layer actions work on: the selected one, shown in the layers
  // table (which this shows now if it listed another's). -1 for none.
  int64_t layerOwner();
  // The record of a table's image well: the selected character, or the selected layer among the
  // layers the table shows.
  std::optional<RecordAt> wellRecord(Table table) const;

 private:
  Document& document_;
  EditorState& state_;
  TableView* characterTable_ = nullptr;
  TableView* layerTable_ = nullptr;
};

}  // namespace charstack
