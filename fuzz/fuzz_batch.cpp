// The batch splitter and batch parser on arbitrary bytes.
//
// Oracles: every message text is non-empty, begins a line with "MSH" (after
// the lines that stood before the first MSH line), and holds no line feed;
// the texts equal those of the reference splitter on valid UTF-8; parse_batch
// gives exactly the messages that parse_message gives for the trimmed texts,
// or fails with "Error parsing message in batch: " and the error of the first
// text that does not parse.
#include <string>
#include <string_view>

#include "batch.hpp"
#include "check.hpp"
#include "json_writer.hpp"
#include "parser.hpp"
#include "reference.hpp"
#include "text.hpp"

using namespace vellomar;
using fuzz::show;

FUZZ_ENTRY {
  std::string_view raw(reinterpret_cast<const char *>(data), size);
  std::vector<std::string> texts = split_batch(raw);
  size_t total = 0;
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string &t = texts[i];
    FUZZ_CHECK(!t.empty() && t.find('\n') == std::string::npos, show(t));
    FUZZ_CHECK(t.find("\r\r") == std::string::npos && t.front() != '\r' &&
                   t.back() != '\r',
               show(t));
    FUZZ_CHECK(i == 0 || t.compare(0, 3, "MSH") == 0, show(t));
    total += t.size();
  }
  FUZZ_CHECK(total <= raw.size(), std::to_string(total)); // no text grows

  auto batch = parse_batch(raw);
  // What parse_batch must give: the texts that begin with "MSH" after
  // trimming, each parsed alone, up to the first failure.
  std::vector<Message> expected;
  std::string failure;
  for (const std::string &t : texts) {
    std::string_view trimmed = trim_white_space(t);
    if (trimmed.substr(0, 3) != "MSH")
      continue;
    auto one = parse_message(trimmed);
    if (!one) {
      failure = "Error parsing message in batch: " + one.error().message;
      break;
    }
    expected.push_back(std::move(one).value());
  }
  if (!failure.empty()) {
    FUZZ_CHECK(!batch.ok() && batch.error().kind == ErrorKind::value_error &&
                   batch.error().message == failure,
               show(raw) + " expected " + show(failure));
  } else {
    FUZZ_CHECK(batch.ok(), show(raw) + " failed with " + show(batch.error().message));
    const std::vector<Message> &got = batch.value();
    FUZZ_CHECK(got.size() == expected.size(), show(raw));
    for (size_t i = 0; i < got.size(); ++i)
      FUZZ_CHECK(got[i].raw == expected[i].raw &&
                     write_message_json(got[i]).view() == write_message_json(expected[i]).view(),
                 show(got[i].raw));
  }

  if (!fuzz::valid_utf8(raw))
    return 0;
  std::vector<std::string> reference = fuzz::ref::split_batch(raw);
  FUZZ_CHECK(reference == texts, show(raw));
  return 0;
}
