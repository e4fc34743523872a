#include "platform/folder_watch.hpp"

#include <sys/inotify.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace charstack {

struct FolderWatch::Impl {
  int fd = -1;
  std::vector<int> watches;
  std::unique_ptr<QSocketNotifier> notifier;
};

FolderWatch::FolderWatch(std::function<void()> changed) : impl_(std::make_unique<Impl>()) {
  impl_->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (impl_->fd < 0) return;
  impl_->notifier = std::make_unique<QSocketNotifier>(impl_->fd, QSocketNotifier::Read);
  QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated, [this, changed = std::move(changed)] {
    // Drain every event: what changed is looked at afterwards, not here.
    alignas(inotify_event) char buffer[16384];
    bool any = false;
    while (::read(impl_->fd, buffer, sizeof buffer) > 0) any = true;
    if (any) changed();
  });
}

FolderWatch::~FolderWatch() {
  impl_->notifier.reset();
  if (impl_->fd >= 0) ::close(impl_->fd);
}

void FolderWatch::watch(const std::vector<std::filesystem::path>& folders) {
  if (impl_->fd < 0) return;
  for (int w : impl_->watches) ::inotify_rm_watch(impl_->fd, w);
  impl_->watches.clear();
  constexpr uint32_t kEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
  for (const std::filesystem::path& folder : folders) {
    const int w = ::inotify_add_watch(impl_->fd, folder.c_str(), kEvents);
    if (w >= 0) impl_->watches.push_back(w);
  }
}

}  // namespace charstack
