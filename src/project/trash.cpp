#include "project/trash.hpp"

#include <chrono>
#include <ctime>
#include <optional>
#include <system_error>
#include <unordered_set>

namespace charstack {

namespace {

// Removes a folder of empty folders; leaves any folder that still holds a file.
bool removeEmptyFolders(const std::filesystem::path& dir) {
  std::error_code error;
  bool empty = true;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const bool folder = entry.is_directory(error) && !entry.is_symlink(error);
    empty = (folder && removeEmptyFolders(entry.path())) && empty;
  }
  return !error && empty && std::filesystem::remove(dir, error);
}

}  // namespace

std::string trashBundleName(const ProjectFolder& folder) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M.%S", &local);
  const std::string base = std::string("unused images ") + stamp;
  std::string name = base;
  for (int n = 2; folder.inspect(name).exists; ++n) name = base + " (" + std::to_string(n) + ")";
  return name;
}

TrashReport trashFiles(const ProjectFolder& folder, const std::vector<std::string>& files,
                       const std::function<void(size_t done)>& progress, const std::atomic<bool>& cancelled) {
  TrashReport report;
  if (files.empty()) return report;
  const std::string bundle = trashBundleName(folder);
  const Status made = folder.createFolder(bundle);
  const std::filesystem::path into = folder.resolve(bundle);

  // Into the bundle, one rename each. A reason for each file that stays; none for one moved.
  std::vector<std::optional<std::string>> reasons(files.size());
  std::unordered_set<std::string> seen, folders;  // files moved, folders made in the bundle
  size_t tried = 0;
  for (; tried < files.size() && !cancelled.load(std::memory_order_relaxed); ++tried) {
    const std::string& file = files[tried];
    std::error_code error;
    if (!made.ok()) {
      reasons[tried] = "the folder " + bundle + " to take it could not be made (" + made.error + ")";
    } else if (!seen.insert(file).second) {
      error = std::make_error_code(std::errc::file_exists);  // named twice: it has gone already
    } else {
      const std::filesystem::path target = into / file;
      if (!folders.count(target.parent_path().string())) {
        std::filesystem::create_directories(target.parent_path(), error);
        if (!error) folders.insert(target.parent_path().string());
      }
      if (!error) std::filesystem::rename(folder.resolve(file), target, error);
    }
    if (error) reasons[tried] = error.message();
    if (progress) progress(tried + 1);
  }
  report.notTried = files.size() - tried;

  // The bundle goes to the trash; when it cannot, its files go back where they were.
  bool anyMoved = false;
  for (size_t i = 0; i < tried; ++i) anyMoved = anyMoved || !reasons[i];
  const Status trashed = anyMoved ? folder.moveToTrash(bundle) : Status::failure("nothing to move");
  if (anyMoved && !trashed.ok()) {
    for (size_t i = 0; i < tried; ++i) {
      if (reasons[i]) continue;
      std::error_code error;
      std::filesystem::rename(into / files[i], folder.resolve(files[i]), error);
      reasons[i] = trashed.error + (error ? "; it is now in " + bundle + "/" + files[i] : std::string());
    }
  }
  if (!trashed.ok() && made.ok()) removeEmptyFolders(into);  // a file that could not go back stays

  for (size_t i = 0; i < tried; ++i) {
    if (reasons[i])
      report.problems.push_back({files[i], "was not moved to the trash: " + *reasons[i]});
    else
      report.moved.push_back(files[i]);
  }
  if (!report.moved.empty()) report.bundle = bundle;
  return report;
}

}  // namespace charstack
