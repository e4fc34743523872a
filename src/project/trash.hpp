// Moving many files of a project folder to the desktop's trash, away from the window's thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "project/project_io.hpp"

namespace charstack {

struct TrashReport {
  std::vector<std::string> moved;  // the files now in the trash, in the order given
  std::vector<Problem> problems;   // the files that stayed, in the order given, each with the reason
  size_t notTried = 0;             // files left alone because the move was cancelled
};

// Moves each file (a path inside the folder) to the trash with ProjectFolder::moveToTrash, a few at
// a time. progress is called with the number of files done so far after each one, from the threads
// that move them (it must be safe to call from several at once). Once cancelled is set, no further
// file is started; the ones under way finish.
TrashReport trashFiles(const ProjectFolder& folder, const std::vector<std::string>& files,
                       const std::function<void(size_t done)>& progress, const std::atomic<bool>& cancelled);

}  // namespace charstack
