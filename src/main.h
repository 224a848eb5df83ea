// The program shell: command-line dispatch, information texts, the web
// prompt and the interactive run.
//
// runProgram looks only at argc and argv[1]: exactly one argument selects an
// information text by exact, case-sensitive comparison ("-v", "--version",
// "-i", "--info": the banner; "-h", "--help", "?": the help text; anything
// else: the invalid-parameter text); every other count runs the solver.
// Every function returns the exit status, which is 0 for each normal end.
//
// offerWebPage reads one key: Return, line feed, space, 'J', 'j', 'Y' and
// 'y' answer yes and hand the page to the desktop's handler for web
// addresses (openWebPage), after the echo is out; every other code, -1 (no
// console) included, answers no.
#pragma once

namespace quib {

int runProgram(int argc, char **argv);
int showVersion();
int showHelp();
int showUsageError();
int offerWebPage();
int runInteractive();

// The entry function's two top-level handlers around body(argc, argv): a
// thrown text (const char *) is written to standard error followed by a line
// end, any other exception as "Unbehandelte Exception" and a line end; both
// in text mode (CR LF), flushed, and the result is then 1. Otherwise the
// result is body's.
int runGuarded(int (*body)(int, char **), int argc, char **argv);

} // namespace quib
