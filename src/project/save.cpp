// Writing a project folder: pending deletions first, then each record's image in save order, then
// "data.txt", and last the files that "data.txt" no longer refers to. Every file is replaced
// atomically, every failure is reported, and nothing the editor could not read is ever deleted,
// replaced or emptied.
#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_set>
#include <utility>

#include "model/names.hpp"
#include "platform/image.hpp"
#include "platform/parallel.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {

// Checks that must pass before any file is touched.
bool checkBeforeSaving(CharacterList& list, const std::vector<RecordRef>& records,
                       const std::vector<std::string>& fileNames, SaveReport& report) {
  bool ok = true;
  for (const RecordRef& r : records) {
    NameProblem problem = checkName(*r.name);
    if (problem == NameProblem::BreaksFormat) {
      report.problems.push_back(
          {describeRecord(list, r), "cannot be saved: " + describeNameProblem(problem) + "; rename it"});
      ok = false;
    }
  }
  // Two records sharing a file name have the same hash: sorting the hashes finds them without a
  // node per record (a project may have a million records).
  std::vector<std::pair<size_t, size_t>> hashes(records.size());  // hash, record
  for (size_t i = 0; i < records.size(); ++i) hashes[i] = {std::hash<std::string>{}(fileNames[i]), i};
  std::sort(hashes.begin(), hashes.end());
  std::vector<std::pair<size_t, size_t>> shared;  // a record, and the first record with its file name
  for (size_t a = 0, end; a < hashes.size(); a = end) {
    for (end = a + 1; end < hashes.size() && hashes[end].first == hashes[a].first; ++end) {
      for (size_t b = a; b < end; ++b) {
        if (fileNames[hashes[b].second] != fileNames[hashes[end].second]) continue;
        shared.emplace_back(hashes[end].second, hashes[b].second);
        break;
      }
    }
  }
  std::sort(shared.begin(), shared.end());
  for (auto [record, owner] : shared)
    report.problems.push_back({imagePath(fileNames[record]), describeRecord(list, records[owner]) + " and " +
                                                                 describeRecord(list, records[record]) +
                                                                 " would share this image file; rename one of them"});
  return ok && shared.empty();
}

// Decides, file by file, whether the save may replace or delete a file of "img/": only when nothing
// is there, or a file that the editor read as a picture or wrote itself, or a regular file that reads
// and decodes now. Whatever else is there is kept, and remembered as such.
class ImageFolderGuard {
 public:
  ImageFolderGuard(EditorState& state, const ProjectFolder& folder) : state_(state), folder_(folder) {
    // Nothing has come into "img/" or left it since the last save when the folder looks as it did:
    // the names listed then still hold.
    const std::optional<FileStamp> now = folder.stamp(kImageFolder, true);
    if (now && state.imageFolderStamp == now)
      present_ = std::move(state.imageFolderNames);
    else
      present_ = folder.listFolder(kImageFolder);
    state.imageFolderStamp.reset();
  }
  // Keeps the names for the next save, with what the folder looks like after this one.
  ~ImageFolderGuard() {
    if (!present_) return;
    state_.imageFolderNames = std::move(*present_);
    state_.imageFolderStamp = folder_.stamp(kImageFolder, true);
  }
  ImageFolderGuard(const ImageFolderGuard&) = delete;
  ImageFolderGuard& operator=(const ImageFolderGuard&) = delete;

  void added(const std::string& fileName) {
    if (present_) present_->insert(fileName);
  }
  void removed(const std::string& fileName) {
    if (present_) present_->erase(fileName);
  }

  // Whether something may stand under the name (a file listed when the save began).
  bool mayExist(const std::string& fileName) const { return !present_ || present_->count(fileName) != 0; }
  // Whether the folder listing showed the name.
  bool listed(const std::string& fileName) const { return present_ && present_->count(fileName) != 0; }

  // Whether another program has changed or replaced a file since the editor read or wrote it.
  bool changedOnDisk(const std::string& fileName) const {
    auto known = state_.knownImageFiles.find(fileName);
    if (known == state_.knownImageFiles.end()) return false;
    std::optional<FileStamp> now = folder_.stamp(imagePath(fileName));
    return now && !(*now == known->second.stamp);
  }

  // Why the file must be left alone, phrased to follow "it"; none when the save may touch it.
  std::optional<std::string> refusal(const std::string& fileName) {
    if (state_.unreadableImageFiles.count(fileName)) return std::string("could not be read as a picture");
    const std::string path = imagePath(fileName);
    FileInfo info = folder_.inspect(path);
    if (!info.exists) return std::nullopt;
    if (!info.regular) return keep(fileName, info.reason);
    if (state_.knownImageFiles.count(fileName)) return std::nullopt;
    FileRead file = folder_.read(path);
    if (file.outcome == FileRead::Outcome::Refused) return keep(fileName, file.reason);
    if (file.read()) {
      DecodedImage decoded = decodeImage(file.bytes);
      if (!decoded.image) return keep(fileName, decoded.problem);
      state_.knownImageFiles[fileName] = {nullptr, file.stamp};
    }
    return std::nullopt;
  }

 private:
  std::optional<std::string> keep(const std::string& fileName, std::string reason) {
    state_.unreadableImageFiles.insert(fileName);
    return reason;
  }

  EditorState& state_;
  const ProjectFolder& folder_;
  std::optional<std::unordered_set<std::string>> present_;
};

constexpr const char* kChangedText =
    "was not replaced: another program has changed it since the editor read or wrote it";

std::string keptText(const std::string& reason) {
  return "was kept: it " + reason + ", and the editor does not delete what it could not read";
}

std::string notWrittenText(const std::string& reason) {
  return "was not written: the file there " + reason +
         ", and the editor does not replace what it could not read; move that file away or rename the record, "
         "then save again";
}

// Keeps the text of a "data.txt" that is about to be replaced under a new name beside it:
// "data.txt.bak", or "data.txt.bak2" and on when that is taken. The name, or none on failure.
std::optional<std::string> backUpDataFile(const ProjectFolder& folder, SaveReport& report) {
  FileRead old = folder.read(kDataFileName);
  if (old.outcome == FileRead::Outcome::Missing) return std::string();
  if (!old.read()) {
    report.problems.push_back({kDataFileName, "was not replaced: it " + old.reason});
    return std::nullopt;
  }
  for (int n = 1; n < 1000; ++n) {
    std::string name = std::string(kDataFileName) + ".bak" + (n == 1 ? "" : std::to_string(n));
    Status s = folder.writeNewFile(name, old.bytes);
    if (s.ok()) return name;
    if (folder.inspect(name).exists) continue;  // taken: try the next name
    report.problems.push_back({name, "could not be written: " + s.error + "; " + kDataFileName + " was not replaced"});
    return std::nullopt;
  }
  report.problems.push_back({kDataFileName, "was not replaced: no free name for a copy of its old text"});
  return std::nullopt;
}

}  // namespace

SaveReport saveProject(CharacterList& list, EditorState& state, const ProjectFolder& folder,
                       const SaveOptions& options) {
  SaveReport report;
  std::vector<RecordRef> records = recordsInSaveOrder(list);
  std::vector<std::string> fileNames(records.size());
  for (size_t i = 0; i < records.size(); ++i) fileNames[i] = imageFileName(*records[i].name, records[i].number);
  if (!checkBeforeSaving(list, records, fileNames, report)) {
    report.refused = true;
    return report;
  }

  // Whether "data.txt" may be written, decided before anything is touched.
  const FileInfo dataInfo = folder.inspect(kDataFileName);
  bool writeData = dataInfo.exists || !list.empty();  // an empty project without a data file stays without
  bool backUp = false;
  if (state.dataFileUnreadable || (dataInfo.exists && !dataInfo.regular)) {
    report.problems.push_back(
        {kDataFileName, "was not written: it " + (dataInfo.exists && !dataInfo.regular ? dataInfo.reason
                                                                                       : std::string("could not be read")) +
                            ", and the editor does not replace what it could not read"});
    writeData = false;
  } else if (writeData && !options.overwriteChangedFiles &&
             state.dataFileStamp && dataInfo.exists && !(folder.stamp(kDataFileName) == state.dataFileStamp)) {
    report.problems.push_back({kDataFileName, kChangedText});
    report.changedOnDisk.push_back(kDataFileName);
    writeData = false;
  } else if (state.dataFileWithoutRecords && dataInfo.exists) {
    if (list.empty()) {
      report.problems.push_back({kDataFileName, "was left as it is: it holds text but no record the editor can read"});
      writeData = false;
    } else if (!options.replaceDataFileWithoutRecords) {
      report.problems.push_back({kDataFileName, "holds text but no record the editor can read; replacing it "
                                                "needs your confirmation (its old text is kept beside it)"});
      report.needsConfirmation = true;
      report.refused = true;
      return report;
    } else {
      backUp = true;
    }
  }

  if (Status s = folder.createFolder(kImageFolder); !s.ok())
    report.problems.push_back({std::string(kImageFolder) + "/", "could not be created: " + s.error});
  ImageFolderGuard guard(state, folder);

  for (const std::string& name : state.pendingImageDeletions) {
    if (!isSafeImageFileName(name)) {
      report.problems.push_back({imagePath(name), "was not deleted: the name is not a plain file name"});
    } else if (!guard.mayExist(name)) {
      continue;
    } else if (std::optional<std::string> refusal = guard.refusal(name)) {
      report.problems.push_back({imagePath(name), keptText(*refusal)});
    } else if (!options.overwriteChangedFiles && guard.changedOnDisk(name)) {
      report.problems.push_back({imagePath(name), "was not deleted: another program has changed it since the editor "
                                                  "read or wrote it"});
      report.changedOnDisk.push_back(imagePath(name));
    } else if (Status s = folder.removeFile(imagePath(name)); !s.ok()) {
      report.problems.push_back({imagePath(name), "could not be deleted: " + s.error});
    } else {
      state.knownImageFiles.erase(name);
      guard.removed(name);
    }
  }
  state.pendingImageDeletions = {};

  // Records with a picture go through the writing pipeline, unless their file already holds that very
  // picture; the others only have files to remove.
  std::vector<size_t> withPicture, unchanged;
  for (size_t i = 0; i < records.size(); ++i) {
    if (!*records[i].image || !isSafeImageFileName(fileNames[i])) continue;
    auto known = state.knownImageFiles.find(fileNames[i]);
    const bool same = known != state.knownImageFiles.end() && known->second.image == *records[i].image &&
                      guard.listed(fileNames[i]);
    (same ? unchanged : withPicture).push_back(i);
  }

  // Encode every image first, on all cores (indexed like withPicture).
  std::vector<std::optional<std::string>> encoded(withPicture.size());
  parallelFor(withPicture.size(), [&](size_t j) { encoded[j] = encodePng(**records[withPicture[j]].image); });

  // Files this save writes; an old file of another record is never removed when one of them has its name.

  size_t done = 0;
  auto advance = [&] {
    if (options.progress) options.progress(++done, records.size());
  };

  bool committed = false;
  std::vector<std::string> stale;  // files to remove once "data.txt" no longer refers to them
  std::vector<size_t> renamed;     // records whose savedName changes then
  // After a record's own file is settled: its file under an old name goes once "data.txt" is written.
  auto settleName = [&](size_t i) {
    const RecordRef& r = records[i];
    if (!*r.savedName || **r.savedName == *r.name) {
      *r.savedName = *r.name;
      return;
    }
    // The file under the old name is still what the "data.txt" on disk refers to.
    std::string oldFile = imageFileName(**r.savedName, r.number);
    if (oldFile != fileNames[i]) {
      if (guard.mayExist(oldFile)) stale.push_back(std::move(oldFile));
      renamed.push_back(i);
      return;
    }
    *r.savedName = *r.name;
  };

  // The files are put in place one by one in save order. Their temporary files are written and
  // fsynced a few files ahead on several threads: a file's fsync waits for the disk, not for a core.
  std::vector<ProjectFolder::PreparedWrite> prepared(withPicture.size());
  auto prepare = [&](size_t j) {
    if (!encoded[j]) return;
    prepared[j] = folder.prepareWrite(imagePath(fileNames[withPicture[j]]), *encoded[j]);
    encoded[j]->clear();
    encoded[j]->shrink_to_fit();
  };
  auto put = [&](size_t j) {
    const size_t i = withPicture[j];
    const std::string& fileName = fileNames[i];
    advance();
    if (!encoded[j]) {
      report.problems.push_back({imagePath(fileName), "could not be encoded as PNG; the old file is kept"});
      return;
    }
    if (std::optional<std::string> refusal = guard.refusal(fileName)) {
      prepared[j] = {};
      report.problems.push_back({imagePath(fileName), notWrittenText(*refusal)});
      return;
    }
    if (!options.overwriteChangedFiles && guard.changedOnDisk(fileName)) {
      prepared[j] = {};
      report.problems.push_back({imagePath(fileName), kChangedText});
      report.changedOnDisk.push_back(imagePath(fileName));
      return;
    }
    if (Status s = folder.commitWrite(prepared[j]); !s.ok()) {
      report.problems.push_back({imagePath(fileName), "could not be written: " + s.error});
      return;
    }
    committed = true;
    guard.added(fileName);
    state.knownImageFiles[fileName] = {*records[i].image, folder.stamp(imagePath(fileName)).value_or(FileStamp{})};
    settleName(i);
  };
  constexpr size_t kWriteThreads = 4, kWriteAhead = 4;
  orderedPipeline(withPicture.size(), kWriteThreads, kWriteAhead, prepare, put);

  for (size_t i : unchanged) {
    advance();
    settleName(i);
  }
  for (size_t i = 0; i < records.size(); ++i) {
    const RecordRef& r = records[i];
    if (*r.image && isSafeImageFileName(fileNames[i])) continue;  // written or kept above
    advance();
    if (!isSafeImageFileName(fileNames[i])) {
      report.problems.push_back({describeRecord(list, r), "its image was not saved: the name cannot be used as "
                                                          "an image file name"});
      continue;
    }
    // A record without a picture has no file: a stale one under its name would be taken as its
    // image at the next start.
    if (guard.mayExist(fileNames[i])) stale.push_back(fileNames[i]);
    settleName(i);
  }

  // One fsync of "img/" makes all the renames durable, before "data.txt" refers to the files.
  if (committed) {
    if (Status s = folder.syncFolder(kImageFolder); !s.ok())
      report.problems.push_back({std::string(kImageFolder) + "/", "could not be written: " + s.error});
  }

  if (!writeData) return report;  // nothing refers to the new names yet: the old files stay
  if (backUp) {
    std::optional<std::string> backup = backUpDataFile(folder, report);
    if (!backup) return report;
    report.backupFile = *backup;
  }
  if (Status s = folder.writeFileAtomically(kDataFileName, buildDataText(list)); !s.ok()) {
    report.problems.push_back({kDataFileName, "could not be written: " + s.error});
    return report;  // the old files stay for the old "data.txt"
  }
  report.dataFileWritten = true;
  state.dataFileWithoutRecords = false;
  state.dataFileStamp = folder.stamp(kDataFileName);

  std::unordered_set<std::string> written;
  if (!stale.empty()) {
    for (size_t j = 0; j < withPicture.size(); ++j)
      if (encoded[j]) written.insert(fileNames[withPicture[j]]);
    for (size_t i : unchanged) written.insert(fileNames[i]);
  }
  for (const std::string& fileName : stale) {
    if (written.count(fileName)) continue;
    // A file known to be unreadable since the load was reported then; it simply stays.
    const bool known = state.unreadableImageFiles.count(fileName) != 0;
    if (std::optional<std::string> refusal = guard.refusal(fileName)) {
      if (!known) report.problems.push_back({imagePath(fileName), keptText(*refusal)});
      continue;
    }
    if (!options.overwriteChangedFiles && guard.changedOnDisk(fileName)) continue;  // another program's now
    if (Status s = folder.removeFile(imagePath(fileName)); !s.ok()) {
      report.problems.push_back({imagePath(fileName), "could not be deleted: " + s.error});
    } else {
      state.knownImageFiles.erase(fileName);
      guard.removed(fileName);
    }
  }
  for (size_t i : renamed) *records[i].savedName = *records[i].name;
  return report;
}

}  // namespace charstack
