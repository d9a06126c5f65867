// The batch splitter and parser. Oracles: every text is non-empty, its lines
// joined by single CRs, and (after the first) begins with "MSH"; no text grows;
// parse_batch_each gives what parse_message gives for each text that begins with
// "MSH" after trim_message_text, up to the first failure, reported with the batch prefix;
// cut in two at a message start (as files are cut into ranges), the halves give
// the messages of the whole.

#include "batch.hpp"
#include "check.hpp"
#include "parser.hpp"
#include "text.hpp"

using namespace vellomar;

namespace {

// The texts of `raw` that are messages, ready to parse.
std::vector<std::string> message_texts(std::string_view raw) {
  std::vector<std::string> out;
  for (const std::string &whole : split_batch(raw))
    if (std::string_view t = whole; trim_message_text(t))
      out.emplace_back(t);
  return out;
}

} // namespace

FUZZ_ENTRY {
  std::string_view raw(reinterpret_cast<const char *>(data), size);
  std::vector<std::string> texts = split_batch(raw);
  std::vector<Message> expected;
  std::string failure;
  size_t total = 0;
  for (const std::string &t : texts) {
    FUZZ_CHECK(!t.empty() && t.find('\n') == t.npos && t.find("\r\r") == t.npos &&
                   t.front() != '\r' && t.back() != '\r' &&
                   (total == 0 || t.starts_with("MSH")),
               t);
    total += t.size();
    std::string_view trimmed = t;
    if (!trim_message_text(trimmed) || !failure.empty())
      continue;
    if (auto one = parse_message(trimmed); one)
      expected.push_back(std::move(one).value());
    else
      failure = "Error parsing message in batch: " + one.error().message;
  }
  std::vector<Message> batch;
  const std::optional<Error> error = parse_batch_each(raw, [&](Message &&message) {
    batch.push_back(std::move(message));
    return true;
  });
  FUZZ_CHECK(total <= raw.size() && !error == failure.empty() &&
                 (error ? error->kind == ErrorKind::value_error && error->message == failure
                        : batch.size() == expected.size()),
             raw);
  for (size_t i = 0; !error && i < expected.size(); ++i)
    FUZZ_CHECK(batch[i].raw == expected[i].raw, raw);
  if (const size_t cut = next_message_start(raw, size / 2); cut != std::string_view::npos) {
    std::vector<std::string> halves = message_texts(raw.substr(0, cut));
    for (std::string &t : message_texts(raw.substr(cut)))
      halves.push_back(std::move(t));
    FUZZ_CHECK(halves == message_texts(raw), raw);
  }
  return 0;
}
