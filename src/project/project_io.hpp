// Reading and writing a project: "data.txt" and the image files in "img/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
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
  bool hadDataFile = false;
};

// Reads the text of "data.txt" into records (names, depths, visibility, positions; no images).
ParsedProject parseDataText(std::string_view bytes);

// The text that saving writes for the list.
std::string buildDataText(const CharacterList& list);

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
};

// Reads "data.txt" and every record's image from the project folder.
LoadResult loadProject(const ProjectFolder& folder);

struct SaveReport {
  // Nothing at all was written because the model cannot be saved as it stands (a name that the
  // format cannot hold, two records sharing an image file), or the user must confirm first.
  bool refused = false;
  // The save would replace a "data.txt" that held text but no record; SaveOptions can allow that.
  bool needsConfirmation = false;
  bool dataFileWritten = false;
  // Where the old text of a replaced "data.txt" without records was kept; empty when none.
  std::string backupFile;
  // Files that another program changed since the editor read or wrote them, left as they are; a
  // save with SaveOptions::overwriteChangedFiles replaces them.
  std::vector<std::string> changedOnDisk;
  std::vector<Problem> problems;
  bool ok() const { return !refused && problems.empty(); }
};

struct SaveOptions {
  // Replace a "data.txt" that held text but no record, keeping its old text beside it.
  bool replaceDataFileWithoutRecords = false;
  // Replace (or delete) files that another program changed since the editor read or wrote them.
  bool overwriteChangedFiles = false;
  // Called now and then on the saving thread with the records done so far and their number.
  std::function<void(size_t done, size_t total)> progress;
};

// Writes the model into the project folder: pending deletions first, then every record's image in
// save order, then "data.txt". Updates savedName of each record and empties pendingDeletions.
SaveReport saveProject(CharacterList& list, EditorState& state, const ProjectFolder& folder,
                       const SaveOptions& options = {});

}  // namespace charstack
