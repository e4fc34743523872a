#include "ui/clean_up_dialog.hpp"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "platform/image_impl.hpp"

namespace charstack {

namespace {

constexpr int kThumb = 64;

// The picture scaled into a square thumbnail, on a checkerboard so that transparency shows.
QIcon thumbnail(const Image& picture) {
  QPixmap pixmap(kThumb, kThumb);
  QPainter painter(&pixmap);
  for (int y = 0; y < kThumb; y += 8)
    for (int x = 0; x < kThumb; x += 8)
      painter.fillRect(x, y, 8, 8, ((x + y) / 8) % 2 ? Qt::lightGray : Qt::white);
  const QImage& image = picture.impl().premultiplied();
  const QImage scaled = image.scaled(kThumb, kThumb, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  painter.drawImage((kThumb - scaled.width()) / 2, (kThumb - scaled.height()) / 2, scaled);
  return QIcon(pixmap);
}

}  // namespace

CleanUpDialog::CleanUpDialog(const std::vector<UnusedImageFile>& files, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Clean Up Unused Images"));
  auto* layout = new QVBoxLayout(this);
  auto* intro =
      new QLabel(tr("No record of the saved project uses these files of img/. Check the ones to move to "
                    "the trash; you can bring them back from there."),
                 this);
  intro->setWordWrap(true);
  layout->addWidget(intro);

  list_ = new QListWidget(this);
  list_->setIconSize(QSize(kThumb, kThumb));
  list_->setSpacing(2);
  for (const UnusedImageFile& file : files) {
    const QString name = QString::fromStdString(file.fileName);
    auto* item = new QListWidgetItem(list_);
    item->setData(Qt::UserRole, static_cast<int>(names_.size()));
    names_.push_back(file.fileName);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
    if (file.picture) {
      item->setIcon(thumbnail(*file.picture));
      item->setText(tr("%1\n%2 × %3 pixels")
                        .arg(name)
                        .arg(file.picture->pixelWidth())
                        .arg(file.picture->pixelHeight()));
    } else {
      item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
      item->setText(tr("%1\ncannot be shown: it %2").arg(name, QString::fromStdString(file.problem)));
    }
  }
  layout->addWidget(list_, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  auto* all = buttons->addButton(tr("Check All"), QDialogButtonBox::ActionRole);
  trash_ = buttons->addButton(tr("Move to Trash"), QDialogButtonBox::AcceptRole);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(all, &QPushButton::clicked, this, [this] {
    for (int i = 0; i < list_->count(); ++i) list_->item(i)->setCheckState(Qt::Checked);
  });
  connect(list_, &QListWidget::itemChanged, this, &CleanUpDialog::updateButton);
  updateButton();
  resize(520, 480);
}

std::vector<std::string> CleanUpDialog::chosen() const {
  std::vector<std::string> names;
  for (int i = 0; i < list_->count(); ++i)
    if (list_->item(i)->checkState() == Qt::Checked)
      names.push_back(names_[static_cast<size_t>(list_->item(i)->data(Qt::UserRole).toInt())]);
  return names;
}

void CleanUpDialog::updateButton() { trash_->setEnabled(!chosen().empty()); }

}  // namespace charstack
