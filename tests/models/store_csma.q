A[] forall (i : id_t) Bus.Idle imply not Station(i).Send
