// A save killed at any moment leaves every file of the project either as it was or as the save meant
// to write it, never torn, and the folder still opens.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::character;
using testing::layer;
using testing::TempFolder;
using testing::testImage;

// Images big enough that writing them takes a while, so that kills land inside writes too; the
// characters' pictures are much bigger still, as a write cut short by a kill is only seen when the
// write takes long enough to be hit.
ImageRef picture(uint32_t seed) { return testImage(96, 80, seed); }
ImageRef bigPicture(uint32_t seed) { return testImage(640, 480, seed); }

// Records 1-12. The new model changes every picture and number, drops Wolf's picture (its file goes)
// and gives Cape one (a new file), and adds Bat (another new file).
CharacterList oldModel() {
  CharacterList list;
  Character hero = character("Hero", 100, bigPicture(1));
  hero.layers = {layer("Arm", 150, picture(2)), layer("Leg", 120, picture(3)), layer("Arm", 130, picture(4))};
  Character mage = character("Mage", 300, picture(5));
  mage.layers = {layer("Hat", 310, picture(6)), layer("Cape", 320, nullptr), layer("Staff", 330, picture(8))};
  Character wolf = character("Wolf", 50, picture(9));
  wolf.layers = {layer("Tail", 60, picture(10))};
  Character slime = character("スライム", 70, picture(11));
  slime.layers = {layer("目", 80, picture(12))};
  list.characters = {hero, mage, wolf, slime};
  return list;
}

CharacterList newModel() {
  CharacterList list = oldModel();
  uint32_t seed = 100;
  for (Character& c : list.characters) {
    c.value += 1;
    c.x = static_cast<int32_t>(seed);
    if (c.image) c.image = c.image->pixelWidth() > 100 ? bigPicture(seed++) : picture(seed++);
    for (Layer& l : c.layers) {
      l.y = -static_cast<int32_t>(seed);
      l.visible = 0;
      l.image = picture(seed++);
    }
  }
  list.characters[2].image = nullptr;                          // Wolf9
  list.characters.push_back(character("Bat", 5, picture(99)));  // Bat13
  return list;
}

TEST(CrashSafety, KilledSavesLeaveOldOrNewFilesAndTheFolderOpens) {
  TempFolder dir;
  auto savedFresh = [&](CharacterList list) {
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directory(dir.path());
    EXPECT_TRUE(testing::saveInto(list, dir).ok());
    return testing::filesOf(dir);
  };
  const std::map<std::string, std::string> before = savedFresh(oldModel()), after = savedFresh(newModel());
  ASSERT_TRUE(before.count("img/Wolf9") && !after.count("img/Wolf9"));
  ASSERT_TRUE(!before.count("img/Bat13") && after.count("img/Bat13"));
  ASSERT_TRUE(!before.count("img/Cape7") && after.count("img/Cape7"));
  const std::string oldText = before.at("data.txt"), newText = after.at("data.txt");
  ASSERT_NE(oldText, newText);

  auto restoreOld = [&] {
    std::filesystem::remove_all(dir.path());
    for (const auto& [path, bytes] : before) dir.write(path, bytes);
  };
  // Saves the new model over the folder in a child process; nothing but this thread exists when
  // forking: the saver's encoding threads start in the child.
  auto startSaver = [&] {
    pid_t child = fork();
    if (child == 0) {
      CharacterList list = newModel();
      _exit(testing::saveInto(list, dir).ok() ? 0 : 1);
    }
    return child;
  };
  auto reap = [](pid_t child) {
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return !WIFEXITED(status) || WEXITSTATUS(status) == 0;  // false when the save itself failed
  };
  // How long a whole save takes in a child, from the fork on: the middle of three.
  std::vector<long> durations;
  for (int i = 0; i < 3; ++i) {
    restoreOld();
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(reap(startSaver()));
    durations.push_back(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count());
  }
  std::sort(durations.begin(), durations.end());
  const long saveMicros = durations[1];

  const uint32_t seed = 4711;
  std::mt19937 rng(seed);
  // Every other kill comes at a random moment of the whole save. Encoding the pictures takes most of
  // it, so the others wait until the saver creates its first file in "img/" and kill at a random
  // moment after that. The disk's speed varies (other processes sync too), so both ranges follow
  // what the kills find: shorter after a kill that came too late, longer after one that came before
  // anything was written.
  double wholeRange = static_cast<double>(saveMicros);
  double writingRange = static_cast<double>(saveMicros) / 4;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(16);

  int iterations = 0, killedMidway = 0, finished = 0, temporaries = 0;
  for (; iterations < 80 && std::chrono::steady_clock::now() < deadline; ++iterations) {
    SCOPED_TRACE("seed " + std::to_string(seed) + ", kill " + std::to_string(iterations));
    restoreOld();
    const bool afterFirstFile = iterations % 2 == 1;
    double& range = afterFirstFile ? writingRange : wholeRange;
    int watch = afterFirstFile ? inotify_init1(IN_CLOEXEC) : -1;
    ASSERT_TRUE(!afterFirstFile || inotify_add_watch(watch, (dir.path() / "img").c_str(), IN_CREATE) >= 0);
    pid_t child = startSaver();
    ASSERT_GE(child, 0);
    if (watch >= 0) {
      pollfd event{watch, POLLIN, 0};
      poll(&event, 1, 5000);
      close(watch);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(
        std::uniform_int_distribution<long>(0, static_cast<long>(range))(rng)));
    kill(child, SIGKILL);
    ASSERT_TRUE(reap(child)) << "the save itself failed";

    int left = 0;
    const std::map<std::string, std::string> now = testing::filesOf(dir, &left);
    temporaries += left;
    bool allOld = true;
    for (const auto& [path, bytes] : now) {
      auto wasOld = before.find(path);
      auto isNew = after.find(path);
      ASSERT_TRUE(wasOld != before.end() || isNew != after.end()) << "unexpected file " << path;
      bool old = wasOld != before.end() && bytes == wasOld->second;
      bool fresh = isNew != after.end() && bytes == isNew->second;
      EXPECT_TRUE(old || fresh) << path << " is torn: " << bytes.size() << " bytes";
      allOld = allOld && old && !fresh;
    }
    // A file of either project that is gone must be one that the save removes or had not written yet.
    for (const auto& [path, bytes] : before)
      EXPECT_TRUE(now.count(path) || !after.count(path)) << path << " of both projects is gone";
    // A kill inside the writing: some files replaced, or temporary files left that were not put in
    // place yet.
    if (now == after) {
      ++finished;
      range = std::max(200.0, range * 0.85);
    } else if (allOld && left == 0) {
      range = std::min(2.0 * static_cast<double>(saveMicros), range * 1.1);
    } else {
      ++killedMidway;
    }

    // Temporary files of killed writes do not disturb opening the project.
    LoadResult loaded = loadProject(ProjectFolder(dir.path()));
    EXPECT_TRUE(loaded.problems.empty());
    std::string text = buildDataText(loaded.list);
    EXPECT_TRUE(text == oldText || text == newText);
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GE(iterations, 40);
  // Enough kills must land while files are being written, or the test tests little.
  EXPECT_GE(killedMidway, iterations / 8);

  // The next save over whatever the last kill left completes, and leftover temporaries stay harmless.
  CharacterList list = newModel();
  ASSERT_TRUE(testing::saveInto(list, dir).ok());
  int left = 0;
  EXPECT_EQ(testing::filesOf(dir, &left), after);
  std::cout << "[          ] a save takes " << saveMicros << " us; " << iterations << " saves killed: "
            << killedMidway << " while writing files, " << finished << " after the last; " << temporaries
            << " temporary files left by killed writes\n";
}

}  // namespace
}  // namespace charstack
