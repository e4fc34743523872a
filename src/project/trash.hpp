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
  std::vector<Problem> problems;   // the files that were not moved, in the order given, with the reason
  size_t notTried = 0;             // files left alone because the move was cancelled
  std::string bundle;              // the folder that took them to the trash; empty when none did
};

// The name of the folder that takes the files of one clean-up to the trash, made unique inside the
// project folder: "unused images 2024-05-01 10.22.33".
std::string trashBundleName(const ProjectFolder& folder);

// Moves the files (paths inside the folder, such as "img/hero12") to the desktop's trash together:
// each is renamed into a new folder of the project (keeping its path inside it), and that one folder
// goes to the trash with ProjectFolder::moveToTrash. The trash then shows one entry whatever the
// number of files, and the move costs about what renaming them does (a trash entry of its own for
// each file would write a note file for each). Restoring the entry brings the folder back into the
// project folder. progress is called on the calling thread with the number of files done so far.
// Once cancelled is set no further file is started, and the files moved so far go to the trash.
// When the folder cannot go to the trash, its files are moved back where they were.
TrashReport trashFiles(const ProjectFolder& folder, const std::vector<std::string>& files,
                       const std::function<void(size_t done)>& progress, const std::atomic<bool>& cancelled);

}  // namespace charstack
