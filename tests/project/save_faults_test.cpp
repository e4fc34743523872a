// Saving when the disk refuses: a full file system, a read-only project folder, a read-only "img/",
// a "data.txt" that cannot be replaced. Every failure is reported with its file and reason, nothing
// is reported as written that was not, and the files the save could not replace keep their bytes.
//
// The tests run as root, which permissions do not stop, so the faults are real file systems: each
// test runs in a child process with its own mount table (a user namespace too when not root), where
// it mounts a tiny tmpfs or a read-only bind mount over its temporary folder. Where the system allows
// no mount namespace the tests are skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "controller/controller_fixture.hpp"
#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::character;
using testing::filesOf;
using testing::TempFolder;
using testing::testImage;
using testing::testPng;

constexpr int kNoNamespace = 77;

bool writeProcFile(const char* path, const std::string& text) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) ::close(fd);
  return ok;
}

bool enterPrivateMountTable() {
  const std::string uid = std::to_string(::geteuid()), gid = std::to_string(::getegid());
  const bool root = ::geteuid() == 0;
  if (::unshare(root ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
  if (!root && (!writeProcFile("/proc/self/setgroups", "deny") ||
                !writeProcFile("/proc/self/uid_map", uid + " " + uid + " 1") ||
                !writeProcFile("/proc/self/gid_map", gid + " " + gid + " 1")))
    return false;
  // Mounts made from here on stay in this process.
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

bool bindMount(const std::filesystem::path& from, const std::filesystem::path& at, bool readOnly) {
  return ::mount(from.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         (!readOnly || ::mount(nullptr, at.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0);
}

// Hero (record 1) with the layer Arm (2), and Wolf (3).
CharacterList oldModel() {
  CharacterList list;
  Character hero = character("Hero", 100, testImage(8, 8, 1));
  hero.layers.push_back(testing::layer("Arm", 150, testImage(6, 6, 2)));
  list.characters = {hero, character("Wolf", 50, testImage(7, 5, 3))};
  return list;
}

void expectProblem(const SaveReport& report, const std::string& file, const std::string& reason) {
  for (const Problem& p : report.problems)
    if (p.file == file) {
      EXPECT_NE(p.reason.find(reason), std::string::npos) << file << ": " << p.reason;
      return;
    }
  ADD_FAILURE() << "no problem reported for " << file;
}

// Runs each test's body in a child process with its own mount table. The child's failures are
// printed by the child; the parent fails when the child did, and skips when no mount table of its own
// can be had. Nothing but the test's thread exists at the fork: the saver starts its threads in the child.
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
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the test's child process crashed";
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
    list.characters[0].image = testImage(8, 8, 11);
    list.characters[0].layers[0].image = testImage(6, 6, 12);
    list.characters[1].image = testImage(7, 5, 13);
    for (Character& c : list.characters) c.value += 1;
  }
  SaveReport saveNew() { return saveProject(list, state, ProjectFolder(dir.path())); }

  TempFolder dir;
  CharacterList old = oldModel(), list;
  EditorState state;
  std::map<std::string, std::string> oldFiles;
};

TEST_F(SaveFaults, FullDiskReportsEveryFileKeepsTheOldBytesAndTheNextSaveWorks) {
  run([&] {
    ASSERT_EQ(::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=256k"), 0);
    saveOld();
    // Take every byte that is left.
    int fd = ::open((dir.path() / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const std::string block(4096, 'f');
    for (size_t n = block.size(); n > 0; n /= 2)
      while (::write(fd, block.data(), n) == static_cast<ssize_t>(n)) {
      }
    ::close(fd);
    oldFiles["filler"] = dir.read("filler");
    SaveReport report = saveNew();
    EXPECT_FALSE(report.ok());
    EXPECT_FALSE(report.refused);
    EXPECT_FALSE(report.dataFileWritten);
    for (const char* file : {"img/Knight1", "img/Arm2", "img/Wolf3", "data.txt"})
      expectProblem(report, file, "No space left on device");
    // The renamed record's picture stays where the old data file finds it; no temporary file is left.
    EXPECT_EQ(filesOf(dir), oldFiles);
    EXPECT_EQ(list.characters[0].savedName, "Hero");
    testing::expectLoadsAs(dir, old);

    // Once there is room again, the same model saves completely.
    std::filesystem::remove(dir.path() / "filler");
    EXPECT_TRUE(saveNew().ok());
    EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"Arm2", "Knight1", "Wolf3"}));
    testing::expectLoadsAs(dir, list);
  });
}

TEST_F(SaveFaults, ReadOnlyProjectFolderWritesAndDeletesNothingAndSaysSo) {
  TempFolder fresh;
  run([&] {
    saveOld();
    ASSERT_TRUE(bindMount(dir.path(), dir.path(), true));
    state.pendingImageDeletions = {"Gone4"};
    SaveReport report = saveNew();
    EXPECT_FALSE(report.dataFileWritten);
    for (const char* file : {"img/Knight1", "img/Arm2", "img/Wolf3", "data.txt"})
      expectProblem(report, file, "Read-only file system");
    EXPECT_EQ(filesOf(dir), oldFiles);
    testing::expectLoadsAs(dir, old);

    // A project folder that has no "img/" yet, on a read-only file system: the folder is reported.
    ASSERT_TRUE(bindMount(fresh.path(), fresh.path(), true));
    CharacterList first = oldModel();
    SaveReport none = testing::saveInto(first, fresh);
    EXPECT_FALSE(none.dataFileWritten);
    expectProblem(none, "img/", "Read-only file system");
    expectProblem(none, "data.txt", "Read-only file system");
    EXPECT_TRUE(fresh.list("").empty());
  });
}

TEST_F(SaveFaults, ReadOnlyImageFolderReportsEachPictureAndTheDataFileAsWritten) {
  run([&] {
    saveOld();
    ASSERT_TRUE(bindMount(dir.path() / "img", dir.path() / "img", true));
    list.characters[1].image = nullptr;  // its file would be deleted
    SaveReport report = saveNew();
    EXPECT_FALSE(report.ok());
    for (const char* file : {"img/Knight1", "img/Arm2"}) expectProblem(report, file, "Read-only file system");
    expectProblem(report, "img/Wolf3", "could not be deleted");
    // "data.txt" is outside "img/": it was written, and the report says so.
    EXPECT_TRUE(report.dataFileWritten);
    EXPECT_EQ(dir.read("data.txt"), buildDataText(list));
    // Every picture file keeps its old bytes; the renamed record still knows its old file.
    oldFiles.erase("data.txt");
    std::map<std::string, std::string> now = filesOf(dir);
    now.erase("data.txt");
    EXPECT_EQ(now, oldFiles);
    EXPECT_EQ(list.characters[0].savedName, "Hero");
  });
}

TEST_F(SaveFaults, DataFileThatCannotBeReplacedIsReportedAndKeepsItsBytes) {
  run([&] {
    saveOld();
    // A file mounted over "data.txt": renaming onto it fails (EBUSY), everything else works.
    dir.write("elsewhere/data.txt", oldFiles.at("data.txt"));
    ASSERT_TRUE(bindMount(dir.path() / "elsewhere/data.txt", dir.path() / "data.txt", false));
    list.characters[0].name = "Hero";  // pictures change, names stay
    SaveReport report = saveNew();
    EXPECT_FALSE(report.dataFileWritten);
    ASSERT_EQ(report.problems.size(), 1u);
    expectProblem(report, "data.txt", "busy");
    EXPECT_EQ(dir.read("data.txt"), oldFiles.at("data.txt"));
    for (const std::string& name : dir.list("")) EXPECT_NE(name.front(), '.') << name << " was left behind";
    EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"Arm2", "Hero1", "Wolf3"}));
  });
}

using SaveOutsideImages = testing::ControllerTest;

// Hand-edited names that would leave "img/": nothing outside "img/" or in a folder below it is read,
// written or deleted, the records keep their lines, and both loading and saving name them.
TEST_F(SaveOutsideImages, NamesWithSlashesStayOutOfOtherFolders) {
  const std::string text = "a/b,1, 0, 0\n####\n../x,2,1, 0, 0\n$$$$\nok,3, 0, 0\n####\n$$$$\n";
  dir.write("data.txt", text);
  dir.write("img/a/b1", testPng(3, 3, 1));  // what "img/" + "a/b" + 1 names
  dir.write("x2", "outside the image folder");
  dir.write("img/ok3", testPng(2, 2, 3));

  start();
  ASSERT_EQ(list.size(), 2);
  EXPECT_FALSE(list.characters[0].image);
  EXPECT_FALSE(list.characters[0].layers[0].image);
  EXPECT_TRUE(list.characters[1].image);
  ASSERT_EQ(controller->loadProblems().size(), 2u);
  EXPECT_NE(controller->loadProblems()[0].file.find("\"a/b\""), std::string::npos);
  EXPECT_NE(controller->loadProblems()[1].file.find("\"../x\""), std::string::npos);

  // Pictures given to them are not written; removing them deletes nothing.
  state.selectedCharacterRow = 0;
  state.selectedLayerRow = 0;
  ASSERT_TRUE(controller->IV1.setImage(testImage(2, 2, 7)));
  ASSERT_TRUE(controller->IV2.setImage(testImage(2, 2, 8)));
  controller->EventLoop();
  ASSERT_TRUE(list.characters[0].image && list.characters[0].layers[0].image);
  SaveReport kept = controller->saveData();
  EXPECT_TRUE(kept.dataFileWritten);
  EXPECT_EQ(kept.problems.size(), 2u);
  EXPECT_EQ(dir.read("data.txt"), text);
  controller->remove1();
  SaveReport removed = controller->saveData();
  EXPECT_TRUE(removed.dataFileWritten);
  EXPECT_EQ(removed.problems.size(), 2u);  // neither "img/a/b1" nor "img/../x2" was deleted
  EXPECT_EQ(dir.read("img/a/b1"), testPng(3, 3, 1));
  EXPECT_EQ(dir.read("x2"), "outside the image folder");
  EXPECT_EQ(dir.list(""), (std::vector<std::string>{"data.txt", "img", "x2"}));
  // "ok" moved from number 3 to 1; its file under the former number stays, as after any renumbering.
  EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"a", "ok1", "ok3"}));
}

TEST_F(SaveOutsideImages, UndecodableImageReachesTheControllersProblemsAndSurvivesSaves) {
  dir.write("data.txt", "Hero,1, 0, 0\n####\nArm,1,1, 0, 0\n$$$$\n");
  dir.write("img/Hero1", "GIF89a, cut short");
  dir.write("img/Arm2", testPng(2, 2, 2));
  start();
  ASSERT_EQ(controller->loadProblems().size(), 1u);
  EXPECT_EQ(controller->loadProblems()[0].file, "img/Hero1");
  EXPECT_FALSE(list.characters[0].image);

  // Renaming the record and removing its layer touch neither the file nor its bytes.
  state.selectedCharacterRow = 0;
  state.selectedLayerRow = 0;
  ASSERT_FALSE(controller->editCell(Table::Characters, 0, Field::Name, "Knight").has_value());
  controller->EventLoop();
  ASSERT_EQ(list.characters[0].name, "Knight");
  controller->remove2();
  SaveReport report = controller->saveData();
  EXPECT_TRUE(report.dataFileWritten);
  EXPECT_EQ(dir.read("img/Hero1"), "GIF89a, cut short");
  EXPECT_FALSE(dir.exists("img/Arm2"));
  EXPECT_EQ(dir.read("data.txt"), "Knight,1, 0, 0\n####\n$$$$\n");
}

}  // namespace
}  // namespace charstack
