#include "controller/editor.hpp"

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

// A step's name for one record or for several.
const char* stepFor(size_t count, const char* one, const char* many) { return count == 1 ? one : many; }

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

// What the steps of the history reach of this editor.
class EditorEdits final : public RecordEdits {
 public:
  EditorEdits(Document& document, Selection& selection, EditorState& state)
      : document_(document), selection_(selection), state_(state) {}
  // The store is made after the edits it takes, and set here before any step runs.
  ProjectStore* store = nullptr;
  Document& document() override { return document_; }
  SelectedRows selection() const override { return selection_.current(); }
  void restoreSelection(const SelectedRows& rows) override { selection_.restore(rows); }
  std::vector<std::string>& pendingDeletions() override { return state_.pendingImageDeletions; }
  uint64_t saveCount() const override { return store->saveCount(); }
  std::optional<FileStamp> stampOf(const std::string& fileName) const override {
    return store->folder().stamp(imagePath(fileName));
  }
  void setDiskPicture(const std::string& fileName, const std::optional<EditorState::DiskImage>& disk) override {
    if (!disk) {
      state_.knownImageFiles.erase(fileName);
      return;
    }
    state_.knownImageFiles[fileName] = *disk;
    // The disk and the editor agree on this picture again.
    store->noteDiskPicture(fileName, disk->image);
  }

 private:
  Document& document_;
  Selection& selection_;
  EditorState& state_;
};

}  // namespace

Character newCharacter() { return makeNewCharacter(newRecordName(Table::Characters)); }
Layer newLayer() { return makeNewLayer(newRecordName(Table::Layers)); }

Editor::Editor(CharacterList& list, EditorState& state, ProjectFolder folder, TableObserver* observer,
               PictureReading reading)
    : state_(state), document_(list), selection_(document_, state) {
  if (observer) document_.addObserver(observer);
  auto edits = std::make_unique<EditorEdits>(document_, selection_, state_);
  store_ = std::make_unique<ProjectStore>(document_, state_, *edits, std::move(folder), reading);
  edits->store = store_.get();
  edits_ = std::move(edits);
  disk_ = std::make_unique<DiskLink>(document_, state_, *store_, *edits_);
  moves_ = std::make_unique<CanvasMoves>(document_, state_, *edits_);
}

Editor::~Editor() {
  // The commands refer to the parts of this editor: they go first.
  document_.history().clear();
}

void Editor::openFolder(ProjectFolder folder) {
  document_.history().clear();
  document_.replaceAll(CharacterList{});
  state_ = EditorState{};
  moves_->forget();
  disk_->forget();
  store_->open(std::move(folder));
}

std::string newRecordName(Table table) {
  return table == Table::Characters ? translated("Record", QT_TRANSLATE_NOOP("Record", "New Character"))
                                    : translated("Record", QT_TRANSLATE_NOOP("Record", "New Layer"));
}

void Editor::insertCharacter() {
  putIn(Table::Characters, RecordSet{{newCharacter()}, {}},
        selection_.insertionRow(Table::Characters),
        QT_TRANSLATE_NOOP("Command", "Insert Character"));
}

bool Editor::insertLayers(std::vector<Layer> layers) {
  if (layers.empty() || selection_.layerOwner() < 0) return false;
  const char* step = stepFor(layers.size(), QT_TRANSLATE_NOOP("Command", "Insert Layer"),
                             QT_TRANSLATE_NOOP("Command", "Insert Layers"));
  return putIn(Table::Layers, RecordSet{{}, std::move(layers)},
               selection_.insertionRow(Table::Layers), step);
}

void Editor::removeCharacter() {
  const int64_t k = selection_.removalRow(Table::Characters);
  if (k >= 0) takeOut(Table::Characters, {k}, QT_TRANSLATE_NOOP("Command", "Remove Character"));
}

void Editor::removeLayers() {
  if (selection_.layerOwner() < 0 || document_.rowCount(Table::Layers) == 0) return;
  std::vector<int64_t> rows = selection_.selectedLayers();
  if (rows.empty()) rows = {selection_.removalRow(Table::Layers)};
  takeOut(Table::Layers, rows,
          stepFor(rows.size(), QT_TRANSLATE_NOOP("Command", "Remove Layer"),
                  QT_TRANSLATE_NOOP("Command", "Remove Layers")));
}

bool Editor::putIn(Table table, RecordSet records, int64_t row, const char* step) {
  const size_t count = table == Table::Characters ? records.characters.size() : records.layers.size();
  const int64_t owner = table == Table::Characters ? -1 : selection_.layerOwner();
  if (count == 0 || (table == Table::Layers && owner < 0)) return false;
  row = std::clamp<int64_t>(row, 0, document_.rowCount(table));
  auto* command = RecordsCommand::inserting(
      *edits_, step, RecordAt{table == Table::Characters ? row : owner, table == Table::Characters ? -1 : row},
      std::move(records.characters), std::move(records.layers));
  command->selectAfter(Selection::selecting(table, owner, row, static_cast<int64_t>(count)));
  document_.history().push(command);
  return true;
}

bool Editor::takeOut(Table table, std::vector<int64_t> rows, const char* step) {
  const int64_t owner = table == Table::Characters ? -1 : selection_.layerOwner();
  rows = validRows(std::move(rows), document_.rowCount(table));
  if (rows.empty()) return false;
  // The record that comes to the first row taken, or the one before it when none comes.
  const int64_t left = document_.rowCount(table) - static_cast<int64_t>(rows.size());
  const SelectedRows after = Selection::selecting(table, owner, std::min(rows.front(), left - 1), 1);
  // From the last row up: the rows above keep their numbers.
  document_.history().beginMacro(stepText(step));
  for (auto r = rows.rbegin(); r != rows.rend(); ++r) {
    auto* command = RecordsCommand::removing(
        *edits_, step, table == Table::Characters ? RecordAt{*r, -1} : RecordAt{owner, *r}, 1);
    if (r + 1 == rows.rend()) command->selectAfter(after);
    document_.history().push(command);
  }
  document_.history().endMacro();
  return true;
}

bool Editor::moveSelected(Table table, int direction) {
  if (!selection_.canAct(direction < 0 ? Action::MoveUp : Action::MoveDown, table)) return false;
  const std::vector<int64_t> rows =
      table == Table::Characters ? std::vector<int64_t>{state_.selectedCharacterRow} : selection_.selectedLayers();
  std::vector<int64_t> order(static_cast<size_t>(document_.rowCount(table)));
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
      new ReorderCommand(*edits_, direction < 0 ? up : down, character ? -1 : document_.layerTableCharacter(), std::move(order));
  // The moved records stay selected.
  SelectedRows after = selection_.current();
  if (character) {
    after.characterRow += direction;
    after.layerTable = after.characterRow;
  } else {
    after.layerRow = state_.selectedLayerRow + direction;
    after.layerRows.clear();
    for (int64_t r : rows) after.layerRows.push_back(r + direction);
  }
  command->selectAfter(after);
  document_.history().push(command);
  return true;
}

bool Editor::moveRows(Table table, std::vector<int64_t> rows, int64_t destination) {
  const bool character = table == Table::Characters;
  if (!character && selection_.layerOwner() < 0) return false;
  const int64_t count = document_.rowCount(table);
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
  auto* command = new ReorderCommand(*edits_,
                                     character ? QT_TRANSLATE_NOOP("Command", "Reorder Characters")
                                               : QT_TRANSLATE_NOOP("Command", "Reorder Layers"),
                                     character ? -1 : document_.layerTableCharacter(), std::move(order));
  command->selectAfter(Selection::selecting(table, document_.layerTableCharacter(), first, static_cast<int64_t>(rows.size())));
  document_.history().push(command);
  return true;
}

RecordSet Editor::copyRecords(Table table) const {
  RecordSet records;
  if (!selection_.canAct(Action::Copy, table)) return records;
  const Character& c = document_.list().characters[static_cast<size_t>(state_.selectedCharacterRow)];
  if (table == Table::Characters)
    records.characters.push_back(c);
  else
    for (int64_t r : selection_.selectedLayers()) records.layers.push_back(c.layers[static_cast<size_t>(r)]);
  forgetFiles(records);
  return records;
}

bool Editor::duplicate(Table table) {
  RecordSet records = copyRecords(table);
  if (records.empty()) return false;
  const bool character = table == Table::Characters;
  const int64_t after = character ? state_.selectedCharacterRow : selection_.selectedLayers().back();
  const char* step = character
                         ? QT_TRANSLATE_NOOP("Command", "Duplicate Character")
                         : stepFor(records.layers.size(), QT_TRANSLATE_NOOP("Command", "Duplicate Layer"),
                                   QT_TRANSLATE_NOOP("Command", "Duplicate Layers"));
  return putIn(table, std::move(records), after + 1, step);
}

RecordSet Editor::cut(Table table) {
  RecordSet records = copyRecords(table);
  if (records.empty()) return records;
  if (table == Table::Characters)
    takeOut(table, {state_.selectedCharacterRow}, QT_TRANSLATE_NOOP("Command", "Cut Character"));
  else
    takeOut(table, selection_.selectedLayers(),
            stepFor(records.layers.size(), QT_TRANSLATE_NOOP("Command", "Cut Layer"),
                    QT_TRANSLATE_NOOP("Command", "Cut Layers")));
  return records;
}

bool Editor::paste(RecordSet records, std::optional<int64_t> row) {
  forgetFiles(records);
  if (!records.characters.empty()) {
    const char* step = stepFor(records.characters.size(), QT_TRANSLATE_NOOP("Command", "Paste Character"),
                               QT_TRANSLATE_NOOP("Command", "Paste Characters"));
    return putIn(Table::Characters, std::move(records), selection_.pasteRow(Table::Characters, row), step);
  }
  if (selection_.layerOwner() < 0) return false;
  const char* step = stepFor(records.layers.size(), QT_TRANSLATE_NOOP("Command", "Paste Layer"),
                             QT_TRANSLATE_NOOP("Command", "Paste Layers"));
  return putIn(Table::Layers, std::move(records), selection_.pasteRow(Table::Layers, row), step);
}

bool Editor::insertPictures(Table table, std::vector<NamedPicture> pictures, std::optional<int64_t> row) {
  if (pictures.empty()) return false;
  // Layers need a character to belong to; without one, the pictures become characters.
  if (table == Table::Layers && selection_.layerOwner() < 0) table = Table::Characters, row.reset();
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
  return putIn(table, std::move(records), selection_.pasteRow(table, row),
               character
                   ? stepFor(pictures.size(), QT_TRANSLATE_NOOP("Command", "Add Character from Picture"),
                             QT_TRANSLATE_NOOP("Command", "Add Characters from Pictures"))
                   : stepFor(pictures.size(), QT_TRANSLATE_NOOP("Command", "Add Layer from Picture"),
                             QT_TRANSLATE_NOOP("Command", "Add Layers from Pictures")));
}

bool Editor::showHideSelected() {
  if (!selection_.canAct(Action::ShowHide, Table::Layers)) return false;
  const std::vector<int64_t> rows = selection_.selectedLayers();
  const Character& c = document_.list().characters[static_cast<size_t>(document_.layerTableCharacter())];
  const bool show = std::any_of(rows.begin(), rows.end(),
                                [&](int64_t r) { return c.layers[static_cast<size_t>(r)].visible == 0; });
  document_.history().beginMacro(stepText(show ? stepFor(rows.size(), QT_TRANSLATE_NOOP("Command", "Show Layer"),
                                              QT_TRANSLATE_NOOP("Command", "Show Layers"))
                                    : stepFor(rows.size(), QT_TRANSLATE_NOOP("Command", "Hide Layer"),
                                              QT_TRANSLATE_NOOP("Command", "Hide Layers"))));
  for (int64_t r : rows) {
    RecordFields value = document_.fieldsOf({document_.layerTableCharacter(), r});
    value.visible = show ? 1 : 0;
    changeProperty(*edits_, {document_.layerTableCharacter(), r}, Property::Visible, value, QT_TRANSLATE_NOOP("Command", "Show Layer"));
  }
  document_.history().endMacro();
  return true;
}

std::optional<std::string> Editor::editCell(Table table, int64_t row, Field field, const std::string& text) {
  const std::optional<RecordAt> at = document_.recordOfRow(table, row);
  if (!at) return translated("Edit", QT_TRANSLATE_NOOP("Edit", "there is no such row"));
  const bool character = table == Table::Characters;
  RecordFields value = document_.fieldsOf(*at);
  switch (field) {
    case Field::Name:
      if (NameProblem problem = checkTypedName(text); problem != NameProblem::None) return describeNameProblem(problem);
      value.name = text;
      changeProperty(*edits_, *at, Property::Name, value,
                     character ? QT_TRANSLATE_NOOP("Command", "Rename Character")
                               : QT_TRANSLATE_NOOP("Command", "Rename Layer"));
      break;
    case Field::Depth: {
      const std::optional<int64_t> depth = typedDepth(text);
      if (!depth)
        return translated("Edit", QT_TRANSLATE_NOOP("Edit", "a depth is a whole number from 0 to 999"));
      value.value = *depth;
      changeProperty(*edits_, *at, Property::Depth, value,
                     character ? QT_TRANSLATE_NOOP("Command", "Change Depth of Character")
                               : QT_TRANSLATE_NOOP("Command", "Change Depth of Layer"));
      break;
    }
    case Field::Visible:
      if (character)
        return translated("Edit", QT_TRANSLATE_NOOP("Edit", "a character has no visible column"));
      value.visible = text::intValue(text) > 0 ? 1 : 0;
      changeProperty(*edits_, *at, Property::Visible, value,
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
      changeProperty(*edits_, *at, Property::Position, value,
                     character ? QT_TRANSLATE_NOOP("Command", "Move Character")
                               : QT_TRANSLATE_NOOP("Command", "Move Layer"));
      break;
    }
  }
  return std::nullopt;
}

ImageRef Editor::wellPicture(Table table) const {
  const std::optional<RecordAt> at = selection_.wellRecord(table);
  return at ? document_.fieldsOf(*at).image : nullptr;
}

bool Editor::setPicture(Table table, ImageRef image) {
  const std::optional<RecordAt> at = selection_.wellRecord(table);
  if (!at) return false;
  RecordFields value = document_.fieldsOf(*at);
  value.image = image;
  const bool character = table == Table::Characters;
  changeProperty(*edits_, *at, Property::Picture, value,
                 image ? (character ? QT_TRANSLATE_NOOP("Command", "Set Picture of Character")
                                    : QT_TRANSLATE_NOOP("Command", "Set Picture of Layer"))
                       : (character ? QT_TRANSLATE_NOOP("Command", "Clear Picture of Character")
                                    : QT_TRANSLATE_NOOP("Command", "Clear Picture of Layer")));
  return true;
}


std::optional<std::pair<int32_t, int32_t>> CanvasMoves::placeOf(const RecordAt& at) const {
  const CharacterList& list = document_.list();
  if (at.characterRow < 0 || at.characterRow >= list.size()) return std::nullopt;
  const Character& character = list.characters[static_cast<size_t>(at.characterRow)];
  if (at.layerRow < 0) return std::pair(character.x, character.y);
  if (at.layerRow >= static_cast<int64_t>(character.layers.size())) return std::nullopt;
  const Layer& layer = character.layers[static_cast<size_t>(at.layerRow)];
  return std::pair(layer.x, layer.y);
}

void CanvasMoves::beginGesture(bool withLayers) {
  gesture_.clear();
  withLayers_ = withLayers;
  for (const RecordAt& at : dragTargets(document_.list(), state_, withLayers)) {
    const auto [x, y] = *placeOf(at);
    gesture_.push_back({at, x, y, x, y});
  }
}

void CanvasMoves::endGesture() {
  std::vector<MoveCommand::Move> moves = std::exchange(gesture_, {});
  for (MoveCommand::Move& m : moves)
    if (const auto place = placeOf(m.at)) std::tie(m.toX, m.toY) = *place;
  push(std::move(moves), withLayers_, true);
}

void CanvasMoves::nudge(int32_t dx, int32_t dy, bool withLayers) {
  auto move = [](int32_t v, int32_t d) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{v} + d, INT32_MIN, INT32_MAX));
  };
  std::vector<MoveCommand::Move> moves;
  for (const RecordAt& at : dragTargets(document_.list(), state_, withLayers)) {
    const auto [x, y] = *placeOf(at);
    moves.push_back({at, x, y, move(x, dx), move(y, dy)});
  }
  push(std::move(moves), withLayers, false);
}

bool CanvasMoves::push(std::vector<MoveCommand::Move> moves, bool withLayers, bool done) {
  std::erase_if(moves, [](const MoveCommand::Move& m) { return m.fromX == m.toX && m.fromY == m.toY; });
  if (moves.empty()) return false;
  // A drag has moved the records already: the tables hear of it now.
  for (const MoveCommand::Move& m : moves)
    if (done) document_.notifyRecord(m.at);
  const bool character = moves.front().at.layerRow < 0;
  const char* step = character && withLayers ? QT_TRANSLATE_NOOP("Command", "Move Character and Layers")
                     : character            ? QT_TRANSLATE_NOOP("Command", "Move Character")
                     : moves.size() == 1    ? QT_TRANSLATE_NOOP("Command", "Move Layer")
                                            : QT_TRANSLATE_NOOP("Command", "Move Layers");
  document_.history().push(new MoveCommand(edits_, step, std::move(moves), !done, done));
  return true;
}

void changeProperty(RecordEdits& edits, const RecordAt& at, Property property, RecordFields value, const char* step,
                    bool mergeable) {
  const RecordFields before = edits.document().fieldsOf(at);
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
  if (!same) edits.document().history().push(new PropertyCommand(edits, step, at, property, before, std::move(value), mergeable, false));
}

}  // namespace charstack
