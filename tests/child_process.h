// Runs a function in a forked child and collects what it wrote to standard
// output and standard error, and how it ended. For tests of code that ends
// the process (the assertion check) where the exact bytes matter.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace quib::testing {

struct ChildResult {
  int status = 0; // as from waitpid
  std::string out;
  std::string err;
  int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

inline std::string drain(int fd) {
  std::string data;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0)
    data.append(chunk, static_cast<size_t>(n));
  ::close(fd);
  return data;
}

// The child's output is small, so reading standard output to the end
// before standard error cannot deadlock on a full pipe.
inline ChildResult runInChild(const std::function<void()> &body) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0)
    std::abort();
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    body();
    std::fflush(nullptr);
    ::_exit(0);
  }
  ::close(out[1]);
  ::close(err[1]);
  ChildResult result;
  result.out = drain(out[0]);
  result.err = drain(err[0]);
  ::waitpid(pid, &result.status, 0);
  return result;
}

} // namespace quib::testing
