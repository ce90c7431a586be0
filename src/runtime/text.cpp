#include "ovtbldiff/runtime/text.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <array>
#include <cstring>

namespace ovt {

namespace {

inline unsigned char lowerAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Full case folding of one code point (as UTF-8): at most three code points of three bytes.
struct Folded {
  uint8_t len = 0;
  char bytes[15];
};

Folded foldCodePoint(UChar32 c) {
  UChar src[2] = {0, 0};
  int32_t srcLen = 0;
  UBool err = false;
  U16_APPEND(src, srcLen, 2, c, err);
  UChar dst[8] = {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t dstLen = u_strFoldCase(dst, 8, src, srcLen, U_FOLD_CASE_DEFAULT, &status);
  Folded f;
  if (U_FAILURE(status) || err) dstLen = 0;
  int32_t i = 0;
  int32_t out = 0;
  while (i < dstLen) {
    UChar32 cp;
    U16_NEXT(dst, i, dstLen, cp);
    UBool bad = false;
    U8_APPEND(reinterpret_cast<uint8_t*>(f.bytes), out, static_cast<int32_t>(sizeof f.bytes), cp,
              bad);
    if (bad) break;
  }
  if (dstLen == 0) U8_APPEND_UNSAFE(reinterpret_cast<uint8_t*>(f.bytes), out, c);
  f.len = static_cast<uint8_t>(out);
  return f;
}

// Two-byte UTF-8 (U+0080 .. U+07FF: Latin, Greek, Cyrillic, ...) folded once, up front.
const std::array<Folded, 0x800>& twoByteTable() {
  static const std::array<Folded, 0x800> table = [] {
    std::array<Folded, 0x800> t{};
    for (UChar32 c = 0x80; c < 0x800; ++c) t[static_cast<size_t>(c)] = foldCodePoint(c);
    return t;
  }();
  return table;
}

// Reads a UTF-8 text and yields the bytes of its case-folded form one at a time, without
// allocating. Malformed bytes pass through as they are, so no two different malformed
// texts are made equal by a replacement character.
class FoldStream {
 public:
  explicit FoldStream(std::string_view s) : s_(s) {}

  // Next folded byte, or -1 at the end.
  int next() {
    if (bpos_ < blen_) return static_cast<unsigned char>(buf_[bpos_++]);
    if (pos_ >= s_.size()) return -1;
    unsigned char c = static_cast<unsigned char>(s_[pos_]);
    if (c < 0x80) {
      ++pos_;
      return lowerAscii(c);
    }
    refill();
    return static_cast<unsigned char>(buf_[bpos_++]);
  }
  // True when every folded byte of the characters read so far has been handed out.
  bool atCharBoundary() const { return bpos_ >= blen_; }
  size_t position() const { return pos_; }

 private:
  void refill() {
    int32_t i = static_cast<int32_t>(pos_);
    int32_t n = static_cast<int32_t>(s_.size());
    UChar32 cp;
    U8_NEXT(reinterpret_cast<const uint8_t*>(s_.data()), i, n, cp);
    bpos_ = 0;
    if (cp < 0) {
      blen_ = static_cast<uint8_t>(static_cast<size_t>(i) - pos_);
      std::memcpy(buf_, s_.data() + pos_, blen_);
    } else {
      Folded f = cp < 0x800 ? twoByteTable()[static_cast<size_t>(cp)] : foldCodePoint(cp);
      blen_ = f.len;
      std::memcpy(buf_, f.bytes, f.len);
    }
    pos_ = static_cast<size_t>(i);
  }

  std::string_view s_;
  size_t pos_ = 0;
  char buf_[16];
  uint8_t blen_ = 0;
  uint8_t bpos_ = 0;
};

// Compares the folded forms byte by byte (= by folded code point).
int compareFolded(std::string_view a, std::string_view b) {
  FoldStream fa(a), fb(b);
  for (;;) {
    int x = fa.next(), y = fb.next();
    if (x != y) return x < y ? -1 : 1;
    if (x < 0) return 0;
  }
}

// Length of the common ASCII prefix that is equal ignoring ASCII case; stops at the first
// non-ASCII byte of either side, which is always a character boundary of both.
size_t asciiPrefix(std::string_view a, std::string_view b, int& order) {
  size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  order = 0;
  for (; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if ((x | y) & 0x80) return i;
    x = lowerAscii(x);
    y = lowerAscii(y);
    if (x != y) {
      order = x < y ? -1 : 1;
      return i;
    }
  }
  return i;
}

// Does the folded form of s, starting at byte `at`, begin with the folded form of prefix,
// ending on a character boundary of s?
bool foldedPrefixAt(std::string_view s, size_t at, std::string_view prefix) {
  FoldStream fs(s.substr(at)), fp(prefix);
  for (;;) {
    int y = fp.next();
    if (y < 0) return fs.atCharBoundary();
    if (fs.next() != y) return false;
  }
}

bool isAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) & 0x80) return false;
  return true;
}

}  // namespace

bool textEqual(std::string_view a, std::string_view b) {
  int order = 0;
  size_t i = asciiPrefix(a, b, order);
  if (order != 0) return false;
  // One side ended inside the common ASCII prefix: equal only if both did, since no
  // character folds to nothing.
  if (i == a.size() || i == b.size()) return a.size() == b.size();
  return compareFolded(a.substr(i), b.substr(i)) == 0;
}

int textCompare(std::string_view a, std::string_view b) {
  int order = 0;
  size_t i = asciiPrefix(a, b, order);
  if (order != 0) return order;
  return compareFolded(a.substr(i), b.substr(i));
}

std::string foldCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  FoldStream f(s);
  for (int c = f.next(); c >= 0; c = f.next()) out += static_cast<char>(c);
  return out;
}

size_t findText(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return 0;
  if (isAscii(needle) && isAscii(haystack)) {
    if (needle.size() > haystack.size()) return std::string_view::npos;
    for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
      size_t k = 0;
      while (k < needle.size() && lowerAscii(static_cast<unsigned char>(haystack[i + k])) ==
                                      lowerAscii(static_cast<unsigned char>(needle[k])))
        ++k;
      if (k == needle.size()) return i;
    }
    return std::string_view::npos;
  }
  // Candidates start on character boundaries of the haystack (never inside a sequence).
  for (size_t i = 0; i < haystack.size();) {
    if (foldedPrefixAt(haystack, i, needle)) return i;
    int32_t k = static_cast<int32_t>(i);
    UChar32 cp;
    U8_NEXT(reinterpret_cast<const uint8_t*>(haystack.data()), k,
            static_cast<int32_t>(haystack.size()), cp);
    (void)cp;
    i = static_cast<size_t>(k);
  }
  return std::string_view::npos;
}

bool startsWithText(std::string_view s, std::string_view prefix) {
  int order = 0;
  size_t i = asciiPrefix(s, prefix, order);
  if (i == prefix.size()) return true;
  if (order != 0 || i == s.size()) return false;
  return foldedPrefixAt(s, i, prefix.substr(i));
}

std::string trimBlanks(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return std::string(s.substr(b, e - b));
}

StringArray splitText(std::string_view s, std::string_view delimiter) {
  StringArray out;
  if (s.empty()) {
    out.redim(0, -1);
    return out;
  }
  std::vector<std::string> pieces;
  if (delimiter.empty()) {
    pieces.emplace_back(s);
  } else {
    size_t start = 0;
    for (;;) {
      size_t at = s.find(delimiter, start);
      if (at == std::string_view::npos) {
        pieces.emplace_back(s.substr(start));
        break;
      }
      pieces.emplace_back(s.substr(start, at - start));
      start = at + delimiter.size();
    }
  }
  return StringArray::of(std::move(pieces));
}

std::string dropLast(const std::string& s, size_t n) {
  if (n > s.size()) raiseRuntime(RuntimeError::InvalidProcedureCall);
  return s.substr(0, s.size() - n);
}

}  // namespace ovt
