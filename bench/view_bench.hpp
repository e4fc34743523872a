// The view's figures: a table frame with thumbnails, and cleaning up a big img/ folder.
#pragma once

#include <functional>
#include <vector>

#include "bench_support.hpp"

namespace charstack::bench {

// Adds the rows of the benchmarks whose name `run` accepts: "table", "clean up".
void benchView(int rounds, const std::function<bool(const char*)>& run, std::vector<Row>& rows);

}  // namespace charstack::bench
