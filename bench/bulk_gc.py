"""The bulk paths at two sizes with the garbage collector on.

Times with pyperf, the collector on as in a real program, Message.to_dict of
100,000 and 200,000 fields (1,000 and 2,000 segments of 100 fields: plain
values, components and repetitions) in two forms:

- "call": the result dropped at once (the loop that pyperf times);
- "kept": every result kept until the end of the loop, then the young
  collection that the kept results are owed, so the collector's passes over
  them are paid inside the timing, as by a program that keeps what it
  converts.

and parse_batch of 100,000 and 200,000 two-segment messages, and prints the
ratios of the medians, 200,000 to 100,000 (linear: 2.0).

    python bench/bulk_gc.py [pyperf options, e.g. --fast]
"""

import functools
import gc
import time

import pyperf

import vellomar

HEADER = "MSH|^~\\&|SEND|FAC|RECV|FAC|20230101||ORU^R01|1|P|2.5"
VALUES = ["value", "DOE^JOHN", "A^B~C^D", "", "12.5^mg&unit"]


@functools.cache  # built in the worker process that times it, once
def wide_message(fields):
    segment = "ZZZ|" + "|".join(VALUES[i % len(VALUES)] for i in range(100))
    return vellomar.parse(HEADER + "\r" + "\r".join([segment] * (fields // 100)))


def time_call(loops, fields):
    msg = wide_message(fields)
    gc.enable()
    start = time.perf_counter()
    for _ in range(loops):
        msg.to_dict()
    return time.perf_counter() - start


def time_kept(loops, fields):
    msg = wide_message(fields)
    gc.enable()
    kept = []
    start = time.perf_counter()
    for _ in range(loops):
        kept.append(msg.to_dict())
    gc.collect(0)
    elapsed = time.perf_counter() - start
    kept.clear()
    return elapsed


@functools.cache
def batch_text(count):
    return "".join(f"MSH|^~\\&|A|B|C|D|2024||ADT^A01|{i}|P|2.5\rPID|1||{i}||DOE^J\r"
                   for i in range(count))


def time_batch(loops, count):
    text = batch_text(count)
    gc.enable()
    start = time.perf_counter()
    for _ in range(loops):
        vellomar.parse_batch(text)
    return time.perf_counter() - start


def main():
    runner = pyperf.Runner()
    runner.metadata["description"] = __doc__.splitlines()[0]
    results = {}
    for form, func in (("call", time_call), ("kept", time_kept)):
        for fields in (100_000, 200_000):
            name = f"to_dict {form} {fields} fields"
            results[form, fields] = runner.bench_time_func(name, func, fields)
    for count in (100_000, 200_000):
        name = f"parse_batch {count} messages"
        results["parse_batch", count] = runner.bench_time_func(name, time_batch, count)
    if runner.args.worker:
        return
    for form in ("call", "kept", "parse_batch"):
        small, large = results[form, 100_000], results[form, 200_000]
        if small is not None and large is not None:
            ratio = large.median() / small.median()
            print(f"{form}: 200,000 / 100,000 = {ratio:.2f} (target <= 2.2)")


if __name__ == "__main__":
    main()
