// Runs independent jobs on all cores.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <cstddef>
#include <thread>
#include <utility>
#include <vector>

namespace charstack {

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
  auto worker = [&] {
    for (size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) job(i);
  };
  std::vector<std::thread> pool;
  pool.reserve(threads - 1);
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (auto& t : pool) t.join();
}

// The same spread over the machine's cores.
template <typename Job>
void parallelFor(size_t count, Job&& job) {
  parallelFor(count, std::forward<Job>(job), std::max<size_t>(1, std::thread::hardware_concurrency()));
}

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
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<char> prepared(count, 0);
  size_t next = 0;      // the next item a worker takes
  size_t consumed = 0;  // items below this one have been consumed
  bool stop = false;
  auto worker = [&] {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stop || next >= count || next < consumed + ahead; });
      if (stop || next >= count) return;
      const size_t i = next++;
      lock.unlock();
      prepare(i);
      lock.lock();
      prepared[i] = 1;
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(threads);
  for (size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
  auto finish = [&] {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    changed.notify_all();
    for (auto& t : pool) t.join();
  };
  try {
    for (size_t i = 0; i < count; ++i) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return prepared[i] != 0; });
      }
      consume(i);
      {
        std::lock_guard lock(mutex);
        consumed = i + 1;
      }
      changed.notify_all();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

}  // namespace charstack
