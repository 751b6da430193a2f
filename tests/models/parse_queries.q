// Every query form of the language, one per line.
A[] not deadlock

E<> P.goal
A<> x > 1
E[] y
p --> q
A[] (p && A<> q)
A[] (p and A<> q)
A[ p U q ]
A[ p W q ]
A[]* p
E<>* q
Pmax p
sat: Chart
sup: x, y
sup{P.done}: x
inf: z
Pr[<=10](<> p) >= 0.9
Pr[#<=10]([] p) <= 0.1
Pr[x<=10](<> p)
Pr[<=10](p U q)
Pr[<=10](<> p) >= Pr[c<=20]([] q)
simulate 10 [<=100] {x, y}
simulate 10 [<=100] {x, y} : 2 : x > 3
simulate 10 [#<=100] {x} : x > 3
E[<=10; 100](max: x)
Pr (p U[0,5] q)
Pr ((<>[0,5] p) || (X q))
Pr ((p R[1,3] q) && ([][1,2] q))
E<> numOf(P) > 1 && forall (p : P) (p.x == 0)
A[] foreach (p : P) p.y
