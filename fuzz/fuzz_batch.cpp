// The batch splitter and parser. Oracles: every text is non-empty, its lines
// joined by single CRs, and (after the first) begins with "MSH"; no text grows;
// parse_batch gives what parse_message gives for each text that begins with
// "MSH" after trim_message_text, up to the first failure, reported with the batch prefix.

#include "batch.hpp"
#include "check.hpp"
#include "parser.hpp"
#include "text.hpp"

using namespace vellomar;

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
    std::string trimmed = t;
    if (!trim_message_text(trimmed) || !failure.empty())
      continue;
    if (auto one = parse_message(trimmed); one)
      expected.push_back(std::move(one).value());
    else
      failure = "Error parsing message in batch: " + one.error().message;
  }
  auto batch = parse_batch(raw);
  FUZZ_CHECK(total <= raw.size() && batch.ok() == failure.empty() &&
                 (batch ? batch.value().size() == expected.size()
                        : batch.error().kind == ErrorKind::value_error &&
                              batch.error().message == failure),
             raw);
  for (size_t i = 0; batch && i < expected.size(); ++i)
    FUZZ_CHECK(batch.value()[i].raw == expected[i].raw, raw);
  return 0;
}
