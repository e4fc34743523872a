// Fakes of the widget interfaces, and helpers for tests on real files in a temporary folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/image.hpp"
#include "platform/ui.hpp"
#include "project/project_io.hpp"

namespace charstack::testing {

struct FakeTableView : TableView {
  int64_t clickedRow() const override { return clicked; }
  void setAction(std::function<void()> a) override { action = std::move(a); }
  // A single click on a row (-1: not on a row).
  void click(int64_t row) {
    clicked = row;
    if (action) action();
  }
  int64_t clicked = -1;
  std::function<void()> action;
};

struct FakeArrayController : ArrayController {
  void setSelectionIndex(int64_t) override {}
};

// Timers that fire when the test says; the tests fire none after its owner is gone.
struct FakeTimerService : TimerService {
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double, std::function<void()> tick) override {
    ticks.push_back(std::move(tick));
    return std::make_unique<RepeatingTimer>();
  }
  void fireAll() {
    for (auto& tick : ticks) tick();
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
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  void write(std::string_view relative, std::string_view bytes) const;  // creates the folders
  std::string read(std::string_view relative) const;                    // empty when missing
  std::vector<std::string> list(std::string_view relative) const;  // sorted file names
  std::filesystem::path path_;
};

// A w x h image whose pixels depend on seed: varied alpha, and a transparent first row and column
// that still has colours.
ImageRef testImage(int width, int height, uint32_t seed);
std::string testPng(int width, int height, uint32_t seed);

// Records with a name, a depth and a picture; layers are visible.
Character character(std::string name, int64_t value = 0, ImageRef image = nullptr);
Layer layer(std::string name, int64_t value = 0, ImageRef image = nullptr);

// The bytes of every file of the folder and of its "img/", by path. With temporaries given, files
// whose names start with "." are counted there instead of listed.
std::map<std::string, std::string> filesOf(const TempFolder& dir, int* temporaries = nullptr);

SaveReport saveInto(CharacterList& list, const TempFolder& dir);  // with a fresh editor state

// Expects the same records in order: names, depths, positions, visibility, pictures by their pixels.
void expectSameModel(const CharacterList& expected, const CharacterList& actual);
// Loads the folder and expects no problem and the model expected.
void expectLoadsAs(const TempFolder& dir, const CharacterList& expected);

}  // namespace charstack::testing
