// The byte-level charset work. Oracles: is_utf8 agrees with the JSON library's
// strict decoder on the input, on its prefixes cut inside a last character and
// behind 32 ASCII bytes (its wide paths); header_charset gives MSH-18 as a plain
// split of the header line finds it.
#include "charset.hpp"
#include "check.hpp"

using namespace vellomar;

namespace {

// MSH-18 by splitting: the line up to CR, LF or 0x1C (after MSH-1), fields at
// byte 3, the first component and repetition cut at MSH-2's first two bytes.
std::string_view split_charset(std::string_view text) {
  if (text.size() < 4)
    return {};
  std::string_view line = text.substr(0, text.find_first_of(std::string_view("\r\n\x1c", 3), 4));
  std::vector<std::string_view> fields;
  for (size_t start = 4;;) {
    const size_t end = std::min(line.find(text[3], start), line.size());
    fields.push_back(line.substr(start, end - start));
    if (end == line.size())
      break;
    start = end + 1;
  }
  if (fields.size() < 17)
    return {};
  std::string_view value = fields[16];
  for (char d : fields[0].substr(0, 2))
    value = value.substr(0, value.find(d));
  const std::string_view stripped(" \t\n\v\f\r\x1c\x1d\x1e\x1f", 10);
  value.remove_prefix(std::min(value.find_first_not_of(stripped), value.size()));
  return value.substr(0, value.find_last_not_of(stripped) + 1);
}

} // namespace

FUZZ_ENTRY {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  for (size_t cut = 0; cut < 4 && cut <= size; ++cut) {
    std::string_view part = text.substr(0, size - cut);
    FUZZ_CHECK(is_utf8(part) == fuzz::valid_utf8(part), part);
    const std::string wide = std::string(32, 'a') + std::string(part);
    FUZZ_CHECK(is_utf8(wide) == fuzz::valid_utf8(part), part);
  }
  const std::string_view found = header_charset(text), split = split_charset(text);
  FUZZ_CHECK(found == split && (found.empty() || found.data() == split.data()), text);
  return 0;
}
