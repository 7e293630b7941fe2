%
O1001 (BRACKET - as a CAM post for a Mach3 mill writes it)
(T1 6 mm flat end mill, T2 3 mm drill; run with --tools examples/cam_post.tools)
G90 G94 G91.1 G40 G49 G17
G21
G54
G10 L2 P1 X10 Y10 Z-60 (work zero 10 mm in from the machine's, 60 mm below its Z zero)
(FACE)
T1 M6
S12000 M3
G43 H1
M8
G0 X-4 Y0
G0 Z5
G1 Z-0.5 F300
G1 X64 F1200
G1 Y5
G1 X-4
G1 Y10
G1 X64
G0 Z5
(POCKET - two passes through a subprogram)
#1 = -1.0 (depth of the first pass)
G0 X20 Y20
M98 P2000 L2
G0 Z5
(CONTOUR - arcs by radius and by centre)
G0 X0 Y-3
G1 Z-1 F300
G1 X50 F900
G3 X53 Y0 R3
G1 Y30
G3 X50 Y33 I-3 J0
G1 X0
G3 X-3 Y30 R3
G1 Y0
G3 X0 Y-3 I3 J0
G0 Z5
(OUTLINE - cutter compensation, the tool left of the path: outside, going clockwise)
G0 X-8 Y-20
G1 Z-1.5 F300
G41 D1 G1 Y-8 F900
G1 Y38
G1 X58
G1 Y-8
G1 X-8
G40 G1 X-20 Y-20
G0 Z5
M9
G49
G53 G0 Z0
(DRILL)
T2 M6
S3000 M3
G43 H2
M7
G0 X10 Y10 Z10
G98 G81 X10 Y10 Z-4 R2 F200
X40
G99 G83 X40 Y25 Z-8 R2 Q2
X10
G0 X0 Y0 G80
M9
M5
G49
G53 G0 Z0
M30
O2000 (one pocket pass, #1 deep, then 1 mm deeper for the next)
G1 Z#1 F300
G1 X30 F900
G2 X30 Y24 I0 J2
G1 X20
G2 X20 Y20 I0 J-2
#1 = [#1 - 1]
G0 Z2
M99
%
