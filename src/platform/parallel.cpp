#include "platform/parallel.hpp"

#include <QRunnable>
#include <QThreadPool>
#include <exception>
#include <memory>

namespace charstack::detail {

namespace {

// The pool of the editor's parallel work, apart from Qt's global one, which QtConcurrent fills with
// longer work (thumbnails, a clean-up) that must not hold back a save.
// (A function's static rather than Q_GLOBAL_STATIC, whose fences ThreadSanitizer cannot follow.)
QThreadPool* workPool() {
  static QThreadPool pool;
  return &pool;
}

// What one runWithHelpers call shares with its helpers. The helpers that have not started when the
// caller's part is done are closed out: they find `closed` set and return at once.
struct Shared {
  std::mutex mutex;
  std::condition_variable finished;
  bool closed = false;
  size_t running = 0;
  std::exception_ptr error;  // the first exception of a helper
};

// Qt's pool hands a task to its thread through its own mutex, which ThreadSanitizer cannot see (Qt is
// not built with it). The release before QThreadPool::start and the acquire that starts every run()
// are the same hand-off, visible to it: all the caller wrote before start() happens before run().
std::atomic<uint64_t> handOffs{0};

class Helper : public QRunnable {
 public:
  Helper(std::shared_ptr<Shared> shared, const std::function<void()>* work)
      : shared_(std::move(shared)), work_(work) {}

  void run() override {
    handOffs.load(std::memory_order_acquire);
    {
      std::lock_guard lock(shared_->mutex);
      if (shared_->closed) return;
      ++shared_->running;
    }
    std::exception_ptr error;
    try {
      (*work_)();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard lock(shared_->mutex);
    if (error && !shared_->error) shared_->error = error;
    if (--shared_->running == 0) shared_->finished.notify_all();
  }

 private:
  std::shared_ptr<Shared> shared_;
  const std::function<void()>* work_;  // the caller's; only called before the caller closes out
};

}  // namespace

void runWithHelpers(size_t helpers, const std::function<void()>& helper,
                    const std::function<void()>& caller) {
  QThreadPool* pool = workPool();
  // Callers ask for the machine's cores, or more for work that waits on the disk.
  const int wanted = static_cast<int>(std::min<size_t>(helpers, 256));
  if (pool->maxThreadCount() < wanted) pool->setMaxThreadCount(wanted);
  auto shared = std::make_shared<Shared>();
  for (size_t h = 0; h < helpers; ++h) {
    auto* task = new Helper(shared, &helper);  // the pool deletes it after run()
    handOffs.fetch_add(1, std::memory_order_release);
    pool->start(task);
  }
  std::exception_ptr error;
  try {
    caller();
  } catch (...) {
    error = std::current_exception();
  }
  std::unique_lock lock(shared->mutex);
  shared->closed = true;
  shared->finished.wait(lock, [&] { return shared->running == 0; });
  if (!error) error = shared->error;
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

}  // namespace charstack::detail
