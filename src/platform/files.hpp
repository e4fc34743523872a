// File access inside a project folder. Every path is relative to the folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <unordered_set>
#include <string>
#include <string_view>

namespace charstack {

// The outcome of a file operation: empty error on success, otherwise a short reason for the user.
struct Status {
  std::string error;
  bool ok() const { return error.empty(); }
  static Status success() { return {}; }
  static Status failure(std::string reason) { return Status{std::move(reason)}; }
};

// What a regular file looked like: enough to tell that another program changed or replaced it.
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

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

// What stands at a path, looked at without opening it.
struct FileInfo {
  bool exists = false;   // anything at all, a link to nothing included
  bool regular = false;  // a regular file, after following links
  std::string reason;    // for something that exists but is no regular file: what it is
};

// The bound for files read whole unless a caller asks for another one.
inline constexpr uint64_t kMaxFileBytes = uint64_t{256} << 20;

class ProjectFolder {
 public:
  explicit ProjectFolder(std::filesystem::path folder);

  // The folder that holds the running program's executable: the default project folder.
  static std::filesystem::path executableFolder();

  const std::filesystem::path& path() const { return folder_; }
  std::filesystem::path resolve(std::string_view relative) const;

  // Reads a whole regular file of at most maxBytes bytes (see FileRead).
  FileRead read(std::string_view relative, uint64_t maxBytes = kMaxFileBytes) const;
  // The whole file, or none when it is missing or cannot be read.
  std::optional<std::string> readFile(std::string_view relative) const;
  FileInfo inspect(std::string_view relative) const;
  // The stamp of a regular file (after following links), or of a folder when asked; none for
  // anything else or nothing. A folder's stamp changes when an entry comes, goes or is renamed.
  std::optional<FileStamp> stamp(std::string_view relative, bool folder = false) const;

  // Writes a temporary file in the same folder, flushes and fsyncs it, then renames it over the
  // target (and fsyncs the folder): afterwards the target holds either its old or the new content.
  Status writeFileAtomically(std::string_view relative, std::string_view data) const;

  // The same write in steps, for saving many files at once: prepareWrite writes and fsyncs the
  // temporary file (independent writes may be prepared on several threads), commitWrite renames it
  // over the target, and one syncFolder afterwards makes all the renames in that folder durable. A
  // prepared write that is not committed must be discarded (the destructor does that too).
  class PreparedWrite {
   public:
    PreparedWrite() = default;
    PreparedWrite(PreparedWrite&& other) noexcept;
    PreparedWrite& operator=(PreparedWrite&& other) noexcept;
    ~PreparedWrite();
    // Why the temporary file could not be written; ok when it is ready to be committed.
    const Status& status() const { return status_; }

   private:
    friend class ProjectFolder;
    void discard();
    void release();
    std::string relative_;
    std::filesystem::path temp_;
    std::filesystem::path target_;
    Status status_ = Status::failure("nothing was prepared");
    int lock_ = -1;  // the temporary file, open and locked until it is renamed or discarded
  };
  PreparedWrite prepareWrite(std::string_view relative, std::string_view data) const;
  Status commitWrite(PreparedWrite& write) const;
  // fsyncs a folder (relative, "" for the project folder).
  Status syncFolder(std::string_view relative) const;

  // Writes a new file that must not exist yet: fails (File exists) rather than replace anything.
  Status writeNewFile(std::string_view relative, std::string_view data) const;

  // Removes the temporary files that saves killed mid-way left in a folder (relative, "" for the
  // project folder): regular files with the exact names the writes above use, that no running write
  // holds. Returns how many were removed.
  int removeLeftoverTemporaryFiles(std::string_view relative) const;

  // Removes a file. A file that does not exist is no failure.
  Status removeFile(std::string_view relative) const;

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
};

// Whether a file name is one the writes above give their temporary files.
bool isLeftoverTemporaryName(std::string_view name);

}  // namespace charstack
