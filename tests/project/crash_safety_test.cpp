// A save killed at any moment leaves every file of the project as it was or as the save meant to
// write it, never torn, and the folder still opens.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::character;
using testing::layer;
using Files = std::map<std::string, std::string>;

// Records Hero1 Arm2 Leg3 Mage4 Hat5 Cape6 Wolf7 (Bat8). The new model changes every picture and
// depth, takes Wolf's picture away (its file goes), gives Cape one and adds Bat (new files). Hero's
// picture is big, so that kills land inside a write too.
CharacterList model(bool changed) {
  uint32_t seed = changed ? 100 : 1;
  auto picture = [&](int scale = 1) { return testing::testImage(96 * scale, 80 * scale, seed++); };
  Character hero = character("Hero", 100 + changed, picture(6));
  hero.layers = {layer("Arm", 150 + changed, picture()), layer("Leg", 120, picture())};
  Character mage = character("Mage", 300, picture());
  mage.layers = {layer("Hat", 310, picture()), layer("Cape", 320, changed ? picture() : nullptr)};
  CharacterList list;
  list.characters = {hero, mage, character("Wolf", 50, changed ? nullptr : picture())};
  if (changed) list.characters.push_back(character("Bat", 5, picture()));
  return list;
}

TEST(CrashSafety, KilledSavesLeaveOldOrNewFilesAndTheFolderOpens) {
  testing::TempFolder dir;
  auto savedFresh = [&](bool changed) {
    std::filesystem::remove_all(dir.path() / "img"), std::filesystem::remove(dir.path() / "data.txt");
    CharacterList list = model(changed);
    return testing::saveInto(list, dir), testing::filesOf(dir);
  };
  const Files after = savedFresh(true), before = savedFresh(false);
  ASSERT_EQ(after.size(), 8u);
  auto restoreOld = [&] {
    std::filesystem::remove_all(dir.path());
    for (const auto& [path, bytes] : before) dir.write(path, bytes);
  };
  // Saves the new model in a child process. Only this thread exists at the fork.
  auto saveInChild = [&] {
    pid_t child = fork();
    if (child == 0) {
      CharacterList list = model(true);
      _exit(testing::saveInto(list, dir).ok() ? 0 : 1);
    }
    return child;
  };
  auto reap = [](pid_t child) {
    int status = 0;
    return waitpid(child, &status, 0) == child && (!WIFEXITED(status) || WEXITSTATUS(status) == 0);
  };
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(reap(saveInChild()));
  const double saveMicros = double(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::steady_clock::now() - started).count());

  // Every other kill waits for the saver's first file in "img/", as encoding takes most of a save.
  // Both ranges follow what the kills find: shorter after a kill that came too late, longer after
  // one that came before anything was written.
  std::mt19937 rng(4711);
  double ranges[2] = {saveMicros, saveMicros / 4};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(12);
  int kills = 0, midway = 0;
  for (; kills < 60 && std::chrono::steady_clock::now() < deadline; ++kills) {
    SCOPED_TRACE("kill " + std::to_string(kills));
    restoreOld();
    double& range = ranges[kills % 2];
    int watch = kills % 2 ? inotify_init1(IN_CLOEXEC) : -1;
    ASSERT_TRUE(watch < 0 || inotify_add_watch(watch, (dir.path() / "img").c_str(), IN_CREATE) >= 0);
    pid_t child = saveInChild();
    ASSERT_GE(child, 0);
    if (watch >= 0) {
      pollfd event{watch, POLLIN, 0};
      poll(&event, 1, 5000);
      close(watch);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<long>(0, long(range))(rng)));
    kill(child, SIGKILL);
    ASSERT_TRUE(reap(child)) << "the save itself failed";

    int temporaries = 0;
    const Files now = testing::filesOf(dir, &temporaries);
    for (const auto& [path, bytes] : now)
      EXPECT_TRUE((before.count(path) && before.at(path) == bytes) || (after.count(path) && after.at(path) == bytes))
          << path << " is torn or unknown: " << bytes.size() << " bytes";
    for (const auto& [path, bytes] : before) EXPECT_TRUE(now.count(path) || !after.count(path)) << path << " is gone";
    if (now == after)
      range = std::max(200.0, range * 0.85);
    else if (now == before && temporaries == 0)
      range = std::min(2 * saveMicros, range * 1.1);
    else
      ++midway;
    LoadResult loaded = loadProject(ProjectFolder(dir.path()));
    const std::string text = buildDataText(loaded.list);
    EXPECT_TRUE(loaded.problems.empty() && (text == before.at("data.txt") || text == after.at("data.txt")));
    if (HasFailure()) return;
  }
  EXPECT_GE(kills, 30);
  EXPECT_GE(midway, kills / 8) << "too few kills landed while files were written";
  // The next save completes over whatever the last kill left.
  CharacterList list = model(true);
  ASSERT_TRUE(testing::saveInto(list, dir).ok());
  int temporaries = 0;
  EXPECT_EQ(testing::filesOf(dir, &temporaries), after);
}

}  // namespace
}  // namespace charstack
