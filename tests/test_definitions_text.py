"""Definitions read from their text: each kind of line, version masks, the
cardinality forms, groups, %XX escapes, patterns and names, seen through
validate, structure and describe in a fresh interpreter (the package's own
definitions are read once per process)."""

import subprocess
import sys

SCRIPT = r'''
import vellomar
from vellomar import _ops
_ops.load_definitions("\n".join([
    "# a comment", "", "V 1.0 2.0 2.0.0.0.1", "L 3 ST 5 NM 3 ODD",
    "M 1 ZZ_Z01 MSH [GRP ZAA ZBB? ]{1,2} ZCC* ZLONG?", "M 2 ZZ_Z01 MSH  ZAA+", "E 3 ZZ_Z02 ZZ_Z01", "M 4 ZZ_LONG_Z09 MSH ZAA",
    "S 3 ZAA ST SI{0,2} ID:T1 CX? NM", "D 3 CX ST ID:T2",
    "T 3 T1 A %25B ~ABnn ~Q* 1234567 ABCDEFGH %4 ~LONGnnnnz", "T 3 T2 X",
    "F 3 ZAA Zed A|First Field|Second%20Field|Third", "C 3 CX Composite|Id|Kind",
    "Y 3 T1 A Alpha|%25B Percent b%25|junk",
]))
def tree(group):
    return [c.name if isinstance(c, vellomar.SegmentRef) and c.expected else tree(c) if c.__class__.__name__ == "Group"
            else c.name + "!" for c in group.children]
for version, kind, segments in [
        ("1.0", "ZZ^Z01", ["ZAA|abc|1~2~3|A|x^X^y|1.5", "ZBB|1", "ZAA|a||%B|^Q", "ZCC", "ZCC", "ZLONG"]),
        ("1.0", "ZZ^Z02", ["ZAA|123456|x|AB12|a^Y|x", "ZAA|1|1|ABC1|", "ZAA|1|1|1234567|1|12.34", "ZAA|1|1|ABCDEFGH|1|1",
                           "ZAA|1|1|ab12|1|1", "ZAA|1|1|q|1|1", "ZAA|1|1|%4|1|1",
                           "ZAA|1|1|long0009z|1|1", "ZAA|1|1|LONG000-9|1|1", "ZAA|1|1|Qrstuvwxyz|1|1"]),
        ("2.0", "ZZ^Z01", ["ZAA|1|1|A||1", "ZAA|2|1|A||1", "ZBB|3"]), ("2.0", "ZZ^Z01", []),
        ("2.0.0.0.1", "ZZ^Z09^ZZ_LONG_Z09", ["ZAA|1"])]:
    message = "\r".join([f"MSH|^~\\&|||||||{kind}||P|{version}", *segments])
    print([f"{f.severity[0]}{f.code} {f.location} {f.name}" for f in vellomar.validate(message)], tree(vellomar.structure(message)))
message = "MSH|^~\\&|||||||ZZ^Z01||P|1.0\rZAA|abc|1|A|x^X|1\rZAA|a||%B"
print([tuple(vellomar.describe(message, path).values())[1:] for path in ["ZAA", "ZAA-3", "ZAA(1)-3", "ZAA-4-2", "ZAA-5", "ZAA-6"]])
'''

EXPECTED = [
    "['e102 ZAA-2 Second Field', 'e102 ZAA-4-3 None', 'w103 ZAA(1)-4-2 Kind', 'e101 ZAA(1)-5 None'] "
    "['MSH', ['ZAA', 'ZBB'], ['ZAA'], 'ZCC', 'ZCC', 'ZLONG']",
    "['w104 ZAA-1 First Field', 'e102 ZAA-2 Second Field', 'w103 ZAA-4-2 Kind', 'e102 ZAA-5 None', "
    "'e103 ZAA(1)-3 Third', 'e101 ZAA(1)-5 None', 'w104 ZAA(2)-5 None', 'e103 ZAA(8)-3 Third', 'e100 /GRP None'] "
    "['MSH', ['ZAA'], ['ZAA'], ['ZAA'], ['ZAA'], ['ZAA'], ['ZAA'], ['ZAA'], ['ZAA'], ['ZAA'], ['ZAA']]",
    "[] ['MSH', 'ZAA', 'ZAA', 'ZBB!']",
    "['e100 /ZAA Zed A'] ['MSH']",
    "[] ['MSH', 'ZAA']",
    "[('Zed A', None, None, 'ZAA', None), ('Third', 'ID', 'T1', 'A', 'Alpha'), ('Third', 'ID', 'T1', '%B', 'Percent b%'), "
    "('Kind', 'ID', 'T2', 'X', None), (None, 'NM', None, '1', None), (None, None, None, None, None)]",
]


def test_definitions_read_from_text():
    out = subprocess.run([sys.executable, "-c", SCRIPT], capture_output=True, text=True, check=True)
    assert out.stdout.splitlines() == EXPECTED
