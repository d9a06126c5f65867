"""Messages of the kinds hospitals, laboratories and registries send, whole,
for bench/fhir_hashes.py: each the road of a converter mend that the
generated messages do not take (a PRT of 2.8, an SN result, an ELR's
performing laboratory, a plan type beside a financial class).

Segments are built by field number (seg()) so that each value stands where
its field is.
"""

from __future__ import annotations


def seg(name: str, fields: dict[int, str]) -> str:
    """The segment `name` with `fields` (number: text) in their places."""
    top = max(fields, default=0)
    return "|".join([name, *(fields.get(i, "") for i in range(1, top + 1))])


def message(kind: str, control_id: str, version: str, *segments: str,
            when: str = "20240110120000-0500") -> str:
    header = f"MSH|^~\\&|LAB|GHH|EHR|GHH|{when}||{kind}|{control_id}|P|{version}"
    return "\r".join([header, *segments]) + "\r"


PID = seg("PID", {1: "1", 3: "MRN12^^^GHH&1.2.3&ISO^MR~123-45-6789^^^SSA^SS", 5: "VALDEZ^MARIA^E^^^^L~GARCIA^MARIA^^^^^M",
                  7: "19760412", 8: "F", 10: "2106-3^White^CDCREC", 11: "1 Main St^Apt 5^Springfield^IL^62704^USA^H",
                  13: "^PRN^PH^^1^217^5551234~^NET^Internet^maria@example.org", 15: "SPA^Spanish^ISO639",
                  16: "M^Married^HL70002", 18: "ACC7788^^^GHH^AN", 22: "H^Hispanic or Latino^HL70189"})
PV1 = seg("PV1", {1: "1", 2: "I", 3: "4E^410^B^GHH^^^^^4 East 410 B", 7: "5566^ATTEND^ALICE^^^DR^MD^^^^^^NPI",
                  10: "MED", 17: "5566^ATTEND^ALICE^^^DR^MD^^^^^^NPI", 19: "V100^^^GHH^VN", 20: "SP",
                  44: "20240110094500-0500"})
RESULTS = [seg("ORC", {1: "RE", 2: "PLC1^EHR", 3: "FIL1^LAB", 12: "2222^ORDER^OLGA"}),
           seg("OBR", {1: "1", 2: "PLC1^EHR", 3: "FIL1^LAB", 4: "625-4^Stool culture^LN", 7: "20240108150000-0500",
                       16: "2222^ORDER^OLGA", 22: "20240110110000-0500", 25: "F"}),
           seg("OBX", {1: "1", 2: "CWE", 3: "625-4^Bacteria identified^LN", 4: "1", 5: "27268008^Salmonella^SCT",
                       8: "A", 11: "F", 14: "20240108150000-0500", 19: "20240110100000-0500",
                       23: "Big Lab^L^^^^CLIA&2.16.840.1.113883.4.7&ISO^XX^^^05D0000000",
                       24: "1 Lab Way^^Austin^TX^78701", 25: "9876^DIRECTOR^LAB^^^DR"}),
           seg("OBX", {1: "2", 2: "SN", 3: "20951-0^Lead^LN", 5: "<^5", 6: "ug/dL^microgram per deciliter^UCUM",
                       7: "0-5", 8: "N", 11: "F"}),
           seg("OBX", {1: "3", 2: "SN", 3: "18864-9^Ampicillin^LN", 5: "^1^:^128", 8: "R", 11: "F"}),
           seg("OBX", {1: "4", 2: "NM", 3: "2345-7^Glucose^LN", 5: "<0.5", 6: "mg/dL", 11: "C"}),
           seg("NTE", {1: "1", 3: "Specimen slightly hemolyzed"}),
           seg("SPM", {1: "1", 2: "^SP-123&LAB", 4: "119339001^Stool specimen^SCT", 17: "20240108150000-0500"})]

MESSAGES = [
    # an admission with its contacts, stay, role, diagnosis, guarantor and insurance
    message("ADT^A04^ADT_A01", "K1", "2.5.1", seg("EVN", {2: "20240110120000-0500", 5: "77^CLERK^CARL"}), PID,
            seg("PD1", {3: "Springfield Clinic^^1234", 4: "1122^JONES^ROBERT^^^DR^^^NPI"}),
            seg("NK1", {1: "1", 2: "VALDEZ^JUAN", 3: "SPO^Spouse^HL70063", 5: "^PRN^PH^^1^217^5551234",
                        7: "EC^Emergency Contact^HL70131"}), PV1,
            seg("PV2", {3: "R51^Headache^I10"}), seg("ROL", {1: "1", 2: "AD", 3: "PP^Primary Care Provider^HL70443",
                                                            4: "1122^JONES^ROBERT"}),
            seg("DG1", {1: "1", 3: "R51^Headache^I10", 5: "20240110", 6: "W"}),
            seg("GT1", {1: "1", 3: "VALDEZ^JUAN", 11: "SPO"}),
            # a plan type (IN1-15) beside PV1-20's financial class in one Coverage
            seg("IN1", {1: "1", 2: "PPO1^Gold PPO^L", 3: "INS1^^^^NIIP", 4: "Acme Health", 12: "20240101",
                        13: "20241231", 15: "PPO^Preferred^L", 17: "SEL^Self^HL70063", 36: "MEM123"})),
    # a public-health laboratory report: performing laboratory, SN and CWE results, a specimen
    message("ORU^R01^ORU_R01", "K2", "2.5.1", PID, *RESULTS),
    # the same in 2.8.2, its participants in PRT segments
    message("ORU^R01^ORU_R01", "K3", "2.8.2", PID,
            seg("PRT", {2: "AD", 4: "PP^Primary Care Provider^HL70443", 5: "1111^GP^GRETA^^^^^^^^^^NPI"}), PV1,
            seg("ORC", {1: "RE", 2: "PLC2"}), seg("OBR", {1: "1", 2: "PLC2", 4: "24323-8^Metabolic panel^LN",
                                                         7: "20240101080000-0500", 25: "F"}),
            seg("PRT", {2: "AD", 4: "PRI^Principal Result Interpreter^HL70443", 5: "3333^PATH^PAUL"}),
            seg("PRT", {2: "AD", 4: "OP^Ordering Provider^HL70443", 5: "2222^ORDER^OLGA"}),
            seg("PRT", {2: "AD", 4: "SC^Specimen Collector^HL70443", 5: "4444^COLL^CORA"}),
            seg("OBX", {1: "1", 2: "NM", 3: "2345-7^Glucose^LN", 5: "95", 6: "mg/dL^mg/dL^UCUM", 11: "F"}),
            seg("PRT", {2: "AD", 4: "RT^Responsible Technician^HL70912", 5: "5555^TECH^TINA"}),
            seg("PRT", {2: "AD", 4: "PO^Performing Organization^HL70912", 14: "1 Lab Way^^Austin^TX^78701"}),
            seg("PRT", {2: "AD", 4: "EQUIP^Equipment^HL70912", 10: "DEV123"})),
    # a 2.8 admission whose stay's providers are PRTs, each a CareTeam
    message("ADT^A01^ADT_A01", "K4", "2.8", seg("EVN", {2: "20240601100000-0400"}), PID,
            seg("PRT", {2: "AD", 4: "AT^Attending^HL70912", 5: "7777^ROSS^DOUG^^^^^^^^^^NPI"}),
            seg("PRT", {2: "AD", 4: "RP^Referring Provider^HL70912", 5: "8888^GREENE^MARK^^^^^^^^^^NPI"}), PV1,
            seg("AL1", {1: "1", 2: "DA^Drug allergy^HL70127", 3: "70618^Penicillin^RXNORM", 4: "SV^Severe^HL70128",
                        5: "Hives~Anaphylaxis", 6: "20100101"}),
            seg("AL1", {1: "2", 2: "FA^Food allergy^HL70127", 3: "^Peanuts", 4: "MO^Moderate^HL70128"})),
    # an immunization with a refusal and a historical dose
    message("VXU^V04^VXU_V04", "K5", "2.5.1", PID,
            seg("NK1", {1: "1", 2: "VALDEZ^JUAN", 3: "FTH^Father^HL70063"}),
            seg("ORC", {1: "RE", 3: "IZ-1^NDA", 12: "57422^RADON^NICHOLAS^^^^^^NIST-AA-1^L^^^MD"}),
            seg("RXA", {1: "0", 2: "1", 3: "20240102", 5: "08^Hep B^CVX", 6: "0.5", 7: "mL^mL^UCUM",
                        9: "00^New immunization record^NIP001", 10: "7832^LEMON^MIKE", 15: "Z0860BB",
                        16: "20250930", 17: "MSD^Merck^MVX", 20: "CP", 21: "A"}),
            seg("RXR", {1: "C28161^Intramuscular^NCIT", 2: "RT^Right Thigh^HL70163"}),
            seg("OBX", {1: "1", 2: "CE", 3: "64994-7^Funding eligibility^LN", 4: "1",
                        5: "V02^VFC eligible - Medicaid^HL70064", 11: "F", 17: "VXC40^Per immunization^CDCPHINVS"}),
            seg("ORC", {1: "RE", 3: "IZ-2^NDA"}),
            seg("RXA", {1: "0", 2: "1", 3: "20230815", 5: "998^No vaccine administered^CVX", 6: "999",
                        18: "00^Parental decision^NIP002", 20: "RE"}),
            seg("ORC", {1: "RE", 3: "IZ-3^NDA"}),
            seg("RXA", {1: "0", 2: "1", 3: "20230701", 5: "03^MMR^CVX", 6: "999",
                        9: "01^Historical information^NIP001", 20: "CP"})),
    # an appointment with its service, resources, place and person
    message("SIU^S12^SIU_S12", "K6", "2.5", seg("SCH", {1: "APT1^SCHED", 2: "APT1^EHR", 7: "FOLLOWUP^Follow up",
                                                       8: "Normal", 9: "30", 10: "MIN",
                                                       11: "^^30^20240215093000^20240215100000",
                                                       20: "JDOE^DOE^JANE", 25: "Booked"}),
            seg("NTE", {1: "1", 3: "Bring your medication list"}), PID, PV1, seg("RGS", {1: "1"}),
            seg("AIS", {1: "1", 3: "93000^ECG^CPT", 4: "20240215093000"}),
            seg("AIL", {1: "1", 3: "CARDIO^ROOM2^^GHH"}), seg("AIP", {1: "1", 3: "7766^HART^HENRY", 4: "ATT"})),
    # a discharge summary as lines of text and as a PDF
    message("MDM^T02^MDM_T02", "K7", "2.6", seg("EVN", {1: "T02", 2: "20240405081500"}), PID, PV1,
            seg("TXA", {1: "1", 2: "DS^Discharge Summary^HL70270", 3: "TX", 4: "20240404", 12: "DOC-123^GHH",
                        17: "AU", 22: "5566^ATTEND^ALICE"}),
            seg("OBX", {1: "1", 2: "TX", 3: "18842-5^Discharge summary^LN", 5: "Admitted for observation.",
                        11: "F"}),
            seg("OBX", {1: "2", 2: "TX", 3: "18842-5^Discharge summary^LN", 5: "Discharged home.", 11: "F"})),
    # a discharge with its diagnoses and procedure
    message("ADT^A03^ADT_A03", "K8", "2.5", seg("EVN", {1: "A03", 2: "20240510170000"}), PID,
            seg("PV1", {1: "1", 2: "I", 3: "3W^305^1^GHH", 7: "1111^KILDARE^JAMES", 19: "V200^^^GHH^VN",
                        36: "01^Discharged to home^HL70112", 44: "20240505080000", 45: "20240510163000"}),
            seg("DG1", {1: "1", 3: "J18.9^Pneumonia^I10", 6: "F"}),
            seg("PR1", {1: "1", 3: "5A1935Z^Ventilation^I10P", 5: "20240506"})),
    # a 2.3.1 update of a patient, a segment of the sender's own
    message("ADT^A08", "K9", "2.3.1", seg("EVN", {1: "A08", 2: "20240818112300"}),
            seg("PID", {1: "1", 3: "PATID1234^5^M11^ADT1^MR^GHH", 5: "EVERYMAN^ADAM^A^III", 7: "19610615",
                        8: "M", 11: "2222 HOME STREET^^GREENSBORO^NC^27401-1020", 12: "GL", 13: "(555) 555-2004",
                        19: "444333333", 20: "987654^NC"}),
            seg("PV1", {1: "1", 2: "I", 3: "2000^2012^01", 7: "004777^ATTEND^AARON^A", 10: "SUR", 14: "ADM"}),
            seg("ZPI", {1: "1", 2: "SOME^CUSTOM^DATA"})),
    # an acknowledgement of an error
    message("ACK^R01^ACK", "K10", "2.5.1", seg("MSA", {1: "AE", 2: "MSG00042", 3: "Error in field"}),
            seg("ERR", {2: "PID^1^5^1", 3: "101^Required field missing^HL70357", 4: "E"})),
]
