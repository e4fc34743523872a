// The disk link: working beside other programs. It says which files to look at after a change on
// disk was noticed (the look itself runs off the window's thread), and applies what the look found:
// pictures taken from files, conflicts for the user, files gone or unreadable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "controller/document.hpp"
#include "platform/files.hpp"

namespace charstack {

class ProjectStore;
class RecordEdits;

// What another program changed on disk while the project is open.
struct DiskChange {
  enum class Kind {
    PictureTaken,  // a record whose picture the editor had not changed now shows the file's picture
    Conflict,      // the editor changed that record's picture too: the user chooses
    Unreadable,    // the file can no longer be read: the editor keeps its picture and the file
    Deleted,       // the file is gone: the editor keeps its picture and the next save writes it again
    DataFile,      // "data.txt" changed: the user may reload the project
  };
  Kind kind = Kind::PictureTaken;
  std::string file;  // inside the project folder: "img/Hero1", "data.txt"
  RecordAt at;
  ImageRef picture;  // the file's picture
  FileStamp stamp;
  std::string reason;
};

// The files to look at, with what they looked like when last seen (none: absent then).
struct DiskScanRequest {
  struct File {
    std::string name;  // inside "img/"
    std::optional<FileStamp> last;
    bool unknown = false;  // never looked at: a file there is read now
  };
  std::vector<File> files;
  std::optional<FileStamp> dataFile;
  uint64_t saveCount = 0;  // a save since makes the look out of date
};
// What changed among them; only changed files are read and decoded.
struct DiskScanResult {
  struct File {
    std::string name;
    std::optional<FileStamp> stamp;  // none: gone, or no regular file
    bool changed = false;
    bool firstSeen = false;  // a file found under a name never looked at before
    FileRead::Outcome outcome = FileRead::Outcome::Missing;
    DecodedImage decoded;
    std::string reason;
  };
  std::vector<File> files;
  std::optional<FileStamp> dataFile;
  bool dataFileChanged = false;
  uint64_t saveCount = 0;
};
// Looks at the files of a request: any thread may run it.
DiskScanResult scanDisk(const ProjectFolder& folder, const DiskScanRequest& request);

class DiskLink {
 public:
  DiskLink(Document& document, EditorState& state, ProjectStore& store, RecordEdits& edits)
      : document_(document), state_(state), store_(store), edits_(edits) {}

  // The files to look at: every file of the project, or only the files of "img/" named.
  DiskScanRequest scanRequest(const std::unordered_set<std::string>* only = nullptr);
  // What the editor did with what a look found (nothing when a save came in between).
  std::vector<DiskChange> apply(const DiskScanResult& result);
  // The user's choice for a Conflict: the file's picture, or the editor's (the next save replaces the
  // file then).
  void resolveConflict(const DiskChange& change, bool takeFile);
  // Another project is open: nothing seen so far counts.
  void forget();

 private:
  struct Owners;
  // What a changed file means for the record that uses it; none when nothing is to be told or done.
  std::optional<DiskChange> applyFile(const DiskScanResult::File& file, const Owners& owners);

  Document& document_;
  EditorState& state_;
  ProjectStore& store_;
  RecordEdits& edits_;
  // What each file of "img/" looked like at the last look (none: absent), and "data.txt" with the
  // save count then (a save writes it anew).
  std::unordered_map<std::string, std::optional<FileStamp>> seen_;
  std::optional<FileStamp> seenDataFile_;
  uint64_t seenDataFileAtSave_ = 0;
};

}  // namespace charstack
