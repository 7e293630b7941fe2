%
(A round-cornered pocket with a helical entry, as a CAM program writes it: no referencing,)
(the machine's zero where it stands. Two depths of 1 mm, each entered by a helix of two)
(turns, cleared by rings of arcs and lines, then the finished wall. About 45 s of motion.)
G90 G94 G17 G21 G40 G49 G80 G54
G64
M3 S18000
G0 Z5
G0 X25 Y20
(depth 1)
G1 Z0.2 F400
G2 X25 Y20 Z-0.4 I-5 J0 F800
G2 X25 Y20 Z-1 I-5 J0
G2 X25 Y20 I-5 J0
G1 X28 F1600
G3 X28 Y26 R-8 (long way round the middle: more than half a circle)
G1 X12
G3 X12 Y14 R6
G1 X28
G3 X32 Y18 R4
G1 Y22
G3 X28 Y26 R4
G1 X33 Y28
G1 X7
G3 X5 Y26 R2
G1 Y14
G3 X7 Y12 R2
G1 X33
G3 X35 Y14 R2
G1 Y26
G3 X33 Y28 R2
(depth 2)
G1 X25 Y20 Z-1 F800
G2 X25 Y20 Z-1.4 I-5 J0
G2 X25 Y20 Z-2 I-5 J0
G2 X25 Y20 I-5 J0
G1 X33 Y28 F1600
G1 X7
G3 X5 Y26 R2
G1 Y14
G3 X7 Y12 R2
G1 X33
G3 X35 Y14 R2
G1 Y26
G3 X33 Y28 R2
G0 Z5
M5
G0 X0 Y0
M30
%
