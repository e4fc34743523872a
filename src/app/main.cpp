// The editor program: one window on the project folder beside the executable.
#include <QApplication>
#include <QFile>
#include <QStringList>

#include "app/app_delegate.hpp"
#include "app/main_window.hpp"
#include "model/model.hpp"
#include "platform/files.hpp"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("charstack"));

  // A folder named on the command line replaces the default one (handy while developing).
  std::filesystem::path folder = charstack::ProjectFolder::executableFolder();
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) folder = QFile::encodeName(arguments.at(1)).toStdString();

  charstack::AppDelegate delegate;
  charstack::MainWindow window(charstack::sharedCharacterList(), charstack::sharedEditorState(), folder);
  window.show();
  delegate.applicationDidFinishLaunching();
  QObject::connect(&app, &QCoreApplication::aboutToQuit, [&delegate] { delegate.applicationWillTerminate(); });
  return app.exec();
}
