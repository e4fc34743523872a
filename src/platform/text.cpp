#include "platform/text.hpp"

#include <cstdio>

namespace charstack::text {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

int32_t intValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate as a magnitude in 64 bits and stop growing once past the 32-bit range, so any
  // number of digits is fine.
  constexpr int64_t limit = int64_t{INT32_MAX} + 1;  // magnitude of INT32_MIN
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) magnitude = limit + 1;
  }
  if (negative) return magnitude >= limit ? INT32_MIN : static_cast<int32_t>(-magnitude);
  return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

std::string formatLong(int64_t value) {
  char buffer[32];
  int n = std::snprintf(buffer, sizeof buffer, "%ld", static_cast<long>(value));
  return std::string(buffer, static_cast<size_t>(n));
}

std::string formatInt(int32_t value) {
  char buffer[16];
  int n = std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(value));
  return std::string(buffer, static_cast<size_t>(n));
}

std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  if (separator.empty()) {
    pieces.push_back(text);
    return pieces;
  }
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    if (at == std::string_view::npos) break;
    pieces.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

namespace {

// The length of the valid UTF-8 sequence at bytes[i], or 0 when it is invalid. On 0, *skip is set
// to the length of the maximal subpart to replace by a single U+FFFD (at least 1).
size_t validSequenceAt(std::string_view bytes, size_t i, size_t* skip) {
  auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  unsigned char b0 = at(i);
  *skip = 1;
  if (b0 < 0x80) return 1;
  size_t length;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) lo = 0xA0;       // overlong
    else if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) lo = 0x90;       // overlong
    else if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  for (size_t k = 1; k < length; ++k) {
    if (i + k >= bytes.size()) {
      *skip = k;
      return 0;
    }
    unsigned char b = at(i + k);
    bool ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!ok) {
      *skip = k;
      return 0;
    }
  }
  return length;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    size_t skip;
    size_t n = validSequenceAt(bytes, i, &skip);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string toValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    size_t skip;
    size_t n = validSequenceAt(bytes, i, &skip);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      i += skip;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace charstack::text
