// The canvas: shows the selected character composed by depth, finds what lies under a point, and lets
// the user drag the character or its selected layers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
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

class CanvasScene {
 public:
  // Dragging writes the positions of the selected character and layer, so the list is not const.
  CanvasScene(CharacterList& list, EditorState& state) : list_(list), state_(state) {}
  CanvasScene(const CanvasScene&) = delete;
  CanvasScene& operator=(const CanvasScene&) = delete;

  // Draws one image at its natural size with its top-left corner at (x, y).
  void drawImage(Painter& painter, const Image& image, float x, float y);
  // The whole composition of the selected character, in depth order.
  void draw(Painter& painter);
  // The draw calls of one composition pass, in order, without drawing. The second form replaces the
  // contents of out and reuses its capacity.
  std::vector<DrawCall> composition() const;
  void composition(std::vector<DrawCall>& out) const;
  // The draw calls of any character in the same order, as if it were the selected one: what an
  // exported picture of it shows.
  static std::vector<DrawCall> compositionOf(const Character& character);
  // Where the record's image comes in the composition; none when the record is not drawn.
  std::optional<size_t> drawIndexOf(const RecordAt& at) const;
  // Where the images of the records come in the composition, in drawing order; records not drawn
  // have none.
  std::vector<size_t> drawIndicesOf(const std::vector<RecordAt>& records) const;
  // The drawn records of the selected character whose pixel at the canvas point is not fully
  // transparent, topmost (drawn last) first: what a click there picks.
  std::vector<RecordAt> recordsAt(double x, double y) const;

  // Pointer positions in the canvas's flipped coordinates (origin top-left, y downward). A press
  // takes what dragTargets names (withLayers: the character with all its layers); each drag step
  // moves them all by the travel of the first, which takes the pointer's place less the grab offset.
  // constrain: only along the axis of the larger travel since the press.
  void pressAt(double px, double py, bool withLayers = false);
  void dragTo(double px, double py, bool constrain = false);
  // The records the running drag moves, the drag target first.
  const std::vector<RecordAt>& moving() const { return moving_; }

 private:
  // A drawable record of the selected character, keyed for the depth sort.
  struct PendingDraw {
    int32_t depth;     // 0..999
    size_t sequence;   // visiting order: character image first, then layers in list order
    int64_t layerRow;  // -1 for the character's own image
    DrawCall call;
  };
  // Fills scratch_ with the pass's draw calls in drawing order.
  void collectComposition() const;
  // Fills out with the draw calls of a character in drawing order.
  static void collectDraws(const Character& character, std::vector<PendingDraw>& out);

  CharacterList& list_;
  EditorState& state_;
  // What the press took, and where each record stood then.
  std::vector<RecordAt> moving_;
  std::vector<std::pair<int32_t, int32_t>> starts_;
  // Reused by every pass so that a redraw does not allocate once it has warmed up. This
  // makes the const passes unsafe to run concurrently on one view, which the main thread never does.
  mutable std::vector<PendingDraw> scratch_;
};

}  // namespace charstack
