// A project of 10,000 characters of 10 layers in the window: opening it, its memory, an unchanged save.
#pragma once

#include <filesystem>
#include <vector>

#include "bench_support.hpp"

namespace charstack::bench {

void benchStartup(int rounds, std::vector<Row>& rows);
// The child process of the memory figure: opens the project in a window and prints the growth of the
// peak resident size in bytes.
int peakOpenChild(const std::filesystem::path& folder);

}  // namespace charstack::bench
