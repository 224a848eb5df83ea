// The operating system's small services on Linux.
#include "platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quib {
namespace {

// The part of the handler's start that runs in the grandchild: detached from
// the terminal and from everything the program has open, then the handler
// itself. Only async-signal-safe calls between fork and exec.
[[noreturn]] void execHandler(const char *url) {
  int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
  }
  // The terminal's descriptor and any other the program holds stay here.
  if (::close_range(3, ~0U, 0) != 0) {
    long maxFd = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (maxFd > 0 ? maxFd : 1024); ++fd)
      ::close(fd);
  }
  // The handler starts with the default signal dispositions and no signal
  // blocked, whatever the program had set.
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig)
    ::sigaction(sig, &dfl, nullptr);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  // execvp takes the vector as non-const for historical reasons; it does
  // not write to it.
  char *args[] = {const_cast<char *>("xdg-open"), const_cast<char *>(url),
                  nullptr};
  ::execvp(args[0], args);
  ::_exit(127);
}

} // namespace

// The process received its arguments already split.
void takeArguments(int &, char **&) {}

void writeStandardError(const char *data, std::size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(2, data, len);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    data += n;
    len -= static_cast<std::size_t>(n);
  }
}

void endProcessNow(int status) { ::_exit(status); }

// The handler runs in a new session with its standard streams on
// /dev/null; it is started by a short-lived intermediate child, so that it
// is never the program's own child: the program reaps the intermediate at
// once and never waits for, or hears of, the handler. xdg-open wants a
// scheme in front of the address.
void openWebPage(const char *address) {
  char url[512];
  const int n = std::snprintf(url, sizeof url, "http://%s", address);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof url)
    return;
  // The echo before it is out first: standard output is buffered when it
  // is not a terminal, and the children must not inherit unwritten bytes.
  std::fflush(nullptr);
  pid_t intermediate = ::fork();
  if (intermediate < 0)
    return;
  if (intermediate == 0) {
    ::setsid();
    pid_t handler = ::fork();
    if (handler == 0)
      execHandler(url);
    ::_exit(0);
  }
  int status;
  while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
  }
}

} // namespace quib
