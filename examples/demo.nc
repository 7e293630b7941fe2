%
(Demo job for torvexan-sim: a rectangle and a diagonal in XY, a plunge with a dwell,)
(a rotary move and a combined move, then a rapid to the end point. About 20 s of motion.)
G21 G90 G94
N10 G0 X10 Y10
N20 G1 F1200 X70
N30 Y50
N40 X10
N50 Y10
N60 G1 X70 Y50 F1800
N70 G1 Z-5 F300
N80 G4 P1.5 (dwell at the bottom)
N90 G1 Z0
N100 G1 A90 F2700
N110 G1 X40 Y30 A180 F2400
N120 G0 X2.5 Y7.25 Z1 A15 (ends away from the origin, so every axis is compared)
M30
%
