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
    for (const char* option : {"--export", "--help", "-h", "--help-all", "-?", "--version", "-v"})
      if (std::strcmp(a, option) == 0) return true;
    if (std::strncmp(a, "--export=", 9) == 0) return true;
  }
  return false;
}

Invocation parseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QCoreApplication::translate("charstack", "Composes game characters out of stacked images."));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption exportOption(
      QStringLiteral("export"),
      QCoreApplication::translate(
          "charstack",
          "Writes one PNG picture per character into <folder> without opening a window, "
          "and exits: 0 when every picture was written, 1 when the project cannot be "
          "read or a file cannot be written, 2 for wrong usage."),
      QCoreApplication::translate("charstack", "folder"));
  parser.addOption(exportOption);
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
  if (parser.isSet(exportOption)) {
    const QString folder = parser.value(exportOption);
    if (folder.isEmpty()) return usage(QCoreApplication::translate("charstack", "--export needs a folder."));
    invocation.kind = Invocation::Kind::Export;
    invocation.exportFolder = toPath(folder);
  }
  return invocation;
}

int runExport(const Invocation& invocation) {
  const std::string name = QCoreApplication::applicationName().toStdString();
  // A line for standard error, after the program's name.
  const auto tell = [&](const QString& text, std::initializer_list<std::string_view> args = {}) {
    std::fwrite(name.data(), 1, name.size(), stderr);
    std::fputs(": ", stderr);
    printLine(stderr, text, args);
  };
  const auto fail = [&](int status, const QString& text, std::initializer_list<std::string_view> args = {}) {
    tell(text, args);
    return status;
  };
  std::optional<std::filesystem::path> project = invocation.project;
  if (!project) project = startupFolder(ProjectFolder::executableFolder(), recentProjects());
  if (!project)
    return fail(kExitFailed, QCoreApplication::translate("charstack", "no project folder: name one"));
  const std::string projectText = project->string();
  if (isInsideProject(invocation.exportFolder, *project))
    return fail(
        kExitUsage,
        QCoreApplication::translate(
            "charstack",
            "the pictures cannot go into the project folder or its img/ folder: name another folder"));

  const ProjectFolder folder(*project);
  const FileInfo data = folder.inspect(kDataFileName);
  if (!data.exists)
    return fail(kExitFailed, QCoreApplication::translate("charstack", "%1 holds no %2: it is not a project"),
                {projectText, kDataFileName});
  // Reading changes nothing in the project, but for finishing a save that was interrupted.
  LoadResult loaded = openProject(folder, false);
  if (loaded.interruptedSaveCompleted)
    printLine(
        stderr,
        QCoreApplication::translate("charstack", "%1: the last save was interrupted; it has been completed"),
        {name});
  int status = kExitOk;
  for (const Problem& p : loaded.problems) tell(QStringLiteral("%1: %2"), {p.file, p.reason});
  if (loaded.dataFileUnreadable || loaded.dataFileWithoutRecords || !loaded.unreadableImageFiles.empty())
    status = kExitFailed;  // a picture without one of its images is no picture to ship
  if (loaded.dataFileUnreadable || loaded.dataFileWithoutRecords)
    return fail(kExitFailed, QCoreApplication::translate("charstack", "%1 could not be read"), {projectText});
  // Without its img/ every character would seem to have nothing to draw.
  if (const std::string why = whyImageFolderCannotBeRead(folder); !why.empty())
    return fail(kExitFailed, QCoreApplication::translate("charstack", "%1 cannot be read: %2"),
                {folder.resolve(kImageFolder).string(), why});

  const ProjectFolder target(invocation.exportFolder);
  const std::string targetText = invocation.exportFolder.string();
  if (Status s = target.createFolder(""); !s.ok())
    return fail(kExitFailed, QCoreApplication::translate("charstack", "%1 could not be created: %2"),
                {targetText, s.error});
  ExportFolderLock lock(invocation.exportFolder);
  if (!lock.tryLock()) {
    tell(QCoreApplication::translate("charstack", "waiting for another export into %1 to finish"),
         {targetText});
    lock.lock();
  }
  // The files an export killed mid-way left there (only regular files with exactly the names its
  // temporary files have, never through a link).
  if (const int removed = target.removeLeftoverTemporaryFiles(""); removed > 0)
    tell(QCoreApplication::translate(
             "charstack", "removed %1 temporary file(s) that an earlier export stopped mid-way left in %2"),
         {std::to_string(removed), targetText});
  const ExportReport report = exportAllCharacters(loaded.list, target, [&](const std::string& fileName) {
    printLine(stdout, QStringLiteral("%1"), {(invocation.exportFolder / fileName).string()});
  });
  for (const std::string& who : report.skipped)
    printLine(stderr, QCoreApplication::translate("charstack", "%1: %2 has nothing to draw; skipped"),
              {name, who});
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
