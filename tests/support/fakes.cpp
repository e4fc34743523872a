#include "support/fakes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace charstack::testing {

namespace {
class FakeTimer : public RepeatingTimer {
 public:
  explicit FakeTimer(std::shared_ptr<FakeTimerService::Entry> e) : entry_(std::move(e)) {}
  ~FakeTimer() override { entry_->alive = false; }

 private:
  std::shared_ptr<FakeTimerService::Entry> entry_;
};
}  // namespace

std::unique_ptr<RepeatingTimer> FakeTimerService::scheduleRepeating(double interval,
                                                                    std::function<void()> tick) {
  auto e = std::make_shared<Entry>(Entry{interval, std::move(tick), true});
  entries.push_back(e);
  return std::make_unique<FakeTimer>(e);
}

void FakeTimerService::fireAll() {
  auto copy = entries;
  for (auto& e : copy)
    if (e->alive) e->tick();
}

TempFolder::TempFolder() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "charstack-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Make everything writable again, in case a test took the write bits away.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                               ec);
  std::filesystem::remove_all(path_, ec);
}

void TempFolder::write(std::string_view relative, std::string_view bytes) const {
  auto p = path_ / std::filesystem::path(std::string(relative));
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file " + p.string());
}

std::string TempFolder::read(std::string_view relative) const {
  std::ifstream in(path_ / std::filesystem::path(std::string(relative)), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool TempFolder::exists(std::string_view relative) const {
  return std::filesystem::exists(path_ / std::filesystem::path(std::string(relative)));
}

std::vector<std::string> TempFolder::list(std::string_view relative) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(path_ / std::filesystem::path(std::string(relative)), ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

ImageRef testImage(int width, int height, uint32_t seed) {
  std::vector<uint32_t> px(static_cast<size_t>(width) * static_cast<size_t>(height));
  uint32_t s = seed * 2654435761u + 12345u;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      s = s * 1664525u + 1013904223u;
      uint32_t a = (x == 0 || y == 0) ? 0u : ((s >> 24) | 0x40u);  // transparent edge, varied alpha
      uint32_t r = static_cast<uint32_t>(x * 37 + seed) & 0xff;
      uint32_t g = static_cast<uint32_t>(y * 53 + seed * 7) & 0xff;
      uint32_t b = (s >> 8) & 0xff;
      px[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
          (a << 24) | (r << 16) | (g << 8) | b;
    }
  return makeImage(width, height, px);
}

std::string testPng(int width, int height, uint32_t seed) {
  auto png = encodePng(*testImage(width, height, seed));
  if (!png) throw std::runtime_error("PNG encoding failed");
  return *png;
}

Character character(std::string name, int64_t value, ImageRef image) {
  Character c;
  c.name = std::move(name);
  c.value = value;
  c.image = std::move(image);
  return c;
}
Character character(std::string name, ImageRef image) { return character(std::move(name), 0, std::move(image)); }

Layer layer(std::string name, int64_t value, ImageRef image) {
  Layer l;
  l.name = std::move(name);
  l.value = value;
  l.visible = 1;
  l.image = std::move(image);
  return l;
}
Layer layer(std::string name, ImageRef image) { return layer(std::move(name), 0, std::move(image)); }

std::map<std::string, std::string> filesOf(const TempFolder& dir, int* temporaries) {
  std::map<std::string, std::string> files;
  for (const std::string sub : {"", "img/"})
    for (const std::string& name : dir.list(sub)) {
      if (sub.empty() && name == "img") continue;
      if (temporaries && name.front() == '.') {
        ++*temporaries;
      } else {
        files[sub + name] = dir.read(sub + name);
      }
    }
  return files;
}

SaveReport saveInto(CharacterList& list, const TempFolder& dir) {
  EditorState state;
  return saveProject(list, state, ProjectFolder(dir.path()));
}

namespace {
void expectSameImage(const ImageRef& expected, const ImageRef& actual, const std::string& what) {
  if (!expected) {
    EXPECT_FALSE(actual) << what << " gained a picture";
  } else if (!actual) {
    ADD_FAILURE() << what << " lost its picture";
  } else {
    EXPECT_TRUE(actual->samePixels(*expected)) << what << " has other pixels";
  }
}
}  // namespace

void expectSameModel(const CharacterList& expected, const CharacterList& actual) {
  ASSERT_EQ(actual.characters.size(), expected.characters.size());
  for (size_t k = 0; k < expected.characters.size(); ++k) {
    const Character& e = expected.characters[k];
    const Character& a = actual.characters[k];
    const std::string what = "character " + std::to_string(k + 1) + " \"" + e.name + "\"";
    EXPECT_EQ(a.name, e.name) << what;
    EXPECT_EQ(a.value, e.value) << what;
    EXPECT_EQ(a.x, e.x) << what;
    EXPECT_EQ(a.y, e.y) << what;
    expectSameImage(e.image, a.image, what);
    ASSERT_EQ(a.layers.size(), e.layers.size()) << what;
    for (size_t m = 0; m < e.layers.size(); ++m) {
      const Layer& el = e.layers[m];
      const Layer& al = a.layers[m];
      const std::string layer = "layer " + std::to_string(m + 1) + " \"" + el.name + "\" of " + what;
      EXPECT_EQ(al.name, el.name) << layer;
      EXPECT_EQ(al.value, el.value) << layer;
      EXPECT_EQ(al.visible, el.visible) << layer;
      EXPECT_EQ(al.x, el.x) << layer;
      EXPECT_EQ(al.y, el.y) << layer;
      expectSameImage(el.image, al.image, layer);
    }
  }
}

LoadResult expectLoadsAs(const TempFolder& dir, const CharacterList& expected) {
  LoadResult loaded = loadProject(ProjectFolder(dir.path()));
  for (const Problem& p : loaded.problems) ADD_FAILURE() << "loading: " << p.file << ": " << p.reason;
  expectSameModel(expected, loaded.list);
  return loaded;
}

}  // namespace charstack::testing
