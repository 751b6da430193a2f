#!/usr/bin/env python3
"""Runs the verifier on the scalable model families at growing sizes, each size once with the
default options (minimal constraint systems, the compact store) and once with -C (plain
matrices), and prints for both the states stored, the seconds and the peak memory of the run,
and the ratios of the default to -C.

Usage: run.py [--mirvek PATH] [--family NAME]... [--sizes 3,4,5] [--query N] [--repeat K]
              [-- extra verifier options]

Families: dining (timed dining philosophers), fddi (token ring, three clocks per station), csma_cd,
dense_clocks (a dense net of cycles over shared clocks; robust.py sets its robust query against the
plain one), fischer (both queries), fischer_deadlock
(A[] not deadlock on Fischer's protocol, explored under location-based extrapolation as every
deadlock query is) and train_gate. Each size is generated into a temporary folder and verified
with `mirvek -q -s -u`; the seconds are the wall-clock time of the whole run, the CPU seconds
(user and system) and the peak memory (its maximum resident size) are read with GNU time,
/usr/bin/time (without it those columns show 0). With --repeat K each run is made K times and the
fastest is shown. The two runs of a size follow each other, so their ratios are the figures to
compare across machines; on a busy machine the CPU ratio is the steadier one.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None
DEADLOCK = "A[] not deadlock\n"
# name: (generator, default sizes, the query to verify: None for the generator's own queries, an
# int for one of them (from 1), or a text that replaces them)
FAMILIES = {
    "dining": ("dining.py", [5, 6, 7, 8], None),
    "fddi": ("fddi.py", [8, 10, 12, 14], None),
    "csma_cd": ("csma_cd.py", [5, 6, 7], None),
    "dense_clocks": ("dense_clocks.py", [5, 6, 7, 8], None),
    "fischer": ("fischer.py", [4, 5, 6, 7, 8, 9, 10], None),
    "fischer_deadlock": ("fischer.py", [5, 6, 7], DEADLOCK),
    "train_gate": ("train_gate.py", [3, 4, 5, 6, 7, 8], None),
}
PLAIN = "-C"


def generate(family, size, query, folder):
    generator, _, chosen = FAMILIES[family]
    if query is not None:
        chosen = query
    model = os.path.join(folder, f"{family}{size}.xta")
    queries = os.path.join(folder, f"{family}{size}.q")
    subprocess.run([sys.executable, os.path.join(HERE, generator), str(size), model, queries], check=True)
    if isinstance(chosen, int):
        with open(queries) as f:
            lines = [line for line in f if line.strip()]
        with open(queries, "w") as f:
            f.write(lines[chosen - 1])
    elif isinstance(chosen, str):
        with open(queries, "w") as f:
            f.write(chosen)
    return model, queries


def run_once(mirvek, model, queries, options, folder):
    # The peak resident size comes from GNU time, whose own small process is the one that forks
    # the verifier: a child forked from this interpreter would count the interpreter's pages.
    out_path = os.path.join(folder, "out")
    err_path = os.path.join(folder, "err")
    command = [TIME, "-f", "@@ %M %U %S"] if TIME else []
    command += [mirvek, "-q", "-s", "-u", *options, model, queries]
    with open(out_path, "w") as out_file, open(err_path, "w") as err_file:
        start = time.perf_counter()
        status = subprocess.run(command, stdout=out_file, stderr=err_file).returncode
        seconds = time.perf_counter() - start
    with open(out_path) as f:
        text = f.read()
    with open(err_path) as f:
        err = f.read()
    peak = 0
    cpu = 0.0
    match = re.search(r"@@ (\d+) ([0-9.]+) ([0-9.]+)\s*$", err)
    if match:
        peak = int(match.group(1))
        cpu = float(match.group(2)) + float(match.group(3))
        err = err[:match.start()]
    results = []
    for block in text.split("\nVerifying formula ")[1:]:
        number = block.split(" ", 1)[0]
        verdict = re.search(r" -- (Formula .*|Aborted\.)", block)
        stored = sum(int(v) for v in re.findall(r"States stored : (\d+)", block))
        results.append((number, verdict.group(1) if verdict else "?", stored))
    return status, seconds, cpu, peak, results, err


def run_best(mirvek, model, queries, options, folder, repeat):
    best = None
    for _ in range(repeat):
        outcome = run_once(mirvek, model, queries, options, folder)
        if best is None or outcome[1] < best[1]:
            best = outcome
    return best


def ratio(a, b):
    return f"{a / b:>6.2f}" if b else f"{'-':>6}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--mirvek", default=os.path.join(ROOT, "build", "release", "src", "driver", "mirvek"))
    parser.add_argument("--family", action="append", choices=sorted(FAMILIES))
    parser.add_argument("--sizes", help="comma-separated sizes (default: the family's own list)")
    parser.add_argument("--query", type=int, help="verify only this query of the family's generator (from 1)")
    parser.add_argument("--repeat", type=int, default=1, help="runs of each size and option set; the fastest counts")
    parser.add_argument("options", nargs="*", help="further verifier options (after --)")
    args = parser.parse_args()

    print(f"{'model':<20} {'query':>5} {'stored':>9} {'seconds':>8} {'cpu':>8} {'peak MB':>8} "
          f"{'-C stored':>9} {'-C secs':>8} {'-C cpu':>8} {'-C MB':>8} {'time':>6} {'cpu':>6} {'memory':>6}  verdict")
    failed = False
    for family in args.family or sorted(FAMILIES):
        sizes = [int(s) for s in args.sizes.split(",")] if args.sizes else FAMILIES[family][1]
        for size in sizes:
            name = f"{family} {size}"
            with tempfile.TemporaryDirectory() as folder:
                model, queries = generate(family, size, args.query, folder)
                default = run_best(args.mirvek, model, queries, args.options, folder, args.repeat)
                plain = run_best(args.mirvek, model, queries, [*args.options, PLAIN], folder, args.repeat)
            for label, outcome in (("", default), (PLAIN, plain)):
                if outcome[0] != 0:
                    print(f"{name:<20} {label} exit status {outcome[0]}: {outcome[5].strip()}")
                    failed = True
            _, seconds, cpu, peak, results, _ = default
            _, plainSeconds, plainCpu, plainPeak, plainResults, _ = plain
            for i, (number, verdict, stored) in enumerate(results):
                plainStored = plainResults[i][2] if i < len(plainResults) else 0
                plainVerdict = plainResults[i][1] if i < len(plainResults) else "?"
                if i == 0:
                    timing = (f"{seconds:>8.2f} {cpu:>8.2f} {peak / 1024:>8.1f}",
                              f"{plainSeconds:>8.2f} {plainCpu:>8.2f} {plainPeak / 1024:>8.1f}",
                              f"{ratio(seconds, plainSeconds)} {ratio(cpu, plainCpu)} {ratio(peak, plainPeak)}")
                else:
                    timing = (f"{'':>8} {'':>8} {'':>8}", f"{'':>8} {'':>8} {'':>8}", f"{'':>6} {'':>6} {'':>6}")
                note = verdict if plainVerdict == verdict else f"{verdict} (-C: {plainVerdict})"
                if plainStored != stored or plainVerdict != verdict:
                    failed = True
                print(f"{name:<20} {number:>5} {stored:>9} {timing[0]} {plainStored:>9} {timing[1]} {timing[2]}  "
                      f"{note}")
            sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
