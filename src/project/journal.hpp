// The journal of a save: the renames and removals that turn the project on disk from the last save
// into the new one. Written and flushed before the first of them, it is the save's commit point:
// whatever happens afterwards, the next open finishes it. It names every file relative to the project
// folder and records what each step must leave behind, so that whoever carries it out (the save
// itself, or the next open by whatever path, or of a moved or copied folder) proves each step instead
// of assuming it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "project/project_io.hpp"

namespace charstack {

inline constexpr const char* kJournalFileName = ".charstack-journal";

struct Journal {
  // A picture staged under its final name in the staging folder, to be renamed into "img/".
  struct Put {
    std::string target;              // the image file name inside "img/"
    ContentCheck content;            // what the staged file holds
    std::optional<FileStamp> was;    // the file under that name at the commit; none: no file
  };
  struct Removal {
    std::string fileName;  // inside "img/"
    FileStamp stamp;       // removed only while the file still looks like this
  };
  // The project folder the save wrote in (its device and inode): in a copy made since, the stamps of
  // its files say nothing, and only what content proves is taken as done.
  uint64_t folderDevice = 0, folderInode = 0;
  // The staging folder inside "img/" (a temporary name); empty when no picture is put.
  std::string staging;
  std::vector<Put> puts;
  // The new "data.txt": a temporary file beside the file that "data.txt" names, relative to the
  // project folder; empty when "data.txt" is not written.
  std::string stagedData;
  ContentCheck dataContent;
  std::optional<FileStamp> dataWas;
  std::vector<Removal> removals;
};

std::string journalText(const Journal& journal);
// None when the text is no complete journal, or names anything a save could not have written.
std::optional<Journal> parseJournal(std::string_view text);

// Where "data.txt" really is: its own path, or the file its link names (as the folder spells it).
std::filesystem::path dataFileTarget(const ProjectFolder& folder);
// The same relative to the project folder ("data.txt", "texts/data.txt"); none when it is outside.
std::optional<std::string> dataFileTargetInside(const ProjectFolder& folder);

// Writes the journal and makes it durable: the commit point. False (and problems) when it could not.
bool writeJournal(const ProjectFolder& folder, const Journal& journal, std::vector<Problem>& problems);

// What carrying out a journal came to.
struct JournalOutcome {
  bool done = false;     // every step is proven done and the journal is gone
  bool stopped = false;  // a step could not be proven nor taken: the journal stays, the project is mixed
  // Files another program changed after the commit: kept, with the save's version beside them.
  std::vector<std::pair<std::string, std::string>> keptBeside;  // the file, and where the save's went
};
// Carries out a journal (again). First every step is checked: a staged file must still be there, or
// its target must already hold exactly what it held; anything else stops the journal before it
// changes a file. Then each staged file goes into place, unless its target changed since the commit
// (that file is kept, and the staged one goes beside it under a name that says so); the removals of
// files still as the journal saw them follow, and the journal is deleted. It may run any number of
// times. Never through a link that leads out of the project, unless the user allowed it (outside).
JournalOutcome applyJournal(const ProjectFolder& folder, const Journal& journal, std::vector<Problem>& problems,
                            bool outside = false);

}  // namespace charstack
