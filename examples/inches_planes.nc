%
(Inches, incremental moves and arcs in all three planes: a bracket outline in XY, a)
(rounded step in ZX and a groove end in YZ, each written relative to where the tool is.)
G20 G91 G94 G64              (inches, incremental)
G0 X0.5 Y0.5 Z0.2
F20                          (20 inches per minute)
G17 G1 Z-0.25
G1 X1.0
G3 X0.25 Y0.25 I0 J0.25      (quarter circle in XY, centre offsets from the start)
G1 Y0.5
G2 X-0.25 Y0.25 R0.25        (and one by radius)
G1 X-1.0
G1 Y-1.0
G18                          (ZX plane: arcs in Z and X)
G1 Z0.25
G2 X0.5 Z0 I0.25 K0          (clockwise seen from +Y: over and down the other side)
G3 X0.5 Z0 R0.25
G19                          (YZ plane: arcs in Y and Z)
G3 Y0.5 Z0 J0.25 K0
G2 Y-0.25 Z-0.25 R0.25
G90 G17 G0 Z0.4              (absolute again, still inches)
G0 X0 Y0
G21 G0 Z0                    (millimetres: back to the start)
M30
%
