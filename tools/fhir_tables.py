"""Writes src/vellomar/definitions/fhir.txt from HL7's V2-to-FHIR mapping CSVs.

Run it with fhir.resources installed (the `test` extra) and the tables'
directory as argument; the output and tools/fhir_report.txt are committed,
so users and CI never need the tables. Every target path is resolved against
the R4B models of fhir.resources: each step is written with whether it is a
list and the leaf with its JSON kind, so the converter knows the shape of
every element without a FHIR model of its own.

Lines of the data file (tab-separated, `%XX` escapes in free text):

    M ADT_A01                                         a message structure, then its rows:
    G seg group label type segmap cond refs           one segment row (refs: `;`-joined)
    S PID[Patient] Patient                            a segment map and the resource it fills
    D CX[Identifier] Identifier                       a data type map and the type it fills
    F field cond path kind dtmap vocab const          one row of the map above
    V AdministrativeSex                               a vocabulary, then its codes:
    C v2code code system display
    Q Observation status category ...                 required elements of a resource
    A Observation status unknown                      the value of a required element left
                                                      unmapped: a value, or members
                                                      "name=value&..." (after "element|"
                                                      for a choice's form)

A path is `step.step...`; a step is `name` or `name*slot` for a list
element (slot 1 when the table gives no index). A kind is s (string-like),
c (code), b (boolean), i (integer), d (decimal), D (date), T (dateTime),
I (instant), t (time), O (an element filled by a data type map) or R (a
reference to the resource a data type map makes).

A condition is a space-separated postfix program: `V:a`/`N:a` valued/not,
`E:a:v,v` equals one of, `X:a:v,v` equals none of, `C:a:op:n` the count of
repetitions, `L:a:op:n` the length, `&`, `|`. An address `a` is
`SEG-field[.component]` or, in a data type map, `.component`.
"""

from __future__ import annotations

import argparse
import csv
import re
import sys
from pathlib import Path

from fhir.resources.R4B import get_fhir_model_class

ROOT = Path(__file__).resolve().parent.parent
OUT = ROOT / "src" / "vellomar" / "definitions" / "fhir.txt"
REPORT = ROOT / "tools" / "fhir_report.txt"

# Required elements whose code the tables may leave unmapped, and the value
# the converter writes then (documented in the README).
DEFAULTS = {
    ("Observation", "status"): "unknown",
    ("Encounter", "status"): "unknown",
    ("Immunization", "status"): "completed",
    ("DiagnosticReport", "status"): "unknown",
    ("ServiceRequest", "status"): "unknown",
    ("ServiceRequest", "intent"): "order",
    ("MedicationRequest", "status"): "unknown",
    ("MedicationRequest", "intent"): "order",
    ("AllergyIntolerance", "clinicalStatus"): None,
    ("Coverage", "status"): "active",
    ("Procedure", "status"): "unknown",
    ("Condition", "subject"): None,
    ("DocumentReference", "status"): "current",
    ("Appointment", "status"): "booked",
    ("Account", "status"): "active",
    ("EpisodeOfCare", "status"): "active",
    ("Specimen", "status"): None,
    # MSH-3 empty: the source is not known (a message bundle needs one)
    ("MessageHeader", "source"): "endpoint=urn:unknown",
    # MSH-9.2 empty (an ACK): the event is not known; "name|..." names the
    # form of a choice element the default takes
    ("MessageHeader", "event"):
        "eventCoding|system=http://terminology.hl7.org/CodeSystem/v3-NullFlavor&code=UNK",
    # no class in the message: the null flavour "unknown"
    ("Encounter", "class"): "system=http://terminology.hl7.org/CodeSystem/v3-NullFlavor&code=UNK",
    ("Provenance", "recorded"): None,
}

# Element names the tables misspell, and the R4 names they mean.
TYPOS = {"valueSampedData": "valueSampledData", "occurenceTiming": "occurrenceTiming",
         "occurenceDateTime": "occurrenceDateTime", "occurencePeriod": "occurrencePeriod"}

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

report: list[str] = []


def esc(text: str) -> str:
    return re.sub(r"[%\t\n\r ,|:;]", lambda m: "%%%02X" % ord(m.group()), text)


def rows(path: Path) -> list[list[str]]:
    with open(path, newline="", encoding="utf-8-sig") as f:
        return [[c.strip() for c in r] + [""] * 20 for r in csv.reader(f)]


# --- FHIR shapes ----------------------------------------------------------

PRIMITIVE = {
    "String": "s", "Code": "c", "Uri": "u", "Url": "u", "Canonical": "u", "Id": "s",
    "Markdown": "s", "Oid": "u", "Uuid": "u", "Base64Binary": "s", "Xhtml": "s",
    "Date": "D", "DateTime": "T", "Instant": "I", "Time": "t", "Decimal": "d",
    "Integer": "i", "PositiveInt": "i", "UnsignedInt": "i", "Integer64": "i",
}


def field_of(type_name: str, name: str):
    try:
        cls = get_fhir_model_class(type_name)
    except Exception:
        return None
    for key, f in cls.model_fields.items():
        if (f.alias or key) == name:
            return f
    return None


def shape(f) -> tuple[bool, str]:
    """(is a list, type name or kind letter) of a model field."""
    text = str(f.annotation)
    is_list = "List[" in text
    m = re.search(r"abc\.(\w+)Type", text)
    if m:
        return is_list, m.group(1)
    m = re.search(r"Annotated\[(?:[\w.]+|typing\.Union\[[\w., ]+\]), (\w+)\(", text)
    if m and m.group(1) in PRIMITIVE:
        return is_list, PRIMITIVE[m.group(1)]
    if "bool" in text:
        return is_list, "b"
    return is_list, "?"


def resolve(type_name: str, path: str) -> tuple[str, str] | str:
    """(encoded steps, final type or kind) of `path` below `type_name`, or the
    reason it does not resolve."""
    steps = []
    current = type_name
    for part in path.split("."):
        m = re.fullmatch(r"([A-Za-z][A-Za-z0-9]*)(?:\[(\d+)\])?", part)
        if not m:
            return f"step {part!r} is not an element name"
        if len(current) == 1:
            return f"{m.group(1)!r}: an extension on a primitive element, which the converter does not write"
        f = field_of(current, m.group(1))
        if f is None:
            return f"{current} has no element {m.group(1)!r}"
        is_list, kind = shape(f)
        if kind == "?":
            return f"{current}.{m.group(1)} has a type the converter does not write"
        slot = int(m.group(2) or 1)
        steps.append(f"{m.group(1)}*{slot}" if is_list else m.group(1))
        current = kind
    return ".".join(steps), current


# --- conditions -------------------------------------------------------------

ADDRESS = r"(?:[A-Z][A-Z0-9]{2}-\d+(?:\.\d+)*|[A-Z]{2,3}\.\d+(?:\.\d+)*)"
OPS = {"GREATER THAN OR EQUALS": "ge", "LESS THAN OR EQUALS": "le", "GREATER THAN": "gt",
       "LESS THAN": "lt", "EQUALS": "eq", "NOT EQUALS": "ne"}


def address(text: str, own: str) -> str:
    if re.fullmatch(r"[A-Z][A-Z0-9]{2}-\d+(?:\.\d+)*", text):
        return text
    # in a data type map: "CWE.1" names a component of the value itself
    if text.split(".")[0] != own:
        raise ValueError(f"address {text} outside the {own} map")
    return "." + text.split(".", 1)[1]


def condition(text: str, own: str) -> str:
    """The postfix program of a condition; ValueError when it is prose."""
    s = " ".join(text.replace("\u201c", '"').replace("\u201d", '"').split())
    s = re.sub(r"^IF\s+", "", s, flags=re.I)
    s = re.sub(r"\bAND IF\b", "AND", s, flags=re.I)
    # "A AND B VALUED" distributes the predicate
    s = re.sub(rf"^({ADDRESS}) AND ({ADDRESS}) (VALUED|NOT VALUED)$", r"\1 \3 AND \2 \3", s)
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
        a = address(tokens[pos], own)
        pos += 1
        for words, code in ((("IS", "NOT", "VALUED"), "N"), (("NOT", "VALUED"), "N"),
                            (("DOES", "NOT", "EXIST"), "N"), (("IS", "VALUED"), "V"),
                            (("VALUED",), "V"), (("VALUE",), "V"), (("EXISTS",), "V")):
            if take(*words):
                return f"{code}:{a}"
        for words, code in ((("NOT", "IN"), "X"), (("IN",), "E"), (("NOT", "EQUALS"), "X"),
                            (("IS", "NOT"), "X"), (("!=",), "X"), (("EQUALS",), "E"),
                            (("IS",), "E"), (("=",), "E")):
            if take(*words):
                return f"{code}:{a}:" + ",".join(esc(v) for v in values())
        for what, code in ((("LST.COUNT",), "C"), (("LENGTH",), "L")):
            if take(*what) or take(*(w.lower() for w in what)):
                for words, op in OPS.items():
                    if take(*words.split()):
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


# --- maps -----------------------------------------------------------------

def map_name(text: str) -> tuple[str, str] | None:
    m = re.fullmatch(r"([A-Z0-9]+)\[([^\]]+)\]", text.strip())
    return (m.group(1), m.group(2)) if m else None


def target_type(name: str) -> str:
    """The FHIR type a map fills: "Identifier-Organization" fills an
    Identifier, "dateTime" a dateTime."""
    base = name.split("-")[0]
    if "." in base:  # a backbone element: "MessageHeader.source"
        resolved = resolve(base.split(".")[0], base.split(".", 1)[1])
        return base if isinstance(resolved, str) else resolved[1]
    if field_of(base[0].upper() + base[1:], "id") is not None or base[0].isupper():
        return base[0].upper() + base[1:] if base[0].isupper() else base
    return base


def same_type(element: str, filled: str) -> bool:
    quantities = {"Quantity", "SimpleQuantity", "Age", "Duration", "Count", "Distance",
                  "MoneyQuantity"}
    return element == filled or (element in quantities and filled in quantities)


def map_rows(kind: str, name: str, path: Path, maps: dict[str, str], out: list[str]) -> None:
    seg, target = map_name(name) or (None, None)
    ttype = target_type(target)
    fhir_type = ttype if field_of(ttype, "id") is not None or field_of(ttype, "extension") is not None else None
    if fhir_type is None:
        kind_letter = {"string": "s", "code": "c", "uri": "s", "dateTime": "T", "boolean": "b",
                       "decimal": "d", "unsignedInt": "i", "positiveInt": "i"}.get(target)
        if kind_letter is None:
            report.append(f"{name}: map to {target}, which is not a FHIR type: whole map")
            return
    out.append(f"{kind}\t{esc(name)}\t{fhir_type or target}")
    own = name.split("[")[0]
    for r in rows(path)[2:]:
        ident, cond_text, narrative, tpath, dtmap, vocab, const = (
            r[1], r[6], r[8], r[9], r[14], r[15], r[16])
        if not ident:
            continue
        where = f"{name} {ident} -> {tpath or '(none)'}"
        m = re.fullmatch(rf"{own}[-.](\d+)", ident)
        if m:
            field = m.group(1)
        elif ident == own:
            field = "0"
        else:
            report.append(f"{where}: identifier {ident!r} is not in this map")
            continue
        if not tpath and not dtmap:
            if const or vocab:
                report.append(f"{where}: no target element")
            continue
        if fhir_type is None:
            # a map to a primitive: its rows carry the value itself
            report.append(f"{where}: map to a primitive; the converter writes the first component")
            continue
        try:
            cond = condition(cond_text, own) if cond_text else ""
        except ValueError as e:
            report.append(f"{where}: condition {cond_text!r} is prose ({e})")
            continue
        if narrative and not cond_text and re.match(r"(?i)if\b", narrative):
            report.append(f"{where}: narrative condition {narrative[:60]!r} not computable; row applied")
        tpath = tpath.rstrip(".").strip()
        # mended: XPN[HumanName] (and a few more) begin their paths with the
        # list index of the element they fill ("[1].family")
        tpath = re.sub(r"^\[\d+\]\.", "", tpath)
        # mended: misspelt element names
        for wrong, right in TYPOS.items():
            tpath = re.sub(rf"\b{wrong}\b", right, tpath)
        # mended: CWE[Quantity] (and others) begin theirs with the type's name
        if fhir_type and tpath.startswith(fhir_type + "."):
            tpath = tpath[len(fhir_type) + 1:]
        ref = None
        m = re.fullmatch(r"([\w.\[\]]*?)\((\w+)(?:\[\d+\])?[).\[].*|([\w.\[\]]*?)\((\w+)\)", tpath)
        if m:
            tpath = m.group(1) if m.group(1) is not None else m.group(3)
            ref = m.group(2) or m.group(4)
        tpath = re.sub(r"(extension(?:\[\d+\])?)\.uri$", r"\1.url", tpath)  # mended: OBX-10
        if tpath == "$this":
            tpath = ""
        dt = map_name(dtmap) if dtmap else None
        dtkey = None
        if dt:
            dtkey = maps.get(dtmap.lower())
            if dtkey is None:
                report.append(f"{where}: data type map {dtmap} has no table")
                continue
        if tpath:
            resolved = resolve(fhir_type, tpath)
            if isinstance(resolved, str):
                report.append(f"{where}: {resolved}")
                continue
            if tpath.endswith(".reference") or tpath == "reference":
                report.append(f"{where}: a reference as text would not resolve in the bundle")
                continue
            steps, leaf = resolved
        else:
            steps, leaf = "", fhir_type
        if dtkey:
            dttarget = target_type(map_name(dtkey)[1])
            is_resource = field_of(dttarget, "meta") is not None
            if is_resource:
                if steps and leaf != "Reference":
                    report.append(f"{where}: {dtkey} makes a resource but {tpath} is no Reference")
                    continue
                kind_letter = "R"
            elif len(leaf) == 1:
                kind_letter = leaf  # a map to a primitive reads the first component
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
        if const and kind_letter in "ORu" and kind_letter != "u":
            report.append(f"{where}: assignment {const!r} to a {leaf}, which takes no value")
            continue
        if const:
            const = const.strip()
            if re.fullmatch(r'"[^"]*"', const):
                const = const[1:-1].strip()
            elif const.lower() in ("true", "false"):
                const = const.lower()
            else:
                report.append(f"{where}: assignment {const!r} is prose")
                continue
        out.append("\t".join(["F", field, cond, steps, kind_letter, esc(dtkey or ""),
                              esc(vocab.split("\n")[0].replace("/", "")), esc(const)]))


def message_rows(path: Path, segmaps: dict[str, str], out: list[str]) -> None:
    table = rows(path)
    structure = table[2][1].split(".")[0].split(":")[0]
    out.append(f"M\t{structure}")
    for r in table[2:]:
        ident, cond_text, narrative, label, segmap, refs = r[1], r[6], r[8], r[9], r[10], r[11]
        if not ident or ident.startswith("/") or not segmap:
            continue
        parts = ident.split(".")
        segment = parts[-1]
        group = parts[-2] if len(parts) > 2 else ""
        where = f"{structure} {ident} -> {segmap}"
        m = re.fullmatch(r"(\w+)(?:\[(\d+)\])?(?:\.[\w-]+)?", label.split("(")[0].strip())
        if not m:
            report.append(f"{where}: primary target {label!r} unreadable")
            continue
        rtype, number = m.group(1), m.group(2) or "1"
        if rtype == "Bundle":
            continue  # the bundle is the converter's own frame
        if segmap.lower() not in segmaps:
            report.append(f"{where}: segment map has no table")
            continue
        try:
            cond = condition(cond_text, segment) if cond_text else ""
        except ValueError as e:
            report.append(f"{where}: condition {cond_text!r} is prose ({e})")
            continue
        if narrative and not cond_text:
            report.append(f"{where}: narrative condition {narrative[:60]!r} not computable; row applied")
        links = []
        for ref in re.split(r"[;\n]", refs):
            ref = ref.strip()
            if not ref:
                continue
            m = re.fullmatch(r"(\w+)(?:\[(\d+)\])?\.([\w.]+?)(?:\.reference)?\s*=\s*(\w+)(?:\[(\d+)\])?(?:\.id)?", ref)
            if not m:
                report.append(f"{where}: reference {ref!r} unreadable")
                continue
            resolved = resolve(m.group(1), m.group(3))
            if isinstance(resolved, str) or resolved[1] != "Reference":
                report.append(f"{where}: reference {ref!r}: "
                              f"{resolved if isinstance(resolved, str) else 'no Reference'}")
                continue
            links.append(f"{m.group(1)}*{m.group(2) or 1}={resolved[0]}={m.group(4)}*{m.group(5) or 1}")
        out.append("\t".join(["G", segment, group, f"{rtype}*{number}", rtype,
                              esc(segmaps[segmap.lower()]), cond, ";".join(links)]))


def vocabulary(name: str, path: Path, out: list[str]) -> None:
    table = rows(path)
    header = [h.split("\n")[0] for h in table[1]]
    codes = [i for i, h in enumerate(header) if h == "Code"]
    systems = [i for i, h in enumerate(header) if h == "Code System"]
    display = header.index("Display") if "Display" in header else None
    if len(codes) < 2:
        report.append(f"vocabulary {name}: header unreadable")
        return
    out.append(f"V\t{esc(name)}")
    for code, fhir_code in EXTRA_CODES.get(name, []):
        out.append("\t".join(["C", code, fhir_code, "http%3A//hl7.org/fhir/observation-status", ""]))
        report.append(f"vocabulary {name}: {code} added as {fhir_code}")
    for r in table[2:]:
        if not r[0] or not r[codes[1]]:
            continue
        out.append("\t".join(["C", esc(r[0]), esc(r[codes[1]]),
                              esc(r[systems[-1]] if len(systems) > 1 else ""),
                              esc(r[display] if display is not None else "")]))


def is_required(f) -> bool:
    extra = f.json_schema_extra or {}
    return bool(f.is_required() or extra.get("element_required")
                or extra.get("one_of_many_required"))


def required_below(cls, path: str, out: list[str], depth: int = 0) -> None:
    """Q lines for `cls` at `path` and for its backbone elements below."""
    need = sorted({(f.json_schema_extra or {}).get("one_of_many") or (f.alias or k)
                   for k, f in cls.model_fields.items() if is_required(f)} - {"resourceType"})
    if need:
        out.append("\t".join(["Q", path, *need]))
    if depth > 4:
        return
    for k, f in cls.model_fields.items():
        m = re.search(r"abc\.(\w+)Type", str(f.annotation))
        if not m or not m.group(1).startswith(path.split(".")[0]):
            continue
        try:
            sub = get_fhir_model_class(m.group(1))
        except Exception:
            continue
        required_below(sub, f"{path}.{f.alias or k}", out, depth + 1)


def required() -> list[str]:
    # Required elements of data types, by the name of the element that holds
    # them wherever it stands (an extension always has its url).
    out = ["Q\t~extension\turl", "Q\t~modifierExtension\turl", "Q\t~note\ttext"]
    for rtype in ("Patient", "Encounter", "Observation", "DiagnosticReport", "ServiceRequest",
                  "Specimen", "Immunization", "AllergyIntolerance", "Condition", "Procedure",
                  "Coverage", "RelatedPerson", "Practitioner", "PractitionerRole", "Organization",
                  "Location", "MessageHeader", "Provenance", "DocumentReference", "Appointment",
                  "MedicationRequest", "Account", "EpisodeOfCare", "Basic", "CareTeam", "Device",
                  "Task", "Medication", "MedicationAdministration", "Communication", "Consent",
                  "MedicationDispense", "MedicationStatement", "Person", "Group", "Substance",
                  "ImagingStudy", "BodyStructure", "NutritionOrder", "Goal", "Flag",
                  "RiskAssessment", "FamilyMemberHistory", "ClinicalImpression", "Composition",
                  "QuestionnaireResponse", "Endpoint", "HealthcareService", "Schedule", "Slot",
                  "SupplyRequest", "DeviceRequest", "VisionPrescription", "Claim",
                  "ChargeItem", "Invoice", "CoverageEligibilityRequest", "AdverseEvent",
                  "ImmunizationRecommendation", "ResearchSubject", "ResearchStudy",
                  "DocumentManifest", "Media", "List", "Binary", "Bundle", "Parameters"):
        try:
            cls = get_fhir_model_class(rtype)
        except Exception:
            continue
        required_below(cls, rtype, out)
        # the elements that tie a resource to the message's Patient and
        # Encounter when no row of the tables does
        links = []
        for name in ("subject", "patient", "encounter"):
            f = field_of(rtype, name)
            allowed = (f.json_schema_extra or {}).get("enum_reference_types", []) if f else []
            if f and ("Patient" in allowed or "Encounter" in allowed) and "Reference" in str(f.annotation):
                if name != "encounter" and any(l.startswith(("subject", "patient")) for l in links):
                    continue
                target = "Patient" if name != "encounter" else "Encounter"
                if target in allowed:
                    links.append(f"{name}*1={target}" if shape(f)[0] else f"{name}={target}")
        if links and rtype not in ("Patient", "Encounter"):
            out.append("\t".join(["P", rtype, *links]))
        for (t, element), value in DEFAULTS.items():
            if t == rtype and value:
                out.append(f"A\t{t}\t{element}\t{esc(value)}")
    return out


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("tables", type=Path, help="the mappings/ directory of the tables")
    args = parser.parse_args()
    base = args.tables
    maps: dict[str, str] = {}
    files: dict[str, tuple[str, Path]] = {}
    for kind, sub, pattern in (("S", "segments", r"FHIR R4_ (.+?) - "),
                               ("D", "datatypes", r"FHIR R4_ (.+?) - ")):
        for path in sorted((base / sub).glob("*.csv")):
            m = re.search(pattern, path.name)
            if not m:
                continue
            # names differ from the references to them in case only
            # (DTM[DateTime] vs DTM[dateTime]): keys are matched lower-cased
            maps[m.group(1).lower()] = m.group(1)
            files[m.group(1)] = (kind, path)
    out = ["# HL7 v2 to FHIR R4 maps, generated by tools/fhir_tables.py from HL7's",
           "# V2-to-FHIR tables (Apache-2.0, see FHIR-NOTICE). Do not edit."]
    for path in sorted((base / "messages").glob("*.csv")):
        message_rows(path, maps, out)
    for name, (kind, path) in files.items():
        map_rows(kind, name, path, maps, out)
    for path in sorted((base / "codesystems").glob("*.csv")):
        m = re.search(r"Concept Map_ (.+?) - ", path.name)
        if m:
            vocabulary(m.group(1).replace("/", ""), path, out)
    out += required()
    OUT.write_text("\n".join(out) + "\n", encoding="utf-8")
    REPORT.write_text(
        "# Rows of HL7's V2-to-FHIR tables the converter does not honour, and why\n"
        "# (written by tools/fhir_tables.py)\n" + "\n".join(report) + "\n", encoding="utf-8")
    print(f"{OUT}: {len(out)} lines; {len(report)} rows reported", file=sys.stderr)


if __name__ == "__main__":
    main()
