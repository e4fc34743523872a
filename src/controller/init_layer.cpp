#include "controller/init_layer.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "model/names.hpp"
#include "platform/parallel.hpp"
#include "project/records.hpp"
#include "platform/text.hpp"

namespace charstack {

namespace {

// Where an insertion goes, for a mirror of `rows` rows and a selection row: an empty mirror takes
// row 0, no selection appends, otherwise the new record takes the selected row (past the end appends).
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

int32_t entryNumber(const std::optional<std::string>& entry) {
  return entry ? text::intValue(*entry) : 0;
}

template <typename T>
void assignIfDifferent(T& field, const T& value) {
  if (!(field == value)) field = value;
}

}  // namespace

RowDictionary characterRow(const Character& character) {
  RowDictionary row;
  row.name = character.name;
  row.value = text::formatLong(character.value);
  row.img = character.image;
  return row;
}

RowDictionary layerRow(const Layer& layer) {
  RowDictionary row;
  row.name = layer.name;
  row.value = text::formatLong(layer.value);
  row.visible = text::formatInt(layer.visible);
  row.img = layer.image;
  return row;
}

bool RowImageWell::hasRow() const { return row_ >= 0 && row_ < static_cast<int64_t>(mirror_.size()); }

ImageRef RowImageWell::image() const {
  return hasRow() ? mirror_[static_cast<size_t>(row_)].img : nullptr;
}

bool RowImageWell::setImage(ImageRef image) {
  if (!hasRow()) return false;
  mirror_[static_cast<size_t>(row_)].img = std::move(image);
  return true;
}

InitLayer::InitLayer(CharacterList& list, EditorState& state, ProjectFolder folder, TimerService& timers,
                     ChangeObserver* observer)
    : IV1(MA1, state.selectedCharacterRow),
      IV2(MA2, state.selectedLayerRow),
      list_(list),
      state_(state),
      folder_(std::move(folder)) {
  if (observer) addObserver(observer);
  timer_ = timers.scheduleRepeating(kTickInterval, [this] { EventLoop(); });
  MA1.clear();
  MA2.clear();
  state_.pendingImageDeletions = {};
  loadData();
}

InitLayer::~InitLayer() = default;

void InitLayer::awakeFromNib() {
  if (TV1) TV1->setAction([this] { TV1sgl(); });
  if (TV2) TV2->setAction([this] { TV2sgl(); });
}

void InitLayer::addObserver(ChangeObserver* observer) { observers_.push_back(observer); }

void InitLayer::removeObserver(ChangeObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void InitLayer::willChange(std::string_view key) {
  for (ChangeObserver* o : observers_) o->willChangeValueForKey(key);
}

void InitLayer::didChange(std::string_view key) {
  for (ChangeObserver* o : observers_) o->didChangeValueForKey(key);
}

void InitLayer::loadData() {
  // The window that opens a project first owns it; another one may still read it.
  lock_ = std::make_unique<ProjectLock>(folder_.path());
  ownership_ = lock_->own();
  readOnly_ = false;
  // An interrupted save is finished, and what a killed save left is removed, before anything is read.
  LoadResult loaded = openProject(folder_);
  interruptedSaveCompleted_ = loaded.interruptedSaveCompleted;
  loadProblems_ = std::move(loaded.problems);
  state_.unreadableImageFiles = std::move(loaded.unreadableImageFiles);
  state_.knownImageFiles = std::move(loaded.knownImageFiles);
  state_.dataFileStamp = loaded.dataFileStamp;
  state_.dataFileUnreadable = loaded.dataFileUnreadable;
  state_.dataFileWithoutRecords = loaded.dataFileWithoutRecords;
  state_.dataFileForeign = loaded.dataFileForeign;
  list_ = std::move(loaded.list);
  for (size_t k = 0; k < list_.characters.size(); ++k) {
    const Character& c = list_.characters[k];
    willChange("MA1");
    MA1.push_back(characterRow(c));
    didChange("MA1");
    if (k == 0) {
      for (const Layer& l : c.layers) {
        willChange("MA2");
        MA2.push_back(layerRow(l));
        didChange("MA2");
      }
      layerMirrorRow_ = 0;
    }
  }
  takeSnapshot();
}

void InitLayer::openFolder(ProjectFolder folder) {
  willChange("MA2");
  MA2.clear();
  didChange("MA2");
  willChange("MA1");
  MA1.clear();
  didChange("MA1");
  layerMirrorRow_ = -1;
  state_ = EditorState{};
  gesture_.reset();
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
  SaveReport report = saveProject(list_, state_, folder_, options);
  if (!report.picturesTaken.empty()) refreshPictures();
  if (!report.refused) ++saveCount_;  // the pending deletions were carried out
  seenDataFile_.reset();
  if (report.ok()) takeSnapshot();
  return report;
}

SaveReport InitLayer::saveBtn(const SaveOptions& options) { return saveData(options); }

void InitLayer::rebuildLayerMirror(int64_t characterRow) {
  willChange("MA2");
  MA2.clear();
  didChange("MA2");
  layerMirrorRow_ = -1;
  if (characterRow < 0) return;
  const Character* c = list_.characterAtRow(characterRow);
  if (!c) return;
  for (const Layer& l : c->layers) {
    RowDictionary row = layerRow(l);
    willChange("MA2");
    MA2.push_back(std::move(row));
    didChange("MA2");
  }
  layerMirrorRow_ = characterRow;
}

void InitLayer::TV1sgl() {
  state_.previousCharacterRow = state_.selectedCharacterRow;
  if (list_.empty()) return;
  state_.moveCharacter = true;
  state_.moveLayer = false;
  state_.selectedCharacterRow = TV1 ? TV1->clickedRow() : -1;
  state_.selectedLayerRow = TV2 ? TV2->clickedRow() : -1;
  rebuildLayerMirror(state_.selectedCharacterRow);
  if (state_.selectedCharacterRow != state_.previousCharacterRow) state_.layerSyncSuppressed = true;
}

void InitLayer::TV2sgl() {
  state_.selectedLayerRow = TV2 ? TV2->clickedRow() : -1;
  state_.moveLayer = true;
  state_.moveCharacter = false;
}

void InitLayer::EventLoop() {
  const int64_t characterRow = state_.selectedCharacterRow;
  if (characterRow < 0) {
    state_.selectedLayerRow = -1;
    return;
  }
  Character* character = list_.characterAtRow(characterRow);
  if (character && characterRow < static_cast<int64_t>(MA1.size())) {
    const RowDictionary& row = MA1[static_cast<size_t>(characterRow)];
    character->value = entryNumber(row.value);
    if (row.name) assignIfDifferent(character->name, *row.name);
    assignIfDifferent(character->image, IV1.image());
  }

  const int64_t layerRow = state_.selectedLayerRow;
  if (layerRow < 0) return;
  if (character && !state_.layerSyncSuppressed && layerMirrorRow_ == characterRow &&
      layerRow < static_cast<int64_t>(character->layers.size()) && layerRow < static_cast<int64_t>(MA2.size())) {
    Layer& layer = character->layers[static_cast<size_t>(layerRow)];
    const RowDictionary& row = MA2[static_cast<size_t>(layerRow)];
    if (row.name) assignIfDifferent(layer.name, *row.name);
    layer.value = entryNumber(row.value);
    assignIfDifferent(layer.image, IV2.image());
    layer.visible = entryNumber(row.visible) > 0 ? 1 : 0;
  }
  state_.layerSyncSuppressed = false;
}

void InitLayer::insert1() {
  int64_t p = insertionRow(static_cast<int64_t>(MA1.size()), state_.selectedCharacterRow);
  p = std::min(p, list_.size());
  auto it = list_.characters.insert(list_.characters.begin() + p, makeNewCharacter());
  RowDictionary row = characterRow(*it);
  willChange("MA1");
  MA1.insert(MA1.begin() + std::min<int64_t>(p, static_cast<int64_t>(MA1.size())), std::move(row));
  didChange("MA1");
  // The character whose layers MA2 lists has moved one row down.
  if (layerMirrorRow_ >= p) ++layerMirrorRow_;
  if (AC1) AC1->setSelectionIndex(NoSelection);
  Edit edit = startEdit(Edit::Kind::InsertCharacter, "Insert Character", RecordAt{p, -1});
  record(std::move(edit));
}

void InitLayer::insert2() { insertLayers({makeNewLayer()}); }

bool InitLayer::insertLayers(std::vector<Layer> layers) {
  const int64_t characterRow = state_.selectedCharacterRow;
  if (list_.empty() || characterRow < 0) return false;
  Character* target = list_.characterAtRow(characterRow);
  if (!target) return false;
  // The layers table may still list another character's layers (after a character was inserted or
  // removed): show the target's own layers before inserting among them. An empty table that is to
  // show a character without layers needs no rebuilding.
  if (layerMirrorRow_ != characterRow) {
    if (MA2.empty() && target->layers.empty())
      layerMirrorRow_ = characterRow;
    else
      rebuildLayerMirror(characterRow);
  }
  int64_t p = insertionRow(static_cast<int64_t>(MA2.size()), state_.selectedLayerRow);
  p = std::min(p, static_cast<int64_t>(target->layers.size()));
  const int64_t count = static_cast<int64_t>(layers.size());
  std::vector<RowDictionary> rows;
  for (const Layer& layer : layers) {
    rows.push_back(layerRow(layer));
    rows.back().visible.reset();  // a new layer's row has no "visible" entry; the sync tick reads that as 0
  }
  target->layers.insert(target->layers.begin() + p, std::make_move_iterator(layers.begin()),
                        std::make_move_iterator(layers.end()));
  willChange("MA2");
  MA2.insert(MA2.begin() + p, std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
  didChange("MA2");
  if (AC2) AC2->setSelectionIndex(NoSelection);
  Edit edit = startEdit(Edit::Kind::InsertLayer, count == 1 ? "Insert Layer" : "Insert Layers",
                        RecordAt{characterRow, p});
  edit.count = count;
  record(std::move(edit));
  return true;
}

void InitLayer::remove1() {
  const int64_t rows = static_cast<int64_t>(MA1.size());
  if (rows == 0) return;
  const int64_t k = removalRow(std::min(rows, list_.size()), state_.selectedCharacterRow);
  if (k < 0) return;
  Edit edit = startEdit(Edit::Kind::RemoveCharacter, "Remove Character", RecordAt{k, -1});
  takeOut(edit, true);

  willChange("MA1");
  MA1.erase(MA1.begin() + k);
  didChange("MA1");
  if (AC1) AC1->setSelectionIndex(NoSelection);
  willChange("MA2");
  MA2.clear();
  didChange("MA2");
  layerMirrorRow_ = -1;
  if (AC2) AC2->setSelectionIndex(NoSelection);
  record(std::move(edit));
}

void InitLayer::remove2() {
  if (MA2.empty()) return;
  const int64_t characterRow = std::max<int64_t>(state_.selectedCharacterRow, 0);
  Character* target = list_.characterAtRow(characterRow);
  if (!target) return;
  if (layerMirrorRow_ != characterRow) {
    rebuildLayerMirror(characterRow);
    if (MA2.empty()) return;
  }
  const int64_t rows = std::min(static_cast<int64_t>(MA2.size()), static_cast<int64_t>(target->layers.size()));
  const int64_t m = removalRow(rows, state_.selectedLayerRow);
  if (m < 0) return;
  Edit edit = startEdit(Edit::Kind::RemoveLayer, "Remove Layer", RecordAt{characterRow, m});
  takeOut(edit, true);
  willChange("MA2");
  MA2.erase(MA2.begin() + m);
  didChange("MA2");
  if (AC2) AC2->setSelectionIndex(NoSelection);
  record(std::move(edit));
}

std::optional<std::string> InitLayer::editCell(Table table, int64_t row, Field field, std::string text) {
  std::vector<RowDictionary>& mirror = table == Table::Characters ? MA1 : MA2;
  if (row < 0 || row >= static_cast<int64_t>(mirror.size())) return std::string("there is no such row");
  if (field == Field::Visible && table != Table::Layers) return std::string("a character has no visible column");
  if (field == Field::Name)
    if (NameProblem problem = checkName(text); problem != NameProblem::None) return describeNameProblem(problem);

  // The row that the next tick copies into the model makes an undoable step.
  std::optional<RecordAt> at;
  if (table == Table::Characters && row == state_.selectedCharacterRow && row < list_.size())
    at = RecordAt{row, -1};
  if (table == Table::Layers && row == state_.selectedLayerRow && layerMirrorRow_ == state_.selectedCharacterRow &&
      layerMirrorRow_ >= 0 && layerAtRow(list_.characters[static_cast<size_t>(layerMirrorRow_)], row))
    at = RecordAt{layerMirrorRow_, row};
  Edit edit;
  if (at) edit = startEdit(Edit::Kind::Fields, "", *at);
  const char* what = table == Table::Characters ? " Character" : " Layer";

  RowDictionary& r = mirror[static_cast<size_t>(row)];
  switch (field) {
    case Field::Name:
      edit.after.name = text;
      edit.name = std::string("Rename") + what;
      r.name = std::move(text);
      break;
    case Field::Value:
      edit.after.value = entryNumber(text);
      edit.name = std::string("Change Depth of") + what;
      r.value = std::move(text);
      break;
    case Field::Visible:
      edit.after.visible = entryNumber(text) > 0 ? 1 : 0;
      edit.name = edit.after.visible ? "Show Layer" : "Hide Layer";
      r.visible = std::move(text);
      break;
  }
  if (at && !(edit.before == edit.after)) record(std::move(edit));
  return std::nullopt;
}

bool InitLayer::setPicture(Table table, ImageRef image) {
  RowImageWell& well = table == Table::Characters ? IV1 : IV2;
  std::optional<RecordAt> at;
  if (table == Table::Characters && list_.characterAtRow(state_.selectedCharacterRow) && state_.selectedCharacterRow >= 0)
    at = RecordAt{state_.selectedCharacterRow, -1};
  if (table == Table::Layers && state_.selectedLayerRow >= 0 && layerMirrorRow_ == state_.selectedCharacterRow &&
      layerMirrorRow_ >= 0 && layerAtRow(list_.characters[static_cast<size_t>(layerMirrorRow_)], state_.selectedLayerRow))
    at = RecordAt{layerMirrorRow_, state_.selectedLayerRow};
  Edit edit;
  if (at) {
    edit = startEdit(Edit::Kind::Fields,
                     std::string(image ? "Set Picture of" : "Clear Picture of") +
                         (table == Table::Characters ? " Character" : " Layer"),
                     *at);
    edit.after.image = image;
  }
  if (!well.setImage(std::move(image))) return false;
  if (at && !(edit.before == edit.after)) record(std::move(edit));
  return true;
}

void InitLayer::beginGesture() {
  gesture_.reset();
  if (std::optional<RecordAt> at = dragTarget(list_, state_)) {
    gesture_ = startEdit(Edit::Kind::Fields, at->layerRow < 0 ? "Move Character" : "Move Layer", *at);
  }
}

void InitLayer::endGesture() {
  if (!gesture_) return;
  Edit edit = std::move(*gesture_);
  gesture_.reset();
  edit.after = fieldsOf(edit.at);
  if (!(edit.before == edit.after)) record(std::move(edit));
}

void InitLayer::nudge(int32_t dx, int32_t dy) {
  std::optional<RecordAt> at = dragTarget(list_, state_);
  if (!at) return;
  auto move = [](int32_t v, int32_t d) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{v} + d, INT32_MIN, INT32_MAX));
  };
  Edit edit = startEdit(Edit::Kind::Fields, at->layerRow < 0 ? "Move Character" : "Move Layer", *at);
  edit.nudge = true;
  edit.after.x = move(edit.before.x, dx);
  edit.after.y = move(edit.before.y, dy);
  if (edit.before == edit.after) return;
  setFields(*at, edit.after);
  record(std::move(edit));
}

Edit InitLayer::startEdit(Edit::Kind kind, std::string name, const RecordAt& at) {
  Edit edit;
  edit.kind = kind;
  edit.name = std::move(name);
  edit.at = at;
  if (kind == Edit::Kind::Fields) edit.before = edit.after = fieldsOf(at);
  edit.selectionBefore = edit.selectionAfter = selection();
  return edit;
}

void InitLayer::record(Edit edit) {
  if (editListener_) editListener_(std::move(edit));
}

Selection InitLayer::selection() const {
  return {state_.selectedCharacterRow, state_.selectedLayerRow, state_.moveCharacter, state_.moveLayer};
}

Character* InitLayer::characterAt(const RecordAt& at) {
  return at.characterRow >= 0 ? list_.characterAtRow(at.characterRow) : nullptr;
}

RecordFields InitLayer::fieldsOf(const RecordAt& at) {
  Character* c = characterAt(at);
  if (!c) return {};
  if (at.layerRow < 0) return {c->name, c->value, 0, c->image, c->x, c->y};
  const Layer* l = layerAtRow(*c, at.layerRow);
  if (!l) return {};
  return {l->name, l->value, l->visible, l->image, l->x, l->y};
}

void InitLayer::setFields(const RecordAt& at, const RecordFields& f) {
  Character* c = characterAt(at);
  if (!c) return;
  if (at.layerRow < 0) {
    c->name = f.name, c->value = f.value, c->image = f.image, c->x = f.x, c->y = f.y;
  } else if (Layer* l = layerAtRow(*c, at.layerRow)) {
    l->name = f.name, l->value = f.value, l->visible = f.visible, l->image = f.image, l->x = f.x, l->y = f.y;
  }
}

std::vector<std::string> InitLayer::filesOf(const RecordAt& at, int64_t count) const {
  // The character's file goes, and so do its layers' files, as the layers go with it.
  std::vector<std::string> files;
  forEachRecord(list_, [&](const auto& r, int64_t number, int64_t characterRow, int64_t layerRow) {
    if (characterRow == at.characterRow && (at.layerRow < 0 || (layerRow >= at.layerRow && layerRow < at.layerRow + count)))
      files.push_back(imageFileName(r.name, number));
  });
  return files;
}

void InitLayer::takeOut(Edit& edit, bool queueFiles) {
  Character* c = characterAt(edit.at);
  if (!c) return;
  edit.queued.clear();
  if (queueFiles) {
    edit.queued = filesOf(edit.at, edit.count);
    edit.saveCount = saveCount_;
    state_.pendingImageDeletions.insert(state_.pendingImageDeletions.end(), edit.queued.begin(), edit.queued.end());
  }
  if (edit.at.layerRow < 0) {
    edit.character = std::move(*c);
    list_.characters.erase(list_.characters.begin() + edit.at.characterRow);
  } else if (edit.at.layerRow + edit.count <= static_cast<int64_t>(c->layers.size())) {
    const auto first = c->layers.begin() + edit.at.layerRow;
    edit.layers.assign(std::make_move_iterator(first), std::make_move_iterator(first + edit.count));
    c->layers.erase(first, first + edit.count);
  }
}

void InitLayer::putBack(Edit& edit) {
  if (edit.at.layerRow < 0) {
    if (!edit.character || edit.at.characterRow > list_.size()) return;
    list_.characters.insert(list_.characters.begin() + edit.at.characterRow, std::move(*edit.character));
    edit.character.reset();
  } else {
    Character* c = characterAt(edit.at);
    if (!c || edit.layers.empty() || edit.at.layerRow > static_cast<int64_t>(c->layers.size())) return;
    c->layers.insert(c->layers.begin() + edit.at.layerRow, std::make_move_iterator(edit.layers.begin()),
                     std::make_move_iterator(edit.layers.end()));
    edit.layers.clear();
  }
  // The files the removal queued are still needed, unless a save has deleted them already.
  auto& pending = state_.pendingImageDeletions;
  if (saveCount_ == edit.saveCount && pending.size() >= edit.queued.size() &&
      std::equal(edit.queued.rbegin(), edit.queued.rend(), pending.rbegin()))
    pending.resize(pending.size() - edit.queued.size());
  edit.queued.clear();
}

void InitLayer::apply(Edit& edit, bool forward) {
  EventLoop();  // table edits that the model has not taken yet go in first
  switch (edit.kind) {
    case Edit::Kind::Fields:
      setFields(edit.at, forward ? edit.after : edit.before);
      break;
    case Edit::Kind::InsertCharacter:
    case Edit::Kind::InsertLayer:
      if (forward) {
        if (!edit.character && edit.layers.empty())  // the first redo of a step recorded as it happened
          break;
        putBack(edit);
      } else {
        // A record that a save has written has files of its own to remove.
        Character* c = characterAt(edit.at);
        const Layer* l = c && edit.at.layerRow >= 0 ? layerAtRow(*c, edit.at.layerRow) : nullptr;
        takeOut(edit, c && (edit.at.layerRow < 0 ? c->savedName.has_value() : l && l->savedName.has_value()));
      }
      break;
    case Edit::Kind::RemoveCharacter:
    case Edit::Kind::RemoveLayer:
      if (forward)
        takeOut(edit, true);
      else
        putBack(edit);
      break;
  }
  const Selection& s = forward ? edit.selectionAfter : edit.selectionBefore;
  state_.selectedCharacterRow = s.characterRow;
  state_.selectedLayerRow = s.layerRow;
  state_.moveCharacter = s.moveCharacter;
  state_.moveLayer = s.moveLayer;
  state_.layerSyncSuppressed = false;
  rebuildMirrors();
}

DiskScanResult scanDisk(const ProjectFolder& folder, const DiskScanRequest& request) {
  DiskScanResult result;
  result.saveCount = request.saveCount;
  result.files.resize(request.files.size());
  // A stat per file, and a read only of the files that changed or are seen for the first time.
  parallelFor(request.files.size(), [&](size_t i) {
    const DiskScanRequest::File& want = request.files[i];
    DiskScanResult::File& file = result.files[i];
    file.name = want.name;
    file.stamp = folder.stamp(imagePath(want.name));
    if (want.unknown ? !file.stamp : file.stamp == want.last) return;
    file.changed = true;
    file.firstSeen = want.unknown;
    FileRead read = folder.read(imagePath(want.name));
    file.outcome = read.outcome;
    file.reason = std::move(read.reason);
    if (!read.read()) return;
    file.stamp = read.stamp;
    file.decoded = decodeImage(read.bytes);
  });
  result.dataFile = folder.stamp(kDataFileName);
  result.dataFileChanged = result.dataFile && !(result.dataFile == request.dataFile);
  return result;
}

std::vector<std::string> InitLayer::watchedPaths() const {
  // Folders tell of files added, removed or renamed; a file itself of being rewritten in place.
  std::vector<std::string> paths = {folder_.path().string(), folder_.resolve(kImageFolder).string(),
                                    folder_.resolve(kDataFileName).string()};
  for (const auto& [name, disk] : state_.knownImageFiles)
    if (disk.image) paths.push_back(folder_.resolve(imagePath(name)).string());
  for (const std::string& name : state_.unreadableImageFiles) paths.push_back(folder_.resolve(imagePath(name)).string());
  return paths;
}

DiskScanRequest InitLayer::diskScanRequest() {
  DiskScanRequest request;
  std::unordered_set<std::string> asked;
  auto add = [&](const std::string& name, bool lookAgain) {
    if (!isSafeImageFileName(name) || !asked.insert(name).second) return;
    DiskScanRequest::File file{name, std::nullopt, lookAgain};
    if (lookAgain)
      ;
    else if (auto known = state_.knownImageFiles.find(name); known != state_.knownImageFiles.end())
      file.last = known->second.stamp;
    else if (auto seen = seen_.find(name); seen != seen_.end())
      file.last = seen->second;
    else
      file.unknown = true;
    request.files.push_back(std::move(file));
  };
  // Every record's file, and the files the editor knows: a renamed or renumbered record's picture is
  // still in its old file until the next save. A file under the new name of a record without a
  // picture is its picture, as the next load would make it: it is looked at as if never seen.
  forEachRecord(list_, [&](const auto& r, int64_t number, int64_t, int64_t) {
    add(imageFileName(r.name, number), !r.image && r.savedName != r.name);
  });
  for (const auto& [name, disk] : state_.knownImageFiles) add(name, false);
  request.dataFile = seenDataFile_ ? seenDataFile_ : state_.dataFileStamp;
  request.saveCount = saveCount_;
  return request;
}

std::vector<DiskChange> InitLayer::applyDiskScan(const DiskScanResult& result) {
  std::vector<DiskChange> changes;
  // The files a save wrote since the look began are the editor's own: the look is out of date.
  if (result.saveCount != saveCount_) return changes;
  std::unordered_map<std::string, RecordAt> owners;
  forEachRecord(list_, [&](const auto& r, int64_t number, int64_t k, int64_t m) {
    owners.emplace(imageFileName(r.name, number), RecordAt{k, m});
  });
  // The picture each file name had at the last load or save: a record still showing it has not been
  // given another one in the editor.
  std::unordered_map<std::string, ImageRef> saved(lastSaved_.images.begin(), lastSaved_.images.end());
  // The record that shows a picture, for a file whose record has since been renamed or renumbered.
  auto showing = [&](const ImageRef& picture) -> std::optional<RecordAt> {
    std::optional<RecordAt> found;
    if (picture)
      forEachRecord(list_, [&](const auto& r, int64_t, int64_t k, int64_t m) {
        if (!found && r.image == picture) found = RecordAt{k, m};
      });
    return found;
  };
  for (const DiskScanResult::File& f : result.files) {
    seen_[f.name] = f.stamp;
    if (!f.changed) continue;
    auto known = state_.knownImageFiles.find(f.name);
    const ImageRef knownPicture = known != state_.knownImageFiles.end() ? known->second.image : nullptr;
    auto owner = owners.find(f.name);
    std::optional<RecordAt> at = owner != owners.end() ? std::optional<RecordAt>(owner->second) : showing(knownPicture);
    if (!at) {
      // No record uses the file any more: it is no longer the editor's to replace or delete.
      state_.knownImageFiles.erase(f.name);
      continue;
    }
    const ImageRef shown = fieldsOf(*at).image;
    DiskChange change;
    change.file = imagePath(f.name);
    change.at = *at;
    change.stamp = f.stamp.value_or(FileStamp{});
    if (f.outcome == FileRead::Outcome::Missing) {
      state_.knownImageFiles.erase(f.name);
      if (!shown) continue;
      change.kind = DiskChange::Kind::Deleted;
    } else if (!f.decoded.image) {
      state_.knownImageFiles.erase(f.name);
      if (!state_.unreadableImageFiles.insert(f.name).second && f.firstSeen) continue;  // known since the load
      change.kind = DiskChange::Kind::Unreadable;
      change.reason = f.outcome == FileRead::Outcome::Refused ? f.reason : f.decoded.problem;
    } else {
      // A file that can be read again (a paint program finished writing it) is a picture once more.
      state_.unreadableImageFiles.erase(f.name);
      if (f.firstSeen && shown) {
        // A file found under the name of a record that has a picture already: the same picture makes it
        // the editor's; another one stays the file's until a save asks before replacing it.
        if (shown->samePixels(*f.decoded.image)) state_.knownImageFiles[f.name] = {shown, change.stamp};
        continue;
      }
      change.picture = f.decoded.image;
      const ImageRef before = owner != owners.end() ? saved[f.name] : knownPicture;
      if (shown == before) {
        change.kind = DiskChange::Kind::PictureTaken;
        takePicture(change.at, f.name, change.picture, change.stamp);
      } else {
        change.kind = DiskChange::Kind::Conflict;
      }
    }
    changes.push_back(std::move(change));
  }
  if (result.dataFileChanged) {
    seenDataFile_ = result.dataFile;
    DiskChange change;
    change.kind = DiskChange::Kind::DataFile;
    change.file = kDataFileName;
    changes.push_back(std::move(change));
  }
  return changes;
}

void InitLayer::resolveConflict(const DiskChange& change, bool takeFile) {
  const std::string name = change.file.substr(std::string(kImageFolder).size() + 1);
  if (takeFile) {
    takePicture(change.at, name, change.picture, change.stamp);
  } else {
    // The editor's picture stays; the next save may replace the file, as the user chose.
    EditorState::DiskImage& disk = state_.knownImageFiles[name];
    disk.stamp = change.stamp;
  }
}

void InitLayer::takePicture(const RecordAt& at, const std::string& fileName, ImageRef picture,
                            const FileStamp& stamp) {
  RecordFields fields = fieldsOf(at);
  fields.image = picture;
  setFields(at, fields);
  std::vector<RowDictionary>* mirror = nullptr;
  int64_t row = -1;
  if (at.layerRow < 0) mirror = &MA1, row = at.characterRow;
  else if (layerMirrorRow_ == at.characterRow) mirror = &MA2, row = at.layerRow;
  if (mirror && row >= 0 && row < static_cast<int64_t>(mirror->size())) {
    const char* key = mirror == &MA1 ? "MA1" : "MA2";
    willChange(key);
    (*mirror)[static_cast<size_t>(row)].img = picture;
    didChange(key);
  }
  state_.knownImageFiles[fileName] = {picture, stamp};
  // The disk and the editor agree on this picture again.
  for (auto& [name, image] : lastSaved_.images)
    if (name == fileName) image = picture;
}

void InitLayer::refreshPictures() {
  auto refresh = [this](std::vector<RowDictionary>& mirror, const char* key, auto picture) {
    for (size_t row = 0; row < mirror.size(); ++row) {
      if (mirror[row].img == picture(row)) continue;
      willChange(key);
      mirror[row].img = picture(row);
      didChange(key);
    }
  };
  refresh(MA1, "MA1", [this](size_t row) { return row < list_.characters.size() ? list_.characters[row].image : nullptr; });
  const Character* shown = layerMirrorRow_ >= 0 ? list_.characterAtRow(layerMirrorRow_) : nullptr;
  refresh(MA2, "MA2", [shown](size_t row) { return shown && row < shown->layers.size() ? shown->layers[row].image : nullptr; });
}

void InitLayer::undo(Edit& edit) { apply(edit, false); }

void InitLayer::redo(Edit& edit) { apply(edit, true); }

void InitLayer::rebuildMirrors() {
  willChange("MA1");
  MA1.clear();
  for (const Character& c : list_.characters) MA1.push_back(characterRow(c));
  didChange("MA1");
  rebuildLayerMirror(state_.selectedCharacterRow);
}

InitLayer::Snapshot InitLayer::snapshot() const {
  Snapshot s;
  s.text = buildDataText(list_);
  forEachRecord(list_, [&](const auto& r, int64_t number, int64_t, int64_t) {
    s.images.emplace_back(imageFileName(r.name, number), r.image);
  });
  s.pendingDeletions = state_.pendingImageDeletions;
  return s;
}

void InitLayer::takeSnapshot() { lastSaved_ = snapshot(); }

bool InitLayer::hasUnsavedChanges() const { return !(snapshot() == lastSaved_); }

}  // namespace charstack
