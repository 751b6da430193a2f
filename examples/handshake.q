/*
The two processes never block each other.
*/
A[] not deadlock

/*
The sender can be waiting while the receiver works on its answer.
*/
E<> S.waiting and R.busy

/*
Every answer comes within the receiver's 3 time units.
*/
A[] R.busy imply R.y <= 3
