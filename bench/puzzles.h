// The benchmarks' puzzles, as a user types them: the top row (row 8) first,
// '.' for an empty cell.
#pragma once

namespace quib::testing {

struct Puzzle {
  const char *name;
  const char *screen; // as typed: top row (row 8) first
};

inline constexpr Puzzle puzzles[] = {
    {"empty",
     "................................................................."
     "................"},
    {"newspaper",
     "53..7....6..195....98....6.8...6...34..8.3..17...2...6.6....28"
     "....419..5....8..79"},
    // AI Escargot with every digit d written as d + 4 (mod 9): the same
    // puzzle, which this visit order solves in 1.7 million trials.
    {"escargot+4",
     "5....2.4..7..6...3..41..9....97..4...5..3...61....8...7......5."
     ".8......2..2...7.."},
    {"inkala2012",
     "8..........36......7..9.2...5...7.......457.....1...3...1...."
     "68..85...1..9....4.."},
    {"escargot",
     "1....7.9..3..2...8..96..5....53..9...1..8...26....4...3......1."
     ".4......7..7...3.."},
    // The end-to-end tests' puzzle that takes seconds.
    {"seconds",
     "52...6.........7.13...........4..8..6...7..5...........418........."
     "3..2...87....."},
};

} // namespace quib::testing
