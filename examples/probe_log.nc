%
(Mach3's probe: map the top of the work at four points into the probe log, then zero Z on)
(the last point with G10 L20 and face over it. M40 opens the log, M41 closes it; the report)
(names the file with the trip points.)
G21 G90 G94 G17
G28.1 Z0
G28.1 X0 Y0
M40
#1 = 10 (first X)
G0 X#1 Y10
G31 Z-40 F200
G0 Z-15
G0 X[#1 + 40]
G31 Z-40 F200
G0 Z-15
G0 Y40
G31 Z-40 F200
G0 Z-15
G0 X#1
G31 Z-40 F200
M41
G10 L20 P1 Z0 (the work's top is Z 0 here)
G0 Z2
G1 Z-0.2 F200
G1 X50 F1500
G1 Y10
G1 X10
G0 Z5
M30
%
