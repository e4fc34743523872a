#include "platform/project_lock.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <cstring>
#include <thread>

namespace charstack {

namespace {
std::string lockFileText() { return std::string("the lock file ") + kLockFileName + " "; }
}  // namespace

ProjectLock::ProjectLock(const std::filesystem::path& folder) {
  const auto path = folder / kLockFileName;
  // Never through a link, never blocking on something that is no file.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
  const int error = errno;
  struct stat st;
  if (fd_ < 0) {
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unusable_ = lockFileText() + "is a link";
    else if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) unusable_ = lockFileText() + "is a folder, not a file";
    else unusable_ = lockFileText() + "cannot be made or opened (" + std::strerror(error) + ")";
  } else if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    unusable_ = lockFileText() + "is not a regular file";
    ::close(fd_);
    fd_ = -1;
  }
}

ProjectLock::~ProjectLock() {
  if (fd_ >= 0) ::close(fd_);  // drops every lock of this description
}

bool ProjectLock::lockByte(int byte, bool take) {
  struct flock lock {};
  lock.l_type = take ? F_WRLCK : F_UNLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  int rc;
  do rc = ::fcntl(fd_, F_OFD_SETLK, &lock);
  while (rc != 0 && errno == EINTR);
  // Held by another: EAGAIN or EACCES. Anything else: the file system cannot lock.
  if (rc != 0 && errno != EAGAIN && errno != EACCES)
    unusable_ = std::string("the project's file system cannot lock files (") + std::strerror(errno) + ")";
  return rc == 0;
}

ProjectLock::Ownership ProjectLock::own() {
  if (fd_ < 0) return Ownership::NoLockFile;
  if (!owned_) owned_ = lockByte(0, true);
  if (!unusable_.empty()) return Ownership::NoLockFile;
  return owned_ ? Ownership::Owned : Ownership::OwnedByAnother;
}

bool ProjectLock::lockSaving(std::chrono::milliseconds wait) {
  if (fd_ < 0) return false;
  if (saving_) return true;
  const auto until = std::chrono::steady_clock::now() + wait;
  while (!(saving_ = lockByte(1, true))) {
    if (!unusable_.empty()) return false;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // The project's token, once: the temporary files of its saves carry it (see ProjectFolder::token).
  struct stat st;
  if (::fstat(fd_, &st) == 0 && st.st_size == 0) {
    std::mt19937_64 random{std::random_device{}()};
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string token;
    for (int i = 0; i < 12; ++i) token += kAlphabet[random() % (sizeof kAlphabet - 1)];
    if (::pwrite(fd_, token.data(), token.size(), 0) == static_cast<ssize_t>(token.size())) ::fdatasync(fd_);
  }
  return true;
}

void ProjectLock::unlockSaving() {
  if (fd_ >= 0 && saving_) lockByte(1, false);
  saving_ = false;
}

}  // namespace charstack
