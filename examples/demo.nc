%
(Demo job: reference the machine on its switches, find the top of the work with the probe,)
(then cut a pocket 40 x 30 mm: a helical entry, two clearing rings, the finished contour)
(with rounded corners, spindle on and coolant through a user code. About 40 s of motion.)
G21 G90 G94 G17 G40 G49 G80 G54 G64
N10 G28.1 Z0                 (reference Z first, on its switch above)
N20 G28.1 X0 Y0              (then X and Y, on theirs below)
N30 G0 X30 Y30
N40 G38.2 Z-40 F300          (probe down to the top of the work)
N50 G92 Z0                   (the top of the work is Z 0 from here on)
N60 G0 Z3
N70 M3 S12000                (spindle on)
N80 M108                     (user code 108: coolant on)
N90 G0 X36 Y30
N100 G1 Z0.5 F300
N110 G3 X36 Y30 Z-1.5 I-6 J0 F900   (helical entry: one turn down to 1.5 mm)
N120 G3 X36 Y30 I-6 J0              (the circle again at full depth)
(first clearing ring, 8 mm inside the contour: sharp corners, blended)
N130 G1 X42 Y30 F1500
N140 Y37
N150 X18
N160 Y23
N170 X42
N180 Y30
(second ring, 4 mm inside, corners of radius 1)
N190 X46
N200 Y40
N210 G3 X45 Y41 R1
N220 G1 X15
N230 G3 X14 Y40 R1
N240 G1 Y20
N250 G3 X15 Y19 R1
N260 G1 X45
N270 G3 X46 Y20 R1
N280 G1 Y30
(the finished contour, corners of radius 5)
N290 X50 F1200
N300 Y40
N310 G3 X45 Y45 R5
N320 G1 X15
N330 G3 X10 Y40 I0 J-5
N340 G1 Y20
N350 G3 X15 Y15 R5
N360 G1 X45
N370 G3 X50 Y20 I0 J5
N380 G1 Y30
N390 G0 Z3
N400 M5                      (spindle off)
N410 M109                    (user code 109: coolant off)
N420 G28 Z5                  (up through Z 5 to the machine's Z zero)
N430 G28 X0 Y0
M30
%
