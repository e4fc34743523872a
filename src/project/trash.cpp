#include "project/trash.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <system_error>
#include <unordered_set>

namespace charstack {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBundlePrefix = "unused images ";

std::string errorText(int error) { return std::generic_category().message(error); }

// The local time as "2024-05-01 10.22.33" (format given).
std::string now(const char* format) {
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

// Whether name is one trashBundleName gives: the prefix, "YYYY-MM-DD HH.MM.SS", maybe " (N)".
bool isBundleName(std::string_view name) {
  if (name.substr(0, kBundlePrefix.size()) != kBundlePrefix) return false;
  name.remove_prefix(kBundlePrefix.size());
  constexpr std::string_view shape = "dddd-dd-dd dd.dd.dd";
  if (name.size() < shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i)
    if (shape[i] == 'd' ? (name[i] < '0' || name[i] > '9') : name[i] != shape[i]) return false;
  name.remove_prefix(shape.size());
  if (name.empty()) return true;
  if (name.size() < 4 || name.substr(0, 2) != " (" || name.back() != ')') return false;
  for (char c : name.substr(2, name.size() - 3))
    if (c < '0' || c > '9') return false;
  return true;
}

// A path as the trash's notes hold it: URL-escaped bytes, "/" kept.
std::string urlEscape(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Renames without replacing anything at `to`: a file another program put there stays.
int renameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;  // a file system without the flag: look first
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// A folder only this user may enter, made when missing; an error text when that fails or something
// else (a link, another user's folder) stands there.
std::string privateFolder(const fs::path& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return path.string() + " could not be made (" + errorText(errno) + ")";
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return path.string() + " cannot be used (" + errorText(errno) + ")";
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return path.string() + " is not a folder of this user";
  return {};
}

// Where the trash's entries and notes go for files of a folder: never on another disk.
struct TrashPlace {
  fs::path files, info;
  fs::path top;       // the disk's top folder, for a trash there; empty for the home trash
  std::string error;  // why there is none
};

TrashPlace trashFor(const fs::path& project) {
  struct stat at;
  if (::stat(project.c_str(), &at) != 0)
    return {{}, {}, {}, "the project folder cannot be found (" + errorText(errno) + ")"};
  // The home trash, when it (or the nearest folder above where it goes) is on the project's disk.
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  fs::path data = dataHome && *dataHome == '/' ? fs::path(dataHome)
                  : home && *home == '/'       ? fs::path(home) / ".local/share"
                                               : fs::path();
  if (!data.empty()) {
    const fs::path trash = data / "Trash";
    fs::path p = trash;
    struct stat st;
    while (::stat(p.c_str(), &st) != 0 && p.has_relative_path()) p = p.parent_path();
    if (st.st_dev == at.st_dev) {
      std::error_code error;
      fs::create_directories(data, error);
      std::string why = privateFolder(trash);
      if (why.empty()) why = privateFolder(trash / "files");
      if (why.empty()) why = privateFolder(trash / "info");
      if (!why.empty()) return {{}, {}, {}, "the trash " + why};
      return {trash / "files", trash / "info", {}, {}};
    }
  }
  // The trash of the disk itself, in its top folder.
  std::error_code error;
  fs::path top = fs::canonical(project, error);
  if (error) return {{}, {}, {}, "the project folder cannot be found (" + error.message() + ")"};
  for (struct stat st; top.has_relative_path(); top = top.parent_path())
    if (::stat(top.parent_path().c_str(), &st) != 0 || st.st_dev != at.st_dev) break;
  const fs::path trash = top / (".Trash-" + std::to_string(::getuid()));
  std::string why = privateFolder(trash);
  if (why.empty()) why = privateFolder(trash / "files");
  if (why.empty()) why = privateFolder(trash / "info");
  if (!why.empty())
    return {{}, {}, {}, "the home trash is on another disk, and the trash of the project's disk " + why};
  return {trash / "files", trash / "info", top, {}};
}

// Removes a folder of empty folders; leaves any folder that still holds a file.
bool removeEmptyFolders(const fs::path& dir) {
  std::error_code error;
  bool empty = true;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    const bool folder = entry.is_directory(error) && !entry.is_symlink(error);
    empty = (folder && removeEmptyFolders(entry.path())) && empty;
  }
  return !error && empty && fs::remove(dir, error);
}

}  // namespace

std::string trashBundleName(const ProjectFolder& folder) {
  const std::string base = std::string(kBundlePrefix) + now("%Y-%m-%d %H.%M.%S");
  std::string name = base;
  for (int n = 2; folder.inspect(name).exists; ++n) name = base + " (" + std::to_string(n) + ")";
  return name;
}

namespace {

// One move of files to the trash: the files go into a bundle folder inside the project, which then
// goes to the trash in one rename, beside a note that can bring it back.
class TrashMove {
 public:
  TrashMove(const ProjectFolder& folder, const std::vector<std::string>& files)
      : folder_(folder), files_(files), ops_(folder.ops()), bundle_(trashBundleName(folder)),
        into_(folder.resolve(bundle_)), reasons_(files.size()) {}

  TrashReport run(const std::function<void(size_t done)>& progress, const std::atomic<bool>& cancelled) {
    const TrashPlace place = trashFor(folder_.path());
    if (!place.error.empty()) return failAll(place.error);
    if (std::string failed = writeNote(place); !failed.empty()) return failAll(failed);
    if (const Status made = ops_.createFolder(into_); !made.ok()) {
      ops_.remove(notePath_);
      return failAll("the folder " + bundle_ + " to take it could not be made (" + made.error + ")");
    }
    const std::string full = moveIntoBundle(progress, cancelled);
    // The bundle goes to the trash; when it cannot, its files go back where they were.
    bool anyMoved = false;
    for (size_t i = 0; i < tried_; ++i) anyMoved = anyMoved || !reasons_[i];
    std::string failed = full;
    if (anyMoved && failed.empty()) {
      if (const int e = renameNoReplace(into_, place.files / entry_); e != 0)
        failed = "the folder " + bundle_ + " could not go to the trash as " + (place.files / entry_).string() +
                 " (" + errorText(e) + ")";
    }
    if (!anyMoved || !failed.empty()) return putBack(failed, full);
    ops_.syncFolder(place.files);
    ops_.syncFolder(folder_.path());
    return finish();
  }

 private:
  TrashReport finish() {
    TrashReport report;
    for (size_t i = 0; i < tried_; ++i) {
      if (reasons_[i])
        report.problems.push_back({files_[i], "was not moved to the trash: " + *reasons_[i]});
      else
        report.moved.push_back(files_[i]);
    }
    report.notTried = files_.size() - tried_;
    if (!report.moved.empty()) report.bundle = bundle_;
    return report;
  }

  TrashReport failAll(const std::string& reason) {
    tried_ = files_.size();
    for (auto& r : reasons_) r = reason;
    return finish();
  }

  // The note first, flushed: an entry of the trash is never without the note that brings it back.
  // Returns why it could not be written; empty when it was.
  std::string writeNote(const TrashPlace& place) {
    std::error_code error;
    const fs::path absolute = fs::weakly_canonical(folder_.path(), error) / bundle_;
    const std::string note =
        "[Trash Info]\nPath=" +
        urlEscape(place.top.empty() ? absolute.string() : absolute.lexically_relative(place.top).string()) +
        "\nDeletionDate=" + now("%Y-%m-%dT%H:%M:%S") + "\n";
    for (int n = 1;; ++n) {
      entry_ = n == 1 ? bundle_ : bundle_ + " " + std::to_string(n);
      notePath_ = place.info / (entry_ + ".trashinfo");
      struct stat st;
      if (::lstat((place.files / entry_).c_str(), &st) == 0) continue;
      Status written = ops_.createFile(notePath_, note, 0600, nullptr, true);
      if (written.ok() && !(written = ops_.syncFolder(place.info)).ok()) ops_.remove(notePath_);
      if (written.ok()) return {};
      if (written.code != EEXIST || n >= 1000)
        return "the trash's note " + notePath_.string() + " could not be written (" + written.error + ")";
    }
  }

  // Into the bundle, one rename each. A full disk (a folder that needs room to grow) stops it all:
  // then it returns what to tell.
  std::string moveIntoBundle(const std::function<void(size_t done)>& progress, const std::atomic<bool>& cancelled) {
    std::unordered_set<std::string> seen, folders;  // files moved, folders made in the bundle
    for (; tried_ < files_.size() && !cancelled.load(std::memory_order_relaxed); ++tried_) {
      const std::string& file = files_[tried_];
      const fs::path target = into_ / file;
      Status s;
      if (!seen.insert(file).second) {
        s = Status::failure(errorText(EEXIST), EEXIST);  // named twice: it has gone already
      } else if (!folders.count(target.parent_path().string())) {
        s = ops_.createFolder(target.parent_path());
        if (s.ok()) folders.insert(target.parent_path().string());
      }
      if (s.ok()) s = ops_.rename(folder_.resolve(file), target);
      if (!s.ok()) reasons_[tried_] = s.error;
      if (s.code == ENOSPC || s.code == EDQUOT) {
        ++tried_;
        return "the disk is full: " + file + " could not be moved into the folder " + bundle_ + " (" + s.error +
               "); nothing was moved";
      }
      if (progress) progress(tried_ + 1);
    }
    return {};
  }

  // Every file moved into the bundle goes back; one that cannot stays there, and says so.
  TrashReport putBack(const std::string& failed, const std::string& full) {
    std::vector<char> stuck(files_.size(), 0);
    for (size_t i = 0; i < tried_; ++i) {
      if (reasons_[i]) continue;
      stuck[i] = renameNoReplace(into_ / files_[i], folder_.resolve(files_[i])) != 0;
      reasons_[i] = failed;
    }
    removeEmptyFolders(into_);  // a file that could not go back stays
    ops_.remove(notePath_);
    if (!full.empty()) {  // the file that met the full disk and those not tried yet stay too
      for (size_t i = tried_ - 1; i < files_.size(); ++i) reasons_[i] = full;
      tried_ = files_.size();
    }
    for (size_t i = 0; i < tried_; ++i)
      if (stuck[i]) *reasons_[i] += "; it is now in " + bundle_ + "/" + files_[i];
    return finish();
  }

  const ProjectFolder& folder_;
  const std::vector<std::string>& files_;
  FileOps& ops_;
  const std::string bundle_;
  const fs::path into_;
  std::string entry_;  // the bundle's name in the trash
  fs::path notePath_;
  // A reason for each file that stays; none for one moved.
  std::vector<std::optional<std::string>> reasons_;
  size_t tried_ = 0;
};

}  // namespace

TrashReport trashFiles(const ProjectFolder& folder, const std::vector<std::string>& files,
                       const std::function<void(size_t done)>& progress, const std::atomic<bool>& cancelled) {
  if (files.empty()) return {};
  return TrashMove(folder, files).run(progress, cancelled);
}

std::vector<Problem> findCleanUpLeftovers(const ProjectFolder& folder) {
  std::vector<Problem> found;
  std::optional<std::unordered_set<std::string>> names = folder.listFolder("");
  if (!names) return found;
  std::vector<std::string> sorted(names->begin(), names->end());
  std::sort(sorted.begin(), sorted.end());
  for (const std::string& name : sorted) {
    struct stat st;
    if (!isBundleName(name) || ::lstat(folder.resolve(name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      continue;
    size_t count = 0;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder.resolve(name), error); !error && it != fs::end(it);
         it.increment(error))
      count += it->is_symlink(error) || !it->is_directory(error);
    found.push_back(
        {name + "/", "was left by a Clean Up Unused Images that was stopped before it finished; it holds " +
                         std::to_string(count) +
                         " file(s) taken out of the project: move them back where they were, or the "
                         "folder to the trash"});
  }
  return found;
}

}  // namespace charstack
