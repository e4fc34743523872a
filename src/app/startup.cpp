#include "app/startup.hpp"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <cstdio>
#include <cstring>

#include "canvas/export.hpp"
#include "platform/files.hpp"
#include "project/project_io.hpp"

namespace charstack {

namespace {

const QString kRecentKey = QStringLiteral("recentProjects");

void printLine(FILE* stream, const QString& line) {
  const QByteArray bytes = line.toLocal8Bit();
  std::fprintf(stream, "%s\n", bytes.constData());
}

}  // namespace

std::filesystem::path toPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString fromPath(const std::filesystem::path& path) {
  return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

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
  const QString name = QCoreApplication::applicationName();
  auto fail = [&](int status, const QString& text) {
    printLine(stderr, QStringLiteral("%1: %2").arg(name, text));
    return status;
  };
  std::optional<std::filesystem::path> project = invocation.project;
  if (!project) project = startupFolder(ProjectFolder::executableFolder(), recentProjects());
  if (!project)
    return fail(kExitFailed, QCoreApplication::translate("charstack", "no project folder: name one"));
  const QString projectText = QDir::toNativeSeparators(fromPath(*project));
  if (isInsideProject(invocation.exportFolder, *project))
    return fail(kExitUsage, QCoreApplication::translate("charstack",
                                                        "the pictures cannot go into the project "
                                                        "folder or its img/ folder: name another folder"));

  const ProjectFolder folder(*project);
  const FileInfo data = folder.inspect(kDataFileName);
  if (!data.exists)
    return fail(kExitFailed, QCoreApplication::translate("charstack", "%1 holds no %2: it is not a project")
                                 .arg(projectText, QString::fromLatin1(kDataFileName)));
  // Reading changes nothing in the project, but for finishing a save that was interrupted.
  LoadResult loaded = openProject(folder, false);
  if (loaded.interruptedSaveCompleted)
    printLine(stderr, QCoreApplication::translate("charstack", "%1: the last save was interrupted; it has been completed")
                          .arg(name));
  int status = kExitOk;
  for (const Problem& p : loaded.problems)
    printLine(stderr, QStringLiteral("%1: %2: %3")
                          .arg(name, QString::fromStdString(p.file), QString::fromStdString(p.reason)));
  if (loaded.dataFileUnreadable || loaded.dataFileWithoutRecords || !loaded.unreadableImageFiles.empty())
    status = kExitFailed;  // a picture without one of its images is no picture to ship
  if (loaded.dataFileUnreadable || loaded.dataFileWithoutRecords)
    return fail(kExitFailed,
                QCoreApplication::translate("charstack", "%1 could not be read").arg(projectText));

  const ProjectFolder target(invocation.exportFolder);
  if (Status s = target.createFolder(""); !s.ok())
    return fail(kExitFailed, QCoreApplication::translate("charstack", "%1 could not be created: %2")
                                 .arg(fromPath(invocation.exportFolder), QString::fromStdString(s.error)));
  const ExportReport report = exportAllCharacters(loaded.list, target, [&](const std::string& fileName) {
    printLine(stdout, QDir::toNativeSeparators(fromPath(invocation.exportFolder / fileName)));
  });
  for (const std::string& who : report.skipped)
    printLine(stderr, QCoreApplication::translate("charstack", "%1: %2 has nothing to draw; skipped")
                          .arg(name, QString::fromStdString(who)));
  for (const Problem& p : report.problems)
    printLine(stderr,
              QStringLiteral("%1: %2: %3")
                  .arg(name, fromPath(invocation.exportFolder / p.file), QString::fromStdString(p.reason)));
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
