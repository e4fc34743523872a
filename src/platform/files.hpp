// File access inside a project folder. Every path is relative to the folder.
#pragma once

#include <filesystem>
#include <optional>
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

class ProjectFolder {
 public:
  explicit ProjectFolder(std::filesystem::path folder);

  // The folder that holds the running program's executable: the default project folder.
  static std::filesystem::path executableFolder();

  const std::filesystem::path& path() const { return folder_; }
  std::filesystem::path resolve(std::string_view relative) const;

  // The whole file, or none when it is missing or cannot be read.
  std::optional<std::string> readFile(std::string_view relative) const;

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
    std::string relative_;
    std::filesystem::path temp_;
    std::filesystem::path target_;
    Status status_ = Status::failure("nothing was prepared");
  };
  PreparedWrite prepareWrite(std::string_view relative, std::string_view data) const;
  Status commitWrite(PreparedWrite& write) const;
  // fsyncs a folder (relative, "" for the project folder).
  Status syncFolder(std::string_view relative) const;

  // Removes a file. A file that does not exist is no failure.
  Status removeFile(std::string_view relative) const;

  // Creates a folder with its parents. A folder that exists already is no failure.
  Status createFolder(std::string_view relative) const;

  bool fileExists(std::string_view relative) const;

 private:
  std::filesystem::path folder_;
};

}  // namespace charstack
