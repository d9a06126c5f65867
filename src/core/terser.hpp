// Terser paths ("PID-5-1", "OBX(1)-3-2-1") and the header fields of MSH.
//
// A path names one string of a message: a segment by name with an optional
// 0-based repetition in parentheses, then a field, a component and a
// sub-component by 1-based number, joined by hyphens. Lookups run on views of
// the message; only the selected string is copied out.
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
// fourth are ignored.
Result<std::string> terser_get(const Message &message, std::string_view path);

// Reads a path number: an optional single "+", then one or more ASCII digits
// (leading zeros allowed) whose value fits in 64 unsigned bits. Returns false
// for anything else, leaving `out` unchanged.
bool parse_path_number(std::string_view text, uint64_t &out);

// MSH-`number` of the first segment named "MSH", as a view into `message`.
// Fails with KeyError "Segment 'MSH' not found" or IndexError "Field index
// {number} out of range (1..{count})".
Result<FieldView> header_field(const Message &message, uint64_t number);

// The syntax error of `path` that no message can answer, or nothing: ValueError
// "Empty terser path"; "Invalid segment name: '{name}'" unless the name is
// three ASCII capital letters or digits; "Invalid segment repetition:
// '{part}'" unless a "(" after the name holds a path number and closes the
// part; then "Invalid {what} index: '{piece}'" as terser_get words it. Pieces
// after the fourth are ignored, as terser_get ignores them.
std::optional<Error> check_terser_path(std::string_view path);

} // namespace vellomar
