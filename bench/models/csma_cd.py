#!/usr/bin/env python3
"""The CSMA/CD protocol with n stations on one bus, as a model and its queries.

Usage: csma_cd.py N MODEL QUERIES

A station with a message starts sending when it finds the bus idle; it hears that the bus is busy
when another station started more than one propagation delay ago, and backs off; two stations
that start within one propagation delay of each other collide, the bus tells every station, and
each tries again within twice the delay. A message takes a fixed time to send. The query: no
station is sending while the bus is idle (holds), so the whole state space is explored.
"""
import sys


def model(n: int) -> str:
    return f"""// CSMA/CD with {n} stations.
const int N = {n};
typedef int[0,N-1] id_t;
const int Lambda = 808;   // time to send a message
const int Sigma = 26;     // propagation delay of the bus

chan begin, end, busy;
broadcast chan cd;

process Bus() {{
    clock y;
    state Idle, Active, Collision {{ y < Sigma }};
    init Idle;
    trans
        Idle -> Active {{ sync begin?; assign y = 0; }},
        Active -> Idle {{ sync end?; assign y = 0; }},
        Active -> Collision {{ guard y < Sigma; sync begin?; assign y = 0; }},
        Active -> Active {{ guard y >= Sigma; sync busy!; }},
        Collision -> Idle {{ guard y < Sigma; sync cd!; assign y = 0; }};
}}

process Station(const id_t id) {{
    clock x;
    state Wait, Send {{ x <= Lambda }}, Retry {{ x < 2 * Sigma }};
    init Wait;
    trans
        Wait -> Send {{ sync begin!; assign x = 0; }},
        Wait -> Retry {{ sync busy?; assign x = 0; }},
        Wait -> Retry {{ sync cd?; assign x = 0; }},
        Send -> Wait {{ guard x == Lambda; sync end!; assign x = 0; }},
        Send -> Retry {{ guard x < 2 * Sigma; sync cd?; assign x = 0; }},
        Retry -> Send {{ guard x < 2 * Sigma; sync begin!; assign x = 0; }},
        Retry -> Retry {{ guard x < 2 * Sigma; sync busy?; assign x = 0; }},
        Retry -> Retry {{ guard x < 2 * Sigma; sync cd?; assign x = 0; }};
}}

system Bus, Station;
"""


QUERIES = """A[] forall (i : id_t) Bus.Idle imply not Station(i).Send
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
