#include "app/startup.hpp"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "canvas/export.hpp"
#include "platform/files.hpp"
#include "project/project_io.hpp"

namespace charstack {

namespace {

const QString kRecentKey = QStringLiteral("recentProjects");

// Prints a line: the text with %1, %2… replaced by the bytes of args as they are, so that names that
// are not UTF-8 (of files, of records) reach the terminal and scripts unchanged.
void printLine(FILE* stream, const QString& text, std::initializer_list<std::string_view> args = {}) {
  const QByteArray format = text.toLocal8Bit();
  std::string line;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const char c = format[i];
    const size_t n = i + 1 < format.size() ? static_cast<size_t>(format[i + 1] - '0') : 0;
    if (c == '%' && n >= 1 && n <= args.size()) {
      line += *(args.begin() + (n - 1));
      ++i;
    } else {
      line += c;
    }
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stream);
}

// Why the project's img/ cannot be read, when it cannot: something there that is no folder, or a
// folder that cannot be listed. Empty when it can, or when there is none.
std::string whyImageFolderCannotBeRead(const ProjectFolder& folder) {
  const std::filesystem::path img = folder.resolve(kImageFolder);
  struct stat st;
  if (::stat(img.c_str(), &st) != 0) return errno == ENOENT ? std::string() : std::strerror(errno);
  if (S_ISFIFO(st.st_mode)) return "it is a named pipe (FIFO), not a folder";
  if (S_ISREG(st.st_mode)) return "it is a file, not a folder";
  if (!S_ISDIR(st.st_mode)) return "it is no folder";
  std::error_code error;
  std::filesystem::directory_iterator list(img, error);
  return error ? error.message() : std::string();
}

// Holds an export folder for one export at a time: a second --export into the same folder waits, so
// that the leftovers of a killed one can be removed without touching the files of a running one.
class ExportFolderLock {
 public:
  explicit ExportFolderLock(const std::filesystem::path& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~ExportFolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  ExportFolderLock(const ExportFolderLock&) = delete;
  ExportFolderLock& operator=(const ExportFolderLock&) = delete;
  bool tryLock() { return fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }
  bool lock() {
    int rc;
    do rc = fd_ >= 0 ? ::flock(fd_, LOCK_EX) : -1;
    while (rc != 0 && errno == EINTR);
    return rc == 0;
  }

 private:
  int fd_;
};

}  // namespace

bool needsNoWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--") == 0) return false;
    // The export's own options too: without --export they are wrong usage, told without a window.
    for (const char* option : {"--export", "--help", "-h", "--help-all", "-?", "--version", "-v", "--scale",
                               "--trim", "--no-numbers", "--sheet"})
      if (std::strcmp(a, option) == 0) return true;
    for (const char* option : {"--export=", "--scale=", "--sheet="})
      if (std::strncmp(a, option, std::strlen(option)) == 0) return true;
  }
  return false;
}

namespace {

// The options of the window-less export.
struct ExportCommandOptions {
  QCommandLineOption folder{
      QStringLiteral("export"),
      QCoreApplication::translate(
          "charstack",
          "Writes one PNG picture per character into <folder> without opening a window, "
          "and exits: 0 when every picture was written, 1 when the project cannot be "
          "read or a file cannot be written, 2 for wrong usage."),
      QCoreApplication::translate("charstack", "folder")};
  QCommandLineOption scale{
      QStringLiteral("scale"),
      QCoreApplication::translate("charstack",
                                  "Makes each pixel a block of <n> x <n> pixels in the exported pictures "
                                  "(1 to 8; 1 when not given)."),
      QCoreApplication::translate("charstack", "n")};
  QCommandLineOption trim{
      QStringLiteral("trim"),
      QCoreApplication::translate(
          "charstack", "Crops each exported picture to its pixels that are not fully transparent.")};
  QCommandLineOption noNumbers{
      QStringLiteral("no-numbers"),
      QCoreApplication::translate("charstack",
                                  "Names the exported files after the characters without their record "
                                  "numbers; a name taken twice gets \" (2)\", \" (3)\"…")};
  QCommandLineOption sheet{
      QStringLiteral("sheet"),
      QCoreApplication::translate("charstack",
                                  "Writes one sprite sheet instead of a file per character: <name>.png with "
                                  "every picture and <name>.json telling where each lies."),
      QCoreApplication::translate("charstack", "name")};
};

// Reads the export's folder and choices into invocation: what is wrong with them, or nothing.
std::optional<QString> readExport(const QCommandLineParser& parser, const ExportCommandOptions& o,
                                  Invocation& invocation) {
  ExportOptions& options = invocation.exportOptions;
  if (!parser.isSet(o.folder)) {
    if (parser.isSet(o.scale) || parser.isSet(o.trim) || parser.isSet(o.noNumbers) || parser.isSet(o.sheet))
      return QCoreApplication::translate("charstack",
                                         "--scale, --trim, --no-numbers and --sheet go with --export.");
    return std::nullopt;
  }
  const QString folder = parser.value(o.folder);
  if (folder.isEmpty()) return QCoreApplication::translate("charstack", "--export needs a folder.");
  invocation.kind = Invocation::Kind::Export;
  invocation.exportFolder = toPath(folder);
  if (parser.isSet(o.scale)) {
    bool number = false;
    options.scale = parser.value(o.scale).toInt(&number);
    if (!number || options.scale < 1 || options.scale > kMaxExportScale)
      return QCoreApplication::translate("charstack", "--scale takes a whole number from 1 to 8.");
  }
  options.trim = parser.isSet(o.trim);
  options.numbers = !parser.isSet(o.noNumbers);
  if (parser.isSet(o.sheet)) {
    options.sheet = parser.value(o.sheet).toStdString();
    if (!isSheetName(options.sheet))
      return QCoreApplication::translate("charstack", "--sheet needs a name for the files, without \"/\".");
  }
  return std::nullopt;
}

}  // namespace

Invocation parseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QCoreApplication::translate("charstack", "Composes game characters out of stacked images."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const ExportCommandOptions exporting;
  for (const QCommandLineOption* option :
       {&exporting.folder, &exporting.scale, &exporting.trim, &exporting.noNumbers, &exporting.sheet})
    parser.addOption(*option);
  parser.addPositionalArgument(
      QStringLiteral("project"),
      QCoreApplication::translate("charstack", "The project folder (holding data.txt and img/) to open."),
      QStringLiteral("[project]"));

  Invocation invocation;
  auto usage = [&](const QString& problem) {
    invocation.kind = Invocation::Kind::Usage;
    invocation.text = problem + QLatin1Char('\n') + parser.helpText();
    return invocation;
  };
  if (!parser.parse(arguments)) return usage(parser.errorText());
  if (parser.isSet(help)) {
    invocation.kind = Invocation::Kind::Help;
    invocation.text = parser.helpText();
    return invocation;
  }
  if (parser.isSet(version)) {
    invocation.kind = Invocation::Kind::Version;
    invocation.text =
        QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
    return invocation;
  }
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1)
    return usage(QCoreApplication::translate("charstack", "Only one project folder can be named."));
  if (!positional.isEmpty()) {
    if (positional.front().isEmpty())
      return usage(QCoreApplication::translate("charstack", "The project folder is empty."));
    invocation.project = toPath(positional.front());
  }
  if (const std::optional<QString> wrong = readExport(parser, exporting, invocation)) return usage(*wrong);
  return invocation;
}

namespace {

// Lines for standard error, after the program's name.
struct ErrorLines {
  std::string name = QCoreApplication::applicationName().toStdString();
  void operator()(const QString& text, std::initializer_list<std::string_view> args = {}) const {
    std::fwrite(name.data(), 1, name.size(), stderr);
    std::fputs(": ", stderr);
    printLine(stderr, text, args);
  }
};

// The project read for an export, its problems told; status becomes kExitFailed where a picture
// would miss an image. None when there is nothing to export (told, status set).
std::optional<LoadResult> projectToExport(const std::filesystem::path& project, const ErrorLines& tell,
                                          int& status) {
  const std::string projectText = project.string();
  const ProjectFolder folder(project);
  status = kExitFailed;
  if (!folder.inspect(kDataFileName).exists) {
    tell(QCoreApplication::translate("charstack", "%1 holds no %2: it is not a project"),
         {projectText, kDataFileName});
    return std::nullopt;
  }
  // Reading changes nothing in the project, but for finishing a save that was interrupted.
  LoadResult loaded = openProject(folder, false);
  if (loaded.interruptedSaveCompleted)
    printLine(
        stderr,
        QCoreApplication::translate("charstack", "%1: the last save was interrupted; it has been completed"),
        {tell.name});
  for (const Problem& p : loaded.problems) tell(QStringLiteral("%1: %2"), {p.file, p.reason});
  if (loaded.dataFileUnreadable || loaded.dataFileWithoutRecords) {
    tell(QCoreApplication::translate("charstack", "%1 could not be read"), {projectText});
    return std::nullopt;
  }
  // Without its img/ every character would seem to have nothing to draw.
  if (const std::string why = whyImageFolderCannotBeRead(folder); !why.empty()) {
    tell(QCoreApplication::translate("charstack", "%1 cannot be read: %2"),
         {folder.resolve(kImageFolder).string(), why});
    return std::nullopt;
  }
  // A picture without one of its images is no picture to ship.
  status = loaded.unreadableImageFiles.empty() ? kExitOk : kExitFailed;
  return loaded;
}

// Makes the export folder and takes its lock, then removes what an export killed mid-way left there
// (only regular files with exactly the names its temporary files have, never through a link). None
// (told) when the folder cannot be made.
std::unique_ptr<ExportFolderLock> takeExportFolder(const std::filesystem::path& folder,
                                                   const ErrorLines& tell) {
  const ProjectFolder target(folder);
  if (Status s = target.createFolder(""); !s.ok()) {
    tell(QCoreApplication::translate("charstack", "%1 could not be created: %2"), {folder.string(), s.error});
    return nullptr;
  }
  auto lock = std::make_unique<ExportFolderLock>(folder);
  if (!lock->tryLock()) {
    tell(QCoreApplication::translate("charstack", "waiting for another export into %1 to finish"),
         {folder.string()});
    lock->lock();
  }
  if (const int removed = target.removeLeftoverTemporaryFiles(""); removed > 0)
    tell(QCoreApplication::translate(
             "charstack", "removed %1 temporary file(s) that an earlier export stopped mid-way left in %2"),
         {std::to_string(removed), folder.string()});
  return lock;
}

}  // namespace

int runExport(const Invocation& invocation) {
  const ErrorLines tell;
  std::optional<std::filesystem::path> project = invocation.project;
  if (!project) project = startupFolder(ProjectFolder::executableFolder(), recentProjects());
  if (!project)
    return tell(QCoreApplication::translate("charstack", "no project folder: name one")), kExitFailed;
  if (isInsideProject(invocation.exportFolder, *project))
    return tell(QCoreApplication::translate(
               "charstack",
               "the pictures cannot go into the project folder or its img/ folder: name another folder")),
           kExitUsage;
  int status = kExitOk;
  const std::optional<LoadResult> loaded = projectToExport(*project, tell, status);
  if (!loaded) return status;
  const std::unique_ptr<ExportFolderLock> lock = takeExportFolder(invocation.exportFolder, tell);
  if (!lock) return kExitFailed;
  const ExportReport report = exportAllCharacters(
      loaded->list, ProjectFolder(invocation.exportFolder),
      [&](const std::string& fileName) {
        printLine(stdout, QStringLiteral("%1"), {(invocation.exportFolder / fileName).string()});
      },
      invocation.exportOptions);
  for (const std::string& who : report.skipped)
    printLine(stderr, QCoreApplication::translate("charstack", "%1: %2 has nothing to draw; skipped"),
              {tell.name, who});
  for (const auto& [who, fileName] : report.renamed)
    tell(QCoreApplication::translate("charstack", "%1 is named %2: an earlier character has its name"),
         {who, fileName});
  for (const Problem& p : report.problems)
    tell(QStringLiteral("%1: %2"), {(invocation.exportFolder / p.file).string(), p.reason});
  std::fflush(stdout);
  return report.ok() ? status : kExitFailed;
}

QStringList recentProjects() {
  QStringList recent;
  for (const QString& folder : QSettings().value(kRecentKey).toStringList())
    if (!folder.isEmpty() && QFileInfo(folder).isDir() && !recent.contains(folder)) recent << folder;
  return recent.mid(0, kMaxRecentProjects);
}

void rememberProject(const std::filesystem::path& folder) {
  const QString path = QFileInfo(fromPath(folder)).absoluteFilePath();
  QStringList recent = recentProjects();
  recent.removeAll(path);
  recent.prepend(path);
  QSettings().setValue(kRecentKey, recent.mid(0, kMaxRecentProjects));
}

void forgetRecentProjects() { QSettings().remove(kRecentKey); }

std::optional<std::filesystem::path> startupFolder(const std::filesystem::path& executableFolder,
                                                   const QStringList& recent) {
  const ProjectFolder beside(executableFolder);
  if (beside.inspect(kDataFileName).exists || beside.inspect(kImageFolder).exists ||
      QFileInfo(fromPath(executableFolder)).isWritable())
    return executableFolder;
  if (!recent.isEmpty()) return toPath(recent.front());
  return std::nullopt;
}

}  // namespace charstack
