// The document: the records of the open project, the history of the steps that change them, and what
// the two tables show of them. Every change of a record goes through here, and the views hear of it.
#pragma once

#include <QUndoStack>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/model.hpp"

namespace charstack {

// The two tables (characters; layers of one character) and what a user edits in their rows.
enum class Table { Characters, Layers };
enum class Field { Name, Depth, Visible, X, Y };

// What a step of the history changes of a record: one of its fields.
enum class Property { Name, Depth, Visible, Picture, Position };

// The index that clears a table's highlight: no row of any table has it.
inline constexpr int64_t NoSelection = -1;

// One row of a table as it shows it: the texts of its cells and its picture.
struct RowTexts {
  std::string name;
  std::string depth;
  std::optional<std::string> visible;  // layer rows only
  ImageRef img;
  std::string x, y;
  bool operator==(const RowTexts&) const = default;
};
RowTexts characterRow(const Character& character);
RowTexts layerRow(const Layer& layer);

// What the tables show, and how it changes. A change of rows is bracketed, so that a view can look
// at the rows before and after it.
class TableObserver {
 public:
  virtual ~TableObserver() = default;
  enum class Change { Reset, Insert, Remove };
  // `count` rows inserted or removed at `first`, or (Reset) the table shows other rows altogether.
  virtual void beginRows(Table table, Change change, int64_t first, int64_t count) = 0;
  virtual void endRows(Table table) = 0;
  // Rows first..last show other texts or pictures.
  virtual void rowsChanged(Table table, int64_t first, int64_t last) = 0;
  // The selection rows or the drag target changed (a click, an undo, a new project).
  virtual void selectionChanged() {}
};

class Document {
 public:
  explicit Document(CharacterList& list) : list_(list) {}
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  const CharacterList& list() const { return list_; }
  // The history of steps: each user action is one command, named for the Edit menu. Undo and redo
  // never touch files.
  QUndoStack& history() { return history_; }

  // What the tables show: the rows of a table, one row's texts and picture, and the record it is.
  int64_t rowCount(Table table) const;
  RowTexts row(Table table, int64_t row) const;
  std::optional<RecordAt> recordOfRow(Table table, int64_t row) const;
  // The character whose layers the layers table shows; -1 for none.
  int64_t layerTableCharacter() const { return layerTableRow_; }
  // Shows the layers of the character at a row in the layers table (none for -1 or past the end).
  void showLayersOf(int64_t characterRow);

  void addObserver(TableObserver* observer);
  void removeObserver(TableObserver* observer);
  void notifySelection();
  // Tells the tables which rows show the record at `at`.
  void notifyRecord(const RecordAt& at);

  // ---- The changes the steps of the history make and take back ----
  RecordFields fieldsOf(const RecordAt& at) const;
  // Sets one property of a record and tells the tables.
  void setProperty(const RecordAt& at, Property property, const RecordFields& value);
  // Puts records into the lists at `at` (characters, or layers of at.characterRow) and takes them out.
  void putRecords(const RecordAt& at, std::vector<Character> characters, std::vector<Layer> layers);
  void takeRecords(const RecordAt& at, int64_t count, std::vector<Character>* characters, std::vector<Layer>* layers);
  // Puts the records of a list (the characters for -1, or the layers of a character) in a new
  // order: order[i] is the row of the record that comes to row i.
  void reorder(int64_t characterRow, const std::vector<int64_t>& order);
  // The image files of records (a character with its layers, or `count` layers) that a removal queues.
  std::vector<std::string> filesOf(const RecordAt& at, int64_t count) const;

  // ---- The whole project at once: an open, a close, and the save that writes the file names ----
  // The records of a project just read; the layers table shows the first character's layers.
  void replaceAll(CharacterList list);
  // Changes of the records that are no step (a save noting their file names, pictures checked after
  // an open): `change` runs on the records, and the tables are told of the rows in `changed`.
  void changeOutsideHistory(const std::function<std::vector<RecordAt>(CharacterList&)>& change);

 private:
  void notifyRows(Table table, TableObserver::Change change, int64_t first, int64_t count,
                  const std::function<void()>& apply);
  void notifyChanged(Table table, int64_t first, int64_t last);

  CharacterList& list_;
  QUndoStack history_;
  std::vector<TableObserver*> observers_;
  // Row of the character whose layers the layers table shows; -1 for none.
  int64_t layerTableRow_ = -1;
};

}  // namespace charstack
