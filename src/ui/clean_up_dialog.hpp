// Lists the image files no record uses, with their pictures, and lets the user choose which to move
// to the trash; moves them with a progress dialog.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "project/trash.hpp"
#include "project/unused_images.hpp"

class QListView;
class QPushButton;

namespace charstack {

class UnusedFilesModel;

// Tens of thousands of files list at once: the rows are a plain model whose thumbnails are made only
// for the rows painted, and Check All is one change.
class CleanUpDialog : public QDialog {
  Q_OBJECT

 public:
  CleanUpDialog(const std::vector<UnusedImageFile>& files, QWidget* parent = nullptr);

  // The file names the user checked, in list order.
  std::vector<std::string> chosen() const;
  QListView* list() const { return list_; }
  void checkAll();

  // Moves the files (paths inside the folder) to the trash on a worker thread while a progress
  // dialog shows how far it got; its Cancel stops before the next file. Returns when the worker is
  // done, with what was moved and what was not.
  static TrashReport moveToTrash(const ProjectFolder& folder, const std::vector<std::string>& files,
                                 QWidget* parent);

 private:
  void updateButton();

  UnusedFilesModel* model_ = nullptr;
  QListView* list_ = nullptr;
  QPushButton* trash_ = nullptr;
};

}  // namespace charstack
