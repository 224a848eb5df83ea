// Speed of the solver against the floor of a plain search: a bit-mask
// depth-first search with the same visit order (cells ascending, digits 1-9
// ascending), which therefore makes exactly the same trials. The reported
// counters are the time per trial of each and their ratio.
#include "chesd.h"
#include "mask_search.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using quib::Grid;
using quib::testing::gridFromScreen;
using quib::testing::maskSolve;

struct Puzzle {
  const char *name;
  const char *screen; // as typed: top row (row 8) first
};

const Puzzle puzzles[] = {
    {"empty",
     "................................................................."
     "................"},
    {"newspaper",
     "53..7....6..195....98....6.8...6...34..8.3..17...2...6.6....28"
     "....419..5....8..79"},
    {"inkala2012",
     "8..........36......7..9.2...5...7.......457.....1...3...1...."
     "68..85...1..9....4.."},
    {"escargot",
     "1....7.9..3..2...8..96..5....53..9...1..8...26....4...3......1."
     ".4......7..7...3.."},
};

long trialsOf(const Puzzle &puzzle) {
  Grid grid = gridFromScreen(puzzle.screen);
  long trials = 0;
  maskSolve(grid, trials);
  return trials;
}

double secondsPerRun(bool (*run)(Grid &), const Grid &givens) {
  auto start = std::chrono::steady_clock::now();
  Grid grid = givens;
  run(grid);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

bool coreSolve(Grid &grid) { return quib::solve(grid); }
bool floorSolve(Grid &grid) {
  long trials = 0;
  return maskSolve(grid, trials);
}

void checkSameCompletion(const Puzzle &puzzle) {
  Grid core = gridFromScreen(puzzle.screen);
  Grid floor = core;
  long trials = 0;
  bool coreFound = quib::solve(core);
  bool floorFound = maskSolve(floor, trials);
  if (coreFound != floorFound ||
      !std::equal(std::begin(core.cells), std::end(core.cells),
                  std::begin(floor.cells))) {
    std::fprintf(stderr, "%s: the two searches disagree\n", puzzle.name);
    std::exit(1);
  }
}

void runBench(benchmark::State &state, const Puzzle &puzzle,
              bool (*run)(Grid &)) {
  const Grid givens = gridFromScreen(puzzle.screen);
  const long trials = trialsOf(puzzle);
  for (auto _ : state) {
    Grid grid = givens;
    benchmark::DoNotOptimize(run(grid));
    benchmark::ClobberMemory();
  }
  state.counters["trials"] = static_cast<double>(trials);
  state.counters["time_per_trial"] =
      benchmark::Counter(static_cast<double>(trials),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}

// Runs each search directly once more and states the ratio per trial.
void reportRatios() {
  std::printf("\n%-12s %12s %14s %14s %8s\n", "puzzle", "trials",
              "core ns/trial", "floor ns/trial", "ratio");
  for (const Puzzle &puzzle : puzzles) {
    const Grid givens = gridFromScreen(puzzle.screen);
    const double trials = static_cast<double>(trialsOf(puzzle));
    double core = 1e300, floor = 1e300;
    for (int round = 0; round < 3; ++round) {
      core = std::min(core, secondsPerRun(coreSolve, givens));
      floor = std::min(floor, secondsPerRun(floorSolve, givens));
    }
    std::printf("%-12s %12.0f %14.2f %14.2f %7.1fx\n", puzzle.name, trials,
                core / trials * 1e9, floor / trials * 1e9, core / floor);
  }
}

} // namespace

int main(int argc, char **argv) {
  for (const Puzzle &puzzle : puzzles) {
    checkSameCompletion(puzzle);
    benchmark::RegisterBenchmark((std::string("solve/") + puzzle.name).c_str(),
                                 [&puzzle](benchmark::State &state) {
                                   runBench(state, puzzle, coreSolve);
                                 });
    benchmark::RegisterBenchmark((std::string("floor/") + puzzle.name).c_str(),
                                 [&puzzle](benchmark::State &state) {
                                   runBench(state, puzzle, floorSolve);
                                 });
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  reportRatios();
  return 0;
}
