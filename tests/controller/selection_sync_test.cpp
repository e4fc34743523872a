// Loading into the table mirrors, table clicks, and the sync tick that copies the selected rows into
// the model.
#include "controller/controller_fixture.hpp"

namespace charstack {
namespace {

using testing::ControllerTest;
using testing::kThreeCharacters;

TEST_F(ControllerTest, LoadFillsTheMirrorsWithTheFirstCharacterSelected) {
  open(kThreeCharacters);
  EXPECT_EQ(notices.pairs(), "MA1 MA2 MA2 MA1 MA1");
  ASSERT_EQ(controller->MA1.size(), 3u);
  EXPECT_EQ(controller->MA1[2], (RowDictionary{"Wolf", "50", std::nullopt, list.characters[2].image}));
  ASSERT_EQ(controller->MA2.size(), 2u);
  EXPECT_EQ(controller->MA2[1], (RowDictionary{"Leg", "120", "1", list.characters[0].layers[1].image}));
  EXPECT_EQ(controller->IV1.image(), list.characters[0].image);
  EXPECT_EQ(controller->IV2.image(), list.characters[0].layers[0].image);
  EXPECT_EQ(state.selectedCharacterRow + state.selectedLayerRow * 10, 0);
  EXPECT_FALSE(controller->hasUnsavedChanges());
}

TEST_F(ControllerTest, CharacterClickRebuildsTheLayerMirror) {
  open(kThreeCharacters);
  notices.log.clear();
  clickCharacter(0);
  EXPECT_EQ(notices.pairs(), "MA2 MA2 MA2");  // emptied, then one row at a time
  EXPECT_FALSE(state.layerSyncSuppressed);   // the same row as before
  EXPECT_TRUE(state.moveCharacter && !state.moveLayer);
  EXPECT_EQ(state.selectedLayerRow, -1);
  clickCharacter(2);  // Wolf has no layers
  EXPECT_TRUE(controller->MA2.empty());
  EXPECT_TRUE(state.layerSyncSuppressed);
  EXPECT_EQ(state.previousCharacterRow, 0);
  tv2.clicked = 1;  // the layers table's reported row is stored as it is
  tv1.click(1);
  EXPECT_EQ(state.selectedLayerRow, 1);
  EXPECT_EQ(*controller->MA2[0].name, "Hat");
  clickCharacter(-1);  // below the last row
  EXPECT_EQ(state.selectedCharacterRow, -1);
  EXPECT_TRUE(controller->MA2.empty());
  clickLayer(-1);
  EXPECT_EQ(state.selectedLayerRow, -1);
  EXPECT_TRUE(state.moveLayer && !state.moveCharacter);
}

TEST_F(ControllerTest, ClickInAnEmptyProjectOnlyRemembersThePreviousRow) {
  start();
  state.selectedCharacterRow = 5;
  clickCharacter(0);
  EXPECT_EQ(state.previousCharacterRow, 5);
  EXPECT_EQ(state.selectedCharacterRow, 5);
  EXPECT_FALSE(state.moveCharacter || state.moveLayer);
  clickLayer(3);
  EXPECT_EQ(state.selectedLayerRow, 3);
}

TEST_F(ControllerTest, TickCopiesTheSelectedRowsIntoTheModel) {
  open(kThreeCharacters);
  controller->MA1[0].value = "42abc";
  controller->MA1[0].name = "Hero2";
  controller->MA2[0].value = "";
  controller->MA1[1].value = "999";  // not selected: waits
  const std::pair<std::optional<std::string>, uint8_t> visible[] = {
      {"2", 1}, {"1", 1}, {" 7", 1}, {"-1", 0}, {"x", 0}, {std::nullopt, 0}};
  for (const auto& [text, expected] : visible) {
    controller->MA2[0].visible = text;
    tick();
    EXPECT_EQ(list.characters[0].layers[0].visible, expected) << text.value_or("(none)");
  }
  EXPECT_EQ(list.characters[0].value, 42);
  EXPECT_EQ(list.characters[0].name, "Hero2");
  EXPECT_EQ(list.characters[0].savedName, "Hero");
  EXPECT_EQ(list.characters[0].layers[0].value, 0);
  EXPECT_EQ(list.characters[1].value, 300);
  EXPECT_EQ(*controller->MA1[0].value, "42abc");  // the table keeps what was typed
  EXPECT_EQ(std::pair(list.characters[0].x, list.characters[0].layers[1].y), std::pair(10, 12));
}

TEST_F(ControllerTest, AfterChangingCharacterOneLayerCopyIsSkipped) {
  open(kThreeCharacters);
  clickCharacter(1);  // Mage; the layers table reports no row
  controller->MA2[0].value = "777";
  tick();  // layer row -1: the skip is kept
  EXPECT_TRUE(state.layerSyncSuppressed);
  clickLayer(0);
  tick();  // used up, nothing copied
  EXPECT_EQ(list.characters[1].layers[0].value, 310);
  tick();
  EXPECT_EQ(list.characters[1].layers[0].value, 777);

  clickCharacter(-1);
  state.selectedLayerRow = 0;
  tick();  // no character: no layer either
  EXPECT_EQ(state.selectedLayerRow, -1);
  clickCharacter(0);
  state.selectedLayerRow = 9;  // past the end: nothing copied, the skip used up
  tick();
  EXPECT_FALSE(state.layerSyncSuppressed);
}

TEST_F(ControllerTest, WellsFollowTheSelectedRowsAndDropsReachTheModel) {
  open(kThreeCharacters);
  ImageRef dropped = testing::testImage(3, 3, 77);
  ASSERT_TRUE(controller->IV2.setImage(dropped));
  ASSERT_TRUE(controller->IV1.setImage(nullptr));  // emptied well
  tick();
  EXPECT_EQ(list.characters[0].layers[0].image, dropped);
  EXPECT_FALSE(list.characters[0].image);
  clickCharacter(-1);
  EXPECT_FALSE(controller->IV1.image());
  EXPECT_FALSE(controller->IV1.setImage(dropped));  // no row: refused
  clickCharacter(1);
  EXPECT_EQ(controller->IV1.image(), list.characters[1].image);
}

TEST_F(ControllerTest, CellEditsRefuseNamesTheFilesCannotHold) {
  open(kThreeCharacters);
  struct Edit {
    Table table;
    int64_t row;
    Field field;
    std::string text;
    bool refused;
  };
  const Edit edits[] = {{Table::Characters, 0, Field::Name, "a,b", true},
                        {Table::Layers, 0, Field::Name, "x####", true},
                        {Table::Layers, 0, Field::Name, "a/b", true},
                        {Table::Layers, 0, Field::Name, std::string(245, 'x'), true},
                        {Table::Layers, 0, Field::Name, std::string(244, 'x'), false},
                        {Table::Characters, 0, Field::Name, "Héros 2", false},
                        {Table::Layers, 1, Field::Visible, "0", false},
                        {Table::Characters, 0, Field::Visible, "0", true},
                        {Table::Characters, 7, Field::Value, "1", true}};
  for (const Edit& e : edits)
    EXPECT_EQ(controller->editCell(e.table, e.row, e.field, e.text).has_value(), e.refused) << e.text;
  EXPECT_EQ(*controller->MA1[0].name, "Héros 2");
  EXPECT_EQ(*controller->MA2[0].name, std::string(244, 'x'));
  tick();
  EXPECT_EQ(list.characters[0].name, "Héros 2");
}

}  // namespace
}  // namespace charstack
