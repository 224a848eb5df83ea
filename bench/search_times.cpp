// The time of each benchmark puzzle's search, the shortest of several runs,
// with nothing but the standard library: the Windows build is timed by the
// same program, under Wine, where the search runs as native code.
//
//   search_times [RUNS]       RUNS searches of each puzzle, 5 by default
#include "chesd.h"
#include "mask_search.h"
#include "puzzles.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// Milliseconds of one search of the puzzle.
double searchTime(const quib::testing::Puzzle &puzzle) {
  quib::Grid grid = quib::testing::gridFromScreen(puzzle.screen);
  const auto start = std::chrono::steady_clock::now();
  volatile bool found = quib::solve(grid);
  const auto end = std::chrono::steady_clock::now();
  static_cast<void>(found);
  return std::chrono::duration<double, std::milli>(end - start).count();
}

} // namespace

int main(int argc, char **argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  std::printf("%-12s %12s\n", "puzzle", "ms (best)");
  for (const quib::testing::Puzzle &puzzle : quib::testing::puzzles) {
    double best = searchTime(puzzle);
    for (int k = 1; k < runs; ++k) {
      const double ms = searchTime(puzzle);
      best = ms < best ? ms : best;
    }
    std::printf("%-12s %12.3f\n", puzzle.name, best);
  }
  return 0;
}
