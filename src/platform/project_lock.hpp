// Locks that keep two editors from working on one project folder at once. They are open file
// description locks on a small lock file in the folder: the kernel drops them when the process ends,
// however it ends, so a crash never leaves a project locked.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace charstack {

inline constexpr const char* kLockFileName = ".charstack-lock";

class ProjectLock {
 public:
  // Opens (or creates) the lock file of a project folder; takes no lock yet.
  explicit ProjectLock(const std::filesystem::path& folder);
  ~ProjectLock();
  ProjectLock(const ProjectLock&) = delete;
  ProjectLock& operator=(const ProjectLock&) = delete;

  // The lock of the one window that edits the project.
  enum class Ownership {
    Owned,           // this lock holds it now
    OwnedByAnother,  // another window (of this program or another process) holds it
    NoLockFile,      // the lock cannot be taken at all (see unusable()): nobody can lock
  };
  Ownership own();
  bool owns() const { return owned_; }
  // Why the project cannot be locked ("the lock file .charstack-lock is a folder, not a file"); empty
  // when it can.
  const std::string& unusable() const { return unusable_; }

  // The lock held while a save writes into the folder, or an interrupted save is completed: one at a
  // time. Tries for up to `wait`; false when another one still holds it then, or when the project
  // cannot be locked at all (unusable()).
  bool lockSaving(std::chrono::milliseconds wait = std::chrono::seconds(5));
  void unlockSaving();

 private:
  bool lockByte(int byte, bool take);
  int fd_ = -1;
  bool owned_ = false;
  bool saving_ = false;
  std::string unusable_;
};

// Holds the saving lock for a scope; check held().
class SavingLock {
 public:
  explicit SavingLock(const std::filesystem::path& folder,
                      std::chrono::milliseconds wait = std::chrono::seconds(5))
      : lock_(folder), held_(lock_.lockSaving(wait)) {}
  bool held() const { return held_; }
  // Why it could not be taken when the project cannot be locked at all; empty otherwise.
  const std::string& unusable() const { return lock_.unusable(); }

 private:
  ProjectLock lock_;
  bool held_;
};

}  // namespace charstack
