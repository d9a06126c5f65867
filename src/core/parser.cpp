#include "parser.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>
#include <limits>
#include <new>
#include <type_traits>

#include "mllp.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellomar {
namespace {

Error value_error(std::string message) {
  return Error{ErrorKind::value_error, std::move(message)};
}

EncodingCharacters read_encoding_characters(std::string_view first_line) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(first_line[i]); };
  EncodingCharacters enc;
  enc.field = Delimiter::from_byte(byte(3));
  enc.component = Delimiter::from_byte(byte(4));
  enc.repetition = Delimiter::from_byte(byte(5));
  enc.escape = Delimiter::from_byte(byte(6));
  enc.sub_component = Delimiter::from_byte(byte(7));
  return enc;
}

// A push-only buffer of trivially copyable entries that lives on the stack
// until it outgrows N entries. Its stack space is left uninitialised.
template <class T, size_t N> class Scratch {
  static_assert(std::is_trivially_copyable_v<T>);

public:
  void push_back(const T &value) {
    if (size_ < N) {
      std::memcpy(inline_ + size_ * sizeof(T), &value, sizeof(T));
      ++size_;
      return;
    }
    if (heap_.empty())
      heap_.assign(inline_begin(), inline_begin() + N);
    heap_.push_back(value);
    ++size_;
  }
  size_t size() const { return size_; }
  // Copies the entries into `out`, allocated once at the exact size.
  void copy_to(std::vector<T> &out) const {
    if (size_ <= N)
      out.assign(inline_begin(), inline_begin() + size_);
    else
      out.assign(heap_.begin(), heap_.end());
  }

private:
  const T *inline_begin() const {
    return std::launder(reinterpret_cast<const T *>(inline_));
  }
  alignas(T) unsigned char inline_[N * sizeof(T)];
  size_t size_ = 0;
  std::vector<T> heap_;
};

using SegmentScratch = Scratch<SegmentEntry, 64>;
using SpanScratch = Scratch<Span, 512>;

// Bit i is set when block[i] is a CR, an LF or the field separator; `len`
// bytes are looked at (at most 64).
uint64_t special_bytes(const unsigned char *block, size_t len, unsigned char sep) {
#if defined(__SSE2__)
  if (len == 64) {
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i fs = _mm_set1_epi8(static_cast<char>(sep));
    uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * k));
      __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
                                 _mm_cmpeq_epi8(v, fs));
      mask |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(hit)))
              << (16 * k);
    }
    return mask;
  }
#endif
  uint64_t mask = 0;
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = block[i];
    if (c == '\r' || c == '\n' || c == sep)
      mask |= uint64_t{1} << i;
  }
  return mask;
}

// Builds the segment and field index of `m.raw`: one pass that finds every
// line end and field separator 64 bytes at a time and visits only those.
void index_single_byte_separator(const Message &m, SegmentScratch &segments,
                                 SpanScratch &spans) {
  const auto *const base = reinterpret_cast<const unsigned char *>(m.raw.data());
  const auto n = static_cast<uint32_t>(m.raw.size());
  const auto sep = static_cast<unsigned char>(m.enc.field.bytes[0]);

  uint32_t line_start = 0;
  uint32_t field_start = 0;
  bool in_fields = false; // a separator was seen on this line
  SegmentEntry entry{};

  auto end_line = [&](uint32_t at) {
    if (in_fields) {
      spans.push_back(Span{field_start, at - field_start});
      entry.span_count = static_cast<uint32_t>(spans.size()) - entry.first_span;
    } else if (at == line_start) {
      return; // an empty line is no segment
    } else {
      entry = SegmentEntry{};
      entry.name_length = at - line_start;
      entry.first_span = static_cast<uint32_t>(spans.size());
    }
    entry.line = Span{line_start, at - line_start};
    segments.push_back(entry);
  };
  auto visit = [&](uint32_t at) {
    unsigned char c = base[at];
    if (c == '\r' || c == '\n') { // never the separator: the header line has none
      end_line(at);
      line_start = at + 1;
      in_fields = false;
    } else if (!in_fields) {
      in_fields = true;
      entry = SegmentEntry{};
      entry.name_length = at - line_start;
      entry.first_span = static_cast<uint32_t>(spans.size());
      // The text test for MSH is on the line, not on the name.
      entry.msh = n - line_start >= 3 && std::memcmp(base + line_start, "MSH", 3) == 0;
      field_start = at + 1;
    } else {
      spans.push_back(Span{field_start, at - field_start});
      field_start = at + 1;
    }
  };

  for (uint32_t block = 0; block < n; block += 64) {
    uint32_t len = std::min<uint32_t>(64, n - block);
    for (uint64_t mask = special_bytes(base + block, len, sep); mask; mask &= mask - 1)
      visit(block + static_cast<uint32_t>(std::countr_zero(mask)));
  }
  end_line(n);
}

// The same index for a two-byte (non-ASCII) field separator.
void index_any_separator(const Message &m, SegmentScratch &segments,
                         SpanScratch &spans) {
  const Delimiter &sep = m.enc.field;
  auto offset = [&](std::string_view piece) {
    return static_cast<uint32_t>(piece.data() - m.raw.data());
  };
  LineSplitter lines(m.raw);
  std::string_view line;
  while (lines.next(line)) {
    SegmentEntry entry{};
    entry.line = Span{offset(line), static_cast<uint32_t>(line.size())};
    entry.first_span = static_cast<uint32_t>(spans.size());
    size_t name_end = find_delimiter(line, sep);
    entry.name_length = static_cast<uint32_t>(std::min(name_end, line.size()));
    if (name_end != std::string_view::npos) {
      entry.msh = line.substr(0, 3) == "MSH";
      cut(line.substr(name_end + sep.size), sep, [&](std::string_view piece) {
        spans.push_back(Span{offset(piece), static_cast<uint32_t>(piece.size())});
      });
    }
    entry.span_count = static_cast<uint32_t>(spans.size()) - entry.first_span;
    segments.push_back(entry);
  }
}

} // namespace

Result<Message> parse_message(std::string_view raw) {
  if (raw.empty())
    return value_error("Empty message");
  std::string_view text = strip_mllp_frame(raw);
  if (text.empty())
    return value_error("Empty message");

  std::string_view first;
  if (!LineSplitter(text).next(first))
    return value_error("No segments found");
  if (first.substr(0, 3) != "MSH")
    return value_error("Message must start with MSH segment, got: '" +
                       std::string(utf8_prefix(first, 10)) + "'");
  if (first.size() < 8)
    return value_error("MSH segment too short to extract encoding characters");

  // Ranges are 32-bit: a larger text cannot be indexed.
  if (text.size() > std::numeric_limits<uint32_t>::max())
    throw std::bad_alloc();

  Message m;
  m.enc = read_encoding_characters(first);
  m.raw.assign(text);
  // The index is built in scratch space and then copied into vectors of
  // exactly the right size: one allocation each, nothing wasted.
  SegmentScratch segments;
  SpanScratch spans;
  if (m.enc.field.size == 1)
    index_single_byte_separator(m, segments, spans);
  else
    index_any_separator(m, segments, spans);
  segments.copy_to(m.segments);
  spans.copy_to(m.field_spans);
  return m;
}

} // namespace vellomar
