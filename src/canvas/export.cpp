#include "canvas/export.hpp"

#include <algorithm>
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

std::string exportFileName(const std::string& name, int64_t recordNumber) {
  std::string fileName = imageFileName(name, recordNumber);
  for (char& c : fileName)
    if (c == '/' || c == '\0') c = '_';
  return fileName + ".png";
}

ExportReport exportAllCharacters(const CharacterList& list, const ProjectFolder& target,
                                 const std::function<void(const std::string&)>& wrote, const ExportOptions& options) {
  ExportReport report;
  const size_t count = static_cast<size_t>(list.size());
  const auto cancelled = [&] { return options.cancel && options.cancel->load(std::memory_order_relaxed); };

  // A picture drawn by several characters is decoded once and keeps its drawn copy, as on the canvas;
  // one drawn once is decoded for its character only, so that the export never holds every picture.
  std::unordered_map<const Image*, int> uses;
  for (const Character& c : list.characters)
    for (const DrawCall& call : CanvasScene::compositionOf(c)) ++uses[call.image];

  struct Work {
    CharacterPicture picture;
    std::filesystem::path temp;  // the picture written beside its file, flushed, until it is renamed
    Status written = Status::failure("nothing was written");
  };
  std::vector<Work> work(count);
  std::vector<std::string> fileNames(count);
  for (size_t i = 0; i < count; ++i)
    fileNames[i] = exportFileName(list.characters[i].name, list.characterRecordNumber(static_cast<int64_t>(i)));

  // On the worker threads: compose, encode and write the temporary file (fsynced) beside the target.
  // The folder's token marks the temporary files: the next export into it removes what a killed one left.
  const std::string token = target.token();
  auto prepare = [&](size_t i) {
    if (cancelled()) return;
    std::vector<PlacedImage> placed;
    for (const DrawCall& call : CanvasScene::compositionOf(list.characters[i]))
      placed.push_back({call.image, call.x, call.y, uses.at(call.image) > 1});
    work[i].picture = pictureOf(placed);
    if (work[i].picture.png && !cancelled()) {
      const std::filesystem::path file = target.resolve(fileNames[i]);
      work[i].temp = file.parent_path() / temporaryFileName(token);
      work[i].written = target.ops().createFile(work[i].temp, *work[i].picture.png, modeFor(file), nullptr);
      if (!work[i].written.ok()) work[i].temp.clear();
      work[i].picture.png->clear();
      work[i].picture.png->shrink_to_fit();
    }
  };
  // On the calling thread, in character order: put the file in place and report.
  std::set<std::string> taken;
  bool committed = false;
  size_t done = 0;
  auto consume = [&](size_t i) {
    Work w = std::move(work[i]);
    // A temporary file that is not renamed into place goes.
    auto discard = [&] {
      if (!w.temp.empty()) target.ops().remove(w.temp);
    };
    if (cancelled()) {
      report.cancelled = true;
      return discard();
    }
    const std::string& fileName = fileNames[i];
    const std::string who = "character " + std::to_string(i + 1) + " \"" + list.characters[i].name + "\"";
    if (!w.picture.png && w.picture.problem.empty()) {
      report.skipped.push_back(who);
    } else if (!w.picture.png) {
      report.problems.push_back({fileName, "was not written: the picture of " + who + " " + w.picture.problem});
    } else if (!taken.insert(fileName).second) {
      // Hand-written projects may give two characters the same file name ("a1" first, "a" eleventh).
      report.problems.push_back({fileName, "was not written for " + who + ": an earlier character has that file"});
    } else if (Status s = w.written.ok() ? target.ops().rename(w.temp, target.resolve(fileName)) : w.written; !s.ok()) {
      report.problems.push_back({fileName, "could not be written: " + s.error});
    } else {
      w.temp.clear();
      committed = true;
      report.written.push_back(fileName);
      if (wrote) wrote(fileName);
    }
    discard();
    if (options.progress) options.progress(++done, count);
  };
  const size_t threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  orderedPipeline(count, threads, 2 * threads + 2, prepare, consume);
  // One fsync of the folder makes the renames durable.
  if (committed)
    if (Status s = target.syncFolder(""); !s.ok()) report.problems.push_back({".", "could not be written: " + s.error});
  return report;
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
