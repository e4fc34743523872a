// Writing a project folder as one transaction, in four steps:
//   plan    decides, touching nothing, what each record's file must hold and which files are
//           replaced or removed, and whether each may be: only files the editor read as pictures or
//           wrote itself, unchanged since;
//   stage   writes every new picture and the new "data.txt" under temporary names and flushes them;
//           a failure removes what was staged and leaves every other file as it was;
//   commit  looks at every file to be replaced once more, then writes the journal of the renames and
//           removals (the commit point) and carries it out;
//   settle  brings the editor's knowledge of the files up to date.
// Whatever happens after the commit point, the next open finishes the journal (see journal.cpp).
#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <unordered_set>
#include <utility>

#include "model/names.hpp"
#include "platform/image.hpp"
#include "platform/parallel.hpp"
#include "platform/project_lock.hpp"
#include "project/journal.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {

struct PlannedWrite {
  size_t record;
  std::string fileName;
  unsigned mode;       // that of the file it replaces, or a new file's
  std::string staged;  // the temporary file inside "img/", once written
  FileStamp stamp;     // what the staged file looks like (a rename keeps it)
};

struct SavePlan {
  std::vector<RecordRef> records;
  std::vector<std::string> fileNames;  // each record's image file name
  std::vector<PlannedWrite> writes;
  std::vector<Journal::Removal> removals;
  // Every file the save replaces ("img/Hero1", "data.txt") and what it looks like now (none: absent).
  std::map<std::string, std::optional<FileStamp>> replaced;
  // The names in "img/", as listed (or kept from the last save while the folder looked the same):
  // enough to know that a record's file still holds its picture. A folder's time stamp may not
  // change for changes close together, so whatever the save replaces or removes is looked at itself.
  std::unordered_set<std::string> present;
  bool presentListed = false;  // present holds every name in "img/" (else a file may be there unlisted)
  std::unordered_set<std::string> planned;  // files whose removal was decided (or refused) already
  bool writeData = false;
  bool backUp = false;
  std::filesystem::path dataTarget;  // where "data.txt" really is (a link's target)
  std::string stagedData;
  FileStamp stagedDataStamp;
  std::string backupFile;

  // Whether a file may be in "img/" under the name: asked of the disk only when the listing cannot say.
  bool mayBeThere(const std::string& fileName) const { return !presentListed || present.count(fileName) != 0; }
};

constexpr const char* kChangedText =
    "was not replaced: another program changed it, or put it there, since the editor last read or wrote it";

std::string notWrittenText(const std::string& reason) {
  return "was not written: the file there " + reason +
         ", and the editor does not replace what it could not read; move that file away or rename the record, "
         "then save again";
}

// Checks that must pass before anything else: names the format can hold, one file per record.
bool checkNames(const CharacterList& list, const SavePlan& plan, SaveReport& report) {
  const std::vector<RecordRef>& records = plan.records;
  const std::vector<std::string>& fileNames = plan.fileNames;
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

// Whether "data.txt" is written, kept as a backup first, or the save must stop.
bool planDataFile(const CharacterList& list, const EditorState& state, const ProjectFolder& folder,
                  SavePlan& plan, const SaveOptions& options, SaveReport& report) {
  const FileInfo info = folder.inspect(kDataFileName);
  if (state.dataFileUnreadable || (info.exists && !info.regular)) {
    report.problems.push_back({kDataFileName, "was not written: it " +
                                                  (info.exists && !info.regular ? info.reason : "could not be read") +
                                                  ", and the editor does not replace what it could not read; "
                                                  "nothing was saved"});
    return false;
  }
  plan.writeData = info.exists || !list.empty();  // an empty project without a data file stays without
  if (state.dataFileWithoutRecords && info.exists) {
    if (list.empty()) {
      plan.writeData = false;  // it stays as it is: there is nothing to put in its place
    } else if (!options.replaceDataFileWithoutRecords) {
      report.problems.push_back({kDataFileName, "holds text but no record the editor can read; replacing it "
                                                "needs your confirmation (its old text is kept beside it)"});
      report.needsConfirmation = true;
      return false;
    } else {
      plan.backUp = true;
    }
  }
  if (state.dataFileForeign && info.exists && plan.writeData) plan.backUp = true;
  if (!plan.writeData) return true;
  plan.dataTarget = dataFileTarget(folder);
  // A data file that appeared since the load (none then) counts as changed too.
  plan.replaced[kDataFileName] = state.dataFileStamp;
  if (!(folder.stamp(kDataFileName) == state.dataFileStamp) && !options.replaceAnyway.count(kDataFileName))
    report.changedOnDisk.push_back(kDataFileName);
  return true;
}

// What the save may do with a file of "img/" it wants to replace: nothing stands there, or the file
// the editor knows (its stamp goes into plan.replaced, its mode into mode); none, with a problem, when
// the file is one the editor could not read. Anything else is asked about (report.changedOnDisk).
std::optional<unsigned> mayReplace(const std::string& fileName, EditorState& state, const ProjectFolder& folder,
                                   SavePlan& plan, const SaveOptions& options, SaveReport& report) {
  const std::string path = imagePath(fileName);
  const FileInfo info = folder.inspect(path);
  if (!info.exists) {
    plan.replaced[path] = std::nullopt;
    return newFileMode();
  }
  auto known = state.knownImageFiles.find(fileName);
  std::string unreadable = state.unreadableImageFiles.count(fileName) ? "could not be read as a picture" : "";
  if (!info.regular) unreadable = info.reason;
  // A file opened but not read yet is read now: one that is no picture is never replaced.
  if (unreadable.empty() && known != state.knownImageFiles.end() && known->second.image)
    unreadable = known->second.image->readProblem();
  if (!unreadable.empty()) {
    state.unreadableImageFiles.insert(fileName);
    report.problems.push_back({path, notWrittenText(unreadable)});
    return std::nullopt;
  }
  plan.replaced[path] = info.stamp;
  if ((known == state.knownImageFiles.end() || !(info.stamp == known->second.stamp)) &&
      !options.replaceAnyway.count(path))
    report.changedOnDisk.push_back(path);
  return info.mode;
}

// Removes a file the new "data.txt" no longer refers to, when the editor knows it and it is unchanged.
// A file the editor never read, or that another program changed, stays (Clean Up lists it).
void planRemoval(const std::string& fileName, const EditorState& state, const ProjectFolder& folder,
                 SavePlan& plan) {
  if (!plan.planned.insert(fileName).second) return;
  auto known = state.knownImageFiles.find(fileName);
  if (known == state.knownImageFiles.end()) return;
  if (known->second.image && !known->second.image->readProblem().empty()) return;  // no picture: kept
  std::optional<FileStamp> now = folder.stamp(imagePath(fileName));
  if (now && *now == known->second.stamp) plan.removals.push_back({fileName, *now});
}

// The names in "img/": those the last save left while the folder looks as it did, else a listing.
// True when the folder looks as the last save left it.
bool listImageFolder(EditorState& state, const ProjectFolder& folder, SavePlan& plan) {
  const std::optional<FileStamp> folderStamp = folder.stamp(kImageFolder, true);
  const bool asLeft = folderStamp && state.imageFolderStamp == folderStamp;
  if (asLeft) {
    plan.present = std::move(state.imageFolderNames);
    plan.presentListed = true;
  } else if (auto names = folder.listFolder(kImageFolder)) {
    plan.present = std::move(*names);
    plan.presentListed = true;
  } else {
    plan.presentListed = !folder.inspect(kImageFolder).exists;  // no folder: no files
  }
  state.imageFolderStamp.reset();
  return asLeft;
}

// A record without a picture has no file: its own old one (or a removed record's) goes, and one
// another program put there goes only when the user says so, as the next load would make it the
// record's picture.
void planNoPicture(const std::string& fileName, const EditorState& state, const ProjectFolder& folder,
                   const SaveOptions& options, SavePlan& plan, SaveReport& report) {
  auto known = state.knownImageFiles.find(fileName);
  const bool noPicture = known != state.knownImageFiles.end() && known->second.image &&
                         !known->second.image->readProblem().empty();  // kept, as it could not be read
  if (state.unreadableImageFiles.count(fileName) || noPicture || !plan.mayBeThere(fileName)) return;
  const FileInfo info = folder.inspect(imagePath(fileName));
  const bool ours = known != state.knownImageFiles.end() && info.stamp == known->second.stamp;
  if (info.regular && !ours && !options.replaceAnyway.count(imagePath(fileName)))
    report.changedOnDisk.push_back(imagePath(fileName));
  else if (info.regular && plan.planned.insert(fileName).second)
    plan.removals.push_back({fileName, info.stamp});
}

// A file under a name the record has just taken stays: it is the record's picture, as the next load
// would make it, and the editor shows it from now on.
void takeFileUnderNewName(const RecordRef& r, const std::string& fileName, EditorState& state,
                          const ProjectFolder& folder, const SavePlan& plan, SaveReport& report) {
  if (!plan.mayBeThere(fileName) || !folder.inspect(imagePath(fileName)).exists) return;
  FileRead file = folder.read(imagePath(fileName));
  DecodedImage decoded = file.read() ? decodeImage(std::move(file.bytes)) : DecodedImage{};
  if (decoded.image) {
    *r.image = decoded.image;
    state.knownImageFiles[fileName] = {decoded.image, file.stamp};
    report.picturesTaken.push_back(imagePath(fileName));
  } else if (file.outcome != FileRead::Outcome::Missing) {
    state.unreadableImageFiles.insert(fileName);
  }
}

// What each record's file must hold, and which files go: those of renamed and removed records.
bool planRecords(CharacterList& list, EditorState& state, const ProjectFolder& folder, const SaveOptions& options,
                 SavePlan& plan, SaveReport& report) {
  plan.records = recordsInSaveOrder(list);
  plan.fileNames.resize(plan.records.size());
  for (size_t i = 0; i < plan.records.size(); ++i)
    plan.fileNames[i] = imageFileName(*plan.records[i].name, plan.records[i].number);
  if (!checkNames(list, plan, report)) return false;
  std::unordered_set<std::string> pictured;  // files that hold records' pictures after this save
  const std::unordered_set<std::string> queued(state.pendingImageDeletions.begin(), state.pendingImageDeletions.end());
  std::optional<std::unordered_set<std::string>> newNames;  // every record's file name, made when needed
  auto isNewName = [&](const std::string& name) {
    if (!newNames) newNames.emplace(plan.fileNames.begin(), plan.fileNames.end());
    return newNames->count(name) != 0;
  };
  for (size_t i = 0; i < plan.records.size(); ++i) {
    const RecordRef& r = plan.records[i];
    const std::string& fileName = plan.fileNames[i];
    if (!isSafeImageFileName(fileName)) {
      report.problems.push_back(
          {describeRecord(list, r), "its image was not saved: the name cannot be used as an image file name"});
      continue;
    }
    const bool renamed = *r.savedName && **r.savedName != *r.name;
    if (const ImageRef& image = *r.image) {
      auto known = state.knownImageFiles.find(fileName);
      const bool holdsIt = known != state.knownImageFiles.end() && known->second.image == image &&
                           plan.present.count(fileName);
      std::optional<unsigned> mode;
      if (!holdsIt && (mode = mayReplace(fileName, state, folder, plan, options, report)))
        plan.writes.push_back({i, fileName, *mode, {}, {}});
      pictured.insert(fileName);
    } else if ((*r.savedName && !renamed) || queued.count(fileName)) {
      planNoPicture(fileName, state, folder, options, plan, report);
    } else {
      takeFileUnderNewName(r, fileName, state, folder, plan, report);
    }
    if (renamed) {
      std::string old = imageFileName(**r.savedName, r.number);
      if (!isNewName(old)) planRemoval(old, state, folder, plan);
    }
  }
  for (const std::string& name : state.pendingImageDeletions) {
    if (!isSafeImageFileName(name))
      report.problems.push_back({imagePath(name), "was not deleted: the name is not a plain file name"});
    else if (!pictured.count(name))
      planRemoval(name, state, folder, plan);
  }
  return true;
}

// Decides everything, touching no file. False when the save must not go on (report says why).
bool plan(CharacterList& list, EditorState& state, const ProjectFolder& folder, const SaveOptions& options,
          SavePlan& plan, SaveReport& report) {
  if (FolderWhereabouts where = folder.whereabouts(); where.moved) {
    report.folderMoved = true;
    report.folderNow = where.now;
    report.problems.push_back({"", where.now.empty() ? "the project folder was deleted since it was opened; nothing "
                                                       "was saved"
                                                     : "the project folder was moved to " + where.now.string() +
                                                           " since it was opened; nothing was saved"});
    return false;
  }
  if (!planDataFile(list, state, folder, plan, options, report)) return false;
  const bool folderAsLeft = listImageFolder(state, folder, plan);
  // The records as the last save left them, their files as it left them: only "data.txt" is written.
  const bool onlyDataFile =
      options.modelUnchanged && folderAsLeft && state.pendingImageDeletions.empty() && !plan.backUp;
  if (!onlyDataFile && !planRecords(list, state, folder, options, plan, report)) return false;
  for (const std::string& path : report.changedOnDisk) report.problems.push_back({path, kChangedText});
  return report.changedOnDisk.empty();
}

// Keeps the text of the "data.txt" about to be replaced under a new name beside it: "data.txt.bak",
// or "data.txt.bak2" and on when that is taken.
bool backUpDataFile(const ProjectFolder& folder, SavePlan& plan, SaveReport& report) {
  FileRead old = folder.read(kDataFileName);
  if (!old.read()) {
    report.problems.push_back({kDataFileName, "was not replaced: it " + (old.reason.empty() ? "is gone" : old.reason)});
    return false;
  }
  for (int n = 1; n < 1000; ++n) {
    std::string name = std::string(kDataFileName) + ".bak" + (n == 1 ? "" : std::to_string(n));
    Status s = folder.writeNewFile(name, old.bytes);
    if (s.ok()) return plan.backupFile = name, true;
    if (folder.inspect(name).exists) continue;  // taken: try the next name
    report.problems.push_back({name, "could not be written: " + s.error + "; " + kDataFileName + " was not replaced"});
    return false;
  }
  report.problems.push_back({kDataFileName, "was not replaced: no free name for a copy of its old text"});
  return false;
}

// Removes every staged file (and a backup made for this save).
void discard(const ProjectFolder& folder, const SavePlan& plan) {
  FileOps& ops = folder.ops();
  for (const PlannedWrite& w : plan.writes)
    if (!w.staged.empty()) ops.remove(folder.resolve(imagePath(w.staged)));
  if (!plan.stagedData.empty()) ops.remove(plan.stagedData);
  if (!plan.backupFile.empty()) ops.remove(folder.resolve(plan.backupFile));
}

// Writes every new picture and "data.txt" under temporary names, flushed to the disk.
bool stage(const CharacterList& list, const ProjectFolder& folder, SavePlan& plan, const SaveOptions& options,
           SaveReport& report) {
  FileOps& ops = folder.ops();
  const size_t known = report.problems.size();  // problems of the plan that do not stop the save
  auto fine = [&] { return report.problems.size() == known; };
  if (!plan.writes.empty()) {
    if (Status s = folder.createFolder(kImageFolder); !s.ok()) {
      report.problems.push_back({std::string(kImageFolder) + "/", "could not be created: " + s.error});
      return false;
    }
  }
  // Encoding and writing are spread over the cores. Many files are made durable together, with one
  // flush of the file system, rather than one by one. Progress is told on the calling thread only.
  const bool many = plan.writes.size() > 1;
  std::vector<std::string> errors(plan.writes.size());
  std::atomic<size_t> done{0};
  const std::thread::id caller = std::this_thread::get_id();
  parallelFor(
      plan.writes.size(),
      [&](size_t j) {
        PlannedWrite& w = plan.writes[j];
        const ImageRef& image = *plan.records[w.record].image;
        const std::string unread = image->readProblem();
        std::optional<std::string> png = unread.empty() ? encodePng(*image) : std::nullopt;
        if (!unread.empty()) {
          errors[j] = "was not written: the record's picture could not be read from its file (it " + unread + ")";
        } else if (!png) {
          errors[j] = "could not be encoded as PNG";
        } else {
          const std::string staged = temporaryFileName();
          Status s = ops.createFile(folder.resolve(imagePath(staged)), *png, w.mode, &w.stamp, !many);
          if (s.ok()) w.staged = staged;
          else errors[j] = "could not be written: " + s.error;
        }
        ++done;
        if (options.progress && std::this_thread::get_id() == caller) options.progress(done, plan.writes.size());
      });
  for (size_t j = 0; j < errors.size(); ++j)
    if (!errors[j].empty()) report.problems.push_back({imagePath(plan.writes[j].fileName), errors[j]});

  if (fine() && plan.writeData) {
    const std::string staged = (plan.dataTarget.parent_path() / temporaryFileName()).string();
    if (Status s = ops.createFile(staged, buildDataText(list), modeFor(plan.dataTarget), &plan.stagedDataStamp); s.ok())
      plan.stagedData = staged;
    else
      report.problems.push_back({kDataFileName, "could not be written: " + s.error});
  }
  if (fine() && plan.backUp) backUpDataFile(folder, plan, report);
  // The staged files and their names are durable before the journal names them.
  if (fine() && !plan.writes.empty())
    if (Status s = many ? ops.syncFileSystem(folder.resolve(kImageFolder)) : folder.syncFolder(kImageFolder); !s.ok())
      report.problems.push_back({std::string(kImageFolder) + "/", "could not be synced: " + s.error});
  if (fine() && plan.writeData)
    if (Status s = ops.syncFolder(plan.dataTarget.parent_path()); !s.ok())
      report.problems.push_back({kDataFileName, "could not be synced: " + s.error});
  if (fine()) return true;
  discard(folder, plan);
  return false;
}

// Looks at every file to be replaced once more, then commits and carries out the renames and
// removals. False when nothing was changed.
bool commit(const ProjectFolder& folder, SavePlan& plan, const SaveOptions& options, SaveReport& report) {
  for (const auto& [path, expected] : plan.replaced) {
    const std::optional<FileStamp> now = folder.stamp(path);
    if (!(now == expected) && !options.replaceAnyway.count(path)) report.changedOnDisk.push_back(path);
  }
  const size_t known = report.problems.size();
  if (folder.whereabouts().moved) report.problems.push_back({"", "the project folder was moved while it was saved"});
  for (const std::string& path : report.changedOnDisk) report.problems.push_back({path, kChangedText});
  if (report.problems.size() != known) return false;

  Journal journal;
  for (const PlannedWrite& w : plan.writes) journal.renames.push_back({w.staged, w.fileName});
  journal.stagedData = plan.stagedData;
  journal.removals = plan.removals;
  if (journal.renames.empty() && journal.removals.empty()) {
    // A single rename is atomic by itself.
    if (!plan.stagedData.empty()) {
      if (Status s = folder.ops().rename(plan.stagedData, plan.dataTarget); !s.ok()) {
        report.problems.push_back({kDataFileName, "could not be replaced: " + s.error});
        return false;
      }
      folder.ops().syncFolder(plan.dataTarget.parent_path());
    }
    return true;
  }
  if (!writeJournal(folder, journal, report.problems)) return false;
  if (!applyJournal(folder, journal, report.problems)) report.unfinished = true;
  return true;
}

// The editor's knowledge after a committed save: which files hold which pictures, the records' saved
// names, the folder's names.
void settle(EditorState& state, const ProjectFolder& folder, SavePlan& plan, SaveReport& report) {
  for (const PlannedWrite& w : plan.writes) {
    state.knownImageFiles[w.fileName] = {*plan.records[w.record].image, w.stamp};
    plan.present.insert(w.fileName);
  }
  for (const Journal::Removal& r : plan.removals) {
    state.knownImageFiles.erase(r.fileName);
    plan.present.erase(r.fileName);
  }
  for (const RecordRef& r : plan.records) *r.savedName = *r.name;
  state.pendingImageDeletions = {};
  if (plan.writeData) {
    report.dataFileWritten = true;
    state.dataFileStamp = plan.stagedDataStamp;
    state.dataFileWithoutRecords = state.dataFileForeign = false;
  }
  report.backupFile = plan.backupFile;
  state.imageFolderNames = std::move(plan.present);
  if (plan.presentListed) state.imageFolderStamp = folder.stamp(kImageFolder, true);
}

}  // namespace

SaveReport saveProject(CharacterList& list, EditorState& state, const ProjectFolder& folder,
                       const SaveOptions& options) {
  SaveReport report;
  report.refused = true;
  // One save at a time, and none while another window finishes one.
  SavingLock lock(folder.path());
  if (!lock.held()) {
    report.problems.push_back({"", "another window is saving this project; try again in a moment"});
    return report;
  }
  // A save that could not finish is finished first: its journal must not be written over.
  if (folder.inspect(kJournalFileName).exists) {
    RecoveryReport recovered = recoverInterruptedSave(folder);
    if (!recovered.completed) {
      report.problems = std::move(recovered.problems);
      return report;
    }
  }
  SavePlan saving;
  if (!plan(list, state, folder, options, saving, report) || !stage(list, folder, saving, options, report)) {
    state.imageFolderNames = std::move(saving.present);
    return report;
  }
  if (!commit(folder, saving, options, report)) {
    discard(folder, saving);
    return report;
  }
  report.refused = false;
  settle(state, folder, saving, report);
  if (report.unfinished)
    report.problems.push_back({"", "the save could not be finished; the next time the project is opened, it is"});
  return report;
}

}  // namespace charstack
