#include "check.h"

#include "platform.h"

namespace quib {
namespace {

// The five text pieces of the first report line share this many characters.
constexpr int textLimit = 245;

CheckFailureHook failureHook = nullptr;

// Appends as much of piece as still fits below the limit.
int appendCut(char *out, int len, const char *piece) {
  while (*piece != '\0' && len < textLimit)
    out[len++] = *piece++;
  return len;
}

int appendNumber(char *out, int len, int value) {
  char digits[16];
  int n = 0;
  // Work in unsigned space so that the most negative int is printed too.
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value)
                                 : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0)
    out[len++] = '-';
  while (n > 0)
    out[len++] = digits[--n];
  return len;
}

} // namespace

int formatCheckReport(char *out, const char *text, const char *file, int line) {
  int len = 0;
  len = appendCut(out, len, "Assertion failed: ");
  len = appendCut(out, len, text);
  len = appendCut(out, len, ", file ");
  len = appendCut(out, len, file);
  len = appendCut(out, len, ", line ");
  return appendNumber(out, len, line);
}

void checkFailed(const char *text, const char *file, int line) {
  char report[textLimit + 32];
  report[0] = '\r';
  report[1] = '\n';
  int len = 2 + formatCheckReport(report + 2, text, file, line);
  report[len++] = '\r';
  report[len++] = '\n';
  writeStandardError(report, static_cast<std::size_t>(len));
  static const char trailer[] = "\r\nAbnormal program termination\r\n";
  writeStandardError(trailer, sizeof trailer - 1);
  if (failureHook != nullptr)
    failureHook();
  endProcessNow(3);
}

void setCheckFailureHook(CheckFailureHook hook) { failureHook = hook; }

} // namespace quib
