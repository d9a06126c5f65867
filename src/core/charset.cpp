#include "charset.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vellomar {
namespace {

bool is_stripped(unsigned char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x1F);
}

} // namespace

std::string_view header_charset(std::string_view text) {
  if (text.size() < 4)
    return {};
  const char separator = text[3];
  std::string_view line = text.substr(4);
  line = line.substr(0, line.find_first_of("\r\n\x1c"));
  std::string_view delimiters;
  size_t start = 0;
  for (int field = 0;; ++field) { // field 0 is MSH-2, field 16 is MSH-18
    size_t end = line.find(separator, start);
    if (field == 0)
      delimiters = line.substr(0, std::min<size_t>(2, end == line.npos ? line.size() : end));
    if (field == 16) {
      line = line.substr(start, end == line.npos ? line.npos : end - start);
      break;
    }
    if (end == line.npos)
      return {};
    start = end + 1;
  }
  for (char d : delimiters)
    line = line.substr(0, line.find(d));
  while (!line.empty() && is_stripped(static_cast<unsigned char>(line.front())))
    line.remove_prefix(1);
  while (!line.empty() && is_stripped(static_cast<unsigned char>(line.back())))
    line.remove_suffix(1);
  return line;
}

// Hand-written because it decides the fast path of every message: pure ASCII
// eight bytes at a time, then the strict rules for the rest.
bool is_utf8(std::string_view text) {
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const auto *end = p + text.size();
  while (p < end) {
    if (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if (!(word & 0x8080808080808080ULL)) {
        p += 8;
        continue;
      }
    }
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
    if (c >= 0xC2 && c <= 0xDF)
      n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
      n = 3;
      lo = c == 0xE0 ? 0xA0 : 0x80;
      hi = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4;
      lo = c == 0xF0 ? 0x90 : 0x80;
      hi = c == 0xF4 ? 0x8F : 0xBF;
    } else
      return false;
    if (end - p < static_cast<std::ptrdiff_t>(n) || p[1] < lo || p[1] > hi)
      return false;
    for (size_t i = 2; i < n; ++i)
      if ((p[i] & 0xC0) != 0x80)
        return false;
    p += n;
  }
  return true;
}

} // namespace vellomar
