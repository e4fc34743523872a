#include "controller/init_layer.hpp"

#include <algorithm>
#include <charconv>

#include "controller/commands.hpp"
#include "model/names.hpp"
#include "platform/text.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {

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

// A depth as typed: a whole number from 0 to 999, white space around it allowed.
std::optional<int64_t> typedDepth(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < 0 || value >= 1000) return std::nullopt;
  return value;
}

}  // namespace

RowDictionary characterRow(const Character& character) {
  return {character.name, text::formatLong(character.value), std::nullopt, character.image};
}

RowDictionary layerRow(const Layer& layer) {
  return {layer.name, text::formatLong(layer.value), text::formatInt(layer.visible), layer.image};
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
  readOnly_ = false;
  // An interrupted save is finished, and what a killed save left is removed, before anything is read.
  LoadResult loaded = openProject(folder_, true, reading_);
  interruptedSaveCompleted_ = loaded.interruptedSaveCompleted;
  loadProblems_ = std::move(loaded.problems);
  state_.unreadableImageFiles = std::move(loaded.unreadableImageFiles);
  state_.knownImageFiles = std::move(loaded.knownImageFiles);
  state_.dataFileStamp = loaded.dataFileStamp;
  state_.dataFileUnreadable = loaded.dataFileUnreadable;
  state_.dataFileWithoutRecords = loaded.dataFileWithoutRecords;
  state_.dataFileForeign = loaded.dataFileForeign;
  state_.imageFolderNames = std::move(loaded.imageFolderNames);
  state_.imageFolderStamp = loaded.imageFolderStamp;
  notifyRows(Table::Characters, TableObserver::Change::Reset, 0, 0, [&] { list_ = std::move(loaded.list); });
  // The layers table shows the first character's layers, the character selection row 0 names.
  showLayersOf(list_.empty() ? -1 : 0);
  notifySelection();
  takeSnapshot();
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
  showLayersOf(state_.selectedCharacterRow);
  notifySelection();
}

void InitLayer::TV2sgl() {
  state_.selectedLayerRow = TV2 ? TV2->clickedRow() : -1;
  state_.moveLayer = true;
  state_.moveCharacter = false;
  notifySelection();
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

void InitLayer::insert1() {
  const int64_t p = insertionRow(list_.size(), state_.selectedCharacterRow);
  history_.push(RecordsCommand::inserting(*this, QT_TRANSLATE_NOOP("Command", "Insert Character"), RecordAt{p, -1},
                                          {makeNewCharacter()}, {}));
  if (AC1) AC1->setSelectionIndex(NoSelection);
}

void InitLayer::insert2() { insertLayers({makeNewLayer()}); }

bool InitLayer::insertLayers(std::vector<Layer> layers, std::string stepName) {
  const int64_t characterRow = state_.selectedCharacterRow;
  if (list_.empty() || characterRow < 0 || !list_.characterAtRow(characterRow) || layers.empty()) return false;
  // The layers table may list another character's layers (after a character was inserted or removed):
  // it shows the target's own layers before the new ones go in among them.
  if (layerTableRow_ != characterRow) showLayersOf(characterRow);
  const int64_t p = insertionRow(rowCount(Table::Layers), state_.selectedLayerRow);
  const char* text = layers.size() == 1 ? QT_TRANSLATE_NOOP("Command", "Insert Layer")
                                        : QT_TRANSLATE_NOOP("Command", "Insert Layers");
  auto* command = RecordsCommand::inserting(*this, text, RecordAt{characterRow, p}, {}, std::move(layers));
  if (!stepName.empty()) command->setText(QString::fromStdString(stepName));
  history_.push(command);
  if (AC2) AC2->setSelectionIndex(NoSelection);
  return true;
}

void InitLayer::remove1() {
  const int64_t k = removalRow(list_.size(), state_.selectedCharacterRow);
  if (k < 0) return;
  history_.push(RecordsCommand::removing(*this, QT_TRANSLATE_NOOP("Command", "Remove Character"), RecordAt{k, -1}, 1));
  if (AC1) AC1->setSelectionIndex(NoSelection);
  if (AC2) AC2->setSelectionIndex(NoSelection);
}

void InitLayer::remove2() {
  if (rowCount(Table::Layers) == 0) return;
  const int64_t characterRow = std::max<int64_t>(state_.selectedCharacterRow, 0);
  if (!list_.characterAtRow(characterRow)) return;
  if (layerTableRow_ != characterRow) {
    showLayersOf(characterRow);
    if (rowCount(Table::Layers) == 0) return;
  }
  const int64_t m = removalRow(rowCount(Table::Layers), state_.selectedLayerRow);
  if (m < 0) return;
  history_.push(
      RecordsCommand::removing(*this, QT_TRANSLATE_NOOP("Command", "Remove Layer"), RecordAt{characterRow, m}, 1));
  if (AC2) AC2->setSelectionIndex(NoSelection);
}

std::optional<std::string> InitLayer::editCell(Table table, int64_t row, Field field, const std::string& text) {
  const std::optional<RecordAt> at = recordOfRow(table, row);
  if (!at) return std::string("there is no such row");
  const bool character = table == Table::Characters;
  RecordFields value = fieldsOf(*at);
  switch (field) {
    case Field::Name:
      if (NameProblem problem = checkName(text); problem != NameProblem::None) return describeNameProblem(problem);
      value.name = text;
      changeProperty(*at, Property::Name, value,
                     character ? QT_TRANSLATE_NOOP("Command", "Rename Character")
                               : QT_TRANSLATE_NOOP("Command", "Rename Layer"));
      break;
    case Field::Value: {
      const std::optional<int64_t> depth = typedDepth(text);
      if (!depth) return std::string("a depth is a whole number from 0 to 999");
      value.value = *depth;
      changeProperty(*at, Property::Depth, value,
                     character ? QT_TRANSLATE_NOOP("Command", "Change Depth of Character")
                               : QT_TRANSLATE_NOOP("Command", "Change Depth of Layer"));
      break;
    }
    case Field::Visible:
      if (character) return std::string("a character has no visible column");
      value.visible = text::intValue(text) > 0 ? 1 : 0;
      changeProperty(*at, Property::Visible, value,
                     value.visible ? QT_TRANSLATE_NOOP("Command", "Show Layer") : QT_TRANSLATE_NOOP("Command", "Hide Layer"));
      break;
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
  return {state_.selectedCharacterRow, state_.selectedLayerRow, state_.moveCharacter, state_.moveLayer, layerTableRow_};
}

void InitLayer::restoreSelection(const Selection& s) {
  state_.selectedCharacterRow = s.characterRow;
  state_.selectedLayerRow = s.layerRow;
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
