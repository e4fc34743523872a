// Writes the recovery of unsaved work (recovery.hpp) a moment after the records or the history
// change, off the window's thread, and removes it once nothing is unsaved. Writes and removals run
// one at a time, in the order they were asked for.
#pragma once

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "controller/document.hpp"
#include "controller/recovery.hpp"

namespace charstack {

class Editor;

class Autosave : private TableObserver {
 public:
  // How soon after a change the recovery is written.
  static constexpr int kDelayMs = 1500;
  // stateFolder: where recoveries are kept (empty: the desktop's state folder). While busy() says so
  // (a save runs, or its questions are open), the records may be half way: the write waits.
  Autosave(Editor& editor, std::function<bool()> busy = {}, std::filesystem::path stateFolder = {});
  ~Autosave() override;

  // The recovery folder of the project open now; follow() after another project was opened.
  const std::filesystem::path& folder() const { return folder_; }
  void follow();
  // Recoveries are written and removed only once the one an open found was dealt with (restored, kept
  // aside or discarded) or none was there: never one this editor has not taken over.
  void adopt() { adopted_ = true; }
  // Writes now what is unsaved (or removes the recovery when nothing is), as the timer would.
  void writeNow();
  // A recovery was restored from this folder: its pictures stay where they are.
  void restored(const RecoveredWork& work);
  // The work was saved, or discarded (byUser): the recovery goes (after a write that runs). Discarded
  // work is not kept again; the next change is.
  void discard(bool byUser = false);
  // Waits until the writes and removals asked for are done.
  void wait();
  // Told when a write or removal failed (on the window's thread), with the reason.
  void setFailureListener(std::function<void(const QString&)> listener) { failed_ = std::move(listener); }

 private:
  void beginRows(Table, Change, int64_t, int64_t) override {}
  void endRows(Table) override { changed(); }
  void rowsChanged(Table, int64_t, int64_t) override { changed(); }
  void changed();
  // Runs work on the pool, after the jobs asked for before it.
  void start(std::function<void(RecoveryPictures&)> work);
  // A job's failure, kept for the window's thread (any thread).
  void fail(const Status& status);
  // On the window's thread, once no job runs: tells a failure, and writes the changes made meanwhile.
  void finished();

  Editor& editor_;
  std::filesystem::path stateFolder_, folder_;
  RecoveryPictures pictures_;  // the jobs' own, under jobs_
  std::mutex jobs_;
  std::atomic<int> running_{0};  // jobs asked for and not done
  std::mutex failures_;
  std::string failure_;  // under failures_
  QObject context_;
  QTimer timer_, poll_;
  QThreadPool pool_;
  bool adopted_ = false;
  bool discarded_ = false;  // the user discarded the unsaved work, and nothing changed since
  bool again_ = false;  // a change came while a write ran
  std::function<void(const QString&)> failed_;
  std::function<bool()> busy_;
};

}  // namespace charstack
