#include "ui/clean_up_dialog.hpp"

#include <QAbstractListModel>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QLabel>
#include <QListView>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "ui/thumbnails.hpp"

namespace charstack {

namespace {
constexpr int kThumb = 64;
}  // namespace

// The files with a check box each; the number checked is kept as they change.
class UnusedFilesModel : public QAbstractListModel {
 public:
  UnusedFilesModel(std::vector<UnusedImageFile> files, QIcon unreadable, QObject* parent)
      : QAbstractListModel(parent),
        files_(std::move(files)),
        checked_(files_.size(), 0),
        unreadable_(std::move(unreadable)) {}

  const UnusedImageFile& file(int row) const { return files_[static_cast<size_t>(row)]; }
  bool checked(int row) const { return checked_[static_cast<size_t>(row)] != 0; }
  size_t checkedCount() const { return checkedCount_; }

  void checkAll() {
    if (files_.empty()) return;
    std::fill(checked_.begin(), checked_.end(), 1);
    checkedCount_ = files_.size();
    emit dataChanged(index(0), index(rowCount() - 1), {Qt::CheckStateRole});
  }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(files_.size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const UnusedImageFile& f = file(index.row());
    switch (role) {
      case Qt::DisplayRole: {
        const QString name = QString::fromStdString(f.fileName);
        if (!f.picture)
          return CleanUpDialog::tr("%1\ncannot be shown: it %2").arg(name, QString::fromStdString(f.problem));
        return CleanUpDialog::tr("%1\n%2 × %3 pixels")
            .arg(name)
            .arg(f.picture->pixelWidth())
            .arg(f.picture->pixelHeight());
      }
      case Qt::CheckStateRole:
        return checked(index.row()) ? Qt::Checked : Qt::Unchecked;
      case Qt::DecorationRole:
        return f.picture ? QVariant() : QVariant(unreadable_);
      default:
        return {};
    }
  }

  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (!index.isValid() || index.row() >= rowCount() || role != Qt::CheckStateRole) return false;
    char& c = checked_[static_cast<size_t>(index.row())];
    const char now = value.toInt() == Qt::Checked ? 1 : 0;
    if (c == now) return true;
    c = now;
    checkedCount_ = now ? checkedCount_ + 1 : checkedCount_ - 1;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
  }

 private:
  std::vector<UnusedImageFile> files_;
  std::vector<char> checked_;
  size_t checkedCount_ = 0;
  QIcon unreadable_;
};

CleanUpDialog::CleanUpDialog(const std::vector<UnusedImageFile>& files, QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Clean Up Unused Images"));
  auto* layout = new QVBoxLayout(this);
  auto* intro =
      new QLabel(tr("No record of the saved project uses these files of img/. Check the ones to move to "
                    "the trash: they go there together, in one folder, from where you can bring them back."),
                 this);
  intro->setWordWrap(true);
  layout->addWidget(intro);

  model_ = new UnusedFilesModel(files, style()->standardIcon(QStyle::SP_MessageBoxWarning), this);
  list_ = new QListView(this);
  list_->setUniformItemSizes(true);  // no row is measured but the first
  list_->setIconSize(QSize(kThumb, kThumb));
  list_->setSpacing(2);
  list_->setItemDelegate(
      new ThumbnailDelegate([this](const QModelIndex& index) { return model_->file(index.row()).picture; },
                            {}, {0, -1}, kThumb, list_));
  list_->setModel(model_);
  layout->addWidget(list_, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  auto* all = buttons->addButton(tr("Check All"), QDialogButtonBox::ActionRole);
  trash_ = buttons->addButton(tr("Move to Trash"), QDialogButtonBox::AcceptRole);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(all, &QPushButton::clicked, this, &CleanUpDialog::checkAll);
  connect(model_, &QAbstractItemModel::dataChanged, this, &CleanUpDialog::updateButton);
  updateButton();
  resize(520, 480);
}

void CleanUpDialog::checkAll() { model_->checkAll(); }

std::vector<std::string> CleanUpDialog::chosen() const {
  std::vector<std::string> names;
  names.reserve(model_->checkedCount());
  for (int row = 0; row < model_->rowCount(); ++row)
    if (model_->checked(row)) names.push_back(model_->file(row).fileName);
  return names;
}

void CleanUpDialog::updateButton() { trash_->setEnabled(model_->checkedCount() > 0); }

TrashReport CleanUpDialog::moveToTrash(const ProjectFolder& folder, const std::vector<std::string>& files,
                                       QWidget* parent) {
  const int count = static_cast<int>(files.size());
  QProgressDialog progress(parent);  // with Qt's own Cancel button
  progress.setLabelText(tr("Moving %n file(s) to the trash…", nullptr, count));
  progress.setRange(0, count);
  progress.setWindowTitle(tr("Clean Up Unused Images"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  std::atomic<bool> cancelled{false};
  std::atomic<int> done{0};
  connect(&progress, &QProgressDialog::canceled, &progress, [&] { cancelled = true; });
  // The worker only counts; the window's thread shows the count a few times a second.
  QTimer show;
  show.setInterval(100);
  connect(&show, &QTimer::timeout, &progress, [&] {
    if (!cancelled) progress.setValue(done);
  });
  QEventLoop loop;
  QFutureWatcher<TrashReport> watcher;
  connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
  watcher.setFuture(QtConcurrent::run([&cancelled, &done, folder, files] {
    return trashFiles(
        folder, files, [&done](size_t) { ++done; }, cancelled);
  }));
  show.start();
  progress.setValue(0);
  if (!watcher.isFinished()) loop.exec();
  return watcher.result();
}

}  // namespace charstack
