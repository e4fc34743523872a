// Working beside other programs: which files the editor looks at after a change on disk, and what it
// does with what it finds there.
#include <algorithm>
#include <unordered_set>

#include "controller/commands.hpp"
#include "controller/disk_link.hpp"
#include "controller/project_store.hpp"
#include "model/names.hpp"
#include "platform/parallel.hpp"
#include "project/records.hpp"

namespace charstack {

DiskScanResult scanDisk(const ProjectFolder& folder, const DiskScanRequest& request) {
  DiskScanResult result;
  result.saveCount = request.saveCount;
  result.files.resize(request.files.size());
  // A stat per file, and a read only of the files that changed or are seen for the first time.
  parallelFor(request.files.size(), [&](size_t i) {
    const DiskScanRequest::File& want = request.files[i];
    DiskScanResult::File& file = result.files[i];
    file.name = want.name;
    file.stamp = folder.stamp(imagePath(want.name));
    if (want.unknown ? !file.stamp : file.stamp == want.last) return;
    file.changed = true;
    file.firstSeen = want.unknown;
    FileRead read = folder.read(imagePath(want.name));
    file.outcome = read.outcome;
    file.reason = std::move(read.reason);
    if (!read.read()) return;
    file.stamp = read.stamp;
    file.decoded = decodeImage(std::move(read.bytes));
  });
  result.dataFile = folder.stamp(kDataFileName);
  result.dataFileChanged = result.dataFile && !(result.dataFile == request.dataFile);
  return result;
}

DiskScanRequest DiskLink::scanRequest(const std::unordered_set<std::string>* only) {
  DiskScanRequest request;
  std::unordered_set<std::string> asked;
  auto add = [&](const std::string& name, bool lookAgain) {
    if (!isSafeImageFileName(name) || (only && !only->count(name)) || !asked.insert(name).second) return;
    DiskScanRequest::File file{name, std::nullopt, lookAgain};
    if (lookAgain)
      ;
    else if (auto known = state_.knownImageFiles.find(name); known != state_.knownImageFiles.end())
      file.last = known->second.stamp;
    else if (auto seen = seen_.find(name); seen != seen_.end())
      file.last = seen->second;
    else
      file.unknown = true;
    request.files.push_back(std::move(file));
  };
  // A file under the new name of a record without a picture is its picture, as the next load would
  // make it: it is looked at as if never seen.
  if (!only || !only->empty()) {
    forEachRecord(document_.list(), [&](const auto& r, int64_t number, int64_t, int64_t) {
      if (!r.image && r.savedName != r.name) add(imageFileName(r.name, number), true);
    });
  }
  if (only) {
    for (const std::string& name : *only) add(name, false);
  } else {
    // Every record's file, and the files the editor knows: a renamed or renumbered record's picture
    // is still in its old file until the next save.
    forEachRecord(document_.list(), [&](const auto& r, int64_t number, int64_t, int64_t) { add(imageFileName(r.name, number), false); });
    for (const auto& [name, disk] : state_.knownImageFiles) add(name, false);
    for (const std::string& name : state_.unreadableImageFiles) add(name, false);
  }
  const bool seenSinceSave = seenDataFile_ && seenDataFileAtSave_ == store_.saveCount();
  request.dataFile = seenSinceSave ? seenDataFile_ : state_.dataFileStamp;
  request.saveCount = store_.saveCount();
  return request;
}

// Which record has which file name, and which record shows which picture: made only when a file changed.
struct DiskLink::Owners {
  std::unordered_map<std::string, RecordAt> byFile;
  std::unordered_map<const Image*, RecordAt> byPicture;
  // The record of a file: its owner by name, or the record that shows the picture the file had (a
  // record since renamed or renumbered).
  std::optional<RecordAt> of(const std::string& file, const ImageRef& knownPicture) const {
    if (auto owner = byFile.find(file); owner != byFile.end()) return owner->second;
    auto shows = knownPicture ? byPicture.find(knownPicture.get()) : byPicture.end();
    return shows != byPicture.end() ? std::optional<RecordAt>(shows->second) : std::nullopt;
  }
};

std::vector<DiskChange> DiskLink::apply(const DiskScanResult& result) {
  std::vector<DiskChange> changes;
  // The files a save wrote since the look began are the editor's own: the look is out of date.
  if (result.saveCount != store_.saveCount()) return changes;
  Owners owners;
  if (std::any_of(result.files.begin(), result.files.end(), [](const DiskScanResult::File& f) { return f.changed; })) {
    forEachRecord(document_.list(), [&](const auto& r, int64_t number, int64_t k, int64_t m) {
      owners.byFile.emplace(imageFileName(r.name, number), RecordAt{k, m});
      if (r.image) owners.byPicture.emplace(r.image.get(), RecordAt{k, m});
    });
  }
  // The pictures this look takes are one step.
  bool macro = false;
  for (const DiskScanResult::File& f : result.files) {
    seen_[f.name] = f.stamp;
    if (!f.changed) continue;
    std::optional<DiskChange> change = applyFile(f, owners);
    if (!change) continue;
    if (change->kind == DiskChange::Kind::PictureTaken) {
      if (!std::exchange(macro, true)) document_.history().beginMacro(stepText(QT_TRANSLATE_NOOP("Command", "Take Pictures from Disk")));
      document_.history().push(new TakePictureCommand(edits_, change->at, f.name, change->picture, change->stamp, false));
    }
    changes.push_back(std::move(*change));
  }
  if (macro) document_.history().endMacro();
  if (result.dataFileChanged) {
    seenDataFile_ = result.dataFile;
    seenDataFileAtSave_ = store_.saveCount();
    DiskChange change;
    change.kind = DiskChange::Kind::DataFile;
    change.file = kDataFileName;
    changes.push_back(std::move(change));
  }
  return changes;
}

std::optional<DiskChange> DiskLink::applyFile(const DiskScanResult::File& f, const Owners& owners) {
  store_.markFilesChanged();
  // Whether the file can be read as a picture, whoever uses it: a file that can be read again (a
  // paint program finished writing it) is a picture once more.
  const bool wasUnreadable = state_.unreadableImageFiles.count(f.name) != 0;
  if (f.decoded.image || f.outcome == FileRead::Outcome::Missing) state_.unreadableImageFiles.erase(f.name);
  else state_.unreadableImageFiles.insert(f.name);
  auto known = state_.knownImageFiles.find(f.name);
  const ImageRef knownPicture = known != state_.knownImageFiles.end() ? known->second.image : nullptr;
  const std::optional<RecordAt> at = owners.of(f.name, knownPicture);
  if (!at) {
    // No record uses the file any more: it is no longer the editor's to replace or delete.
    state_.knownImageFiles.erase(f.name);
    return std::nullopt;
  }
  const ImageRef shown = document_.fieldsOf(*at).image;
  DiskChange change;
  change.file = imagePath(f.name);
  change.at = *at;
  change.stamp = f.stamp.value_or(FileStamp{});
  if (f.outcome == FileRead::Outcome::Missing) {
    state_.knownImageFiles.erase(f.name);
    if (!shown) return std::nullopt;
    change.kind = DiskChange::Kind::Deleted;
    return change;
  }
  if (!f.decoded.image) {
    state_.knownImageFiles.erase(f.name);
    if (wasUnreadable && f.firstSeen) return std::nullopt;  // known since the load
    change.kind = DiskChange::Kind::Unreadable;
    change.reason = f.outcome == FileRead::Outcome::Refused ? f.reason : f.decoded.problem;
    return change;
  }
  if (f.firstSeen && shown) {
    // A file found under the name of a record that has a picture already: the same picture makes it
    // the editor's; another one stays the file's until a save asks before replacing it.
    if (shown->samePixels(*f.decoded.image)) state_.knownImageFiles[f.name] = {shown, change.stamp};
    return std::nullopt;
  }
  change.picture = f.decoded.image;
  // The picture the file had at the last load or save: a record still showing it has not been
  // given another one in the editor.
  const ImageRef before = owners.byFile.count(f.name) ? store_.savedPicture(f.name) : knownPicture;
  change.kind = shown == before ? DiskChange::Kind::PictureTaken : DiskChange::Kind::Conflict;
  return change;
}

void DiskLink::resolveConflict(const DiskChange& change, bool takeFile) {
  const std::string name = change.file.substr(std::string(kImageFolder).size() + 1);
  store_.markFilesChanged();
  if (takeFile) {
    document_.history().push(new TakePictureCommand(edits_, change.at, name, change.picture, change.stamp, false));
  } else {
    // The editor's picture stays; the next save may replace the file, as the user chose. What the
    // file holds is the other program's picture.
    state_.knownImageFiles[name] = {change.picture, change.stamp};
  }
}

void DiskLink::forget() {
  seen_.clear();
  seenDataFile_.reset();
}

}  // namespace charstack
