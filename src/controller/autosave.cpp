#include "controller/autosave.hpp"

#include <QCoreApplication>
#include <QRunnable>

#include "controller/editor.hpp"

namespace charstack {

namespace {

// Qt's pool hands a job to its thread through its own mutex, which ThreadSanitizer cannot see (Qt is
// not built with it). The release before QThreadPool::start and the acquire that starts every job
// are the same hand-off, visible to it: all the window's thread wrote before start() happens before
// the job runs.
std::atomic<uint64_t> handOffs{0};

class Job : public QRunnable {
 public:
  explicit Job(std::function<void()> work) : work_(std::move(work)) {}
  void run() override {
    handOffs.load(std::memory_order_acquire);
    work_();
  }

 private:
  std::function<void()> work_;
};

}  // namespace

Autosave::Autosave(Editor& editor, std::function<bool()> busy, std::filesystem::path stateFolder)
    : editor_(editor), stateFolder_(std::move(stateFolder)), busy_(std::move(busy)) {
  pool_.setMaxThreadCount(1);  // one write or removal at a time, in order
  timer_.setSingleShot(true);
  timer_.setInterval(kDelayMs);
  QObject::connect(&timer_, &QTimer::timeout, &context_, [this] { writeNow(); });
  // The jobs tell nothing across threads: the window's thread looks now and then while one runs.
  poll_.setSingleShot(true);
  poll_.setInterval(50);
  QObject::connect(&poll_, &QTimer::timeout, &context_, [this] { finished(); });
  QObject::connect(&editor_.document().history(), &QUndoStack::indexChanged, &context_, [this] { changed(); });
  editor_.document().addObserver(this);
  follow();
}

Autosave::~Autosave() {
  editor_.document().removeObserver(this);
  wait();
}

void Autosave::wait() {
  pool_.waitForDone();
  // What the jobs did happens before what follows (the pool's own waiting is not seen as such).
  std::lock_guard lock(jobs_);
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

void Autosave::start(std::function<void(RecoveryPictures&)> work) {
  running_.fetch_add(1, std::memory_order_relaxed);
  auto* job = new Job([this, work = std::move(work)] {
    // The jobs run one after another, maybe on different threads: the lock orders them too, and
    // orders all a job did before a wait() that follows it.
    std::lock_guard lock(jobs_);
    work(pictures_);
    running_.fetch_sub(1, std::memory_order_release);
  });
  handOffs.fetch_add(1, std::memory_order_release);
  pool_.start(job);  // the pool deletes it after run()
  poll_.start();
}

void Autosave::writeNow() {
  timer_.stop();
  const ProjectStore& store = editor_.store();
  // Only the window that owns the project keeps its recovery.
  if (!adopted_ || discarded_ || store.readOnly() || store.ownership() != ProjectLock::Ownership::Owned) return;
  if (running_.load(std::memory_order_acquire) > 0) {
    again_ = true;
    return;
  }
  // A drag records its step at the release, a save its file names at the end: until then the records
  // are half way.
  if (editor_.moves().dragging() || (busy_ && busy_())) return changed();
  if (!store.hasUnsavedChanges()) return discard();
  start([this, snapshot = captureRecovery(editor_), folder = folder_](RecoveryPictures& pictures) {
    fail(writeRecovery(snapshot, folder, pictures));
  });
}

void Autosave::fail(const Status& status) {
  if (status.ok()) return;
  std::lock_guard lock(failures_);
  failure_ = status.error;
}

void Autosave::finished() {
  if (running_.load(std::memory_order_acquire) > 0) return poll_.start();
  std::string failure;
  {
    std::lock_guard lock(failures_);
    failure = std::exchange(failure_, {});
  }
  if (!failure.empty() && failed_)
    failed_(QCoreApplication::translate("Recovery", "The unsaved work could not be kept for recovery: %1")
                .arg(QString::fromStdString(failure)));
  if (std::exchange(again_, false)) changed();
}

void Autosave::restored(const RecoveredWork& work) {
  start([work](RecoveryPictures& pictures) { pictures.remember(work); });
}

void Autosave::discard(bool byUser) {
  timer_.stop();
  if (!adopted_) return;
  discarded_ = byUser;
  again_ = false;
  start([this, folder = folder_](RecoveryPictures&) { fail(removeRecovery(folder)); });
}

}  // namespace charstack
