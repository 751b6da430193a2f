E<> P1.B && P2.A
E<> P2.B && P1.A
E<> P1.B
