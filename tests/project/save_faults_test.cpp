// Saving when the disk refuses: a full file system, a read-only project folder or "img/". Every failure is reported with its file and the system's
// reason, nothing is reported as written that was not, and the files not replaced keep their bytes.
//
// Permissions do not stop root, so the faults are real file systems: each test runs in a child
// process with its own mount table (and user namespace when not root), where it mounts a tiny tmpfs
// or a read-only bind mount over its temporary folder. Without mount namespaces the tests skip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>

#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::filesOf;
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
  CharacterList list{{testing::character("Hero", 100, testImage(8, 8, 1)), testing::character("Wolf", 50, testImage(7, 5, 3))}};
  list.characters[0].layers = {testing::layer("Arm", 150, testImage(6, 6, 2))};
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

TEST_F(SaveFaults, ReadOnlyProjectFolderWritesAndDeletesNothingAndSaysSo) {
  run([&] {
    saveOld();
    ASSERT_TRUE(bindMount(dir.path(), dir.path(), true));
    state.pendingImageDeletions = {"Wolf3"};
    SaveReport report = saveNew();
    EXPECT_FALSE(report.dataFileWritten);
    expectProblems(report, allFiles, "Read-only file system");
    EXPECT_EQ(filesOf(dir), oldFiles);
  });
}

TEST_F(SaveFaults, ReadOnlyImageFolderReportsEachPictureAndTheDataFileAsWritten) {
  run([&] {
    saveOld();
    ASSERT_TRUE(bindMount(dir.path() / "img", dir.path() / "img", true));
    list.characters[1].image = nullptr;  // its file would be deleted
    SaveReport report = saveNew();
    expectProblems(report, {"img/Knight1", "img/Arm2"}, "Read-only file system");
    expectProblems(report, {"img/Wolf3"}, "could not be deleted");
    EXPECT_TRUE(report.dataFileWritten);  // "data.txt" is outside "img/"
    oldFiles["data.txt"] = buildDataText(list);
    EXPECT_EQ(filesOf(dir), oldFiles);
    EXPECT_EQ(list.characters[0].savedName, "Hero");  // its picture was not written under the new name
  });
}

}  // namespace
}  // namespace charstack
