#include "json_check.hpp"

#include <cstdint>

#include "check.hpp"
#include "reference.hpp"

namespace fuzz::json {
namespace {

class Reader {
public:
  Reader(std::string_view text, bool require_utf8, size_t max_depth)
      : text_(text), require_utf8_(require_utf8), max_depth_(max_depth) {}

  bool document() {
    skip_space();
    if (!value(0))
      return false;
    skip_space();
    if (pos_ != text_.size())
      return fault("text after the value");
    return true;
  }

  std::string error;

private:
  bool fault(const char *what) {
    error = std::string(what) + " at byte " + std::to_string(pos_);
    return false;
  }
  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }

  void skip_space() {
    while (!at_end() &&
           (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
      ++pos_;
  }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word)
      return fault("unknown literal");
    pos_ += word.size();
    return true;
  }

  bool value(size_t depth) {
    if (depth > max_depth_)
      return fault("nesting too deep");
    if (at_end())
      return fault("value expected");
    switch (peek()) {
    case '{':
      return object(depth);
    case '[':
      return array(depth);
    case '"':
      return string(scratch_);
    case 't':
      return literal("true");
    case 'f':
      return literal("false");
    case 'n':
      return literal("null");
    default:
      return number();
    }
  }

  bool digits() {
    size_t start = pos_;
    while (!at_end() && peek() >= '0' && peek() <= '9')
      ++pos_;
    return pos_ > start;
  }

  bool number() {
    if (!at_end() && peek() == '-')
      ++pos_;
    if (at_end())
      return fault("number expected");
    if (peek() == '0') {
      ++pos_;
    } else if (peek() >= '1' && peek() <= '9') {
      digits();
    } else {
      return fault("number expected");
    }
    if (!at_end() && peek() == '.') {
      ++pos_;
      if (!digits())
        return fault("digits expected after '.'");
    }
    if (!at_end() && (peek() == 'e' || peek() == 'E')) {
      ++pos_;
      if (!at_end() && (peek() == '+' || peek() == '-'))
        ++pos_;
      if (!digits())
        return fault("digits expected in exponent");
    }
    return true;
  }

  bool hex4(uint32_t &out) {
    if (text_.size() - pos_ < 4)
      return fault("four hex digits expected");
    out = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_++];
      uint32_t d;
      if (c >= '0' && c <= '9')
        d = static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        d = static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        d = static_cast<uint32_t>(c - 'A' + 10);
      else
        return fault("hex digit expected");
      out = out * 16 + d;
    }
    return true;
  }

  bool string(std::string &out) {
    ++pos_; // opening quote
    out.clear();
    size_t run = pos_;
    for (;;) {
      if (at_end())
        return fault("unterminated string");
      auto c = static_cast<unsigned char>(peek());
      if (c == '"') {
        out.append(text_.substr(run, pos_ - run));
        ++pos_;
        break;
      }
      if (c < 0x20)
        return fault("control character in string");
      if (c != '\\') {
        ++pos_;
        continue;
      }
      out.append(text_.substr(run, pos_ - run));
      ++pos_;
      if (at_end())
        return fault("escape expected");
      char e = text_[pos_++];
      switch (e) {
      case '"':
      case '\\':
      case '/':
        out.push_back(e);
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        uint32_t cp = 0;
        if (!hex4(cp))
          return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF)
          return fault("lone low surrogate");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          uint32_t low = 0;
          if (text_.substr(pos_, 2) != "\\u")
            return fault("lone high surrogate");
          pos_ += 2;
          if (!hex4(low))
            return false;
          if (low < 0xDC00 || low > 0xDFFF)
            return fault("high surrogate without low surrogate");
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        fuzz::ref::append_utf8(out, static_cast<char32_t>(cp));
        break;
      }
      default:
        return fault("unknown escape");
      }
      run = pos_;
    }
    if (require_utf8_ && !valid_utf8(out))
      return fault("string is not valid UTF-8");
    return true;
  }

  bool array(size_t depth) {
    ++pos_;
    skip_space();
    if (!at_end() && peek() == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      skip_space();
      if (!value(depth + 1))
        return false;
      skip_space();
      if (at_end())
        return fault("unterminated array");
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == ']') {
        ++pos_;
        return true;
      }
      return fault("',' or ']' expected");
    }
  }

  bool object(size_t depth) {
    ++pos_;
    skip_space();
    if (!at_end() && peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      skip_space();
      if (at_end() || peek() != '"')
        return fault("key expected");
      if (!string(scratch_))
        return false;
      skip_space();
      if (at_end() || peek() != ':')
        return fault("':' expected");
      ++pos_;
      skip_space();
      if (!value(depth + 1))
        return false;
      skip_space();
      if (at_end())
        return fault("unterminated object");
      if (peek() == ',') {
        ++pos_;
        continue;
      }
      if (peek() == '}') {
        ++pos_;
        return true;
      }
      return fault("',' or '}' expected");
    }
  }

  std::string_view text_;
  std::string scratch_; // the decoded text of the string last read
  bool require_utf8_;
  size_t max_depth_;
  size_t pos_ = 0;
};

void dump_string(std::string &out, const std::string &text) {
  static constexpr char hex[] = "0123456789abcdef";
  out.push_back('"');
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\b':
      out += "\\b";
      break;
    case '\f':
      out += "\\f";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (c < 0x20) {
        out += "\\u00";
        out.push_back(hex[c >> 4]);
        out.push_back(hex[c & 15]);
      } else {
        out.push_back(ch);
      }
    }
  }
  out.push_back('"');
}

void dump(std::string &out, const Value &v, size_t level) {
  auto newline = [&](size_t l) {
    out.push_back('\n');
    out.append(2 * l, ' ');
  };
  switch (v.kind) {
  case Value::Kind::string:
    dump_string(out, v.text);
    return;
  case Value::Kind::array:
    if (v.items.empty()) {
      out += "[]";
      return;
    }
    out.push_back('[');
    for (size_t i = 0; i < v.items.size(); ++i) {
      if (i)
        out.push_back(',');
      newline(level + 1);
      dump(out, v.items[i], level + 1);
    }
    newline(level);
    out.push_back(']');
    return;
  case Value::Kind::object:
    if (v.keys.empty()) {
      out += "{}";
      return;
    }
    out.push_back('{');
    for (size_t i = 0; i < v.keys.size(); ++i) {
      if (i)
        out.push_back(',');
      newline(level + 1);
      dump_string(out, v.keys[i]);
      out += ": ";
      dump(out, v.values[i], level + 1);
    }
    newline(level);
    out.push_back('}');
    return;
  }
}

} // namespace

bool validate(std::string_view text, std::string &error, bool require_utf8,
              size_t max_depth) {
  Reader reader(text, require_utf8, max_depth);
  if (reader.document())
    return true;
  error = reader.error;
  return false;
}

std::string dump_indented(const Value &value) {
  std::string out;
  dump(out, value, 0);
  return out;
}

} // namespace fuzz::json
