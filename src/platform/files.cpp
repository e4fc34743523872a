#include "platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <utility>

namespace charstack {

namespace {

// Temporary files are named "." + the target's name + kTempInfix + six random characters, or
// kShortTempPrefix + six random characters when that would be too long a name.
constexpr const char* kTempInfix = ".tmp-";
constexpr const char* kShortTempPrefix = ".cs-tmp-";

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message(); }

// The system's reason, "No space left on device"; the caller says which file and what it was doing.
Status failure(int error) {
  return Status::failure(errorText(error));
}

// What a file that is no regular file is, for messages.
std::string kindText(mode_t mode) {
  if (S_ISDIR(mode)) return "is a folder, not a file";
  if (S_ISFIFO(mode)) return "is a pipe (FIFO), not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a file";
  if (S_ISSOCK(mode)) return "is a socket, not a file";
  return "is not a regular file";
}

std::string tooLargeText(uint64_t maxBytes) {
  return "is too large to open (more than " + std::to_string(maxBytes >> 20) + " MB)";
}

int closeRetrying(int fd) {
  // On Linux the descriptor is gone even when close reports EINTR, so never close twice.
  int rc = ::close(fd);
  return (rc != 0 && errno == EINTR) ? 0 : rc;
}

// The process's file creation mask, read without changing it (umask() would race other threads).
mode_t currentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 022;
}

bool writeAll(int fd, std::string_view data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

ProjectFolder::ProjectFolder(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path ProjectFolder::executableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && exe.has_parent_path()) return exe.parent_path();
  auto here = std::filesystem::current_path(ec);
  return ec ? std::filesystem::path(".") : here;
}

std::filesystem::path ProjectFolder::resolve(std::string_view relative) const {
  return folder_ / std::filesystem::path(std::string(relative));
}

FileStamp stampOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
          int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

std::optional<FileStamp> ProjectFolder::stamp(std::string_view relative, bool folder) const {
  struct stat st;
  if (::stat(resolve(relative).c_str(), &st) != 0 || !(folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)))
    return std::nullopt;
  return stampOf(st);
}

FileInfo ProjectFolder::inspect(std::string_view relative) const {
  const auto path = resolve(relative);
  FileInfo info;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    struct stat link;
    if (::lstat(path.c_str(), &link) != 0) {
      if (error != ENOENT && error != ENOTDIR)
        info.exists = true, info.reason = "could not be examined (" + errorText(error) + ")";
      return info;
    }
    info.exists = true;
    info.reason = S_ISLNK(link.st_mode) && error == ENOENT ? "is a link to something that does not exist"
                                                             : "could not be examined (" + errorText(error) + ")";
    return info;
  }
  info.exists = true;
  info.regular = S_ISREG(st.st_mode);
  if (!info.regular) info.reason = kindText(st.st_mode);
  return info;
}

FileRead ProjectFolder::read(std::string_view relative, uint64_t maxBytes) const {
  FileRead result;
  auto refuse = [&](std::string reason) {
    result.outcome = FileRead::Outcome::Refused;
    result.reason = std::move(reason);
    return std::move(result);
  };
  // Look before opening: opening a FIFO or a device could block or never end.
  const FileInfo info = inspect(relative);
  if (!info.exists) return result;
  if (!info.regular) return refuse(info.reason);

  const auto path = resolve(relative);
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == ENOENT ? std::move(result) : refuse("could not be opened (" + errorText(errno) + ")");
  // It may have been swapped for something else since the look.
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    std::string reason = ::fstat(fd, &st) != 0 ? "could not be examined (" + errorText(errno) + ")" : kindText(st.st_mode);
    closeRetrying(fd);
    return refuse(std::move(reason));
  }
  if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    closeRetrying(fd);
    return refuse(tooLargeText(maxBytes));
  }
  std::string data;
  data.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      closeRetrying(fd);
      return refuse("could not be read (" + errorText(error) + ")");
    }
    if (n == 0) break;
    if (data.size() + static_cast<size_t>(n) > maxBytes) {  // it grew while being read
      closeRetrying(fd);
      return refuse(tooLargeText(maxBytes));
    }
    data.append(buffer, static_cast<size_t>(n));
  }
  closeRetrying(fd);
  result.outcome = FileRead::Outcome::Read;
  result.bytes = std::move(data);
  result.stamp = stampOf(st);
  return result;
}

std::optional<std::string> ProjectFolder::readFile(std::string_view relative) const {
  FileRead r = read(relative);
  if (!r.read()) return std::nullopt;
  return std::move(r.bytes);
}

ProjectFolder::PreparedWrite::PreparedWrite(PreparedWrite&& other) noexcept
    : relative_(std::move(other.relative_)),
      temp_(std::move(other.temp_)),
      target_(std::move(other.target_)),
      status_(std::move(other.status_)),
      lock_(std::exchange(other.lock_, -1)) {
  other.temp_.clear();
}

ProjectFolder::PreparedWrite& ProjectFolder::PreparedWrite::operator=(PreparedWrite&& other) noexcept {
  if (this != &other) {
    discard();
    relative_ = std::move(other.relative_);
    temp_ = std::move(other.temp_);
    target_ = std::move(other.target_);
    status_ = std::move(other.status_);
    lock_ = std::exchange(other.lock_, -1);
    other.temp_.clear();
  }
  return *this;
}

ProjectFolder::PreparedWrite::~PreparedWrite() { discard(); }

void ProjectFolder::PreparedWrite::discard() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  release();
}

void ProjectFolder::PreparedWrite::release() {
  if (lock_ >= 0) closeRetrying(lock_);
  lock_ = -1;
}

ProjectFolder::PreparedWrite ProjectFolder::prepareWrite(std::string_view relative, std::string_view data) const {
  PreparedWrite write;
  write.relative_ = std::string(relative);
  auto target = resolve(relative);
  auto folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string name = target.filename().string();
  if (name.empty()) {
    write.status_ = Status::failure("Cannot write a file without a name");
    return write;
  }

  std::string pattern = "." + name + kTempInfix + "XXXXXX";
  if (pattern.size() > NAME_MAX) pattern = std::string(kShortTempPrefix) + "XXXXXX";
  std::string temp = (folder / pattern).string();
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    write.status_ = failure(errno);
    return write;
  }
  // The lock tells a starting editor that this temporary file is in use, not left over by a killed
  // save; it holds until the file is renamed or discarded.
  ::flock(fd, LOCK_EX | LOCK_NB);

  auto fail = [&](int error, bool open) {
    if (open) closeRetrying(fd);
    ::unlink(temp.c_str());
    write.status_ = failure(error);
    return std::move(write);
  };

  // mkstemp creates the file readable by its owner only: give it the mode of the file it replaces,
  // or what a plain open would have given.
  struct stat st;
  mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~currentUmask());
  if (::fchmod(fd, mode) != 0) return fail(errno, true);
  if (!writeAll(fd, data)) return fail(errno, true);
  if (::fsync(fd) != 0) return fail(errno, true);
  write.lock_ = fd;
  write.temp_ = std::move(temp);
  write.target_ = std::move(target);
  write.status_ = Status::success();
  return write;
}

Status ProjectFolder::commitWrite(PreparedWrite& write) const {
  if (!write.status_.ok()) return write.status_;
  if (write.temp_.empty()) return Status::failure("Cannot write " + write.relative_ + " twice");
  if (::rename(write.temp_.c_str(), write.target_.c_str()) != 0) {
    int error = errno;
    write.discard();
    return failure(error);
  }
  write.temp_.clear();
  write.release();
  return Status::success();
}

Status ProjectFolder::writeNewFile(std::string_view relative, std::string_view data) const {
  PreparedWrite write = prepareWrite(relative, data);
  if (!write.status_.ok()) return write.status_;
  // A hard link puts the complete file in place and fails when the name is taken.
  if (::link(write.temp_.c_str(), write.target_.c_str()) != 0) return failure(errno);
  write.discard();
  std::string folder = std::filesystem::path(std::string(relative)).parent_path().string();
  return syncFolder(folder);
}

bool isLeftoverTemporaryName(std::string_view name) {
  constexpr size_t kRandom = 6;
  if (name.size() <= kRandom || name.front() != '.') return false;
  const std::string_view random = name.substr(name.size() - kRandom);
  if (!std::all_of(random.begin(), random.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
    return false;
  const std::string_view head = name.substr(0, name.size() - kRandom);
  const std::string_view infix(kTempInfix);
  return head == kShortTempPrefix || (head.size() > infix.size() + 1 && head.substr(head.size() - infix.size()) == infix);
}

std::optional<std::unordered_set<std::string>> ProjectFolder::listFolder(std::string_view relative) const {
  const auto folder = relative.empty() ? folder_ : resolve(relative);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::nullopt;
  std::unordered_set<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace(name);
  }
  ::closedir(dir);
  return names;
}

int ProjectFolder::removeLeftoverTemporaryFiles(std::string_view relative) const {
  const auto folder = relative.empty() ? folder_ : resolve(relative);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (dirent* entry = ::readdir(dir)) {
    if (!isLeftoverTemporaryName(entry->d_name)) continue;
    const auto path = folder / entry->d_name;
    // Only a regular file, never through a link, and only when no running save holds it.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::unlink(path.c_str()) == 0)
      ++removed;
    closeRetrying(fd);
  }
  ::closedir(dir);
  return removed;
}

Status ProjectFolder::syncFolder(std::string_view relative) const {
  auto folder = relative.empty() ? folder_ : resolve(relative);
  if (folder.empty()) folder = ".";
  // Some file systems cannot sync a folder; that is no failure.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    int rc = ::fsync(dir);
    int error = errno;
    closeRetrying(dir);
    if (rc != 0 && error != EINVAL && error != ENOTSUP) return failure(error);
  }
  return Status::success();
}

Status ProjectFolder::writeFileAtomically(std::string_view relative, std::string_view data) const {
  PreparedWrite write = prepareWrite(relative, data);
  if (Status s = commitWrite(write); !s.ok()) return s;
  // Make the rename itself durable.
  std::string folder = std::filesystem::path(std::string(relative)).parent_path().string();
  return syncFolder(folder);
}

Status ProjectFolder::removeFile(std::string_view relative) const {
  auto path = resolve(relative);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return failure(errno);
  return Status::success();
}

namespace {
// Where the desktop keeps trashed files: a "files" folder in "Trash" (the home trash), ".Trash-UID"
// or ".Trash/UID" (the trash at the top of another file system).
bool isTrashPlace(const QFileInfo& trashed) {
  if (!trashed.isAbsolute()) return false;
  QDir files = trashed.dir();
  if (files.dirName() != QLatin1String("files") || !files.cdUp()) return false;
  const QString trash = files.dirName();
  if (trash == QLatin1String("Trash") || trash.startsWith(QLatin1String(".Trash-"))) return true;
  return files.cdUp() && files.dirName() == QLatin1String(".Trash");
}
}  // namespace

Status ProjectFolder::moveToTrash(std::string_view relative) const {
  if (!inspect(relative).exists) return Status::failure("No such file or directory");
  const QString source = QFile::decodeName(QByteArray::fromStdString(resolve(relative).string()));
  // Qt's trash lives in the user's data folder; when that folder does not exist yet, some Qt versions
  // move the file into the current folder instead.
  QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
  QFile file(source);
  if (!file.moveToTrash()) {
    std::string reason = file.errorString().toStdString();
    return Status::failure(reason.empty() ? "the desktop's trash could not take it" : reason);
  }
  const QFileInfo trashed(file.fileName());
  if (isTrashPlace(trashed)) return Status::success();
  // It went somewhere that is no trash: put it back where it was, and drop the note made for it.
  QFile::remove(
      trashed.dir().absoluteFilePath(QStringLiteral("../info/%1.trashinfo").arg(trashed.fileName())));
  if (!QFile::rename(trashed.absoluteFilePath(), source))
    return Status::failure("the desktop has no trash; the file was moved to " +
                           trashed.absoluteFilePath().toStdString() + " instead");
  return Status::failure("the desktop has no trash to take it; it was left where it is");
}

Status ProjectFolder::createFolder(std::string_view relative) const {
  auto path = resolve(relative);
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (std::filesystem::is_directory(path)) return Status::success();
  return failure(ec ? ec.value() : EEXIST);
}

bool ProjectFolder::fileExists(std::string_view relative) const {
  struct stat st;
  return ::stat(resolve(relative).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace charstack
