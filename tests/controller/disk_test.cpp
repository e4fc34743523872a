// Working beside a paint program: pictures changed on disk come in, conflicts are the user's choice,
// and saves neither write unchanged pictures nor replace what another program changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "controller/init_layer.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using namespace charstack::testing;

struct Disk : ::testing::Test {
  Disk() {
    dir.write("data.txt", "Hero,100, 0, 0\n####\nArm,150,1, 0, 0\n$$$$\n");
    dir.write("img/Hero1", testPng(4, 4, 1));
    dir.write("img/Arm2", testPng(4, 4, 2));
    controller = std::make_unique<InitLayer>(list, state, ProjectFolder(dir.path()), timers);
  }
  std::vector<DiskChange> look() { return controller->applyDiskScan(scanDisk(controller->folder(), controller->diskScanRequest())); }
  bool shows(uint32_t seed) const { return list.characters[0].image && list.characters[0].image->samePixels(*testImage(4, 4, seed)); }
  int64_t modified(const std::string& file) const {
    struct stat st;
    return ::stat((dir.path() / file).c_str(), &st) == 0 ? st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec : -1;
  }

  TempFolder dir;
  CharacterList list;
  EditorState state;
  FakeTimerService timers;
  std::unique_ptr<InitLayer> controller;
};

TEST_F(Disk, PicturesReplacedByRenameOrRewrittenInPlaceComeInAndSavesKeepTheirBytes) {
  EXPECT_TRUE(look().empty());
  dir.write("img/.new", testPng(4, 4, 7));
  std::filesystem::rename(dir.path() / "img/.new", dir.path() / "img/Hero1");  // as most programs save
  std::vector<DiskChange> changes = look();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].kind, DiskChange::Kind::PictureTaken);
  EXPECT_TRUE(shows(7));
  EXPECT_EQ(controller->MA1[0].img, list.characters[0].image);  // the tick cannot copy the old one back
  EXPECT_FALSE(controller->hasUnsavedChanges());

  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the file system's clock step
  dir.write("img/Hero1", testPng(4, 4, 8));                     // rewritten in place
  ASSERT_EQ(look().size(), 1u);
  EXPECT_TRUE(shows(8));
  const int64_t arm = modified("img/Arm2");
  ASSERT_TRUE(controller->saveData().ok());
  EXPECT_EQ(dir.read("img/Hero1"), testPng(4, 4, 8));
  EXPECT_EQ(modified("img/Arm2"), arm);  // an unchanged save writes no picture
}

TEST_F(Disk, AChangeOnBothSidesIsTheUsersChoiceAndSavesNeverReplaceChangedFilesUnasked) {
  for (bool takeFile : {true, false}) {
    SCOPED_TRACE(takeFile);
    controller->setPicture(Table::Characters, testImage(4, 4, 5));
    controller->EventLoop();
    dir.write("img/Hero1", testPng(4, 4, 6 + takeFile));
    std::vector<DiskChange> changes = look();
    ASSERT_EQ(changes.size(), 1u);
    ASSERT_EQ(changes[0].kind, DiskChange::Kind::Conflict);
    controller->resolveConflict(changes[0], takeFile);
    controller->EventLoop();
    EXPECT_TRUE(shows(takeFile ? 7 : 5));
    EXPECT_TRUE(controller->saveData().ok());
    EXPECT_EQ(dir.read("img/Hero1"), takeFile ? testPng(4, 4, 7) : dir.read("img/Hero1"));
    EXPECT_TRUE(loadProject(controller->folder()).list.characters[0].image->samePixels(*testImage(4, 4, takeFile ? 7 : 5)));
  }
  // Unseen by the editor, another program changes the file: the save leaves it unless told.
  controller->setPicture(Table::Characters, testImage(4, 4, 9));
  controller->EventLoop();
  dir.write("img/Hero1", testPng(4, 4, 10));
  SaveReport saved = controller->saveData();
  EXPECT_EQ(saved.changedOnDisk, std::vector<std::string>{"img/Hero1"});
  EXPECT_EQ(dir.read("img/Hero1"), testPng(4, 4, 10));
  SaveOptions overwrite;
  overwrite.overwriteChangedFiles = true;
  EXPECT_TRUE(controller->saveData(overwrite).ok());
  EXPECT_TRUE(loadProject(controller->folder()).list.characters[0].image->samePixels(*testImage(4, 4, 9)));
}

}  // namespace
}  // namespace charstack
