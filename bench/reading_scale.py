#!/usr/bin/env python3
"""How the cost of reading, checking and compiling a model grows with its size: runs the verifier
on generated models of growing size and prints, for each, the wall-clock seconds, the CPU seconds
(user and system), the peak memory and the growth of the CPU time against the size before it. A
cost that grows linearly shows growth factors near the size factor (2 for the default sizes).

Families:
  instances  N instances of one template declared one by one (Q0 = P(); Q1 = P(); ...), all on
             the system line, and a query that holds in the initial state
  lists      one edge whose guard has N conjuncts and whose update has N assignments, and a
             reachability query over it

Usage: reading_scale.py [--mirvek PATH] [--family NAME]... [--sizes 12500,25000,...] [--repeat K]
Each run is made K times (default 1) and the fastest is shown. CPU times are read with GNU time,
/usr/bin/time; on a busy machine they are the figures to compare.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def instances(n):
    model = "process P() { state a; init a; }\n"
    model += "".join(f"Q{i} = P();\n" for i in range(n))
    model += "system " + ", ".join(f"Q{i}" for i in range(n)) + ";\n"
    return model, f"E<> Q0.a && Q{n - 1}.a\n"


def lists(n):
    conjuncts = ["a >= 0", "x >= 0", "v[{}] <= 7", "y <= 1000000"]
    assignments = ["a = {}", "v[{}] = 1", "x = 0"]
    guard = " && ".join(conjuncts[k % 4].format(k % 16) for k in range(n))
    update = ", ".join(assignments[k % 3].format(k % 5 if k % 3 == 0 else k % 16) for k in range(n))
    model = ("int a; int v[16]; clock x, y;\n"
             f"process P() {{ state s0, s1; init s0; trans s0 -> s1 {{ guard {guard}; assign {update}; }}; }}\n"
             "system P;\n")
    return model, "E<> P.s1\n"


FAMILIES = {
    "instances": (instances, [12500, 25000, 50000, 100000]),
    "lists": (lists, [25000, 50000, 100000, 200000]),
}


def run(mirvek, model, queries):
    command = [mirvek, "-q", "-s", model, queries]
    if TIME:
        command = [TIME, "-f", "TIME %U %S %M"] + command
    start = time.monotonic()
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wall = time.monotonic() - start
    cpu, memory = 0.0, 0
    match = re.search(r"TIME ([0-9.]+) ([0-9.]+) ([0-9]+)", result.stderr)
    if match:
        cpu = float(match.group(1)) + float(match.group(2))
        memory = int(match.group(3)) // 1024
    verdict = "satisfied" if "Formula is satisfied" in result.stdout else "FAILED"
    return wall, cpu, memory, verdict


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--mirvek", default=os.path.join(ROOT, "build", "release", "src", "driver", "mirvek"))
    parser.add_argument("--family", action="append", choices=sorted(FAMILIES))
    parser.add_argument("--sizes")
    parser.add_argument("--repeat", type=int, default=1)
    args = parser.parse_args()
    families = args.family or sorted(FAMILIES)
    print(f"{'family':<10} {'size':>8} {'wall s':>8} {'CPU s':>8} {'peak MB':>8} {'CPU growth':>11}  verdict")
    with tempfile.TemporaryDirectory() as folder:
        for family in families:
            generate, sizes = FAMILIES[family]
            if args.sizes:
                sizes = [int(s) for s in args.sizes.split(",")]
            previous = None
            for n in sizes:
                model_text, query_text = generate(n)
                model = os.path.join(folder, f"{family}{n}.xta")
                queries = os.path.join(folder, f"{family}{n}.q")
                with open(model, "w") as f:
                    f.write(model_text)
                with open(queries, "w") as f:
                    f.write(query_text)
                runs = [run(args.mirvek, model, queries) for _ in range(args.repeat)]
                wall, cpu, memory, verdict = min(runs, key=lambda r: (r[1], r[0]))
                growth = f"{cpu / previous:.2f}x" if previous else "-"
                print(f"{family:<10} {n:>8} {wall:>8.2f} {cpu:>8.2f} {memory:>8} {growth:>11}  {verdict}")
                sys.stdout.flush()
                previous = cpu if cpu > 0 else None
                os.remove(model)


if __name__ == "__main__":
    main()
