// Shared by the fuzz targets: the entry point, an oracle check that aborts showing
// the text concerned (the runner then names the input), strict UTF-8 validation.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp> // also std::string, std::string_view, uint8_t

#define FUZZ_ENTRY extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
#define FUZZ_CHECK(cond, text) fuzz::check(cond, #cond, text, __FILE__, __LINE__)

namespace fuzz {

inline void check(bool ok, const char *what, std::string_view text, const char *file,
                  int line) {
  if (ok)
    return;
  auto shown = nlohmann::json(std::string(text))
                   .dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
  std::fprintf(stderr, "%s:%d: oracle failed: %s\n  on %s\n", file, line, what,
               shown.c_str());
  std::abort();
}

// What a Python str can hold: no overlong forms, surrogates or code points past U+10FFFF.
inline bool valid_utf8(std::string_view text) {
  try {
    return !nlohmann::json(std::string(text)).dump().empty();
  } catch (const nlohmann::json::type_error &) {
    return false;
  }
}

} // namespace fuzz
