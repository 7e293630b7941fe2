(Spindle and coolant switched off by the job itself, then the end of the program.)
G21 G90 G94
M3 S6000
M8
G1 X10 Y5 F1200
M5
M9
M30
