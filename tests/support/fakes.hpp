// Fakes of the widget interfaces, helpers for tests on real files in a temporary folder, and a
// controller on such a folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "controller/init_layer.hpp"
#include "project/project_io.hpp"

namespace charstack::testing {

struct FakeTableView : TableView {
  int64_t clickedRow() const override { return clicked; }
  void setAction(std::function<void()> a) override { action = std::move(a); }
  void click(int64_t row) { clicked = row, action(); }  // a single click on a row (-1: not on a row)
  int64_t clicked = -1;
  std::function<void()> action;
};

struct FakeArrayController : ArrayController {
  void setSelectionIndex(int64_t) override {}
};

// Timers that fire when the test says; no test fires one after its owner is gone.
struct FakeTimerService : TimerService {
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double, std::function<void()> tick) override {
    return ticks.push_back(std::move(tick)), std::make_unique<RepeatingTimer>();
  }
  std::vector<std::function<void()>> ticks;
};

// Change notices as "<MA1><MA2>": each will and its did.
struct RecordingObserver : ChangeObserver {
  void willChangeValueForKey(std::string_view key) override { log += "<" + std::string(key); }
  void didChangeValueForKey(std::string_view) override { log += ">"; }
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

struct FakeCanvasHost : CanvasHost {
  void setNeedsDisplay() override { ++marks; }
  int marks = 0;
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
// The editor's state after loading a folder, as the controller keeps it.
EditorState stateAfterLoad(const LoadResult& loaded);
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
  void tick() {
    for (auto& tick : timers.ticks) tick();
  }
  void clickCharacter(int64_t row) { tv2.clicked = -1, tv1.click(row); }  // no layer row clicked
  void clickLayer(int64_t row) { tv2.click(row); }
  std::string tree() const;  // "Hero*[Arm*,Leg] Wolf[]": names in order, "*" for a picture

  TempFolder dir;
  CharacterList list;
  EditorState state;
  FakeTimerService timers;
  RecordingObserver notices;
  FakeTableView tv1, tv2;
  FakeArrayController ac;
  std::unique_ptr<InitLayer> controller;
};

// Hero with two layers, Mage with one, Wolf without: records 1-3, 4-5, 6.
inline const char* kThreeCharacters = "Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nLeg,120,1, -3, 12\n$$$$\n"
                                      "Mage,300, 0, 0\n####\nHat,310,1, 1, 1\n$$$$\nWolf,50, 7, 7\n####\n$$$$\n";

}  // namespace charstack::testing
