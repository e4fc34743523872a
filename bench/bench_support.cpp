#include "bench_support.hpp"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "platform/files.hpp"
#include "platform/image.hpp"
#include "platform/parallel.hpp"
#include "project/project_io.hpp"

namespace charstack::bench {

TempDir::TempDir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::filesystem::path base = tmp && *tmp ? tmp : "/tmp";
  std::string pattern = (base / (prefix + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a folder under " + base.string());
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {

// xorshift32: cheap, deterministic noise.
uint32_t nextRandom(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

uint32_t clampByte(int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); }

}  // namespace

std::vector<uint32_t> syntheticPixels(int width, int height, uint32_t seed) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
  uint32_t state = seed * 2654435761u + 1;
  const double cx = width * (0.4 + 0.2 * ((seed % 7) / 6.0));
  const double cy = height * (0.4 + 0.2 * ((seed % 5) / 4.0));
  const double radius = 0.45 * std::min(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t noise = nextRandom(state);
      // Smooth gradients with a few bits of noise: compressible, but not trivially.
      const int r = x * 255 / width + static_cast<int>(noise & 15) - 8;
      const int g = y * 255 / height + static_cast<int>((noise >> 4) & 15) - 8;
      const int b = ((x + y + static_cast<int>(seed) * 37) & 255) + static_cast<int>((noise >> 8) & 7) - 4;
      const double dx = (x - cx) / radius, dy = (y - cy) / radius;
      const double d = dx * dx + dy * dy;
      // Opaque inside, soft edge, fully transparent corners (whose colours must survive too).
      int a = d < 0.6 ? 255 : d < 1.0 ? static_cast<int>(255 * (1.0 - d) / 0.4) : 0;
      if (a > 0 && a < 255) a += static_cast<int>((noise >> 12) & 7) - 4;
      pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
          clampByte(a) << 24 | clampByte(r) << 16 | clampByte(g) << 8 | clampByte(b);
    }
  }
  return pixels;
}

std::vector<uint32_t> patternedPixels(int width, int height, uint32_t seed) {
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
  uint32_t state = seed * 7919u + 3, colours[6];
  for (uint32_t& c : colours) c = nextRandom(state) & 0xffffff;
  const int half = (8 + static_cast<int>(seed % 9)) / 2;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = (x - width / 2.0) / (0.45 * width), dy = (y - height / 2.0) / (0.45 * height);
      const double d = dx * dx + dy * dy;
      const uint32_t a = d < 0.8 ? 255 : d < 1.0 ? 128 : 0;
      const uint32_t c = std::abs(d - 0.8) < 0.03 ? 0x101010 : colours[((x / half + y / half) % 3 + (x * y / (2 * half)) % 2 * 3) % 6];
      pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = a << 24 | c;
    }
  }
  return pixels;
}

CharacterList syntheticProject(int records, int recordsPerCharacter, int size, bool patterned) {
  CharacterList list;
  std::vector<ImageRef*> slots;
  for (int made = 0; made < records;) {
    Character c;
    c.name = "hero";
    c.value = 100;
    c.x = 10 * static_cast<int32_t>(list.characters.size() % 20);
    c.y = 20;
    ++made;
    for (int m = 1; m < recordsPerCharacter && made < records; ++m, ++made) {
      Layer l;
      l.name = "part";
      l.value = 150 + m;
      l.visible = 1;
      l.x = 12 * m;
      l.y = 8 * m;
      c.layers.push_back(std::move(l));
    }
    list.characters.push_back(std::move(c));
  }
  for (Character& c : list.characters) {
    slots.push_back(&c.image);
    for (Layer& l : c.layers) slots.push_back(&l.image);
  }
  parallelFor(slots.size(), [&](size_t i) {
    const auto seed = static_cast<uint32_t>(i + 1);
    *slots[i] = makeImage(size, size, patterned && i % 2 ? patternedPixels(size, size, seed) : syntheticPixels(size, size, seed));
  });
  return list;
}

CharacterList layeredCharacter(int layers, int size, int canvasWidth, int canvasHeight) {
  CharacterList list;
  Character c;
  c.name = "hero";
  c.value = 100;
  for (int m = 0; m < layers; ++m) {
    Layer l;
    l.name = "part";
    l.value = 101 + m;
    l.visible = 1;
    l.x = (m * 53) % std::max(1, canvasWidth - size / 2) - size / 4;
    l.y = (m * 37) % std::max(1, canvasHeight - size / 2) - size / 4;
    l.image = makeImage(size, size, syntheticPixels(size, size, static_cast<uint32_t>(m + 1)));
    c.layers.push_back(std::move(l));
  }
  list.characters.push_back(std::move(c));
  return list;
}

void writeProject(CharacterList list, const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);  // a save locks the folder: it must be there
  EditorState state;
  SaveReport report = saveProject(list, state, ProjectFolder(folder));
  if (!report.ok()) throw std::runtime_error("cannot write the synthetic project in " + folder.string());
}

void copyFolder(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

uint64_t folderBytes(const std::filesystem::path& folder) {
  uint64_t bytes = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) bytes += entry.file_size();
  return bytes;
}

std::vector<std::string> imageFilesInSaveOrder(const CharacterList& list) {
  std::vector<std::string> files;
  int64_t number = 0;
  for (const Character& c : list.characters) {
    files.push_back(std::string(kImageFolder) + "/" + imageFileName(c.name, ++number));
    for (const Layer& l : c.layers) files.push_back(std::string(kImageFolder) + "/" + imageFileName(l.name, ++number));
  }
  return files;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double timeSeconds(const std::function<void()>& job) {
  auto start = std::chrono::steady_clock::now();
  job();
  return secondsSince(start);
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

uint64_t fileSize(const std::filesystem::path& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

long procStatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  return -1;
}

bool resetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

double processCpuSeconds() {
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string formatSeconds(double seconds) {
  char text[32];
  if (seconds >= 1)
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  else if (seconds >= 1e-3)
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1e3);
  else
    std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
  return text;
}

std::string formatFixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void printTable(const std::vector<Row>& rows) {
  size_t w[5] = {4, 6, 8, 5, 6};
  for (const Row& r : rows) {
    w[0] = std::max(w[0], r.what.size());
    w[1] = std::max(w[1], r.figure.size());
    w[2] = std::max(w[2], r.baseline.size());
    w[3] = std::max(w[3], r.ratio.size());
    w[4] = std::max(w[4], r.target.size());
  }
  auto line = [&](const std::string& a, const std::string& b, const std::string& c, const std::string& d,
                  const std::string& e, const std::string& f) {
    std::printf("%-*s | %*s | %*s | %*s | %-*s | %s\n", static_cast<int>(w[0]), a.c_str(), static_cast<int>(w[1]),
                b.c_str(), static_cast<int>(w[2]), c.c_str(), static_cast<int>(w[3]), d.c_str(),
                static_cast<int>(w[4]), e.c_str(), f.c_str());
  };
  std::printf("\n");
  line("what", "figure", "baseline", "ratio", "target", "");
  std::printf("%s\n", std::string(w[0] + w[1] + w[2] + w[3] + w[4] + 20, '-').c_str());
  for (const Row& r : rows) line(r.what, r.figure, r.baseline, r.ratio, r.target, !r.measured ? "skipped" : r.met ? "ok" : "MISSED");
  std::fflush(stdout);
}

}  // namespace charstack::bench
