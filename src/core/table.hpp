// Tables from messages: columns of strings selected by terser paths, built
// straight from the message records in the layout of Arrow's large_string
// arrays (64-bit offsets, UTF-8 data, a validity bitmap), so that they can
// be handed out without a copy.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records.hpp"
#include "definitions.hpp"
#include "index.hpp"
#include "parser.hpp"
#include "result.hpp"
#include "terser.hpp"

namespace vellomar {

// The `repetition`-th segment named `name` (0-based) in `out`, if any.
bool find_segment(const Message &message, std::string_view name, uint64_t repetition,
                  SegmentView &out);

// Which rows hold a value (Arrow's validity bitmap): empty while no row is
// null, so that a column without nulls carries no bitmap.
struct Validity {
  std::vector<uint8_t> bits; // bit i set: row i has a value
  int64_t nulls = 0;

  bool is_null(size_t row) const { return !bits.empty() && !(bits[row / 8] >> (row % 8) & 1); }
  // Records row `row` (the next one) as present or null. Inline for the
  // common case, a value while no row is null, which needs no bit.
  void push(size_t row, bool present) {
    if (bits.empty() && present)
      return;
    push_bit(row, present);
  }

private:
  void push_bit(size_t row, bool present);

public:
};

// The bytes of a string column, appended a value at a time. Hand-written
// rather than a std::string: a value of up to 16 bytes (most cells) is copied
// by two overlapping word moves (copy_text()), not a call to memcpy behind a
// generic append.
class ByteBuffer {
public:
  ByteBuffer() = default;
  ByteBuffer(ByteBuffer &&) noexcept = default;
  ByteBuffer &operator=(ByteBuffer &&) noexcept = default;

  const char *data() const { return data_.get(); }
  size_t size() const { return size_; }
  operator std::string_view() const { return {data_.get(), size_}; }
  bool operator==(const ByteBuffer &other) const {
    return std::string_view(*this) == std::string_view(other);
  }
  void append(std::string_view value) {
    const size_t n = value.size();
    if (capacity_ - size_ < n) [[unlikely]]
      grow(n);
    copy_text(data_.get() + size_, value);
    size_ += n;
  }

private:
  [[gnu::noinline]] void grow(size_t n) {
    const size_t capacity = std::max(2 * capacity_, std::max<size_t>(size_ + n, 4096));
    std::unique_ptr<char[]> data(new char[capacity]);
    if (size_)
      std::memcpy(data.get(), data_.get(), size_);
    data_ = std::move(data);
    capacity_ = capacity;
  }
  std::unique_ptr<char[]> data_;
  size_t size_ = 0, capacity_ = 0;
};

struct StringColumn {
  std::vector<int64_t> offsets{0}; // rows + 1 entries
  ByteBuffer data;
  Validity validity;

  size_t rows() const { return offsets.size() - 1; }
  bool is_null(size_t row) const { return validity.is_null(row); }
  std::string_view value(size_t row) const {
    return std::string_view(data).substr(static_cast<size_t>(offsets[row]),
                                         static_cast<size_t>(offsets[row + 1] - offsets[row]));
  }
  size_t bytes() const { return data.size() + offsets.size() * sizeof(int64_t); }
  // Inline: a table appends ten or so values a message.
  void append(std::string_view value) {
    data.append(value);
    offsets.push_back(static_cast<int64_t>(data.size()));
    validity.push(rows() - 1, true);
  }
  void append_null();
};

struct Int64Column {
  std::vector<int64_t> values;
  Validity validity;

  size_t rows() const { return values.size(); }
  bool is_null(size_t row) const { return validity.is_null(row); }
  void append(int64_t value) {
    validity.push(values.size(), true);
    values.push_back(value);
  }
  void append_null() {
    validity.push(values.size(), false);
    values.push_back(0);
  }
};

// Where a message comes from: its file (none for text or a Message object),
// its 1-based number in the file and the byte offset where it starts (-1
// where unknown; a Message object has neither).
struct Origin {
  const std::string *file = nullptr;
  int64_t ordinal = -1;
  int64_t offset = -1;
};

// Columns a table may carry besides its paths' columns.
struct TableOptions {
  bool reasons = false;    // why a message kept as a row did not parse
  bool provenance = false; // file, message number and byte offset of each row
  // In rows mode, a path on another segment reads the occurrence in the
  // row's own group or the nearest enclosing one (RowSegments) in messages
  // whose structure these definitions know; otherwise the message's.
  const Definitions *definitions = nullptr;
};

class TableBuilder {
public:
  // Reads the paths first (a malformed one fails with its ValueError);
  // `rows` names the segment that gives one row per occurrence, or is empty
  // for one row per message.
  static Result<TableBuilder> create(const std::vector<std::string_view> &paths,
                                     std::string_view rows, TableOptions options = {});

  // Appends the rows of one message. What a path selects is null where the
  // message lacks the segment, repetition, field, component or sub-component.
  void add(const Message &message, const Origin &origin = {});
  // Appends one row for a message that did not parse or decode: every path
  // column null, the reason in the reasons column.
  void add_bad(std::string_view reason, const Origin &origin);
  // Appends the row of one message from its decoded text, with no Message
  // made for it: the text is indexed in storage that every call reuses, and
  // for the segments_read() alone. Returns false, appending nothing, where
  // the parser's checks or the table's delimiter rule could fail (a text not
  // beginning with "MSH" and its five delimiters, delimiters that
  // check_delimiters refuses) or one row per message is not the mode: the
  // caller then parses the text and meets the error there.
  // `line_ends`, if not empty, holds the end offset of each of the text's
  // lines, as BatchCutter::line_ends() gives them.
  bool add_text(std::string_view text, const Origin &origin = {},
                std::span<const uint32_t> line_ends = {});

  // The segments whose fields the rows read, when a message needs no others
  // (one row per message): its other segments need no field index.
  std::optional<SegmentNames> segments_read() const;

  // The same paths and options with no rows yet.
  TableBuilder empty_copy() const;
  // Frees what add_text() keeps for the next text (as large as the largest
  // message read), once no rows follow: a finished table lives on in the
  // arrays it hands out.
  void finish() {
    scratch_ = Message{};
    scratch_segments_ = {};
    scratch_ends_ = {};
  }

  const std::vector<StringColumn> &columns() const { return columns_; }
  const StringColumn &reasons() const { return reasons_; }
  const StringColumn &files() const { return files_; }
  const Int64Column &ordinals() const { return ordinals_; }
  const Int64Column &offsets() const { return offsets_; }
  const TableOptions &options() const { return options_; }
  size_t rows() const { return rows_; }
  // The bytes the columns hold, for batches bounded by a budget.
  size_t bytes() const;

private:
  // The rows of a message in the path columns (none in rows mode for a message without the segment).
  // `found`, if not null, holds for each occurrence number the index of its
  // segment in the message (no_segment where it has none), found beforehand.
  void add_rows(const Message &message, const size_t *found = nullptr);
  // The row of a text whose line ends are known, read without an index:
  // only the lines of the paths' segments, and in them only the separators
  // up to the last field a path names.
  void add_known_lines(std::string_view text, std::span<const uint32_t> line_ends);
  void plan_known_lines();
  // Fills the reasons and provenance columns of the rows from `first` on.
  void annotate(size_t first, const Origin &origin, const std::string_view *reason);

  std::vector<TerserPath> paths_;
  std::vector<bool> per_row_; // the path reads from the rows segment's occurrence
  // Paths on the same segment occurrence (segment and repetition) share a
  // number, so that a message looks the occurrence up once for all of them.
  std::vector<uint32_t> occurrence_;
  std::string rows_segment_;
  TableOptions options_;
  std::vector<StringColumn> columns_;
  StringColumn reasons_, files_;
  Int64Column ordinals_, offsets_;
  size_t rows_ = 0;
  // What add_text() reads: the message over the text and the index storage
  // it reuses, and the names of segments_read() as three bytes in a number each.
  Message scratch_;
  IndexBuffer<SegmentEntry> scratch_segments_;
  IndexBuffer<uint32_t> scratch_ends_;
  std::string header_; // MSH-1 and MSH-2 of the last text add_text() read
  EncodingCharacters header_enc_; // their delimiters, which a table takes
  std::vector<uint32_t> read_names_;
  // The occurrence numbers that their first path gives (occurrence_[c] == c),
  // each with its segment name as a number; and per number, the segment
  // add_text() found and the segments so named it counted on the way.
  std::vector<std::pair<uint32_t, uint32_t>> occurrences_;
  std::vector<size_t> found_, counted_;
  // add_known_lines(): per column, the separators before its field (the
  // field starts after the last of them; 0 for a path of depth 0 or MSH-1);
  // per occurrence number, the separators to find in its line, and the
  // line and the separators found in it (at seps_[first_sep_[number]...]).
  // Not used when a path names a field past max_known_field.
  static constexpr uint64_t max_known_field = 1024;
  bool known_lines_ = false;
  std::vector<uint32_t> field_seps_, seps_wanted_, first_sep_, line_start_, line_end_, seps_found_;
  std::vector<uint32_t> seps_;
  // Each occurrence's name and separator, as a line begins, and its number.
  std::vector<std::pair<uint32_t, uint32_t>> line_keys_;
  std::string scratch_text_; // a value whose escapes were decoded
  // Per-message values of the other paths in rows mode.
  std::vector<std::string> values_;
  std::vector<bool> present_;
};

} // namespace vellomar
