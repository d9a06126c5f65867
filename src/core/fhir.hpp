// HL7 v2 to FHIR R4: the maps read from the package's data file (fhir.txt,
// generated from HL7's V2-to-FHIR tables by tools/fhir_tables.py, whose
// docstring describes its lines) and the one engine that walks them.
//
// The engine knows no message, segment or data type: for each segment of a
// message it takes the rows of the message's structure for that segment,
// makes or fills the resource each row names, applies the segment map's
// rows field by field (data type maps recursively, vocabularies, constants,
// conditions) and links resources as the rows' references say. What the
// tables leave as prose is written by hand in fhir_values.cpp.
#pragma once

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "definitions.hpp"
#include "records.hpp"
#include "result.hpp"

namespace vellomar::fhir {

// One step of a target path: an element name and, for a list element, the
// slot the table gives it (rows writing identifier[1] and identifier[2]
// fill two elements of one list, in slot order).
struct Step {
  std::string name;
  uint16_t slot = 0; // 0: not a list
  // a list the row fills every element of that the rows before it made
  // ("component*each": an OBX's code in each component its values made)
  bool each = false;
  uint32_t id = 0;   // the name's index in Maps::names (set by Maps::finish)
  // a list element that all of a field's repetitions fill together
  // ("content*5~": an MDM's OBX-5 of TX, whose repetitions are the lines of
  // one document), not an element each
  bool joined = false;
};

// A test of a condition.
struct Test {
  // V N E X e x C L K w & | (K: a subtype that, with the type of data in
  // the component before it, names no MIME type; w: a field the segment's rows wrote nothing of
  // yet; e and x: E and X compared as a vocabulary finds codes, in their
  // own case, else in another where it names one: "internet" is Internet;
  // of no vocabulary, "*", in any case)
  char op = 0;
  // it reads MSH-12.1, the message's version (its first MSH's), which the
  // engine reads once a conversion (the rows that hold in some versions
  // test it again and again); beside `op`, in its padding
  bool version = false;
  std::string segment;  // empty: the value the row reads (in a data type map)
  uint32_t segment_word = UINT32_MAX; // its name as name_word() gives it (none: UINT32_MAX)
  uint32_t field = 0;   // 0 in a data type map
  uint32_t component = 0, sub_component = 0;
  std::vector<std::string> values;
  char compare = 0;     // < ( <= ) > ] >= = (eq) ! (ne)
  // of an e or x test: the sizes of its values as bits (bit 31: 31 bytes
  // or more), so that a text of no value's size is decided by the exact
  // comparison alone (set by Maps::finish; beside `compare`, in its padding)
  uint32_t fold_sizes = 0;
  int64_t number = 0;
  // of a row's gate (Row::gate): the number of the place it reads, equal
  // for the gates that read one place, and its values as words when all
  // are of 7 bytes or fewer (set by Maps::finish; see the engine's Gate)
  uint32_t place = 0;
  // of an e or x test: the vocabulary (its index in Maps::vocabularies)
  // whose lookup compares the text with the values, -1 where they compare
  // without case (beside `place`, in its padding)
  int32_t vocabulary = -1;
  std::vector<uint64_t> words;
};
// A condition as a postfix program of tests and '&' and '|'. Most are all
// of their tests (joined by '&' alone): those are decided test by test,
// stopping at the first that fails.
struct Condition {
  std::vector<Test> tests;
  bool all = false; // joined by '&' alone, well formed (set by Maps::finish)
  bool empty() const { return tests.empty(); }
};

struct Link;

// The ids of the names that hold an element: its own and, for a choice, its
// forms ("value" is held by "valueQuantity"). Kept as a list and, once
// Maps::finish has made them, as bits by id, so that whether a member's
// name is one of them is one test, however many forms there are.
struct Forms {
  std::vector<uint32_t> ids;
  std::vector<uint64_t> bits;
  bool has(uint32_t id) const { return id / 64 < bits.size() && (bits[id / 64] >> (id % 64) & 1); }
  void make_bits() {
    bits.assign(ids.empty() ? 0 : *std::max_element(ids.begin(), ids.end()) / 64 + 1, 0);
    for (const uint32_t id : ids)
      bits[id / 64] |= uint64_t{1} << (id % 64);
  }
};

// What the engine needs of the resource type a segment row or a data type
// map makes, resolved by Maps::finish so that no resource looks up its type:
// the index in Maps::needs of its required top-level elements (-1: none)
// and its links to the message's Patient and Encounter (Maps::context).
struct TypeRules {
  int32_t needs = -1;
  // a map of the type writes the extensions of a primitive in a list
  // (Map::primitive_lists)
  bool primitive_lists = false;
  // an element of Maps::wanted is the type's
  bool wanted = false;
  // two resources of the type holding one identifier of a system are one
  // within a bundle (one_when_alike(), and the Patient: see
  // Engine::merge_same_identifier())
  bool one_per_identifier = false;
  const std::vector<Link> *context = nullptr;
};

struct Row {
  uint32_t field = 0; // 0: the whole segment (or value)
  // the component of the field a primitive row reads, and its first
  // sub-component where it is not the first ("9.2" in the data file: a map
  // to a primitive whose value is another component, MSG[code]'s event)
  uint32_t piece = 1;
  Condition condition;
  std::vector<Step> path;
  char kind = 's';    // see tools/fhir_tables.py
  int32_t map = -1;   // data type map
  int32_t vocabulary = -1;
  bool has_constant = false; // (its text, `constant`, at the end: see below)
  // its constant is the SSN's system (PID-19's, NK1-37's): written only
  // beside a number of an SSN's form (see ssn_form())
  bool ssn_system = false;
  // its constant is an HL7 table's system ("http://terminology.hl7.org/
  // CodeSystem/v2-0119") beside a code another row of its map reads as sent
  // from the same place (ORC-1's order control code in the businessEvent
  // extension): written only where the table does not lack the code (set
  // by Maps::finish; see Engine::sent_code_system())
  bool table_system = false;
  // a value joined from several places (XTN's number from its parts, SN's
  // text): addresses (Test::op 'A') and the texts between them (op '\'',
  // the text in values[0]); see Engine::joined(). Of kind 'U': the place
  // beside whose text the value is not reported (Engine::unmapped_row())
  std::vector<Test> join;
  // the test of `condition` that must hold for it to hold and that does not
  // read this row's own field (-1: none), set by Maps::finish
  int32_t gate = -1;
  // the test of `condition` that must hold for it to hold and that compares
  // a component of this row's own field with short texts (OBX-11's rows on
  // the status they write): decided on each repetition read, by its
  // Test::words, before the rest (-1: none), set by Maps::finish
  int32_t own = -1;
  bool each = false; // its path opens with a list of Step::each
  // its path holds a Step::joined: the field's repetitions fill one element
  // (Engine::join_repetitions())
  bool joins = false;
  // applied to the field as a whole, not repetition by repetition (each
  // or joins): apply_map() hands it to Engine::whole_field()
  bool whole = false;
  // of kind 'R': the element it refers by may be written before it, by an
  // earlier repetition of its field (1: no list in its path, DG1-16's
  // asserter) or by another row of its map of the same path (2: OBX-15's
  // and OBX-23's performer*2, PR1-23's rows of each kind of place); the
  // resource is made only where the reference will be written (set by
  // Maps::finish; see Engine::reference_taken())
  uint8_t meets = 0;
  // of kind 'O' (a data type map) into an element outside any list that a
  // map of another segment fills in the same type of resource (IN1-15's
  // Coverage.type, PV1-20's): the value is written whole or not at all, so
  // that two fields' pieces make no one value (PV1-20's code with IN1-15's
  // display and system); set by Maps::finish, see Engine::apply_whole()
  bool met_across = false;
  // of kind 'O' (a data type map) into an element outside any list: every
  // repetition of its field writes that one element (PV1-2's Encounter.
  // class), so one after the first is written whole or not at all, as a
  // value of Row::met_across is (set by Maps::finish)
  bool one_element = false;
  // a primitive written from the value it reads: not a reference, a data
  // type map, a join, a constant or a time joined (kind neither '>' nor
  // 'U'), set by Maps::finish; emit() tests this first
  bool plain = false;
  // the test of its condition, all of whose tests must hold, that a field
  // of another segment is not valued ("IF ORC-12 NOT VALUED" of OBR-16;
  // -1: none): where that field holds this one's value, this one counts as
  // written through it (set by Maps::finish; see Engine::twin_wrote())
  int16_t twin = -1;
  // of a data type map's row: its field and condition are the row's before
  // it (a url's row and its value's), a condition that reads the message
  // alone (no test of what was written), so that it holds where that row's
  // did, which apply_value_map() takes without asking again (set by
  // Maps::finish)
  bool as_before = false;
  // of a row with a vocabulary: another row of its map, of no condition,
  // constant or vocabulary, writes the same piece of its field as sent
  // (ORC-1's order control code in the businessEvent extension, beside
  // its status), so a code the vocabulary gives this row no target for is
  // kept there and not reported (set by Maps::finish; see
  // Engine::not_in_vocabulary())
  bool written_beside = false;
  // of a data type map's row: the components it takes where it holds (a
  // bit each, the first 32), its own and those its join reads (XTN.1 beside
  // XTN.4), set by Maps::finish; see Engine::apply_value_map()
  uint32_t takes = 0;
  // kind '>': the row fills the resource of type `referred` that the
  // reference at its path refers to (made there when none is), by its one
  // `inner` row, whose path is within that resource ("performer*2>
  // PractitionerRole>organization" in the data file: the organization of
  // performer's PractitionerRole); `referred_rules` that type's TypeRules
  // (set by Maps::finish)
  std::string referred;
  std::vector<Row> inner;
  TypeRules referred_rules;
  // (after the members the engine reads of every row it tries, which then
  // take two cache lines, not three)
  std::string constant;
};

struct Map {
  std::string name, type; // "PID[Patient]", "Patient"
  bool resource = false;
  // of a data type map that makes a resource: the components whose texts
  // name it, in order, where it is not named by the whole value (a PL's
  // room by its room, floor, point of care, building and facility: one
  // Location of a room for all its beds); empty: the whole value
  std::vector<uint32_t> identity;
  // the components name it only where the first holds a value, else the
  // whole value does (an XCN's id number and assigning authority; a
  // person of no id number by the name sent): "?" before them in the data
  // file
  bool identity_if_first = false;
  // the map whose resources those components name alike (empty: this
  // one): an LA2's Locations are a PL's, its first eight components a PL's
  // ("@PL[Location-Bed]" after them in the data file)
  std::string identity_name;
  std::vector<Row> rows;
  std::bitset<256> fields; // the fields its rows read (built by Maps::finish)
  TypeRules rules;         // set by Maps::finish
  // its rows read their fields (pieces) in ascending order, as the tables'
  // do: rows past a segment's last field or a value's last piece read
  // nothing (set by Maps::finish)
  bool in_field_order = false;
  // every row fills one list element (NK1[Patient]: Patient.contact), set
  // by Maps::finish; each segment its own, but where the map shares the
  // element its resource's other maps fill ("=" in the data file:
  // RXR[MedicationRequest]'s route in the RXO's dosage)
  bool one_list = false;
  bool shares_element = false;
  // a row writes the extensions of a primitive in a list, in a list of
  // their own beside it (AL1-2's "_category"), set by Maps::finish
  bool primitive_lists = false;
  // a row of it, or of a map it applies within its type (not one making
  // a resource of its own), writes a constant: what it makes may hold
  // constants alone (see Engine::made_of_nothing()), set by Maps::finish
  bool constants = false;
  // a data type map of a type without components (ID[code], ST[Identifier],
  // FT[Annotation-Comment]: the type before '['), whose rows read the first
  // piece of a value that may hold more (see Engine::without_components()),
  // set by Maps::finish
  bool primitive = false;
  // Runs of rows whose gates read one place (OBX-5's and OBX-6's rows, one
  // for each type of value OBX-2 names), in order: for each word some gate
  // of the run holds, the rows that may apply when the place reads it
  // (those whose gate holds it, and those whose gate compares texts in
  // full), ascending; for any other text the latter alone. Set by
  // Maps::finish.
  struct Switch {
    uint32_t begin = 0, end = 0;
    std::vector<uint64_t> words; // ascending
    std::vector<std::vector<uint32_t>> rows; // by the index of the word
    std::vector<uint32_t> others;
  };
  std::vector<Switch> switches;
};

struct Link {
  std::string from, to; // labels ("Observation*3")
  uint32_t from_id = 0, to_id = 0; // their numbers (set by Maps::finish)
  std::vector<Step> path;
  // of a context link: the ids of the names that hold path[0] (its own and
  // a choice's forms), set by Maps::finish
  Forms forms;
  // values written into the list element the reference goes in, each at its
  // path below that element (an Immunization's performer.function beside
  // the actor a PRT's PractitionerRole is)
  std::vector<std::pair<std::vector<Step>, std::string>> values;
};

struct SegmentRow {
  std::string segment, group, label, type;
  int32_t map = -1;
  Condition condition;
  std::vector<Link> links;
  uint32_t label_id = 0; // the label's number (set by Maps::finish)
  TypeRules rules;       // set by Maps::finish
  int32_t key_rule = -1; // the rule of its resources' ids (set by Maps::finish)
  // each segment makes its own resource, filling one that another segment
  // made only when no segment of its name filled that one yet (IN1: the
  // Coverage of PV1-20 for the first, one of its own for the next)
  bool makes = false;
  // a row of a label that a row of another segment outside any group makes
  // before it (ADT's PD1 and NK1 of PID's Patient; PV2 and DG1 of PV1's
  // Encounter), not `makes`: a resource it made ahead of that segment (or
  // without one) stands for that segment's, and the next segment of its
  // name fills it too, as it fills that segment's (set by Maps::finish)
  bool filler = false;
  // the size of the parent group that `group` begins with, and its dot
  // ("SPECIMEN.PATIENT_OBSERVATION": a row standing only under SPECIMEN,
  // as 2.7's ORU_R01 names SPECIMEN's observations as the PATIENT's); 0
  // for a row standing wherever its group does
  uint16_t parent = 0;
  // of a table that lists a block of segments again (ADT_A17: PID, PD1,
  // PV1, PV2 and OBX of each of two patients): the segment that opens a
  // block and the number of the block the row stands for ("PID:2" in the
  // data file; 0: any)
  std::string opener;
  uint32_t block = 0;
  // its map is the header's (MSH[...]) under a row of another segment: the
  // map reads the message's MSH (ADT's EVN row of MSH[Provenance-Operator]:
  // the event's operator is the sending facility, MSH-4, when EVN-5 names
  // none), not the row's segment. Set by Maps::finish.
  bool reads_header = false;
  // of the fallback (a message without a table): a row that completes a
  // resource which segments before it in its group of its table make (NTE's
  // ServiceRequest, which ORC and OBR make in MDM_T02's COMMON_ORDER) holds
  // only for a segment noting one of the segments its group's rows name
  // there (see Engine::notes()); empty: wherever it stands
  std::vector<std::string> after;
  // `after` read the other way: the row holds for a segment noting none of
  // those segments (the fallback's DG1 of the patient's stay, where another
  // table's DG1 rows hold after an order's segments: see Maps::finish)
  bool unless = false;
  // `after` is noted only by a segment that the message's structure, where
  // it knows one, places in a group: a DFT's DG1 outside its groups is the
  // account's, whatever order stands before it
  bool in_group = false;
  // of the fallback: a participant's row (ROL, PRT) that holds only where
  // what the segment notes (see Engine::notes()) is a segment some row
  // maps: a charge's performer (DFT's FT1 PRT ROL), a problem's or goal's
  // role (PPR's PRB ROL) is no participant of the patient or the stay, and
  // the segment is reported
  bool notes_mapped = false;
  // of the fallback: a row of a segment that does not name its resource,
  // filling one that a segment naming it makes before it in its table (TQ1
  // the ServiceRequest of ORC, AIL the Appointment of SCH): it fills such a
  // resource and makes none, so that a timing alone is no order and a
  // booked room alone no appointment (the segment is reported instead)
  bool fills_only = false;
  // of the fallback: 1 for a row of an Immunization (VXU_V04's RXA and
  // ORC, its RXR's route), which holds only in an immunization history, a
  // message of a type that sends immunizations holding an RXA (see
  // Engine::set_type()): a RAS's RXA is a drug given, no vaccination (the
  // segment is reported instead); -1 for another row of a segment that has
  // such rows, which holds only elsewhere (a history's ORC is its
  // Immunization's, no order's); 0: wherever it stands
  int8_t immunization = 0;
  // a row of a segment making a Specimen (SPM) that a link of another
  // resource refers to (OML_O21's order: specimen), which leads the orders
  // and results after it where no order stands before it or the one before
  // follows another specimen (OUL_R22 and OML_O33 send SPM, then its
  // orders and their results, then the next SPM): see Engine::lead()
  bool leads = false;
};

struct Structure {
  std::string name;
  std::vector<SegmentRow> rows;
  // the rows of each segment name, in order (built by Maps::finish)
  std::unordered_map<std::string, std::vector<uint32_t>> by_segment;
};

struct Code {
  std::string code, system, display;
};

struct Vocabulary {
  std::string name;
  // FHIR's own codes of an element ("MessageHeaderResponse.code"), not v2's
  // of a table: a code missing from it is left out even in a Coding
  bool fhirs = false;
  // a code missing from it leaves its element not known, the data-absent-
  // reason "unknown" on the primitive, where FHIR wants the element beside
  // another (a ContactPoint's system beside its value): the code itself is
  // left out and reported as any other
  bool absent = false;
  TextMap<Code> codes; // searched with a view
  // The code's entry, or null. A small vocabulary (most are) is searched in
  // turn through `few`, which Maps::finish builds: faster than hashing; a
  // larger one through `few` as a table of open addressing (see
  // code_slot() in fhir.cpp), faster than `codes`' own search.
  const Code *find(std::string_view code) const;
  const Code *find_folded(std::string_view code) const; // (out of line: the rare road)
  // (`word`: the code as short_word() makes it where it is of 7 bytes or
  // fewer, else all ones: most codes are compared without their text read)
  struct Entry {
    uint64_t word = 0;
    const Code *entry = nullptr;
    std::string_view text;
  };
  std::vector<Entry> few;
  bool small = false;
  // The codes by their lower case, of those whose lower case no other code
  // shares (built by Maps::finish): a code sent in another case than the
  // vocabulary's ("BOOKED" for "Booked") is found through it.
  TextMap<const Code *> folded;
};

// A zone's offsets by local time: from each local time (seconds from
// 1970-01-01T00:00 of its clock) on, the offset in minutes east of UTC,
// ascending.
using Zone = std::vector<std::pair<int64_t, int32_t>>;

struct Maps {
  std::vector<Structure> structures;
  std::vector<Map> maps;
  std::vector<Vocabulary> vocabularies;
  // By vocabulary (its index): the codes the tables list without a target
  // (C lines of no code, system or display: XTN-2 "NET", which no
  // ContactPoint.use names), mapped to nothing on purpose. Not among the
  // vocabulary's codes, so that find() misses them and searches no more
  // codes for them (and kept apart from Vocabulary, whose size the
  // engine's hot code takes: one more member cost it spills).
  std::vector<std::vector<std::string>> listed;
  // Whether vocabulary `v` lists `code` (in any case) without a target.
  bool lists(const Vocabulary &v, std::string_view code) const;
  // the zone a time of day sent without an offset is in, where the user's
  // mapping names one (the data file's lines "Z"); empty: the sender's, as
  // MSH-7's offset gives it, else UTC
  Zone zone;
  // required top-level elements by resource type, and defaults for some
  std::unordered_map<std::string, std::vector<std::string>> required;
  // required elements by the name of the element holding them ("~extension")
  std::vector<std::pair<std::string, std::vector<std::string>>> required_by_name;
  std::unordered_map<std::string, std::string> defaults; // "Type.element", "Type.a.member"
  // Required top-level elements the message may not send, and what they
  // hold then where the resource holds something else of the message (a
  // value, a note, a performer): FHIR's data-absent-reason `unknown` ("U"
  // lines: an Observation of OBX-5's text without OBX-3). A resource that
  // holds nothing else goes, as without such a line.
  std::unordered_map<std::string, std::string> absent; // "Type.element"
  // Top-level elements a resource must hold unless one of its codes says
  // otherwise (an Appointment's start and end, unless its status is
  // proposed, cancelled or waitlist): where it holds no such element once
  // the message is read, the element's default is written ("W" lines;
  // forms and unless_id set by finish()). An absent code holds none of
  // `codes`.
  struct Wanted {
    std::string type, element, unless;
    std::vector<std::string> codes;
    Forms forms;
    uint32_t unless_id = 0;
  };
  std::vector<Wanted> wanted;
  // the forms of FHIR's choice elements and the element each is a form of
  // ("valueQuantity": "value"), of which an element holds one
  std::unordered_map<std::string, std::string> choice_forms;
  // by name id: the number of the choice element it is a form of (0: none),
  // set by finish()
  std::vector<uint32_t> choice_of;
  // by name id, what the engine notes of an element of the name as it makes
  // one: 1 it may require another (name_required), 2 it is a choice's form
  std::vector<uint8_t> name_notes;
  // the ids of the members with a default ("Type.a.member"), set by finish()
  std::vector<uint32_t> member_defaults;
  // by resource type: the elements that refer to the message's Patient or
  // Encounter ("Patient"/"Encounter" in `to`), set where no row set them
  std::unordered_map<std::string, std::vector<Link>> context;
  // Structure of the rows for a message without a table of its own: for each
  // segment the rows of the first structure that maps it.
  Structure fallback;

  // Every element name the rows, links and defaults write, interned by
  // finish() so that the engine compares numbers, not texts: names[id], and
  // name_keys[id] its JSON member key after a comma (",\"name\":"). Id 0
  // is no name.
  std::vector<std::string> names, name_keys;
  // The same keys in blocks of 33 bytes and more (zeros after the key), so
  // that a writer copies a key, after its comma or from it, as one move of
  // 32 fixed bytes; `size` is the key's, 0 for a key of more than 32 bytes
  // (copied as it is from name_keys).
  struct KeyBlock {
    char text[40] = {};
    uint8_t size = 0;
  };
  std::vector<KeyBlock> key_blocks;
  size_t longest_key = 0; // of name_keys
  // no element name nor resource type holds a byte of 0x80 or above (set
  // as they are interned and by finish())
  bool ascii_names = true;
  // What an element requires, as the ids of the names that hold it (the
  // element's own and, for a choice, its forms: "value" is held by
  // "valueQuantity"); built by finish() from `required`.
  struct Need {
    std::string element;
    Forms forms;
  };
  using Needs = std::vector<Need>;
  std::vector<Needs> needs;
  // by resource type: the index in `needs` of its required top-level elements
  std::unordered_map<std::string, uint32_t> type_needs;
  // by name id: the index in `needs` of what an element of that name
  // requires (-1: nothing; -2: nothing by its name alone, but some path
  // ends in it), and the paths below a resource ("Type.a.name") that end in
  // it, with what they require
  struct CheckedPath {
    std::string type;
    std::vector<uint32_t> keys; // the ids of a, ..., name
    uint32_t needs;
  };
  std::vector<int32_t> name_required;
  std::vector<std::vector<CheckedPath>> name_checked;
  // steps the engine writes on its own, and names it looks for
  Step reference_step, coding_step, system_step, code_step, display_step;
  // an Observation's link to the specimen it was made of (ORU_R01's OBX of
  // an order: Observation.specimen), which a message without a table gives
  // the results after a leading specimen (SegmentRow::leads); no path: none
  Link result_specimen;
  uint32_t identifier_id = 0, value_id = 0;
  uint32_t start_id = 0, end_id = 0; // a Period's members (Engine::out_of_order())
  uint32_t unit_id = 0; // a Quantity's (Engine::beside_named_table())
  uint32_t assigner_id = 0, type_id = 0; // an Identifier's (Engine::identified_apart())
  // how many labels the structures' rows and links name (their numbers
  // are below it)
  uint32_t label_count = 0;
  // The id of an element name (0 when no row writes it).
  uint32_t name_id(std::string_view name) const;

  // Reads the lines of the data file. Text read later replaces a map or
  // vocabulary of the same name and adds its rows to a structure of the
  // same name (a user's rows over the package's own). ValueError "FHIR
  // maps line {n}: {what}" for a line it cannot read.
  std::optional<Error> read(std::string_view text);
  // Builds the fallback structure; call after the last read.
  void finish();

  const Structure *structure(std::string_view name) const;
  // The table of a message of `type`, `event` and `structure`: the one
  // named by its type and event where there is one (ADT_A11, whose
  // messages have the structure ADT_A09), else its structure's, else the
  // one table of its type where there is one (ORU_R01 for an ORU^R30, whose
  // results stand in an OBSERVATION group as ORU_R01's do), else null.
  const Structure *table(std::string_view type, std::string_view event,
                         std::string_view structure) const;
  int32_t map_index(std::string_view name) const;
  int32_t vocabulary_index(std::string_view name) const;

private:
  std::unordered_map<std::string, int32_t> map_names_, vocabulary_names_;
  // an extension's url and the slot its elements take (see finish())
  std::unordered_map<std::string, uint16_t> extension_slots_;
  // the url slots of one map's rows (see finish())
  void assign_extension_slots(Map &m);
  std::unordered_map<std::string, uint32_t> name_ids_, label_ids_;
  uint32_t intern(std::string_view name);
  // the ids of the names that hold `element` ("value": "valueQuantity", ...)
  std::vector<uint32_t> forms(std::string_view element) const;
  std::vector<std::string> pending_; // names of maps and vocabularies until finish()
};

enum class BundleType : unsigned char { message, transaction, collection };

struct Options {
  BundleType type = BundleType::message;
  // "Type/id" references instead of "urn:uuid:id" (resources written alone,
  // as in NDJSON, where there is no bundle to resolve them in)
  bool relative_references = false;
};

// One resource of a conversion as JSON text (one line, no indentation).
struct ResourceText {
  std::string_view type; // the maps' own text (it lives as long as they do)
  char id[36];           // its UUID
  size_t offset = 0, size = 0; // in Conversion::text()
  std::string_view id_text() const { return {id, sizeof id}; }
};

struct Conversion {
  std::string bundle;               // the Bundle's JSON text (empty when not asked for)
  std::string resources;            // each resource's text, one after another (without a bundle)
  std::vector<ResourceText> entries;
  std::vector<std::string> unmapped; // what was not mapped, as locations ("ZPI", "PID-10")
  // The text holds no byte of 0x80 or above, as known from what it was
  // written from (false: it may hold some).
  bool ascii = false;
  // The text an entry's resource stands in: the bundle's, or without one
  // `resources`.
  std::string_view text() const { return bundle.empty() ? resources : bundle; }
};

// Converts one message. `bundle` false writes the resources only. Never
// fails but for memory: what cannot be mapped is listed in `unmapped`.
Conversion convert(const Maps &maps, const Definitions &definitions, const Message &message,
                   const Options &options, bool bundle);

// The segment that begins a second message in `message` (an MSH past its
// first segment: a text of several messages parsed as one), else 0. A
// bundle is one message's: the callers refuse such a text.
uint32_t second_header(const Message &message);

// Converts one message as convert() does and calls `done(conversion,
// text)`, `text` what convert() would have copied into the bundle (or
// without one into `resources`, which stays empty here) where it was
// written: it lives until `done` returns (a caller that copies it anyway,
// into a str, copies it once).
void convert_in_place(const Maps &maps, const Definitions &definitions, const Message &message,
                      const Options &options, bool bundle,
                      const std::function<void(Conversion &, std::string_view)> &done);

// Converts one message as convert() does without a bundle and calls
// `each(entry, text)` for each resource in order, `text` its JSON, which
// lives until `each` returns: the resources are handed over where they were
// written, never copied (the bulk roads copy each once, into its line).
// `unmapped`, when given, takes the conversion's list of what was not mapped.
void convert_each(const Maps &maps, const Definitions &definitions, const Message &message,
                  const Options &options,
                  const std::function<void(const ResourceText &, std::string_view)> &each,
                  std::vector<std::string> *unmapped = nullptr);

// The kind of a report of a conversion's unmapped list: the report without
// the value it quotes ("PID-8 'X' (AdministrativeSex)" is "PID-8
// (AdministrativeSex)", "MSH-7 '2024' (not an instant)" "MSH-7 (not an
// instant)"), so that a summary of many messages counts every message of
// that kind of loss alike, and holds no more kinds than the maps and the
// messages' segment names make, whatever their values.
std::string unmapped_kind(std::string_view report);

// ---- the pieces the tables leave as prose (fhir_values.cpp) ----------------

// A v2 timestamp as FHIR `kind` ('D' date, 'T' dateTime, 'I' instant, 't'
// time) into `out`, keeping the sender's precision and offset; a time of day
// sent without an offset is in `zone` (a mapping's: Maps::zone), else at
// the `sender`'s offset (minutes east of UTC), else UTC. False when it is
// no timestamp.
bool timestamp_value(std::string_view text, char kind, std::string &out, const Zone &zone,
                     std::optional<int> sender);

// What timestamp_value() does with the offset `text` was sent with as FHIR
// `kind`: 'd' leaves it out (a time of day, 't': FHIR's time has none; a
// day: a date, or a dateTime of the day alone), 'k' keeps it; 0: none sent.
char timestamp_offset(std::string_view text, char kind);

// The offset timestamp `text` was sent with (minutes east of UTC), where it
// has one FHIR can write (within 14 hours, its minutes below 60).
std::optional<int> timestamp_zone(std::string_view text);

// A v2 timestamp of minutes or finer plus `seconds` (0 or more), as a
// v2 timestamp of seconds with the same fraction and offset
// ("202401101230-0500" plus 5400: "20240110140000-0500") into `out`; false
// when `text` is no such timestamp or the sum leaves years 1 to 9999.
bool timestamp_plus(std::string_view text, int64_t seconds, std::string &out);

// A time of day as an instant: seconds since 1970-01-01T00:00:00Z and the
// digits of its fraction ("5" of "...:00.5-05:00"; a view into the text).
struct UtcTime {
  int64_t seconds = 0;
  std::string_view fraction;
};

// FHIR dateTime or instant `text` of a time of day with its offset
// ("2024-01-10T12:00:00-05:00", "...Z") as the instant it names; none for
// any other text (a day, a month, a year).
std::optional<UtcTime> utc_time(std::string_view text);

// The size in bytes of the white space character `s` begins with, 0 when
// it begins with none: ASCII's space, tab, CR, LF, vertical tab and form
// feed, and Unicode's other white space in UTF-8 (U+0085, U+00A0, U+1680,
// U+2000 to U+200A, U+2028, U+2029, U+202F, U+205F, U+3000), which FHIR's
// code and uri hold no more than a tab.
size_t white_space_size(std::string_view s);

// `text` appended to `out` with each white space character (as
// white_space_size() says) a '-', as a uri holds none ("urn:id:my lab" is
// "urn:id:my-lab").
void append_dashed(std::string_view text, std::string &out);

// The URI of a coding system name of HL7 table 0396 ("LN" ->
// "http://loinc.org"); other names become a URI as documented there.
void coding_system_uri(std::string_view name, std::string &out);

// The MIME type of an ED's or RP's type of data and subtype, joined by '/'
// ("AP/PDF": "application/pdf") into `out`; false when it names none known.
bool mime_type(std::string_view text, std::string &out);

// Whether `text` has the form of a US social security number: nine
// digits, "123456789" or "123-45-6789", of an area other than 000, 666
// and 900 to 999, a group other than 00 and a serial other than 0000,
// which are never given. A sender's placeholder ("000-00-0000",
// "999999999") or another country's number sent in the field
// ("1014071185^KR") is none.
bool ssn_form(std::string_view text);

// Whether a resource of `type` made for a reference is what it holds, so
// that two made alike within a message are one (a role, an organisation, a
// place, a device, a medication; not an event or a specimen, which two
// references may name apart though nothing tells them apart).
bool one_when_alike(std::string_view type);

// The name-based (version 5) UUID of `name` in the package's namespace,
// written into `out` (no allocation: one for each resource).
void uuid5(std::string_view name, char (&out)[36]);
// The same as a string; `portable` takes the portable SHA-1 rounds even where
// the processor's SHA-1 instructions would be used (a test hook: a machine
// with them checks both roads in one process).
std::string uuid5(std::string_view name, bool portable);

} // namespace vellomar::fhir
