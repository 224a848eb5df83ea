// The contract check that the fuzz target runs: it must accept the real key
// decoder and catch each kind of fault a decoder can have. Each fault is a
// decoder that wraps the real one and breaks one rule for one input.
#include "decoder_contract.h"

#include "console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <string_view>

namespace quib::fuzz {
namespace {

using namespace std::string_view_literals;

bool startsWith(const unsigned char *bytes, std::size_t len, const char *text) {
  std::size_t n = std::strlen(text);
  return len >= n && std::memcmp(bytes, text, n) == 0;
}

bool isLoneEsc(const unsigned char *bytes, std::size_t len) {
  return len == 1 && bytes[0] == 0x1b;
}

// Up followed by more input also eats the next byte.
DecodedKey swallowsNextByte(const unsigned char *b, std::size_t n, bool f) {
  DecodedKey key = decodeKey(b, n, f);
  if (startsWith(b, n, "\x1b[A") && n > 3)
    key.consumed = 4;
  return key;
}

// Claims more bytes than it was given once the wait is over.
DecodedKey consumesPastTheEnd(const unsigned char *b, std::size_t n, bool f) {
  DecodedKey key = decodeKey(b, n, f);
  if (f)
    key.consumed = static_cast<int>(n) + 1;
  return key;
}

// Reports Up as the single code 0, without its second code.
DecodedKey zeroWithoutSecondCode(const unsigned char *b, std::size_t n,
                                 bool f) {
  DecodedKey key = decodeKey(b, n, f);
  if (startsWith(b, n, "\x1b[A"))
    key = {3, 1, {0, 0}};
  return key;
}

// Gives F12 an extended code that belongs to no key.
DecodedKey unknownExtendedCode(const unsigned char *b, std::size_t n, bool f) {
  DecodedKey key = decodeKey(b, n, f);
  if (startsWith(b, n, "\x1b[24~"))
    key = {5, 2, {0, 200}};
  return key;
}

// Takes Esc for a lone Esc without waiting for what follows it.
DecodedKey noWaitAfterEsc(const unsigned char *b, std::size_t n, bool f) {
  if (isLoneEsc(b, n))
    return {1, 1, {27, 0}};
  return decodeKey(b, n, f);
}

// Never decides about a lone Esc, not even after the wait.
DecodedKey undecidedEsc(const unsigned char *b, std::size_t n, bool f) {
  if (isLoneEsc(b, n))
    return {0, 0, {0, 0}};
  return decodeKey(b, n, f);
}

// Decides a lone Esc after the wait as something other than Esc.
DecodedKey escAfterWaitAsAlt(const unsigned char *b, std::size_t n, bool f) {
  if (isLoneEsc(b, n) && f)
    return {1, 2, {0, 1}};
  return decodeKey(b, n, f);
}

// Esc and a letter are Alt+letter only when more bytes follow in the buffer.
DecodedKey altDependsOnWhatFollows(const unsigned char *b, std::size_t n,
                                   bool f) {
  if (n == 2 && b[0] == 0x1b && b[1] == 'x' && !f)
    return {1, 1, {27, 0}};
  return decodeKey(b, n, f);
}

// Delivers the first byte of a UTF-8 character on its own.
DecodedKey utf8ByteByByte(const unsigned char *b, std::size_t n, bool f) {
  if (b[0] >= 0xc2)
    return {1, 1, {b[0], 0}};
  return decodeKey(b, n, f);
}

// Maps a UTF-8 character onto a digit the editor would store.
DecodedKey utf8AsDigit(const unsigned char *b, std::size_t n, bool f) {
  DecodedKey key = decodeKey(b, n, f);
  if (b[0] >= 0xc2 && key.count == 1)
    key.codes[0] = '5';
  return key;
}

// Sees an unknown CSI sequence as Alt+[ and leaves the rest as loose keys.
DecodedKey looseTailOfUnknownSequence(const unsigned char *b, std::size_t n,
                                      bool f) {
  if (startsWith(b, n, "\x1b[9"))
    return {2, 2, {0, 26}};
  return decodeKey(b, n, f);
}

// Passes DEL through instead of making it Backspace.
DecodedKey delNotBackspace(const unsigned char *b, std::size_t n, bool f) {
  if (b[0] == 0x7f)
    return {1, 1, {127, 0}};
  return decodeKey(b, n, f);
}

// Gives NUL as a space instead of Ctrl+Space's 0 then 3.
DecodedKey nulAsSpace(const unsigned char *b, std::size_t n, bool f) {
  if (b[0] == 0)
    return {1, 1, {' ', 0}};
  return decodeKey(b, n, f);
}

// Reads a plain byte together with the one after it.
DecodedKey twoPlainBytesAsOne(const unsigned char *b, std::size_t n, bool f) {
  if (b[0] == 'a' && n >= 2)
    return {2, 1, {'a', 0}};
  return decodeKey(b, n, f);
}

// Misreads an unfinished CSI sequence once the wait is over; only a
// timeout between two bursts gets it there.
DecodedKey badDecisionAfterTimeout(const unsigned char *b, std::size_t n,
                                   bool f) {
  if (f && n == 3 && startsWith(b, n, "\x1b[1"))
    return {3, 1, {0, 0}};
  return decodeKey(b, n, f);
}

struct Fault {
  const char *name;
  Decoder decoder;
  std::string_view input;
  const char *expected; // part of the violation's description
};

const Fault faults[] = {
    {"swallows the next byte", swallowsNextByte, "\x1b[A1"sv,
     "decodes differently"},
    {"consumes past the end", consumesPastTheEnd, "\x1b"sv, "more bytes"},
    {"0 without a second code", zeroWithoutSecondCode, "\x1b[A"sv, "outside"},
    {"unknown extended code", unknownExtendedCode, "\x1b[24~"sv, "no key"},
    {"no wait after Esc", noWaitAfterEsc, "\x1b[B"sv, "decodes differently"},
    {"undecided Esc", undecidedEsc, "\x1b"sv, "nothing on a final call"},
    {"Esc after the wait", escAfterWaitAsAlt, "\x1b"sv, "lone Esc"},
    {"Alt depends on what follows", altDependsOnWhatFollows, "\x1bxy"sv,
     "decodes differently"},
    {"UTF-8 byte by byte", utf8ByteByByte, "\xc3\xa4"sv, "UTF-8"},
    {"UTF-8 as a digit", utf8AsDigit, "\xe2\x82\xac"sv, "acts on"},
    {"loose tail", looseTailOfUnknownSequence, "\x1b[99z"sv, "cut before"},
    {"DEL not Backspace", delNotBackspace, "\x7f"sv, "DEL"},
    {"NUL as space", nulAsSpace, "\0"sv, "NUL"},
    {"two plain bytes as one", twoPlainBytesAsOne, "ab"sv, "plain byte"},
    {"bad decision after a timeout", badDecisionAfterTimeout, "\x1b[1;5A"sv,
     "timeout"},
};

const unsigned char *bytesOf(std::string_view text) {
  return reinterpret_cast<const unsigned char *>(text.data());
}

TEST(DecoderContract, TheRealDecoderKeepsItOnEveryFaultsInput) {
  for (const Fault &fault : faults) {
    EXPECT_EQ(
        findViolation(decodeKey, bytesOf(fault.input), fault.input.size()), "")
        << fault.name;
  }
}

TEST(DecoderContract, EachFaultIsCaught) {
  for (const Fault &fault : faults) {
    std::string violation =
        findViolation(fault.decoder, bytesOf(fault.input), fault.input.size());
    EXPECT_NE(violation.find(fault.expected), std::string::npos)
        << fault.name << ": \"" << violation << "\"";
  }
}

TEST(DecoderContract, AViolationNamesTheInputBytes) {
  const unsigned char input[] = {0x1b, '[', 'A', '1'};
  std::string violation = findViolation(swallowsNextByte, input, sizeof input);
  EXPECT_NE(violation.find("input 1b 5b 41 31"), std::string::npos)
      << violation;
}

// The extended codes row by row as the key tables give them, written out
// independently of the ranges the check uses.
TEST(DecoderContract, ExtendedCodesAreExactlyThoseOfTheKeyTables) {
  std::set<int> codes = {
      // navigation keys: plain and Shift, Ctrl, Alt
      71, 72, 73, 75, 77, 79, 80, 81, 82, 83, 119, 141, 132, 115, 116, 117, 145,
      118, 146, 147, 151, 152, 153, 155, 157, 159, 160, 161, 162, 163,
      // Backspace, Tab, Enter, Esc, Space
      14, 15, 148, 165, 166, 1, 3,
      // keypad with NumLock on: Shift and Ctrl of the digits, * + - . /
      76, 143, 150, 55, 144, 78, 142, 74, 149, 164,
      // Alt with 1-9 and 0, with - and =
      120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130, 131,
      // Alt with the letters: Q..P, A..L, Z..M
      16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 30, 31, 32, 33, 34, 35, 36, 37,
      38, 44, 45, 46, 47, 48, 49, 50,
      // Alt with \ / [ ] ; ' , . `
      43, 53, 26, 27, 39, 40, 51, 52, 41,
      // F11 and F12
      133, 134, 135, 136, 137, 138, 139, 140};
  for (int f = 0; f < 10; ++f)
    for (int base : {59, 84, 94, 104})
      codes.insert(base + f);
  for (int code = -1; code <= 256; ++code)
    EXPECT_EQ(isExtendedCode(code), codes.count(code) == 1) << code;
}

} // namespace
} // namespace quib::fuzz
