// Lists the image files no record uses, with their pictures, and lets the user choose which to move
// to the trash.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "project/unused_images.hpp"

class QListWidget;
class QPushButton;

namespace charstack {

class CleanUpDialog : public QDialog {
  Q_OBJECT

 public:
  CleanUpDialog(const std::vector<UnusedImageFile>& files, QWidget* parent = nullptr);

  // The file names the user checked, in list order.
  std::vector<std::string> chosen() const;
  QListWidget* list() const { return list_; }

 private:
  void updateButton();

  std::vector<std::string> names_;
  QListWidget* list_ = nullptr;
  QPushButton* trash_ = nullptr;
};

}  // namespace charstack
