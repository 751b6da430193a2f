#!/usr/bin/env python3
"""The train-gate controller with n trains, as a model and its queries.

Usage: train_gate.py N MODEL QUERIES

Trains approach a bridge that holds one train at a time; a controller keeps the approaching trains
in a queue, stops a train that approaches while the bridge is occupied and starts the first
stopped train when the bridge is free. The queries: at most one train on the bridge (holds), the
first train can cross (holds), and the system never deadlocks (holds).
"""
import sys


def model(n: int) -> str:
    return f"""// The train-gate controller for {n} trains.
const int N = {n};
typedef int[0,N-1] id_t;

chan appr[N], stop[N], leave[N];
urgent chan go[N];

process Train(const id_t id) {{
    clock x;
    state Safe, Appr {{ x <= 20 }}, Stop, Start {{ x <= 15 }}, Cross {{ x <= 5 }};
    init Safe;
    trans
        Safe -> Appr {{ sync appr[id]!; assign x = 0; }},
        Appr -> Stop {{ guard x <= 10; sync stop[id]?; }},
        Appr -> Cross {{ guard x >= 10; assign x = 0; }},
        Stop -> Start {{ sync go[id]?; assign x = 0; }},
        Start -> Cross {{ guard x >= 7; assign x = 0; }},
        Cross -> Safe {{ guard x >= 3; sync leave[id]!; }};
}}

process Gate() {{
    id_t list[N + 1];
    int[0,N] len;

    void enqueue(id_t element) {{ list[len++] = element; }}
    void dequeue()
    {{
        int i = 0;
        len -= 1;
        while (i < len) {{
            list[i] = list[i + 1];
            i++;
        }}
        list[i] = 0;
    }}
    id_t front() {{ return list[0]; }}
    id_t tail() {{ return list[len - 1]; }}

    state Free, Occ, Stopping;
    commit Stopping;
    init Free;
    trans
        Free -> Occ {{ select e : id_t; guard len == 0; sync appr[e]?; assign enqueue(e); }},
        Free -> Occ {{ guard len > 0; sync go[front()]!; }},
        Occ -> Free {{ select e : id_t; guard e == front(); sync leave[e]?; assign dequeue(); }},
        Occ -> Stopping {{ select e : id_t; sync appr[e]?; assign enqueue(e); }},
        Stopping -> Occ {{ sync stop[tail()]!; }};
}}

system Train, Gate;
"""


QUERIES = """A[] forall (i : id_t) forall (j : id_t) Train(i).Cross && Train(j).Cross imply i == j
E<> Train(0).Cross
A[] not deadlock
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
