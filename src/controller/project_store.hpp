// The store: the project on disk as the editor opened it. It loads the project (finishing an
// interrupted save first), holds the lock, saves through the save transaction, and remembers what the
// last load or save left on disk, so that it can tell whether there is anything to save.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "controller/document.hpp"
#include "platform/files.hpp"
#include "platform/project_lock.hpp"
#include "project/project_io.hpp"

namespace charstack {

class RecordEdits;

class ProjectStore {
 public:
  // reading: when the pictures are read (the window reads each when first needed, and checks them
  // all on another thread: picturesToCheck, takePictureChecks).
  ProjectStore(Document& document, EditorState& state, RecordEdits& edits, ProjectFolder folder,
               PictureReading reading);
  ProjectStore(const ProjectStore&) = delete;
  ProjectStore& operator=(const ProjectStore&) = delete;

  // Locks the project in `folder` and loads it into the document.
  void open(ProjectFolder folder);
  // Saves the records; the pictures the save takes from files become one step of the history.
  SaveReport save(const SaveOptions& options = {});
  // The records written into another, empty folder as a project of their own: every picture and
  // "data.txt" anew. What this store knows of its own folder does not change.
  SaveReport saveCopy(const std::filesystem::path& folder) const;
  // True when the next save would write something else than the last load or save left on disk.
  bool hasUnsavedChanges() const;
  uint64_t saveCount() const { return saveCount_; }

  const ProjectFolder& folder() const { return folder_; }
  // The project folder was moved or renamed: from now on it is at `now` (nothing is read again).
  void relocate(const std::filesystem::path& now) { folder_ = ProjectFolder(now); }

  // What loading found that the user should know (undecodable images, unsafe names).
  const std::vector<Problem>& loadProblems() const { return loadProblems_; }
  // The pictures of the project opened not read yet, and what reading them (on any thread) found:
  // a record whose file is no picture has none, as if the open had read it. Returns the new problems.
  std::vector<std::pair<std::string, ImageRef>> picturesToCheck() const;
  std::vector<Problem> takePictureChecks(const std::vector<PictureCheck>& checks);
  // Whether the open finished a save that had been interrupted, or had to stop one half done.
  bool interruptedSaveCompleted() const { return interruptedSaveCompleted_; }
  bool recoveryStopped() const { return recoveryStopped_; }

  // Whether this editor owns the project, or another window (of any process) did when it was opened.
  ProjectLock::Ownership ownership() const { return ownership_; }
  // A read-only project is never saved (exports still work). Read-only is kept while an interrupted
  // save could not be finished (the project on disk is mixed).
  void setReadOnly(bool readOnly) { readOnly_ = readOnly || recoveryStopped_; }
  bool readOnly() const { return readOnly_; }
  // The project cannot be locked and the user chose to work on it anyway: saves go on without the lock.
  void setWithoutLock(bool without) { withoutLock_ = without; }
  const std::string& lockProblem() const { return lockProblem_; }

  // ---- What the disk link needs ----
  // The picture a file had at the last load or save (none: no record had it then).
  ImageRef savedPicture(const std::string& fileName);
  // The disk and the editor agree on a file's picture again.
  void noteDiskPicture(const std::string& fileName, const ImageRef& picture);
  // Another program changed files since the last load or save: the next save looks at every file.
  void markFilesChanged() { filesChangedSinceSave_ = true; }

 private:
  void load();
  // Load problems of depths that are never drawn.
  void noteDepthsNeverDrawn();
  void takeSnapshot();
  void recordPicturesTaken(const std::vector<ImageRef>& before, size_t count);
  ImageRef* savedPictureOf(const std::string& fileName);

  Document& document_;
  EditorState& state_;
  RecordEdits& edits_;
  ProjectFolder folder_;
  PictureReading reading_;
  std::unique_ptr<ProjectLock> lock_;
  ProjectLock::Ownership ownership_ = ProjectLock::Ownership::NoLockFile;
  std::string lockProblem_;  // why the project cannot be locked; empty when it can
  bool readOnly_ = false;
  bool recoveryStopped_ = false;
  bool withoutLock_ = false;
  bool interruptedSaveCompleted_ = false;
  std::vector<Problem> loadProblems_;
  uint64_t saveCount_ = 0;  // saves that carried out the pending deletions
  // What the last load or save left on disk: the records (their fields, and so their file names and
  // pictures) and the deletions then queued. A file's picture there, by its name (an index made when
  // first needed).
  CharacterList saved_;
  std::vector<std::string> savedDeletions_;
  std::unordered_map<std::string, ImageRef*> savedPictures_;
  // What the editor knows of the files changed since the last load or save (another program's
  // change): the next save looks at every record's file.
  bool filesChangedSinceSave_ = false;
};

}  // namespace charstack
