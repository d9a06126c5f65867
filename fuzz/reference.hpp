// Reference models for the differential oracles of the fuzz targets.
//
// Each model is the plainest possible rendering of the documented behaviour:
// whole strings, whole vectors, text walked as Unicode scalar values, no
// views, no laziness, no searching tricks. The core must agree with them on
// every valid UTF-8 input. They are slow and only for inputs of fuzzing size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz::ref {

using Text = std::u32string;

// Strict UTF-8 to scalar values and back. decode_utf8 returns false on
// invalid input.
bool decode_utf8(std::string_view in, Text &out);
std::string encode_utf8(const Text &in);
void append_utf8(std::string &out, char32_t cp);

struct Enc {
  char32_t field, component, repetition, escape, sub_component;
};

// Escape decoding, character by character.
Text decode_escapes(const Text &text, const Enc &enc);
std::string decode_escapes_utf8(std::string_view text, const Enc &enc);

struct Component {
  std::string value;
  std::vector<std::string> sub_components;
};
struct Field {
  std::string value;
  std::vector<Component> components;
  std::vector<Field> repetitions;
};
struct Segment {
  std::string name;
  std::vector<Field> fields;
};
struct Message {
  std::string raw;
  std::vector<Segment> segments;
};

// Outcome of a parse: the tree, or the error text. For the MSH check the
// error is given as the whole first line in `msh_line`, since where a shown
// prefix is cut inside a multi-byte character is left open.
struct Parsed {
  bool ok = false;
  std::string error;    // exact text for the other three errors
  std::string msh_line; // set when the first line does not begin with "MSH"
  Message message;
};

// The whole message parser. `raw` must be valid UTF-8.
Parsed parse(std::string_view raw);

// A terser query on a reference tree: the string, or the error kind
// ('V'alue, 'K'ey, 'I'ndex) and text.
struct Query {
  bool ok = false;
  char kind = 0;
  std::string text; // the result or the error message
};
Query terser(const Message &m, std::string_view path);

// Unicode White_Space trim of both ends (valid UTF-8 only).
std::string trim(std::string_view text);

struct Date {
  int year, month, day;
};
struct DateTime {
  int year, month, day, hour, minute, second, microsecond;
  std::optional<int> offset;
};
// Timestamp reading: the parts, or the error text in `error`.
std::optional<Date> parse_date(std::string_view raw, std::string &error);
std::optional<DateTime> parse_datetime(std::string_view raw, std::string &error);

// The message texts of a batch.
std::vector<std::string> split_batch(std::string_view raw);

} // namespace fuzz::ref
