(No M2 or M30: the file just ends with the spindle on.)
G21 G90 G94
M3 S6000
G1 X10 Y5 F1200
