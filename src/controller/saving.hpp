// Saving as the user sees it: what a save may need to ask, and the save that asks and tries again.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "controller/project_store.hpp"
#include "project/project_io.hpp"

namespace charstack {

// The questions a save may have for the user; the window answers them with dialogs.
class SaveQuestions {
 public:
  virtual ~SaveQuestions() = default;
  // "data.txt" holds text but no record the editor can read: replace it, keeping its old text?
  virtual bool replaceDataFileWithoutRecords() = 0;
  // These files were changed by another program, or put where the editor had read none: replace?
  virtual bool replaceChangedFiles(const std::vector<std::string>& files) = 0;
  // The project folder was moved or renamed to `now` since it was opened: save it there?
  virtual bool saveIntoMovedFolder(const std::filesystem::path& now) = 0;
  // "data.txt" or "img/" leads out of the project folder through a link: write there?
  virtual bool writeThroughLinks(const std::vector<std::string>& paths) = 0;
};

// Saves the project, and when the save needs the user's word, asks and saves again with it.
SaveReport saveAsking(ProjectStore& store, SaveQuestions& questions, SaveOptions options = {});

// Whether another window (of this program or another process) owns the project in a folder now.
bool projectInUse(const std::filesystem::path& folder);

}  // namespace charstack
