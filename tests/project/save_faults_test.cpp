// Saving when the disk refuses or the saver is killed. A full file system, a read-only project folder
// or "img/": every failure is reported with its file and the system's reason, nothing is reported as
// written that was not, and the files not replaced keep their bytes.
//
// Permissions do not stop root, so the faults are real file systems: each test runs in a child
// process with its own mount table (and user namespace when not root), where it mounts a tiny tmpfs
// or a read-only bind mount over its temporary folder. Without mount namespaces the tests skip.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::character;
using testing::filesOf;
using testing::layer;
using testing::testImage;

constexpr int kNoNamespace = 77;

bool enterPrivateMountTable() {
  const std::string uid = std::to_string(::geteuid()), gid = std::to_string(::getegid());
  const bool root = ::geteuid() == 0;
  if (::unshare(root ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
  for (const auto& [file, text] : std::vector<std::pair<std::string, std::string>>{
           {"setgroups", "deny"}, {"uid_map", uid + " " + uid + " 1"}, {"gid_map", gid + " " + gid + " 1"}})
    if (!root && !(std::ofstream("/proc/self/" + file) << text << std::flush)) return false;
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool bindMount(const std::filesystem::path& from, const std::filesystem::path& at, bool readOnly) {
  return ::mount(from.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         (!readOnly || ::mount(nullptr, at.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0);
}

// Hero (record 1) with the layer Arm (2), and Wolf (3).
CharacterList oldModel() {
  CharacterList list{{character("Hero", 100, testImage(8, 8, 1)), character("Wolf", 50, testImage(7, 5, 3))}};
  list.characters[0].layers = {layer("Arm", 150, testImage(6, 6, 2))};
  return list;
}

void expectProblems(const SaveReport& report, const std::vector<std::string>& files, const std::string& reason) {
  for (const std::string& file : files) {
    auto p = std::find_if(report.problems.begin(), report.problems.end(), [&](const Problem& p) { return p.file == file; });
    EXPECT_TRUE(p != report.problems.end() && p->reason.find(reason) != std::string::npos) << "no \"" << reason << "\" for " << file;
  }
}

// Runs each body in a child process with its own mount table; the child prints its failures.
struct SaveFaults : ::testing::Test {
  void run(const std::function<void()>& body) {
    std::fflush(stdout);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (!enterPrivateMountTable()) _exit(kNoNamespace);
      body();
      std::fflush(stdout);
      _exit(HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_TRUE(::waitpid(child, &status, 0) == child && WIFEXITED(status)) << "the test's child process crashed";
    if (WEXITSTATUS(status) == kNoNamespace) GTEST_SKIP() << "no private mount table here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child process reported the failures above";
  }
  // Saves the old model; the editor then holds the new one: Hero renamed Knight, every picture and
  // depth changed.
  void saveOld() {
    EXPECT_TRUE(testing::saveInto(old, dir).ok());
    oldFiles = filesOf(dir);
    list = old;
    list.characters[0].name = "Knight";
    forEachRecord(list, [](auto& r, int64_t number, auto...) { r.image = testImage(5, 5, uint32_t(10 + number)), ++r.value; });
  }
  SaveReport saveNew() { return saveProject(list, state, ProjectFolder(dir.path())); }

  testing::TempFolder dir;
  CharacterList old = oldModel(), list;
  EditorState state;
  std::map<std::string, std::string> oldFiles;
  const std::vector<std::string> allFiles = {"img/Knight1", "img/Arm2", "img/Wolf3", "data.txt"};
};

TEST_F(SaveFaults, FullDiskReportsEveryFileKeepsTheOldBytesAndTheNextSaveWorks) {
  run([&] {
    ASSERT_EQ(::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=256k"), 0);
    saveOld();
    int fd = ::open((dir.path() / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    for (size_t n = 4096; n > 0; n /= 2)  // take every byte that is left
      while (::write(fd, std::string(n, 'f').data(), n) == ssize_t(n)) continue;
    ::close(fd);
    oldFiles["filler"] = dir.read("filler");
    SaveReport report = saveNew();
    EXPECT_FALSE(report.refused || report.dataFileWritten);
    expectProblems(report, allFiles, "No space left on device");
    // The renamed record's picture stays where the old data.txt finds it; no temporary file is left.
    EXPECT_EQ(filesOf(dir), oldFiles);
    EXPECT_EQ(list.characters[0].savedName, "Hero");
    testing::expectLoadsAs(dir, old);

    std::filesystem::remove(dir.path() / "filler");
    EXPECT_TRUE(saveNew().ok());
    EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"Arm2", "Knight1", "Wolf3"}));
    testing::expectLoadsAs(dir, list);
  });
}

TEST_F(SaveFaults, ReadOnlyFoldersReportEveryFileAndKeepItsBytes) {
  run([&] {
    saveOld();
    ASSERT_TRUE(bindMount(dir.path(), dir.path(), true));
    state.pendingImageDeletions = {"Wolf3"};
    SaveReport report = saveNew();
    EXPECT_FALSE(report.dataFileWritten);
    expectProblems(report, allFiles, "Read-only file system");
    EXPECT_EQ(filesOf(dir), oldFiles);

    // Only "img/" read-only: "data.txt" is written, and the report says so.
    ASSERT_TRUE(::umount(dir.path().c_str()) == 0 && bindMount(dir.path() / "img", dir.path() / "img", true));
    list.characters[1].image = nullptr;  // its file would be deleted
    report = saveNew();
    expectProblems(report, {"img/Knight1", "img/Arm2"}, "Read-only file system");
    expectProblems(report, {"img/Wolf3"}, "could not be deleted");
    EXPECT_TRUE(report.dataFileWritten);
    oldFiles["data.txt"] = buildDataText(list);
    EXPECT_EQ(filesOf(dir), oldFiles);
    EXPECT_EQ(list.characters[0].savedName, "Hero");  // its picture was not written under the new name
  });
}

// A save killed at any moment leaves every file as it was or as the save meant to write it, never
// torn, and the folder still opens.
using Files = std::map<std::string, std::string>;

// Records Hero1 Arm2 Leg3 Mage4 Hat5 Cape6 Wolf7 (Bat8). The new model changes every picture and
// depth, takes Wolf's picture away (its file goes), gives Cape one and adds Bat (new files). Hero's
// picture is big, so that kills land inside a write too.
CharacterList model(bool changed) {
  uint32_t seed = changed ? 100 : 1;
  auto picture = [&](int scale = 1) { return testImage(96 * scale, 80 * scale, seed++); };
  Character hero = character("Hero", 100 + changed, picture(6));
  hero.layers = {layer("Arm", 150 + changed, picture()), layer("Leg", 120, picture())};
  Character mage = character("Mage", 300, picture());
  mage.layers = {layer("Hat", 310, picture()), layer("Cape", 320, changed ? picture() : nullptr)};
  CharacterList list{{hero, mage, character("Wolf", 50, changed ? nullptr : picture())}};
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
