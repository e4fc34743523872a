// Recovery of unsaved work. A few seconds after an edit, the editor writes what it holds that the
// project on disk does not (the records, the pictures not saved yet, the selection and the whole undo
// history) into a folder of the desktop's state folder, never into the project. After a crash, the
// next open of the project finds it and, when the project on disk is still what the work was based
// on, puts the editor back as it was, history included.
//
// The recovery folder holds "state" (everything but the pictures, with a check of its bytes) and one
// PNG file per picture that no file of the project holds. Pictures are written first and removed only
// once no "state" names them, and "state" is replaced atomically: killed at any instant, the folder
// holds the last complete recovery or the one before.
#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/model.hpp"
#include "platform/files.hpp"

namespace charstack {

class Editor;
struct RecoveredWork;

// The folder of the recovery of the project in `projectFolder`: inside `stateFolder` (by default the
// desktop's state folder, $XDG_STATE_HOME or ~/.local/state, then "charstack/recovery"), named after
// the project folder's path.
std::filesystem::path recoveryFolderOf(const std::filesystem::path& projectFolder,
                                       const std::filesystem::path& stateFolder = {});
std::filesystem::path defaultStateFolder();

// What the window's thread takes of the editor for a recovery: copies of the records and of what the
// editor knows of the files, and the history already written out. writeRecovery makes files of it.
struct RecoverySnapshot {
  struct Data;
  std::shared_ptr<Data> data;
};

// The names pictures got in the recovery folder of this editor: a picture is written once. Used by
// one thread at a time.
class RecoveryPictures {
 public:
  // The file name a picture has (or gets) in the recovery folder.
  std::string nameOf(const ImageRef& image);
  // The names given so far that belong to pictures still alive; the others are forgotten.
  void forgetGone();
  // The pictures a restored recovery read from its folder keep their files there: the next write
  // names them again instead of writing them anew.
  void remember(const RecoveredWork& work);

 private:
  struct Entry {
    std::weak_ptr<const Image> image;
    std::string fileName;
  };
  std::unordered_map<const Image*, Entry> names_;
  std::string session_;  // random letters that make this editor's names its own
  uint64_t next_ = 0;
};

// Takes what a recovery must hold from the editor (cheap: on the window's thread).
RecoverySnapshot captureRecovery(Editor& editor);
// Writes a snapshot into the recovery folder (any thread): the pictures not written yet, then
// "state", then removes the pictures no "state" names any more. ops, when given, makes every change of
// a file.
Status writeRecovery(const RecoverySnapshot& snapshot, const std::filesystem::path& recoveryFolder,
                     RecoveryPictures& pictures, FileOps* ops = nullptr);
// Removes a recovery folder: only the files a recovery writes, then the folder when nothing else is in
// it. A folder that is not there is no failure.
Status removeRecovery(const std::filesystem::path& recoveryFolder);
// Renames the recovery folder beside itself as "<name> kept <date and time>", where no open looks
// for it; returns the new folder.
std::optional<std::filesystem::path> keepRecoveryAside(const std::filesystem::path& recoveryFolder);

// A recovery read back, with what the user is told about it.
struct RecoveredWork {
  std::filesystem::path folder;     // the recovery folder
  QString projectPath;              // the project it was made for
  int64_t writtenMs = 0;            // when (milliseconds since the epoch)
  int steps = 0;                    // steps of its history up to its present
  // Why it cannot be restored into the project as opened (the project changed on disk since, or the
  // recovery is damaged); empty when it can.
  QString mismatch;
  struct Data;
  std::shared_ptr<Data> data;  // none when it could not be read
};

// The recovery of the project the editor has open, if there is one; checked against what the editor
// just loaded.
std::optional<RecoveredWork> findRecovery(Editor& editor, const std::filesystem::path& recoveryFolder);
// Puts the editor back as the recovery left it: records, selection, pending deletions and the history
// with its present step. Only for a recovery without mismatch; the project stays unsaved.
bool restoreRecovery(Editor& editor, const RecoveredWork& work);

}  // namespace charstack
