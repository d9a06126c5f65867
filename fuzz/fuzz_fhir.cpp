// HL7 v2 to FHIR: the input is a message. Oracles: the Bundle is valid JSON
// (with strict UTF-8), its fullUrls are unique and every reference in it
// names one of them, every code is a FHIR code (no white space but single
// spaces between words); the resources written alone are JSON objects too. The
// maps and definitions are the package's data files, read once.
#include <fstream>
#include <set>
#include <sstream>

#include "check.hpp"
#include "fhir.hpp"
#include "parser.hpp"

using namespace vellomar;

namespace {

std::string slurp(const std::string &name) {
  std::ifstream file(std::string(VELLOMAR_DATA_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

struct Data {
  Definitions definitions;
  fhir::Maps maps;
};

const Data &data() {
  static const Data loaded = [] {
    Result<Definitions> definitions = Definitions::parse(slurp("hl7.txt"));
    FUZZ_CHECK(definitions.ok(), "hl7.txt");
    Data d{std::move(definitions).value(), {}};
    FUZZ_CHECK(!d.maps.read(slurp("fhir.txt")), "fhir.txt");
    d.maps.finish();
    return d;
  }();
  return loaded;
}

// FHIR's code: words of no white space, a single space between them.
bool valid_code(const std::string &code) {
  const auto white = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  if (code.empty() || white(code.front()) || white(code.back()))
    return false;
  for (size_t i = 1; i < code.size(); ++i)
    if (white(code[i]) && (code[i] != ' ' || white(code[i - 1])))
      return false;
  return true;
}

// The references of `value`, its string members "code" checked on the way.
void references(const nlohmann::json &value, std::vector<std::string> &out) {
  if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (it.key() == "reference" && it.value().is_string())
        out.push_back(it.value().get<std::string>());
      else if (it.key() == "code" && it.value().is_string())
        FUZZ_CHECK(valid_code(it.value().get<std::string>()), it.value().get<std::string>());
      else
        references(it.value(), out);
    }
  } else if (value.is_array()) {
    for (const auto &item : value)
      references(item, out);
  }
}

} // namespace

FUZZ_ENTRY {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  auto parsed = parse_message(text);
  if (!parsed || !fuzz::valid_utf8(text)) // as the str a message comes from
    return 0;
  const Data &d = ::data();
  fhir::Options options;
  options.type = size % 2 ? fhir::BundleType::transaction : fhir::BundleType::message;
  const fhir::Conversion c = fhir::convert(d.maps, d.definitions, parsed.value(), options, true);
  FUZZ_CHECK(fuzz::valid_utf8(c.bundle), c.bundle);
  nlohmann::json bundle;
  try {
    bundle = nlohmann::json::parse(c.bundle);
  } catch (const nlohmann::json::parse_error &) {
    FUZZ_CHECK(false, c.bundle);
  }
  std::set<std::string> urls;
  for (const auto &entry : bundle["entry"])
    FUZZ_CHECK(urls.insert(entry["fullUrl"].get<std::string>()).second, c.bundle);
  std::vector<std::string> refs;
  references(bundle, refs);
  for (const std::string &r : refs)
    FUZZ_CHECK(urls.count(r) == 1, r);
  for (const fhir::ResourceText &e : c.entries) {
    const std::string resource(c.text().substr(e.offset, e.size));
    FUZZ_CHECK(nlohmann::json::parse(resource).is_object(), resource);
  }
  return 0;
}
