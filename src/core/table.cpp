#include "table.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#include "delimiters.hpp"
#include "index.hpp"
#include "roads.hpp"
#include "structure.hpp"

namespace vellomar {
namespace {

// A segment name of three bytes as one number, so that a name is matched
// against a table's few segments by integer compares.
uint32_t name_key(std::string_view name) {
  return static_cast<uint32_t>(static_cast<unsigned char>(name[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(name[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(name[2])) << 16;
}

} // namespace

bool find_segment(const Message &message, std::string_view name, uint64_t repetition,
                  SegmentView &out) {
  size_t count = 0;
  const size_t index = segment_index(message, name, repetition, count);
  if (index == no_segment)
    return false;
  out = message.segment_at(index);
  return true;
}

void Validity::push_bit(size_t row, bool present) {
  if (bits.empty()) // every row so far has a value
    bits.assign(row / 8 + 1, 0xFF);
  if (row / 8 >= bits.size())
    bits.push_back(0);
  if (present)
    bits[row / 8] = static_cast<uint8_t>(bits[row / 8] | (1u << (row % 8)));
  else {
    bits[row / 8] = static_cast<uint8_t>(bits[row / 8] & ~(1u << (row % 8)));
    ++nulls;
  }
}

void StringColumn::append_null() {
  offsets.push_back(static_cast<int64_t>(data.size()));
  validity.push(rows() - 1, false);
}

Result<TableBuilder> TableBuilder::create(const std::vector<std::string_view> &paths,
                                          std::string_view rows, TableOptions options) {
  TableBuilder builder;
  builder.options_ = options;
  if (!rows.empty() && (rows.size() != 3 || check_terser_path(rows)))
    return Error{ErrorKind::value_error, "Invalid segment name: '" + std::string(rows) + "'"};
  for (std::string_view text : paths) {
    // A path that no message can answer would give a column of nulls.
    if (std::optional<Error> error = check_terser_path(text))
      return std::move(*error);
    auto path = parse_terser_path(text);
    if (!path)
      return std::move(path).error();
    // A path on the rows segment reads each occurrence, unless it names a
    // repetition ("OBX(0)-3"): that one occurrence, the same in every row.
    const bool names_repetition = text.substr(0, text.find('-')).size() > 3;
    builder.per_row_.push_back(!rows.empty() && path.value().segment == rows &&
                               !names_repetition);
    // Numbered by the first path naming the same occurrence.
    uint32_t occurrence = static_cast<uint32_t>(builder.paths_.size());
    for (size_t c = 0; c < builder.paths_.size(); ++c)
      if (builder.paths_[c].segment == path.value().segment &&
          builder.paths_[c].repetition == path.value().repetition) {
        occurrence = builder.occurrence_[c];
        break;
      }
    builder.occurrence_.push_back(occurrence);
    builder.paths_.push_back(std::move(path).value());
  }
  builder.rows_segment_ = std::string(rows);
  for (size_t c = 0; c < builder.paths_.size(); ++c)
    if (builder.occurrence_[c] == c)
      builder.occurrences_.emplace_back(static_cast<uint32_t>(c), name_key(builder.paths_[c].segment));
  builder.found_.resize(paths.size());
  builder.counted_.resize(paths.size());
  builder.plan_known_lines();
  if (auto names = builder.segments_read())
    for (const std::string &name : *names)
      builder.read_names_.push_back(name_key(name)); // every path's name is three bytes
  builder.columns_.resize(paths.size());
  builder.values_.resize(paths.size());
  builder.present_.resize(paths.size());
  return builder;
}

TableBuilder TableBuilder::empty_copy() const {
  TableBuilder copy;
  copy.paths_ = paths_;
  copy.per_row_ = per_row_;
  copy.occurrence_ = occurrence_;
  copy.rows_segment_ = rows_segment_;
  copy.options_ = options_;
  copy.read_names_ = read_names_;
  copy.header_ = header_;
  copy.header_enc_ = header_enc_;
  copy.occurrences_ = occurrences_;
  copy.plan_known_lines();
  copy.found_.resize(found_.size());
  copy.counted_.resize(counted_.size());
  copy.columns_.resize(columns_.size());
  copy.values_.resize(values_.size());
  copy.present_.resize(present_.size());
  return copy;
}

std::optional<SegmentNames> TableBuilder::segments_read() const {
  // Rows of a segment's occurrences may read their groups' segments.
  if (!rows_segment_.empty())
    return std::nullopt;
  SegmentNames names{"MSH"};
  for (const TerserPath &path : paths_)
    if (std::find(names.begin(), names.end(), path.segment) == names.end())
      names.push_back(path.segment);
  return names;
}

size_t TableBuilder::bytes() const {
  size_t total = reasons_.bytes() + files_.bytes() + (ordinals_.rows() + offsets_.rows()) * 8;
  for (const StringColumn &column : columns_)
    total += column.bytes();
  return total;
}

void TableBuilder::add(const Message &message, const Origin &origin) {
  const size_t first = rows_;
  add_rows(message);
  annotate(first, origin, nullptr);
}

bool TableBuilder::add_text(std::string_view text, const Origin &origin,
                            std::span<const uint32_t> line_ends) {
  // The parser takes a text beginning with "MSH" and its delimiters as it
  // stands (no frame to cut, a header line of at least eight bytes once the
  // delimiters are punctuation), and a table then reads it if
  // check_delimiters passes.
  if (!rows_segment_.empty() || text.size() < 8 || !indexable(text.size()) ||
      text.substr(0, 3) != "MSH")
    return false;
  // The messages of a stream mostly share their delimiters: read and
  // checked once for as long as the header's first eight bytes stay the same.
  if (text.substr(3, 5) != header_) {
    const EncodingCharacters read = header_delimiters(text);
    if (check_delimiters(read))
      return false;
    header_enc_ = read;
    header_.assign(text.substr(3, 5));
  }
  const EncodingCharacters &enc = header_enc_;
  // line_ends, when given, are the cutter's: the last one is the text's size
  if (known_lines_ && !line_ends.empty()) {
    const size_t first = rows_;
    add_known_lines(text, line_ends);
    annotate(first, origin, nullptr);
    took(Road::table_lines);
    return true;
  }
  // The message is read where it stands: its index goes to storage that
  // every call reuses, and it lives no longer than this call.
  scratch_segments_.clear();
  scratch_ends_.clear();
  // The parser's index when only some segments are read, so that lookups
  // find what they find in a parsed message.
  auto is_read = [this](std::string_view name) {
    if (name.size() != 3)
      return false;
    const uint32_t key = name_key(name);
    for (uint32_t read : read_names_)
      if (key == read)
        return true;
    return false;
  };
  const auto sep = static_cast<unsigned char>(enc.field.bytes[0]);
  if (!line_ends.empty())
    index_known_lines<uint32_t>(text, line_ends, sep, scratch_segments_, scratch_ends_, is_read);
  else
    index_single_byte_separator<uint32_t>(text, sep, scratch_segments_, scratch_ends_, is_read);
  scratch_.raw = text;
  scratch_.enc = enc;
  scratch_.segments = scratch_segments_.entries();
  scratch_.field_ends = scratch_ends_.entries();
  // The segment of each occurrence the paths name, in one pass over the
  // segments for all of them (as segment_index() finds each one).
  for (const auto &[number, key] : occurrences_) {
    found_[number] = no_segment;
    counted_[number] = 0;
  }
  for (size_t i = 0; i < scratch_.segments.size(); ++i) {
    const SegmentEntry &e = scratch_.segments[i];
    if (e.name_length != 3)
      continue;
    const uint32_t key = name_key(scratch_.raw.substr(e.offset, 3));
    for (const auto &[number, wanted] : occurrences_)
      if (key == wanted && found_[number] == no_segment &&
          counted_[number]++ == paths_[number].repetition)
        found_[number] = i;
  }
  const size_t first = rows_;
  add_rows(scratch_, found_.data());
  annotate(first, origin, nullptr);
  took(Road::table_text);
  return true;
}

void TableBuilder::plan_known_lines() {
  const size_t n = paths_.size();
  field_seps_.assign(n, 0);
  seps_wanted_.assign(n, 0);
  first_sep_.assign(n, 0);
  line_start_.assign(n, 0);
  line_end_.assign(n, 0);
  seps_found_.assign(n, 0);
  known_lines_ = rows_segment_.empty();
  for (size_t c = 0; c < n; ++c) {
    const TerserPath &path = paths_[c];
    if (path.depth == 0)
      continue;
    // In MSH the separator after the name is MSH-1 itself, which holds no
    // field of its own: MSH-k starts after separator k - 1.
    const bool msh = path.segment == "MSH";
    if (msh && path.index[0] == 1)
      continue;
    if (path.index[0] > max_known_field) {
      known_lines_ = false;
      continue;
    }
    field_seps_[c] = static_cast<uint32_t>(msh ? path.index[0] - 1 : path.index[0]);
    // Its start, and its end where the line goes on.
    uint32_t &wanted = seps_wanted_[occurrence_[c]];
    wanted = std::max(wanted, field_seps_[c] + 1);
  }
  uint32_t total = 0;
  for (size_t c = 0; c < n; ++c) {
    first_sep_[c] = total;
    total += seps_wanted_[c] + 16; // a block's separators are written before the count is checked
  }
  seps_.assign(total, 0);
}

void TableBuilder::add_known_lines(std::string_view text, std::span<const uint32_t> line_ends) {
  const auto *const base = reinterpret_cast<const unsigned char *>(text.data());
  const char *const readable_end = text.data() + text.size();
  const EncodingCharacters &enc = header_enc_;
  const auto sep = static_cast<unsigned char>(enc.field.bytes[0]);
  for (const auto &[number, key] : occurrences_) {
    found_[number] = no_segment;
    counted_[number] = 0;
  }
  // The lines of the paths' segments, told by their first four bytes (the
  // name and the separator after it: a name of three bytes) in one compare
  // for each segment; a line of the name alone by its three.
  line_keys_.clear();
  for (const auto &[number, key] : occurrences_)
    line_keys_.emplace_back(key | static_cast<uint32_t>(sep) << 24, number);
  auto take = [&](uint32_t number, uint32_t start, uint32_t end) {
    if (found_[number] == no_segment && counted_[number]++ == paths_[number].repetition) {
      found_[number] = 0;
      line_start_[number] = start;
      line_end_[number] = end;
    }
  };
  uint32_t start = 0;
  for (const uint32_t end : line_ends) {
    if (end - start >= 4) {
      uint32_t head;
      if constexpr (std::endian::native == std::endian::little)
        std::memcpy(&head, base + start, 4);
      else
        head = name_key(text.substr(start, 3)) | static_cast<uint32_t>(base[start + 3]) << 24;
      for (const auto &[line_key, number] : line_keys_)
        if (head == line_key)
          take(number, start, end);
    } else if (end - start == 3) {
      const uint32_t key = name_key(text.substr(start, 3));
      for (const auto &[number, name] : occurrences_)
        if (key == name)
          take(number, start, end);
    }
    start = end + 1;
  }
  // In each line found, the separators up to the last field its paths name.
  for (const auto &[number, key] : occurrences_) {
    if (found_[number] == no_segment)
      continue;
    uint32_t *const out = seps_.data() + first_sep_[number];
    const uint32_t wanted = seps_wanted_[number], end = line_end_[number];
    uint32_t count = 0, at = line_start_[number] + 3;
    if (wanted == 0) {
      seps_found_[number] = 0;
      continue;
    }
#if defined(__SSE2__)
    // Whole blocks of the line (all of a block's separators written, then
    // the count checked), then its last bytes in one block where the text
    // has 16 bytes from there.
    for (; block16_before(at, end); at += 16) {
      for (uint32_t bits = equal_bytes16(base + at, sep); bits; bits &= bits - 1)
        out[count++] = at + static_cast<uint32_t>(std::countr_zero(bits));
      if (count >= wanted)
        break;
    }
    if (count < wanted && at < end && block16_before(size_t{at}, text.size())) {
      const uint32_t left = end - at;
      for (uint32_t bits = equal_bytes16(base + at, sep) & first_bytes16(left); bits; bits &= bits - 1)
        out[count++] = at + static_cast<uint32_t>(std::countr_zero(bits));
      at = end;
    }
#endif
    for (; count < wanted && at < end; ++at)
      if (base[at] == sep)
        out[count++] = at;
    seps_found_[number] = count;
  }
  std::string_view value;
  for (size_t c = 0; c < paths_.size(); ++c) {
    const uint32_t number = occurrence_[c];
    const TerserPath &path = paths_[c];
    bool present = found_[number] != no_segment;
    if (present && path.depth == 0) {
      value = text.substr(line_start_[number], 3);
    } else if (present) {
      FieldView field{enc.field.view(), &enc, true}; // MSH-1
      if (const uint32_t before = field_seps_[c]) {
        const uint32_t *const seps = seps_.data() + first_sep_[number];
        const uint32_t found = seps_found_[number];
        present = found >= before;
        if (present) {
          const uint32_t from = seps[before - 1] + 1;
          const uint32_t to = found > before ? seps[before] : line_end_[number];
          field = FieldView{text.substr(from, to - from), &enc, false};
        }
      }
      present = present && select_in_field(field, path, scratch_text_, value, readable_end);
    }
    if (present)
      columns_[c].append(value);
    else
      columns_[c].append_null();
  }
  ++rows_;
}

void TableBuilder::add_bad(std::string_view reason, const Origin &origin) {
  for (StringColumn &column : columns_)
    column.append_null();
  annotate(rows_++, origin, &reason);
}

void TableBuilder::annotate(size_t first, const Origin &origin, const std::string_view *reason) {
  for (size_t row = first; row < rows_; ++row) {
    if (options_.reasons) {
      if (reason)
        reasons_.append(*reason);
      else
        reasons_.append_null();
    }
    if (options_.provenance) {
      if (origin.file)
        files_.append(*origin.file);
      else
        files_.append_null();
      for (auto [column, value] : {std::pair{&ordinals_, origin.ordinal}, {&offsets_, origin.offset}}) {
        if (value < 0)
          column->append_null();
        else
          column->append(value);
      }
    }
  }
}

void TableBuilder::add_rows(const Message &message, const size_t *found_at) {
  std::string scratch;
  std::string_view value;
  // Consecutive paths on the same segment (PID-3, PID-5, ...) look it up once.
  uint32_t last = UINT32_MAX;
  SegmentView segment;
  bool found = false;
  auto select = [&](size_t c) {
    const TerserPath &path = paths_[c];
    if (occurrence_[c] != last) {
      if (found_at) {
        const size_t at = found_at[occurrence_[c]];
        found = at != no_segment;
        if (found)
          segment = message.segment_at(at);
      } else {
        found = find_segment(message, path.segment, path.repetition, segment);
      }
    }
    last = occurrence_[c];
    return found && select_value(segment, path, scratch, value);
  };

  if (rows_segment_.empty()) {
    for (size_t c = 0; c < paths_.size(); ++c) {
      if (select(c))
        columns_[c].append(value);
      else
        columns_[c].append_null();
    }
    ++rows_;
    return;
  }
  std::optional<MessageStructure> groups;
  std::optional<RowSegments> scope;
  bool first = true;
  for (size_t i = 0, n = message.segment_count(); i < n; ++i) {
    const SegmentEntry &e = message.segments[i];
    if (std::string_view(message.raw.data() + e.offset, e.name_length) != rows_segment_)
      continue;
    if (first) {
      first = false;
      if (options_.definitions) {
        const MessageKind kind = message_kind(*options_.definitions, message, {});
        if (kind.structure) {
          groups = match_structure(message, kind);
          scope.emplace(*groups, message, paths_.size());
        }
      }
      // Without its structure, the message's own values, the same in each
      // row; so too a named occurrence of the rows segment ("OBX(0)-3"),
      // which counts in the message, not in the row's group.
      for (size_t c = 0; c < paths_.size(); ++c)
        if (!per_row_[c] && (!groups || paths_[c].segment == rows_segment_) &&
            (present_[c] = select(c)))
          values_[c].assign(value);
    }
    const SegmentView occurrence = message.segment_at(i);
    for (size_t c = 0; c < paths_.size(); ++c) {
      bool present;
      if (per_row_[c]) {
        present = select_value(occurrence, paths_[c], scratch, value);
      } else if (groups && paths_[c].segment != rows_segment_) {
        const TerserPath &path = paths_[c];
        const uint32_t at = scope->find(static_cast<uint32_t>(i), c, path.segment, path.repetition);
        present = at != no_row_segment &&
                  select_value(message.segment_at(at), path, scratch, value);
      } else {
        present = present_[c];
        value = values_[c];
      }
      if (present)
        columns_[c].append(value);
      else
        columns_[c].append_null();
    }
    ++rows_;
  }
}

} // namespace vellomar
