// Keeping a window on the screen: a geometry restored from another screen, or from the same one at
// another scale factor, can be larger than the screen or lie beyond it.
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace charstack {

// The frame moved and shrunk as little as it takes to lie inside the available area.
QRect fitFrameInto(const QRect& frame, const QRect& available);

// Makes a top-level window (after restoreGeometry) fit the available area of the screen that holds
// most of it, or of the primary screen: its frame inside that area, at any scale factor. A minimum
// size larger than that area is lowered to it. Maximized and full-screen windows are left alone.
void fitWindowToScreen(QWidget& window);

}  // namespace charstack
