#include "project/trash.hpp"

#include "platform/parallel.hpp"

namespace charstack {

namespace {
// Each move waits mostly on the file system; two at a time keep it busy without crowding it.
constexpr size_t kThreads = 2;
}  // namespace

TrashReport trashFiles(const ProjectFolder& folder, const std::vector<std::string>& files,
                       const std::function<void(size_t done)>& progress, const std::atomic<bool>& cancelled) {
  enum class Outcome : char { NotTried, Moved, Failed };
  std::vector<Outcome> outcomes(files.size(), Outcome::NotTried);
  std::vector<std::string> reasons(files.size());
  std::atomic<size_t> done{0};
  parallelFor(
      files.size(),
      [&](size_t i) {
        if (cancelled.load(std::memory_order_relaxed)) return;
        const Status status = folder.moveToTrash(files[i]);
        outcomes[i] = status.ok() ? Outcome::Moved : Outcome::Failed;
        if (!status.ok()) reasons[i] = "was not moved to the trash: " + status.error;
        if (progress) progress(done.fetch_add(1) + 1);
      },
      kThreads);

  TrashReport report;
  for (size_t i = 0; i < files.size(); ++i) {
    switch (outcomes[i]) {
      case Outcome::Moved: report.moved.push_back(files[i]); break;
      case Outcome::Failed: report.problems.push_back({files[i], std::move(reasons[i])}); break;
      case Outcome::NotTried: ++report.notTried; break;
    }
  }
  return report;
}

}  // namespace charstack
