// Tells what changes in a few folders: a file created, written, renamed, removed, or its mode changed.
// One watch per folder, whatever the number of files in it.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace charstack {

struct FolderEvent {
  size_t folder = 0;    // which of the watched folders (its index in watch())
  std::string name;     // the entry inside it; empty for the folder itself
  bool overflow = false;  // events were lost: anything may have changed
};

class FolderWatch {
 public:
  // Calls changed on the thread that runs the Qt event loop with what changed in the folders since
  // the last call.
  explicit FolderWatch(std::function<void(const std::vector<FolderEvent>&)> changed);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Watches these folders (those that exist) instead of the ones before.
  void watch(const std::vector<std::filesystem::path>& folders);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace charstack
