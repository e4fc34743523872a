// The small interfaces through which the editor logic talks to its widgets. The Qt widgets implement
// them; the tests use fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/image.hpp"

namespace charstack {

// A table that reports single clicks.
class TableView {
 public:
  virtual ~TableView() = default;
  // The row of the click that sent the table's action, counted from 0 in display order; -1 when that
  // click was not on a row.
  virtual int64_t clickedRow() const = 0;
  // What the table calls on a single click.
  virtual void setAction(std::function<void()> action) = 0;
  // The rows selected when the action runs (a table with an extended selection), in any order; by
  // default the clicked row alone.
  virtual std::vector<int64_t> selectedRows() const {
    return clickedRow() >= 0 ? std::vector<int64_t>{clickedRow()} : std::vector<int64_t>{};
  }
};

// The selection of a table.
class TableHighlight {
 public:
  virtual ~TableHighlight() = default;
  // Highlights the row at index; an index that names no row leaves the table without a highlight.
  virtual void highlightRow(int64_t index) = 0;
  // Highlights several rows; `current` is the one the keyboard moves from.
  virtual void highlightRows(const std::vector<int64_t>& rows, int64_t current) {
    (void)rows;
    highlightRow(current);
  }
};

// Where the canvas draws: natural size, top-left at (x, y), source-over, full opacity.
class Painter {
 public:
  virtual ~Painter() = default;
  virtual void drawImage(const Image& image, double x, double y, double width, double height) = 0;
};

}  // namespace charstack
