// Runs independent jobs on all cores.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace charstack {

// Calls job(i) for every i in [0, count), spread over the machine's cores. job must be safe to call
// from several threads at once for different i. Returns when every call has returned.
template <typename Job>
void parallelFor(size_t count, Job&& job) {
  size_t threads = std::max<size_t>(1, std::thread::hardware_concurrency());
  threads = std::min(threads, count);
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

}  // namespace charstack
