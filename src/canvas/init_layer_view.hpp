// The canvas: shows the selected character composed by depth and lets the user drag it or its
// selected layer.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model/model.hpp"
#include "platform/ui.hpp"

namespace charstack {

inline constexpr int DepthCount = 1000;

// One image drawn by a composition pass.
struct DrawCall {
  const Image* image = nullptr;
  float x = 0;
  float y = 0;
  bool operator==(const DrawCall&) const = default;
};

class InitLayerView {
 public:
  // initWithFrame: starts the redraw timer that marks the host for display every tick.
  InitLayerView(const CharacterList& list, EditorState& state, TimerService& timers, CanvasHost& host);
  ~InitLayerView();
  InitLayerView(const InitLayerView&) = delete;
  InitLayerView& operator=(const InitLayerView&) = delete;

  void EventLoop();
  bool isFlipped() const { return true; }

  // Draws one image at its natural size with its top-left corner at (x, y).
  void DrawImage(Painter& painter, const Image& image, float x, float y);
  // The whole composition of the selected character, in depth order.
  void drawRect(Painter& painter);
  // The draw calls of one composition pass, in order, without drawing.
  std::vector<DrawCall> composition() const;
  void composition(std::vector<DrawCall>& out) const;

  // Pointer positions in the canvas's flipped coordinates (origin top-left, y downward).
  void mouseDown(double px, double py);
  void mouseDragged(double px, double py);

 private:
  const CharacterList& list_;
  EditorState& state_;
  CanvasHost& host_;
  std::unique_ptr<RepeatingTimer> timer_;
};

// The draw calls of the 1000-depth reference loop (one walk per depth), used to check the fast pass.
std::vector<DrawCall> referenceComposition(const CharacterList& list, int64_t selectedCharacterRow);

}  // namespace charstack
