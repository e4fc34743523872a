#include "canvas/export.hpp"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>
#include <system_error>

#include "canvas/canvas_scene.hpp"
#include "platform/parallel.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {
// The picture of the images placed as the canvas draws them.
CharacterPicture pictureOf(const std::vector<PlacedImage>& placed) {
  CharacterPicture picture;
  if (placed.empty()) return picture;
  ComposedImage composed = composeImages(placed);
  if (!composed.image) {
    picture.problem = composed.problem;
    return picture;
  }
  picture.left = composed.left;
  picture.top = composed.top;
  picture.png = encodePng(*composed.image);
  if (!picture.png) picture.problem = "could not be encoded as PNG";
  return picture;
}
}  // namespace

CharacterPicture characterPicture(const Character& character) {
  std::vector<PlacedImage> placed;
  // The canvas's own draw calls, positions included, so that the export shows what the canvas shows.
  for (const DrawCall& call : CanvasScene::compositionOf(character)) placed.push_back({call.image, call.x, call.y});
  return pictureOf(placed);
}

std::string exportFileName(const std::string& name, int64_t recordNumber, bool withNumber) {
  const bool plain = name.find_first_not_of(" .") != std::string::npos;
  std::string fileName = withNumber || !plain ? imageFileName(name, recordNumber) : name;
  for (char& c : fileName)
    if (c == '/' || c == '\0') c = '_';
  return fileName + ".png";
}

bool isSheetName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= 200 &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

namespace {

std::string who(const CharacterList& list, size_t i) {
  return "character " + std::to_string(i + 1) + " \"" + list.characters[i].name + "\"";
}

// What a file name is to a file system that ignores case (a FAT stick, a shared folder): the name
// with its Unicode case folded. A name that is not UTF-8 stays as its bytes.
std::string caseFolded(const std::string& name) {
  const QString text = QString::fromStdString(name);
  return text.toStdString() == name ? text.toCaseFolded().toStdString() : name;
}

// The file names of the characters that draw something, in character order (empty for the others).
// A name an earlier character has, in any case, gets " (2)", " (3)"… before ".png", never a name that
// another character has of its own; renamed tells which did. Names for JSON are made UTF-8 first
// (bytes that are not become U+FFFD), so that two names never become one key there; as keys, names
// that differ only in case are two.
std::vector<std::string> uniqueFileNames(const CharacterList& list, const std::vector<bool>& draws,
                                         bool numbers, bool forJson, std::vector<bool>& renamed) {
  const size_t count = list.characters.size();
  const auto key = [forJson](const std::string& name) { return forJson ? name : caseFolded(name); };
  std::vector<std::string> names(count);
  std::set<std::string> own, given;
  for (size_t i = 0; i < count; ++i)
    if (draws[i]) {
      names[i] = exportFileName(list.characters[i].name, list.characterRecordNumber(int64_t(i)), numbers);
      if (forJson) names[i] = QString::fromStdString(names[i]).toStdString();
      own.insert(key(names[i]));
    }
  renamed.assign(count, false);
  std::map<std::string, int> next;  // the next number to try for each name
  for (size_t i = 0; i < count; ++i) {
    if (!draws[i] || given.insert(key(names[i])).second) continue;
    const std::string stem = names[i].substr(0, names[i].size() - 4);
    int& k = next.try_emplace(key(stem), 2).first->second;
    std::string unique;
    do unique = stem + " (" + std::to_string(k++) + ").png";
    while (own.count(key(unique)) || !given.insert(key(unique)).second);
    names[i] = unique;
    renamed[i] = true;
  }
  return names;
}

// A picture as it goes out, scaled and maybe trimmed, and where it lies in its whole box.
struct Frame {
  ImageRef image;                         // none when nothing is left to draw
  int sourceWidth = 0, sourceHeight = 0;  // the whole box, scaled
  int offsetX = 0, offsetY = 0;           // where image lies in it
};

struct Box {
  int x = 0, y = 0, w = 0, h = 0;
};

// The smallest box holding every pixel of the image that is not fully transparent; empty when none.
Box opaqueBox(const Image& image) {
  const int w = image.pixelWidth(), h = image.pixelHeight();
  int left = w, right = -1, top = h, bottom = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (image.pixel(x, y) >> 24) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = y;
      }
  if (right < 0) return {};
  return {left, top, right - left + 1, bottom - top + 1};
}

// The pixels of box, each as a block of scale x scale, as a picture like every exported one: drawn
// alone, an image keeps its pixels exactly and gets the export's resolution.
ImageRef scaledPart(const Image& image, const Box& box, int scale) {
  const size_t width = size_t(box.w) * size_t(scale);
  std::vector<uint32_t> argb, row(width);
  argb.reserve(width * size_t(box.h) * size_t(scale));
  for (int y = 0; y < box.h; ++y) {
    for (int x = 0; x < box.w; ++x)
      std::fill_n(row.begin() + ptrdiff_t(x) * scale, scale, image.pixel(box.x + x, box.y + y));
    for (int k = 0; k < scale; ++k) argb.insert(argb.end(), row.begin(), row.end());
  }
  const ImageRef pixels = makeImage(int(width), box.h * scale, argb);
  return pixels ? composeImages({{pixels.get(), 0, 0, false}}).image : nullptr;
}

Frame frameOf(const ImageRef& picture, int scale, bool trim, std::string& problem) {
  const Box whole{0, 0, picture->pixelWidth(), picture->pixelHeight()};
  const Box box = trim ? opaqueBox(*picture) : whole;
  Frame frame{nullptr, whole.w * scale, whole.h * scale, box.x * scale, box.y * scale};
  if (box.w == 0) return frame;  // transparent through and through: nothing to draw
  if (scale == 1 && box.w == whole.w && box.h == whole.h) {
    frame.image = picture;
  } else if (int64_t{box.w} * box.h * scale * scale > kMaxImagePixels) {
    problem = "would be too large: " + std::to_string(box.w * scale) + "x" + std::to_string(box.h * scale);
  } else if (!(frame.image = scaledPart(*picture, box, scale))) {
    problem = "could not be scaled";
  }
  return frame;
}

// Where the frames go on the sheet: tallest first (then by name), left to right on shelves about as
// wide as the square root of their area (at least the widest frame), kSheetPadding pixels apart.
struct Slot {
  size_t frame;
  int x, y;
};
std::vector<Slot> packShelves(const std::vector<std::pair<std::string, Frame>>& frames, int& width,
                              int& height) {
  std::vector<size_t> order(frames.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto h = [&](size_t i) { return frames[i].second.image->pixelHeight(); };
  const auto w = [&](size_t i) { return frames[i].second.image->pixelWidth(); };
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return h(a) != h(b) ? h(a) > h(b) : frames[a].first < frames[b].first;
  });
  double area = 0;
  int widest = 0;
  for (size_t i : order)
    area += double(w(i) + kSheetPadding) * (h(i) + kSheetPadding), widest = std::max(widest, w(i));
  const int shelfWidth = std::max(widest, int(std::ceil(std::sqrt(area))));
  std::vector<Slot> places;
  int x = 0, y = 0, shelfHeight = 0;
  width = height = 0;
  for (size_t i : order) {
    if (x > 0 && x + w(i) > shelfWidth) y += shelfHeight + kSheetPadding, x = 0, shelfHeight = 0;
    places.push_back({i, x, y});
    shelfHeight = std::max(shelfHeight, h(i));
    width = std::max(width, x + w(i)), height = std::max(height, y + h(i));
    x += w(i) + kSheetPadding;
  }
  return places;
}

QJsonObject jsonSize(int w, int h) { return {{"w", w}, {"h", h}}; }
QJsonObject jsonRect(int x, int y, int w, int h) { return {{"x", x}, {"y", y}, {"w", w}, {"h", h}}; }

// The sheet's description as texture packers write it ("hash" layout); QJsonObject keeps its keys
// sorted, so the same sheet gives the same bytes.
std::string sheetJson(const std::vector<std::pair<std::string, Frame>>& frames,
                      const std::vector<Slot>& places, const std::string& image, int width, int height,
                      int scale) {
  QJsonObject all;
  for (const Slot& slot : places) {
    const Frame& f = frames[slot.frame].second;
    const int w = f.image->pixelWidth(), h = f.image->pixelHeight();
    all.insert(QString::fromStdString(frames[slot.frame].first),
               QJsonObject{{"frame", jsonRect(slot.x, slot.y, w, h)},
                           {"rotated", false},
                           {"trimmed", w != f.sourceWidth || h != f.sourceHeight},
                           {"spriteSourceSize", jsonRect(f.offsetX, f.offsetY, w, h)},
                           {"sourceSize", jsonSize(f.sourceWidth, f.sourceHeight)}});
  }
  const QJsonObject meta{{"app", "charstack"},
                         {"version", QCoreApplication::applicationVersion()},
                         {"image", QString::fromStdString(image)},
                         {"format", "RGBA8888"},
                         {"size", jsonSize(width, height)},
                         {"scale", QString::number(scale)}};
  return QJsonDocument(QJsonObject{{"frames", all}, {"meta", meta}})
      .toJson(QJsonDocument::Indented)
      .toStdString();
}

// One export: the pictures are made on worker threads (prepare) and taken in character order on the
// calling thread (consume), then, for a sheet, put together.
class Exporter {
 public:
  Exporter(const CharacterList& list, const ProjectFolder& target,
           const std::function<void(const std::string&)>& wrote, const ExportOptions& options);
  ExportReport run();

 private:
  struct Work {
    Frame frame;
    bool made = false;           // whether there was something to draw and it came out
    std::string problem;         // why the picture could not be made
    std::filesystem::path temp;  // the picture written beside its file, flushed, until it is renamed
    Status written = Status::failure("nothing was written");
  };
  bool cancelled() const { return options_.cancel && options_.cancel->load(std::memory_order_relaxed); }
  // What progress counts: the characters, and a sheet's putting together as one more.
  size_t steps() const { return work_.size() + (options_.sheet.empty() ? 0 : 1); }
  void prepare(size_t i);
  void consume(size_t i);
  void place(size_t i, Work& w);
  void writeSheet();
  bool put(const std::string& fileName, const std::string& data);

  const CharacterList& list_;
  const ProjectFolder& target_;
  const std::function<void(const std::string&)>& wrote_;
  const ExportOptions& options_;
  const int scale_;
  const size_t threads_;
  const std::string token_;  // marks the temporary files: the next export removes what a killed one left
  ExportReport report_;
  std::unordered_map<const Image*, int> uses_;
  std::vector<std::string> fileNames_;
  std::vector<bool> renamed_;
  std::vector<Work> work_;
  std::vector<std::pair<std::string, Frame>> frames_;  // the sheet's, in character order
  bool committed_ = false;
  size_t done_ = 0;
};

Exporter::Exporter(const CharacterList& list, const ProjectFolder& target,
                   const std::function<void(const std::string&)>& wrote, const ExportOptions& options)
    : list_(list),
      target_(target),
      wrote_(wrote),
      options_(options),
      scale_(std::clamp(options.scale, 1, kMaxExportScale)),
      threads_(options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency())),
      token_(target.token()),
      work_(list.characters.size()) {
  // A picture drawn by several characters is decoded once and keeps its drawn copy, as on the canvas;
  // one drawn once is decoded for its character only, so that the export never holds every picture.
  std::vector<bool> draws;
  for (const Character& c : list.characters) {
    const auto calls = CanvasScene::compositionOf(c);
    draws.push_back(!calls.empty());
    for (const DrawCall& call : calls) ++uses_[call.image];
  }
  fileNames_ = uniqueFileNames(list, draws, options.numbers, !options.sheet.empty(), renamed_);
}

// On a worker thread: compose, scale, trim; for files, encode and write the temporary file (fsynced)
// beside the target.
void Exporter::prepare(size_t i) {
  if (cancelled()) return;
  std::vector<PlacedImage> placed;
  for (const DrawCall& call : CanvasScene::compositionOf(list_.characters[i]))
    placed.push_back({call.image, call.x, call.y, uses_.at(call.image) > 1});
  if (placed.empty()) return;
  const ComposedImage composed = composeImages(placed);
  Work& w = work_[i];
  if (!composed.image) {
    w.problem = composed.problem;
    return;
  }
  w.frame = frameOf(composed.image, scale_, options_.trim, w.problem);
  w.made = w.frame.image != nullptr;
  if (!w.made || !options_.sheet.empty() || cancelled()) return;
  const std::optional<std::string> png = encodePng(*w.frame.image);
  w.frame.image.reset();
  if (!png) {
    w.problem = "could not be encoded as PNG";
    return;
  }
  const std::filesystem::path file = target_.resolve(fileNames_[i]);
  w.temp = file.parent_path() / temporaryFileName(token_);
  w.written = target_.ops().createFile(w.temp, *png, modeFor(file), nullptr);
  if (!w.written.ok()) w.temp.clear();
}

// On the calling thread, in character order: put the file in place (or keep the frame) and report.
void Exporter::consume(size_t i) {
  Work w = std::move(work_[i]);
  const bool stop = cancelled();
  if (stop)
    report_.cancelled = true;
  else if (!w.problem.empty())
    report_.problems.push_back(
        {fileNames_[i], "was not written: the picture of " + who(list_, i) + " " + w.problem});
  else if (!w.made)
    report_.skipped.push_back(who(list_, i));
  else
    place(i, w);
  if (!w.temp.empty()) target_.ops().remove(w.temp);  // a temporary file that was not renamed into place
  if (!stop && options_.progress) options_.progress(++done_, steps());
}

void Exporter::place(size_t i, Work& w) {
  const std::string& fileName = fileNames_[i];
  if (!options_.sheet.empty()) {
    frames_.emplace_back(fileName, std::move(w.frame));
  } else if (Status s = w.written.ok() ? target_.ops().rename(w.temp, target_.resolve(fileName)) : w.written;
             !s.ok()) {
    return report_.problems.push_back({fileName, "could not be written: " + s.error});
  } else {
    w.temp.clear();
    committed_ = true;
    report_.written.push_back(fileName);
    if (wrote_) wrote_(fileName);
  }
  if (renamed_[i]) report_.renamed.emplace_back(who(list_, i), fileName);
}

bool Exporter::put(const std::string& fileName, const std::string& data) {
  if (Status s = target_.writeFileAtomically(fileName, data); !s.ok()) {
    report_.problems.push_back({fileName, "could not be written: " + s.error});
    return false;
  }
  report_.written.push_back(fileName);
  if (wrote_) wrote_(fileName);
  return true;
}

// The frames' pixels go into the sheet's rows as it is written: no picture of the whole sheet is
// made.
void Exporter::writeSheet() {
  if (frames_.empty() || report_.cancelled || cancelled()) return;
  int width = 0, height = 0;
  const std::vector<Slot> places = packShelves(frames_, width, height);
  const std::string image = options_.sheet + ".png";
  if (int64_t{width} * height > kMaxImagePixels)
    return report_.problems.push_back({image, "was not written: the sheet would be " + std::to_string(width) +
                                                  "x" + std::to_string(height) +
                                                  " pixels, more than the editor makes (8192x8192)"});
  std::vector<PlacedImage> placed;
  for (const Slot& slot : places)
    placed.push_back({frames_[slot.frame].second.image.get(), double(slot.x), double(slot.y), false});
  const std::optional<std::string> png = encodeSheetPng(width, height, placed, threads_);
  if (!png) return report_.problems.push_back({image, "could not be encoded as PNG"});
  report_.frames = frames_.size();
  if (put(image, *png))
    put(options_.sheet + ".json", sheetJson(frames_, places, image, width, height, scale_));
}

ExportReport Exporter::run() {
  if (!options_.sheet.empty() && !isSheetName(options_.sheet)) {
    report_.problems.push_back({options_.sheet, "cannot name a sprite sheet"});
    return report_;
  }
  orderedPipeline(
      work_.size(), threads_, 2 * threads_ + 2, [this](size_t i) { prepare(i); },
      [this](size_t i) { consume(i); });
  if (!options_.sheet.empty()) {
    writeSheet();
    if (options_.progress && !report_.cancelled) options_.progress(steps(), steps());
  }
  // One fsync of the folder makes the renames durable.
  if (committed_)
    if (Status s = target_.syncFolder(""); !s.ok())
      report_.problems.push_back({".", "could not be written: " + s.error});
  return std::move(report_);
}

}  // namespace

ExportReport exportAllCharacters(const CharacterList& list, const ProjectFolder& target,
                                 const std::function<void(const std::string&)>& wrote,
                                 const ExportOptions& options) {
  return Exporter(list, target, wrote, options).run();
}

namespace {
// The path with its links resolved as far as it exists, without a trailing "/".
std::filesystem::path resolved(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  if (ec) p = std::filesystem::absolute(path, ec);
  p = p.lexically_normal();
  return p.has_filename() || !p.has_parent_path() || p == p.root_path() ? p : p.parent_path();
}
}  // namespace

bool isInsideProject(const std::filesystem::path& target, const std::filesystem::path& project) {
  const auto where = resolved(target);
  const auto root = resolved(project);
  if (where == root) return true;
  const auto images = root / kImageFolder;
  // target inside img/: every part of images starts target.
  auto a = where.begin();
  for (auto b = images.begin(); b != images.end(); ++a, ++b)
    if (a == where.end() || *a != *b) return false;
  return true;
}

}  // namespace charstack
