#include "platform/files.hpp"

#include "platform/project_lock.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libdeflate.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>
#include <system_error>
#include <utility>

namespace charstack {

std::filesystem::path toPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString fromPath(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

namespace {

constexpr std::string_view kTempPrefix = ".charstack-";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr size_t kTempRandom = 10;

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message(); }

// The system's reason, "No space left on device"; the caller says which file and what it was doing.
Status failure(int error) {
  return Status::failure(errorText(error), error);
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

// The process's file creation mask, read once without changing it (umask() would race other threads).
mode_t currentUmask() {
  static const mode_t mask = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    return mode_t{022};
  }();
  return mask;
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

ProjectFolder::ProjectFolder(std::filesystem::path folder, FileOps* ops)
    : folder_(std::move(folder)), ops_(ops ? ops : &systemFileOps()) {
  const int fd = ::open(folder_.empty() ? "." : folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  handle_ = std::shared_ptr<const int>(new int(fd), [](const int* p) { closeRetrying(*p), delete p; });
  // The folder's identity, in eight letters and digits: the same for every spelling of its path.
  struct stat st;
  if (::fstat(fd, &st) != 0) return;
  uint64_t h = 1469598103934665603ull;
  for (uint64_t part : {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)})
    for (int i = 0; i < 8; ++i) h = (h ^ ((part >> (8 * i)) & 0xff)) * 1099511628211ull;
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int i = 0; i < 8; ++i, h /= 36) identity_ += kDigits[h % 36];
}

std::string ProjectFolder::token() const {
  FileRead lock = readFileAt(anchored(kLockFileName), 64);
  const bool valid = lock.read() && lock.bytes.size() >= 4 && lock.bytes.size() <= 16 &&
                     std::all_of(lock.bytes.begin(), lock.bytes.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
  return valid ? lock.bytes : identity_;
}

std::filesystem::path ProjectFolder::anchored(std::string_view relative) const {
  if (!handle_) return resolve(relative);
  std::filesystem::path base = "/proc/self/fd/" + std::to_string(*handle_);
  return relative.empty() ? base : base / std::filesystem::path(std::string(relative));
}

std::string ProjectFolder::temporaryName() const { return temporaryFileName(token()); }

std::optional<std::filesystem::path> ProjectFolder::leadsOutside(std::string_view relative) const {
  char here[PATH_MAX], there[PATH_MAX];
  if (!::realpath(anchored("").c_str(), here) || !::realpath(anchored(relative).c_str(), there)) return std::nullopt;
  const std::string_view inside(here), target(there);
  if (target.size() > inside.size() && target.substr(0, inside.size()) == inside && target[inside.size()] == '/')
    return std::nullopt;
  return std::filesystem::path(there);
}

FolderWhereabouts ProjectFolder::whereabouts() const {
  FolderWhereabouts where;
  struct stat opened, now;
  if (!handle_ || ::fstat(*handle_, &opened) != 0) return where;
  if (::stat(folder_.empty() ? "." : folder_.c_str(), &now) == 0 && now.st_dev == opened.st_dev &&
      now.st_ino == opened.st_ino)
    return where;
  where.moved = true;
  std::error_code ec;
  std::filesystem::path current = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(*handle_), ec);
  // A folder that is gone keeps its last path, marked as deleted.
  if (!ec && opened.st_nlink > 0 && current.string().find(" (deleted)") == std::string::npos) where.now = current;
  return where;
}

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
  info.stamp = stampOf(st);
  info.mode = st.st_mode & 07777;
  return info;
}

namespace {

// Reads an open file of `size` bytes whole, straight into `data`, one byte more than the size to see
// the end (or a file growing). False, with the reason, when it cannot or the file grew beyond maxBytes.
bool readAll(int fd, size_t size, uint64_t maxBytes, std::string& data, std::string& reason) {
  data.assign(size + 1, '\0');
  size_t have = 0;
  for (;;) {
    if (have == data.size()) {
      if (data.size() > maxBytes) {  // it grew while being read
        reason = tooLargeText(maxBytes);
        return false;
      }
      data.resize(data.size() * 2);
    }
    ssize_t n = ::read(fd, data.data() + have, data.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      reason = "could not be read (" + errorText(errno) + ")";
      return false;
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  if (have > maxBytes) {
    reason = tooLargeText(maxBytes);
    return false;
  }
  data.resize(have);
  return true;
}

}  // namespace

FileRead readFileAt(const std::filesystem::path& path, uint64_t maxBytes) {
  FileRead result;
  auto refuse = [&](std::string reason) {
    result.outcome = FileRead::Outcome::Refused;
    result.reason = std::move(reason);
    return std::move(result);
  };
  // Look before opening: opening a FIFO or a device could block, never end, or do something to it.
  struct stat look;
  if (::stat(path.c_str(), &look) == 0 && !S_ISREG(look.st_mode)) return refuse(kindText(look.st_mode));
  // Opened without blocking, and looked at again through the descriptor: it may have been swapped.
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) {
      struct stat link;
      if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) return refuse("is a link to something that does not exist");
      return result;
    }
    return refuse("could not be opened (" + errorText(error) + ")");
  }
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
  std::string data, reason;
  const bool read = readAll(fd, static_cast<size_t>(st.st_size), maxBytes, data, reason);
  closeRetrying(fd);
  if (!read) return refuse(std::move(reason));
  result.outcome = FileRead::Outcome::Read;
  result.bytes = std::move(data);
  result.stamp = stampOf(st);
  return result;
}

FileRead ProjectFolder::read(std::string_view relative, uint64_t maxBytes) const {
  return readFileAt(resolve(relative), maxBytes);
}

std::optional<std::string> ProjectFolder::readFile(std::string_view relative) const {
  FileRead r = read(relative);
  if (!r.read()) return std::nullopt;
  return std::move(r.bytes);
}

// ---- File operations ----------------------------------------------------------------------

Status FileOps::createFile(const std::filesystem::path& path, std::string_view data, unsigned mode,
                           FileStamp* stamp, bool flush) {
  int fd;
  do fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(mode));
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return failure(errno);
  struct stat st;
  // The creation mask may have taken bits away that the file is to have.
  const bool masked = (mode & currentUmask()) != 0;
  if ((masked && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) || !writeAll(fd, data) ||
      (flush && ::fsync(fd) != 0) || (stamp && ::fstat(fd, &st) != 0)) {
    const int error = errno;
    closeRetrying(fd);
    ::unlink(path.c_str());
    return failure(error);
  }
  if (closeRetrying(fd) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    return failure(error);
  }
  if (stamp) *stamp = stampOf(st);
  return Status::success();
}

Status FileOps::syncFileSystem(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return failure(errno);
  const int rc = ::syncfs(fd);
  const int error = errno;
  closeRetrying(fd);
  return rc == 0 ? Status::success() : failure(error);
}

Status FileOps::rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? Status::success() : failure(errno);
}

Status FileOps::link(const std::filesystem::path& from, const std::filesystem::path& to) {
  return ::link(from.c_str(), to.c_str()) == 0 ? Status::success() : failure(errno);
}

Status FileOps::remove(const std::filesystem::path& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT ? Status::success() : failure(errno);
}

Status FileOps::syncFolder(const std::filesystem::path& folder) {
  // Some file systems cannot sync a folder; that is no failure.
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return failure(errno);
  int rc = ::fsync(dir);
  int error = errno;
  closeRetrying(dir);
  if (rc != 0 && error != EINVAL && error != ENOTSUP) return failure(error);
  return Status::success();
}

Status FileOps::createFolder(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (std::filesystem::is_directory(folder)) return Status::success();
  return failure(ec ? ec.value() : EEXIST);
}

FileOps& systemFileOps() {
  static FileOps ops;
  return ops;
}

// ---- Temporary files ------------------------------------------------------------------------

std::string temporaryFileName(std::string_view token) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random{std::random_device{}() ^
                                      std::hash<std::thread::id>{}(std::this_thread::get_id())};
  std::string name(kTempPrefix);
  if (!token.empty()) name.append(token).push_back('-');
  for (size_t i = 0; i < kTempRandom; ++i) name += kAlphabet[random() % (sizeof kAlphabet - 1)];
  name += kTempSuffix;
  return name;
}

namespace {
bool allAlnum(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}
// The token of a temporary file name ("" for one without); none when the name has not that form.
std::optional<std::string_view> temporaryToken(std::string_view name) {
  const size_t fixed = kTempPrefix.size() + kTempRandom + kTempSuffix.size();
  if (name.size() < fixed || name.substr(0, kTempPrefix.size()) != kTempPrefix ||
      name.substr(name.size() - kTempSuffix.size()) != kTempSuffix)
    return std::nullopt;
  const std::string_view random = name.substr(name.size() - kTempSuffix.size() - kTempRandom, kTempRandom);
  if (!allAlnum(random)) return std::nullopt;
  if (name.size() == fixed) return std::string_view{};
  const std::string_view token = name.substr(kTempPrefix.size(), name.size() - fixed - 1);
  if (token.empty() || token.size() > 16 || !allAlnum(token) || name[kTempPrefix.size() + token.size()] != '-')
    return std::nullopt;
  return token;
}
}  // namespace

bool isTemporaryFileName(std::string_view name) { return temporaryToken(name).has_value(); }

bool isTemporaryFileNameOf(std::string_view name, std::string_view token) {
  std::optional<std::string_view> found = temporaryToken(name);
  return found && !token.empty() && *found == token;
}

ContentCheck contentCheckOf(std::string_view bytes) {
  // Two independent 32-bit checks of the whole data, both computed at several GB/s.
  const uint64_t crc = libdeflate_crc32(0, bytes.data(), bytes.size());
  const uint64_t adler = libdeflate_adler32(1, bytes.data(), bytes.size());
  return {bytes.size(), crc << 32 | adler};
}

std::optional<ContentCheck> contentCheckOfFile(const std::filesystem::path& path) {
  FileRead read = readFileAt(path, kMaxFileBytes);
  if (!read.read()) return std::nullopt;
  return contentCheckOf(read.bytes);
}

std::optional<FileStamp> ownStamp(const std::filesystem::path& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return stampOf(st);
}

unsigned newFileMode() { return 0666 & ~currentUmask(); }

unsigned modeFor(const std::filesystem::path& target) {
  struct stat st;
  return ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : newFileMode();
}

Status ProjectFolder::writeFileAtomically(std::string_view relative, std::string_view data) const {
  const auto target = resolve(relative);
  const auto temp = target.parent_path() / temporaryName();
  if (Status s = ops_->createFile(temp, data, modeFor(target), nullptr); !s.ok()) return s;
  if (Status s = ops_->rename(temp, target); !s.ok()) {
    ops_->remove(temp);
    return s;
  }
  return ops_->syncFolder(target.parent_path());
}

Status ProjectFolder::writeNewFile(std::string_view relative, std::string_view data) const {
  const auto target = resolve(relative);
  const auto temp = target.parent_path() / temporaryName();
  if (Status s = ops_->createFile(temp, data, modeFor(target), nullptr); !s.ok()) return s;
  // A hard link puts the complete file in place and fails when the name is taken.
  Status linked = ops_->link(temp, target);
  ops_->remove(temp);
  if (!linked.ok()) return linked;
  return ops_->syncFolder(target.parent_path());
}

std::optional<std::unordered_set<std::string>> ProjectFolder::listFolder(std::string_view relative) const {
  const auto folder = relative.empty() ? folder_ : resolve(relative);
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::nullopt;
  std::unordered_set<std::string> names;
  errno = 0;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace(name);
  }
  const bool complete = errno == 0;  // readdir returns null on an error too
  ::closedir(dir);
  if (!complete) return std::nullopt;
  return names;
}

int ProjectFolder::removeLeftoverTemporaryFiles(std::string_view relative) const {
  // Never through a link that leaves the project ("img" linked to another project's pictures).
  if (!relative.empty() && leadsOutside(relative)) return 0;
  const auto folder = anchored(relative);
  std::optional<std::unordered_set<std::string>> names = listFolder(relative);
  if (!names) return 0;
  int removed = 0;
  const std::string own = token();
  for (const std::string& name : *names) {
    if (!isTemporaryFileNameOf(name, own)) continue;
    const auto path = folder / name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      removed += ops_->remove(path).ok();
    } else if (S_ISDIR(st.st_mode)) {
      // A save's staging folder: its files, then the folder, unless it holds anything else.
      std::optional<std::unordered_set<std::string>> inside = listFolder(std::string(relative) + "/" + name);
      if (!inside) continue;
      for (const std::string& file : *inside) {
        struct stat f;
        if (::lstat((path / file).c_str(), &f) == 0 && S_ISREG(f.st_mode)) removed += ops_->remove(path / file).ok();
      }
      ::rmdir(path.c_str());
    }
  }
  return removed;
}

Status ProjectFolder::syncFolder(std::string_view relative) const {
  return ops_->syncFolder(relative.empty() ? folder_ : resolve(relative));
}

Status ProjectFolder::removeFile(std::string_view relative) const { return ops_->remove(resolve(relative)); }

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
  return ops_->createFolder(relative.empty() ? folder_ : resolve(relative));
}

bool ProjectFolder::fileExists(std::string_view relative) const {
  struct stat st;
  return ::stat(resolve(relative).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace charstack
