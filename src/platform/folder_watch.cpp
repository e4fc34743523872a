#include "platform/folder_watch.hpp"

#include <sys/inotify.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cstring>
#include <unordered_map>

namespace charstack {

struct FolderWatch::Impl {
  int fd = -1;
  std::unordered_map<int, size_t> folders;  // watch descriptor -> index
  std::unique_ptr<QSocketNotifier> notifier;
};

FolderWatch::FolderWatch(std::function<void(const std::vector<FolderEvent>&)> changed)
    : impl_(std::make_unique<Impl>()) {
  impl_->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (impl_->fd < 0) return;
  impl_->notifier = std::make_unique<QSocketNotifier>(impl_->fd, QSocketNotifier::Read);
  QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated, [this, changed = std::move(changed)] {
    std::vector<FolderEvent> events;
    alignas(inotify_event) char buffer[65536];
    for (ssize_t n; (n = ::read(impl_->fd, buffer, sizeof buffer)) > 0;) {
      for (ssize_t at = 0; at < n;) {
        inotify_event event;
        std::memcpy(&event, buffer + at, sizeof event);
        const char* name = buffer + at + sizeof event;
        at += static_cast<ssize_t>(sizeof event + event.len);
        if (event.mask & IN_Q_OVERFLOW) {
          events.push_back({0, {}, true});
          continue;
        }
        auto folder = impl_->folders.find(event.wd);
        if (folder == impl_->folders.end()) continue;
        events.push_back({folder->second, event.len > 0 ? std::string(name, ::strnlen(name, event.len)) : std::string(), false});
      }
    }
    if (!events.empty()) changed(events);
  });
}

FolderWatch::~FolderWatch() {
  impl_->notifier.reset();
  if (impl_->fd >= 0) ::close(impl_->fd);
}

void FolderWatch::watch(const std::vector<std::filesystem::path>& folders) {
  if (impl_->fd < 0) return;
  for (const auto& [w, index] : impl_->folders) ::inotify_rm_watch(impl_->fd, w);
  impl_->folders.clear();
  constexpr uint32_t kEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
  for (size_t i = 0; i < folders.size(); ++i) {
    const int w = ::inotify_add_watch(impl_->fd, folders[i].c_str(), kEvents);
    if (w >= 0) impl_->folders.emplace(w, i);
  }
}

}  // namespace charstack
