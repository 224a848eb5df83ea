// The program shell: command-line dispatch, information texts, the web
// prompt and the interactive run.
//
// runProgram looks only at argc and argv[1]: exactly one argument selects an
// information text by exact, case-sensitive comparison ("-v", "--version",
// "-i", "--info": the banner; "-h", "--help", "?": the help text; anything
// else: the invalid-parameter text); every other count runs the solver.
// Every function returns the exit status, which is 0 for each normal end.
#pragma once

namespace quib {

int runProgram(int argc, char **argv);
int showVersion();
int showHelp();
int showUsageError();
int offerWebPage();
int runInteractive();

} // namespace quib
