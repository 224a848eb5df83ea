// The shared assertion check for preconditions.
//
// QUIB_CHECK(cond) evaluates cond; when it is false the program reports the
// failure and ends at once. The report goes straight to standard error
// (writeStandardError; no buffered stream is used or flushed):
//
//   "\r\nAssertion failed: <text>, file <path>, line <n>\r\n"
//   "\r\nAbnormal program termination\r\n"
//
// where <text> is the condition as written in the source. The five text
// pieces of the first line are together cut at 245 characters, each piece
// appended only as far as it still fits; the line number is always appended
// in full. The process then ends with status 3 without exit-time clean-up
// (no atexit handlers, no stream flushing), after the one registered
// failure hook has run (the terminal layer uses it to give the terminal
// back). The check is active in every build type; NDEBUG does not remove it.
#pragma once

namespace quib {

// Reports the failed condition and ends the process with status 3.
[[noreturn]] void checkFailed(const char *text, const char *file, int line);

// Runs the check: returns when cond holds, otherwise checkFailed.
inline void check(bool cond, const char *text, const char *file, int line) {
  if (!cond)
    checkFailed(text, file, line);
}

// Formats the first report line into out (capacity at least 270 bytes) and
// returns its length. Exposed so that the cut can be tested byte by byte.
int formatCheckReport(char *out, const char *text, const char *file, int line);

// A function run after the report and before the process ends; one at a
// time, nullptr for none. It must only use async-signal-safe calls.
using CheckFailureHook = void (*)();
void setCheckFailureHook(CheckFailureHook hook);

} // namespace quib

#define QUIB_CHECK(cond) ::quib::check((cond), #cond, __FILE__, __LINE__)
