#include "text.hpp"

#include <algorithm>

namespace vellomar {
namespace {

// Length in bytes of the White_Space character that starts at `p`, or 0.
size_t white_space_at(const unsigned char *p, size_t left) {
  unsigned char b = p[0];
  if ((b >= 0x09 && b <= 0x0D) || b == 0x20)
    return 1;
  if (b == 0xC2 && left >= 2)
    return (p[1] == 0x85 || p[1] == 0xA0) ? 2 : 0;
  if (left < 3)
    return 0;
  if (b == 0xE1)
    return (p[1] == 0x9A && p[2] == 0x80) ? 3 : 0;
  if (b == 0xE2 && p[1] == 0x80)
    return ((p[2] >= 0x80 && p[2] <= 0x8A) || p[2] == 0xA8 || p[2] == 0xA9 ||
            p[2] == 0xAF)
               ? 3
               : 0;
  if (b == 0xE2 && p[1] == 0x81)
    return p[2] == 0x9F ? 3 : 0;
  if (b == 0xE3)
    return (p[1] == 0x80 && p[2] == 0x80) ? 3 : 0;
  return 0;
}

// Length of the White_Space character that ends just before `end`, or 0.
size_t white_space_before(const unsigned char *begin, const unsigned char *end) {
  const size_t longest = std::min<size_t>(static_cast<size_t>(end - begin), 3);
  for (size_t n = 1; n <= longest; ++n)
    if (white_space_at(end - n, n) == n)
      return n;
  return 0;
}

} // namespace

std::string_view trim_white_space_start(std::string_view text) {
  auto begin = reinterpret_cast<const unsigned char *>(text.data());
  auto end = begin + text.size();
  while (begin < end) {
    size_t n = white_space_at(begin, static_cast<size_t>(end - begin));
    if (n == 0)
      break;
    begin += n;
  }
  return {reinterpret_cast<const char *>(begin), static_cast<size_t>(end - begin)};
}

std::string_view trim_white_space_end(std::string_view text) {
  auto begin = reinterpret_cast<const unsigned char *>(text.data());
  auto end = begin + text.size();
  while (end > begin) {
    size_t n = white_space_before(begin, end);
    if (n == 0)
      break;
    end -= n;
  }
  return {text.data(), static_cast<size_t>(end - begin)};
}

std::string_view trim_white_space(std::string_view text) {
  // most texts begin and end with a visible ASCII character: no White_Space
  // character begins or ends with one
  auto visible = [](char c) { return c > 0x20 && c < 0x7F; };
  if (text.empty() || (visible(text.front()) && visible(text.back())))
    return text;
  return trim_white_space_end(trim_white_space_start(text));
}

std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return out;
}

} // namespace vellomar
