(A job with mistakes, to show how bad lines are reported.)
G1 X10
G0 X5 Q3
G91 G0 X1
G4
