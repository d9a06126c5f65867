// Tables: the input is a batch, NUL, the rows segment (a line, maybe empty),
// then paths one a line. Oracles: every cell equals what terser_get finds at
// its path in its message (for a path on the rows segment without a
// repetition: in that row's occurrence), null exactly where the lookup fails; the null count and the
// offsets agree with the cells; a refused path is refused by check_terser_path;
// rows read from the texts in place (add_text) equal the rows of the parsed
// messages, and a text is read in place only where it parses.
#include "batch.hpp"
#include "check.hpp"
#include "parser.hpp"
#include "table.hpp"

using namespace vellomar;

FUZZ_ENTRY {
  std::string_view input(reinterpret_cast<const char *>(data), size);
  const size_t nul = input.find('\0');
  if (nul == input.npos)
    return 0;
  std::string_view spec = input.substr(nul + 1);
  const std::string_view rows = spec.substr(0, spec.find('\n'));
  std::vector<std::string_view> paths;
  for (size_t start = rows.size() + 1; start <= spec.size() && paths.size() < 16;) {
    const size_t end = std::min(spec.find('\n', start), spec.size());
    paths.push_back(spec.substr(start, end - start));
    start = end + 1;
  }
  auto created = TableBuilder::create(paths, rows);
  if (!created) {
    bool refused = !rows.empty() && (rows.size() != 3 || check_terser_path(rows));
    for (std::string_view p : paths)
      refused = refused || check_terser_path(p);
    FUZZ_CHECK(refused && created.error().kind == ErrorKind::value_error, created.error().message);
    return 0;
  }
  TableBuilder &table = created.value();
  TableBuilder in_place = table.empty_copy(), known_lines = table.empty_copy();
  std::vector<Message> messages;
  for (const std::string &whole : split_batch(input.substr(0, nul))) {
    std::string_view text = whole;
    if (auto m = trim_message_text(text) ? parse_message(text) : Error{}; m && messages.size() < 8) {
      messages.push_back(std::move(m).value()), table.add(messages.back());
      if (!in_place.add_text(text))
        in_place.add(messages.back());
      // With its line ends, as the cutter hands them over: read without an index.
      std::vector<uint32_t> ends;
      for (size_t at = text.find('\r'); at != text.npos; at = text.find('\r', at + 1))
        ends.push_back(static_cast<uint32_t>(at));
      ends.push_back(static_cast<uint32_t>(text.size()));
      if (!known_lines.add_text(text, {}, ends))
        known_lines.add(messages.back());
    } else if (messages.size() < 8) {
      FUZZ_CHECK(!in_place.add_text(text), text);
    }
  }
  for (const TableBuilder *read : {&in_place, &known_lines}) {
    FUZZ_CHECK(read->rows() == table.rows(), "rows read in place");
    for (size_t c = 0; c < paths.size(); ++c) {
      const StringColumn &a = table.columns()[c], &b = read->columns()[c];
      FUZZ_CHECK(a.offsets == b.offsets && a.data == b.data && a.validity.bits == b.validity.bits,
                 paths[c]);
    }
  }

  size_t row = 0;
  std::vector<int64_t> nulls(paths.size());
  std::string scratch;
  auto check_row = [&](const Message &m, std::optional<size_t> occurrence) {
    FUZZ_CHECK(row < table.rows(), "too few rows");
    for (size_t c = 0; c < paths.size(); ++c) {
      std::string path(paths[c]);
      const std::string_view part = paths[c].substr(0, paths[c].find('-'));
      if (occurrence && part == rows) // a named repetition reads that one, in every row
        path = std::string(rows) + "(" + std::to_string(*occurrence) + ")" +
               std::string(paths[c].substr(part.size()));
      auto expected = terser_get(m, path, scratch);
      const StringColumn &column = table.columns()[c];
      FUZZ_CHECK(column.is_null(row) == !expected.ok(), path);
      FUZZ_CHECK(!expected || column.value(row) == expected.value(), path);
      FUZZ_CHECK(expected || column.value(row).empty(), path);
      nulls[c] += !expected;
    }
    ++row;
  };
  for (const Message &m : messages) {
    if (rows.empty()) {
      check_row(m, std::nullopt);
      continue;
    }
    size_t occurrence = 0;
    for (size_t i = 0; i < m.segment_count(); ++i)
      if (m.segment_at(i).name == rows)
        check_row(m, occurrence++);
  }
  FUZZ_CHECK(row == table.rows(), "too many rows");
  for (size_t c = 0; c < paths.size(); ++c)
    FUZZ_CHECK(table.columns()[c].validity.nulls == nulls[c] && table.columns()[c].rows() == row, paths[c]);
  return 0;
}
