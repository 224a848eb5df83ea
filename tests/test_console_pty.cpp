// The terminal layer through a real pseudo-terminal: the helper program
// drives the layer as the real program does, the test types on the master
// side, reads what the layer wrote there and looks at the terminal's mode.
//
// Units: x = column, y = row, both counted from 1.
#include "show_bytes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
// Generous, for a loaded machine and the sanitizers; waits end as soon as
// the awaited thing happens.
constexpr auto patience = std::chrono::seconds(10);

enum class StdoutTo { terminal, file, pipe, full };

struct Options {
  bool controllingTerminal = true;
  StdoutTo stdoutTo = StdoutTo::terminal;
  const char *term = "xterm-256color";
  unsigned short width = 80;
  unsigned short height = 24;
  std::vector<int> ignoredSignals; // SIG_IGN when the program starts
};

using quib::testing::show;

bool sameMode(const termios &a, const termios &b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// The mode the layer keeps between readKey calls.
bool isQuietMode(const termios &t) {
  return (t.c_lflag & (ECHO | ICANON)) == 0 && (t.c_lflag & ISIG) != 0 &&
         (t.c_iflag & ICRNL) == 0;
}

// The mode while readKey waits.
bool isRawMode(const termios &t) {
  return (t.c_lflag & (ECHO | ICANON | ISIG)) == 0 && (t.c_iflag & IXON) == 0;
}

// Moves fd to a number of at least 20, so that the dup2 calls in the child
// cannot collide with it.
int high(int fd) {
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 20);
  ::close(fd);
  return moved;
}

// One run of the helper program on a fresh pseudo-terminal.
class Session {
public:
  // steps: the helper's steps, separated by spaces.
  explicit Session(const std::string &steps, Options options = {})
      : options_(options) {
    winsize size{};
    size.ws_col = options.width;
    size.ws_row = options.height;
    if (::openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) {
      ADD_FAILURE() << "openpty: " << std::strerror(errno);
      return;
    }
    master_ = high(master_);
    slave_ = high(slave_);
    ::tcgetattr(slave_, &original_);
    int go[2];
    int reports[2];
    int out[2] = {-1, -1};
    if (::pipe2(go, O_CLOEXEC) != 0 || ::pipe2(reports, O_CLOEXEC) != 0)
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
    char path[] = "/tmp/test_console_outXXXXXX";
    switch (options.stdoutTo) {
    case StdoutTo::terminal:
      break;
    case StdoutTo::file:
      out[1] = ::mkostemp(path, O_CLOEXEC);
      out[0] = ::open(path, O_RDONLY | O_CLOEXEC);
      ::unlink(path);
      break;
    case StdoutTo::pipe:
      if (::pipe2(out, O_CLOEXEC) != 0)
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
      break;
    case StdoutTo::full:
      out[1] = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
      break;
    }
    const int goRead = high(go[0]);
    const int reportWrite = high(reports[1]);
    const int outWrite = out[1] >= 0 ? high(out[1]) : -1;
    const int null = high(::open("/dev/null", O_RDWR | O_CLOEXEC));
    std::vector<std::string> args{TEST_CONSOLE_HELPER};
    for (std::size_t at = 0; at < steps.size();) {
      const std::size_t end = std::min(steps.find(' ', at), steps.size());
      args.push_back(steps.substr(at, end - at));
      at = end + 1;
    }
    std::vector<char *> argv;
    for (std::string &arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0)
      startChild(argv.data(), goRead, reportWrite, outWrite, null);
    ::close(goRead);
    ::close(reportWrite);
    ::close(null);
    if (outWrite >= 0)
      ::close(outWrite);
    go_ = go[1];
    reports_ = reports[0];
    out_ = options.stdoutTo == StdoutTo::full ? -1 : out[0];
    if (options.stdoutTo == StdoutTo::pipe)
      ::fcntl(out_, F_SETFL, O_NONBLOCK);
  }

  ~Session() {
    if (pid_ > 0 && !finished_) {
      ::kill(pid_, SIGKILL);
      int status;
      ::waitpid(pid_, &status, 0);
    }
    for (int fd : {master_, slave_, go_, reports_, out_})
      if (fd >= 0)
        ::close(fd);
  }

  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;

  pid_t pid() const { return pid_; }
  const termios &original() const { return original_; }
  termios mode() const {
    termios t{};
    ::tcgetattr(slave_, &t);
    return t;
  }
  // Everything the layer wrote to the terminal so far.
  const std::string &screen() const { return screen_; }
  // Everything standard output received so far (file or pipe).
  std::string output() {
    pump(0);
    if (options_.stdoutTo == StdoutTo::file) {
      std::string text;
      char buffer[4096];
      ssize_t n;
      while ((n = ::pread(out_, buffer, sizeof buffer,
                          static_cast<off_t>(text.size()))) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
      return text;
    }
    return output_;
  }

  void type(const std::string &bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  // Types once readKey waits for a key.
  void typeKey(const std::string &bytes) {
    ASSERT_TRUE(waitForMode(isRawMode)) << "readKey does not wait";
    type(bytes);
  }
  void go() { ASSERT_EQ(::write(go_, "g", 1), 1); }
  // The reader of a standard output pipe goes away.
  void closeOutput() {
    ::close(out_);
    out_ = -1;
    ended_[2] = true;
  }
  // A hangup: the terminal's master side goes away.
  void hangUp() {
    ::close(master_);
    master_ = -1;
    ended_[0] = true;
  }

  // The next report line of the helper, or "" when none comes.
  std::string nextReport() {
    const auto end = Clock::now() + patience;
    for (;;) {
      const std::size_t eol = reportText_.find('\n', reportAt_);
      if (eol != std::string::npos) {
        std::string line = reportText_.substr(reportAt_, eol - reportAt_);
        reportAt_ = eol + 1;
        pump(0);
        return line;
      }
      if (Clock::now() > end || (gone() && ended_[1])) {
        ADD_FAILURE() << "no report; terminal got " << show(screen_);
        return "";
      }
      pump(20);
    }
  }

  void expectReports(std::initializer_list<std::string> lines) {
    for (const std::string &line : lines)
      EXPECT_EQ(nextReport(), line) << "terminal got " << show(screen_);
  }

  // Waits until the helper has ended and returns its wait status.
  int finish() {
    const auto end = Clock::now() + patience;
    while (!gone()) {
      if (Clock::now() > end) {
        ADD_FAILURE() << "helper did not end; terminal got " << show(screen_);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
        finished_ = true;
        break;
      }
      pump(10);
    }
    pump(0);
    return status_;
  }

  // Polls until pred holds for the terminal's mode.
  template <typename Pred> bool waitForMode(Pred pred) {
    const auto end = Clock::now() + patience;
    while (!pred(mode())) {
      if (Clock::now() > end || gone())
        return false;
      pump(5);
    }
    return true;
  }

private:
  // Whether the helper has ended (its status is then kept).
  bool gone() {
    if (!finished_ && ::waitpid(pid_, &status_, WNOHANG) == pid_)
      finished_ = true;
    return finished_;
  }

  [[noreturn]] void startChild(char **argv, int goRead, int reportWrite,
                               int outWrite, int null) {
    ::setsid();
    int in = null;
    int err = null;
    if (options_.controllingTerminal) {
      ::ioctl(slave_, TIOCSCTTY, 0);
      in = slave_;
      err = slave_;
    }
    const int out = outWrite >= 0
                        ? outWrite
                        : (options_.controllingTerminal ? slave_ : null);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(goRead, 3);
    ::dup2(reportWrite, 4);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore); // SIGQUIT dumps core by default
    for (int sig : options_.ignoredSignals)
      ::signal(sig, SIG_IGN);
    ::setenv("TERM", options_.term, 1);
    ::execv(argv[0], argv);
    ::_exit(127);
  }

  // Collects what the terminal, the report pipe and a standard output pipe
  // have to give, waiting at most timeoutMs for the first bytes.
  void pump(int timeoutMs) {
    std::string *into[3] = {&screen_, &reportText_, &output_};
    for (;;) {
      pollfd fds[3] = {{ended_[0] ? -1 : master_, POLLIN, 0},
                       {ended_[1] ? -1 : reports_, POLLIN, 0},
                       {-1, POLLIN, 0}};
      if (options_.stdoutTo == StdoutTo::pipe && !ended_[2])
        fds[2].fd = out_;
      if (::poll(fds, 3, timeoutMs) <= 0)
        return;
      bool got = false;
      for (int i = 0; i < 3; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0)
          continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
          into[i]->append(buffer, static_cast<std::size_t>(n));
          got = true;
        } else if (n == 0 || errno != EAGAIN) {
          ended_[i] = true;
        }
      }
      if (!got)
        return;
      timeoutMs = 0; // more may be waiting
    }
  }

  Options options_;
  int master_ = -1;
  int slave_ = -1;
  int go_ = -1;
  int reports_ = -1;
  int out_ = -1;
  pid_t pid_ = -1;
  bool finished_ = false;
  int status_ = 0;
  bool ended_[3] = {false, false, false};
  termios original_{};
  std::string screen_;
  std::string reportText_;
  std::size_t reportAt_ = 0;
  std::string output_;
};

void expectExited(int status, int code) {
  EXPECT_TRUE(WIFEXITED(status)) << "status " << status;
  if (WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), code);
  }
}

void expectKilledBy(int status, int sig) {
  EXPECT_TRUE(WIFSIGNALED(status)) << "status " << status;
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), sig);
  }
}

// ---------------------------------------------------------------------------
// Keys and modes
// ---------------------------------------------------------------------------

TEST(ConsolePty, KeysTypedBetweenCallsComeBackInOrderWithoutEcho) {
  Session run("R W R R R R R R R R R");
  run.typeKey("a");
  run.expectReports({"k97", "w"});
  EXPECT_TRUE(isQuietMode(run.mode()));
  // Typed while no call waits: digits, Backspace both ways, an arrow,
  // Enter and Delete.
  run.type("1\x7f\x1b[A2\r\x08\x1b[3~");
  run.go();
  run.expectReports(
      {"k49", "k8", "k0", "k72", "k50", "k13", "k8", "k0", "k83"});
  expectExited(run.finish(), 0);
  EXPECT_TRUE(sameMode(run.mode(), run.original()));
  EXPECT_EQ(run.screen().find_first_of("12"), std::string::npos)
      << "echoed: " << show(run.screen());
}

TEST(ConsolePty, SignalAndFlowControlKeysArriveAsKeysWhileReadKeyWaits) {
  Session run("R R R R");
  for (const char *key : {"\x03", "\x1a", "\x13", "\x11"}) {
    run.typeKey(key);
    std::string expected = "k";
    expected += std::to_string(key[0]);
    run.expectReports({expected});
  }
  expectExited(run.finish(), 0);
}

TEST(ConsolePty, LoneEscIsEscOnceNoMoreBytesCome) {
  Session run("R R R R R R");
  run.typeKey("\x1b"); // nothing follows: the short wait decides
  run.expectReports({"k27"});
  run.typeKey("\x1bx"); // one burst: Alt+X
  run.expectReports({"k0", "k45"});
  run.typeKey("q");
  run.expectReports({"k113"});
  // A sequence split over two writes, the second within the short wait,
  // is still one key.
  run.typeKey("\x1b[");
  const timespec gap{0, 5 * 1000 * 1000};
  ::nanosleep(&gap, nullptr);
  run.type("A");
  run.expectReports({"k0", "k72"});
  expectExited(run.finish(), 0);
}

TEST(ConsolePty, HangupGivesMinusOne) {
  // SIGHUP ignored, so that the hangup itself reaches readKey.
  Options options;
  options.ignoredSignals = {SIGHUP};
  Session run("R R", options);
  run.typeKey("z");
  run.expectReports({"k122"});
  ASSERT_TRUE(run.waitForMode(isRawMode));
  run.hangUp();
  run.expectReports({"k-1"});
  expectExited(run.finish(), 0);
}

// Each way the program can end, with the terminal in the layer's mode and
// the cursor hidden at that moment.
TEST(ConsolePty, OriginalModeIsRestoredAtEveryEnd) {
  enum class Trigger { go, kill, type };
  struct End {
    const char *what;
    const char *steps;
    Trigger trigger;
    int value;        // signal for kill, byte for type
    int exitCode;     // -1: killed by killSignal
    int killSignal;   //
    bool showsCursor; // the hidden cursor is shown on the way out
  } ends[] = {
      {"normal end", "U0 R W", Trigger::go, 0, 0, 0, false},
      {"exit()", "U0 R W X7", Trigger::go, 0, 7, 0, false},
      {"failed assertion", "U0 R W A", Trigger::go, 0, 3, 0, true},
      {"SIGTERM", "U0 R W", Trigger::kill, SIGTERM, -1, SIGTERM, true},
      {"SIGHUP", "U0 R W", Trigger::kill, SIGHUP, -1, SIGHUP, true},
      {"SIGQUIT", "U0 R W", Trigger::kill, SIGQUIT, -1, SIGQUIT, true},
      {"Ctrl+C between calls", "U0 R W", Trigger::type, 0x03, -1, SIGINT, true},
      {"Ctrl+\\ between calls", "U0 R W", Trigger::type, 0x1c, -1, SIGQUIT,
       true},
  };
  for (const End &end : ends) {
    SCOPED_TRACE(end.what);
    Session run(end.steps);
    run.typeKey("x");
    run.expectReports({"k120", "w"});
    ASSERT_TRUE(isQuietMode(run.mode()));
    const std::size_t mark = run.screen().size();
    switch (end.trigger) {
    case Trigger::go:
      run.go();
      break;
    case Trigger::kill:
      ::kill(run.pid(), end.value);
      break;
    case Trigger::type:
      run.type(std::string(1, static_cast<char>(end.value)));
      break;
    }
    const int status = run.finish();
    if (end.exitCode >= 0)
      expectExited(status, end.exitCode);
    else
      expectKilledBy(status, end.killSignal);
    EXPECT_TRUE(sameMode(run.mode(), run.original()));
    if (end.showsCursor) {
      EXPECT_NE(run.screen().find("\033[?25h", mark), std::string::npos)
          << show(run.screen());
    }
  }
}

TEST(ConsolePty, SignalIgnoredAtStartStaysIgnored) {
  Options options;
  options.ignoredSignals = {SIGTERM};
  Session run("R W R", options);
  run.typeKey("x");
  run.expectReports({"k120", "w"});
  ::kill(run.pid(), SIGTERM);
  run.go();
  run.typeKey("y");
  run.expectReports({"k121"});
  expectExited(run.finish(), 0);
  EXPECT_TRUE(sameMode(run.mode(), run.original()));
}

TEST(ConsolePty, CtrlZStopsWithTheOriginalModeAndContinuesInTheLayersMode) {
  Session run("J U0 R W R");
  run.typeKey("x");
  run.expectReports({"k120", "w"});
  ASSERT_TRUE(isQuietMode(run.mode()));
  std::size_t mark = run.screen().size();
  run.type("\x1a");
  const std::string stopped = run.nextReport();
  ASSERT_EQ(stopped.rfind("stopped ", 0), 0u) << stopped;
  EXPECT_TRUE(sameMode(run.mode(), run.original()));
  EXPECT_NE(run.screen().find("\033[?25h", mark), std::string::npos)
      << show(run.screen());
  mark = run.screen().size();
  ::kill(std::atoi(stopped.c_str() + 8), SIGCONT);
  EXPECT_TRUE(run.waitForMode(isQuietMode));
  run.go();
  run.typeKey("y");
  run.expectReports({"k121"});
  expectExited(run.finish(), 0);
  EXPECT_NE(run.screen().find("\033[?25l", mark), std::string::npos)
      << show(run.screen());
  EXPECT_TRUE(sameMode(run.mode(), run.original()));
}

// ---------------------------------------------------------------------------
// Drawing and the cursor the layer keeps
// ---------------------------------------------------------------------------

// Just enough of a terminal to replay what the layer wrote: CUP, ED,
// IND, CR, LF, BS, BEL and printable bytes with xterm's deferred wrap at
// the right margin; other sequences are skipped.
class Screen {
public:
  Screen(int width, int height)
      : width_(width), height_(height),
        cells_(static_cast<std::size_t>(width * height), ' ') {}

  void feed(const std::string &bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(bytes[i]);
      if (c == 0x1B && i + 1 < bytes.size()) {
        i = escape(bytes, i);
        continue;
      }
      switch (c) {
      case '\r':
        x = 1;
        pendingWrap_ = false;
        break;
      case '\n':
        down();
        break;
      case '\b':
        if (x > 1)
          --x;
        pendingWrap_ = false;
        break;
      case '\a':
        ++bells;
        break;
      default:
        if (c >= 0x20)
          print(static_cast<char>(c));
        break;
      }
    }
  }

  char at(int cx, int cy) const {
    return cells_[static_cast<std::size_t>((cy - 1) * width_ + cx - 1)];
  }
  std::string row(int cy) const {
    return std::string(cells_.begin() + (cy - 1) * width_,
                       cells_.begin() + cy * width_);
  }
  std::string dump() const {
    std::string out;
    for (int cy = 1; cy <= height_; ++cy) {
      out += '|';
      out += row(cy);
      out += "|\n";
    }
    out += "cursor ";
    out += std::to_string(x);
    out += ',';
    out += std::to_string(y);
    return out;
  }

  int x = 1;
  int y = 1;
  int bells = 0;

private:
  std::size_t escape(const std::string &bytes, std::size_t i) {
    const char kind = bytes[i + 1];
    if (kind == 'D') { // IND
      down();
      return i + 1;
    }
    if (kind != '[')
      return i + 1;
    std::size_t j = i + 2;
    std::string params;
    while (j < bytes.size() && (bytes[j] < 0x40 || bytes[j] > 0x7E))
      params += bytes[j++];
    const char final = j < bytes.size() ? bytes[j] : '\0';
    if (final == 'H') {
      int row = 1;
      int column = 1;
      std::sscanf(params.c_str(), "%d;%d", &row, &column);
      x = column;
      y = row;
      pendingWrap_ = false;
    } else if (final == 'J' && params == "2") {
      cells_.assign(cells_.size(), ' ');
    }
    return j;
  }

  void down() {
    pendingWrap_ = false;
    if (y < height_) {
      ++y;
      return;
    }
    cells_.erase(cells_.begin(), cells_.begin() + width_);
    cells_.insert(cells_.end(), static_cast<std::size_t>(width_), ' ');
  }

  void print(char c) {
    if (pendingWrap_) {
      x = 1;
      down();
    }
    cells_[static_cast<std::size_t>((y - 1) * width_ + x - 1)] = c;
    if (x < width_)
      ++x;
    else
      pendingWrap_ = true;
  }

  int width_;
  int height_;
  std::vector<char> cells_;
  bool pendingWrap_ = false;
};

// Each case draws on a 10 x 5 screen; the picture is the screen afterwards
// (rows padded with blanks) and (x, y) the cursor.
TEST(ConsolePty, CursorKeeping) {
  struct Case {
    const char *what;
    const char *steps;
    std::vector<std::string> picture;
    int x;
    int y;
    int bells;
  } cases[] = {
      {"moveCursor outside the screen is ignored",
       "C M3,2 M0,5 M11,5 M5,0 M5,6 M-1,-1 Sx",
       {"", "  x", "", "", ""},
       4,
       2,
       0},
      {"right edge: on to the next row at once; line feed keeps the column",
       "C M10,2 SA P10 SB",
       {"", "         A", "", "B", ""},
       2,
       4,
       0},
      {"bottom-right corner: the screen scrolls up one row",
       "C M1,1 Stop M1,5 Sz M10,5 SA SB",
       {"", "", "", "z        A", "B"},
       2,
       5,
       0},
      {"line feed on the bottom row scrolls and keeps the column",
       "C M4,5 SF P10 SG",
       {"", "", "", "   F", "    G"},
       6,
       5,
       0},
      {"backspace moves left without erasing, not past column 1",
       "C M5,3 SAB P8 P8 SC M1,4 P8 SD",
       {"", "", "    CB", "D", ""},
       2,
       4,
       0},
      {"carriage return; the bell changes nothing",
       "C M6,1 P13 SE M2,2 P7 SH",
       {"E", " H", "", "", ""},
       3,
       2,
       1},
      {"other bytes take one cell each",
       "C P1 P200 P127 SA",
       {"???A", "", "", "", ""},
       5,
       1,
       0},
      {"printText moves the cursor; a full row goes on to the next",
       "C T1234567890 P10 SX",
       {"1234567890", "", "X", "", ""},
       2,
       3,
       0},
      {"printText line end, then drawing after the text",
       "C Tab\\ncd SY",
       {"ab", "cdY", "", "", ""},
       4,
       2,
       0},
      {"clearScreen, then printText at the top left",
       "M4,4 Sjunk C Tq",
       {"q", "", "", "", ""},
       2,
       1,
       0},
      {"ringBell leaves the position",
       "C M3,3 B SZ",
       {"", "", "  Z", "", ""},
       4,
       3,
       1},
  };
  Options options;
  options.width = 10;
  options.height = 5;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Session run(c.steps, options);
    expectExited(run.finish(), 0);
    Screen screen(10, 5);
    screen.feed(run.screen());
    SCOPED_TRACE(screen.dump() + "\nfrom " + show(run.screen()));
    for (int y = 1; y <= 5; ++y) {
      std::string expected = c.picture[static_cast<std::size_t>(y - 1)];
      expected.resize(10, ' ');
      EXPECT_EQ(screen.row(y), expected) << "row " << y;
    }
    EXPECT_EQ(screen.x, c.x);
    EXPECT_EQ(screen.y, c.y);
    EXPECT_EQ(screen.bells, c.bells);
  }
}

// ---------------------------------------------------------------------------
// Cursor shapes and standard output
// ---------------------------------------------------------------------------

TEST(ConsolePty, CursorShapesOnlyWhenStandardOutputIsATerminal) {
  struct Case {
    const char *term;
    StdoutTo stdoutTo;
    const char *expected;
  } cases[] = {
      {"xterm-256color", StdoutTo::terminal,
       "\033[?25l\033[?25h\033[2 q\033[?25h\033[0 q"},
      {"linux", StdoutTo::terminal,
       "\033[?25l\033[?25h\033[?8c\033[?25h\033[?0c"},
      {"xterm-256color", StdoutTo::file, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.term);
    Options options;
    options.term = c.term;
    options.stdoutTo = c.stdoutTo;
    Session run("U0 U1 U2 U7", options);
    expectExited(run.finish(), 0);
    EXPECT_EQ(show(run.screen()), show(c.expected));
    if (c.stdoutTo == StdoutTo::file) {
      EXPECT_EQ(run.output(), "");
    }
  }
}

TEST(ConsolePty, StandardOutputInAFileIsTextModeAndLeavesTheDrawing) {
  Options options;
  options.stdoutTo = StdoutTo::file;
  Session run("C Ta\\nb\\n B Tx%sy M2,2 Sq", options);
  run.expectReports({"p4", "p4"});
  expectExited(run.finish(), 0);
  EXPECT_EQ(show(run.output()), show("a\r\nb\r\n\ax%sy"));
  EXPECT_EQ(show(run.screen()), show("\033[H\033[2J\033[2;2Hq"));
}

TEST(ConsolePty, StandardOutputOnTheTerminalIsUnbuffered) {
  Session run("Thello\\n W B W");
  run.expectReports({"p6", "w"});
  // The layer's CR LF, of which the terminal's ONLCR turns LF into CR LF.
  EXPECT_EQ(show(run.screen()), show("hello\r\r\n"));
  run.go();
  run.expectReports({"w"});
  EXPECT_EQ(show(run.screen()), show("hello\r\r\n\a"));
  run.go();
  expectExited(run.finish(), 0);
}

TEST(ConsolePty, StandardOutputInAPipeIsBufferedBy512Bytes) {
  Options options;
  options.stdoutTo = StdoutTo::pipe;
  Session run("L511 W L2 W Tz\\n", options);
  run.expectReports({"p511", "w"});
  EXPECT_EQ(run.output().size(), 0u);
  run.go();
  run.expectReports({"p2", "w"});
  EXPECT_EQ(run.output(), std::string(512, 'x'));
  run.go();
  run.expectReports({"p2"});
  expectExited(run.finish(), 0);
  EXPECT_EQ(run.output(), std::string(513, 'x') + "z\r\n");
}

TEST(ConsolePty, TextIntoAPipeWithoutReaderEndsByItsSignalWithTheModeBack) {
  Options options;
  options.stdoutTo = StdoutTo::pipe;
  Session run("R W Tlast\\n", options);
  run.typeKey("x");
  run.expectReports({"k120", "w"});
  ASSERT_TRUE(isQuietMode(run.mode()));
  run.closeOutput();
  run.go();
  // The buffered text goes out only at the end, into the closed pipe.
  expectKilledBy(run.finish(), SIGPIPE);
  EXPECT_TRUE(sameMode(run.mode(), run.original()));
}

TEST(ConsolePty, FailedWriteGivesMinusOne) {
  Options options;
  options.stdoutTo = StdoutTo::full;
  // The first text waits in the buffer; the second fills it, and writing
  // it out fails.
  Session run("Tab L600", options);
  run.expectReports({"p2", "p-1"});
  expectExited(run.finish(), 0);
}

TEST(ConsolePty, WithoutATerminalReadKeyFailsAndOnlyTextIsWritten) {
  Options options;
  options.controllingTerminal = false;
  options.stdoutTo = StdoutTo::pipe;
  Session run("C M1,1 Sabc P10 U0 R R Thi\\n B", options);
  run.expectReports({"k-1", "k-1", "p3"});
  expectExited(run.finish(), 0);
  EXPECT_EQ(show(run.output()), show("hi\r\n\a"));
  EXPECT_EQ(run.screen(), "");
}

} // namespace
