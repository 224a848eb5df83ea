// Speed of the solver against the floor of a plain search: a bit-mask
// depth-first search with the same visit order (cells ascending, digits 1-9
// ascending), which therefore makes exactly the same trials.
//
// Google Benchmark times both searches per trial. Then each search runs once
// more under valgrind's callgrind, whose instruction counts do not depend on
// the machine's load, and one line per puzzle states the instructions per
// trial of each and their ratio. For that the program runs itself as
// `quib_bench --count=SEARCH:PUZZLE` (SEARCH is core, floor or none): one
// search and nothing else. The run with none counts the process's start and
// end, which is subtracted from the other two.
//
//   quib_bench [--package-build=PROGRAM] [Google Benchmark's options]
//
// PROGRAM is this benchmark built as the package builds the program (make
// bench builds it with Debian's flags); its search is counted the same way
// and shown beside this build's, against the same floor.
#include "chesd.h"
#include "mask_search.h"
#include "puzzles.h"

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

extern char **environ;

namespace {

using quib::Grid;
using quib::testing::gridFromScreen;
using quib::testing::maskSolve;
using quib::testing::Puzzle;
using quib::testing::puzzles;

long trialsOf(const Puzzle &puzzle) {
  Grid grid = gridFromScreen(puzzle.screen);
  long trials = 0;
  maskSolve(grid, trials);
  return trials;
}

bool coreSolve(Grid &grid) { return quib::solve(grid); }
bool floorSolve(Grid &grid) {
  long trials = 0;
  return maskSolve(grid, trials);
}

void checkSameCompletion(const Puzzle &puzzle) {
  Grid core = gridFromScreen(puzzle.screen);
  Grid floor = core;
  bool coreFound = coreSolve(core);
  bool floorFound = floorSolve(floor);
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

// The --count=SEARCH:PUZZLE run: one search of one puzzle, nothing else.
int runOneSearch(std::string_view what) {
  const auto colon = what.find(':');
  const std::string_view search = what.substr(0, colon);
  const Puzzle *puzzle = std::find_if(
      std::begin(puzzles), std::end(puzzles), [&](const Puzzle &p) {
        return colon != what.npos && what.substr(colon + 1) == p.name;
      });
  if (puzzle == std::end(puzzles) ||
      (search != "core" && search != "floor" && search != "none")) {
    std::fprintf(stderr, "--count=SEARCH:PUZZLE, SEARCH core, floor or none\n");
    return 2;
  }
  Grid grid = gridFromScreen(puzzle->screen);
  bool found = search == "core"    ? coreSolve(grid)
               : search == "floor" ? floorSolve(grid)
                                   : false;
  benchmark::DoNotOptimize(found);
  return 0;
}

// The instructions callgrind counts in a run of this program with
// --count=what; exits the benchmark when valgrind cannot be run.
long long instructionsOf(const std::string &self, const std::string &what) {
  char outFile[] = "/tmp/quib-callgrind-XXXXXX";
  const int fd = ::mkstemp(outFile);
  if (fd >= 0)
    ::close(fd);
  std::string outOption = std::string("--callgrind-out-file=") + outFile;
  std::string countOption = "--count=" + what;
  std::string program = self;
  char valgrind[] = "valgrind", quiet[] = "-q", tool[] = "--tool=callgrind";
  char *args[] = {valgrind,         quiet,          tool,
                  outOption.data(), program.data(), countOption.data(),
                  nullptr};
  pid_t pid = 0;
  int status = 1;
  if (fd < 0 ||
      ::posix_spawnp(&pid, "valgrind", nullptr, nullptr, args, environ) != 0 ||
      ::waitpid(pid, &status, 0) != pid || status != 0) {
    std::fprintf(stderr, "valgrind --tool=callgrind failed on --count=%s\n",
                 what.c_str());
    std::exit(1);
  }
  // The profile's "totals:" line holds the whole run's instruction count.
  std::ifstream profile(outFile);
  long long total = -1;
  for (std::string line; std::getline(profile, line);)
    if (line.starts_with("totals:"))
      total = std::stoll(line.substr(7));
  ::unlink(outFile);
  return total;
}

// The instructions per trial of the core's search in program, the process's
// start and end subtracted.
double coreInstructions(const std::string &program, const Puzzle &puzzle,
                        double trials) {
  const std::string name = puzzle.name;
  const long long start = instructionsOf(program, "none:" + name);
  return static_cast<double>(instructionsOf(program, "core:" + name) - start) /
         trials;
}

// The table of instructions per trial; package is the package's build of
// this program, or empty.
void reportInstructions(const std::string &package) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0)
    std::exit(1);
  const std::string program(self, static_cast<std::size_t>(n));
  std::printf("\nInstructions per trial (valgrind --tool=callgrind):\n");
  std::printf("%-12s %10s %10s %10s %7s", "puzzle", "trials", "floor", "core",
              "ratio");
  if (!package.empty())
    std::printf(" %10s %7s", "package", "ratio");
  std::printf("\n");
  for (const Puzzle &puzzle : puzzles) {
    const std::string name = puzzle.name;
    const double trials = static_cast<double>(trialsOf(puzzle));
    const double floor =
        static_cast<double>(instructionsOf(program, "floor:" + name) -
                            instructionsOf(program, "none:" + name)) /
        trials;
    const double core = coreInstructions(program, puzzle, trials);
    std::printf("%-12s %10.0f %10.1f %10.1f %6.1fx", puzzle.name, trials, floor,
                core, core / floor);
    if (!package.empty()) {
      const double packaged = coreInstructions(package, puzzle, trials);
      std::printf(" %10.1f %6.1fx", packaged, packaged / floor);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::string_view(argv[1]).starts_with("--count="))
    return runOneSearch(std::string_view(argv[1]).substr(8));
  std::string package;
  if (argc > 1 && std::string_view(argv[1]).starts_with("--package-build=")) {
    package = argv[1] + std::string_view("--package-build=").size();
    argv[1] = argv[0]; // the rest goes to Google Benchmark
    --argc;
    ++argv;
  }
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
  reportInstructions(package);
  return 0;
}
