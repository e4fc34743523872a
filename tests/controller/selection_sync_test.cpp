#include "controller/controller_fixture.hpp"

namespace charstack {
namespace {

using testing::ControllerTest;
using testing::kThreeCharacters;

TEST_F(ControllerTest, CharacterClickRebuildsLayerMirrorWithOnePairPerChange) {
  open(kThreeCharacters);
  clickCharacter(0);
  EXPECT_EQ(notices.log, pairs("MA2", 3));  // emptying, then two rows
  ASSERT_EQ(controller->MA2.size(), 2u);
  EXPECT_EQ(*controller->MA2[1].name, "Leg");
  EXPECT_EQ(*controller->MA2[1].visible, "1");
  EXPECT_FALSE(state.layerSyncSuppressed);  // same row as before
  EXPECT_TRUE(state.moveCharacter);
  EXPECT_FALSE(state.moveLayer);
  EXPECT_EQ(state.selectedLayerRow, -1);

  notices.log.clear();
  clickCharacter(2);  // Wolf has no layers
  EXPECT_EQ(notices.log, pairs("MA2", 1));
  EXPECT_TRUE(controller->MA2.empty());
  EXPECT_TRUE(state.layerSyncSuppressed);
  EXPECT_EQ(state.previousCharacterRow, 0);

  tv2.clicked = 1;  // the layers table's reported row is stored as it is
  tv1.click(1);
  EXPECT_EQ(state.selectedLayerRow, 1);
  clickCharacter(-1);  // below the last row
  EXPECT_EQ(state.selectedCharacterRow, -1);
  EXPECT_TRUE(controller->MA2.empty());
  clickLayer(-1);
  EXPECT_EQ(state.selectedLayerRow, -1);
  EXPECT_TRUE(state.moveLayer);
  EXPECT_FALSE(state.moveCharacter);
  EXPECT_EQ(state.selectedCharacterRow, -1);
}

TEST_F(ControllerTest, ClickInEmptyProjectOnlyRemembersThePreviousRow) {
  start();
  state.selectedCharacterRow = 5;
  clickCharacter(0);
  EXPECT_EQ(state.previousCharacterRow, 5);
  EXPECT_EQ(state.selectedCharacterRow, 5);
  EXPECT_FALSE(state.moveCharacter);
  EXPECT_FALSE(state.moveLayer);
  EXPECT_TRUE(notices.log.empty());
  clickLayer(3);  // works in an empty project too
  EXPECT_EQ(state.selectedLayerRow, 3);
  EXPECT_TRUE(state.moveLayer);
}

TEST_F(ControllerTest, TickCopiesSelectedRowsIntoTheModel) {
  open(kThreeCharacters);
  // Before any click the first character and its first layer are selected.
  controller->MA1[0].value = "42abc";
  controller->MA1[0].name = "Hero2";
  controller->MA2[0].visible = "0";
  controller->MA2[0].value = "";
  controller->MA1[1].value = "999";  // not selected: waits
  tick();
  EXPECT_EQ(list.characters[0].value, 42);
  EXPECT_EQ(list.characters[0].name, "Hero2");
  EXPECT_EQ(list.characters[0].savedName, "Hero");
  EXPECT_EQ(list.characters[0].layers[0].visible, 0);
  EXPECT_EQ(list.characters[0].layers[0].value, 0);
  EXPECT_EQ(list.characters[1].value, 300);
  EXPECT_EQ(*controller->MA1[0].value, "42abc");  // the table keeps what was typed

  for (auto [text, expected] : std::vector<std::pair<const char*, uint8_t>>{
           {"2", 1}, {"1", 1}, {"-1", 0}, {"x", 0}, {" 7", 1}}) {
    controller->MA2[0].visible = text;
    tick();
    EXPECT_EQ(list.characters[0].layers[0].visible, expected) << text;
  }
  controller->MA2[0].visible.reset();  // an absent entry reads as 0
  tick();
  EXPECT_EQ(list.characters[0].layers[0].visible, 0);
  controller->MA1[0].value = "99999999999";
  tick();
  EXPECT_EQ(list.characters[0].value, 2147483647);
  // The tick never touches positions.
  EXPECT_EQ(list.characters[0].x, 10);
  EXPECT_EQ(list.characters[0].layers[1].y, 12);
}

TEST_F(ControllerTest, SuppressionSkipsExactlyOneLayerCopyAfterChangingCharacter) {
  open(kThreeCharacters);
  clickCharacter(1);  // Mage; the layers table reports no row
  ASSERT_TRUE(state.layerSyncSuppressed);
  controller->MA2[0].value = "777";
  tick();  // layer row -1: flag kept
  EXPECT_TRUE(state.layerSyncSuppressed);
  EXPECT_EQ(state.selectedLayerRow, -1);
  clickLayer(0);
  tick();  // used up, nothing copied
  EXPECT_FALSE(state.layerSyncSuppressed);
  EXPECT_EQ(list.characters[1].layers[0].value, 310);
  tick();
  EXPECT_EQ(list.characters[1].layers[0].value, 777);
}

TEST_F(ControllerTest, TickWithNoCharacterClearsLayerRowAndKeepsFlag) {
  open(kThreeCharacters);
  clickCharacter(-1);
  state.selectedLayerRow = 0;
  tick();
  EXPECT_EQ(state.selectedLayerRow, -1);
  EXPECT_TRUE(state.layerSyncSuppressed);
  // A layer row past the end copies nothing but clears the flag.
  clickCharacter(0);
  state.selectedLayerRow = 9;
  tick();
  EXPECT_FALSE(state.layerSyncSuppressed);
}

TEST_F(ControllerTest, WellsFollowTheSelectedRowsAndDropsReachTheModel) {
  open(kThreeCharacters);
  EXPECT_EQ(controller->IV1.image(), list.characters[0].image);
  EXPECT_EQ(controller->IV2.image(), list.characters[0].layers[0].image);
  ImageRef dropped = testing::testImage(3, 3, 77);
  ASSERT_TRUE(controller->IV2.setImage(dropped));
  tick();
  EXPECT_EQ(list.characters[0].layers[0].image, dropped);
  ASSERT_TRUE(controller->IV1.setImage(nullptr));  // emptied well
  tick();
  EXPECT_FALSE(list.characters[0].image);

  clickCharacter(-1);
  EXPECT_FALSE(controller->IV1.image());
  EXPECT_FALSE(controller->IV1.setImage(dropped));  // no row: refused
  clickCharacter(1);
  EXPECT_EQ(controller->IV1.image(), list.characters[1].image);
}

TEST_F(ControllerTest, EditCellRefusesNamesTheFilesCannotHold) {
  open(kThreeCharacters);
  EXPECT_TRUE(controller->editCell(Table::Characters, 0, Field::Name, "a,b").has_value());
  EXPECT_TRUE(controller->editCell(Table::Layers, 0, Field::Name, "a/b").has_value());
  EXPECT_TRUE(controller->editCell(Table::Layers, 0, Field::Name, std::string(300, 'x')).has_value());
  EXPECT_EQ(*controller->MA1[0].name, "Hero");
  EXPECT_EQ(*controller->MA2[0].name, "Arm");
  EXPECT_FALSE(controller->editCell(Table::Characters, 0, Field::Name, "Héros 2").has_value());
  EXPECT_FALSE(controller->editCell(Table::Layers, 1, Field::Visible, "0").has_value());
  EXPECT_TRUE(controller->editCell(Table::Characters, 0, Field::Visible, "0").has_value());
  EXPECT_TRUE(controller->editCell(Table::Characters, 7, Field::Value, "1").has_value());
  tick();
  EXPECT_EQ(list.characters[0].name, "Héros 2");
}

TEST_F(ControllerTest, EditsThenSaveReloadAsTheModelWas) {
  open(kThreeCharacters);
  EXPECT_FALSE(controller->hasUnsavedChanges());
  controller->editCell(Table::Characters, 0, Field::Name, "Knight");
  controller->editCell(Table::Characters, 0, Field::Value, "5");
  tick();
  EXPECT_TRUE(controller->hasUnsavedChanges());
  clickCharacter(1);
  clickLayer(0);
  tick();
  tick();
  controller->editCell(Table::Layers, 0, Field::Visible, "0");
  ASSERT_TRUE(controller->IV2.setImage(testing::testImage(6, 2, 99)));
  tick();
  controller->insert1();
  controller->remove2();
  ASSERT_TRUE(controller->saveBtn().ok());
  EXPECT_FALSE(controller->hasUnsavedChanges());

  CharacterList before = list;
  CharacterList reloaded;
  EditorState freshState;
  testing::FakeTimerService freshTimers;
  InitLayer again(reloaded, freshState, ProjectFolder(dir.path()), freshTimers);
  ASSERT_EQ(reloaded.size(), before.size());
  EXPECT_EQ(buildDataText(reloaded), buildDataText(before));
  for (size_t k = 0; k < before.characters.size(); ++k) {
    const Character& a = before.characters[k];
    const Character& b = reloaded.characters[k];
    EXPECT_EQ(static_cast<bool>(a.image), static_cast<bool>(b.image)) << k;
    if (a.image && b.image) {
      EXPECT_TRUE(a.image->samePixels(*b.image)) << k;
    }
    for (size_t m = 0; m < a.layers.size(); ++m) {
      EXPECT_EQ(static_cast<bool>(a.layers[m].image), static_cast<bool>(b.layers[m].image));
      if (a.layers[m].image && b.layers[m].image) {
        EXPECT_TRUE(a.layers[m].image->samePixels(*b.layers[m].image));
      }
    }
  }
}

}  // namespace
}  // namespace charstack
