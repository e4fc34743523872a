#include "controller/document.hpp"

#include <algorithm>
#include <iterator>
#include <type_traits>

#include "platform/text.hpp"

namespace charstack {

RowTexts characterRow(const Character& character) {
  return {character.name,  text::formatLong(character.value), std::nullopt,
          character.image, text::formatInt(character.x),      text::formatInt(character.y)};
}

RowTexts layerRow(const Layer& layer) {
  return {layer.name,  text::formatLong(layer.value), text::formatInt(layer.visible),
          layer.image, text::formatInt(layer.x),      text::formatInt(layer.y)};
}

void Document::addObserver(TableObserver* observer) { observers_.push_back(observer); }

void Document::removeObserver(TableObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void Document::notifyRows(Table table, TableObserver::Change change, int64_t first, int64_t count,
                           const std::function<void()>& apply) {
  for (TableObserver* o : observers_) o->beginRows(table, change, first, count);
  apply();
  for (TableObserver* o : observers_) o->endRows(table);
}

void Document::notifyChanged(Table table, int64_t first, int64_t last) {
  for (TableObserver* o : observers_) o->rowsChanged(table, first, last);
}

void Document::notifySelection() {
  for (TableObserver* o : observers_) o->selectionChanged();
}

void Document::notifyRecord(const RecordAt& at) {
  if (at.layerRow < 0) notifyChanged(Table::Characters, at.characterRow, at.characterRow);
  else if (at.characterRow == layerTableRow_) notifyChanged(Table::Layers, at.layerRow, at.layerRow);
}

void Document::showLayersOf(int64_t characterRow) {
  notifyRows(Table::Layers, TableObserver::Change::Reset, 0, 0, [&] {
    layerTableRow_ = characterRow >= 0 && characterRow < list_.size() ? characterRow : -1;
  });
}

int64_t Document::rowCount(Table table) const {
  if (table == Table::Characters) return list_.size();
  const Character* shown = layerTableRow_ >= 0 ? list_.characterAtRow(layerTableRow_) : nullptr;
  return shown ? static_cast<int64_t>(shown->layers.size()) : 0;
}

std::optional<RecordAt> Document::recordOfRow(Table table, int64_t row) const {
  if (row < 0 || row >= rowCount(table)) return std::nullopt;
  return table == Table::Characters ? RecordAt{row, -1} : RecordAt{layerTableRow_, row};
}

RowTexts Document::row(Table table, int64_t r) const {
  const std::optional<RecordAt> at = recordOfRow(table, r);
  if (!at) return {};
  const Character& c = list_.characters[static_cast<size_t>(at->characterRow)];
  return at->layerRow < 0 ? characterRow(c) : layerRow(c.layers[static_cast<size_t>(at->layerRow)]);
}

RecordFields Document::fieldsOf(const RecordAt& at) const {
  const Character* c = at.characterRow >= 0 ? list_.characterAtRow(at.characterRow) : nullptr;
  if (!c) return {};
  if (at.layerRow < 0) return {c->name, c->value, 0, c->image, c->x, c->y};
  const Layer* l = layerAtRow(*c, at.layerRow);
  if (!l) return {};
  return {l->name, l->value, l->visible, l->image, l->x, l->y};
}

void Document::setProperty(const RecordAt& at, Property property, const RecordFields& f) {
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

void Document::putRecords(const RecordAt& at, std::vector<Character> characters, std::vector<Layer> layers) {
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

void Document::takeRecords(const RecordAt& at, int64_t count, std::vector<Character>* characters,
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

std::vector<std::string> Document::filesOf(const RecordAt& at, int64_t count) const {
  // A character's file goes with the files of its layers, as the layers go with it.
  std::vector<std::string> files;
  forEachRecord(list_, [&](const auto& r, int64_t number, int64_t k, int64_t m) {
    const bool inside = at.layerRow < 0 ? k >= at.characterRow && k < at.characterRow + count
                                        : k == at.characterRow && m >= at.layerRow && m < at.layerRow + count;
    if (inside) files.push_back(imageFileName(r.name, number));
  });
  return files;
}

void Document::reorder(int64_t characterRow, const std::vector<int64_t>& order) {
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

void Document::replaceAll(CharacterList list) {
  notifyRows(Table::Characters, TableObserver::Change::Reset, 0, 0, [&] {
    list_ = std::move(list);
    layerTableRow_ = -1;
  });
  showLayersOf(list_.empty() ? -1 : 0);
  notifySelection();
}

void Document::changeOutsideHistory(const std::function<std::vector<RecordAt>(CharacterList&)>& change) {
  for (const RecordAt& at : change(list_)) notifyRecord(at);
}

}  // namespace charstack
