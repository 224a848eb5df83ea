// The operating system's small services on Windows.
#include "platform.h"

#include "cmdline.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>

namespace quib {
namespace {

// Windows hands a process at most 32767 characters of command line; its
// arguments' text, with the program's path, fits three times that, and
// every argument but an empty one takes a character and a blank.
constexpr std::size_t lineLimit = 32768;
char argumentText[3 * lineLimit];
char *argumentVector[lineLimit / 2 + 2];
char programPath[lineLimit];

bool isLeadByte(unsigned char c) { return ::IsDBCSLeadByte(c) != FALSE; }

} // namespace

// The C runtime's own split (and its wildcard expansion) is not used: the
// command line is split by the program's rules.
void takeArguments(int &argc, char **&argv) {
  const DWORD n = ::GetModuleFileNameA(nullptr, programPath, lineLimit);
  if (n == 0 || n >= lineLimit)
    programPath[0] = '\0';
  argc = splitCommandLine(
      ::GetCommandLineA(), programPath, isLeadByte, argumentText,
      sizeof argumentText, argumentVector,
      static_cast<int>(sizeof argumentVector / sizeof argumentVector[0]));
  argv = argumentVector;
}

void writeStandardError(const char *data, std::size_t len) {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  while (len > 0) {
    DWORD written = 0;
    if (!::WriteFile(err, data, static_cast<DWORD>(len), &written, nullptr) ||
        written == 0)
      return;
    data += written;
    len -= written;
  }
}

void endProcessNow(int status) { std::_Exit(status); }

// The shell opens an address that starts with a host name as a web page in
// the default browser; it returns at once, and its result tells nothing
// the program could act on.
void openWebPage(const char *address) {
  ::ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace quib
