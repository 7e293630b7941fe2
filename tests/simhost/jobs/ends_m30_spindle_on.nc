(The program ends with the spindle and the coolant still on: M30 stops them.)
G21 G90 G94
M4 S9000
M7
G1 X10 Y5 F1200
M30
