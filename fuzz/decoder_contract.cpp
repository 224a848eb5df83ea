// The key decoder's contract over arbitrary bytes (see decoder_contract.h).
#include "decoder_contract.h"

#include <cstdio>
#include <vector>

namespace quib::fuzz {

namespace {

constexpr unsigned char esc = 0x1b;

struct Range {
  int lo;
  int hi;
};

// The second codes of the key tables, in ranges. Codes between the ranges
// (2, 4-13, 28, 29, 42, 54, 56-58, 69, 70, 114, 154, 156, 158, above 166)
// belong to no key.
constexpr Range extendedRanges[] = {
    {1, 1},     // Alt+Esc
    {3, 3},     // Ctrl+Space, Ctrl+2
    {14, 15},   // Alt+Backspace, Shift+Tab
    {16, 27},   // Alt+Q..Alt+P, Alt+[, Alt+]
    {30, 41},   // Alt+A..Alt+L, Alt+;, Alt+', Alt+`
    {43, 53},   // Alt+\, Alt+Z..Alt+M, Alt+, Alt+. Alt+/
    {55, 55},   // Alt+keypad *
    {59, 68},   // F1-F10
    {71, 83},   // navigation keys; Alt+keypad -, Shift+keypad 5, Alt+keypad +
    {84, 113},  // Shift, Ctrl and Alt with F1-F10
    {115, 153}, // Ctrl navigation, Alt+digits, Alt+- and =, F11 and F12,
                // Ctrl keypad, Ctrl+Tab, Alt+Home, Alt+Up, Alt+Page Up
    {155, 155}, // Alt+Left
    {157, 157}, // Alt+Right
    {159, 166}, // Alt+End..Alt+Delete, Alt+keypad /, Alt+Tab, Alt+Enter
};

// Codes someone acts on: the editor's keys and the web prompt's answers. A
// character outside 7-bit ASCII must never be mistaken for one of them.
bool isActedOn(int code) {
  switch (code) {
  case 0:
  case 8:
  case 10:
  case 13:
  case 27:
  case ' ':
  case ',':
  case 'Q':
  case 'q':
  case 'W':
  case 'w':
  case 'J':
  case 'j':
  case 'Y':
  case 'y':
    return true;
  default:
    return code >= '1' && code <= '9';
  }
}

bool isContinuation(unsigned char b) { return (b & 0xc0) == 0x80; }

// The length of the well-formed UTF-8 character of two or more bytes at the
// front of bytes[0..len), 0 when there is none (ASCII, a malformed or an
// incomplete sequence). Overlong forms, surrogates and code points above
// U+10FFFF are malformed, so every decoder has to accept what this accepts.
std::size_t utf8Length(const unsigned char *bytes, std::size_t len) {
  unsigned char b = bytes[0];
  std::size_t n = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xbf;
  if (b >= 0xc2 && b <= 0xdf) {
    n = 2;
  } else if (b >= 0xe0 && b <= 0xef) {
    n = 3;
    if (b == 0xe0)
      lo = 0xa0;
    else if (b == 0xed)
      hi = 0x9f;
  } else if (b >= 0xf0 && b <= 0xf4) {
    n = 4;
    if (b == 0xf0)
      lo = 0x90;
    else if (b == 0xf4)
      hi = 0x8f;
  } else {
    return 0;
  }
  if (len < n || bytes[1] < lo || bytes[1] > hi)
    return 0;
  for (std::size_t i = 2; i < n; ++i)
    if (!isContinuation(bytes[i]))
      return 0;
  return n;
}

// How many bytes a result that starts with an escape sequence must consume
// at least: a CSI sequence (parameter bytes 0x30-0x3f and intermediate
// bytes 0x20-0x2f, also out of their order, as a terminal's parser skips
// them, then a final byte 0x40-0x7e) up to its final byte, an SS3 sequence its
// three bytes. 0 when nothing is required: the sequence is malformed or its end
// has not arrived. rxvt ends its Shift forms with '$' ("CSI 2 $"), so '$'
// counts as a possible end too. The Linux console's "CSI [ A" ends at the
// second '[' by this rule and is longer, which the rule allows.
std::size_t escapeMinimum(const unsigned char *bytes, std::size_t len) {
  if (len < 3 || bytes[0] != esc)
    return 0;
  if (bytes[1] == 'O')
    return bytes[2] >= 0x40 && bytes[2] <= 0x7e ? 3 : 0;
  if (bytes[1] != '[')
    return 0;
  for (std::size_t i = 2; i < len; ++i) {
    unsigned char b = bytes[i];
    if ((b >= 0x40 && b <= 0x7e) || b == '$')
      return i + 1;
    if (b < 0x20 || b > 0x3f)
      return 0;
  }
  return 0;
}

void appendHex(std::string &out, const unsigned char *bytes, std::size_t len) {
  char hex[4];
  for (std::size_t i = 0; i < len; ++i) {
    std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : " %02x", bytes[i]);
    out += hex;
  }
}

std::string describeResult(const DecodedKey &key) {
  char text[96];
  std::snprintf(text, sizeof text, "consumed %d, count %d, codes %d %d",
                key.consumed, key.count, key.codes[0], key.codes[1]);
  return text;
}

// The rules every single call must keep; nullptr when it does.
const char *checkCall(const unsigned char *bytes, std::size_t len, bool final,
                      const DecodedKey &key) {
  if (key.consumed < 0 || static_cast<std::size_t>(key.consumed) > len)
    return "consumed more bytes than given (or a negative count)";
  if (key.consumed == 0)
    return final ? "consumed nothing on a final call" : nullptr;
  unsigned char first = bytes[0];
  std::size_t consumed = static_cast<std::size_t>(key.consumed);
  switch (key.count) {
  case 0:
    break;
  case 1:
    if (key.codes[0] < 1 || key.codes[0] > 255)
      return "a one-code result outside 1-255";
    break;
  case 2:
    if (key.codes[0] != 0)
      return "a two-code result whose first code is not 0";
    if (!isExtendedCode(key.codes[1]))
      return "an extended code that no key of the tables produces";
    break;
  default:
    return "a result count other than 0, 1 or 2";
  }
  if (first < 0x80 && first != esc) {
    if (consumed != 1)
      return "a plain byte below 0x80 did not stand for itself alone";
    if (first == 0 && !(key.count == 2 && key.codes[1] == 3))
      return "NUL is not 0 then 3";
    if (first == 0x7f && !(key.count == 1 && key.codes[0] == 8))
      return "DEL is not Backspace (8)";
    if (first != 0 && first != 0x7f &&
        !(key.count == 1 && key.codes[0] == first))
      return "a plain byte below 0x80 is not its own code";
  }
  if (std::size_t n = utf8Length(bytes, len); n != 0) {
    if (consumed != n || key.count != 1)
      return "a well-formed UTF-8 character is not exactly one result";
    if (isActedOn(key.codes[0]))
      return "a UTF-8 character gives a code the program acts on";
  }
  if (first == esc && len == 1 && final &&
      !(key.count == 1 && key.codes[0] == 27))
    return "a lone Esc after the wait is not 27";
  if (consumed < escapeMinimum(bytes, len))
    return "an escape sequence was cut before its final byte";
  return nullptr;
}

// How the input reaches the decoder: everything at once, two bursts cut at
// a position, or one byte at a time. With timedOut, the wait after the
// first burst ends before the second one arrives, so the decoder has to
// decide what it holds.
struct Arrival {
  enum Kind { whole, twoBursts, byteByByte } kind;
  std::size_t cut;
  bool timedOut;
};

std::string describeArrival(const Arrival &arrival) {
  char text[64];
  switch (arrival.kind) {
  case Arrival::whole:
    return "all at once";
  case Arrival::twoBursts:
    std::snprintf(text, sizeof text, "two bursts cut at %zu%s", arrival.cut,
                  arrival.timedOut ? " with a timeout between" : "");
    return text;
  case Arrival::byteByByte:
    return "one byte at a time";
  }
  return "";
}

// The end of what has arrived once the next burst is in.
std::size_t nextArrival(const Arrival &arrival, std::size_t arrived,
                        std::size_t len) {
  switch (arrival.kind) {
  case Arrival::whole:
    return len;
  case Arrival::twoBursts:
    return arrived < arrival.cut ? arrival.cut : len;
  case Arrival::byteByByte:
    return arrived < len ? arrived + 1 : len;
  }
  return len;
}

class Checker {
public:
  Checker(Decoder decode, const unsigned char *bytes, std::size_t len)
      : decode_(decode), bytes_(bytes), len_(len), codesBefore_(len + 1, -1) {}

  // The decoding with all bytes at once: the reference for the others.
  bool decodeWhole() {
    return run({Arrival::whole, 0, false}, nullptr, nullptr);
  }

  // Decodes with another arrival and compares the codes with the whole
  // decoding's (unless the wait timed out between bursts, after which the
  // codes may rightly differ: Esc, then '[', is not CSI). It stops early
  // once all bytes have arrived and it stands, in step, where a key of the
  // whole decoding started: the decoder being pure, the rest would repeat
  // calls already checked. stalledAtCut, when given, tells whether the
  // decoder answered "incomplete" with exactly the first burst in hand,
  // the one case in which a timeout between the bursts changes anything.
  bool decodeOther(const Arrival &arrival, bool *stalledAtCut = nullptr) {
    return run(arrival, &codes_, stalledAtCut);
  }

  const std::string &violation() const { return violation_; }

private:
  bool run(const Arrival &arrival, const std::vector<int> *reference,
           bool *stalledAtCut) {
    bool compare = reference != nullptr && !arrival.timedOut;
    std::size_t delivered = 0;
    std::size_t pos = 0;
    std::size_t arrived = nextArrival(arrival, 0, len_);
    if (stalledAtCut != nullptr)
      *stalledAtCut = false;
    while (pos < len_) {
      if (reference != nullptr && arrived == len_ && codesBefore_[pos] != -1 &&
          (!compare || codesBefore_[pos] == static_cast<int>(delivered)))
        return true;
      if (pos == arrived)
        arrived = nextArrival(arrival, arrived, len_);
      if (reference == nullptr)
        codesBefore_[pos] = static_cast<int>(codes_.size());
      DecodedKey key{};
      if (!call(arrival, pos, arrived, false, key))
        return false;
      if (key.consumed == 0) {
        if (stalledAtCut != nullptr && arrived == arrival.cut)
          *stalledAtCut = true;
        if (arrived < len_ && !arrival.timedOut) {
          arrived = nextArrival(arrival, arrived, len_);
          continue;
        }
        if (!call(arrival, pos, arrived, true, key))
          return false;
      }
      for (int i = 0; i < key.count; ++i) {
        if (reference == nullptr) {
          codes_.push_back(key.codes[i]);
        } else if (compare && (delivered >= reference->size() ||
                               (*reference)[delivered] != key.codes[i])) {
          return fail(arrival, "decodes differently from the whole input");
        }
        ++delivered;
      }
      pos += static_cast<std::size_t>(key.consumed);
    }
    if (compare && delivered != reference->size())
      return fail(arrival, "decodes differently from the whole input");
    return true;
  }

  bool call(const Arrival &arrival, std::size_t pos, std::size_t arrived,
            bool final, DecodedKey &key) {
    key = decode_(bytes_ + pos, arrived - pos, final);
    const char *rule = checkCall(bytes_ + pos, arrived - pos, final, key);
    if (rule == nullptr)
      return true;
    char where[64];
    std::snprintf(where, sizeof where, " at offset %zu of %zu bytes, %s: ", pos,
                  arrived - pos, final ? "final" : "not final");
    return fail(arrival, std::string(rule) + where + describeResult(key));
  }

  bool fail(const Arrival &arrival, const std::string &what) {
    violation_ = "key decoder: " + what + " (input ";
    appendHex(violation_, bytes_, len_);
    violation_ += ", arriving " + describeArrival(arrival) + ")";
    return false;
  }

  Decoder decode_;
  const unsigned char *bytes_;
  std::size_t len_;
  // The whole decoding: its codes, and for each input position at which a
  // key started, how many codes came before it (-1 where none started).
  std::vector<int> codes_;
  std::vector<int> codesBefore_;
  std::string violation_;
};

} // namespace

bool isExtendedCode(int code) {
  for (const Range &r : extendedRanges)
    if (code >= r.lo && code <= r.hi)
      return true;
  return false;
}

std::string findViolation(Decoder decode, const unsigned char *bytes,
                          std::size_t len, std::size_t splitLimit) {
  if (len == 0)
    return "";
  Checker checker(decode, bytes, len);
  bool kept = checker.decodeWhole() &&
              checker.decodeOther({Arrival::byteByByte, 0, false});
  std::size_t lastCut = len - 1 < splitLimit ? len - 1 : splitLimit;
  for (std::size_t cut = 1; kept && cut <= lastCut; ++cut) {
    bool stalled = false;
    kept = checker.decodeOther({Arrival::twoBursts, cut, false}, &stalled) &&
           (!stalled || checker.decodeOther({Arrival::twoBursts, cut, true}));
  }
  return kept ? "" : checker.violation();
}

} // namespace quib::fuzz
