// The watch of the project folder and its "img/": every way another program changes a file there is
// told, with the folder and the file's name.
#include <sys/stat.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/folder_watch.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

TEST(FolderWatch, EveryChangeOfAFileInTheWatchedFoldersIsTold) {
  int argc = 1;
  char name[] = "folder_watch_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  testing::TempFolder dir;
  dir.write("img/Hero1", "a");
  dir.write("img/.new", "b");
  std::vector<FolderEvent> got;
  FolderWatch watch([&](const std::vector<FolderEvent>& events) { got.insert(got.end(), events.begin(), events.end()); });
  watch.watch({dir.path(), dir.path() / "img"});
  auto in = [&](const char* file) { return (dir.path() / file).string(); };
  const struct {
    const char* what;
    size_t folder;
    const char* name;
    std::function<void()> change;
  } kChanges[] = {
      {"written in place", 1, "Hero1", [&] { dir.write("img/Hero1", "aa"); }},
      {"renamed into place", 1, "Arm2", [&] { std::filesystem::rename(in("img/.new"), in("img/Arm2")); }},
      {"made", 1, "Leg3", [&] { dir.write("img/Leg3", ""); }},
      {"its mode changed", 1, "Hero1", [&] { ::chmod(in("img/Hero1").c_str(), 0600); }},
      {"removed", 1, "Arm2", [&] { std::filesystem::remove(in("img/Arm2")); }},
      {"moved away", 1, "Leg3", [&] { std::filesystem::rename(in("img/Leg3"), in("Leg3")); }},
      {"data.txt written", 0, "data.txt", [&] { dir.write("data.txt", "A,1, 0, 0\n"); }},
      // More changes than the system queues: the watch says that anything may have changed.
      {"too many changes at once", 0, "", [&] {
         for (int i = 0; i < 20000; ++i) ::chmod(in(i % 2 ? "img/Hero1" : "data.txt").c_str(), i % 4 < 2 ? 0600 : 0644);
       }},
  };
  for (const auto& c : kChanges) {
    got.clear();
    c.change();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto told = [&] {
      return std::any_of(got.begin(), got.end(), [&](const FolderEvent& e) {
        return e.folder == c.folder && e.name == c.name && e.overflow == !*c.name;
      });
    };
    while (!told() && std::chrono::steady_clock::now() < until) {
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(told()) << c.what;
  }
}

}  // namespace
}  // namespace charstack
