// Shared pieces of the benchmarks: synthetic projects in a temporary folder, timing, medians and the
// result table.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "model/model.hpp"
#include "project/project_io.hpp"

namespace charstack::bench {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Non-premultiplied 0xAARRGGBB pixels of a synthetic picture: gradients, noise and an alpha shape with
// fully transparent corners, so that PNG compression has real work to do.
std::vector<uint32_t> syntheticPixels(int width, int height, uint32_t seed);

// A project of `records` records (characters of up to `recordsPerCharacter` records: the character
// and its layers), every record with its own size x size picture, in save order; with patterned, every
// other picture is patterned art (patternedPixels).
CharacterList syntheticProject(int records, int recordsPerCharacter, int size, bool patterned = false);
// Drawn art: a few flat colours in a repeating pattern of a period that depends on seed, outlined,
// opaque inside an ellipse, half transparent at its rim and transparent outside.
std::vector<uint32_t> patternedPixels(int width, int height, uint32_t seed);

// One character with `layers` visible layers of size x size pictures spread over a canvas of
// canvasWidth x canvasHeight, at depths in list order.
CharacterList layeredCharacter(int layers, int size, int canvasWidth, int canvasHeight);

// Writes the project as the editor saves it (data.txt and img/).
void writeProject(CharacterList list, const std::filesystem::path& folder);

// Copies a folder with everything in it (to must not exist yet).
void copyFolder(const std::filesystem::path& from, const std::filesystem::path& to);

// The bytes of the regular files under a folder, all subfolders included.
uint64_t folderBytes(const std::filesystem::path& folder);

// The image files of a project folder in save order ("img/<name><number>"), relative to it.
std::vector<std::string> imageFilesInSaveOrder(const CharacterList& list);

double secondsSince(std::chrono::steady_clock::time_point start);
// Wall seconds of one call.
double timeSeconds(const std::function<void()>& job);
double median(std::vector<double> values);

// Bytes of a file; 0 when it is missing.
uint64_t fileSize(const std::filesystem::path& path);

// Kilobyte figures of /proc/self/status ("VmHWM", "VmRSS"); -1 when missing.
long procStatusKb(const char* key);

// Resets the peak resident size ("VmHWM") to the current one; false when the kernel does not allow it.
bool resetPeakRss();

// User plus system CPU seconds this process has used.
double processCpuSeconds();

// One row of the final table.
struct Row {
  std::string what;
  std::string figure;    // the measured value, with its unit
  std::string baseline;  // what it is compared with, with its unit ("-" when the target is absolute)
  std::string ratio;     // figure / baseline, or the speed-up, as the target states it
  std::string target;
  bool met = false;
  bool measured = true;  // false: skipped, figure says why
};

void printTable(const std::vector<Row>& rows);

std::string formatSeconds(double seconds);
std::string formatFixed(double value, int decimals);

}  // namespace charstack::bench
