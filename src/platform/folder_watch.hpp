// Tells when anything in a few folders changes: a file created, written, renamed, removed, or its
// mode changed. One watch per folder, whatever the number of files in it.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace charstack {

class FolderWatch {
 public:
  // Calls changed on the thread that runs the Qt event loop, after something changed in one of the
  // folders (several changes close together may come as one call).
  explicit FolderWatch(std::function<void()> changed);
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
