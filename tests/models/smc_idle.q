Pr[<=10](<> true)
Pr[<=10](<> false)
Pr[<=10](<> true) >= 0.5
Pr[<=10](<> false) >= 0.5
