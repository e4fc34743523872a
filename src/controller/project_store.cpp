#include "controller/project_store.hpp"

#include <QCoreApplication>

#include "controller/commands.hpp"
#include "project/records.hpp"

namespace charstack {

ProjectStore::ProjectStore(Document& document, EditorState& state, RecordEdits& edits, ProjectFolder folder,
                           PictureReading reading)
    : document_(document), state_(state), edits_(edits), folder_(std::move(folder)), reading_(reading) {
  state_.pendingImageDeletions = {};
  load();
}

void ProjectStore::open(ProjectFolder folder) {
  folder_ = std::move(folder);
  load();
}

void ProjectStore::load() {
  // The window that opens a project first owns it; another one may still read it.
  lock_ = std::make_unique<ProjectLock>(folder_.path());
  ownership_ = lock_->own();
  lockProblem_ = lock_->unusable();
  withoutLock_ = false;
  // An interrupted save is finished, and what a killed save left is removed, before anything is read.
  LoadResult loaded = openProject(folder_, true, reading_);
  interruptedSaveCompleted_ = loaded.interruptedSaveCompleted;
  recoveryStopped_ = loaded.recoveryStopped;
  readOnly_ = recoveryStopped_;
  loadProblems_ = std::move(loaded.problems);
  adoptLoadedFiles(loaded, state_);
  // The layers table shows the first character's layers, the character selection row 0 names.
  document_.replaceAll(std::move(loaded.list));
  takeSnapshot();
  noteDepthsNeverDrawn();
}

void ProjectStore::noteDepthsNeverDrawn() {
  forEachRecord(document_.list(), [&](const auto& r, int64_t, int64_t k, int64_t m) {
    if (r.value >= 0 && r.value <= 999) return;
    const QString name = QString::fromStdString(r.name);
    const QString who = m < 0
                            ? QCoreApplication::translate("Load", "character %1 \"%2\"").arg(k + 1).arg(name)
                            : QCoreApplication::translate("Load", "layer %1 \"%2\" of character %3 \"%4\"")
                                  .arg(m + 1)
                                  .arg(name)
                                  .arg(k + 1)
                                  .arg(QString::fromStdString(document_.list().characters[static_cast<size_t>(k)].name));
    loadProblems_.push_back(
        {kDataFileName,
         QCoreApplication::translate("Load", "%1: depth %2 is never drawn (only depths from 0 to 999 are)")
             .arg(who)
             .arg(r.value)
             .toStdString()});
  });
}

std::vector<Problem> ProjectStore::takePictureChecks(const std::vector<PictureCheck>& checks) {
  // The files found to be no picture, and the picture the open gave them.
  std::unordered_map<std::string, ImageRef> failed;
  for (const PictureCheck& c : checks)
    if (auto known = state_.knownImageFiles.find(c.fileName); !c.problem.empty() && known != state_.knownImageFiles.end())
      failed.emplace(c.fileName, known->second.image);
  std::vector<Problem> problems;
  filesChangedSinceSave_ = true;
  document_.changeOutsideHistory([&](CharacterList& list) {
    return applyPictureChecks(checks, list, state_.knownImageFiles, state_.unreadableImageFiles, problems);
  });
  // What the open left on disk has no picture there either.
  forEachRecord(saved_, [&](auto& r, int64_t number, auto...) {
    auto found = failed.find(imageFileName(r.name, number));
    if (found != failed.end() && r.image == found->second) r.image = nullptr;
  });
  savedPictures_.clear();
  loadProblems_.insert(loadProblems_.end(), problems.begin(), problems.end());
  return problems;
}

SaveReport ProjectStore::save(const SaveOptions& options) {
  if (readOnly_) {
    SaveReport report;
    report.refused = true;
    report.problems.push_back({"", "the project is open read-only in this window"});
    return report;
  }
  // The records whose pictures the save takes from files under their new names: steps of the history.
  SaveOptions saving = options;
  saving.withoutLock = withoutLock_;
  saving.modelUnchanged = !hasUnsavedChanges() && !filesChangedSinceSave_;
  std::vector<ImageRef> before;
  if (!saving.modelUnchanged) forEachRecord(document_.list(), [&](const auto& r, auto...) { before.push_back(r.image); });
  SaveReport report;
  document_.changeOutsideHistory([&](CharacterList& list) {
    report = saveProject(list, state_, folder_, saving);
    return std::vector<RecordAt>{};
  });
  if (!report.picturesTaken.empty()) recordPicturesTaken(before, report.picturesTaken.size());
  if (!report.refused) ++saveCount_;  // the pending deletions were carried out
  if (report.ok() && !saving.modelUnchanged) takeSnapshot();
  if (report.ok()) filesChangedSinceSave_ = false;
  return report;
}

ImageRef* ProjectStore::savedPictureOf(const std::string& fileName) {
  if (savedPictures_.empty())
    forEachRecord(saved_, [&](auto& r, int64_t number, auto...) { savedPictures_.emplace(imageFileName(r.name, number), &r.image); });
  auto found = savedPictures_.find(fileName);
  return found != savedPictures_.end() ? found->second : nullptr;
}

void ProjectStore::takeSnapshot() {
  filesChangedSinceSave_ = false;
  saved_ = document_.list();
  savedDeletions_ = state_.pendingImageDeletions;
  savedPictures_.clear();
}

bool ProjectStore::hasUnsavedChanges() const {
  // The same records with the same fields write the same text and the same files (savedName aside,
  // which only saving changes).
  auto same = [](const auto& a, const auto& b) {
    return a.name == b.name && a.value == b.value && a.image == b.image && a.x == b.x && a.y == b.y;
  };
  if (document_.list().characters.size() != saved_.characters.size() || state_.pendingImageDeletions != savedDeletions_) return true;
  for (size_t k = 0; k < document_.list().characters.size(); ++k) {
    const Character &a = document_.list().characters[k], &b = saved_.characters[k];
    if (!same(a, b) || a.layers.size() != b.layers.size()) return true;
    for (size_t m = 0; m < a.layers.size(); ++m)
      if (!same(a.layers[m], b.layers[m]) || a.layers[m].visible != b.layers[m].visible) return true;
  }
  return false;
}

// One step for all the pictures a save took from files under their records' new names.
void ProjectStore::recordPicturesTaken(const std::vector<ImageRef>& before, size_t count) {
  QUndoStack& history = document_.history();
  history.beginMacro(stepText(count == 1 ? QT_TRANSLATE_NOOP("Command", "Take Picture from Disk")
                                                  : QT_TRANSLATE_NOOP("Command", "Take Pictures from Disk")));
  size_t i = 0;
  forEachRecord(document_.list(), [&](const auto& r, int64_t number, int64_t k, int64_t m) {
    if (r.image == before[i++]) return;
    const std::string fileName = imageFileName(r.name, number);
    document_.notifyRecord(RecordAt{k, m});
    history.push(new TakePictureCommand(edits_, RecordAt{k, m}, fileName, r.image,
                                        state_.knownImageFiles[fileName].stamp, true));
  });
  history.endMacro();
}

SaveReport ProjectStore::saveCopy(const std::filesystem::path& folder) const {
  // A new folder is made (its parent must exist); an existing one is chosen empty.
  std::error_code ignored;
  std::filesystem::create_directory(folder, ignored);
  // No file there is one the editor read or wrote: every record is new to it.
  CharacterList copy = document_.list();
  forEachRecord(copy, [](auto& r, auto...) { r.savedName.reset(); });
  EditorState fresh;
  return saveProject(copy, fresh, ProjectFolder(folder));
}

std::vector<std::pair<std::string, ImageRef>> ProjectStore::picturesToCheck() const {
  return charstack::picturesToCheck(state_.knownImageFiles);
}

ImageRef ProjectStore::savedPicture(const std::string& fileName) {
  ImageRef* p = savedPictureOf(fileName);
  return p ? *p : nullptr;
}

void ProjectStore::noteDiskPicture(const std::string& fileName, const ImageRef& picture) {
  if (ImageRef* saved = savedPictureOf(fileName)) *saved = picture;
}

}  // namespace charstack
