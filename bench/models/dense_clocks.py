#!/usr/bin/env python3
"""A dense net of cycles over shared clocks: n processes and n + 1 clocks, as a model and its
queries.

Usage: dense_clocks.py N MODEL QUERIES

Every process has two or three locations, most bounded by an invariant on some clock, and edges
between them (and loops) guarded by ranges of the clocks and resetting one or two of them; the
last process has a committed location. The same n always gives the same model (its own seeded
generator, not Python's). Every round resets clocks that other rounds compare, so the robust
search analyses a great many cycles. The queries: an unreachable goal for the plain and for the
robust search, so that both explore every state.
"""
import sys


class Lcg:
    """A small linear congruential generator: the same numbers on every platform and version."""

    def __init__(self, seed: int):
        self.state = seed * 2654435761 % 2**32 or 1

    def below(self, n: int) -> int:
        self.state = (self.state * 1664525 + 1013904223) % 2**32
        return (self.state >> 8) % n

    def between(self, low: int, high: int) -> int:
        return low + self.below(high - low + 1)

    def chance(self, percent: int) -> bool:
        return self.below(100) < percent


def guard(rng: Lcg, clocks: int) -> str:
    x = f"x{rng.below(clocks)}"
    kind = rng.below(5)
    if kind == 0:
        return f"{x} < {rng.between(3, 12)}"
    if kind == 1:
        return f"{x} > {rng.between(1, 8)}"
    if kind == 2:
        return f"{x} >= {rng.between(1, 4)}"
    if kind == 3:
        return f"{x} <= {rng.between(2, 10)}"
    low = rng.between(1, 7)
    return f"{x} >= {low} && {x} <= {low + rng.between(0, 3)}"


def model(n: int) -> str:
    rng = Lcg(n)
    clocks = n + 1
    text = f"// A dense net of cycles: {n} processes over {clocks} clocks.\n"
    text += "".join(f"clock x{c};\n" for c in range(clocks))
    for p in range(n):
        locations = rng.between(2, 3)
        states = []
        for l in range(locations):
            if rng.chance(75):
                states.append(f"l{l} {{ x{rng.below(clocks)} <= {rng.between(3, 11)} }}")
            else:
                states.append(f"l{l}")
        edges = []
        for _ in range(rng.between(locations + 2, locations + 4)):
            source, target = rng.below(locations), rng.below(locations)
            label = f" guard {guard(rng, clocks)};" if rng.chance(70) else ""
            resets = sorted({rng.below(clocks) for _ in range(rng.between(1, 2))})
            label += " assign " + ", ".join(f"x{c} = 0" for c in resets) + ";"
            edges.append(f"    l{source} -> l{target} {{{label} }}")
        text += f"\nprocess P{p}() {{\n  state {', '.join(states)};\n"
        if p == n - 1 and locations > 1:
            text += "  commit l1;\n"
        text += "  init l0;\n  trans\n" + ",\n".join(edges) + ";\n}\n"
    return text + "\nsystem " + ", ".join(f"P{p}" for p in range(n)) + ";\n"


QUERIES = """E<> false
E<>* false
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
