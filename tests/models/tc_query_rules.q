E<> i > 1
E<> (i = 1) > 0
E<> (x < 1) + 1
Pr[<=10](<> b) >= Pr[i<=10](<> b)
E[<=10; i](max: d)
simulate 2 [<=i] { i }
simulate 2 [<=10] { i } : 1 : d
sup{b}: i++
inf{b}: d
E<> (sum (k : int[0,2]) (x < k)) > 0
Pmax b
E<>* b
