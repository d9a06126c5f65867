// The chunk-fed cutter: the input's first two bytes seed the chunk sizes, the rest
// is the stream. Oracles: the stream fed in chunks (drained after each, finish()
// given after the last chunk or after draining it) gives the texts and offsets
// that feeding it whole gives, the texts taken as views (in place where the
// cutter can) are those taken as strings, and each offset points at its text's
// first line.
#include <utility>

#include "batch.hpp"
#include "check.hpp"
#include "text.hpp"

using namespace vellomar;

namespace {

using Texts = std::vector<std::pair<std::string, uint64_t>>;

void drain(BatchCutter &cutter, Texts &out) {
  std::string text;
  uint64_t offset = 0;
  while (cutter.next(text, offset))
    out.emplace_back(std::move(text), offset);
}

void drain_views(BatchCutter &cutter, Texts &out) {
  std::string_view text;
  std::string buffer;
  uint64_t offset = 0;
  while (cutter.next(text, offset, buffer))
    out.emplace_back(std::string(text), offset);
}

} // namespace

FUZZ_ENTRY {
  if (size < 2)
    return 0;
  uint32_t state = data[0] | data[1] << 8 | 1u << 16; // xorshift, never zero
  std::string_view stream(reinterpret_cast<const char *>(data) + 2, size - 2);
  Texts whole, viewed, chunked, early;
  BatchCutter a, b, c, d;
  a.feed(stream);
  a.finish();
  drain(a, whole);
  d.feed(stream);
  d.finish();
  drain_views(d, viewed);
  FUZZ_CHECK(viewed == whole, stream);
  // Chunks are copied and dropped once drained, as a reader's buffers are.
  for (size_t at = 0; at < stream.size();) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    const size_t n = std::min<size_t>(stream.size() - at, 1 + state % (state & 1 ? 4 : 64));
    std::string chunk(stream.substr(at, n));
    at += n;
    b.feed(chunk), c.feed(chunk);
    drain_views(b, chunked);
    if (at == stream.size())
      c.finish();
    drain(c, early);
  }
  b.finish(), c.finish();
  drain_views(b, chunked), drain(c, early);
  FUZZ_CHECK(chunked == whole, stream);
  FUZZ_CHECK(early == whole, stream);
  for (const auto &[text, offset] : whole) {
    std::string_view first = trim_white_space_start(text);
    first = first.substr(0, first.find('\r'));
    FUZZ_CHECK(stream.substr(offset).starts_with(first), text);
  }
  return 0;
}
