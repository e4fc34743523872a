// Reading a project folder: "data.txt" and each record's image from "img/".
#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <optional>

#include "model/names.hpp"
#include "platform/project_lock.hpp"
#include "project/journal.hpp"
#include "platform/parallel.hpp"
#include "platform/text.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"
#include "project/trash.hpp"

namespace charstack {

namespace {

// "data.txt": the records, and what the user should know of its text. False when there is nothing
// to read (no file, or one that cannot be read).
bool readDataFile(const ProjectFolder& folder, LoadResult& result) {
  FileRead data = folder.read(kDataFileName);
  if (data.outcome == FileRead::Outcome::Refused) {
    result.dataFileUnreadable = true;
    result.problems.push_back({kDataFileName, data.reason + "; the project starts empty and saving will not "
                                                            "replace it"});
    return false;
  }
  if (!data.read()) return false;
  result.dataFileStamp = data.stamp;
  if (!text::isValidUtf8(data.bytes))
    result.problems.push_back({kDataFileName, "holds names that are not valid UTF-8 text: the tables show "
                                              "\"\xEF\xBF\xBD\" for the invalid bytes, and the names keep them "
                                              "until they are edited"});
  result.list = parseDataText(data.bytes).list;
  if (result.list.empty() && !data.bytes.empty()) {
    result.dataFileWithoutRecords = true;
    result.problems.push_back({kDataFileName, "holds text but no record the editor can read; saving will not "
                                              "replace it unless you add records and confirm"});
  } else if (buildDataText(result.list) != data.bytes) {
    // Text the editor does not write back (notes, extra columns, CR LF): the first save keeps it.
    result.dataFileForeign = true;
    result.problems.push_back({kDataFileName, "holds text that the editor does not write back as it is (the lines "
                                              "below); the first save keeps the old text as " +
                                                  std::string(kDataFileName) + ".bak"});
    for (Problem& note : describeTextChanges(data.bytes)) result.problems.push_back(std::move(note));
  }
  return true;
}

// A record and the name of its file in "img/".
struct PictureJob {
  RecordRef record;
  std::string fileName;
  FileInfo info;
};

// The records whose names can name a file, in save order; the others are reported.
std::vector<PictureJob> pictureJobs(LoadResult& result) {
  std::vector<PictureJob> jobs;
  for (const RecordRef& r : recordsInSaveOrder(result.list)) {
    *r.savedName = *r.name;
    // A name read from the file can break the format only by starting with a byte-order mark.
    if (checkName(*r.name) == NameProblem::BreaksFormat)
      result.problems.push_back({describeRecord(result.list, r),
                                 "its name starts with an invisible byte-order mark, which the project cannot be "
                                 "saved with; rename it"});
    std::string fileName = imageFileName(*r.name, r.number);
    if (!isSafeImageFileName(fileName)) {
      result.problems.push_back({describeRecord(result.list, r),
                                 "its name cannot be used as an image file name; its image is not read"});
      continue;
    }
    jobs.push_back({r, std::move(fileName), {}});
  }
  return jobs;
}

// What stands under each record's name; the records keep their order.
void findPictureFiles(const ProjectFolder& folder, std::vector<PictureJob>& jobs, LoadResult& result) {
  // What stands under each record's name; the records keep their order. A picture file is read when
  // first needed, or by checkPictures. The folder's stamp first: while it stays, the names found hold.
  // The listing names every file, so that a save asks the disk only about names listed; a record
  // whose name is not there has no file and needs no look.
  result.imageFolderStamp = folder.stamp(kImageFolder, true);
  std::optional<std::unordered_set<std::string>> listed = folder.listFolder(kImageFolder);
  const bool noFolder = !listed && !folder.inspect(kImageFolder).exists;
  if (listed) result.imageFolderNames = std::move(*listed);
  else result.imageFolderStamp.reset();  // the names are not known: the first save lists again
  parallelFor(jobs.size(), [&](size_t i) {
    if (noFolder) return;
    if (!listed || result.imageFolderNames.count(jobs[i].fileName))
      jobs[i].info = folder.inspect(imagePath(jobs[i].fileName));
  });
  for (PictureJob& job : jobs) {
    if (!job.info.exists) continue;
    if (!job.info.regular) {
      result.unreadableImageFiles.insert(job.fileName);
      result.problems.push_back({imagePath(job.fileName), job.info.reason + "; the record has no picture and the file "
                                                                            "is kept as it is"});
      continue;
    }
    ImageRef picture = openImageFile(folder.resolve(imagePath(job.fileName)));
    result.knownImageFiles[job.fileName] = {picture, job.info.stamp};
    *job.record.image = std::move(picture);
  }
}

}  // namespace

LoadResult loadProject(const ProjectFolder& folder, PictureReading reading) {
  LoadResult result;
  if (!readDataFile(folder, result)) return result;
  std::vector<PictureJob> jobs = pictureJobs(result);
  findPictureFiles(folder, jobs, result);
  if (reading == PictureReading::Now)
    applyPictureChecks(checkPictures(picturesToCheck(result.knownImageFiles)), result.list, result.knownImageFiles,
                       result.unreadableImageFiles, result.problems);
  return result;
}


void adoptLoadedFiles(LoadResult& loaded, EditorState& state) {
  state.unreadableImageFiles = std::move(loaded.unreadableImageFiles);
  state.knownImageFiles = std::move(loaded.knownImageFiles);
  state.dataFileStamp = loaded.dataFileStamp;
  state.dataFileUnreadable = loaded.dataFileUnreadable;
  state.dataFileWithoutRecords = loaded.dataFileWithoutRecords;
  state.dataFileForeign = loaded.dataFileForeign;
  state.imageFolderNames = std::move(loaded.imageFolderNames);
  state.imageFolderStamp = loaded.imageFolderStamp;
}

EditorState stateAfterLoad(LoadResult& loaded) {
  EditorState state;
  adoptLoadedFiles(loaded, state);
  return state;
}

std::vector<PictureCheck> checkPictures(const std::vector<std::pair<std::string, ImageRef>>& files) {
  std::vector<PictureCheck> checks(files.size());
  parallelFor(files.size(), [&](size_t i) {
    checks[i] = {files[i].first, files[i].second->readProblem(), files[i].second->readLoss()};
  });
  std::erase_if(checks, [](const PictureCheck& c) { return c.problem.empty() && c.loss.empty(); });
  std::sort(checks.begin(), checks.end(), [](const PictureCheck& a, const PictureCheck& b) { return a.fileName < b.fileName; });
  return checks;
}

std::vector<std::pair<std::string, ImageRef>> picturesToCheck(
    const std::unordered_map<std::string, EditorState::DiskImage>& known) {
  std::vector<std::pair<std::string, ImageRef>> files;
  files.reserve(known.size());
  for (const auto& [name, disk] : known)
    if (disk.image) files.emplace_back(name, disk.image);
  return files;
}

std::vector<RecordAt> applyPictureChecks(const std::vector<PictureCheck>& checks, CharacterList& list,
                                         std::unordered_map<std::string, EditorState::DiskImage>& known,
                                         std::set<std::string>& unreadable, std::vector<Problem>& problems) {
  std::vector<RecordAt> cleared;
  if (checks.empty()) return cleared;
  std::unordered_map<std::string, const PictureCheck*> byName;
  for (const PictureCheck& c : checks) byName.emplace(c.fileName, &c);
  // A file that is no picture: the record that still shows it has none, and the file is never
  // replaced or deleted.
  forEachRecord(list, [&](auto& r, int64_t number, int64_t k, int64_t m) {
    auto found = byName.find(imageFileName(r.name, number));
    if (found == byName.end() || found->second->problem.empty()) return;
    auto disk = known.find(found->first);
    if (disk != known.end() && r.image == disk->second.image) r.image = nullptr, cleared.push_back({k, m});
  });
  for (const PictureCheck& c : checks) {
    if (c.problem.empty()) {
      problems.push_back({imagePath(c.fileName), c.loss});
      continue;
    }
    known.erase(c.fileName);
    unreadable.insert(c.fileName);
    problems.push_back({imagePath(c.fileName), c.problem + "; the record has no picture and the file is kept as it is"});
  }
  return cleared;
}

// "img" and "data.txt" that lead out of the project through a link: saves ask before they write there.
std::vector<Problem> linksOutside(const ProjectFolder& folder) {
  std::vector<Problem> problems;
  for (const char* name : {kImageFolder, kDataFileName})
    if (std::optional<std::filesystem::path> out = folder.leadsOutside(name))
      problems.push_back({name == kImageFolder ? std::string(kImageFolder) + "/" : std::string(kDataFileName),
                          "is a link that leads out of the project folder, to " + out->string() +
                              "; a save asks before it writes there"});
  return problems;
}

LoadResult openProject(const ProjectFolder& folder, bool tidy, PictureReading reading) {
  // The saving lock: a save of another window is not read half done, nor its files taken away.
  std::optional<SavingLock> lock;
  const bool journal = folder.inspect(kJournalFileName).exists;
  if (tidy || journal) lock.emplace(folder.anchored(""));
  RecoveryReport recovery;
  if (lock && lock->held()) recovery = recoverInterruptedSave(folder, tidy);
  LoadResult result = loadProject(folder, reading);
  result.interruptedSaveCompleted = recovery.completed;
  result.recoveryStopped = recovery.stopped;
  std::vector<Problem> first = std::move(recovery.problems);
  if (lock && !lock->held() && !lock->unusable().empty() && journal) {
    // Nobody can lock the project: a save of another window may be under way, so the journal waits.
    result.recoveryStopped = true;
    first.push_back({kJournalFileName, "an interrupted save was not finished, as the project cannot be locked (" +
                                           lock->unusable() + ")"});
  } else if (lock && !lock->held() && lock->unusable().empty()) {
    first.push_back({"", "another window was saving this project while it was opened; open it again to see the "
                         "saved state"});
  }
  for (Problem& p : linksOutside(folder)) first.push_back(std::move(p));
  for (Problem& p : findCleanUpLeftovers(folder)) first.push_back(std::move(p));
  result.problems.insert(result.problems.begin(), first.begin(), first.end());
  return result;
}

}  // namespace charstack
