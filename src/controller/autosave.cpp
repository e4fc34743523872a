#include "controller/autosave.hpp"

#include <QCoreApplication>

#include "controller/editor.hpp"

namespace charstack {

Autosave::Autosave(Editor& editor, std::function<bool()> busy, std::filesystem::path stateFolder)
    : editor_(editor), stateFolder_(std::move(stateFolder)), busy_(std::move(busy)) {
  pool_.setMaxThreadCount(1);  // one write or removal at a time, in order
  timer_.setSingleShot(true);
  timer_.setInterval(kDelayMs);
  QObject::connect(&timer_, &QTimer::timeout, &context_, [this] { writeNow(); });
  QObject::connect(&editor_.document().history(), &QUndoStack::indexChanged, &context_, [this] { changed(); });
  editor_.document().addObserver(this);
  follow();
}

Autosave::~Autosave() {
  editor_.document().removeObserver(this);
  pool_.waitForDone();
}

void Autosave::follow() {
  timer_.stop();
  adopted_ = false;
  folder_ = recoveryFolderOf(editor_.store().folder().path(), stateFolder_);
}

void Autosave::changed() {
  discarded_ = false;
  // Not restarted by every change: a long run of edits is still written every kDelayMs.
  if (!timer_.isActive()) timer_.start();
}

void Autosave::writeNow() {
  timer_.stop();
  const ProjectStore& store = editor_.store();
  // Only the window that owns the project keeps its recovery.
  if (!adopted_ || discarded_ || store.readOnly() || store.ownership() != ProjectLock::Ownership::Owned) return;
  if (writing_) {
    again_ = true;
    return;
  }
  // A drag records its step at the release, a save its file names at the end: until then the records
  // are half way.
  if (editor_.moves().dragging() || (busy_ && busy_())) return changed();
  if (!store.hasUnsavedChanges()) return discard();
  writing_ = true;
  pool_.start([this, snapshot = captureRecovery(editor_), folder = folder_] {
    const Status status = writeRecovery(snapshot, folder, pictures_);
    QMetaObject::invokeMethod(&context_, [this, status] { finished(status); }, Qt::QueuedConnection);
  });
}

void Autosave::finished(const Status& status) {
  writing_ = false;
  report(status);
  if (std::exchange(again_, false)) changed();
}

void Autosave::report(const Status& status) {
  if (!status.ok() && failed_)
    failed_(QCoreApplication::translate("Recovery", "The unsaved work could not be kept for recovery: %1")
                .arg(QString::fromStdString(status.error)));
}

void Autosave::discard(bool byUser) {
  timer_.stop();
  if (!adopted_) return;
  discarded_ = byUser;
  again_ = false;
  pool_.start([this, folder = folder_] {
    const Status status = removeRecovery(folder);
    if (!status.ok()) QMetaObject::invokeMethod(&context_, [this, status] { report(status); }, Qt::QueuedConnection);
  });
}

}  // namespace charstack
