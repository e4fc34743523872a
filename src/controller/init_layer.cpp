#include "controller/init_layer.hpp"

#include <algorithm>

#include "model/names.hpp"
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
  // Temporary files of saves that were killed mid-way; the editor's own, and only those.
  folder_.removeLeftoverTemporaryFiles("");
  folder_.removeLeftoverTemporaryFiles(kImageFolder);
  LoadResult loaded = loadProject(folder_);
  loadProblems_ = std::move(loaded.problems);
  state_.unreadableImageFiles = std::move(loaded.unreadableImageFiles);
  state_.understoodImageFiles = std::move(loaded.understoodImageFiles);
  state_.dataFileUnreadable = loaded.dataFileUnreadable;
  state_.dataFileWithoutRecords = loaded.dataFileWithoutRecords;
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
  folder_ = std::move(folder);
  loadData();
}

SaveReport InitLayer::saveData(const SaveOptions& options) {
  SaveReport report = saveProject(list_, state_, folder_, options);
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
  return true;
}

void InitLayer::remove1() {
  const int64_t rows = static_cast<int64_t>(MA1.size());
  if (rows == 0) return;
  const int64_t k = removalRow(std::min(rows, list_.size()), state_.selectedCharacterRow);
  if (k < 0) return;
  // The character's file goes, and so do its layers' files, as the layers go with it.
  forEachRecord(list_, [&](const auto& r, int64_t number, int64_t characterRow, int64_t) {
    if (characterRow == k) state_.pendingImageDeletions.push_back(imageFileName(r.name, number));
  });
  list_.characters.erase(list_.characters.begin() + k);

  willChange("MA1");
  MA1.erase(MA1.begin() + k);
  didChange("MA1");
  if (AC1) AC1->setSelectionIndex(NoSelection);
  willChange("MA2");
  MA2.clear();
  didChange("MA2");
  layerMirrorRow_ = -1;
  if (AC2) AC2->setSelectionIndex(NoSelection);
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
  const int64_t number = list_.layerRecordNumber(characterRow, m);
  state_.pendingImageDeletions.push_back(imageFileName(target->layers[static_cast<size_t>(m)].name, number));
  target->layers.erase(target->layers.begin() + m);
  willChange("MA2");
  MA2.erase(MA2.begin() + m);
  didChange("MA2");
  if (AC2) AC2->setSelectionIndex(NoSelection);
}

std::optional<std::string> InitLayer::editCell(Table table, int64_t row, Field field, std::string text) {
  std::vector<RowDictionary>& mirror = table == Table::Characters ? MA1 : MA2;
  if (row < 0 || row >= static_cast<int64_t>(mirror.size())) return std::string("there is no such row");
  RowDictionary& r = mirror[static_cast<size_t>(row)];
  switch (field) {
    case Field::Name:
      if (NameProblem problem = checkName(text); problem != NameProblem::None) return describeNameProblem(problem);
      r.name = std::move(text);
      return std::nullopt;
    case Field::Value:
      r.value = std::move(text);
      return std::nullopt;
    case Field::Visible:
      if (table != Table::Layers) break;
      r.visible = std::move(text);
      return std::nullopt;
  }
  return std::string("a character has no visible column");
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
