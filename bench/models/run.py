#!/usr/bin/env python3
"""Runs the verifier on the scalable model families at growing sizes and prints, per size and
query, the states stored, the states explored, the seconds and the peak memory of the run.

Usage: run.py [--mirvek PATH] [--family fischer|train_gate]... [--sizes 3,4,5] [--query N]
              [-- extra verifier options]

Each size is generated into a temporary folder and verified with `mirvek -q -s -u`; the seconds
are wall-clock time of the whole run, the peak memory its maximum resident size (read with GNU
time, /usr/bin/time; without it the column shows 0).
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
FAMILIES = {
    "fischer": ("fischer.py", [4, 5, 6, 7, 8, 9, 10]),
    "train_gate": ("train_gate.py", [3, 4, 5, 6, 7, 8]),
}


def run_size(mirvek, family, size, query, options, folder):
    generator, _ = FAMILIES[family]
    model = os.path.join(folder, f"{family}{size}.xta")
    queries = os.path.join(folder, f"{family}{size}.q")
    subprocess.run([sys.executable, os.path.join(HERE, generator), str(size), model, queries], check=True)
    if query is not None:
        with open(queries) as f:
            lines = [line for line in f if line.strip()]
        with open(queries, "w") as f:
            f.write(lines[query - 1])
    # The peak resident size comes from GNU time, whose own small process is the one that forks
    # the verifier: a child forked from this interpreter would count the interpreter's pages.
    out_path = os.path.join(folder, "out")
    err_path = os.path.join(folder, "err")
    command = [TIME, "-f", "@@ %M"] if TIME else []
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
    match = re.search(r"@@ (\d+)\s*$", err)
    if match:
        peak = int(match.group(1))
        err = err[:match.start()]
    results = []
    for block in text.split("\nVerifying formula ")[1:]:
        number = block.split(" ", 1)[0]
        verdict = re.search(r" -- (Formula .*|Aborted\.)", block)
        stored = sum(int(v) for v in re.findall(r"States stored : (\d+)", block))
        explored = re.search(r"States explored : (\d+)", block)
        results.append((number, verdict.group(1) if verdict else "?", stored,
                        int(explored.group(1)) if explored else 0))
    return status, seconds, peak, results, err


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--mirvek", default=os.path.join(ROOT, "build", "release", "src", "driver", "mirvek"))
    parser.add_argument("--family", action="append", choices=sorted(FAMILIES))
    parser.add_argument("--sizes", help="comma-separated sizes (default: the family's own list)")
    parser.add_argument("--query", type=int, help="verify only this query of the family (from 1)")
    parser.add_argument("options", nargs="*", help="further verifier options (after --)")
    args = parser.parse_args()

    print(f"{'model':<14} {'query':>5} {'stored':>10} {'explored':>10} {'seconds':>8} {'peak MB':>8}  verdict")
    for family in args.family or sorted(FAMILIES):
        sizes = [int(s) for s in args.sizes.split(",")] if args.sizes else FAMILIES[family][1]
        for size in sizes:
            with tempfile.TemporaryDirectory() as folder:
                status, seconds, peak, results, err = run_size(args.mirvek, family, size, args.query, args.options,
                                                                folder)
            name = f"{family} {size}"
            for i, (number, verdict, stored, explored) in enumerate(results):
                timing = f"{seconds:>8.2f} {peak / 1024:>8.1f}" if i == 0 else f"{'':>8} {'':>8}"
                print(f"{name:<14} {number:>5} {stored:>10} {explored:>10} {timing}  {verdict}")
            if status != 0:
                print(f"{name:<14} exit status {status}: {err.strip()}")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
