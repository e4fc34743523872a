#include "platform/files.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace charstack {

namespace {

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message(); }

// The system's reason, "No space left on device"; the caller says which file and what it was doing.
Status failure(int error) {
  return Status::failure(errorText(error));
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

std::optional<std::string> ProjectFolder::readFile(std::string_view relative) const {
  auto path = resolve(relative);
  int fd;
  do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    closeRetrying(fd);
    return std::nullopt;
  }
  std::string data;
  data.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      closeRetrying(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  closeRetrying(fd);
  return data;
}

ProjectFolder::PreparedWrite::PreparedWrite(PreparedWrite&& other) noexcept
    : relative_(std::move(other.relative_)),
      temp_(std::move(other.temp_)),
      target_(std::move(other.target_)),
      status_(std::move(other.status_)) {
  other.temp_.clear();
}

ProjectFolder::PreparedWrite& ProjectFolder::PreparedWrite::operator=(PreparedWrite&& other) noexcept {
  if (this != &other) {
    discard();
    relative_ = std::move(other.relative_);
    temp_ = std::move(other.temp_);
    target_ = std::move(other.target_);
    status_ = std::move(other.status_);
    other.temp_.clear();
  }
  return *this;
}

ProjectFolder::PreparedWrite::~PreparedWrite() { discard(); }

void ProjectFolder::PreparedWrite::discard() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
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

  std::string pattern = "." + name + ".tmp-XXXXXX";
  if (pattern.size() > NAME_MAX) pattern = ".cs-tmp-XXXXXX";
  std::string temp = (folder / pattern).string();
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    write.status_ = failure(errno);
    return write;
  }

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
  if (::close(fd) != 0 && errno != EINTR) return fail(errno, false);
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
  return Status::success();
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
