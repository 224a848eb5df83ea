// End-to-end tests of the program shell: the real binary, with its standard
// streams on pipes and no terminal, or in a pseudo-terminal that is its
// controlling terminal. A stand-in xdg-open, first on PATH, records how it
// was started; no test ever starts a real browser.
//
// The test process is a child subreaper: the detached handler the program
// starts is reparented to it, so a test can wait for the handler, or see
// for certain that none was started, once the program itself has ended.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifndef QUIB_BINARY
#error "QUIB_BINARY names the program under test"
#endif

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds deadlineSpan{10};

const std::string pageUrl = "http://www.quib.example/cpp/sudoku";

// The texts as they arrive on a pipe: text mode, every line end CR LF.
std::string banner(const std::string &date, const std::string &time) {
  return "\r\n"
         "   Quib - Sudoku Solver\r\n"
         "\r\n"
         "   Version 0.9.1, " +
         date + ", " + time +
         "\r\n"
         "   www.quib.example\r\n";
}

const std::string prompt =
    "   Gehe fuer mehr Informationen und die neueste Version\r\n"
    "   auf www.quib.example (J/N)? ";

const std::string helpText =
    "   \r\n"
    "   Die Eingabe des Sudokus erfolgt wie bei einem Texteditor oder wie\r\n"
    "   bei einer Textverarbeitung.\r\n"
    "   \r\n"
    "   Den Cursor mit den Pfeiltasten bewegen. An der richtigen Position\r\n"
    "   durch eine Taste von '1' .. '9' die entsprechende Ziffer in des\r\n"
    "   Spielfeld eintragen.\r\n"
    "   \r\n"
    "   Falsche Eingaben k\xF6"
    "nnen durch Ueberschreiben korrigiert werden.\r\n"
    "   Mit ENTF oder BACKSPACE werden Eintraege an falschen Positionen\r\n"
    "   vollstaendig geloescht. \r\n"
    "   \r\n"
    "   Mit RETURN wird die Eingabe beendet und das Sudoku geloest. Mit\r\n"
    "   ESC wird das Programm beendet, ohne das Sudoku zu loesen.\r\n"
    "   \r\n";

const std::string usageText =
    "   \r\n"
    "  Ungueltiger Parameter auf der Kommandozeile\r\n"
    "   \r\n"
    "  Gueltige Parameter:\r\n"
    "   \r\n"
    "  ?, --help, -h: Zeigt einen Hilfetext an.\r\n"
    "  --version, -v: Zeigt die Version von QUIB an.\r\n"
    "  --info, i:     Zeigt die Version von QUIB an.\r\n";

std::string withoutCR(const std::string &s) {
  std::string r;
  std::copy_if(s.begin(), s.end(), std::back_inserter(r),
               [](char c) { return c != '\r'; });
  return r;
}

int exitCode(int status) {
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 1000 + WTERMSIG(status) : -1;
}

bool pastDeadline(Clock::time_point deadline) {
  return Clock::now() >= deadline;
}

// Waits a few milliseconds between checks of a condition under a deadline.
void pause() { ::poll(nullptr, 0, 5); }

// Reads what is available on fd into data; false once the fd is at its end
// (EOF, or EIO on a pseudo-terminal master whose other side is closed).
bool readSome(int fd, std::string &data) {
  char chunk[4096];
  ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n > 0) {
    data.append(chunk, static_cast<std::size_t>(n));
    return true;
  }
  return n < 0 && (errno == EINTR || errno == EAGAIN);
}

// Waits for pid under the deadline; kills it when the deadline passes.
int waitExit(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid)
      return status;
    if (r < 0 && errno != EINTR) {
      ADD_FAILURE() << "waitpid: " << std::strerror(errno);
      return -1;
    }
    if (pastDeadline(deadline)) {
      ADD_FAILURE() << "the program did not end in time";
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    pause();
  }
}

struct HandlerRecord {
  std::vector<std::string> args;
  std::map<std::string, std::string> values; // fd0..fd2, sid, tty, pid
};

// A scratch directory with the stand-in handler, the program's working
// directory and the PATH it runs with.
class ShellTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

  void SetUp() override {
    char templ[] = "/tmp/quib-shell-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir = templ;
    recordPath = dir + "/record";
    const std::string script = dir + "/bin/xdg-open";
    ASSERT_EQ(::mkdir((dir + "/bin").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir + "/nothing").c_str(), 0755), 0);
    std::ofstream(script)
        << "#!/bin/sh\n"
           "fd0=$(readlink /proc/$$/fd/0)\n"
           "fd1=$(readlink /proc/$$/fd/1)\n"
           "fd2=$(readlink /proc/$$/fd/2)\n"
           "read -r pid comm state ppid pgrp sid tty rest < /proc/$$/stat\n"
           "{\n"
           "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
           "  printf 'fd0=%s\\nfd1=%s\\nfd2=%s\\n' \"$fd0\" \"$fd1\" \"$fd2\"\n"
           "  printf 'sid=%s\\ntty=%s\\npid=%s\\n' \"$sid\" \"$tty\" \"$$\"\n"
           "} > '"
        << recordPath << "'\n";
    ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
    usePath(dir + "/bin:" + originalPath());
  }

  void TearDown() override {
    // A handler left over by a failed expectation must not outlive the test.
    int status;
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
    std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0)
      ADD_FAILURE() << "could not remove " << dir;
  }

  static std::string originalPath() {
    const char *p = std::getenv("PATH");
    return p != nullptr ? p : "/usr/bin:/bin";
  }

  // The environment of the program: the test's own, with PATH replaced.
  void usePath(const std::string &path) {
    envStrings.clear();
    for (char **e = environ; *e != nullptr; ++e)
      if (std::strncmp(*e, "PATH=", 5) != 0)
        envStrings.emplace_back(*e);
    envStrings.push_back("PATH=" + path);
  }

  // Runs in the forked child: the program in the scratch directory.
  [[noreturn]] void execProgram(const std::vector<std::string> &args) {
    std::vector<char *> argv{const_cast<char *>(QUIB_BINARY)};
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (std::string &e : envStrings)
      envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::chdir(dir.c_str()) == 0)
      ::execve(QUIB_BINARY, argv.data(), envp.data());
    ::_exit(126);
  }

  struct Outcome {
    std::string out; // standard output, or the terminal for a pty run
    std::string err;
    int status = -1; // exit code, 1000 + signal when killed
    pid_t pid = -1;
  };

  // The program in a new session without a controlling terminal, standard
  // input on /dev/null, standard output and error on pipes.
  Outcome runWithoutTerminal(const std::vector<std::string> &args) {
    Outcome o;
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) {
      ADD_FAILURE() << "pipe";
      return o;
    }
    o.pid = ::fork();
    if (o.pid == 0) {
      ::setsid();
      int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::close(out[0]);
      ::close(err[0]);
      execProgram(args);
    }
    ::close(out[1]);
    ::close(err[1]);
    Clock::time_point deadline = Clock::now() + deadlineSpan;
    drain({out[0], err[0]}, {&o.out, &o.err}, deadline);
    o.status = exitCode(waitExit(o.pid, deadline));
    return o;
  }

  // Reads every fd to its end, or until the deadline passes; closes them.
  static void drain(std::vector<int> fds, std::vector<std::string *> sinks,
                    Clock::time_point deadline) {
    std::vector<bool> open(fds.size(), true);
    while (std::find(open.begin(), open.end(), true) != open.end() &&
           !pastDeadline(deadline)) {
      std::vector<pollfd> p;
      std::vector<std::size_t> which;
      for (std::size_t k = 0; k < fds.size(); ++k)
        if (open[k]) {
          p.push_back({fds[k], POLLIN, 0});
          which.push_back(k);
        }
      if (::poll(p.data(), p.size(), 20) <= 0)
        continue;
      for (std::size_t j = 0; j < p.size(); ++j)
        if (p[j].revents != 0 && !readSome(p[j].fd, *sinks[which[j]]))
          open[which[j]] = false;
    }
    for (std::size_t k = 0; k < fds.size(); ++k)
      ::close(fds[k]);
  }

  // The program with a pseudo-terminal of 80 x 25 as its controlling
  // terminal and standard input; standard error on a pipe, standard output
  // on the terminal or on a pipe.
  class PtyRun {
  public:
    PtyRun(ShellTest &test, const std::vector<std::string> &args,
           bool outputOnPipe)
        : deadline(Clock::now() + deadlineSpan) {
      int out[2] = {-1, -1}, err[2];
      if ((outputOnPipe && ::pipe(out) != 0) || ::pipe(err) != 0) {
        ADD_FAILURE() << "pipe";
        return;
      }
      winsize size{};
      size.ws_row = 25;
      size.ws_col = 80;
      pid = ::forkpty(&master, nullptr, nullptr, &size);
      if (pid == 0) {
        if (outputOnPipe)
          ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        test.execProgram(args);
      }
      if (outputOnPipe)
        ::close(out[1]);
      ::close(err[1]);
      outFd = out[0];
      errFd = err[0];
      if (pid < 0)
        ADD_FAILURE() << "forkpty: " << std::strerror(errno);
    }

    // Reads the terminal until what it showed so far satisfies done.
    bool waitForScreen(const std::function<bool(const std::string &)> &done) {
      while (!done(screen)) {
        if (pastDeadline(deadline))
          return false;
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0 && !readSome(master, screen))
          return done(screen);
      }
      return true;
    }

    // Reads the terminal until its text, line ends as LF, contains needle.
    bool waitForText(const std::string &needle) {
      return waitForScreen([&needle](const std::string &s) {
        return withoutCR(s).find(needle) != std::string::npos;
      });
    }

    // Waits until a key is being awaited: only while the program reads a key
    // are line mode and the signal keys off. Keys typed before that would be
    // cooked by the line discipline (Ctrl+C would be a signal).
    bool waitForKeyRead() {
      for (;;) {
        termios t{};
        if (::tcgetattr(master, &t) == 0 && (t.c_lflag & (ICANON | ISIG)) == 0)
          return true;
        if (pastDeadline(deadline))
          return false;
        pause();
      }
    }

    void send(const std::string &keys) {
      ASSERT_EQ(::write(master, keys.data(), keys.size()),
                static_cast<ssize_t>(keys.size()));
    }

    // Reads everything to the end and waits for the program.
    Outcome finish() {
      Outcome o;
      o.pid = pid;
      std::string out;
      if (outFd >= 0)
        drain({master, errFd, outFd}, {&screen, &o.err, &out}, deadline);
      else
        drain({master, errFd}, {&screen, &o.err}, deadline);
      o.out = outFd >= 0 ? out : screen;
      o.status = exitCode(waitExit(pid, deadline));
      return o;
    }

    pid_t pid = -1;
    std::string screen;

  private:
    Clock::time_point deadline;
    int master = -1;
    int outFd = -1;
    int errFd = -1;
  };

  // After the program has ended: no process of its own is left behind.
  static void expectNoHandler() {
    int status;
    pid_t r = ::waitpid(-1, &status, WNOHANG);
    EXPECT_EQ(r, -1) << "a process was started, pid " << r;
    EXPECT_EQ(errno, ECHILD);
  }

  // After the program has ended: the one handler it started, waited for.
  static int waitForHandler() {
    Clock::time_point deadline = Clock::now() + deadlineSpan;
    int status = 0;
    for (;;) {
      pid_t r = ::waitpid(-1, &status, WNOHANG);
      if (r > 0)
        break;
      if (r < 0) {
        ADD_FAILURE() << "no handler was started";
        return -1;
      }
      if (pastDeadline(deadline)) {
        ADD_FAILURE() << "the handler did not end in time";
        return -1;
      }
      pause();
    }
    expectNoHandler();
    return exitCode(status);
  }

  HandlerRecord readRecord() {
    HandlerRecord rec;
    std::ifstream in(recordPath);
    std::string line;
    while (std::getline(in, line)) {
      std::size_t eq = line.find('=');
      if (eq == std::string::npos)
        continue;
      std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "arg")
        rec.args.push_back(value);
      else
        rec.values[key] = value;
    }
    return rec;
  }

  // The handler was the stand-in, started with the page address alone,
  // detached: a session of its own, no controlling terminal, its standard
  // streams on /dev/null.
  void expectHandlerStarted(pid_t program) {
    ASSERT_EQ(waitForHandler(), 0);
    HandlerRecord rec = readRecord();
    EXPECT_EQ(rec.args, std::vector<std::string>{pageUrl});
    for (const char *fd : {"fd0", "fd1", "fd2"})
      EXPECT_EQ(rec.values[fd], "/dev/null") << fd;
    EXPECT_EQ(rec.values["tty"], "0");
    ASSERT_FALSE(rec.values["sid"].empty());
    const long sid = std::stol(rec.values["sid"]);
    EXPECT_NE(sid, program);
    EXPECT_NE(sid, ::getsid(0));
  }

  std::string dir;
  std::string recordPath;
  std::vector<std::string> envStrings;
};

// The banner's date and time as the program printed them, checked for their
// form: "Mmm dd yyyy" (a day below 10 padded with a blank, no leading zero)
// and "hh:mm:ss".
bool parseBanner(const std::string &out, std::string &date, std::string &time) {
  const std::string head = "\r\n   Quib - Sudoku Solver\r\n\r\n"
                           "   Version 0.9.1, ";
  if (out.compare(0, head.size(), head) != 0 || out.size() < head.size() + 23 ||
      out.compare(head.size() + 11, 2, ", ") != 0 ||
      out.compare(head.size() + 21, 2, "\r\n") != 0)
    return false;
  date = out.substr(head.size(), 11);
  time = out.substr(head.size() + 13, 8);
  auto digits = [](const std::string &s, std::size_t from, std::size_t n) {
    return std::all_of(s.begin() + from, s.begin() + from + n,
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const std::size_t month = months.find(date.substr(0, 3));
  const int day =
      date[4] == ' ' ? date[5] - '0' : (date[4] - '0') * 10 + (date[5] - '0');
  const bool dateOk = month != std::string::npos && month % 3 == 0 &&
                      date[3] == ' ' &&
                      (date[4] == ' ' || (date[4] >= '1' && date[4] <= '3')) &&
                      digits(date, 5, 1) && day >= 1 && day <= 31 &&
                      date[6] == ' ' && digits(date, 7, 4);
  const bool timeOk = digits(time, 0, 2) && time[2] == ':' &&
                      digits(time, 3, 2) && time[5] == ':' &&
                      digits(time, 6, 2) && time.substr(0, 2) <= "23" &&
                      time[3] <= '5' && time[6] <= '5';
  return dateOk && timeOk;
}

TEST_F(ShellTest, VersionOptionsPrintBannerAndPromptAnsweredNoWithoutTerminal) {
  for (const char *option : {"-v", "--version", "-i", "--info"}) {
    SCOPED_TRACE(option);
    Outcome o = runWithoutTerminal({option});
    std::string date, time;
    ASSERT_TRUE(parseBanner(o.out, date, time)) << o.out;
    EXPECT_EQ(o.out, banner(date, time) + prompt + "N\r\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, 0);
    expectNoHandler();
  }
}

TEST_F(ShellTest, HelpOptionsPrintHelpAndPromptAnsweredNoWithoutTerminal) {
  for (const char *option : {"-h", "--help", "?"}) {
    SCOPED_TRACE(option);
    Outcome o = runWithoutTerminal({option});
    EXPECT_EQ(o.out, helpText + prompt + "N\r\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, 0);
    expectNoHandler();
  }
}

TEST_F(ShellTest, UnrecognisedArgumentsPrintUsageTextOnly) {
  for (const char *arg :
       {"-H", "--Help", "-help", "/?", "i", "h", "", "-h   ", " -h", "-V",
        "--versio", "--version=1", "-", "--", "??", "-v -h"}) {
    SCOPED_TRACE(std::string("argument '") + arg + "'");
    Outcome o = runWithoutTerminal({arg});
    EXPECT_EQ(o.out, usageText);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, 0);
    expectNoHandler();
  }
}

TEST_F(ShellTest, OtherArgumentCountsRunTheSolverWhichEndsWithoutTerminal) {
  // Without a terminal the editor cannot read a key and leaves as for Esc:
  // nothing on standard output, status 0, whatever the arguments say.
  const std::vector<std::vector<std::string>> runs = {
      {}, {"-h", "x"}, {"-v", "--help"}, {"?", "?", "?"}, {"", ""}};
  for (const auto &args : runs) {
    SCOPED_TRACE(testing::PrintToString(args));
    Outcome o = runWithoutTerminal(args);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, 0);
    expectNoHandler();
  }
}

struct PromptCase {
  const char *name;
  const char *keys;
  bool yes;
};

void PrintTo(const PromptCase &c, std::ostream *os) { *os << c.name; }

class PromptTest : public ShellTest,
                   public ::testing::WithParamInterface<PromptCase> {};

// One key answers the prompt on the terminal; yes starts the handler with
// the page address, no starts nothing. Either way the status is 0 and the
// echo is the last thing the program prints.
TEST_P(PromptTest, KeyAnswersPromptOnTerminal) {
  const PromptCase &c = GetParam();
  for (const char *option : {"-v", "--help"}) {
    SCOPED_TRACE(option);
    PtyRun run(*this, {option}, false);
    ASSERT_TRUE(run.waitForText(withoutCR(prompt))) << run.screen;
    ASSERT_TRUE(run.waitForKeyRead());
    run.send(c.keys);
    Outcome o = run.finish();
    const std::string screen = withoutCR(o.out);
    const std::string expected = withoutCR((option[1] == 'v' ? "" : helpText) +
                                           prompt + (c.yes ? "J\n" : "N\n"));
    ASSERT_GE(screen.size(), expected.size()) << screen;
    EXPECT_EQ(screen.substr(screen.size() - expected.size()), expected);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, 0);
    if (c.yes)
      expectHandlerStarted(o.pid);
    else
      expectNoHandler();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, PromptTest,
    ::testing::Values(
        PromptCase{"Return", "\r", true}, PromptCase{"LineFeed", "\n", true},
        PromptCase{"Space", " ", true}, PromptCase{"UpperJ", "J", true},
        PromptCase{"LowerJ", "j", true}, PromptCase{"UpperY", "Y", true},
        PromptCase{"LowerY", "y", true}, PromptCase{"Esc", "\x1b", false},
        PromptCase{"LowerN", "n", false}, PromptCase{"UpperN", "N", false},
        PromptCase{"Digit", "1", false}, PromptCase{"ArrowUp", "\x1b[A", false},
        PromptCase{"CtrlC", "\x03", false}),
    [](const ::testing::TestParamInfo<PromptCase> &info) {
      return std::string(info.param.name);
    });

TEST_F(ShellTest, YesEchoGoesToRedirectedOutputInTextMode) {
  // Standard output on a pipe while the key comes from the terminal: the
  // bytes are exactly the texts, and the handler is still started.
  PtyRun run(*this, {"-i"}, true);
  ASSERT_TRUE(run.waitForKeyRead());
  run.send("j");
  Outcome o = run.finish();
  std::string date, time;
  ASSERT_TRUE(parseBanner(o.out, date, time)) << o.out;
  EXPECT_EQ(o.out, banner(date, time) + prompt + "J\r\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.status, 0);
  expectHandlerStarted(o.pid);
}

TEST_F(ShellTest, MissingHandlerIsSilent) {
  usePath(dir + "/nothing");
  PtyRun run(*this, {"?"}, true);
  ASSERT_TRUE(run.waitForKeyRead());
  run.send("\r");
  Outcome o = run.finish();
  EXPECT_EQ(o.out, helpText + prompt + "J\r\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.status, 0);
  // The process meant to become the handler found nothing to start.
  EXPECT_EQ(waitForHandler(), 127);
}

TEST_F(ShellTest, NoArgumentAndTwoArgumentsShowTheGridOnTerminal) {
  const std::vector<std::vector<std::string>> runs = {{}, {"-h", "x"}};
  for (const auto &args : runs) {
    SCOPED_TRACE(testing::PrintToString(args));
    PtyRun run(*this, args, false);
    // The empty grid: 81 dots and the frame (2 x 19 '|', 2 x 21 '-'),
    // drawn before the first key is read.
    const bool drawn = run.waitForScreen([](const std::string &s) {
      return std::count(s.begin(), s.end(), '.') >= 81 &&
             std::count(s.begin(), s.end(), '|') >= 38 &&
             std::count(s.begin(), s.end(), '-') >= 42;
    });
    EXPECT_TRUE(drawn) << run.screen;
    ASSERT_TRUE(run.waitForKeyRead());
    run.send("\x1b");
    Outcome o = run.finish();
    EXPECT_EQ(o.out.find("Quib - Sudoku Solver"), std::string::npos);
    EXPECT_EQ(o.out.find("Ungueltiger"), std::string::npos);
    EXPECT_EQ(o.out.find("(J/N)"), std::string::npos);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.status, 0);
    expectNoHandler();
  }
}

} // namespace
