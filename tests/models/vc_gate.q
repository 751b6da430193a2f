E<> P.b
A[] x<=5
E<> P.c
