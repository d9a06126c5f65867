// A small strict JSON checker (RFC 8259) for the oracles of the fuzz targets,
// and the indented writer that Python's json.dumps(value, indent=2,
// ensure_ascii=False) amounts to, so that a text can be checked both for being
// JSON and for being written in exactly that form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fuzz::json {

// A document to write: strings, arrays and objects are all the oracles need.
struct Value {
  enum class Kind { string, array, object };
  Kind kind = Kind::string;
  std::string text;              // a string's UTF-8 text
  std::vector<Value> items;      // array elements
  std::vector<std::string> keys; // object members in order: keys[i]
  std::vector<Value> values;     // and values[i]

  static Value string(std::string s) {
    Value v;
    v.text = std::move(s);
    return v;
  }
  static Value array() {
    Value v;
    v.kind = Kind::array;
    return v;
  }
  static Value object() {
    Value v;
    v.kind = Kind::object;
    return v;
  }
};

// Checks one JSON text. Strict: the grammar of RFC 8259 exactly, no control
// characters in strings, escapes only the nine defined ones, \u surrogates
// only as proper pairs, nesting at most `max_depth` deep. With `require_utf8`
// the strings must also be valid UTF-8 once unescaped. On failure returns
// false and describes the first fault in `error`.
bool validate(std::string_view text, std::string &error, bool require_utf8 = true,
              size_t max_depth = 64);

// The text of json.dumps(value, indent=2, ensure_ascii=False).
std::string dump_indented(const Value &value);

} // namespace fuzz::json
