// The operating system's small services, one source per platform
// (src/linux/platform.cpp, src/windows/platform.cpp): the program's
// arguments, standard error without a stream, the immediate end of the
// process and the desktop's handler for web addresses.
//
// takeArguments gives main the argument vector the program acts on: on
// Linux the one the process received; on Windows the one split from the
// process's command line (windows/cmdline.h), argv[0] the program's own path.
// writeStandardError writes the bytes unchanged, straight to the standard
// error handle, with no buffer in between. endProcessNow ends the process
// with the status at once: no exit-time clean-up, no stream is flushed.
// openWebPage hands a page address (host name and path, no scheme) to the
// user's default handler for web addresses and returns at once; a failure
// is silent.
#pragma once

#include <cstddef>

namespace quib {

void takeArguments(int &argc, char **&argv);
void writeStandardError(const char *data, std::size_t len);
[[noreturn]] void endProcessNow(int status);
void openWebPage(const char *address);

} // namespace quib
