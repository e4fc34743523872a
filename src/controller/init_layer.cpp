#include "controller/init_layer.hpp"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <charconv>
#include <limits>

#include "controller/commands.hpp"
#include "model/names.hpp"
#include "platform/text.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {

// Texts for the user made here: refusals of cell edits, load problems, default names.
std::string translated(const char* context, const char* text) {
  return QCoreApplication::translate(context, text).toStdString();
}

std::string refusal(NameProblem problem) {
  switch (problem) {
    case NameProblem::None:
      return {};
    case NameProblem::BreaksFormat:
      return translated("Edit", QT_TRANSLATE_NOOP("Edit",
                                                  "a name cannot contain \",\", a line break, \"####\" or "
                                                  "\"$$$$\", nor start with a byte-order mark"));
    case NameProblem::UnsafePath:
      return translated("Edit", QT_TRANSLATE_NOOP("Edit", "a name cannot contain \"/\" or a null character"));
    case NameProblem::Blank:
      return translated("Edit", QT_TRANSLATE_NOOP("Edit", "a name cannot be empty"));
    case NameProblem::TooLong: {
      const char* text =
          QT_TRANSLATE_NOOP("Edit", "the name is too long for an image file name (at most %1 bytes)");
      return QCoreApplication::translate("Edit", text).arg(kMaxNameBytes).toStdString();
    }
  }
  return {};
}

// A step's name for one record or for several.
const char* stepFor(size_t count, const char* one, const char* many) { return count == 1 ? one : many; }

// The rows, sorted, without repeats or rows outside 0..rows-1.
std::vector<int64_t> validRows(std::vector<int64_t> selected, int64_t rows) {
  std::sort(selected.begin(), selected.end());
  selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
  std::erase_if(selected, [rows](int64_t r) { return r < 0 || r >= rows; });
  return selected;
}

// Where an insertion goes, for a table of `rows` rows and a selection row: an empty table takes row 0,
// no selection appends, otherwise the new record takes the selected row (past the end appends).
int64_t insertionRow(int64_t rows, int64_t selection) {
  if (rows == 0) return 0;
  if (selection < 0) return rows;
  return std::min(selection, rows);
}

// Which row a removal takes: the last one when nothing is selected; -1 when the row names nothing.
int64_t removalRow(int64_t rows, int64_t selection) {
  int64_t row = selection < 0 ? rows - 1 : selection;
  return row < rows ? row : -1;
}

// A whole number as typed, white space and a plus sign before it allowed; none when the text is
// anything else or the number does not fit T.
template <typename T>
std::optional<T> typedNumber(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  T value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A depth as typed: a whole number from 0 to 999.
std::optional<int64_t> typedDepth(std::string_view text) {
  const std::optional<int64_t> value = typedNumber<int64_t>(text);
  return value && *value >= 0 && *value < 1000 ? value : std::nullopt;
}

// A position as typed: a signed 32-bit whole number.
std::optional<int32_t> typedPosition(std::string_view text) { return typedNumber<int32_t>(text); }

}  // namespace

RowDictionary characterRow(const Character& character) {
  return {character.name,  text::formatLong(character.value), std::nullopt,
          character.image, text::formatInt(character.x),      text::formatInt(character.y)};
}

RowDictionary layerRow(const Layer& layer) {
  return {layer.name,  text::formatLong(layer.value), text::formatInt(layer.visible),
          layer.image, text::formatInt(layer.x),      text::formatInt(layer.y)};
}

std::string InitLayer::newRecordName(Table table) {
  return table == Table::Characters ? translated("Record", QT_TRANSLATE_NOOP("Record", "New Character"))
                                    : translated("Record", QT_TRANSLATE_NOOP("Record", "New Layer"));
}

InitLayer::InitLayer(CharacterList& list, EditorState& state, ProjectFolder folder, TableObserver* observer,
                     PictureReading reading)
    : list_(list), state_(state), folder_(std::move(folder)), reading_(reading) {
  if (observer) addObserver(observer);
  state_.pendingImageDeletions = {};
  loadData();
}

InitLayer::~InitLayer() {
  // The commands refer to this controller: they go first.
  history_.clear();
}

void InitLayer::awakeFromNib() {
  if (TV1) TV1->setAction([this] { TV1sgl(); });
  if (TV2) TV2->setAction([this] { TV2sgl(); });
}

void InitLayer::addObserver(TableObserver* observer) { observers_.push_back(observer); }

void InitLayer::removeObserver(TableObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void InitLayer::notifyRows(Table table, TableObserver::Change change, int64_t first, int64_t count,
                           const std::function<void()>& apply) {
  for (TableObserver* o : observers_) o->beginRows(table, change, first, count);
  apply();
  for (TableObserver* o : observers_) o->endRows(table);
}

void InitLayer::notifyChanged(Table table, int64_t first, int64_t last) {
  for (TableObserver* o : observers_) o->rowsChanged(table, first, last);
}

void InitLayer::notifySelection() {
  for (TableObserver* o : observers_) o->selectionChanged();
}

void InitLayer::notifyRecord(const RecordAt& at) {
  if (at.layerRow < 0) notifyChanged(Table::Characters, at.characterRow, at.characterRow);
  else if (at.characterRow == layerTableRow_) notifyChanged(Table::Layers, at.layerRow, at.layerRow);
}

void InitLayer::resetTables() {
  for (Table table : {Table::Characters, Table::Layers})
    notifyRows(table, TableObserver::Change::Reset, 0, 0, [] {});
  notifySelection();
}

void InitLayer::loadData() {
  // The window that opens a project first owns it; another one may still read it.
  lock_ = std::make_unique<ProjectLock>(folder_.path());
  ownership_ = lock_->own();
  lockProblem_ = lock_->unusable();
  withoutLock_ = false;
  // An interrupted save is finished, and what a killed save left is removed, before anything is read.
  LoadResult loaded = openProject(folder_, true, reading_);
  interruptedSaveCompleted_ = loaded.interruptedSaveCompleted;
  recoveryStopped_ = loaded.recoveryStopped;
  readOnly_ = recoveryStopped_;
  loadProblems_ = std::move(loaded.problems);
  adoptLoadedFiles(loaded, state_);
  notifyRows(Table::Characters, TableObserver::Change::Reset, 0, 0, [&] { list_ = std::move(loaded.list); });
  // The layers table shows the first character's layers, the character selection row 0 names.
  showLayersOf(list_.empty() ? -1 : 0);
  notifySelection();
  takeSnapshot();
  noteDepthsNeverDrawn();
}

void InitLayer::noteDepthsNeverDrawn() {
  forEachRecord(list_, [&](const auto& r, int64_t, int64_t k, int64_t m) {
    if (r.value >= 0 && r.value <= 999) return;
    const QString name = QString::fromStdString(r.name);
    const QString who = m < 0
                            ? QCoreApplication::translate("Load", "character %1 \"%2\"").arg(k + 1).arg(name)
                            : QCoreApplication::translate("Load", "layer %1 \"%2\" of character %3 \"%4\"")
                                  .arg(m + 1)
                                  .arg(name)
                                  .arg(k + 1)
                                  .arg(QString::fromStdString(list_.characters[static_cast<size_t>(k)].name));
    loadProblems_.push_back(
        {kDataFileName,
         QCoreApplication::translate("Load", "%1: depth %2 is never drawn (only depths from 0 to 999 are)")
             .arg(who)
             .arg(r.value)
             .toStdString()});
  });
}

std::vector<Problem> InitLayer::takePictureChecks(const std::vector<PictureCheck>& checks) {
  // The files found to be no picture, and the picture the open gave them.
  std::unordered_map<std::string, ImageRef> failed;
  for (const PictureCheck& c : checks)
    if (auto known = state_.knownImageFiles.find(c.fileName); !c.problem.empty() && known != state_.knownImageFiles.end())
      failed.emplace(c.fileName, known->second.image);
  std::vector<Problem> problems;
  filesChangedSinceSave_ = true;
  for (const RecordAt& at : applyPictureChecks(checks, list_, state_.knownImageFiles, state_.unreadableImageFiles, problems))
    notifyRecord(at);
  // What the open left on disk has no picture there either.
  forEachRecord(saved_, [&](auto& r, int64_t number, auto...) {
    auto found = failed.find(imageFileName(r.name, number));
    if (found != failed.end() && r.image == found->second) r.image = nullptr;
  });
  savedPictures_.clear();
  loadProblems_.insert(loadProblems_.end(), problems.begin(), problems.end());
  return problems;
}

void InitLayer::openFolder(ProjectFolder folder) {
  history_.clear();
  notifyRows(Table::Layers, TableObserver::Change::Reset, 0, 0, [&] { layerTableRow_ = -1; });
  notifyRows(Table::Characters, TableObserver::Change::Reset, 0, 0, [&] { list_ = CharacterList{}; });
  state_ = EditorState{};
  gesture_.reset(), gestureAt_.reset();
  seen_.clear();
  seenDataFile_.reset();
  folder_ = std::move(folder);
  loadData();
}

SaveReport InitLayer::saveData(const SaveOptions& options) {
  if (readOnly_) {
    SaveReport report;
    report.refused = true;
    report.problems.push_back({"", "the project is open read-only in this window"});
    return report;
  }
  // The records whose pictures the save takes from files under their new names: steps of the history.
  SaveOptions saving = options;
  saving.withoutLock = withoutLock_;
  saving.modelUnchanged = !hasUnsavedChanges() && !filesChangedSinceSave_;
  std::vector<ImageRef> before;
  if (!saving.modelUnchanged) forEachRecord(list_, [&](const auto& r, auto...) { before.push_back(r.image); });
  SaveReport report = saveProject(list_, state_, folder_, saving);
  if (!report.picturesTaken.empty()) {
    // One step for all the pictures the save took.
    history_.beginMacro(report.picturesTaken.size() == 1 ? stepText(QT_TRANSLATE_NOOP("Command", "Take Picture from Disk"))
                                                        : stepText(QT_TRANSLATE_NOOP("Command", "Take Pictures from Disk")));
    size_t i = 0;
    forEachRecord(list_, [&](const auto& r, int64_t number, int64_t k, int64_t m) {
      if (r.image == before[i++]) return;
      const std::string fileName = imageFileName(r.name, number);
      notifyRecord(RecordAt{k, m});
      history_.push(new TakePictureCommand(*this, RecordAt{k, m}, fileName, r.image,
                                           state_.knownImageFiles[fileName].stamp, true));
    });
    history_.endMacro();
  }
  if (!report.refused) ++saveCount_;  // the pending deletions were carried out
  seenDataFile_.reset();
  if (report.ok() && !saving.modelUnchanged) takeSnapshot();
  if (report.ok()) filesChangedSinceSave_ = false;
  return report;
}

SaveReport InitLayer::saveBtn(const SaveOptions& options) { return saveData(options); }

void InitLayer::showLayersOf(int64_t characterRow) {
  notifyRows(Table::Layers, TableObserver::Change::Reset, 0, 0, [&] {
    layerTableRow_ = characterRow >= 0 && characterRow < list_.size() ? characterRow : -1;
  });
}

void InitLayer::TV1sgl() {
  state_.previousCharacterRow = state_.selectedCharacterRow;
  if (list_.empty()) return;
  state_.moveCharacter = true;
  state_.moveLayer = false;
  state_.selectedCharacterRow = TV1 ? TV1->clickedRow() : -1;
  state_.selectedLayerRow = TV2 ? TV2->clickedRow() : -1;
  // No character selected: no layer either.
  if (state_.selectedCharacterRow < 0) state_.selectedLayerRow = -1;
  state_.selectedLayerRows.clear();
  showLayersOf(state_.selectedCharacterRow);
  notifySelection();
}

void InitLayer::TV2sgl() {
  state_.selectedLayerRow = TV2 ? TV2->clickedRow() : -1;
  state_.selectedLayerRows =
      TV2 ? validRows(TV2->selectedRows(), rowCount(Table::Layers)) : std::vector<int64_t>{};
  // A click that took its row out of the selection (Ctrl) leaves the last selected row current.
  const auto& rows = state_.selectedLayerRows;
  if (!rows.empty() && std::find(rows.begin(), rows.end(), state_.selectedLayerRow) == rows.end())
    state_.selectedLayerRow = rows.back();
  state_.moveLayer = true;
  state_.moveCharacter = false;
  notifySelection();
}

std::vector<int64_t> InitLayer::selectedLayers() const {
  const int64_t current = state_.selectedLayerRow, rows = rowCount(Table::Layers);
  const auto& extended = state_.selectedLayerRows;
  if (std::find(extended.begin(), extended.end(), current) != extended.end())
    return validRows(extended, rows);
  return current >= 0 && current < rows ? std::vector<int64_t>{current} : std::vector<int64_t>{};
}

int64_t InitLayer::rowCount(Table table) const {
  if (table == Table::Characters) return list_.size();
  const Character* shown = layerTableRow_ >= 0 ? list_.characterAtRow(layerTableRow_) : nullptr;
  return shown ? static_cast<int64_t>(shown->layers.size()) : 0;
}

std::optional<RecordAt> InitLayer::recordOfRow(Table table, int64_t row) const {
  if (row < 0 || row >= rowCount(table)) return std::nullopt;
  return table == Table::Characters ? RecordAt{row, -1} : RecordAt{layerTableRow_, row};
}

RowDictionary InitLayer::row(Table table, int64_t r) const {
  const std::optional<RecordAt> at = recordOfRow(table, r);
  if (!at) return {};
  const Character& c = list_.characters[static_cast<size_t>(at->characterRow)];
  return at->layerRow < 0 ? characterRow(c) : layerRow(c.layers[static_cast<size_t>(at->layerRow)]);
}

// ---- Inserting, removing, moving, copying ------------------------------------------------------------

InitLayer::Selection InitLayer::selecting(Table table, int64_t characterRow, int64_t first,
                                          int64_t count) const {
  Selection s;
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

int64_t InitLayer::layerOwner() {
  const int64_t k = state_.selectedCharacterRow;
  if (k < 0 || k >= list_.size()) return -1;
  // The layers table may list another character's layers: it shows the owner's before they change.
  if (layerTableRow_ != k) showLayersOf(k);
  return k;
}

bool InitLayer::putIn(Table table, RecordSet records, int64_t row, const char* step) {
  const size_t count = table == Table::Characters ? records.characters.size() : records.layers.size();
  const int64_t owner = table == Table::Characters ? -1 : layerOwner();
  if (count == 0 || (table == Table::Layers && owner < 0)) return false;
  row = std::clamp<int64_t>(row, 0, rowCount(table));
  auto* command = RecordsCommand::inserting(
      *this, step, RecordAt{table == Table::Characters ? row : owner, table == Table::Characters ? -1 : row},
      std::move(records.characters), std::move(records.layers));
  command->selectAfter(selecting(table, owner, row, static_cast<int64_t>(count)));
  history_.push(command);
  return true;
}

bool InitLayer::takeOut(Table table, std::vector<int64_t> rows, const char* step) {
  const int64_t owner = table == Table::Characters ? -1 : layerOwner();
  rows = validRows(std::move(rows), rowCount(table));
  if (rows.empty()) return false;
  // The record that comes to the first row taken, or the one before it when none comes.
  const int64_t left = rowCount(table) - static_cast<int64_t>(rows.size());
  const Selection after = selecting(table, owner, std::min(rows.front(), left - 1), 1);
  // From the last row up: the rows above keep their numbers.
  history_.beginMacro(stepText(step));
  for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
    auto* command = RecordsCommand::removing(
        *this, step, table == Table::Characters ? RecordAt{*r, -1} : RecordAt{owner, *r}, 1);
    if (r + 1 == rows.rend()) command->selectAfter(after);
    history_.push(command);
  }
  history_.endMacro();
  return true;
}

void InitLayer::insert1() {
  putIn(Table::Characters, RecordSet{{newCharacter()}, {}},
        insertionRow(list_.size(), state_.selectedCharacterRow),
        QT_TRANSLATE_NOOP("Command", "Insert Character"));
}

void InitLayer::insert2() { insertLayers({newLayer()}); }

bool InitLayer::insertLayers(std::vector<Layer> layers) {
  if (layers.empty() || layerOwner() < 0) return false;
  const char* step = stepFor(layers.size(), QT_TRANSLATE_NOOP("Command", "Insert Layer"),
                             QT_TRANSLATE_NOOP("Command", "Insert Layers"));
  return putIn(Table::Layers, RecordSet{{}, std::move(layers)},
               insertionRow(rowCount(Table::Layers), state_.selectedLayerRow), step);
}

void InitLayer::remove1() {
  const int64_t k = removalRow(list_.size(), state_.selectedCharacterRow);
  if (k >= 0) takeOut(Table::Characters, {k}, QT_TRANSLATE_NOOP("Command", "Remove Character"));
}

void InitLayer::remove2() {
  if (layerOwner() < 0 || rowCount(Table::Layers) == 0) return;
  std::vector<int64_t> rows = selectedLayers();
  if (rows.empty()) rows = {removalRow(rowCount(Table::Layers), state_.selectedLayerRow)};
  takeOut(Table::Layers, rows,
          stepFor(rows.size(), QT_TRANSLATE_NOOP("Command", "Remove Layer"),
                  QT_TRANSLATE_NOOP("Command", "Remove Layers")));
}

bool InitLayer::canAct(Action action, Table table) const {
  const bool character = state_.selectedCharacterRow >= 0 && state_.selectedCharacterRow < list_.size();
  if (table == Table::Characters) {
    const int64_t k = state_.selectedCharacterRow;
    switch (action) {
      case Action::Insert:
        return true;
      case Action::Remove:
        return !list_.empty();
      case Action::MoveUp:
        return character && k > 0;
      case Action::MoveDown:
        return character && k + 1 < list_.size();
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
      static_cast<int64_t>(list_.characters[static_cast<size_t>(state_.selectedCharacterRow)].layers.size());
  const std::vector<int64_t> rows =
      layerTableRow_ == state_.selectedCharacterRow ? selectedLayers() : std::vector<int64_t>{};
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

bool InitLayer::moveSelected(Table table, int direction) {
  if (!canAct(direction < 0 ? Action::MoveUp : Action::MoveDown, table)) return false;
  const std::vector<int64_t> rows =
      table == Table::Characters ? std::vector<int64_t>{state_.selectedCharacterRow} : selectedLayers();
  std::vector<int64_t> order(static_cast<size_t>(rowCount(table)));
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int64_t>(i);
  // Each selected record changes places with its neighbour; from the far end, so that a run of
  // selected records moves together.
  auto swapWithNeighbour = [&](int64_t r) {
    std::swap(order[static_cast<size_t>(r)], order[static_cast<size_t>(r + direction)]);
  };
  if (direction < 0)
    std::for_each(rows.begin(), rows.end(), swapWithNeighbour);
  else
    std::for_each(rows.rbegin(), rows.rend(), swapWithNeighbour);
  const bool character = table == Table::Characters;
  const char* up = character ? QT_TRANSLATE_NOOP("Command", "Move Character Up")
                             : stepFor(rows.size(), QT_TRANSLATE_NOOP("Command", "Move Layer Up"),
                                       QT_TRANSLATE_NOOP("Command", "Move Layers Up"));
  const char* down = character ? QT_TRANSLATE_NOOP("Command", "Move Character Down")
                               : stepFor(rows.size(), QT_TRANSLATE_NOOP("Command", "Move Layer Down"),
                                         QT_TRANSLATE_NOOP("Command", "Move Layers Down"));
  auto* command =
      new ReorderCommand(*this, direction < 0 ? up : down, character ? -1 : layerTableRow_, std::move(order));
  // The moved records stay selected.
  Selection after = selection();
  if (character) {
    after.characterRow += direction;
    after.layerTable = after.characterRow;
  } else {
    after.layerRow = state_.selectedLayerRow + direction;
    after.layerRows.clear();
    for (int64_t r : rows) after.layerRows.push_back(r + direction);
  }
  command->selectAfter(after);
  history_.push(command);
  return true;
}

bool InitLayer::moveRows(Table table, std::vector<int64_t> rows, int64_t destination) {
  const bool character = table == Table::Characters;
  if (!character && layerOwner() < 0) return false;
  const int64_t count = rowCount(table);
  rows = validRows(std::move(rows), count);
  if (rows.empty() || (character && rows.size() != 1)) return false;
  destination = std::clamp<int64_t>(destination, 0, count);
  // The rows that stay, with the moved ones put in before the row that was at `destination`.
  std::vector<int64_t> order;
  const auto moved = [&](int64_t r) { return std::binary_search(rows.begin(), rows.end(), r); };
  for (int64_t r = 0; r < destination; ++r)
    if (!moved(r)) order.push_back(r);
  const int64_t first = static_cast<int64_t>(order.size());
  order.insert(order.end(), rows.begin(), rows.end());
  for (int64_t r = destination; r < count; ++r)
    if (!moved(r)) order.push_back(r);
  bool same = true;
  for (size_t i = 0; i < order.size(); ++i) same = same && order[i] == static_cast<int64_t>(i);
  if (same) return false;
  auto* command = new ReorderCommand(*this,
                                     character ? QT_TRANSLATE_NOOP("Command", "Reorder Characters")
                                               : QT_TRANSLATE_NOOP("Command", "Reorder Layers"),
                                     character ? -1 : layerTableRow_, std::move(order));
  command->selectAfter(selecting(table, layerTableRow_, first, static_cast<int64_t>(rows.size())));
  history_.push(command);
  return true;
}

RecordSet InitLayer::copyRecords(Table table) const {
  RecordSet records;
  if (!canAct(Action::Copy, table)) return records;
  const Character& c = list_.characters[static_cast<size_t>(state_.selectedCharacterRow)];
  if (table == Table::Characters)
    records.characters.push_back(c);
  else
    for (int64_t r : selectedLayers()) records.layers.push_back(c.layers[static_cast<size_t>(r)]);
  forgetFiles(records);
  return records;
}

bool InitLayer::duplicate(Table table) {
  RecordSet records = copyRecords(table);
  if (records.empty()) return false;
  const bool character = table == Table::Characters;
  const int64_t after = character ? state_.selectedCharacterRow : selectedLayers().back();
  const char* step = character
                         ? QT_TRANSLATE_NOOP("Command", "Duplicate Character")
                         : stepFor(records.layers.size(), QT_TRANSLATE_NOOP("Command", "Duplicate Layer"),
                                   QT_TRANSLATE_NOOP("Command", "Duplicate Layers"));
  return putIn(table, std::move(records), after + 1, step);
}

RecordSet InitLayer::cut(Table table) {
  RecordSet records = copyRecords(table);
  if (records.empty()) return records;
  if (table == Table::Characters)
    takeOut(table, {state_.selectedCharacterRow}, QT_TRANSLATE_NOOP("Command", "Cut Character"));
  else
    takeOut(table, selectedLayers(),
            stepFor(records.layers.size(), QT_TRANSLATE_NOOP("Command", "Cut Layer"),
                    QT_TRANSLATE_NOOP("Command", "Cut Layers")));
  return records;
}

int64_t InitLayer::pasteRow(Table table, std::optional<int64_t> row) const {
  if (row && *row >= 0) return *row;
  if (table == Table::Characters) {
    const int64_t k = state_.selectedCharacterRow;
    return k >= 0 && k < list_.size() ? k + 1 : list_.size();
  }
  const std::vector<int64_t> rows = selectedLayers();
  return rows.empty() ? rowCount(Table::Layers) : rows.back() + 1;
}

bool InitLayer::paste(RecordSet records, std::optional<int64_t> row) {
  forgetFiles(records);
  if (!records.characters.empty()) {
    const char* step = stepFor(records.characters.size(), QT_TRANSLATE_NOOP("Command", "Paste Character"),
                               QT_TRANSLATE_NOOP("Command", "Paste Characters"));
    return putIn(Table::Characters, std::move(records), pasteRow(Table::Characters, row), step);
  }
  if (layerOwner() < 0) return false;
  const char* step = stepFor(records.layers.size(), QT_TRANSLATE_NOOP("Command", "Paste Layer"),
                             QT_TRANSLATE_NOOP("Command", "Paste Layers"));
  return putIn(Table::Layers, std::move(records), pasteRow(Table::Layers, row), step);
}

bool InitLayer::insertPictures(Table table, std::vector<NamedPicture> pictures, std::optional<int64_t> row) {
  if (pictures.empty()) return false;
  // Layers need a character to belong to; without one, the pictures become characters.
  if (table == Table::Layers && layerOwner() < 0) table = Table::Characters, row.reset();
  RecordSet records;
  for (NamedPicture& p : pictures) {
    std::string name =
        !p.name.empty() && checkName(p.name) == NameProblem::None ? std::move(p.name) : newRecordName(table);
    if (table == Table::Characters) {
      records.characters.push_back(makeNewCharacter(std::move(name)));
      records.characters.back().image = std::move(p.image);
    } else {
      records.layers.push_back(makeNewLayer(std::move(name)));
      records.layers.back().visible = 1;
      records.layers.back().image = std::move(p.image);
    }
  }
  const bool character = table == Table::Characters;
  return putIn(table, std::move(records), pasteRow(table, row),
               character
                   ? stepFor(pictures.size(), QT_TRANSLATE_NOOP("Command", "Add Character from Picture"),
                             QT_TRANSLATE_NOOP("Command", "Add Characters from Pictures"))
                   : stepFor(pictures.size(), QT_TRANSLATE_NOOP("Command", "Add Layer from Picture"),
                             QT_TRANSLATE_NOOP("Command", "Add Layers from Pictures")));
}

bool InitLayer::showHideSelected() {
  if (!canAct(Action::ShowHide, Table::Layers)) return false;
  const std::vector<int64_t> rows = selectedLayers();
  const Character& c = list_.characters[static_cast<size_t>(layerTableRow_)];
  const bool show = std::any_of(rows.begin(), rows.end(),
                                [&](int64_t r) { return c.layers[static_cast<size_t>(r)].visible == 0; });
  history_.beginMacro(stepText(show ? stepFor(rows.size(), QT_TRANSLATE_NOOP("Command", "Show Layer"),
                                              QT_TRANSLATE_NOOP("Command", "Show Layers"))
                                    : stepFor(rows.size(), QT_TRANSLATE_NOOP("Command", "Hide Layer"),
                                              QT_TRANSLATE_NOOP("Command", "Hide Layers"))));
  for (int64_t r : rows) {
    RecordFields value = fieldsOf({layerTableRow_, r});
    value.visible = show ? 1 : 0;
    changeProperty({layerTableRow_, r}, Property::Visible, value, QT_TRANSLATE_NOOP("Command", "Show Layer"));
  }
  history_.endMacro();
  return true;
}

std::optional<std::string> InitLayer::editCell(Table table, int64_t row, Field field, const std::string& text) {
  const std::optional<RecordAt> at = recordOfRow(table, row);
  if (!at) return translated("Edit", QT_TRANSLATE_NOOP("Edit", "there is no such row"));
  const bool character = table == Table::Characters;
  RecordFields value = fieldsOf(*at);
  switch (field) {
    case Field::Name:
      if (NameProblem problem = checkTypedName(text); problem != NameProblem::None) return refusal(problem);
      value.name = text;
      changeProperty(*at, Property::Name, value,
                     character ? QT_TRANSLATE_NOOP("Command", "Rename Character")
                               : QT_TRANSLATE_NOOP("Command", "Rename Layer"));
      break;
    case Field::Value: {
      const std::optional<int64_t> depth = typedDepth(text);
      if (!depth)
        return translated("Edit", QT_TRANSLATE_NOOP("Edit", "a depth is a whole number from 0 to 999"));
      value.value = *depth;
      changeProperty(*at, Property::Depth, value,
                     character ? QT_TRANSLATE_NOOP("Command", "Change Depth of Character")
                               : QT_TRANSLATE_NOOP("Command", "Change Depth of Layer"));
      break;
    }
    case Field::Visible:
      if (character)
        return translated("Edit", QT_TRANSLATE_NOOP("Edit", "a character has no visible column"));
      value.visible = text::intValue(text) > 0 ? 1 : 0;
      changeProperty(*at, Property::Visible, value,
                     value.visible ? QT_TRANSLATE_NOOP("Command", "Show Layer") : QT_TRANSLATE_NOOP("Command", "Hide Layer"));
      break;
    case Field::X:
    case Field::Y: {
      const std::optional<int32_t> position = typedPosition(text);
      if (!position) {
        // The bounds as the interface language writes numbers, with its thousands separators.
        QLocale locale;
        locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
        const char* range = QT_TRANSLATE_NOOP("Edit", "a position is a whole number from %1 to %2");
        return QCoreApplication::translate("Edit", range)
            .arg(locale.toString(std::numeric_limits<int32_t>::min()), locale.toString(std::numeric_limits<int32_t>::max()))
            .toStdString();
      }
      (field == Field::X ? value.x : value.y) = *position;
      changeProperty(*at, Property::Position, value,
                     character ? QT_TRANSLATE_NOOP("Command", "Move Character")
                               : QT_TRANSLATE_NOOP("Command", "Move Layer"));
      break;
    }
  }
  return std::nullopt;
}

std::optional<RecordAt> InitLayer::wellRecord(Table table) const {
  if (table == Table::Characters) return recordOfRow(table, state_.selectedCharacterRow);
  return recordOfRow(table, state_.selectedLayerRow);
}

ImageRef InitLayer::wellPicture(Table table) const {
  const std::optional<RecordAt> at = wellRecord(table);
  return at ? fieldsOf(*at).image : nullptr;
}

bool InitLayer::setPicture(Table table, ImageRef image) {
  const std::optional<RecordAt> at = wellRecord(table);
  if (!at) return false;
  RecordFields value = fieldsOf(*at);
  value.image = image;
  const bool character = table == Table::Characters;
  changeProperty(*at, Property::Picture, value,
                 image ? (character ? QT_TRANSLATE_NOOP("Command", "Set Picture of Character")
                                    : QT_TRANSLATE_NOOP("Command", "Set Picture of Layer"))
                       : (character ? QT_TRANSLATE_NOOP("Command", "Clear Picture of Character")
                                    : QT_TRANSLATE_NOOP("Command", "Clear Picture of Layer")));
  return true;
}

std::optional<RecordAt> InitLayer::dragRecord() const { return dragTarget(list_, state_); }

void InitLayer::beginGesture() {
  gestureAt_ = dragRecord();
  gesture_.reset();
  if (gestureAt_) gesture_ = fieldsOf(*gestureAt_);
}

void InitLayer::endGesture() {
  if (!gesture_ || !gestureAt_) return;
  const RecordFields before = *std::exchange(gesture_, std::nullopt);
  const RecordAt at = *gestureAt_;
  const RecordFields after = fieldsOf(at);
  if (before.x == after.x && before.y == after.y) return;
  notifyRecord(at);
  history_.push(new PropertyCommand(*this, at.layerRow < 0 ? QT_TRANSLATE_NOOP("Command", "Move Character")
                                                           : QT_TRANSLATE_NOOP("Command", "Move Layer"),
                                    at, Property::Position, before, after, false, true));
}

void InitLayer::nudge(int32_t dx, int32_t dy) {
  const std::optional<RecordAt> at = dragRecord();
  if (!at) return;
  auto move = [](int32_t v, int32_t d) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{v} + d, INT32_MIN, INT32_MAX));
  };
  RecordFields value = fieldsOf(*at);
  value.x = move(value.x, dx);
  value.y = move(value.y, dy);
  changeProperty(*at, Property::Position, value,
                 at->layerRow < 0 ? QT_TRANSLATE_NOOP("Command", "Move Character") : QT_TRANSLATE_NOOP("Command", "Move Layer"),
                 true);
}

void InitLayer::changeProperty(const RecordAt& at, Property property, RecordFields value, const char* step,
                               bool mergeable) {
  const RecordFields before = fieldsOf(at);
  const bool same = [&] {
    switch (property) {
      case Property::Name: return before.name == value.name;
      case Property::Depth: return before.value == value.value;
      case Property::Visible: return before.visible == value.visible;
      case Property::Picture: return before.image == value.image;
      case Property::Position: return before.x == value.x && before.y == value.y;
    }
    return true;
  }();
  if (!same) history_.push(new PropertyCommand(*this, step, at, property, before, std::move(value), mergeable, false));
}

// ---- What the commands change ----------------------------------------------------------------------

InitLayer::Selection InitLayer::selection() const {
  return {state_.selectedCharacterRow, state_.selectedLayerRow, state_.selectedLayerRows,
          state_.moveCharacter,        state_.moveLayer,        layerTableRow_};
}

void InitLayer::restoreSelection(const Selection& s) {
  state_.selectedCharacterRow = s.characterRow;
  state_.selectedLayerRow = s.layerRow;
  state_.selectedLayerRows = s.layerRows;
  state_.moveCharacter = s.moveCharacter;
  state_.moveLayer = s.moveLayer;
  if (s.layerTable != layerTableRow_) showLayersOf(s.layerTable);
  notifySelection();
}

RecordFields InitLayer::fieldsOf(const RecordAt& at) const {
  const Character* c = at.characterRow >= 0 ? list_.characterAtRow(at.characterRow) : nullptr;
  if (!c) return {};
  if (at.layerRow < 0) return {c->name, c->value, 0, c->image, c->x, c->y};
  const Layer* l = layerAtRow(*c, at.layerRow);
  if (!l) return {};
  return {l->name, l->value, l->visible, l->image, l->x, l->y};
}

void InitLayer::setProperty(const RecordAt& at, Property property, const RecordFields& f) {
  Character* c = at.characterRow >= 0 ? list_.characterAtRow(at.characterRow) : nullptr;
  if (!c) return;
  auto apply = [&](auto& r) {
    switch (property) {
      case Property::Name: r.name = f.name; break;
      case Property::Depth: r.value = f.value; break;
      case Property::Picture: r.image = f.image; break;
      case Property::Position: r.x = f.x, r.y = f.y; break;
      case Property::Visible:
        if constexpr (std::is_same_v<std::decay_t<decltype(r)>, Layer>) r.visible = f.visible;
        break;
    }
  };
  if (at.layerRow < 0) apply(*c);
  else if (Layer* l = layerAtRow(*c, at.layerRow)) apply(*l);
  notifyRecord(at);
}

void InitLayer::putRecords(const RecordAt& at, std::vector<Character> characters, std::vector<Layer> layers) {
  if (at.layerRow < 0) {
    const int64_t p = std::min(at.characterRow, list_.size());
    const auto count = static_cast<int64_t>(characters.size());
    notifyRows(Table::Characters, TableObserver::Change::Insert, p, count, [&] {
      list_.characters.insert(list_.characters.begin() + p, std::make_move_iterator(characters.begin()),
                              std::make_move_iterator(characters.end()));
      // The character whose layers the layers table lists has moved down.
      if (layerTableRow_ >= p) layerTableRow_ += count;
    });
    return;
  }
  Character* c = list_.characterAtRow(at.characterRow);
  if (!c || at.characterRow < 0) return;
  const int64_t p = std::min<int64_t>(at.layerRow, static_cast<int64_t>(c->layers.size()));
  auto insert = [&] {
    c->layers.insert(c->layers.begin() + p, std::make_move_iterator(layers.begin()), std::make_move_iterator(layers.end()));
  };
  if (at.characterRow == layerTableRow_)
    notifyRows(Table::Layers, TableObserver::Change::Insert, p, static_cast<int64_t>(layers.size()), insert);
  else
    insert();
}

void InitLayer::takeRecords(const RecordAt& at, int64_t count, std::vector<Character>* characters,
                            std::vector<Layer>* layers) {
  if (at.layerRow < 0) {
    if (at.characterRow < 0 || at.characterRow + count > list_.size()) return;
    notifyRows(Table::Characters, TableObserver::Change::Remove, at.characterRow, count, [&] {
      const auto first = list_.characters.begin() + at.characterRow;
      characters->assign(std::make_move_iterator(first), std::make_move_iterator(first + count));
      list_.characters.erase(first, first + count);
      if (layerTableRow_ >= at.characterRow + count) layerTableRow_ -= count;
      else if (layerTableRow_ >= at.characterRow) layerTableRow_ = -1;  // its character went (the table was reset)
    });
    return;
  }
  Character* c = at.characterRow >= 0 ? list_.characterAtRow(at.characterRow) : nullptr;
  if (!c || at.layerRow + count > static_cast<int64_t>(c->layers.size())) return;
  auto take = [&] {
    const auto first = c->layers.begin() + at.layerRow;
    layers->assign(std::make_move_iterator(first), std::make_move_iterator(first + count));
    c->layers.erase(first, first + count);
  };
  if (at.characterRow == layerTableRow_)
    notifyRows(Table::Layers, TableObserver::Change::Remove, at.layerRow, count, take);
  else
    take();
}

std::vector<std::string> InitLayer::filesOf(const RecordAt& at, int64_t count) const {
  // A character's file goes with the files of its layers, as the layers go with it.
  std::vector<std::string> files;
  forEachRecord(list_, [&](const auto& r, int64_t number, int64_t k, int64_t m) {
    const bool inside = at.layerRow < 0 ? k >= at.characterRow && k < at.characterRow + count
                                        : k == at.characterRow && m >= at.layerRow && m < at.layerRow + count;
    if (inside) files.push_back(imageFileName(r.name, number));
  });
  return files;
}

void InitLayer::reorder(int64_t characterRow, const std::vector<int64_t>& order) {
  auto permute = [&](auto& records) {
    auto old = std::move(records);
    records.clear();
    for (int64_t r : order) records.push_back(std::move(old[static_cast<size_t>(r)]));
  };
  // The rows that show another record now.
  int64_t first = -1, last = -1;
  for (size_t i = 0; i < order.size(); ++i)
    if (order[i] != static_cast<int64_t>(i)) last = static_cast<int64_t>(i), first = first < 0 ? last : first;
  if (characterRow < 0) {
    if (order.size() != list_.characters.size()) return;
    permute(list_.characters);
    // The layers table goes on listing the same character's layers.
    for (size_t i = 0; i < order.size() && layerTableRow_ >= 0; ++i)
      if (order[i] == layerTableRow_) {
        layerTableRow_ = static_cast<int64_t>(i);
        break;
      }
    if (first >= 0) notifyChanged(Table::Characters, first, last);
    return;
  }
  Character* c = list_.characterAtRow(characterRow);
  if (!c || order.size() != c->layers.size()) return;
  permute(c->layers);
  if (first >= 0 && characterRow == layerTableRow_) notifyChanged(Table::Layers, first, last);
}

void InitLayer::setDiskPicture(const std::string& fileName, const std::optional<EditorState::DiskImage>& disk) {
  if (disk) state_.knownImageFiles[fileName] = *disk;
  else state_.knownImageFiles.erase(fileName);
  // The disk and the editor agree on this picture again.
  if (ImageRef* saved = savedPictureOf(fileName); saved && disk) *saved = disk->image;
}

// ---- What a save would write -------------------------------------------------------------------------

ImageRef* InitLayer::savedPictureOf(const std::string& fileName) {
  if (savedPictures_.empty())
    forEachRecord(saved_, [&](auto& r, int64_t number, auto...) { savedPictures_.emplace(imageFileName(r.name, number), &r.image); });
  auto found = savedPictures_.find(fileName);
  return found != savedPictures_.end() ? found->second : nullptr;
}

void InitLayer::takeSnapshot() {
  filesChangedSinceSave_ = false;
  saved_ = list_;
  savedDeletions_ = state_.pendingImageDeletions;
  savedPictures_.clear();
}

bool InitLayer::hasUnsavedChanges() const {
  // The same records with the same fields write the same text and the same files (savedName aside,
  // which only saving changes).
  auto same = [](const auto& a, const auto& b) {
    return a.name == b.name && a.value == b.value && a.image == b.image && a.x == b.x && a.y == b.y;
  };
  if (list_.characters.size() != saved_.characters.size() || state_.pendingImageDeletions != savedDeletions_) return true;
  for (size_t k = 0; k < list_.characters.size(); ++k) {
    const Character &a = list_.characters[k], &b = saved_.characters[k];
    if (!same(a, b) || a.layers.size() != b.layers.size()) return true;
    for (size_t m = 0; m < a.layers.size(); ++m)
      if (!same(a.layers[m], b.layers[m]) || a.layers[m].visible != b.layers[m].visible) return true;
  }
  return false;
}

}  // namespace charstack
