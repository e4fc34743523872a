// Projects on disk: the rules of "data.txt", and loading a folder, editing the model and saving it:
// which files are written, renamed, kept and removed, which saves are refused, and what loads back.

#include <functional>
#include <map>
#include <optional>

#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::character;
using testing::layer;
using testing::TempFolder;
using testing::testImage;
using Names = std::vector<std::string>;

const char* kWorkedExample =
    "Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nArm,120,0, -3, 12\n$$$$\nSlime,100, 200, 40\n####\n$$$$\n";
const char* kNoFile = "(no data.txt)";

TEST(DataText, ReadsAndWritesBack) {
  const std::pair<std::string, std::string> rows[] = {
      {kWorkedExample, kWorkedExample}, {"", ""},
      {"Hero,100, 10, 20", ""},  // no line feed at all: an empty project
      {"A,1, 0, 0\n####\n$$$$\nB,2, 3, 4", "A,1, 0, 0\n####\n$$$$\n"},  // the piece after the last line feed
      // Markers count anywhere in a line; a line with both opens a block. Marker lines hold no record.
      {"A,1, 0, 0\nx####y\nL1,5,1, 1, 1\na$$$$b\nB,2, 0, 0\n$$$$ and ####\nL2,6,1, 2, 2\n$$$$\n",
       "A,1, 0, 0\n####\nL1,5,1, 1, 1\n$$$$\nB,2, 0, 0\n####\nL2,6,1, 2, 2\n$$$$\n"},
      // Fields by position: extra ones ignored, missing ones 0, any other number than 0 is visible; a
      // layer-shaped line outside a block is a character; blank lines hold nothing.
      {"Name with spaces ,1, -5x, 7\r\n####\nA,1,2, 3, 4,extra\nB,1,-1, 0, 0\nC,1,abc, 0, 0\nD\n$$$$\nE,7,1, 8\n\n",
       "Name with spaces ,1, -5, 7\n####\nA,1,1, 3, 4\nB,1,1, 0, 0\nC,1,0, 0, 0\nD,0,0, 0, 0\n$$$$\n"
       "E,7, 1, 8\n####\n$$$$\n"},
      // Layers before any character belong to none and are dropped.
      {"####\nStray,1,1, 0, 0\n$$$$\nA,1, 0, 0\n####\nL,1,1, 0, 0\n$$$$\n", "A,1, 0, 0\n####\nL,1,1, 0, 0\n$$$$\n"},
      // Numbers: white space, one sign and digits up to the first other character, saturating at 32 bits.
      {"a, -12abc,+7,\t\v\f 5\nb,+-3,- 3,-\nc,99999999999,2147483648,-2147483649\n"
       "d,00000000000000000000012,-99999999999999999999, 2147483647\n",
       "a,-12, 7, 5\n####\n$$$$\nb,0, 0, 0\n####\n$$$$\nc,2147483647, 2147483647, -2147483648\n####\n$$$$\n"
       "d,12, -2147483648, 2147483647\n####\n$$$$\n"},
  };
  for (const auto& [in, out] : rows) {
    CharacterList list = parseDataText(in).list;
    EXPECT_EQ(buildDataText(list), out) << in;
    forEachRecord(list, [&](const auto& r, auto...) { EXPECT_EQ(r.savedName, r.name) << in; });
  }
}


// Record 1 "A1" with a picture, eight records without, and record 11, whose image file is also "A11".
std::vector<Character> sharingA11(Character last) {
  std::vector<Character> list = {character("A1", 0, testImage(2, 2, 1))};
  for (int i = 2; i <= 10; ++i) list.push_back(character("x" + std::to_string(i)));
  list.push_back(std::move(last));
  return list;
}

struct SaveCase {
  const char* what;
  Names before;  // "data.txt=text", "img/A1" (a distinct picture) or "path=bytes"
  std::function<void(CharacterList&, EditorState&, const TempFolder&)> edit;  // none: saved as loaded
  Names loadProblems, saveProblems;  // the files or records named
  bool refused;
  Names imageFiles;        // in "img/" after the save
  const char* dataText;    // after the save; none: not checked
  Names gained = {};       // files the next load gives as pictures to records saved without one
  std::function<void(const TempFolder&)> check = nullptr;
};

using Edit = std::function<void(CharacterList&, EditorState&, const TempFolder&)>;
Edit rename(std::string name, size_t row = 0) {
  return [name, row](auto& l, auto&, auto&) { l.characters[row].name = name; };
}
Edit queue(Names deletions, std::vector<Character> characters = {}) {
  return [=](auto& l, auto& s, auto&) {
    s.pendingImageDeletions = deletions;
    if (!characters.empty()) l.characters = characters;
  };
}

const char* kAB = "data.txt=A,1, 0, 0\n####\n$$$$\nB,2, 0, 0\n####\n$$$$\n";
const char* kBlocks = "\n####\n$$$$\n";

const SaveCase kCases[] = {
    {"the worked example is saved again byte for byte",
     {std::string("data.txt=") + kWorkedExample, "img/Hero1", "img/Arm2", "img/Arm3", "img/Slime4"}, nullptr, {}, {},
     false, {"Arm2", "Arm3", "Hero1", "Slime4"}, kWorkedExample},
    {"a renamed record's file moves", {kAB, "img/A1", "img/B2"}, rename("Z"), {}, {}, false, {"B2", "Z1"},
     "Z,1, 0, 0\n####\n$$$$\nB,2, 0, 0\n####\n$$$$\n"},
    {"a record inserted in front renumbers the others, and their files move with them", {kAB, "img/A1", "img/B2"},
     [](auto& l, auto&, auto&) { l.characters.insert(l.characters.begin(), character("N", 0, testImage(2, 2, 9))); },
     {}, {}, false, {"A2", "B3", "N1"}, "N,0, 0, 0\n####\n$$$$\nA,1, 0, 0\n####\n$$$$\nB,2, 0, 0\n####\n$$$$\n"},
    {"moves, an insert at the top and a removal leave one file per picture, plus the files never read",
     {"data.txt=X,1, 0, 0\n####\nArm,1,1, 0, 0\nLeg,1,1, 0, 0\n$$$$\nX,2, 0, 0\n####\n$$$$\nY,3, 0, 0\n####\n$$$$\n",
      "img/X1", "img/Arm2", "img/Leg3", "img/X4", "img/Y5", "img/Stray9"},
     [](auto& l, auto& s, auto&) {
       std::swap(l.characters[0], l.characters[1]);                            // Move Up of the second X
       std::swap(l.characters[1].layers[0], l.characters[1].layers[1]);        // Move Down of Arm
       s.pendingImageDeletions = {"Y5"}, l.characters.pop_back();               // Y removed
       l.characters.insert(l.characters.begin(), character("X", 0, testImage(2, 2, 9)));  // a new X on top
     },
     {}, {}, false, {"Arm5", "Leg4", "Stray9", "X1", "X2", "X3"}, nullptr},
    {"a new record without a picture never takes the file of the record it pushed along",
     {"data.txt=Hero,1, 0, 0\n####\nArm,1,1, 0, 0\n$$$$\n", "img/Hero1", "img/Arm2"},
     [](auto& l, auto&, auto&) { l.characters[0].layers.insert(l.characters[0].layers.begin(), layer("Arm")); }, {}, {},
     false, {"Arm3", "Hero1"}, "Hero,1, 0, 0\n####\nArm,0,1, 0, 0\nArm,1,1, 0, 0\n$$$$\n"},
    {"a picture whose file was deleted on disk is written again", {kAB, "img/A1", "img/B2"},
     [](auto& l, auto&, auto& d) { std::filesystem::remove(d.path() / "img/B2"), l.characters[0].value = 5; }, {}, {},
     false, {"A1", "B2"}, "A,5, 0, 0\n####\n$$$$\nB,2, 0, 0\n####\n$$$$\n"},
    // A record without a picture neither takes nor removes a file that another program put under its
    // name, or rewrote, since the load: the save asks.
    {"records without a picture leave files put under their names or rewritten", {kAB, "img/A1"},
     [](auto& l, auto&, auto& d) {
       l.characters[0].image = nullptr, d.write("img/A1", testing::testPng(5, 5, 9));
       d.write("img/B2", testing::testPng(3, 3, 7));
     },
     {}, {"img/A1", "img/B2"}, true, {"A1", "B2"}, "A,1, 0, 0\n####\n$$$$\nB,2, 0, 0\n####\n$$$$\n"},
    {"pending deletions remove the files the editor read, never one it did not or another program rewrote",
     {std::string(kAB) + "C,3, 0, 0" + kBlocks, "img/A1", "img/B2", "img/C3", "img/Stray9"},
     [](auto& l, auto& s, auto& d) {
       l.characters.resize(1), s.pendingImageDeletions = {"B2", "C3", "Stray9", "Missing7"};
       d.write("img/C3", testing::testPng(5, 5, 9));
     },
     {}, {}, false, {"A1", "C3", "Stray9"}, "A,1, 0, 0\n####\n$$$$\n"},
    {"a record without a picture leaves no file under its own name; one it moves onto stays for the next load",
     {kAB, "img/A1", "img/B2", "img/X3", "img/Boss2"},
     [](auto& l, auto&, auto&) {
       l.characters[0].image = nullptr;
       l.characters[1].image = nullptr, l.characters[1].name = "Boss";  // img/Boss2 was put there by the artist
       l.characters.push_back(character("X"));                           // lands on a stale file of an earlier save
     },
     {}, {}, false, {"Boss2", "X3"}, nullptr, {"Boss2", "X3"}},
    {"records with the same name get their own files", {},
     queue({}, {character("Twin", 0, testImage(2, 2, 1)), character("Twin", 0, testImage(2, 2, 2))}), {}, {}, false,
     {"Twin1", "Twin2"}, "Twin,0, 0, 0\n####\n$$$$\nTwin,0, 0, 0\n####\n$$$$\n"},
    {"two records sharing an image file refuse the save", {"data.txt=Old,1, 0, 0\n####\n$$$$\n", "img/Old1"},
     queue({"Old1"}, sharingA11(character("A", 0, testImage(2, 2, 2)))), {}, {"img/A11"}, true, {"Old1"},
     "Old,1, 0, 0\n####\n$$$$\n"},
    {"names the format cannot hold refuse the save", {"data.txt=Old,1, 0, 0\n####\n$$$$\n", "img/Old1"},
     [](auto& l, auto&, auto&) {
       l.characters = {character("fine", 0, testImage(2, 2, 1)), character("host")};
       l.characters[1].layers = {layer("a,b"), layer("two\nlines"), layer("x####"), layer("$$$$")};
     },
     {},
     {"layer 1 \"a,b\" of character 2 \"host\"", "layer 2 \"two\nlines\" of character 2 \"host\"",
      "layer 3 \"x####\" of character 2 \"host\"", "layer 4 \"$$$$\" of character 2 \"host\""},
     true, {"Old1"}, "Old,1, 0, 0\n####\n$$$$\n"},
    {"names that are no plain file names keep their lines but touch no file",
     {"data.txt=../victim,1, 0, 0\n####\n$$$$\nok,1, 0, 0\n####\n$$$$\n", "victim1=precious", "img/ok2"},
     [](auto& l, auto& s, auto&) {
       l.characters[0].image = testImage(2, 2, 5);
       s.pendingImageDeletions = {"../victim1", "a/b"};
     },
     {"character 1 \"../victim\""}, {"character 1 \"../victim\"", "img/../victim1", "img/a/b"}, false, {"ok2"},
     "../victim,1, 0, 0\n####\n$$$$\nok,1, 0, 0\n####\n$$$$\n"},
    {"image files that do not decode are never deleted or replaced, not even by a new picture",
     {kAB, "img/A1=not a picture", "img/B2=GIF89a, cut short"},
     [](auto& l, auto& s, auto& d) {
       rename("Renamed")(l, s, d), s.pendingImageDeletions = {"B2"};
       l.characters[1].image = testImage(3, 2, 7);
     },
     {"img/A1", "img/B2"}, {"img/B2"}, false, {"A1", "B2"}, "Renamed,1, 0, 0\n####\n$$$$\nB,2, 0, 0\n####\n$$$$\n"},
    {"a renamed record's old file stays when another record now writes it", {},
     [](auto& l, auto&, auto&) {
       Character renamed = character("B", 0, testImage(2, 2, 2));
       renamed.savedName = "A";  // saved as "A" at number 11: "img/A11"
       l.characters = sharingA11(renamed);
     },
     {}, {}, false, {"A11", "B11"}, nullptr},
    {"a data.txt that cannot be written stops the whole save",
     {std::string("data.txt=Hero,1, 0, 0") + kBlocks + "Bare,2, 0, 0" + kBlocks, "img/Hero1", "img/Bare2"},
     [](auto& l, auto&, auto& dir) {
       l.characters[0].name = "Knight";
       l.characters[1].image = nullptr;
       std::filesystem::remove(dir.path() / "data.txt");
       dir.write("data.txt/blocker", "");  // a folder in its place
     },
     {}, {"data.txt"}, true, {"Bare2", "Hero1"}, nullptr},
    {"files are replaced, never written over: hard links to the old ones keep the old bytes",
     {std::string("data.txt=A,1, 0, 0") + kBlocks, "img/A1"},
     [](auto& l, auto&, auto& dir) {
       std::filesystem::create_hard_link(dir.path() / "data.txt", dir.path() / "data.link");
       std::filesystem::create_hard_link(dir.path() / "img/A1", dir.path() / "A1.link");
       l.characters[0].value = 2, l.characters[0].image = testImage(2, 2, 4);
     },
     {}, {}, false, {"A1"}, "A,2, 0, 0\n####\n$$$$\n"},
    {"a name as long as a file name allows is saved", {},
     queue({}, {character(std::string(244, 'n'), 0, testImage(2, 2, 3))}), {}, {}, false,
     {std::string(244, 'n') + "1"}, nullptr},
    {"an empty project without data.txt writes none, and has an img/ folder", {}, nullptr, {}, {}, false, {}, kNoFile, {},
     [](const TempFolder& dir) { EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "img")); }},
    {"an img/ that leads out of the project is written through only when the user says so",
     {kAB, "img/A1", "img/B2"},
     [](auto& l, auto&, auto& dir) {
       const std::filesystem::path outside = dir.path().string() + "-outside";
       std::filesystem::rename(dir.path() / "img", outside);
       std::filesystem::create_symlink(outside, dir.path() / "img");
       std::swap(l.characters[0], l.characters[1]);
     },
     {}, {"img/"}, true, {"A1", "B2"}, "A,1, 0, 0\n####\n$$$$\nB,2, 0, 0\n####\n$$$$\n", {},
     [](const TempFolder& dir) { std::filesystem::remove_all(dir.path().string() + "-outside"); }},
    {"an empty data.txt stays empty", {"data.txt="}, nullptr, {}, {}, false, {}, ""},
    {"removing every record empties data.txt and deletes the files",
     {std::string("data.txt=Old,1, 0, 0") + kBlocks, "img/Old1"},
     [](auto& l, auto& s, auto&) { l.characters.clear(), s.pendingImageDeletions = {"Old1"}; }, {}, {}, false, {}, ""},
    {"a file the editor never read is not replaced unasked", {std::string("data.txt=A,1, 0, 0") + kBlocks, "img/A1", "img/B2"},
     [](auto& l, auto&, auto&) { l.characters.push_back(character("B", 0, testImage(2, 2, 8))); }, {}, {"img/B2"},
     true, {"A1", "B2"}, "A,1, 0, 0\n####\n$$$$\n"},
    {"text the editor does not write back is kept as data.txt.bak",
     {"data.txt=Hero,100, 10, 20,extra\r\nnotes\n####\n$$$$\n", "img/Hero1"},
     [](auto& l, auto&, auto&) { l.characters[0].value = 5; },
     {"data.txt", "data.txt", "data.txt line 1", "data.txt line 1", "data.txt line 2"}, {}, false, {"Hero1"},
     nullptr, {},
     [](const TempFolder& dir) { EXPECT_EQ(dir.read("data.txt.bak"), "Hero,100, 10, 20,extra\r\nnotes\n####\n$$$$\n"); }},
    {"a name that starts with a byte-order mark inside the file is noted at open and refused by the save",
     {"data.txt=A,1, 0, 0\n####\n$$$$\n\xEF\xBB\xBF" "B,2, 0, 0\n####\n$$$$\n"}, nullptr, {"character 2 \"\xEF\xBB\xBF" "B\""},
     {"character 2 \"\xEF\xBB\xBF" "B\""}, true, {}, "A,1, 0, 0\n####\n$$$$\n\xEF\xBB\xBF" "B,2, 0, 0\n####\n$$$$\n"},
    {"a data.txt that is a link stays one, and its target takes the new text",
     {"real/data.txt=A,1, 0, 0\n####\n$$$$\n", "data.txt->real/data.txt", "img/A1"},
     [](auto& l, auto&, auto&) { l.characters[0].value = 7; }, {}, {}, false, {"A1"}, nullptr, {},
     [](const TempFolder& dir) {
       EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "data.txt"));
       EXPECT_EQ(dir.read("real/data.txt"), "A,7, 0, 0\n####\n$$$$\n");
     }},
};

Names files(const std::vector<Problem>& problems) {
  Names out(problems.size());
  std::transform(problems.begin(), problems.end(), out.begin(), [](const Problem& p) { return p.file; });
  return out;
}

TEST(Save, Cases) {
  for (const SaveCase& c : kCases) {
    SCOPED_TRACE(c.what);
    TempFolder dir;
    const ProjectFolder folder(dir.path());
    std::map<std::string, uint32_t> seeds;
    for (const std::string& f : c.before) {
      if (const size_t arrow = f.find("->"); arrow != std::string::npos) {
        std::filesystem::create_symlink(f.substr(arrow + 2), dir.path() / f.substr(0, arrow));
        continue;
      }
      const size_t eq = f.find('=');
      if (eq == std::string::npos) seeds[f] = static_cast<uint32_t>(seeds.size() + 1);
      dir.write(f.substr(0, eq), eq == std::string::npos ? testing::testPng(3, 3, seeds[f]) : f.substr(eq + 1));
    }
    LoadResult loaded = loadProject(folder);
    EXPECT_EQ(files(loaded.problems), c.loadProblems);
    // Every record holds the picture of its own file, and only that.
    forEachRecord(loaded.list, [&](const auto& r, int64_t number, auto...) {
      auto seed = seeds.find("img/" + imageFileName(r.name, number));
      EXPECT_EQ(static_cast<bool>(r.image), seed != seeds.end()) << r.name;
      EXPECT_TRUE(!r.image || seed == seeds.end() || r.image->samePixels(*testImage(3, 3, seed->second))) << r.name;
    });
    CharacterList list = loaded.list;
    EditorState state = stateAfterLoad(loaded);
    if (c.edit) c.edit(list, state, dir);
    const CharacterList edited = list;
    const auto filesBefore = testing::filesOf(dir);
    const auto pending = state.pendingImageDeletions;

    SaveReport report = saveProject(list, state, folder);
    EXPECT_EQ(report.refused, c.refused);
    EXPECT_EQ(files(report.problems), c.saveProblems);
    EXPECT_EQ(dir.list("img"), c.imageFiles);
    EXPECT_EQ(!c.dataText ? "" : folder.fileExists("data.txt") ? dir.read("data.txt") : kNoFile, c.dataText ? c.dataText : "");
    int temporaries = 0;
    const auto filesAfter = testing::filesOf(dir, &temporaries);
    EXPECT_EQ(temporaries, 0);
    for (const auto& [path, bytes] : filesBefore)
      EXPECT_TRUE(path.rfind("img/", 0) == 0 || path == "data.txt" || dir.read(path) == bytes) << path;
    EXPECT_TRUE((c.edit && !c.refused) || filesAfter == filesBefore);
    EXPECT_EQ(state.pendingImageDeletions, c.refused ? pending : Names{});
    // A record takes its new file name only once data.txt refers to it.
    forEachRecord(list, [&](auto& r, int64_t, int64_t k, int64_t m) {
      const Character& was = edited.characters[size_t(k)];
      EXPECT_EQ(r.savedName, report.dataFileWritten ? r.name : m < 0 ? was.savedName : was.layers[size_t(m)].savedName);
    });
    if (c.check) c.check(dir);
    if (!report.ok()) continue;
    CharacterList expected = list;
    forEachRecord(expected, [&](auto& r, int64_t number, auto...) {
      const std::string file = imageFileName(r.name, number);
      if (std::count(c.gained.begin(), c.gained.end(), file)) r.image = decodeImageData(dir.read("img/" + file));
    });
    testing::expectLoadsAs(dir, expected);
  }
}

}  // namespace
}  // namespace charstack
