// Writing a project folder: pending deletions first, then each record's image in save order, then
// "data.txt", and last the files that "data.txt" no longer refers to. Every file is replaced
// atomically, and every failure is reported.
#include <map>
#include <optional>

#include "model/names.hpp"
#include "platform/image.hpp"
#include "platform/parallel.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {


// Checks that must pass before any file is touched.
bool checkBeforeSaving(CharacterList& list, const std::vector<RecordRef>& records, SaveReport& report) {
  bool ok = true;
  for (const RecordRef& r : records) {
    NameProblem problem = checkName(*r.name);
    if (problem == NameProblem::BreaksFormat) {
      report.problems.push_back(
          {describeRecord(list, r), "cannot be saved: " + describeNameProblem(problem) + "; rename it"});
      ok = false;
    }
  }
  std::map<std::string, const RecordRef*> owners;
  for (const RecordRef& r : records) {
    std::string fileName = imageFileName(*r.name, r.number);
    auto [it, inserted] = owners.emplace(fileName, &r);
    if (!inserted) {
      report.problems.push_back({imagePath(fileName), describeRecord(list, *it->second) + " and " +
                                                          describeRecord(list, r) +
                                                          " would share this image file; rename one of them"});
      ok = false;
    }
  }
  return ok;
}

}  // namespace

SaveReport saveProject(CharacterList& list, EditorState& state, const ProjectFolder& folder) {
  SaveReport report;
  std::vector<RecordRef> records = recordsInSaveOrder(list);
  if (!checkBeforeSaving(list, records, report)) {
    report.refused = true;
    return report;
  }

  if (Status s = folder.createFolder(kImageFolder); !s.ok())
    report.problems.push_back({std::string(kImageFolder) + "/", "could not be created: " + s.error});

  for (const std::string& name : state.pendingImageDeletions) {
    if (!isSafeImageFileName(name)) {
      report.problems.push_back({imagePath(name), "was not deleted: the name is not a plain file name"});
    } else if (state.unreadableImageFiles.count(name)) {
      report.problems.push_back(
          {imagePath(name), "was kept: the editor could not read it as an image, so it does not delete it"});
    } else if (Status s = folder.removeFile(imagePath(name)); !s.ok()) {
      report.problems.push_back({imagePath(name), "could not be deleted: " + s.error});
    }
  }
  state.pendingImageDeletions = {};

  if (list.empty()) {
    // An empty project has no lines. When a data file is there, it is emptied, so that the
    // characters removed in the editor do not come back at the next start.
    if (!state.dataFileUnreadable && folder.fileExists(kDataFileName)) {
      if (Status s = folder.writeFileAtomically(kDataFileName, ""); s.ok())
        report.dataFileWritten = true;
      else
        report.problems.push_back({kDataFileName, "could not be written: " + s.error});
    }
    return report;
  }

  // Encode every image first, on all cores.
  std::vector<std::optional<std::string>> encoded(records.size());
  parallelFor(records.size(), [&](size_t i) {
    const RecordRef& r = records[i];
    if (*r.image && isSafeImageFileName(imageFileName(*r.name, r.number))) encoded[i] = encodePng(**r.image);
  });

  // Files this save writes; an old file of another record is never removed when one of them has its name.
  std::set<std::string> written;
  for (size_t i = 0; i < records.size(); ++i)
    if (encoded[i]) written.insert(imageFileName(*records[i].name, records[i].number));

  auto removeIfAllowed = [&](const std::string& fileName) {
    if (!isSafeImageFileName(fileName) || written.count(fileName) || state.unreadableImageFiles.count(fileName))
      return;
    if (Status s = folder.removeFile(imagePath(fileName)); !s.ok())
      report.problems.push_back({imagePath(fileName), "could not be deleted: " + s.error});
  };

  // The files are then put in place one by one in save order. Their temporary files are written and
  // fsynced a few files ahead on several threads: a file's fsync waits for the disk, not for a core.
  std::vector<ProjectFolder::PreparedWrite> prepared(records.size());
  auto prepare = [&](size_t i) {
    if (!encoded[i]) return;
    prepared[i] = folder.prepareWrite(imagePath(imageFileName(*records[i].name, records[i].number)), *encoded[i]);
    encoded[i]->clear();
    encoded[i]->shrink_to_fit();
  };
  bool committed = false;
  std::vector<std::string> stale;  // files to remove once "data.txt" no longer refers to them
  std::vector<size_t> renamed;     // records whose savedName changes then
  auto put = [&](size_t i) {
    const RecordRef& r = records[i];
    std::string fileName = imageFileName(*r.name, r.number);
    if (!isSafeImageFileName(fileName)) {
      report.problems.push_back({describeRecord(list, r), "its image was not saved: the name cannot be used as "
                                                          "an image file name"});
      return;
    }
    std::optional<std::string> oldFile;
    if (*r.savedName) oldFile = imageFileName(**r.savedName, r.number);

    if (*r.image) {
      if (!encoded[i]) {
        report.problems.push_back({imagePath(fileName), "could not be encoded as PNG; the old file is kept"});
        return;
      }
      if (Status s = folder.commitWrite(prepared[i]); !s.ok()) {
        report.problems.push_back({imagePath(fileName), "could not be written: " + s.error});
        return;
      }
      committed = true;
      state.unreadableImageFiles.erase(fileName);  // replaced by the record's own picture
    } else {
      // A record without a picture has no file: a stale one under its name would be taken as its
      // image at the next start.
      stale.push_back(fileName);
    }
    if (oldFile && *oldFile != fileName) {
      // The file under the old name is still what the "data.txt" on disk refers to: it goes, and the
      // record takes its new name, only once the new "data.txt" is written.
      stale.push_back(*oldFile);
      renamed.push_back(i);
      return;
    }
    *r.savedName = *r.name;
  };
  constexpr size_t kWriteThreads = 4, kWriteAhead = 4;
  orderedPipeline(records.size(), kWriteThreads, kWriteAhead, prepare, put);

  // One fsync of "img/" makes all the renames durable, before "data.txt" refers to the files.
  if (committed) {
    const std::string imageFolder = std::string(kImageFolder) + "/";
    if (Status s = folder.syncFolder(kImageFolder); !s.ok())
      report.problems.push_back({imageFolder, "could not be written: " + s.error});
  }

  if (state.dataFileUnreadable) {
    report.problems.push_back({kDataFileName, "was not written: it could not be read when the project was "
                                              "opened, and saving would replace it"});
    return report;  // nothing refers to the new names yet: the old files stay
  }
  if (Status s = folder.writeFileAtomically(kDataFileName, buildDataText(list)); s.ok())
    report.dataFileWritten = true;
  else
    report.problems.push_back({kDataFileName, "could not be written: " + s.error});
  if (!report.dataFileWritten) return report;  // the old files stay for the old "data.txt"

  for (const std::string& fileName : stale) removeIfAllowed(fileName);
  for (size_t i : renamed) *records[i].savedName = *records[i].name;
  return report;
}

}  // namespace charstack
