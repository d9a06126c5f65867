"""Lists the places the converter's FHIR rows read whose data type differs by version.

HL7's V2-to-FHIR tables are written against 2.8.2's data types; a field's
type is another in older versions (2.2's PID-3 a CM_PAT_ID, 2.3's PID-5 a
PN, CE before CWE, TS before DTM). For every row of a segment map of
src/vellomar/definitions/fhir.txt that reads a field, and every row of the
data type maps reached from it that reads a component, this lists each
version whose type of that place (src/vellomar/definitions/hl7.txt) differs
from the one the row's map expects, with the components the row reads side
by side, and classifies each difference:

    same       the components read have the same names (CE read by a CWE map)
    absent     a component read that the version's type does not have
               (nothing is read there; the rows of it write nothing)
    meaning    a component read that the version's type has under another
               name: read as the later type's, it may mean something else
    undefined  a composite of 2.1 (CM) whose components the definitions do
               not give, read as the later type's
    primitive  a primitive read as a composite (its first component is the
               whole value) or a composite read as a primitive (its first
               component alone is read), or a primitive of another type

Usage: python tools/fhir_versions.py > bench/results/issue29-versions.txt
"""

from __future__ import annotations

import re
import sys
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
HL7 = ROOT / "src" / "vellomar" / "definitions" / "hl7.txt"
FHIR = ROOT / "src" / "vellomar" / "definitions" / "fhir.txt"
LATEST = "2.8.2"


class Definitions:
    """Segments' field types, composites' component types and names, by version."""

    def __init__(self, text: str) -> None:
        self.versions: list[str] = []
        self.primitives: set[str] = set()
        self.fields: dict[tuple[str, str], list[str]] = {}
        self.components: dict[tuple[str, str], list[str]] = {}
        self.names: dict[tuple[str, str], list[str]] = {}
        for line in text.splitlines():
            kind, _, rest = line.partition(" ")
            if kind == "V":
                self.versions = rest.split()
                continue
            if kind not in ("L", "S", "D", "C"):
                continue
            mask_text, _, rest = rest.partition(" ")
            mask = int(mask_text, 16)
            versions = [v for i, v in enumerate(self.versions) if mask >> i & 1]
            if kind == "L":
                self.primitives.update(rest.split()[::2])
                continue
            name, _, body = rest.partition(" ")
            for v in versions:
                if kind == "S":
                    self.fields[name, v] = [re.sub(r"[?*+]|\{.*\}$", "", t).split(":")[0] for t in body.split()]
                elif kind == "D":
                    self.components[name, v] = [t.split(":")[0] for t in body.split()]
                else:
                    self.names[name, v] = body.split("|")[1:]

    def field(self, segment: str, number: int, version: str) -> str | None:
        types = self.fields.get((segment, version))
        if types is None or number > len(types) or types[number - 1] == "-":
            return None
        return types[number - 1]

    def component(self, type_name: str, number: int, version: str) -> tuple[str, str] | None:
        """(type, name) of a component; a primitive's first is itself."""
        types = self.components.get((type_name, version))
        if types is None:
            return (type_name, "(the whole value)") if number == 1 else None
        if number > len(types):
            return None
        names = self.names.get((type_name, version), [])
        return types[number - 1], names[number - 1] if number <= len(names) else "?"

    def latest(self, type_name: str) -> str:
        """The last version that defines a composite (2.8.2 for most; TQ's
        and SPS's are older)."""
        having = [v for v in self.versions if (type_name, v) in self.components]
        return having[-1] if having else LATEST

    def composite(self, type_name: str, version: str) -> bool:
        return (type_name, version) in self.components


Rows = list[tuple[int, int, str, str, str]]


def read_maps(text: str) -> dict[str, Rows]:
    """Each map's rows as (field or component, piece, kind, data type map, condition)."""
    maps: dict[str, Rows] = {}
    rows: Rows = []
    for line in text.splitlines():
        parts = line.split("\t")
        if parts[0] in ("S", "D"):
            rows = maps.setdefault(parts[1], [])
        elif parts[0] in ("M", "V", "Q", "T"):
            rows = []
        elif parts[0] == "F" and parts[1] not in ("", "0") and parts[4] != "U":
            field, _, piece = parts[1].partition(".")
            rows.append((int(field), int(piece or 1), parts[4], parts[5], parts[2]))
    return maps


# Names of one component in two versions that share no word
ALIASES = {"surname": "family name", "own surname prefix": "last name prefix",
           "second and further given names or initials thereof": "middle initial or name",
           "person identifier": "id number", "explicit time intevall": "explicit time interval",
           "total occurences": "total occurrences", "unique placer": "entity identifier",
           "unique filler": "entity identifier", "placer application": "namespace",
           "filler application": "namespace", "email address": "communication address",
           "phone number": "local number", "999 999 9999 x99999 c any text": "telephone number",
           "patient": "id number", "account number": "id number", "facility": "assigning authority",
           "parent s placer order number": "placer assigned identifier",
           "parent s filler order number": "filler assigned identifier"}
# Field types that are no type: OBX-5's (OBX-2 names it), a withdrawn field's
NO_TYPE = {"varies", "WD", "wd"}
# Coded primitives, whose value a coded composite's map reads as its code,
# and texts, which one of text reads as its text
CODES = {"ID", "IS", "NM"}
TEXTS = {"ST", "TX", "FT"}


# The verdict on each misread (a pair of the report's types section that is
# not "same"), by (map, the version's type)
VERDICTS = {
    ("CQ[Quantity]", "CM"): "2.1's quantity/timing (OBR-27, ORC-7) is the later TQ in its layout; "
                            "its quantity reads as a CQ's: fine",
    ("CWE[CodeableConcept]", "CM"): "2.1's OBR-15 (specimen source) is a CM of code and text as SPS "
                                    "later: its first component is the code: fine",
    ("CWE[CodeableConcept]", "ST"): "a text read as a coded value's code: OBX-8 of 2.1 (its values "
                                    "are table 0078's codes, H, L, N: fine), PID-15 of 2.1 and 2.2 "
                                    "(the language, a code in practice, as PrimaryLanguage reads "
                                    "it: fine), PID-28 of 2.7 (withdrawn: nothing to read); "
                                    "NK1-3 of 2.1, the relationship as text (\"WIFE\"), MENDED "
                                    "(V3): read as the concept's text in 2.1",
    ("CWE[string]", "ST"): "a text read as a coded value written as text (CQ-2's units before 2.6, "
                           "XAD-9's county): the map writes the first component, the text itself: "
                           "fine",
    ("CWE[Quantity]", "ST"): "a text read as a coded unit (CQ-2's units before 2.6, an ST): CWE.1 "
                             "without CWE.2 and CWE.3 is the Quantity's unit, the text itself, and no "
                             "code without a system: fine",
    ("CWE[uri]", "ST"): "2.2's DLN-2 (the issuing state, a text) as the identifier's system, as a "
                        "later IS: fine",
    ("DLN[Identifier]", "CM"): "2.1's PID-20 is the licence number, state and expiry as DLN later: fine",
    ("DR[Period]", "ST"): "2.7's XPN.10 (a name's validity range) is withdrawn, a placeholder: "
                          "nothing to read",
    ("EIP[Identifier-PlacerAssignedIdentifier]", "CM"): "2.1's ORC-4/OBR-29 group and parent numbers: "
                                                        "their first component is the placer's number: fine",
    ("EIP[Identifier-PlacerAssignedIdentifier]", "CM_GROUP_ID"): "2.2's ORC-4 (unique group id, "
                                                                 "placer application): the placer group "
                                                                 "number, read as round 23's R2 reads an EI: fine",
    ("EIP[Identifier-PlacerAssignedIdentifier]", "EI"): "ORC-4 before 2.8 is the placer group number "
                                                        "(an EI); the placer row reads its entity "
                                                        "identifier (round 23's R2): fine",
    ("EI[Identifier-Extension]", "CM"): "2.1's ORC-2/ORC-3/OBR-2/OBR-3 are a number and an "
                                        "application as EI later: fine",
    ("HD[Identifier]", "CM_INTERNAL_LOCATION"): "2.2's NDL-4 (OBR-32 to 35's location) is a whole "
                                                "location (unit, room, bed) where NDL-4 is its point "
                                                "of care: its first sub-component, the unit, is the "
                                                "point of care's identifier; room and bed, sent as "
                                                "sub-components, are read as a universal id and "
                                                "its type. Left: 2.2's OBR-32 to 35 seldom carry a "
                                                "location",
    ("NDL[PractitionerRole]", "CM_NDL"): "2.2's OBR-32 to 35 (technician as a CN, start, end, "
                                         "location): as NDL later but for the location (above): fine",
    ("PL[Location]", "PL"): "2.3's PL-9 is the location's type (a text): its rows write it as the "
                            "Location's type (its text) in 2.3, as the description from 2.3.1 on "
                            "(round 26's G2)",
    ("PL[Location-PointOfCare]", "CM_INTERNAL_LOCATION"): "2.2's nurse unit station is the point "
                                                          "of care: fine",
    ("PL[Location-Building]", "CM_INTERNAL_LOCATION"): "2.2's seventh component (Klinik, a "
                                                       "national extension: a clinic), no building: "
                                                       "PL's rows read 2.2's location only where its "
                                                       "sixth to eighth components are empty, else "
                                                       "CM_INTERNAL_LOCATION's maps (round 26's G2)",
    ("PL[Location-Floor]", "CM_INTERNAL_LOCATION"): "2.2's eighth component (Zentrum, a national "
                                                    "extension), no floor: as Klinik (the floor is "
                                                    "its sixth, Etage)",
    ("SPS[Specimen-Source]", "CM"): "2.1's OBR-15: code first, as SPS: fine",
    ("SPS[Specimen-Source]", "CM_SPS"): "SPS-3 is free text before 2.5 (a collection method "
                                        "after): written as the Specimen's note either way: "
                                        "fine. SPS-2, a text before 2.5 too, is read as "
                                        "one (its CWE row holds from 2.5 on: round 24's V2)",
    ("SPS[Specimen-Source]", "SPS"): "as CM_SPS",
    ("TQ[ServiceRequest]", "CM"): "2.1's quantity/timing, as TQ later: fine",
    ("XCN[Practitioner]", "CN"): "2.1's CN has the degree fifth, which XCN's map writes as a "
                                 "suffix: FHIR's HumanName.suffix holds degrees (\"MD\"): fine",
    ("XTN[ContactPoint]", "TN"): "a TN is XTN-1's telephone number itself (round 21's mend: a "
                                 "number without equipment type): fine",
}
for _name in ("Bed", "Building", "Facility", "Floor", "PointOfCare", "Room"):
    VERDICTS.setdefault((f"PL[Location-{_name}]", "PL"), VERDICTS["PL[Location]", "PL"])


class Audit:
    def __init__(self, definitions: Definitions, maps: dict[str, Rows]) -> None:
        self.defs = definitions
        self.maps = maps
        self.types = {t.lower() for t, _ in definitions.components} | {t.lower() for t in definitions.primitives}
        # place -> (map, expected) -> version -> (actual type, pair or "")
        self.places: dict[str, dict[tuple[str, str], dict[str, str]]] = defaultdict(lambda: defaultdict(dict))
        # (map, expected, actual) -> version -> (classes, lines)
        self.pairs: dict[tuple[str, str, str], dict[str, tuple[str, tuple[str, ...]]]] = defaultdict(dict)

    def plain(self, name: str) -> str:
        """A component's name without the type some versions append
        ("Identifier St", "Facility Hd") and spelling variants."""
        words = re.sub(r"[^a-z0-9 ]", "", name.lower().replace("familiy", "family")).split()
        while len(words) > 1 and words[-1] in self.types | {"id"}:
            words.pop()
        words = [w for w in words if w not in ("last", "e", "g", "eg", "the")]
        return ALIASES.get(" ".join(words), " ".join(words))

    def same(self, want: str, have: str) -> bool:
        """Whether two components' names name one thing: equal, or one's
        words among the other's ("ID" and "ID Number", "Check Digit Scheme"
        and "Code Identifying the Check Digit Scheme Employed")."""
        a, b = set(self.plain(want).split()), set(self.plain(have).split())
        return a <= b or b <= a

    def compare(self, map_name: str, expected: str, actual: str, version: str, depth: int = 0) -> str:
        """The classes of `actual` (the version's type) read by `map_name`
        (rows written for 2.8.2's `expected`), noting the pair and the
        pairs of the components' maps."""
        key = (map_name, expected, actual)
        if version in self.pairs[key]:
            return self.pairs[key][version][0]
        self.pairs[key][version] = ("", ())
        # (a row whose condition on MSH-12 holds in other versions reads nothing here)
        rows = [r for r in self.maps.get(map_name, []) if version in self.versions_of(r[4])]
        lines: list[str] = []
        classes: set[str] = set()
        absent: list[int] = []
        latest = self.defs.latest(expected)
        if self.defs.composite(actual, version) and not self.defs.composite(expected, latest) and \
                self.first(actual, version)[0] not in (expected, "ST" if expected == "DTM" else expected):
            classes.add("primitive")  # a composite read as a primitive (ST[...] over CWE), its
            # first component another type's (a TS's is the DTM a DTM map reads: same)
        for number in sorted({r[0] for r in rows}):
            want = self.defs.component(expected, number, latest)
            have = self.defs.component(actual, number, version)
            if want is None:
                continue
            if have is None:
                absent.append(number)
                continue
            whole = have[1] == "(the whole value)"
            # a primitive's whole value read as a component of the same or a
            # like primitive type (an ID as a CWE's code, an ST as an HD's
            # namespace id or a CX's id number) means what it meant; a text
            # read as a code (an ST by a CWE map) does not
            first = self.first(want[0], latest) if self.defs.composite(want[0], latest) else want
            as_code = have[0] in TEXTS - CODES and self.plain(first[1]) == "identifier"
            same = self.same(want[1], have[1]) or (whole and not as_code and (
                want[0] == have[0] or (have[0] in CODES | TEXTS and first[0] in CODES | TEXTS)))
            if whole and have[0] == "CM":
                classes.add("undefined")  # 2.1's composites, whose components are not defined
                same = True
            if whole and not same:
                classes.add("primitive")
            if not same:
                classes.add("meaning")
            if not same or whole:
                lines.append(f"    .{number} {want[1]} ({want[0]})  |  {have[1]} ({have[0]})"
                             + ("" if same else "   <- another name"))
            for field, _, _, sub, _ in rows:
                if field != number or not sub or depth >= 3:
                    continue
                sub_type = sub.split("[")[0]
                if sub_type != have[0] or self.defs.components.get((have[0], version)) != \
                        self.defs.components.get((sub_type, self.defs.latest(sub_type))):
                    found = self.compare(sub, sub_type, have[0], version, depth + 1)
                    if found not in ("", "same"):
                        lines.append(f"    .{number} by {sub}: {have[0]} for {sub_type}: {found}")
        if absent:
            lines.append(f"    absent: {', '.join(f'.{n}' for n in absent)}")
        verdict = ", ".join(sorted(classes)) or "same"
        self.pairs[key][version] = (verdict, tuple(lines))
        return verdict

    def run(self) -> None:
        for map_name, rows in self.maps.items():
            segment = map_name.split("[")[0]
            if not any((segment, v) in self.defs.fields for v in self.defs.versions):
                continue  # a data type map
            for field, piece, kind, sub, cond in rows:
                versions = self.versions_of(cond)
                place = f"{segment}-{field}" + (f".{piece}" if piece > 1 else "")
                latest = self.defs.field(segment, field, LATEST)
                expected = sub.split("[")[0] if sub else latest
                if expected is None:
                    continue
                if piece > 1:
                    found = self.defs.component(expected, piece, LATEST)
                    expected = found[0] if found else expected
                for version in self.defs.versions:
                    actual = self.defs.field(segment, field, version)
                    if actual is not None and piece > 1:
                        found = self.defs.component(actual, piece, version)
                        actual = found[0] if found else None
                    if actual is None or actual in NO_TYPE or expected in NO_TYPE:
                        continue
                    if version not in versions:
                        continue
                    if sub and piece == 1:
                        if actual != expected or self.defs.components.get((actual, version)) != \
                                self.defs.components.get((expected, self.defs.latest(expected))):
                            verdict = self.compare(sub, expected, actual, version)
                            self.places[place][sub, expected][version] = f"{actual}: {verdict}"
                    elif actual != expected and version in versions:
                        # a primitive row reads the first component
                        kind_name = {"s": "string", "c": "code", "u": "uri"}.get(kind, f"kind {kind}")
                        first = self.first(actual, version)
                        want = self.first(expected, self.defs.latest(expected))
                        same = first[0] == want[0] or (kind in "scu" and first[0] not in ("TS", "DTM")) or \
                            self.same(first[1], want[1]) or (want[0] == "DTM" and first[0] in ("DT", "ST") and (
                                first[0] == "DT" or "time" in first[1].lower())) or \
                            (want[0] == "FT" and first[0] == "TX") or (kind in "ip" and first[0] in CODES)
                        text = f"{actual}: {'same' if same else 'primitive'}"
                        if not same:
                            text = f"{actual} (first: {first[1]} {first[0]}): primitive"
                        self.places[place][f"({kind_name})", expected][version] = text

    def versions_of(self, cond: str) -> list[str]:
        """The versions a row's condition lets it hold in (its MSH-12 tests)."""
        versions = list(self.defs.versions)
        for op, values in re.findall(r"\b([EX]):MSH-12(?:\.1)?:(\S+)", cond):
            listed = values.split(",")
            versions = [v for v in versions if (v in listed) == (op == "E")]
        return versions

    def first(self, type_name: str, version: str) -> tuple[str, str]:
        """(type, name) of the first component of a composite, or the primitive."""
        while self.defs.composite(type_name, version):
            found = self.defs.component(type_name, 1, version)
            if found is None:
                break
            type_name = found[0]
            if not self.defs.composite(type_name, version):
                return found
        return type_name, type_name

    def report(self) -> str:
        out = [f"# Places the FHIR rows read whose type differs from {LATEST}'s, by version",
               "# (written by tools/fhir_versions.py; see its docstring for the classes)", "",
               "## Fields: the place, the row's map (the type it expects), each version's type", ""]
        counts: dict[str, int] = defaultdict(int)

        def order(place: str) -> tuple[str, list[int]]:
            return place.split("-")[0], [int(n) for n in re.findall(r"\d+", place.split("-", 1)[1])]

        for place in sorted(self.places, key=order):
            for (map_name, expected), by_version in sorted(self.places[place].items()):
                groups: dict[str, list[str]] = defaultdict(list)
                for version, text in by_version.items():
                    groups[text].append(version)
                for vs in groups.values():
                    vs.sort(key=self.defs.versions.index)
                found = "; ".join(f"{' '.join(vs)} {text}" for text, vs in groups.items())
                out.append(f"{place} {map_name} ({expected}): {found}")
                for text in groups:
                    counts[text.rsplit(": ", 1)[1]] += 1
        out += ["", "## Types: each map's rows over each version's type, the components read that",
                "## differ (\"<- another name\"), or that are a primitive's whole value, and those",
                "## the version's type does not have", ""]
        for (map_name, _, actual), pair in sorted(self.pairs.items()):
            groups2: dict[tuple[str, tuple[str, ...]], list[str]] = defaultdict(list)
            for version, read in pair.items():
                groups2[read].append(version)
            for vs in groups2.values():
                vs.sort(key=self.defs.versions.index)
            for (verdict, lines), versions in groups2.items():
                if verdict == "same" and not lines:
                    continue
                out.append(f"{map_name} over {actual} ({' '.join(versions)}): {verdict}")
                out.extend(lines)
                if verdict != "same":
                    out.append("    verdict: " + VERDICTS.get((map_name, actual), "(none)"))
        out += ["", "# places by class: " + ", ".join(f"{k} {v}" for k, v in sorted(counts.items()))]
        return "\n".join(out) + "\n"


def main() -> None:
    audit = Audit(Definitions(HL7.read_text("ascii")), read_maps(FHIR.read_text("utf-8")))
    audit.run()
    sys.stdout.write(audit.report())


if __name__ == "__main__":
    main()
