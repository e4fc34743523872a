// The journal of a save: the renames and removals that turn the project on disk from the last save
// into the new one. Written and flushed before the first of them, it is the save's commit point:
// whatever happens afterwards, the next open finishes it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "project/project_io.hpp"

namespace charstack {

inline constexpr const char* kJournalFileName = ".charstack-journal";

struct Journal {
  struct Rename {
    std::string staged;  // a temporary file name inside "img/"
    std::string target;  // the image file name it becomes
  };
  struct Removal {
    std::string fileName;  // inside "img/"
    FileStamp stamp;       // removed only while the file still looks like this
  };
  std::vector<Rename> renames;
  // The new "data.txt": a temporary file beside the file that "data.txt" names (the file itself, or
  // the target of a link), as an absolute path; empty when "data.txt" is not written.
  std::string stagedData;
  std::vector<Removal> removals;
};

std::string journalText(const Journal& journal);
// None when the text is no complete journal, or names anything a save could not have written.
std::optional<Journal> parseJournal(std::string_view text);

// Where "data.txt" really is: its own path, or the file its link names.
std::filesystem::path dataFileTarget(const ProjectFolder& folder);

// Writes the journal and makes it durable: the commit point. False (and problems) when it could not.
bool writeJournal(const ProjectFolder& folder, const Journal& journal, std::vector<Problem>& problems);
// Carries out a journal (again): staged files that are still there are renamed into place, removals
// whose file is unchanged are done, then the journal is deleted. Whatever was done before is skipped,
// so it may run any number of times. False when a step failed (the journal stays for the next try).
bool applyJournal(const ProjectFolder& folder, const Journal& journal, std::vector<Problem>& problems);

}  // namespace charstack
