// Terser paths ("PID-5-1", "OBX(1)-3-2-1") and the header fields of MSH.
//
// A path names one string of a message: a segment by name with an optional
// 0-based repetition in parentheses, then a field, a component and a
// sub-component by 1-based number, joined by hyphens. Lookups run on views of
// the message; the selected string is handed out as a view.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "records.hpp"
#include "result.hpp"

namespace vellomar {

// The string selected by `path`, or the first failure in this order:
// ValueError "Empty terser path"; ValueError "Invalid segment repetition:
// '{part}'" when the first ")" of the segment part stands before its first
// "("; KeyError "Segment '{name}' not found"; IndexError "Segment '{name}'
// repetition {n} not found (have {count})"; then for field, component and
// sub-component in turn ValueError "Invalid {what} index: '{piece}'" and the
// IndexError "{What} index {i} out of range (1..{count})". Pieces after the
// fourth are ignored. The string is a view into `message` or, where escapes
// were decoded, into `scratch`: the lookup itself copies nothing.
Result<std::string_view> terser_get(const Message &message, std::string_view path,
                                    std::string &scratch);

// The index of the segment that is repetition `repetition` (0-based) of
// those named `name`, or no_segment with `count` the number so named.
constexpr size_t no_segment = static_cast<size_t>(-1);
size_t segment_index(const Message &message, std::string_view name, uint64_t repetition,
                     size_t &count);

// The same index, or KeyError "Segment '{name}' not found" or IndexError
// "Segment '{name}' repetition {n} not found (have {count})".
Result<size_t> find_segment(const Message &message, std::string_view name,
                            uint64_t repetition);

// A path read once, for lookups in many messages: the segment name and
// repetition, and `depth` numbers (field, component, sub-component; 0 to 3).
struct TerserPath {
  std::string segment;
  uint64_t repetition = 0;
  size_t depth = 0;
  uint64_t index[3] = {0, 0, 0};
};

// Reads `path` by the rules of terser_get, failing with its ValueErrors
// ("Empty terser path", "Invalid segment repetition: '{part}'", "Invalid
// {what} index: '{piece}'"); an index of 0, which can select nothing, is
// an invalid index too.
Result<TerserPath> parse_terser_path(std::string_view path);

// The decoded value that `path` selects in `segment` (one that carries the
// path's segment name), in `out` (a view into the segment or `scratch`);
// false when the field, component or sub-component is missing.
bool select_value(const SegmentView &segment, const TerserPath &path, std::string &scratch,
                  std::string_view &out);
// The same in `field`, the path's field (depth 1 or more) found beforehand.
// `readable_end`, if not null, ends the bytes that may be read past the
// field's end (those of its message): its components are then found 16
// bytes at a time.
bool select_in_field(const FieldView &field, const TerserPath &path, std::string &scratch,
                     std::string_view &out, const char *readable_end = nullptr);

// Reads a path number: an optional single "+", then one or more ASCII digits
// (leading zeros allowed) whose value fits in 64 unsigned bits. Returns false
// for anything else, leaving `out` unchanged.
bool parse_path_number(std::string_view text, uint64_t &out);

// MSH-`number` of the first segment named "MSH", as a view into `message`.
// Fails with KeyError "Segment 'MSH' not found" or IndexError "Field index
// {number} out of range (1..{count})".
Result<FieldView> header_field(const Message &message, uint64_t number);

// Whether `name` is a segment name: three ASCII capital letters or digits.
// Every path of the package's functions is held to it (a lookup on a record
// only finds no such segment).
bool is_segment_name(std::string_view name);

// The syntax error of `path` that no message can answer, or nothing: first
// the errors of parse_terser_path, then "Invalid segment name: '{name}'"
// unless the name is three ASCII capital letters or digits, then "Invalid
// segment repetition: '{part}'" unless anything after the name is a path
// number in parentheses that ends the segment part. All are ValueErrors.
std::optional<Error> check_terser_path(std::string_view path);

} // namespace vellomar
