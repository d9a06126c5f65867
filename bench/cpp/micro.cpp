// Micro-benchmark of the core alone: the parser, the escape decoder and the
// JSON writer, each against a memchr scan of the same bytes.
//
//   vellomar_micro [--repeats N] [--bytes B] [FILE | DIRECTORY]...
//
// Every file (every *.hl7 file of a directory) is one input; a file whose
// text begins with FHS or BHS is a batch and is also timed with parse_batch.
// Without inputs a built-in ADT^A01 is used. `python bench/corpus.py --write
// DIR` writes the corpus of the Python benchmark as such files.
//
// Each case runs a fixed number of iterations (about B bytes of input per
// repeat, 32 MiB unless --bytes says otherwise), N times over (9 unless
// --repeats says otherwise); the table shows the median time per operation,
// the fastest and slowest repeat, the input throughput and the ratio to one
// memchr pass over the same bytes. The loop is its own, not pyperf's: pyperf
// times Python callables or whole commands, and this times the core's
// functions with neither Python nor a process start in between.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "batch.hpp"
#include "escape.hpp"
#include "json_writer.hpp"
#include "parser.hpp"
#include "records.hpp"

namespace {

using namespace vellomar;

// Keeps the compiler from dropping a computation whose result is unused.
template <class T> inline void keep(const T &value) {
  asm volatile("" : : "r,m"(value) : "memory");
}

struct Input {
  std::string name;
  std::string text;
  bool batch = false;
};

struct Timing {
  double median_ns = 0, min_ns = 0, max_ns = 0;
  size_t iterations = 0;
};

Timing time_case(size_t iterations, int repeats, const std::function<void()> &op) {
  using clock = std::chrono::steady_clock;
  for (size_t i = 0; i < std::max<size_t>(1, iterations / 10); ++i) // warm-up
    op();
  std::vector<double> per_op;
  for (int r = 0; r < repeats; ++r) {
    auto start = clock::now();
    for (size_t i = 0; i < iterations; ++i)
      op();
    std::chrono::duration<double, std::nano> elapsed = clock::now() - start;
    per_op.push_back(elapsed.count() / static_cast<double>(iterations));
  }
  std::sort(per_op.begin(), per_op.end());
  Timing t;
  size_t n = per_op.size();
  t.median_ns = n % 2 ? per_op[n / 2] : (per_op[n / 2 - 1] + per_op[n / 2]) / 2;
  t.min_ns = per_op.front();
  t.max_ns = per_op.back();
  t.iterations = iterations;
  return t;
}

std::string format_ns(double ns) {
  char buf[32];
  if (ns >= 1e6)
    std::snprintf(buf, sizeof buf, "%.3g ms", ns / 1e6);
  else if (ns >= 1e3)
    std::snprintf(buf, sizeof buf, "%.3g us", ns / 1e3);
  else
    std::snprintf(buf, sizeof buf, "%.3g ns", ns);
  return buf;
}

void print_row(const std::string &input, const char *what, size_t bytes,
               const Timing &t, double memchr_ns) {
  std::string spread = format_ns(t.min_ns) + ".." + format_ns(t.max_ns);
  double mb_s = static_cast<double>(bytes) / t.median_ns * 1e3;
  std::printf("%-12s %-34s %10s %22s %9.1f %9.2f %9zu\n", input.c_str(), what,
              format_ns(t.median_ns).c_str(), spread.c_str(), mb_s,
              t.median_ns / memchr_ns, t.iterations);
}

// Every field value of the message, decoded where it holds the escape
// character: the fast path (scan, no copy) and the decoder together.
size_t decode_all_fields(const Message &m, std::string &scratch) {
  size_t total = 0;
  for (size_t i = 0; i < m.segment_count(); ++i)
    m.segment_at(i).for_each_field(
        [&](const FieldView &f) { total += f.value(scratch).size(); });
  return total;
}

void run_input(const Input &in, int repeats, size_t budget) {
  std::string_view text = in.text;
  const size_t bytes = text.size();
  const size_t iterations = std::max<size_t>(1, budget / std::max<size_t>(1, bytes));

  // One memory pass: memchr for a byte that never occurs in HL7 text.
  Timing pass = time_case(iterations, repeats, [&] {
    keep(std::memchr(text.data(), '\0', text.size()));
  });
  print_row(in.name, "memchr pass (baseline)", bytes, pass, pass.median_ns);

  // memchr visiting every field separator: the least a field index costs.
  Timing bars = time_case(iterations, repeats, [&] {
    size_t n = 0;
    const char *p = text.data();
    const char *end = p + text.size();
    while (const void *hit = std::memchr(p, '|', static_cast<size_t>(end - p))) {
      ++n;
      p = static_cast<const char *>(hit) + 1;
    }
    keep(n);
  });
  print_row(in.name, "memchr every '|'", bytes, bars, pass.median_ns);

  if (in.batch) {
    Timing t = time_case(std::max<size_t>(1, iterations / 4), repeats, [&] {
      std::vector<Message> messages;
      const auto error = parse_batch_each(text, [&](Message &&m) {
        messages.push_back(std::move(m));
        return true;
      });
      keep(!error && !messages.empty());
    });
    print_row(in.name, "parse_batch", bytes, t, pass.median_ns);
    return;
  }

  auto parsed = parse_message(text);
  if (!parsed) {
    std::printf("%-12s parse failed: %s\n", in.name.c_str(), parsed.error().message.c_str());
    return;
  }
  const Message &msg = parsed.value();

  Timing parse = time_case(iterations, repeats, [&] {
    auto r = parse_message(text);
    keep(r.ok());
  });
  print_row(in.name, "parse_message", bytes, parse, pass.median_ns);

  std::string scratch;
  Timing fields = time_case(iterations, repeats, [&] {
    keep(decode_all_fields(msg, scratch));
  });
  print_row(in.name, "field values (decoded_view)", bytes, fields, pass.median_ns);

  std::string out;
  Timing decode = time_case(iterations, repeats, [&] {
    out.clear();
    append_decoded(out, text, msg.enc);
    keep(out.data());
  });
  print_row(in.name, "decode_escapes (whole text)", bytes, decode, pass.median_ns);

  const std::string json(write_message_json(msg).view());
  // The writer into storage kept from one call to the next, as to_json keeps it per thread.
  JsonBuffer json_out;
  Timing writer = time_case(std::max<size_t>(1, iterations / 8), repeats, [&] {
    write_message_json(msg, json_out);
    keep(json_out.view().data());
  });
  char label[64];
  std::snprintf(label, sizeof label, "write_message_json (%.1fx out)",
                static_cast<double>(json.size()) / static_cast<double>(bytes));
  print_row(in.name, label, bytes, writer, pass.median_ns);
}

bool read_file(const std::filesystem::path &path, std::string &out) {
  std::ifstream f(path, std::ios::binary);
  if (!f)
    return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  out = ss.str();
  return true;
}

const char *builtin_adt =
    "MSH|^~\\&|ADTAPP|GENHOSP^1.2.840.114350.1.13^ISO|RECVAPP|RECVFAC|20240714002020||ADT^A01^ADT_A01|MSG00000001|P|2.5|||AL|NE|USA|UNICODE UTF-8\r"
    "EVN|A01|20241114071554|||958^SANCHEZ^CHARLES\r"
    "PID|1||08781420^^^GENHOSP^MR~116568773^^^USSSA^SS||LEWIS^PATRICIA^ELIZABETH^^^^L~ANDERSON^PATRICIA^^^^^M||19310309|M|||3125 HILLSIDE AVE^APT 30^GREENVILLE^SC^29601^USA^H~6833 MAIN ST^APT 11^FAIRVIEW^OR^97024^USA^M||(913)939-5626^PRN^PH~(489)991-7589^WPN^PH||ENG^English^ISO639|M^Married^HL70002|CHR^Christian^HL70006|208907310^^^GENHOSP^AN|546781814\r"
    "PD1|||GENHOSP MEDICAL GROUP^^5609|6789012^BENTON^PETER^^^DR\r"
    "NK1|1|TAYLOR^PATRICIA|SPO^Spouse^HL70063|2729 OAK AVE^APT 33^SPRINGFIELD^IL^62701^USA^H|(497)689-0411||EC^Emergency Contact^HL70131\r"
    "PV1|1|I|3EAST^285^1^GENHOSP^^^^^SURGICAL WING||||2345678^GREY^MEREDITH^^^DR^MD|2345678^GREY^MEREDITH^^^DR^MD||MED|||||A0||2345678^GREY^MEREDITH^^^DR^MD|IN|457938778^^^GENHOSP^VN|||||||||||||||||||||||||20241114071554\r"
    "PV2|||K35.80^ACUTE APPENDICITIS^I10\r"
    "AL1|1|DA|PNT^PEANUTS^LOCAL|SV|HIVES\r"
    "AL1|2|DA|PCN^PENICILLIN^LOCAL|MO|RASH\r"
    "DG1|1|I10|K35.80^ACUTE APPENDICITIS^I10||20241114071554|A\r";

int usage() {
  std::fprintf(stderr, "usage: vellomar_micro [--repeats N] [--bytes B] [FILE | DIRECTORY]...\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  int repeats = 9;
  size_t budget = size_t{32} << 20;
  std::vector<std::filesystem::path> paths;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if ((arg == "--repeats" || arg == "--bytes") && i + 1 < argc) {
      long long value = std::atoll(argv[++i]);
      if (value <= 0)
        return usage();
      if (arg == "--repeats")
        repeats = static_cast<int>(value);
      else
        budget = static_cast<size_t>(value);
    } else if (!arg.empty() && arg[0] == '-') {
      return usage();
    } else {
      paths.emplace_back(arg);
    }
  }

  std::vector<Input> inputs;
  for (const auto &path : paths) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(path)) {
      for (const auto &entry : std::filesystem::directory_iterator(path))
        if (entry.path().extension() == ".hl7")
          files.push_back(entry.path());
      std::sort(files.begin(), files.end());
    } else {
      files.push_back(path);
    }
    for (const auto &file : files) {
      Input in;
      in.name = file.stem().string();
      if (!read_file(file, in.text)) {
        std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
        return 1;
      }
      in.batch = in.text.rfind("FHS", 0) == 0 || in.text.rfind("BHS", 0) == 0;
      inputs.push_back(std::move(in));
    }
  }
  if (inputs.empty())
    inputs.push_back(Input{"builtin_adt", builtin_adt, false});

  std::printf("%d repeats, about %zu bytes of input per repeat; x memchr: median / memchr pass\n\n",
              repeats, budget);
  std::printf("%-12s %-34s %10s %22s %9s %9s %9s\n", "input", "case", "median", "min..max",
              "MB/s", "x memchr", "iters");
  for (const Input &in : inputs) {
    std::printf("%-12s %zu bytes\n", in.name.c_str(), in.text.size());
    run_input(in, repeats, budget);
  }
  return 0;
}
