// The About box.
#pragma once

#include <QString>

class QWidget;

namespace charstack {

// Shows the program's name, version and licence, and where the open project is stored.
void showAboutDialog(QWidget* parent, const QString& projectFolder);

}  // namespace charstack
