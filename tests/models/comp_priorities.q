E<> S.Ca
E<> S.Cb
E<> S.Low
E<> S.High
E<> S.Dflt
E<> S.Alone
