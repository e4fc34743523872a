#include "controller/recovery.hpp"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>

#include <cstring>
#include <functional>
#include <limits>
#include <type_traits>

#include "controller/commands.hpp"
#include "controller/editor.hpp"

namespace charstack {

// What the snapshot of a recovery holds, named outside this file's own namespace so that a snapshot may
// hold it.
namespace recovery_parts {

constexpr uint32_t kMagic = 0x56525343;  // "CSRV"
constexpr uint32_t kFormat = 1;

// A picture as "state" names it: a file of the project's "img/" as it was then, or a PNG file of the
// recovery folder (written whole before any "state" names it). No name: a number nothing uses.
struct PictureEntry {
  bool stored = false;
  std::string name;
  FileStamp stamp;
};

// Numbers of pictures, from `first` on, in the order they are first named.
class PictureNumbers {
 public:
  explicit PictureNumbers(int32_t first = 0) : first_(first) {}
  int32_t numberOf(const ImageRef& image) {
    auto [at, added] = numbers_.try_emplace(image.get(), first_ + static_cast<int32_t>(pictures.size()));
    if (added) pictures.push_back(image);
    return at->second;
  }
  std::optional<int32_t> find(const Image* image) const {
    auto at = numbers_.find(image);
    return at != numbers_.end() ? std::optional(at->second) : std::nullopt;
  }
  std::vector<ImageRef> pictures;

 private:
  int32_t first_;
  std::unordered_map<const Image*, int32_t> numbers_;
};

// The header of "state": what it was made for and from.
struct Header {
  uint32_t magic = kMagic, format = kFormat;
  std::string projectPath;
  int64_t writtenMs = 0;
  int32_t steps = 0;
  bool hasDataStamp = false;
  FileStamp dataStamp;
  std::vector<PictureEntry> pictures;
};

}  // namespace recovery_parts

namespace {

constexpr std::string_view kStateFile = "state";
constexpr std::string_view kPicturePrefix = "p-";
constexpr uint64_t kMaxStateBytes = uint64_t{1} << 30;

template <typename T>
struct IsVector : std::false_type {};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {};

template <typename Io> void fields(Io& io, FileStamp& s) { io(s.device, s.inode, s.size, s.modifiedNs); }
template <typename Io> void fields(Io& io, ContentCheck& c) { io(c.size, c.hash); }
template <typename Io> void fields(Io& io, recovery_parts::PictureEntry& p) { io(p.stored, p.name, p.stamp); }
template <typename Io> void fields(Io& io, RecordAt& a) { io(a.characterRow, a.layerRow); }
template <typename Io> void fields(Io& io, SelectedRows& r) {
  io(r.characterRow, r.layerRow, r.layerRows, r.moveCharacter, r.moveLayer, r.layerTable);
}
template <typename Io> void fields(Io& io, RecordFields& f) { io(f.name, f.value, f.visible, f.image, f.x, f.y); }
template <typename Io> void fields(Io& io, Layer& l) { io(l.name, l.savedName, l.value, l.visible, l.image, l.x, l.y); }
template <typename Io> void fields(Io& io, Character& c) {
  io(c.name, c.savedName, c.value, c.image, c.layers, c.x, c.y);
}
template <typename Io> void fields(Io& io, MoveCommand::Move& m) { io(m.at, m.fromX, m.fromY, m.toX, m.toY); }

// Writes values in the machine's byte order (a recovery never leaves the machine).
class Out {
 public:
  using Numbers = std::function<int32_t(const ImageRef&)>;
  Out(Numbers pictures, uint64_t saveCount) : pictures_(std::move(pictures)), saveCount_(saveCount) {}
  template <typename... T>
  void operator()(T&... values) { (one(values), ...); }
  // A save count of a step: only whether it is the present one's counts after a restore.
  void saveCount(uint64_t& count) {
    bool present = count == saveCount_;
    one(present);
  }
  std::string bytes;

 private:
  template <typename T>
  void one(T& value) {
    if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>) {
      bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    } else if constexpr (std::is_same_v<T, std::string>) {
      uint64_t size = value.size();
      one(size);
      bytes += value;
    } else if constexpr (std::is_same_v<T, std::optional<std::string>>) {
      bool has = value.has_value();
      one(has);
      if (has) one(*value);
    } else if constexpr (std::is_same_v<T, ImageRef>) {
      int32_t number = value ? pictures_(value) : -1;
      one(number);
    } else if constexpr (IsVector<T>::value) {
      uint64_t size = value.size();
      one(size);
      for (auto& v : value) one(v);
    } else {
      fields(*this, value);
    }
  }
  Numbers pictures_;
  uint64_t saveCount_;
};

// Reads what Out wrote; anything cut short or out of range makes it fail, and then reads nothing more.
class In {
 public:
  In(std::string_view bytes, const std::vector<ImageRef>* pictures, uint64_t saveCount)
      : rest_(bytes), pictures_(pictures), saveCount_(saveCount) {}
  template <typename... T>
  void operator()(T&... values) { (one(values), ...); }
  void saveCount(uint64_t& count) {
    bool present = false;
    one(present);
    count = present ? saveCount_ : std::numeric_limits<uint64_t>::max();
  }
  bool ok() const { return ok_; }
  void fail() { ok_ = false, rest_ = {}; }
  void setPictures(const std::vector<ImageRef>* pictures) { pictures_ = pictures; }
  bool atEnd() const { return rest_.empty(); }

 private:
  template <typename T>
  void one(T& value) {
    if constexpr (std::is_same_v<T, bool>) {
      uint8_t b = 0;
      raw(&b, 1);
      if (b > 1) fail();
      value = b == 1;
    } else if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>) {
      raw(&value, sizeof value);
    } else if constexpr (std::is_same_v<T, std::string>) {
      const uint64_t size = count(1);
      value.assign(rest_.substr(0, size));
      rest_.remove_prefix(size);
    } else if constexpr (std::is_same_v<T, std::optional<std::string>>) {
      bool has = false;
      one(has);
      if (has) one(value.emplace());
    } else if constexpr (std::is_same_v<T, ImageRef>) {
      int32_t number = -1;
      one(number);
      if (number < -1 || (number >= 0 && (!pictures_ || size_t(number) >= pictures_->size()))) return fail();
      value = number < 0 ? nullptr : (*pictures_)[size_t(number)];
    } else if constexpr (IsVector<T>::value) {
      // Every element takes at least a byte; memory grows only with what is really there.
      value.clear();
      for (uint64_t n = count(1); n > 0 && ok_; --n) one(value.emplace_back());
    } else {
      fields(*this, value);
    }
  }
  void raw(void* to, size_t size) {
    if (rest_.size() < size) return fail(), void(std::memset(to, 0, size));
    std::memcpy(to, rest_.data(), size);
    rest_.remove_prefix(size);
  }
  // A count of things of at least `least` bytes each: never more than the bytes left allow.
  uint64_t count(uint64_t least) {
    uint64_t n = 0;
    raw(&n, sizeof n);
    if (n > rest_.size() / least) fail(), n = 0;
    return n;
  }
  std::string_view rest_;
  const std::vector<ImageRef>* pictures_;
  uint64_t saveCount_;
  bool ok_ = true;
};

template <typename Io> void fields(Io& io, recovery_parts::Header& h) {
  io(h.magic, h.format, h.projectPath, h.writtenMs, h.steps, h.hasDataStamp, h.dataStamp, h.pictures);
}

enum class StepKind : uint8_t { Macro, Property, Move, Records, Reorder, TakePicture };

}  // namespace

// A step of the history read back: a command, or a macro of the steps in it.
struct HistoryNode {
  std::unique_ptr<QUndoCommand> command;  // none for a macro
  QString text;
  std::vector<HistoryNode> children;
};

struct RecoverySnapshot::Data {
  recovery_parts::Header header;
  CharacterList list;
  SelectedRows selection;
  std::vector<std::string> pendingDeletions;
  int32_t index = 0;
  uint64_t steps = 0;
  std::string history;      // the steps, written out
  recovery_parts::PictureNumbers pictures;  // the pictures the steps name so far
  struct KnownFile {
    const Image* image;
    std::string name;
    FileStamp stamp;
  };
  std::vector<KnownFile> files;  // of "img/", as the editor knows them
};

struct RecoveredWork::Data {
  std::vector<std::pair<ImageRef, std::string>> stored;  // pictures read from the recovery folder
  CharacterList list;
  SelectedRows selection;
  std::vector<std::string> pendingDeletions;
  int32_t index = 0;
  std::vector<HistoryNode> steps;
};

// Writes the steps of the history and reads them back as commands of another editor.
class HistoryCodec {
 public:
  template <typename Io> static void fields(Io& io, PropertyCommand& c) { io(c.at_, c.property_, c.old_, c.new_); }
  template <typename Io> static void fields(Io& io, MoveCommand& c) { io(c.moves_); }
  template <typename Io> static void fields(Io& io, RecordsCommand& c) {
    io(c.at_, c.inserting_, c.count_, c.characters_, c.layers_, c.queued_);
    io.saveCount(c.saveCount_);
  }
  template <typename Io> static void fields(Io& io, ReorderCommand& c) { io(c.characterRow_, c.order_); }
  template <typename Io> static void fields(Io& io, TakePictureCommand& c) {
    io(c.at_, c.fileName_, c.old_, c.new_, c.newDisk_.image, c.newDisk_.stamp);
  }

  static void write(Out& out, const QUndoCommand& step) {
    auto* command = const_cast<Command*>(dynamic_cast<const Command*>(&step));
    std::string text = step.text().toStdString();
    StepKind kind = kindOf(command);
    out(kind, text);
    if (!command) {
      uint64_t count = static_cast<uint64_t>(step.childCount());
      out(count);
      for (int i = 0; i < step.childCount(); ++i) write(out, *step.child(i));
      return;
    }
    out(command->before_, command->after_);
    visit(command, [&](auto& c) { fields(out, c); });
  }

  static HistoryNode read(In& in, RecordEdits& edits, int depth = 0) {
    HistoryNode node;
    StepKind kind{};
    std::string text;
    in(kind, text);
    node.text = QString::fromStdString(text);
    if (kind == StepKind::Macro) {
      uint64_t count = 0;
      in(count);
      for (uint64_t i = 0; i < count && in.ok() && depth < 8; ++i) node.children.push_back(read(in, edits, depth + 1));
      if (depth >= 8) in.fail();
      return node;
    }
    std::unique_ptr<Command> command = make(kind, edits);
    if (!command) {
      in.fail();
      return node;
    }
    command->setText(node.text);
    in(command->before_, command->after_);
    visit(command.get(), [&](auto& c) { fields(in, c); });
    if (auto* reorder = dynamic_cast<ReorderCommand*>(command.get()); reorder && !invert(*reorder)) in.fail();
    node.command = std::move(command);
    return node;
  }

  // The first redo of a step read back changes nothing: the records stand where it leaves them.
  static void skipFirstRedo(QUndoCommand& step, bool skip) {
    if (auto* command = dynamic_cast<Command*>(&step)) command->skipRedo_ = skip;
  }

 private:
  static StepKind kindOf(const Command* c) {
    if (dynamic_cast<const PropertyCommand*>(c)) return StepKind::Property;
    if (dynamic_cast<const MoveCommand*>(c)) return StepKind::Move;
    if (dynamic_cast<const RecordsCommand*>(c)) return StepKind::Records;
    if (dynamic_cast<const ReorderCommand*>(c)) return StepKind::Reorder;
    if (dynamic_cast<const TakePictureCommand*>(c)) return StepKind::TakePicture;
    return StepKind::Macro;
  }
  template <typename F>
  static void visit(Command* c, F&& f) {
    if (auto* p = dynamic_cast<PropertyCommand*>(c)) return f(*p);
    if (auto* m = dynamic_cast<MoveCommand*>(c)) return f(*m);
    if (auto* r = dynamic_cast<RecordsCommand*>(c)) return f(*r);
    if (auto* o = dynamic_cast<ReorderCommand*>(c)) return f(*o);
    if (auto* t = dynamic_cast<TakePictureCommand*>(c)) return f(*t);
  }
  // A command with nothing in it yet, of a kind; none for a kind that is none.
  static std::unique_ptr<Command> make(StepKind kind, RecordEdits& edits) {
    switch (kind) {
      case StepKind::Property: return std::make_unique<PropertyCommand>(edits, "", RecordAt{}, Property::Name, RecordFields{}, RecordFields{}, false, false);
      case StepKind::Move: return std::make_unique<MoveCommand>(edits, "", std::vector<MoveCommand::Move>{}, false, false);
      case StepKind::Records: {
        std::unique_ptr<RecordsCommand> c(new RecordsCommand(edits, "", RecordAt{}, false));
        c->first_ = false;
        return c;
      }
      case StepKind::Reorder: {
        auto c = std::make_unique<ReorderCommand>(edits, "", -1, std::vector<int64_t>{});
        c->first_ = false;
        return c;
      }
      case StepKind::TakePicture: {
        auto c = std::make_unique<TakePictureCommand>(edits, RecordAt{}, "", nullptr, FileStamp{}, true);
        c->done_ = false;
        return c;
      }
      case StepKind::Macro: break;
    }
    return nullptr;
  }
  // A new order must name every row once.
  static bool invert(ReorderCommand& c) {
    c.inverse_.assign(c.order_.size(), -1);
    for (size_t i = 0; i < c.order_.size(); ++i) {
      const int64_t from = c.order_[i];
      if (from < 0 || size_t(from) >= c.order_.size() || c.inverse_[size_t(from)] >= 0) return false;
      c.inverse_[size_t(from)] = static_cast<int64_t>(i);
    }
    return true;
  }
};

namespace {

}  // namespace

std::filesystem::path defaultStateFolder() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') return state;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "state";
}

std::filesystem::path recoveryFolderOf(const std::filesystem::path& projectFolder, const std::filesystem::path& stateFolder) {
  const std::string path = std::filesystem::absolute(projectFolder).lexically_normal().string();
  const QByteArray key = QCryptographicHash::hash(QByteArray::fromStdString(path), QCryptographicHash::Sha256).toHex().left(24);
  return (stateFolder.empty() ? defaultStateFolder() : stateFolder) / "charstack" / "recovery" / key.toStdString();
}

std::string RecoveryPictures::nameOf(const ImageRef& image) {
  auto found = names_.find(image.get());
  if (found != names_.end() && found->second.image.lock() == image) return found->second.fileName;
  if (session_.empty()) session_ = QByteArray::number(QRandomGenerator::global()->generate64(), 36).toStdString();
  Entry entry{image, std::string(kPicturePrefix) + session_ + "-" + std::to_string(++next_) + ".png"};
  return names_.insert_or_assign(image.get(), std::move(entry)).first->second.fileName;
}

void RecoveryPictures::remember(const RecoveredWork& work) {
  if (!work.data) return;
  for (const auto& [image, fileName] : work.data->stored) names_.insert_or_assign(image.get(), Entry{image, fileName});
}

void RecoveryPictures::forgetGone() {
  std::erase_if(names_, [](const auto& entry) { return entry.second.image.expired(); });
}

RecoverySnapshot captureRecovery(Editor& editor) {
  auto data = std::make_shared<RecoverySnapshot::Data>();
  const EditorState& state = editor.state();
  QUndoStack& history = editor.document().history();
  recovery_parts::Header& header = data->header;
  header.projectPath = editor.store().folder().path().string();
  header.writtenMs = QDateTime::currentMSecsSinceEpoch();
  header.steps = data->index = history.index();
  header.hasDataStamp = state.dataFileStamp.has_value();
  header.dataStamp = state.dataFileStamp.value_or(FileStamp{});
  data->list = editor.list();
  data->selection = editor.selection().current();
  data->pendingDeletions = state.pendingImageDeletions;
  data->steps = static_cast<uint64_t>(history.count());
  data->files.reserve(state.knownImageFiles.size());
  for (const auto& [name, disk] : state.knownImageFiles)
    if (disk.image) data->files.push_back({disk.image.get(), name, disk.stamp});
  Out steps([&data](const ImageRef& image) { return data->pictures.numberOf(image); }, editor.store().saveCount());
  for (int i = 0; i < history.count(); ++i) HistoryCodec::write(steps, *history.command(i));
  data->history = std::move(steps.bytes);
  return RecoverySnapshot{std::move(data)};
}

namespace {

// "state": the header with every picture the records and steps name, the records, and the steps;
// the pictures that no file of the project holds are put in `stored`. The steps' pictures come first,
// then every file the editor knows, then the records' pictures that are none of those.
std::string stateOf(RecoverySnapshot::Data& data, RecoveryPictures& names, std::vector<std::pair<std::string, ImageRef>>& stored) {
  const auto steps = static_cast<int32_t>(data.pictures.pictures.size());
  std::unordered_map<const Image*, int32_t> files;
  for (size_t i = 0; i < data.files.size(); ++i) files.emplace(data.files[i].image, steps + static_cast<int32_t>(i));
  recovery_parts::PictureNumbers others(steps + static_cast<int32_t>(data.files.size()));
  std::vector<bool> used(data.files.size());  // files no record names are not looked at by a restore
  Out body([&](const ImageRef& image) {
    if (std::optional<int32_t> step = data.pictures.find(image.get())) return *step;
    auto file = files.find(image.get());
    if (file == files.end()) return others.numberOf(image);
    used[size_t(file->second - steps)] = true;
    return file->second;
  }, 0);
  body(data.list.characters, data.selection, data.pendingDeletions, data.index, data.steps);
  names.forgetGone();
  auto storedEntry = [&](const ImageRef& image) {
    recovery_parts::PictureEntry entry{true, names.nameOf(image), {}};
    stored.emplace_back(entry.name, image);
    return entry;
  };
  std::vector<recovery_parts::PictureEntry>& entries = data.header.pictures;
  entries.clear();
  for (const ImageRef& image : data.pictures.pictures) {
    auto file = files.find(image.get());
    if (file == files.end()) {
      entries.push_back(storedEntry(image));
      continue;
    }
    const RecoverySnapshot::Data::KnownFile& known = data.files[size_t(file->second - steps)];
    entries.push_back({false, known.name, known.stamp});
  }
  for (size_t i = 0; i < data.files.size(); ++i)
    entries.push_back(used[i] ? recovery_parts::PictureEntry{false, data.files[i].name, data.files[i].stamp} : recovery_parts::PictureEntry{});
  for (const ImageRef& image : others.pictures) entries.push_back(storedEntry(image));
  Out head(nullptr, 0);
  head(data.header);
  std::string state = std::move(head.bytes) + body.bytes + data.history;
  const ContentCheck check = contentCheckOf(state);
  state.append(reinterpret_cast<const char*>(&check.size), sizeof check.size);
  state.append(reinterpret_cast<const char*>(&check.hash), sizeof check.hash);
  return state;
}

}  // namespace

Status writeRecovery(const RecoverySnapshot& snapshot, const std::filesystem::path& recoveryFolder,
                     RecoveryPictures& pictures, FileOps* ops) {
  if (Status s = (ops ? *ops : systemFileOps()).createFolder(recoveryFolder); !s.ok()) return s;
  const ProjectFolder folder(recoveryFolder, ops);
  const std::optional<std::unordered_set<std::string>> present = folder.listFolder("");
  if (!present) return Status::failure("the recovery folder cannot be listed");
  std::vector<std::pair<std::string, ImageRef>> stored;
  const std::string state = stateOf(*snapshot.data, pictures, stored);
  // Pictures first: no "state" ever names a picture that is not there whole.
  std::unordered_set<std::string> named;
  for (const auto& [name, image] : stored) {
    if (!named.insert(name).second || present->count(name)) continue;
    // Pictures are big: the memory of the last one is kept for the next.
    thread_local std::string png;
    if (!encodePngQuickly(*image, png)) return Status::failure("a picture could not be encoded");
    if (Status s = folder.writeFileAtomically(name, png); !s.ok()) return s;
  }
  if (Status s = folder.writeFileAtomically(kStateFile, state); !s.ok()) return s;
  // What no "state" names any more: pictures of earlier recoveries, and what a killed write left.
  for (const std::string& name : *present)
    if ((name.starts_with(kPicturePrefix) && !named.count(name)) || isTemporaryFileName(name)) folder.removeFile(name);
  return Status::success();
}

Status removeRecovery(const std::filesystem::path& recoveryFolder) {
  std::error_code ec;
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(recoveryFolder, ec))) return Status::success();
  const ProjectFolder folder(recoveryFolder);
  std::optional<std::unordered_set<std::string>> names = folder.listFolder("");
  if (!names) return Status::failure("the recovery folder cannot be listed");
  // "state" first: a removal cut short never leaves a recovery that names pictures no longer there.
  if (Status s = folder.removeFile(kStateFile); !s.ok()) return s;
  for (const std::string& name : *names)
    if (name.starts_with(kPicturePrefix) || isTemporaryFileName(name))
      if (Status s = folder.removeFile(name); !s.ok()) return s;
  std::filesystem::remove(recoveryFolder, ec);  // only when nothing else is in it
  return Status::success();
}

std::optional<std::filesystem::path> keepRecoveryAside(const std::filesystem::path& recoveryFolder) {
  const std::string when = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh-mm-ss")).toStdString();
  std::filesystem::path aside = recoveryFolder;
  aside += " kept " + when;
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(aside, ec)); ++n)
    (aside = recoveryFolder) += " kept " + when + " (" + std::to_string(n) + ")";
  std::filesystem::rename(recoveryFolder, aside, ec);
  if (ec) return std::nullopt;
  return aside;
}

namespace {

// A file of "img/" that the crashed editor knew but the open did not read (no record of "data.txt"
// names it): read now, and known again, when it is still as the editor knew it.
ImageRef readKnownFile(Editor& editor, const recovery_parts::PictureEntry& entry) {
  const FileRead read = editor.store().folder().read("img/" + entry.name);
  ImageRef image = read.read() && read.stamp == entry.stamp ? decodeImageData(read.bytes) : nullptr;
  if (image) editor.state().knownImageFiles[entry.name] = {image, entry.stamp};
  return image;
}

// The pictures "state" names, as the project just opened and the recovery folder hold them; a
// mismatch says why not.
std::vector<ImageRef> picturesOf(const recovery_parts::Header& header, Editor& editor, const std::filesystem::path& folder,
                                 QString& mismatch, std::vector<std::pair<ImageRef, std::string>>& stored) {
  const EditorState& state = editor.state();
  std::vector<ImageRef> pictures;
  for (const recovery_parts::PictureEntry& entry : header.pictures) {
    if (entry.name.empty()) {
      pictures.push_back(nullptr);  // a number no record or step uses
    } else if (entry.stored) {
      const FileRead read = readFileAt(folder / entry.name, kMaxFileBytes);
      pictures.push_back(read.read() ? decodeImagePixels(read.bytes) : nullptr);
      if (pictures.back()) stored.emplace_back(pictures.back(), entry.name);
      if (!pictures.back())
        mismatch = QCoreApplication::translate("Recovery", "a picture of the recovered work is missing or damaged (%1)")
                       .arg(QString::fromStdString(entry.name));
    } else {
      const auto known = state.knownImageFiles.find(entry.name);
      const bool same = known != state.knownImageFiles.end() && known->second.image && known->second.stamp == entry.stamp;
      pictures.push_back(same ? known->second.image : known == state.knownImageFiles.end() ? readKnownFile(editor, entry) : nullptr);
      if (!pictures.back())
        mismatch = QCoreApplication::translate("Recovery", "img/%1 changed since the work was recovered")
                       .arg(QString::fromStdString(entry.name));
    }
    if (!mismatch.isEmpty()) break;
  }
  return pictures;
}

std::shared_ptr<RecoveredWork::Data> readWork(In& in, Editor& editor) {
  auto data = std::make_shared<RecoveredWork::Data>();
  uint64_t count = 0;
  in(data->list.characters, data->selection, data->pendingDeletions, data->index, count);
  for (uint64_t i = 0; i < count && in.ok(); ++i) data->steps.push_back(HistoryCodec::read(in, editor.edits()));
  bool valid = in.ok() && in.atEnd() && data->index >= 0 && uint64_t(data->index) <= count;
  for (const Character& character : data->list.characters)
    for (const Layer& layer : character.layers) valid = valid && layer.visible <= 1;
  return valid ? data : nullptr;
}

}  // namespace

std::optional<RecoveredWork> findRecovery(Editor& editor, const std::filesystem::path& recoveryFolder) {
  const FileRead read = readFileAt(recoveryFolder / kStateFile, kMaxStateBytes);
  if (read.outcome == FileRead::Outcome::Missing) return std::nullopt;
  RecoveredWork work;
  work.folder = recoveryFolder;
  const QString damaged = QCoreApplication::translate("Recovery", "the recovered work is damaged or cut short");
  if (!read.read()) {
    work.mismatch = QCoreApplication::translate("Recovery", "the recovered work cannot be read: %1").arg(QString::fromStdString(read.reason));
    return work;
  }
  std::string_view bytes = read.bytes;
  ContentCheck stored;
  if (bytes.size() >= 16) {
    std::memcpy(&stored.size, bytes.data() + bytes.size() - 16, 8);
    std::memcpy(&stored.hash, bytes.data() + bytes.size() - 8, 8);
    bytes.remove_suffix(16);
  }
  In in(bytes, nullptr, editor.store().saveCount());
  recovery_parts::Header header;
  const bool whole = read.bytes.size() >= 16 && contentCheckOf(bytes) == stored;
  if (whole) in(header);
  if (!whole || !in.ok() || header.magic != recovery_parts::kMagic || header.format != recovery_parts::kFormat) {
    work.mismatch = damaged;
    return work;
  }
  work.projectPath = QString::fromStdString(header.projectPath);
  work.writtenMs = header.writtenMs;
  work.steps = header.steps;
  const EditorState& state = editor.state();
  if (header.hasDataStamp != state.dataFileStamp.has_value() || (header.hasDataStamp && header.dataStamp != *state.dataFileStamp))
    work.mismatch = QCoreApplication::translate("Recovery", "data.txt changed since the work was recovered");
  std::vector<std::pair<ImageRef, std::string>> kept;
  const std::vector<ImageRef> pictures = work.mismatch.isEmpty() ? picturesOf(header, editor, recoveryFolder, work.mismatch, kept)
                                                                 : std::vector<ImageRef>{};
  if (!work.mismatch.isEmpty()) return work;
  in.setPictures(&pictures);
  work.data = readWork(in, editor);
  if (!work.data) work.mismatch = damaged;
  else work.data->stored = std::move(kept);
  return work;
}

namespace {

void push(QUndoStack& history, HistoryNode& node, bool skip) {
  if (node.command) {
    HistoryCodec::skipFirstRedo(*node.command, skip);
    history.push(node.command.release());
    return;
  }
  history.beginMacro(node.text);
  for (HistoryNode& child : node.children) push(history, child, skip);
  history.endMacro();
}

}  // namespace

bool restoreRecovery(Editor& editor, const RecoveredWork& work) {
  if (!work.data || !work.mismatch.isEmpty() || work.data->index < 0) return false;
  RecoveredWork::Data& data = *work.data;
  QUndoStack& history = editor.document().history();
  editor.moves().forget();
  history.clear();
  editor.state().pendingImageDeletions = data.pendingDeletions;
  editor.document().replaceAll(data.list);
  editor.selection().restore(data.selection);
  // The steps up to the present stand done already; the ones after it are done and taken back again,
  // so that each holds what its undo needs.
  for (size_t i = 0; i < data.steps.size(); ++i) push(history, data.steps[i], i < size_t(data.index));
  history.setIndex(data.index);
  // Taking back a step whose files a save has deleted since queues them again: the deletions are the
  // ones the work had.
  editor.state().pendingImageDeletions = data.pendingDeletions;
  editor.selection().restore(data.selection);
  data.index = -1;  // the steps are the history's now
  return true;
}

}  // namespace charstack
