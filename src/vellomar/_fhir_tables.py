"""The compiler of HL7's V2-to-FHIR CSV tables into the converter's lines:
tools/fhir_tables.py runs it over HL7's tables to write definitions/fhir.txt,
`vellomar.fhir.Mapping.load` over a user's own tables (the same layouts) to
read them over the package's. The shape of every FHIR element a row names
(whether it is a list, its type or primitive kind) comes from `SHAPES`: the
tool fills it from the R4B models of fhir.resources, the package from the `T`
lines of fhir.txt.

Run it with fhir.resources installed (the `test` extra) and the tables'
directory as argument; the output and tools/fhir_report.txt are committed,
so users and CI never need the tables. Every target path is resolved against
the R4B models of fhir.resources: each step is written with whether it is a
list and the leaf with its JSON kind, so the converter knows the shape of
every element without a FHIR model of its own.

Lines of the data file (tab-separated, `%XX` escapes in free text):

    M ADT_A01                                         a message structure, then its rows:
    G seg group label type segmap cond refs [new]     one segment row (refs: `;`-joined;
                                                      new: each segment makes its own,
                                                      not filling one another of its
                                                      name filled; group: PARENT.GROUP
                                                      for a row standing only there)
    S PID[Patient] Patient [=]                        a segment map and the resource it fills
                                                      (=: its one list element is the one the
                                                      resource's other maps fill: SHARED_ELEMENT)
    D CX[Identifier] Identifier [identity]            a data type map and the type it fills
                                                      (identity: the components, `.`-joined,
                                                      that name the resource it makes, where
                                                      not the whole value: PL_MAPS)
    F field cond path kind dtmap vocab const [join]   one row of the map above (join: the
                                                      value joined from addresses and
                                                      'texts, space-separated)
    V AdministrativeSex [fhir|absent]                 a vocabulary, then its codes (fhir:
                                                      FHIR's own; absent: a code missing
                                                      leaves its element not known)
    C v2code code system display                      (code, system and display empty:
                                                      a code the tables map to nothing)
    Q Observation status category ...                 required elements of a resource
                                                      (value|extension: one of them)
    A Observation status unknown                      the value of a required element left
                                                      unmapped: a value, or members
                                                      "name=value&..." (a member a path,
                                                      "extension*1.url"; after "element|"
                                                      for a choice's form or "_element")
    U Observation code extension*1.url=...            the value of a required element the
                                                      message does not send, written where
                                                      the resource holds another value (as
                                                      an A line's; without: it goes)
    W Appointment start status proposed ...           an element a resource holds unless
                                                      its element (status) holds one of
                                                      the codes; its default is the A line's

A path is `step.step...`; a step is `name` or `name*slot` for a list
element (slot 1 when the table gives no index), `name*slot~` for one that
all of the field's repetitions fill together (the lines of one text). A path that goes through
references names each with the type it refers to, `path>Type>path...`
(`performer*2>Organization>address*1`: the address of the Organization
performer*2 refers to; see reference_chain()). A kind is s (string-like), k (id),
c (code), b (boolean), i (integer), p (positiveInt), w (unsignedInt), d
(decimal), D (date), T (dateTime), I (instant), t (time), m (a MIME type
of a type and subtype joined by '/'), O (an element
filled by a data type map), R (a reference to the resource a data type
map makes), P (a dateTime, a time plus an amount of time: the join's
places are the time, the amount and its units, minutes when none) or U
(no element: the field's value, of a kind no row writes, is reported;
with a join, not where it is the join's text: XTN.1 repeating XTN.4).

A condition is a space-separated postfix program: `V:a`/`N:a` valued/not,
`E:a:v,v` equals one of, `X:a:v,v` equals none of, `C:a:op:n` the count of
repetitions, `L:a:op:n` the length, `M:a:op:n` the value as a
number ("NUMBER", the package's own: "999.0" is 999; a text that is no
number is unequal to any), `w:a` the segment's rows wrote nothing of
field `a` yet ("IS NOT WRITTEN", the package's own), `K:a` the subtype `a`
after the type of data in the component before it names no MIME type
("NAMES NO MIME TYPE", the package's own: ED.3 after ED.2), `&`, `|`. An address `a` is
`SEG-field[.component]` or, in a data type map, `.component`. An E or X
test may name a vocabulary after its values (`E:.3:Internet:Telecom...`):
a text none of the values is then one where the vocabulary finds it as it
finds that value (in another case: "internet"); the name `*` compares the
values without case (`E:.2:TEXT,TX,FT:*`).
    T Patient name:*HumanName gender:c ...        the elements of a FHIR type
    N CQ[code] 2 value,unit                       what note_members() notes of one of the
                                                  package's maps (PIECES, MEMBERS), for a
                                                  user's rows naming it
"""

from __future__ import annotations

import codecs
import csv
import io
import os
import re
from collections import Counter
from pathlib import Path
from urllib.parse import unquote
from typing import Callable, Iterable, Protocol


class Shapes(Protocol):
    def field(self, type_name: str, name: str) -> tuple[bool, str] | None:
        """(is a list, type name or kind letter) of element `name` of a type."""

    def elements(self, type_name: str) -> dict[str, tuple[bool, str]] | None:
        """The elements of a type, as field() gives each."""

    def codes(self, type_name: str, name: str) -> list[str] | None:
        """The codes of FHIR's own that code element `name` of a type takes
        (a required binding), or None."""


class TableShapes:
    """Shapes read from the `T` lines of the data file, and the codes of its
    vocabularies of FHIR's own codes (see BOUND)."""

    def __init__(self, text: str) -> None:
        self.types: dict[str, dict[str, tuple[bool, str]]] = {}
        self.bound: dict[str, list[str]] = {}
        # the package's maps to a string or uri with rows (see CHOSEN)
        self.chosen: set[str] = set()
        # the names of its vocabularies, lower-cased
        self.vocabularies: set[str] = set()
        # what note_members() noted of the package's maps (N lines)
        self.pieces: dict[str, str] = {}
        self.members: dict[str, set[str]] = {}
        codes: list[str] | None = None
        last = ""
        for line in text.splitlines():
            if line.startswith("F\t") and last:
                self.chosen.add(last)
            last = line.split("\t")[1] if re.match(r"D\t[^\t]+\t(?:string|uri)$", line) else ""
            if line.startswith("T\t"):
                _, name, *elements = line.split("\t")
                self.types[name] = {e.split(":")[0]: (e.split(":")[1].startswith("*"),
                                                      e.split(":")[1].lstrip("*"))
                                    for e in elements}
            elif line.startswith("N\t"):
                _, name, piece, members = line.split("\t")
                if piece:
                    self.pieces[unquote(name)] = piece
                self.members[unquote(name)] = {unquote(m) for m in members.split(",") if m}
            elif line.startswith("V\t"):
                name = line.split("\t")[1]
                self.vocabularies.add(unquote(name).lower())
                codes = self.bound.setdefault(name, []) if is_bound_name(name) else None
            elif line.startswith("C\t") and codes is not None:
                codes.append(line.split("\t")[1])

    def codes(self, type_name: str, name: str) -> list[str] | None:
        return self.bound.get(f"{type_name}.{name}")

    def field(self, type_name: str, name: str) -> tuple[bool, str] | None:
        return self.types.get(type_name, {}).get(name)

    def elements(self, type_name: str) -> dict[str, tuple[bool, str]] | None:
        return self.types.get(type_name)


def is_bound_name(name: str) -> bool:
    """Whether a vocabulary's name is one of BOUND's ("Type.element")."""
    return re.fullmatch(r"[A-Z]\w*\.\w+", name) is not None


SHAPES: Shapes = TableShapes("")

# Vocabularies of FHIR's own codes, by "Type.element" (the type that holds
# the element): for a row that writes a code element bound to FHIR's values
# without a vocabulary of the tables (TXA-17's docStatus of table 0271's
# "AU", AIP-12's participant status of table 0278's "Booked", MSA-1's
# response code "AA"), each code standing for itself, so that any other is
# reported and left out as a code missing from a vocabulary is.
BOUND: dict[str, list[str]] = {}


# v2 codes of a vocabulary of BOUND that the tables give no map for, and
# FHIR's code of that element the converter writes for them (documented in
# docs/fhir.md): MSA-1's acknowledgment code (table 0008) as the response's
# code, accepted ok, an error (the message is wrong: sent again as it is, it
# fails again) fatal-error, a reject (the receiver could not take it now)
# transient-error; the original and the enhanced mode's codes alike.
BOUND_V2 = {"MessageHeaderResponse.code": [
    ("AA", "ok"), ("CA", "ok"), ("AE", "fatal-error"), ("CE", "fatal-error"),
    ("AR", "transient-error"), ("CR", "transient-error")]}


def bound_lines() -> list[str]:
    """The V and C lines of BOUND (with BOUND_V2's): each vocabulary marked
    as FHIR's own codes ("fhir"), which a code missing from is left out of
    a Coding too."""
    return [line for name, codes in sorted(BOUND.items())
            for line in [f"V\t{name}\tfhir", *(f"C\t{esc(c)}\t{esc(c)}\t\t" for c in codes),
                         *(f"C\t{v2}\t{code}\t\t" for v2, code in BOUND_V2.get(name, []) if code in codes)]]


def has_element(type_name: str, name: str) -> bool:
    return SHAPES.field(type_name, name) is not None


# The element by which a resource of one type refers to one of another,
# where a table's comment names the reference alone (see message_rows())
REFERRING_ELEMENTS = {("Observation", "Specimen"): "specimen"}

# resource types the message tables' references misspell
# ("Immunzation.patient.reference=Patient[1].id" of VXU_V04's ORC)
TYPE_TYPOS = {"Immunzation": "Immunization"}

TYPOS = {"valueSampedData": "valueSampledData", "payer": "payor", "occurenceTiming": "occurrenceTiming",
         "occurenceDateTime": "occurrenceDateTime", "occurencePeriod": "occurrencePeriod",
         "occurrenceTIming": "occurrenceTiming", "occurneceTiming": "occurrenceTiming",
         "valuedateTime": "valueDateTime", "sytem": "system",
         # a later version's name (RXO-5's Medication.doseForm)
         "doseForm": "form"}

# Codes a vocabulary leaves out, and the value the converter writes for them
# (each is documented in the README): OBX-11 values of HL7 table 0085 that
# ObservationResultStatusCodesInterpretation has no row for.
EXTRA_CODES = {
    "ObservationResultStatusCodesInterpretation": [
        ("I", "registered"),     # specimen in lab, results pending
        ("R", "preliminary"),    # results entered, not verified
        ("S", "preliminary"),    # partial results
        ("U", "final"),          # changed to final without retransmitting
        ("N", "cancelled"),      # not asked
        ("O", "registered"),     # order detail only, no result
    ],
}

# The equipment types of table 0202 but the addresses' (Internet, X.400):
# telephones, faxes, modems, pagers and the like (compared in any case that
# the vocabulary finds: FOLDED)
PHONE_TYPES = ("PH", "FX", "MD", "CP", "SAT", "BP", "TDD", "TTY")
# Where a number's parts other than its local number (XTN.5, XTN.6, XTN.8:
# rows of no condition in the tables) are written: not where an address is
# the value, beside its type or without a type. Without an address (XTN.4
# empty, as in most XTNs, a telephone's) they are written whatever the type:
# beside an address's type and no address there is no value, and the
# ContactPoint is left out. Each of their rows is read as one row a
# condition, of tests joined by AND alone, which stops at the first that
# fails: one test for most (a condition of OR is decided test by test in
# full, on every XTN).
NUMBER_PARTS = {part: ["IF XTN.4 NOT VALUED",
                       'IF XTN.4 VALUED AND XTN.3 VALUED AND XTN.3 NOT IN ("Internet", "X.400")']
                for part in ("XTN.5", "XTN.6", "XTN.8")}
# The places whose conditions compare codes as the vocabulary named finds
# them: in their own case, else in another that no other code of the
# vocabulary shares ("internet" is Internet, "ph" PH, as XTN.3's system row
# reads them); the test's vocabulary in the data file. "*" names none: the
# codes are compared without case, as senders send an ED's type of data
# (ED-2, table 0191: "text") and encoding (ED-4, table 0299: "base64") in
# lower case, which no other code of the tables shares
FOLDED = {("XTN[ContactPoint]", ".3"): "TelecommunicationEquipmentType",
          **{(name, place): "*" for name in ("ED[Attachment]", "ED[DocumentReference]") for place in (".2", ".4")},
          **{(name, "OBX-5.4"): "*" for name in ("OBX[Observation]", "OBX[Observation-Component]")}}

# mended: the rows writing a CQ into a Duration (TQ1-6's boundsDuration)
# read it by the CQ map of the second name, not the first's, which writes
# a unit's code of any system (see ADDED_ROWS)
DURATION_MAP = ("CQ[Quantity]", "CQ[Duration]")

# Rows the tables leave out, added to the map of the name (after its last
# row of the same identifier), in the tables' own columns: OBX-5 of the value
# types the tables give a data type map but no OBX-5 row (CQ, ID; IS's row
# is theirs), and of MO, whose map MO[Quantity] is added below.
def _row(ident: str, cond: str, tpath: str, dtmap: str = "", const: str = "", vocab: str = "") -> list[str]:
    r = [""] * 30
    r[1], r[6], r[9], r[14], r[15], r[16] = ident, cond, tpath, dtmap, vocab, const
    return r


# OBX-5's value types a row of the Observation's map (OBX[Observation]) and
# of a component's (OBX[Observation-Component], an OBX-5 that repeats)
# writes; a value of another type (2.3's TN, CN, PN, AD and CK, an XPN, an
# XAD, a CX, an EI, none) has no form in R4's Observation.value[x] and no
# row, and an NA's SampledData is left out (tools/fhir_report.txt): it is
# reported ("OBX-5", kind U: "$unmapped"), not lost without a word
OBX_VALUE_TYPES = ["NM", "ST", "FT", "TX", "CF", "CNE", "CE", "CWE", "IS", "DR", "DTM", "DT", "TS", "NR",
                   "TM", "SN", "ED", "RP", "CQ", "ID", "MO"]


def _unmapped_values(types: list[str]) -> list[str]:
    return _row("OBX-5", "IF OBX-2 NOT IN (" + ", ".join(f'"{t}"' for t in types) + ")", "$unmapped")


def _day_alone(address: str) -> str:
    """The condition that a time is a day alone (a year, month or day, with
    an offset of 5 characters or without), which an instant cannot hold."""
    return (f"({address} LENGTH LESS THAN OR EQUALS 9 OR {address} LENGTH EQUALS 11 OR "
            f"{address} LENGTH EQUALS 13)")


def _with_time(address: str) -> str:
    """The condition that a time holds a time of day: more than a day's
    digits, an offset after a day alone ("19610615-0500") being none."""
    return (f"({address} LENGTH GREATER THAN 9 AND {address} LENGTH NOT EQUALS 11 AND "
            f"{address} LENGTH NOT EQUALS 13)")


# FHIR's extension of a value not known ("_start": {"extension": [{"url": ...,
# "valueCode": "unknown"}]}), which rows and defaults write
DATA_ABSENT_REASON = "http://hl7.org/fhir/StructureDefinition/data-absent-reason"


def _not_known(ident: str, cond: str, element: str) -> list[list[str]]:
    """The rows that write primitive `element` as not known where `cond`
    holds: the data-absent-reason "unknown" on it, which FHIR takes where it
    requires a value that was not sent."""
    return [_row(ident, cond, f"{element}.extension[1].url",
                 const=f'"{DATA_ABSENT_REASON}"'),
            _row(ident, cond, f"{element}.extension[1].valueCode", const='"unknown"')]


# Fields (and components) of text (ST, TX) in the versions given that became
# coded (CWE) later, whose rows name CWE's map: see map_rows() and ADDED_ROWS
TEXT_VERSIONS = {"OBR-13": ("2.1", "2.2", "2.3", "2.3.1", "2.4", "2.5", "2.5.1", "2.6"),
                 "SPS.2": ("2.1", "2.2", "2.3", "2.3.1", "2.4"),
                 "NK1-3": ("2.1",)}

_ED_ENCODINGS = '("Base64", "A", "Hex")'
_ED_TEXTS = '("TEXT", "TX", "FT")'
ADDED_ROWS: dict[str, list[list[str]]] = {
    "OBX[Observation]": [
        _row("OBX-5", 'IF OBX-2 EQUALS "CQ"', "valueQuantity", "CQ[Quantity]"),
        _row("OBX-5", 'IF OBX-2 EQUALS "ID"', "valueCodeableConcept", "ID[CodeableConcept]"),
        _row("OBX-5", 'IF OBX-2 EQUALS "MO"', "valueQuantity", "MO[Quantity]"),
        # an NM that is no number ("<0.5", "POS", "10-20", as labs send in
        # NM), which NM's row leaves out (reported "not a decimal"), is the
        # result's text with OBX-6's unit, as SN's "<>" is, not a Quantity
        # of its unit alone (IS NOT WRITTEN: no row wrote of OBX-5 yet)
        _row("OBX-5", 'IF OBX-2 EQUALS "NM" AND OBX-5 IS NOT WRITTEN', "valueString", const='OBX-5.1+" "+OBX-6.1'),
        _unmapped_values([*OBX_VALUE_TYPES, "VR"]),
    ],
    # the values of a component as those of an Observation (a CQ, an ID or
    # an MO that repeats was lost without a word); a VR has no join here
    "OBX[Observation-Component]": [
        _row("OBX-5", 'IF OBX-2 EQUALS "CQ"', "component[1].valueQuantity", "CQ[Quantity]"),
        _row("OBX-5", 'IF OBX-2 EQUALS "ID"', "component[1].valueCodeableConcept", "ID[CodeableConcept]"),
        _row("OBX-5", 'IF OBX-2 EQUALS "MO"', "component[1].valueQuantity", "MO[Quantity]"),
        _unmapped_values(OBX_VALUE_TYPES),
        # an SN that is no Quantity, Range or Ratio ("<>^5", "^2^+^3"), which
        # an Observation writes as text and a component has no row for
        _row("OBX-5", 'IF OBX-2 EQUALS "SN" AND ((OBX-5.1 VALUED AND OBX-5.1 NOT IN ("=", "<", "<=", ">", '
             '">=")) OR OBX-5.3 EQUALS "+")', "$unmapped"),
    ],
    # money as a Quantity in the currency's ISO 4217 code (Observation has
    # no valueMoney in R4)
    # an ED of its type of data alone (ED-3 empty) holding data: an
    # attachment's data has a contentType, which the tables give of ED-3
    # alone. The type of data names a text (TEXT, TX, FT: text/plain) or not
    # what kind of bytes (any other: application/octet-stream); ED-2 stays
    # the alternate code, as the tables write it. So is the data of a type
    # and subtype that name no MIME type ("IM^FAX", reported) or of neither
    # (rows on ED.5, the data: ED-2 may be empty)
    **{name: [
        _row("ED.2", f'IF ED.3 NOT VALUED AND ED.5 VALUED AND ED.4 IN {_ED_ENCODINGS} AND ED.2 IN {_ED_TEXTS}',
             f"{prefix}contentType", const='"text/plain"'),
        _row("ED.2", f'IF ED.3 NOT VALUED AND ED.5 VALUED AND ED.4 IN {_ED_ENCODINGS} AND ED.2 NOT IN {_ED_TEXTS}',
             f"{prefix}contentType", const='"application/octet-stream"'),
        _row("ED.5", f'IF ED.3 VALUED AND ED.3 NAMES NO MIME TYPE AND ED.4 IN {_ED_ENCODINGS} AND ED.2 IN {_ED_TEXTS}',
             f"{prefix}contentType", const='"text/plain"'),
        _row("ED.5", f'IF ((ED.3 VALUED AND ED.3 NAMES NO MIME TYPE) OR (ED.2 NOT VALUED AND ED.3 NOT VALUED)) '
             f'AND ED.4 IN {_ED_ENCODINGS} AND ED.2 NOT IN {_ED_TEXTS}',
             f"{prefix}contentType", const='"application/octet-stream"')]
       for name, prefix in (("ED[Attachment]", ""), ("ED[DocumentReference]", "content[1].attachment."))},
    # a CQ as a Duration (TQ1-6's boundsDuration, DURATION_MAP): a Duration
    # with a code is one of UCUM's (R4's drt-1), so the unit's code and
    # system are written where CQ.2.3 names UCUM, its text alone otherwise
    DURATION_MAP[1]: [
        _row("CQ.1", "", "value"),
        _row("CQ.2", 'IF CQ.2.3 EQUALS "UCUM"', "$this", "CWE[Quantity]"),
        _row("CQ.2", 'IF CQ.2.3 NOT EQUALS "UCUM"', "unit", "CWE[string]"),
    ],
    "MO[Quantity]": [
        _row("MO.1", "", "value"),
        _row("MO.2", "", "code"),
        _row("MO.2", "", "system", const='"urn:iso:std:iso:4217"'),
    ],
    # an application named by its namespace id alone ("EPIC") has no
    # universal id to make an endpoint of, nor one of a local type
    # ("EPIC^x^L") a urn: the tables give the source's endpoint
    # data-absent-reason then, which as an extension on a primitive the
    # converter does not write, and R4 requires an endpoint: the universal
    # id stands for it as in the destination's map, else the namespace id
    "HD[MessageHeader.source-endpoint]": [
        _row("HD.1", "IF HD.2 NOT VALUED", "endpoint"),
        _row("HD.2", 'IF HD.3 NOT IN ("ISO", "UUID", "DNS", "URI")', "endpoint")],
    "HD[MessageHeader.destination-endpoint]": [_row("HD.1", "IF HD.2 NOT VALUED", "endpoint")],
    # a financial class (PV1-20) is its code (FC-1, a CWE from 2.6 on, an IS
    # before) and the date it took effect (FC-2): the code alone is the
    # Coverage's type, which the tables map with CWE's map of the whole FC
    "FC[CodeableConcept]": [_row("FC.1", "", "$this", "CWE[CodeableConcept]")],
    # an EI's assigning authority (EI.2 to EI.4), which EI[Identifier-
    # Organization] writes row by row into the assigner Organization
    # ("assigner(Organization[1].identifier[2].value)"): the rows of that
    # Organization, as HD[Organization] writes an HD's (an OID under
    # urn:ietf:rfc:3986, see uri_values())
    "EI[Organization]": [
        _row("EI.2", "", "identifier[1].value"),
        _row("EI.3", "", "identifier[2].value"),
        _row("EI.4", "", "identifier[2].type", "ID[CodeableConcept-UniversalID]", vocab="UniversalIDType"),
        _row("EI.4", 'IF EI.4 IN ("ISO", "UUID")', "identifier[2].system", const='"urn:ietf:rfc:3986"'),
    ],
    # the ordering provider of OBR-16 (ORC-12 empty) beside an ordering
    # facility (ORC-21), whose PractitionerRole is the requester already: that
    # role's practitioner, as ORC-12's would be (see map_rows())
    "OBR[ServiceRequest]": [
        _row("OBR-16", "IF ORC-12 NOT VALUED AND ORC-21 VALUED", "requester(PractitionerRole.practitioner)",
             "XCN[Practitioner]"),
        # OBR-13 (relevant clinical information) as the text it is before 2.7
        _row("OBR-13", "IF MSH-12 IN (" + ", ".join(f'"{v}"' for v in TEXT_VERSIONS["OBR-13"]) + ")",
             "extension[1].valueCodeableConcept", "ST[CodeableConcept]")],
    # 2.2's PR1-12 (CM_PRACTITIONER): the practitioner, a CN in sub-components
    # ("0333&GAS&ANNE^AN"), and the practitioner's type (table 0133), which
    # the rows of later versions' XCN have no place for (reported). Read as
    # an XCN, the type was the family name ("AN") and the name was lost
    "CM_PRACTITIONER[Practitioner]": [_row("CM_PRACTITIONER.1", "", "$this", "CNN[Practitioner]"),
                                      _row("CM_PRACTITIONER.2", "", "$unmapped")],
    "PR1[Procedure]": [_row("PR1-12", 'IF MSH-12 IN ("2.2")', "performer[3].actor(Practitioner)",
                            "CM_PRACTITIONER[Practitioner]")],
    # NK1-3 (the relationship) as the text it is in 2.1 ("WIFE")
    "NK1[Patient]": [_row("NK1-3", 'IF MSH-12 IN ("2.1")', "contact[1].relationship[1]", "ST[CodeableConcept]")],
    "NK1[RelatedPerson]": [_row("NK1-3", 'IF MSH-12 IN ("2.1")', "relationship[1]", "ST[CodeableConcept]")],
    # SPS-2 (a specimen's additives, OBR-15.2) as the text it is before 2.5
    "SPS[Specimen-Source]": [
        _row("SPS.2", "IF MSH-12 IN (" + ", ".join(f'"{v}"' for v in TEXT_VERSIONS["SPS.2"]) + ")",
             "container[1].additiveCodeableConcept", "ST[CodeableConcept]")],
    # a coded value as text is its original text, else its text; one sent as
    # a code alone ("10^mg", CQ-2's unit) is that code rather than nothing
    "CWE[string]": [_row("CWE.1", "IF CWE.2 NOT VALUED AND CWE.9 NOT VALUED", "$value")],
    "TQ[ServiceRequest]": [_row("TQ.3", "", "$unmapped")],  # (see ROWS_LEFT_OUT)
    # XTN.3's rows for an equipment type not sent (optional before 2.7),
    # written by the rows of the components the value comes from (see
    # OWN_EMPTY): an address in XTN.4 is an e-mail address; a number
    # (XTN.1, its parts from XTN.7, XTN.12) has a system that is not known,
    # FHIR's ContactPoint requiring one beside a value (cpt-2)
    "XTN[ContactPoint]": [
        _row("XTN.4", "IF XTN.3 NOT VALUED", "system", const='"email"'),
        # an address beside an equipment type of a telephone, or beside a
        # number, is not the value (the number is, or none): reported
        _row("XTN.4", 'IF XTN.3 VALUED AND XTN.3 NOT IN ("Internet", "X.400") AND (XTN.3 IN ('
             + ", ".join(f'"{c}"' for c in PHONE_TYPES) + ") OR XTN.1 VALUED OR XTN.7 VALUED OR XTN.12 VALUED)",
             "$unmapped"),
        # and so is a number beside an address's type, or beside an
        # address without a type: the number's rows leave out its parts
        # (NUMBER_PARTS); on XTN.4, which most XTNs leave empty
        _row("XTN.4", 'IF (XTN.3 IN ("Internet", "X.400") OR XTN.3 NOT VALUED) AND (XTN.5 VALUED OR '
             'XTN.6 VALUED OR XTN.7 VALUED OR XTN.8 VALUED OR XTN.12 VALUED)', "$unmapped"),
        # and XTN.1 there, where it is not the address repeated (senders
        # repeat it there, or send a number formatted)
        _row("XTN.4", 'IF (XTN.3 IN ("Internet", "X.400") OR XTN.3 NOT VALUED) AND XTN.1 VALUED',
             "$unmapped", const="XTN.1"),
        _row("XTN.3", 'IF XTN.3 EQUALS "CP" AND XTN.2 NOT VALUED', "use", const='"mobile"'),
        *(row for ident, also in (("XTN.1", " AND XTN.7 NOT VALUED AND XTN.12 NOT VALUED"),
                                  ("XTN.7", " AND XTN.12 NOT VALUED"), ("XTN.12", ""))
          for row in _not_known(ident, f"IF XTN.3 NOT VALUED AND XTN.4 NOT VALUED{also}", "system"))],
}
# Fields that repeat written into an element that does not, whose rows'
# comments say so and give no way to the other repetitions (OBX-17's
# methods: "the cardinality of Observation.method is 0..1 while the source
# allows for multiple methods ... we did not provide further mapping
# guidance"; OBX-20's body sites the same; DG1-16's asserters: "we will
# not yet establish an agreed to method to communicate the extra repeats";
# PRT-5's persons and PRT-8's organizations: "the implementer needs to
# determine how to best resolve that"; PR1-23's locations: "we will address
# >=2 cardinality if somebody raises the need"). The first repetition is
# written; the others were lost without a word (a second method or
# organization left out, a second asserter, person or location made with
# nothing referring to it): the field is reported when it repeats.
ONE_ELEMENT_FIELDS = {"OBX[Observation]": ["OBX-17", "OBX-20"],
                      "OBX[Observation-Component]": ["OBX-17", "OBX-20"],
                      "DG1[Condition]": ["DG1-16"], "PR1[Procedure]": ["PR1-23"],
                      "PRT[PractitionerRole]": ["PRT-5", "PRT-8"]}
for _name, _fields in ONE_ELEMENT_FIELDS.items():
    ADDED_ROWS.setdefault(_name, []).extend(
        _row(f, f"IF {f} LST.COUNT GREATER THAN 1", "$unmapped") for f in _fields)
# OBR-32, 34 and 35 (the result's interpreter, technician and
# transcriptionist) are an NDL from 2.2 on, a CN (id, family name, given
# name, middle name, degree) in 2.1: read there as the person it is, a
# Practitioner by XCN's map (whose components a CN's are, the degree a
# suffix), which resultsInterpreter and performer take as well as the
# PractitionerRole of an NDL (see map_rows())
NDL_VERSIONS = ("2.1",)
ADDED_ROWS.setdefault("OBR[DiagnosticReport]", []).extend(
    _row(field, "IF MSH-12 IN (" + ", ".join(f'"{v}"' for v in NDL_VERSIONS) + ")", path, "XCN[Practitioner]")
    for field, path in (("OBR-32", "resultsInterpreter(Practitioner)"), ("OBR-34", "performer[1](Practitioner)"),
                        ("OBR-35", "performer[2](Practitioner)")))
# a day alone is no instant (FHIR's has a time of day to the second, which
# the sender did not give; a year, month or day of 4, 6 or 8 digits, with
# an offset of 5 characters or without): a Provenance's recorded, which R4 requires,
# is then not known (the data-absent-reason on the primitive), and the day
# itself is reported; midnight UTC would be a time never sent
for _map, _ident in (("EVN[Provenance]", "EVN-2"), ("MSH[Provenance-Source]", "MSH-7"),
                     ("ORC[Provenance]", "ORC-9"), ("TXA[Provenance]", "TXA-8")):
    ADDED_ROWS[_map] = _not_known(_ident, f"IF {_day_alone(_ident + '.1')}", "recorded")
    for _added in ADDED_ROWS[_map]:  # at its field's sort order, as the table's numbered rows
        _added[0] = _ident.split("-")[1]
# mended: the Provenance of a patient record's last update (PID-33's time,
# PID-34's facility as its agent, the Patient its target) is recorded at
# "/time of transformation/", prose: the conversion's own time, which would
# make each run's bundle another; without a recorded, which R4 requires, it
# was left out of every message sending PID-33 and PID-34 ("Provenance
# without recorded (from PID)"). Its recorded is not known, as where a
# message's time is no instant
ADDED_ROWS["PID[Provenance-Patient]"] = _not_known("PID-33", "", "recorded")
for _added in ADDED_ROWS["PID[Provenance-Patient]"]:
    _added[0] = "33"
# mended: rows whose condition holds only when the component they read is
# empty ("IF XTN.3 NOT VALUED AND XTN.4 VALUED": system "email"), which the
# converter, reading the components sent, never applied (a number without
# XTN.3 had no system, an e-mail address of XTN.4 none either): ADDED_ROWS
# writes them from the components sent
OWN_EMPTY = {("XTN[ContactPoint]", "XTN.3"): "written from XTN.4, or from the number's components (ADDED_ROWS)"}
# maps made of ADDED_ROWS alone, and their kind
ADDED_MAPS = {"MO[Quantity]": "D", "CQ[Duration]": "D", "FC[CodeableConcept]": "D", "EI[Organization]": "D",
              "IN1[Coverage-Subscriber]": "S", "TQ1[Appointment]": "S",
              "CM_PRACTITIONER[Practitioner]": "D"}

# mended: from 2.5 on an appointment's timing is TQ1's, SCH-11 kept only
# for older receivers and often left empty, but SIU_S12's table maps no
# TQ1: such an Appointment was booked without a start and an end, which
# FHIR allows only a proposed, cancelled or waitlisted one. TQ1-7 and TQ1-8
# are the start and end of the timing TQ1[ServiceRequest] reads, as SCH-11's
# TQ.4 and TQ.5 are the Appointment's (TQ[Appointment]): the Appointment's
# start and end where SCH-11 gives none. Rows of a message table added
# after those of a segment (its identifier), in the tables' columns.
ADDED_TABLE_ROWS = {"SIU_S12": [("SIU_S12.SCH", "SIU_S12.TQ1", "Appointment[1]", "TQ1[Appointment]")]}
# mended: a pharmacy order's ORM^O01 sends its routes as RXR after the RXO
# (ORC RXO {RXR}), which the tables map (RXR[MedicationRequest]) but
# ORM_O01's table does not list: every route was reported as a segment no
# table maps. The RXR fills the MedicationRequest of the RXO before it.
# Its rows fill dosageInstruction[1] alone, which would make each RXR an
# element of its own (as each NK1 is a contact of its own): the route is
# that of the RXO's dosage, the element RXO[MedicationRequest]'s rows fill.
SHARED_ELEMENT = {"RXR[MedicationRequest]"}
ADDED_TABLE_ROWS["ORM_O01"] = [("ORM_O01.ORDER_DETAIL.CHOICE.RXO", "ORM_O01.ORDER_DETAIL.CHOICE.RXR",
                                "MedicationRequest[1]", "RXR[MedicationRequest]")]
ADDED_ROWS["TQ1[Appointment]"] = [_row("TQ1-7", "IF SCH-11.4 NOT VALUED", "start"),
                                   _row("TQ1-8", "IF SCH-11.5 NOT VALUED", "end")]



# mended: an Appointment's start and end are instants; a day alone
# ("20240110", an appointment whose time is not given) is left out and
# reported as no instant, but a booked appointment (as every other but a
# proposed, cancelled or waitlisted one) must have both, and both or
# neither: a start or end of a day alone is then not known, the
# data-absent-reason on the primitive, as a Provenance's recorded, the day
# itself reported (midnight UTC would be a time never sent); so is an end
# not sent beside a start.
for _map, _start, _end, _before in (("TQ[Appointment]", "TQ.4", "TQ.5", ""),
                                    ("TQ1[Appointment]", "TQ1-7", "TQ1-8", "SCH-11")):
    _first, _second = (f"{_start}.1", f"{_end}.1") if _before else (_start, _end)
    _sent = (f"{_before}.4 NOT VALUED AND ", f"{_before}.5 NOT VALUED AND ") if _before else ("", "")
    for _ident, _cond, _element in (
            (_start, f"{_sent[0]}{_day_alone(_first)}", "start"),
            (_start, f"{_sent[1]}{_end} NOT VALUED", "end"),
            (_end, f"{_sent[1]}{_day_alone(_second)}", "end")):
        ADDED_ROWS.setdefault(_map, []).extend(_not_known(_ident, f"IF {_cond}", _element))

# mended: IN1-16's insured is the Coverage's subscriber, the Patient "IF
# IN1-17 IS 'patient'" and a RelatedPerson otherwise: 'patient' is no code
# of IN1-17's table 0063, whose code for the insured being the patient is
# SEL (self). A segment map's row cannot refer to the message's Patient: the
# Patient's row stands for a row of the message tables (on the segment's
# rows, by map name: its condition, the map it applies, which has no rows,
# and the element linked to the Patient). The RelatedPerson's row has no
# rows to make it with (IN1-18, -19, -43 map to nothing): reported.
SELF_ROWS = {"IN1[Coverage]": ('IF IN1-16 VALUED AND IN1-17 EQUALS "SEL"', "IN1[Coverage-Subscriber]",
                               "subscriber")}
PATIENT_TESTS = {"'patient'": '"SEL"'}
# The components that name the resource a data type map makes, where not
# the whole value (Map::identity): an EI's assigning authority is one
# Organization whatever the entity identifier beside it (PL_MAPS have theirs)
IDENTITIES = {"EI[Organization]": "2.3.4", "XCN[Practitioner]": "?1.9"}

# Elements of which a list's element holds one at least, by a rule of
# FHIR's own that the R4B models do not check: a participant of an
# Appointment names who (actor) or what kind (type) it is. The converter
# leaves out (and reports) an element that holds neither; the rows of a map
# that fill such an element and write neither (AIS-4's start of a
# participant of the service alone) are reported here. ("", the resource
# itself: an Organization has a name or an identifier, FHIR's org-1; one
# made for the address of a reference to it alone, IN1-5's without IN1-4,
# is left out. A Patient's contact names someone, a way to reach them or
# an organization, FHIR's pat-1: an NK1 of a relationship alone gives none.)
ONE_OF = {("Appointment", "participant"): ("actor", "type"),
          ("Organization", ""): ("name", "identifier"),
          ("Patient", "contact"): ("name", "telecom", "address", "organization")}


# Elements that every element of a data type holds wherever it stands, by
# what the type means: an Identifier names an entity by its value (CX.1, EI.1,
# HD.2, ...), so one without it names none. The tables fill its type,
# system and assigner from other components and constants (OBR-2 "^DMCRES":
# the placer number's type PLAC alone; PID-3 "^^^^TEAM": a type alone): the
# converter leaves such an identifier out, reporting it where it held a value
# of the message ("Patient.identifier without value (from PID)"), its field
# where nothing of it stayed ("OBR-2").
# A Reference names what it refers to by a reference, an identifier or a
# display (FHIR's ref-1): OBR-29's rows write basedOn's type, a constant,
# beside the identifier of a parent's number, which goes without its value
# ("&M", a namespace alone); the type alone refers to nothing.
HELD = {"Identifier": ("value",), "ContactPoint": ("value",),
        "Reference": ("reference|identifier|display|extension",)}
# the names an element of HELD's types stands under in the resources the
# converter makes (MessageHeader.response.identifier, an id, holds no
# members: a primitive is not required to)
HELD_NAMES = {"identifier": "Identifier", "requisition": "Identifier",
              "accessionIdentifier": "Identifier", "preAdmissionIdentifier": "Identifier",
              "masterIdentifier": "Identifier", "groupIdentifier": "Identifier",
              "telecom": "ContactPoint", "basedOn": "Reference"}


def lacking_elements(fhir_type: str | None, table: list[list[str]]) -> set[tuple[str, int]]:
    """The (list, slot) elements that the rows of `table`, a map to
    `fhir_type`, fill without any of the elements ONE_OF says they hold."""
    filled: dict[tuple[str, int], bool] = {}
    if fhir_type is None:  # a map to a primitive
        return set()
    for r in table:
        m = re.match(r"\s*(\w+)(?:\[(\d+)\])?\.(\w+)", r[9]) if len(r) > 9 else None
        if m and (fhir_type, m.group(1)) in ONE_OF:
            element = (m.group(1), int(m.group(2) or 1))
            filled[element] = (filled.get(element, False)
                               or m.group(3) in ONE_OF[(fhir_type, m.group(1))])
    return {element for element, holds in filled.items() if not holds}

# The maps whose joined assignments ("+"+XTN.5+" "+XTN.6) are written: the
# values they give are lost otherwise (the telephone number of XTN-5..8;
# OBX-5's text of VR and of what SN cannot say as a Quantity, Range or
# Ratio; an RP's media type), or they name the message ("ADT^A01^ADT_A01" as
# the display of MessageHeader's event and of the Provenances' activity), or
# they make an endpoint of an application's universal id ("urn:oid:"+HD.2),
# or an assigning authority's identifier of it (see uri_values()).
# NA's rows are reported: SampledData needs an origin, a period and
# dimensions that no row gives, and its data separates values by spaces, not
# by the tables' "^".
JOINED = {"XTN[ContactPoint]", "OBX[Observation]", "MSG[Coding]", "MSH[Provenance-Source]",
          "HD[Organization]", "HD[Device]", "EI[Organization]",
          "EVN[Provenance]", "RP[Attachment]", "RP[DocumentReference]",
          "HD[MessageHeader.source-endpoint]", "HD[MessageHeader.destination-endpoint]",
          "SN[Quantity]", "SN[Range]", "SN[Ratio]"}

# mended: XTN.7's four rows give the number by which of XTN.5, .6 and .8
# are valued, and none when the local number stands alone or a country code
# without an area code: one join, whose empty parts drop out, stands for the
# four; XTN.12 (the unformatted number) comes first, as in XTN.1's row
JOIN_MENDS = {
    ("XTN[ContactPoint]", "XTN.7", "value"): (
        'IF XTN.3 NOT IN ("Internet", "X.400") AND XTN.7 VALUED AND XTN.12 NOT VALUED',
        '"+"+XTN.5+" "+XTN.6+" "+XTN.7+" X"+XTN.8'),
    # mended: a message type without its event gives no event's display (the
    # event's documented unknown stands instead)
    ("MSG[Coding]", "MSG", "display"): ('IF MSG.2 VALUED', 'MSG.1+"^"+MSG.2+"^"+MSG.3'),
}

report: list[str] = []
# mended: a PL names up to six Locations, from the most granular to the
# least, each part of the next one present (a bed of a room of a floor of a
# point of care of a building of a facility); the tables write them as one
# map whose rows number them [1] to [6], which made one Location of them
# all. One map for each, named by its component and those of the Locations
# it is part of (Map::identity: bed 2 of room 502 is not bed 2 of room 503);
# a row referring to a PL refers to the most granular one present. A PL
# of none of them (its description alone) is PL[Location] itself, as before.
PL_LEVELS = [("PL.3", "Bed"), ("PL.2", "Room"), ("PL.8", "Floor"), ("PL.1", "PointOfCare"),
             ("PL.7", "Building"), ("PL.4", "Facility")]
PL_MAPS = [f"PL[Location-{level}]" for _, level in PL_LEVELS]
# mended: 2.2's internal location (CM_INTERNAL_LOCATION: PV1-3, PV1-6,
# PV1-11, PV1-42, PV1-43 and PV2-1 before 2.3's PL) is a PL's first five
# components (nurse unit station, room, bed, facility, bed status) and
# three national extensions: Etage (the floor), Klinik and Zentrum (a clinic
# and a centre, of no PL component). Read as a PL, Klinik was a building
# and Zentrum a floor, and the floor was lost. Maps of its own, PL's rows of
# the components they share and the floor of its sixth; Klinik and Zentrum
# reported (by the most granular Location's map, once). The fields' rows
# read it in these versions, PL's maps in the others (see pl_referring()).
CM_LOCATION_VERSIONS = ("2.2",)
# 2.3's PL.9 is the location's type (ST), the description (ST) from 2.3.1 on
PL_TYPE_VERSIONS = ("2.3",)
CM_LOCATION_FIELDS = ("PV1-3", "PV1-6", "PV1-11", "PV1-42", "PV1-43", "PV2-1")
CM_LOCATION = "CM_INTERNAL_LOCATION"
CM_LEVELS = [(f"{CM_LOCATION}.3", "Bed"), (f"{CM_LOCATION}.2", "Room"), (f"{CM_LOCATION}.6", "Floor"),
             (f"{CM_LOCATION}.1", "PointOfCare"), (f"{CM_LOCATION}.4", "Facility")]
CM_MAPS = [f"{CM_LOCATION}[Location-{level}]" for _, level in CM_LEVELS]
# PL's components that 2.2's holds, by their number there
CM_COMPONENTS = {"PL.1": "1", "PL.2": "2", "PL.3": "3", "PL.4": "4", "PL.8": "6"}


# mended: RXA-11 (where a vaccine was given) is, from 2.3 to 2.7, a
# location and its address in one field (2.3's CM_LA1, LA2 from 2.3.1): a
# PL's first eight components, then the address's street, other
# designation, city, state, postal code, country, type and other
# geographic designation. 2.7 adds RXA-27 (a PL) and RXA-28 (an XAD),
# which the tables map (the Immunization's location, its address), and
# 2.8 withdraws RXA-11, to which the tables give no row: the place a
# vaccine was given, as senders of those versions send it, was reported
# and lost. Read as RXA-27 and RXA-28 are, where RXA-27 is not valued:
# maps of its own, PL's rows of the components they share (of the same
# Locations, of the same ids, as RXA-27's), and the address's components
# written as the Location's address by the most granular Location present
# (as PL.9's description is); its type and other geographic designation
# reported (by that Location's map, once).
LA2 = "LA2"
LA2_VERSIONS = ("2.3", "2.3.1", "2.4", "2.5", "2.5.1", "2.6", "2.7")
LA2_FIELDS = ("RXA-11",)
LA2_LEVELS = [(f"{LA2}.{c.split('.')[1]}", level) for c, level in PL_LEVELS]
LA2_MAPS = [f"{LA2}[Location-{level}]" for _, level in LA2_LEVELS]
LA2_WHOLE = f"{LA2}[Location]"
LA2_ADDRESS = {f"{LA2}.9": "address.line[1]", f"{LA2}.10": "address.line[2]", f"{LA2}.11": "address.city",
               f"{LA2}.12": "address.state", f"{LA2}.13": "address.postalCode", f"{LA2}.14": "address.country"}
ADDED_ROWS.setdefault("RXA[Immunization]", []).append(
    _row("RXA-11", "IF MSH-12 IN (" + ", ".join(f'"{v}"' for v in LA2_VERSIONS) + ") AND RXA-27 NOT VALUED",
         "location[1](Location)", "PL[Location]"))


def la2_rows(table: list[list[str]]) -> list[list[str]]:
    """PL's rows as an LA2 reads them: those of its first eight components
    (numbered as a PL's), and its address's (see LA2_ADDRESS) for the
    most granular Location present (see pl_rows())."""
    out = [[*r[:1], f"{LA2}.{r[1].split('.')[1]}", *r[2:]] for r in table
           if re.fullmatch(r"PL\.[1-8]", r[1].strip())]
    out += [_row(c, "", f"[1-6].{path}") for c, path in LA2_ADDRESS.items()]
    return out + [_row(f"{LA2}.{c}", "", "[1-6].$unmapped") for c in (15, 16)]


def pl_layout(name: str) -> tuple[list[tuple[str, str]], list[str]]:
    """The levels and maps of the Locations a map of PL_MAPS, CM_MAPS or
    LA2_MAPS (or LA2_WHOLE) is one of."""
    if name in LA2_MAPS or name == LA2_WHOLE:
        return LA2_LEVELS, LA2_MAPS
    return (CM_LEVELS, CM_MAPS) if name in CM_MAPS else (PL_LEVELS, PL_MAPS)


def pl_granular(level: int, levels: list[tuple[str, str]] = PL_LEVELS) -> list[str]:
    """The components of the Locations more granular than levels[level]."""
    return [c for c, _ in levels[:level]]


def cm_location_rows(table: list[list[str]]) -> list[list[str]]:
    """PL's rows as 2.2's internal location reads them: those of the
    components it holds, renumbered, and Klinik and Zentrum reported (by the
    most granular Location's map: see pl_rows())."""
    out = [[*r[:1], f"{CM_LOCATION}.{CM_COMPONENTS[r[1]]}", *r[2:]] for r in table if r[1] in CM_COMPONENTS]
    return out + [_row(f"{CM_LOCATION}.{c}", "", "[1-6].$unmapped") for c in (7, 8)]


def pl_rows(level: int, table: list[list[str]], name: str = "") -> list[list[str]]:
    """The rows of PL's table for the Location levels[level] of map `name`'s
    layout (PL_LEVELS, or CM_LEVELS for CM_MAPS)."""
    levels, maps = pl_layout(name)
    own = levels[0][0].split(".")[0]
    if name in CM_MAPS:
        table = cm_location_rows(table)
    elif name in LA2_MAPS or name == LA2_WHOLE:
        table = la2_rows(table)
    out: list[list[str]] = []
    below = " AND ".join(f"{c} NOT VALUED" for c in pl_granular(level, levels))
    for r in table:
        m = re.match(r"\s*\[(\d)(?:-(\d))?\]\.(.*)", r[9])
        if not m:
            out.append(r)
            continue
        # the tables number the Locations by PL_LEVELS
        first, last = (next((i for i, (_, lv) in enumerate(levels) if lv == PL_LEVELS[int(n) - 1][1]), -1)
                       for n in (m.group(1), m.group(2) or m.group(1)))
        tpath = re.sub(r"^location\(Location\.(.*)\)$", r"\1", m.group(3).strip())
        if r[1] == "PL.10":
            # mended: PL.10's rows number the point of care [5] and the
            # building [4]; each names the most granular Location it holds
            # for by the component its condition says is valued
            named = [c for c in re.findall(r"\b(PL\.\d+) VALUE", r[6]) if c != "PL.11"]
            first = last = next((i for i, (c, _) in enumerate(PL_LEVELS) if c in named), -1)
            # mended: the floor's rows write "PL3.NOT VALUED"
            r = r[:6] + [r[6].replace("PL3.NOT VALUED", "PL.3 NOT VALUED")] + r[7:]
        elif r[1] == "PL.9" or tpath == "$unmapped" or r[1] in LA2_ADDRESS:
            # mended: the description is the bed's ([1]); where there is no
            # bed, the most granular Location's (where there is none, the
            # one Location of the whole PL's)
            first, last, r = level, level, r[:6] + [f"IF {below}" if below else ""] + r[7:]
            if r[1] == "PL.9":
                # mended: 2.3's PL.9 is the location's type, a text (the
                # description from 2.3.1 on): the Location's type there
                versions = ", ".join(f'"{v}"' for v in PL_TYPE_VERSIONS)
                out.append(_row("PL.9", " AND ".join(filter(None, [r[6], f"MSH-12 IN ({versions})"])),
                                "type[1].text"))
                r = r[:6] + [" AND ".join(filter(None, [r[6], f"MSH-12 NOT IN ({versions})"]))] + r[7:]
                if not r[6].startswith("IF "):
                    out[-1][6], r[6] = "IF " + out[-1][6], "IF " + r[6]
        elif r[1] == "PL.11" and "identifier[2]" in tpath:
            # mended: the assigning authority of PL.10's identifier: only
            # where there is one (an identifier of an assigner alone stood
            # beside every Location of a PL.11)
            r = r[:6] + ["IF PL.10 VALUED"] + r[7:]
        elif tpath.startswith("partOf"):
            # mended: the partOf rows name the Location itself (the
            # building's) or one that may be absent: written below, to the
            # next Location present
            continue
        if first <= level <= last:
            out.append(r[:9] + [tpath] + r[10:])
    for k in range(level + 1, len(levels)):
        between = [f"{c} NOT VALUED" for c, _ in levels[level + 1:k]]
        out.append(_row(own, " AND ".join([f"IF {levels[k][0]} VALUED"] + between),
                        "partOf", maps[k]))
    return out


def pl_referring(cond: str, address: str) -> list[tuple[str, str]]:
    """(condition, map) of each row that stands for a row referring to the
    Location of a PL at `address` ("PV1-3"), in postfix as condition()
    writes them: the most granular Location present, else PL[Location]. A
    field of 2.2's internal location (CM_LOCATION_FIELDS) reads it by
    CM_MAPS in those versions where it holds Etage, Klinik or Zentrum, by
    PL's otherwise (the same Locations, of the same ids, as before): a test
    of MSH-12 first for those versions (a gate, deciding the run of their
    rows at once), last for the others (tested only where the rest held)."""
    layouts = [(PL_LEVELS, PL_MAPS, "PL[Location]", "", "")]
    if address in LA2_FIELDS:  # (its versions the row's own condition names: see LA2_VERSIONS)
        layouts = [(LA2_LEVELS, LA2_MAPS, LA2_WHOLE, "", "")]
    if address in CM_LOCATION_FIELDS:
        versions = ", ".join(f'"{v}"' for v in CM_LOCATION_VERSIONS)
        old = condition(f"IF MSH-12 IN ({versions})", "MSH")
        extensions = [f"{address}.{c}" for c in (6, 7, 8)]
        layouts = [(PL_LEVELS, PL_MAPS, "PL[Location]", "", condition(f"IF MSH-12 NOT IN ({versions})", "MSH")),
                   (PL_LEVELS, PL_MAPS, "PL[Location]", old, " ".join(
                       [f"N:{extensions[0]}"] + [f"N:{e} &" for e in extensions[1:]])),
                   (CM_LEVELS, CM_MAPS, "", old, " ".join(
                       [f"V:{extensions[0]}"] + [f"V:{e} |" for e in extensions[1:]]))]
    out = []
    for levels, maps, whole, first_test, last_tests in layouts:
        for level in range(len(levels) + bool(whole)):
            tests = [f"N:{address}.{c.split('.')[1]}" for c in pl_granular(level, levels)]
            if level < len(levels):
                tests.insert(0, f"V:{address}.{levels[level][0].split('.')[1]}")
            program = " ".join(tests[:1] + [f"{t} &" for t in tests[1:]])
            lead = " ".join(filter(None, [first_test, cond, "&" * bool(first_test and cond)]))
            program = " ".join(filter(None, [lead, program, "&" * bool(lead)]))
            out.append((f"{program} {last_tests} &" if last_tests else program,
                        maps[level] if level < len(levels) else whole))
    return out


# The component a map to a primitive reads, where it is not the first, by
# map name: see note_members().
PIECES: dict[str, str] = {}
# Maps to a string or uri whose value is one of several components, as
# conditions on the value say (CWE[string]: the original text, else the
# text; HD[uri]: the namespace id, else the universal id as a urn by its
# type; XON[string]: the name, else the identifier), by map name: a row that
# names one, without a vocabulary, applies it (see note_members()).
CHOSEN: set[str] = set()
# Codes the tables give in prose, by (map, target): the mother's
# relationship "should be populated with "MTH" as default if no further
# context is known" (a CX gives none).
PROSE_CODES = {("CX[RelatedPerson-Mother]", "relationship[1].coding[1].code"): "MTH"}
# Maps whose constants in rows without an identifier are not taken as the
# segment's own (see map_rows()): PV1[Basic-EncounterHistory]'s Basic would
# hold its code alone (its extension's url and its subject's reference are
# unreadable), a resource of nothing made for every PV1-43.
UNMADE = {"PV1[Basic-EncounterHistory]"}
# A field whose data type changed between versions, for rows that apply
# "if <field> data type <type> is used": the later type and the versions
# whose field is of it (see map_rows())
TYPED_VERSIONS = {"ORC-4": ("EIP", ("2.8", "2.8.1", "2.8.2"))}
# The elements each map's rows fill first ("family" and its extensions for
# FN[HumanName]), by map name: see note_members().
MEMBERS: dict[str, set[str]] = {}


# Slots added to a segment map's top-level lists, by (map, list): see
# plan_list_slots().
SHIFTS: dict[tuple[str, str], int] = {}
# lists whose elements several maps fill together on purpose: extensions
# (told apart by their url), identifiers (ORC-2 or else OBR-2, as the rows'
# conditions say)
SHARED_LISTS = {"extension", "modifierExtension", "identifier"}
# (map, list) whose rows write into the elements of the list that the maps
# after them number (TXA-3's contentType into OBX[DocumentReference]'s
# contents, REPLACED_ROWS): the map's slots move no later map's
SHARED_SLOTS = {("TXA[DocumentReference]", "content")}


def plan_list_slots(lines: list[str], files: dict[str, Path]) -> None:
    """SHIFTS from the message rows `lines` (G lines) and the segment maps'
    tables: each map numbers the elements of a resource's list it fills
    from 1 (PV1's attender and PV2's referrer both Encounter.participant[1]);
    where several maps fill one resource, a later map's elements of a list
    an earlier one fills come after the earlier's, so that each is its own
    (a map that fills one list element only, NK1's contact, AIG's and AIL's
    participant, takes one of its own in the converter)."""
    used: dict[str, dict[str, int]] = {}  # map -> list -> the largest slot of its rows
    for name, path in files.items():
        target = target_type((map_name(name) or ("", ""))[1])
        slots: dict[str, int] = {}
        firsts = set()  # the first steps of its rows (a list's with its slot)
        for r in table_rows(name, path):
            m = re.match(r"\s*(\w+)(?:\[(\d+)\])?", r[9]) if len(r) > 9 else None
            if not m:
                continue
            got = SHAPES.field(target, m.group(1))
            firsts.add((m.group(1), int(m.group(2) or 1) if got and got[0] else 0))
            if got and got[0] and m.group(1) not in SHARED_LISTS and (name, m.group(1)) not in SHARED_SLOTS:
                slots[m.group(1)] = max(slots.get(m.group(1), 0), int(m.group(2) or 1))
        if len(firsts) > 1:  # not one list element alone
            used[name] = slots
    SHIFTS.clear()
    labels: dict[tuple[str, str], list[str]] = {}
    structure = ""
    for line in lines:
        f = line.split("\t")
        if f[0] == "M":
            structure = f[1]
        elif f[0] == "G" and f[5] in used and f[5] not in labels.setdefault((structure, f[3]), []):
            labels[(structure, f[3])].append(f[5])
    for maps in labels.values():
        top: dict[str, int] = {}
        for name in maps:
            for element, slot in used[name].items():
                if element in top:
                    SHIFTS[(name, element)] = max(SHIFTS.get((name, element), 0), top[element])
                top[element] = max(top.get(element, 0), slot + SHIFTS.get((name, element), 0))


def forget_maps(shapes: object = None) -> None:
    """Clears what note_members() and map_rows() noted of the maps compiled
    before, but for the package's maps that `shapes` (TableShapes) holds
    the notes of: each compiling reads its own tables and the package's, a
    user's second Mapping not the first's maps of the same names."""
    PIECES.clear()
    PIECES.update(getattr(shapes, "pieces", {}))
    MEMBERS.clear()
    MEMBERS.update(getattr(shapes, "members", {}))
    CHOSEN.clear()
    CHOSEN.update(getattr(shapes, "chosen", ()))
    SHIFTS.clear()
    BOUND.clear()


def member_lines() -> list[str]:
    """The N lines of the notes note_members() took of the package's maps."""
    return [f"N\t{esc(name)}\t{PIECES.get(name, '')}\t" + ",".join(esc(m) for m in sorted(MEMBERS.get(name, ())))
            for name in sorted(set(MEMBERS) | set(PIECES))]


def note_members(name: str, path: Path | None) -> None:
    """Notes the first steps of the paths of map `name`'s rows, before any
    map is compiled: a row that names one of them as its target with this
    map means the element that holds it (see map_rows()); and, of a map to a
    primitive whose one value row reads another component than its first
    (MSG[code]: MSG.2, the event; CQ[code]: CQ.2, the unit), that component
    (PIECES)."""
    table = table_rows(name, path)
    MEMBERS[name] = {re.split(r"[.\[(]", r[9].strip())[0] for r in table
                     if len(r) > 9 and r[9].strip()}
    values = [m.group(1) for r in table if len(r) > 9 and r[9].strip() in ("$value", "$this")
              for m in [re.fullmatch(r"[A-Z]{2,3}\.(\d+)", r[1].strip())] if m]
    if len(values) == 1 and values[0] != "1":
        PIECES[name] = values[0]
    if len(values) > 1 and map_name(name) and (map_name(name) or ("", ""))[1] in ("string", "uri"):
        CHOSEN.add(name)


def vocabulary_name(text: str) -> str:
    """A vocabulary's name as rows and files name it alike: the tables write
    "/" in names whose files have none (Yes/NoIndicator), and NK1[Patient]'s
    NK1-7 names "Contact Role" the vocabulary of the file ContactRole (its
    codes were not translated: a contact role sent without its system had
    none)."""
    return re.sub(r"[/\s]", "", text)


def esc(text: str) -> str:
    return re.sub(r"[%\t\n\r ,|:;]", lambda m: "%%%02X" % ord(m.group()), text)


def rows(path: Path, strict: bool = True) -> list[list[str]]:
    """The cells of a CSV table, stripped, each row with 20 empty cells
    after its own. ValueError naming the file and the line for a file of
    another encoding (a spreadsheet's "Unicode text", or its ANSI CSV) or,
    `strict`, one that is no CSV (a quoted cell left open swallows every
    row after it; text after a closing quote): the line its row begins on."""
    data = path.read_bytes()
    bom = len(codecs.BOM_UTF8) if data.startswith(codecs.BOM_UTF8) else 0
    try:
        text = data[bom:].decode("utf-8")
    except UnicodeDecodeError as e:
        at = bom + e.start
        line = data.count(b"\n", 0, at) + 1
        raise ValueError(f"{path}, line {line}: not UTF-8 text ({e.reason} at byte {at}): "
                         "save the table as CSV UTF-8") from None
    reader = csv.reader(io.StringIO(text, newline=""), strict=strict)
    table: list[list[str]] = []
    line = 1
    try:
        for r in reader:
            table.append([c.strip() for c in r] + [""] * 20)
            line = reader.line_num + 1
    except csv.Error as e:
        raise ValueError(f"{path}, line {line}: not CSV ({e})") from None
    return table


def resolve(type_name: str, path: str) -> tuple[str, str] | str:
    """(encoded steps, final type or kind) of `path` below `type_name`, or the
    reason it does not resolve."""
    steps: list[str] = []
    current = type_name
    before: tuple[str, str, bool] | None = None  # the last step's name, owner and list
    for part in path.split("."):
        m = re.fullmatch(r"([A-Za-z][A-Za-z0-9]*)(?:\[(\d+)\])?", part)
        if not m:
            return f"step {part!r} is not an element name"
        if len(current) == 1:
            # FHIR's JSON writes a primitive's extensions beside it, in
            # "_name" (birthDate's birth time in _birthDate); those of a
            # list's primitives in a list of their own, an element at the
            # place of its value (AL1-2's "_category*1" beside "category*1";
            # the converter aligns the two lists with nulls)
            primitive = None
            if m.group(1) == "extension" and before is not None:
                primitive = SHAPES.field(before[1], "_" + before[0])
            if primitive is None or before is None:
                return f"{m.group(1)!r}: an extension on a primitive element the converter does not write"
            steps[-1] = "_" + steps[-1]
            current = primitive[1]
        got = SHAPES.field(current, m.group(1))
        if got is None:
            return f"{current} has no element {m.group(1)!r}"
        is_list, kind = got
        if kind == "?":
            return f"{current}.{m.group(1)} has a type the converter does not write"
        slot = int(m.group(2) or 1)
        steps.append(f"{m.group(1)}*{slot}" if is_list else m.group(1))
        before = (m.group(1), current, is_list)
        current = kind
    return ".".join(steps), current


# --- conditions -------------------------------------------------------------

ADDRESS = r"(?:[A-Z][A-Z0-9]{2}-\d+(?:\.\d+)*|(?:[A-Z][A-Z0-9]{1,2}|CM_[A-Z_]+)\.\d+(?:\.\d+)*)"
OPS = {"GREATER THAN OR EQUALS": "ge", "LESS THAN OR EQUALS": "le", "GREATER THAN": "gt",
       "LESS THAN": "lt", "EQUALS": "eq", "NOT EQUALS": "ne"}


# The rows whose assignment is a time plus an amount of time
# ("Procedure.performedPeriod.start+PR1-7"): kind P, a dateTime from the
# places joined, the time, the amount and the amount's units (minutes when
# none are named).
LATER_TIMES = {
    ("PR1[Procedure]", "PR1-7", "performedPeriod.end"): "PR1-5.1 PR1-7",
    # a resource's duration after its start, in the units the next field names
    ("AIG[Appointment]", "AIG-11", "participant.period.end"): "AIG-8.1 AIG-11 AIG-12.1",
    ("AIL[Appointment]", "AIL-9", "participant.period.end"): "AIL-6.1 AIL-9 AIL-10.1",
    ("AIP[Appointment]", "AIP-9", "participant.period.end"): "AIP-6.1 AIP-9 AIP-10.1",
    ("AIS[Appointment]", "AIS-7", "participant.period.end"): "AIS-4.1 AIS-7 AIS-8.1",
    ("AIS[ServiceRequest]", "AIS-7", "occurrencePeriod.end"): "AIS-4.1 AIS-7 AIS-8.1",
    # a resource's start as an offset, where it has no start of its own:
    # "/.start + AIG-9 according to AIG-10 units/", the start being the
    # appointment's (Appointment.start, which SCH-11's start gives alone)
    ("AIG[Appointment]", "AIG-9", "participant.period.start"): "SCH-11.4.1 AIG-9 AIG-10.1",
    ("AIL[Appointment]", "AIL-7", "participant.period.start"): "SCH-11.4.1 AIL-7 AIL-8.1",
    ("AIP[Appointment]", "AIP-7", "participant.period.start"): "SCH-11.4.1 AIP-7 AIP-8.1",
    ("AIS[Appointment]", "AIS-5", "participant.period.start"): "SCH-11.4.1 AIS-5 AIS-6.1",
    ("AIS[ServiceRequest]", "AIS-5", "occurrencePeriod.start"): "SCH-11.4.1 AIS-5 AIS-6.1",
}

# mended: urls the tables give for a code system or an extension that name
# another thing, or this one otherwise than FHIR does (a FHIR server knows a
# code system or extension by its exact url): a documentation page, a value
# set for its code system, a trailing slash
URLS = {
    "https://hl7.org/fhir/R4/v3/ParticipationType/cs.html":
        "http://terminology.hl7.org/CodeSystem/v3-ParticipationType",
    "http://www.hl7.org/fhir/extension-condition-asserteddate":
        "http://hl7.org/fhir/StructureDefinition/condition-assertedDate",
    "http://unitsofmeasure.org/": "http://unitsofmeasure.org",
}


def canonical_url(text: str) -> str:
    """`text` as FHIR names the code system or extension (URLS); FHIR's
    urls begin "http://hl7.org/fhir/", never "https:", and HL7's v2 tables
    are code systems ("CodeSystem/v2-0119"), not value sets."""
    text = URLS.get(text, text)
    # the web page of a v3 code system ("https://hl7.org/fhir/R4/v3/RoleCode/
    # cs.html#v3-RoleCode"): the code system
    text = re.sub(r"^https?://(?:www\.)?hl7\.org/fhir/R4/v3/([\w-]+)/cs\.html(?:#.*)?$",
                  r"http://terminology.hl7.org/CodeSystem/v3-\1", text)
    text = re.sub(r"^https://hl7\.org/fhir/", "http://hl7.org/fhir/", text)
    return re.sub(r"^http://terminology\.hl7\.org/ValueSet/(v2-\d{4})$",
                  r"http://terminology.hl7.org/CodeSystem/\1", text)


# the coding systems a role's code is of where a message row tests it (ROL-3
# is bound to table 0443; PRT-4 to 0912, whose roles the rows test, and
# which the rows name 0443)
ROLE_TABLES = {"ROL-3.3": ("HL70443",), "PRT-4.3": ("HL70443", "HL70912")}

# the HL7 table each SCH field's codes are of (SCH-7 appointment reason,
# SCH-8 appointment type): a code that names no coding system is of it
SCH_TABLES = {("SCH[Appointment]", "SCH-7"): "HL70276", ("SCH[Appointment]", "SCH-8"): "HL70277"}

# data types whose table names its rows by another type's components
ROWS_NAMED_AS = {"CF": "CWE"}


def address(text: str, own: str, field: tuple[str, str] | None = None) -> str:
    if re.fullmatch(r"[A-Z][A-Z0-9]{2}-\d+(?:\.\d+)*", text):
        return text
    # mended: a segment map's row names the components of its own field by
    # the field's data type, as a data type map would ("IF CWE.3 IS
    # "HL70277"" of SCH-7, a CWE): they are the field's components
    if field and text.split(".")[0] == field[1]:
        return f"{own}-{field[0]}." + text.split(".", 1)[1]
    # in a data type map: "CWE.1" names a component of the value itself
    if text.split(".")[0] != own:
        raise ValueError(f"address {text} outside the {own} map")
    return "." + text.split(".", 1)[1]


def condition(text: str, own: str, field: tuple[str, str] | None = None) -> str:
    """The postfix program of a condition; ValueError when it is prose.
    `field` is the number and data type of the field a segment map's row
    reads."""
    s = " ".join(text.replace("\u201c", '"').replace("\u201d", '"').split())
    s = re.sub(r"^IF\s+", "", s, flags=re.I)
    s = re.sub(r"(\bAND|\bOR|\() ?IF\b ?", r"\1 ", s, flags=re.I)
    # mended: "PRT-5 AND PRT-6 AREA NOT VALUED"; "XCN.19 NOT VALUED XCN.20 NOT
    # VALUED" (AND missing); "IAM-15 VALUED AND NOT "SEL"" (the address once)
    s = s.replace(" AREA NOT VALUED", " NOT VALUED")
    s = re.sub(rf"\b(VALUED) (?={ADDRESS})", r"\1 AND ", s)
    s = re.sub(rf"^({ADDRESS}) VALUED AND NOT (\"[^\"]*\")$", r"\1 VALUED AND \1 NOT \2", s)
    # "A AND B VALUED" ("A OR B IS VALUED", "SCH-26 or SCH-27 VALUED")
    # distributes the predicate
    s = re.sub(rf"^({ADDRESS}) (AND|OR|and|or) ({ADDRESS}) (?:IS |ARE )?(VALUED|NOT VALUED)$",
               r"\1 \4 \2 \3 \4", s)
    tokens = re.findall(rf'"[^"]*"|\(|\)|,|{ADDRESS}|[A-Za-z.]+|\d+|!=|=', s)
    if "".join(tokens).replace(" ", "") != re.sub(r"\s", "", s):
        raise ValueError("not in the condition grammar")
    pos = 0

    def peek(*words: str) -> bool:
        n = len(words)
        return [t.upper() for t in tokens[pos:pos + n]] == list(words)

    def take(*words: str) -> bool:
        nonlocal pos
        if peek(*words):
            pos += len(words)
            return True
        return False

    def values() -> list[str]:
        nonlocal pos
        out = []
        if take("("):
            while not take(")"):
                if pos >= len(tokens):
                    raise ValueError("unclosed list")
                if tokens[pos] != ",":
                    out.append(tokens[pos].strip('"'))
                pos += 1
        elif pos < len(tokens) and tokens[pos].startswith('"'):
            out.append(tokens[pos].strip('"'))
            pos += 1
        else:
            raise ValueError("a value expected")
        return out

    def atom() -> str:
        nonlocal pos
        if take("("):
            out = disjunction()
            if not take(")"):
                raise ValueError("unbalanced parenthesis")
            return out
        if pos >= len(tokens) or not re.fullmatch(ADDRESS, tokens[pos]):
            raise ValueError("an address expected")
        a = address(tokens[pos], own, field)
        pos += 1
        for words, code in ((("IS", "NOT", "WRITTEN"), "w"), (("NAMES", "NO", "MIME", "TYPE"), "K"),
                            (("IS", "NOT", "VALUED"), "N"), (("NOT", "VALUED"), "N"),
                            (("DOES", "NOT", "EXIST"), "N"), (("IS", "EMPTY"), "N"),
                            (("IS", "VALUED"), "V"), (("VALUED",), "V"), (("VALUE",), "V"),
                            (("EXISTS",), "V")):
            if take(*words):
                return f"{code}:{a}"
        for words, code in ((("NOT", "IN"), "X"), (("IN",), "E"), (("IS", "IN"), "E"),
                            (("NOT", "EQUALS"), "X"), (("IS", "NOT"), "X"), (("!=",), "X"),
                            (("EQUALS",), "E"), (("IS",), "E"), (("=",), "E"), (("NOT",), "X")):
            if take(*words):
                listed = values()
                # mended: lists of value types name DTM and not TS, its name
                # before 2.6 (a TS begins with a DTM)
                if "DTM" in listed and "TS" not in listed:
                    listed.append("TS")
                # a code compared with a field is its first component's
                # (PRT-4, a CWE, "IS IN" roles): the same text for a field
                # of one component
                if re.fullmatch(r"[A-Z][A-Z0-9]{2}-\d+", a):
                    a += ".1"
                return f"{code}:{a}:" + ",".join(esc(v) for v in listed)
        for measure, code in (("LST.COUNT", "C"), ("LENGTH", "L"), ("NUMBER", "M")):
            if take(measure) or take(measure.lower()):
                for comparison, op in OPS.items():
                    if take(*comparison.split()):
                        if pos < len(tokens) and tokens[pos].isdigit():
                            pos += 1
                            return f"{code}:{a}:{op}:{tokens[pos - 1]}"
                raise ValueError("a comparison expected")
        raise ValueError("a predicate expected")

    def conjunction() -> str:
        out = atom()
        while take("AND"):
            out += " " + atom() + " &"
        return out

    def disjunction() -> str:
        out = conjunction()
        while take("OR"):
            out += " " + conjunction() + " |"
        return out

    out = disjunction()
    if pos != len(tokens):
        raise ValueError("text after the condition")
    return out


def folded(cond: str, name: str) -> str:
    """Condition `cond` of map `name` with its E and X tests of a place of
    FOLDED naming the vocabulary that compares them."""
    return " ".join(f"{t}:{FOLDED[name, t.split(':')[1]]}"
                    if t[:2] in ("E:", "X:") and (name, t.split(":")[1]) in FOLDED else t
                    for t in cond.split(" "))


def join(text: str, own: str) -> str | None:
    """The join line of an assignment of quoted texts and addresses joined
    by '+' ("'" before a text, `address()`'s addresses), or None when it is
    not one."""
    # mended: OBX-5's text rows read 'OBX-5.4" "OBX-6"', two '+' missing and
    # a stray quote; OBX-6 is a CWE, of which the unit's code is meant
    text = text.replace('OBX-5.4" "OBX-6"', 'OBX-5.4+" "+OBX-6.1')
    # mended: MSH's and EVN's rows name the message type's components as MSG's
    if own in ("MSH", "EVN"):
        text = re.sub(r"\bMSG\.", "MSH-9.", text)
    part = rf'"[^"]*"|{ADDRESS}'
    if (re.sub(rf"{part}|\+|\s", "", text) or not re.search(ADDRESS, text)
            or text.rstrip().endswith('"')):  # a text after the last place is not written
        return None
    try:
        return " ".join("'" + esc(p[1:-1]) if p.startswith('"') else address(p, own)
                        for p in re.findall(part, text))
    except ValueError:
        return None


# --- maps -----------------------------------------------------------------

def map_name(text: str) -> tuple[str, str] | None:
    m = re.fullmatch(r"([A-Z0-9_]+)\[([^\]]+)\]", text.strip())
    return (m.group(1), m.group(2)) if m else None


def target_type(name: str) -> str:
    """The FHIR type a map fills: "Identifier-Organization" fills an
    Identifier, "dateTime" a dateTime."""
    base = name.split("-")[0]
    if "." in base:  # a backbone element: "MessageHeader.source"
        resolved = resolve(base.split(".")[0], base.split(".", 1)[1])
        return base if isinstance(resolved, str) else resolved[1]
    return base


def same_type(element: str, filled: str) -> bool:
    quantities = {"Quantity", "SimpleQuantity", "Age", "Duration", "Count", "Distance",
                  "MoneyQuantity"}
    return element == filled or (element in quantities and filled in quantities)


# Rows of a map's table read as other rows, by (map, field). TXA-3 (the
# document's content presentation, table 0191's TX, FT, AP...) wrote the
# contentType of a content of its own, beside the content of the document's
# text that OBX[DocumentReference] writes, with its own contentType: a
# DocumentReference of an MDM had two contents, one a type alone. TXA-3
# names the type of that text: TX (and TEXT) the TX text's content, FT the
# FT text's (content[4] and content[2] of OBX[DocumentReference], whose
# slots TXA[DocumentReference]'s share, SHARED_SLOTS); TXA-3 is written
# first and stands. A text is one content whichever of the two types TXA-3
# and OBX-2 name (TEXT_SLOT): where they disagree (TXA-3 TX, OBX-2 FT) the
# tables' slots gave two, one of TXA-3's type alone beside the text's. Any other (AP, IM, AU) is the type of the data an OBX's
# ED carries, content[1], which the tables' TXA-3 row names too
# ("content.attachment.contentType"): one content, not one of a type alone
# beside the ED's (R4's contents are the document in each of its formats).
# AP's MIME type, application/octet-stream, names no more than data, and the
# ED's own (application/pdf of "AP^PDF") replaces it (the engine's
# taken_leaf()); IM and AU name none (reported). Without an ED, TXA-3's type
# is the content's (a notification's document, MDM^T01).
REPLACED_ROWS = {
    # mended: MSG[Coding] (MSH-9's eventCoding) wrote any trigger event under
    # table 0003's system, a site's own event (ADT^Z01) and one of no table
    # (ADT^A99) too; its code is read through EventType, the vocabulary
    # MSG[MessageHeader] names for the same component, which gives table
    # 0003's system to the events it holds (as spare_assigned_systems() has
    # it), and another event is kept without one
    ("MSG[Coding]", "MSG.2"): [_row("MSG.2", "", "code", vocab="EventType")],
    # mended: a CQ's unit (CQ.2, a CWE since 2.5, a CE before) was its text
    # alone (CWE[string]), its code and coding system lost, where the
    # Quantity it goes into holds both, as the tables' CWE[Quantity] writes
    # an OBX-6 unit's: a CQ's unit is written so ("mg&milligram&UCUM": code
    # mg, system UCUM's, unit milligram)
    ("CQ[Quantity]", "CQ.2"): [_row("CQ.2", "", "$this", "CWE[Quantity]")],
    ("TXA[DocumentReference]", "TXA-3"): [
    _row("TXA-3", 'IF TXA-3 IN ("TX", "TEXT", "FT")', "content[4].attachment.contentType", "ID[code]"),
    _row("TXA-3", 'IF TXA-3 NOT IN ("TX", "TEXT", "FT")', "content[1].attachment.contentType", "ID[code]")]}
# The one content slot of a document's text, TX or FT (OBX[DocumentReference]
# gives TX content[4], FT content[2]: its FT rows are read as TX's slot),
# where TXA-3's type of a text is written too (REPLACED_ROWS)
TEXT_SLOT = ("OBX[DocumentReference]", '"FT"', "content[2]", "content[4]")


def cx_type_assigned(r: list[str], table: list[list[str]]) -> list[str]:
    """Row `r` of `table`, mended where it assigns the type of a field's CX
    (PV1-19's "VN", OBR-53's and ORC-33's "PLAC", with table 0203's system):
    the CX's own type (CX.5) and the assigned one wrote one Coding, so the
    assigned system joined a CX.5 the vocabulary does not hold (PV1-19
    "V1^^^^visitid": code visitid under table 0203's system). The assigned
    type is the field's where CX.5 is empty; a CX.5 sent is coded by the
    IdentifierType vocabulary, which gives the system of the codes it holds
    and reports the others."""
    field = r[1].strip()
    if len(r) < 17 or not r[16].strip():
        return r
    for x in table:
        if len(x) > 14 and x[1].strip() == field and x[14].strip() == "CX[Identifier]":
            base = x[9].strip()
            if r[9].strip() in (base + ".type.coding.code", base + ".type.coding.system"):
                cond = r[6].strip()
                cond = f"{cond} AND {field}.5 NOT VALUED" if cond else f"IF {field}.5 NOT VALUED"
                return [*r[:6], cond, *r[7:]]
    return r


def table_rows(name: str, path: Path | None) -> list[list[str]]:
    """The rows of a map's table (none for a map of ADDED_MAPS) with the
    rows ADDED_ROWS gives it, and those of REPLACED_ROWS for the rows they
    replace."""
    table = rows(path)[2:] if path else []
    # (a field of several rows is replaced once, by the rows given for it)
    replaced: list[list[str]] = []
    for r in table:
        key = (name, r[1].strip())
        if key not in REPLACED_ROWS:
            replaced.append(r)
        elif not any(x[1] == r[1].strip() and x in REPLACED_ROWS[key] for x in replaced):
            replaced += REPLACED_ROWS[key]
    table = replaced
    # mended: R4 has no CodeableReference (a type of R5); an extension of
    # an R5 element of that type (OBR[ServiceRequest]'s OBR-13, the
    # supportingInfo extension) holds in R4 its concept as a CodeableConcept
    # and its reference as a Reference, as every extension standing for an
    # element of a later version does
    table = [[*r[:9], r[9].replace(".valueCodeableReference.concept", ".valueCodeableConcept")
              .replace(".valueCodeableReference.reference", ".valueReference"), *r[10:]]
             if len(r) > 9 else r for r in table]
    table = [cx_type_assigned(r, table) for r in table]
    if name == "ID[CodeableConcept-UniversalID]":
        # mended: table 0301's system was written whatever the code, so a
        # universal id type the table lacks (HD-3 "TIPOUOENF") was coded as
        # one of its codes. Every row of this map names the UniversalIDType
        # vocabulary, which gives the system of the codes it holds; another
        # code is kept without one, as CX-5's are
        table = [r for r in table if not (len(r) > 9 and r[9].strip() == "coding.system")]
    table = [[*r[:14], DURATION_MAP[1], *r[15:]] if len(r) > 14 and r[14].strip() == DURATION_MAP[0]
             and r[9].strip().endswith("boundsDuration") else r for r in table]
    if name == TEXT_SLOT[0]:  # mended: one content of a text (TEXT_SLOT)
        table = [[*r[:9], r[9].replace(TEXT_SLOT[2], TEXT_SLOT[3]), *r[10:18],
                  r[18].replace(TEXT_SLOT[2], TEXT_SLOT[3]), *r[19:]]
                 if len(r) > 18 and TEXT_SLOT[1] in r[6] else r for r in table]
    if name == "XTN[ContactPoint]":
        # mended: a number's parts were written whatever the value (the
        # e-mail address of "^PRN^Internet^a@b.c^^555^1234567" took the
        # number's area code); they are reported where left out (XTN.4's
        # $unmapped row)
        # (the rows of one condition one after another: the engine asks it
        # once for them)
        parts = [r for r in table if r[1].strip() in NUMBER_PARTS and not r[6].strip()]
        conditioned: list[list[str]] = []
        for r in table:
            if r not in parts:
                conditioned.append(r)
            elif r is next(p for p in parts if p[1] == r[1]):  # a field's first: all its rows, each condition
                conditioned += [[*p[:6], cond, *p[7:]] for cond in NUMBER_PARTS[r[1].strip()]
                                for p in parts if p[1] == r[1]]
        table = conditioned
    for added in ADDED_ROWS.get(name, []):
        at = max((i + 1 for i, r in enumerate(table) if r[1] == added[1]), default=len(table))
        table.insert(at, added)
    return uri_values(table)


# the universal id's types whose ids are URIs once prefixed, and the prefix
URI_PREFIXES = {"ISO": "urn:oid:", "UUID": "urn:uuid:"}
# the components of a universal id and of its type, by data type
UNIVERSAL_IDS = {"HD": ("HD.2", "HD.3"), "EI": ("EI.3", "EI.4")}


def uri_values(table: list[list[str]]) -> list[list[str]]:
    """`table` with its rows mended where an identifier's system is
    "urn:ietf:rfc:3986" (HD[Organization]'s and HD[Device]'s identifier of
    the universal id, when HD.3 is ISO or UUID; EI[Organization]'s)."""
    systems = {r[9].strip()[:-len(".system")] for r in table
               if r[9].strip().endswith(".system") and r[16].strip() == '"urn:ietf:rfc:3986"'}
    out: list[list[str]] = []
    for r in table:
        stem = r[9].strip()[:-len(".value")] if r[9].strip().endswith(".value") else None
        universal, typed = UNIVERSAL_IDS.get(r[1].split(".")[0], ("", ""))
        if stem not in systems or r[1] != universal or r[6].strip():
            out.append(r)
            continue
        # mended: under the system urn:ietf:rfc:3986 an identifier's value
        # is a URI, and the rows gave the bare id ("2.16.840.1.113883.4.7"):
        # an OID is "urn:oid:" and the OID, a UUID "urn:uuid:" and the UUID,
        # as HD[uri] and the endpoints' maps write them; an id of another
        # type (which names no system) stays as it is
        for kind, prefix in URI_PREFIXES.items():
            out.append(r[:6] + [f'IF {typed} EQUALS "{kind}"'] + r[7:16] + [f'"{prefix}"+{universal}']
                       + r[17:])
        kinds = ", ".join(f'"{kind}"' for kind in URI_PREFIXES)
        out.append(r[:6] + [f"IF {typed} NOT IN ({kinds})"] + r[7:])
    return out


def referable(type_name: str, path: str) -> list[str] | None:
    """The resource types Reference `path` of `type_name` may refer to, when
    the shapes know them (the R4B models do, the data file's lines do not)."""
    references = getattr(SHAPES, "references", None)
    if references is None:
        return None
    owner = resolve(type_name, path.rsplit(".", 1)[0]) if "." in path else ("", type_name)
    if isinstance(owner, str):
        return None
    return references(owner[1], re.sub(r"\[\d+\]$", "", path.rsplit(".", 1)[-1]))


def inline_reference(kind: str, name: str, table: list[list[str]],
                     maps: dict[str, str]) -> tuple[str, str] | None:
    """(element, map) when data type map `name` fills, row by row,
    the resource one element refers to, of a type whose map of this data
    type there is (XCN[PractitionerRole]'s "practitioner(Practitioner.
    identifier[1].value)" and so on, all rows but none: XCN[Practitioner]);
    else None."""
    if kind != "D":
        return None
    found = Counter(m.groups() for r in table for cell in r[9:11]
                    if (m := re.match(r"\s*(\w+)\((\w+)(?:\[\d+\])?\.", cell)))
    for (element, resource), _ in found.most_common(1):
        # mended: one row misspells the type ("Practioner")
        own = maps.get(f"{name.split('[')[0]}[{resource}]".lower())
        if own and sum(found.values()) * 2 > len(table):
            return element, own
    return None


# The rule of rows that fill the resource a reference refers to: a target
# "performer[2](Organization.address)" or "performer[2](PractitionerRole[1].
# organization(Organization.address))" fills the address of the
# Organization that the PractitionerRole that performer[2] refers to refers
# to. Each reference it goes through is written in the path with the type it
# refers to ("performer*2>PractitionerRole>organization>Organization>address*1",
# see Maps::read): the converter fills the resource the reference refers to,
# the one the sibling row made (OBX-23's Organization), or makes one there
# when none is (keyed by the resource referring to it and the element).
# A map of the referred type applied to its member the map fills first
# (OBX-25's XCN[PractitionerRole] into "PractitionerRole[1].practitioner")
# fills the referred resource itself; a row making the resource a reference
# refers to after rows that filled it there (OBX[Observation-Component]'s
# OBX-25) fills that one.


# Elements of resources the rows of a map would fill through a reference
# that are left unmade, and why, by (map, type): (element, reason). RXO's
# Medication is made of RXO-1's code and RXO-5's form.
UNFILLED = {
    ("RXO[MedicationRequest]", "Medication"): (
        "ingredient", "a Medication's ingredient requires its item, which no row gives: the "
        "strengths alone make an empty ingredient; not made"),
}


def reference_chain(tpath: str) -> tuple[list[tuple[str, str]], str]:
    """The references a target goes through, as (element, type referred
    to), and the element it fills in the last: "a(T.b(U.c))" gives
    [("a", "T"), ("b", "U")] and "c"; "a(T)" [("a", "T")] and ""; a target
    without one [] and itself. (The tables close a parenthesis or not, and
    write "b.(U)" at times.)"""
    chain: list[tuple[str, str]] = []
    rest = tpath
    while m := re.fullmatch(r"([\w.\[\]]*?)\.?\((\w+)(?:\[\d+\])?(?:\.(.+?))?\)*", rest):
        chain.append((m.group(1), m.group(2)))
        rest = m.group(3) or ""
        if not rest:
            break
    return chain, rest if chain else tpath


def referred_owner(name: str, own: str, ident: str, kind: str, fhir_type: str,
                   through: list[tuple[str, str]],
                   maps: dict[str, str]) -> tuple[str, str, str]:
    """(the reason the row is not honoured or "", the path's prefix of the
    references it goes through, the type of the resource it fills) of a row
    of map `name` going through the references `through`."""
    owner, prefix = fhir_type, ""
    for i, (element, referred) in enumerate(through):
        resolved = resolve(owner, element)
        if isinstance(resolved, str):
            return resolved, "", ""
        steps, leaf = resolved
        if element.endswith(".reference") or element == "reference":
            return "a reference as text would not resolve in the bundle", "", ""
        if leaf != "Reference":
            return f"{element} of {owner} is no Reference", "", ""
        taken = referable(owner, element)
        if taken and referred not in taken and "Resource" not in taken:
            return f"{element} of {owner} does not refer to {referred} ({', '.join(taken)})", "", ""
        if not has_element(referred, "meta"):
            return f"{referred} is not a resource", "", ""
        if i == 0 and kind == "S" and (shift := SHIFTS.get((name, steps.split("*")[0]), 0)):
            steps = re.sub(r"^(\w+)\*(\d+)", lambda n: f"{n.group(1)}*{int(n.group(2)) + shift}",
                           steps)
        sibling = maps.get(f"{own}[{referred}]".lower())
        if i == 0 and kind == "S" and sibling and sibling != name:
            # DG1[Encounter]'s diagnosis.condition(Condition.code): the
            # Condition the segment's own map of that type makes, which its
            # rows fill (DG1[Condition]'s of the same field)
            return f"fills the {referred} that {sibling} makes of the same segment, by its own rows", "", ""
        prefix += f"{steps}>{referred}>"
        owner = referred
    return "", prefix, owner


def map_rows(kind: str, name: str, path: Path | None, maps: dict[str, str],
             out: list[str], whole: bool = False, vocabularies: set[str] | None = None) -> None:
    """The lines of a segment or data type map (`whole`: PL[Location]
    itself, not the maps of PL_MAPS it makes first; `vocabularies`: the
    names, lower-cased, of those a row may name, where a row naming another
    is reported and left out, as one naming a data type map of no table)."""
    parts = map_name(name)
    if parts is None:
        report.append(f"{name}: not a map name SEGMENT[Target]")
        return
    target = parts[1]
    ttype = target_type(target)
    fhir_type = ttype if has_element(ttype, "id") or has_element(ttype, "extension") else None
    chosen = name in CHOSEN
    if fhir_type is None:
        kind_letter = {"string": "s", "code": "c", "uri": "s", "dateTime": "T", "boolean": "b",
                       "decimal": "d", "unsignedInt": "w", "positiveInt": "p"}.get(target)
        if kind_letter is None:
            report.append(f"{name}: map to {target}, which is not a FHIR type: whole map")
            return
    if name == "PL[Location]" and path is not None and not whole:
        maps.update({n.lower(): n for n in PL_MAPS + CM_MAPS + LA2_MAPS + [LA2_WHOLE]})
        for n in PL_MAPS + CM_MAPS + LA2_MAPS:
            map_rows(kind, n, path, maps, out, vocabularies=vocabularies)
        map_rows(kind, LA2_WHOLE, path, maps, out, whole=True, vocabularies=vocabularies)
        map_rows(kind, name, path, maps, out, whole=True, vocabularies=vocabularies)
        return
    identity = f"\t{IDENTITIES[name]}" if name in IDENTITIES else ""
    if name in SHARED_ELEMENT:
        identity = "\t="
    if name in PL_MAPS + CM_MAPS + LA2_MAPS:
        levels, pl_maps = pl_layout(name)
        identity = "\t" + ".".join(c.split(".")[1] for c, _ in levels[pl_maps.index(name):])
        if name in LA2_MAPS:  # (a PL's Locations: see LA2_VERSIONS)
            identity += "@" + esc(PL_MAPS[LA2_MAPS.index(name)])
    out.append(f"{kind}\t{esc(name)}\t{fhir_type or target}{identity}")
    head = len(out)
    # a data type's components that no row reads (RPT.2, the calendar
    # alignment; CX.9, the jurisdiction): mended, reported as a field of
    # which no row wrote is (kind U), unless a row reads the value whole
    unread: list[str] = []
    # and those whose rows the tables give in prose (RPT.3's day of the
    # week, "translate number to day"), reported alike where no other row,
    # condition or join reads them (HD.3 chooses HD.2's form)
    prose: list[str] = []
    own = name.split("[")[0]
    nameless: set[tuple[str, str]] = set()  # (field, extension) whose url row has no url
    merged: set[tuple[str, str, str]] = set()
    alternatives: set[str] = set()  # fields whose first alternative is taken
    table = table_rows(name, path)
    if name in PL_MAPS + CM_MAPS + LA2_MAPS or whole:
        table = pl_rows(pl_layout(name)[1].index(name) if name in PL_MAPS + CM_MAPS + LA2_MAPS else len(PL_MAPS),
                        table, name)
    inline = inline_reference(kind, name, table, maps)
    inline_written = False  # the first such row stands for them all
    lacking = lacking_elements(fhir_type, table)
    # codings whose code the tables leave to be defined ("#placer contact#"
    # of SCH-12): (field, the coding's path)
    # or as prose ("/a relationship type that represents mother/")
    undefined = {(r[1] or (own if r[0].strip() == "0" else ""), re.sub(r"\.code$", "", r[9].strip()))
                 for r in table if len(r) > 16 and re.search(r"coding(\[\d+\])?\.code$", r[9].strip())
                 and (name, r[9].strip()) not in PROSE_CODES
                 and re.fullmatch(r'"?#[^#"]+#"?|/.*', r[16].strip())}
    last: list[str] = []  # rows that fill what the others made
    # mended: the rows of a field whose comment says its repetitions are
    # lines of one value ("When OBX-5 repeats, each repeat yields a line
    # feed within .content[4].data", OBX[DocumentReference]'s TX and FT),
    # and the rows of that field under the same condition (its content's
    # contentType): a field's repetitions took a content each. Their first
    # list step takes the repetitions together ("content*5~", Step::joined)
    line_fields = {(r[1].strip(), r[6].strip()) for r in table if len(r) > 18
                   and re.search(r"(?i)\beach repeat yields a line feed within\b", r[18])}
    # the table's numbered rows stand at the sort order of their field
    numbered = [r for r in table if re.fullmatch(rf"{own}-\d+", r[1].strip())]
    by_order = bool(numbered) and all(r[0].strip() == r[1].split("-")[1] for r in numbered)
    # the references the rows so far went through to fill what they refer
    # to ("performer*2>PractitionerRole>"): see reference_chain()
    referred_through: set[str] = set()
    for r in table:
        if inline and any(re.match(rf"\s*{inline[0]}\(", cell) for cell in r[9:11]):
            if inline_written:
                report.append(f"{name} {r[1]} -> {(r[9] or r[10]).strip()}: made by "
                              f"{inline[1]} from the whole value, referred to once")
                continue
            inline_written = True
            r = _row(own, "", inline[0], inline[1])
        ident, cond_text, narrative, tpath, dtmap, vocab, const = (
            r[1], r[6], r[8], r[9], r[14], r[15], r[16])
        if not ident and r[0].strip() == "0" and tpath.strip() and const.strip() and name not in UNMADE:
            # mended: a map's constants stand in rows of sort order 0 without
            # an identifier (the living will's Observation: its status and
            # LOINC code, without which it was dropped): the segment's (or
            # value's) own rows
            ident = own
        if (name, tpath.strip()) in PROSE_CODES:
            const = f'"{PROSE_CODES[(name, tpath.strip())]}"'
        if ident == own and kind == "S" and by_order and r[0].strip().isdigit() and int(r[0]) > 0:
            # mended: TXA[Provenance] names its rows past TXA-3 by the
            # segment alone ("TXA", Edit Date/Time): read as the whole
            # segment, TXA-8's time, TXA-9's originator and TXA-21's reason
            # were lost; their sort order is their field, as the numbered
            # rows' is
            ident = f"{own}-{int(r[0])}"
        if not ident:
            continue
        where = f"{name} {ident} -> {tpath or '(none)'}"
        m = re.fullmatch(r'\s*([\w.\[\]]+)\s*=\s*("[^"]*")\s*', tpath)
        if m and const.strip() in ("", m.group(2)):
            # mended: a few rows write their value into the target's column
            # ('status="finished"' of PV1-45, a discharged stay's status;
            # PV1-52's participant type, ORC-2's PLAC): the element and its
            # assignment
            tpath, const = m.group(1), m.group(2)
        if len(r) > 10 and (m := re.fullmatch(r'\s*assign:\s*("[^"]*")\s*', r[10])) and not const.strip():
            # mended: SPM-32's identifier type gives its code ("SHIP") in the
            # column beside the target; the row wrote the shipment's id as it
            const = m.group(1)
        if (not const.strip() and re.search(r"\bextension(\[\d+\])?\.url$", tpath.strip())
                and re.fullmatch(r'\s*"https?://[^"\s]+"\s*', r[18])):
            # mended: the urls of OBX-19's analysis time and OBR-17's callback
            # telephone stand in the comments' column, two to the right of the
            # assignment's: the extensions were left out for want of one
            const = r[18].strip()
        mend = JOIN_MENDS.get((name, ident, tpath))
        if mend:
            if (name, ident, tpath) in merged:
                report.append(f"{where}: one join with the row above")
                continue
            merged.add((name, ident, tpath))
            cond_text, const = mend
        for said, code in PATIENT_TESTS.items():  # see SELF_ROWS
            cond_text = cond_text.replace(f"IS NOT {said}", f"NOT EQUALS {code}").replace(
                f"IS {said}", f"EQUALS {code}")
        if name in SELF_ROWS and tpath.strip() == f"{SELF_ROWS[name][2]}(Patient)":
            report.append(f"{where}: written by the message tables' row of {SELF_ROWS[name][1]}, "
                          f"{SELF_ROWS[name][0]!r}")
            continue
        if kind == "D":
            # mended: HD's rows name its own components as a segment's fields
            # ("IF HD-3 = "ISO"")
            cond_text = re.sub(rf"\b{own}-(\d)", rf"{own}.\1", cond_text)
        else:
            # mended: ORC-9's authoredOn row names its segment's field as a
            # data type's component ("IF ORC.1 IS "NW"": ORC-1, not ORC-9's
            # first component)
            cond_text = re.sub(rf"\b{own}\.(\d)", rf"{own}-\1", cond_text)
        if own == "OBX" and cond_text.count("(") == cond_text.count(")") + 1:
            # mended: the "<>" row of SN opens a parenthesis it never closes
            cond_text = cond_text.replace("(", "", 1)
        if re.fullmatch(r'(?i)IF NOT EQUAL TO "="', cond_text) or (name == "SN[Quantity]"
                                                                  and ident == "SN.1"):
            # mended: SN's comparator row of Ratio reads 'IF NOT EQUAL TO "="'
            # without saying what; its Quantity row has no condition, but "="
            # is no comparator of FHIR's (the Quantity itself says it)
            cond_text = f'IF {ident} NOT EQUALS "="'
        if own == "OBX" and re.search(r'OBX-5\.1\s+(NOT\s+)?EQUALS\s+"<>"', cond_text):
            # mended: SN's comparator is one of FHIR's (<, <=, >=, >) or "="
            # to be a Quantity, a Range or a Ratio; the tables write "<>" as
            # text, and so is any other ("A^5" is no value 5 compared by "A",
            # which a Quantity's required codes refuse)
            comparators = '("=", "<", "<=", ">", ">=")'
            cond_text = re.sub(r'OBX-5\.1\s+NOT\s+EQUALS\s+"<>"',
                               f"(OBX-5.1 NOT VALUED OR OBX-5.1 IN {comparators})", cond_text)
            cond_text = re.sub(r'OBX-5\.1\s+EQUALS\s+"<>"',
                               f"OBX-5.1 VALUED AND OBX-5.1 NOT IN {comparators}", cond_text)
        if own == "OBX" and 'OBX-5.3 EQUALS "-"' in cond_text:
            # mended: a Range has no comparator; an SN range with one
            # (">^2^-^5") is SN's last row's, as text
            cond_text += ' AND (OBX-5.1 NOT VALUED OR OBX-5.1 EQUALS "=")'
        if own == "OBX" and not cond_text and narrative.startswith("If line 19 through 23"):
            # mended: SN's last row holds when the rows before it fail; it
            # holds for every SN here, and the writer keeps the form of
            # value[x] an earlier row filled
            cond_text = 'IF OBX-2 EQUALS "SN"'
            narrative = ""
        # mended: CF's table names its rows by CWE's components, whose layout
        # CF shares (code, text, system, the alternates', the versions,
        # original text): a CF (OBX-2 "CF") gave an empty CodeableConcept
        m = re.fullmatch(rf"(?:{own}|{ROWS_NAMED_AS.get(own, own)})[-.](\d+)", ident)
        if m:
            field = m.group(1)
        elif ident == own:
            field = "0"
        else:
            report.append(f"{where}: identifier {ident!r} is not in this map")
            continue
        # mended: OBX[Observation-Component] (an OBX whose OBX-5 repeats) names
        # "component[each]": a component for each of OBX-5's values, as a
        # field's repetitions take a list's elements, and OBX-3's code (a
        # component requires one) in each of them, after OBX-5 made them
        each = "[each]" in tpath and field != "5"
        tpath = tpath.replace("[each]", "[1]")
        proposed = not tpath.strip() and len(r) > 10 and r[10].strip()
        if proposed and kind == "D" and not const.strip() and not cond_text.strip() and not narrative.strip() \
                and re.search(r"\bexten[st]ion", r[10]):
            # mended: a component whose row names only an extension the
            # tables propose (EI.2, the namespace of an order number
            # "PL123^EHR"; CX.6, XCN.14) is read by no row: it was lost
            # without a word where another component of its field was
            # written. Its field is reported, as a field no row reads is
            report.append(f"{where}: only a proposed extension, {r[10].strip()[:50]!r}")
            out.append("\t".join(["F", field, "", "", "U", "", "", ""]))
            continue
        if not tpath and not dtmap:
            if const or vocab:
                report.append(f"{where}: no target element")
            elif kind == "D" and not cond_text.strip():
                unread.append(field)
            continue
        if proposed:
            # the column beside the target names an extension the tables
            # propose ("extension??-assigningFacility"), which R4 has not:
            # the row is not the resource's own ($this), which would make a
            # resource nothing refers to
            report.append(f"{where}: only a proposed extension, {r[10].strip()[:50]!r}")
            continue
        if fhir_type is None and chosen:
            # a map to a primitive that chooses its value among components:
            # its rows write the value itself (the element of the row that
            # applies it)
            if tpath.strip() not in ("$value", "$this"):
                report.append(f"{where}: not the value of a map to a primitive")
                continue
            try:
                cond = folded(condition(cond_text, own), name) if cond_text else ""
            except ValueError as e:
                report.append(f"{where}: condition {cond_text!r} is prose ({e})")
                continue
            joint = join(const, own) if const else None
            if const and not joint:
                report.append(f"{where}: assignment {const!r} is prose")
                continue
            kind_letter = {"string": "s", "uri": "u"}[target]
            out.append("\t".join(["F", field, cond, "", kind_letter, "", "", "",
                                   *([joint] if joint else [])]))
            continue
        if fhir_type is None:
            # a map to a primitive: its rows carry the value itself
            report.append(f"{where}: map to a primitive; the converter writes the first component")
            continue
        if own == "OBX" and 'OBX-5.4 EQUALS "Base64"' in cond_text:
            # mended: an ED's attachment, which its map writes from base64,
            # hexadecimal or text data alike (the tables' rows name base64
            # alone, "for now"; hexadecimal data and text of ED-4 "A", table
            # 0299's three encodings since 2.3, were lost without a word)
            cond_text = cond_text.replace('OBX-5.4 EQUALS "Base64"', 'OBX-5.4 IN ("Base64", "Hex", "A")')
        if ident == "RXO-4" and ".doseRange.high." in tpath and cond_text.startswith("IF RXO-2 IS VALUED"):
            # mended: the unit's rows for the range's high ask the low's
            # value, RXO-2, as those for the low do (the low's rows copied):
            # an order of one amount (RXO-3 empty) had a high of its unit
            # alone, "high": {"code": "mg"}; they ask the high's, RXO-3
            cond_text = cond_text.replace("IF RXO-2 IS VALUED", "IF RXO-3 IS VALUED", 1)
        if dtmap.strip().lower() == "cwe[code]" and re.search(r"\.(low|high|quantity)\.code$", tpath.strip()):
            # mended: a unit's code written into a Quantity by CWE's map to a
            # code (RXO-4's dose range, RXO-12's dispense quantity) had no
            # system beside it ("low": {"value": 5, "code": "mg"}), which a
            # Quantity's code requires (FHIR's qty-3), and was reported as
            # missing from a vocabulary of no codes (RequestedGiveUnits):
            # the unit is written by CWE's map to a Quantity, as every other
            # unit is, code and system (CWE-1, CWE-3), its text as unit
            tpath, dtmap, vocab = tpath.strip()[:-len(".code")], "CWE[Quantity]", ""
        if tpath.strip().endswith(".valueCode") and r[11].strip() == "string" and dtmap.strip() == "CWE[string]":
            # mended: XAD-10's census tract is written as its extension's
            # valueCode where the row's type and map say a string, as the
            # extension takes: a tract sent as text ("T1\X0D0A\2", a line
            # break) was a code of white space FHIR's codes refuse
            tpath = tpath.strip()[:-len("valueCode")] + "valueString"
        if own == "OBX" and dtmap == "ED[Attachment]" and '"RP"' in cond_text:
            # mended: an RP's attachment row names ED's map ("to be resolved"),
            # which reads an ED's components: RP's own map gives its pointer
            dtmap = "RP[Attachment]"
        if ident == "DG1-21" and not cond_text.strip() and "verificationStatus" in tpath:
            # mended: DG1-21's rows write verificationStatus
            # "entered-in-error" (and its system) for any action code, where
            # their comment says other values (A, add; U, update) map to
            # nothing: a diagnosis added was one entered in error
            cond_text = 'IF DG1-21 EQUALS "D"'
        if (name, ident) in NOT_RECORDED:
            # mended: immunization registries send RXA-6 "999" for an amount
            # not recorded (a dose given elsewhere, whose amount the record
            # lacks), which the rows wrote as a dose of 999 (in RXA-7's
            # unit where one is sent): the dose is left out, its fields
            # reported as fields no row wrote
            cond_text = (f"{cond_text} AND " if cond_text else "IF ") + NOT_RECORDED[(name, ident)]
        if (name, ident, dtmap) in MEMBERS_LEFT_OUT:
            # mended: see MEMBERS_LEFT_OUT
            report.append(f"{where} ({dtmap}): {MEMBERS_LEFT_OUT[(name, ident, dtmap)]}")
            continue
        if (name, ident) in ROWS_LEFT_OUT and tpath.strip() != "$unmapped":
            # mended: rows whose table says beside them, or beside the rows
            # they meet, not to write them (see ROWS_LEFT_OUT): the field
            # is reported as no row's
            report.append(f"{where}: {ROWS_LEFT_OUT[(name, ident)]}")
            continue
        if own == "PR1":
            # mended: "PR1-5.5 VALUED" (a DTM has no components) stands for a
            # time of minutes, which a period from PR1-5 and PR1-7 needs
            cond_text = re.sub(r"\bPR1-5\.5 (?:IS )?NOT VALUED", "PR1-5.1 LENGTH LESS THAN 12", cond_text)
            cond_text = re.sub(r"\bPR1-5\.5 (?:IS )?VALUED",
                               "PR1-5.1 LENGTH GREATER THAN OR EQUALS 12", cond_text)
        in_minutes = re.fullmatch(r"(?i)if ([A-Z][A-Z0-9]{2}-\d+) indicates units of minutes", narrative.strip())
        if in_minutes and not cond_text:
            # mended: SCH-9's duration is minutesDuration "if SCH-10 indicates
            # units of minutes", as prose: an hour's duration ("2^h") was 2
            # minutes; minutes when no units are named, as for the
            # resources' durations (LATER_TIMES)
            units = in_minutes.group(1)
            cond_text = f'IF {units} NOT VALUED OR {units} IN ("min", "MIN", "Min")'
            narrative = ""
        typed = re.fullmatch(r'(?i)if ([A-Z][A-Z0-9]{2}-\d+) data type "(\w+)" is used', narrative.strip())
        if kind == "S" and typed and typed.group(1) in TYPED_VERSIONS:
            # mended: ORC-4 is an EI before 2.8 and an EIP in 2.8 to 2.8.2,
            # its rows of each form "if ORC-4 data type ... is used", as
            # prose: both held, and the EIP's filler group number row (on
            # ORC-4.2 valued) took an EI's namespace id ("GRP1^CPOE") for a
            # filler's part, writing the placer group number as a filler
            # group number (FGN). The form is the message version's; an
            # EIP's parts are EIP's own maps' (its placer group number
            # EIP-1's entity identifier, its filler's EIP-2's), whose rows
            # write the type codes the rows here give
            versions = ", ".join(f'"{v}"' for v in TYPED_VERSIONS[typed.group(1)][1])
            eip = typed.group(2) == TYPED_VERSIONS[typed.group(1)][0]
            cond_text = (f"{cond_text} AND " if cond_text else "IF ") + \
                f"MSH-12 {'IN' if eip else 'NOT IN'} ({versions})"
            narrative = ""
            if eip and tpath.strip().endswith(".value"):
                tpath = tpath.strip()[:-len(".value")]
                dtmap = "EIP[Identifier-PlacerAssignedIdentifier]" if tpath.startswith("requisition") \
                    else "EIP[Identifier-FillerAssignedIdentifier]"
            elif eip:
                continue
        elif kind == "S" and ident in TYPED_VERSIONS and dtmap.strip() == "EIP[Identifier-FillerAssignedIdentifier]":
            # mended: ORC[DiagnosticReport] and ORC[Immunization] read ORC-4
            # as an EIP in every version, without the prose above: an EI's
            # namespace id ("GRP1^CPOE", as order entry systems send it
            # before 2.8) was written as a filler group number (FGN). The
            # filler's part is an EIP's alone; its placer row reads the EI's
            # entity identifier as it reads an EIP's first component
            versions = ", ".join(f'"{v}"' for v in TYPED_VERSIONS[ident][1])
            cond_text = (f"{cond_text} AND " if cond_text else "IF ") + f"MSH-12 IN ({versions})"
        with_time = re.match(r"(?i)if time is (not )?included\b", narrative)
        if kind == "S" and r[3].strip() in ("DTM", "TS") and with_time and not cond_text:
            # mended: TXA-6's origination time is the document's date (an
            # instant) "if time is included", a date extension if not, as
            # prose: both rows held, a day alone became midnight UTC beside
            # its extension; a time holds more than the day's 8 digits
            cond_text = f"IF {own}-{field} LENGTH " + (
                "LESS THAN OR EQUALS 8" if with_time.group(1) else "GREATER THAN 8")
            narrative = ""
        if kind == "S" and r[3].strip() in ("DTM", "TS"):
            # mended: the length of a time ("IF PID-7 LENGTH GREATER THAN 8",
            # a birth time beside the day) is its own: before 2.6 a TS holds
            # a degree of precision after it ("19610615^D")
            cond_text = re.sub(rf"\b({own}-{field}) LENGTH\b", r"\1.1 LENGTH", cond_text)
            # mended: a time holds more than a day (a birth time beside
            # PID-7's day; TXA-6's instant, else its date extension) where
            # its digits do: "19610615-0500", a day with its offset, is a
            # day alone, not a time of 13 characters
            cond_text = re.sub(rf"\b({own}-{field}\.1) LENGTH GREATER THAN 8\b",
                               lambda m: _with_time(m.group(1)), cond_text)
            cond_text = re.sub(rf"\b({own}-{field}\.1) LENGTH LESS THAN OR EQUALS 8\b",
                               lambda m: _day_alone(m.group(1)), cond_text)
        if name == "OBX[Observation-Component]" and ident in ("OBX-23", "OBX-24") and not cond_text \
                and "PractitionerRole" not in tpath:
            # mended: the performing organization is the performer itself
            # only without a medical director (OBX-25), as OBX[Observation]'s
            # rows of the same fields say; with one the PractitionerRole is
            cond_text = "IF OBX-25 NOT VALUED"
        if name == "OBR[DiagnosticReport]" and dtmap.strip() == "NDL[PractitionerRole]":
            # mended: an NDL read from 2.1's CN took its family name for a
            # start time, its middle name and degree for location
            # identifiers; the CN's own rows (NDL_VERSIONS)
            versions = ", ".join(f'"{v}"' for v in NDL_VERSIONS)
            cond_text = (f"{cond_text} AND " if cond_text else "IF ") + f"MSH-12 NOT IN ({versions})"
        if name == "PR1[Procedure]" and ident == "PR1-12" and dtmap.strip() == "XCN[Practitioner]":
            # mended: 2.2's PR1-12 is no XCN but a CN and a practitioner
            # type (CM_PRACTITIONER): its own map's row (ADDED_ROWS)
            cond_text = (f"{cond_text} AND " if cond_text else "IF ") + 'MSH-12 NOT IN ("2.2")'
        bound = SCH_TABLES.get((name, ident))
        if bound and re.fullmatch(rf'IF CWE\.3 IS "{bound}"', cond_text.strip()):
            # mended: SCH-7's reason is the reason "IF CWE.3 IS "HL70276"",
            # SCH-8's type the type "IF CWE.3 IS "HL70277"": a code sent
            # without naming its coding system (ROUTINE, FOLLOWUP), as
            # schedulers send them, is of the field's own table, which HL7
            # binds SCH-7 and SCH-8 to: it was mapped to nothing and the
            # fields reported. SCH-7's row of the type (HL70277) still needs
            # its table named
            cond_text = f'IF CWE.3 IS "{bound}" OR CWE.3 NOT VALUED'
        if name == "OBR[ServiceRequest]" and ident == "OBR-16" and tpath.strip() == "requester(Practitioner)":
            # mended: OBR-16's ordering provider is the requester itself only
            # without ORC-21's facility, whose PractitionerRole the requester
            # is then (ORC-21's row, made before): with it, OBR-16's
            # Practitioner was made and referred to by nothing (ADDED_ROWS)
            cond_text += " AND ORC-21 NOT VALUED"
        if (name, ident) in OWN_EMPTY and re.match(rf"(?i)IF {re.escape(ident)} NOT VALUED\b", cond_text):
            report.append(f"{where}: {OWN_EMPTY[(name, ident)]}")
            continue
        if own == "XTN" and "XTN.3" in cond_text and ident not in NUMBER_PARTS:
            # mended: an address sent in XTN.4 without its equipment type
            # (XTN.3, optional before 2.7: "^NET^^a@b.c") is the e-mail
            # address the tables' own row of system "email" takes it for: it
            # is the value, as with XTN.3 "Internet" (the rows of Internet
            # and X.400 alone wrote none, and a ContactPoint of a system
            # alone was left out without a word)
            cond_text = " ".join(cond_text.split())
            listed = 'XTN.3 IN ("Internet", "X.400")'
            cond_text = cond_text.replace(
                "XTN.3 NOT IN (\"Internet\", \"X.400\")",
                "(XTN.3 NOT IN (\"Internet\", \"X.400\") AND (XTN.3 VALUED OR XTN.4 NOT VALUED))")
            cond_text = cond_text.replace(listed, f"({listed} OR (XTN.3 NOT VALUED AND XTN.4 VALUED))")
            if ident == "XTN.4" and tpath.strip() == "value":
                # mended: an address beside an equipment type table 0202 does
                # not have ("^PRN^CELL^a@b.c"), and no number, is the value
                # too (its system not known: the vocabulary's miss), where it
                # was lost, its field written of (XTN.2's use)
                known = ", ".join(f'"{c}"' for c in (*PHONE_TYPES, "Internet", "X.400"))
                cond_text = (f"{cond_text} OR (XTN.3 NOT IN ({known}) AND "
                             "XTN.1 NOT VALUED AND XTN.7 NOT VALUED AND XTN.12 NOT VALUED)")
        if own == "XAD" and tpath.strip() == "use" and ident == "XAD.7":
            # mended: XAD.7's use row holds for the codes of FHIR's uses alone,
            # and the tables' extension keeping every code has no url: an
            # address type of none of the type's, use's or HV's rows (L
            # legal, N birth, V vacation, a code of no table) was lost
            # without a word; through AddressType[Use] it is reported
            cond_text = 'IF XAD.7 NOT IN ("M", "SH", "HV")'
        if own == "OBX" and tpath.startswith("dataAbsentReason") and cond_text:
            # mended: OBX-11 "N" gives a reason for an absent value, which a
            # value sent all the same makes false (and the two exclude each other)
            cond_text += " AND OBX-5 NOT VALUED"
        try:
            cond = folded(condition(cond_text, own, (field, r[3].strip()) if kind == "S" else None), name) \
                if cond_text else ""
        except ValueError as e:
            report.append(f"{where}: condition {cond_text!r} is prose ({e})")
            prose.append(field)
            continue
        if tpath.strip() == "$unmapped":  # (see OBX_VALUE_TYPES)
            # (an address in the assignment: the value is not reported where
            # it is that place's text, XTN.1 repeating XTN.4's address)
            beside = [join(r[16], own) or ""] if len(r) > 16 and r[16].strip() else []
            out.append("\t".join(["F", field, cond, "", "U", "", "", "", *beside]))
            continue
        if re.match(r"(?i)depending on\b", narrative) and not cond_text:
            # mended: ROL-4's person is a Practitioner, a Patient or a
            # RelatedPerson "depending on ROL-3", which the message tables
            # route only when it is a provider's role (table 0443): the
            # first, the Practitioner; each ROL made all three (a second
            # Patient of the doctor's name)
            if ident in alternatives:
                report.append(f"{where}: an alternative {narrative!r} of the row above; not made")
                continue
            alternatives.add(ident)
            narrative = ""
        if narrative and not cond_text and re.match(r"(?i)if the placer number is also", narrative):
            # OBR-2 as the Specimen's accession identifier "if the placer
            # number is also the accession identifier": a placer's order
            # number seldom is (the accession is the laboratory's own), and
            # nothing in the message says so
            report.append(f"{where}: narrative condition {narrative[:60]!r} taken as false")
            continue
        if narrative and not cond_text and re.match(r"(?i)if severity was not used equivalent", narrative):
            # AL1-4 / IAM-4 (allergy severity) is the allergy's criticality
            # or a reaction's severity, which the tables leave to prose;
            # both rows held, each severity written twice (and a reaction
            # of the severity alone, without the manifestation FHIR
            # requires, left out). The tables' note prefers criticality: v2
            # assesses the allergy as a whole, a reaction's severity is of
            # one reaction at one time. Criticality is written (SV high, MI
            # low; MO and U have no criticality, reported), the code itself
            # beside it (alternate-codes) for all four
            report.append(f"{where}: narrative condition {narrative[:60]!r} taken as false")
            continue
        if name in SECOND_ELEMENTS and re.match(r"\[[2-9]\]\.", tpath.strip()):
            # mended: see SECOND_ELEMENTS
            report.append(f"{where}: {SECOND_ELEMENTS[name]}")
            if not const.strip():
                out.append("\t".join(["F", field, "", "", "U", "", "", ""]))
            continue
        if narrative and not cond_text and re.match(r"(?i)if\b", narrative) and not re.search(
                r"\(\w+(?:\[\d+\])?\.", tpath):  # (one through a reference: below)
            report.append(f"{where}: narrative condition {narrative[:60]!r} not computable; row applied")
        if ident in TEXT_VERSIONS and dtmap.strip().startswith("CWE["):
            # mended: OBR-13 is a text (ST) before 2.7, a CWE from 2.7 on,
            # and the rows read it as a CWE in all versions: a note ("On
            # warfarin, fasting") was a coding whose code was the whole text.
            # Read as a CWE from 2.7 on; before, ST's map of the same target
            # writes it as the concept's text (ADDED_ROWS). SPS-2 (OBR-15's
            # additives) alike: a text (TX) before 2.5 ("EDTA tube" was a
            # code), a CWE from 2.5 on; and NK1-3, the relationship, a text
            # (ST) in 2.1 ("WIFE"), coded (table 0063) from 2.2
            versions = ", ".join(f'"{v}"' for v in TEXT_VERSIONS[ident])
            coded = condition(f"IF MSH-12 NOT IN ({versions})", own, None)
            cond = f"{cond} {coded} &" if cond else coded
        if name == "NTE[DocumentReference]" and ident == "NTE-3":
            # mended: NTE-3's text is content[1]; its media type's row names
            # content[2], NTE-9's (whose data row is prose)
            tpath = tpath.replace("content[2]", "content[1]")
        if name == "NTE[Appointment-Comment]" and ident in ("NTE-4", "NTE-9"):
            # mended: a comment's type (NTE-4, annotationType) and its coded
            # form (NTE-9, alternate-codes) are the comment's, extensions of
            # the note's Annotation; the tables write them beside the note
            # as extension[2] (without a url of its own: left out) and [3],
            # so that the map filled three extensions and a second NTE's
            # note was taken for the first's (its text lost without a
            # word). Within the note, each NTE is a note extension of its
            # own (the map fills one list element, as NK1's contact)
            tpath = re.sub(r"^extension\[\d\]\.(?:extension\[1\]\.)?",
                           f"extension[1].valueAnnotation.extension[{1 if ident == 'NTE-4' else 2}].",
                           tpath.strip())
        if name == "RXA[Immunization]" and tpath.startswith("performer."):
            # mended: ORC's map of the same Immunization names its ordering
            # provider "performer" too; RXA-10's administering one is another
            tpath = "performer[2]." + tpath.split(".", 1)[1]
        if name == "XON[Location]" and ident == "XON.7":
            # mended: XON[Location] writes XON-7's identifier type code into
            # identifier[1] and its system into identifier[2] (XON[Organization]
            # both into identifier[1]): the Location of an ordering facility
            # (ORC-21) had an identifier of a system alone beside its own
            tpath = tpath.replace("identifier[2]", "identifier[1]")
        if name == "PRT[Observation-Location]" and ident == "PRT-14" and tpath.strip().endswith(
                "valueReference(Location)"):
            # mended: PRT-14's address (where a performing laboratory stands)
            # is the event location's, a Location's address (as PRT[CareTeam]
            # writes "member(Practitioner.address)"); the row names the
            # reference alone with XAD's map of an Address, not honoured:
            # the address was reported and the extension made of its url
            tpath = tpath.strip()[:-1] + ".address)"
        if name == "FN[HumanName]" and ident == "FN.5":
            # mended: the partner's name takes the partner's prefix's
            # extension[3]; it is a fourth
            tpath = tpath.replace("extension[3]", "extension[4]")
        tpath = tpath.rstrip(".").strip()
        # mended: XPN[HumanName] (and a few more) begin their paths with the
        # list index of the element they fill ("[1].family")
        tpath = re.sub(r"^\[\d+\]\.", "", tpath)
        if (m := re.match(r"(\w+)(?:\[(\d+)\])?\.", tpath)) and (
                m.group(1), int(m.group(2) or 1)) in lacking:
            wanted = " or ".join(ONE_OF[(fhir_type, m.group(1))])
            report.append(f"{where}: a {m.group(1)} without {wanted}, which FHIR does not take")
            continue
        # mended: misspelt element names, and a list index not closed
        # ("coding[3.version" of CNE.13) or closed by a brace ("suffix[2}" of
        # XCN[Patient]'s XCN.7)
        for wrong, right in TYPOS.items():
            tpath = re.sub(rf"\b{wrong}\b", right, tpath)
        tpath = re.sub(r"\[(\d+)[.}]", lambda m: f"[{m.group(1)}]" + "." * m.group(0).endswith("."), tpath)
        # mended: TQ1's rows name a Timing's bounds and duration as the
        # Timing's own; they are its repeat's
        tpath = re.sub(r"\b(occurrenceTiming)\.(bounds\w+|duration\w*)\b", r"\1.repeat.\2", tpath)
        # mended: CWE[Quantity] (and others) begin theirs with the type's name
        if fhir_type and tpath.startswith(fhir_type + "."):
            tpath = tpath[len(fhir_type) + 1:]
        # mended: a text into a note names the note's type ("note(Annotation.text)",
        # TQ1-11's, SPM-14's): the note's text
        tpath = re.sub(r"\(Annotation\.text\)$", ".text", tpath)
        # "a(T.b(U.c))": the row fills c of the U that b of the T that a
        # refers to (see reference_chain()); "a(T)" alone: a refers to the T the row
        # makes
        choice = re.match(r"(\w+)\([A-Z]", tpath)
        if choice and fhir_type and not has_element(fhir_type, choice.group(1)) and has_element(
                fhir_type, choice.group(1) + "Reference"):
            # mended: a reference into a choice element named without its
            # form (RXO-1's "medication(Medication.code)", RXO-5's doseForm):
            # its Reference form; the order's drug was lost and its
            # MedicationRequest, which requires one, left out
            tpath = choice.group(1) + "Reference" + tpath[len(choice.group(1)):]
        chain, inner = reference_chain(tpath)
        ref = None
        owner = fhir_type  # the type that holds the row's element
        through = chain if inner else chain[:-1]
        if chain and not inner:
            tpath, ref = chain[-1]
        elif chain:
            tpath = inner
        prefix = ""  # the references the row goes through, in the data file's form
        if through and narrative and not cond_text and re.match(r"(?i)if\b", narrative):
            # AIG-3's Location "if AIG-4 reflects a location": a resource of
            # another kind (a piece of equipment) is no Location
            report.append(f"{where}: narrative condition {narrative[:60]!r} not computable; "
                          f"no {through[-1][1]} is made")
            continue
        if through and field == "0" and kind == "S":
            # MSH's entity[1].what(DocumentReference.status) "current": the
            # message's own text, which the converter does not hold (its data
            # row is prose); constants alone would make it of every segment
            report.append(f"{where}: a {through[-1][1]} of constants alone, for every segment; "
                          "not made")
            continue
        if through:
            reason, prefix, owner = referred_owner(name, own, ident, kind, fhir_type, through, maps)
            unfilled = UNFILLED.get((name, owner or ""), ("", ""))
            if reason or (unfilled[0] and tpath.split(".")[0].split("[")[0] == unfilled[0]):
                report.append(f"{where}: {reason or unfilled[1]}")
                continue
        tpath = re.sub(r"(extension(?:\[\d+\])?)\.uri$", r"\1.url", tpath)  # mended: OBX-10
        # mended: PR1-8's and PR1-11's function name its SNOMED code's system "uri"
        tpath = re.sub(r"(coding(?:\[\d+\])?)\.uri$", r"\1.system", tpath)
        # mended: XAD.1 fills "line[1-3]" with SAD[Address], whose rows name the lines
        if tpath == "line[1-3]" and dtmap == "SAD[Address]":
            tpath = "$this"
        if tpath == "$this":
            tpath = ""
        if owner == "DocumentReference" and re.match(r"content(\[\d+\])?\.(data|url|contentType)$",
                                                          tpath):
            # mended: OBX's rows of a document name its content's attachment's
            # elements as the content's ("content[4].data")
            tpath = tpath.replace(".", ".attachment.", 1)
        if tpath == "$value" and owner and has_element(owner, "value"):
            # mended: a map to a type with a value (NM[Quantity], ST[Identifier])
            # names it as a primitive's own value
            tpath = "value"
        if re.fullmatch(r"(.*\.)?extension(\[\d+\])?\.url", tpath) and not const:
            nameless.add((field, tpath[:-3]))
        stem = next((n for f, n in nameless if f == field and tpath.startswith(n)), None)
        if stem is not None:
            report.append(f"{where}: '{stem[:-1]}' has no url to name it")
            continue
        field_type = r[3].strip()
        if kind == "S" and field_type in ("EI", "ST", "XON", "FC") and "[" in dtmap and not dtmap.startswith(
                field_type + "["):
            # mended: a row names the map of another data type than its
            # field's (OBR-2, an EI, with CX[Identifier], whose check digit
            # took the EI's namespace id; MSH-22, an XON, with
            # HD[Organization]; IAM-5, an ST, with CWE[CodeableConcept];
            # PV1-20, an FC, with CWE[CodeableConcept], whose display took
            # FC-2's date): its
            # field's type's map of that target, an EI's identifier the one
            # the tables give the other placer numbers
            target_part = dtmap[dtmap.index("["):]
            own_map = field_type + ("[Identifier-Extension]" if (field_type, target_part) == (
                "EI", "[Identifier]") else target_part)
            if own_map.lower() in maps:
                dtmap = own_map
        dt = map_name(dtmap) if dtmap else None
        dtkey = None
        if dt:
            dtkey = maps.get(dtmap.lower())
            if dtkey is None:
                report.append(f"{where}: data type map {dtmap} has no table")
                continue
        if vocab and vocabularies is not None and (
                (named := vocabulary_name(vocab.split("\n")[0])).lower() not in vocabularies):
            report.append(f"{where}: vocabulary {named} has no table")
            continue
        if tpath:
            resolved = resolve(owner, tpath)
            if isinstance(resolved, str) and r[3].strip() in ("DTM", "TS") and not isinstance(
                    timed := resolve(owner, tpath + "DateTime"), str):
                # mended: a time into a choice element named without its form
                # (MSH-7 into Provenance's "occurred"): its dateTime form
                resolved = timed
            if isinstance(resolved, str):
                report.append(f"{where}: {resolved}")
                continue
            if tpath.endswith(".reference") or tpath == "reference":
                report.append(f"{where}: a reference as text would not resolve in the bundle")
                continue
            steps, leaf = resolved
            if kind == "S" and not prefix and (shift := SHIFTS.get((name, steps.split("*")[0]), 0)):
                steps = re.sub(r"^(\w+)\*(\d+)", lambda n: f"{n.group(1)}*{int(n.group(2)) + shift}",
                               steps)
        else:
            steps, leaf = "", owner
        if not dtkey and not narrative and leaf in ("CodeableConcept", "Coding") and (
                own_map := f"{field_type}[{leaf}]").lower() in maps:
            # mended: a coded field into a CodeableConcept or Coding without a
            # data type map (RPT-1's Timing.code, RXR-1's route, PD1-7's
            # living will): its type's map of that target (not where a
            # narrative condition stands: OBR-13's clinical information is a
            # fasting status only "if it represents" one)
            dtmap = own_map
            dt, dtkey = map_name(dtmap), maps[dtmap.lower()]
        if not dtkey and kind == "S" and field_type == "EI" and leaf == "Identifier":
            # mended: an EI into an Identifier without a data type map
            # (SCH-26's placer order number, beside SCH-27's with one): the
            # map the tables give the other order numbers
            dtmap = "EI[Identifier-Extension]"
            dt, dtkey = map_name(dtmap), maps.get(dtmap.lower())
        if dtkey:
            dttarget = target_type((map_name(dtkey) or ("", dtkey))[1])
            is_resource = has_element(dttarget, "meta")
            if is_resource:
                if steps and leaf != "Reference":
                    report.append(f"{where}: {dtkey} makes a resource but {tpath} is no Reference")
                    continue
                # a map of the resource's own type to $this (ORC-7's timing,
                # TQ[ServiceRequest]; PRT-5's person, XCN[RelatedPerson])
                # fills the resource itself; of another type (SFT-1's
                # Organization) it makes that resource
                if prefix and steps and dttarget == owner and re.sub(
                        r"\[\d+\]$", "", tpath.split(".")[0]) in MEMBERS.get(dtkey, ()):
                    # OBX-25's XCN[PractitionerRole] into "PractitionerRole[1].
                    # practitioner" (see reference_chain()): the map fills the
                    # PractitionerRole, practitioner its own row
                    steps = ""
                elif not prefix and steps and f"{steps}>{dttarget}>" in referred_through:
                    # the resource rows before it filled there (see reference_chain())
                    prefix, steps = f"{steps}>{dttarget}>", ""
                kind_letter = "O" if not steps and dttarget == owner else "R"
                if prefix and not steps:
                    kind_letter = "O"
                taken = referable(owner, tpath) if kind_letter == "R" and steps else None
                if taken and dttarget not in taken and "Resource" not in taken:
                    # the row fills an element of the resource it refers to
                    # ("diagnosis.condition(Condition.asserter(Practitioner))"):
                    # the reference would point to this map's resource instead
                    report.append(f"{where}: {dtkey} fills {dttarget}, which "
                                  f"{tpath} does not refer to ({', '.join(taken)})")
                    continue
            elif len(leaf) == 1 and re.sub(r"\[\d+\]$", "", tpath.rsplit(".", 1)[-1]) in MEMBERS.get(
                    dtkey, ()) and same_type((parent := resolve(owner, tpath.rsplit(".", 1)[0])
                                              if "." in tpath else ("", owner))[1], dttarget):
                # mended: a row names the member its map fills first as its
                # target: MSH-3 "source[1].endpoint" with the map of
                # MessageHeader.source's name and endpoint, XPN.1 "family" with
                # FN[HumanName] (the family name and its prefixes'
                # extensions): the map fills the element that holds it
                steps, kind_letter = parent[0], "O"
            elif len(leaf) == 1:
                # a map to a primitive reads the first component, or the one
                # its value row names (in a segment's map: "9.2", MSH-9's
                # event, for the Encounter's status of its vocabulary)
                kind_letter = leaf
                if kind == "S" and dtkey in PIECES and field != "0":
                    field = f"{field}.{PIECES[dtkey]}"
                if dtkey in CHOSEN and not vocab and not const:
                    # mended: a map whose rows choose the value among the
                    # components (HD[uri] of XCN-9: the assigning authority's
                    # namespace id, else its universal id as "urn:oid:...")
                    # is applied; the first component alone was written
                    kind_letter = "O"
            elif not same_type(leaf, dttarget):
                report.append(f"{where}: {dtkey} fills a {dttarget}, but {tpath or '$this'} "
                              f"is a {leaf}")
                continue
            else:
                kind_letter = "O"
        elif len(leaf) == 1:
            kind_letter = leaf
        elif leaf == "Reference" and ref:
            report.append(f"{where}: reference to {ref} without a data type map")
            continue
        else:
            report.append(f"{where}: {leaf} filled without a data type map")
            continue
        if re.fullmatch(r"https?://www\.hl7\.org/fhir/valueset-[\w-]+\.html", const.strip()):
            # mended: AIP-4's assignment names the page of the value set its
            # codes are taken from, not a value
            const = ""
        if name == "PV1[Encounter]" and ident == "PV1-42" and tpath.endswith(".status") and not const:
            const = '"reserved"'
        other = re.search(r"\[(\w+)", vocab)
        if kind_letter == "c" and other and other.group(1) != fhir_type and has_element(other.group(1), "meta"):
            # mended: SCH[ServiceRequest]'s SCH-25 writes the order's status
            # by the vocabulary of an Appointment's ("Booked" is "booked"),
            # no status of a ServiceRequest's: the order's status is left
            # to its documented default
            report.append(f"{where}: vocabulary {vocab} gives codes of {other.group(1)}, "
                          f"not of {fhir_type}; not written")
            continue
        if kind_letter == "c" and tpath and not (vocab or const):
            # a code of FHIR's own written as the message sends it: its
            # element's codes (BOUND), where FHIR binds it to them
            parent = resolve(owner, tpath.rsplit(".", 1)[0])[1] if "." in tpath else owner
            leaf_name = re.sub(r"\[\d+\]$", "", tpath.rsplit(".", 1)[-1])
            codes = SHAPES.codes(parent, leaf_name) if len(parent) > 1 else None
            if codes:
                vocab = f"{parent}.{leaf_name}"
                BOUND[vocab] = codes
        if const and (ident, re.sub(r"\.system$", "", tpath)) in undefined and tpath.endswith(".system"):
            # mended: SCH-12's and SCH-16's participant types name a code
            # still to be defined ("#placer contact#"), which is not written:
            # a system without its code says nothing
            report.append(f"{where}: the system of a code the tables leave undefined; not written")
            continue
        if const and kind_letter in "cu" and re.fullmatch(r"[a-z][\w.:/-]*", const.strip()):
            # mended: SCH-20's participant type gives its code ("enterer")
            # and system (a url) without the quotes of a value
            const = f'"{const.strip()}"'
        if const and kind_letter == "R":
            # mended: a reference's row holds an assignment that is not its
            # value: PV1-8's repeats its type's system, PV1-37's restates the
            # reference, PV1-42's is its status's ("reserved", the status
            # row's own assignment standing in the column beside it); the
            # rows were dropped with the practitioner or location they make
            report.append(f"{where}: assignment {const!r} to a Reference not read; row applied")
            const = ""
        if const and kind_letter in "ORu" and kind_letter != "u":
            report.append(f"{where}: assignment {const!r} to a {leaf}, which takes no value")
            continue
        joined = ""
        encodings = [""]
        if own == "ED" and kind_letter == "B" and "binary64" in const:
            # mended: "/convert from A or HEX to binary64/": ED-5 is base64
            # already when ED-4 says Base64 (checked and written as it is,
            # kind '6'), text to encode when it says A, hexadecimal digits of
            # the bytes to encode when it says Hex (checked, kind 'H')
            const, encodings = "", [folded(f"E:.4:{esc(e)}", name) for e in ("Base64", "A", "Hex")]
        if (name, ident, tpath) in LATER_TIMES:
            # mended: the sum the assignment writes in prose (see LATER_TIMES)
            joined, const, kind_letter = LATER_TIMES[(name, ident, tpath)], "", "P"
        if const:
            const = const.strip()
            joint = join(const, own)
            if name in JOINED and kind_letter in "scu" and joint:  # a join is a string
                joined, const = joint, ""
            elif re.fullmatch(r'"[^"]*"', const):
                const = const[1:-1].strip()
                # mended: PV2-9's url reads "fhir/v\\5.0/" for "fhir/5.0/"
                const = const.replace("/v\\5.0/", "/5.0/")
                # mended: some extensions are named by their web page in
                # FHIR R4's documentation ("http://hl7.org/fhir/R4/extension-
                # data-absent-reason.html"), not by their url
                const = re.sub(r"^http://hl7\.org/fhir/R4/extension-([\w-]+)\.html$",
                               r"http://hl7.org/fhir/StructureDefinition/\1", const)
                # mended: PID-19's system ends its sentence ("...sid/us-ssn.")
                const = re.sub(r"^(https?://\S+)\.$", r"\1", const)
                const = canonical_url(const)
                if tpath.strip().endswith(".system") and "/ValueSet/" in const:
                    # mended: PV1-11's temporary location's classification
                    # writes http://hl7.org/fhir/ValueSet/subject-location as
                    # its coding's system: a value set is no code system (a
                    # Coding's system names the one its code is of), and
                    # neither R4 nor the tables' vocabularies name the one
                    # its code "temporary" is of: the code stands alone
                    report.append(f"{where}: system {const!r} is a value set, not a code system: "
                                  "the code is written without one")
                    continue
                if tpath.endswith("contentType") and const == "application/text":
                    # mended: OBX[DocumentReference]'s TX text (lines of
                    # text without formatting, joined by line feeds as the
                    # comment beside it says) is "application/text", which
                    # names no registered MIME type: text/plain, as TXA-3's
                    # TX names it (a reader shows text/plain as text)
                    const = "text/plain"
            elif const.lower() in ("true", "false"):
                const = const.lower()
            else:
                report.append(f"{where}: assignment {const!r} is "
                              + ("a join not written here" if joint else "prose"))
                prose.append(field)
                continue
        if own in ("ED", "RP") and tpath.endswith("contentType") and kind_letter == "c" and not const:
            # mended: an attachment's contentType is a MIME type, which the
            # tables write as ED-3's subtype alone ("PDF") or RP's type and
            # subtype joined ("AP/PDF"): the type and subtype, joined, as the
            # MIME type they name (kind m, fhir_values.cpp's mime_type())
            kind_letter = "m"
            if own == "ED":
                joined = join('ED.2+"/"+ED.3', own) or ""
        if own == "TXA" and tpath.endswith("contentType") and dtkey == "ID[code]":
            # mended: TXA-3 (the document's content presentation, table
            # 0191's type of data: "TX", "AP") was the attachment's
            # contentType as sent, which FHIR's MIME type is not: the MIME
            # type it names, as an ED's type of data alone (TX text/plain)
            kind_letter, dtkey = "m", ""
        if prefix:
            referred_through.update(prefix[:m.end()] for m in re.finditer(r"[^>]+>[^>]+>", prefix))
            steps = prefix + steps
        if dtkey == "PL[Location]" and kind_letter == "R" and kind == "S" and "." not in field:
            for pl_cond, pl_map in pl_referring(cond, f"{own}-{field}"):
                out.append("\t".join(["F", field, pl_cond, steps, "R", esc(pl_map), "", ""]))
            continue
        if (r[1].strip(), r[6].strip()) in line_fields:
            steps = re.sub(r"(\w+\*\d+)", r"\1~", steps, count=1)
        for encoding in encodings:
            line = "\t".join(["F", field, " ".join(filter(None, [cond, encoding, "&" * bool(cond and encoding)])),
                              re.sub(r"^(\w+)\*1", r"\1*each", steps) if each else steps,
                              {"Base64": "6", "Hex": "H"}.get((encoding.split(":") + [""] * 3)[2], kind_letter),
                              esc(dtkey or ""),
                              esc(vocabulary_name(vocab.split("\n")[0])), esc(const),
                              *([joined] if joined else [])])
            (last if each else out).append(line)
    out += last
    # an Attachment's data that no row of the map gives a contentType beside
    # (a user's row of a field's text into "content[1].attachment.data"
    # alone), which FHIR does not take (att-1): the row goes, reported
    with_type = {line.split("\t")[3][:-len("contentType")] for line in out[head:]
                 if re.fullmatch(r"(?:.*\.)?contentType", line.split("\t")[3])}
    untyped = [i for i in range(head, len(out)) if (cells := out[i].split("\t"))[4] in ("B", "6", "H")
               and re.fullmatch(r"(?:.*\.)?data", cells[3]) and cells[3][:-len("data")] not in with_type]
    for i in untyped:
        cells = out[i].split("\t")
        readable = re.sub(r"[*](\d+)~?", r"[\1]", cells[3])
        report.append(f"{name} {parts[0]}{'-' if kind == 'S' else '.'}{cells[1]} -> {readable}: "
                      "an Attachment's data without its contentType, which FHIR does not take; not written")
    out[:] = [line for i, line in enumerate(out) if i not in untyped]
    # mended: a Location's partOf row of a PL (PL_MAPS, CM_MAPS, LA2_MAPS)
    # reads the value whole only to make the next Location, not as a read of
    # its components: PL.5's status and PL.6's person location type, which
    # no row reads, were lost without a word beside a bed, room or point of
    # care (reported only beside the facility, whose Location is part of
    # none)
    read = [line.split("\t")[1] for line in out[head:]
            if not (name in PL_MAPS + CM_MAPS + LA2_MAPS and line.split("\t")[3] == "partOf")]
    if "0" not in read and fhir_type is not None:  # (a primitive's map reads its text)
        # each before the rows of later components: rows in field order let
        # the converter stop past a value's last component
        rows = out[head:]
        addresses = " ".join(" ".join(line.split("\t")[2:3] + line.split("\t")[8:]) for line in rows)
        if kind == "D":
            unread += [f for f in prose if f.isdigit() and f != "0" and
                       not re.search(rf"(?<![\w.])\.{f}(?![\d.])", addresses)]
        for f in dict.fromkeys(unread):
            if any(r == f or r.startswith(f + ".") for r in read):
                continue
            at = next((k for k, line in enumerate(rows)
                       if int(line.split("\t")[1].split(".")[0]) > int(f)), len(rows))
            rows.insert(at, "\t".join(["F", f, "", "", "U", "", "", "", UNREAD]))
        out[head:] = rows
    if kind == "D":
        spare_chosen_components(out, head)


def spare_chosen_components(out: list[str], head: int) -> None:
    """mended: a component of a data type map that no row writes but whose
    value other rows of the map test for (ED.4, the data's encoding, which
    chooses how ED.5 is read: "Base64", "Hex", "A") was reported though it
    chose what was written; its row of kind U (reported) holds only for
    another value, which none of those rows reads."""
    chosen: dict[str, list[str]] = {}
    compared: dict[str, str] = {}  # a component's vocabulary part (":*")
    for line in out[head:]:
        f = line.split("\t")
        if f[4] == "U":
            continue
        for token in f[2].split(" "):
            parts = token.split(":")
            if len(parts) in (3, 4) and parts[0] == "E" and re.fullmatch(r"\.\d+", parts[1]):
                values = chosen.setdefault(parts[1][1:], [])
                values += [v for v in parts[2].split(",") if v not in values]
                compared[parts[1][1:]] = "".join(":" + p for p in parts[3:])
    for i in range(head, len(out)):
        f = out[i].split("\t")
        if f[0] == "F" and f[4] == "U" and not f[2] and f[1] in chosen:
            f[2] = f"X:.{f[1]}:" + ",".join(chosen[f[1]]) + compared[f[1]]
            out[i] = "\t".join(f)


# the mark of a row of kind U that map_rows() adds for a component no row
# reads, until spare_shared_components() has seen it
UNREAD = "(unread)"


def spare_assigned_systems(out: list[str]) -> None:
    """mended: a Coding whose code a row writes through a vocabulary that
    gives each of its codes a system, and whose system another row of the
    field assigns as a constant (MSH-11's meta tag, table 0103; MSH-9's
    event, table 0003; XON-7's identifier type, table 0203), put a code the
    vocabulary lacks under that system: MSH-11 "2.5" as a code of table
    0103, an event "A99" of table 0003. The constant row goes: the
    vocabulary gives the system of the codes it holds, the HL7 table of the
    field the system of its other values, and another code has none (and
    is reported, as a code the vocabulary lacks is)."""
    systems: dict[str, bool] = {}  # a vocabulary: each of its codes has a system
    name = ""
    for line in out:
        f = line.split("\t")
        if f[0] == "V":
            name = f[1]
            systems[name] = True
        elif f[0] == "C" and name:
            systems[name] = systems[name] and len(f) > 3 and bool(f[3])
        else:
            name = ""
    coded: set[tuple[int, str, str, str]] = set()  # (map, field, condition, Coding)
    block = 0
    for line in out:
        f = line.split("\t")
        if f[0] in ("S", "D", "M"):
            block += 1
        elif f[0] == "F" and (f[3] == "code" or f[3].endswith(".code")) and len(f) > 6 and systems.get(f[6]):
            coded.add((block, f[1], f[2], f[3].removesuffix("code")))
    kept: list[str] = []
    block = 0
    for line in out:
        f = line.split("\t")
        if f[0] in ("S", "D", "M"):
            block += 1
        if f[0] == "F" and (f[3] == "system" or f[3].endswith(".system")) and len(f) > 7 and f[7] \
                and not f[5] and not f[6] and (block, f[1], f[2], f[3].removesuffix("system")) in coded:
            continue
        kept.append(line)
    out[:] = kept


def spare_shared_components(out: list[str]) -> None:
    """Takes out the rows of kind U that map_rows() added (a component no
    row of its map reads, reported) whose component every field using the
    map reads through another map beside it: EIP[Identifier-Placer
    AssignedIdentifier] reads EIP.1 and EIP[Identifier-FillerAssigned
    Identifier] EIP.2, both rows of SPM-2, so neither component is lost."""
    blocks: list[tuple[str, list[int]]] = []  # ("": lines of no map)
    for i, line in enumerate(out):
        kind = line[:2]
        if kind in ("S\t", "D\t", "M\t"):
            blocks.append((line.split("\t")[1], []))
        elif kind == "F\t" and blocks:
            blocks[-1][1].append(i)
        elif kind != "F\t" and blocks and blocks[-1][0]:
            blocks.append(("", []))
    read: dict[str, set[str]] = {}
    uses: dict[tuple[str, str], list[str]] = {}
    for name, rows in blocks:
        for i in rows:
            f = out[i].split("\t")
            if f[4] != "U":
                read.setdefault(name, set()).add(f[1].split(".")[0])
                # a component a row's condition tests for values (E, X) or
                # its join reads is read too: HD[MessageHeader.source-
                # endpoint]'s HD.3, the universal id's type ("ISO"), which
                # makes MSH-3's endpoint "urn:oid:..." beside its name
                read[name].update(re.findall(r"(?:^| )[EXex]:\.(\d+)", f[2]))
                if len(f) > 8:
                    read[name].update(re.findall(r"(?:^| )\.(\d+)", f[8]))
            if len(f) > 5 and f[5]:
                maps = uses.setdefault((name, f[1].split(".")[0]), [])
                if f[5] not in maps:
                    maps.append(f[5])
    covered: dict[str, set[str]] = {}
    for maps in uses.values():
        for m in maps:
            beside = set().union(*(read.get(o, set()) for o in maps if o != m))
            covered[m] = covered[m] & beside if m in covered else beside
    drop = {i for name, rows in blocks if covered.get(name) for i in rows
            if out[i].endswith(UNREAD) and out[i].split("\t")[1] in covered[name]}
    out[:] = [line.removesuffix("\t" + UNREAD) for i, line in enumerate(out) if i not in drop]


def separate_provenances(table: list[list[str]]) -> None:
    """mended: two segments' Provenances given one number by a message
    table (ORM_O01's ORC and MSH's transformation, Provenance[2]; MDM_T02's
    TXA, whose "Provenance" names none, and MSH's source; its ORC and EVN's):
    the later segment's, which records another act, takes the next free
    number, in its label and references, as the other tables give it one
    (the rows are read after this as the table's own)."""
    top = max((int(n) for r in table[2:]
               for n in re.findall(r"\bProvenance\[(\d+)\]", r[9] + " " + r[11])), default=0)
    makers: dict[str, str] = {}  # a number, and the segment making its Provenance
    for r in table[2:]:
        made = re.fullmatch(r"\s*Provenance(?:\[(\d+)\])?\s*", r[9])
        if not r[1] or r[1].startswith("/") or not r[10] or not made:
            continue
        segment, number = r[1].split(".")[-1], made.group(1) or "1"
        if makers.setdefault(number, segment) != segment:
            top += 1
            makers[str(top)] = segment
            r[9] = f"Provenance[{top}]"
            r[11] = re.sub(rf"\bProvenance\[{number}\]", r[9], r[11])


# mended: OML_O21's OBR[Specimen] makes "Specimen[each]", which was not
# read: an order's specimen fields (OBR-7's collection time, OBR-15's
# source, ...) were lost. The Specimen of each SPM of the order, which they
# describe as ORU_R01's OBR does its one: Specimen[1], which the order's
# first SPM completes (SPM's "Specimen" read as ORU_R01's "Specimen[n]":
# each next SPM makes one of its own, see message_rows()) and which the
# ServiceRequest refers to (as the SPM's row links its own), also where no
# SPM stands; made where the OBR holds one of the fields OBR[Specimen]
# reads (an order's OBR seldom does: no Specimen of nothing, as the results
# of ORU_R01 need one whatever it holds). (row, label): the label read,
# references added, condition.
EACH_SPECIMEN = {
    ("OML_O21.ORDER.OBSERVATION_REQUEST.OBR", "Specimen[each]"): (
        "Specimen[1]", "ServiceRequest[1].specimen.reference=Specimen[1].id",
        "IF " + " OR ".join(f"OBR-{f} VALUED" for f in (7, 8, 9, 10, 14, 15))),
    ("OML_O21.ORDER.OBSERVATION_REQUEST.SPECIMEN.SPM", "Specimen"): ("Specimen[n]", "", "")}


def message_rows(path: Path, segmaps: dict[str, str], out: list[str],
                 known: Callable[[str], bool] | None = None) -> None:
    """The rows of a message table; `known` accepts segment maps named that
    are not in `segmaps` (the package's own, under a user's table)."""
    table = rows(path)
    if len(table) < 3 or not table[2][1]:
        report.append(f"{path.name}: a message table without rows (its first names no segment); "
                      "nothing added")
        return
    structure = table[2][1].split(".")[0].split(":")[0]
    out.append(f"M\t{structure}")
    for after, ident, label, segmap in ADDED_TABLE_ROWS.get(structure, []):
        # mended: see ADDED_TABLE_ROWS (a user's table of the structure
        # without that segment's row adds its rows to the package's, which
        # holds it)
        if not (places := [i for i, r in enumerate(table) if r[1].strip() == after]):
            continue
        at = max(places) + 1
        added = [""] * len(table[1])
        added[1], added[9], added[10] = ident, label, segmap
        table.insert(at, added)
    separate_provenances(table)
    # mended: OML_O21's PRT of a specimen collector links "ServiceRequest[1].
    # specimen[1](Specimen.collection.collector.reference)=PractitionerRole[4]
    # .id": a reference from the Specimen the order's SPM makes after the PRT,
    # written through the element referring to it. It was not read: the
    # collector's PractitionerRole was made and referred to by nothing. It is
    # the Specimen's own link, made by the rows making a Specimen (after the
    # PractitionerRole: a link is made to a resource made before it)
    carried: dict[str, list[str]] = {}
    carried_after: dict[str, int] = {}  # the index of the row linking it
    through_ref = re.compile(r"\s*\w+(?:\[\d+\])?\.\w+(?:\[\d+\])?\((\w+)\.([\w.]+?)(?:\.reference)?\)"
                             r"\s*=\s*(\w+\[\d+\])\.id\s*")
    # Where a row of the link's group made that resource before (ORU_R01's
    # OBR, the Specimen of its order, ahead of the order's PRT), the link
    # is the row's own too: an order without an SPM has its collector.
    made_before: set[tuple[str, str]] = set()  # (group, type)
    for at, r in enumerate(table[2:]):
        group_of = r[1].strip().rsplit(".", 1)[0]
        for ref in re.split(r"[;\n]", r[11]):
            if (through := through_ref.fullmatch(ref)) and has_element(through.group(1), "id"):
                carried_after.setdefault(through.group(1), at)
                link = f"{through.group(1)}.{through.group(2)}.reference={through.group(3)}.id"
                carried.setdefault(through.group(1), []).append(link)
                r[11] = r[11].replace(ref, link if (group_of, through.group(1)) in made_before else "")
        if made_here := re.match(r"\s*(\w+)\[", r[9]):
            made_before.add((group_of, made_here.group(1)))
    for r in table[2:]:
        if (r[1].strip(), r[9].strip()) in EACH_SPECIMEN:
            # mended: see EACH_SPECIMEN
            r[9], refs, r[6] = EACH_SPECIMEN[(r[1].strip(), r[9].strip())]
            r[11] = "; ".join(filter(None, [r[11].strip(), refs]))
    for r in table[2:]:
        # mended: SIU_S12's SCH makes "ServiceRequest[1..n]" (the order its
        # SCH-26 and SCH-27 number, the Appointment's basedOn), a label that
        # was not read: the order numbers were lost; it is ServiceRequest[1]
        r[9], r[11] = (re.sub(r"\[1\.\.n\]", "[1]", r[9]), re.sub(r"\[1\.\.n\]", "[1]", r[11]))
    # mended: "Specimen[n]" (one for each SPM of ORU_R01's SPECIMEN group, and
    # the focus of that group's OBX) names no number: it takes one of its
    # own, past those the table gives its type, in its rows and references
    numbers: dict[str, int] = {}
    for r in table[2:]:
        for t, n in re.findall(r"(\w+)\[(\d+)\]", r[9] + " " + r[11]):
            numbers[t] = max(numbers.get(t, 0), int(n))
    own_number = {t: numbers.get(t, 0) + 1 for t in {t for r in table[2:]
                                                      for t in re.findall(r"(\w+)\[n\]", r[9])}}
    # mended: ORU_R01's SPM makes "Specimen[n]" where the OBR of its order
    # makes Specimen[1] ("The OBR specimen data yields one Specimen resource
    # that all Observations generated for the same OBR need to reference"):
    # an order with an SPM gave two Specimens of one sample, the OBR's (its
    # collection time, OBR-15's source) referred to by the results, the
    # SPM's by the report and its own OBX. The SPM describes that specimen
    # (it took the place of OBR's specimen fields): the first SPM of an
    # order completes the Specimen its group's OBR made, each next SPM makes
    # one of its own (the data file's `new`, as IN1's Coverage)
    completing: set[str] = set()
    for r in table[2:]:
        counted = re.fullmatch(r"\s*(\w+)\[n\]\s*", r[9])
        if counted and r[1].count(".") > 2:
            t, outer = counted.group(1), r[1].rsplit(".", 2)[0]
            made_there = {m.group(1) for o in table[2:]
                          if o[1].rsplit(".", 1)[0] == outer and o[10].strip()
                          and (m := re.fullmatch(rf"\s*{t}\[(\d+)\]\s*", o[9]))}
            if len(made_there) == 1:
                own_number[t] = int(made_there.pop())
                completing.add(t)
    idents = [r[1] for r in table[2:]]
    # mended: some references name a resource by the segment that makes it
    # ("Encounter.subject=Patient[PID]"): the number of that segment's row
    makers: dict[tuple[str, str], str] = {}
    for r in table[2:]:
        m = re.match(r"\s*(\w+)(?:\[(\d+|n)\])?", r[9])
        if r[1] and m:
            makers.setdefault((m.group(1), r[1].split(".")[-1]),
                              str(own_number[m.group(1)]) if m.group(2) == "n" else m.group(2) or "1")
    # the numbers of the resources each group's rows make, by type
    made_in: dict[str, dict[str, set[str]]] = {}
    for r in table[2:]:
        m = re.fullmatch(r"\s*(\w+)\[(\d+)\]\s*", r[9])
        if r[1] and r[10] and m:
            made_in.setdefault(r[1].rsplit(".", 1)[0], {}).setdefault(m.group(1), set()).add(m.group(2))
    # (group, type referring, the resource it refers to) that a row's
    # comment says every resource of the type made in the group refers to
    shared: list[tuple[str, str, str]] = []
    for r in table[2:]:
        said = re.search(r"all (\w+?)s generated for the same (\w+) need to reference", r[13])
        if said and r[1].endswith("." + said.group(2)) and re.fullmatch(r"\w+\[\d+\]", r[9].strip()):
            shared.append((r[1].rsplit(".", 1)[0], said.group(1), r[9].strip()))
    # the segments (their identifiers) the table places in a group without
    # a map where it maps them in another (see below)
    mapped_idents = {r[1] for r in table[2:] if r[1] and r[10]}
    mapped_segments = {ident.split(".")[-1] for ident in mapped_idents}
    # (not under OML_O21's PRIOR_RESULT: a structure matched greedily places
    # the ORC and OBR of a next order there, in ORDER_PRIOR, whose optional
    # ORC opens it; the ORDER's rows stand for them, as before)
    unmapped_idents = {r[1] for r in table[2:]
                       if r[1] and not r[10] and ":" not in r[1] and r[1] not in mapped_idents
                       and ".PRIOR_RESULT." not in r[1]
                       and r[1].count(".") and r[1].split(".")[-1] in mapped_segments
                       and re.fullmatch(r"[A-Z][A-Z0-9]{2}", r[1].split(".")[-1])}
    blocks = block_runs(table[2:])
    # the segments a segment follows where it has rows ("ADT_A01:follow:PID.ROL",
    # "...:follow:PV1.ROL"), by that segment, in the table's order; one
    # whose row maps nothing too ("ADT_A01:follow:PV1.PRT": a PRT after PV1
    # is not the patient's, whose rows are follow:PID's)
    anchors: dict[str, list[str]] = {}
    for r in table[2:]:
        if (f := re.fullmatch(r"\w+:follow:(\w+)\.(\w+)", r[1].strip())):
            if f.group(1) not in anchors.setdefault(f.group(2), []):
                anchors[f.group(2)].append(f.group(1))
    openers = block_openers(table[2:], blocks)
    # mended: VXU_V04's PRT of an ordering or administering provider makes a
    # PractitionerRole the Immunization's performer.actor refers to, and
    # rows of the same group and condition assign that performer's function
    # ("Immunization[1].performer.function.coding.code="OP'"", with a stray
    # quote), rows without a map that wrote nothing: 2.7 and 2.8's
    # performers had no function where ORC-12 and RXA-10 give one. They are
    # values of the element the link fills: the link carries them. By the
    # index of the row of the link: (resource, first element, rest, value)
    assigned: dict[int, list[tuple[str, str, str, str]]] = {}
    for index, r in enumerate(table[2:]):
        a = re.fullmatch(r'\s*(\w+)\[\d+\]\.(\w+)\.([\w.]+?)\s*=\s*"(.*?)\'?"\s*', r[9])
        if not a or r[10].strip() or not r[1].strip():
            continue
        for at in range(index - 1, -1, -1):
            before = table[2 + at]
            if before[1] != r[1] or before[6] != r[6]:
                break
            if before[10].strip() and re.search(rf"\b{a.group(1)}\.{a.group(2)}\.\w+", before[11]):
                assigned.setdefault(at, []).append((a[1], a[2], a[3], a[4]))
                r[9] = ""  # (honoured: not reported)
                break
    made_by: dict[str, tuple[str, str, bool]] = {}  # a label: its first segment, group, repetition
    for index, r in enumerate(table[2:]):
        ident, cond_text, narrative, label, segmap, refs = r[1], r[6], r[8], r[9], r[10], r[11]
        repeats = r[5].strip() in ("-1", "*", "n")
        for wrong, right in TYPE_TYPOS.items():
            refs = re.sub(rf"\b{wrong}\b", right, refs)
        for group_of, referring, referred in shared:
            result = re.fullmatch(rf"\s*({referring}\[\d+\])\s*", label)
            element = REFERRING_ELEMENTS.get((referring, referred.split("[")[0]))
            if result and element and ident == f"{group_of}.OBSERVATION.OBX":
                # mended: "The OBR specimen data yields one Specimen resource
                # that all Observations generated for the same OBR need to
                # reference" (ORU_R01's OBR[Specimen] row), which no row's
                # references write: each result of the order's OBSERVATION
                # group refers to it
                refs = f"{refs}; {result.group(1)}.{element}.reference={referred}.id"
        completes = any(f"{t}[n]" in label for t in completing)
        for t, n in own_number.items():
            label = label.replace(f"{t}[n]", f"{t}[{n}]")
            refs = refs.replace(f"{t}[n]", f"{t}[{n}]")
        if index in blocks and (opened := openers.get(blocks[index])):
            # mended: ADT_A17's second block names the first block's
            # patient (PV1[Patient], PV1[Coverage]'s beneficiary) where its
            # own is meant: its PV1-16 went to the other patient
            (t, first), own = opened
            label = re.sub(rf"\b{t}\[{first}\]", f"{t}[{own}]", label)
            refs = re.sub(rf"\b{t}\[{first}\]", f"{t}[{own}]", refs)
        comment = r[13] if len(r) > 13 else ""
        if ident in unmapped_idents:
            # mended: a segment the table places in a group without a map
            # (ORU_R01's NTE after PID or after OBR, a note of the patient or
            # the order) maps to nothing there: a row without a map stands for
            # it, so that the converter reports it rather than apply its rows
            # of another group (the OBSERVATION's: the note of a result)
            parts = ident.split(".")
            out.append("\t".join(["G", parts[-1], parts[-2] if len(parts) > 2 else "", "", "", "", "", ""]))
            if parts[-3:] in (["SPECIMEN", "SPECIMEN_OBSERVATION", "OBX"],
                              ["CONTAINER", "CONTAINER_OBSERVATION", "OBX"]):
                # before 2.7 SPECIMEN and CONTAINER hold their OBX themselves
                # (OML_O21's, which the table maps to nothing in 2.8's groups):
                # the row stands for it there too, not the OBSERVATION's rows
                # (an observation of the specimen as the order's supportingInfo)
                out.append("\t".join(["G", parts[-1], parts[-3], "", "", "", "", ""]))
            unmapped_idents.discard(ident)
            continue
        twin = ROUTED_AS.get(ident.split(".")[-1]) if not segmap.strip() else None
        if twin:
            # mended: see ROUTED_AS
            for t in table[2:]:
                named = map_name(t[10]) if t[1].split(".")[-1] == twin else None
                twin_made = re.fullmatch(r"\s*(\w+)(?:\[1\])?\s*", t[9])
                if named and twin_made and f"{ident.split('.')[-1]}[{named[1]}]".lower() in segmaps:
                    # a resource of a number of its own: not the twin's (an
                    # IAM beside an AL1 fills no AllergyIntolerance of AL1's)
                    kind_of = twin_made.group(1)
                    label = f"{kind_of}[{max(numbers.get(kind_of, 0), own_number.get(kind_of, 0), 1) + 1}]"
                    refs = re.sub(rf"\b{kind_of}\[1\]", label, t[11])
                    comment = t[13] if len(t) > 13 else ""
                    segmap = f"{ident.split('.')[-1]}[{named[1]}]"
                    break
        made_alone = re.fullmatch(r"\s*(\w+)(?:\[\d+\])?\s*", label)
        if ident and not segmap.strip() and made_alone and ":" not in ident and \
                f"{ident.split('.')[-1]}[{made_alone.group(1)}]".lower() in segmaps:
            # mended: ORM_O01's IN1 makes "Coverage[1]" without naming a map,
            # where IN1[Coverage] is IN1's map of a Coverage (OML_O21's and the
            # ADT tables' name it): an order's insurance was reported as a
            # segment no table maps; it takes the segment's map of the type
            segmap = f"{ident.split('.')[-1]}[{made_alone.group(1)}]"
        if ident and not ident.startswith("/") and not segmap and "=" in label:
            # an assignment in place of a target, without a segment map
            # (VXU_V04's PRT: the Immunization's performer.function of the
            # role its PractitionerRole row refers to): a link carries no
            # value, so it is not honoured (the role's code is the
            # PractitionerRole's, PRT-4)
            report.append(f"{structure} {ident}: assignment {label.strip()!r} without a segment map: "
                          "not honoured")
        if not ident or ident.startswith("/") or not segmap:
            continue
        parts = ident.split(".")
        segment = parts[-1]
        group = parts[-2] if len(parts) > 2 else ""
        where = f"{structure} {ident} -> {segmap}"
        if segmap in ACCOUNT_FIELDS and not cond_text.strip():
            # mended: PID's Account is PID-18's (the patient account number,
            # its one value; the rest is a constant status): without PID-18
            # the tables made an Account of nothing for every patient; MRG's
            # the prior account number's (MRG-3), which a merge of patients
            # (MRG-1 alone) does not send
            cond_text = f"IF {ACCOUNT_FIELDS[segmap]} VALUED"
        for place, tables in ROLE_TABLES.items():
            # mended: ROL's and PRT's rows hold "IF ROL-3.1 EQUALS "PP" AND
            # ROL-3.3 EQUALS "HL70443"": a role sent without naming its
            # coding system ("PP^Primary Care Provider", as most senders
            # send it) is of the field's own table, and made nothing (its
            # complement's row, a CareTeam, nothing either). PRT-4's own
            # table is 0912 (its roles: OP, AP, PRI, SC...), which the rows
            # do not name: a role naming it made nothing
            listed = ", ".join(f'"{t}"' for t in tables)
            cond_text = re.sub(rf'\b{place} EQUALS "HL70443"',
                               f"({place} IN ({listed}) OR {place} NOT VALUED)", cond_text)
            cond_text = re.sub(rf'\b{place} NOT EQUALS "HL70443"',
                               f"({place} NOT IN ({listed}) AND {place} VALUED)", cond_text)
        if segmap == "PID[Provenance-Patient]" and not cond_text.strip():
            # mended: MDM_T02's PID row of the patient record's Provenance
            # (PID-33's update time, PID-34's facility as its agent) lacks
            # the condition every other table gives it: each MDM made a
            # Provenance of nothing, reported as lacking its agent
            cond_text = "IF PID-33 AND PID-34 VALUED"
        if segmap == "MSH[Provenance-Transformation]":
            # mended: the Provenance of the conversion itself, whose agent
            # (the organisation or device converting) and time ("/timestamp
            # of tranformation/") the tables leave to the implementer: made of
            # constants alone, it lacked its required agent in every message
            # and was left out, and every conversion's report said so
            # ("Provenance without agent (from MSH)"), which hid the lines
            # that tell of the message; a user's own message table may name it
            report.append(f"{where}: the conversion's Provenance, whose agent and time the "
                          "tables leave to the implementer; not made")
            continue
        noted = re.fullmatch(r"((\w+)\[\d+\])\.note", label.strip())
        if noted and segment == "NTE" and f"nte[{noted.group(2)}]".lower() in segmaps:
            # mended: an NTE after an OBX (or an order's) is a note of its
            # Observation (ServiceRequest): "Observation[2].note" with the map
            # of a ServiceRequest's notes; NTE's map of that resource writes it
            label, segmap = noted.group(1), f"NTE[{noted.group(2)}]"
        within = re.fullmatch(r"\w+\[\d+\](?:\.\w+)+\((\w+)\)", label.strip())
        if within and segmap.lower() in segmaps:
            if re.search(r"(?i)does not represent", narrative):
                # the first SFT is the sending application's software
                report.append(f"{where}: narrative condition {narrative[:60]!r} taken as false")
                continue
            # mended: SFT's Device is named by the element that refers to it
            # ("Provenance[1].entity.what(Device)"; the reference is given
            # too): a number of its own, past those the table gives the type
            kind_of = within.group(1)
            used = [int(u.group(1) or 1) for t in table[2:]
                    if (u := re.match(rf"\s*{kind_of}(?:\[(\d+)\])?(?:\W|$)", t[9]))]
            holder = label.split("(")[0].strip()
            label = f"{kind_of}[{max(used + [numbers.get(kind_of, 0), own_number.get(kind_of, 0)]) + 1}]"
            refs = re.sub(rf"=\s*{kind_of}\.id", f"={label}.id", refs)
            if f"{holder}.reference" not in refs.replace(" ", ""):
                # mended: ORM's DG1 names the reference only there
                # ("ServiceRequest[1].reasonReference(Condition)"): the
                # ServiceRequest's reason was not made
                refs = f"{refs}; {holder}.reference={label}.id" if refs.strip() else \
                    f"{holder}.reference={label}.id"
            narrative = ""
        m = re.fullmatch(r"(\w+)(?:\[(\d+)\])?(?:\.[\w-]+)?", label.split("(")[0].strip())
        if not m:
            report.append(f"{where}: primary target {label!r} unreadable")
            continue
        rtype, number = m.group(1), m.group(2) or "1"
        if rtype == "Bundle":
            continue  # the bundle is the converter's own frame
        if re.search(r"\]\.[\w.]+$", label):
            report.append(f"{where}: primary target {label!r} is an element of another "
                          "resource's map")
            continue
        named = map_name(segmap)
        made = target_type(named[1]) if named else rtype
        if made != rtype and has_element(made, "meta"):
            # mended: a row whose primary target is not what its segment map
            # fills (DG1[Condition] under ServiceRequest[1]) makes the map's
            report.append(f"{where}: primary target {label!r} is not a {made}: a {made} is made")
            rtype = made
        if segmap.lower() in segmaps:
            segmap = segmaps[segmap.lower()]
        elif not (known and known(segmap)) and segmap not in ADDED_MAPS:
            report.append(f"{where}: segment map has no table")
            continue
        if re.fullmatch(r'IF OBX-5 LST\.count LESS THAN OR EQUALS 1 AND OBX-2 IS "NA"', cond_text.strip()):
            # mended: VXU's OBSERVATION OBX reads AND where its twin row's
            # complement ("LST.count GREATER THAN 1 AND OBX-2 IS NOT "NA"") and
            # every other table's row read OR: an OBX of one value made nothing
            cond_text = cond_text.replace(" AND ", " OR ")
        tested = re.fullmatch(r"IF ([A-Z][A-Z0-9]{2}) (NOT )?VALUED", cond_text.strip())
        if tested and any(i.startswith(ident.rsplit(".", 1)[0] + ".")
                          and i.endswith("." + tested.group(1)) for i in idents):
            # mended: a segment's presence, of one in the row's own group
            # (ORU_R01's OBR fills the ServiceRequest "IF ORC VALUED"), is its
            # "field 0", which the converter reads as the segment's name
            cond_text = f"IF {tested.group(1)}-0 {tested.group(2) or ''}VALUED"
        organisation = re.fullmatch(r'IF NK1-3\.1 (NOT )?IN (\("EMR", "E", "F", "I", "S"\))', cond_text.strip())
        if organisation:
            # mended: ADT_A01's NK1 is a RelatedPerson unless it names an
            # organisation: an employer by its relationship (NK1-3, table
            # 0063's EMR) or an employer, federal or state agency or insurer
            # by its contact role (E, F, S, I: table 0131's, NK1-7's), which
            # the condition tests of NK1-3, where they never stand: an
            # employer's NK1 (NK1-7 "E") was a RelatedPerson of the patient
            codes = organisation.group(2)
            cond_text = (f"IF NK1-3.1 NOT IN {codes} AND NK1-7.1 NOT IN {codes}" if organisation.group(1)
                         else f"IF NK1-3.1 IN {codes} OR NK1-7.1 IN {codes}")
        follows = re.fullmatch(r"\w+:follow:(\w+)\.(\w+)", ident.strip())
        if follows and len(anchors.get(segment, [])) > 1:
            # mended: a ROL after PID names the patient's practitioners, one
            # after PV1 the stay's ("ADT_A01:follow:PID.ROL", "...:follow:PV1.
            # ROL"), which the rows did not tell apart: each ROL made all of
            # them (a primary care provider was the stay's participant, made
            # an Encounter before PV1; an attending doctor joined the
            # patient's CareTeam). Where it stands is whether the segments
            # it may follow stand before it: the first of them its own, none
            # of the later ones
            later = anchors[segment][anchors[segment].index(follows.group(1)) + 1:]
            tests = [f"{a}-0 NOT VALUED" for a in later]
            if follows.group(1) != anchors[segment][0]:
                tests.insert(0, f"{follows.group(1)}-0 VALUED")
            own_test = re.sub(r"(?i)^IF\s+", "", cond_text.strip())
            cond_text = "IF " + " AND ".join(([f"({own_test})"] if own_test else []) + tests)
        if re.fullmatch(r"(?i)IF PID VALUED", cond_text.strip()):
            # mended: ORM's OBR fills its order's ServiceRequest "IF PID VALUED",
            # a segment's presence the conditions cannot test; the row for a
            # message without PID (a SupplyRequest) is not honoured, so this
            # one holds always
            report.append(f"{where}: condition {cond_text!r} taken as always true")
            cond_text = ""
        if narrative and not cond_text and re.match(r"(?i)if there is a source in MSH-4", narrative):
            # mended: MSH[Provenance-Source] is made "If there is a source in
            # MSH-4, or known based on the configuration"; its agent is MSH-4
            # or MSH-22 (a converter has no other configuration): without
            # either it is a Provenance without its required agent, left
            # out and reported in every message of no sending facility
            report.append(f"{where}: narrative condition {narrative[:60]!r} taken as "
                          "'IF MSH-4 VALUED OR MSH-22 VALUED'")
            cond_text, narrative = "IF MSH-4 VALUED OR MSH-22 VALUED", ""
        try:
            cond = condition(cond_text, segment) if cond_text else ""
        except ValueError as e:
            report.append(f"{where}: condition {cond_text!r} is prose ({e})")
            continue
        if narrative and not cond_text and re.search(r"(?i)in context of an? episode of care",
                                                     narrative):
            # a message's diagnoses stand in the context of its patient and
            # encounter (DG1's Condition and Encounter rows); v2 names no
            # episode of care for them to belong to
            report.append(f"{where}: narrative condition {narrative[:60]!r} taken as false")
            continue
        if narrative and not cond_text:
            report.append(f"{where}: narrative condition {narrative[:60]!r} not computable; row applied")
        if rtype in carried and number == "1" and index > carried_after[rtype]:
            # (the element's first, specimen[1], made after the row linking it)
            refs = "; ".join(p for p in (refs.strip(), *carried.pop(rtype)) if p)
        if segmap == "IN1[Coverage]" and "beneficiary" not in refs:
            # mended: ADT_A05's, ADT_A06's and OML_O21's IN1 name no
            # beneficiary (ADT_A01's: the Patient), which FHIR's Coverage
            # requires: every Coverage of an A05, A06, A28, A31 or O21 was left
            # out. (OML_O21's link to the Patient as subscriber is kept.)
            refs = "; ".join(p for p in (refs.strip(), "Coverage.beneficiary.reference=Patient[1].id") if p)
        links = []
        for ref in re.split(r"[;\n]", refs):
            ref = re.sub(r"(\w+)\[([A-Z][A-Z0-9]{2})\]",
                         lambda n: f"{n.group(1)}[{makers.get((n.group(1), n.group(2)), n.group(2))}]",
                         ref.strip())
            if not ref:
                continue
            m = re.fullmatch(r"(\w+)(?:\[(\d+)\])?\.([\w.]+?)(?:\.reference)?\s*=\s*(\w+)(?:\[(\d+)\])?(?:\.id)?", ref)
            if not m:
                report.append(f"{where}: reference {ref!r} unreadable")
                continue
            if (m.group(1), m.group(3)) in MOVED_REFERENCES:
                # mended: see MOVED_REFERENCES
                ref = re.sub(r"^\w+(?:\[\d+\])?", MOVED_REFERENCES[(m.group(1), m.group(3))], ref)
                m = re.fullmatch(r"(\w+)(?:\[(\d+)\])?\.([\w.]+?)(?:\.reference)?\s*=\s*(\w+)(?:\[(\d+)\])?(?:\.id)?",
                                 ref)
                assert m
            resolved = resolve(m.group(1), m.group(3))
            if not isinstance(resolved, str) and resolved[1] != "Reference":
                # mended: "Encounter[1].diagnosis.reference=Condition[1].id" names
                # a backbone element whose one Reference is meant (its condition)
                members = [k for k, (_, kind) in (SHAPES.elements(resolved[1]) or {}).items()
                           if kind == "Reference"]
                if len(members) == 1:
                    resolved = resolve(m.group(1), f"{m.group(3)}.{members[0]}")
            if isinstance(resolved, str) or resolved[1] != "Reference":
                report.append(f"{where}: reference {ref!r}: "
                              f"{resolved if isinstance(resolved, str) else 'no Reference'}")
                continue
            # mended: a reference from a resource of the row's own type
            # without a number ("RelatedPerson.patient" on a row making
            # RelatedPerson[2], "Provenance.target" on one making
            # Provenance[4]) is from the row's resource, not the first
            origin = m.group(2) or (number if m.group(1) == rtype else "1")
            own_group = made_in.get(ident.rsplit(".", 1)[0], {}).get(m.group(1), set())
            around = [made_in.get(ident.rsplit(".", k)[0], {}).get(m.group(1), set())
                      for k in range(1, ident.count(".") + 1)]
            if len(own_group) == 1 and not any(origin in numbers for numbers in around):
                # mended: a reference from a resource of a number that no row
                # of the row's group or the groups around it makes, where one
                # of its group makes one of the type, is from that one (VXU's
                # ORDER.OBSERVATION PRT: "Observation[1].device", its OBX's
                # being Observation[2], [1] a PERSON_OBSERVATION's)
                origin = next(iter(own_group))
            target = m.group(5) or "1"
            if m.group(4) == rtype and m.group(1) != rtype:
                # mended: a reference to a resource of the row's own type is to
                # the row's resource ("Device.id" on a row making Device[2];
                # PractitionerRole[1] on one making PractitionerRole[4]; ORU's
                # QST OBX, Observation[2], "supportingInfo=Observation[1]")
                target = number
            values = []
            for kind_of, first, rest, value in assigned.get(index, []):
                placed = resolve(kind_of, f"{first}.{rest}")
                head = resolved[0].split(".")[0]
                if m.group(1) == kind_of and not isinstance(placed, str) and \
                        placed[0].startswith(head + ".") and "*" in head:
                    values.append(f"{placed[0][len(head) + 1:]}:{esc(value)}")
                else:
                    report.append(f"{where}: assignment {kind_of}.{first}.{rest}={value!r} beside no "
                                  "element of the reference: not honoured")
            link = f"{m.group(1)}*{origin}={resolved[0]}={m.group(4)}*{target}"
            links.append(f"{link}={','.join(values)}" if values else link)
        row = ["G", segment, group, f"{rtype}*{number}", rtype, esc(segmap), cond, ";".join(links)]
        row_map = row[5]
        copies = [row]
        if parts[-3:-1] == ["SPECIMEN", "SPECIMEN_OBSERVATION"]:
            # mended: before 2.7 SPECIMEN holds its OBX itself, without a
            # SPECIMEN_OBSERVATION group: the group's rows stand for that OBX
            copies.append(row[:2] + ["SPECIMEN"] + row[3:])
            # mended: 2.7 names that group as the PATIENT's (PATIENT_OBSERVATION):
            # the rows stand for it where SPECIMEN holds it
            copies.append(row[:2] + ["SPECIMEN.PATIENT_OBSERVATION"] + row[3:])
        if row_map in ROUTES and not cond:
            # mended: RXR (a route) is mapped by VXU_V04 alone, into the
            # Immunization of its order's RXA; an RXR of a pharmacy order
            # (RDE, RDS: after RXO or RXE), in a message without a table,
            # took those rows: an Immunization of a route alone, left out.
            # The route is the Immunization's where an RXA stands, else the
            # MedicationRequest's (RXR[MedicationRequest], in no table)
            given, other, other_type = ROUTES[row_map]
            row[6] = condition(f"IF {given} VALUED", segment)
            copies.append(row[:3] + [f"{other_type}*1", other_type, esc(other),
                                     condition(f"IF {given} NOT VALUED", segment), ""])
        if segmap in SELF_ROWS and not re.search(rf"\.{SELF_ROWS[segmap][2]}\b", refs):
            # the Patient's row of the segment map (see SELF_ROWS), where the
            # table links no element of the same name (OML_O21's subscriber)
            cond_self, map_self, element = SELF_ROWS[segmap]
            patient = makers.get(("Patient", "PID"), "1")
            copies.append(row[:5] + [esc(map_self), condition(cond_self, segment),
                                     f"{rtype}*{number}={element}=Patient*{patient}"])
        # The tables say in prose which segment makes a resource of its own
        # ("Processing of the IN1 segment results in the creation of a new
        # Coverage resource") where its label is another row's too (PV1-20's
        # Coverage[1]): each such segment makes one, filling the other's
        # once at most.
        # A label the rows of a segment outside any group that repeats
        # ("[{ ROL }]") make before is one resource a segment, not one a
        # message: a later segment of the label (ADT_A01's PRT, CareTeam[1]
        # as ROL's) makes its own too. (Filling the first's, each PRT after
        # the first wrote into that one CareTeam's participant, the first
        # PRT's, and its practitioner was lost without a word.)
        label_of = f"{rtype}*{number}"
        maker = made_by.setdefault(label_of, (segment, group, repeats))
        per_segment = maker[0] != segment and not maker[1] and maker[2] and repeats
        for row in copies:
            new = (bool(re.search(rf"creation of a new {rtype} resource", comment)) or completes
                   or per_segment) and row[5] == row_map
            if index in blocks:
                row += ["new" if new else "", blocks[index]]
            elif new:
                row.append("new")
            out.append("\t".join(row))
    for kind_of, links in carried.items():
        report.append(f"{structure}: reference {links[0]!r}: no {kind_of} is made after the row linking it")


# References from an element the resource named lacks, to the resource whose
# element it is: ORU_R01's ORDER_OBSERVATION PRT of the ordering provider
# (PRT-4 "OP") names "DiagnosticReport[1].requester", which R4's report has
# not; the order's ServiceRequest has (COMMON_ORDER's PRT of the role names
# it): the PractitionerRole was made and referred to by nothing.
MOVED_REFERENCES = {("DiagnosticReport", "requester"): "ServiceRequest[1]"}
# A segment map whose rows stand where a field of another segment is valued,
# and the map (and its type) for them where it is not (see message_rows()).
ROUTES = {"RXR[Immunization]": ("RXA-3", "RXR[MedicationRequest]", "MedicationRequest")}
# Rows the tables' own words say not to write, and why (reported in
# tools/fhir_report.txt; the field is reported as unmapped).
# OBX-30, the observation's sub-type: "we will keep the thought of needing
# an extension, but not create it yet"; the rows name an extension R4 has
# not (observation-structure-type) and that extension's url as a code
# system. OBX[Observation-Component]'s rows of the field are the same
# extension, without the comment.
# IAM-17, the allergy's clinical status (table 0438's confirmation states):
# the map's constant rows write clinicalStatus "active", which the comment
# beside them says the map must, "as it's not possible to infer" one from
# the data in IAM; IAM-17's row, without a vocabulary, wrote its CWE into
# the same Coding, whose code the constant held: "active" with IAM-17's
# display ("Confirmed or verified"). FHIR's clinicalStatus takes its own
# codes alone, which table 0438's are not.
ROWS_LEFT_OUT = {**{(name, "OBX-30"): "an extension the table's comment says not to create yet"
                    for name in ("OBX[Observation]", "OBX[Observation-Component]")},
                 ("IAM[AllergyIntolerance]", "IAM-17"): "the map's constant writes it, its comment "
                 "saying none is inferred from IAM",
                 # TQ.3 is a duration as a letter and a number ("D10", ten
                 # days; "INDEF"), which the rows write as a Quantity's value
                 # (never a decimal) and unit with the system "UCUM": a
                 # Duration of the text "D10" in no unit, which took the
                 # Timing's bounds from TQ.4's and TQ.5's start and end
                 ("TQ[ServiceRequest]", "TQ.3"): "a duration as a letter and a number, not a Quantity: "
                 "reported (ADDED_ROWS)"}
# Rows of one field, of one data type map, that the tables give beside
# another row of the field naming the same person otherwise, and why.
# PRT-5's person is a CareTeam's member twice, as a Practitioner and as a
# RelatedPerson of the patient, both "IF PRT-6 IS NOT VALUED": the roles
# the messages' PRT[CareTeam] rows hold for (table 0912's AD, AT, OP, RP...)
# are all a provider's, so that the attending doctor was a RelatedPerson of
# the patient too. A related person's PRT is PRT[RelatedPerson]'s.
MEMBERS_LEFT_OUT = {("PRT[CareTeam]", "PRT-5", "XCN[RelatedPerson]"):
                    "a provider's role is a Practitioner's (the row beside it), not a related person's"}
# Rows that hold only where a field does not hold a code of "not recorded"
# (see map_rows()): RXA-6's amount 999 and RXA-7's unit of it; an amount,
# compared as a number ("999.0", " 999" are 999 too)
NOT_RECORDED = {("RXA[Immunization]", field): "RXA-6 NUMBER NOT EQUALS 999" for field in ("RXA-6", "RXA-7")}
# Data type maps whose rows write a second element of the list the value
# fills ("[2].given"), which a map of one element cannot make, and why: the
# value's field is reported when the component is valued. XPN.15, the name
# a person is called by, is a second name "if the resource attribute using
# the HumanName datatype allows for multiple names", of use "nickname"; the
# comment beside it: "a new occurrence of Patient.name should be created".
# Read as the name's own, its use "nickname" was the person's name's where
# XPN.7 gave none (the legal name "DOE^JOHN" marked as a nickname) and the
# name called by was lost without a word (given taken by XPN.2).
# CWE[Identifier]'s alternate identifier (CWE.4 to CWE.6) and the original
# one (CWE.10 to CWE.13) are "[2]." and "[3].": read as the first's, the
# first's value took the alternate's system where CWE.3 was empty (IN1-2
# "PLAN1^^^ALT1^^ALTSYS": PLAN1 in urn:id:ALTSYS) and ALT1 was lost.
SECOND_ELEMENTS = {"XPN[HumanName]": "a second name, which a map of one HumanName does not make",
                   "CWE[Identifier]": "another identifier, which a map of one Identifier does not make"}
# The one field a segment's Account is made of (see message_rows()).
ACCOUNT_FIELDS = {"PID[Account]": "PID-18", "MRG[Account]": "MRG-3"}
# The name of the structure of segments no message table lists (see
# unlisted_rows()): no message names it.
UNLISTED = "*"


def unlisted_rows(segment_maps: Iterable[str], out: list[str]) -> None:
    """Rows, under a structure of their own written after the message
    tables', for each segment map of a segment that no message table lists,
    filling the resource of its type that the message made first.

    Mended: MSA[MessageHeader] (an acknowledgment's response code and the
    message it answers) is in no message table, and the messages that hold
    an MSA (ACK, RSP) have no table of their own: the MSA was reported as a
    segment no table maps. A message without a table of its own takes each
    segment's rows from the first structure that holds it: these come
    after every table's, so they stand only for segments no table lists."""
    listed = {line.split("\t")[1] for line in out if line.startswith("G\t")}
    rows = []
    for name in sorted(segment_maps):
        parts = map_name(name)
        if parts and name.split("[")[0] not in listed:
            made = target_type(parts[1])
            rows.append("\t".join(["G", name.split("[")[0], "", f"{made}*1", made, esc(name), "", ""]))
    if rows:
        out += [f"M\t{UNLISTED}", *rows]


# Segments the message tables list without a map where they map their
# twin, by the twin: IAM, the allergy segment of ADT from 2.5 on (ADT_A01,
# A05, A06 list it), has its map IAM[AllergyIntolerance] as AL1 has
# AL1[AllergyIntolerance], but no table routed it: every IAM was reported
# as a segment no table maps. It makes an AllergyIntolerance as AL1 does.
ROUTED_AS = {"IAM": "AL1"}


def block_openers(table: list[list[str]], blocks: dict[int, str]
                  ) -> dict[str, tuple[tuple[str, str], str] | None]:
    """For each block of block_runs() past the first ("PID:2"), the
    resource its opening segment's first row makes in the first block and
    its number in this one ((("Patient", "1"), "2")), or None when one of
    them is not read."""
    made: dict[str, tuple[str, str]] = {}
    for index, block in sorted(blocks.items()):
        r = table[index]
        m = re.fullmatch(r"\s*(\w+)\[(\d+)\]\s*", r[9])
        if block not in made and r[1].split(".")[-1] == block.split(":")[0] and m:
            made[block] = (m.group(1), m.group(2))
    out: dict[str, tuple[tuple[str, str], str] | None] = {}
    for block, (t, n) in made.items():
        opener, number = block.split(":")
        first = made.get(f"{opener}:1")
        if number != "1":
            out[block] = ((t, first[1]), n) if first and first[0] == t and first[1] != n else None
    return out


def block_runs(table: list[list[str]]) -> dict[int, str]:
    """The rows of a table that lists a block of segments again (ADT_A17:
    PID, PD1, PV1, PV2 and OBX for each of the two patients), by index:
    "PID:2", the block's first segment and the number of the block their
    rows stand for, so that each PID makes its own Patient, not both."""
    runs: dict[tuple[str, str], int] = {}  # (group, segment): its rows' runs so far
    last: tuple[str, str] | None = None
    run_of: list[tuple[tuple[str, str], int] | None] = []
    for r in table:
        parts = r[1].split(".")
        if not r[1] or r[1].startswith("/") or not r[10] or len(parts) < 2 or ":" in parts[0]:
            # (a segment that may follow others, "ADT_A01:follow:PID.ROL", is
            # told apart by what it follows, which the converter does not)
            run_of.append(None)
            continue
        key = (".".join(parts[1:-1]), parts[-1])
        if key != last:
            runs[key] = runs.get(key, 0) + 1
            last = key
        run_of.append((key, runs[key]))
    again = [k for k in run_of if k and k[1] > 1]
    if not again:
        return {}
    opener = again[0][0][1]  # the segment that opens the second block
    return {i: f"{opener}:{k[1]}" for i, k in enumerate(run_of) if k and runs[k[0]] > 1}


# mended: the language vocabularies list BCP 47's codes and leave v2's column
# empty (PID-15's and MSH-19's values are ISO 639 codes, as v2 suggests, which
# BCP 47's are): each code is its own v2 code, found in any case ("EN" is
# "en"), where none was found and MSH-19's language was left out
CODES_ARE_FHIRS = {"PrimaryLanguage", "PrincipalLanguageOfMessage"}


# mended: codes a vocabulary maps into another element's codes than the one
# its rows write. A cellular phone (XTN-3 "CP", as feeds send for every
# mobile number) maps to contact-point-use's "mobile", which XTN's map writes
# as ContactPoint.system, whose required codes have no "mobile" (a server
# refuses the bundle): it is a phone, used as a mobile where XTN-2 gives no
# use (ADDED_ROWS)
CODE_MENDS = {("TelecommunicationEquipmentType", "CP"): ("phone", "http://hl7.org/fhir/contact-point-system",
                                                          "Phone")}
# Vocabularies of an element FHIR wants beside another, a ContactPoint's
# system beside its value (cpt-2): a code missing from one ("CELL", left out
# and reported) leaves the element not known, the data-absent-reason on the
# primitive ("_system", a V line's "absent"), as a number without XTN-3 has
# (ADDED_ROWS): no worse off than one sent without an equipment type
ABSENT_VOCABULARIES = {"TelecommunicationEquipmentType"}


# Vocabularies whose codes without a target are still reported, as codes
# they lack: AddressType[Use], through which XAD.7's codes of no use or type
# are reported (map_rows()), the tables keeping them in an extension that
# has no url (lost by the converter, not mapped to nothing by the tables)
REPORTED_UNTARGETED = {"AddressType[Use]"}


def vocabulary(name: str, path: Path, out: list[str]) -> None:
    table = rows(path)
    header = [h.split("\n")[0] for h in table[1]]
    codes = [i for i, h in enumerate(header) if h == "Code"]
    systems = [i for i, h in enumerate(header) if h == "Code System"]
    display = header.index("Display") if "Display" in header else None
    if len(codes) < 2:
        report.append(f"vocabulary {name}: header unreadable")
        return
    out.append(f"V\t{esc(name)}" + ("\tabsent" if name in ABSENT_VOCABULARIES else ""))
    for code, fhir_code in EXTRA_CODES.get(name, []):
        out.append("\t".join(["C", code, fhir_code, "http%3A//hl7.org/fhir/observation-status", ""]))
        report.append(f"vocabulary {name}: {code} added as {fhir_code}")
    for r in table[2:]:
        if not r[0] and r[codes[1]] and name in CODES_ARE_FHIRS:
            r = [r[codes[1]], *r[1:]]  # (mended: see CODES_ARE_FHIRS)
        if not r[0] or (not r[codes[1]] and (name in REPORTED_UNTARGETED or
                                             r[0] in (c for c, _ in EXTRA_CODES.get(name, [])))):
            continue
        # a code listed without a target is mapped to nothing on purpose:
        # known (not reported as a code the vocabulary lacks), writing nothing
        target = (r[codes[1]], r[systems[-1]] if len(systems) > 1 else "",
                  r[display] if display is not None else "") if r[codes[1]] else ("", "", "")
        if (name, r[0]) in CODE_MENDS:
            target = CODE_MENDS[(name, r[0])]
            report.append(f"vocabulary {name}: {r[0]} as {target[0]} (the tables: {r[codes[1]]})")
        if "," in r[0] and target[0] == r[0]:
            # mended: UniversalIDType lists three codes in one cell ("L,M,N",
            # all Local) mapped to that cell, a code no message sends: HD-3
            # "L" was not found. Each is a code of its own, mapped to itself
            for code in r[0].split(","):
                out.append("\t".join(["C", esc(code.strip()), esc(code.strip()), *map(esc, target[1:])]))
            continue
        out.append("\t".join(["C", esc(r[0]), *map(esc, target)]))


def compile_files(paths: Iterable[str | os.PathLike[str]], shapes: Shapes,
                  known: Iterable[str] = ()) -> str:
    """The lines of a user's tables: each file by its header is a message
    table (a "Segment Map" column), a segment or data type map (a "FHIR
    Attribute" column; named by its file name, "ZPI[Patient].csv" or HL7's
    "... FHIR R4_ ZPI[Patient] - ..."; segment maps are those whose rows
    name fields "ZPI-1"), or a vocabulary (a "Code" column; named by the
    file name). ValueError for a file that is none of these."""
    global SHAPES
    SHAPES = shapes
    report.clear()
    forget_maps(shapes)  # (SHIFTS: a user's maps number their lists as they write them)
    out: list[str] = []
    maps: dict[str, str] = {name.lower(): name for name in known}
    kinds = []
    for p in map(Path, paths):
        table = rows(p, strict=False)  # (what it is: whether it is CSV, as it is compiled)
        header = " ".join(table[1] if len(table) > 1 else [])
        m = re.search(r"(?:FHIR R4_ |Concept Map_ )(.+?) - ", p.name)
        name = m.group(1) if m else p.stem
        if "Segment Map" in header:
            kinds.append(("M", name, p))
        elif "FHIR Attribute" in header:
            segment = any(re.fullmatch(r"[A-Z][A-Z0-9]{2}-\d+", r[1]) for r in table[2:])
            kinds.append(("S" if segment else "D", name, p))
            maps[name.lower()] = name
        elif len(table) > 1 and table[1][:1] == ["Code"]:
            kinds.append(("V", vocabulary_name(name), p))
        else:
            raise ValueError(f"{p}: not a V2-to-FHIR table (message, segment, data type or "
                             "vocabulary)")
    for kind, name, p in kinds:
        if kind in "SD":
            note_members(name, p)
    vocabularies = getattr(shapes, "vocabularies", set()) | {name.lower() for kind, name, _ in kinds if kind == "V"}
    for kind, name, p in kinds:
        if kind in "SD":
            map_rows(kind, name, p, maps, out, vocabularies=vocabularies)
        elif kind == "V":
            vocabulary(name, p, out)
    for kind, name, p in kinds:
        if kind == "M":
            message_rows(p, maps, out)
    spare_shared_components(out)
    spare_assigned_systems(out)
    return "\n".join(out) + "\n"
