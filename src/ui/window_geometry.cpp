#include "ui/window_geometry.hpp"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace charstack {

namespace {

const char* const kFitWhenShown = "charstack-fit-when-shown";

// Fits the window again once it is shown, when the window system has told its frame.
class FitWhenShown : public QObject {
 public:
  explicit FitWhenShown(QWidget& window) : QObject(&window) {
    setObjectName(QLatin1String(kFitWhenShown));
    window.installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      QTimer::singleShot(0, watched, [window = QPointer<QWidget>(static_cast<QWidget*>(watched))] {
        if (window) fitWindowToScreen(*window);
      });
      deleteLater();
    }
    return false;
  }
};

}  // namespace

QRect fitFrameInto(const QRect& frame, const QRect& available) {
  if (available.isEmpty()) return frame;
  QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
  fitted.moveLeft(std::clamp(fitted.left(), available.left(), available.right() + 1 - fitted.width()));
  fitted.moveTop(std::clamp(fitted.top(), available.top(), available.bottom() + 1 - fitted.height()));
  return fitted;
}

void fitWindowToScreen(QWidget& window) {
  if (window.isMaximized() || window.isFullScreen()) return;
  const QRect client = window.geometry();
  QRect frame = window.frameGeometry();
  QMargins margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                   frame.bottom() - client.bottom());
  if (!window.isVisible()) {
    // The frame is not known before the window is shown: room for a title bar and thin borders now,
    // and the real frame once it is shown.
    const int title = window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    margins = QMargins(4, std::max(32, title), 4, 4);
    frame = client.marginsAdded(margins);
    if (!window.findChild<QObject*>(QLatin1String(kFitWhenShown), Qt::FindDirectChildrenOnly))
      new FitWhenShown(window);
  }
  QScreen* screen = nullptr;
  qint64 most = 0;
  for (QScreen* s : QGuiApplication::screens()) {
    const QRect shared = s->availableGeometry() & frame;
    const qint64 area = shared.isEmpty() ? 0 : qint64{shared.width()} * shared.height();
    if (area > most) screen = s, most = area;
  }
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect available = screen->availableGeometry();
  window.setMinimumSize(window.minimumSize().boundedTo(available.marginsRemoved(margins).size()));
  const QRect inside = fitFrameInto(frame, available).marginsRemoved(margins);
  if (inside != client) window.setGeometry(inside);
}

}  // namespace charstack
