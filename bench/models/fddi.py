#!/usr/bin/env python3
"""FDDI token ring with n stations, as a model and its queries.

Usage: fddi.py N MODEL QUERIES

A token travels round a ring of n stations. A station that gets the token transmits synchronous
traffic for exactly SA time units, then asynchronous traffic only if the token came back sooner
than the target rotation time TTRT, and passes the token on. Each station has three clocks: x
for its transmission and y, z, which take turns at measuring the rotation of the token (one is
reset when the token arrives while the other still measures the round that ends). The ring has
a clock of its own for the token's travel (td = 0). Every reachable discrete state holds zones
over 3n + 1 clocks, so this family tests operations on large zones. The query: two stations
never transmit synchronous traffic at once (holds), so the whole state space is explored.
"""
import sys

SA = 20


def model(n: int) -> str:
    ring_locations = ", ".join(f"to{i} {{ t <= td }}, at{i}" for i in range(n))
    ring_edges = ",\n        ".join(
        f"to{i} -> at{i} {{ sync TT[{i}]!; }},\n        at{i} -> to{(i + 1) % n} {{ sync RT[{i}]?; assign t = 0; }}"
        for i in range(n))
    return f"""// FDDI token ring with {n} stations.
const int N = {n};
typedef int[0,N-1] id_t;
const int SA = {SA};
const int TTRT = {50 * n};
const int td = 0;

chan TT[N], RT[N];

process Station(const id_t i) {{
    clock x, y, z;
    state zIdle, zSync {{ x <= SA }}, zAsync {{ z <= TTRT }},
          yIdle, ySync {{ x <= SA }}, yAsync {{ y <= TTRT }};
    init zIdle;
    trans
        zIdle -> zSync {{ sync TT[i]?; assign y = 0, x = 0; }},
        zSync -> yIdle {{ guard x >= SA && z >= TTRT; sync RT[i]!; }},
        zSync -> zAsync {{ guard x >= SA && z < TTRT; }},
        zAsync -> yIdle {{ sync RT[i]!; }},
        yIdle -> ySync {{ sync TT[i]?; assign z = 0, x = 0; }},
        ySync -> zIdle {{ guard x >= SA && y >= TTRT; sync RT[i]!; }},
        ySync -> yAsync {{ guard x >= SA && y < TTRT; }},
        yAsync -> zIdle {{ sync RT[i]!; }};
}}

process Ring() {{
    clock t;
    state {ring_locations};
    init to0;
    trans
        {ring_edges};
}}

system Ring, Station;
"""


def queries(n: int) -> str:
    return "A[] forall (i : id_t) forall (j : id_t) (Station(i).zSync || Station(i).ySync) && " \
           "(Station(j).zSync || Station(j).ySync) imply i == j\n"


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
