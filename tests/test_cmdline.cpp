// The Windows command line's split, as one string to the vector main gets;
// the code page's lead bytes are those of 0x81 to 0x9F here.
#include "cmdline.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool leadByte(unsigned char c) { return c >= 0x81 && c <= 0x9F; }

std::vector<std::string> split(const std::string &line, std::size_t room = 256,
                               int slots = 16) {
  std::vector<char> text(room);
  std::vector<char *> argv(static_cast<std::size_t>(slots), nullptr);
  const int argc =
      quib::splitCommandLine(line.c_str(), "C:\\q.exe", leadByte, text.data(),
                             room, argv.data(), slots);
  EXPECT_EQ(argv[static_cast<std::size_t>(argc)], nullptr) << line;
  return {argv.begin(), argv.begin() + argc};
}

TEST(CommandLine, SplitByTheProgramsOwnRules) {
  // clang-format off
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
    {"quib", {}}, {"  \tquib -h", {"-h"}}, {"quib\t-h  \t ", {"-h"}},
    {"\"C:\\Program Files\\q.exe\" -v x", {"-v", "x"}}, {"\"C:\\q.exe\"-h", {"-h"}},
    {"\"C:\\no end -h", {}}, {"quib \"-h\"", {"-h"}}, {"quib \"\"", {""}},
    {"quib \"\" a \"\"", {"", "a", ""}}, {"quib a\"b c\"d \"e", {"ab cd", "e"}},
    {"quib \"a\"\"b\"", {"ab"}}, {"quib \\\"x\\\" \"a \\\" b\"", {"\"x\"", "a \" b"}},
    {"quib \\\\\"x a\\\\b c\\", {"\\\"x", "a\\\\b", "c\\"}},
    {"quib * ? /?", {"*", "?", "/?"}},
    {"quib \x81\" x \x81\\\"a b\" \x81", {"\x81\"", "x", "\x81\\a b", "\x81"}},
  };
  // clang-format on
  for (const auto &[line, args] : cases) {
    std::vector<std::string> expected{"C:\\q.exe"};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(split(line), expected) << line;
  }
}

TEST(CommandLine, KeepsTheArgumentsThatFit) {
  using ::testing::ElementsAre;
  // "C:\q.exe" takes 9 bytes, "ab" 3 and "cd" 3 more than there is room.
  EXPECT_THAT(split("q ab cd", 13), ElementsAre("C:\\q.exe", "ab"));
  EXPECT_THAT(split("q ab cd", 15), ElementsAre("C:\\q.exe", "ab", "cd"));
  EXPECT_THAT(split("q ab cd ef", 256, 3), ElementsAre("C:\\q.exe", "ab"));
  EXPECT_THAT(split("q ab", 4), ElementsAre());
}

} // namespace
