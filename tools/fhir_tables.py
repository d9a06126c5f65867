"""Writes src/vellomar/definitions/fhir.txt from HL7's V2-to-FHIR mapping CSVs
(and fhir-resources.txt, the names of FHIR's resource types).

Run it with fhir.resources installed (the `test` extra) and the tables'
directory as argument; the output and tools/fhir_report.txt are committed,
so users and CI never need the tables. src/vellomar/_fhir_tables.py does the
compiling (and describes the lines); this tool adds what fhir.resources
knows: the shape of every FHIR type a row names (from its R4B models, written
as `T` lines, so that a user's own tables compile without fhir.resources),
the required elements and their documented defaults.
"""

from __future__ import annotations

import argparse
import re
import sys
from pathlib import Path

from fhir.resources.R4B import get_fhir_model_class

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "src"))
OUT = ROOT / "src" / "vellomar" / "definitions" / "fhir.txt"
REPORT = ROOT / "tools" / "fhir_report.txt"
RESOURCES = OUT.with_name("fhir-resources.txt")

from vellomar import _fhir_tables as tables  # noqa: E402
from vellomar._fhir_tables import esc, report  # noqa: E402


# Required elements whose code the tables may leave unmapped, and the value
# the converter writes then (documented in the README).
# a primitive's value not known: the data-absent-reason on it ("_start";
# "name|..." names the element the default writes, as a choice's form)
def _absent(form: str = "", member: str = "") -> str:
    """FHIR's data-absent-reason `unknown` as a default's value: on the
    element itself, or on `member` of `form` (a choice's form, a primitive's
    "_element", a list's slot), written "form|..."."""
    value = f"{member}extension*1.url={tables.DATA_ABSENT_REASON}&{member}extension*1.valueCode=unknown"
    return f"{form}|{value}" if form else value


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
    # a participant's status (AIP-12 gives one to AIP's; none is mapped for
    # the Patient of SCH, PID and NTE, or AIG's and AIL's): not yet answered
    ("Appointment", "participant.status"): "needs-action",
    ("Account", "status"): "active",
    ("EpisodeOfCare", "status"): "active",
    ("Specimen", "status"): None,
    # MSH-3 empty: the source is not known (a message bundle needs one)
    ("MessageHeader", "source"): "endpoint=urn:unknown",
    # MSH-6 without MSH-5: a destination of a receiving facility alone, its
    # endpoint not known (FHIR's destination requires one; without it the
    # receiver would go, leaving its Organization referred to by nothing)
    ("MessageHeader", "destination.endpoint"): "urn:unknown",
    # MSH-9.2 empty (an ACK): the event is not known; "name|..." names the
    # form of a choice element the default takes
    ("MessageHeader", "event"):
        "eventCoding|system=http://terminology.hl7.org/CodeSystem/v3-NullFlavor&code=UNK",
    # no class in the message: the null flavour "unknown"
    ("Encounter", "class"): "system=http://terminology.hl7.org/CodeSystem/v3-NullFlavor&code=UNK",
    ("Provenance", "recorded"): None,
    # an entity without its role (an SFT's Device, the tables' "source" when
    # it is the original system's software): its source
    ("Provenance", "entity.role"): "source",
    # (WANTED) an appointment whose time the message does not give: not known
    ("Appointment", "start"): _absent("_start"),
    ("Appointment", "end"): _absent("_end"),
}

# Required elements the message may not send (OBX-3, OBR-4, RXA-5, RXO-1,
# IN1-4, the document of a TXA): where the resource holds something else of the
# message (OBX-5's report text, a performer, a note), FHIR's
# data-absent-reason `unknown` on the element, which keeps the resource;
# where it holds nothing else it goes as before. Not the elements naming
# the patient (Condition.subject, Coverage.beneficiary, ...: a resource of
# no patient is no one's record), nor a choice held by its extension alone
# (Immunization.occurrence[x]: the models take only a value there).
ABSENT = {
    ("Observation", "code"): _absent(),
    ("DiagnosticReport", "code"): _absent(),
    ("Immunization", "vaccineCode"): _absent(),
    ("MedicationRequest", "medication"): _absent("medicationCodeableConcept"),
    # IN1-4 empty (the tables map no other payor field), or PV1-20's Coverage without an IN1
    ("Coverage", "payor"): _absent("payor*1"),
    # a TXA without the document (an MDM^T01's notification, no OBX)
    ("DocumentReference", "content"): _absent("content*1", "attachment."),
}

# Top-level elements a resource holds unless an element of it holds one of
# some codes, which the converter gives their default (DEFAULTS) where the
# message leaves them out: an Appointment has a start and an end unless it
# is proposed, cancelled or waitlisted (FHIR's app-3); an SIU without SCH-11
# and TQ1, or without an SCH, gives none (its status SCH-25's, else booked).
WANTED = {
    ("Appointment", "start"): ("status", ("proposed", "cancelled", "waitlist")),
    ("Appointment", "end"): ("status", ("proposed", "cancelled", "waitlist")),
}

# Element names the tables misspell, and the R4 names they mean.
# --- FHIR shapes ----------------------------------------------------------


PRIMITIVE = {
    "String": "s", "Code": "c", "Uri": "u", "Url": "u", "Canonical": "u", "Id": "k",
    "Markdown": "s", "Oid": "u", "Uuid": "u", "Base64Binary": "B", "Xhtml": "s",
    "Date": "D", "DateTime": "T", "Instant": "I", "Time": "t", "Decimal": "d",
    "Integer": "i", "PositiveInt": "p", "UnsignedInt": "w", "Integer64": "i",
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
    if "Base64Binary()" in text:  # bytes given as text, with their encoder first
        return is_list, PRIMITIVE["Base64Binary"]
    m = re.search(r"Annotated\[(?:[\w.]+|typing\.Union\[[\w., ]+\]), (\w+)\(", text)
    if m and m.group(1) in PRIMITIVE:
        return is_list, PRIMITIVE[m.group(1)]
    if "bool" in text:
        return is_list, "b"
    return is_list, "?"


# FHIR's quantity types: each holds a number, its `value`, measured as its
# other elements say
QUANTITIES = {"Quantity", "SimpleQuantity", "Age", "Duration", "Count", "Distance", "MoneyQuantity"}


class ModelShapes:
    """Shapes from the R4B models; remembers every type asked about."""

    def __init__(self) -> None:
        self.seen: dict[str, dict[str, tuple[bool, str]]] = {}
        # the forms of choice elements (value[x]: valueString, ...), and the
        # names of elements that are no choice's form in some type
        self.choices: dict[str, set[str]] = {}
        self.plain: set[str] = set()

    def elements(self, type_name: str) -> dict[str, tuple[bool, str]] | None:
        if type_name not in self.seen:
            try:
                cls = get_fhir_model_class(type_name)
            except Exception:
                return None
            self.seen[type_name] = {(f.alias or k): shape(f) for k, f in cls.model_fields.items()
                                    if k != "resource_type"}
            for k, f in cls.model_fields.items():
                element = (f.json_schema_extra or {}).get("one_of_many")
                if element:
                    self.choices.setdefault(element, set()).add(f.alias or k)
                elif not (f.alias or k).startswith("_"):
                    self.plain.add(f.alias or k)
        return self.seen[type_name]

    def references(self, type_name: str, name: str) -> list[str] | None:
        """The resource types Reference element `name` of a type refers to."""
        cls = get_fhir_model_class(type_name)
        for k, f in cls.model_fields.items():
            if (f.alias or k) == name:
                return (f.json_schema_extra or {}).get("enum_reference_types")
        return None

    def codes(self, type_name: str, name: str) -> list[str] | None:
        f = field_of(type_name, name)
        return list((f.json_schema_extra or {}).get("enum_values") or []) or None if f else None

    def field(self, type_name: str, name: str) -> tuple[bool, str] | None:
        if len(type_name) == 1:
            return None
        found = (self.elements(type_name) or {}).get(name)
        return None if found is None or found[1] == "?" else found

    def choice_lines(self) -> list[str]:
        """X lines: each choice element and its forms (a name that is a plain
        element in another type is left out: the converter knows names only)."""
        return ["\t".join(["X", element, *sorted(forms - self.plain)])
                for element, forms in sorted(self.choices.items()) if forms - self.plain]

    def annotated(self) -> list[str]:
        """Q lines: an Annotation has its text, whatever element holds it."""
        names = {name for elements in self.seen.values() for name, (_, kind) in elements.items()
                 if kind == "Annotation"} - {"note"}
        return [f"Q\t~{name}\ttext" for name in sorted(names)]

    def measured(self) -> list[str]:
        """Q lines: a quantity holds its value, whatever element holds it, by
        each name that stands for a quantity in every type met (a unit alone
        measures nothing: OBX-6 beside an empty OBX-5 is no valueQuantity)."""
        kinds: dict[str, set[str]] = {}
        for elements in self.seen.values():
            for name, (_, kind) in elements.items():
                kinds.setdefault(name, set()).add(kind)
        return [f"Q\t~{name}\tvalue" for name, found in sorted(kinds.items())
                if found <= QUANTITIES]

    def lines(self) -> list[str]:
        return ["\t".join(["T", name, *(f"{k}:{'*' if is_list else ''}{kind}"
                                        for k, (is_list, kind) in sorted(elements.items())
                                        if kind != "?")])
                for name, elements in sorted(self.seen.items())]


def is_required(f) -> bool:
    extra = f.json_schema_extra or {}
    return bool(f.is_required() or extra.get("element_required")
                or extra.get("one_of_many_required"))


def required_below(cls, path: str, out: list[str], depth: int = 0) -> None:
    """Q lines for `cls` at `path` and for its backbone elements below."""
    need = sorted({(f.json_schema_extra or {}).get("one_of_many") or (f.alias or k)
                   for k, f in cls.model_fields.items() if is_required(f)} - {"resourceType"})
    # (which the models do not check)
    one_of = tables.ONE_OF.get((path.split(".", 1)[0], path.split(".", 1)[1] if "." in path else ""))
    if one_of:
        need.append("|".join(one_of))
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
    # (an extension has a value or extensions of its own, "a|b" either)
    out = ["Q\t~extension\turl\tvalue|extension", "Q\t~modifierExtension\turl\tvalue|extension",
           "Q\t~note\ttext",
           # a ratio has both its numerator and its denominator (FHIR's
           # rat-1, which the models do not check): an SN ratio of one side
           # ("^1^:", or "^x^:^2", whose numerator is no number) is none
           "Q\t~valueRatio\tnumerator\tdenominator",
           # (elements of a type that always hold some of its own, by the
           # names they stand under: HELD)
           *(f"Q\t~{name}\t" + "\t".join(tables.HELD[kind])
             for name, kind in sorted(tables.HELD_NAMES.items()))]
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
        # (not a Device's patient: FHIR's is the one it is affixed to, which
        # no analyser of OBX-18, software of SFT or application of MSH-5 is)
        if links and rtype not in ("Patient", "Encounter", "Device"):
            out.append("\t".join(["P", rtype, *links]))
        for (t, element), value in DEFAULTS.items():
            if t == rtype and value:
                out.append(f"A\t{t}\t{element}\t{esc(value)}")
        for (t, element), value in ABSENT.items():
            if t == rtype:
                out.append(f"U\t{t}\t{element}\t{esc(value)}")
        for (t, element), (unless, codes) in WANTED.items():
            if t == rtype:
                out.append("\t".join(["W", t, element, unless, *map(esc, codes)]))
    return out


def generate(base: Path) -> tuple[str, str]:
    """The data file and the report from the tables under `base` (their
    mappings/ directory)."""
    shapes = ModelShapes()
    tables.SHAPES = shapes
    report.clear()
    tables.forget_maps()
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
        tables.message_rows(path, maps, out)
    tables.unlisted_rows([n for n, (k, _) in files.items() if k == "S"], out)
    for name, kind in tables.ADDED_MAPS.items():
        maps[name.lower()] = name
    tables.plan_list_slots(out, {n: p for n, (k, p) in files.items() if k == "S"})
    for name, (kind, path) in files.items():
        tables.note_members(name, path)
    for name in tables.ADDED_MAPS:
        tables.note_members(name, None)
    for name, (kind, path) in files.items():
        tables.map_rows(kind, name, path, maps, out)
    for name, kind in tables.ADDED_MAPS.items():
        tables.map_rows(kind, name, None, maps, out)
    tables.spare_shared_components(out)
    out += tables.bound_lines()
    out += tables.member_lines()
    for path in sorted((base / "codesystems").glob("*.csv")):
        m = re.search(r"Concept Map_ (.+?) - ", path.name)
        if m:
            tables.vocabulary(tables.vocabulary_name(m.group(1)), path, out)
    tables.spare_assigned_systems(out)
    out += required()
    out += shapes.annotated()
    out += shapes.measured()
    out += shapes.lines()
    out += shapes.choice_lines()
    return ("\n".join(out) + "\n",
            "# Rows of HL7's V2-to-FHIR tables the converter does not honour, and why\n"
            "# (written by tools/fhir_tables.py)\n" + "\n".join(report) + "\n")


def resource_types() -> str:
    """The names of FHIR's resource types, one a line: the R4B models that
    are resources (not the abstract Resource and DomainResource). A bulk run
    removes the files of these names it did not write, and no other."""
    import importlib
    import pkgutil

    import fhir.resources.R4B as r4b
    from fhir.resources.R4B.resource import Resource

    names = set()
    for module in pkgutil.iter_modules(r4b.__path__):
        for name, value in vars(importlib.import_module(f"{r4b.__name__}.{module.name}")).items():
            if (isinstance(value, type) and issubclass(value, Resource)
                    and value.__module__.endswith("." + module.name)
                    and name not in ("Resource", "DomainResource")
                    and value.get_resource_type() == name):
                names.add(name)
    return ("# The names of FHIR R4B's resource types, written by tools/fhir_tables.py from\n"
            "# fhir.resources. Do not edit.\n" + "".join(f"{name}\n" for name in sorted(names)))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("tables", type=Path, help="the mappings/ directory of the tables")
    data, rows_report = generate(parser.parse_args().tables)
    OUT.write_text(data, encoding="utf-8")
    REPORT.write_text(rows_report, encoding="utf-8")
    RESOURCES.write_text(resource_types(), encoding="utf-8")
    print(f"{OUT}: {data.count(chr(10))} lines; {len(report)} rows reported", file=sys.stderr)


if __name__ == "__main__":
    main()
