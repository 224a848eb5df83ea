// The Windows command line as an argument vector. A pure function, with no
// system call: the caller hands in the line, the program's path and the
// code page's test for the lead byte of a double-byte character.
//
// The rules, which are not those of the C runtime:
// - argv[0] is programPath; the line's first word, the program name as
//   typed, is skipped: blanks and tabs, then a quoted section up to its
//   closing quote (or the end), or else everything up to a blank or tab.
// - Arguments are separated by blanks and tabs outside double quotes. A
//   double quote opens or closes a quoted section and is dropped; quoted
//   and unquoted pieces that touch make one argument, so "" on its own is
//   an empty argument and counts.
// - A backslash directly before a double quote gives a literal double
//   quote, inside or outside a section; every other backslash is copied,
//   two stay two.
// - A double-byte lead byte is copied with the byte after it, which is
//   then never a quote or a backslash. '*' and '?' pass unexpanded.
//
// The arguments' text goes to text (textSize bytes), the pointers to argv
// (maxArgs entries, at least 1), which ends with a null pointer. A line whose
// arguments do not all fit keeps those before the first that does not.
// Returns argc.
#pragma once

#include <cstddef>

namespace quib {

using LeadBytePredicate = bool (*)(unsigned char);

int splitCommandLine(const char *line, const char *programPath,
                     LeadBytePredicate isLeadByte, char *text,
                     std::size_t textSize, char **argv, int maxArgs);

} // namespace quib
