// The controller: loading into the tables, clicks and selections of several layers, cell edits, and
// the record actions (insert, remove, reorder, duplicate, cut, copy, paste, pictures, show or hide)
// with the selection each leaves, the image files a removal queues for deletion (under the numbers
// the records have when removed), their undo and redo, and a save that loads back as the model.
#include <QLocale>
#include <sstream>

#include "canvas/canvas_scene.hpp"
#include "controller/recovery.hpp"
#include "project/transfer.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::ControllerTest;
using testing::kThreeCharacters;

struct Row {
  const char* data;
  // c<row>, l<row>[:<rows selected>]: click a character or layer row; i1 i2 r1 r2: insert, remove;
  // u1 u2 d1 d2: move up, down; m1:<rows>><row>, m2:...: drag rows before a row; D1 D2: duplicate;
  // x1 x2 y1 y2: cut, copy; p: paste; P: paste the copied records' bytes; e1=<name> e2=<name>: rename
  // the selected character or layer; a1 a2: a picture dropped on a table; h: show or hide; n: nudge;
  // z Z: undo, redo; s: save
  const char* steps;
  const char* tree;       // the records afterwards
  const char* selected;   // the selected character and layers afterwards
  const char* undo;       // the name of the step Undo takes back
  const char* deletions;  // image files queued for deletion, in order (saved ones included)
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.steps; }

const char* kFiveLayers = "Hero,1, 0, 0\n####\nA,1,1, 0, 0\nB,1,1, 0, 0\n$$$$\nMage,1, 0, 0\n####\nC,1,1, 0, 0\n"
                          "D,1,1, 0, 0\nE,1,1, 0, 0\n$$$$\n";
const char* kFourLayers = "K,1, 0, 0\n####\nA,1,1, 0, 0\nB,2,0, 1, 1\nC,3,1, 2, 2\nD,4,1, 3, 3\n$$$$\n";
const Row kRows[] = {
    {"", "i2", "", "c0 l", "", ""},
    {"", "i1 i2", "New Character[New Layer-]", "c0 l0", "Insert Layer", ""},
    {"", "a2", "pic*[]", "c0 l", "Add Character from Picture", ""},
    {kThreeCharacters, "c0 i1", "New Character[] Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c0 l",
     "Insert Character", ""},
    // Every edit after an insert goes to the new record, which the tables show selected.
    {kThreeCharacters, "c0 i1 e1=Knight i2 e2=Sword", "Knight[Sword-] Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]",
     "c0 l0", "Rename Layer", ""},
    {kThreeCharacters, "c0 l0 i2", "Hero*[New Layer-,Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c0 l0", "Insert Layer",
     ""},
    {kThreeCharacters, "c0 i1 c2 z Z", "New Character[] Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c0 l",
     "Insert Character", ""},
    // An insert taken back leaves no file to delete; one a save wrote is deleted by the next save.
    {kThreeCharacters, "c0 a1 z", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c0 l", "", ""},
    {kThreeCharacters, "c2 a1 s z", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c2 l", "", "pic7"},
    {kThreeCharacters, "c2 a2", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[pic*]", "c2 l0", "Add Layer from Picture",
     ""},
    // A removal selects the record that takes the place of the removed one.
    {kThreeCharacters, "c0 l1 r1 i2", "Mage*[Hat*,New Layer-] Wolf*[]", "c0 l1", "Insert Layer",
     "Hero1 Arm2 Leg3"},
    {"A,1, 0, 0\n####\n$$$$\nB,1, 0, 0\n####\n$$$$\nC,1, 0, 0\n####\n$$$$\n", "c1 r1 r1 r1", "", "c-1 l",
     "Remove Character", "B2 C2 A1"},
    {kThreeCharacters, "c-1 r1 c0 r1 s", "Mage*[Hat*]", "c0 l", "Remove Character", "Wolf6 Hero1 Arm2 Leg3"},
    {kFiveLayers, "c1 l2 r2 l-1 r2 r2 r2 r1 r2", "Hero*[A*]", "c0 l0", "Remove Layer", "E7 D6 C5 Mage4 B3"},
    {kFiveLayers, "c1 l0:0,2 r2", "Hero*[A*,B*] Mage*[D*]", "c1 l0", "Remove Layers", "E7 C5"},
    {kThreeCharacters, "c2 r2", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c2 l", "", ""},
    // Reordering: the moved records stay selected, and the layers table goes on showing its character.
    {kThreeCharacters, "c2 u1 u1 u1", "Wolf*[] Hero*[Arm*,Leg*] Mage*[Hat*]", "c0 l", "Move Character Up",
     ""},
    {kThreeCharacters, "c0 d1", "Mage*[Hat*] Hero*[Arm*,Leg*] Wolf*[]", "c1 l", "Move Character Down", ""},
    {kFourLayers, "c0 l3:1,3 u2", "K*[B*-,A*,D*,C*]", "c0 l0,2", "Move Layers Up", ""},
    {kFourLayers, "c0 l2:1,2 d2 d2", "K*[A*,D*,B*-,C*]", "c0 l2,3", "Move Layers Down", ""},
    {kFourLayers, "c0 m2:0,1>4", "K*[C*,D*,A*,B*-]", "c0 l2,3", "Reorder Layers", ""},
    {kFourLayers, "c0 m2:3>3 m2:2>3", "K*[A*,B*-,C*,D*]", "c0 l", "", ""},
    {kThreeCharacters, "m1:0>3", "Mage*[Hat*] Wolf*[] Hero*[Arm*,Leg*]", "c2 l", "Reorder Characters", ""},
    // Copies share their pictures and come right after the originals.
    {kThreeCharacters, "c0 D1", "Hero*[Arm*,Leg*] Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c1 l",
     "Duplicate Character", ""},
    {kFourLayers, "c0 l1:1,3 D2", "K*[A*,B*-,C*,D*,B*-,D*]", "c0 l4,5", "Duplicate Layers", ""},
    {kThreeCharacters, "c0 l0 x2 c1 p", "Hero*[Leg*] Mage*[Hat*,Arm*] Wolf*[]", "c1 l1", "Paste Layer",
     "Arm2"},
    {kThreeCharacters, "c0 y1 c2 P", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[] Hero*[Arm*,Leg*]", "c3 l",
     "Paste Character", ""},
    {kFourLayers, "c0 l0:0,3 y2 l1 P", "K*[A*,B*-,A*,D*,C*,D*]", "c0 l2,3", "Paste Layers", ""},
    {kThreeCharacters, "c1 x1 z", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c1 l", "", ""},
    // Cut and pasted back where it was: the queued files hold its pictures again, and stay.
    {kThreeCharacters, "c1 x1 c0 p", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c1 l", "Paste Character", "Mage4 Hat5"},
    {kFourLayers, "c0 l1:0,1 h l0:0,1 h", "K*[A*-,B*-,C*,D*]", "c0 l0,1", "Hide Layers", ""},
    // Nudges of one record are one step; of another record, a step of their own.
    {kThreeCharacters, "c0 n n c1 n z", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "c1 l", "Move Character", ""},
};

// Every record's picture is the one its name had when the project was opened: shared, never lost.
void expectPicturesKept(const CharacterList& opened, const CharacterList& now, bool shared) {
  std::map<std::string, ImageRef> pictures;
  forEachRecord(opened, [&](const auto& r, auto...) { pictures[r.name] = r.image; });
  forEachRecord(now, [&](const auto& r, auto...) {
    const auto known = pictures.find(r.name);
    if (known == pictures.end()) return;
    if (shared)
      EXPECT_EQ(r.image, known->second) << r.name;
    else
      EXPECT_TRUE(r.image && r.image->samePixels(*known->second)) << r.name;
  });
}

struct Actions : ControllerTest, ::testing::WithParamInterface<Row> {};

TEST_P(Actions, LeaveTheRecordsSelectionAndHistoryThatUndoRedoSaveAndLoadKeep) {
  const Row& row = GetParam();
  open(row.data);
  const CharacterList opened = list;
  RecordSet clipboard;
  std::vector<std::string> deleted;
  std::istringstream steps(row.steps);
  for (std::string s; steps >> s;) {
    const Table table = s.size() > 1 && s[1] == '2' ? Table::Layers : Table::Characters;
    auto rows = [](const std::string& text) {
      std::vector<int64_t> out;
      std::istringstream in(text);
      for (std::string r; std::getline(in, r, ',');) out.push_back(std::stoll(r));
      return out;
    };
    const size_t colon = s.find(':'), to = s.find('>');
    if (s[0] == 'c') clickCharacter(std::stoll(s.substr(1)));
    if (s[0] == 'l')
      clickLayer(std::stoll(s.substr(1)),
                 colon == std::string::npos ? std::nullopt : std::optional(rows(s.substr(colon + 1))));
    if (s[0] == 'i') table == Table::Characters ? controller->insertCharacter() : controller->insertLayer();
    if (s[0] == 'r') table == Table::Characters ? controller->removeCharacter() : controller->removeLayers();
    if (s[0] == 'u' || s[0] == 'd') controller->moveSelected(table, s[0] == 'u' ? -1 : 1);
    if (s[0] == 'm') controller->moveRows(table, rows(s.substr(3, to - 3)), std::stoll(s.substr(to + 1)));
    if (s[0] == 'D') controller->duplicate(table);
    if (s[0] == 'x') clipboard = controller->cut(table);
    if (s[0] == 'y') clipboard = controller->copyRecords(table);
    if (s == "p") controller->paste(clipboard);
    if (s == "P") controller->paste(parseRecords(*serializeRecords(clipboard)).value());
    if (s[0] == 'e') {
      const int64_t selected =
          table == Table::Characters ? state.selectedCharacterRow : state.selectedLayerRow;
      EXPECT_FALSE(controller->editCell(table, selected, Field::Name, s.substr(3)));
    }
    if (s[0] == 'a') controller->insertPictures(table, {{"pic", testing::testImage(3, 3, 99)}});
    if (s == "h") controller->showHideSelected();
    if (s == "n") controller->moves().nudge(1, 0);
    if (s == "z" || s == "Z") s == "z" ? controller->document().history().undo() : controller->document().history().redo();
    if (s == "s") deleted = state.pendingImageDeletions, controller->store().save();
  }
  deleted.insert(deleted.end(), state.pendingImageDeletions.begin(), state.pendingImageDeletions.end());
  EXPECT_EQ(tree(), row.tree);
  std::string selected("c");
  selected.append(std::to_string(state.selectedCharacterRow)).append(" l");
  for (int64_t r : controller->selection().selectedLayers()) selected += std::to_string(r) + ",";
  EXPECT_EQ(selected.substr(0, selected.size() - (selected.back() == ',')), row.selected);
  // The layers table shows the selected character's layers.
  const int64_t k = state.selectedCharacterRow;
  EXPECT_EQ(controller->document().layerTableCharacter(), k >= 0 && k < list.size() ? k : -1);
  EXPECT_EQ(controller->document().history().undoText().toStdString(), row.undo);
  std::string queued;
  for (const std::string& file : deleted) queued += (queued.empty() ? "" : " ") + file;
  EXPECT_EQ(queued, row.deletions);
  expectPicturesKept(opened, list, std::string(row.steps).find('P') == std::string::npos);
  // Unsaved changes are any change of a record (its visibility too) or a file queued for deletion.
  const bool saved = std::string(row.steps).find('s') != std::string::npos;
  EXPECT_TRUE(saved || controller->store().hasUnsavedChanges() ==
                           (!testing::sameModel(list, opened) || !state.pendingImageDeletions.empty()));

  // Back to the start and forward again; then the folder holds the model: names, numbers, pixels.
  const CharacterList done = list;
  QUndoStack& history = controller->document().history();
  const int here = history.index();
  history.setIndex(0);
  EXPECT_TRUE(testing::sameModel(list, opened)) << buildDataText(list);
  EXPECT_TRUE(saved || !controller->store().hasUnsavedChanges());
  history.setIndex(here);
  EXPECT_TRUE(testing::sameModel(list, done)) << buildDataText(list);
  ASSERT_TRUE(controller->store().save().ok());
  testing::expectLoadsAs(dir, list);
}

INSTANTIATE_TEST_SUITE_P(Rows, Actions, ::testing::ValuesIn(kRows));

// What the menus and buttons offer: nothing that cannot act.
TEST_F(ControllerTest, ActionsAreOfferedOnlyWhenTheyCanAct) {
  struct Case {
    const char* data;
    int64_t click;  // a character row, before the layers
    const char* enabled;
  } cases[] = {
      {"", 0, "C:I L:"},
      {kThreeCharacters, 0, "C:I R d D c L:I R d D c h"},
      {kThreeCharacters, -1, "C:I R L:"},
      {kThreeCharacters, 2, "C:I R u D c L:I"},
  };
  using A = Action;
  const std::pair<A, const char*> actions[] = {{A::Insert, "I"},   {A::Remove, "R"},    {A::MoveUp, "u"},
                                               {A::MoveDown, "d"}, {A::Duplicate, "D"}, {A::Copy, "c"},
                                               {A::ShowHide, "h"}};
  for (const Case& c : cases) {
    open(c.data);
    clickCharacter(c.click);
    if (c.click >= 0 && controller->document().rowCount(Table::Layers) > 0) clickLayer(0);
    std::string enabled;
    for (Table table : {Table::Characters, Table::Layers}) {
      enabled += table == Table::Characters ? "C:" : " L:";
      for (auto [action, letter] : actions)
        if (controller->selection().canAct(action, table))
          enabled += std::string(enabled.back() == ':' ? "" : " ") + letter;
    }
    EXPECT_EQ(enabled, c.enabled) << c.data << " " << c.click;
  }
}

TEST_F(ControllerTest, LoadShowsTheFirstCharacterSelectedAndItsLayersAndDepthsNeverDrawn) {
  open(std::string(kThreeCharacters) + "Ghost,1500, 0, 0\n####\nFog,-5,1, 0, 0\n$$$$\n");
  EXPECT_EQ(notices.log, "C! L!");
  EXPECT_EQ(controller->document().row(Table::Characters, 2),
            (RowTexts{"Wolf", "50", std::nullopt, list.characters[2].image, "7", "7"}));
  EXPECT_EQ(controller->document().row(Table::Layers, 1),
            (RowTexts{"Leg", "120", "1", list.characters[0].layers[1].image, "-3", "12"}));
  EXPECT_EQ(controller->document().rowCount(Table::Layers), 2);
  EXPECT_TRUE(controller->wellPicture(Table::Layers) == list.characters[0].layers[0].image &&
              controller->wellPicture(Table::Characters));
  EXPECT_TRUE(state.selectedCharacterRow == 0 && state.selectedLayerRow == 0 && !controller->store().hasUnsavedChanges());
  // Depths outside 0..999 are shown and listed, never silently left out.
  ASSERT_EQ(controller->store().loadProblems().size(), 2u);
  EXPECT_EQ(controller->store().loadProblems()[0].reason,
            "character 4 \"Ghost\": depth 1500 is never drawn (only depths from 0 to 999 are)");
  EXPECT_EQ(
      controller->store().loadProblems()[1].reason,
      "layer 1 \"Fog\" of character 4 \"Ghost\": depth -5 is never drawn (only depths from 0 to 999 are)");
  EXPECT_EQ(controller->document().row(Table::Characters, 3).depth, "1500");
  // An insert at the row of the character whose layers are shown: the layers table shows the new one's.
  clickCharacter(1);
  notices.log.clear();
  controller->insertCharacter();
  EXPECT_EQ(notices.log, "C+1x1 L!");
  EXPECT_EQ(controller->document().rowCount(Table::Layers), 0);
}

TEST_F(ControllerTest, ClicksShowTheClickedCharactersLayersAndStoreTheReportedRows) {
  open(kThreeCharacters);
  notices.log.clear();
  clickCharacter(0);
  EXPECT_EQ(notices.log, "L!");
  EXPECT_TRUE(state.moveCharacter && !state.moveLayer && state.selectedLayerRow == -1);
  clickLayer(1, {{0, 1}});  // an extended selection; the clicked row is the current one
  EXPECT_EQ(controller->selection().selectedLayers(), (std::vector<int64_t>{0, 1}));
  EXPECT_EQ(controller->wellPicture(Table::Layers), list.characters[0].layers[1].image);
  clickLayer(1, {{0}});  // Ctrl+click took the row out: the last selected one is current
  EXPECT_EQ(std::pair(state.selectedLayerRow, controller->selection().selectedLayers()),
            std::pair(int64_t{0}, std::vector<int64_t>{0}));
  clickCharacter(2);  // Wolf has no layers
  EXPECT_TRUE(controller->document().rowCount(Table::Layers) == 0);
  tv2.clicked = 1;  // the layers table's reported row is stored as it is
  tv1.click(1);
  EXPECT_EQ(state.selectedLayerRow, 1);
  EXPECT_EQ(controller->document().row(Table::Layers, 0).name, "Hat");
  state.selectedLayerRow = 0;
  clickCharacter(-1);  // below the last row: no character, and so no layer
  EXPECT_TRUE(state.selectedCharacterRow == -1 && state.selectedLayerRow == -1 && controller->document().rowCount(Table::Layers) == 0);
  EXPECT_FALSE(controller->wellPicture(Table::Characters) || controller->setPicture(Table::Characters, nullptr));
  clickLayer(-1);
  EXPECT_TRUE(state.selectedLayerRow == -1 && state.moveLayer && !state.moveCharacter);
  open("");
  state.selectedCharacterRow = 5;
  clickCharacter(0);  // an empty project: a click changes nothing
  EXPECT_TRUE(state.selectedCharacterRow == 5 && !state.moveCharacter);
}

// A committed cell changes the record of its row at once, selected or not, as one step that takes
// back only that field; what it cannot take is refused and nothing changes.
TEST_F(ControllerTest, CellEditsGoToTheirRowsRecordAtOnceOrAreRefused) {
  open(kThreeCharacters);
  struct Edit {
    Table table;
    int64_t row;
    Field field;
    std::string text;
    const char* result;  // the record's line afterwards; none: refused
  };
  const Edit edits[] = {
      {Table::Characters, 1, Field::Name, "Witch", "Witch,300, 0, 0"},  // not the selected row
      {Table::Characters, 0, Field::Name, "a,b", nullptr},
      {Table::Layers, 0, Field::Name, "x####", nullptr},
      {Table::Layers, 0, Field::Name, "a/b", nullptr},
      {Table::Layers, 0, Field::Name, "", nullptr},
      {Table::Layers, 0, Field::Name, " \t ", nullptr},
      {Table::Layers, 0, Field::Name, std::string(245, 'x'), nullptr},
      {Table::Layers, 1, Field::Depth, " 7 ", "Leg,7,1, -3, 12"},
      {Table::Layers, 1, Field::Depth, "+999", "Leg,999,1, -3, 12"},
      {Table::Characters, 2, Field::Depth, "0", "Wolf,0, 7, 7"},
      {Table::Characters, 2, Field::Depth, "99999999999", nullptr},
      {Table::Characters, 2, Field::Depth, "1e3", nullptr},
      {Table::Characters, 2, Field::Depth, "0x10", nullptr},
      {Table::Characters, 2, Field::Depth, "12abc", nullptr},
      {Table::Characters, 2, Field::Depth, "1000", nullptr},
      {Table::Characters, 2, Field::Depth, "-5", nullptr},
      {Table::Characters, 2, Field::Depth, "", nullptr},
      {Table::Characters, 2, Field::X, " -2147483648", "Wolf,0, -2147483648, 7"},
      {Table::Layers, 1, Field::Y, "2147483647 ", "Leg,999,1, -3, 2147483647"},
      {Table::Layers, 1, Field::X, "2147483648", nullptr},
      {Table::Layers, 1, Field::Y, "1.5", nullptr},
      {Table::Characters, 0, Field::X, "", nullptr},
      {Table::Layers, 0, Field::Visible, "0", "Arm,150,0, 5, 0"},
      {Table::Characters, 0, Field::Visible, "0", nullptr},
      {Table::Characters, 7, Field::Depth, "1", nullptr},
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.text);
    const std::string before = buildDataText(list);
    const int steps = controller->document().history().count();
    EXPECT_EQ(!controller->editCell(e.table, e.row, e.field, e.text), e.result != nullptr);
    if (!e.result) {
      EXPECT_TRUE(buildDataText(list) == before && controller->document().history().count() == steps);
      continue;
    }
    EXPECT_NE(buildDataText(list).find(std::string(e.result) + "\n"), std::string::npos);
    EXPECT_EQ(controller->document().history().count(), steps + 1);
  }
  EXPECT_EQ(controller->document().history().undoText().toStdString(), "Hide Layer");
  // Refusals in words a user reads: the range with thousands separators, no "NUL".
  const QLocale locale;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(controller->editCell(Table::Layers, 0, Field::X, "x").value_or(""),
            "a position is a whole number from -2,147,483,648 to 2,147,483,647");
  EXPECT_EQ(controller->editCell(Table::Layers, 0, Field::Name, std::string("a\0b", 3)).value_or(""),
            "a name cannot contain \"/\" or a null character");
  EXPECT_EQ(controller->editCell(Table::Layers, 0, Field::Name, "").value_or(""), "a name cannot be empty");
  QLocale::setDefault(locale);
  while (controller->document().history().canUndo()) controller->document().history().undo();
  EXPECT_EQ(buildDataText(list), kThreeCharacters);
}

// A canvas drag or a run of nudges moves every record it names as one step; undo puts each back.
TEST_F(ControllerTest, CanvasMovesAreOneStepThatUndoTakesBackForEveryRecord) {
  const char* data = "K,100, 0, 0\n####\nA,150,1, 1, 1\nB,120,0, 2, 2\nC,130,1, 3, 3\n$$$$\nW,50, 7, 7\n####\n$$$$\n";
  const struct {
    int64_t layer;                // the layer clicked; -1: the character
    std::vector<int64_t> layers;  // the layers selected with it
    bool withLayers, nudges;
    const char* positions;
    const char* undo;
  } cases[] = {
      {0, {0, 1, 2}, false, false, "K0,0 A5,-1 B2,2 C7,1 W7,7", "Move Layers"},  // the hidden B stays
      {-1, {}, true, false, "K4,-2 A5,-1 B6,0 C7,1 W7,7", "Move Character and Layers"},
      {-1, {}, false, false, "K4,-2 A1,1 B2,2 C3,3 W7,7", "Move Character"},
      {2, {0, 2}, false, true, "K0,0 A3,0 B2,2 C5,2 W7,7", "Move Layers"},
      {0, {}, false, true, "K0,0 A3,0 B2,2 C3,3 W7,7", "Move Layer"},
      {-1, {}, true, true, "K2,-1 A3,0 B4,1 C5,2 W7,7", "Move Character and Layers"},
  };
  auto positions = [this] {
    std::string out;
    forEachRecord(list, [&](const auto& r, auto...) {
      out += (out.empty() ? "" : " ") + r.name + std::to_string(r.x) + "," + std::to_string(r.y);
    });
    return out;
  };
  for (const auto& c : cases) {
    open(data);
    const std::string start = positions();
    clickCharacter(0);
    if (c.layer >= 0) clickLayer(c.layer, c.layers);
    CanvasScene view(list, state);
    if (c.nudges) {
      controller->moves().nudge(1, 0, c.withLayers), controller->moves().nudge(1, -1, c.withLayers);
    } else {
      controller->moves().beginGesture(c.withLayers);
      view.pressAt(10, 10, c.withLayers), view.dragTo(12, 9), view.dragTo(14, 8);
      controller->moves().endGesture();
    }
    EXPECT_EQ(positions(), c.positions) << c.undo;
    QUndoStack& history = controller->document().history();
    EXPECT_EQ(std::pair(history.count(), history.undoText().toStdString()), std::pair(1, std::string(c.undo)));
    history.undo();
    EXPECT_EQ(positions(), start) << c.undo;
    history.redo();
    EXPECT_EQ(positions(), c.positions) << c.undo;
  }
  // A press and release that moves nothing is no step.
  controller->moves().beginGesture();
  controller->moves().endGesture();
  EXPECT_EQ(controller->document().history().count(), 1);
}

// Killed at any file operation of a recovery's write, the folder holds the recovery before it or the
// one being written, whole: never one that names a picture that is not there, nor none at all.
TEST_F(ControllerTest, ARecoveryKilledWhileWrittenLeavesTheOneBeforeOrTheNewOneWhole) {
  // After the kill nothing happens: every later operation is skipped.
  struct KilledOps : FileOps {
    int at = 0, count = 0;
    bool alive() { return ++count <= at; }
    Status createFile(const std::filesystem::path& p, std::string_view d, unsigned m, FileStamp* s, bool f) override {
      return alive() ? FileOps::createFile(p, d, m, s, f) : Status{};
    }
    Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
      return alive() ? FileOps::rename(from, to) : Status{};
    }
    Status remove(const std::filesystem::path& p) override { return alive() ? FileOps::remove(p) : Status{}; }
    Status syncFolder(const std::filesystem::path& p) override { return alive() ? FileOps::syncFolder(p) : Status{}; }
    Status createFolder(const std::filesystem::path& p) override { return alive() ? FileOps::createFolder(p) : Status{}; }
  };
  open(kThreeCharacters);
  const testing::TempFolder states;
  const std::filesystem::path folder = recoveryFolderOf(dir.path(), states.path());
  RecoveryPictures names;
  controller->setPicture(Table::Characters, testing::testImage(6, 6, 1));
  ASSERT_TRUE(writeRecovery(captureRecovery(*controller), folder, names).ok());
  const std::string inside = std::filesystem::relative(folder, states.path()).string() + "/";
  std::map<std::string, std::string> before;
  for (const auto& file : std::filesystem::directory_iterator(folder))
    before[inside + file.path().filename().string()] = states.read(inside + file.path().filename().string());
  controller->setPicture(Table::Characters, testing::testImage(7, 7, 2));  // the one before stays in the history
  controller->editCell(Table::Characters, 1, Field::Name, "Mage2");
  const RecoverySnapshot after = captureRecovery(*controller);
  int olds = 0;
  for (KilledOps ops;; ++ops.at, ops.count = 0) {
    SCOPED_TRACE("killed after operation " + std::to_string(ops.at));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (const auto& [path, bytes] : before) states.write(path, bytes);
    writeRecovery(after, folder, names, &ops);
    const std::optional<RecoveredWork> work = findRecovery(*controller, folder);
    ASSERT_TRUE(work && work->mismatch.isEmpty()) << (work ? work->mismatch.toStdString() : "none");
    EXPECT_TRUE(work->steps == 3 || (work->steps == 1 && ops.count > ops.at)) << work->steps;
    olds += work->steps == 1;
    if (ops.count <= ops.at) break;  // not killed: written whole
  }
  EXPECT_GT(olds, 3);
}

}  // namespace
}  // namespace charstack
