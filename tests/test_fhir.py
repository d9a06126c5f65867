import base64
import json
import os
import re
import sys
import urllib.parse
import uuid
from datetime import datetime
from pathlib import Path

import pytest
from hypothesis import given, settings, strategies as st

import vellomar
import vellomar.fhir as fhir
from conftest import CORPUS_FILES

R4B = pytest.importorskip("fhir.resources.R4B.bundle")
from pydantic import BaseModel  # noqa: E402  (fhir.resources' own dependency)

MSH = "MSH|^~\\&|APP|GOOD HEALTH HOSPITAL|EHR|GHH|20240110120000-0500||{type}|{id}|P|2.5.1"
PID = ("PID|1||PATID1234^^^GOOD HEALTH HOSPITAL^MR||EVERYMAN^ADAM^A^III||19610615|M|||"
       "2222 HOME STREET^^GREENSBORO^NC^27401^USA^H||^PRN^PH^^1^555^5552004")
PV1 = "PV1|1|I|2000^2012^01||||004777^ATTEND^AARON|||SUR|||||||||VN0001^^^GHH^VN"
OBR = "OBR|1|PL123^EHR|FL456^LAB|24323-8^Metabolic panel^LN|||20240110080000-0500"
PROBLEM = "PRB|AD|20240110|10001^Diabetes^I10|P1"
ORDERING_PRT = "PRT||AD||OP^Ordering Provider^HL70912|5678^JONES^ANN"


def message(kind, *segments, control_id="M1"):
    return "\r".join([MSH.format(type=kind, id=control_id), *segments]) + "\r"


# HL7's own sample MDM^T02 beside the project's copy of HL7's tables, read in place: its rows skip without it
HL7_MDM = Path(__file__).resolve().parents[2] / "shared" / "v2-to-fhir" / "samples" / "messages" / "Message.hl7_MDM_T02.txt"


def hl7_mdm(*row):
    return pytest.param(HL7_MDM.read_bytes() if HL7_MDM.is_file() else b"", *row,
                        marks=pytest.mark.skipif(not HL7_MDM.is_file(), reason="HL7's sample is not beside the project"))


PLACED = message("ADT^A01^ADT_A01", PID, "PV1|1|I|5W^502^2^GHH")
# 2.2's internal location: bed 2 of room 502 on floor (Etage) E3 of nurse unit 5W, Klinik CHIR, Zentrum ZOP;
# 2.3's PL-9, the location's type
PLACED_22 = message("ADT^A01^ADT_A01", "PID|1||ID1", "PV1|1|I|5W^502^2^GHH^^E3^CHIR^ZOP").replace("|2.5.1", "|2.2")
PLACED_23 = message("ADT^A01^ADT_A01", "PID|1||ID1", "PV1|1|I|5W^502^2^GHH^^^^^ICU bed").replace("|2.5.1", "|2.3")
ADT_A01 = message("ADT^A01^ADT_A01", "EVN|A01|20240110120000", PID, PV1,
                  "AL1|1|DA|1605^Penicillin^RXNORM|SV|Hives",
                  "DG1|1||I21.9^Acute myocardial infarction^I10||20240110|A")
ORU_R01 = message("ORU^R01^ORU_R01", PID, PV1, "ORC|RE|PL123^EHR|FL456^LAB", OBR,
                  "OBX|1|NM|2345-7^Glucose^LN||95.5|mg/dL^mg/dL^UCUM|70-110|N|||F",
                  "OBX|2|ST|8251-1^Service comment^LN||see note||||||I")
VXU_V04 = message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-783274^NDA",
                  "RXA|0|1|20240110||08^HepB pediatric^CVX|0.5|mL^mL^UCUM||00^New^NIP001||||||"
                  "Z0860BB|20251231|MSD^Merck^MVX|||CP|A")
CONTACTS = message("ADT^A01^ADT_A01", PID, "NK1|1|ONE^A|SPO||^PRN^PH^^^555^1111111~^NET^Internet^a@b.c",
                   "NK1|2|TWO^B|FTH")

# a second RXA without an ORC of its own opens a second ORDER (RXA is once in a group)
# (and its RXR, once in a group too, is the second order's, not a third)
VACCINES = message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-1^NDA", "RXA|0|1|20240110||08^HepB^CVX" + "|" * 10 + "LOT1",
                   "RXR|C38299^SC^NCIT", "OBX|1|NA|30956-7^Type^LN|||||||F",
                   "RXA|0|1|20240111||20^DTaP^CVX" + "|" * 10 + "LOT2", "RXR|C28161^IM^NCIT")
# two PIDs, a PD1 ahead of the first and a PV1 filling its Patient between them: two Patients
TWO_PATIENTS = message("BAR^P02^BAR_P02", "PD1|||C^^1", "PID|1||ID1" + "|" * 21 + "Y", "PV1|1|I",
                       "PID|2||ID2" + "|" * 22 + "8")
SWAPPED = message("ADT^A17^ADT_A17", "EVN|A17", "PID|1||ID1", "PV1|1|I" + "|" * 17 + "V1", "PID|2||ID2",
                  "PV1|1|I" + "|" * 17 + "V2")
# one NPI two ways (XCN-9 "NPI", and its OID): one Practitioner, the name PV1-17 adds beside PV1-7's; two PIDs
# of one SSN (PID-19) in a message of two patients' results: one Patient; MSH-4's OID as another namespace's
# assigning authority (PD1-3's XON-6): one Organization
ONE_NPI = message("ADT^A01^ADT_A01", PID, "PV1|1|I|||||0148^SMITH^JOHN^^^DR^^^NPI" + "|" * 10 +
                  "0148^SMITH^JOHN^A^^^^^&2.16.840.1.113883.4.6&ISO^L^^^NPI")
ONE_SSN = message("ORU^R01^ORU_R01", "PID|1||ID1^^^GHH^MR||DOE^JANE||19700101|F" + "|" * 11 + "123-45-6789",
                  "OBR|1|P1||1-8^a^LN", "OBX|1|NM|1-8^a^LN||5||||||F",
                  "PID|2||ID2^^^SSA^SS||DOE^JANE^Q||19700101|F|||1 MAIN ST" + "|" * 8 + "123-45-6789",
                  "OBR|2|P2||2-8^b^LN", "OBX|1|NM|2-8^b^LN||6||||||F")
ONE_OID = message("ADT^A01^ADT_A01", PID, "PD1|||GHH CLINIC^^^^^GHH&1.2.840.114350.1.13&ISO^XX^^^99").replace(
    "|GOOD HEALTH HOSPITAL|", "|GOOD HEALTH HOSPITAL^1.2.840.114350.1.13^ISO|", 1)
# a mother's maiden name (PID-6) and a disability (PD1-6): two extensions
EXTENDED = message("ADT^A01^ADT_A01", "PID|1||ID1||DOE^J|SMITH^M", "PD1||||||D^Deaf^L")
INSURED = message("ADT^A01^ADT_A01", PID, PV1 + "|C", "IN1|1|PLAN1|ORG1|Acme Insurance",
                  "IN1|2|PLAN2|ORG2|Other Insurance")
ORDERS = message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", OBR.replace("PL123", "P1"), "ORC|NW|P2",
                 OBR.replace("PL123", "P2").replace("24323-8", "2345-7"))
# XTN's number from its parts (no country code; the local number alone; XTN-12 first)
TELECOMS = message("ADT^A01^ADT_A01", "PID|1||ID1^^^^ZZ||DOE||||||||^PRN^PH^^^555^1234567^89~^PRN^CP^^^^5551111~"
                   "(555)222-3333^WPN^PH^^^555^2223333^^^^^5552223333")

# the applications' endpoints by their universal id's type (a local type: the id itself)
APPS = ("MSH|^~\\&|LAB^1.2.3^ISO|GHH|EHR^x9^L|GHH|20240110||ADT^A01^ADT_A01|M1|P|2.5.1\r",
        "MSH|^~\\&|LAB^lab.org^DNS|GHH|EHR|GHH|20240110||ADT^A01^ADT_A01|M1|P|2.5.1\r")

BORN = message("ADT^A01^ADT_A01", "PID|1||ID1||VAN DER BERG&van der&Berg&&Smit^J||196106151230")

DURATIONS = message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1", "RGS|1",
                    "AIG|1||R2|EQ^Equipment||||202401101300-0500|||1.5|h^hours^ISO+",
                    "AIL|1||R1^^^WARD|||202401101200|||45", "AIP|1||D1^DOC^ANN|||20240110123045|||2|D")
MANY_CONTACTS = message("ADT^A01^ADT_A01", PID, *(f"NK1|{i}|N{i}^A|SPO||^PRN^PH^^^555^1111111~^NET^Internet^a{i}@b.c"
                                                  for i in range(150)))
NUMBERS = message("ADT^A01^ADT_A01", "PID|1||ID1||DOE" + "|" * 14 + "123-45-6789|DL123^NC^20251231")

SOFTWARE = message("ADT^A01^ADT_A01", "SFT|Acme^L|2.1|LabSys|B42", "PID|1||ID1")
# resources starting at an offset from the appointment's start (AIL-7 and -8, AIG-9 without units)
OFFSETS = message("SIU^S12^SIU_S12", "SCH|A1|F1" + "|" * 9 + "^^^20240110120000-0500", "PID|1||ID1", "RGS|1",
                  "AIL|1||R1^^^WARD||||30|min", "AIG|1||R2|EQ^Equipment|||||90")
# TXA-12's unique document number, assigned by a UUID
UNIQUE_DOCUMENT = message("MDM^T02^MDM_T02", "PID|1||ID1", "TXA|1|CN|TX" + "|" * 9 + "D1^EHR^1f0e^UUID",
                          "OBX|1|TX|||x||||||F")


DOCTORS = "PV1|1|I|||||1234^SMITH^JOHN^^^DR" + "|" * 10 + "{}"
ROOMED = message("SIU^S12^SIU_S12", "SCH|A1", "PID|1||ID1", "PV1|1|O|RAD^MRI1^^GHH{}", "RGS|1",
                 "AIL|1||RAD^MRI1^^GHH^^^^^MRI Suite 1")
COVERED = message("ADT^A01^ADT_A01", PID, "PV1|1|I" + "|" * 18 + "SP", "IN1|1|PLAN1|ORG1|Acme" + "|" * 11 + "PPO^Preferred^L")


def observations(*values):
    return message("ORU^R01^ORU_R01", PID, OBR, *(f"OBX|{i}|{t}|1-8^a^LN||{v}||||||F" for i, (t, v) in enumerate(values)))


# OBX-5 by OBX-2: CQ, MO, ID, SN's "<>" and "+" forms, VR, SNs no Quantity or Range says, SN's "=", RP
VALUES = observations(("CQ", "10^mg&milligram"), ("MO", "12.50^USD"), ("ID", "Y"), ("SN", "<>^10"),
                      ("SN", "^2^+|mg^milligram^UCUM"), ("VR", "5^10"), ("SN", "^abc"), ("SN", ">^2^-^5|mg"),
                      ("SN", "=^4"), ("RP", "http://x/a.pdf^APP^AP^PDF"))
# each SPM's OBX (in SPECIMEN before 2.7) about that SPM's Specimen (the first SPM's is OBR's, Specimen#0)
SPECIMENS = message("ORU^R01^ORU_R01", PID, OBR, "SPM|1|SP1", "OBX|1|NM|1-8^a^LN||1||||||F", "SPM|2|SP2",
                    "OBX|2|NM|1-8^a^LN||2||||||F")
EVENT = message("ADT^A01^ADT_A01", "EVN|A01|20240110120000||01|OP1^DOE", "PID|1||ID1")
CARE = message("ADT^A01^ADT_A01", "PID|1||ID1", "PRT|1|AD||RP^Referring^HL70443|D1^DOC^ANN|||ORG1")
CODED = message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^2.16.840.1.113883.6.1||x||||||F",
                "OBX|2|ST|1-8^a^1.2.||x||||||F", "OBX|3|CWE|1-8^a^LN||MG^^ISO+||||||F")
SCHEDULED = message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1", "RGS|1", "AIL|1||R1^^^WARD",
                    "AIP|1||D1^DOC^ANN|||20240110||||||accepted")
# rows filling the resource a reference refers to: OBX-23 to 25 (the performing organization, its
# address, its medical director); ORC-21 to 24 (the ordering facility's name, address and telephone,
# the ordering provider's address); NK1-13 and 30 to 32 (a contact's organization and its contact
# person); IN1-4 and 5 (the payer and its address); OBX-18 (the equipment); MSH-3 with MSH-24
PERFORMED = ("OBX|1|NM|2093-3^Cholesterol^LN||190|mg/dL^^UCUM|||||F|||20240101|||||||||"
             "Acme Lab^L^^^^CLIA&2.16.840.1.113883.4.7&ISO^XX^^^12D0000000|100 Main St^^Springfield^IL^62701")
DIRECTED = message("ORU^R01^ORU_R01", PID, OBR, PERFORMED + "|1234^Director^Dana^^^Dr")
LAB = message("ORU^R01^ORU_R01", PID, OBR, PERFORMED)
FACILITY = message("ORM^O01^ORM_O01", PID, "ORC|NW|P1" + "|" * 7 + "20240110|||1234^DOC^ANN" + "|" * 9
                   + "Acme Clinic|1 Main St^^Town|^^^^^555^1234567|2 Side St^^Town", OBR)
EMPLOYER = message("ADT^A01^ADT_A01", PID, "NK1|1|DOE^JANE" + "|" * 11 + "Acme Corp" + "|" * 17
                   + "SMITH^JO|^PRN^PH^^^555^1234567|9 Elm St^^Town")
PAYER = message("ADT^A01^ADT_A01", PID, "IN1|1|PLAN1|ORG1|Acme Insurance|1 Pay St^^Town")
EQUIPPED = message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||1||||||F|||||||EQ1^LAB")
NETWORKED = (MSH.format(type="ADT^A01^ADT_A01", id="M1").replace("|APP|", "|APP^1.2.3^ISO|")
             + "|" * 12 + "NET1\rPID|1||ID1\r")

DOCUMENT = message("MDM^T02^MDM_T02", PID, "TXA|1|DS|TX|||||20240110110000|1111^AUTHOR^ANN", "OBX|1|TX|||x||||||F")

NOTED = message("SIU^S12^SIU_S12", "SCH|A1|F1", "NTE|1||first note|RE^Remark^HL70364", "NTE|2||second note",
                "PID|1||ID1", "RGS|1", "AIS|1||C^Consult")

# a pharmacy order (ORC, RXO: the drug, its dose and form)
PHARMACY = message("ORM^O01^ORM_O01", PID, "ORC|NW|P1",
                   "RXO|00378-0215^Metformin 500 MG Oral Tablet^NDC|500||mg^mg^UCUM|TAB^Tablet^HL70292")
# a pharmacy order without a table of its own, its route (RXR) after the RXO
ENCODED = message("RDE^O11^RDE_O11", PID, "ORC|NW|P1", "RXO|00378-0215^Metformin 500 MG Oral Tablet^NDC|500",
                  "RXR|PO^Oral^HL70162")
# an order's facility (ORC-21) and its provider in OBR-16 alone (ORC-12 empty)
ORDERED_AT = message("ORM^O01^ORM_O01", PID, "ORC|NW|P1|||||||20240110|5^ENTER^ED" + "|" * 11 + "Acme Clinic",
                     OBR.replace("PL123", "P1") + "|" * 9 + "1234^DOC^ANN")
# an OML's specimen collector (PRT of role SC) before the order's SPM
COLLECTED = message("OML^O21^OML_O21", PID, "ORC|NW|P1|||||||20240110|5^ENTER^ED", OBR,
                    "PRT|1|AD||SC^Specimen Collector^HL70443|9999^COLLECT^CAL", "SPM|1|SP1").replace("|2.5.1", "|2.8")
ORDERED = message("SIU^S12^SIU_S12", "SCH|A1|F1" + "|" * 23 + "Booked|ORD77^EHR", "PID|1||ID1", "RGS|1")


def entries(bundle, resource_type):
    return [e["resource"] for e in bundle["entry"] if e["resource"]["resourceType"] == resource_type]


def references(value):
    if isinstance(value, dict):
        for key, item in value.items():
            yield from [item] if key == "reference" else references(item)
    elif isinstance(value, list):
        for item in value:
            yield from references(item)


def misaligned(value):
    """The lists of primitives' extensions ("_category") that do not line up
    with their values' lists: the same length, a null in one where the other
    has an element."""
    if isinstance(value, dict):
        for key, item in value.items():
            if key.startswith("_") and isinstance(item, list):
                values = value.get(key[1:], [])
                if len(values) != len(item) or any(a is None and b is None for a, b in zip(values, item)):
                    yield key
            yield from misaligned(item)
    elif isinstance(value, list):
        for item in value:
            yield from misaligned(item)


def wrong_references(model, types):
    """The references in R4B model `model` to a resource of a type its
    element does not take (`types`: the resource type of each fullUrl)."""
    for name, field in type(model).model_fields.items():
        value = getattr(model, name, None)
        allowed = (field.json_schema_extra or {}).get("enum_reference_types") or ["Resource"]
        for item in value if isinstance(value, list) else [value]:
            target = types.get(getattr(item, "reference", None))
            if target and "Resource" not in allowed and target not in allowed:
                yield f"{type(model).__name__}.{name} -> {target}"
            elif isinstance(item, BaseModel):
                yield from wrong_references(item, types)


def broken_invariants(model, path=""):
    """The places where R4B model `model` breaks a FHIR invariant its
    validation does not check, as "rule at path"."""
    kind = type(model).__name__
    def has(name):
        return getattr(model, name, None) is not None or getattr(model, name + "__ext", None) is not None
    start, end = getattr(model, "start", None), getattr(model, "end", None)
    values = [n for n in type(model).model_fields if n.startswith("value") and not n.endswith("__ext") and has(n)]
    checks = {
        "att-1": kind == "Attachment" and has("data") and not has("contentType"),
        "per-1": kind == "Period" and start is not None and end is not None and ended_before(start, end),
        "qty-3": kind in ("Quantity", "Age", "Count", "Distance", "Duration") and has("code") and not has("system"),
        "cpt-2": kind == "ContactPoint" and has("value") and not has("system"),
        "ref-1": kind == "Reference" and not (has("reference") or has("identifier") or has("display") or has("extension")),
        "obs-6": kind in ("Observation", "ObservationComponent") and has("dataAbsentReason") and values != [],
        "obs-7": kind == "Observation" and values != [] and any(
            {(c.system, c.code) for c in model.code.coding or []} & {(c.system, c.code) for c in m.code.coding or []}
            for m in model.component or []),
    }
    yield from (f"{rule} at {path or kind}" for rule, broken in checks.items() if broken)
    for name in type(model).model_fields:
        value = getattr(model, name, None)
        for i, item in enumerate(value if isinstance(value, list) else [value]):
            if isinstance(item, BaseModel):
                yield from broken_invariants(item, f"{path or kind}.{name}" + (f".{i}" if isinstance(value, list) else ""))


def ended_before(start, end):
    """Whether a period's end falls before its start: on the digits both hold
    where one is a day or coarser, else as instants."""
    start, end = (v if isinstance(v, str) else v.isoformat() for v in (start, end))
    if (n := min(len(start), len(end))) <= 10:
        return end[:n] < start[:n]
    return datetime.fromisoformat(end) < datetime.fromisoformat(start)


def empty(value, path=""):
    """The paths of the empty objects, lists and strings in `value` (none is
    allowed anywhere in a resource)."""
    if value in ({}, [], ""):
        yield path
    for key, item in value.items() if isinstance(value, dict) else enumerate(value) if isinstance(value, list) else []:
        yield from empty(item, f"{path}.{key}")


def check_bundle(text):
    """The bundle validates with the R4B models, its fullUrls are unique and
    every reference resolves inside it, to a resource of a type its element
    takes."""
    bundle = json.loads(text)
    model = R4B.Bundle.model_validate(bundle)
    urls = [e["fullUrl"] for e in bundle["entry"]]
    assert len(urls) == len(set(urls))
    assert set(references(bundle)) <= set(urls)
    assert list(wrong_references(model, {e["fullUrl"]: e["resource"]["resourceType"] for e in bundle["entry"]})) == []
    assert list(misaligned(bundle)) == []
    assert list(empty(bundle)) == []
    assert list(broken_invariants(model)) == []
    # a transaction's entries identify apart: a server refuses two of one condition on one type (an
    # Organization and a Location may share an identifier)
    conditions = [(e["request"]["url"], e["request"].get("ifNoneExist")) for e in bundle["entry"] if "request" in e]
    assert len(conditions) == len(set(conditions))
    for appointment in entries(bundle, "Appointment"):  # a participant names its actor or its type
        assert [p for p in appointment["participant"] if "actor" not in p and "type" not in p] == []
        # a start and an end, or neither (a primitive holding a data-absent-reason alone is there)
        assert ({"start", "_start"} & appointment.keys() != set()) == ({"end", "_end"} & appointment.keys() != set())
    return bundle


@pytest.mark.parametrize("path", CORPUS_FILES, ids=lambda p: p.name)
def test_corpus_bundles_are_valid(path):
    for m in vellomar.read(path):
        for bundle_type in ("message", "transaction", "collection"):
            bundle = check_bundle(fhir.to_json(m, bundle_type=bundle_type))
            assert bundle["type"] == bundle_type
        assert bundle["entry"][0]["resource"]["resourceType"] == "MessageHeader"


# (message, resourceType, element path, expected value): what HL7's tables map
@pytest.mark.parametrize("text,resource_type,path,expected", [
    (ADT_A01, "Patient", "name.0.family", "EVERYMAN"),
    (ADT_A01, "Patient", "name.0.given", ["ADAM", "A"]),
    (ADT_A01, "Patient", "gender", "male"),
    (ADT_A01, "Patient", "birthDate", "1961-06-15"),
    (ADT_A01, "Patient", "identifier.0.value", "PATID1234"),
    (ADT_A01, "Patient", "identifier.0.type.coding.0.code", "MR"),
    (ADT_A01, "Patient", "address.0.city", "GREENSBORO"),
    (ADT_A01, "Patient", "telecom.0.use", "home"),
    (ADT_A01, "Patient", "telecom.0.value", "+1 555 5552004"),
    (TELECOMS, "Patient", "telecom.0.value", "555 1234567 X89"),
    (TELECOMS, "Patient", "telecom.1.value", "5551111"),
    (TELECOMS, "Patient", "telecom.2.value", "5552223333"),
    # a cellular phone (XTN-3 CP) is a phone (a ContactPoint's system has no "mobile"), a mobile by its use
    (TELECOMS, "Patient", "telecom.1.system", "phone"),
    (TELECOMS.replace("^PRN^CP", "^^CP"), "Patient", "telecom.1.use", "mobile"),
    (TELECOMS.replace("^PRN^CP", "^^cp"), "Patient", "telecom.1.use", "mobile"),  # as the vocabulary finds "cp"
    # an equipment type the vocabulary lacks ("CELL") leaves the number's system not known, as none sent does;
    # one in another case ("ph") is found
    (TELECOMS.replace("^PRN^CP", "^PRN^CELL"), "Patient", "telecom.1._system",
     {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}),
    (TELECOMS.replace("^PRN^CP", "^PRN^ph"), "Patient", "telecom.1.system", "phone"),
    (ADT_A01, "Patient", "identifier.0.type.coding.0.system", "http://terminology.hl7.org/CodeSystem/v2-0203"),
    # ORU's OBR fills the ServiceRequest where an ORC stands in its order (in 2.8's COMMON_ORDER too)
    (ORU_R01, "ServiceRequest", "code.coding.0.code", "24323-8"),
    (ORU_R01.replace("2.5.1", "2.8"), "ServiceRequest", "code.coding.0.code", "24323-8"),
    # a map of the resource's own type to $this fills it: ORC-7's quantity and timing
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1|||||2^^^20240110", OBR), "ServiceRequest", "quantityQuantity.value", 2),
    # extensions of primitives beside them: the birth time, the family name's prefix, OBX-11's own code
    # a time sent without an offset is the sender's local time: MSH-7's offset, else UTC
    (BORN, "Patient", "_birthDate.extension.0.valueDateTime", "1961-06-15T12:30:00-05:00"),
    # a day with its offset holds no time: TXA-6's date extension, not an instant
    (DOCUMENT.replace("TXA|1|DS|TX|||", "TXA|1|DS|TX|||20240110-0500"), "DocumentReference",
     "extension.0.valueDate", "2024-01-10"),
    (BORN.replace("120000-0500", "120000"), "Patient", "_birthDate.extension.0.valueDateTime", "1961-06-15T12:30:00Z"),
    (BORN.replace("120000-0500", "120000+0530"), "Patient", "_birthDate.extension.0.valueDateTime",
     "1961-06-15T12:30:00+05:30"),
    (BORN, "Patient", "name.0._family.extension.0.valueString", "van der"),
    (BORN, "Patient", "name.0._family.extension.2.url", "http://hl7.org/fhir/StructureDefinition/humanname-partner-name"),
    # AL1-2's own code beside the category (a null for the category FHIR's codes lack)
    (message("ADT^A01^ADT_A01", PID, "AL1|1|DA|1605^Penicillin"), "AllergyIntolerance",
     "_category.0.extension.0.valueCodeableConcept.coding.0.code", "DA"),
    (message("ADT^A01^ADT_A01", PID, "AL1|1|MA~DA|1605^Penicillin"), "AllergyIntolerance", "category",
     [None, "medication"]),
    (observations(("NM", "1")).replace("||||||F", "||||||X"), "Observation",
     "_status.extension.0.valueCodeableConcept.coding.0.code", "X"),
    # an XCN of a PractitionerRole or a note's author is a Practitioner (by XCN[Practitioner])
    (VXU_V04.replace("IZ-783274^NDA", "IZ-783274^NDA|||||||||1234^DOC^ANN"), "PractitionerRole",
     "practitioner.reference", "#Practitioner#0"),
    (observations(("NM", "1")) + "NTE|1||a note||9999^NOTER^NED\r", "Observation", "note.0.authorReference.reference",
     "#Practitioner#0"),
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", OBR, "NTE|1||fasting"), "ServiceRequest", "note.0.text", "fasting"),
    (ADT_A01, "Encounter", "diagnosis.0.condition.reference", "#Condition#0"),  # the tables' diagnosis.reference
    # a reference naming a resource by its segment ("Patient[PID]")
    (message("OML^O21^OML_O21", PID, "PV1|1|I", "ORC|NW|O1", OBR), "Encounter", "subject.reference", "#Patient#0"),
    # an OBX-5 that repeats: a component for each value, each with OBX-3's code (and OBX-6's unit)
    (observations(("ST", "first~second")), "Observation", "component.1.valueString", "second"),
    (observations(("NM", "1~2|mg")), "Observation", "component.1.valueQuantity", {"value": 2, "unit": "mg"}),
    (observations(("CWE", "A^a^L~B^b^L")), "Observation", "component.1.code.coding.0.code", "1-8"),
    # a document's text lines (TX), joined, in base64
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX", "OBX|1|TX|||Seen.||||||F", "OBX|2|TX|||Well; caf\u00e9.||||||F"),
     "DocumentReference", "content.0.attachment.data", base64.b64encode("Seen.\nWell; caf\u00e9.".encode()).decode()),
    # a text's lines (TX, FT) keep their indentation, a report's columns; their ends and an ST's are trimmed
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX", "OBX|1|TX|||Site  Result ||||||F", "OBX|2|TX|||  Liver ok~   x||||||F"),
     "DocumentReference", "content.0.attachment.data", base64.b64encode(b"Site  Result\n  Liver ok\n   x").decode()),
    (observations(("FT", "  Site\\.br\\  Liver ")), "Observation", "valueString", "  Site\n  Liver"),
    (observations(("ST", "  Site ")), "Observation", "valueString", "Site"),
    # an OBX-5 of TX that repeats: its lines in the one content, the next OBX's after them, of TXA-3's type
    # (TX: text/plain; "application/text", the tables' type of a TX text, names no MIME type)
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX", "OBX|1|TX|||Seen.~Well.||||||F", "OBX|2|TX|||Home.||||||F"),
     "DocumentReference", "content", [{"attachment": {
         "contentType": "text/plain", "data": base64.b64encode(b"Seen.\nWell.\nHome.").decode()}}]),
    # a document's empty lines (an empty OBX-5, an empty repetition) between its lines stay, its leading and
    # trailing ones do not
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX", "OBX|1|TX|||||||||F", "OBX|2|TX|||Seen.~~Well.||||||F",
             "OBX|3|TX|||||||||F", "OBX|4|TX|||Home.||||||F", "OBX|5|TX|||~||||||F"), "DocumentReference",
     "content.0.attachment.data", base64.b64encode(b"Seen.\n\nWell.\n\nHome.").decode()),
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|FT", "OBX|1|FT|||Seen.||||||F"), "DocumentReference", "content",
     [{"attachment": {"contentType": "text/hl7v2", "data": base64.b64encode(b"Seen.").decode()}}]),
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN", "OBX|1|TX|||Seen.||||||F"), "DocumentReference", "content",
     [{"attachment": {"data": base64.b64encode(b"Seen.").decode(), "contentType": "text/plain"}}]),
    # a text is one content, of TXA-3's type, where TXA-3 and OBX-2 name the two text types apart
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX", "OBX|1|FT|||Seen.||||||F"), "DocumentReference", "content",
     [{"attachment": {"contentType": "text/plain", "data": base64.b64encode(b"Seen.").decode()}}]),
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|FT", "OBX|1|TX|||Seen.||||||F"), "DocumentReference", "content",
     [{"attachment": {"contentType": "text/hl7v2", "data": base64.b64encode(b"Seen.").decode()}}]),
    # an e-mail address beside an equipment type the vocabulary lacks, no number sent, is the value (its
    # system not known)
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^PRN^CELL^a@b.c"), "Patient", "telecom",
     [{"use": "home", "value": "a@b.c", "_system": {"extension": [
         {"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}}]),
    # a text (TX, FT, ST) has no components: a separator in it is the sender's text, the line read whole
    (observations(("TX", "T2^weighted images"), ("FT", "T2^weighted&x~2")), "Observation#1", "component.0.valueString",
     "T2^weighted&x"),
    (observations(("TX", "T2^weighted images")), "Observation", "valueString", "T2^weighted images"),
    (observations(("TX", "BNT^-T^&^")), "Observation", "valueString", "BNT^-T"),  # separators at its end hold nothing
    (observations(("TX", "a&b&")), "Observation", "valueString", "a&b"),  # (sub-components alone: the common road)
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX", "OBX|1|TX|||T2^weighted||||||F"), "DocumentReference",
     "content.0.attachment.data", base64.b64encode(b"T2^weighted").decode()),
    # the software (SFT) a Device, the source Provenance's entity, with the tables' role "source"
    (SOFTWARE, "Provenance", "entity.0.what.reference", "#Device#1"),
    (SOFTWARE, "Provenance", "entity.0.role", "source"),
    (SOFTWARE, "Device#1", "deviceName.0.name", "LabSys"),
    # a segment row's condition on its field's components, named by the field's type ("CWE.3" of SCH-8)
    (SOFTWARE, "Device#1", "manufacturer", "Acme"),
    (message("SIU^S12^SIU_S12", "SCH|A1|F1||||||NORMAL^Normal^HL70277", "PID|1||ID1"), "Appointment",
     "appointmentType.coding.0.code", "Normal"),  # (table 0277's code, sent in capitals)
    # a code naming no coding system is of the field's own table: SCH-7's reason (0276), SCH-8's type (0277)
    (message("SIU^S12^SIU_S12", "SCH|A1|F1|||||ROUTINE^Routine visit|Normal", "PID|1||ID1"), "Appointment",
     "reasonCode.0.coding.0.code", "3780001"),
    (message("SIU^S12^SIU_S12", "SCH|A1|F1|||||ROUTINE^Routine visit|Normal", "PID|1||ID1"), "Appointment",
     "appointmentType.coding.0.system", "http://terminology.hl7.org/CodeSystem/v2-0277"),
    # a 2.5 SIU's timing in TQ1 alone (SCH-11 empty) is the Appointment's start and end; a start of a day
    # alone, which an instant cannot hold, is not known (the day reported), and neither is its end
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", "TQ1|1||||||20240110093000-0500|20240110100000-0500", "PID|1||ID1"),
     "Appointment", "end", "2024-01-10T10:00:00-05:00"),
    (message("SIU^S12^SIU_S12", "SCH|A1|F1" + "|" * 9 + "^^^20240110", "PID|1||ID1"), "Appointment", "_end",
     {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}),
    # one whose time the message does not give at all (no SCH-11 and no TQ1, or no SCH) is booked at a time
    # not known: a start and an end, which FHIR requires of a booked appointment
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1"), "Appointment", "_start",
     {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}),
    (message("SIU^S12^SIU_S12", "PID|1||ID1", "AIP|1||1234^SMITH^ANN"), "Appointment", "_end",
     {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}),
    # a cancelled one needs neither, but holds both or neither (FHIR's app-2): an end sent unreadable, a start
    (message("SIU^S12^SIU_S12", "SCH|A1|F1" + "|" * 9 + "^^^^x" + "|" * 14 + "Cancelled", "PID|1||ID1"),
     "Appointment", "_start",
     {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}),
    (message("ADT^A01^ADT_A01", PID, "IN1|1|PLAN1|ORG1|Acme||||||GRP9^^^^SN"), "Coverage",
     "extension.0.valueIdentifier.value", "GRP9"),
    # an ED's base64 data as it is (its line breaks out)
    (observations(("ED", "^AP^PDF^Base64^JVBER\\X0D\\\\X0A\\i0x")), "Observation", "extension.0.valueAttachment.data",
     "JVBERi0x"),
    (observations(("ED", "^AP^PDF^Base64^AZaz09+/")), "Observation", "extension.0.valueAttachment.data", "AZaz09+/"),
    # an ED's hexadecimal data, in base64 (either case, wrapped); an MDM's document too
    (observations(("ED", "^AP^PDF^Hex^25504446\\X0D\\\\X0A\\2d31")), "Observation", "extension.0.valueAttachment.data",
     base64.b64encode(b"%PDF-1").decode()),
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|ED", "OBX|1|ED|||^AP^PDF^Hex^00ff"), "DocumentReference",
     "content.0.attachment.data", "AP8="),  # (TXA-3 "ED" names no MIME type: no content of its own)
    # a group a version names otherwise (2.5's OBXNTE_SUPPGRP): its opener's group in the tables (OBSERVATION)
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX", "OBX|1|TX|||Seen.||||||F", "NTE|1||a comment"),
     "DocumentReference", "content.1.attachment", {"data": base64.b64encode(b"a comment").decode(),
                                                    "contentType": "text/hl7v2"}),
    # VXU's observation of one value (the tables' AND read as OR), part of its Immunization
    (message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-1", "RXA|0|1|20240110||08^HepB^CVX",
             "OBX|1|CE|64994-7^Funding^LN|1|V02^VFC^HL70064||||||F"), "Observation", "partOf.0.reference",
     "#Immunization#0"),
    # ORC-12's ordering and RXA-10's administering providers: two performers
    (message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-1|||||||||1^ORD^A", "RXA|0|1|20240110||08^HepB^CVX|||||2^ADM^B"),
     "Immunization", "performer.1.function.coding.0.code", "AP"),
    # ... and 2.7's PRT of each (ORC-12 and RXA-10 withdrawn): the function with the actor
    (message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-1", "PRT||UC||OP^Ordering Provider^HL70443|1^ORD^A",
             "PRT||UC||AP^Administering Provider^HL70443|2^ADM^B",
             "RXA|0|1|20240110||08^HepB^CVX").replace("|2.5.1", "|2.7"), "Immunization", "performer.0.function",
     {"coding": [{"code": "OP", "system": "http://terminology.hl7.org/CodeSystem/v2-0443"}]}),
    (message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-1", "PRT||UC||OP^Ordering Provider^HL70443|1^ORD^A",
             "PRT||UC||AP^Administering Provider^HL70443|2^ADM^B",
             "RXA|0|1|20240110||08^HepB^CVX").replace("|2.5.1", "|2.8"), "Immunization", "performer.1.function",
     {"coding": [{"code": "AP", "system": "http://terminology.hl7.org/CodeSystem/v2-0443"}]}),
    # two segments' lists of one resource: PV1-7's attender and PV2-13's referrer, two participants
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "PV1|1|I|||||11^ATT^A", "PV2|||||||||||||22^REF^R"), "Encounter",
     "participant.1.type.0.coding.0.code", "REF"),
    (ADT_A01, "Provenance", "occurredDateTime", "2024-01-10T12:00:00-05:00"),  # MSH-7, the tables' "occurred"
    # urls as FHIR names them: HL7 table 0119 a code system (the tables: its value set); FHIR's with http
    (ORU_R01, "ServiceRequest", "extension.0.extension.0.valueCodeableConcept.coding.0.system",
     "http://terminology.hl7.org/CodeSystem/v2-0119"),
    (observations(("ED", "^AP^PDF^Base64^JVBERi0x")), "Observation", "extension.0.url",
     "http://hl7.org/fhir/5.0/StructureDefinition/extension-Observation.valueAttachment"),
    # PID-19's system without the full stop after it; PID-20's type with its system (the tables' "sytem")
    (NUMBERS, "Patient", "identifier.1.system", "http://hl7.org/fhir/sid/us-ssn"),
    (NUMBERS, "Patient", "identifier.2.type.coding.0.system", "http://terminology.hl7.org/CodeSystem/v2-0203"),
    (APPS[0], "MessageHeader", "source.endpoint", "urn:oid:1.2.3"),
    (APPS[0], "MessageHeader", "destination.0.endpoint", "x9"),
    (APPS[1], "MessageHeader", "source.endpoint", "urn:dns:lab.org"),
    (APPS[1], "MessageHeader", "destination.0.endpoint", "EHR"),
    # CQ-2's unit as an OBX-6 unit is (CWE[Quantity]: its text, else the code alone; the code and system where
    # both are sent)
    (VALUES, "Observation#0", "valueQuantity", {"value": 10, "unit": "milligram"}),
    (observations(("CQ", "10^mg")), "Observation", "valueQuantity", {"value": 10, "unit": "mg"}),
    (observations(("CQ", "10^mg&milligram&UCUM")), "Observation", "valueQuantity",
     {"value": 10, "code": "mg", "unit": "milligram", "system": "http://unitsofmeasure.org"}),
    # (the code of an HL7 table that lacks it, whose system is left out, neither: FHIR's qty-3)
    (message("RDE^O11^RDE_O11", PID, "ORC|NW|RX1", "RXO|RX1^Drug^NDC|1.5||mg^milligram^HL70001"),
     "MedicationRequest", "dosageInstruction.0.doseAndRate.0.doseRange.low", {"value": 1.5, "unit": "milligram"}),
    # ... but in a Duration, whose code is UCUM's, where it names UCUM alone (TQ1-6)
    (message("OML^O21^OML_O21", PID, "ORC|NW|P1", "TQ1|1||Q6H|||10^min&&UCUM", OBR), "ServiceRequest",
     "occurrenceTiming.repeat.boundsDuration", {"value": 10, "code": "min", "unit": "min",
                                                "system": "http://unitsofmeasure.org"}),
    (message("OML^O21^OML_O21", PID, "ORC|NW|P1", "TQ1|1||Q6H|||10^min&minutes&ISO+", OBR), "ServiceRequest",
     "occurrenceTiming.repeat.boundsDuration", {"value": 10, "unit": "minutes"}),
    # XCN-9's assigning authority by its universal id where it has no namespace id (HD[uri]); the OID of a
    # system FHIR names by a URI (the NPI's) by that URI, as XCN-9 "NPI" names it
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|||||1234^DOC^ANN^^^^^^&1.2.840.114350.1.13&ISO"), "Practitioner",
     "identifier.0.system", "urn:oid:1.2.840.114350.1.13"),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|||||1234^DOC^ANN^^^^^^&2.16.840.1.113883.4.6&ISO"), "Practitioner",
     "identifier.0.system", "http://hl7.org/fhir/sid/us-npi"),
    # a namespace id of digits alone, or dotted but no OID, is a local name: "urn:oid:921379" names nothing
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|||||1234^DOC^ANN^^^^^^921379"), "Practitioner",
     "identifier.0.system", "urn:id:921379"),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|||||1234^DOC^ANN^^^^^^3.01.7"), "Practitioner",
     "identifier.0.system", "urn:id:3.01.7"),
    (VALUES, "Observation#1", "valueQuantity", {"value": 12.5, "code": "USD", "system": "urn:iso:std:iso:4217"}),
    (VALUES, "Observation#2", "valueCodeableConcept", {"coding": [{"code": "Y"}]}),
    (VALUES, "Observation#3", "valueString", "<> 10"),
    (VALUES, "Observation#4", "valueString", "2 + mg"),
    (VALUES, "Observation#5", "valueString", "5-10"),
    (VALUES, "Observation#6", "valueString", "abc"),
    (VALUES, "Observation#7", "valueString", "> 2 - 5 mg"),
    (VALUES, "Observation#8", "valueQuantity", {"value": 4}),
    (SPECIMENS, "Observation#0", "focus.0.reference", "#Specimen#0"),
    (SPECIMENS, "Observation#1", "focus.0.reference", "#Specimen#1"),
    # an order's SPM is the Specimen its OBR makes (OBR-7's collection time, SPM-2's identifier), its results'
    (ORU_R01 + "SPM|1|SP1\r", "Specimen", "identifier.0.value", "SP1"),
    (ORU_R01 + "SPM|1|SP1\r", "Specimen", "collection.collectedDateTime", "2024-01-10T08:00:00-05:00"),
    (ORU_R01 + "SPM|1|SP1\r", "Observation#1", "specimen.reference", "#Specimen#0"),
    (ORU_R01 + "SPM|1|SP1\r", "DiagnosticReport", "specimen.0.reference", "#Specimen#0"),
    # SPM-6's additive by its vocabulary (the tables' first)
    (message("ORU^R01^ORU_R01", PID, OBR, "SPM|1|SP1||||F10"), "Specimen#0",
     "container.0.additiveCodeableConcept.coding.0.system", "http://terminology.hl7.org/CodeSystem/v2-0371"),
    # 2.7 names SPECIMEN's observation group as the PATIENT's
    (SPECIMENS.replace("|2.5.1", "|2.7"), "Observation#1", "focus.0.reference", "#Specimen#1"),
    (VALUES, "Observation#9", "extension.0.valueAttachment", {"url": "http://x/a.pdf", "contentType": "application/pdf"}),
    (observations(("CF", "C1^Coded^L")), "Observation", "valueCodeableConcept.coding.0.code", "C1"),  # CWE's rows
    (ORU_R01, "MessageHeader", "eventCoding.display", "ORU^R01^ORU_R01"),
    (ORU_R01, "Provenance", "activity.coding.0.display", "message - ORU^R01^ORU_R01"),
    (EVENT, "Provenance#1", "activity.coding.0.display", "event - :ADT^A01"),
    (EVENT, "Provenance#1", "reason.0.coding.0.code", "PATRQT"),  # EVN-4 "01", not "U"
    # PRT-4 "IS IN" a list of roles: a code compared with a field is its first component's
    (CARE, "CareTeam", "participant.0.role.0.coding.0.code", "RP"),
    # PRT-8's organization: on behalf of whom when PRT-5 or PRT-6 is valued, else the member
    (CARE, "CareTeam", "participant.0.onBehalfOf.reference", "#Organization#2"),
    (CARE.replace("D1^DOC^ANN", ""), "CareTeam", "participant.0.member.reference", "#Organization#2"),
    # "IF PRT-9 VALUED OR IF PRT-14 VALUED": the observation's location
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||5||||||F",
             "PRT|1|AD|||||||WARD^101").replace("|2.5.1", "|2.8"),
     "Observation", "extension.0.valueReference.reference", "#Location#0"),
    (ADT_A01, "Encounter", "class.code", "IMP"),
    (ADT_A01, "Encounter", "identifier.0.value", "VN0001"),
    # PV1-19's type is a visit number's (VN) where CX-5 is empty; a CX-5 sent is coded by table 0203, whose
    # system a code it lacks does not take
    (ADT_A01.replace("VN0001^^^GHH^VN", "V1"), "Encounter", "identifier.0.type.coding",
     [{"code": "VN", "system": "http://terminology.hl7.org/CodeSystem/v2-0203"}]),
    (ADT_A01.replace("VN0001^^^GHH^VN", "V1^^^^visitid"), "Encounter", "identifier.0.type.coding",
     [{"code": "visitid"}]),
    # an assigning authority's universal id type is coded by table 0301 (L, M and N each a code of its own,
    # Local); a type the table lacks is kept without its system
    (message("ADT^A01^ADT_A01", "PID|1||X^^^A&1.2&L"), "Organization#2", "identifier.1.type.coding",
     [{"system": "http://terminology.hl7.org/CodeSystem/v2-0301", "code": "L", "display": "Local"}]),
    (message("ADT^A01^ADT_A01", "PID|1||X^^^A&1.2&XYZ"), "Organization#2", "identifier.1.type.coding",
     [{"code": "XYZ"}]),
    (ADT_A01, "Practitioner", "name.0.family", "ATTEND"),  # of PV1-7, an XCN
    # each NK1 a contact of its own in the Patient of PID, a field's repetitions its telecom
    (CONTACTS, "Patient", "contact.1.name.family", "TWO"),
    (CONTACTS, "Patient", "contact.0.telecom.1.value", "a@b.c"),
    (MANY_CONTACTS, "Patient", "contact.149.telecom.1.value", "a149@b.c"),  # past the engine's walk
    (ADT_A01, "AllergyIntolerance", "code.coding.0.system",
     "http://www.nlm.nih.gov/research/umls/rxnorm"),
    (ADT_A01, "Condition", "code.coding.0.system", "http://hl7.org/fhir/sid/icd-10"),
    (message("ADT^A01^ADT_A01", PID, "DG1|1||I10^Hypertension^I10" + "|" * 18 + "D"), "Condition",
     "verificationStatus.coding.0.code", "entered-in-error"),
    (ORU_R01, "Observation", "code.coding.0.system", "http://loinc.org"),
    # a system no name of table 0396: an OID's urn (one FHIR names by a URI, LOINC's, that URI), and a name
    # only like one an id's
    (CODED, "Observation#0", "code.coding.0.system", "http://loinc.org"),
    (CODED.replace("2.16.840.1.113883.6.1", "2.16.840.1.113883.6.1.9"), "Observation#0", "code.coding.0.system",
     "urn:oid:2.16.840.1.113883.6.1.9"),
    (CODED, "Observation#1", "code.coding.0.system", "urn:id:1.2."),
    # ISO+'s units are no UCUM codes (UCUM's are case-sensitive: "MG" is none)
    (CODED, "Observation#2", "valueCodeableConcept.coding.0.system", "urn:id:ISO+"),
    (ORU_R01, "Observation", "valueQuantity.value", 95.5),
    (ORU_R01, "Observation", "valueQuantity.system", "http://unitsofmeasure.org"),
    (ORU_R01, "Observation", "valueQuantity.code", "mg/dL"),
    (ORU_R01, "Observation", "status", "final"),
    (ORU_R01, "Observation", "interpretation.0.coding.0.code", "N"),
    (ORU_R01, "DiagnosticReport", "code.coding.0.code", "24323-8"),
    (VXU_V04, "Immunization", "vaccineCode.coding.0.code", "08"),
    (VXU_V04, "Immunization", "occurrenceDateTime", "2024-01-10"),
    (VXU_V04, "Immunization", "lotNumber", "Z0860BB"),
    (VXU_V04, "Immunization", "status", "completed"),
    (VACCINES, "Immunization#1", "lotNumber", "LOT2"),
    (VACCINES, "Immunization#1", "route.coding.0.code", "C28161"),
    (VACCINES, "Immunization#0", "route.coding.0.code", "C38299"),
    (VACCINES, "Observation", "partOf.0.reference", "#Immunization#0"),
    # RXA-11 (2.3 to 2.7), a location and its address, as RXA-27 and RXA-28 are (the address the most granular
    # Location's); a bed PV1-3 names too is that Location, its address added
    (message("VXU^V04^VXU_V04", PID, "ORC|RE", "RXA|0|1|20240110||08^HepB^CVX" + "|" * 6 + "^^^GHH CLINIC^^^^^1 MAIN ST"
             "^^TOWN"), "Location", "address", {"line": ["1 MAIN ST"], "city": "TOWN"}),
    (message("VXU^V04^VXU_V04", PID, "PV1|1|I|5W^502^2^GHH", "ORC|RE",
             "RXA|0|1|20240110||08^HepB^CVX" + "|" * 6 + "5W^502^2^GHH^^^^^1 MAIN ST"), "Immunization",
     "location.reference", "#Location#0"),
    (message("VXU^V04^VXU_V04", PID, "PV1|1|I|5W^502^2^GHH", "ORC|RE",
             "RXA|0|1|20240110||08^HepB^CVX" + "|" * 6 + "5W^502^2^GHH^^^^^1 MAIN ST"), "Location#0", "address",
     {"line": ["1 MAIN ST"]}),
    (TWO_PATIENTS, "Patient#0", "multipleBirthBoolean", True),
    (TWO_PATIENTS, "Patient#1", "multipleBirthInteger", 8),
    (EXTENDED, "Patient", "extension.1.valueString", "SMITH"),
    # the first IN1 fills the Coverage of PV1-20, each next one a Coverage of its own
    (INSURED, "Coverage#0", "identifier.0.value", "PLAN1"),
    (INSURED, "Coverage#1", "identifier.0.value", "PLAN2"),
    # after the Patient's participant SCH made, each AIL and AIP one of its own
    (SCHEDULED, "Appointment", "participant.2.status", "accepted"),
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1", "RGS|1", "AIG|1||R2|EQ^Equipment"),
     "Appointment", "participant.1.type.0.coding.0.code", "EQ"),  # AIG's resource type
    # a resource's end, its start plus its duration in the units named (minutes when none)
    (DURATIONS, "Appointment", "participant.1.period.end", "2024-01-10T14:30:00-05:00"),
    (DURATIONS, "Appointment", "participant.2.period.end", "2024-01-10T12:45:00-05:00"),
    (DURATIONS, "Appointment", "participant.3.period.end", "2024-01-12T12:30:45-05:00"),
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1", "RGS|1", "AIP|1|||D^Doctor"),
     "Appointment", "participant.1.type.0.coding.0.code", "D"),  # AIP's resource type
    (ADT_A01, "Patient", "address.0.line", ["2222 HOME STREET"]),  # XAD-1, an SAD
    # ORC-9 for a new order (its condition names ORC-1 as ORC.1); MSH-7 (R4's occurredDateTime)
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1" + "|" * 7 + "20240110", OBR), "ServiceRequest", "authoredOn",
     "2024-01-10"),
    (ADT_A01, "Provenance", "occurredDateTime", "2024-01-10T12:00:00-05:00"),
    # TQ1-13 in the Timing's repeat, its unit CQ-2's code (a map to a primitive reading CQ.2)
    (message("OML^O21^OML_O21", PID, "ORC|NW|O1", "TQ1|1" + "|" * 12 + "30^min&minute&UCUM", OBR), "ServiceRequest",
     "occurrenceTiming.repeat", {"duration": 30, "durationUnit": "min"}),
    # ORC-7's TQ.3 ("D10", a duration as a letter and a number) is reported, its start the Timing's bounds
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1|||||1^^D10^20240110", OBR), "ServiceRequest",
     "occurrenceTiming.repeat", {"boundsPeriod": {"start": "2024-01-10"}}),
    # ORM's DG1 is its order's reason (the tables name the reference in the row's target alone)
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", OBR, "DG1|1||R53.83^Fatigue^I10"), "ServiceRequest",
     "reasonReference.0.reference", "#Condition#0"),
    # TQ1-3's repeat pattern (RPT-1, a CWE without a map in the tables) and TQ1-11's text (a note's)
    (message("OML^O21^OML_O21", PID, "ORC|NW|O1", "TQ1|1||Q6H&Every 6 hours&HL70335" + "|" * 8 + "with food", OBR),
     "ServiceRequest", "occurrenceTiming.code.coding.0", {"code": "Q6H", "display": "Every 6 hours",
                                                        "system": "http://terminology.hl7.org/CodeSystem/v2-0335"}),
    (message("OML^O21^OML_O21", PID, "ORC|NW|O1", "TQ1|1" + "|" * 10 + "with food", OBR), "ServiceRequest",
     "note.0.text", "with food"),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|^502"), "Location", "physicalType.coding.0.code", "ro"),  # a room alone
    # a PL's Locations from the most granular: bed 2 part of room 502 of point of care 5W of facility GHH, the
    # stay's location the bed; a point of care alone is the stay's location
    (PLACED, "Encounter", "location.0.location.reference", "#Location#0"),
    (PLACED, "Location#0", "identifier", [{"value": "2"}]),
    (PLACED, "Location#0", "physicalType.coding.0.code", "bd"),
    (PLACED, "Location#0", "partOf.reference", "#Location#1"),
    (PLACED, "Location#1", "identifier", [{"value": "502"}]),
    (PLACED, "Location#1", "physicalType.coding.0.code", "ro"),
    (PLACED, "Location#1", "partOf.reference", "#Location#2"),
    (PLACED, "Location#2", "identifier", [{"value": "5W"}]),
    (PLACED, "Location#2", "partOf.reference", "#Location#3"),
    (PLACED, "Location#3", "identifier", [{"value": "GHH"}]),
    (PLACED, "Location#3", "physicalType.coding.0.code", "si"),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|5W"), "Encounter", "location.0.location.reference", "#Location#0"),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|5W"), "Location", "identifier", [{"value": "5W"}]),
    # PL-11's assigning authority assigns each Location's identifier
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|5W^502" + "^" * 9 + "GHH"), "Location#1", "identifier.0.assigner.reference",
     "#Organization#1"),  # MSH-6's GHH
    # an A17's two blocks (PID, PV1 of each patient): each PID one Patient, each PV1 one Encounter, of its patient
    (SWAPPED, "Patient#1", "identifier.0.value", "ID2"),
    (SWAPPED, "Encounter#1", "subject.reference", "#Patient#1"),
    # an A11 (its structure ADT_A09) by the tables' ADT_A11: MSH-9's event gives the Encounter's status
    (message("ADT^A11^ADT_A09", PID, PV1), "Encounter", "status", "cancelled"),
    # the referrer (PV1-8), the discharge location (PV1-37) and the pending one (PV1-42), whose rows hold a stray value
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I" + "|" * 6 + "22^REF^R"), "Encounter", "participant.0.individual.reference",
     "#Practitioner#0"),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I" + "|" * 35 + "HOME"), "Encounter", "hospitalization.destination.reference",
     "#Location#0"),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I" + "|" * 40 + "W9"), "Encounter", "location.0.status", "reserved"),
    # values the tables write into the target's column: a discharged stay (PV1-45) is finished; PV1-52's type
    (message("ADT^A03^ADT_A03", PID, "PV1|1|I" + "|" * 43 + "20240110"), "Encounter", "status", "finished"),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I" + "|" * 50 + "33^OTHER^O"), "Encounter", "participant.0.type",
     [{"coding": [{"code": "PART", "system": "http://terminology.hl7.org/CodeSystem/v3-ParticipationType"}],
       "text": "Participation"}]),
    (VACCINES.replace("ORC|RE||", "ORC|RE|P1|"), "Immunization", "identifier.0.type.coding", [{"code": "PLAC",
                                                             "system": "http://terminology.hl7.org/CodeSystem/v2-0203"}]),
    # PR1-8's anaesthetist: a SNOMED code of its function with its system (the tables' "coding.uri")
    (message("ADT^A01^ADT_A01", PID, "PR1|1||99213^Visit^C4||20240110|||55^GAS^GUS"), "Procedure",
     "performer.0.function.coding", [{"code": "88189002", "system": "http://snomed.info/sct"}]),
    # PID-21's mother: the relationship the tables give in prose ("MTH" as default)
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE" + "|" * 16 + "M77^^^GHH^MR"), "RelatedPerson", "relationship",
     [{"coding": [{"code": "MTH", "system": "http://terminology.hl7.org/CodeSystem/v3-RoleCode"}]}]),
    # PID-21's repetitions name one mother: one RelatedPerson of both identifiers
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE" + "|" * 16 + "M77^^^GHH^MR~4455^^^STATE^PI"), "RelatedPerson",
     "identifier.1.value", "4455"),
    # an SN range or ratio keeps its text beside the values (the tables' originalText of SN's maps)
    (observations(("SN", "^1^:^2")), "Observation", "valueRatio",
     {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/originalText", "valueString": "1 : 2"}],
      "numerator": {"value": 1}, "denominator": {"value": 2}}),
    # PD1-7's living will: an Observation of the LOINC code its map's constants give (rows without an identifier)
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE", "PD1|||||||Y^Yes^HL70315"), "Observation", "code.coding",
     [{"system": "http://loinc.org", "code": "75320-2"}]),
    # SCH-20's participant type, whose code and system the tables write without quotes
    (message("SIU^S12^SIU_S12", "SCH|A1|F1" + "|" * 18 + "22^ENTER^E", "PID|1||ID1", "RGS|1"), "Appointment",
     "participant.1.type.0.coding", [{"code": "enterer",
                                      "system": "http://terminology.hl7.org/CodeSystem/provenance-participant-type"}]),
    # PV1-20's financial class is its code (FC-1), not also FC-2's date as the code's display
    (message("BAR^P01^BAR_P01", PID, "PV1|1|O" + "|" * 18 + "SP&Self pay&HL70064^20240101", "IN1|1|PLAN1|INS1|ACME"),
     "Coverage", "type.coding", [{"code": "SP", "display": "Self pay",
                                  "system": "http://terminology.hl7.org/CodeSystem/v2-0064"}]),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|TS|1-8^a^LN||20240110123045-0500^S||||||F"),
     "Observation", "valueDateTime", "2024-01-10T12:30:45-05:00"),  # TS, DTM's name before 2.6
    # each ORC's number, though the OBR of the order before it has one; ORM's OBR fills its order
    (ORDERS, "ServiceRequest#1", "identifier.0.value", "P2"),
    (ORDERS, "ServiceRequest#1", "code.coding.0.code", "2345-7"),
    # a second OBR without its own ORC (which ORDER requires): an order of its own
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", OBR, OBR.replace("24323-8", "2345-7")),
     "ServiceRequest#1", "code.coding.0.code", "2345-7"),
    # ... after the first's NTE too (ORDER_DETAIL holds its OBR once, in the choice of OBR, RXO, ...)
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", OBR, "NTE|1||fasting", OBR.replace("24323-8", "2345-7")),
     "ServiceRequest#1", "code.coding.0.code", "2345-7"),
    # an OML's next order, which the structure places in the first's PRIOR_RESULT (ORDER_PRIOR opens with an
    # optional ORC), is an order of its own without an ORC (its SPM's Specimen its own), and with one has
    # its ORC's number, which the first order's OBR-2 does not keep out
    (message("OML^O21^OML_O21", PID, "ORC|NW|P1", OBR.replace("PL123", "P1"), "SPM|1|S1||SER^Serum^L",
             OBR.replace("PL123", "P2").replace("24323-8", "2345-7"), "SPM|1|S2||BLD^Blood^L"),
     "ServiceRequest#1", "code.coding.0.code", "2345-7"),
    (message("OML^O21^OML_O21", PID, "ORC|NW|P1", OBR.replace("PL123", "P1"), "ORC|NW|P2",
             OBR.replace("PL123", "P2")), "ServiceRequest#1", "identifier.0.value", "P2"),
    # one facility, one Organization: PID-3's assigning authority in sub-components is MSH-4's sender
    (message("ORU^R01^ORU_R01", "PID|1||ID1^^^GHH&1.2.3&ISO^MR", OBR).replace("GOOD HEALTH HOSPITAL", "GHH^1.2.3^ISO"),
     "Patient", "identifier.0.assigner.reference", "#Organization#0"),
    # a site's own code of a vocabulary's spelling (SPM-4's BLD of its own system) is no HL7 table's code
    *[(message("ORU^R01^ORU_R01", PID, OBR, "SPM|1|S1||BLD^Blood^" + system), "Specimen", "type.coding.0",
       expected) for system, expected in [
        ("99LAB", {"code": "BLD", "display": "Blood", "system": "urn:id:99LAB"}),
        ("HL70487", {"system": "http://terminology.hl7.org/CodeSystem/v2-0487", "code": "BLD",
                     "display": "Whole blood"})]],
    # an ORU's order without an ORC, then one with: the second ORC's request is its own order's basis, not
    # the report of the order before
    *[(message("ORU^R01^ORU_R01", PID, "OBR|1|PL1|FL1|2345-7^Glucose^LN", "ORC|RE|PL2|FL2",
               "OBR|2|PL2|FL2|2951-2^Sodium^LN").replace("|2.5.1", version), "DiagnosticReport#1",
       "basedOn.0.reference", "#ServiceRequest#0") for version in ("|2.3", "|2.5.1", "|2.8")],
    # and its OBR's specimen fields fill its own Specimen, not the one the first order's SPM made
    *[(message("OML^O21^OML_O21", PID, "ORC|NW|P1", "OBR|1|P1||2345-7^Glucose^LN", "SPM|1|S1||SER^Serum^L",
               "ORC|NW|P2", "OBR|1|P2||2345-7^Glucose^LN|||20240110080000-0500", "SPM|1|S2||BLD^Blood^L"),
       resource_type, path, expected)
      for resource_type, path, expected in [("Specimen#1", "collection.collectedDateTime", "2024-01-10T08:00:00-05:00"),
                                            ("ServiceRequest#1", "specimen.0.reference", "#Specimen#1")]],
    # its placer number, which the first order's ORC-2 (another order's) does not keep out
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", OBR.replace("PL123", "P1"), OBR.replace("PL123", "P2")),
     "ServiceRequest#1", "identifier.0.value", "P2"),
    # the Patient is the beneficiary of IN1's Coverage in every table that has IN1 (ADT_A05's,
    # ADT_A06's and OML_O21's name none)
    *[(message(kind, PID, "PV1|1|I", "IN1|1|PLAN1|IC1^^^^XX|ACME"), "Coverage", "beneficiary.reference",
       "#Patient#0") for kind in ("ADT^A31^ADT_A05", "ADT^A06^ADT_A06", "OML^O21^OML_O21")],
    # formatted text's commands as plain text: a line ended once, skipped lines, spaces; highlighting,
    # indents and character sets moving nothing (the value itself keeps them)
    (observations(("FT", "A:\\.br\\\\.sp\\B \\H\\b\\N\\\\.sp 2\\C\\.sk 2\\\\.in +4\\c\\C2842\\"
                         "\\.ce\\D \\Z1\\")), "Observation", "valueString", "A:\n\nB b\n\n\nC  c\nD \\Z1\\"),
    # ... a centred line at the text's start or after an ended line too
    (observations(("FT", "\\.ce\\TITLE\\.br\\\\.ce\\Sub")), "Observation", "valueString", "TITLE\nSub"),
    # NCIT is the NCI Thesaurus (RXR-1's C-codes)
    (VACCINES, "Immunization", "route.coding.0.system", "http://ncithesaurus-stage.nci.nih.gov"),
    # the language vocabularies' codes are BCP 47's, found in any case
    ("MSH|^~\\&|LAB|GHH|EHR|GHH|20240110||ADT^A01^ADT_A01|M1|P|2.5.1|||||||EN\rPID|1||ID1\r",
     "MessageHeader", "language", "en"),
    (message("ADT^A01^ADT_A01", "PID|1||ID1" + "|" * 12 + "en-US"), "Patient",
     "communication.0.language.coding.0", {"system": "urn:ietf:bcp:47", "code": "en-US",
                                            "display": "English (United States)"}),
    # each ORC's Provenance is its own (ORM_O01's table numbers it as MSH's transformation)
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1|||||||20240110|||D1^DOC", OBR,
             "ORC|NW|P2|||||||20240110|||D1^DOC", OBR.replace("PL123", "PL124")),
     "Provenance#2", "target.0.reference", "#ServiceRequest#1"),
    # an NTE after the OBR is the order's (no row maps it), not a note of the result after it
    (message("ORU^R01^ORU_R01", PID, OBR, "NTE|1||order note", "OBX|1|NM|2345-7^Glucose^LN||95||||||F",
             "NTE|1||result note"), "Observation", "note", [{"text": "result note"}]),
    # an assigning authority's universal id under urn:ietf:rfc:3986 is a URI: an OID's urn (CX-4, XON-6, EI's
    # EI-2 to EI-4, the assigner of TXA-12's)
    (message("ADT^A01^ADT_A01", "PID|1||ID1^^^GHH&2.16.840.1.113883.3.1&ISO^MR"), "Organization#2", "identifier.1",
     {"value": "urn:oid:2.16.840.1.113883.3.1", "system": "urn:ietf:rfc:3986", "type": {"coding": [
         {"code": "ISO", "display": "ISO Object Identifier", "system": "http://terminology.hl7.org/CodeSystem/v2-0301"}]}}),
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "PD1|||Acme Lab^L^^^^CLIA&2.16.840.1.113883.4.7&ISO^XX^^^12D0000000"),
     "Organization#3", "identifier.1.value", "urn:oid:2.16.840.1.113883.4.7"),
    (UNIQUE_DOCUMENT, "DocumentReference", "masterIdentifier.assigner.reference", "#Organization#2"),
    (UNIQUE_DOCUMENT, "Organization#2", "identifier", [{"value": "EHR"}, {"value": "urn:uuid:1f0e", "system": "urn:ietf:rfc:3986",
        "type": {"coding": [{"code": "UUID", "display": "Universal Unique Identifier",
                             "system": "http://terminology.hl7.org/CodeSystem/v2-0301"}]}}]),
    # the insured is the patient (IN1-17 SEL, the tables' 'patient'): the Coverage's subscriber is the Patient
    (message("ADT^A01^ADT_A01", PID, PV1, "IN1|1|PLAN1|ORG1|Acme" + "|" * 12 + "EVERYMAN^ADAM|SEL"), "Coverage",
     "subscriber.reference", "#Patient#0"),
    # a reference to a resource of the row's own type is to the row's; one from a resource its group does not make is
    # from its group's (VXU's observation's PRT: Device[2], PractitionerRole[4] of Observation[2]; ORU's QST OBX)
    (message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-1", "RXA|0|1|20240110||08^HepB^CVX",
             "OBX|1|CE|64994-7^Funding^LN|1|V02^VFC^HL70064||||||F", "PRT|1|AD||RO^Observer^HL70443|5678^DOC^ANN|||||UDI1"
             ).replace("|2.5.1", "|2.8"), "Observation", "performer.0.reference", "#PractitionerRole#0"),
    (message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-1", "RXA|0|1|20240110||08^HepB^CVX",
             "OBX|1|CE|64994-7^Funding^LN|1|V02^VFC^HL70064||||||F", "PRT|1|AD||RO^Observer^HL70443||||||UDI1"
             ).replace("|2.5.1", "|2.8"), "Observation", "device.reference", "#Device#1"),
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1", OBR, "OBX|1|ST|8251-1^Fasting^LN||Y||||||F" + "|" * 18 + "QST"
             ).replace("|2.5.1", "|2.8"), "ServiceRequest", "supportingInfo.0.reference", "#Observation#0"),
    # VXU's ORC links its Immunization to the Patient (the table's "Immunzation"), where PID stands after it too
    (message("VXU^V04^VXU_V04", "ORC|RE||IZ-1", "RXA|0|1|20240110||08^HepB^CVX", "PID|1||ID1"), "Immunization",
     "patient.reference", "#Patient#0"),
    # urls the tables write in their comments' column: OBX-19's analysis time, OBR-17's callback telephone
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||1||||||F||||||||20240110120000-0500"), "Observation",
     "extension", [{"url": "http://hl7.org/fhir/StructureDefinition/observation-analysis-date-time",
                    "valueDateTime": "2024-01-10T12:00:00-05:00"}]),
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", OBR.replace("PL123", "P1") + "|" * 10 + "^WPN^PH^^^555^5551234"),
     "ServiceRequest", "requester.extension.0.url",
     "http://hl7.org/fhir/StructureDefinition/servicerequest-order-callback-phone-number"),
    # every result of an order refers to its OBR's Specimen (a comment of the tables)
    (ORU_R01, "Observation#1", "specimen.reference", "#Specimen#0"),
    # a resource's start as an offset from the appointment's (SCH-11's), in its units (minutes when none)
    (OFFSETS, "Appointment", "participant.1.period.start", "2024-01-10T12:30:00-05:00"),
    (OFFSETS, "Appointment", "participant.2.period.start", "2024-01-10T13:30:00-05:00"),
    # NK1-7's contact role (table 0131) by its vocabulary, which NK1[Patient] names "Contact Role"
    (message("ADT^A01^ADT_A01", PID, "NK1|1|DOE^JANE|SPO||||C"), "Patient", "contact.0.relationship.1.coding",
     [{"system": "http://terminology.hl7.org/CodeSystem/v2-0131", "code": "C", "display": "Emergency Contact"}]),
    # A17's second PV1 is the second patient's (its VIP indicator, PV1-16), not the first's
    (message("ADT^A17^ADT_A17", "EVN|A17", "PID|1||ID1", "PV1|1|I", "PID|2||ID2", "PV1|1|I" + "|" * 14 + "VIP"),
     "Patient#1", "extension.0.url", "http://hl7.org/fhir/StructureDefinition/patient-importance"),
    # TXA's Provenance is its own (not the message source's), of TXA-8's time (rows the table names "TXA")
    (DOCUMENT, "Provenance#1", "target.0.reference", "#DocumentReference#0"),
    (DOCUMENT, "Provenance#1", "recorded", "2024-01-10T11:00:00-05:00"),
    # a patient record's last update (PID-33, PID-34) is a Provenance of the Patient, recorded at the
    # conversion's time, which is not written (not known: the bundle is the same in every run)
    (message("ADT^A08^ADT_A01", "EVN|A08", "PID|1||ID1||DOE^J" + "|" * 28 + "20240109120000-0500|GHH"), "Provenance#1",
     "target.0.reference", "#Patient#0"),
    # 2.4's MDM_T02 (TXA OBX+) has no place for an NTE: after an OBX it is the document's, as from 2.5 on
    (DOCUMENT.replace("2.5.1", "2.4") + "NTE|1||by the resident\r", "DocumentReference", "content.1.attachment.data",
     base64.b64encode(b"by the resident").decode()),
    # each NTE of an SIU is a note of its own; its type (NTE-4) the note's, not an extension without a url
    (NOTED, "Appointment", "extension.1.valueAnnotation.text", "second note"),
    (NOTED, "Appointment", "extension.0.valueAnnotation.extension.0.valueCodeableConcept.coding.0.code", "RE"),
    # SCH-26's placer order number: the ServiceRequest the Appointment is based on
    (ORDERED, "Appointment", "basedOn.0.reference", "#ServiceRequest#0"),
    (ORDERED, "ServiceRequest", "identifier.0.value", "ORD77"),
    # an ADT's IAM is an AllergyIntolerance of its own, as an AL1 (the tables list IAM without a map)
    (message("ADT^A01^ADT_A01", PID, PV1, "AL1|1|FA|^Peanut", "IAM|1|DA|1605^Penicillin^RXNORM|SV"),
     "AllergyIntolerance#1", "code.coding.0.code", "1605"),
    # an EVN without its operator (EVN-5): the event's agent is the sending facility (MSH-4), not EVN-4's reason
    (message("ADT^A01^ADT_A01", "EVN|A01|20240110120000||01", PID), "Provenance#1", "agent.0.who.reference",
     "#Organization#0"),
    # OBX-25 valued: the performer is one PractitionerRole, its organization OBX-23's (with OBX-24's
    # address), its practitioner OBX-25's, its code MDIR; else the Organization, with the address
    (DIRECTED, "Observation", "performer.0.reference", "#PractitionerRole#0"),
    (DIRECTED, "PractitionerRole", "organization.reference", "#Organization#2"),
    (DIRECTED, "PractitionerRole", "practitioner.reference", "#Practitioner#0"),
    (DIRECTED, "PractitionerRole", "code.0.coding",
     [{"code": "MDIR", "system": "http://terminology.hl7.org/CodeSystem/v2-0912"}]),
    (DIRECTED, "Organization#2", "name", "Acme Lab"),
    (DIRECTED, "Organization#2", "address",
     [{"line": ["100 Main St"], "city": "Springfield", "state": "IL", "postalCode": "62701"}]),
    (DIRECTED, "Practitioner", "name", [{"family": "Director", "given": ["Dana"], "prefix": ["Dr"]}]),
    (LAB, "Observation", "performer.0.reference", "#Organization#2"),
    (LAB, "Organization#2", "address.0.line", ["100 Main St"]),
    (FACILITY, "ServiceRequest", "requester.reference", "#PractitionerRole#0"),
    (FACILITY, "PractitionerRole", "organization.reference", "#Organization#2"),
    (FACILITY, "PractitionerRole", "practitioner.reference", "#Practitioner#0"),
    (FACILITY, "Organization#2", "address.0.line", ["1 Main St"]),
    (FACILITY, "Organization#2", "telecom.0.value", "555 1234567"),
    (FACILITY, "Practitioner", "address.0.line", ["2 Side St"]),
    (FACILITY, "Location", "address.line", ["1 Main St"]),  # ORC[Provenance]'s location
    (EMPLOYER, "Patient", "contact.0.organization.reference", "#Organization#2"),
    (EMPLOYER, "Organization#2", "contact.0.name", {"family": "SMITH", "given": ["JO"]}),
    (EMPLOYER, "Organization#2", "contact.0.address.line", ["9 Elm St"]),
    (PAYER, "Organization#2", "address.0.line", ["1 Pay St"]),
    (EQUIPPED, "Observation", "device.reference", "#Device#1"),
    (EQUIPPED, "Device#1", "identifier.0.value", "EQ1"),
    (NETWORKED, "Provenance", "entity.0.what.reference", "#Device#1"),
    (NETWORKED, "Device#1", "identifier.0.value", "APP"),
    # PRT-8's Organization without PRT-7's type (which a row before fills into it): one per identity,
    # as a reference's own row makes it (the second PRT's role refers to the first's)
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||1||||||F", "PRT|1|AD||RO^Obs^HL70443|D1^DOC|||ORG1",
             "OBX|2|NM|1-8^b^LN||1||||||F", "PRT|2|AD||RO^Obs^HL70443|D2^DOC|||ORG1"),
     "PractitionerRole#1", "organization.reference", "#Organization#2"),
    # two extensions the table numbers alike (PV2-8's planned start, PV2-38's mode of arrival): two extensions
    (message("ADT^A01^ADT_A01", PID, PV1, "PV2" + "|" * 8 + "20240110" + "|" * 30 + "A"), "Encounter",
     "extension.1.valueCoding.code", "A"),
    # ORC-4 is an EI before 2.8 (its namespace id no filler group number), an EIP in 2.8 (EIP-2 the filler's)
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1||GRP1^CPOE"), "ServiceRequest", "identifier",
     [{"value": "P1", "type": {"coding": [{"code": "PLAC", "system": "http://terminology.hl7.org/CodeSystem/v2-0203"}]}}]),
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1||GRP1&CPOE^FGRP&LAB").replace("|2.5.1", "|2.8"), "ServiceRequest",
     "identifier.1.value", "FGRP"),
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1||GRP1&CPOE^FGRP&LAB").replace("|2.5.1", "|2.8"), "ServiceRequest",
     "requisition.value", "GRP1"),
    # ORM's IN1 (the table names no map): IN1's Coverage, of the Patient
    (message("ORM^O01^ORM_O01", PID, "IN1|1|PLAN1|ORG1|Acme Insurance", "ORC|NW|P1", OBR), "Coverage",
     "beneficiary.reference", "#Patient#0"),
    # RXO's drug and its form ("medication(Medication.code)"): a Medication, the MedicationRequest's
    (PHARMACY, "MedicationRequest", "medicationReference.reference", "#Medication#0"),
    (PHARMACY, "Medication", "code.coding.0.code", "00378-0215"),
    (PHARMACY, "Medication", "form.coding.0.code", "TAB"),
    # XON-7's identifier type: the system of the one identifier's code, no second identifier of a system alone
    (FACILITY.replace("Acme Clinic", "Acme Clinic^L^^^^^XX^^^1234"), "Location", "identifier",
     [{"value": "1234", "type": {"coding": [{"code": "XX", "system": "http://terminology.hl7.org/CodeSystem/v2-0203"}]}}]),
    # OBR-16's ordering provider (ORC-12 empty) beside ORC-21's facility: the requester PractitionerRole's practitioner
    (ORDERED_AT, "PractitionerRole", "practitioner.reference", "#Practitioner#1"),
    # an acknowledgment's MSA (a segment no table lists) is the MessageHeader's response, table 0008's code as FHIR's
    (message("ACK^O01^ACK", "MSA|AA|ORM0001"), "MessageHeader", "response", {"code": "ok", "identifier": "ORM0001"}),
    (message("ACK^O01^ACK", "MSA|CE|ORM0001"), "MessageHeader", "response.code", "fatal-error"),
    (message("ACK^O01^ACK", "MSA|AR|ORM0001"), "MessageHeader", "response.code", "transient-error"),
    # RXR without an RXA (an RDE's, after its RXO) is the route of the MedicationRequest's dosage, not of an
    # Immunization
    (ENCODED, "MedicationRequest", "dosageInstruction.0.route.coding.0.code", "PO"),
    # an ORU^R30 (no table of its own) by its type's one table, ORU_R01: its OBX a result of its OBR's report
    (message("ORU^R30^ORU_R30", PID, "ORC|NW|PL1", OBR, "OBX|1|NM|2345-7^Glucose^LN||95||||||F"), "DiagnosticReport",
     "result.0.reference", "#Observation#0"),
    # the specimen collector's PractitionerRole (PRT SC) is the collector of the order's SPM's Specimen
    (COLLECTED, "Specimen", "collection.collector.reference", "#PractitionerRole#0"),
    # a role naming no coding system, or PRT-4's own table (0912), is a role as one naming 0443 is
    (COLLECTED.replace("^HL70443|", "^HL70912|"), "Specimen", "collection.collector.reference", "#PractitionerRole#0"),
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "ROL|1|AD|PP^Primary Care Provider|12^DOC^ANN"), "Patient",
     "generalPractitioner.0.reference", "#PractitionerRole#0"),
    # a telephone without its equipment type (XTN-3, optional before 2.7, 2.2's TN): a system not known
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||(555)555-1234X12"), "Patient", "telecom.0",
     {"value": "(555)555-1234X12", "use": "home", "_system": {"extension": [
         {"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}}),
    # an address in XTN-4 without XTN-3 is an e-mail address
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^NET^^a@b.c"), "Patient", "telecom",
     [{"value": "a@b.c", "system": "email"}]),
    # an XTN-3 of sub-component separators alone (its code, the first sub-component, empty) is none: the
    # number's system is not known
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^PRN^&\xe9^^^555^1234567"), "Patient", "telecom.0._system",
     {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}),
    # an ED of text (ED-4 "A", as Base64 and Hex) is the Observation's attachment
    (observations(("ED", "APP^TEXT^PLAIN^A^hello")), "Observation", "extension.0.valueAttachment.data", "aGVsbG8="),
    # (data of neither a type nor a subtype: bytes of no known kind, which R4 wants a contentType beside)
    (observations(("ED", "^^^A^hello")), "Observation", "extension.0.valueAttachment",
     {"data": "aGVsbG8=", "contentType": "application/octet-stream"}),
    (observations(("ED", "^IM^FAX^Base64^aGVsbG8=")), "Observation", "extension.0.valueAttachment",
     {"contentType": "application/octet-stream", "data": "aGVsbG8="}),  # (of a type and subtype of no MIME type)
    # a CQ that repeats: a component of each
    (observations(("CQ", "10^mg~20^mg")), "Observation", "component.1.valueQuantity", {"value": 20, "unit": "mg"}),
    # (of each value: an empty repetition is no component of OBX-3's code or OBX-6's unit alone)
    (observations(("ST", "x~~y")), "Observation", "component.1.valueString", "y"),
    (observations(("NM", "1~~3|mg^^UCUM")), "Observation", "component.1.valueQuantity",
     {"value": 3, "code": "mg", "unit": "mg", "system": "http://unitsofmeasure.org"}),
    # an SN ratio of one side (a numerator that is no number) is no Ratio (FHIR's rat-1): its text
    (observations(("SN", "^x^:^2")), "Observation", "valueString", "x : 2"),
    # a comparator FHIR has not (only <, <=, >=, >; "=" is none) makes the value text, as "<>" does
    (observations(("SN", "A^5")), "Observation", "valueString", "A 5"),
    # OBR-13 is a text before 2.7 (the concept's text), a CWE from 2.7 on
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", OBR + "||||||On warfarin, fasting"), "ServiceRequest",
     "extension.0.valueCodeableConcept", {"text": "On warfarin, fasting"}),
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", OBR + "||||||FAST^Fasting^L").replace("2.5.1", "2.8"),
     "ServiceRequest", "extension.0.valueCodeableConcept",
     {"coding": [{"code": "FAST", "display": "Fasting", "system": "urn:id:L"}]}),
    # a unit of ISO+ or ANS+ is no UCUM code ("MG"): a code of its own name's system, as in a Coding
    (observations(("NM", "10|MG^^ANS+")), "Observation", "valueQuantity",
     {"value": 10, "code": "MG", "unit": "MG", "system": "urn:id:ANS+"}),
    (observations(("NM", "10|mg^milligram^ISO+")), "Observation", "valueQuantity",
     {"value": 10, "code": "mg", "unit": "milligram", "system": "urn:id:ISO+"}),
    # a unit's code that the HL7 table it names lacks goes with the system the table is (a code wants one)
    (observations(("NM", "10|mg^^HL70001")), "Observation", "valueQuantity", {"value": 10, "unit": "mg"}),
    # two results of one responsible observer (OBX-16): one PractitionerRole alike, the first's
    (message("ORU^R01^ORU_R01", PID, OBR, *(f"OBX|{i}|NM|1-8^a^LN||{i}||||||F|||||D1^DOC^ANN" for i in (1, 2))),
     "Observation#1", "performer.0.reference", "#PractitionerRole#0"),
    # a day is no instant: a Provenance's recorded (required) is not known, not midnight UTC
    (message("ADT^A01^ADT_A01", "EVN|A01|20240110", "PID|1||ID1"), "Provenance#1", "_recorded",
     {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}),
    # an ED's type and subtype (ED-2, ED-3) are the MIME type they name
    (observations(("ED", "^IMAGE^jpeg^Base64^aGVsbG8=")), "Observation", "extension.0.valueAttachment.contentType",
     "image/jpeg"),
    # an ED of data of its type alone (ED-2, no ED-3): a text is text/plain, any other type bytes of no known
    # kind; ED-2 stays its alternate code
    (observations(("ED", "^TEXT^^A^hello")), "Observation", "extension.0.valueAttachment.contentType", "text/plain"),
    (observations(("ED", "^IM^^Base64^aGVsbG8=")), "Observation", "extension.0.valueAttachment",
     {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/alternate-codes",
                     "valueCodeableConcept": {"coding": [{"code": "IM"}]}}],
      "contentType": "application/octet-stream", "data": "aGVsbG8="}),
    # so is data whose type and subtype name no MIME type (reported) or that names neither
    (observations(("ED", "^IM^FAX^A^x")), "Observation", "extension.0.valueAttachment.contentType",
     "application/octet-stream"),
    (observations(("ED", "^TEXT^D^A^x")), "Observation", "extension.0.valueAttachment.contentType", "text/plain"),
    (observations(("ED", "^^^A^x")), "Observation", "extension.0.valueAttachment.contentType",
     "application/octet-stream"),
    # ED-2 and ED-4 sent in lower case are the codes they spell
    (observations(("ED", "^text^^A^hello")), "Observation", "extension.0.valueAttachment.contentType", "text/plain"),
    (observations(("ED", "^TEXT^^base64^aGVsbG8=")), "Observation", "extension.0.valueAttachment.data", "aGVsbG8="),
    # an allergy's clinical status is the map's constant: IAM-17 (table 0438) does not mix into its Coding
    (message("ADT^A60^ADT_A60", PID, "IAM|1|DA|1605^Penicillin|SV|Hives|A" + "|" * 11 + "C^Confirmed^HL70438"),
     "AllergyIntolerance", "clinicalStatus",
     {"coding": [{"code": "active", "system": "http://terminology.hl7.org/CodeSystem/allergyintolerance-clinical"}]}),
    # XPN.15, the name one is called by, is a second name (reported): not the person's name's use "nickname"
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE^JOHN" + "^" * 13 + "JD"), "Patient", "name",
     [{"family": "DOE", "given": ["JOHN"]}]),
    # a CWE's alternate identifier (CWE.4 to CWE.6) is another (reported), not the first's system
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I", "IN1|1|PLAN1^^^ALT1^^ALTSYS|ORG1|Acme Insurance"), "Coverage",
     "identifier", [{"value": "PLAN1"}]),
    # ORC-4 before 2.8 is an EI for a DiagnosticReport and an Immunization too: its namespace id is no filler
    # group number (2.8's EIP-2 is)
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL123^EHR|FL456^LAB|GRP1^CPOE", OBR), "DiagnosticReport",
     "identifier.2", {"value": "GRP1", "type": {"coding": [{"code": "PGN", "system": "http://terminology.hl7.org/CodeSystem/v2-0203"}]}}),
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL123^EHR|FL456^LAB|GRP1&CPOE^FGRP&LAB", OBR).replace("|2.5.1", "|2.8"),
     "DiagnosticReport", "identifier.2.value", "FGRP"),
    (message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-1^NDA|GRP1^CPOE", "RXA|0|1|20240110||08^HepB^CVX"), "Immunization",
     "identifier.1.value", "GRP1"),
    # TXA-3's type of data is the MIME type it names (TX text/plain, FT text/hl7v2), not the code sent
    (message("MDM^T02^MDM_T02", "PID|1||ID1", "TXA|1|DS|TX", "OBX|1|TX|||x||||||F"), "DocumentReference",
     "content.0.attachment.contentType", "text/plain"),
    (message("MDM^T01^MDM_T01", "PID|1||ID1", "TXA|1|DS|FT"), "DocumentReference", "content",
     [{"attachment": {"contentType": "text/hl7v2"}}]),
    # OML's OBR makes the Specimen the order's first SPM completes (OBR-7's collection time), which the
    # ServiceRequest refers to also without an SPM
    (message("OML^O21^OML_O21", PID, "ORC|NW|P1", OBR, "SPM|1|SP1"), "Specimen", "collection.collectedDateTime",
     "2024-01-10T08:00:00-05:00"),
    (message("OML^O21^OML_O21", PID, "ORC|NW|P1", OBR), "ServiceRequest", "specimen.0.reference", "#Specimen#0"),
    # TXA-3 AP (application data) is the type of the data an OBX's ED carries: one content, of the ED's own
    # type where it gives one (AP^PDF), else of TXA-3's
    (message("MDM^T02^MDM_T02", "PID|1||ID1", "TXA|1|DS|AP", "OBX|1|ED|||^AP^PDF^Base64^aGVsbG8=||||||F"),
     "DocumentReference", "content", [{"attachment": {"contentType": "application/pdf", "data": "aGVsbG8="}}]),
    (message("MDM^T02^MDM_T02", "PID|1||ID1", "TXA|1|DS|AP", "OBX|1|ED|||^^^Base64^aGVsbG8=||||||F"),
     "DocumentReference", "content",
     [{"attachment": {"contentType": "application/octet-stream", "data": "aGVsbG8="}}]),
    # SPS-2 (OBR-15's additives) is a text before 2.5: the concept's text, not a code of that text
    (message("ORU^R01^ORU_R01", PID, OBR + "||||||||BLD&Blood&HL70070^EDTA tube").replace("|2.5.1", "|2.3"),
     "Specimen", "container", [{"additiveCodeableConcept": {"text": "EDTA tube"}}]),
    # NK1-3, the relationship, is a text in 2.1 (coded from 2.2): the concept's text
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "NK1|1|SMITH^MARY|WIFE").replace("|2.5.1", "|2.1"), "Patient",
     "contact.0.relationship", [{"text": "WIFE"}]),
    # 2.2's PR1-12 is a practitioner (a CN in sub-components) and a practitioner type: not an XCN's name
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "PR1|1|C4|33533^CABG^C4|CABG|199303161400|A|240||||"
             "0222^CUTTER^SAM|0333&GAS&ANNE^AN").replace("|2.5.1", "|2.2"), "Practitioner#1", "name",
     [{"family": "GAS", "given": ["ANNE"]}]),
    # OBR-32 (and 34, 35) of 2.1 is a CN, the interpreter a Practitioner by name (an NDL from 2.2)
    (message("ORU^R01^ORU_R01", "PID|1||ID1", "OBR|1|PL1|FL1|CBC^CBC^L" + "|" * 28 + "1234^JONES^MARY^A^MD",
             "OBX|1|NM|WBC^WBC^L||7.5").replace("|2.5.1", "|2.1"), "DiagnosticReport", "resultsInterpreter.0.reference",
     "#Practitioner#0"),
    (message("ORU^R01^ORU_R01", "PID|1||ID1", "OBR|1|PL1|FL1|CBC^CBC^L" + "|" * 28 + "1234^JONES^MARY^A^MD",
             "OBX|1|NM|WBC^WBC^L||7.5").replace("|2.5.1", "|2.1"), "Practitioner", "name",
     [{"family": "JONES", "given": ["MARY", "A"], "suffix": ["MD"]}]),
    # a code of an HL7 table that the row's vocabulary has no code for (DG1-6 W, F: no diagnosis role) is the
    # table's code, with its system and meaning; one not among the table's values stays the sender's alone
    (message("ADT^A01^ADT_A01", PID, PV1, "DG1|1||I10^Hypertension^I10||20240110|W"), "Encounter",
     "diagnosis.0.use", {"coding": [{"code": "W", "system": "http://terminology.hl7.org/CodeSystem/v2-0052",
                                     "display": "Working"}]}),
    (message("ADT^A01^ADT_A01", PID, PV1, "DG1|1||I10^Hypertension^I10||20240110|F^Final dx").replace(
        "|2.5.1", "|2.8.2"), "Encounter", "diagnosis.0.use",
     {"coding": [{"code": "F", "display": "Final dx", "system": "http://terminology.hl7.org/CodeSystem/v2-0052"}]}),
    (message("ADT^A01^ADT_A01", PID, PV1, "DG1|1||I10^Hypertension^I10||20240110|WK"), "Encounter",
     "diagnosis.0.use", {"coding": [{"code": "WK"}]}),
    # (a CWE-3 naming the table is the table's system; one naming another keeps the code its own)
    (message("ADT^A01^ADT_A01", PID, PV1, "DG1|1||I10^Hypertension^I10||20240110|W^^HL70052").replace(
        "|2.5.1", "|2.6"), "Encounter", "diagnosis.0.use",
     {"coding": [{"code": "W", "system": "http://terminology.hl7.org/CodeSystem/v2-0052", "display": "Working"}]}),
    (message("ADT^A01^ADT_A01", PID, PV1, "DG1|1||I10^Hypertension^I10||20240110|W^^L").replace(
        "|2.5.1", "|2.6"), "Encounter", "diagnosis.0.use", {"coding": [{"code": "W", "system": "urn:id:L"}]}),
    # (2.2 and 2.3 bind DG1-6 to table 0052, whose values the definitions give from 2.3.1 on: those; 2.1 binds
    # no table to it)
    (message("ADT^A01^ADT_A01", PID, PV1, "DG1|1||I10^Hypertension^I10||20240110|W").replace("|2.5.1", "|2.3"),
     "Encounter", "diagnosis.0.use",
     {"coding": [{"code": "W", "system": "http://terminology.hl7.org/CodeSystem/v2-0052", "display": "Working"}]}),
    (message("ADT^A01^ADT_A01", PID, PV1, "DG1|1||I10^Hypertension^I10||20240110|W").replace("|2.5.1", "|2.1"),
     "Encounter", "diagnosis.0.use", {"coding": [{"code": "W"}]}),
    # 2.2's internal location: its sixth component (Etage) is the floor (Klinik and Zentrum no building, no
    # floor: reported); 2.3's PL-9 is the location's type, a text (the description from 2.3.1 on)
    (PLACED_22, "Location#2", "identifier", [{"value": "E3"}]),
    (PLACED_22, "Location#3", "partOf.reference", "#Location#4"),  # the nurse unit's, the facility
    (PLACED_22, "Location#4", "identifier", [{"value": "GHH"}]),
    (PLACED_23, "Location", "type", [{"text": "ICU bed"}]),
    # a bed of an identifier's type alone (its identifier without value left out) is no Location: the room is
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|5W^502^&&1"), "Location", "identifier", [{"value": "502"}]),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|5W^502^&&1"), "Encounter", "location.0.location.reference",
     "#Location#0"),
    # 2.9's ORC-4, read as 2.8.2 (the latest the definitions hold), is an EIP
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1||PG1^FG1").replace("|2.5.1", "|2.9", 1), "ServiceRequest",
     "identifier.1.value", "FG1"),
    # a pharmacy order's RXR (which ORM_O01's table does not list) is the route of its RXO's dosage
    (message("ORM^O01", PID, "ORC|NW|RX1", "RXO|00093-1234^Amoxicillin^NDC|500", "RXR|PO^Oral^HL70162"),
     "MedicationRequest", "dosageInstruction.0.route.coding.0.code", "PO"),
    # an observation's PRT of an address alone (a performing laboratory's) is its event location's address
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||1||||||F", "PRT||AD||PO" + "|" * 10 + "1 Lab Way^^Austin"
             ).replace("|2.5.1", "|2.8.2", 1), "Location", "address.city", "Austin"),
    # an order's PRT of its ordering provider (2.8's, for ORC-12) is its ServiceRequest's requester
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1", OBR, "PRT||AD||OP^Ordering Provider^HL70443|2222^ORDER"
             ).replace("|2.5.1", "|2.8.2", 1), "ServiceRequest", "requester.reference", "#PractitionerRole#0"),
    # a practitioner is one by its id number: the admitter (PV1-17) sent without the attending doctor's prefix
    (message("ADT^A01^ADT_A01", "PID|1||ID1", DOCTORS.format("1234^SMITH^JOHN")), "Encounter",
     "participant.1.individual.reference", "#Practitioner#0"),
    (message("ADT^A01^ADT_A01", "PID|1||ID1", DOCTORS.format("^SMITH^JOHN")), "Encounter",  # (no id number: by name)
     "participant.1.individual.reference", "#Practitioner#1"),
    # a place named again completes its Location: AIL-3's description of the room PV1-3 named alone
    (ROOMED.format(""), "Location", "description", "MRI Suite 1"),
    # an element of a list the same as one before it is written once (a placer and a filler appointment id alike)
    (message("SIU^S12^SIU_S12", "SCH|A1|A1", "PID|1||ID1", "RGS|1"), "Appointment", "identifier", [{"value": "A1"}]),
    # (not a primitive: two given names alike are two names; nor a primitive's extension, placed as its value)
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE^JOHN^JOHN"), "Patient", "name.0.given", ["JOHN", "JOHN"]),
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "AL1|1|Z9~Z9|X^Y"), "AllergyIntolerance", "category", [None, None]),
    # an order's PRT of its specimen collector is the collector of the Specimen its OBR made (no SPM after it)
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1", OBR, "PRT||AD||SC^Collector^HL70443|7^COLL"
             ).replace("|2.5.1", "|2.8.2", 1), "Specimen", "collection.collector.reference", "#PractitionerRole#0"),
    # a value meeting another segment's in one element is written whole or not at all: IN1-15's plan type
    # (reported) lends no display or system to PV1-20's financial class in the Coverage they share
    (COVERED, "Coverage", "type", {"coding": [{"code": "SP"}]}),
    # a dose's unit is a Quantity's code with its system (a code requires one), its text the unit
    (message("ORM^O01", PID, "ORC|NW|RX1", "RXO|00093-1234^Amoxicillin^NDC|500||mg^milligram^UCUM"),
     "MedicationRequest", "dosageInstruction.0.doseAndRate.0.doseRange.low",
     {"value": 500, "code": "mg", "unit": "milligram", "system": "http://unitsofmeasure.org"}),
    # each PRT of a care team's role is a CareTeam of its own, its person a practitioner
    (message("ADT^A01^ADT_A01", PID, "PRT||AD||AT^Attending^HL70912|7777^ROSS", "PRT||AD||RP^Referring^HL70912|"
             "8888^GREENE", PV1), "CareTeam#1", "participant.0.member.reference", "#Practitioner#1"),
    # a field of separators alone is not valued where a row's condition asks: OBR-3's filler number is
    # written where ORC-3 is "^"
    (message("OML^O21^OML_O21", PID, "ORC|NW|O1|^", "OBR|1|O1|F1|24323-8^Panel^LN"), "ServiceRequest",
     "identifier.1.value", "F1"),
    # a message without a table: a note is its order's where it notes the order, not the problem before it
    (message("PPR^PC1", PID, PROBLEM, "NTE|1||Problem note", "ORC|NW|O1", OBR, "NTE|1||Order note"),
     "ServiceRequest", "note", [{"text": "Order note"}]),
    # an OBX after its order's FT1 or CTI (past the order's OBSERVATION groups) is a result of its report
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||5||||||F", "FT1|1", "OBX|2|NM|2-8^b^LN||6||||||F"),
     "DiagnosticReport", "result.1.reference", "#Observation#1"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||5||||||F", "CTI|S1", "OBX|2|NM|2-8^b^LN||6||||||F"
             ).replace("|2.5.1", "|2.4", 1), "DiagnosticReport", "result.1.reference", "#Observation#1"),
    # ... and an NTE after it that OBX's note
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||5||||||F", "FT1|1", "OBX|2|NM|2-8^b^LN||6||||||F",
             "NTE|1||Recheck"), "Observation#1", "note", [{"text": "Recheck"}]),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||5||||||F", "FT1|1", "OBX|2|NM|2-8^b^LN||6||||||F",
             "NTE|1||Recheck", "NTE|2||Again", "NTE|3||Thrice"), "Observation#1", "note",
     [{"text": "Recheck"}, {"text": "Again"}, {"text": "Thrice"}]),
    # an NTE after a second OBR without an ORC (a second order, after the first's OBX) is that order's note
    (message("ORM^O01", PID, "ORC|NW|P1", "OBR|1|P1||80053^CMP^CPT", "OBX|1|ST|1-8^a^LN||v||||||F",
             "OBR|2|P2||85025^CBC^CPT", "NTE|1||Second order note"), "ServiceRequest#1", "note",
     [{"text": "Second order note"}]),
    # a second order's ORC TQ1 OBR, which the structure matcher cuts into two ORDER_PRIORs, is one order: its
    # OBR-16 is the practitioner of the requester ORC-21 made (one PractitionerRole for both orders)
    (message("OML^O21^OML_O21", PID, "ORC|NW" + "|" * 20 + "ORG", "OBR|1|P1||1-8^a^LN" + "|" * 12 + "2222^DOC",
             "ORC|NW" + "|" * 20 + "ORG", "TQ1|||||||||A", "OBR|1|P2||1-8^a^LN" + "|" * 12 + "2222^DOC"),
     "ServiceRequest#1", "requester.reference", "#PractitionerRole#0"),
    # a message without a table: an RXR after an RXA is its Immunization's route (as VXU's table has it)
    (message("RSP^K11^RSP_K11", PID, "ORC|RE||197023^CMC", "RXA|0|1|20240110||08^HepB^CVX|0.5|mL^mL^UCUM",
             "RXR|IM^Intramuscular^HL70162"), "Immunization", "route.coding.0.code", "IM"),
    # ... and the ORC before it, in an immunization history, its Immunization's (VXU's ORC rows: its identifiers)
    (message("RSP^K11^RSP_K11", "MSA|AA|Q1", PID, "ORC|RE||197023^CMC", "RXA|0|1|20240110||08^HepB^CVX"),
     "Immunization", "identifier.0.value", "197023"),
    # ... and its PRT of the administering provider the Immunization's performer (VXU's PRT rows)
    (message("RSP^K11^RSP_K11", "MSA|AA|Q1", PID, "ORC|RE||197023^CMC",
             "PRT||AD||AP^Administering Provider^HL70912|1234^SMITH^JOHN", "RXA|0|1|20240110||08^HepB^CVX"),
     "Immunization", "performer.0.actor.reference", "#PractitionerRole#0"),
    # ... and an NTE after an SCH its Appointment's note
    (message("SRR^S01^SRR_S01", "MSA|AA|M0", "SCH|A1|F1", "NTE|1||Bring the card", PID), "Appointment",
     "extension.0.valueAnnotation.text", "Bring the card"),
    # a message without a table: a DG1 after an order's ORC or OBR is its reason, a PRT of the ordering
    # provider after its ORC its requester (as the order tables have them)
    (message("OMG^O19^OMG_O19", PID, PV1, "ORC|NW|P1", OBR, "DG1|1||R07.9^Chest pain^I10"), "ServiceRequest",
     "reasonReference.0.reference", "#Condition#0"),
    (message("OMG^O19^OMG_O19", PID, "ORC|NW|P1", "PRT||AD||OP^Ordering Provider^HL70912|5678^JONES", OBR),
     "ServiceRequest", "requester.reference", "#PractitionerRole#0"),
    # ... and an NTE after an OBX its Observation's note (OUL: the tables' OBSERVATION NTE)
    (message("OUL^R22^OUL_R22", PID, "SPM|1|SP1||BLD^Blood^HL70487", "OBR|1|P1||1-8^a^LN", "ORC|SC|P1",
             "OBX|1|ST|1-8^a^LN||v||||||F", "NTE|1||Hemolyzed"), "Observation", "note", [{"text": "Hemolyzed"}]),
    # ... and an OBX after the order's OBR its supportingInfo (as the order tables have it), an OBX after that
    # one's NTE too
    (message("OMG^O19^OMG_O19", PID, "ORC|NW|P1", OBR, "OBX|1|NM|8867-4^Pulse^LN||72||||||F", "NTE|1||Resting",
             "OBX|2|NM|8310-5^Temp^LN||37||||||F"), "ServiceRequest", "supportingInfo.1.reference", "#Observation#1"),
    # an ORU's PRT of the ordering provider naming the person ORC-12 names gives the requester its role's code
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1" + "|" * 10 + "1234^SMITH", OBR,
             ORDERING_PRT.replace("5678^JONES^ANN", "1234^SMITH")), "PractitionerRole", "code.0.coding.0.code", "OP"),
    # a message without a table: an order's result ahead of PID is the patient's the message names after it
    (message("XYZ^Q99", "ORC|NW|P1", "OBR|1|P1||1-8^a^LN", "OBX|1|NM|1-8^a^LN||5||||||F", PID), "Observation",
     "subject.reference", "#Patient#0"),
    # a specimen sent ahead of its orders (OUL: SPM OBR ORC OBX, then the next SPM) is theirs and their results'
    (message("OUL^R22^OUL_R22", PID, "SPM|1|SP1", "OBR|1|P1||1-8^a^LN", "ORC|RE|P1", "OBX|1|NM|1-8^a^LN||5||||||F",
             "SPM|2|SP2", "OBR|2|P2||2-8^b^LN", "ORC|RE|P2"), "ServiceRequest#1", "specimen.0.reference", "#Specimen#1"),
    (message("OUL^R22^OUL_R22", PID, "SPM|1|SP1", "OBR|1|P1||1-8^a^LN", "ORC|RE|P1", "OBX|1|NM|1-8^a^LN||5||||||F"),
     "Observation", "specimen.reference", "#Specimen#0"),
    # ... of several, its result the first's, as an ORU's results name their OBR's (Observation.specimen names
    # one; the others stay the order's)
    (message("OUL^R22^OUL_R22", PID, "SPM|1|SP1", "OBR|1|P1||1-8^a^LN", "ORC|RE|P1", "SPM|2|SP2", "SPM|3|SP3",
             "OBR|2|P2||2-8^b^LN", "ORC|RE|P2", "OBX|1|NM|2-8^b^LN||5||||||F"), "Observation", "specimen.reference",
     "#Specimen#1"),
    (message("OUL^R22^OUL_R22", PID, "SPM|1|SP1", "SPM|2|SP2", "OBR|1|P1||1-8^a^LN", "ORC|SC|P1",
             "OBX|1|NM|1-8^a^LN||5||||||F"), "Observation", "specimen.reference", "#Specimen#0"),
    # two of one type holding one identifier of a system are one, the first made, with what the later adds
    (ONE_NPI, "Practitioner", "name", [{"family": "SMITH", "given": ["JOHN"], "prefix": ["DR"]},
                                       {"family": "SMITH", "given": ["JOHN", "A"], "use": "official"}]),
    (ONE_NPI, "Practitioner", "identifier.0.type.coding.0.code", "NPI"),
    (ONE_NPI, "Encounter", "participant.1.individual.reference", "#Practitioner#0"),
    (ONE_SSN, "Observation#1", "subject.reference", "#Patient#0"),
    (ONE_SSN, "Patient", "address.0.line", ["1 MAIN ST"]),
    # but not two of another MRN of one hospital (a newborn under its mother's SSN): two Patients
    (ONE_SSN.replace("ID2^^^SSA^SS", "ID2^^^GHH^MR"), "Observation#1", "subject.reference", "#Patient#1"),
    # ... nor two of other phone numbers (a telecom's system names no identity): one Patient
    (ONE_SSN.replace("F" + "|" * 11, "F|||||^PRN^PH^^^555^1111111" + "|" * 6, 1).replace(
        "1 MAIN ST" + "|" * 8, "1 MAIN ST||^PRN^PH^^^555^2222222" + "|" * 6), "Observation#1", "subject.reference",
     "#Patient#0"),
    (ONE_OID, "Organization#0", "identifier.1.value", "GHH"),
    (ONE_OID, "Organization#3", "identifier.0.assigner.reference", "#Organization#0"),
    # a message without a table: a TQ1 after its ORC is that order's timing
    (message("RDE^O11^RDE_O11", PID, "ORC|NW|PL1", "TQ1|1||Q8H"), "ServiceRequest", "occurrenceTiming.code",
     {"coding": [{"code": "Q8H"}]}),
    # a patient and stay named again alike (an ORU of two PATIENT_RESULT groups of one patient) are one: the
    # second group's results are theirs
    (message("ORU^R01^ORU_R01", *[PID, PV1, OBR, "OBX|1|NM|1-8^a^LN||5||||||F"] * 2), "Observation#1",
     "subject.reference", "#Patient#0"),
    (message("ORU^R01^ORU_R01", *[PID, PV1, OBR, "OBX|1|NM|1-8^a^LN||5||||||F"] * 2), "Observation#1",
     "encounter.reference", "#Encounter#0"),
    (message("ORU^R01^ORU_R01", *[PID, PV1, OBR, "OBX|1|NM|1-8^a^LN||5||||||F"] * 3), "Observation#2",
     "encounter.reference", "#Encounter#0"),
    # a coding system name of HL7 table 0396 sent in lower case is that name
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|2093-3^Chol^ln||190|mg/dL^^ucum|||||F"), "Observation",
     "code.coding.0.system", "http://loinc.org"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|2093-3^Chol^ln||190|mg/dL^^ucum|||||F"), "Observation",
     "valueQuantity.system", "http://unitsofmeasure.org"),
    # a system of table 0396 in a sender's own spelling is that system; one that may be two systems stays as sent
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^LOINC||v||||||F"), "Observation", "code.coding.0.system",
     "http://loinc.org"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^Loinc||v||||||F"), "Observation", "code.coding.0.system",
     "http://loinc.org"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^SNOMED||v||||||F"), "Observation", "code.coding.0.system",
     "http://snomed.info/sct"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^SNOMEDCT||v||||||F"), "Observation", "code.coding.0.system",
     "http://snomed.info/sct"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^SNOMED CT||v||||||F"), "Observation", "code.coding.0.system",
     "http://snomed.info/sct"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^snomed-ct||v||||||F"), "Observation", "code.coding.0.system",
     "http://snomed.info/sct"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^ICD-10-CM||v||||||F"), "Observation", "code.coding.0.system",
     "http://hl7.org/fhir/sid/icd-10-cm"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^ICD10CM||v||||||F"), "Observation", "code.coding.0.system",
     "http://hl7.org/fhir/sid/icd-10-cm"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^ICD-10-PCS||v||||||F"), "Observation", "code.coding.0.system",
     "http://www.cms.gov/Medicare/Coding/ICD10"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^ICD-9-CM||v||||||F"), "Observation", "code.coding.0.system",
     "http://hl7.org/fhir/sid/icd-9-cm"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^CPT||v||||||F"), "Observation", "code.coding.0.system",
     "http://www.ama-assn.org/go/cpt"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^CPT4||v||||||F"), "Observation", "code.coding.0.system",
     "http://www.ama-assn.org/go/cpt"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^CPT-4||v||||||F"), "Observation", "code.coding.0.system",
     "http://www.ama-assn.org/go/cpt"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^RxNorm||v||||||F"), "Observation", "code.coding.0.system",
     "http://www.nlm.nih.gov/research/umls/rxnorm"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^Rx Norm||v||||||F"), "Observation", "code.coding.0.system",
     "http://www.nlm.nih.gov/research/umls/rxnorm"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^ndc||v||||||F"), "Observation", "code.coding.0.system",
     "http://hl7.org/fhir/sid/ndc"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^Cvx||v||||||F"), "Observation", "code.coding.0.system",
     "http://hl7.org/fhir/sid/cvx"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^Ucum||v||||||F"), "Observation", "code.coding.0.system",
     "http://unitsofmeasure.org"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^ICD10||v||||||F"), "Observation", "code.coding.0.system",
     "urn:id:ICD10"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^ICD-10||v||||||F"), "Observation", "code.coding.0.system",
     "urn:id:ICD-10"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^ICD9||v||||||F"), "Observation", "code.coding.0.system",
     "http://hl7.org/fhir/sid/icd-9-cm"),
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|110180^Study Instance UID^DCM||1.2.3||||||F"), "Observation",
     "code.coding.0.system", "http://dicom.nema.org/resources/ontology/DCM"),
    # a code of an HL7 table whose text and system are nulls takes the table's system and display
    (message("VXU^V04^VXU_V04", PID, "ORC|RE||IZ-1^NDA", "RXA|0|1|20240110||08^HepB^CVX", 'RXR|C28161^IM^NCIT|LA^""^""'),
     "Immunization", "site.coding.0", {"code": "LA", "system": "http://terminology.hl7.org/CodeSystem/v2-0163",
                                       "display": "Left Arm"}),
    # a trailing repetition separator adds no repetition a condition counts: OBX-5 "165~" is one value
    (observations(("NM", "165~")), "Observation", "valueQuantity.value", 165),
    # a code the tables' conditions test sent in another case is that code: OBX-2 "nm", ED-4 "BASE64"
    (observations(("nm", "190")), "Observation", "valueQuantity.value", 190),
    (observations(("ED", "^AP^PDF^BASE64^aGVsbG8=")), "Observation", "extension.0.valueAttachment.data", "aGVsbG8="),
    # ... and an HL7 table named so is that table, whose vocabulary translates the code
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE" + "|" * 11 + "M^Married^hl70002"), "Patient",
     "maritalStatus.coding.0.system", "http://terminology.hl7.org/CodeSystem/v3-MaritalStatus"),
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE" + "|" * 11 + "M^Married^ HL70002"), "Patient",
     "maritalStatus.coding.0.system", "http://terminology.hl7.org/CodeSystem/v3-MaritalStatus"),
    # HL7's sample MDM^T02 (its ORC, TQ1 and OBR an order, TXA its document, four OBX the document's content)
    hl7_mdm("Patient", "identifier.0.value", "000322330"),
    hl7_mdm("Encounter", "class.code", "IMP"),
    hl7_mdm("ServiceRequest", "requisition.value", "GORD874299"),
    hl7_mdm("DocumentReference", "masterIdentifier.value", "3738931392"),
    hl7_mdm("DocumentReference", "author.0.reference", "#Practitioner#1"),
    hl7_mdm("DocumentReference", "description", "Discharge Summary"),
    hl7_mdm("DocumentReference", "context.related.0.reference", "#ServiceRequest#0"),
    hl7_mdm("DocumentReference", "content.0.attachment.contentType", "application/pdf"),
    # MSH-9 in lower case: the event is table 0003's code, the display MSH-9 as sent
    (ORU_R01.replace("ORU^R01^ORU_R01", "oru^r01"), "MessageHeader", "eventCoding",
     {"system": "http://terminology.hl7.org/CodeSystem/v2-0003", "code": "R01", "display": "oru^r01"}),
    # ... its white space that of any code (single spaces between words), as sent in upper case
    (ORU_R01.replace("ORU^R01^ORU_R01", "oru^r01  x"), "MessageHeader", "eventCoding",
     {"code": "R01 X", "display": "oru^r01  x"}),
    # a code of a Coding whose vocabulary lacks it is under no system its field's table does not hold
    # (MSH-11 "X", of no processing id; XON-7 "ZZ", of no identifier type)
    (message("ADT^A01^ADT_A01", "PID|1||ID1").replace("|P|2.5.1", "|X|2.5.1"), "MessageHeader", "meta.tag",
     [{"code": "X"}]),
    (message("ORM^O01^ORM_O01", "PID|1||ID1", "ORC|NW|P1" + "|" * 19 + "GHH LAB^^123^^^^ZZ", "OBR|1|P1||1-8^a^LN"),
     "Organization#2", "identifier.0.type.coding", [{"code": "ZZ"}]),
    # ... an event of none of table 0003's values (a sender's own, outside its Znn) is under none either
    (message("XYZ^Q99", "PID|1||ID1"), "MessageHeader", "eventCoding", {"display": "XYZ^Q99", "code": "Q99"}),
    (message("ADT^A99").replace("|2.5.1", "|2.8"), "MessageHeader", "eventCoding",
     {"display": "ADT^A99", "code": "A99"}),
    # ORC-1's order control code, written as sent, is under table 0119's system where the message's
    # version's table holds it, in its case (OP from 2.6 on; 2.3 read by 2.3.1's values)
    *[(message("ORM^O01^ORM_O01", "PID|1||ID1", "ORC|" + code + "|P1", "OBR|1|P1||1-8^a^LN").replace(
        "|2.5.1", "|" + version), "ServiceRequest", "extension.0.extension.0.valueCodeableConcept.coding", coding)
      for code, version, coding in [
          ("nw", "2.5.1", [{"code": "nw"}]), ("OP", "2.3", [{"code": "OP"}]),
          ("OP", "2.6", [{"code": "OP", "system": "http://terminology.hl7.org/CodeSystem/v2-0119"}])]],
    # ... and a CWE-3 naming an HL7 table is the code's system where that table holds the code
    *[(message("ADT^A01^ADT_A01", "PID|1||ID1", "NK1|1|DOE^JANE" + "|" * 5 + code + "^Emergency Contact^HL70131"),
       "RelatedPerson", "relationship.0.coding.0", coding) for code, coding in [
          ("EC", {"code": "EC", "display": "Emergency Contact"}),
          ("C", {"code": "C", "display": "Emergency Contact", "system": "http://terminology.hl7.org/CodeSystem/v2-0131"})]],
    # PV1-11's temporary location is classed "temporary" without a system (the tables name a value set)
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "PV1|1|I" + "|" * 9 + "TMP^101"), "Encounter",
     "location.0.extension.0.valueCodeableConcept.coding", [{"code": "temporary"}]),
    # a field's later repetition into the element its first wrote (PV1-2's one class, AL1-3's one code) adds
    # nothing of it (I's system beside a, b's display), unless it is the same code
    *[(message("ADT^A01^ADT_A01", "PID|1||ID1", segment), resource_type, path, value)
      for segment, resource_type, path, value in [
          ("PV1|1|a~I", "Encounter", "class", {"code": "a"}),
          ("AL1|1||a~b^Peanut~c^Nuts", "AllergyIntolerance", "code", {"coding": [{"code": "a"}]}),
          ("AL1|1||a~a^Peanut", "AllergyIntolerance", "code", {"coding": [{"code": "a", "display": "Peanut"}]}),
          # (the display b^Peanut made and lost, a^Nuts writes anew)
          ("AL1|1||a~b^Peanut~a^Nuts", "AllergyIntolerance", "code", {"coding": [{"code": "a", "display": "Nuts"}]}),
          # a code of sub-components is its first, as written: translated ("I&x"), or of its table ("B&x")
          ("PV1|1|I&x", "Encounter", "class", {"system": "http://terminology.hl7.org/CodeSystem/v3-ActCode", "code": "IMP"}),
          ("PV1|1|B&x", "Encounter", "class", {"system": "http://terminology.hl7.org/CodeSystem/v2-0004", "code": "B"})]],
    # MSH-17 of a country table 0399 lacks (ISO's two letters) stays the sender's country, as XAD-6 is
    (message("ADT^A01^ADT_A01", "PID|1||ID1").replace("|2.5.1\r", "|2.5.1|||||AU\r"), "Organization",
     "address.0.country", "AU"),
    # a code holds no white space but single spaces: Unicode's (a no-break space, an ideographic space) too
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|A \u00a0B\u3000C^Name^L||v"), "Observation",
     "code.coding.0.code", "A B C"),
    # (U+205F, a medium mathematical space, is one; U+211F, a letter-like symbol of the same last byte, is not)
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|A\u205fB\u211f^Name^L||v"), "Observation",
     "code.coding.0.code", "A B\u211f"),
    # nor a uri: each white space character is a '-' (a system's name, an application's endpoint)
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|c^d^L\u00a0x||v"), "Observation", "code.coding.0.system",
     "urn:id:L-x"),
    (message("ORU^R01^ORU_R01", PID, OBR).replace("|APP|", "|A\\X0D0A\\b|", 1), "MessageHeader",
     "source.endpoint", "A--b"),
    # XAD-10's census tract is text: its extension's valueString, a line break and all
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||1 Main St^^Town^^^^H^^^A\\X0D0A\\B"), "Patient",
     "address.0.extension.0.valueString", "A\r\nB"),
    # hex data is the bytes it stands for: a UTF-8 character as one, a byte UTF-8 never has alone as Latin-1
    *[(message("ADT^A01^ADT_A01", f"PID|1||ID1||{name}"), "Patient", "name.0.family", family)
      for name, family in [("M\\XC3BC\\LLER", "M\u00fcLLER"), ("M\\XFC\\LLER", "M\u00fcLLER"),
                           ("\\XE282AC41C3\\", "\u20acA\u00c3")]],
])
def test_elements(text, resource_type, path, expected):
    resource_type, _, n = resource_type.partition("#")
    bundle = check_bundle(fhir.to_json(text))
    value = entries(bundle, resource_type)[int(n or 0)]
    for step in path.split("."):
        value = value[int(step)] if step.isdigit() else value[step]
    if isinstance(expected, str) and expected.startswith("#"):  # a reference to "#Type#n"
        target_type, n = expected[1:].split("#")
        expected = "urn:uuid:" + entries(bundle, target_type)[int(n)]["id"]
    assert value == expected


UNKNOWN = {"system": "http://terminology.hl7.org/CodeSystem/v3-NullFlavor", "code": "UNK"}
NOT_SENT = {"extension": [{"url": "http://hl7.org/fhir/StructureDefinition/data-absent-reason", "valueCode": "unknown"}]}


@pytest.mark.parametrize("text, resource_type, n, element, expected", [
    # OBX-11 "I" (results pending) is not in HL7's vocabulary: registered
    (ORU_R01, "Observation", 1, "status", "registered"),
    (message("ADT^A01", "PID|1||ID1", "PV1|1"), "Encounter", 0, "class", UNKNOWN),  # of members
    (message("ADT", "PID|1||ID1"), "MessageHeader", 0, "eventCoding", UNKNOWN),  # a choice's form
    (message("ADT^", "PID|1||ID1"), "MessageHeader", 0, "eventCoding", UNKNOWN),  # an empty event: no system alone
    # RXA-18 (statusReason) is no status, as a choice's form would be
    (message("VXU^V04^VXU_V04", "PID|1||ID1", "RXA|0|1|20240110||08^HepB^CVX" + "|" * 13 + "00^Refused^NIP002"),
     "Immunization", 0, "status", "completed"),
    # the Patient's participant (SCH, PID), whose status no row maps
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1", "RGS|1", "AIS|1||C^Consult"),
     "Appointment", 0, "participant.0.status", "needs-action"),
    # AIP-12's v2 code (table 0278), none of FHIR's
    (SCHEDULED.replace("accepted", "Booked"), "Appointment", 0, "participant.2.status", "needs-action"),
    # a receiving facility (MSH-6) without its application (MSH-5): the destination keeps its receiver
    ("MSH|^~\\&|LAB|GHH||RFAC|20240110||ADT^A01^ADT_A01|M1|P|2.5.1\rPID|1||ID1\r", "MessageHeader", 0,
     "destination.0.endpoint", "urn:unknown"),
    # SCH-25's status is an Appointment's ("Booked"), none of an order's
    (ORDERED, "ServiceRequest", 0, "status", "unknown"),
    # a code the message does not send, of a resource that holds something else (a report's text, its results,
    # a date and a dose, a dose range): not known
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|TX|||The liver has normal dimensions.||||||F"), "Observation", 0,
     "code", NOT_SENT),
    (message("ORU^R01^ORU_R01", PID, "OBR|1|PL123", "OBX|1|ST|1-8^a^LN||v||||||F"), "DiagnosticReport", 0, "code",
     NOT_SENT),
    (message("VXU^V04^VXU_V04", PID, "RXA|0|1|20240110|||0.5|mL^mL^UCUM"), "Immunization", 0, "vaccineCode", NOT_SENT),
    (message("ORM^O01", PID, "ORC|NW|RX1", "RXO||500|1000|mg^mg^UCUM"), "MedicationRequest", 0,
     "medicationCodeableConcept", NOT_SENT),
    # a payor (IN1-4) of a plan and its dates; a document (an MDM^T01's notification) of its type and date
    (message("ADT^A01^ADT_A01", PID, PV1, "IN1|1|PLAN1" + "|" * 10 + "20240101|20241231"), "Coverage", 0, "payor",
     [NOT_SENT]),
    (message("MDM^T01^MDM_T01", "EVN|T01", PID, PV1, "TXA|1|DS||20240110"), "DocumentReference", 0, "content",
     [{"attachment": NOT_SENT}]),
])
def test_required_elements_left_unmapped_get_documented_values(text, resource_type, n, element, expected):
    value = entries(check_bundle(fhir.to_json(text)), resource_type)[n]
    for step in element.split("."):
        value = value[int(step)] if step.isdigit() else value[step]
    assert value == expected


# (message, resourceType, element, resourceType referred to, list sizes): a
# link made at each repetition of a segment adds to the element's list, in
# order, of the resource its own group occurrence made
@pytest.mark.parametrize("text, resource_type, element, target_type, sizes", [
    (ORU_R01, "DiagnosticReport", "result", "Observation", [2]),  # each OBX of the OBR's group
    # MSH-9 sent in lower case names the tables' message: its report and results
    (ORU_R01.replace("ORU^R01^ORU_R01", "oru^r01"), "DiagnosticReport", "result", "Observation", [2]),
    # so does MSH-9 naming another structure than its event's (read by the event's, as its tables are)
    (ORU_R01.replace("ORU^R01^ORU_R01", "ORU^R01^ADT_A17"), "DiagnosticReport", "result", "Observation", [2]),
    # a second OBR without an ORC: a report of its own, with its own results
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1", OBR, "OBX|1|ST|1-8^a^LN||x||||||F",
             OBR.replace("24323-8", "2345-7"), "OBX|1|ST|2-6^b^LN||y||||||F", "OBX|2|ST|3-4^c^LN||z||||||F"),
     "DiagnosticReport", "result", "Observation", [1, 2]),
    (SCHEDULED, "Appointment", "participant", "Practitioner", [1]),  # AIP-3's
    # an OML order's each SPM: the first completes the OBR's Specimen, the next makes its own
    (message("OML^O21^OML_O21", PID, "ORC|NW|P1", OBR, "SPM|1|SP1", "SPM|2|SP2"), "ServiceRequest", "specimen",
     "Specimen", [2]),
    # specimens sent one after another ahead of an order are all its (OUL: SPM SPM OBR, then SPM SPM OBR)
    (message("OUL^R22^OUL_R22", PID, "SPM|1|SP1", "SPM|2|SP2", "OBR|1|P1||1-8^a^LN", "ORC|RE|P1"), "ServiceRequest",
     "specimen", "Specimen", [2]),
    (message("OUL^R22^OUL_R22", PID, "SPM|1|SP1", "OBR|1|P1||1-8^a^LN", "ORC|RE|P1", "SPM|2|SP2", "SPM|3|SP3",
             "OBR|2|P2||2-8^b^LN", "ORC|RE|P2"), "ServiceRequest", "specimen", "Specimen", [1, 2]),
    # lists longer than the engine walks (its members' table): each OBX a result, each DG1 a diagnosis, in order
    (observations(*[("NM", str(i)) for i in range(150)]), "DiagnosticReport", "result", "Observation", [150]),
    (message("ADT^A01^ADT_A01", PID, PV1, *(f"DG1|{i}||I{i}^D^I10" for i in range(150))), "Encounter",
     "diagnosis", "Condition", [150]),
    # ... each DG1's rows making its diagnosis before the link, each AIP's resource in its group's participant
    (message("ADT^A01^ADT_A01", PID, PV1, *(f"DG1|{i}||I{i}^D^I10|||A{'|' * 10}D{i}^DOC" for i in range(150))),
     "Encounter", "diagnosis", "Condition", [150]),
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", PID, *(s for i in range(150) for s in (
        f"RGS|{i}", f"AIL|{i}||R{i}^^^WARD", f"AIP|{i}||D{i}^DOC^ANN|||20240110||||||accepted"))),
     "Appointment", "participant", "Practitioner", [150]),
])
def test_links_from_repeating_segments_fill_lists(text, resource_type, element, target_type, sizes):
    bundle = check_bundle(fhir.to_json(text))
    urls = [e["fullUrl"] for e in bundle["entry"] if e["resource"]["resourceType"] == target_type]
    lists = [[u for u in references(resource[element]) if u in urls] for resource in entries(bundle, resource_type)]
    assert [len(x) for x in lists] == sizes
    assert sum(lists, []) == urls


# (the mapping's zone, a time sent, MSH-7, the Encounter's start): a time without an offset is in the zone the
# mapping names, at the offset its own date and hour had there, else in MSH-7's
@pytest.mark.parametrize("zone, sent, header, expected", [
    ("America/New_York", "20240105083000", "20240110120000", "2024-01-05T08:30:00-05:00"),
    ("America/New_York", "20240705083000", "20240110120000-0500", "2024-07-05T08:30:00-04:00"),
    ("America/New_York", "20240310023000", "20240110120000", "2024-03-10T02:30:00-05:00"),  # skipped: the offset before
    ("America/New_York", "20241103013000", "20240110120000", "2024-11-03T01:30:00-04:00"),  # repeated: the first
    ("America/New_York", "20240705083000+0100", "20240110120000", "2024-07-05T08:30:00+01:00"),  # its own kept
    ("-03:30", "202407050830", "20240110120000+0100", "2024-07-05T08:30:00-03:30"),
    (None, "20240705083000", "20240110120000+0100", "2024-07-05T08:30:00+01:00"),
])
def test_times_without_offset_take_the_zone(zone, sent, header, expected):
    text = message("ADT^A01^ADT_A01", PID, f"PV1|1|I{'|' * 42}{sent}").replace("20240110120000-0500", header)
    mapping = None if zone is None else fhir.Mapping.load(zone=zone)
    assert entries(fhir.to_dict(text, mapping=mapping), "Encounter")[0]["period"]["start"] == expected


@pytest.mark.parametrize("zone, error", [
    ("+15:00", "zone '+15:00': an offset is within 14 hours"),
    ("Europe/Nowhere", "zone 'Europe/Nowhere': not a time zone of the IANA database, nor an offset such as '-05:00'"),
])
def test_zone_errors(zone, error):
    with pytest.raises(ValueError) as raised:
        fhir.Mapping.load(zone=zone)
    assert str(raised.value) == error


def test_spark_option_zone(tmp_path):
    pytest.importorskip("pyspark")
    import vellomar.spark as spark  # in a task without a session
    source = tmp_path / "a.hl7"
    source.write_text(message("ADT^A01^ADT_A01", PID, f"PV1|1|I{'|' * 42}20240705083000"))
    options = spark._Options.parse({"path": str(source), "fhir": "true", "zone": "-03:30"})
    (task,) = spark._partitions([spark._Span(str(source), 0, source.stat().st_size)], 1 << 20)
    rows = [row for batch in spark._read(options, task) for row in zip(*batch.to_pydict().values())]
    assert [json.loads(r[2])["period"]["start"] for r in rows if r[0] == "Encounter"] == ["2024-07-05T08:30:00-03:30"]


@pytest.mark.parametrize("text, resource_type, element", [
    (message("OML^O21^OML_O21", PID, "ORC|NW|O1", OBR, "OBX|1|ST|8251-1^c^LN||v||||||F", "NTE|1|||||20240110"),
     "Observation", "note"),  # a note's time without its text
    (message("ADT^A01", "PID|1||ID1||DOE||19610615|Q"), "Patient", "gender"),  # a code FHIR's values lack
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", "NTE|1|||||20240110", "PID|1||ID1", "RGS|1", "AIS|1||C^Consult"),
     "Appointment", "extension"),  # an Annotation's time without its text: an extension without a value
    # a choice element takes one form, the first written (TQ1's Timing, not OBR-6's dateTime)
    (message("OML^O21^OML_O21", PID, "ORC|NW|O1", "TQ1|1||||||20240110", OBR.replace("||20240110", "|20240111|20240110")),
     "ServiceRequest", "occurrenceDateTime"),
    # OBX-11 "N" (not asked) says why a value is absent: not when one is sent
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||5||||||N"), "Observation", "dataAbsentReason"),
    # (nor in a later repetition: a field valued in any repetition is valued)
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||~5||||||N"), "Observation", "dataAbsentReason"),
    (ADT_A01, "Patient", "address.extension"),  # XAD-7's extension, which the tables give no url
    (TELECOMS, "Patient", "identifier.type.coding.system"),  # a code not of table 0203
    # SN's text only where no Quantity is, and not of nothing
    (observations(("SN", "<^10|mg"), ("SN", "^")), "Observation", "valueString"),
    (EVENT.replace("||01|", "||U|"), "Provenance", "reason"),  # EVN-4 "U": no reason
    (message("ADT^A01", "PID|1||ID1||DOE||19610615"), "Patient", "_birthDate"),  # a day: no birth time
    (message("ADT^A01", "PID|1||ID1||DOE||19610615-0500"), "Patient", "_birthDate"),  # (its offset no time)
    # XCN-14 (a proposed extension of the tables, not R4's) makes no Location nothing refers to
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "PV1|1|I|||||11^ATT^A" + "^" * 11 + "FAC"), "Location", "name"),
    (ADT_A01, "EpisodeOfCare", "diagnosis"),  # a DG1's context is its encounter: no episode of care
    (message("ADT^A01^ADT_A01", "PID|1||ID1"), "Account", "status"),  # no PID-18: no Account of nothing
    # a message without a table: an NTE as in the first table's first group that holds one, not also a document
    (message("DFT^P03^DFT_P03", PID, "NTE|1||a note"), "DocumentReference", "content"),
    # a code FHIR binds to its own values, sent as v2's (TXA-17's "AU", table 0271)
    (message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX" + "|" * 14 + "AU", "OBX|1|TX|||x||||||F"), "DocumentReference",
     "docStatus"),
    # a point of care alone: its Location has no physical type (the tables' is prose) and is part of nothing
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|5W"), "Location", "physicalType"),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|5W"), "Location", "partOf"),
    # OBR-2's namespace id (an EI's) is no check digit of the specimen's accession number
    (ORU_R01, "Specimen", "accessionIdentifier.extension"),
    # an OBR without an ORC in its order: no ServiceRequest
    (message("ORU^R01^ORU_R01", PID, OBR), "ServiceRequest", "code"),
    # a participant names its actor or its type: not an AIS's time alone, nor an AIL's without its location
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1", "RGS|1", "AIS|1||C^Consult|20240110"),
     "Appointment", "participant.period"),
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1", "RGS|1", "AIL|1|||||20240110"),
     "Appointment", "participant.period"),
    # ROL-4's person of a provider's role is a Practitioner alone: no Patient (suffixed) nor RelatedPerson of it
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE", "ROL|1|AD|AT^Attending^HL70443|12^DOC^ANN^^JR"), "Patient",
     "name.suffix"),
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE", "ROL|1|AD|AT^Attending^HL70443|12^DOC^ANN^^JR"), "RelatedPerson",
     "name"),
    # a day of birth sent with its precision (a TS before 2.6, "19610615^D"): no birth time
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||19610615^D"), "Patient", "_birthDate"),
    # SCH-12's participant type is a code still to be defined ("#placer contact#"): no system without it
    (message("SIU^S12^SIU_S12", "SCH|A1|F1" + "|" * 10 + "11^PLACER^P", "PID|1||ID1", "RGS|1"), "Appointment",
     "participant.type"),
    # a note the tables map to nothing where it stands (ORU's NTE after PID, after OBR) is no result's note
    (message("ORU^R01^ORU_R01", PID, "NTE|1||patient comment", "ORC|RE|PL1", OBR, "OBX|1|ST|1-8^a^LN||x||||||F"),
     "Observation", "note"),
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1", OBR, "NTE|1||order comment", "OBX|1|ST|1-8^a^LN||x||||||F"),
     "Observation", "note"),
    # TXA-6 is the document's date (an instant) with a time, the date extension without: a day is no midnight UTC
    (DOCUMENT.replace("TXA|1|DS|TX|||", "TXA|1|DS|TX|||20240110"), "DocumentReference", "date"),
    (DOCUMENT.replace("TXA|1|DS|TX|||", "TXA|1|DS|TX|||202401100930"), "DocumentReference", "extension"),
    # SCH-9's duration is minutesDuration only in minutes (SCH-10): two hours are no two minutes
    (message("SIU^S12^SIU_S12", "SCH|A1|F1|||||||2|h^hours^ISO+", "PID|1||ID1", "RGS|1"), "Appointment",
     "minutesDuration"),
    # a ROL after PID is the patient's (its primary care provider no participant of the stay), one after PV1 the
    # stay's (its attending doctor in no CareTeam of the patient)
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "ROL|1|AD|PP^Primary^HL70443|12^DOC^ANN", "PV1|1|I"), "Encounter",
     "participant"),
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "PV1|1|I", "ROL|1|AD|AT^Attending^HL70443|12^DOC^ANN"), "CareTeam",
     "participant"),
    # a PRT after PV1, which the tables map to nothing, is not the patient's (PID's rows): no CareTeam
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "PV1|1|I", "PRT|1|AD||AT^Attending^HL70912|12^DOC^ANN").replace(
        "|2.5.1", "|2.8"), "CareTeam", "participant"),
    # IN1-5 without IN1-4: an Organization of an address alone has no name or identifier (FHIR's org-1)
    (PAYER.replace("Acme Insurance", ""), "Organization", "address"),
    # AIG-3's Location only "if AIG-4 reflects a location", which no condition says: an equipment is none
    (message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1", "RGS|1", "AIG|1||R2|EQ^Equipment"), "Location",
     "identifier"),
    # an NK1 of an organisation by its contact role (NK1-7 "E", an employer) is a contact, no RelatedPerson
    (message("ADT^A01^ADT_A01", PID, "NK1|1|ACME CORP||||^WPN^PH^^1^555^1112222|E^Employer^HL70131"), "RelatedPerson",
     "name"),
    # OBR-2, the placer's number, is no accession identifier of the Specimen (the tables: "if" it is)
    (ORU_R01, "Specimen", "accessionIdentifier"),
    # a Device is no patient's (FHIR's Device.patient is the one it is affixed to): OBX-18's analyser
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||1||||||F|||||||AN1^Analyser"), "Device", "patient"),
    # OML's OBX of a specimen (SPECIMEN's own before 2.7), which the table maps to nothing: no supportingInfo
    (message("OML^O21^OML_O21", PID, "ORC|NW|P1", OBR, "SPM|1|SP1", "OBX|1|NM|1-8^a^LN||1||||||F"),
     "ServiceRequest", "supportingInfo"),
    # a response's code is FHIR's (not another of table 0008's), its identifier an id (not "M_1")
    (message("ACK^O01^ACK", "MSA|XX|M1"), "MessageHeader", "response"),
    (message("ACK^O01^ACK", "MSA|AA|M_1"), "MessageHeader", "response"),
    # a merge of patients (MRG-1) without the prior account number (MRG-3) makes no Account of nothing
    (message("ADT^A40^ADT_A39", "EVN|A40|20240110", "PID|1||ID1", "MRG|OLD1^^^GHH^MR"), "Account", "status"),
    (ENCODED, "Immunization", "route"),
    # AL1-4 / IAM-4 is the allergy's criticality, not also a reaction's severity
    (message("ADT^A01^ADT_A01", PID, "AL1|1|DA|1605^Penicillin|MO|Hives"), "AllergyIntolerance", "reaction.severity"),
    (message("ADT^A60^ADT_A60", PID, "IAM|1|DA|1605^Penicillin|SV|Hives"), "AllergyIntolerance", "reaction.severity"),
    # DG1-21's action code A (added) is no diagnosis entered in error (D is: the elements table)
    (message("ADT^A01^ADT_A01", PID, "DG1|1||I10^Hypertension^I10" + "|" * 18 + "A"), "Condition",
     "verificationStatus"),
    # a day is no instant (OBR-22's issued): left out and reported, not midnight UTC
    (message("ORU^R01^ORU_R01", PID, OBR + "|" * 15 + "20240110", "OBX|1|NM|1-8^a^LN||1||||||F"), "DiagnosticReport",
     "issued"),
    # OBX-30's sub-type: an extension R4 has not, which the table's comment says not to create yet
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||1||||||F" + "|" * 19 + "AOE"), "Observation",
     "extension"),
    # an NK1 of a relationship alone is no contact (FHIR's pat-1: a name, telecom, address or organization)
    (message("ADT^A04^ADT_A01", PID, "NK1|1||1" + "|" * 18 + "2"), "Patient", "contact"),
    (PLACED_23, "Location", "description"),  # 2.3's PL-9 is no description
    # a cancelled appointment needs no time (FHIR's app-3): none is written where none was sent
    (message("SIU^S12^SIU_S12", "SCH|A1|F1" + "|" * 23 + "Cancelled", "PID|1||ID1"), "Appointment", "_start"),
    # a field or repetition of nulls or separators alone holds no value: no row writes its constants (the
    # home telephone's use, the SSN's system, a participant's type, a placer group number's type)
    (message("ADT^A01^ADT_A01", "PID|1||ID1" + "|" * 10 + '""~~'), "Patient", "telecom"),
    (message("ADT^A01^ADT_A01", "PID|1||ID1" + "|" * 16 + '""'), "Patient", "identifier.system"),
    (message("ADT^A01^ADT_A01", "PID|1||ID1", "PV1|1|I|||||^^^^^|^^"), "Encounter", "participant"),
    (message("ORM^O01^ORM_O01", "PID|1||ID1", "ORC|NW|P1||&"), "ServiceRequest", "requisition"),
    # an identifier without its value names nothing: OBR-2's namespace alone (the type PLAC a constant),
    # PID-3's type alone
    (message("ORU^R01^ORU_R01", PID, "OBR|1|^EHR||24323-8^Panel^LN", "OBX|1|NM|1-8^a^LN||1||||||F"),
     "DiagnosticReport", "identifier"),
    (message("ADT^A01^ADT_A01", "PID|1||ID1~^^^^TEAM"), "Patient", "identifier.type"),
    # a telecom without its number names no way to reach anyone: a use and a kind alone
    (message("ADT^A01^ADT_A01", "PID|1||ID1||||||||||^PRN^PH"), "Patient", "telecom"),
    # a resource that holds nothing of the message once it is read is none, nor referred to: a point of care of
    # an identifier's type alone (a Location of its mode), an ORU's Specimen of no specimen field (its subject)
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|&&1"), "Location", "mode"),
    # so is one a segment made of its set id alone (the message's patient and stay are made whatever they hold):
    # no relation of its patient alone, no active allergy to nothing, no diagnosis of nothing in the stay
    (message("ADT^A01^ADT_A01", PID, "NK1|1"), "RelatedPerson", "patient"),
    (message("ADT^A01^ADT_A01", PID, "AL1|1"), "AllergyIntolerance", "clinicalStatus"),
    (message("ADT^A01^ADT_A01", PID, PV1, "DG1|1"), "Encounter", "diagnosis"),
    (message("ORU^R01^ORU_R01", PID, "OBR|1|PL1||24323-8^Panel^LN", "OBX|1|NM|1-8^a^LN||1||||||F"), "Observation",
     "specimen"),
    # an address's type in another case ("internet") makes the address the value, no number's part beside it
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^PRN^internet^a@b.c^^^1234567"), "Patient",
     "telecom.extension"),
    # (its country and area codes and extension neither)
    (message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^PRN^Internet^a@b.c^1^555^^89"), "Patient",
     "telecom.extension"),
    # an appointment of nothing (an empty SCH) is none, though PID filled in its patient as a participant
    (message("SIU^S12^SIU_S12", "SCH|", "PID|1||ID1", "RGS|1"), "Appointment", "participant"),
    # RXA-6 "999" is an amount not recorded, no dose of 999 (in RXA-7's unit)
    (message("VXU^V04^VXU_V04", PID, "RXA|0|1|20240110||08^HepB^CVX|999|mL^mL^UCUM"), "Immunization",
     "doseQuantity"),
    (message("VXU^V04^VXU_V04", PID, "RXA|0|1|20240110||08^HepB^CVX| 0999.00|mL^mL^UCUM"), "Immunization",
     "doseQuantity"),  # (compared as a number)
    # a care team's provider is no related person of the patient
    (message("ADT^A01^ADT_A01", PID, "PRT||AD||AT^Attending^HL70912|7777^ROSS"), "RelatedPerson", "patient"),
    # an order of one amount (RXO-2 alone) has no range's high of its unit alone
    (message("ORM^O01", PID, "ORC|NW|RX1", "RXO|00093-1234^Amoxicillin^NDC|500||mg"), "MedicationRequest",
     "dosageInstruction.doseAndRate.doseRange.high"),
    # a problem's note (PRB has no map) makes no order of the note alone
    (message("PPR^PC1", PID, PROBLEM, "NTE|1||Problem note"), "ServiceRequest", "note"),
    # nor is a timing alone an order, or a room a resource group books alone an appointment
    (message("DFT^P03^DFT_P03", PID, "TQ1|1||Q6H", "FT1|1"), "ServiceRequest", "occurrenceTiming"),
    (message("SRM^S01^SRM_S01", "ARQ|PL1", PID, "RGS|1", "AIL|1||XRAY1^^^RAD"), "Appointment", "participant"),
    # a procedure's surgeon is no participant of the stay (a message without a table: ROL after PR1, which
    # ADT_A01 maps to nothing)
    (message("BAR^P12^BAR_P12", "EVN|P12", PID, "PV1|1|I", "PR1|1||0DTJ4ZZ^Appendectomy^I10P||20240301",
             "ROL|R1|AD|SURG^Surgeon^HL70443|9999^CUTTER^CAL"), "Encounter", "participant"),
    # a DFT's DG1 outside its groups is the account's diagnosis, not the reason of the charge's order before it
    (message("DFT^P03^DFT_P03", "EVN|P03", PID, "PV1|1|O", "FT1|1|||20240301||CG|80053^CMP^CPT", "ORC|RE|P1", OBR,
             "DG1|1||E11.9^Diabetes^I10"), "ServiceRequest", "reasonReference"),
    # an immunization history's ORC is no order (its Immunization's)
    (message("RSP^K11^RSP_K11", "MSA|AA|Q1", PID, "ORC|RE||197023^CMC", "RXA|0|1|20240110||08^HepB^CVX"),
     "ServiceRequest", "intent"),
    # a drug given (RAS: RXA, RXR) is no immunization (no table maps it but VXU's)
    (message("RAS^O17^RAS_O17", PID, "ORC|RE|RX1", "RXA|0|1|20240110083000||00069-3150-83^Ceftriaxone^NDC|1|g",
             "RXR|IV^Intravenous^HL70162"), "Immunization", "vaccineCode"),
    # an order's reason is no diagnosis of the stay (a message without a table: DG1 after OBR)
    (message("OMG^O19^OMG_O19", PID, PV1, "ORC|NW|P1", OBR, "DG1|1||R07.9^Chest pain^I10"), "Encounter", "diagnosis"),
    # an end before its start (PV1-45 before PV1-44) is left out, the start kept
    (message("ADT^A03^ADT_A03", PID, "PV1|1|I" + "|" * 42 + "20240110120000|20240105120000"), "Encounter",
     "period.end"),
    # an order of nothing but its specimen is none: an ORC of nothing after an SPM (OUL), an ORC and OBR of
    # nothing before one (OML)
    (message("OUL^R22^OUL_R22", PID, "SPM|1|SP1", "ORC"), "ServiceRequest", "intent"),
    (message("OML^O21^OML_O21", PID, "ORC", "OBR|1", "SPM|1|SP1"), "ServiceRequest", "intent"),
    # a field of white space alone (a sender's padding) or a null padded holds nothing: PV1-7 no attender, an
    # NM no text of its unit alone
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I|||||  "), "Encounter", "participant"),
    (message("ADT^A01^ADT_A01", PID, 'PV1|1|I||||| "" '), "Encounter", "participant"),
    (observations(("NM", " |mg^^UCUM")), "Observation", "valueString"),
    # ... nor does a component of them: XTN-3 "" is no equipment type (no data-absent system beside email's)
    (message("ADT^A01^ADT_A01", 'PID|1||ID1||DOE' + "|" * 8 + '^NET^""^j@x.org'), "Patient", "telecom._system"),
    # a PID-19 of no SSN's form (a placeholder; an area of 9, another country's number) is under no SSN's system,
    # which would make every patient sent with it one
    *[(message("ADT^A01^ADT_A01", "PID|1||ID1||DOE" + "|" * 14 + ssn), "Patient", "identifier.system")
      for ssn in ("000-00-0000", "912345678", "1014071185^ON", "123-45-0000")],
    # a resource without a code the message does not send, holding nothing else than its numbers and status, goes
    (message("ORU^R01^ORU_R01", PID, OBR, "OBX|1||||||||||F"), "Observation", "code"),
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1", "OBR|1|PL1"), "DiagnosticReport", "code"),
    (message("ORM^O01", PID, "ORC|NW|RX1", "RXO|"), "MedicationRequest", "medicationCodeableConcept"),
    (message("ADT^A01^ADT_A01", PID, PV1, "IN1|1"), "Coverage", "payor"),
    # a parent's number of a namespace alone: basedOn's type alone refers to nothing
    (message("ORM^O01^ORM_O01", PID, "ORC|NW|P1", "OBR|1|||X^Y" + "|" * 25 + "&M"), "ServiceRequest", "basedOn"),
])
def test_elements_left_out(text, resource_type, element):
    def found(value, steps):
        if not steps:
            return True
        if isinstance(value, list):
            return any(found(v, steps) for v in value)
        return steps[0] in value and found(value[steps[0]], steps[1:])
    assert [r for r in entries(check_bundle(fhir.to_json(text)), resource_type) if found(r, element.split("."))] == []


# (message, the types of its resources nothing in the bundle refers to): a resource a row makes
# through a reference is referred to from there
@pytest.mark.parametrize("text, unreferenced", [
    (DIRECTED, {"Provenance", "DiagnosticReport"}),
    (LAB, {"Provenance", "DiagnosticReport"}),
    (FACILITY, {"Provenance"}),
    (EMPLOYER, {"Provenance", "RelatedPerson"}),
    (ORDERED_AT, {"Provenance"}),
    (COLLECTED, {"Provenance"}),
    # a second repetition of a field written into one element makes nothing (the field reported)
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I", "DG1|1||I10^Dx^I10" + "|" * 13 + "1234^SMITH^ANN~5678^JONES^BOB"),
     {"Provenance"}),
    (message("ADT^A01^ADT_A01", PID, "PV1|1|I", "PR1|1||P1^Proc^I10P||20240110" + "|" * 18 + "5W^502^2~6E^601^1"),
     {"Provenance", "Procedure"}),
    # OBX-15's producer is performer[2]: OBX-23's Organization is not made, its address OBX-15's
    (message("ORU^R01^ORU_R01", PID, OBR, PERFORMED.replace("|20240101||", "|20240101|12D0000000^^CLIA|")),
     {"Provenance", "DiagnosticReport"}),
    # a second PV1 (a PATIENT_RESULT of its own, without PID) is the one patient's stay: no Patient of nothing
    (message("ORU^R01^ORU_R01", PID, PV1, "PV1|2|O|W2^2^2||||5678^JONES"), {"Provenance", "Encounter"}),
    # a PRT's role that its link cannot name (the requester ORC-12 named; no Immunization yet) is not made
    (message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1" + "|" * 10 + "1234^SMITH", OBR, ORDERING_PRT),
     {"Provenance", "DiagnosticReport"}),
    (message("VXU^V04^VXU_V04", PID, "PRT||AD||AP^Administering^HL70912|5678^JONES", "ORC|RE||197023^CMC",
             "RXA|0|1|20240110||08^HepB^CVX|0.5|mL^mL^UCUM"), {"Provenance", "ServiceRequest", "Immunization"}),
    # a message without a table: an OMI's result within its order is the order's supportingInfo
    (message("OMI^O23^OMI_O23", PID, "ORC|NW|P1", "TQ1|||||||||R", OBR, "OBX|1|ST|1-8^a^LN||v||||||F",
             "NTE|1||Seen"), {"Provenance", "ServiceRequest"}),
    # nor what a value makes for a reference that cannot stand: a second PD1's practice (the element names the
    # first's), a note's author of an appointment that goes, a payor of a coverage that goes
    (message("ADT^A01^ADT_A01", PID, "PD1|||ORG1", "PD1|||ORG2"), {"Provenance", "Patient"}),
    (message("SIU^S12^SIU_S12", "NTE|1||note||1234^AUTHOR"), {"Provenance"}),
    (message("ADT^A01^ADT_A01", "IN1|1|PLAN1|ORG1|Acme Insurance"), {"Provenance"}),
    # nor what the later of two resources of one identifier named alone (PV1-17's NPI by its OID)
    (ONE_NPI, {"Provenance", "Encounter"}),
    # a report without OBR-4 and its result without OBX-3 (its text) stay, the one referring to the other
    (message("ORU^R01^ORU_R01", PID, "OBR|1|PL1", "OBX|1|TX|||Impression: normal||||||F"),
     {"Provenance", "DiagnosticReport"}),
])
def test_resources_made_through_references_are_referred_to(text, unreferenced):
    bundle = check_bundle(fhir.to_json(text))
    referred = set(references(bundle))
    assert {e["resource"]["resourceType"] for e in bundle["entry"] if e["fullUrl"] not in referred} == unreferenced


def test_message_forms_and_dict_agree():
    m = vellomar.parse(ORU_R01)
    text = fhir.to_json(m)
    assert fhir.to_json(ORU_R01) == fhir.to_json(ORU_R01.encode()) == text
    # bytes as files and frames hold them: a byte-order mark before the MSH or the frame is no part of it
    raw, bom, sb, eb = ORU_R01.encode(), b"\xef\xbb\xbf", b"\x0b", b"\x1c\r"
    assert {fhir.to_json(b) for b in (bom + raw, sb + raw + eb, sb + bom + raw + eb, bom + sb + raw + eb)} == {text}
    assert fhir.to_dict(m) == json.loads(text)
    assert fhir.convert(m).json == text


def test_ids_are_stable_across_events_of_one_stay():
    a01 = fhir.to_dict(ADT_A01)
    a08 = fhir.to_dict(ADT_A01.replace("ADT^A01^ADT_A01|M1", "ADT^A08^ADT_A01|M2"))
    for resource_type in ("Patient", "Encounter"):
        assert entries(a01, resource_type)[0]["id"] == entries(a08, resource_type)[0]["id"]
    # a PL's Locations (bed, room, point of care, facility) too; bed 2 of room 503 is another bed, in
    # another room of the same point of care
    placed = [[r["id"] for r in entries(fhir.to_dict(t), "Location")]
              for t in (PLACED, PLACED.replace("ADT^A01^ADT_A01|M1", "ADT^A08^ADT_A01|M2"),
                        PLACED.replace("5W^502^2^GHH", "5W^502^2^GHH|||5W^503^2^GHH"))]
    assert len(placed[0]) == 4 and placed[1] == placed[0]
    assert placed[2][:4] == placed[0] and len(set(placed[2])) == 6
    # the Coverage of PV1-20 the first IN1 completes is keyed as that IN1's own would be
    second_only = INSURED.replace("IN1|1|PLAN1|ORG1|Acme Insurance\r", "")
    coverages = [[c["id"] for c in entries(fhir.to_dict(t), "Coverage")]
                 for t in (INSURED, INSURED.replace("|M1|", "|M2|"), second_only)]
    assert coverages[0] == coverages[1] and coverages[2] == coverages[0][1:]
    assert entries(a01, "MessageHeader")[0]["id"] != entries(a08, "MessageHeader")[0]["id"]
    # an order without numbers: the request its ORC made is keyed by the patient alone; a report
    # and a result whose key fields are all empty are keyed by their message
    unnumbered = message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE", "OBR|1|||^Panel", "OBX|1|ST|^Sugar||x||||||F")
    sent = [fhir.to_dict(unnumbered.replace("|M1|", m)) for m in ("|M1|", "|M2|")]
    assert [entries(sent[0], t)[0]["id"] == entries(sent[1], t)[0]["id"]
            for t in ("ServiceRequest", "DiagnosticReport", "Observation")] == [True, False, False]
    # a control id names a message among its sender's alone: another sender's (MSH-3, MSH-4) or another
    # time's (MSH-7) "M1", or two messages without one, are other messages; the same sent again is the same
    stay = message("ADT^A01^ADT_A01", "PID|1||ID1", "PV1|1|I")
    keyed = [[entries(fhir.to_dict(t), r)[0]["id"] for r in ("MessageHeader", "Encounter")]
             for t in (stay, stay, stay.replace("|APP|", "|LAB|"), stay.replace("|GOOD HEALTH HOSPITAL|EHR", "|GHH|EHR"),
                       stay.replace("20240110120000", "20240111120000"), stay.replace("|M1|", "||"),
                       stay.replace("|M1|", "||").replace("ID1", "ID2"))]
    assert keyed[0] == keyed[1] and len({tuple(k) for k in keyed}) == 6
    # one without a control id is named by its segments, whatever ends them (as a reader cuts it from a
    # file of LF or CRLF line ends, without the last)
    bare = stay.replace("|M1|", "||")
    assert {fhir.to_dict(t)["id"] for t in (bare, bare.rstrip("\r"), bare.replace("\r", "\n"),
                                            bare.replace("\r", "\r\n") + "\r\n", f"\x0b{bare}\x1c\r")} == {
        fhir.to_dict(bare)["id"]}
    # pinned: ids written once must never change (the namespace, the key)
    assert entries(a01, "Patient")[0]["id"] == str(uuid.uuid5(
        uuid.UUID("4f0d8c5e-6a1b-4c7e-9b2d-3e5f7a9c1d20"), "Patient|PATID1234|GOOD HEALTH HOSPITAL|"))
    # a role made for a list element is keyed by its field too: OBX-25's director keeps its id whether or
    # not OBX-16's observer, the Observation's other performer, is sent
    directed = [{r["practitioner"]["reference"]: r["id"] for r in entries(fhir.to_dict(message(
        "ORU^R01^ORU_R01", PID, OBR, "OBX|1|NM|1-8^a^LN||5||||||F" + "|" * 5 + observer + "|" * 9 + "99^DIR^DAN")),
        "PractitionerRole")} for observer in ("", "55^OBS^OLLY")]
    assert len(directed[1]) == 2 and directed[0].items() < directed[1].items()
    obx = ORU_R01.split("\r")[-3]  # sent twice: one key, two resources, two ids
    assert len({o["id"] for o in entries(check_bundle(fhir.to_json(ORU_R01.replace(obx, obx + "\r" + obx))),
                                            "Observation")}) == 3


@pytest.mark.parametrize("text, moved, resource_types", [
    # an Immunization an ORC made is keyed by its RXA, not by MSH-10
    (VXU_V04, VXU_V04.replace("|M1|", "|M2|"), ["Immunization"]),
    # what segments ahead of PID made takes PID's key as in the usual order
    (message("ADT^A01^ADT_A01", PID, "NK1|1|ONE^A|SPO", PV1),
     message("ADT^A01^ADT_A01", "NK1|1|ONE^A|SPO", PV1, PID, control_id="M2"), ["Patient", "RelatedPerson", "Encounter"]),
    (message("ADT^A01^ADT_A01", PID, "PD1|||C^^1", PV1),
     message("ADT^A01^ADT_A01", "PD1|||C^^1", PID, PV1, control_id="M2"), ["Patient", "Encounter"]),
    # two of them ahead of PID (PV1) fill its Patient (Encounter) both, as after it
    (message("ADT^A01^ADT_A01", PID, "NK1|1|ONE^A|SPO", "NK1|2|TWO^B|SPO", PV1),
     message("ADT^A01^ADT_A01", "NK1|1|ONE^A|SPO", "NK1|2|TWO^B|SPO", PID, PV1, control_id="M2"),
     ["Patient", "RelatedPerson", "Encounter"]),
    (message("ADT^A01^ADT_A01", PID, PV1, "DG1|1||I10^x^I10", "DG1|2||I11^y^I10"),
     message("ADT^A01^ADT_A01", PID, "DG1|1||I10^x^I10", "DG1|2||I11^y^I10", PV1, control_id="M2"),
     ["Patient", "Encounter", "Condition"]),
    # a result of an order without numbers is keyed by its own code alone
    (message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE", "OBR|1|||^Panel", "OBX|1|ST|1-8^Sugar^LN||x||||||F"),
     message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE", "OBR|1|||^Panel", "OBX|1|ST|1-8^Sugar^LN||x||||||F",
             control_id="M2"), ["Observation"]),
    # a result without OBX-3 (a report's text) is keyed by its order: the final one is the preliminary one
    (message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE|P1", "OBR|1|P1||A^a^L", "OBX|1|TX|||Preliminary||||||P"),
     message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE|P1", "OBR|1|P1||A^a^L", "OBX|1|TX|||Final||||||F",
             control_id="M2"), ["Observation"]),
    # a merge's prior account (MRG-3) is the Account its number names, as PID-18's
    (message("ADT^A40^ADT_A39", "EVN|A40", "PID|1||ID1", "MRG|ID0||ACC100"),
     message("ADT^A08^ADT_A01", "PID|1||ID1" + "|" * 15 + "ACC100", control_id="M2"), ["Account"]),
    # an allergy an A60's IAM updates is the one an AL1 of its allergen sent
    (message("ADT^A60^ADT_A60", "EVN|A60", "PID|1||ID1", "IAM|1|DA|70618^Penicillin^RXNORM|SV|Hives|A"),
     message("ADT^A08^ADT_A01", "PID|1||ID1", "AL1|1|DA|70618^Penicillin^RXNORM|SV|Hives", control_id="M2"),
     ["AllergyIntolerance"]),
    # a patient a 2.2 sender names by PID-2 alone (PID-3 empty) is keyed by that number
    (message("ADT^A01^ADT_A01", "PID|1|555123||||DOE^J", "PV1|1|I" + "|" * 17 + "V77").replace("|2.5.1", "|2.2"),
     message("ADT^A08^ADT_A01", "PID|1|555123||||DOE^J", "PV1|1|I" + "|" * 17 + "V77",
             control_id="M2").replace("|2.5.1", "|2.2"), ["Patient", "Encounter"]),
    # an order's ids do not depend on the orders ahead of it: an ORC's number is not the OBR's
    # of the order before
    (message("ORM^O01^ORM_O01", "PID|1||ID1", "ORC|NW|PL1|F1", "OBR|1|PL1|F1|A^a^L", "ORC|NW|PL2",
             "OBR|2|PL2||B^b^L"),
     message("ORM^O01^ORM_O01", "PID|1||ID1", "ORC|NW|PL2", "OBR|2|PL2||B^b^L", "ORC|NW|PL1|F1",
             "OBR|1|PL1|F1|A^a^L", control_id="M2"), ["ServiceRequest"]),
    (message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE|PL1|F1", "OBR|1|PL1|F1|A^a^L", "OBX|1|NM|1-8^x^LN||1||||||F",
             "ORC|RE|PL2", "OBR|2|PL2||B^b^L", "OBX|1|NM|1-8^x^LN||2||||||F"),
     message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE|PL2", "OBR|2|PL2||B^b^L", "OBX|1|NM|1-8^x^LN||2||||||F",
             "ORC|RE|PL1|F1", "OBR|1|PL1|F1|A^a^L", "OBX|1|NM|1-8^x^LN||1||||||F", control_id="M2"),
     ["ServiceRequest", "DiagnosticReport", "Observation"]),
    # the sample an order's OBR describes (no SPM) is one in its preliminary and its final results
    (message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE|PL1|F1", "OBR|1|PL1|F1|A^a^L|||20240101120000-0500" + "|" * 18
             + "P", "OBX|1|NM|1-8^x^LN||1||||||P"),
     message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE|PL1|F1", "OBR|1|PL1|F1|A^a^L|||20240101120000-0500" + "|" * 18
             + "F", "OBX|1|NM|1-8^x^LN||2||||||F", control_id="M2"), ["Specimen", "Observation"]),
    # an order keeps its placer's number's id when the filler's comes with its results
    (message("ORM^O01^ORM_O01", "PID|1||ID1", "ORC|NW|P1", "OBR|1|P1||A^a^L"),
     message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE|P1|F1", "OBR|1|P1|F1|A^a^L", "OBX|1|NM|1-8^x^LN||1||||||F",
             control_id="M2"), ["ServiceRequest"]),
    (message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE|P1", "OBR|1|P1||A^a^L" + "|" * 21 + "P",
             "OBX|1|NM|1-8^x^LN||1||||||P"),
     message("ORU^R01^ORU_R01", "PID|1||ID1", "ORC|RE|P1|F1", "OBR|1|P1|F1|A^a^L" + "|" * 21 + "F",
             "OBX|1|NM|1-8^x^LN||2||||||F", control_id="M2"),
     ["ServiceRequest", "DiagnosticReport", "Observation"]),
])
def test_ids_do_not_depend_on_the_control_id_or_the_order(text, moved, resource_types):
    for resource_type in resource_types:
        assert (sorted(r["id"] for r in entries(check_bundle(fhir.to_json(text)), resource_type)) ==
                sorted(r["id"] for r in entries(check_bundle(fhir.to_json(moved)), resource_type)))


def test_transaction_entries_are_conditional_on_identifiers_with_a_system():
    # a value without a system is no condition: it would match (and the update overwrite) that value in every
    # system, another facility's patient or bed 01 of every room; the id names the one resource
    bundle = fhir.to_dict(ADT_A01, bundle_type="transaction")
    requests = {e["resource"]["resourceType"]: e["request"] for e in bundle["entry"]}
    ids = {e["resource"]["resourceType"]: e["fullUrl"].removeprefix("urn:uuid:") for e in bundle["entry"]}
    assert [requests[t] for t in ("Patient", "Location")] == [
        {"method": "PUT", "url": f"{t}/{ids[t]}"} for t in ("Patient", "Location")]
    licensed = ADT_A01.replace(PID, PID + "|" * 7 + "67-A4335^OH")  # PID-20, the driver's license: urn:id:OH
    bundle = fhir.to_dict(licensed, bundle_type="transaction")
    requests = {e["resource"]["resourceType"]: e["request"] for e in bundle["entry"]}
    assert requests["Patient"]["url"] == "Patient?identifier=urn%3Aid%3AOH%7C67-A4335"
    # its resource goes without an id: a server updates the one the identifier matches (another id beside it
    # would be refused) or makes one; references to the entry's fullUrl follow
    assert "id" not in entries(bundle, "Patient")[0] and "id" in entries(bundle, "Encounter")[0]
    bundle = fhir.to_dict(ADT_A01.replace("|EHR|", "|^1.2.3^ISO|"), bundle_type="transaction")
    requests = {e["resource"]["resourceType"]: e["request"] for e in bundle["entry"]}
    # a resource a message names in passing (an application, an assigning authority, a practitioner): a
    # conditional create, which leaves a server's own record as it is; system|value (a URI)
    assert requests["Device"] == {"method": "POST", "url": "Device",
                                  "ifNoneExist": "identifier=urn%3Aietf%3Arfc%3A3986%7Curn%3Aoid%3A1.2.3"}
    header = entries(bundle, "MessageHeader")[0]
    assert requests["MessageHeader"] == {"method": "PUT", "url": f"MessageHeader/{header['id']}"}
    # a Coverage's identifier is its plan's (IN1-2), every member's: no condition
    bundle = fhir.to_dict(message("ADT^A01^ADT_A01", PID, "IN1|1|PLAN1^Gold^L|ORG1|Acme"), bundle_type="transaction")
    (coverage,) = [e for e in bundle["entry"] if e["resource"]["resourceType"] == "Coverage"]
    assert coverage["request"] == {"method": "PUT", "url": f"Coverage/{coverage['resource']['id']}"}
    # nor is an identifier two Patients kept apart share (two MRNs of one hospital, one SSN): it would match one
    bundle = fhir.to_dict(ONE_SSN.replace("ID2^^^SSA^SS", "ID2^^^GHH^MR"), bundle_type="transaction")
    assert [e["request"]["url"] for e in bundle["entry"] if e["resource"]["resourceType"] == "Patient"] == [
        f"Patient/{e['fullUrl'].removeprefix('urn:uuid:')}" for e in bundle["entry"]
        if e["resource"]["resourceType"] == "Patient"]


@given(st.text(st.sampled_from("@AZ[`az{/09:-._~^&|\\%+é,$"), min_size=1).filter(lambda v: v != '""'))
def test_transaction_urls_percent_encode_all_but_unreserved_characters(value):
    text = message("ADT^A01", "PID|1||ID1" + "|" * 17 + vellomar.escape(value, "^~\\&") + "^OH")
    (request,) = [e["request"] for e in fhir.to_dict(text, bundle_type="transaction")["entry"]
                  if e["resource"]["resourceType"] == "Patient"]
    # (a token's backslash, bar, comma and dollar escaped by a backslash first: FHIR's search)
    token = re.sub(r"([\\|,$])", r"\\\1", value)
    assert request["url"] == "Patient?identifier=urn%3Aid%3AOH%7C" + urllib.parse.quote(token, safe="")


def test_unmapped_content_is_reported():
    text = ADT_A01.replace(PID, PID + "|" * 9 + "X") + "ZPI|1|private\rPV2|||^Chest pain\r"
    assert [u for u in fhir.convert(text).unmapped if u.startswith(("ZPI", "PID"))] == [
        "ZPI", "PID-22"]  # PID-22, the segment's last field, too
    # a set id numbering its segment as its place among its name's (in the group they repeat in: OBX in its
    # order, PR1 in the message; or in the message) is not reported, another number is; so is an EVN-1 that
    # is not MSH-9's event
    numbered = "ORU^R01^ORU_R01", "PID|1||ID1", "OBR|1|P1||1-8^a^LN", "OBX|{}|ST|1-8^a^LN||x||||||F", "OBR|2|P2||1-8^a^LN"
    assert [[u for u in fhir.convert(t).unmapped if u[:3] in ("EVN", "PID", "NK1", "OBR", "OBX", "PR1", "PV1")] for t in [
        message("ADT^A01^ADT_A01", "EVN|A01", "PID|1||ID1", "NK1|1|DOE^A", "NK1|2|DOE^B"),
        message("ADT^A01^ADT_A01", "EVN|A08", "PID|2||ID1", "NK1|5|DOE^A", "NK1|6|DOE^B"),
        message("ADT^A01^ADT_A01", "EVN| A01 ", "PID|1||ID1", "NK1|1|DOE^A", "NK1|1|DOE^B"),
        message(*numbered[:4]).format(1) + numbered[4] + "\r" + numbered[3].format(1) + "\r",
        message(*numbered[:4]).format(1) + numbered[4] + "\r" + numbered[3].format(2) + "\r",
        message(*numbered[:4]).format(2) + numbered[4] + "\r" + numbered[3].format(3) + "\r",
        message("ADT^A01^ADT_A01", "PID|1||ID1", "PR1|1||1-8^a^I10P", "PR1|2||1-8^b^I10P"),
        message("ADT^A01^ADT_A01", "PID|1||ID1", "PR1|2||1-8^a^I10P", "PR1|1||1-8^b^I10P"),
        # two patients one after the other (an A17's swap): each one's PV1 is its first
        message("ADT^A17^ADT_A17", "EVN|A17", "PID|1||ID1", "PV1|1|I", "PID|2||ID2", "PV1|1|I"),
        message("ADT^A17^ADT_A17", "EVN|A17", "PID|1||ID1", "PV1|1|I", "PID|1||ID2", "PV1|3|I"),
        message("ORU^R01^ORU_R01", "PID|1||ID1", "OBR|0|P1||1-8^a^LN")]] == [
        [], ["EVN-1", "PID-1", "NK1-1"], ["NK1-1"], [], [], ["OBX-1"], [], ["PR1-1"], [], ["PID-1", "PV1-1"],
        ["OBR-1"]]
    assert "NTE" in fhir.convert(message("ORU^R01^ORU_R01", PID, OBR, "NTE|1||order note")).unmapped
    # a second RXR of one order (the route of its dosage is the first's) is reported
    assert "RXR" in fhir.convert(message("ORM^O01", PID, "ORC|NW|RX1", "RXO|00093-1234^Amoxicillin^NDC|500",
                                         "RXR|PO", "RXR|IV")).unmapped
    # OBR-16's rows hold where ORC-12 is not valued: the same provider in both is written through ORC-12
    # (also sent with empty components at its end, padded, or escaped otherwise; or in 2.8, whose ORU holds
    # the ORC in a group of its own ahead of the OBR), another one is reported
    assert [[u for u in fhir.convert(message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1" + "|" * 10 + "1234^SMITH",
                                             OBR + "|" * 9 + ordering).replace("|2.5.1", "|" + version))
             .unmapped if u.startswith("OBR-16")]
            for ordering, version in (("1234^SMITH", "2.5.1"), ("1234^SMITH^^^", "2.5.1"), (" 1234&^SMITH ", "2.5.1"),
                                      ("1234^\\X53\\MITH", "2.5.1"), ("9999^OTHER", "2.5.1"), ("1234^SMITH", "2.8"),
                                      ("9999^OTHER", "2.8"))
            ] == [[], [], [], [], ["OBR-16"], [], ["OBR-16"]]
    # RXA-11 beside RXA-27 (2.7: the location RXA-27 names), or withdrawn (2.8), is reported
    assert [[u for u in fhir.convert(message("VXU^V04^VXU_V04", PID, "ORC|RE", "RXA|0|1|20240110||08^HepB^CVX"
                                             + "|" * 6 + "^^^A" + "|" * 16 + rxa27).replace("|2.5.1", "|" + version))
             .unmapped if u == "RXA-11"] for version, rxa27 in (("2.5.1", ""), ("2.7", "^^^B"), ("2.8", ""))] == [
        [], ["RXA-11"], ["RXA-11"]]
    # a message of no sending facility makes no Provenance of its source (it would name no agent): nothing to
    # report of it; MSH-7 is the bundle's timestamp, reported where that cannot take it
    assert [[u for u in fhir.convert(message("ADT^A01^ADT_A01", PID).replace("GOOD HEALTH HOSPITAL|EHR", "|EHR", 1)
                                     .replace("20240110120000-0500", sent, 1)).unmapped
             if u.startswith(("MSH-7", "Provenance"))] for sent in ("20240110120000-0500", "20240110")] == [
        [], ["MSH-7 '20240110' (not an instant)"]]
    assert "IN1-15" in fhir.convert(COVERED).unmapped
    # a composite the tables read as a primitive is read by its first piece, the rest reported (SPM-2's EIP.1,
    # an EI since 2.5: its authority); not a TS's degree of precision, nor a coded value's text (a category)
    assert [[u for u in fhir.convert(message(structure, PID, *segments)).unmapped if u[:3] in ("SPM", "PID", "AL1")]
            for structure, segments in (
                ("ORU^R01^ORU_R01", (OBR, "OBX|1|NM|1-8^a^LN||5||||||F", "SPM|1|X||119339001^Stool^SCT")),
                ("ORU^R01^ORU_R01", (OBR, "OBX|1|NM|1-8^a^LN||5||||||F", "SPM|1|X&EHR&1.2.3&ISO||119339001^a^SCT")),
                ("ADT^A01^ADT_A01", ("AL1|1|DA^Drug allergy^HL70127|1-8^Peanut^L",)))] == [[], ["SPM-2"], []]
    assert "PID-7" not in fhir.convert(ADT_A01.replace("|19610615|", "|19610615^D|")).unmapped
    # a quantity holds its value: OBX-6's unit beside no OBX-5 is no valueQuantity (reported); beside a value that
    # is no number, the valueString holds both
    converted = [fhir.convert(message("ORU^R01^ORU_R01", PID, OBR, f"OBX|1|NM|1-8^a^LN||{value}|mg|||||F"))
                 for value in ("", "<0.5")]
    assert [[u for u in c.unmapped if u.startswith(("OBX", "Observation"))] for c in converted] == [
        ["Observation.valueQuantity without value (from OBX)"], ["OBX-5 '<0.5' (not a decimal)"]]
    assert [[k for k in entries(json.loads(c.json), "Observation")[0] if k.startswith("value")]
            for c in converted] == [[], ["valueString"]]
    # what the later of two resources of one identifier holds otherwise is reported: its field where a value
    # made it, its element where a segment did
    assert [[u for u in fhir.convert(t).unmapped if u.startswith(("PV1-17", "Patient."))] for t in [
        ONE_NPI, ONE_SSN.replace("^Q||19700101", "^Q||19700102")]] == [
        ["PV1-17"], ["Patient.birthDate of another value (from PID)"]]
    # ... and so is an identifier both hold (the one SSN's driver's license) of another expiry, not one whose
    # expiry one of them lacks (the other's is taken)
    head, middle, tail = ONE_SSN.split("123-45-6789\r")
    assert [[u for u in fhir.convert(f"{head}123-45-6789|DL1^NC{a}\r{middle}123-45-6789|DL1^NC{b}\r{tail}").unmapped
             if u.startswith("Patient.")] for a, b in [("^20251231", "^20261231"), ("^20251231", ""), ("", "^20251231")]] == [
        ["Patient.identifier of another value (from PID)"], [], []]
    # a value naming a resource another map made of the same text (MSH-22's XON, a name; PID-3's assigning
    # authority HD, an identifier) is reported: the resource is the first's; not where both maps write it alike
    # (OBX-15's CWE and MSH-4's HD "BN", each the Organization's identifier), unless it holds more components
    # (CWE.2 a name, HD.2 a universal id)
    assert [u for u in fhir.convert(message("VXU^V04^VXU_V04", "PID|1||ID1^^^STATEIIS^SR").replace(
        "|2.5.1", "|2.5.1" + "|" * 10 + "STATEIIS", 1)).unmapped if u.startswith(("PID-3", "MSH-22"))] == ["PID-3"]
    assert [[u for u in fhir.convert(message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|1-8^a^LN||v||||||F||||" + lab)
                                     .replace("GOOD HEALTH HOSPITAL", lab, 1)).unmapped if u == "OBX-15"]
            for lab in ("BN", "BN^LAB")] == [[], ["OBX-15"]]
    # an offset its FHIR form has no place for (a time of day, a day) is reported, unless a row writes it beside
    assert [[u for u in fhir.convert(t).unmapped if "offset" in u] for t in [
        message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|TM|1-8^x^LN||123045-0500||||||F"), BORN,
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE^J||19610615-0500")]] == [
        ["OBX-5 '123045-0500' (offset left out)"], [], ["PID-7 '19610615-0500' (offset left out)"]]
    # so is the field whose value made a resource nothing refers to at the end, or one that holds nothing but
    # the constants of the row that made it (SPM-3's parent of no entity id: an identifier's type alone)
    assert [[u for u in fhir.convert(t).unmapped if u in ("PD1-3", "NTE-5", "IN1-4", "SPM-3")] for t in [
        message("ADT^A01^ADT_A01", PID, "PD1|||ORG1", "PD1|||ORG2"), message("SIU^S12^SIU_S12", "NTE|1||note||1234^AU"),
        message("ADT^A01^ADT_A01", "IN1|1|PLAN1|ORG1|Acme Insurance"), message("ADT^A01^ADT_A01", PID, "PD1|||ORG1"),
        INSURED, message("OUL^R22^OUL_R22", PID, "SPM|1|S1|&LAB&1.2.3"), message("OUL^R22^OUL_R22", PID, "SPM|1|S1|S0")]
            ] == [["PD1-3"], ["NTE-5"], ["IN1-4"], [], [], ["SPM-3"], []]
    # ... one whose only reference went with the element holding it too (PID-3's assigner of an identifier without
    # its value): it is not in the bundle
    assert [([o["identifier"] for o in entries(json.loads(c.json), "Organization") if o["identifier"][0]["value"] == "TEAM"],
             [u for u in c.unmapped if u.startswith("PID-3")])
            for c in (fhir.convert(message("ADT^A01^ADT_A01", "PID|1||" + ids)) for ids in
                      ("^^^TEAM", "ID1^^^GHH~^^^TEAM", "ID1^^^TEAM"))] == [
        ([], ["PID-3"]), ([], ["PID-3"]), ([[{"value": "TEAM"}]], [])]
    # a PRT's role whose link finds its element taken (ORC-12's requester) is reported, not made, unless it names
    # the same person (its role code is the requester's)
    assert [[u for u in fhir.convert(message("ORU^R01^ORU_R01", PID, "ORC|RE|PL1" + "|" * 10 + "1234^SMITH", OBR,
                                             ORDERING_PRT.replace("5678^JONES^ANN", person))).unmapped
             if u in ("PRT-4", "PRT-5")] for person in ("5678^JONES^ANN", "1234^SMITH")] == [["PRT-4", "PRT-5"], []]
    # a component its rows read whose conditions none held is reported as its field: a unit's code without a
    # coding system beside its text (CWE.1 is the Quantity's code only with CWE.3, its unit only without CWE.2);
    # a repeat pattern's phase (RPT.3, a day of the week only where RPT.2 aligns it so); a duration's units of
    # their text alone (AIL-10 "^minutes": no code, the amount taken as minutes)
    assert [[u for u in fhir.convert(t).unmapped if u in ("OBX-6", "TQ1-3", "AIL-10")] for t in [
        observations(("NM", "5|mg^milligram")), observations(("NM", "5|mg^milligram^UCUM")), observations(("NM", "5|mg")),
        message("OML^O21^OML_O21", PID, "ORC|NW|P1", "TQ1|1||Q6H^^1", "OBR|1|P1||1-8^a^LN"),
        message("OML^O21^OML_O21", PID, "ORC|NW|P1", "TQ1|1||Q6H^^^^6^h", "OBR|1|P1||1-8^a^LN"),
        *(DURATIONS.replace("|||45", "|||45|" + units) for units in ("^minutes", "min^minutes", '""'))]] == [
        ["OBX-6"], [], [], ["TQ1-3"], [], ["AIL-10"], [], []]
    # a question (OBX-29 QST) is its own order's supportingInfo: in an order without ORC, which makes no
    # ServiceRequest, it stays the patient's Observation, reported, not the order before's
    second = [OBR.replace("PL123", "PL2").replace("FL456", "FL2"), "OBX|1|ST|8251-1^Fasting^LN||Y||||||F" + "|" * 18 + "QST"]
    assert [([u for u in conversion.unmapped if " referred to by " in u],
             [len(r.get("supportingInfo", [])) for r in entries(json.loads(conversion.json), "ServiceRequest")])
            for orders in ([], ["ORC|RE|PL123", OBR], ["ORC|RE|PL123", OBR, "ORC|RE|PL2"])
            for conversion in [fhir.convert(message("ORU^R01^ORU_R01", PID, *orders, *second).replace("|2.5.1", "|2.8"))]
            ] == [(["Observation referred to by no ServiceRequest.supportingInfo (from OBX)"], []),
                  (["Observation referred to by no ServiceRequest.supportingInfo (from OBX)"], [0]), ([], [0, 1])]
    # but a report its ORC made and its OBR took, in the order's next occurrence after a stray NTE, holds
    # its results
    split = fhir.convert(message("ORU^R01^ORU_R01", PID, "ORC|RE|PL123", "NTE|1||note", OBR,
                                 "OBX|1|ST|8251-1^Fasting^LN||Y||||||F"))
    assert [len(r["result"]) for r in entries(json.loads(split.json), "DiagnosticReport")] == [1]
    assert [u for u in split.unmapped if " referred to by " in u] == []
    # a drug given, which no table maps (RAS: RXA and its RXR), is reported whole
    assert {"RXA", "RXR"} <= set(fhir.convert(message("RAS^O17^RAS_O17", PID, "ORC|RE|RX1", "RXA|0|1|20240110||"
                                                      "00069-3150-83^Ceftriaxone^NDC|1|g", "RXR|IV")).unmapped)
    # a note of what no row of its name notes (a problem's) is reported whole
    assert "NTE" in fhir.convert(message("PPR^PC1", PID, PROBLEM, "NTE|1||Problem note")).unmapped
    # and one of a procedure's ROL, where ADT_A01 lists ROL without a map; of a problem's or a charge's, which
    # no row maps (no CareTeam, general practitioner or participant of the stay); one of the stay maps
    assert [[u for u in fhir.convert(message(kind, *segments, "ROL|R1|AD|" + role + "|9999^CUTTER^CAL")
                                     .replace("|2.5.1", "|2.8")).unmapped if u in ("ROL", "PRT")]
            for kind, segments, role in [
                ("BAR^P12^BAR_P12", ("EVN|P12", PID, "PV1|1|I", "PR1|1||0DTJ4ZZ^Appy^I10P"), "SURG^Surgeon^HL70443"),
                ("PPR^PC1^PPR_PC1", (PID, "PV1|1|I", PROBLEM), "AT"), ("PPR^PC1^PPR_PC1", (PID, PROBLEM), "PP"),
                ("DFT^P03^DFT_P03", ("EVN|P03", PID, "PV1|1|I", "FT1|1", "PRT|1|AD||AT|1234^SMITH"), "AT"),
                ("DFT^P03^DFT_P03", ("EVN|P03", PID, "PV1|1|I"), "AT")]] == [
        ["ROL"], ["ROL"], ["ROL"], ["PRT", "ROL"], []]
    # so is a timing or a resource booked where no order or appointment stands to take it
    assert {"TQ1", "AIL"} <= set(fhir.convert(message("SRM^S01^SRM_S01", "ARQ|PL1", PID, "TQ1|1||Q6H", "RGS|1",
                                                     "AIL|1||XRAY1^^^RAD")).unmapped)
    assert "AIL-3" in fhir.convert(ROOMED.format("^^^^^Other name")).unmapped  # (the room's first description stays)
    assert "PV1-17" in fhir.convert(message("ADT^A01^ADT_A01", "PID|1||ID1", DOCTORS.format("1234^JONES^JOHN"))).unmapped
    # a segment none of whose rows held (a merge by the prior patient id alone, no MRG-3) has its fields reported,
    # whatever another of its name wrote of them (a ROL of a role no row takes before one of a person alone); so
    # is a field no row wrote anything of, whatever constants another segment's wrote (DG1-21 "X" after "D"), or
    # whose rows write constants alone (IN3-21's case manager: the CareTeam a ROL made keeps the role alone)
    assert [[u for u in fhir.convert(message(kind, *segments)).unmapped if u.startswith(("MRG", "ROL", "DG1-21", "IN3"))]
            for kind, segments in [
                ("ADT^A40^ADT_A39", ("EVN|A40", "PID|1||ID1", "MRG|ID0^^^GHH^MR||||||DOE^JOHN")),
                ("ADT^A15^ADT_A15", ("EVN|A15", "PID|1||ID1", "ROL|||RT^Role^AT|9999^CUTTER", "ROL||||1234^SMITH")),
                ("ADT^A01^ADT_A01", (PID, "DG1|1||I10^Dx^I10" + "|" * 18 + "D", "DG1|2||J10^Dx^I10" + "|" * 18 + "X")),
                ("ADT^A01^ADT_A01", (PID, "DG1|1||I10^Dx^I10" + "|" * 18 + "D", "DG1|2||J10^Dx^I10" + "|" * 18 + "D")),
                *(("ADT^A01^ADT_A01", (PID, "ROL|R1|AD|CM^Case^HL70443|9999^CUTTER", "IN1|1|PLAN1|ORG1|Acme",
                                       "IN3|1" + "|" * 20 + name)) for name in ("JONES", ""))]
            ] == [["MRG-1", "MRG-7"], ["ROL-3", "ROL-4"], ["DG1-21"], [], *[["ROL-3 'CM' (HL70443)", "ROL-1", "ROL-2"]
                                                                           + more for more in (["IN3-21"], [])]]
    # a field whose rows wrote nothing of it (SCH-9's duration in hours, no minutesDuration) is reported;
    # one of separators alone holds no value
    # a resource its map wrote constants alone of is not made (EVN-7's HD of a universal id without its
    # type: a Location of its physical type alone), and the field is reported
    assert "EVN-7" in fhir.convert(message("ADT^A01^ADT_A01", "EVN|A01|20240110120000|||||^GHH", PID)).unmapped
    # an identifier of a type alone is left out and reported; one of constants alone reports its field
    assert [u for u in fhir.convert(message("ORU^R01^ORU_R01", "PID|1||ID1~^^^^TEAM", "OBR|1|^EHR||1-8^a^LN"))
            .unmapped if u.startswith(("Patient", "OBR-2"))] == ["OBR-2",
                                                                  "Patient.identifier without value (from PID)"]
    # so is one in a resource left out as it holds nothing else (a point of care of the type alone)
    assert "Location.identifier without value (from PV1)" in fhir.convert(
        message("ADT^A01^ADT_A01", PID, "PV1|1|I|&&1")).unmapped
    # 2.2's Klinik and Zentrum (an internal location's seventh and eighth components), of no PL component
    assert "PV1-3" in fhir.convert(PLACED_22).unmapped
    hours = fhir.convert(message("SIU^S12^SIU_S12", "SCH|A1|F1|||||||2|h", "PID|^~||ID1", "RGS|1")).unmapped
    assert [u for u in hours if u.startswith(("SCH-9", "PID-1"))] == ["SCH-9"]
    # a field whose value chose what a row wrote of another is mapped: SCH-10's minutes (the Appointment's
    # minutesDuration), OBX-2's type (the form of the Observation's value)
    assert [u for u in fhir.convert(message("SIU^S12^SIU_S12", "SCH|A1|F1|||||||30|MIN", "PID|1||ID1", "RGS|1")
                                    ).unmapped + fhir.convert(ORU_R01).unmapped if u[:6] in ("SCH-10", "OBX-2")] == []
    # one whose rows wrote constants alone is mapped where one stays (OBR-11's intent), not where all
    # went with their element (a PL of its facility alone: no Location, its status left out); a PL's
    # status and person location type (PL-5, PL-6), which no row reads, are reported beside its bed or room
    assert [[u for u in fhir.convert(message("ORU^R01^ORU_R01", PID, *segments)).unmapped
             if u.startswith(("PV1-3", "OBR-11"))] for segments in [
        ["PV1|1|I|" + "^" * 10 + "AUTH"], ["PV1|1|I|2000^2012"], ["ORC|RE|PL123", OBR + "|" * 4 + "P"], [OBR + "|" * 4 + "P"],
        ["PV1|1|I|2000^2012^01^^^N"], ["PV1|1|I|2000^2012^^^O"]]] == [
        ["PV1-3"], [], [], ["OBR-11"], ["PV1-3"], ["PV1-3"]]  # (an ORU's OBR without ORC makes no ServiceRequest)
    # an SPM's value where its order's OBR wrote another into the Specimen they share is reported (SPM-17's
    # collection time, OBR-7's at 08:00), one that is the same is not (SPM-18, none from OBR-14)
    assert [u for u in fhir.convert(ORU_R01 + "SPM|1|SP1" + "|" * 15 + "20240110090000-0500|"
                                    "20240110100000-0500\r").unmapped if u.startswith("SPM-1")] == ["SPM-17"]
    # a field of one value sent repeated: the repetitions after the first that differ are reported (the
    # birth date, sex and order status keep the first), an equal one is not
    assert [u for u in fhir.convert(message("ORM^O01^ORM_O01", "PID|1||ID1||||19800101~19810101|F~F",
                                            "ORC|NW|PL1|||SC~CM")).unmapped if u[:3] in ("PID", "ORC")] == [
        "PID-7", "ORC-5"]
    # a field one segment of its name leaves unwritten is reported though another wrote it: the second
    # RXA's dose of 999 (not recorded), beside the first's 0.5
    assert "RXA-6" in fhir.convert(message("VXU^V04^VXU_V04", "PID|1||ID1", "ORC|RE|1", "RXA|0|1|20240110||08^HepB^CVX|0.5",
                                           "ORC|RE|2", "RXA|0|1|20230110||03^MMR^CVX|999")).unmapped
    # a component no row of its data type's map reads is reported with its field (RPT.2, the calendar
    # alignment, beside the repeat pattern written; CX.9, the jurisdiction), unless a row reads the value
    # whole (MSG.3 in the MessageHeader's event display)
    assert [[u for u in fhir.convert(message("OML^O21^OML_O21", "PID|1||" + identifier, "ORC|NW|PL1",
                                             "TQ1|1||" + timing, "OBR|1|PL1||1-8^a^LN")).unmapped
             if u.startswith(("PID-3", "TQ1-3", "MSH-9"))] for identifier, timing in [
        ("ID1", "Q6H^DW"), ("ID1^^^GHH^MR^^^^ON&Ontario&HL70347", "Q6H"), ("ID1", "Q6H")]] == [
        ["TQ1-3"], ["PID-3"], []]
    assert [u for u in fhir.convert(ORU_R01 + "SPM|1|SP1" + "|" * 15 + "20240110080000-0500\r").unmapped
            if u.startswith("SPM-1")] == []
    # OBX-2's type of a document's text chose the row that wrote it (TXA-3 naming none, or the same)
    assert [[u for u in fhir.convert(message("MDM^T02^MDM_T02", PID, txa, "OBX|1|TX|||Seen.||||||F")).unmapped
             if u.startswith("OBX-2")] for txa in ("TXA|1|CN", "TXA|1|CN|TX")] == [[], []]
    # an event the tables' EventType lacks is kept as sent (the event's code, MSH-9 its display) and reported
    assert [[u for u in fhir.convert(message(kind, "PID|1||ID1")).unmapped if u.startswith("MSH-9")]
            for kind in ("XYZ^Q99", "ADT^A01")] == [["MSH-9 'Q99' (EventType)"], []]
    # ... and so is ORC-1's order control code table 0119 lacks
    assert [[u for u in fhir.convert(message("ORM^O01^ORM_O01", "PID|1||ID1", "ORC|" + code + "|P1")).unmapped
             if u.startswith("ORC-1")] for code in ("nw", "NW")] == [["ORC-1 'nw' (HL70119)"], []]
    assert [[u for u in fhir.convert(message("ADT^A01^ADT_A01", "PID|1||ID1", "NK1|1|DOE" + "|" * 5 + code +
                                             "^Emergency Contact^HL70131")).unmapped if u.startswith("NK1")]
            for code in ("EC", "C")] == [["NK1-7 'EC' (HL70131)"], []]
    # an OML's second order of ORC, OBR and SPM is an order of its own: its SPM's set id 1 is of its place
    assert [u for u in fhir.convert(message("OML^O21^OML_O21", PID, "ORC|NW|P1", OBR, "SPM|1|S1||SER^Serum^L", "ORC|NW|P2",
                                            OBR, "SPM|1|S2||BLD^Blood^L")).unmapped if u.startswith("SPM")] == []
    # so is one of another form of the element (SPM-17's period beside OBR-7's time: one form is written)
    assert [u for u in fhir.convert(ORU_R01 + "SPM|1|SP1" + "|" * 15 + "20240110070000-0500^20240110073000-0500"
                                    "\r").unmapped if u.startswith("SPM-1")] == ["SPM-17"]
    assert "OBX-5 (data not base64)" in fhir.convert(observations(("ED", "^AP^PDF^Base64^ab=c"))).unmapped
    assert "OBX-5 (data not hexadecimal)" in fhir.convert(observations(("ED", "^AP^PDF^Hex^abc"))).unmapped
    assert "MSA-2 (data not an id)" in fhir.convert(message("ACK^O01^ACK", "MSA|AA|M_1")).unmapped
    assert "OBX-5 'IM/FAX' (not a MIME type)" in fhir.convert(observations(("ED", "^IM^FAX^A^x"))).unmapped
    # a period's end before its start (a sender's swapped dates) is reported, its start kept; an end of the
    # same day, or of a year the start's day is in, stays; times in two zones are compared as instants
    assert [[u for u in fhir.convert(text).unmapped if "(not at or" in u] for text in [
        message("ADT^A03^ADT_A03", PID, "PV1|1|I" + "|" * 42 + "20240110120000-0500|20240105120000-0500"),
        observations(("DR", "20240110^2023")),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE^J^^^^^L^^^^^20240110^20240110"),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE^J^^^^^L^^^^^20240110^2024"),
        message("ADT^A03^ADT_A03", PID, "PV1|1|I" + "|" * 42 + "20240110120000-0500|20240110160000+0000"),
        message("ADT^A03^ADT_A03", PID, "PV1|1|I" + "|" * 42 + "20240110120000-0500|20240110170000+0000"),
        # a start written after its end (ORC-7's end, TQ1-7's start) is the later: reported, the end kept
        message("OML^O21^OML_O21", PID, "ORC|NW|P1|||||^^^^1800", "TQ1|||||||202401101230-0500", OBR)]] == [
        ["PV1-45 '20240105120000-0500' (not at or after its start)"], ["OBX-5 '2023' (not at or after its start)"],
        [], [], ["PV1-45 '20240110160000+0000' (not at or after its start)"], [],
        ["TQ1-7 '202401101230-0500' (not at or before its end)"]]
    # a day in MSH-7 is no instant: no bundle timestamp of midnight UTC
    day = fhir.convert(message("ADT^A01^ADT_A01", "PID|1||ID1").replace("20240110120000-0500", "20240110-0500"))
    assert "MSH-7 '20240110-0500' (not an instant)" in day.unmapped and "timestamp" not in json.loads(day.json)
    # a value of a type no row writes (2.3's TN, an NA, none) is reported, not dropped
    assert [fhir.convert(observations((t, v))).unmapped.count("OBX-5") for t, v in [
        ("TN", "(555)555-1234"), ("NA", "1^2^3"), ("", "x"), ("VR", "1^2~3^4"), ("NM", "1"),
        ("SN", "<>^5~<^3"), ("SN", "<^5"), ("SN", "^1^:^2"), ("ED", "^AP^PDF^Base64^aGVsbG8="),
        ("ED", "LAB^AP^PDF^Base64^aGVsbG8=")]] == [1, 1, 1, 1, 0, 1, 0, 0, 0, 1]
    # MSH-3's universal id type chose the form of its endpoint (urn:oid:), which a map beside its name's reads
    assert [u for u in fhir.convert(message("ADT^A01^ADT_A01", PID).replace("|APP|", "|APP^1.2.3^ISO|", 1)).unmapped
            if u.startswith("MSH-3")] == []
    # (a component's SN of no Quantity, Range or Ratio; an SN that is one holds no text besides; an ED's
    # encoding, ED-4, chose how its data was read, its source application, ED-1, no row reads)
    # a value of a type without components that holds more than its first piece (a code, a number; a
    # component's text: a code in a sub-component) is read to its first piece, its field reported; a text
    # field is read whole; trailing separators hold nothing
    assert [[u for u in fhir.convert(t).unmapped if u in ("PID-8", "OBX-3", "OBX-5")] for t in [
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||19610615|M^Male"), observations(("NM", "5^3")),
        message("ORU^R01^ORU_R01", PID, OBR, "OBX|1|ST|&GDT^Findings||x||||||F"), observations(("TX", "T2^x")),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||19610615|M^"), observations(("NM", "5"))]] == [
        ["PID-8"], ["OBX-5"], ["OBX-3"], [], [], []]
    # a component no row reads, its row naming only an extension the tables propose (EI.2, an order number's
    # namespace; CX.6), is reported as its field; so is an e-mail address beside a telephone's type or number
    assert [[u for u in fhir.convert(t).unmapped if u in ("OBR-2", "OBR-3", "PID-3", "PID-13")] for t in [
        message("ORU^R01^ORU_R01", "PID|1||ID1", "OBR|1|PL1^EHR|FL1|1-8^a^LN"),
        message("ADT^A01^ADT_A01", "PID|1||ID1^^^GHH^MR^WARD1"),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^PRN^PH^a@b.c^^555^1234567"),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^PRN^ph^a@b.c"),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^PRN^CELL^a@b.c~^NET^internet^a@b.c"),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^PRN^INTERNET^a@b.c^^^1234567"),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^PRN^Internet^a@b.c^^555"),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||(555)555-1234^PRN^Internet^a@b.c"),
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||a@b.c^PRN^Internet^a@b.c")]] == [
        ["OBR-2"], ["PID-3"], ["PID-13"], ["PID-13"], [], ["PID-13"], ["PID-13"], ["PID-13"], []]
    # (and a number or its area code beside an address's type, or in XTN-1 where it is not the address repeated)
    # a code the tables list without a target is mapped to nothing on purpose (XTN-2 "NET", which the address's
    # system says), not reported; one of an element the resource requires is (OBX-11 "B": the status unknown),
    # unless another row writes it as sent (ORC-1 "RE", listed, or "XO", not: the order's businessEvent); a code
    # of an ID or a coded type its vocabulary and table lack is kept without a system and reported (TXA-18 "Q";
    # "R" is 0272's; NK1-3 "26", as written: its first sub-component), not beside a CWE-3 naming its system
    assert [[u for u in fhir.convert(t).unmapped if "'" in u] for t in [
        message("ADT^A01^ADT_A01", "PID|1||ID1||DOE||||||||^NET^Internet^a@b.c"), observations(("NM", "1||||||B")),
        message("ORM^O01^ORM_O01", PID, "ORC|RE|PL1", OBR), message("ORM^O01^ORM_O01", PID, "ORC|XO|PL1", OBR),
        message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX" + "|" * 15 + "Q"),
        message("MDM^T02^MDM_T02", PID, "TXA|1|CN|TX" + "|" * 15 + "R"),
        message("ADT^A01^ADT_A01", PID, "NK1|1|DOE|26&x"), message("ADT^A01^ADT_A01", PID, "NK1|1|DOE|26^Other^L")]] == [
        [], ["OBX-11 'B' (ObservationResultStatusCodesInterpretation)"], [], [],
        ["TXA-18 'Q' (DocumentConfidentialityStatus)"], [], ["NK1-3 '26' (Relationship)"], []]
    # an address type of no FHIR use or type (XAD-7 "L", legal) is reported, not dropped
    assert "PID-11 'L' (AddressType[Use])" in fhir.convert(message("ADT^A01", "PID|1||ID1||||||||1 A St^^T^^^^L")).unmapped
    assert "Appointment.participant without actor or type (from AIL)" in fhir.convert(
        message("SIU^S12^SIU_S12", "SCH|A1|F1", "PID|1||ID1", "RGS|1", "AIL|1|||||20240110")).unmapped
    # an element left out for what it lacks, in a resource that stays, where it held a value of the message
    # (not constants or a reference alone; not in a resource left out, reported itself)
    cough, remark = "DG1|1||I10C^Cough^I10", "NTE|1|||RE^Remark^HL70364"
    assert [[u for u in fhir.convert(t).unmapped if " without " in u and not u.startswith("Provenance")] for t in [
        message("ADT^A01^ADT_A01", cough + "|||A"), message("ADT^A01^ADT_A01", cough),
        message("ACK^O01^ACK", "MSA|X|M1"), message("SIU^S12^SIU_S12", "SCH|A1|F1", remark, "PID|1||ID1", "RGS|1"),
        message("SIU^S12^SIU_S12", "SCH|A1|F1", remark)]] == [
        ["Condition without subject (from DG1)", "Encounter.diagnosis without condition (from DG1)"],
        ["Condition without subject (from DG1)"], ["MessageHeader.response without code (from MSA)"],
        ["Appointment.extension without url (from NTE)"], ["Appointment without participant (from SCH)"]]
    # a resource kept without an element the message does not send reports the element; one that goes, itself
    assert [[u for u in fhir.convert(message("ORU^R01^ORU_R01", PID, OBR, obx)).unmapped if u.startswith("Observation")]
            for obx in ("OBX|1|TX|||Impression: normal||||||F", "OBX|1||||||||||F")] == [
        ["Observation.code not sent (from OBX)"], ["Observation without code (from OBX)"]]
    # an MDM's PID without PID-33 and PID-34 makes no Provenance of the patient record to report
    assert not [u for u in fhir.convert(DOCUMENT).unmapped if u.endswith("(from PID)")]
    # a field that repeats written into an element that does not (OBX-17's method, OBX-20's body site,
    # DG1-16's asserter; AL1-3's code, not its display alone) is reported when it repeats: its other repetitions
    # have no element
    assert [[u for u in fhir.convert(t).unmapped if u in ("OBX-17", "OBX-20", "DG1-16", "AL1-3")] for t in [
        observations(("NM", "1||||||F||||||M1^A^L~M2^B^L|||S1^Arm^L~S2^Leg^L")),
        observations(("NM", "1||||||F||||||M1^A^L|||S1^Arm^L")),
        message("ADT^A01^ADT_A01", "PID|1||ID1", "DG1|1||I10^Hypertension^I10" + "|" * 13 + "D1^DOC~D2^DOE"),
        message("ADT^A01^ADT_A01", "PID|1||ID1", "AL1|1||a~b^Peanut")]] == [
        ["OBX-17", "OBX-20"], [], ["DG1-16"], ["AL1-3"]]
    # a field of white space alone or a null padded is no value lost; nor is a component that is a null
    # where the field's other components are written (XTN-4's address, XTN-9's text beside a number)
    assert [u for u in fhir.convert(message("ADT^A01^ADT_A01", 'PID|1||ID1||DOE||   | "" |||||'
                                            '^PRN^PH^""^^555^1234567^^""')).unmapped
            if u.startswith("PID-")] == []
    # OBX-2 names the type of OBX-5's value: of an OBX whose OBX-5 holds none (empty, a null, white space) it
    # types nothing, nothing is lost; beside a value of a type no row reads, it is reported with OBX-5
    assert [[u for u in fhir.convert(observations(*values)).unmapped if u in ("OBX-2", "OBX-5")] for values in [
        [("NM", "")], [("CWE", '""')], [("NM", "  ")], [("NM", ""), ("XX", "5")]]] == [
        [], [], [], ["OBX-5", "OBX-2"]]
    # DG1-2, the coding method, naming DG1-3's coding system is no value lost; naming another, or beside a
    # code of no system, it is reported
    assert [[u for u in fhir.convert(message("ADT^A01^ADT_A01", "PID|1||ID1", "DG1|1|" + dg1)).unmapped
             if u == "DG1-2"] for dg1 in ("I9|250.00^Diabetes^I9", " i9 |250.00^Diabetes^I9~401.9^HT^I10",
                                                 "I9|250.00^Diabetes^I10", "I9|250.00^Diabetes")] == [
        [], [], ["DG1-2"], ["DG1-2"]]
    # MSH-12 naming the version the message is read by chose its definitions: nothing is lost; beside VID-2, or
    # a version another stands in for, it is reported
    assert [[u for u in fhir.convert(message("ADT^A01^ADT_A01", PID).replace("|2.5.1", "|" + version, 1)).unmapped
             if u == "MSH-12"] for version in ("2.5.1", "V2.4", "2.5.1^USA", "2.5.1~2.6", "2.9")] == [
        [], [], ["MSH-12"], ["MSH-12"], ["MSH-12"]]
    # MSH-9 naming another structure than its event's is reported, read as the event's
    assert [[u for u in fhir.convert(ORU_R01.replace("ORU^R01^ORU_R01", kind, 1)).unmapped if u.startswith("MSH-9")]
            for kind in ("ORU^R01^ADT_A17", "ORU^R01^ORU_R01", "ORU^R01^XYZ_Z99", "ORU^R30^ORU_R30")] == [
        ["MSH-9 'ADT_A17' (read as ORU_R01)"], [], [], []]
    # an OBR-2 and OBR-3 of other numbers than their order's ORC-2 and ORC-3 (which the report's identifiers
    # are) are reported; of the same numbers nothing is lost
    assert [[u for u in fhir.convert(message("ORU^R01^ORU_R01", PID, "ORC|RE|P1|F1", obr)).unmapped
             if u.startswith(("OBR-2", "OBR-3"))] for obr in ("OBR|1|P2|F2|1-8^a^LN", "OBR|1|P1|F1|1-8^a^LN")] == [
        ["OBR-2", "OBR-3"], []]
    # a third patient of an A17 (whose table gives two blocks of rows) is reported, not lost without a word
    assert [u for u in fhir.convert(SWAPPED + "PID|3||ID3\rPV1|1|E\r").unmapped if u in ("PID", "PV1")] == ["PID", "PV1"]
    # MSH-10 is the bundle's identifier (a resource's alone, it is not written)
    converted = fhir.convert(text)
    assert "MSH-10" not in converted.unmapped and json.loads(converted.json)["identifier"] == {"value": "M1"}


@pytest.mark.parametrize("version, read_as, reported", [
    ("2.9", "2.8.2", True), ("", "2.8.2", True), ("X", "2.8.2", True), ("2.5.2", "2.5.1", True), ("2.0", "2.1", True),
    ("V2.9", "2.8.2", True),
    # a version spelled otherwise (padded with white space, a "V" before it) is the version it names
    ("2.3 ", "2.3", False), ("V2.4", "2.4", False), ("v2.3", "2.3", False), (" 2.3.1 ", "2.3.1", False)])
def test_a_version_the_definitions_lack_is_read_as_the_nearest_they_hold(version, read_as, reported):
    # without definitions an ORU's results stood in no group: the report referred to none of them
    sent = fhir.convert(ORU_R01.replace("|P|2.5.1", "|P|" + version, 1))
    held = fhir.to_dict(ORU_R01.replace("|P|2.5.1", "|P|" + read_as, 1))
    assert [u for u in sent.unmapped if u.startswith("MSH-12 ")] == [
        f"MSH-12{f' {version!r}' if version else ''} (read as {read_as})"] * reported
    report = next(e["resource"] for e in json.loads(sent.json)["entry"]
                  if e["resource"]["resourceType"] == "DiagnosticReport")
    assert len(report["result"]) == 2
    assert json.loads(sent.json)["entry"][1:] == held["entry"][1:]


@pytest.mark.parametrize("header", ["MSHM^~\\&", "MSHMSH|N"])
def test_a_header_read_as_none_reads_no_version(header):
    # 'M' for the field separator leaves the header's name empty: no version's definitions are read, and a
    # code its vocabulary lacks (DG1-6 "E") looks up no table (it read through a null pointer) and is reported
    converted = fhir.convert(header + "\rDG1MMMMMME\r")
    assert converted.unmapped == ["", "DG1-6 'E' (DiagnosisType)", "Condition without subject (from DG1)",
                                  "Encounter.diagnosis without condition (from DG1)"]
    assert [e["resource"]["resourceType"] for e in json.loads(converted.json)["entry"]] == ["Encounter"]


@pytest.mark.parametrize("value, expected", [("95.5", 95.5), ("-.5", -0.5), ("007", 7), ("000", 0),
                                             ("-00.5", -0.5), ("9x5", None), ("1e3", None), ("+5", 5), ("<0.5", None),
                                             (".", None), ("-", None), ("1E3", None),
                                             # past any float's range: JSON's readers make it inf or refuse it
                                             ("9" * 308, int("9" * 308)), ("9" * 309, None)])
def test_numbers(value, expected):
    # an NM that FHIR's decimal does not take (v2's have no exponent) is reported, and the result's text
    # with its unit, not a Quantity of its unit alone
    converted = fhir.convert(ORU_R01.replace("||95.5|", f"||{value}|"))
    (glucose,) = [o for o in entries(check_bundle(converted.json), "Observation")
                  if o["code"]["coding"][0]["code"] == "2345-7"]
    assert (glucose["valueQuantity"]["value"] if expected is not None else glucose["valueString"]) == (
        expected if expected is not None else f"{value} mg/dL")
    assert (f"OBX-5 '{value}' (not a decimal)" in converted.unmapped) == (expected is None)


@pytest.mark.parametrize("value, expected, rank", [
    ("2", 2, 2), ("002", 2, 2), ("-3", -3, None), ("0", 0, None), ("-0", 0, None), ("2.0", None, None),
    ("2x", None, None), ("99999999999", None, None)])
def test_integers(value, expected, rank):
    # PID-25, birth order, is Patient.multipleBirthInteger; DG1-15, a positiveInt, Encounter.diagnosis.rank
    text = ADT_A01.replace(PID, PID + "|" * 12 + value).replace(
        "|20240110|A", "|20240110|A" + "|" * 9 + value + "|" * 7 + "C1")  # DG1-22, the Condition
    bundle = check_bundle(fhir.to_json(text))
    (patient,), (encounter,) = entries(bundle, "Patient"), entries(bundle, "Encounter")
    assert patient.get("multipleBirthInteger") == expected
    assert encounter["diagnosis"][0].get("rank") == rank


@pytest.mark.parametrize("value, expected", [("Y", True), ("N", False), ("X", None)])
def test_booleans(value, expected):
    # PID-30 through the package's YesNoIndicator vocabulary, ZPI-2 through a user's map without one
    from vellomar import _ops

    fhir._load()
    mapping = fhir.Mapping(_ops.fhir_mapping(MAPS.format("").replace("valueString\ts", "valueBoolean\tb")), ())
    conversion = fhir.convert(ADT_A01.replace(PID, PID + "|" * 17 + value) + f"ZPI|DOG|{value}\r", mapping=mapping)
    bundle = check_bundle(conversion.json)
    (patient,) = entries(bundle, "Patient")
    (pet,) = [o for o in entries(bundle, "Observation") if o["code"]["coding"][0]["code"] == "DOG"]
    assert (patient.get("deceasedBoolean"), pet.get("valueBoolean")) == (expected, expected)
    assert (f"PID-30 {value!r} (YesNoIndicator)" in conversion.unmapped) == (expected is None)


@pytest.mark.parametrize("value, reported", [("a^b", []), ("a~b", ["ZPI-2"])])
def test_a_value_into_the_element_its_own_repetition_wrote_is_not_reported(value, reported):
    # a user's map writes ZPI-2 and then its second component into valueString: the first stays; the field is
    # reported where a later repetition's value is lost, not where its own repetition wrote the element
    from vellomar import _ops

    fhir._load()
    rows = MAPS.format("").replace("valueString\ts\t\t\t\n", "valueString\ts\t\t\t\nF\t2.2\t\tvalueString\ts\t\t\t\n")
    conversion = fhir.convert(ADT_A01 + f"ZPI|DOG|{value}\r", mapping=fhir.Mapping(_ops.fhir_mapping(rows), ()))
    assert [o.get("valueString") for o in entries(check_bundle(conversion.json), "Observation")
            if o["code"]["coding"][0]["code"] == "DOG"] == ["a"]
    assert [u for u in conversion.unmapped if u.startswith("ZPI")] == reported


# a PL's components from the most granular Location to the least: bed, room, floor, point of care, building, facility
GRANULARITY = [3, 2, 8, 1, 7, 4]


@settings(max_examples=60)
@given(st.dictionaries(st.sampled_from(GRANULARITY), st.sampled_from(["A", "B", "7", "&"]), min_size=1))
def test_a_pl_refers_to_its_most_granular_location_each_part_of_the_next(components):
    # (a component of sub-component separators alone, "&", names no Location: none of constants alone)
    pl = "^".join(components.get(n, "") for n in range(1, 9))
    components = {n: c for n, c in components.items() if c != "&"}
    bundle = check_bundle(fhir.to_json(message("ADT^A01^ADT_A01", PID, f"PV1|1|I|{pl}")))
    by_url = {e["fullUrl"]: e["resource"] for e in bundle["entry"] if e["resource"]["resourceType"] == "Location"}
    (encounter,) = entries(bundle, "Encounter")
    if not components:
        assert (by_url, "location" in encounter) == ({}, False)
        return
    url, chain = encounter["location"][0]["location"]["reference"], []
    for _ in range(len(GRANULARITY) + 1):  # a chain of six at most
        chain.append(by_url[url]["identifier"][0]["value"])
        if "partOf" not in by_url[url]:
            break
        url = by_url[url]["partOf"]["reference"]
    assert chain == [components[n] for n in GRANULARITY if n in components]
    assert len(by_url) == len(components)
    # and the Locations are those of the PL without it (room A of point of care "&" is room A of none)
    plain = "^".join(components.get(n, "") for n in range(1, 9))
    assert set(by_url) == {e["fullUrl"] for e in fhir.to_dict(message("ADT^A01^ADT_A01", PID, f"PV1|1|I|{plain}"))[
        "entry"] if e["resource"]["resourceType"] == "Location"}


@pytest.mark.parametrize("call,error", [
    (lambda: fhir.to_json(ADT_A01, bundle_type="batch"),
     (ValueError, "bundle_type must be 'message', 'transaction' or 'collection', not 'batch'")),
    (lambda: fhir.to_json(ADT_A01, bundle_type=3),
     (TypeError, "argument 'bundle_type': 'int' object cannot be converted to 'PyString'")),
    (lambda: fhir.to_json(3), (TypeError, "cannot convert 'int' to FHIR: a Message, str or "
                                          "bytes is needed")),
    (lambda: fhir.to_json(ADT_A01, mapping="x"),
     (TypeError, "mapping must be a Mapping or None, not 'str'")),
    # two messages in one text would be one bundle of two MessageHeaders
    (lambda: fhir.resources_of(vellomar.parse(ADT_A01 + ADT_A01)),
     (ValueError, f"the text holds more than one message: segment {ADT_A01.count(chr(13)) + 1}, "
                  f"at byte {len(ADT_A01)}, begins another (vellomar.read cuts a text into its messages)")),
])
def test_errors(call, error):
    with pytest.raises(error[0]) as e:
        call()
    assert str(e.value) == error[1]


SEGMENTS = ["PID|1||{v}^^^{v}^MR||{v}^{v}|{v}|{d}|{v}" + "|" * 16 + "{v}|{n}", "PV1|1|{v}|{v}^{v}||||{v}^{v}",
            "OBX|1|{t}|{v}^{v}^LN||{v}|{v}|||||{v}|||{d}", "OBX|1|{t}|{v}^{v}^LN||{d}||||||N", "NK1|1|{v}^{v}|{v}||{v}^PRN^PH^^{v}^{v}^{v}^{v}", "PD1||||||{v}^{v}^L",
            "AL1|1|{v}|{v}^{v}", "DG1|1||{v}^{v}^I10||{d}|A" + "|" * 9 + "{n}" + "|" * 7 + "{v}", "IN1|1|{v}|{v}|{v}",
            "ORC|{v}|{v}|{v}", "OBR|1|{v}|{v}|{v}^{v}||{d}", "TQ1|1||||||{d}", "RXA|0|1|{d}||{v}^{v}^CVX|{v}",
            "RXR|{v}^{v}", "NTE|1||{v}||||{d}", "SPM|1|{v}||{v}^{v}", "SCH|{v}|{v}" + "|" * 7 + "{n}", "AIS|1||{v}^{v}|{d}",
            "AIL|1||{v}^^^{v}|||{d}", "AIP|1||{v}^{v}|{v}||{d}", "AIG|1||{v}|{v}", "ZZZ|{v}"]


@settings(max_examples=80)
@given(kind=st.sampled_from(["ADT^A01^ADT_A01", "ADT^A08^ADT_A01", "ADT^A04", "ADT^A02^ADT_A02", "ORU^R01^ORU_R01",
                             "VXU^V04^VXU_V04", "ORM^O01^ORM_O01", "OML^O21^OML_O21", "DFT^P03^DFT_P03",
                             "SIU^S12^SIU_S12", "MDM^T02^MDM_T02", "BAR^P02^BAR_P02", "RDE^O11", "XYZ^Q99"]),
       version=st.sampled_from(["2.3", "2.4", "2.5.1", "2.6", "2.8"]),
       body=st.lists(st.tuples(st.sampled_from(SEGMENTS),
                               st.text("AZ09 .-&~\\^\"é", max_size=8),
                               st.sampled_from(["", "2024", "202401101200", "20240110120000+0530",
                                                "2024011", "99999999", "x"]),
                               st.sampled_from(["NM", "ST", "CWE", "SN", "DT", "TS", "TM", "CQ", "MO", "ID", "VR", "XX"]),
                               st.sampled_from(["", "0", "1", "-1", "08", "2.5", "\"\""])),
                     max_size=10))
def test_every_message_gives_a_valid_bundle(kind, version, body):
    segments = [s.format(v=v.replace("|", ""), d=d, t=t, n=n) for s, v, d, t, n in body]
    check_bundle(fhir.to_json(message(kind, *segments).replace("|P|2.5.1", "|P|" + version, 1)))


def test_data_file_is_what_the_tables_give(monkeypatch):
    # The committed data file and report are what tools/fhir_tables.py makes
    # of HL7's tables: the generator and a user's Mapping.load share one
    # compiler, so a fault in it shows here.
    import importlib.util
    import pathlib

    root = pathlib.Path(__file__).resolve().parents[1]
    tables = root.parent / "shared" / "v2-to-fhir" / "mappings"
    if not tables.is_dir():
        pytest.skip("HL7's tables are not beside the project")
    monkeypatch.setattr(sys, "path", list(sys.path))  # the tool puts src/ first
    spec = importlib.util.spec_from_file_location("fhir_tables_tool", root / "tools" / "fhir_tables.py")
    tool = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(tool)
    data, report = tool.generate(tables)
    assert data == (root / "src" / "vellomar" / "definitions" / "fhir.txt").read_text(encoding="utf-8")
    assert report == (root / "tools" / "fhir_report.txt").read_text(encoding="utf-8")


HEADER = ("HL7 v2,,,,,,Condition (IF True),,,HL7 FHIR,,,,,,,,,\n"
          "Sort Order,Identifier,Name,Data Type,Cardinality - Min,Cardinality - Max,Computable ANTLR,"
          "Computable FHIRPath,Narrative,FHIR Attribute,,Data Type,Cardinality - Min,"
          "Cardinality - Max,Data Type Mapping,Vocabulary Mapping,Assignment,,\n")


def test_user_rows_route_a_z_segment_to_a_resource(tmp_path):
    (tmp_path / "ADT_A01.csv").write_text(
        "IN,,,,,,Condition (IF True),,,HL7 FHIR,,,,\n"
        "Sort Order,Identifier,Syntax,Name,Cardinality - Min,Cardinality - Max,Computable ANTLR,"
        "Computable FHIRPath,Narrative,Primary Target,Segment Map,References,,\n"
        "20,ADT_A01.PETS,,Pets,0,1,,,,,,,,\n"  # a group: no segment map, no row
        "30,ADT_A01.ZPI,[ ZPI ],Pet,0,1,IF ZPI-2 VALUED AND ZPI-1 VALUED,,,Observation[9],ZPI[Observation],"
        "Observation[9].subject.reference=Patient[1].id,,\n"
        "31,ADT_A01.ZXX,[ ZXX ],Other,0,1,,,when kept,ServiceRequest[3],ZPI[Observation],,,\n"
        "32,ADT_A01.ZXX,[ ZXX ],Other,0,1,IF ZXX-1 =,,,Observation[3],ZPI[Observation],,,\n"
        "33,ADT_A01.ZXX,[ ZXX ],Other,0,1,IF ZXX-1 IN (a,,,Observation[3],ZPI[Observation],,,\n"
        "34,ADT_A01.ZXX,[ ZXX ],Other,0,1,IF ZXX-1 LENGTH GREATER THAN,,,Observation[3],ZPI[Observation],,,\n"
        "35,ADT_A01.ZXX,[ ZXX ],Other,0,1,,,,Observation[3],ZQQ[Observation],,,\n")
    (tmp_path / "ZPI[Observation].csv").write_text(
        HEADER + '0,ZPI,,,,,,,,status,,code,1,1,,,"""final""",,\n'
        "1,ZPI-1,Kind,CWE,0,1,,,,code,,CodeableConcept,1,1,CWE[CodeableConcept],,,,\n"
        "2,ZPI-2,Name,ST,0,1,,,,valueString,,string,0,1,,,,,\n"
        "3,ZPI-3,Nonsense,ST,0,1,,,,valueNowhere,,string,0,1,,,,,\n"
        "4,ZPI-4,Note,ST,0,1,,,,note.text,,string,0,1,,,,,\n"  # a list element
        "5,ZPI-5,Way,CWE,0,1,,,,method,,CodeableConcept,0,1,CWE[Nowhere],,,,\n"
        # an extension filled whole by a data type map, named by its url row
        '6,ZPI-6,Coat,ST,0,1,,,,extension[1].url,,uri,1,1,,,"""http://x/coat""",,\n'
        "6,ZPI-6,Coat,ST,0,1,,,,extension[1],,Extension,0,1,ZST[Extension],,,,\n"
        # the name of the Organization the performer refers to, made there
        "7,ZPI-7,Vet,ST,0,1,,,,performer[1](Organization.name),,string,0,1,,,,,\n"
        "256,ZPI-256,Far,ST,0,1,,,,valueString,,string,0,1,,,,,\n")  # beyond the usual fields
    (tmp_path / "ZQQ.csv").write_text(HEADER)
    (tmp_path / "ZST[Extension].csv").write_text(HEADER + "1,ZST.1,Text,ST,0,1,,,,valueString,,string,0,1,,,,,\n")
    (tmp_path / "ZQR[Nothing].csv").write_text(HEADER + "1,ZQR-1,Kind,ST,0,1,,,,code,,string,1,1,,,,,\n")
    mapping = fhir.Mapping.load(sorted(tmp_path.iterdir()))
    assert mapping.report == [
        "ZPI[Observation] ZPI-3 -> valueNowhere: Observation has no element 'valueNowhere'",
        "ZPI[Observation] ZPI-5 -> method: data type map CWE[Nowhere] has no table",
        "ZQQ: not a map name SEGMENT[Target]", "ZQR[Nothing]: map to Nothing, which is not a FHIR type: whole map",
        "ADT_A01 ADT_A01.ZXX -> ZPI[Observation]: primary target 'ServiceRequest[3]' is not a Observation: "
        "a Observation is made",
        "ADT_A01 ADT_A01.ZXX -> ZPI[Observation]: narrative condition 'when kept' not computable; row applied",
        "ADT_A01 ADT_A01.ZXX -> ZPI[Observation]: condition 'IF ZXX-1 =' is prose (a value expected)",
        "ADT_A01 ADT_A01.ZXX -> ZPI[Observation]: condition 'IF ZXX-1 IN (a' is prose (unclosed list)",
        "ADT_A01 ADT_A01.ZXX -> ZPI[Observation]: condition 'IF ZXX-1 LENGTH GREATER THAN' is prose (a comparison expected)",
        "ADT_A01 ADT_A01.ZXX -> ZQQ[Observation]: segment map has no table"]
    text = ADT_A01 + "ZPI|DOG^Dog^L|Rex||kept indoors||long|Acme Vets\r"
    conversion = fhir.convert(text, mapping=mapping)
    bundle = check_bundle(conversion.json)
    pet = [o for o in entries(bundle, "Observation") if "valueString" in o]
    assert pet == [{"resourceType": "Observation", "id": pet[0]["id"], "status": "final",
                    "code": {"coding": [{"code": "DOG", "display": "Dog",
                                         "system": "urn:id:L"}]},
                    "valueString": "Rex",
                    "note": [{"text": "kept indoors"}],
                    "extension": [{"url": "http://x/coat", "valueString": "long"}],
                    "performer": [{"reference": "urn:uuid:" + [o["id"] for o in entries(bundle, "Organization")
                                                               if o.get("name") == "Acme Vets"][0]}],
                    "subject": {"reference": "urn:uuid:" + entries(bundle, "Patient")[0]["id"]},
                    "encounter": {"reference": "urn:uuid:" + entries(bundle, "Encounter")[0]["id"]}}]
    assert "ZPI" not in conversion.unmapped and "ZPI" in fhir.convert(text).unmapped
    with pytest.raises(ValueError) as e:
        fhir.Mapping.load([tmp_path / "ADT_A01.csv", __file__])
    assert str(e.value) == f"{__file__}: not a V2-to-FHIR table (message, segment, data type or vocabulary)"
    pytest.importorskip("pyspark")
    import vellomar.spark as spark  # its option mapping, in a task without a session
    source = tmp_path / "a.hl7"
    source.write_text(text)
    options = spark._Options.parse({"path": str(source), "fhir": "true",
                                    "mapping": ",".join(str(p) for p in sorted(tmp_path.glob("*.csv")))})
    (task,) = spark._partitions([spark._Span(str(source), 0, source.stat().st_size)], 1 << 20)
    assert pet[0]["id"] in [row[1] for batch in spark._read(options, task) for row in zip(*batch.to_pydict().values())]



MESSAGE_HEADER = ("IN,,,,,,Condition (IF True),,,HL7 FHIR,,,,\n"
                  "Sort Order,Identifier,Syntax,Name,Cardinality - Min,Cardinality - Max,Computable ANTLR,"
                  "Computable FHIRPath,Narrative,Primary Target,Segment Map,References,,\n")
ZXX_ROW = "30,{}.ZXX,[ ZXX ],Z,0,1,,,,Observation[9],ZXX[Observation],,,\n"
ZXX_MAP = HEADER + '0,ZXX,,,,,,,,status,,code,1,1,,,"""final""",,\n1,ZXX-1,Kind,CWE,0,1,,,,code,,CodeableConcept,1,1,CWE[CodeableConcept],{},,,\n'


@pytest.mark.parametrize("files, structure, expected", [
    # a message table of no rows adds none
    ({"ADT_A01.csv": MESSAGE_HEADER, "ZXX[Observation].csv": ZXX_MAP.format("")}, "ADT^A01^ADT_A01",
     ["ADT_A01.csv: a message table without rows (its first names no segment); nothing added"]),
    # a table of a structure the package adds a row to (ORM_O01's RXR after its RXO), without that row
    ({"ORM_O01.csv": MESSAGE_HEADER + ZXX_ROW.format("ORM_O01"), "ZXX[Observation].csv": ZXX_MAP.format("")},
     "ORM^O01^ORM_O01", ["DOG"]),
    # a vocabulary of no table: the row goes, as one naming a data type map of no table
    ({"ADT_A01.csv": MESSAGE_HEADER + ZXX_ROW.format("ADT_A01"), "ZXX[Observation].csv": ZXX_MAP.format("NoSuchCodes")},
     "ADT^A01^ADT_A01", ["ZXX[Observation] ZXX-1 -> code: vocabulary NoSuchCodes has no table"]),
    # an Attachment's data that no row gives a contentType beside, which FHIR does not take
    ({"ADT_A01.csv": MESSAGE_HEADER + ZXX_ROW.format("ADT_A01"), "ZXX[Observation].csv": ZXX_MAP.format("") +
      "2,ZXX-2,Scan,ST,0,1,,,,extension[1].valueAttachment.data,,base64Binary,0,1,,,,,\n"},
     "ADT^A01^ADT_A01", ["ZXX[Observation] ZXX-2 -> extension[1].valueAttachment.data: an Attachment's data "
                         "without its contentType, which FHIR does not take; not written", "DOG"]),
    ({"ADT_A01.csv": MESSAGE_HEADER + ZXX_ROW.format("ADT_A01"), "ZXX[Observation].csv": ZXX_MAP.format("Pets"),
      "Pets.csv": "HL7 v2,,,,,,HL7 FHIR\nCode,Text,Code System,,,,Code\nDOG,Dog,,,,,canine\n"},
     "ADT^A01^ADT_A01", ["canine"]),
])
def test_user_tables_report_what_they_cannot_honour(tmp_path, files, structure, expected):
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    mapping = fhir.Mapping.load(sorted(tmp_path.iterdir()))
    observations = entries(fhir.to_dict(message(structure, PID, "ZXX|DOG^Dog^L"), mapping=mapping), "Observation")
    assert mapping.report + [c["code"] for o in observations for c in o["code"].get("coding", [])] == expected


def test_a_mapping_reads_its_own_maps_and_the_packages(tmp_path):
    # ZST[string] reads ZST.2 in one user's tables and ZST.1 in another's:
    # the second's loaded after the first reads its own; the package's
    # CQ[code] reads a quantity's unit (CQ.2) in a user's row too
    def load(component, row="2,ZXX-2,N,ZST,0,1,,,,valueString,,string,0,1,ZST[string],,,,\n"):
        (tmp_path / component).mkdir()
        (tmp_path / component / "ADT_A01.csv").write_text(MESSAGE_HEADER + ZXX_ROW.format("ADT_A01"))
        (tmp_path / component / "ZXX[Observation].csv").write_text(ZXX_MAP.format("") + row)
        (tmp_path / component / "ZST[string].csv").write_text(
            HEADER + f"{component},ZST.{component},T,ST,0,1,,,,$value,,string,0,1,,,,,\n")
        return fhir.Mapping.load(sorted((tmp_path / component).iterdir()))

    text = message("ADT^A01^ADT_A01", PID, "ZXX|DOG^Dog^L|first^second")
    assert [entries(fhir.to_dict(text, mapping=load(c)), "Observation")[0]["valueString"]
            for c in "21"] == ["second", "first"]
    # (a quantity holds its value: a unit alone is none)
    mapping = load("cq", "2,ZXX-2,N,CQ,0,1,,,,valueQuantity.code,,code,0,1,CQ[code],,,,\n"
                         "3,ZXX-3,N,NM,0,1,,,,valueQuantity.value,,decimal,0,1,,,,,\n")
    assert [entries(fhir.to_dict(text.replace("first^second", "5^min" + three), mapping=mapping),
                    "Observation")[0].get("valueQuantity") for three in ("|5", "")] == [
        {"code": "min", "value": 5}, None]


def test_a_segment_filling_lists_of_two_resources_takes_an_element_after_each_ones_own(tmp_path):
    (tmp_path / "ADT_A01.csv").write_text(
        "IN,,,,,,Condition (IF True),,,HL7 FHIR,,,,\n"
        "Sort Order,Identifier,Syntax,Name,Cardinality - Min,Cardinality - Max,Computable ANTLR,"
        "Computable FHIRPath,Narrative,Primary Target,Segment Map,References,,\n"
        "30,ADT_A01.ZXX,[ ZXX ],Other,0,1,,,,Account[1],ZXX[Account],,,\n"
        "31,ADT_A01.ZXX,[ ZXX ],Other,0,1,,,,Encounter[1],ZXX[Encounter],,,\n")
    (tmp_path / "ZXX[Account].csv").write_text(HEADER + "1,ZXX-1,A,ST,0,1,,,,identifier[2].value,,string,0,1,,,,,\n")
    (tmp_path / "ZXX[Encounter].csv").write_text(
        HEADER + "2,ZXX-2,B,ST,0,1,,,,participant[1].type[1].text,,string,0,1,,,,,\n")
    text = message("ADT^A01^ADT_A01", "PID|1||ID1" + "|" * 15 + "ACC1", PV1, "ZXX|a|b")
    bundle = check_bundle(fhir.to_json(text, mapping=fhir.Mapping.load(sorted(tmp_path.iterdir()))))
    (account,), (encounter,) = entries(bundle, "Account"), entries(bundle, "Encounter")
    assert account["identifier"][-1] == {"value": "a"}
    assert encounter["participant"][-1] == {"type": [{"text": "b"}]}  # after PV1-7's, not in it


@pytest.mark.parametrize("table, expected", [
    ("HL7 v2,,,,,,HL7 FHIR,,,\nCode,Text,Code System,,,,Code,,Display,Code System\n"
     "Q,Queer,HL70002,,,,QQ,,Quux,http://example.org/ms\n",
     {"system": "http://example.org/ms", "code": "QQ", "display": "Quux"}),
    ("HL7 v2,,,,,,HL7 FHIR,,,\nCode,Text,Code System,,,,Code,,Display,Code System\n"  # "Q" sent, in another case
     "q,queer,HL70002,,,,QQ,,Quux,http://example.org/ms\n",
     {"system": "http://example.org/ms", "code": "QQ", "display": "Quux"}),
    # v2's text, and v2's system where its table holds the code: not beside QQ, which table 0002 lacks
    ("HL7 v2,,,,,,HL7 FHIR\nCode,Text,Code System,,,,Code\nQ,Queer,HL70002,,,,QQ\n",
     {"code": "QQ", "display": "Queer"}),
    ("HL7 v2,,,,,,HL7 FHIR\nCode,Text,Code System,,,,Code\nQ,Queer,HL70002,,,,S\n",
     {"code": "S", "display": "Queer", "system": "http://terminology.hl7.org/CodeSystem/v2-0002"}),
    # a spreadsheet's BOM and line ends
    ("\ufeffHL7 v2,,,,,,HL7 FHIR\r\nCode,Text,Code System,,,,Code\r\nQ,Queer,HL70002,,,,S\r\n",
     {"code": "S", "display": "Queer", "system": "http://terminology.hl7.org/CodeSystem/v2-0002"}),
    ("Code,Text,Code System\n", ": not a V2-to-FHIR table (message, segment, data type or vocabulary)"),
    ("Code,Text\n".encode("utf-16"), ", line 1: not UTF-8 text (invalid start byte at byte 0): save the table as CSV UTF-8"),
    ("HL7 v2,,,,,,HL7 FHIR\nCode,Text\nQ,Qu\xe9er\n".encode("latin-1"),
     ", line 3: not UTF-8 text (invalid continuation byte at byte 35): save the table as CSV UTF-8"),
    # a quote left open would swallow every row after it
    ('HL7 v2,,,,,,HL7 FHIR\nCode,Text,Code System,,,,Code\nQ,"Queer,HL70002,,,,S\nM,Married,,,,,M\n',
     ", line 3: not CSV (unexpected end of data)"),
    ('HL7 v2,,,,,,HL7 FHIR\nCode,Text,Code System,,,,Code\nQ,"Queer"ly,HL70002,,,,S\n',
     ", line 3: not CSV (',' expected after '\"')"),
])
def test_user_vocabulary(tmp_path, table, expected):
    path = tmp_path / "HL7 Concept Map_ MaritalStatus - Sheet1.csv"
    path.write_bytes(table) if isinstance(table, bytes) else path.write_text(table)
    if isinstance(expected, str):
        with pytest.raises(ValueError) as e:
            fhir.Mapping.load([path])
        assert str(e.value) == f"{path}{expected}"
        return
    text = ADT_A01.replace(PID, PID + "|||Q^Queer^HL70002")
    (patient,) = entries(fhir.to_dict(text, mapping=fhir.Mapping.load([path])), "Patient")
    assert patient["maritalStatus"] == {"coding": [expected]}

@pytest.mark.parametrize("name, field, element, expected", [
    ("MaritalStatus", PID + "|||M", "maritalStatus", {"coding": [
        {"code": "M", "system": "http://terminology.hl7.org/CodeSystem/v2-0002", "display": "Married"}]}),
    # (a Coding's code, CX-5's: no display)
    ("IdentifierType", PID, "identifier.0.type", {"coding": [
        {"code": "MR", "system": "http://terminology.hl7.org/CodeSystem/v2-0203"}]}),
])
def test_codes_a_user_vocabulary_misses_take_their_hl7_tables_system(tmp_path, name, field, element, expected):
    path = tmp_path / f"HL7 Concept Map_ {name} - Sheet1.csv"
    path.write_text("HL7 v2,,,,,,HL7 FHIR,,,\nCode,Text,Code System,,,,Code,,Display,Code System\n"
                    "Q,Queer,,,,,QQ,,Quux,http://example.org/q\n")
    (value,) = entries(fhir.to_dict(ADT_A01.replace(PID, field), mapping=fhir.Mapping.load([path])), "Patient")
    for step in element.split("."):
        value = value[int(step)] if step.isdigit() else value[step]
    assert value == expected


# Maps text as Mapping.load compiles a user's tables: ZPI-2 to an Observation
# made under the condition `{}` (postfix: V valued, E equal to one of, & and, | or).
MAPS = ("S\tZPI[Observation]\tObservation\nF\t0\t\tstatus\tc\t\t\tfinal\nF\t1\t\tcode\tO\tCWE[CodeableConcept]\t\t\n"
        "F\t2\t\tvalueString\ts\t\t\t\n"
        "M\tADT_A01\nG\tZPI\t\tObservation*9\tObservation\tZPI[Observation]\t{}\tObservation*9=subject=Patient*1")


@pytest.mark.parametrize("text, outcome", [
    (MAPS.format("V:ZPI-2 V:ZPI-1 &"), 1), (MAPS.format("V:ZPI-2 V:ZPI-3 &"), 0), (MAPS.format("V:ZPI-3 V:ZPI-2 |"), 1),
    (MAPS.format("V:ZPI-2 V:ZPI-3 & V:ZPI-9 |"), 0), (MAPS.format("V:ZPI-2 V:ZPI-3 | V:ZPI-9 &"), 0),
    (MAPS.format("E:ZPI-1.1:CAT,DOG"), 1), (MAPS.format("C:ZPI-2:ne:2"), 1), (MAPS.format("V:ZPI-2 &"), 0),  # an operator short of an operand: false
    # a value in another case than the test's holds where the test's vocabulary finds both one code: "rex" is none
    (MAPS.format("E:ZPI-2:rex:AppointmentParticipant.status"), 0), (MAPS.format("E:ZPI-2:rex:*"), 1),
    (MAPS.format("V:ZPI-2 V:ZPI-1"), 0),  # two values left, no operator: false
    (MAPS.format(" ".join(["V:ZPI-2"] * 33 + ["|"] * 32)), 0),  # more than 32 values held at once: false
    (MAPS.format("").replace("F\t2\t", "F\t9\t\tnote*1.text\ts\t\t\t\nF\t2\t"), 1),  # rows out of field order
    (MAPS.format("").replace("CWE[CodeableConcept]", "CWE[Zed]") +  # a count of the value's own repetitions
     "\nD\tCWE[Zed]\tCodeableConcept\nF\t1\tC:.1:eq:1\ttext\ts\t\t\t", 1),
    (MAPS.format("").replace("valueString\ts\t", "\tO\tA") +  # maps in maps: C reads a
     "\nD\tA\tX\nF\t1\t\t\tO\tB\t\t\nD\tB\tX\nF\t1\t\t\tO\tC\t\t\nD\tC\tX\nF\t1\t\tvalueString\ts\t\t\t", 1),  # sub-component whole
    (MAPS.format("").replace("valueString\ts\t", "\tO\tA") +  # a data type map's test of ".0": its value whole
     "\nD\tA\tX\nF\t1\tE:.0:Rex\tvalueString\ts\t\t\t", 1),
    (MAPS.format("").replace("valueString", "valueString*60000"), 1),  # a list's slots: 1 to 60000
    (MAPS.format("").replace("CWE[CodeableConcept]", "cwe[codeableCONCEPT]"), 1),  # map names in any case
    (MAPS.format("").replace("F\t2\t\tvalueString", "F\t2\tE:ZPI-1.1:CAT V:ZPI-2 |\tvalueString"), 1),  # or: no gate
    (MAPS.format("").replace("valueString", "valueString*60001"), "line 4: unreadable field row"),
    (MAPS.format("").replace("valueString\ts\t\t\t", "valueString\ts\t\t\t\tZPI"), "line 4: unreadable join"),
    ("P\tEncounter", 0), ("P\tEncounter\tsubject", "line 1: unreadable context link"), ("Z", "line 1: unknown line"),
    ("V\tA\tB", "line 1: unknown line"),  # a vocabulary line of the wrong length
    ("F\t2\t\tvalueString\ts\t\t\t", "line 1: field row outside a map"), ("C\tA\tB\tC\tD", "line 1: code outside a vocabulary"),
    ("G\tZPI\t\tO\tO\tZPI[Observation]\t\t", "line 1: segment row outside a structure"),
    (MAPS.format("V:ZP-2"), "line 6: unreadable condition"), (MAPS.format("E:ZPI-1"), "line 6: unreadable condition"),
    (MAPS.format("C:ZPI-1:xx:3"), "line 6: unreadable condition"), (MAPS.format("Q:ZPI-1"), "line 6: unreadable condition"),
    (MAPS.format("C:ZPI-1:lt:x"), "line 6: unreadable condition"), (MAPS.format("C:.x:eq:1"), "line 6: unreadable condition"),
    (MAPS.format("").replace("=subject=", "="), "line 6: unreadable reference"),
    # values written beside a reference, in the list element it goes in
    (MAPS.format("").replace("=subject=Patient*1", "=performer*1.actor=Patient*1=function.coding*1.code:OP,note*1:x"), 1),
    (MAPS.format("") + "=function.code:OP", "line 6: unreadable reference"),  # (subject: no list)
    (MAPS.format("").replace("=subject=Patient*1", "=performer*1=Patient*1=function"), "line 6: unreadable reference"),
    (MAPS.format("") + "\tnew", 1), (MAPS.format("") + "\tnow", "line 6: unknown line"),
    # a path through references: each with the type it refers to, then the path within
    (MAPS.format("").replace("valueString\ts\t\t\t", "valueString\ts\t\t\t\nF\t2\t\tperformer*1>Organization>name\ts\t\t\t"), 1),
    (MAPS.format("").replace("valueString", "performer*1>Organization"), "line 4: unreadable field row"),
    (MAPS.format("").replace("valueString", ">Organization>name"), "line 4: unreadable field row"),
])
def test_maps_text(text, outcome):
    from vellomar import _ops

    fhir._load()
    try:
        mapping = fhir.Mapping(_ops.fhir_mapping(text), ())
    except ValueError as error:
        assert str(error) == f"FHIR maps {outcome}"
        return
    bundle = fhir.to_dict(ADT_A01 + "ZPI|DOG^Dog^L|Rex\r", mapping=mapping)
    assert len([o for o in entries(bundle, "Observation") if "valueString" in o and "code" in o]) == outcome


@pytest.mark.parametrize("first, notes, reported", [("Rex", None, ["ZPI-2"]), ("Q", [{"text": "x"}], [])])
def test_a_component_no_row_took_is_reported_up_to_the_32nd(first, notes, reported):
    # a user's data type map reads ZPI-2's 32nd component where its first is "Q": else the field is reported
    from vellomar import _ops

    fhir._load()
    rows = (MAPS.format("").replace("valueString\ts\t", "\tO\tA") +
            "\nD\tA\tX\nF\t1\t\tvalueString\ts\t\t\t\nF\t32\tE:.1:Q\tnote*1.text\ts\t\t\t")
    conversion = fhir.convert(ADT_A01 + f"ZPI|DOG^Dog^L|{first}{'^' * 31}x\r", mapping=fhir.Mapping(_ops.fhir_mapping(rows), ()))
    assert [o.get("note") for o in entries(check_bundle(conversion.json), "Observation")
            if o["code"]["coding"][0]["code"] == "DOG"] == [notes]
    assert [u for u in conversion.unmapped if u.startswith("ZPI")] == reported


@pytest.mark.parametrize("op", ["lt", "le", "gt", "ge", "eq", "ne"])
def test_conditions_compare_counts_and_lengths(op):
    # C counts ZPI-3's repetitions, L measures its first one: each against 1
    from vellomar import _ops

    fhir._load()
    holds = {"lt": int.__lt__, "le": int.__le__, "gt": int.__gt__, "ge": int.__ge__, "eq": int.__eq__,
             "ne": int.__ne__}[op]
    for test in "CL":
        mapping = fhir.Mapping(_ops.fhir_mapping(MAPS.format(f"{test}:ZPI-3:{op}:1")), ())
        for value in ("", "a", "ab", "a~b"):
            bundle = fhir.to_dict(ADT_A01 + f"ZPI|DOG^Dog^L|Rex|{value}\r", mapping=mapping)
            made = len([o for o in entries(bundle, "Observation") if "valueString" in o]) == 1
            measured = value.count("~") + 1 if test == "C" and value else len(value.split("~")[0])
            assert made == holds(measured, 1), (test, value)


@settings(max_examples=80, deadline=None)
@given(st.sampled_from(["lt", "le", "gt", "ge", "eq", "ne"]), st.integers(0, 3),
       st.decimals(min_value=-4, max_value=4, places=1).map(str) | st.sampled_from(["0", "-0", "+02", " 1 ", "x"]))
def test_conditions_compare_numbers(op, number, value):
    # M reads ZPI-3 as a decimal number and compares it with the condition's; a text that is no number is
    # unequal to every number, and neither less nor greater
    from decimal import Decimal, InvalidOperation

    from vellomar import _ops

    fhir._load()
    mapping = fhir.Mapping(_ops.fhir_mapping(MAPS.format(f"M:ZPI-3:{op}:{number}")), ())
    bundle = fhir.to_dict(ADT_A01 + f"ZPI|DOG^Dog^L|Rex|{value}\r", mapping=mapping)
    made = len([o for o in entries(bundle, "Observation") if "valueString" in o]) == 1
    try:
        read = Decimal(value.strip())
    except InvalidOperation:
        assert made == (op == "ne")
        return
    assert made == {"lt": read < number, "le": read <= number, "gt": read > number, "ge": read >= number,
                    "eq": read == number, "ne": read != number}[op]


# a link at each of two segments takes an element of the first list on its path
@pytest.mark.parametrize("path, expected", [
    ("part*1.member*1", lambda pets: [{"member": [pet]} for pet in pets]),  # of the outer list
    ("part.member*1", lambda pets: {"member": pets}),  # a list inside an element
])
def test_links_into_lists(path, expected):
    from vellomar import _ops

    fhir._load()
    text = MAPS.format("").replace("Observation*9=subject=Patient*1", f"Patient*1={path}=Observation*9")
    bundle = fhir.to_dict(ADT_A01 + "ZPI|DOG^Dog^L|Rex\rZPI|CAT^Cat^L|Tom\r",
                          mapping=fhir.Mapping(_ops.fhir_mapping(text), ()))
    (patient,) = entries(bundle, "Patient")
    pets = [{"reference": "urn:uuid:" + o["id"]} for o in entries(bundle, "Observation") if "valueString" in o]
    assert patient["part"] == expected(pets) and len(pets) == 2


@pytest.mark.parametrize("value, expected", [("en-US", "en-US"), (" en \t US ", "en US"), ("a  b", "a b")])
def test_codes_keep_single_spaces_between_words(value, expected):
    from vellomar import _ops

    fhir._load()
    mapping = fhir.Mapping(_ops.fhir_mapping(MAPS.format("").replace("F\t2\t", "F\t6\t\tlanguage\tc\t\t\t\nF\t2\t")), ())
    bundle = fhir.to_dict(ADT_A01 + f"ZPI|DOG^Dog^L|Rex||||{value}\r", mapping=mapping)
    assert [o["language"] for o in entries(bundle, "Observation") if "valueString" in o] == [expected]


def test_bulk_ndjson_per_resource_type(tmp_path, capsys, monkeypatch):
    from vellomar import _fhir_bulk
    from vellomar.cli import main

    monkeypatch.setattr(_fhir_bulk, "BATCH_MESSAGES", 1)  # a call of the core per message

    good = tmp_path / "good.hl7"
    good.write_text(ADT_A01 + ORU_R01.replace("|M1|", "|M2|"))
    bad = tmp_path / "bad.hl7"
    bad.write_bytes(ADT_A01.encode() + b"MSH|^~\\&|caf\xe9")
    out = tmp_path / "out"
    assert main(["fhir", str(good), str(bad), "-o", str(out)]) == 1
    err = capsys.readouterr().err.splitlines()
    assert err[0] == (f"vellomar: {bad}: message 2 at byte {len(ADT_A01)}: 'utf-8' codec can't "
                      "decode byte 0xe9 in position 12: unexpected end of data (choose the "
                      "encoding with --encoding, e.g. --encoding cp1252)")
    patients = (out / "Patient.ndjson").read_text().splitlines()
    # one line per message that carries the Patient, with one id
    assert len(patients) == 3 and len({json.loads(p)["id"] for p in patients}) == 1
    observations = [json.loads(line) for line in (out / "Observation.ndjson").read_text().splitlines()]
    assert {o["subject"]["reference"] for o in observations} == {
        "Patient/" + json.loads(patients[0])["id"]}
    assert {p.name for p in out.iterdir()} >= {"MessageHeader.ndjson", "Encounter.ndjson"}
    assert fhir.write_ndjson(good, out) == {
        k: len((out / f"{k}.ndjson").read_text().splitlines()) for k in fhir.write_ndjson(good, out)}
    with pytest.raises(ValueError) as raised:
        fhir.write_ndjson(good, out, errors="ignore")
    assert str(raised.value) == "errors must be 'raise' or 'skip', not 'ignore'"
    # a bad message with --errors raise: nothing is replaced
    before = (out / "Patient.ndjson").read_bytes()
    assert main(["fhir", str(good), str(bad), "-o", str(out), "--errors", "raise"]) == 1
    assert (out / "Patient.ndjson").read_bytes() == before
    # a message in the character set its MSH-18 names is decoded by it
    latin = tmp_path / "latin.hl7"
    latin.write_bytes(ADT_A01.replace("|2.5.1", "|2.5.1||||||8859/1").replace("EVERYMAN", "MÜLLER")
                      .encode("latin-1"))
    fhir.write_ndjson(latin, out)
    assert json.loads((out / "Patient.ndjson").read_text())["name"][0]["family"] == "MÜLLER"
    assert [(r[0], r[1]) for r in fhir.resources_of(ADT_A01)][:1] == [
        ("MessageHeader", entries(fhir.to_dict(ADT_A01), "MessageHeader")[0]["id"])]
    # a committed run removes the files of the types it wrote nothing of, when it can (naming the one it
    # cannot), but not its own input
    (out / "Basic.ndjson").write_text(ORU_R01)
    for name in ("Task.ndjson", "Flag.ndjson"):
        (out / name).write_text("")
    def unlink(path, remove=os.unlink):
        if path.endswith("Task.ndjson"):
            raise PermissionError(13, "Permission denied")
        remove(path)

    monkeypatch.setattr(os, "unlink", unlink)
    capsys.readouterr()
    assert main(["fhir", str(latin), str(out / "Basic.ndjson"), "-o", str(out)]) == 1
    assert capsys.readouterr().err == f"vellomar: {out}/Task.ndjson: Permission denied\n"
    assert sorted(p.name for p in out.iterdir() if p.name[0] in "BFT") == ["Basic.ndjson", "Task.ndjson"]
    monkeypatch.undo()
    assert "Patient" in fhir.write_ndjson([latin, out / "Basic.ndjson"], out)
    assert sorted(p.name for p in out.iterdir() if p.name[0] in "BFT") == ["Basic.ndjson"]


def test_bulk_counts_the_messages_of_each_kind_of_what_was_not_mapped(tmp_path, capsys, monkeypatch):
    from vellomar import _fhir_bulk
    from vellomar.cli import main

    monkeypatch.setattr(_fhir_bulk, "BATCH_MESSAGES", 2)  # counts of batches added up
    archive = tmp_path / "a.hl7"
    # codes PID-8's vocabulary lacks are one kind whatever the code (a quote in it too); no bundle holds
    # MSH-10 (the Bundle's identifier) in NDJSON, nor MSH-7 (its timestamp), which without a sending
    # facility no Provenance holds either: reported whole, where convert() says "(not an instant)"
    unsent = ADT_A01.replace("|GOOD HEALTH HOSPITAL|EHR|GHH|20240110120000-0500|", "||EHR|GHH|2024011012x|")
    assert fhir.convert(unsent).unmapped == ["MSH-7 '2024011012x' (not an instant)",
                                             "Provenance without agent (from EVN)"]
    archive.write_text(ADT_A01.replace("|M|", "|X|", 1) + ADT_A01.replace("|M|", "|O'B|", 1)
                       + ADT_A01 + "ZPI|1\r" + unsent)
    out, listing = tmp_path / "out", tmp_path / "unmapped.tsv"
    expected = {"MSH-10": 4, "PID-8 (AdministrativeSex)": 2, "MSH-7": 1, "Provenance without agent (from EVN)": 1,
                "ZPI": 1}
    assert list(fhir.write_ndjson(archive, out).unmapped.items()) == list(expected.items())
    monkeypatch.setattr(_fhir_bulk, "MAX_KINDS", 2)  # the kinds past the bound are counted together
    assert fhir.write_ndjson(archive, out).unmapped == {"MSH-10": 4, "PID-8 (AdministrativeSex)": 2,
                                                        "(other kinds)": 3}
    monkeypatch.setattr(_fhir_bulk, "MAX_KINDS", 10_000)
    assert main(["fhir", str(archive), "-o", str(out), "--unmapped", str(listing)]) == 0
    assert capsys.readouterr().err == (f"vellomar: 54 resources in 10 files; 5 kinds of content not mapped "
                                       f"(listed in {listing})\n")
    assert listing.read_text() == "unmapped\tmessages\n" + "".join(f"{k}\t{n}\n" for k, n in expected.items())
    # a run that stops leaves the listing as it was; one that cannot write it stops before reading
    (tmp_path / "bad.hl7").write_text("MSH|x\r")
    listing.write_text("old\n")
    assert main(["fhir", str(archive), str(tmp_path / "bad.hl7"), "-o", str(out), "--unmapped", str(listing),
                 "--errors", "raise"]) == 1
    assert listing.read_text() == "old\n"
    monkeypatch.setattr(fhir, "write_ndjson", lambda *a, **k: (_ for _ in ()).throw(KeyboardInterrupt))
    assert main(["fhir", str(archive), "-o", str(out), "--unmapped", str(listing)]) == 130
    assert listing.read_text() == "old\n" and [p.name for p in tmp_path.glob(".unmapped.tsv*")] == []
    capsys.readouterr()
    assert main(["fhir", str(archive), "-o", str(out), "--unmapped", str(tmp_path)]) == 2
    assert capsys.readouterr().err == f"vellomar: {tmp_path}: Is a directory\n"


def test_bulk_jobs_write_the_same_files_and_a_bad_message_stops_them_all(tmp_path, monkeypatch):
    import threading

    from vellomar import _fhir_bulk

    monkeypatch.setattr(_fhir_bulk, "BATCH_MESSAGES", 2)
    texts = [(ADT_A01 if i % 3 else ORU_R01).replace("|M1|", f"|M{i}|").replace("PATID1234", f"P{i}")
             for i in range(11)]
    good, bad = tmp_path / "good.hl7", tmp_path / "bad.hl7"
    good.write_text("".join(texts))
    bad.write_text("".join(texts[:7] + ["MSH|x\r"] + texts[7:]))
    files = {}
    for jobs in (1, 3):
        fhir.write_ndjson(good, tmp_path / str(jobs), jobs=jobs)
        files[jobs] = {p.name: p.read_bytes() for p in (tmp_path / str(jobs)).iterdir()}
    assert files[1] == files[3] and len(files[1]["Patient.ndjson"].splitlines()) == 11
    with pytest.raises(vellomar.MessageError) as raised:
        fhir.write_ndjson(bad, tmp_path / "3", jobs=3)
    assert raised.value.ordinal == 8
    assert {p.name: p.read_bytes() for p in (tmp_path / "3").iterdir()} == files[3]
    assert not [t for t in threading.enumerate() if t.name.startswith("vellomar-fhir")]
    for jobs in (0, 1.5, True):
        with pytest.raises(ValueError) as raised:
            fhir.write_ndjson(good, tmp_path / "3", jobs=jobs)
        assert str(raised.value) == f"jobs must be a whole number of at least 1, not {jobs!r}"


KILL_AT_SIXTH_WRITE = ("import os, signal, vellomar._files as f; write, n = f.AtomicFile.write, [0]; "
                       "f.AtomicFile.write = lambda self, data: (n.append(0), len(n) > 6 and os.kill(os.getpid(), "
                       "signal.SIGKILL), write(self, data))[2]; ")
FULL_AT_64K = ("import resource, signal; signal.signal(signal.SIGXFSZ, signal.SIG_IGN); "
               "resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536)); ")
FAILING = "import errno, os; os.{} = lambda *a: (_ for _ in ()).throw(OSError(errno.EIO, 'Input/output error')); "


# a run that fails half-way (its third batch of 128 messages a bad one; a file passing 64 KiB on a full
# disk; a file's sync or rename failing; killed at its sixth write, in its second batch) over the files of an
# earlier run and a file of a type it does not write (removed only when a run commits)
@pytest.mark.parametrize("fault, before, status, error", [
    ("bad", "", 1, "vellomar: {archive}: message 300 at byte {offset}: MSH segment too short to extract encoding "
     "characters\n"),
    ("full", FULL_AT_64K, 1, "vellomar: {out}/Encounter.ndjson: File too large\n"),
    ("sync", FAILING.format("fsync"), 1, "vellomar: {out}/AllergyIntolerance.ndjson: Input/output error\n"),
    ("rename", FAILING.format("replace"), 1, "vellomar: {out}/AllergyIntolerance.ndjson: Input/output error\n"),
    ("kill", KILL_AT_SIXTH_WRITE, -9, ""),
])
def test_bulk_run_failing_half_way_keeps_the_old_files_whole(tmp_path, fault, before, status, error):
    import subprocess

    from vellomar.cli import main

    texts = [(ADT_A01 if i % 2 else ORU_R01).replace("|M1|", f"|M{i}|").replace("PATID1234", f"P{i}")
             for i in range(320)]
    archive, out = tmp_path / "a.hl7", tmp_path / "out"
    archive.write_text("".join(texts[:150]))
    assert main(["fhir", str(archive), "-o", str(out), "--no-progress"]) == 0
    for name in ("Flag.ndjson", "Flag.json", "Flags.ndjson"):
        (out / name).write_text("an earlier run's\n")
    old = {p.name: p.read_bytes() for p in out.iterdir()}
    archive.write_text("".join(texts[:299] + (["MSH|^~\r"] if fault == "bad" else []) + texts[299:]))
    done = subprocess.run([sys.executable, "-c", before + "import sys; from vellomar.cli import main; "
                           "sys.exit(main(sys.argv[1:]))", "fhir", "a.hl7", "-o", "out", "--errors", "raise",
                           "--no-progress", "--jobs", "2"], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stderr) == (status, error.format(archive="a.hl7", out="out",
                                                                    offset=len("".join(texts[:299]))))
    assert {p.name: p.read_bytes() for p in out.iterdir() if not p.name.endswith(".tmp")} == old
    # a killed run's temporary files stay until a run writes the same files
    assert bool(list(out.glob(".*.tmp"))) == (fault == "kill")
    archive.write_text("".join(texts))
    assert main(["fhir", str(archive), "-o", str(out), "--no-progress"]) == 0
    assert sorted(p.name for p in out.iterdir()) == sorted(set(old) - {"Flag.ndjson"})


@pytest.mark.parametrize("reader", ["dask", "spark"])
def test_dask_and_spark_give_one_row_per_resource_and_name_a_bad_message_in_its_file(tmp_path, reader, caplog):
    # Ranges of 500 bytes: the bad message (the 7th) lies in a later one.
    texts = [ADT_A01, ORU_R01] * 3 + ["MSH|x\r", ADT_A01]
    path = tmp_path / "a.hl7"
    path.write_text("".join(texts))
    with pytest.raises(vellomar.MessageError) as expected_error, vellomar.read(path) as whole:
        list(whole)
    expected = sorted(fhir.resources_of(ADT_A01) * 4 + fhir.resources_of(ORU_R01) * 3)

    def rows(strict):
        if reader == "dask":
            frame = pytest.importorskip("vellomar.dask").read_fhir(
                path, blocksize=500, errors="raise" if strict else "skip")
            return list(map(tuple, frame.compute(scheduler="sync").itertuples(index=False)))
        pytest.importorskip("pyspark")
        import vellomar.spark as spark  # the tasks themselves, without a session
        options = spark._Options.parse({"path": str(path), "fhir": "true",
                                        "mode": "FAILFAST" if strict else "DROPMALFORMED"})
        tasks = spark._partitions([spark._Span(str(path), 0, path.stat().st_size)], 500)
        assert len(tasks) > 4
        return [row for task in tasks for batch in spark._read(options, task)
                for row in zip(*batch.to_pydict().values())]

    assert sorted(rows(strict=False)) == expected
    assert [r.getMessage() for r in caplog.records if r.name == f"vellomar.{reader}"] == [
        f"{path}: {expected_error.value}"]
    with pytest.raises(vellomar.MessageError) as raised:
        rows(strict=True)
    assert (raised.value.ordinal, raised.value.offset, str(raised.value)) == (
        7, len("".join(texts[:6])), f"{path}: {expected_error.value}")


