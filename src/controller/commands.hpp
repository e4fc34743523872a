// The steps of the undo history: every user action is one command. Its redo makes the change, its
// undo takes back exactly what it changed, and its text (for the Edit menu) is made, translated, where
// the command is made.
#pragma once

#include <QUndoCommand>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "controller/document.hpp"
#include "controller/selection.hpp"

namespace charstack {

// What the steps of the history reach: the records (through the document), the selection, the
// deletions a removal queues, and what the editor knows of the files on disk.
class RecordEdits {
 public:
  virtual ~RecordEdits() = default;
  virtual Document& document() = 0;
  virtual SelectedRows selection() const = 0;
  virtual void restoreSelection(const SelectedRows& rows) = 0;
  // The image files of removed records, deleted from "img/" at the next save.
  virtual std::vector<std::string>& pendingDeletions() = 0;
  // Saves that carried out the pending deletions so far.
  virtual uint64_t saveCount() const = 0;
  // What a file of "img/" looks like now; none when it is not there.
  virtual std::optional<FileStamp> stampOf(const std::string& fileName) const = 0;
  // A picture taken from a file: what the disk holds now (none: the file is not the editor's to
  // replace without asking any more).
  virtual void setDiskPicture(const std::string& fileName, const std::optional<EditorState::DiskImage>& disk) = 0;
};

// The translated name of a step; the texts are marked with QT_TRANSLATE_NOOP("Command", ...).
QString stepText(const char* text);

class Command : public QUndoCommand {
  friend class HistoryCodec;

 public:
  Command(RecordEdits& edits, const char* text);
  // The selection the step makes (what it put in or moved): its first redo selects it.
  void selectAfter(SelectedRows selection) { select_ = std::move(selection); }

 protected:
  // The selection before the step, and after it (as the step's first redo left it).
  void remember(bool after) { (after ? after_ : before_) = edits_.selection(); }
  void restore(bool after) { edits_.restoreSelection(after ? after_ : before_); }
  // At the end of the first redo: selects what selectAfter named and remembers the selection.
  void settle() {
    if (select_) edits_.restoreSelection(*select_);
    remember(true);
  }
  // A step read back from a recovery is pushed onto the history where the records stand after it
  // already: its first redo changes nothing.
  bool skipped() { return std::exchange(skipRedo_, false); }
  RecordEdits& edits_;
  SelectedRows before_, after_;
  std::optional<SelectedRows> select_;
  bool skipRedo_ = false;
};

// One property of one record: a name, a depth, visibility, a picture or a position.
class PropertyCommand : public Command {
  friend class HistoryCodec;

 public:
  // done: the change has happened already (a drag moved the record while the pointer moved).
  PropertyCommand(RecordEdits& edits, const char* text, RecordAt at, Property property, RecordFields before,
                  RecordFields after, bool mergeable, bool done);
  void redo() override;
  void undo() override;
  // A run of nudges of one record is one step.
  int id() const override { return mergeable_ ? 1 : -1; }
  bool mergeWith(const QUndoCommand* other) override;

 private:
  RecordAt at_;
  Property property_;
  RecordFields old_, new_;
  bool mergeable_;
  bool done_;
};

// Records moved together by a canvas drag or nudges: where each stood before and after. Taking it back
// puts every one of them where it stood.
class MoveCommand : public Command {
  friend class HistoryCodec;

 public:
  struct Move {
    RecordAt at;
    int32_t fromX, fromY, toX, toY;
    bool operator==(const Move&) const = default;
  };
  // done: the records stand where they go already (a drag moved them while the pointer moved).
  MoveCommand(RecordEdits& edits, const char* text, std::vector<Move> moves, bool mergeable, bool done);
  void redo() override;
  void undo() override;
  // A run of nudges of the same records is one step.
  int id() const override { return mergeable_ ? 2 : -1; }
  bool mergeWith(const QUndoCommand* other) override;

 private:
  std::vector<Move> moves_;
  bool mergeable_;
  bool done_;
};

// Records put into a list (characters, or layers of one character) and taken out again. Taking out a
// record that a save has written queues its files for deletion; putting it back drops them from the
// queue again while no save has carried them out.
class RecordsCommand : public Command {
  friend class HistoryCodec;

 public:
  // Inserting: the records to put in at `at`. Removing: `count` records at `at`.
  static RecordsCommand* inserting(RecordEdits& edits, const char* text, RecordAt at,
                                   std::vector<Character> characters, std::vector<Layer> layers);
  static RecordsCommand* removing(RecordEdits& edits, const char* text, RecordAt at, int64_t count);
  void redo() override;
  void undo() override;

 private:
  RecordsCommand(RecordEdits& edits, const char* text, RecordAt at, bool inserting);
  void putIn();
  void takeOut(bool queueFiles);
  RecordAt at_;
  bool inserting_;
  int64_t count_ = 1;
  std::vector<Character> characters_;  // out of the list
  std::vector<Layer> layers_;
  std::vector<std::string> queued_;  // the files this step queued, and the saves made then
  uint64_t saveCount_ = 0;
  bool first_ = true;
};

// The records of one list (the characters, or the layers of one character) put in another order.
class ReorderCommand : public Command {
  friend class HistoryCodec;

 public:
  // order[i]: the row of the record that comes to row i; characterRow -1 for the characters.
  ReorderCommand(RecordEdits& edits, const char* text, int64_t characterRow, std::vector<int64_t> order);
  void redo() override;
  void undo() override;

 private:
  int64_t characterRow_;
  std::vector<int64_t> order_, inverse_;
  bool first_ = true;
};

// A picture taken from a file of "img/" that another program changed (or that a new name found): the
// file's truth. Taking it back gives the record its picture before, and makes the file one the next
// save asks about before replacing it.
class TakePictureCommand : public Command {
  friend class HistoryCodec;

 public:
  // done: the record shows the picture already (a save took it).
  TakePictureCommand(RecordEdits& edits, RecordAt at, std::string fileName, ImageRef picture, FileStamp stamp,
                     bool done);
  void redo() override;
  void undo() override;

 private:
  RecordAt at_;
  std::string fileName_;
  ImageRef old_, new_;
  EditorState::DiskImage newDisk_;
  bool done_;
};

}  // namespace charstack
