// Shared by the fuzz targets: the entry point, an oracle check that aborts
// showing the text concerned (libFuzzer and the replay main then report the
// input), and strict UTF-8 validation, which the JSON library does for us.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#define FUZZ_ENTRY extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
#define FUZZ_CHECK(cond, text) do { if (!(cond)) fuzz::fail(__FILE__, __LINE__, #cond, text); } while (0)

namespace fuzz {

[[noreturn]] inline void fail(const char *file, int line, const char *what, std::string_view text) {
  auto shown = nlohmann::json(std::string(text)).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
  std::fprintf(stderr, "%s:%d: oracle failed: %s\n  on %s\n", file, line, what, shown.c_str());
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
