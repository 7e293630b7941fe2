(A job with mistakes, to show how bad lines are reported: file, line and word, exit status 3.)
G1 X10
G0 X5 E3
G2 X5 Y5 F100
G93 G1 X2
G4
G0 X[#1 / 0]
M98 P77
