(A short job: a few XY moves, a plunge with a dwell and a rotary move, about 3 s of motion.)
G90
G1 F1500 X20
Y10
G0 X5
G1 Z-1 F600
G4 P0.3
G1 A30 F3600
G1 X20 Y12.345 F1500
M30
