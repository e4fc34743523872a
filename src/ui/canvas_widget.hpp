// The widget that hosts the canvas logic.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "canvas/init_layer_view.hpp"
#include "platform/ui.hpp"

class QPainter;

namespace charstack {

// Paints the window background and then the composition of the selected character; a press and a
// drag with the left button move the character or its selected layer.
class InitLayer;

class CanvasWidget : public QWidget, public CanvasHost, public Painter {
  Q_OBJECT

 public:
  CanvasWidget(CharacterList& list, EditorState& state, TimerService& timers, QWidget* parent = nullptr);
  ~CanvasWidget() override;

  InitLayerView& view() { return *view_; }
  // The controller that records each drag and nudge as one edit; none moves records without a record.
  void setController(InitLayer* controller) { controller_ = controller; }

  void setNeedsDisplay() override;
  void drawImage(const Image& image, double x, double y, double width, double height) override;

  QSize sizeHint() const override { return {480, 400}; }

 signals:
  // A drag step has moved the pointer with the button held.
  void dragged();

 public:
  // Paint events so far.
  int paintCount() const { return paintCount_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // What the last paint showed: each drawn image (by serial) and its position, and the canvas size.
  struct PaintedCall {
    uint64_t image;
    float x, y;
    bool operator==(const PaintedCall&) const = default;
  };
  bool sameAsLastPaint();

  std::unique_ptr<InitLayerView> view_;
  InitLayer* controller_ = nullptr;
  QPainter* painter_ = nullptr;  // set while paintEvent runs
  std::vector<DrawCall> current_;
  std::vector<PaintedCall> painted_;
  QSize paintedSize_;
  bool paintedOnce_ = false;
  int paintCount_ = 0;
};

}  // namespace charstack
