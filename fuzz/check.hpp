// Shared pieces of the fuzz targets: the libFuzzer entry point, the oracle
// check that aborts with a message (so that both libFuzzer and the replay
// main report the input), and strict UTF-8 validation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_ENTRY extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)

namespace fuzz {

[[noreturn]] inline void fail(const char *file, int line, const char *what,
                              const std::string &detail) {
  std::fprintf(stderr, "%s:%d: oracle failed: %s\n", file, line, what);
  if (!detail.empty())
    std::fprintf(stderr, "  %s\n", detail.c_str());
  std::abort();
}

// Printable form of bytes for failure reports: non-printing bytes as \xNN.
inline std::string show(std::string_view text, size_t limit = 200) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out = "'";
  for (size_t i = 0; i < text.size() && i < limit; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\x";
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  if (text.size() > limit)
    out += "...";
  return out + "'";
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. This
// is exactly what a Python str gives through PyUnicode_AsUTF8AndSize.
inline bool valid_utf8(std::string_view text) {
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const auto *end = p + text.size();
  while (p < end) {
    unsigned char b = *p;
    if (b < 0x80) {
      ++p;
      continue;
    }
    size_t n;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      n = 2;
      cp = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
      n = 3;
      cp = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
      n = 4;
      cp = b & 0x07u;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) < n)
      return false;
    for (size_t i = 1; i < n; ++i) {
      if ((p[i] & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (p[i] & 0x3Fu);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    p += n;
  }
  return true;
}

} // namespace fuzz

#define FUZZ_CHECK(cond, detail)                                                         \
  do {                                                                                   \
    if (!(cond))                                                                         \
      ::fuzz::fail(__FILE__, __LINE__, #cond, (detail));                                 \
  } while (0)
