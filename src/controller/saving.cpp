#include "controller/saving.hpp"

#include "platform/project_lock.hpp"

namespace charstack {

SaveReport saveAsking(ProjectStore& store, SaveQuestions& questions, SaveOptions options) {
  SaveReport report = store.save(options);
  // Each answer allows one more thing; a question is asked at most once a save.
  for (int round = 0; round < 4 && report.refused; ++round) {
    if (report.folderMoved && !report.folderNow.empty() && questions.saveIntoMovedFolder(report.folderNow)) {
      store.relocate(report.folderNow);
    } else if (report.needsConfirmation && !options.replaceDataFileWithoutRecords &&
               questions.replaceDataFileWithoutRecords()) {
      options.replaceDataFileWithoutRecords = true;
    } else if (!report.outside.empty() && !options.writeOutside && questions.writeThroughLinks(report.outside)) {
      options.writeOutside = true;
    } else if (!report.changedOnDisk.empty() && questions.replaceChangedFiles(report.changedOnDisk)) {
      options.replaceAnyway.insert(report.changedOnDisk.begin(), report.changedOnDisk.end());
    } else {
      break;
    }
    report = store.save(options);
  }
  return report;
}

bool projectInUse(const std::filesystem::path& folder) {
  return ProjectLock(folder).own() == ProjectLock::Ownership::OwnedByAnother;
}

}  // namespace charstack
