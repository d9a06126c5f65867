"""Seeded generator of realistic HL7 v2 messages for the benchmark.

Every function takes a ``random.Random`` (or a seed) and returns text whose
segments end in a carriage return, as an interface engine delivers them. The
same seed gives the same bytes on every run and every machine.

The message kinds:

- ``adt_a01``: an admission (ADT^A01) of about 1 KB with repeating patient
  identifiers, addresses and phone numbers, next of kin, allergies and
  diagnoses; no escape sequences.
- ``oru_r01``: a laboratory result (ORU^R01) with 20 OBX segments, about 4 KB;
  no escape sequences.
- ``oru_base64``: an ORU^R01 carrying an encapsulated PDF of about 1 MB as
  base64 in one OBX-5.
- ``adt_escaped``: an ADT^A01 whose values hold escape sequences (field,
  component, sub-component, repetition and escape characters, hex data and
  line breaks) and many repetitions.
- ``adt_a01_full``: an ADT^A01 of about 2.5 KB with every segment a FHIR
  converter maps for an admission (PID, PD1, NK1, PV1, PV2, OBX, AL1, DG1,
  PR1, IN1).
- ``batch``: a file of ADT^A01 messages wrapped in FHS/BHS ... BTS/FTS.
"""

from __future__ import annotations

import base64
import random

SEED = 20240605

FAMILY = ["SMITH", "JOHNSON", "WILLIAMS", "BROWN", "JONES", "GARCIA", "MILLER",
          "DAVIS", "RODRIGUEZ", "MARTINEZ", "HERNANDEZ", "LOPEZ", "GONZALEZ",
          "WILSON", "ANDERSON", "THOMAS", "TAYLOR", "MOORE", "JACKSON", "MARTIN",
          "LEE", "PEREZ", "THOMPSON", "WHITE", "HARRIS", "SANCHEZ", "CLARK",
          "RAMIREZ", "LEWIS", "ROBINSON", "WALKER", "YOUNG", "ALLEN", "KING"]
GIVEN = ["JAMES", "MARY", "ROBERT", "PATRICIA", "JOHN", "JENNIFER", "MICHAEL",
         "LINDA", "DAVID", "ELIZABETH", "WILLIAM", "BARBARA", "RICHARD", "SUSAN",
         "JOSEPH", "JESSICA", "THOMAS", "SARAH", "CHARLES", "KAREN", "DANIEL",
         "LISA", "MATTHEW", "NANCY", "ANTHONY", "BETTY", "MARK", "MARGARET"]
STREETS = ["MAIN ST", "OAK AVE", "PINE RD", "MAPLE DR", "CEDAR LN", "ELM ST",
           "WASHINGTON BLVD", "LAKE VIEW RD", "HILLSIDE AVE", "PARK PL"]
CITIES = [("SPRINGFIELD", "IL", "62701"), ("MADISON", "WI", "53703"),
          ("FRANKLIN", "TN", "37064"), ("CLINTON", "IA", "52732"),
          ("GREENVILLE", "SC", "29601"), ("BRISTOL", "CT", "06010"),
          ("SALEM", "OR", "97301"), ("FAIRVIEW", "OR", "97024")]
DOCTORS = [("1234567", "HOUSE", "GREGORY"), ("2345678", "GREY", "MEREDITH"),
           ("3456789", "CARTER", "JOHN"), ("4567890", "ROSS", "DOUG"),
           ("5678901", "WEAVER", "KERRY"), ("6789012", "BENTON", "PETER")]
ALLERGENS = [("PCN", "PENICILLIN"), ("SULFA", "SULFONAMIDES"),
             ("LTX", "LATEX"), ("ASA", "ASPIRIN"), ("PNT", "PEANUTS")]
DIAGNOSES = [("I10", "ESSENTIAL HYPERTENSION"), ("E11.9", "TYPE 2 DIABETES"),
             ("J18.9", "PNEUMONIA UNSPECIFIED"), ("N39.0", "URINARY TRACT INFECTION"),
             ("R07.9", "CHEST PAIN UNSPECIFIED"), ("K35.80", "ACUTE APPENDICITIS")]
# (LOINC code, name, units, low, high, decimals)
TESTS = [("2345-7", "Glucose", "mg/dL", 70, 99, 0),
         ("2160-0", "Creatinine", "mg/dL", 0.6, 1.3, 2),
         ("3094-0", "Urea nitrogen", "mg/dL", 7, 20, 0),
         ("2951-2", "Sodium", "mmol/L", 136, 145, 0),
         ("2823-3", "Potassium", "mmol/L", 3.5, 5.1, 1),
         ("2075-0", "Chloride", "mmol/L", 98, 107, 0),
         ("2028-9", "Carbon dioxide", "mmol/L", 22, 29, 0),
         ("17861-6", "Calcium", "mg/dL", 8.6, 10.3, 1),
         ("2885-2", "Protein", "g/dL", 6.0, 8.3, 1),
         ("1751-7", "Albumin", "g/dL", 3.5, 5.2, 1),
         ("1975-2", "Bilirubin total", "mg/dL", 0.1, 1.2, 1),
         ("6768-6", "Alkaline phosphatase", "U/L", 44, 147, 0),
         ("1742-6", "ALT", "U/L", 7, 56, 0),
         ("1920-8", "AST", "U/L", 10, 40, 0),
         ("6690-2", "Leukocytes", "10*3/uL", 4.5, 11.0, 1),
         ("789-8", "Erythrocytes", "10*6/uL", 4.2, 5.9, 2),
         ("718-7", "Hemoglobin", "g/dL", 12.0, 17.5, 1),
         ("4544-3", "Hematocrit", "%", 36, 50, 1),
         ("787-2", "MCV", "fL", 80, 100, 1),
         ("777-3", "Platelets", "10*3/uL", 150, 450, 0)]


def _rng(rng: random.Random | int | None) -> random.Random:
    if isinstance(rng, random.Random):
        return rng
    return random.Random(SEED if rng is None else rng)


def _ts(rng: random.Random) -> str:
    return "2024%02d%02d%02d%02d%02d" % (
        rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 23),
        rng.randint(0, 59), rng.randint(0, 59))


def _dob(rng: random.Random) -> str:
    return "%04d%02d%02d" % (rng.randint(1930, 2020), rng.randint(1, 12), rng.randint(1, 28))


def _phone(rng: random.Random) -> str:
    return "(%03d)%03d-%04d" % (rng.randint(200, 989), rng.randint(200, 999), rng.randint(0, 9999))


def _address(rng: random.Random, kind: str) -> str:
    city, state, zip_code = rng.choice(CITIES)
    return "%d %s^APT %d^%s^%s^%s^USA^%s" % (
        rng.randint(1, 9999), rng.choice(STREETS), rng.randint(1, 40),
        city, state, zip_code, kind)


def _msh(rng: random.Random, message_type: str, control: int, app: str) -> str:
    return ("MSH|^~\\&|%s|GENHOSP^1.2.840.114350.1.13^ISO|RECVAPP|RECVFAC|%s||%s|MSG%08d|P|2.5|||AL|NE|USA|UNICODE UTF-8"
            % (app, _ts(rng), message_type, control))


def adt_a01(rng: random.Random | int | None = None, control: int = 1) -> str:
    """An ADT^A01 admission of about 1,150 bytes without escape sequences."""
    r = _rng(rng)
    fam, given, middle = r.choice(FAMILY), r.choice(GIVEN), r.choice(GIVEN)
    mrn = "%08d" % r.randint(0, 99999999)
    doc_id, doc_fam, doc_given = r.choice(DOCTORS)
    att = "%s^%s^%s^^^DR^MD" % (doc_id, doc_fam, doc_given)
    nk_fam, nk_given = r.choice(FAMILY), r.choice(GIVEN)
    admit = _ts(r)
    segments = [
        _msh(r, "ADT^A01^ADT_A01", control, "ADTAPP"),
        "EVN|A01|%s|||%s^%s^%s" % (admit, r.randint(100, 999), r.choice(FAMILY), r.choice(GIVEN)),
        "PID|1||%s^^^GENHOSP^MR~%09d^^^USSSA^SS||%s^%s^%s^^^^L~%s^%s^^^^^M||%s|%s|||%s~%s||%s^PRN^PH~%s^WPN^PH||ENG^English^ISO639|M^Married^HL70002|CHR^Christian^HL70006|%s^^^GENHOSP^AN|%09d"
        % (mrn, r.randint(0, 999999999), fam, given, middle, r.choice(FAMILY), given,
           _dob(r), r.choice("MF"), _address(r, "H"), _address(r, "M"),
           _phone(r), _phone(r), r.randint(10 ** 8, 10 ** 9 - 1), r.randint(0, 999999999)),
        "PD1|||GENHOSP MEDICAL GROUP^^%d|%s^%s^%s^^^DR" % (r.randint(1000, 9999), *r.choice(DOCTORS)),
        "NK1|1|%s^%s|SPO^Spouse^HL70063|%s|%s||EC^Emergency Contact^HL70131"
        % (nk_fam, nk_given, _address(r, "H"), _phone(r)),
        "PV1|1|I|%s^%d^%d^GENHOSP^^^^^%s||||%s|%s||MED|||||A0||%s|IN|%09d^^^GENHOSP^VN|||||||||||||||||||||||||%s"
        % (r.choice(["4WEST", "3EAST", "ICU", "5NORTH"]), r.randint(100, 499), r.randint(1, 4),
           r.choice(["MEDICAL WING", "SURGICAL WING"]), att, att, att, r.randint(0, 999999999), admit),
        "PV2|||%s^%s^I10" % r.choice(DIAGNOSES),
        "AL1|1|DA|%s^%s^LOCAL|SV|HIVES" % r.choice(ALLERGENS),
        "AL1|2|DA|%s^%s^LOCAL|MO|RASH" % r.choice(ALLERGENS),
        "DG1|1|I10|%s^%s^I10||%s|A" % (*r.choice(DIAGNOSES), admit),
    ]
    return "\r".join(segments) + "\r"


def adt_a01_full(rng: random.Random | int | None = None, control: int = 1) -> str:
    """An ADT^A01 of about 2,500 bytes holding PID, PD1, NK1, PV1, PV2, OBX,
    AL1, DG1, PR1 and IN1 (the admission a FHIR converter maps): `adt_a01`
    with two next of kin, three observations (one a long text), a procedure
    and an insurance."""
    r = _rng(rng)
    segments = adt_a01(r, control).rstrip("\r").split("\r")
    nk1 = next(i for i, s in enumerate(segments) if s.startswith("NK1|"))
    segments.insert(nk1 + 1, segments[nk1].replace("NK1|1|", "NK1|2|", 1))
    pv2 = next(i for i, s in enumerate(segments) if s.startswith("PV2|"))
    when = _ts(r)
    note = ("Patient admitted through the emergency department with chest pain radiating to the left "
            "arm; ECG on arrival showed no acute changes; troponin pending; admitted to telemetry for "
            "observation and serial enzymes. Family at bedside, informed of plan. Home medications "
            "reconciled with the pharmacy list; aspirin continued, metformin held pending contrast "
            "study. Telemetry orders written; nursing to notify the covering physician for chest pain "
            "recurrence, heart rate above 120 or systolic pressure below 90. Dietary consult "
            "requested; cardiology to see in the morning; echocardiogram booked for the afternoon, "
            "lipid panel and HbA1c added to the morning draw.")
    segments[pv2 + 1:pv2 + 1] = [
        "OBX|1|NM|8302-2^Body height^LN||%d|cm^centimeter^UCUM|||||F|||%s" % (r.randint(150, 200), when),
        "OBX|2|NM|29463-7^Body weight^LN||%d|kg^kilogram^UCUM|||||F|||%s" % (r.randint(50, 120), when),
        "OBX|3|TX|8251-1^Service comment^LN||%s||||||F|||%s" % (note, when),
    ]
    doc_id, doc_fam, doc_given = r.choice(DOCTORS)
    fam, given = r.choice(FAMILY), r.choice(GIVEN)
    segments += [
        "PR1|1|I10P|0DTJ4ZZ^Resection of appendix^I10P||%s|A|||||%s^%s^%s^^^DR^MD"
        % (_ts(r), doc_id, doc_fam, doc_given),
        "IN1|1|PPO^Preferred provider^HL70072|ACME01^^^ACME|ACME INSURANCE|%s||%s|GRP%03d|"
        "GROUP ONE^EMPLOYER HEALTH PLAN|||20240101|20241231|||%s^%s|SEL^Self^HL70063|%s|%s|||1"
        "||||||||||||||POL%06d|||||||%s"
        % (_address(r, "B"), _phone(r), r.randint(0, 999), fam, given, _dob(r), _address(r, "H"),
           r.randint(0, 999999), r.choice("MF")),
    ]
    return "\r".join(segments) + "\r"


def oru_r01(rng: random.Random | int | None = None, control: int = 1, n_obx: int = 20) -> str:
    """An ORU^R01 laboratory result with `n_obx` OBX segments (20: about 3,900 bytes)."""
    r = _rng(rng)
    fam, given = r.choice(FAMILY), r.choice(GIVEN)
    doc_id, doc_fam, doc_given = r.choice(DOCTORS)
    observed = _ts(r)
    placer, filler = r.randint(10 ** 6, 10 ** 7 - 1), r.randint(10 ** 6, 10 ** 7 - 1)
    segments = [
        _msh(r, "ORU^R01^ORU_R01", control, "LABAPP"),
        "PID|1||%08d^^^GENHOSP^MR||%s^%s^%s||%s|%s|||%s||%s^PRN^PH"
        % (r.randint(0, 99999999), fam, given, r.choice(GIVEN), _dob(r), r.choice("MF"),
           _address(r, "H"), _phone(r)),
        "PV1|1|O|LAB^^^GENHOSP||||%s^%s^%s^^^DR" % (doc_id, doc_fam, doc_given),
        "ORC|RE|%d^ORDAPP|%d^LABAPP||CM||||%s|||%s^%s^%s^^^DR"
        % (placer, filler, observed, doc_id, doc_fam, doc_given),
        "OBR|1|%d^ORDAPP|%d^LABAPP|24323-8^Comprehensive metabolic and blood panel^LN|||%s|||||||%s||%s^%s^%s^^^DR||||||%s|||F"
        % (placer, filler, observed, observed, doc_id, doc_fam, doc_given, observed),
    ]
    for i in range(n_obx):
        code, name, units, low, high, decimals = TESTS[i % len(TESTS)]
        value = r.uniform(low * 0.8, high * 1.2)
        flag = "L" if value < low else "H" if value > high else "N"
        segments.append(
            "OBX|%d|NM|%s^%s^LN||%.*f|%s^%s^UCUM|%s-%s|%s|||F|||%s|GENLAB^General Laboratory^L|%s^%s^%s||EQ%05d^COBAS8000^L|%s"
            % (i + 1, code, name, decimals, value, units, units, low, high, flag, observed,
               doc_id, doc_fam, doc_given, r.randint(0, 99999), observed))
    segments.append("NTE|1|L|Specimen received in good condition.")
    return "\r".join(segments) + "\r"


def oru_base64(rng: random.Random | int | None = None, size: int = 1 << 20) -> str:
    """An ORU^R01 whose one OBX-5 holds about `size` bytes of base64 (an encapsulated PDF)."""
    r = _rng(rng)
    payload = base64.b64encode(b"%PDF-1.4\n" + r.randbytes(size * 3 // 4 - 9)).decode("ascii")
    segments = [
        _msh(r, "ORU^R01^ORU_R01", 1, "DOCAPP"),
        "PID|1||%08d^^^GENHOSP^MR||%s^%s||%s|%s" % (r.randint(0, 99999999), r.choice(FAMILY),
                                                     r.choice(GIVEN), _dob(r), r.choice("MF")),
        "OBR|1||%d^DOCAPP|11488-4^Consult note^LN|||%s" % (r.randint(10 ** 6, 10 ** 7 - 1), _ts(r)),
        "OBX|1|ED|11488-4^Consult note^LN||DOCAPP^application^pdf^Base64^%s||||||F" % payload,
    ]
    return "\r".join(segments) + "\r"


def adt_escaped(rng: random.Random | int | None = None, control: int = 1) -> str:
    """An ADT^A01 with escape sequences in many values and many repetitions."""
    r = _rng(rng)
    fam = r.choice(FAMILY)
    ids = "~".join("%08d^^^SITE%d^MR" % (r.randint(0, 99999999), i) for i in range(6))
    names = "~".join("%s\\T\\%s^%s^^^^^%s" % (fam, r.choice(FAMILY), r.choice(GIVEN), t)
                     for t in "LMANBD")
    addrs = "~".join(_address(r, k) for k in "HMBCO")
    phones = "~".join("%s^%s^PH" % (_phone(r), k) for k in ("PRN", "WPN", "ORN", "EMR"))
    segments = [
        _msh(r, "ADT^A01^ADT_A01", control, "ADTAPP"),
        "EVN|A01|%s" % _ts(r),
        "PID|1||%s||%s||%s|%s|||%s||%s" % (ids, names, _dob(r), r.choice("MF"), addrs, phones),
        "NK1|1|O\\S\\BRIEN^SEAN|SPO^Spouse \\E\\ partner^HL70063|%s" % _address(r, "H"),
        "PV1|1|I|4WEST^401^1||||%s^%s^%s^^^DR" % r.choice(DOCTORS),
    ]
    notes = [
        "Pipe \\F\\ inside, caret \\S\\ here, amp \\T\\ and tilde \\R\\ too.",
        "Line one\\.br\\Line two\\.br\\Line three",
        "Hex CR LF \\X0D0A\\ and a latin e-acute \\XE9\\ in caf\\XE9\\.",
        "Backslash \\E\\ path C:\\E\\TEMP\\E\\FILE.TXT and \\H\\highlight\\N\\ text.",
        "Allergic to PCN~SULFA (repetitions)~and LATEX",
    ]
    for i, note in enumerate(notes * 2, 1):
        segments.append("NTE|%d|P|%s" % (i, note))
    return "\r".join(segments) + "\r"


def batch(rng: random.Random | int | None = None, count: int = 10_000,
          distinct: int = 10_000) -> str:
    """A batch file of `count` ADT^A01 messages in FHS/BHS ... BTS/FTS.

    The first `distinct` messages differ from one another; beyond that the
    same messages follow again (a larger batch is the smaller one repeated,
    which keeps the generation time down and the per-message work equal).
    """
    r = _rng(rng)
    head = "FHS|^~\\&|ADTAPP|GENHOSP|RECVAPP|RECVFAC|%s\rBHS|^~\\&|ADTAPP|GENHOSP|RECVAPP|RECVFAC|%s\r" % (
        _ts(r), _ts(r))
    messages = [adt_a01(r, control=i + 1) for i in range(min(count, distinct))]
    whole, part = divmod(count, len(messages))
    body = "".join(messages) * whole + "".join(messages[:part])
    return head + body + "BTS|%d\rFTS|1\r" % count


def adt_series(count: int, seed: int = SEED) -> list[str]:
    """`count` distinct ADT^A01 texts (for the memory measurement)."""
    r = _rng(seed)
    return [adt_a01(r, control=i + 1) for i in range(count)]


def corpus(seed: int = SEED) -> dict[str, str]:
    """The single messages of the benchmark, by name."""
    return {
        "adt": adt_a01(random.Random(seed)),
        "oru": oru_r01(random.Random(seed + 1)),
        "oru_1mb": oru_base64(random.Random(seed + 2)),
        "escaped": adt_escaped(random.Random(seed + 3)),
        "adt_full": adt_a01_full(random.Random(seed + 4)),
    }


def write(directory: str) -> None:
    """Writes the corpus as files (for the C++ micro-benchmark): one message per
    file, segments ended by carriage returns, plus the 10,000-message batch."""
    import os

    os.makedirs(directory, exist_ok=True)
    files = dict(corpus())
    files["batch_10k"] = batch(count=10_000)
    for name, text in files.items():
        with open(os.path.join(directory, name + ".hl7"), "w", encoding="utf-8", newline="") as f:
            f.write(text)


if __name__ == "__main__":
    import sys

    if len(sys.argv) == 3 and sys.argv[1] == "--write":
        write(sys.argv[2])
        sys.exit(0)
    if len(sys.argv) != 1:
        sys.exit("usage: corpus.py [--write DIRECTORY]")
    for name, text in corpus().items():
        print("%-8s %9d bytes, %3d segments" % (name, len(text.encode()), text.count("\r")))
