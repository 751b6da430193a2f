#!/usr/bin/env python3
"""Runs robust reachability against plain reachability on scalable model families: for each size,
each plain query of the family (E<> or A[]) once as it is and once as its robust form (E<>* or
A[]*), and prints the states explored, the seconds and CPU seconds of both runs and their ratios.

Usage: robust.py [--mirvek PATH] [--family NAME]... [--sizes 3,4,5] [--repeat K]
                 [-- extra verifier options]

Families: dense_clocks (a dense net of cycles over n + 1 shared clocks, the robust search's worst
kind of model: every round resets clocks others compare), fischer (mutual exclusion and reaching
the critical section) and train_gate. Models come from the generators of run.py; the figures are
read as run.py reads them (GNU time for the CPU seconds). With --repeat K each run is made K times
and the fastest is shown.
"""
import argparse
import os
import re
import sys
import tempfile

import run

FAMILIES = {
    "dense_clocks": [5, 6, 7, 8],
    "fischer": [3, 4, 5, 6],
    "train_gate": [3, 4, 5],
}


def robust_form(query):
    for plain in ("E<>", "A[]"):
        if query.startswith(plain) and not query.startswith(plain + "*"):
            return plain + "*" + query[len(plain):]
    return None


def explored(text):
    found = re.search(r"States explored : (\d+)", text)
    return int(found.group(1)) if found else 0


def measure(mirvek, model, query, options, folder, repeat):
    queries = os.path.join(folder, "one.q")
    with open(queries, "w") as f:
        f.write(query + "\n")
    best = None
    for _ in range(repeat):
        status, seconds, cpu, _, results, err = run.run_once(mirvek, model, queries, options, folder)
        with open(os.path.join(folder, "out")) as f:
            states = explored(f.read())
        verdict = results[0][1] if results else "?"
        outcome = (status, seconds, cpu, states, verdict, err)
        if best is None or seconds < best[1]:
            best = outcome
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--mirvek", default=os.path.join(run.ROOT, "build", "release", "src", "driver", "mirvek"))
    parser.add_argument("--family", action="append", choices=sorted(FAMILIES))
    parser.add_argument("--sizes", help="comma-separated sizes (default: the family's own list)")
    parser.add_argument("--repeat", type=int, default=1, help="runs of each query; the fastest counts")
    parser.add_argument("options", nargs="*", help="further verifier options (after --)")
    args = parser.parse_args()

    print(f"{'model':<16} {'query':>5} {'explored':>9} {'seconds':>8} {'cpu':>7} {'robust':>9} {'seconds':>8} "
          f"{'cpu':>7} {'time':>6} {'cpu':>6}  verdicts")
    failed = False
    for family in args.family or sorted(FAMILIES):
        sizes = [int(s) for s in args.sizes.split(",")] if args.sizes else FAMILIES[family]
        for size in sizes:
            name = f"{family} {size}"
            with tempfile.TemporaryDirectory() as folder:
                model, queries = run.generate(family, size, None, folder)
                with open(queries) as f:
                    lines = [line.strip() for line in f if line.strip()]
                number = 0
                for query in lines:
                    robust = robust_form(query)
                    if robust is None:
                        continue
                    number += 1
                    plain = measure(args.mirvek, model, query, args.options, folder, args.repeat)
                    drift = measure(args.mirvek, model, robust, args.options, folder, args.repeat)
                    for outcome in (plain, drift):
                        if outcome[0] != 0:
                            print(f"{name:<16} exit status {outcome[0]}: {outcome[5].strip()}")
                            failed = True
                    print(f"{name:<16} {number:>5} {plain[3]:>9} {plain[1]:>8.2f} {plain[2]:>7.2f} {drift[3]:>9} "
                          f"{drift[1]:>8.2f} {drift[2]:>7.2f} {run.ratio(drift[1], plain[1])} "
                          f"{run.ratio(drift[2], plain[2])}  {plain[4]} / {drift[4]}")
                    sys.stdout.flush()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
