// The entry function's top-level handlers: what reaches standard error and
// the result, for a normal end, a thrown text and any other exception.
#include "main.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

struct Guarded {
  int result;
  std::string err;
};

// Runs body under the handlers with descriptor 2 on a temporary file.
Guarded runCapturingStderr(int (*body)(int, char **)) {
  char arg0[] = "quib";
  char arg1[] = "-x";
  char *argv[] = {arg0, arg1, nullptr};
  std::fflush(stderr);
  std::FILE *capture = std::tmpfile();
  int saved = ::dup(2);
  ::dup2(::fileno(capture), 2);
  Guarded g{quib::runGuarded(body, 2, argv), ""};
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  std::rewind(capture);
  int c;
  while ((c = std::fgetc(capture)) != EOF)
    g.err += static_cast<char>(c);
  std::fclose(capture);
  return g;
}

TEST(ShellGuard, NormalEndPassesResultAndArgumentsThrough) {
  Guarded g = runCapturingStderr([](int argc, char **argv) {
    return argc == 2 && std::string(argv[1]) == "-x" ? 0 : 5;
  });
  EXPECT_EQ(g.result, 0);
  EXPECT_EQ(g.err, "");
  g = runCapturingStderr([](int, char **) { return 7; });
  EXPECT_EQ(g.result, 7);
  EXPECT_EQ(g.err, "");
}

TEST(ShellGuard, ThrownTextGoesToStderrInTextModeWithStatusOne) {
  Guarded g = runCapturingStderr(
      [](int, char **) -> int { throw "Datei nicht gefunden"; });
  EXPECT_EQ(g.result, 1);
  EXPECT_EQ(g.err, "Datei nicht gefunden\r\n");
  g = runCapturingStderr(
      [](int, char **) -> int { throw "erste Zeile\nzweite Zeile"; });
  EXPECT_EQ(g.result, 1);
  EXPECT_EQ(g.err, "erste Zeile\r\nzweite Zeile\r\n");
}

TEST(ShellGuard, AnyOtherExceptionIsReportedAsUnhandled) {
  const std::string report = "Unbehandelte Exception\r\n";
  Guarded g = runCapturingStderr(
      [](int, char **) -> int { throw std::runtime_error("Fehler"); });
  EXPECT_EQ(g.result, 1);
  EXPECT_EQ(g.err, report);
  g = runCapturingStderr([](int, char **) -> int { throw 42; });
  EXPECT_EQ(g.result, 1);
  EXPECT_EQ(g.err, report);
}

} // namespace
