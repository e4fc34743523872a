// Fakes of the widget interfaces and helpers for tests that use real files.
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

class FakeTableView : public TableView {
 public:
  int64_t clickedRow() const override { return clicked; }
  void setAction(std::function<void()> a) override { action = std::move(a); }
  // A single click on a row (-1: not on a row): sets clickedRow and sends the action.
  void click(int64_t row) {
    clicked = row;
    if (action) action();
  }
  int64_t clicked = -1;
  std::function<void()> action;
};

class FakeArrayController : public ArrayController {
 public:
  void setSelectionIndex(int64_t index) override { indexes.push_back(index); }
  std::vector<int64_t> indexes;
};

class FakeTimerService : public TimerService {
 public:
  struct Entry {
    double interval;
    std::function<void()> tick;
    bool alive = true;
  };
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double interval, std::function<void()> tick) override;
  // Fires every live timer once, in the order they were scheduled.
  void fireAll();
  std::vector<std::shared_ptr<Entry>> entries;
};

// Records change notices as "will MA1" / "did MA1".
class RecordingObserver : public ChangeObserver {
 public:
  void willChangeValueForKey(std::string_view key) override { log.push_back("will " + std::string(key)); }
  void didChangeValueForKey(std::string_view key) override { log.push_back("did " + std::string(key)); }
  std::vector<std::string> log;
};

class FakePainter : public Painter {
 public:
  struct Call {
    const Image* image;
    double x, y, width, height;
  };
  void drawImage(const Image& image, double x, double y, double w, double h) override {
    calls.push_back({&image, x, y, w, h});
  }
  std::vector<Call> calls;
};

class FakeCanvasHost : public CanvasHost {
 public:
  void setNeedsDisplay() override { ++marks; }
  int marks = 0;
};

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes a file (creating its folders) with the given bytes.
  void write(std::string_view relative, std::string_view bytes) const;
  std::string read(std::string_view relative) const;  // empty when missing
  bool exists(std::string_view relative) const;
  // File names in a sub folder, sorted.
  std::vector<std::string> list(std::string_view relative) const;

 private:
  std::filesystem::path path_;
};

// A w x h image with a pattern that depends on seed, alpha included.
ImageRef testImage(int width, int height, uint32_t seed);
// The PNG bytes of testImage(width, height, seed).
std::string testPng(int width, int height, uint32_t seed);

// Records with a name, a depth and a picture; layers are visible.
Character character(std::string name, int64_t value = 0, ImageRef image = nullptr);
Character character(std::string name, ImageRef image);
Layer layer(std::string name, int64_t value = 0, ImageRef image = nullptr);
Layer layer(std::string name, ImageRef image);

// The bytes of every file of the folder and of its "img/", by path. With temporaries given, files
// whose names start with "." are counted there instead of listed.
std::map<std::string, std::string> filesOf(const TempFolder& dir, int* temporaries = nullptr);

// Saves list into the folder with a fresh editor state.
SaveReport saveInto(CharacterList& list, const TempFolder& dir);

// Expects the same records in the same order: names, depths, positions, visibility, and pictures
// compared by their pixels.
void expectSameModel(const CharacterList& expected, const CharacterList& actual);
// Loads the folder, expects no problem and the model expected; returns what was loaded.
LoadResult expectLoadsAs(const TempFolder& dir, const CharacterList& expected);

}  // namespace charstack::testing
