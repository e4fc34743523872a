// Runs independent jobs on all cores.
//
// The jobs run on threads of a QThreadPool, never on threads of their own: Qt keeps per-thread state
// for what runs on a thread (image plugins that QImageReader creates there, for one) and tears it
// down safely only for threads it made itself.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace charstack {

namespace detail {

// Runs caller() on the calling thread while up to `helpers` threads of the pool run helper() once
// each. Returns when caller() has returned and every helper() that started has returned; a helper()
// that has not started by then never starts, so caller() must be able to finish the work alone (the
// pool may be busy). An exception of caller() or of a helper() is thrown again here, after the wait.
void runWithHelpers(size_t helpers, const std::function<void()>& helper, const std::function<void()>& caller);

}  // namespace detail

// Calls job(i) for every i in [0, count) on up to `threads` threads. job must be safe to call from
// several threads at once for different i. Returns when every call has returned.
template <typename Job>
void parallelFor(size_t count, Job&& job, size_t threads) {
  threads = std::min(std::max<size_t>(1, threads), count);
  if (threads <= 1) {
    for (size_t i = 0; i < count; ++i) job(i);
    return;
  }
  std::atomic<size_t> next{0};
  const std::function<void()> worker = [&] {
    for (size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) job(i);
  };
  detail::runWithHelpers(threads - 1, worker, worker);
}

// The same spread over the machine's cores.
template <typename Job>
void parallelFor(size_t count, Job&& job) {
  parallelFor(count, std::forward<Job>(job), std::max<size_t>(1, std::thread::hardware_concurrency()));
}

namespace detail {

// What the threads of an ordered pipeline share.
struct PipelineState {
  PipelineState(size_t count, size_t ahead) : prepared(count, 0), count(count), ahead(ahead) {}
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<char> prepared;
  const size_t count, ahead;
  size_t next = 0;      // the next item to prepare
  size_t consumed = 0;  // items below this one have been consumed
  bool stop = false;    // no item is to be prepared any more
  bool failed = false;  // a worker's prepare threw: its item will never be ready

  // The next item for a worker to prepare, once the consumer is near enough; none when all are taken.
  std::optional<size_t> take(std::unique_lock<std::mutex>& lock) {
    changed.wait(lock, [&] { return stop || next >= count || next < consumed + ahead; });
    if (stop || next >= count) return std::nullopt;
    return next++;
  }
  // Waits for item i, preparing it on this thread when no worker has taken it yet (the pool's threads
  // may all be busy elsewhere). False when a worker failed.
  template <typename Prepare>
  bool awaitPrepared(size_t i, Prepare& prepare) {
    std::unique_lock lock(mutex);
    while (!prepared[i]) {
      if (failed) return false;  // runWithHelpers throws the worker's exception
      if (next == i) {
        ++next;
        lock.unlock();
        prepare(i);
        lock.lock();
        prepared[i] = 1;
      } else {
        changed.wait(lock);
      }
    }
    return true;
  }
  void markConsumed(size_t i) {
    {
      std::lock_guard lock(mutex);
      consumed = i + 1;
    }
    changed.notify_all();
  }
  void finish() {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    changed.notify_all();
  }
};

}  // namespace detail

// Calls prepare(i) for every i in [0, count) on up to `threads` threads, at most `ahead` items beyond
// the last one consumed, and consume(i) on the calling thread in order of i, each after prepare(i)
// has returned. prepare must be safe to call from several threads at once for different i.
template <typename Prepare, typename Consume>
void orderedPipeline(size_t count, size_t threads, size_t ahead, Prepare&& prepare, Consume&& consume) {
  threads = std::min(std::max<size_t>(1, threads), count);
  ahead = std::max<size_t>(1, ahead);
  if (threads <= 1) {
    for (size_t i = 0; i < count; ++i) {
      prepare(i);
      consume(i);
    }
    return;
  }
  detail::PipelineState s(count, ahead);
  const std::function<void()> worker = [&] {
    std::unique_lock lock(s.mutex);
    while (const std::optional<size_t> i = s.take(lock)) {
      lock.unlock();
      try {
        prepare(*i);
      } catch (...) {
        lock.lock();
        s.stop = s.failed = true;
        s.changed.notify_all();
        throw;
      }
      lock.lock();
      s.prepared[*i] = 1;
      s.changed.notify_all();
    }
  };
  // The calling thread consumes in order.
  const std::function<void()> consumer = [&] {
    try {
      for (size_t i = 0; i < count && s.awaitPrepared(i, prepare); ++i) {
        consume(i);
        s.markConsumed(i);
      }
    } catch (...) {
      s.finish();
      throw;
    }
    s.finish();
  };
  detail::runWithHelpers(threads, worker, consumer);
}

}  // namespace charstack
