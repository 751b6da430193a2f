#!/usr/bin/env python3
"""Fischer's mutual exclusion protocol with n processes, as a model and its queries.

Usage: fischer.py N MODEL QUERIES

A process that wants the critical section waits until the shared id is free, writes its own id
within k time units, waits longer than k and enters only when the id is still its own. The
queries: mutual exclusion (holds), and the critical section can be reached (holds).
"""
import sys


def model(n: int) -> str:
    return f"""// Fischer's mutual exclusion protocol for {n} processes.
const int N = {n};
typedef int[1,N] id_t;
const int k = 2;
int[0,N] id;

process P(const id_t pid) {{
    clock x;
    state A, req {{ x <= k }}, wait, cs;
    init A;
    trans
        A -> req {{ guard id == 0; assign x = 0; }},
        req -> wait {{ guard x <= k; assign x = 0, id = pid; }},
        wait -> req {{ guard id == 0; assign x = 0; }},
        wait -> cs {{ guard x > k && id == pid; }},
        cs -> A {{ assign id = 0; }};
}}

system P;
"""


QUERIES = """A[] forall (i : id_t) forall (j : id_t) P(i).cs && P(j).cs imply i == j
E<> P(1).cs
"""


def main() -> None:
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    with open(sys.argv[2], "w") as f:
        f.write(model(int(sys.argv[1])))
    with open(sys.argv[3], "w") as f:
        f.write(QUERIES)


if __name__ == "__main__":
    main()
