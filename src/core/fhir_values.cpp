// The parts of HL7 v2 to FHIR that HL7's tables leave as prose, each in one
// place: timestamps (every row whose FHIR type is date, dateTime, instant or
// time, and the sums of a time and a duration the tables write in prose),
// coding system names (every row writing a Coding.system from CWE.3, CWE.6,
// CWE.12 and their kin) and the ids of resources.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstring>

#include "fhir.hpp"
#include "text.hpp"
#include "timestamp.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define VELLOMAR_SHA_NI 1
#endif

namespace vellomar::fhir {

namespace {

bool all_digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9')
      return false;
  return !s.empty();
}

} // namespace

// A time plus seconds (fhir.hpp): the days, months and years carried by
// the standard library's calendar (chrono).
bool timestamp_plus(std::string_view text, int64_t seconds, std::string &out) {
  using namespace std::chrono;
  const SplitTimestamp split = split_timezone(text);
  const std::string_view body = split.body;
  const size_t dot = body.find('.');
  const std::string_view whole = body.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? "" : body.substr(dot);
  if (!all_digits(whole) || (whole.size() != 12 && whole.size() != 14) ||
      (!fraction.empty() && (whole.size() != 14 || !all_digits(fraction.substr(1)))) ||
      seconds < 0 || seconds > int64_t{10000} * 366 * 86400) // (past year 9999 anyway)
    return false;
  auto number = [&](size_t at, size_t size) {
    int n = 0;
    for (size_t i = at; i < at + size && i < whole.size(); ++i)
      n = n * 10 + (whole[i] - '0');
    return n;
  };
  const year_month_day date{year{number(0, 4)}, month{static_cast<unsigned>(number(4, 2))},
                            day{static_cast<unsigned>(number(6, 2))}};
  const int hour = number(8, 2), minute = number(10, 2), second = number(12, 2);
  if (!date.ok() || int(date.year()) < 1 || hour > 23 || minute > 59 || second > 59)
    return false;
  // the calendar's arithmetic is the standard library's
  const sys_seconds sum = sys_days{date} + hours{hour} + minutes{minute} +
                          std::chrono::seconds{second + seconds};
  const sys_days day_of_sum = floor<days>(sum);
  const year_month_day d{day_of_sum};
  const hh_mm_ss<std::chrono::seconds> clock{sum - day_of_sum};
  if (int(d.year()) > 9999) // (a sum is never before its start, of year 1 or later)
    return false;
  char b[64]; // (room for what the compiler cannot rule out)
  std::snprintf(b, sizeof b, "%04d%02u%02u%02d%02d%02d", int(d.year()), unsigned(d.month()),
                unsigned(d.day()), int(clock.hours().count()), int(clock.minutes().count()),
                int(clock.seconds().count()));
  out.assign(b, 14).append(fraction);
  if (split.offset_minutes) // its five characters, as sent
    out.append(body.data() + body.size(), 5);
  return true;
}

// A FHIR dateTime or instant of a time of day with its offset (fhir.hpp)
// as seconds since 1970 UTC and its fraction's digits; the calendar is the
// standard library's (chrono).
std::optional<UtcTime> utc_time(std::string_view text) {
  using namespace std::chrono;
  // "YYYY-MM-DDThh:mm:ss", a fraction, then "Z" or "+hh:mm"
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':')
    return std::nullopt;
  auto number = [&](size_t at, size_t size) {
    const std::string_view digits = text.substr(std::min(at, text.size()), size);
    int n = 0;
    for (const char c : digits)
      n = n * 10 + (c - '0');
    return all_digits(digits) && digits.size() == size ? std::optional<int>(n) : std::nullopt;
  };
  size_t end = 19; // past the fraction's digits, if any
  if (text[end] == '.')
    while (++end < text.size() && text[end] >= '0' && text[end] <= '9') {
    }
  const std::string_view fraction = end == 19 ? std::string_view() : text.substr(20, end - 20);
  const std::string_view zone = text.substr(end);
  int offset = 0;
  if (zone != "Z") {
    const std::optional<int> h = number(end + 1, 2), m = number(end + 4, 2);
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || !h || !m)
      return std::nullopt;
    offset = (zone[0] == '-' ? -1 : 1) * (*h * 60 + *m);
  }
  const std::optional<int> y = number(0, 4), mo = number(5, 2), d = number(8, 2), h = number(11, 2),
                           mi = number(14, 2), sec = number(17, 2);
  if (!y || !mo || !d || !h || !mi || !sec)
    return std::nullopt;
  const year_month_day date{year{*y}, month{static_cast<unsigned>(*mo)}, day{static_cast<unsigned>(*d)}};
  if (!date.ok())
    return std::nullopt;
  const int64_t seconds = int64_t{sys_days{date}.time_since_epoch().count()} * 86400 +
                          int64_t{*h} * 3600 + int64_t{*mi} * 60 + *sec - int64_t{offset} * 60;
  return UtcTime{seconds, fraction};
}

// Whether the offset split off a timestamp (there is one) is one FHIR can
// write: within 14 hours, its minutes as sent ("+0575" is no offset, not
// +06:15).
static bool writable_offset(const SplitTimestamp &split) {
  return std::abs(*split.offset_minutes) <= 14 * 60 &&
         split.body.data()[split.body.size() + 3] <= '5';
}

// The offset of `zone` (not empty) at a local time, a valid day and the
// seconds into it: that of the last change at or before it (before the
// first: the first's).
static int offset_at(const Zone &zone, int year, int month, int day, int seconds) {
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{year}, std::chrono::month(unsigned(month)),
                            std::chrono::day(unsigned(day))};
  const int64_t local = int64_t{sys_days{date}.time_since_epoch().count()} * 86400 + seconds;
  auto after = std::upper_bound(zone.begin(), zone.end(), local,
                                [](int64_t t, const auto &change) { return t < change.first; });
  return after == zone.begin() ? zone.front().second : std::prev(after)->second;
}

// DTM/TS to FHIR: "YYYY[MM[DD[HH[MM[SS[.S...]]]]]][+/-ZZZZ]". The sender's
// precision is kept down to the day; FHIR has no dateTime between the day and
// the second, so hours or minutes alone get zero minutes and seconds. The
// offset is written as it was sent. FHIR wants an offset on every time of
// day, so a dateTime or instant sent without one is read in `zone` (the
// offset it had at that local time), else at the `sender`'s offset (HL7: a
// time without an offset is the sender's local time; the caller knows it
// from MSH-7, if at all), else as UTC. A date drops time and offset.
// An instant needs a time of day: a day alone (or a month, a year) is
// none, rather than midnight UTC, a time the sender never sent.
bool timestamp_value(std::string_view text, char kind, std::string &out, const Zone &zone,
                     std::optional<int> sender) {
  const SplitTimestamp split = split_timezone(text);
  std::string_view body = split.body;
  if (kind == 't') { // TM: HH[MM[SS[.S...]]]
    const size_t dot = body.find('.');
    std::string_view whole = body.substr(0, dot);
    if (!all_digits(whole) || (whole.size() != 2 && whole.size() != 4 && whole.size() != 6))
      return false;
    const int h = (whole[0] - '0') * 10 + (whole[1] - '0');
    const int m = whole.size() > 2 ? (whole[2] - '0') * 10 + (whole[3] - '0') : 0;
    const int s = whole.size() > 4 ? (whole[4] - '0') * 10 + (whole[5] - '0') : 0;
    if (h > 23 || m > 59 || s > 59)
      return false;
    out.append(whole.substr(0, 2)).append(":");
    out.append(whole.size() > 2 ? whole.substr(2, 2) : "00").append(":");
    out.append(whole.size() > 4 ? whole.substr(4, 2) : "00");
    return true;
  }
  const size_t dot = body.find('.');
  std::string_view whole = body.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? "" : body.substr(dot + 1);
  if (!all_digits(whole) || whole.size() < 4 || whole.size() > 14 || whole.size() % 2 ||
      (!fraction.empty() && (!all_digits(fraction) || whole.size() != 14)))
    return false;
  if (kind == 'I' && whole.size() <= 8) // a day is no instant: it has no time of day
    return false;
  // plain digits now: each piece read where it stands (a piece not sent is
  // its default), the calendar's and the clock's bounds checked
  auto two = [&](size_t at, int absent) {
    return whole.size() >= at + 2 ? (whole[at] - '0') * 10 + (whole[at + 1] - '0') : absent;
  };
  const int year = two(0, 0) * 100 + two(2, 0);
  if (year < 1 || !is_valid_date(year, two(4, 1), two(6, 1)) || two(8, 0) > 23 ||
      two(10, 0) > 59 || two(12, 0) > 59)
    return false;
  // the offset within 14 hours, its minutes as sent ("+0575" is no offset,
  // not +06:15): checked before anything is written
  if (split.offset_minutes && !writable_offset(split))
    return false;
  const std::optional<int> written = split.offset_minutes ? split.offset_minutes
                                     : !zone.empty()
                                         ? offset_at(zone, year, two(4, 1), two(6, 1),
                                                     two(8, 0) * 3600 + two(10, 0) * 60 + two(12, 0))
                                         : sender;
  const int offset = written.value_or(0), a = std::abs(offset);
  // the date and time written into a buffer and appended once
  char b[32];
  size_t n = 0;
  auto put = [&](char separator, std::string_view two_digits) {
    if (separator)
      b[n++] = separator;
    std::memcpy(b + n, two_digits.data(), two_digits.size());
    n += two_digits.size();
  };
  put(0, whole.substr(0, 4));
  if (whole.size() >= 6 || kind == 'I')
    put('-', whole.size() >= 6 ? whole.substr(4, 2) : "01");
  if (whole.size() >= 8 || kind == 'I')
    put('-', whole.size() >= 8 ? whole.substr(6, 2) : "01");
  if (kind == 'D' || (kind == 'T' && whole.size() <= 8)) {
    out.append(b, n);
    return true;
  }
  put('T', whole.size() >= 10 ? whole.substr(8, 2) : "00");
  put(':', whole.size() >= 12 ? whole.substr(10, 2) : "00");
  put(':', whole.size() >= 14 ? whole.substr(12, 2) : "00");
  if (!fraction.empty()) {
    out.append(b, n).append(".").append(fraction);
    n = 0;
  }
  if (written) {
    b[n++] = offset < 0 ? '-' : '+';
    b[n++] = static_cast<char>('0' + a / 600);
    b[n++] = static_cast<char>('0' + a / 60 % 10);
    b[n++] = ':';
    b[n++] = static_cast<char>('0' + a % 60 / 10);
    b[n++] = static_cast<char>('0' + a % 10);
  } else {
    b[n++] = 'Z';
  }
  out.append(b, n);
  return true;
}

char timestamp_offset(std::string_view text, char kind) {
  const SplitTimestamp split = split_timezone(text);
  if (!split.offset_minutes)
    return 0;
  const std::string_view whole = split.body.substr(0, split.body.find('.'));
  return kind == 't' || kind == 'D' || (kind == 'T' && whole.size() <= 8) ? 'd' : 'k';
}

std::optional<int> timestamp_zone(std::string_view text) {
  const SplitTimestamp split = split_timezone(text);
  return split.offset_minutes && writable_offset(split) ? split.offset_minutes : std::nullopt;
}

// The types one_when_alike() holds (fhir.hpp): those a v2 field names by
// what they are (a practitioner in a role, an organisation, a location, a
// device, a medication), whose every element the reference's own row wrote.
bool one_when_alike(std::string_view type) {
  static constexpr std::string_view types[] = {"PractitionerRole", "Practitioner", "Organization",
                                               "Location", "Device", "Medication"};
  return std::find(std::begin(types), std::end(types), type) != std::end(types);
}

// An ED's or RP's type of data and subtype (tables 0191 and 0291, and what
// senders put there: "AP/PDF", "IMAGE/JPEG", "TEXT/PLAIN", "application/pdf")
// as the MIME type FHIR's contentType is: by the subtype, in any case (one
// of the two alone is either); a text of no subtype is text/plain, an
// application's octet-stream, a formatted text (FT) text/hl7v2, as the
// tables type an FT document's content. False
// for anything else (FAX, JOT, PICT, CDA's level one: no MIME type).
bool mime_type(std::string_view text, std::string &out) {
  const size_t slash = text.find('/');
  std::string type = ascii_upper(slash == std::string_view::npos ? "" : text.substr(0, slash));
  std::string subtype = ascii_upper(slash == std::string_view::npos ? text : text.substr(slash + 1));
  static constexpr std::pair<std::string_view, std::string_view> by_subtype[] = {
      {"PDF", "application/pdf"},
      {"RTF", "application/rtf"},
      {"POSTSCRIPT", "application/postscript"},
      {"OCTET-STREAM", "application/octet-stream"},
      {"DICOM", "application/dicom"},
      {"XML", "application/xml"},
      {"MSWORD", "application/msword"},
      {"ZIP", "application/zip"},
      {"PLAIN", "text/plain"},
      {"HTML", "text/html"},
      {"SGML", "text/sgml"},
      {"CSV", "text/csv"},
      {"JPEG", "image/jpeg"},
      {"JPG", "image/jpeg"},
      {"GIF", "image/gif"},
      {"PNG", "image/png"},
      {"TIFF", "image/tiff"},
      {"TIF", "image/tiff"},
      {"BMP", "image/bmp"},
      {"BASIC", "audio/basic"},
  };
  if (const size_t inner = subtype.find('/'); inner != std::string::npos) {
    // the subtype is a MIME type itself ("AP/application/pdf"): its own
    type = subtype.substr(0, inner);
    subtype.erase(0, inner + 1);
  }
  for (const auto &[name, mime] : by_subtype)
    if (subtype == name) {
      out.assign(mime);
      return true;
    }
  if (slash == std::string_view::npos) { // one of the two alone: the type, if no subtype
    type = subtype;
    subtype.clear();
  }
  if (subtype.empty() && (type == "TEXT" || type == "TX")) {
    out.assign("text/plain");
    return true;
  }
  if (subtype.empty() && type == "FT") { // formatted text: the tables' type of an FT document
    out.assign("text/hl7v2");
    return true;
  }
  if (subtype.empty() && (type == "AP" || type == "APPLICATION")) {
    out.assign("application/octet-stream");
    return true;
  }
  return false;
}

namespace {

// The URI FHIR names system `oid` by, where coding_system_uri() knows that
// system by a name too, into `out`: one system, one URI, whichever way it
// is sent (XCN-9 "NPI" and "&2.16.840.1.113883.4.6&ISO", or an HD[uri]'s
// "urn:oid:2.16.840.1.113883.4.6", name one identifier system). False for
// any other.
bool oid_uri(std::string_view oid, std::string &out) {
  static constexpr std::pair<std::string_view, std::string_view> known[] = {
      {"2.16.840.1.113883.6.1", "http://loinc.org"},
      {"2.16.840.1.113883.6.96", "http://snomed.info/sct"},
      {"2.16.840.1.113883.6.3", "http://hl7.org/fhir/sid/icd-10"},
      {"2.16.840.1.113883.6.90", "http://hl7.org/fhir/sid/icd-10-cm"},
      {"2.16.840.1.113883.6.103", "http://hl7.org/fhir/sid/icd-9-cm"},
      {"2.16.840.1.113883.6.12", "http://www.ama-assn.org/go/cpt"},
      {"2.16.840.1.113883.6.8", "http://unitsofmeasure.org"},
      {"2.16.840.1.113883.6.69", "http://hl7.org/fhir/sid/ndc"},
      {"2.16.840.1.113883.12.292", "http://hl7.org/fhir/sid/cvx"},
      {"2.16.840.1.113883.12.227", "http://terminology.hl7.org/CodeSystem/MVX"},
      {"2.16.840.1.113883.6.88", "http://www.nlm.nih.gov/research/umls/rxnorm"},
      {"2.16.840.1.113883.4.6", "http://hl7.org/fhir/sid/us-npi"},
      {"2.16.840.1.113883.4.1", "http://hl7.org/fhir/sid/us-ssn"},
  };
  if (!oid.starts_with("2.16.840.1.113883."))
    return false;
  for (const auto &[k, uri] : known)
    if (k == oid) {
      out.append(uri);
      return true;
    }
  return false;
}

// The URI of a coding system name of HL7 table 0396 FHIR knows, or of the
// form HL7nnnn (HL7 table nnnn), appended to `out`; false for another name.
bool known_system_uri(std::string_view name, std::string &out) {
  static constexpr std::pair<std::string_view, std::string_view> known[] = {
      {"LN", "http://loinc.org"},
      {"SCT", "http://snomed.info/sct"},
      {"SNM", "http://snomed.info/sct"},
      {"SCT2", "http://snomed.info/sct"},
      {"I10", "http://hl7.org/fhir/sid/icd-10"},
      {"I10C", "http://hl7.org/fhir/sid/icd-10-cm"},
      {"I10P", "http://www.cms.gov/Medicare/Coding/ICD10"},
      {"I9", "http://hl7.org/fhir/sid/icd-9-cm"},
      {"I9C", "http://hl7.org/fhir/sid/icd-9-cm"},
      {"I9CP", "http://hl7.org/fhir/sid/icd-9-cm"},
      {"C4", "http://www.ama-assn.org/go/cpt"},
      {"HCPCS", "urn:oid:2.16.840.1.113883.6.285"},
      {"HCPT", "urn:oid:2.16.840.1.113883.6.285"},
      {"UCUM", "http://unitsofmeasure.org"},
      {"NDC", "http://hl7.org/fhir/sid/ndc"},
      {"CVX", "http://hl7.org/fhir/sid/cvx"},
      {"MVX", "http://terminology.hl7.org/CodeSystem/MVX"},
      {"RXNORM", "http://www.nlm.nih.gov/research/umls/rxnorm"},
      {"RXN", "http://www.nlm.nih.gov/research/umls/rxnorm"},
      {"NPI", "http://hl7.org/fhir/sid/us-npi"},
      {"ISO3166_1", "urn:iso:std:iso:3166"},
      {"ISO639", "urn:ietf:bcp:47"},
      {"NUCCPID", "http://nucc.org/provider-taxonomy"},
      {"CDCREC", "urn:oid:2.16.840.1.113883.6.238"},
      // DICOM's own codes (a radiology report's OBX-3: 110180 Study
      // Instance UID; a modality, CT)
      {"DCM", "http://dicom.nema.org/resources/ontology/DCM"},
      // the NCI Thesaurus (C-codes: RXR-1's routes), not the Metathesaurus
      {"NCIT", "http://ncithesaurus-stage.nci.nih.gov"},
      {"HL7", "http://terminology.hl7.org/CodeSystem/v2-0396"},
  };
  for (const auto &[k, uri] : known) // first letters compared in line
    if (k.size() == name.size() && k[0] == name[0] && k == name) {
      out.append(uri);
      return true;
    }
  if (name.size() == 7 && name.substr(0, 3) == "HL7" && all_digits(name.substr(3))) {
    out.append("http://terminology.hl7.org/CodeSystem/v2-").append(name.substr(3));
    return true;
  }
  return false;
}

// Names senders give a system of table 0396 in their own spelling, each
// naming that one system and no other, with the table's name for it. They
// are compared in upper case without ' ', '-' and '_' ("SNOMED CT",
// "snomed-ct" and "SnomedCT" are SNOMEDCT). SNOMED (SNM or SCT) and ICD9
// (I9 or I9C) may be either of two names, both of one URI. A spelling that
// may name two systems of two URIs is none of them: ICD10 (I10, the WHO's,
// or I10C, the US clinical modification, whose codes differ).
std::string_view system_alias(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> aliases[] = {
      {"LOINC", "LN"},
      {"SNOMED", "SCT"},
      {"SNOMEDCT", "SCT"},
      {"ICD10CM", "I10C"},
      {"ICD10PCS", "I10P"},
      {"ICD9", "I9"},
      {"ICD9CM", "I9C"},
      {"CPT", "C4"},
      {"CPT4", "C4"},
      {"RXNORM", "RXNORM"},
  };
  char key[16];
  size_t n = 0;
  for (char c : name) {
    if (c == ' ' || c == '-' || c == '_')
      continue;
    if (n == sizeof key)
      return {};
    key[n++] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  for (const auto &[alias, code] : aliases)
    if (alias == std::string_view(key, n))
      return code;
  return {};
}

} // namespace

// Whether `name` is an OID as FHIR's oid type takes one: a first arc of
// 0, 1 or 2 and at least one more, each a number without leading zeros
// ("2.16.840.1.113883.4.6"). A number alone ("921379", an assigning
// authority's local code) or a dotted one of another form ("01.2") is
// none: "urn:oid:921379" would name no system.
static bool is_oid(std::string_view name) {
  if (name.size() < 3 || name[0] < '0' || name[0] > '2' || name[1] != '.')
    return false;
  for (size_t at = 2, end; at <= name.size(); at = end + 1) {
    end = std::min(name.find('.', at), name.size());
    if (end == at || (name[at] == '0' && end - at > 1))
      return false;
    for (size_t i = at; i < end; ++i)
      if (name[i] < '0' || name[i] > '9')
        return false;
  }
  return true;
}

bool ssn_form(std::string_view text) {
  char digits[9];
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9' && n < sizeof digits)
      digits[n++] = c;
    else if (!(c == '-' && (n == 3 || n == 5) && i + 1 < text.size() && text[i + 1] != '-'))
      return false;
  }
  if (n != sizeof digits)
    return false;
  const std::string_view area(digits, 3), group(digits + 3, 2), serial(digits + 5, 4);
  return area != "000" && area != "666" && area[0] != '9' && group != "00" && serial != "0000";
}

size_t white_space_size(std::string_view s) {
  if (s.empty())
    return 0;
  const auto b = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
  switch (b(0)) {
  case ' ': case '\t': case '\r': case '\n': case '\v': case '\f':
    return 1;
  case 0xC2:
    return b(1) == 0x85 || b(1) == 0xA0 ? 2 : 0;
  case 0xE1:
    return b(1) == 0x9A && b(2) == 0x80 ? 3 : 0;
  case 0xE2:
    if (b(1) == 0x80)
      return b(2) >= 0x80 && (b(2) <= 0x8A || b(2) == 0xA8 || b(2) == 0xA9 || b(2) == 0xAF) ? 3 : 0;
    return b(1) == 0x81 && b(2) == 0x9F ? 3 : 0;
  case 0xE3:
    return b(1) == 0x80 && b(2) == 0x80 ? 3 : 0;
  default:
    return 0;
  }
}

void append_dashed(std::string_view text, std::string &out) {
  for (size_t i = 0; i < text.size();) {
    if (const size_t w = white_space_size(text.substr(i))) {
      out.push_back('-');
      i += w;
    } else {
      out.push_back(text[i++]);
    }
  }
}

// Coding system names of HL7 table 0396 to the URIs FHIR knows them by,
// also sent in lower case ("ln", "Sct": the table's names are upper case,
// and no local name is one of them in another case). A name of the form
// HL7nnnn is HL7 table nnnn; a name that already is a URI (holds ':')
// stays; an OID becomes urn:oid:; any other (local, 99zzz) name becomes
// urn:id:NAME with white space as '-' (append_dashed()).
void coding_system_uri(std::string_view name, std::string &out) {
  if (known_system_uri(name, out))
    return;
  if (name.size() <= 16 && std::any_of(name.begin(), name.end(),
                                       [](char c) { return c >= 'a' && c <= 'z'; })) {
    char upper[16];
    for (size_t i = 0; i < name.size(); ++i)
      upper[i] = name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 'a' + 'A') : name[i];
    if (known_system_uri({upper, name.size()}, out))
      return;
  }
  if (const std::string_view code = system_alias(name); !code.empty() && known_system_uri(code, out))
    return;
  if (name.find(':') != std::string_view::npos) {
    if (name.starts_with("urn:oid:") && oid_uri(name.substr(8), out))
      return;
    append_dashed(name, out);
    return;
  }
  const bool oid = is_oid(name);
  if (oid && oid_uri(name, out))
    return;
  out.append(oid ? "urn:oid:" : "urn:id:");
  append_dashed(name, out);
}

namespace {

// SHA-1, for name-based UUIDs only (RFC 4122 version 5 needs it; nothing
// here depends on its strength). Hand-written: the core links no crypto
// library, and this is the whole of it.
// One 64-byte block into the state `h`. The loops are unrolled: the
// rounds' shuffle of five variables then costs no moves (every resource
// id is one or two blocks). Inlined into each of its two callers: the
// machine's road and the portable one.
[[gnu::always_inline]] inline void sha1_block(uint32_t h[5], const unsigned char *p) {
  auto rol = [](uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
  uint32_t w[80];
  for (int i = 0; i != 16; ++i) // the block's own 16 words
    w[i] = uint32_t{p[4 * i]} << 24 | uint32_t{p[4 * i + 1]} << 16 |
           uint32_t{p[4 * i + 2]} << 8 | uint32_t{p[4 * i + 3]};
#pragma GCC unroll 20
  for (int i = 16; i < 80; ++i)
    w[i] = rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  auto round = [&](uint32_t f, uint32_t k, uint32_t wi) {
    const uint32_t t = rol(a, 5) + f + e + k + wi;
    e = d, d = c, c = rol(b, 30), b = a, a = t;
  };
#pragma GCC unroll 20
  for (int i = 0; i < 20; ++i)
    round((b & c) | (~b & d), 0x5A827999, w[i]);
#pragma GCC unroll 20
  for (int i = 20; i < 40; ++i)
    round(b ^ c ^ d, 0x6ED9EBA1, w[i]);
#pragma GCC unroll 20
  for (int i = 40; i < 60; ++i)
    round((b & c) | (b & d) | (c & d), 0x8F1BBCDC, w[i]);
#pragma GCC unroll 20
  for (int i = 60; i < 80; ++i)
    round(b ^ c ^ d, 0xCA62C1D6, w[i]);
  h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
}

#if VELLOMAR_SHA_NI
// The same block with the processor's SHA-1 instructions, where it has them
// (x86-64 processors of the last several years): a few dozen instructions
// where the rounds above take a few thousand. Four rounds an instruction;
// the schedule's words are four to a register, each register in turn the
// current one (group g of four rounds reads m[g % 4]) while the others are
// advanced from it.
__attribute__((target("sha,sse4.1,ssse3"))) void sha1_block_ni(uint32_t h[5],
                                                                const unsigned char *p) {
  const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(h)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0), e1 = e0;
  const __m128i abcd_saved = abcd, e0_saved = e0;
  __m128i m[4];
  for (int i = 0; i < 4; ++i)
    m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i)), mask);
  // unrolled: the schedule's registers and each group's round function are
  // then fixed (as a loop, m[] lived on the stack and every group branched)
#pragma GCC unroll 20
  for (int g = 0; g < 20; ++g) {
    const __m128i cur = m[g % 4];
    __m128i e; // the group's E plus its words
    if (g == 0) {
      e = e0 = _mm_add_epi32(e0, cur);
      e1 = abcd;
    } else if (g % 2) {
      e = e1 = _mm_sha1nexte_epu32(e1, cur);
      e0 = abcd;
    } else {
      e = e0 = _mm_sha1nexte_epu32(e0, cur);
      e1 = abcd;
    }
    switch (g / 5) { // the round function and constant, an immediate
    case 0: abcd = _mm_sha1rnds4_epu32(abcd, e, 0); break;
    case 1: abcd = _mm_sha1rnds4_epu32(abcd, e, 1); break;
    case 2: abcd = _mm_sha1rnds4_epu32(abcd, e, 2); break;
    default: abcd = _mm_sha1rnds4_epu32(abcd, e, 3); break;
    }
    if (g >= 3 && g <= 18)
      m[(g + 1) % 4] = _mm_sha1msg2_epu32(m[(g + 1) % 4], cur);
    if (g >= 2 && g <= 17)
      m[(g + 2) % 4] = _mm_xor_si128(m[(g + 2) % 4], cur);
    if (g >= 1 && g <= 16)
      m[(g + 3) % 4] = _mm_sha1msg1_epu32(m[(g + 3) % 4], cur);
  }
  e0 = _mm_sha1nexte_epu32(e0, e0_saved);
  abcd = _mm_add_epi32(abcd, abcd_saved);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(h), _mm_shuffle_epi32(abcd, 0x1B));
  h[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

bool has_sha_ni() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & (1u << 19)) || !(c & (1u << 9)))
    return false; // SSE4.1, SSSE3
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
    return false;
  return b & (1u << 29); // SHA
}
#endif

// The machine's road: the instructions where the processor has them.
void sha1_block_any(uint32_t h[5], const unsigned char *p) {
#if VELLOMAR_SHA_NI
  static const bool ni = has_sha_ni();
  if (ni)
    return sha1_block_ni(h, p);
#endif
  sha1_block(h, p);
}

// The digest of `head` (shorter than a block: the namespace) followed by
// `data`, read through a buffer on the stack: nothing is allocated. Each
// block goes to `block_fn`, fixed at compile time (no call through a pointer).
template <void (*block_fn)(uint32_t[5], const unsigned char *)>
std::array<uint8_t, 20> sha1(std::string_view head, std::string_view data) {
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  unsigned char block[128];
  const uint64_t size = head.size() + data.size();
  size_t from = 0; // bytes of `data` taken
  size_t fill = head.size();
  std::memcpy(block, head.data(), head.size()); // head is shorter than a block
  for (size_t n = (fill + data.size()) / 64; n != 0; --n) { // the whole blocks
    const size_t take = 64 - fill;
    std::memcpy(block + fill, data.data() + from, take);
    from += take;
    fill = 0;
    block_fn(h, block);
  }
  const size_t rest = data.size() - from;
  std::memcpy(block + fill, data.data() + from, rest);
  fill += rest;
  // the 0x80 byte, zeros and the bit length
  block[fill++] = 0x80;
  const size_t end = fill + 8 <= 64 ? 64 : 128;
  std::memset(block + fill, 0, end - fill);
  const uint64_t bits = size * 8;
  for (size_t i = 0; i < 8; ++i)
    block[end - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  block_fn(h, block);
  if (end == 128)
    block_fn(h, block + 64);
  std::array<uint8_t, 20> out; // each word big-endian
#if defined(__SSE2__)
  // the first 16 bytes as one store: a reader of them as one block (the
  // UUID's text) would wait for four stores of 4 bytes to retire, which
  // cannot be forwarded to it
  const auto word = [&](int i) { return static_cast<int>(__builtin_bswap32(h[i])); };
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out.data()), _mm_setr_epi32(word(0), word(1), word(2), word(3)));
  const uint32_t last = __builtin_bswap32(h[4]);
  std::memcpy(out.data() + 16, &last, 4);
#else
  for (int i = 0; i < 5; ++i) {
    const uint32_t w = __builtin_bswap32(h[i]);
    std::memcpy(out.data() + 4 * i, &w, 4);
  }
#endif
  return out;
}

// The package's UUID namespace: a fixed random UUID, never to change (every
// id ever written depends on it). 4f0d8c5e-6a1b-4c7e-9b2d-3e5f7a9c1d20
constexpr uint8_t name_space[16] = {0x4f, 0x0d, 0x8c, 0x5e, 0x6a, 0x1b, 0x4c, 0x7e,
                                    0x9b, 0x2d, 0x3e, 0x5f, 0x7a, 0x9c, 0x1d, 0x20};

// The UUID text of a digest of the namespace and a name.
void uuid5_text(std::array<uint8_t, 20> d, char (&out)[36]) {
#if defined(__SSE2__)
  // the version (5) and variant bits set in the register, not in memory (a
  // byte stored just before the 16 are read back as one cost a stall of
  // store forwarding)
  __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d.data()));
  bytes = _mm_or_si128(_mm_and_si128(bytes, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 0x0F, -1, 0x3F, -1,
                                                          -1, -1, -1, -1, -1, -1)),
                       _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0x50, 0, char(0x80), 0, 0, 0, 0, 0, 0, 0));
  // the 32 digits at once: each byte's two nibbles side by side, each
  // nibble turned to its digit ('0' added, and 39 more to those of 10 and
  // above, which reach 'a'); then placed 8-4-4-4-12, the dashes between
  const __m128i low = _mm_set1_epi8(0x0F);
  const __m128i high_nibbles = _mm_and_si128(_mm_srli_epi16(bytes, 4), low);
  const __m128i low_nibbles = _mm_and_si128(bytes, low);
  auto digits = [](__m128i n) {
    const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(n, _mm_set1_epi8(9)), _mm_set1_epi8(39));
    return _mm_add_epi8(_mm_add_epi8(n, _mm_set1_epi8('0')), letters);
  };
  char text[32];
  _mm_storeu_si128(reinterpret_cast<__m128i *>(text),
                   digits(_mm_unpacklo_epi8(high_nibbles, low_nibbles)));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(text + 16),
                   digits(_mm_unpackhi_epi8(high_nibbles, low_nibbles)));
  std::memcpy(out, text, 8);
  std::memcpy(out + 9, text + 8, 4);
  std::memcpy(out + 14, text + 12, 4);
  std::memcpy(out + 19, text + 16, 4);
  std::memcpy(out + 24, text + 20, 12);
#else
  d[6] = static_cast<uint8_t>((d[6] & 0x0F) | 0x50);
  d[8] = static_cast<uint8_t>((d[8] & 0x3F) | 0x80);
  static constexpr char hex[] = "0123456789abcdef";
  // where each byte's two digits go (the dashes stand between)
  static constexpr uint8_t at[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};
  for (size_t i = 0; i < 16; ++i) {
    out[at[i]] = hex[d[i] >> 4];
    out[at[i] + 1u] = hex[d[i] & 0x0F];
  }
#endif
  out[8] = out[13] = out[18] = out[23] = '-';
}

const std::string_view name_space_text(reinterpret_cast<const char *>(name_space), 16);

} // namespace

void uuid5(std::string_view name, char (&out)[36]) {
  uuid5_text(sha1<sha1_block_any>(name_space_text, name), out);
}

std::string uuid5(std::string_view name, bool portable) {
  char text[36];
  uuid5_text(portable ? sha1<sha1_block>(name_space_text, name)
                      : sha1<sha1_block_any>(name_space_text, name),
             text);
  return std::string(text, sizeof text);
}

} // namespace vellomar::fhir
