// The files of img/ that no record refers to once a project with renames and removals is saved.
#include "project/unused_images.hpp"

#include <gtest/gtest.h>

#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;
using testing::testPng;

TEST(UnusedImages, AfterARenameAndARemovalTheSavedProjectListsWhatNoRecordUses) {
  TempFolder dir;
  dir.write("data.txt", "a,100, 0, 0\n####\nl,100,1, 0, 0\n$$$$\nb,100, 0, 0\n####\nm,100,1, 0, 0\n$$$$\n");
  for (const char* name : {"img/a1", "img/l2", "img/b3", "img/m4", "img/stray9"})
    dir.write(name, testPng(4, 4, 1));
  dir.write("img/junk", "not a picture");
  const ProjectFolder folder(dir.path());
  LoadResult loaded = loadProject(folder);
  EditorState state = stateAfterLoad(loaded);
  CharacterList& list = loaded.list;

  // "a" becomes "z"; its layer "l" goes, so "b" and "m" move up to records 2 and 3.
  list.characters[0].name = "z";
  list.characters[0].layers.clear();
  state.pendingImageDeletions.push_back("l2");
  ASSERT_TRUE(saveProject(list, state, folder).ok());
  // The renumbered files moved: no copy stays under the old numbers.
  ASSERT_EQ(dir.list("img"), (std::vector<std::string>{"b2", "junk", "m3", "stray9", "z1"}));

  const auto unused = listUnusedImageFiles(list, folder);
  ASSERT_TRUE(unused);
  std::vector<std::string> names;
  for (const UnusedImageFile& f : *unused) names.push_back(f.fileName);
  EXPECT_EQ(names, (std::vector<std::string>{"junk", "stray9"}));
  for (const UnusedImageFile& f : *unused)
    EXPECT_EQ(f.picture == nullptr, f.fileName == "junk") << f.fileName;
  EXPECT_FALSE(unused->at(0).problem.empty());

  // Another program adds a record whose file is one of those; the editor kept its own records (the
  // reload was declined): nothing can be called unused until the two agree again.
  EXPECT_EQ(whyUnusedImagesCannotBeTold(list, folder), "");
  dir.write("data.txt", buildDataText(list) + "stray,9, 0, 0\n####\n$$$$\n");
  EXPECT_NE(whyUnusedImagesCannotBeTold(list, folder), "");

  // An img/ that leads to another folder: nothing there is this project's to clean up.
  dir.write("data.txt", buildDataText(list));
  const std::filesystem::path outside = dir.path().string() + "-pictures";
  std::filesystem::rename(dir.path() / "img", outside);
  std::filesystem::create_directory_symlink(outside, dir.path() / "img");
  EXPECT_NE(whyUnusedImagesCannotBeTold(list, folder).find("leads out of the project"), std::string::npos);
  std::filesystem::remove_all(outside);
}

}  // namespace
}  // namespace charstack
