#include "check.h"

#include "child_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using quib::testing::runInChild;

namespace {

const char *const trailer = "\r\nAbnormal program termination\r\n";

TEST(Check, PassingConditionReturns) {
  auto child = runInChild([] {
    QUIB_CHECK(1 + 1 == 2);
    std::fputs("after", stdout);
  });
  EXPECT_EQ(child.exitCode(), 0);
  EXPECT_EQ(child.out, "after");
  EXPECT_EQ(child.err, "");
}

TEST(Check, FailureReportsExactBytesAndExitsWithThree) {
  const int line = __LINE__ + 3;
  auto child = runInChild([] {
    int val = 12;
    QUIB_CHECK(val > 0 && val < 10);
  });
  std::string expected = std::string("\r\nAssertion failed: val > 0 && val < "
                                     "10, file ") +
                         __FILE__ + ", line " + std::to_string(line) + "\r\n" +
                         trailer;
  EXPECT_EQ(child.exitCode(), 3);
  EXPECT_EQ(child.err, expected);
  EXPECT_EQ(child.out, "");
}

TEST(Check, BufferedStandardOutputIsNotFlushed) {
  static char buffer[512];
  auto child = runInChild([] {
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::fputs("pending text", stdout);
    quib::checkFailed("!isVal(val)", "NeiDat.cpp", 7);
  });
  EXPECT_EQ(child.exitCode(), 3);
  EXPECT_EQ(child.out, "");
  EXPECT_EQ(child.err,
            std::string("\r\nAssertion failed: !isVal(val), file NeiDat.cpp, "
                        "line 7\r\n") +
                trailer);
}

bool hookRan = false;
void markHook() {
  hookRan = true;
  std::fputs("hook", stderr);
}

TEST(Check, FailureHookRunsAfterTheReport) {
  auto child = runInChild([] {
    quib::setCheckFailureHook(markHook);
    quib::checkFailed("x", "f", 1);
  });
  EXPECT_EQ(child.exitCode(), 3);
  EXPECT_EQ(child.err, std::string("\r\nAssertion failed: x, file f, line "
                                   "1\r\n") +
                           trailer + "hook");
}

std::string format(const std::string &text, const std::string &file, int line) {
  char out[300];
  int len = quib::formatCheckReport(out, text.c_str(), file.c_str(), line);
  return std::string(out, static_cast<size_t>(len));
}

// The five text pieces share 245 characters; each piece is appended only as
// far as it fits, and the line number always follows in full.
TEST(Check, ReportIsCutAt245CharactersBeforeTheLineNumber) {
  const std::string head = "Assertion failed: "; // 18 characters
  struct Case {
    std::string text, file;
    int line;
    std::string expected;
  };
  const std::string longText(300, 'e');
  const std::string longFile(300, 'p');
  const std::string text200(200, 'e');
  const Case cases[] = {
      // The expression alone fills the line: nothing after it but the number.
      {longText, "f.cpp", 42, head + std::string(245 - 18, 'e') + "42"},
      // The path is cut where the limit falls.
      {text200, longFile, 7,
       head + text200 + ", file " + std::string(245 - 18 - 200 - 7, 'p') + "7"},
      // ", line " itself is cut: exactly 240 characters before it.
      {std::string(245 - 18 - 7 - 5 - 5, 'e'), "a.cpp", 123456,
       head + std::string(210, 'e') + ", file a.cpp" + ", lin" + "123456"},
      // Exactly at the limit nothing is cut.
      {std::string(245 - 18 - 7 - 5 - 7, 'e'), "a.cpp", 9,
       head + std::string(208, 'e') + ", file a.cpp, line 9"},
  };
  for (const Case &c : cases) {
    std::string got = format(c.text, c.file, c.line);
    EXPECT_EQ(got, c.expected) << "text length " << c.text.size();
    EXPECT_LE(got.size(), 245 + std::to_string(c.line).size());
  }
}

TEST(Check, LongReportIsCutInTheProcessReportToo) {
  static const std::string text(400, 'x');
  auto child = runInChild([] { quib::checkFailed(text.c_str(), "f.cpp", 99); });
  EXPECT_EQ(child.exitCode(), 3);
  EXPECT_EQ(child.err, "\r\nAssertion failed: " + std::string(227, 'x') +
                           "99\r\n" + trailer);
}

} // namespace
