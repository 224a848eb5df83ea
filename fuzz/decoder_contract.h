// The key decoder's contract, checked over arbitrary bytes.
//
// findViolation decodes the bytes the way readKey meets them: from the
// front, one key per call, more bytes only when the decoder answers
// "incomplete", a final call once nothing more arrives. It does so for the
// bytes arriving all at once, in two bursts cut at every position (with and
// without a timed-out wait between them) and one byte at a time, and checks:
//
// - every call consumes no more than it was given and, when final, at least
//   one byte; the consumed bytes add up to the input exactly;
// - a result is none (a skipped sequence), one character code 1-255, or 0
//   and an extended code that the key tables produce;
// - a byte below 0x80 other than Esc is one key of its own: NUL is 0 then 3,
//   DEL is Backspace (8), every other byte is its own code;
// - a complete, well-formed UTF-8 character is one result, never 0 and
//   never a code the editor or the web prompt act on;
// - a lone Esc is "incomplete" until the wait is over, then 27;
// - an escape sequence whose final byte has arrived is consumed at least up
//   to that byte, so that no tail of it comes out as loose keys;
// - the codes delivered do not depend on where the input was split into
//   bursts, as long as the bursts follow each other within the wait.
//
// The decoder is a pure function, so a violation is repeatable from the
// input bytes alone; the description names them in hexadecimal.
#pragma once

#include "console.h"

#include <cstddef>
#include <string>

namespace quib::fuzz {

using Decoder = DecodedKey (*)(const unsigned char *bytes, std::size_t len,
                               bool final);

// True for the second codes of the two-code keys in the key tables.
bool isExtendedCode(int code);

// An empty string when decoding bytes[0..len) keeps the contract in every
// way of arrival, otherwise a description of the first violation found.
// Inputs longer than splitLimit are split only at the first splitLimit
// positions, which keeps the cost per input bounded.
std::string findViolation(Decoder decode, const unsigned char *bytes,
                          std::size_t len, std::size_t splitLimit = 64);

} // namespace quib::fuzz
