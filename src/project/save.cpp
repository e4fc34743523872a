// Writing a project folder as one transaction, in four steps:
//   plan    decides, touching nothing, what each record's file must hold and which files are
//           replaced or removed, and whether each may be (file_rules.hpp): only files the editor read
//           as pictures or wrote itself, unchanged since;
//   stage   writes every new picture under its final name into a staging folder inside "img/" (a
//           picture the editor already holds in a file of "img/" is linked there, not encoded again,
//           so that a renumbering moves files instead of copying them) and the new "data.txt" under
//           a temporary name, and flushes them; a failure removes what was staged and leaves every
//           other file as it was;
//   commit  looks at every file to be replaced once more, then writes the journal of the renames and
//           removals (the commit point), carries it out and checks that every record's file is there;
//   settle  brings the editor's knowledge of the files up to date.
// Whatever happens after the commit point, the next open finishes the journal (see journal.cpp).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <thread>
#include <unordered_set>
#include <utility>

#include "model/names.hpp"
#include "platform/image.hpp"
#include "platform/parallel.hpp"
#include "platform/project_lock.hpp"
#include "project/file_rules.hpp"
#include "project/journal.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {

struct PlannedWrite {
  size_t record;
  std::string fileName;
  unsigned mode;         // that of the file it replaces, or a new file's
  std::string linkFrom;  // a file of "img/" that holds the picture already, as the editor last saw it
  bool staged = false;   // in the staging folder under fileName
  FileStamp stamp;       // what the staged file looks like (a rename keeps it)
  ContentCheck content;  // what it holds
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
  // Each record's file after the save and its size, checked once the journal is carried out.
  std::vector<std::pair<std::string, uint64_t>> expected;
  std::string staging;  // the staging folder inside "img/", once made
  bool writeData = false;
  bool backUp = false;
  std::filesystem::path dataTarget;  // where "data.txt" really is (a link's target)
  std::string dataRelative;  // where "data.txt" really is, relative to the folder (when inside it)
  std::string stagedData;    // relative to the folder, or absolute when "data.txt" leads outside
  FileStamp stagedDataStamp;
  ContentCheck dataContent;
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
  std::string why;
  const FileRule rule =
      fileRule({info, state.dataFileStamp, state.dataFileUnreadable ? "could not be read" : ""}, &why);
  if (state.dataFileUnreadable || rule == FileRule::Never) {
    report.problems.push_back({kDataFileName, "was not written: it " + (why.empty() ? "could not be read" : why) +
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
  if (std::optional<std::string> inside = dataFileTargetInside(folder)) {
    plan.dataRelative = *inside;
  } else if (!options.writeOutside) {
    report.outside.push_back(kDataFileName);
  }
  // A data file that appeared since the load (none then) counts as changed too.
  plan.replaced[kDataFileName] = state.dataFileStamp;
  if (!mayReplaceOrRemove(sinceSeen(folder.stamp(kDataFileName), state.dataFileStamp)) &&
      !options.replaceAnyway.count(kDataFileName))
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
  std::string unreadable;
  switch (fileRule(imageFileFacts(info, state, fileName), &unreadable)) {
    case FileRule::Free:
      plan.replaced[path] = std::nullopt;
      return newFileMode();
    case FileRule::Never:
      state.unreadableImageFiles.insert(fileName);
      report.problems.push_back({path, notWrittenText(unreadable)});
      return std::nullopt;
    case FileRule::Ours:
      break;
    case FileRule::Changed:
    case FileRule::Foreign:
      if (!options.replaceAnyway.count(path)) report.changedOnDisk.push_back(path);
      break;
  }
  plan.replaced[path] = info.stamp;
  return info.mode;
}

// Removes a file the new "data.txt" no longer refers to, when the editor knows it and it is unchanged.
// A file the editor never read, or that another program changed, stays (Clean Up lists it).
void planRemoval(const std::string& fileName, const EditorState& state, const ProjectFolder& folder,
                 SavePlan& plan) {
  if (!plan.planned.insert(fileName).second || !state.knownImageFiles.count(fileName)) return;
  const FileInfo info = folder.inspect(imagePath(fileName));
  if (fileRule(imageFileFacts(info, state, fileName)) == FileRule::Ours) plan.removals.push_back({fileName, info.stamp});
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
  if (!plan.mayBeThere(fileName)) return;
  const FileInfo info = folder.inspect(imagePath(fileName));
  const FileRule rule = fileRule(imageFileFacts(info, state, fileName));
  if (rule == FileRule::Free || rule == FileRule::Never) return;  // nothing there, or kept as it could not be read
  if (rule != FileRule::Ours && !options.replaceAnyway.count(imagePath(fileName)))
    report.changedOnDisk.push_back(imagePath(fileName));
  else if (plan.planned.insert(fileName).second)
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
  const std::unordered_set<std::string> newNames(plan.fileNames.begin(), plan.fileNames.end());
  auto isNewName = [&](const std::string& name) { return newNames.count(name) != 0; };
  // The files of "img/" that hold each picture, as the editor last read or wrote them.
  std::unordered_map<const Image*, std::string> heldIn;
  for (const auto& [name, disk] : state.knownImageFiles)
    if (disk.image && plan.mayBeThere(name)) heldIn.emplace(disk.image.get(), name);
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
      if (holdsIt) {
        plan.expected.emplace_back(fileName, known->second.stamp.size);
      } else if ((mode = mayReplace(fileName, state, folder, plan, options, report))) {
        auto held = heldIn.find(image.get());
        plan.writes.push_back({i, fileName, *mode, held == heldIn.end() ? std::string() : held->second, false, {}, {}});
      }
      pictured.insert(fileName);
    } else if ((*r.savedName && !renamed) || queued.count(fileName) || state.knownImageFiles.count(fileName)) {
      // A file the editor knows held another record's picture is never taken by a record without one.
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
  // A file the editor read or wrote for a record that now has another number or name has moved with
  // it: no copy stays behind under the old name.
  for (const auto& [name, disk] : state.knownImageFiles)
    if (!isNewName(name) && disk.image) planRemoval(name, state, folder, plan);
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
  if ((!plan.writes.empty() || !plan.removals.empty()) && !options.writeOutside)
    if (folder.leadsOutside(kImageFolder)) report.outside.push_back(std::string(kImageFolder) + "/");
  for (const std::string& path : report.outside)
    report.problems.push_back({path, "leads out of the project folder (to " +
                                         (folder.leadsOutside(path == kDataFileName ? kDataFileName : kImageFolder)
                                              .value_or(std::filesystem::path())
                                              .string()) +
                                         "); saving through it needs your confirmation"});
  for (const std::string& path : report.changedOnDisk) report.problems.push_back({path, kChangedText});
  return report.changedOnDisk.empty() && report.outside.empty();
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
  const std::string staging = std::string(kImageFolder) + "/" + plan.staging;
  for (const PlannedWrite& w : plan.writes)
    if (w.staged) ops.remove(folder.anchored(staging + "/" + w.fileName));
  if (!plan.staging.empty()) ::rmdir(folder.anchored(staging).c_str());
  if (!plan.stagedData.empty()) ops.remove(folder.anchored(plan.stagedData));
  if (!plan.backupFile.empty()) ops.remove(folder.anchored(plan.backupFile));
}

// Why a file could not be staged under its final name, for the user.
std::string stagingError(const Status& s) {
  if (s.code == EINVAL || s.code == ENAMETOOLONG || s.code == EILSEQ)
    return "could not be written: the project's file system does not accept this file name (" + s.error +
           "); rename the record";
  return "could not be written: " + s.error;
}

// Stages one picture: a second name for the file that holds it already, when that file is still as
// the editor saw it, else a fresh PNG. Returns the error; empty when staged.
std::string stagePicture(const ProjectFolder& folder, const std::string& staging, PlannedWrite& w, const Image& image,
                         const EditorState& state, bool many) {
  FileOps& ops = folder.ops();
  const std::filesystem::path path = folder.anchored(staging + "/" + w.fileName);
  if (!w.linkFrom.empty()) {
    auto known = state.knownImageFiles.find(w.linkFrom);
    if (ops.link(folder.anchored(imagePath(w.linkFrom)), path).ok()) {
      const std::optional<FileStamp> linked = ownStamp(path);
      std::optional<ContentCheck> content = linked ? contentCheckOfFile(path) : std::nullopt;
      if (linked && known != state.knownImageFiles.end() && *linked == known->second.stamp && content) {
        w.stamp = *linked, w.content = *content, w.staged = true;
        return {};
      }
      ops.remove(path);  // changed since: encoded afresh below
    }
  }
  const std::string unread = image.readProblem();
  if (!unread.empty()) return "was not written: the record's picture could not be read from its file (it " + unread + ")";
  std::optional<std::string> png = encodePng(image);
  if (!png) return "could not be encoded as PNG";
  Status s = ops.createFile(path, *png, w.mode, &w.stamp, !many);
  if (!s.ok()) return stagingError(s);
  w.content = contentCheckOf(*png);
  w.staged = true;
  return {};
}

// Problems of many files for one reason (a full or read-only disk) are told once, with a few names.
void reportStagingErrors(const SavePlan& plan, const std::vector<std::string>& errors, SaveReport& report) {
  std::map<std::string, std::vector<size_t>> byReason;
  for (size_t j = 0; j < errors.size(); ++j)
    if (!errors[j].empty()) byReason[errors[j]].push_back(j);
  for (size_t j = 0; j < errors.size(); ++j) {
    auto found = byReason.find(errors[j]);
    if (found == byReason.end() || found->second.front() != j) continue;
    const std::vector<size_t>& all = found->second;
    if (all.size() <= 3) {
      for (size_t k : all) report.problems.push_back({imagePath(plan.writes[k].fileName), errors[k]});
      continue;
    }
    std::string names;
    for (size_t k = 0; k < 3; ++k) names += imagePath(plan.writes[all[k]].fileName) + ", ";
    report.problems.push_back({std::string(kImageFolder) + "/", std::to_string(all.size()) + " files (" + names +
                                                                    "and " + std::to_string(all.size() - 3) +
                                                                    " more) " + errors[j]});
  }
}

// Writes every new picture into the staging folder and "data.txt" under a temporary name, flushed.
bool stage(const CharacterList& list, const EditorState& state, const ProjectFolder& folder, SavePlan& plan,
           const SaveOptions& options, SaveReport& report) {
  FileOps& ops = folder.ops();
  const size_t known = report.problems.size();  // problems of the plan that do not stop the save
  auto fine = [&] { return report.problems.size() == known; };
  // "img/" is made by every save, also one without pictures.
  if (Status s = folder.createFolder(kImageFolder); !s.ok() && !plan.writes.empty()) {
    report.problems.push_back({std::string(kImageFolder) + "/", "could not be created: " + s.error});
    return false;
  }
  const std::string staging = std::string(kImageFolder) + "/" + folder.temporaryName();
  if (!plan.writes.empty()) {
    if (Status s = ops.createFolder(folder.anchored(staging)); !s.ok()) {
      report.problems.push_back({std::string(kImageFolder) + "/", "could not be written into: " + s.error});
      return false;
    }
    plan.staging = staging.substr(std::string(kImageFolder).size() + 1);
  }
  // Encoding and writing are spread over the cores. Many files are made durable together, with one
  // flush of the file system, rather than one by one. Progress is told on the calling thread only.
  const bool many = plan.writes.size() > 1;
  std::vector<std::string> errors(plan.writes.size());
  std::atomic<size_t> done{0};
  const std::thread::id caller = std::this_thread::get_id();
  parallelFor(plan.writes.size(), [&](size_t j) {
    PlannedWrite& w = plan.writes[j];
    errors[j] = stagePicture(folder, staging, w, **plan.records[w.record].image, state, many);
    ++done;
    if (options.progress && std::this_thread::get_id() == caller) options.progress(done, plan.writes.size());
  });
  reportStagingErrors(plan, errors, report);

  if (fine() && plan.writeData) {
    const std::string text = buildDataText(list);
    const std::string parent = plan.dataRelative.empty() ? plan.dataTarget.parent_path().string()
                                                         : std::filesystem::path(plan.dataRelative).parent_path().string();
    const std::string staged = (parent.empty() ? "" : parent + "/") + folder.temporaryName();
    const std::filesystem::path at = plan.dataRelative.empty() ? std::filesystem::path(staged) : folder.anchored(staged);
    if (Status s = ops.createFile(at, text, modeFor(plan.dataTarget), &plan.stagedDataStamp); s.ok())
      plan.stagedData = staged, plan.dataContent = contentCheckOf(text);
    else
      report.problems.push_back({kDataFileName, "could not be written: " + s.error});
  }
  if (fine() && plan.backUp) backUpDataFile(folder, plan, report);
  // The staged files and their names are durable before the journal names them.
  if (fine() && !plan.writes.empty()) {
    Status s = many ? ops.syncFileSystem(folder.anchored(staging)) : ops.syncFolder(folder.anchored(staging));
    if (s.ok()) s = ops.syncFolder(folder.anchored(kImageFolder));
    if (!s.ok()) report.problems.push_back({std::string(kImageFolder) + "/", "could not be synced: " + s.error});
  }
  if (fine() && plan.writeData)
    if (Status s = ops.syncFolder(plan.dataTarget.parent_path()); !s.ok())
      report.problems.push_back({kDataFileName, "could not be synced: " + s.error});
  if (fine()) return true;
  discard(folder, plan);
  return false;
}

// After the journal: every record's file is there with the size the save gave it, and so is
// "data.txt"; anything else is the failure it is, never "Saved".
void checkResult(const ProjectFolder& folder, const SavePlan& plan, SaveReport& report) {
  std::vector<std::string> wrong;
  for (const auto& [fileName, size] : plan.expected) {
    const std::optional<FileStamp> now = folder.stamp(imagePath(fileName));
    if (!now || now->size != size) wrong.push_back(imagePath(fileName));
  }
  for (const PlannedWrite& w : plan.writes) {
    const std::optional<FileStamp> now = folder.stamp(imagePath(w.fileName));
    if (!now || now->size != w.content.size) wrong.push_back(imagePath(w.fileName));
  }
  for (const std::string& path : wrong)
    report.problems.push_back({path, "is not what the save wrote there: it is missing or another program changed it"});
  if (plan.writeData && !plan.stagedData.empty()) {
    const std::optional<FileStamp> now = folder.stamp(kDataFileName);
    if (!now || now->size != plan.dataContent.size)
      report.problems.push_back({kDataFileName, "is not what the save wrote there: it is missing or another program "
                                                "changed it"});
  }
}

// Looks at every file to be replaced once more, then commits and carries out the renames and
// removals. False when nothing was changed.
bool commit(const ProjectFolder& folder, SavePlan& plan, const SaveOptions& options, SaveReport& report,
            JournalOutcome& outcome) {
  // What each file looks like now goes into the journal: a change after this moment is another
  // program's, and is kept.
  for (auto& [path, expected] : plan.replaced) {
    const std::optional<FileStamp> now = folder.stamp(path);
    if (mayReplaceOrRemove(sinceSeen(now, expected))) continue;
    if (options.replaceAnyway.count(path)) expected = now;
    else report.changedOnDisk.push_back(path);
  }
  const size_t known = report.problems.size();
  if (folder.whereabouts().moved) report.problems.push_back({"", "the project folder was moved while it was saved"});
  for (const std::string& path : report.changedOnDisk) report.problems.push_back({path, kChangedText});
  if (report.problems.size() != known) return false;

  Journal journal;
  struct stat self;
  if (::stat(folder.anchored("").c_str(), &self) == 0)
    journal.folderDevice = static_cast<uint64_t>(self.st_dev), journal.folderInode = static_cast<uint64_t>(self.st_ino);
  journal.staging = plan.staging;
  for (const PlannedWrite& w : plan.writes) {
    auto was = plan.replaced.find(imagePath(w.fileName));
    journal.puts.push_back({w.fileName, w.content, was == plan.replaced.end() ? std::nullopt : was->second});
  }
  journal.stagedData = plan.stagedData;
  journal.dataContent = plan.dataContent;
  if (auto was = plan.replaced.find(kDataFileName); was != plan.replaced.end()) journal.dataWas = was->second;
  journal.removals = plan.removals;
  if (journal.puts.empty() && journal.removals.empty() && plan.dataRelative == kDataFileName) {
    // A single rename is atomic by itself.
    if (!plan.stagedData.empty()) {
      if (Status s = folder.ops().rename(folder.anchored(plan.stagedData), folder.anchored(kDataFileName)); !s.ok()) {
        report.problems.push_back({kDataFileName, "could not be replaced: " + s.error});
        return false;
      }
      folder.ops().syncFolder(folder.anchored(""));
    }
    outcome.done = true;
    return true;
  }
  if (!writeJournal(folder, journal, report.problems)) return false;
  outcome = applyJournal(folder, journal, report.problems, options.writeOutside);
  if (!outcome.done) report.unfinished = true;
  return true;
}

// The editor's knowledge after a committed save: which files hold which pictures, the records' saved
// names, the folder's names.
void settle(EditorState& state, const ProjectFolder& folder, SavePlan& plan, const JournalOutcome& outcome,
            SaveReport& report) {
  std::unordered_set<std::string> keptBeside;
  for (const auto& [file, beside] : outcome.keptBeside) keptBeside.insert(file);
  for (const PlannedWrite& w : plan.writes) {
    if (keptBeside.count(imagePath(w.fileName))) {
      state.knownImageFiles.erase(w.fileName);  // another program's file: the next save asks
    } else {
      state.knownImageFiles[w.fileName] = {*plan.records[w.record].image, w.stamp};
    }
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
    state.dataFileStamp = keptBeside.count(plan.dataRelative) ? folder.stamp(kDataFileName) : plan.stagedDataStamp;
    state.dataFileWithoutRecords = state.dataFileForeign = false;
  }
  report.backupFile = plan.backupFile;
  state.imageFolderNames = std::move(plan.present);
  if (plan.presentListed && outcome.keptBeside.empty()) state.imageFolderStamp = folder.stamp(kImageFolder, true);
}

}  // namespace

SaveReport saveProject(CharacterList& list, EditorState& state, const ProjectFolder& folder,
                       const SaveOptions& options) {
  SaveReport report;
  report.refused = true;
  // One save at a time, and none while another window finishes one. A project that cannot be locked
  // at all is saved only when the user chose to work on it so.
  SavingLock lock(folder.anchored(""));
  if (!lock.held() && (lock.unusable().empty() || !options.withoutLock)) {
    report.problems.push_back({"", lock.unusable().empty() ? "another window is saving this project; try again in a moment"
                                                          : "the project cannot be locked: " + lock.unusable()});
    return report;
  }
  // A save that could not finish is finished first: its journal must not be written over.
  if (folder.inspect(kJournalFileName).exists) {
    RecoveryReport recovered = recoverInterruptedSave(folder, lock.held());
    if (!recovered.completed) {
      report.problems = std::move(recovered.problems);
      return report;
    }
  }
  SavePlan saving;
  if (!plan(list, state, folder, options, saving, report) || !stage(list, state, folder, saving, options, report)) {
    state.imageFolderNames = std::move(saving.present);
    return report;
  }
  JournalOutcome outcome;
  if (!commit(folder, saving, options, report, outcome)) {
    discard(folder, saving);
    return report;
  }
  report.refused = false;
  settle(state, folder, saving, outcome, report);
  if (report.unfinished) {
    report.problems.push_back({"", outcome.stopped ? "the save could not be finished, and the files above are not as "
                                                     "it left them; the project is left as it is"
                                                   : "the save could not be finished; the next time the project is "
                                                     "opened, it is"});
  } else {
    checkResult(folder, saving, report);
  }
  return report;
}

}  // namespace charstack
