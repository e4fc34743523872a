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

// Moves the files (paths inside the folder, such as "img/hero12") to the desktop's trash together,
// as one entry of the freedesktop.org trash whatever the number of files: the trash's note
// (info/NAME.trashinfo, which tells where the entry came from) is written and flushed first, then
// each file is renamed into a new folder of the project (keeping its path inside it), and that folder
// is renamed into the trash (files/NAME). The trash is the home trash when it is on the project's
// disk, otherwise the disk's own .Trash-UID folder; the files are never copied across disks.
// progress is called on the calling thread with the number of files done so far. Once cancelled is
// set no further file is started, and the files moved so far go to the trash. When the note cannot be
// written, the disk runs full or the folder cannot go to the trash, nothing is moved: the files that
// went into the folder go back where they were, and each file's problem names what failed and why.
TrashReport trashFiles(const ProjectFolder& folder, const std::vector<std::string>& files,
                       const std::function<void(size_t done)>& progress, const std::atomic<bool>& cancelled);

// The folders ("unused images <date>") that a clean-up stopped mid-way (the editor killed, the
// machine off) left in the project folder with the files it had taken out of img/, one problem each
// for the open to show: the files in them are no longer where the records look for them.
std::vector<Problem> findCleanUpLeftovers(const ProjectFolder& folder);

}  // namespace charstack
