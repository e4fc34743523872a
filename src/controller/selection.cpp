#include "controller/selection.hpp"

#include <algorithm>

namespace charstack {

namespace {

// Where an insertion goes, for a table of `rows` rows and a selection row: an empty table takes row 0,
// no selection appends, otherwise the new record takes the selected row (past the end appends).
int64_t insertionRowOf(int64_t rows, int64_t selection) {
  if (rows == 0) return 0;
  if (selection < 0) return rows;
  return std::min(selection, rows);
}

// Which row a removal takes: the last one when nothing is selected; -1 when the row names nothing.
int64_t removalRowOf(int64_t rows, int64_t selection) {
  int64_t row = selection < 0 ? rows - 1 : selection;
  return row < rows ? row : -1;
}

}  // namespace

// The rows, sorted, without repeats or rows outside 0..rows-1.
std::vector<int64_t> validRows(std::vector<int64_t> selected, int64_t rows) {
  std::sort(selected.begin(), selected.end());
  selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
  std::erase_if(selected, [rows](int64_t r) { return r < 0 || r >= rows; });
  return selected;
}

void Selection::attachTables(TableView* characters, TableView* layers) {
  characterTable_ = characters, layerTable_ = layers;
  if (characters) characters->setAction([this] { characterTableClicked(); });
  if (layers) layers->setAction([this] { layerTableClicked(); });
}

void Selection::characterTableClicked() {
  if (document_.list().empty()) return;
  state_.moveCharacter = true;
  state_.moveLayer = false;
  state_.selectedCharacterRow = characterTable_ ? characterTable_->clickedRow() : -1;
  state_.selectedLayerRow = layerTable_ ? layerTable_->clickedRow() : -1;
  // No character selected: no layer either.
  if (state_.selectedCharacterRow < 0) state_.selectedLayerRow = -1;
  state_.selectedLayerRows.clear();
  document_.showLayersOf(state_.selectedCharacterRow);
  document_.notifySelection();
}

void Selection::layerTableClicked() {
  state_.selectedLayerRow = layerTable_ ? layerTable_->clickedRow() : -1;
  state_.selectedLayerRows =
      layerTable_ ? validRows(layerTable_->selectedRows(), document_.rowCount(Table::Layers)) : std::vector<int64_t>{};
  // A click that took its row out of the selection (Ctrl) leaves the last selected row current.
  const auto& rows = state_.selectedLayerRows;
  if (!rows.empty() && std::find(rows.begin(), rows.end(), state_.selectedLayerRow) == rows.end())
    state_.selectedLayerRow = rows.back();
  state_.moveLayer = true;
  state_.moveCharacter = false;
  document_.notifySelection();
}

void Selection::selectRecord(const RecordAt& at) {
  const Character* character = at.characterRow >= 0 ? document_.list().characterAtRow(at.characterRow) : nullptr;
  if (!character || at.layerRow >= static_cast<int64_t>(character->layers.size())) return;
  restore(at.layerRow < 0 ? selecting(Table::Characters, -1, at.characterRow, 1)
                          : selecting(Table::Layers, at.characterRow, std::max<int64_t>(at.layerRow, 0), 1));
}

std::vector<int64_t> Selection::selectedLayers() const {
  const int64_t current = state_.selectedLayerRow, rows = document_.rowCount(Table::Layers);
  const auto& extended = state_.selectedLayerRows;
  if (std::find(extended.begin(), extended.end(), current) != extended.end())
    return validRows(extended, rows);
  return current >= 0 && current < rows ? std::vector<int64_t>{current} : std::vector<int64_t>{};
}

SelectedRows Selection::selecting(Table table, int64_t characterRow, int64_t first, int64_t count) {
  SelectedRows s;
  if (table == Table::Characters) {
    s.characterRow = first;
    s.layerRow = -1;
    s.moveCharacter = first >= 0;
    s.layerTable = first;
    return s;
  }
  s.characterRow = s.layerTable = characterRow;
  s.layerRow = first;
  for (int64_t r = first; r >= 0 && r < first + count; ++r) s.layerRows.push_back(r);
  s.moveLayer = true;
  return s;
}

int64_t Selection::layerOwner() {
  const int64_t k = state_.selectedCharacterRow;
  if (k < 0 || k >= document_.list().size()) return -1;
  // The layers table may list another character's layers: it shows the owner's before they change.
  if (document_.layerTableCharacter() != k) document_.showLayersOf(k);
  return k;
}

bool Selection::canAct(Action action, Table table) const {
  const bool character = state_.selectedCharacterRow >= 0 && state_.selectedCharacterRow < document_.list().size();
  if (table == Table::Characters) {
    const int64_t k = state_.selectedCharacterRow;
    switch (action) {
      case Action::Insert:
        return true;
      case Action::Remove:
        return !document_.list().empty();
      case Action::MoveUp:
        return character && k > 0;
      case Action::MoveDown:
        return character && k + 1 < document_.list().size();
      case Action::Duplicate:
      case Action::Copy:
        return character;
      case Action::ShowHide:
        return false;
    }
    return false;
  }
  // The layers table lists the selected character's layers; without one, no layer action acts.
  if (!character) return false;
  const int64_t layers =
      static_cast<int64_t>(document_.list().characters[static_cast<size_t>(state_.selectedCharacterRow)].layers.size());
  const std::vector<int64_t> rows =
      document_.layerTableCharacter() == state_.selectedCharacterRow ? selectedLayers() : std::vector<int64_t>{};
  switch (action) {
    case Action::Insert:
      return true;
    case Action::Remove:
      return layers > 0;
    case Action::MoveUp:
      return !rows.empty() && rows.front() > 0;
    case Action::MoveDown:
      return !rows.empty() && rows.back() + 1 < layers;
    case Action::Duplicate:
    case Action::Copy:
    case Action::ShowHide:
      return !rows.empty();
  }
  return false;
}

int64_t Selection::pasteRow(Table table, std::optional<int64_t> row) const {
  if (row && *row >= 0) return *row;
  if (table == Table::Characters) {
    const int64_t k = state_.selectedCharacterRow;
    return k >= 0 && k < document_.list().size() ? k + 1 : document_.list().size();
  }
  const std::vector<int64_t> rows = selectedLayers();
  return rows.empty() ? document_.rowCount(Table::Layers) : rows.back() + 1;
}

SelectedRows Selection::current() const {
  return {state_.selectedCharacterRow, state_.selectedLayerRow, state_.selectedLayerRows,
          state_.moveCharacter,        state_.moveLayer,        document_.layerTableCharacter()};
}

void Selection::restore(const SelectedRows& s) {
  state_.selectedCharacterRow = s.characterRow;
  state_.selectedLayerRow = s.layerRow;
  state_.selectedLayerRows = s.layerRows;
  state_.moveCharacter = s.moveCharacter;
  state_.moveLayer = s.moveLayer;
  if (s.layerTable != document_.layerTableCharacter()) document_.showLayersOf(s.layerTable);
  document_.notifySelection();
}

std::optional<RecordAt> Selection::wellRecord(Table table) const {
  if (table == Table::Characters) return document_.recordOfRow(table, state_.selectedCharacterRow);
  return document_.recordOfRow(table, state_.selectedLayerRow);
}


int64_t Selection::insertionRow(Table table) const {
  return table == Table::Characters ? insertionRowOf(document_.list().size(), state_.selectedCharacterRow)
                                    : insertionRowOf(document_.rowCount(Table::Layers), state_.selectedLayerRow);
}

int64_t Selection::removalRow(Table table) const {
  return table == Table::Characters ? removalRowOf(document_.list().size(), state_.selectedCharacterRow)
                                    : removalRowOf(document_.rowCount(Table::Layers), state_.selectedLayerRow);
}

}  // namespace charstack
