// Working beside a paint program: pictures changed on disk come in, conflicts are the user's choice,
// and saves neither write unchanged pictures nor replace what another program changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <thread>

#include "controller/autosave.hpp"
#include "controller/editor.hpp"
#include "controller/saving.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using namespace charstack::testing;

struct Disk : ::testing::Test {
  Disk() {
    dir.write("data.txt", "Hero,100, 0, 0\n####\nArm,150,1, 0, 0\n$$$$\n");
    dir.write("img/Hero1", testPng(4, 4, 1));
    dir.write("img/Arm2", testPng(4, 4, 2));
    controller = std::make_unique<Editor>(list, state, ProjectFolder(dir.path()));
  }
  std::vector<DiskChange> look() { return controller->disk().apply(scanDisk(controller->store().folder(), controller->disk().scanRequest())); }
  bool shows(uint32_t seed) const { return list.characters[0].image && list.characters[0].image->samePixels(*testImage(4, 4, seed)); }
  int64_t modified(const std::string& file) const {
    struct stat st;
    return ::stat((dir.path() / file).c_str(), &st) == 0 ? st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec : -1;
  }

  TempFolder dir;
  CharacterList list;
  EditorState state;
  std::unique_ptr<Editor> controller;
};

TEST_F(Disk, PicturesReplacedByRenameOrRewrittenInPlaceComeInAndSavesKeepTheirBytes) {
  EXPECT_TRUE(look().empty());
  dir.write("img/.new", testPng(4, 4, 7));
  std::filesystem::rename(dir.path() / "img/.new", dir.path() / "img/Hero1");  // as most programs save
  std::vector<DiskChange> changes = look();
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].kind, DiskChange::Kind::PictureTaken);
  EXPECT_TRUE(shows(7));
  EXPECT_EQ(controller->document().row(Table::Characters, 0).img, list.characters[0].image);
  EXPECT_FALSE(controller->store().hasUnsavedChanges());

  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // past the file system's clock step
  dir.write("img/Hero1", testPng(4, 4, 8));                     // rewritten in place
  ASSERT_EQ(look().size(), 1u);
  EXPECT_TRUE(shows(8));
  const int64_t arm = modified("img/Arm2");
  ASSERT_TRUE(controller->store().save().ok());
  EXPECT_EQ(dir.read("img/Hero1"), testPng(4, 4, 8));
  EXPECT_EQ(modified("img/Arm2"), arm);  // an unchanged save writes no picture
  // A look begun before a save finds the save's own files changed: it is out of date, and dropped.
  const DiskScanRequest request = controller->disk().scanRequest();
  controller->setPicture(Table::Characters, testImage(4, 4, 5));
  ASSERT_TRUE(controller->store().save().ok());
  EXPECT_TRUE(controller->disk().apply(scanDisk(controller->store().folder(), request)).empty());
  EXPECT_TRUE(look().empty());
}

TEST_F(Disk, AChangeOnBothSidesIsTheUsersChoiceAndSavesNeverReplaceChangedFilesUnasked) {
  for (bool takeFile : {true, false}) {
    SCOPED_TRACE(takeFile);
    controller->setPicture(Table::Characters, testImage(4, 4, 5));
    dir.write("img/Hero1", testPng(4, 4, 6 + takeFile));
    std::vector<DiskChange> changes = look();
    ASSERT_EQ(changes.size(), 1u);
    ASSERT_EQ(changes[0].kind, DiskChange::Kind::Conflict);
    controller->disk().resolveConflict(changes[0], takeFile);
    EXPECT_TRUE(shows(takeFile ? 7 : 5));
    EXPECT_TRUE(controller->store().save().ok());
    EXPECT_EQ(dir.read("img/Hero1"), takeFile ? testPng(4, 4, 7) : dir.read("img/Hero1"));
    EXPECT_TRUE(loadProject(controller->store().folder()).list.characters[0].image->samePixels(*testImage(4, 4, takeFile ? 7 : 5)));
  }
  // Unseen by the editor, another program changes the file: the save leaves it unless told.
  controller->setPicture(Table::Characters, testImage(4, 4, 9));
  dir.write("img/Hero1", testPng(4, 4, 10));
  SaveReport saved = controller->store().save();
  EXPECT_EQ(saved.changedOnDisk, std::vector<std::string>{"img/Hero1"});
  EXPECT_EQ(dir.read("img/Hero1"), testPng(4, 4, 10));
  SaveOptions overwrite;
  overwrite.replaceAnyway = {"img/Hero1"};
  EXPECT_TRUE(controller->store().save(overwrite).ok());
  EXPECT_TRUE(loadProject(controller->store().folder()).list.characters[0].image->samePixels(*testImage(4, 4, 9)));
}

// The pictures of a project opened without reading them are checked afterwards: a file that is no
// picture leaves its record without one, unless the user gave the record a picture meanwhile.
TEST_F(Disk, TheLatePictureCheckKeepsAPictureTheUserSetMeanwhile) {
  dir.write("img/Hero1", "not a picture");
  dir.write("img/Arm2", "no picture either");
  CharacterList lazyList;
  EditorState lazyState;
  Editor lazy(lazyList, lazyState, ProjectFolder(dir.path()), nullptr, PictureReading::WhenNeeded);
  const ImageRef mine = testImage(4, 4, 5);
  ASSERT_TRUE(lazy.setPicture(Table::Characters, mine));
  EXPECT_EQ(lazy.store().takePictureChecks(checkPictures(lazy.store().picturesToCheck())).size(), 2u);
  EXPECT_EQ(lazyList.characters[0].image, mine);
  EXPECT_FALSE(lazyList.characters[0].layers[0].image);
  EXPECT_TRUE(lazy.store().hasUnsavedChanges());
}

// A record renamed before its file exists: the file a paint program writes under the new name comes
// in, at once or after the editor noted its absence.
TEST_F(Disk, AFileWrittenUnderANewNameComesInAsItsRecordsPicture) {
  for (const bool lookedBefore : {false, true}) {
    controller->setPicture(Table::Layers, nullptr);
    controller->editCell(Table::Layers, 0, Field::Name, lookedBefore ? "Eye" : "Ear");
    if (lookedBefore) {
      EXPECT_TRUE(look().empty());
    }
    dir.write(lookedBefore ? "img/Eye2" : "img/Ear2", testPng(4, 4, 5 + lookedBefore));
    std::vector<DiskChange> changes = look();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].kind, DiskChange::Kind::PictureTaken);
    EXPECT_TRUE(list.characters[0].layers[0].image->samePixels(*testImage(4, 4, 5 + lookedBefore)));
  }
  EXPECT_TRUE(controller->store().save().ok());
  EXPECT_EQ(dir.read("img/Eye2"), testPng(4, 4, 6));
  // A record with a picture of its own leaves another picture found under its new name to its file,
  // and the save asks before it replaces it.
  controller->editCell(Table::Characters, 0, Field::Name, "Boss");
  dir.write("img/Boss1", testPng(4, 4, 9));
  EXPECT_TRUE(look().empty());
  EXPECT_EQ(controller->store().save().changedOnDisk, std::vector<std::string>{"img/Boss1"});
  EXPECT_EQ(dir.read("img/Boss1"), testPng(4, 4, 9));
}

// Two windows on one project: the second knows it is not the owner, and its save never replaces
// what the first one saved in the meantime.
TEST_F(Disk, ASecondWindowNeverSavesOverTheFirstOnesPictures) {
  CharacterList otherList;
  EditorState otherState;
  Editor other(otherList, otherState, ProjectFolder(dir.path()));
  EXPECT_EQ(controller->store().ownership(), ProjectLock::Ownership::Owned);
  EXPECT_EQ(other.store().ownership(), ProjectLock::Ownership::OwnedByAnother);
  for (auto [window, seed] : {std::pair{controller.get(), 7u}, {&other, 8u}}) {
    window->state().selectedCharacterRow = 0, window->state().selectedLayerRow = -1;
    window->insertLayers({layer("新規レイヤー", 150, testImage(4, 4, seed))});
  }
  ASSERT_TRUE(controller->store().save().ok());
  const SaveReport second = other.store().save();
  EXPECT_FALSE(second.ok());
  EXPECT_EQ(second.changedOnDisk, (std::vector<std::string>{"data.txt", "img/新規レイヤー3"}));
  EXPECT_EQ(dir.read("img/新規レイヤー3"), testPng(4, 4, 7));
}

// The project folder renamed while open: the save writes nothing at the old place, and with the
// user's word, saves at the new one.
TEST_F(Disk, AMovedFolderIsSavedWhereItIsNowOnlyWhenTheUserSaysSo) {
  struct Answers : SaveQuestions {
    bool yes = false;
    bool replaceDataFileWithoutRecords() override { return false; }
    bool replaceChangedFiles(const std::vector<std::string>&) override { return false; }
    bool saveIntoMovedFolder(const std::filesystem::path&) override { return yes; }
    bool writeThroughLinks(const std::vector<std::string>&) override { return false; }
  } answers;
  const std::filesystem::path moved = dir.path().string() + "-moved";
  std::filesystem::rename(dir.path(), moved);
  list.characters[0].value = 7;
  for (const bool yes : {false, true}) {
    answers.yes = yes;
    SaveReport report = saveAsking(controller->store(), answers);
    EXPECT_EQ(report.ok(), yes);
    EXPECT_EQ(report.folderMoved, !yes);
    EXPECT_FALSE(std::filesystem::exists(dir.path()));
  }
  EXPECT_EQ(controller->store().folder().path(), moved);
  EXPECT_EQ(ProjectFolder(moved).readFile("data.txt").value_or("").substr(0, 12), "Hero,7, 0, 0");
  std::filesystem::rename(moved, dir.path());
}

// The recovery is written on another thread while the edits go on (no race under ThreadSanitizer),
// and the last one written is the editor as the edits left it.
TEST_F(Disk, TheRecoveryIsWrittenOnAnotherThreadWhileTheEditsGoOn) {
  int argc = 1;
  char name[] = "disk_test";
  char* argv[] = {name, nullptr};
  // Qt's own event loop, not GLib's: GLib, which ThreadSanitizer cannot see into, would be set up here
  // after the fixture's load started the pool's threads.
  qputenv("QT_NO_GLIB", "1");
  QCoreApplication app(argc, argv);
  const TempFolder states;
  {
    Autosave autosave(*controller, {}, states.path());
    autosave.adopt();
    for (uint32_t i = 0; i < 12; ++i) {
      controller->setPicture(Table::Characters, testImage(161, 120, 100 + i));  // in two stored blocks
      controller->editCell(Table::Characters, 0, Field::Name, "Hero" + std::string(i + 1, 'o'));
      autosave.writeNow();  // while the one before may still be written
      QCoreApplication::processEvents();
    }
    autosave.wait();
    QCoreApplication::processEvents();  // the last write's end
    autosave.writeNow();
    autosave.wait();
  }
  CharacterList restored;
  EditorState restoredState;
  Editor after(restored, restoredState, ProjectFolder(dir.path()));
  const std::optional<RecoveredWork> work = findRecovery(after, recoveryFolderOf(dir.path(), states.path()));
  ASSERT_TRUE(work && work->mismatch.isEmpty() && restoreRecovery(after, *work));
  EXPECT_TRUE(sameModel(restored, list));
  EXPECT_EQ(after.document().history().count(), 24);
}

}  // namespace
}  // namespace charstack
