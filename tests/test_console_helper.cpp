// A small program that drives the terminal layer as the real program does,
// step by step as its arguments say, for the pseudo-terminal tests.
//
// Each argument is one step:
//   C          clearScreen
//   Mx,y       moveCursor(x, y)
//   Pn         putChar(n)
//   Stext      putChar for each character of text
//   R          readKey; reports "k<code>"
//   Ttext      printText("%s", text), text with \n \r \t \a \\ escapes;
//              reports "p<result>"
//   Ln         printText of n times 'x'; reports "p<result>"
//   Un         setCursorShape(n)
//   B          ringBell
//   W          reports "w", then waits for one byte from fd 3
//   A          a failed assertion
//   Xn         std::exit(n) without closing the layer first
//   J          (first step only) run the rest as a job of its own process
//              group in the foreground, with this process as its shell;
//              reports "stopped <pid>" when the job stops, and ends as the
//              job ended
// Reports are lines on fd 4, when it is open. The layer is opened before
// main and closed after it, as in the real program.
#include "check.h"
#include "console.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int goFd = 3;
constexpr int reportFd = 4;

void report(const char *format, long value) {
  char line[64];
  const int n = std::snprintf(line, sizeof line, format, value);
  if (n > 0 && ::fcntl(reportFd, F_GETFD) != -1)
    while (::write(reportFd, line, static_cast<size_t>(n)) < 0 &&
           errno == EINTR) {
    }
}

// Undoes the escapes of a T step into out (capacity at least strlen + 1).
void unescape(const char *in, char *out) {
  while (*in != '\0') {
    if (*in != '\\' || in[1] == '\0') {
      *out++ = *in++;
      continue;
    }
    switch (in[1]) {
    case 'n':
      *out++ = '\n';
      break;
    case 'r':
      *out++ = '\r';
      break;
    case 't':
      *out++ = '\t';
      break;
    case 'a':
      *out++ = '\a';
      break;
    default:
      *out++ = in[1];
      break;
    }
    in += 2;
  }
  *out = '\0';
}

void waitForGo() {
  report("w\n", 0);
  char byte;
  while (::read(goFd, &byte, 1) < 0 && errno == EINTR) {
  }
}

void runStep(const char *step, int argc) {
  const char *arg = step + 1;
  switch (step[0]) {
  case 'C':
    quib::clearScreen();
    break;
  case 'M': {
    int x = 0;
    int y = 0;
    std::sscanf(arg, "%d,%d", &x, &y);
    quib::moveCursor(x, y);
    break;
  }
  case 'P':
    quib::putChar(std::atoi(arg));
    break;
  case 'S':
    for (const char *p = arg; *p != '\0'; ++p)
      quib::putChar(static_cast<unsigned char>(*p));
    break;
  case 'R':
    report("k%ld\n", quib::readKey());
    break;
  case 'T': {
    static char text[4096];
    unescape(arg, text);
    report("p%ld\n", quib::printText("%s", text));
    break;
  }
  case 'L': {
    static char text[4096];
    const int n = std::atoi(arg);
    std::memset(text, 'x', static_cast<size_t>(n));
    text[n] = '\0';
    report("p%ld\n", quib::printText("%s", text));
    break;
  }
  case 'U':
    quib::setCursorShape(std::atoi(arg));
    break;
  case 'B':
    quib::ringBell();
    break;
  case 'W':
    waitForGo();
    break;
  case 'A':
    QUIB_CHECK(argc < 0);
    break;
  case 'X':
    std::exit(std::atoi(arg));
  default:
    std::fprintf(stderr, "unknown step %s\n", step);
    std::exit(100);
  }
}

// The job's shell: the job gets its own process group in the foreground, so
// that Ctrl+Z really stops it (a stop signal to an orphaned process group,
// such as a session leader's own, is discarded). Returns in the job.
void runAsJob() {
  const pid_t job = ::fork();
  if (job < 0)
    std::exit(101);
  if (job == 0) {
    // A background process must not be stopped for taking the terminal.
    ::signal(SIGTTOU, SIG_IGN);
    ::setpgid(0, 0);
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0 || ::tcsetpgrp(tty, ::getpgrp()) != 0)
      ::_exit(102);
    ::close(tty);
    ::signal(SIGTTOU, SIG_DFL);
    return;
  }
  ::setpgid(job, job);
  for (;;) {
    int status = 0;
    if (::waitpid(job, &status, WUNTRACED) < 0) {
      if (errno == EINTR)
        continue;
      ::_exit(103);
    }
    if (WIFSTOPPED(status)) {
      report("stopped %ld\n", job);
      continue;
    }
    if (WIFSIGNALED(status)) {
      ::signal(WTERMSIG(status), SIG_DFL);
      ::raise(WTERMSIG(status));
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 104);
  }
}

// Opened from a static object, as in the real program.
quib::ConsoleSession consoleSession;

} // namespace

int main(int argc, char **argv) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "J") == 0) {
    runAsJob();
    first = 2;
  }
  for (int i = first; i < argc; ++i)
    runStep(argv[i], argc);
  return 0;
}
