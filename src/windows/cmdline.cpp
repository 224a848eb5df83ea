// The Windows command line as an argument vector.
#include "cmdline.h"

#include <cstring>

namespace quib {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The program name as typed: a quoted section, or a word.
const char *skipProgramName(const char *p) {
  while (isBlank(*p))
    ++p;
  if (*p == '"') {
    const char *close = std::strchr(p + 1, '"');
    return close != nullptr ? close + 1 : p + std::strlen(p);
  }
  while (*p != '\0' && !isBlank(*p))
    ++p;
  return p;
}

// Where an argument's text goes; full once it meets the end of the buffer,
// which always keeps room for the terminating zero.
struct Output {
  char *at;
  char *end;
  bool full = false;

  void put(char c) {
    if (at + 1 < end)
      *at++ = c;
    else
      full = true;
  }
};

// Copies one argument from p on (not a blank) and returns what follows it.
const char *copyArgument(const char *p, Output &out,
                         LeadBytePredicate isLeadByte) {
  bool quoted = false;
  while (*p != '\0' && (quoted || !isBlank(*p))) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\\' && p[1] == '"') {
      out.put('"');
      p += 2;
    } else if (c == '"') {
      quoted = !quoted;
      ++p;
    } else if (isLeadByte(c) && p[1] != '\0') {
      out.put(p[0]);
      out.put(p[1]);
      p += 2;
    } else {
      out.put(*p++);
    }
  }
  return p;
}

} // namespace

int splitCommandLine(const char *line, const char *programPath,
                     LeadBytePredicate isLeadByte, char *text,
                     std::size_t textSize, char **argv, int maxArgs) {
  Output out{text, text + textSize};
  int argc = 0;
  // Ends the argument begun at start; false when it did not fit.
  auto keep = [&](char *start) {
    if (out.full || out.at == out.end || argc + 1 >= maxArgs)
      return false;
    *out.at++ = '\0';
    argv[argc++] = start;
    return true;
  };
  char *start = out.at;
  for (const char *c = programPath; *c != '\0'; ++c)
    out.put(*c);
  bool room = keep(start);
  const char *p = skipProgramName(line);
  while (room) {
    while (isBlank(*p))
      ++p;
    if (*p == '\0')
      break;
    start = out.at;
    p = copyArgument(p, out, isLeadByte);
    room = keep(start);
  }
  argv[argc] = nullptr;
  return argc;
}

} // namespace quib
