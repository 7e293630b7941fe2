(The same contour after referencing the axes, with the spindle and coolant on: a restart)
(on it is reset, the axes are referenced again and the job goes on where the card stopped.)
G21 G90 G17 G94 G61
G28.1 Z0
G28.1 X0 Y0
G0 X0 Y0 Z0
M3 S8000
M8
G1 X60 F600
Y40
X0
Y0
X60
Y40
M5 M9
M30
