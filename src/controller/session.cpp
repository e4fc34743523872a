#include "controller/session.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDateTime>
#include <QLocale>
#include <QThreadPool>

#include "model/names.hpp"
#include "platform/folder_watch.hpp"
#include "project/journal.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

QString problemText(const Problem& problem) {
  return problem.file.empty() ? text(problem.reason) : QStringLiteral("%1: %2").arg(text(problem.file), text(problem.reason));
}

// The first problem on one line; the Problems panel lists them all.
QString problemLine(const std::vector<Problem>& problems) {
  QString line = problemText(problems.front());
  if (problems.size() > 1)
    line += QCoreApplication::translate("Session", " (and %n more in the Problems panel)", nullptr,
                                        static_cast<int>(problems.size() - 1));
  return line;
}

// What the status bar says of a save, and of the problems found when opening.
QString describeSave(const SaveReport& report, const QString& folder) {
  if (report.ok()) return QCoreApplication::translate("Session", "Saved to %1").arg(folder);
  const QString head = report.refused ? QCoreApplication::translate("Session", "Not saved") : QCoreApplication::translate("Session", "Save failed");
  if (report.problems.empty()) return QCoreApplication::translate("Session", "%1: the project cannot be saved as it stands").arg(head);
  return QStringLiteral("%1: %2").arg(head, problemLine(report.problems));
}

QString describeLoadProblems(const std::vector<Problem>& problems) {
  if (problems.empty()) return {};
  return QCoreApplication::translate("Session", "Opened with problems: %1").arg(problemLine(problems));
}

}  // namespace

QString Session::folderText(const std::filesystem::path& folder) {
  return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(folder.string())));
}


Session::Session(CharacterList& list, EditorState& state, const std::filesystem::path& folder,
                 UserQuestions& questions)
    : questions_(questions),
      controller_(std::make_unique<Editor>(list, state, ProjectFolder(folder), nullptr, PictureReading::WhenNeeded)),
      autosave_(std::make_unique<Autosave>(*controller_, [this] { return saving_ || applying_; })) {
  // Files changed by other programs come in within about a second: a change is looked at once the
  // changes have settled for a moment.
  scanTimer_.setSingleShot(true);
  scanTimer_.setInterval(300);
  QObject::connect(&scanTimer_, &QTimer::timeout, &context_, [this] { startScan(); });
  watch_ = std::make_unique<FolderWatch>([this](const std::vector<FolderEvent>& events) { noteChanges(events); });
  watchProject();
  checkPictures();
}

void Session::checkPictures() {
  // Every picture of the project just opened is read on another thread; the window shows it meanwhile.
  ++checking_;
  pool_.start([this, files = controller_->store().picturesToCheck(), opened = ++opened_] {
    std::vector<PictureCheck> checks = charstack::checkPictures(files);
    QMetaObject::invokeMethod(&context_, [this, opened, checks = std::move(checks)] {
      --checking_;
      if (opened != opened_ || checks.empty()) return;  // nothing found, or another project is open now
      Feedback feedback;
      feedback.problems = controller_->store().takePictureChecks(checks);
      feedback.problemsTitle = tr("Problems found when opening the project");
      feedback.status = describeLoadProblems(feedback.problems);
      if (diskListener_) diskListener_(feedback);
    }, Qt::QueuedConnection);
  });
}

Session::~Session() {
  // A look still running reports to this session: it ends first; a recovery being written is finished.
  pool_.waitForDone();
  autosave_.reset();
  watch_.reset();
}

Feedback Session::loaded() const {
  Feedback feedback;
  const std::vector<Problem>& problems = controller_->store().loadProblems();
  feedback.status = describeLoadProblems(problems);
  if (!problems.empty()) {
    feedback.problemsTitle = tr("Problems found when opening the project");
    feedback.problems = problems;
  }
  if (controller_->store().interruptedSaveCompleted()) feedback.status = tr("The last save was interrupted; it has been completed");
  if (controller_->store().recoveryStopped()) {
    feedback.status = tr("Opened read-only: the last save was interrupted and cannot be finished safely");
    feedback.messageTitle = tr("Interrupted save");
    feedback.message = tr("The last save of this project was interrupted, and the files it left are not as it left "
                          "them, so it was not finished. Nothing was removed; the project is open read-only. The "
                          "Problems panel names each file.");
    feedback.warning = true;
  }
  return feedback;
}

bool Session::settleOwnership() {
  const ProjectLock::Ownership ownership = controller_->store().ownership();
  if (ownership == ProjectLock::Ownership::Owned) return true;
  const std::string why = ownership == ProjectLock::Ownership::NoLockFile ? controller_->store().lockProblem() : std::string();
  const UserQuestions::InUse choice = questions_.projectInUse(controller_->store().folder().path(), why);
  controller_->store().setReadOnly(choice == UserQuestions::InUse::ReadOnly);
  controller_->store().setWithoutLock(choice == UserQuestions::InUse::OpenAnyway && !why.empty());
  return choice != UserQuestions::InUse::Cancel;
}

// ---- Saving ------------------------------------------------------------------------------------------

Feedback Session::save(const std::function<void(size_t, size_t)>& progress) {
  // Never while what a look found is applied: the save waits for the user's answers.
  if (saving_ || applying_) return {};
  saving_ = true;
  SaveOptions options;
  options.progress = progress;
  const SaveReport report = saveAsking(controller_->store(), questions_, options);
  saving_ = false;
  if (report.folderMoved && !report.refused) watchProject();

  Feedback feedback;
  feedback.status = describeSave(report, folderText(controller_->store().folder().path()));
  if (!report.picturesTaken.empty())
    feedback.status += tr(" (%1 is now the picture of the record with its name)").arg(text(report.picturesTaken.front()));
  if (!report.backupFile.empty())
    feedback.status += tr(" (the old %1 was kept as %2)").arg(QString::fromLatin1(kDataFileName), text(report.backupFile));
  // Saved as the tables show it: nothing is left to recover.
  if (report.ok() && !controller_->store().hasUnsavedChanges()) autosave_->discard();
  if (report.ok()) return feedback;
  tellFailedSave(report, feedback);
  return feedback;
}

void Session::tellFailedSave(const SaveReport& report, Feedback& feedback) {
  feedback.problemsTitle = tr("Problems of the last save");
  feedback.problems = report.problems;
  QStringList lines{report.refused ? tr("Nothing was saved.") : tr("Some files could not be saved.")};
  for (const Problem& problem : report.problems) lines << problemText(problem);
  feedback.messageTitle = tr("Save failed");
  feedback.message = lines.join(QLatin1Char('\n'));
  feedback.warning = true;
}

std::optional<Feedback> Session::saveAs() {
  if (saving_ || applying_) return std::nullopt;
  const std::optional<std::filesystem::path> folder = questions_.chooseProjectFolder(true);
  if (!folder) return std::nullopt;
  saving_ = true;
  const SaveReport report = controller_->store().saveCopy(*folder);
  saving_ = false;
  Feedback feedback;
  feedback.status = describeSave(report, folderText(*folder));
  if (!report.ok()) {
    tellFailedSave(report, feedback);
    return feedback;
  }
  // The copy is the project from now on; the folder it came from stays as it was last saved.
  controller_->openFolder(ProjectFolder(*folder));
  autosave_->follow();
  autosave_->adopt();  // a new folder: nothing to recover there
  changedFiles_.clear(), changedAnything_ = false;
  watchProject();
  checkPictures();
  Feedback opened = loaded();
  opened.status = feedback.status;
  return opened;
}

bool Session::settleUnsavedChanges(Feedback& feedback) {
  if (!controller_->store().hasUnsavedChanges()) return true;
  switch (questions_.unsavedChanges()) {
    case UserQuestions::Unsaved::Save:
      feedback = save();
      return !controller_->store().hasUnsavedChanges();  // a failure keeps the work open
    case UserQuestions::Unsaved::Discard:
      autosave_->discard(true);
      return true;
    case UserQuestions::Unsaved::Cancel:
      return false;
  }
  return false;
}

// ---- Projects ----------------------------------------------------------------------------------------

std::optional<Feedback> Session::openProject(const std::filesystem::path& folder, bool settled) {
  Feedback feedback;
  if (saving_) return std::nullopt;
  if (!settled && !settleUnsavedChanges(feedback)) return feedback.empty() ? std::nullopt : std::optional<Feedback>(feedback);
  if (!QFileInfo(QFile::decodeName(QByteArray::fromStdString(folder.string()))).isDir()) {
    feedback.messageTitle = tr("Open Project");
    feedback.message = tr("%1 is not a folder.").arg(folderText(folder));
    feedback.warning = true;
    return feedback;
  }
  // Another window's project: read-only, anyway, or not at all. The folder open here is this one's.
  std::error_code ec;
  UserQuestions::InUse choice = UserQuestions::InUse::OpenAnyway;
  if (!std::filesystem::equivalent(folder, controller_->store().folder().path(), ec) && projectInUse(folder))
    if ((choice = questions_.projectInUse(folder, {})) == UserQuestions::InUse::Cancel) return std::nullopt;
  controller_->openFolder(ProjectFolder(folder));
  autosave_->follow();
  controller_->store().setReadOnly(choice == UserQuestions::InUse::ReadOnly);
  // Nobody can lock it: the user chooses, as for a project open elsewhere.
  if (controller_->store().ownership() == ProjectLock::Ownership::NoLockFile && !settleOwnership()) controller_->store().setReadOnly(true);
  changedFiles_.clear(), changedAnything_ = false;
  watchProject();
  checkPictures();
  Feedback opened = loaded();
  if (std::optional<Feedback> recovered = recoverUnsavedWork()) {
    opened.status = recovered->status;
    opened.messageTitle = recovered->messageTitle, opened.message = recovered->message, opened.warning = recovered->warning;
  }
  return opened;
}

std::optional<Feedback> Session::recoverUnsavedWork() {
  const ProjectStore& store = controller_->store();
  if (store.readOnly() || store.ownership() != ProjectLock::Ownership::Owned) return std::nullopt;
  std::optional<RecoveredWork> work = findRecovery(*controller_, autosave_->folder());
  UserQuestions::Recovered choice = work ? questions_.recoverWork(*work) : UserQuestions::Recovered::Restore;
  autosave_->adopt();
  if (!work) return std::nullopt;
  Feedback feedback;
  if (choice == UserQuestions::Recovered::Restore && restoreRecovery(*controller_, *work)) {
    feedback.status = tr("Restored the unsaved work of %1: it is not saved yet").arg(QLocale().toString(
                          QDateTime::fromMSecsSinceEpoch(work->writtenMs), QLocale::ShortFormat));
    autosave_->restored(*work);  // written again a moment after, as any change
  } else if (choice == UserQuestions::Recovered::Discard && removeRecovery(work->folder).ok()) {
    feedback.status = tr("The recovered work was discarded");
  } else if (const std::optional<std::filesystem::path> aside = keepRecoveryAside(work->folder)) {
    feedback.status = tr("The recovered work was kept aside in %1").arg(folderText(*aside));
  } else {
    // Neither restored nor moved: it stays where the next open offers it again.
    feedback.messageTitle = tr("Recovered work");
    feedback.message = tr("The recovered work in %1 could not be moved aside; it will be offered again at the next open.")
                           .arg(folderText(work->folder));
    feedback.warning = true;
  }
  return feedback;
}

std::optional<Feedback> Session::openChosenProject(bool forNewProject) {
  const std::optional<std::filesystem::path> folder = questions_.chooseProjectFolder(forNewProject);
  if (!folder) return std::nullopt;
  return openProject(*folder);
}

// ---- Exports -----------------------------------------------------------------------------------------

Feedback Session::exportPicture() {
  Feedback feedback;
  feedback.messageTitle = tr("Export Picture");
  feedback.warning = true;
  const CharacterList& list = controller_->list();
  const int64_t row = controller_->state().selectedCharacterRow;
  if (row < 0 || row >= list.size()) {
    feedback.status = tr("Select a character to export its picture.");
    feedback.messageTitle.clear();
    return feedback;
  }
  const Character& character = list.characters[static_cast<size_t>(row)];
  // The character's name as the user knows it; the record number only where the name gives no file
  // name of its own.
  std::string suggested = character.name;
  for (char& c : suggested)
    if (c == '/' || c == '\0') c = '_';
  const bool plain = suggested.find_first_not_of(" .") != std::string::npos;
  const std::optional<std::filesystem::path> file = questions_.chooseExportFile(
      plain ? suggested + ".png" : exportFileName(character.name, list.characterRecordNumber(row)));
  if (!file) return {};
  if (isInsideProject(file->parent_path(), controller_->store().folder().path())) {
    feedback.message = tr("Pictures are not exported into the project folder or its img/ folder: choose another folder.");
    return feedback;
  }
  const CharacterPicture picture = characterPicture(character);
  if (!picture.png) {
    feedback.message = picture.problem.empty() ? tr("The character has nothing to draw: no picture was written.")
                                               : tr("The picture %1.").arg(text(picture.problem));
    return feedback;
  }
  const ProjectFolder target(file->parent_path().empty() ? std::filesystem::path(".") : file->parent_path());
  if (Status s = target.writeFileAtomically(file->filename().string(), *picture.png); !s.ok()) {
    feedback.message = tr("%1 could not be written: %2").arg(folderText(*file), text(s.error));
    return feedback;
  }
  return {tr("Exported %1").arg(folderText(*file)), {}, {}, {}, {}, false};
}

Feedback Session::exportAllCharacters(const ExportOptions& options) {
  const std::optional<std::filesystem::path> folder = questions_.chooseExportFolder();
  return folder ? exportAllCharactersTo(*folder, options) : Feedback{};
}

Feedback Session::exportAllCharactersTo(const std::filesystem::path& folder, const ExportOptions& options) {
  Feedback feedback;
  feedback.messageTitle = tr("Export All Characters");
  feedback.warning = true;
  if (isInsideProject(folder, controller_->store().folder().path())) {
    feedback.message = tr("Pictures are not exported into the project folder or its img/ folder: choose another folder.");
    return feedback;
  }
  const ProjectFolder target(folder);
  if (Status s = target.createFolder(""); !s.ok()) {
    feedback.message = tr("%1 could not be created: %2").arg(folderText(folder), text(s.error));
    return feedback;
  }
  // A copy: the window keeps painting, and its timers running, while the pictures are made.
  const CharacterList list = controller_->list();
  const ExportReport report = charstack::exportAllCharacters(list, target, {}, options);
  QStringList lines{tr("%n picture(s) written to %1.", nullptr, static_cast<int>(report.written.size())).arg(folderText(folder))};
  if (!options.sheet.empty() && !report.written.empty())
    lines.front() = tr("A sprite sheet of %n picture(s) written to %1.", nullptr, static_cast<int>(report.frames))
                        .arg(folderText(folder / (options.sheet + ".png")));
  for (const auto& [who, fileName] : report.renamed)
    lines << tr("%1 is named %2: an earlier character has its name.").arg(text(who), text(fileName));
  if (report.cancelled) lines << tr("The export was cancelled; the pictures written so far are complete.");
  if (!report.skipped.empty()) {
    lines << tr("Skipped, with nothing to draw:");
    for (const std::string& who : report.skipped) lines << QStringLiteral("  ") + text(who);
  }
  for (const Problem& p : report.problems) lines << problemText(p);
  feedback.status = lines.front();
  feedback.message = lines.join(QLatin1Char('\n'));
  feedback.warning = !report.ok();
  if (!report.ok()) {
    feedback.problemsTitle = tr("Problems of the last export");
    feedback.problems = report.problems;
  }
  return feedback;
}

// ---- Layers from files, clean-up ---------------------------------------------------------------------

Feedback Session::addPictureFiles(Table table, const std::vector<std::filesystem::path>& files,
                                  std::optional<int64_t> row) {
  Editor& c = *controller_;
  // Layers need a character: without one the pictures become characters.
  const int64_t k = c.state().selectedCharacterRow;
  if (table == Table::Layers && (k < 0 || k >= c.list().size())) table = Table::Characters, row.reset();
  std::vector<Editor::NamedPicture> pictures;
  QStringList lines;
  for (const std::filesystem::path& file : files) {
    const QString shown = QFile::decodeName(QByteArray::fromStdString(file.filename().string()));
    ImageRef image = decodeImageFile(file);
    if (!image) {
      lines << tr("%1 is not an image the editor can read").arg(shown);
      continue;
    }
    const std::string name = QFileInfo(shown).completeBaseName().toStdString();
    if (name.empty() || checkName(name) != NameProblem::None)
      lines << tr("%1 gives no name a record can hold: it is called %2")
                   .arg(shown, QString::fromStdString(newRecordName(table)));
    pictures.push_back({name, std::move(image)});
  }
  if (!pictures.empty()) {
    const int count = static_cast<int>(pictures.size());
    c.insertPictures(table, std::move(pictures), row);
    lines.prepend(table == Table::Layers ? tr("Added %n layer(s)", nullptr, count)
                                         : tr("Added %n character(s)", nullptr, count));
  }
  return {lines.join(QStringLiteral("; ")), {}, {}, {}, {}, false};
}

Feedback Session::addChosenPictureFiles(Table table) {
  const std::vector<std::filesystem::path> files = questions_.choosePictureFiles(table);
  return files.empty() ? Feedback{} : addPictureFiles(table, files);
}

Feedback Session::cleanUpUnusedImages() {
  Feedback feedback;
  feedback.messageTitle = tr("Clean Up Unused Images");
  const EditorState& state = controller_->state();
  if (state.dataFileUnreadable || state.dataFileWithoutRecords) {
    feedback.message = tr("%1 could not be read, so the editor cannot tell which images are in use.")
                           .arg(QString::fromLatin1(kDataFileName));
    feedback.warning = true;
    return feedback;
  }
  if (controller_->store().hasUnsavedChanges()) {
    if (!questions_.saveBeforeCleanUp()) return {};
    if (Feedback saved = save(); !saved.message.isEmpty()) return saved;
  }
  const ProjectFolder& folder = controller_->store().folder();
  // Only while the project on disk holds the editor's records can a file be known to be unused.
  if (const std::string why = whyUnusedImagesCannotBeTold(controller_->list(), folder); !why.empty()) {
    feedback.message = tr("Unused images cannot be told now: %1.").arg(text(why));
    feedback.warning = true;
    return feedback;
  }
  const auto unused = listUnusedImageFiles(controller_->list(), folder);
  if (!unused || unused->empty()) {
    feedback.message = !unused ? tr("img/ could not be listed.")
                               : tr("Every file in img/ belongs to a record: there is nothing to clean up.");
    feedback.warning = !unused;
    return feedback;
  }
  const std::vector<std::string> chosen = questions_.chooseFilesToTrash(*unused);
  if (chosen.empty()) return {};
  std::vector<std::string> paths;
  for (const std::string& name : chosen) paths.push_back(imagePath(name));
  const TrashReport report = questions_.moveToTrash(folder, paths);
  EditorState& editable = controller_->state();
  for (const std::string& path : report.moved) {
    editable.knownImageFiles.erase(path.substr(std::string(kImageFolder).size() + 1));
    editable.unreadableImageFiles.erase(path.substr(std::string(kImageFolder).size() + 1));
  }
  feedback.problems = report.problems;
  feedback.status = tr("Moved %n unused image(s) to the trash", nullptr, static_cast<int>(report.moved.size()));
  if (!report.bundle.empty()) feedback.status += tr(" (together, in the folder \"%1\")").arg(text(report.bundle));
  if (report.notTried > 0) feedback.status += tr("; %n left as they were after Cancel", nullptr, static_cast<int>(report.notTried));
  if (feedback.problems.empty()) {
    feedback.messageTitle.clear();
    return feedback;
  }
  feedback.problemsTitle = feedback.messageTitle;
  QStringList lines;
  for (const Problem& p : feedback.problems) lines << problemText(p);
  feedback.message = lines.join(QLatin1Char('\n'));
  feedback.warning = true;
  return feedback;
}

// ---- Other programs ----------------------------------------------------------------------------------

void Session::watchProject() {
  const ProjectFolder& folder = controller_->store().folder();
  std::vector<std::filesystem::path> folders{folder.path(), folder.resolve(kImageFolder)};
  // A data file that is a link lives in another folder.
  if (const std::filesystem::path data = dataFileTarget(folder); data.parent_path() != folder.path())
    folders.push_back(data.parent_path());
  watch_->watch(folders);
}

void Session::noteChanges(const std::vector<FolderEvent>& events) {
  for (const FolderEvent& e : events) {
    if (e.overflow || (e.folder == 1 && e.name.empty()) || (e.folder == 0 && e.name == kImageFolder))
      changedAnything_ = true;  // events were lost, or "img/" itself came, went or moved
    else if (e.folder == 1)
      changedFiles_.insert(e.name);
  }
  scanTimer_.start();  // "data.txt" is looked at every time
}

DiskScanRequest Session::takeRequest(bool everything) {
  const bool all = everything || std::exchange(changedAnything_, false);
  DiskScanRequest request = controller_->disk().scanRequest(all ? nullptr : &changedFiles_);
  changedFiles_.clear();
  return request;
}

void Session::startScan() {
  if (scanning_ || saving_) {
    scanTimer_.start();  // after the look or the save that runs now
    return;
  }
  scanning_ = true;
  pool_.start([this, folder = controller_->store().folder(), request = takeRequest(false)] {
    DiskScanResult result = scanDisk(folder, request);
    QMetaObject::invokeMethod(&context_, [this, result = std::move(result)] {
      scanning_ = false;
      applyScan(result);
    }, Qt::QueuedConnection);
  });
}

void Session::lookAtDiskNow(bool everything) { applyScan(scanDisk(controller_->store().folder(), takeRequest(everything))); }

void Session::applyScan(const DiskScanResult& result) {
  // Never while a save runs: the look waits for it.
  if (saving_) return scanTimer_.start();
  if (result.saveCount != controller_->store().saveCount()) scanTimer_.start();  // out of date: look again
  if (applying_) return scanTimer_.start();
  applying_ = true;
  const Feedback feedback = handleDiskChanges(controller_->disk().apply(result));
  applying_ = false;
  watchProject();  // "img/" may be new
  if (diskListener_ && !feedback.empty()) diskListener_(feedback);
}

Feedback Session::handleDiskChanges(const std::vector<DiskChange>& changes) {
  Feedback feedback;
  for (const DiskChange& change : changes) {
    const QString file = text(change.file);
    switch (change.kind) {
      case DiskChange::Kind::PictureTaken:
        feedback.status = tr("%1 changed on disk: its new picture is shown").arg(file);
        break;
      case DiskChange::Kind::Deleted:
        feedback.status = tr("%1 was deleted on disk: the editor keeps the picture and the next save writes it again").arg(file);
        break;
      case DiskChange::Kind::Unreadable:
        feedback.problems.push_back({change.file, tr("%1; the editor keeps its picture and leaves the file alone")
                                                      .arg(text(change.reason))
                                                      .toStdString()});
        break;
      case DiskChange::Kind::Conflict:
        controller_->disk().resolveConflict(change, questions_.takeChangedFile(change));
        break;
      case DiskChange::Kind::DataFile:
        // Reloading settles unsaved changes first, as opening any project does.
        if (questions_.reloadChangedProject()) {
          applying_ = false;  // what this look found is applied: the reload may save first
          std::optional<Feedback> reopened = openProject(controller_->store().folder().path());
          return reopened ? *reopened : feedback;
        }
        feedback.status = tr("%1 changed on disk; the editor keeps what it shows").arg(file);
        break;
    }
  }
  if (!feedback.problems.empty()) {
    feedback.problemsTitle = tr("Files that can no longer be read");
    feedback.status = tr("%1 can no longer be read: the editor keeps its picture").arg(text(feedback.problems[0].file));
  }
  return feedback;
}

}  // namespace charstack
