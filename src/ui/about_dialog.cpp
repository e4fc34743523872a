#include "ui/about_dialog.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>

namespace charstack {

namespace {

struct AboutDialog {
  Q_DECLARE_TR_FUNCTIONS(AboutDialog)
};

}  // namespace

void showAboutDialog(QWidget* parent, const QString& projectFolder) {
  QMessageBox box(parent);
  box.setWindowTitle(AboutDialog::tr("About charstack"));
  box.setIconPixmap(QGuiApplication::windowIcon().pixmap(64, 64));
  box.setTextFormat(Qt::RichText);
  box.setText(QStringLiteral("<h3>charstack %1</h3><p>%2</p><p>%3</p><p>%4<br><tt>%5</tt></p>")
                  .arg(QStringLiteral(CHARSTACK_VERSION),
                       AboutDialog::tr("Composes game characters out of stacked images."),
                       AboutDialog::tr("Free software under the MIT licence."),
                       AboutDialog::tr("A project is a folder holding data.txt and an img folder with one "
                                       "picture per record. The open project is stored in:"),
                       projectFolder.toHtmlEscaped()));
  box.setStandardButtons(QMessageBox::Close);
  box.exec();
}

}  // namespace charstack
