// Reading and writing a project: "data.txt" and the image files in "img/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.hpp"
#include "platform/files.hpp"

namespace charstack {

inline constexpr const char* kDataFileName = "data.txt";
inline constexpr const char* kImageFolder = "img";

// Something the user should be told about: the file (relative to the project folder) and why.
struct Problem {
  std::string file;
  std::string reason;
  bool operator==(const Problem&) const = default;
};

// The records of "data.txt" without their images.
struct ParsedProject {
  CharacterList list;
};

// Reads the text of "data.txt" into records (names, depths, visibility, positions; no images).
ParsedProject parseDataText(std::string_view bytes);

// The text that saving writes for the list.
std::string buildDataText(const CharacterList& list);
// The lines of a "data.txt" text that a save of the records read from it would write otherwise or
// leave out, and why ("data.txt line 3": "has 6 fields; the save keeps the first 5"): at most
// kMaxTextChangeNotes of them and a last note that counts the rest.
inline constexpr size_t kMaxTextChangeNotes = 20;
std::vector<Problem> describeTextChanges(std::string_view bytes);

struct LoadResult {
  CharacterList list;
  std::vector<Problem> problems;
  // Image files that exist but could not be read as images (file names inside "img/").
  std::set<std::string> unreadableImageFiles;
  // Image files that were read as the records' pictures, with what they looked like.
  std::unordered_map<std::string, EditorState::DiskImage> knownImageFiles;
  std::optional<FileStamp> dataFileStamp;
  // "data.txt" exists but could not be read.
  bool dataFileUnreadable = false;
  // "data.txt" holds text but no record.
  bool dataFileWithoutRecords = false;
  // "data.txt" holds text that a save of the same records would not write again (problems say which
  // lines): the first save keeps the old text beside it.
  bool dataFileForeign = false;
  // An interrupted save was found and completed before the project was read.
  bool interruptedSaveCompleted = false;
  // An interrupted save was found and could not be finished (problems say why): the project on disk
  // may be part old, part new; the editor opens it read-only.
  bool recoveryStopped = false;
  // The names in "img/", and what the folder looked like before it was listed (none when it could not
  // be listed; see EditorState::imageFolderNames).
  std::unordered_set<std::string> imageFolderNames;
  std::optional<FileStamp> imageFolderStamp;
};

// When the pictures of a project are read: all of them while loading, or each when it is first
// needed (the window shows a big project at once, and checks them on another thread meanwhile).
enum class PictureReading { Now, WhenNeeded };

// Reads "data.txt" and every record's image from the project folder.
LoadResult loadProject(const ProjectFolder& folder, PictureReading reading = PictureReading::Now);
// What a load found on disk becomes the editor's knowledge of its files: the files it read and could
// not read, the "data.txt" it read and the names found in "img/" (taken out of loaded). The rest of
// state (the selection, the drag) is left as it is.
void adoptLoadedFiles(LoadResult& loaded, EditorState& state);
// A fresh editor state after a load.
EditorState stateAfterLoad(LoadResult& loaded);
// What every open does: finishes a save that was interrupted (see recoverInterruptedSave), then loads.
// tidy also removes what a save interrupted before its commit point left (the editor's own opens do;
// a read-only export does not).
LoadResult openProject(const ProjectFolder& folder, bool tidy = true, PictureReading reading = PictureReading::Now);

// What reading the pictures of a load found: a file that is no picture, or a picture a PNG save would
// not keep whole. checkPictures reads every picture of the list not read yet (on all cores; any
// thread may run it); applyPictureChecks takes its findings in: such a file is never replaced or
// deleted, and a record that still shows it has no picture (the records cleared are returned).
struct PictureCheck {
  std::string fileName;  // inside "img/"
  std::string problem;   // why it is no picture; empty when it is one
  std::string loss;
};
std::vector<std::pair<std::string, ImageRef>> picturesToCheck(
    const std::unordered_map<std::string, EditorState::DiskImage>& known);
std::vector<PictureCheck> checkPictures(const std::vector<std::pair<std::string, ImageRef>>& files);
std::vector<RecordAt> applyPictureChecks(const std::vector<PictureCheck>& checks, CharacterList& list,
                                         std::unordered_map<std::string, EditorState::DiskImage>& known,
                                         std::set<std::string>& unreadable, std::vector<Problem>& problems);

struct SaveReport {
  // Nothing at all was written: the model cannot be saved as it stands (a name that the format cannot
  // hold, two records sharing an image file), the user must confirm or allow something first, or a
  // file could not be written (the project on disk is as it was).
  bool refused = false;
  // The save would replace a "data.txt" that held text but no record; SaveOptions can allow that.
  bool needsConfirmation = false;
  // The new "data.txt" and pictures are in place.
  bool dataFileWritten = false;
  // Where the old text of a replaced "data.txt" was kept; empty when none.
  std::string backupFile;
  // Files the save would replace that are not as the editor last read or wrote them (another program
  // changed them, or put them where the editor had read none), as "img/Hero1" or "data.txt". Nothing
  // was written; SaveOptions::replaceAnyway can allow them.
  std::vector<std::string> changedOnDisk;
  // "data.txt" or "img/" leads out of the project folder through a link, and the save would write
  // through it: nothing was written; SaveOptions::writeOutside allows it.
  std::vector<std::string> outside;
  // The project folder was moved, renamed or deleted since it was opened: nothing was written. Where
  // it is now (empty when it is gone).
  bool folderMoved = false;
  std::filesystem::path folderNow;
  // The save passed its commit point but could not finish: the next open of the project finishes it.
  bool unfinished = false;
  // Files under the names that records without a picture have taken: they are those records' pictures
  // now ("img/Boss2"), as the next load would make them.
  std::vector<std::string> picturesTaken;
  std::vector<Problem> problems;
  bool ok() const { return !refused && problems.empty(); }
};

struct SaveOptions {
  // Replace a "data.txt" that held text but no record, keeping its old text beside it.
  bool replaceDataFileWithoutRecords = false;
  // Files of SaveReport::changedOnDisk the user agreed to replace.
  std::set<std::string> replaceAnyway;
  // The user agreed to write through links that lead out of the project (SaveReport::outside).
  bool writeOutside = false;
  // The project cannot be locked at all (see ProjectLock::unusable) and the user chose to work on it
  // anyway: the save goes on without the lock (and removes no leftovers of other saves).
  bool withoutLock = false;
  // The records are as the last load or save left them (the editor knows): while "img/" looks as the
  // last save left it too, only "data.txt" is written, and no record is looked at.
  bool modelUnchanged = false;
  // Called now and then on the saving thread with the pictures done so far and their number.
  std::function<void(size_t done, size_t total)> progress;
};

// Writes the model into the project folder as one transaction: every new picture and the new
// "data.txt" are written under temporary names first; then a journal of the renames and removals is
// made durable (the commit point) and carried out. Killed or failing at any moment, the folder holds
// the old project or the new one. Updates savedName of each record, the editor's knowledge of the
// files, and empties the pending deletions, only once the save is committed.
SaveReport saveProject(CharacterList& list, EditorState& state, const ProjectFolder& folder,
                       const SaveOptions& options = {});

struct RecoveryReport {
  bool completed = false;  // an interrupted save was found and completed
  // An interrupted save could not be finished (problems say why): its journal stays, the project on
  // disk may be part old, part new, and is to be opened read-only.
  bool stopped = false;
  // Files another program changed after the save's commit: kept, and the save's version beside them.
  std::vector<std::pair<std::string, std::string>> keptBeside;
  std::vector<Problem> problems;
};
// Finishes a save that was interrupted after its commit point, and (when asked) removes the temporary
// files of one interrupted before. Run it before reading a project, holding its saving lock
// (ProjectLock); leftovers are removed only then.
RecoveryReport recoverInterruptedSave(const ProjectFolder& folder, bool removeLeftovers = true);

}  // namespace charstack
