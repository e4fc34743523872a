#include "controller/commands.hpp"

#include <QCoreApplication>

#include <algorithm>

#include "project/records.hpp"

namespace charstack {

QString stepText(const char* text) { return QCoreApplication::translate("Command", text); }

Command::Command(RecordEdits& edits, const char* text) : QUndoCommand(stepText(text)), edits_(edits) {
  remember(false);
}

// ---- PropertyCommand ----------------------------------------------------------------------------

PropertyCommand::PropertyCommand(RecordEdits& edits, const char* text, RecordAt at, Property property,
                                 RecordFields before, RecordFields after, bool mergeable, bool done)
    : Command(edits, text),
      at_(at),
      property_(property),
      old_(std::move(before)),
      new_(std::move(after)),
      mergeable_(mergeable),
      done_(done) {}

void PropertyCommand::redo() {
  if (skipped()) return;
  if (std::exchange(done_, false)) {
    remember(true);
    return;
  }
  restore(false);
  edits_.document().setProperty(at_, property_, new_);
  settle();
}

void PropertyCommand::undo() {
  edits_.document().setProperty(at_, property_, old_);
  restore(false);
}

bool PropertyCommand::mergeWith(const QUndoCommand* other) {
  const auto* next = dynamic_cast<const PropertyCommand*>(other);
  if (!next || !next->mergeable_ || !(next->at_ == at_) || next->property_ != property_) return false;
  new_ = next->new_;
  after_ = next->after_;
  return true;
}

// ---- MoveCommand --------------------------------------------------------------------------------

MoveCommand::MoveCommand(RecordEdits& edits, const char* text, std::vector<Move> moves, bool mergeable, bool done)
    : Command(edits, text), moves_(std::move(moves)), mergeable_(mergeable), done_(done) {}

void MoveCommand::redo() {
  if (skipped()) return;
  if (std::exchange(done_, false)) {
    remember(true);
    return;
  }
  restore(false);
  RecordFields place;
  for (const Move& m : moves_) {
    place.x = m.toX, place.y = m.toY;
    edits_.document().setProperty(m.at, Property::Position, place);
  }
  settle();
}

void MoveCommand::undo() {
  RecordFields place;
  for (auto m = moves_.rbegin(); m != moves_.rend(); ++m) {
    place.x = m->fromX, place.y = m->fromY;
    edits_.document().setProperty(m->at, Property::Position, place);
  }
  restore(false);
}

bool MoveCommand::mergeWith(const QUndoCommand* other) {
  const auto* next = dynamic_cast<const MoveCommand*>(other);
  if (!next || !next->mergeable_ || next->moves_.size() != moves_.size()) return false;
  for (size_t i = 0; i < moves_.size(); ++i)
    if (!(next->moves_[i].at == moves_[i].at)) return false;
  for (size_t i = 0; i < moves_.size(); ++i) moves_[i].toX = next->moves_[i].toX, moves_[i].toY = next->moves_[i].toY;
  after_ = next->after_;
  return true;
}

// ---- RecordsCommand -----------------------------------------------------------------------------

RecordsCommand::RecordsCommand(RecordEdits& edits, const char* text, RecordAt at, bool inserting)
    : Command(edits, text), at_(at), inserting_(inserting) {}

RecordsCommand* RecordsCommand::inserting(RecordEdits& edits, const char* text, RecordAt at,
                                          std::vector<Character> characters, std::vector<Layer> layers) {
  auto* command = new RecordsCommand(edits, text, at, true);
  command->count_ = static_cast<int64_t>(at.layerRow < 0 ? characters.size() : layers.size());
  command->characters_ = std::move(characters);
  command->layers_ = std::move(layers);
  return command;
}

RecordsCommand* RecordsCommand::removing(RecordEdits& edits, const char* text, RecordAt at, int64_t count) {
  auto* command = new RecordsCommand(edits, text, at, false);
  command->count_ = count;
  return command;
}

void RecordsCommand::putIn() {
  edits_.document().putRecords(at_, std::move(characters_), std::move(layers_));
  characters_.clear(), layers_.clear();
  // The files the removal queued are still needed, unless a save has deleted them already.
  auto& pending = edits_.pendingDeletions();
  if (edits_.saveCount() == saveCount_ && pending.size() >= queued_.size() &&
      std::equal(queued_.rbegin(), queued_.rend(), pending.rbegin()))
    pending.resize(pending.size() - queued_.size());
  queued_.clear();
}

void RecordsCommand::takeOut(bool queueFiles) {
  queued_.clear();
  if (queueFiles) {
    queued_ = edits_.document().filesOf(at_, count_);
    saveCount_ = edits_.saveCount();
    auto& pending = edits_.pendingDeletions();
    pending.insert(pending.end(), queued_.begin(), queued_.end());
  }
  edits_.document().takeRecords(at_, count_, &characters_, &layers_);
}

void RecordsCommand::redo() {
  if (skipped()) return;
  const bool first = std::exchange(first_, false);
  if (!first) restore(false);
  if (inserting_) {
    putIn();
  } else {
    takeOut(true);
    // The layers table lists nothing after its character went.
    if (at_.layerRow < 0) edits_.document().showLayersOf(-1);
  }
  if (first)
    settle();
  else restore(true);
}

void RecordsCommand::undo() {
  if (inserting_) {
    // Records a save has written have files of their own by now.
    bool saved = false;
    forEachRecord(edits_.document().list(), [&](const auto& r, int64_t, int64_t k, int64_t m) {
      const bool inside = at_.layerRow < 0
                              ? k >= at_.characterRow && k < at_.characterRow + count_
                              : k == at_.characterRow && m >= at_.layerRow && m < at_.layerRow + count_;
      saved = saved || (inside && r.savedName.has_value());
    });
    takeOut(saved);
  } else {
    putIn();
  }
  restore(false);
}

// ---- ReorderCommand -----------------------------------------------------------------------------

ReorderCommand::ReorderCommand(RecordEdits& edits, const char* text, int64_t characterRow,
                               std::vector<int64_t> order)
    : Command(edits, text),
      characterRow_(characterRow),
      order_(std::move(order)),
      inverse_(order_.size()) {
  for (size_t i = 0; i < order_.size(); ++i)
    inverse_[static_cast<size_t>(order_[i])] = static_cast<int64_t>(i);
}

void ReorderCommand::redo() {
  if (skipped()) return;
  const bool first = std::exchange(first_, false);
  if (!first) restore(false);
  edits_.document().reorder(characterRow_, order_);
  if (first)
    settle();
  else
    restore(true);
}

void ReorderCommand::undo() {
  edits_.document().reorder(characterRow_, inverse_);
  restore(false);
}

// ---- TakePictureCommand -------------------------------------------------------------------------

TakePictureCommand::TakePictureCommand(RecordEdits& edits, RecordAt at, std::string fileName, ImageRef picture,
                                       FileStamp stamp, bool done)
    : Command(edits, at.layerRow < 0 ? QT_TRANSLATE_NOOP("Command", "Take Picture of Character from Disk")
                                          : QT_TRANSLATE_NOOP("Command", "Take Picture of Layer from Disk")),
      at_(at),
      fileName_(std::move(fileName)),
      old_(done ? nullptr : edits.document().fieldsOf(at).image),
      new_(picture),
      newDisk_{std::move(picture), stamp},
      done_(done) {}

void TakePictureCommand::redo() {
  if (skipped()) return;
  const bool first = std::exchange(done_, false);
  RecordFields fields;
  fields.image = new_;
  if (!first || edits_.document().fieldsOf(at_).image != new_) edits_.document().setProperty(at_, Property::Picture, fields);
  // The file is the editor's again only while it holds the picture taken from it.
  const bool unchanged = edits_.stampOf(fileName_) == newDisk_.stamp;
  edits_.setDiskPicture(fileName_, unchanged ? std::optional(newDisk_) : std::nullopt);
  remember(true);
}

void TakePictureCommand::undo() {
  RecordFields fields;
  fields.image = old_;
  edits_.document().setProperty(at_, Property::Picture, fields);
  // The file holds the picture taken: a save asks before it puts the older one there.
  edits_.setDiskPicture(fileName_, std::nullopt);
  restore(false);
}

}  // namespace charstack
