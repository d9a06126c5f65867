// Tables from messages: columns of strings selected by terser paths, built
// straight from the message records in the layout of Arrow's large_string
// arrays (64-bit offsets, UTF-8 data, a validity bitmap), so that they can
// be handed out without a copy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records.hpp"
#include "result.hpp"
#include "terser.hpp"

namespace vellomar {

struct StringColumn {
  std::vector<int64_t> offsets{0}; // rows + 1 entries
  std::string data;
  std::vector<uint8_t> validity;   // bit i set: row i has a value; empty while no null
  int64_t nulls = 0;

  size_t rows() const { return offsets.size() - 1; }
  bool is_null(size_t row) const {
    return !validity.empty() && !(validity[row / 8] >> (row % 8) & 1);
  }
  std::string_view value(size_t row) const {
    return std::string_view(data).substr(static_cast<size_t>(offsets[row]),
                                         static_cast<size_t>(offsets[row + 1] - offsets[row]));
  }
  void append(std::string_view value);
  void append_null();
};

class TableBuilder {
public:
  // Reads the paths first (a malformed one fails with its ValueError);
  // `rows` names the segment that gives one row per occurrence, or is empty
  // for one row per message.
  static Result<TableBuilder> create(const std::vector<std::string_view> &paths,
                                     std::string_view rows);

  // Appends the rows of one message. What a path selects is null where the
  // message lacks the segment, repetition, field, component or sub-component.
  void add(const Message &message);

  const std::vector<StringColumn> &columns() const { return columns_; }
  size_t rows() const { return rows_; }

private:
  std::vector<TerserPath> paths_;
  std::vector<bool> per_row_; // the path reads from the rows segment's occurrence
  std::string rows_segment_;
  std::vector<StringColumn> columns_;
  size_t rows_ = 0;
  // Per-message values of the other paths in rows mode.
  std::vector<std::string> values_;
  std::vector<bool> present_;
};

} // namespace vellomar
