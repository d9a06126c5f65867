// Changing a message: values stored by path, spliced into its raw text, and
// the values of a path across the repetitions of a field.
//
// Edit paths extend the terser grammar by repetitions:
//   SEG[(n)]-F[(r)][-C[-S]]   or   SEG(+)-F[(r)][-C[-S]]
// n is the 0-based repetition of the segment, r the 0-based repetition of the
// field, and "(+)" names one new segment appended after the last one (every
// change naming SEG(+) in one edit goes into that same new segment). Numbers
// are 1..65535 for field, component and sub-component and 0..65534 for the
// field repetition; more is refused rather than padded. Without "(r)" a field
// path names the whole field (all its repetitions) and a component path the
// first repetition's component, as in lookups.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "records.hpp"
#include "result.hpp"

namespace vellomar {

// A growing sequence of trivially copyable items that stays on the stack up
// to N of them: an edit usually has a handful of changes, and a heap
// allocation would cost as much as a change.
template <class T, size_t N> class SmallVector {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
  SmallVector() {}
  void push_back(const T &item) {
    if (size_ < N) {
      inline_.items[size_] = item;
    } else {
      if (size_ == N)
        heap_.assign(inline_.items, inline_.items + N);
      heap_.push_back(item);
    }
    ++size_;
  }
  T *data() { return size_ <= N ? inline_.items : heap_.data(); }
  size_t size() const { return size_; }
  std::span<T> items() { return {data(), size_}; }

private:
  union Inline {
    Inline() {} // left uninitialised: only pushed items are read
    T items[N];
  } inline_;
  std::vector<T> heap_;
  size_t size_ = 0;
};

struct Change {
  std::string_view path;
  std::optional<std::string_view> value; // nullopt empties the element
};

// `message` with every change applied to its raw text: each value escaped
// with the message's own delimiters and stored at its path, padding with
// empty elements past the end of a segment, a field, a repetition or a
// component. Text outside the changed elements is copied byte for byte; the
// result is indexed as the parser would index its text.
// Failures, the first in the order of `changes` (conflicts afterwards):
// ValueError for a malformed path ("Empty terser path", "Invalid segment
// repetition: '...'", "Invalid {field,component,sub-component} index: '...'",
// "Path names no field: '...'", "Path has more than four parts: '...'",
// "Invalid segment name: '...'"), for "MSH-1 and MSH-2 hold the delimiters
// and cannot be set: '...'" and "An MSH segment cannot be appended: '...'";
// KeyError "Segment '{name}' not found"; IndexError "Segment '{name}'
// repetition {n} not found (have {count})"; ValueError "Conflicting changes:
// '{a}' and '{b}'" when two paths name the same element or one lies inside
// the other. Before all of these, the ValueError of check_delimiters for a
// message whose delimiters are not distinct ASCII punctuation.
Result<Message> edit_message(const Message &message, std::span<const Change> changes);

// The decoded value at `path` (edit grammar without "(r)" and "(+)") in every
// repetition of the field, in order; a field that does not repeat is its own
// one repetition. Empty when the message lacks the segment, its repetition
// or the field; "" for a repetition lacking the component or sub-component.
// The ValueErrors of edit_message for a malformed path, plus
// ValueError "Path names a field repetition: '...'" and "Path names no field:
// '...'".
Result<std::vector<std::string>> field_values(const Message &message, std::string_view path);

// The text of the element that `path` names as it stands in the message:
// escapes and inner delimiters kept, as a view into `message`. The grammar is
// that of edit_message without "(+)", and a segment part alone ("PID",
// "OBX(2)") names the whole segment line, without its line end. As in
// lookups, a field path without "(r)" names the whole field (every
// repetition) and a component path the component of the first repetition;
// with "(r)" (0-based) a field that does not repeat is its own repetition 0.
// Failures: the ValueErrors of edit_message for a malformed path ("(+)" is
// an invalid segment repetition), then the lookups' KeyError "Segment
// '{name}' not found" and IndexError "Segment '{name}' repetition {n} not
// found (have {count})" and "{Field,Component,Sub-component} index {i} out
// of range (1..{count})", and IndexError "Field repetition {r} not found
// (have {count})".
Result<std::string_view> element_text(const Message &message, std::string_view path);

} // namespace vellomar
