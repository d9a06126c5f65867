"""Growth of the running time with the size of hostile inputs.

For each kind of input the size is doubled a few times; pyperf times the
work on each size (see common.py) and the median is printed with the ratio to
the previous size. Linear time shows as ratios near 2; a quadratic path would
show ratios near 4. Nothing is asserted: this is a measuring script, not a test.

    python bench/scaling.py [--steps N] [--scale F] [--quick] [pyperf options]
"""

import gc
import sys
from pathlib import Path

import vellomar

sys.path.insert(0, str(Path(__file__).resolve().parent))
import common  # noqa: E402

# The cyclic garbage collector is off in every process, as in timeit: its
# passes over the many containers of to_dict would otherwise dominate.
gc.disable()

HEADER = "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101||ADT^A01|1|P|2.5"


def message(body):
    return HEADER + "\r" + body


def field_of(text):
    return message("ZZZ|" + text)


# name: (base size, builder of the input, the work timed on it)
CASES = {
    "parse: n segments": (
        20_000, lambda n: message("OBX|1|ST|C^D||value\r" * n), vellomar.parse),
    "parse: one segment, n fields": (
        100_000, lambda n: field_of("|".join(["f"] * n)), vellomar.parse),
    "components of a field of n": (
        100_000, lambda n: vellomar.parse(field_of("^".join(["c"] * n))).segment("ZZZ").field(1),
        lambda f: (f.components, f.component(len(f)))),
    "sub-components of n": (
        100_000, lambda n: vellomar.parse(field_of("&".join(["s"] * n))).segment("ZZZ")[1][1],
        lambda c: (c.sub_components, c.sub_component(len(c.sub_components)))),
    "value of n escape characters": (
        200_000, lambda n: field_of("\\" * n), lambda raw: vellomar.parse(raw)["ZZZ-1"]),
    "value of n '\\F' (unterminated runs)": (
        200_000, lambda n: field_of("\\F" * n), lambda raw: vellomar.parse(raw)["ZZZ-1"]),
    "\\X with 2n hex digits": (
        200_000, lambda n: field_of("\\X" + "41" * n + "\\"), lambda raw: vellomar.parse(raw)["ZZZ-1"]),
    "n escape sequences \\E\\": (
        100_000, lambda n: field_of("\\E\\" * n), lambda raw: vellomar.parse(raw)["ZZZ-1"]),
    "n mixed CR/LF line ends": (
        100_000, lambda n: message("A|1\r\n\n\rB|2\n" * n), vellomar.parse),
    "parse_batch of n messages": (
        10_000, lambda n: "".join(f"MSH|^~\\&|A|B\rPID|{i}\r" for i in range(n)), vellomar.parse_batch),
    "to_json of n segments": (
        10_000, lambda n: vellomar.parse(message("OBX|1|ST|C^D&E||v~w\r" * n)), lambda m: m.to_json()),
    "to_dict of n segments": (
        10_000, lambda n: vellomar.parse(message("OBX|1|ST|C^D&E||v~w\r" * n)), lambda m: m.to_dict()),
    "iterate n segments": (
        20_000, lambda n: vellomar.parse(message("OBX|1\r" * n)), lambda m: [s.name for s in m]),
    "terser path of n zeros": (
        200_000, lambda n: (vellomar.parse(message("PID|1|2")), "PID-" + "0" * n + "2"),
        lambda a: a[0][a[1]]),
    "terser: n-th of n segments": (
        20_000, lambda n: (vellomar.parse(message("OBX|1\r" * n)), f"OBX({n - 1})-1"),
        lambda a: a[0][a[1]]),
    "segments_by_name over n": (
        20_000, lambda n: vellomar.parse(message("OBX|1\r" * n)), lambda m: m.segments_by_name("OBX")),
}


def main():
    ap = common.runner(processes=3).argparser
    ap.description = __doc__.splitlines()[0]
    ap.add_argument("--steps", type=int, default=4, help="number of sizes (each double the last)")
    ap.add_argument("--scale", type=float, default=1.0, help="factor on every base size")
    args = common.args()
    sizes = {(name, step): int(base * args.scale) << step
             for name, (base, _, _) in CASES.items() for step in range(args.steps)}
    medians = common.medians({f"{name}, n={n}": (CASES[name][2], lambda b=CASES[name][1], n=n: b(n))
                              for (name, _), n in sizes.items()})
    if medians is None:  # a pyperf worker
        return
    print(f"{'input':40} {'n':>10} {'ms':>10} {'ratio':>6}")
    worst = previous = 0.0
    for (name, step), n in sizes.items():
        seconds = medians[f"{name}, n={n}"]
        ratio = seconds / previous if step else None
        worst = max(worst, ratio or 0.0)
        print(f"{name:40} {n:>10} {seconds * 1e3:>10.3f} {f'{ratio:.2f}' if ratio else '':>6}")
        previous = seconds
    print(f"largest ratio for a doubling: {worst:.2f} (2 is linear, 4 quadratic)")


if __name__ == "__main__":
    main()
