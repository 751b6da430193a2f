E<> i > 1
E<> i++ > 0
Pr[<=10](<> b) >= 0.5
Pr[<=i](<> b)
Pr[i<=10](<> b)
simulate 5 [<=10] { i, x, a }
simulate 5 [<=10] { i } : 2 : d
sup{b}: x, i
sup{b}: d
E<> numOf(D) > 0
E<> numOf(P) > 0
E<> forall (k : int[0,2]) a[k]++ > 0
A[] (x < 5 || y < 3)
