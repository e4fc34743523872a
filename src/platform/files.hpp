// File access inside a project folder. Every path is relative to the folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <unordered_set>
#include <string>
#include <string_view>

class QString;
struct stat;

namespace charstack {

// A path as the file system spells it, from and to the text the interface shows (the local 8-bit
// encoding, as Qt's own file functions use it).
std::filesystem::path toPath(const QString& path);
QString fromPath(const std::filesystem::path& path);

// The outcome of a file operation: empty error on success, otherwise a short reason for the user.
struct Status {
  std::string error;
  int code = 0;  // the system's error number, when the system gave one
  bool ok() const { return error.empty(); }
  static Status success() { return {}; }
  static Status failure(std::string reason, int code = 0) { return Status{std::move(reason), code}; }
};

// What a regular file looked like: enough to tell that another program changed or replaced it.
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  bool operator==(const FileStamp&) const = default;
};
// The stamp of what a stat call found.
FileStamp stampOf(const struct ::stat& st);

// What reading a file found. Only regular files are opened (after following links), without
// blocking, and never past a size bound.
struct FileRead {
  enum class Outcome { Read, Missing, Refused };
  Outcome outcome = Outcome::Missing;
  std::string bytes;   // the whole file when Read
  // Why it was not read when Refused, to follow the file's name: "is a folder, not a file", "could not
  // be opened (Permission denied)", "is too large to open (more than 256 MB)".
  std::string reason;
  FileStamp stamp;  // the file that was read, when Read
  bool read() const { return outcome == Outcome::Read; }
};

// Reads a whole regular file at a path (see FileRead).
FileRead readFileAt(const std::filesystem::path& path, uint64_t maxBytes);

// What stands at a path, looked at without opening it.
struct FileInfo {
  bool exists = false;   // anything at all, a link to nothing included
  bool regular = false;  // a regular file, after following links
  std::string reason;    // for something that exists but is no regular file: what it is
  FileStamp stamp;       // of a regular file
  unsigned mode = 0;     // its permission bits
};

// The bound for files read whole unless a caller asks for another one.
inline constexpr uint64_t kMaxFileBytes = uint64_t{256} << 20;

// The operations that change files. Everything the editor writes into a project goes through one of
// them, so that a test can stop a save after any one of them, or make one of them fail. The defaults
// are the system's; a test overrides what it needs.
class FileOps {
 public:
  virtual ~FileOps() = default;
  // Creates a file that must not exist yet, holding data, with the permission bits of mode. flush
  // makes it durable at once; many files are made durable together with syncFileSystem. stamp, when
  // given, receives what the new file looks like.
  virtual Status createFile(const std::filesystem::path& path, std::string_view data, unsigned mode,
                            FileStamp* stamp, bool flush = true);
  // Makes everything written to the file system that holds path durable: one flush for many files.
  virtual Status syncFileSystem(const std::filesystem::path& path);
  // Renames a file over another one, which is replaced at once.
  virtual Status rename(const std::filesystem::path& from, const std::filesystem::path& to);
  // A second name for a file; fails when the new name is taken.
  virtual Status link(const std::filesystem::path& from, const std::filesystem::path& to);
  // Removes a file; a file that is not there is no failure.
  virtual Status remove(const std::filesystem::path& path);
  // Makes the names in a folder durable (its entries as they are now).
  virtual Status syncFolder(const std::filesystem::path& folder);
  // Creates a folder with its parents; one that exists already is no failure.
  virtual Status createFolder(const std::filesystem::path& folder);
};
FileOps& systemFileOps();

// Where a project folder is now, compared with where it was opened.
struct FolderWhereabouts {
  bool moved = false;           // the path no longer names the folder that was opened
  std::filesystem::path now;    // where that folder is now; empty when it was deleted or is unknown
};

class ProjectFolder {
 public:
  // Opens the folder as it is now: it can tell later when the folder was moved or renamed. ops, when
  // given, makes every change of a file (must outlive the folder).
  explicit ProjectFolder(std::filesystem::path folder, FileOps* ops = nullptr);

  // The folder that holds the running program's executable: the default project folder.
  static std::filesystem::path executableFolder();

  const std::filesystem::path& path() const { return folder_; }
  std::filesystem::path resolve(std::string_view relative) const;
  // The same file reached through the folder as it was opened (its descriptor), whatever the path
  // now names: what the save and the recovery of a save change goes through this, so that a folder
  // moved, renamed or reached by another spelling meanwhile is still the one they work in. Only for
  // operations that end before the folder object does.
  std::filesystem::path anchored(std::string_view relative) const;
  // A short name of this project that the temporary files of its saves carry, so that a save or an
  // open of another project never takes them for its own: the one its lock file holds (made with the
  // first lock, and copied with the folder), else one from the folder's identity on disk.
  std::string token() const;
  // A fresh temporary file name of this folder's saves (see temporaryFileName).
  std::string temporaryName() const;
  // Where a path inside the folder really leads when a link on the way ("img", "data.txt") takes it
  // out of the project folder; none when it stays inside (or does not exist).
  std::optional<std::filesystem::path> leadsOutside(std::string_view relative) const;
  FileOps& ops() const { return *ops_; }

  // Reads a whole regular file of at most maxBytes bytes (see FileRead).
  FileRead read(std::string_view relative, uint64_t maxBytes = kMaxFileBytes) const;
  // The whole file, or none when it is missing or cannot be read.
  std::optional<std::string> readFile(std::string_view relative) const;
  FileInfo inspect(std::string_view relative) const;
  // The stamp of a regular file (after following links), or of a folder when asked; none for
  // anything else or nothing. A folder's stamp changes when an entry comes, goes or is renamed.
  std::optional<FileStamp> stamp(std::string_view relative, bool folder = false) const;

  // Whether the folder was moved, renamed or deleted since it was opened.
  FolderWhereabouts whereabouts() const;

  // Writes a temporary file in the same folder, flushed to disk, then renames it over the target and
  // syncs the folder: afterwards the target holds either its old or the new content.
  Status writeFileAtomically(std::string_view relative, std::string_view data) const;

  // Writes a new file that must not exist yet: fails (File exists) rather than replace anything.
  Status writeNewFile(std::string_view relative, std::string_view data) const;

  // Removes the temporary files that writes and saves of this project killed mid-way left in a folder
  // (relative, "" for the project folder): regular files named with this folder's token, and folders
  // so named that hold nothing but such files (never through a link). Only while this process holds
  // the project's saving lock (see ProjectLock): another window's save may be writing them. Returns
  // how many files were removed.
  int removeLeftoverTemporaryFiles(std::string_view relative) const;

  // Removes a file. A file that does not exist is no failure.
  Status removeFile(std::string_view relative) const;
  // fsyncs a folder (relative, "" for the project folder).
  Status syncFolder(std::string_view relative) const;

  // Moves a file (or folder) to the desktop's trash, from where the user can bring it back. Fails
  // rather than delete when there is no trash to move it to.
  Status moveToTrash(std::string_view relative) const;

  // Creates a folder with its parents. A folder that exists already is no failure.
  Status createFolder(std::string_view relative) const;

  bool fileExists(std::string_view relative) const;

  // The names in a folder (relative, "" for the project folder), "." and ".." left out; none when it
  // cannot be listed.
  std::optional<std::unordered_set<std::string>> listFolder(std::string_view relative) const;

 private:
  std::filesystem::path folder_;
  FileOps* ops_;
  std::shared_ptr<const int> handle_;  // the folder as opened (a descriptor), to find it after a move
  std::string identity_;  // the token from the folder's identity
};

// The mode a file written at target gets: that of the file it replaces, or what a plain open would
// give a new file (newFileMode()).
unsigned modeFor(const std::filesystem::path& target);
unsigned newFileMode();

// A fresh name for a temporary file: ".charstack-", the token of a project folder and "-" when given,
// ten random letters and digits, and ".tmp". It ends in a letter, so it is never the image file of a
// record, whose name always ends in the digits of its number.
std::string temporaryFileName(std::string_view token = {});
// Whether a file name has exactly that form (with any token, or none).
bool isTemporaryFileName(std::string_view name);
// Whether it has that form with this token.
bool isTemporaryFileNameOf(std::string_view name, std::string_view token);

// What a file must hold: its size and a 64-bit hash of its bytes. A recovery compares a file with it
// before it takes a step of a save as done.
struct ContentCheck {
  uint64_t size = 0;
  uint64_t hash = 0;
  bool operator==(const ContentCheck&) const = default;
};
ContentCheck contentCheckOf(std::string_view bytes);
// Of a regular file (read within the usual bound); none when it cannot be read.
std::optional<ContentCheck> contentCheckOfFile(const std::filesystem::path& path);
// The stamp of what is at a path itself (a link is not followed); none when nothing or no regular file.
std::optional<FileStamp> ownStamp(const std::filesystem::path& path);

}  // namespace charstack
