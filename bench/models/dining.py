#!/usr/bin/env python3
"""Timed dining philosophers with n philosophers and n forks, as a model and its queries.

Usage: dining.py N MODEL QUERIES

Philosopher i thinks, takes its left fork (fork i), and must then take its right fork (fork i+1
modulo n) within a timeout; when the timeout passes first it puts the left fork down and thinks
again. With both forks it eats for a fixed time and puts both down. Each fork is a process that is
either free or in use. The query: no two neighbours eat at once (holds), so the whole state space
is explored; many discrete states carry one zone per order in which the philosophers' clocks were
reset, which makes this family a test of relating a zone to many stored zones.
"""
import sys


def model(n: int) -> str:
    return f"""// Timed dining philosophers: {n} philosophers, {n} forks.
const int N = {n};
typedef int[0,N-1] id_t;
const int Timeout = 5;
const int Eat = 10;

chan take[N], put[N];

process Fork(const id_t f) {{
    state Free, Used;
    init Free;
    trans
        Free -> Used {{ sync take[f]?; }},
        Used -> Free {{ sync put[f]?; }};
}}

process Phil(const id_t i) {{
    clock x;
    state Think, Left {{ x <= Timeout }}, Eating {{ x <= Eat }}, Done;
    commit Done;
    init Think;
    trans
        Think -> Left {{ sync take[i]!; assign x = 0; }},
        Left -> Eating {{ guard x < Timeout; sync take[(i + 1) % N]!; assign x = 0; }},
        Left -> Think {{ guard x == Timeout; sync put[i]!; }},
        Eating -> Done {{ guard x == Eat; sync put[i]!; }},
        Done -> Think {{ sync put[(i + 1) % N]!; }};
}}

system Phil, Fork;
"""


def queries(n: int) -> str:
    pairs = " || ".join(f"(Phil({i}).Eating && Phil({(i + 1) % n}).Eating)" for i in range(n))
    return f"A[] not ({pairs})\n"


def main() -> None:
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    n = int(sys.argv[1])
    with open(sys.argv[2], "w") as f:
        f.write(model(n))
    with open(sys.argv[3], "w") as f:
        f.write(queries(n))


if __name__ == "__main__":
    main()
