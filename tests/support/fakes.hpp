// Fakes of the widget interfaces, helpers for tests on real files in a temporary folder, and a
// controller on such a folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "controller/editor.hpp"
#include "controller/session.hpp"
#include "project/project_io.hpp"

namespace charstack::testing {

struct FakeTableView : TableView {
  int64_t clickedRow() const override { return clicked; }
  std::vector<int64_t> selectedRows() const override {
    return selected ? *selected : TableView::selectedRows();
  }
  void setAction(std::function<void()> a) override { action = std::move(a); }
  // A single click on a row (-1: not on a row); with rows, a click that leaves them selected.
  void click(int64_t row, std::optional<std::vector<int64_t>> rows = std::nullopt) {
    clicked = row, selected = std::move(rows), action();
  }
  int64_t clicked = -1;
  std::optional<std::vector<int64_t>> selected;
  std::function<void()> action;
};

// What the tables were told, as "C! L+2x1 L-0x1 ~L0": a table (C, L) reset, rows inserted or removed
// (first x count), rows changed.
struct RecordingObserver : TableObserver {
  void beginRows(Table t, Change c, int64_t first, int64_t count) override {
    log += std::string(log.empty() ? "" : " ") + (t == Table::Characters ? "C" : "L");
    if (c == Change::Reset) log += "!";
    else log.append(c == Change::Insert ? "+" : "-").append(std::to_string(first)).append("x").append(std::to_string(count));
  }
  void endRows(Table) override {}
  void rowsChanged(Table t, int64_t first, int64_t) override {
    log += std::string(log.empty() ? "" : " ") + "~" + (t == Table::Characters ? "C" : "L") + std::to_string(first);
  }
  std::string log;
};

struct FakePainter : Painter {
  struct Call {
    const Image* image;
    double x, y, width, height;
  };
  void drawImage(const Image& image, double x, double y, double w, double h) override { calls.push_back({&image, x, y, w, h}); }
  std::vector<Call> calls;
};

// Answers to the editor's questions, counted; message boxes are collected.
struct FakeQuestions : UserQuestions {
  bool yes = false;  // to every yes-or-no question
  Unsaved unsaved = Unsaved::Cancel;
  InUse inUse = InUse::OpenAnyway;
  std::optional<std::filesystem::path> folder, exportFile, exportFolder;
  bool trashAll = false;
  int asked = 0;
  QStringList told;
  bool answer() { return ++asked, yes; }
  bool replaceDataFileWithoutRecords() override { return answer(); }
  bool replaceChangedFiles(const std::vector<std::string>&) override { return answer(); }
  bool saveIntoMovedFolder(const std::filesystem::path&) override { return answer(); }
  bool writeThroughLinks(const std::vector<std::string>&) override { return answer(); }
  Unsaved unsavedChanges() override { return ++asked, unsaved; }
  InUse projectInUse(const std::filesystem::path&, const std::string&) override { return ++asked, inUse; }
  Recovered recovered = Recovered::Restore;
  std::optional<RecoveredWork> offered;  // the last recovery offered
  Recovered recoverWork(const RecoveredWork& work) override { return ++asked, offered = work, recovered; }
  bool takeChangedFile(const DiskChange&) override { return answer(); }
  bool reloadChangedProject() override { return answer(); }
  bool saveBeforeCleanUp() override { return answer(); }
  std::optional<std::filesystem::path> chooseProjectFolder(bool) override { return folder; }
  std::optional<std::filesystem::path> chooseExportFile(const std::string& name) override {
    return suggested = name, exportFile;
  }
  std::optional<std::filesystem::path> chooseExportFolder() override {
    if (choosing) choosing();  // what happens while the user chooses
    return exportFolder;
  }
  std::vector<std::filesystem::path> pictureFiles;
  std::vector<std::filesystem::path> choosePictureFiles(Table) override { return ++asked, pictureFiles; }
  std::string suggested;  // the file name the last export chooser offered
  std::function<void()> choosing;
  std::vector<std::string> chooseFilesToTrash(const std::vector<UnusedImageFile>& files) override {
    std::vector<std::string> all;
    for (const UnusedImageFile& f : files) all.push_back(f.fileName);
    return trashAll ? all : std::vector<std::string>{};
  }
  TrashReport moveToTrash(const ProjectFolder& folder, const std::vector<std::string>& paths) override {
    return trashFiles(folder, paths, {}, std::atomic<bool>{false});
  }
  void tell(const QString& title, const QString& text, bool) override { told << title + ": " + text; }
};

// A fresh folder under the system's temporary folder, removed with its contents at the end.
struct TempFolder {
  // Under the given folder (default: the system's temporary folder).
  explicit TempFolder(const std::filesystem::path& base = std::filesystem::temp_directory_path());
  ~TempFolder() { std::error_code ec; std::filesystem::remove_all(path_, ec); }
  const std::filesystem::path& path() const { return path_; }
  void write(std::string_view relative, std::string_view bytes) const;  // creates the folders
  std::string read(std::string_view relative) const;                    // empty when missing
  std::vector<std::string> list(std::string_view relative) const;       // sorted file names
  std::filesystem::path path_;
};

// A w x h image whose pixels depend on seed: varied alpha, and a transparent first row and column
// that still has colours.
ImageRef testImage(int width, int height, uint32_t seed);
std::string testPng(int width, int height, uint32_t seed);

// Records with a name, a depth and a picture; layers are visible.
Character character(std::string name, int64_t value = 0, ImageRef image = nullptr);
Layer layer(std::string name, int64_t value = 0, ImageRef image = nullptr);

// The bytes of every file of the folder and of its "img/", by path (the lock file left out). With
// temporaries given, the temporary files and the journal of saves are counted there instead of listed.
std::map<std::string, std::string> filesOf(const TempFolder& dir, int* temporaries = nullptr);
// The same records in order (names, depths, positions, visibility) with the same pixels.
bool sameModel(const CharacterList& a, const CharacterList& b);
SaveReport saveInto(CharacterList& list, const TempFolder& dir);  // with a fresh editor state
// Expects the same records in order: names, depths, positions, visibility, pictures by their pixels.
void expectSameModel(const CharacterList& expected, const CharacterList& actual);
void expectLoadsAs(const TempFolder& dir, const CharacterList& expected);  // and no problem

// A controller with fake tables and timers on a real project folder.
struct ControllerTest : ::testing::Test {
  // Writes data.txt with a distinct picture for every record (seeded by its number) and starts.
  void open(const std::string& dataText);
  void clickCharacter(int64_t row) { tv2.clicked = -1, tv1.click(row); }  // no layer row clicked
  void clickLayer(int64_t row, std::optional<std::vector<int64_t>> rows = std::nullopt) {
    tv2.click(row, std::move(rows));
  }
  // "Hero*[Arm*,Leg-] Wolf[]": names in order, "*" for a picture, "-" for a hidden layer.
  std::string tree() const;

  TempFolder dir;
  CharacterList list;
  EditorState state;
  RecordingObserver notices;
  FakeTableView tv1, tv2;
  std::unique_ptr<Editor> controller;
};

// Hero with two layers, Mage with one, Wolf without: records 1-3, 4-5, 6.
inline const char* kThreeCharacters = "Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nLeg,120,1, -3, 12\n$$$$\n"
                                      "Mage,300, 0, 0\n####\nHat,310,1, 1, 1\n$$$$\nWolf,50, 7, 7\n####\n$$$$\n";

}  // namespace charstack::testing
