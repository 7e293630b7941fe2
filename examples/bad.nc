(A job with mistakes, to show how bad lines are reported: file, line and word, exit status 3.)
G1 X10
G0 X5 Q3
G2 X5 Y5 F100
M6 T2
G4
