%
(Tapping and boring cycles that stop the spindle in the hole and start it again as it ran:)
(G84 stops and reverses at the bottom and comes out reversed, G86 stops at the bottom and)
(rapids out, G87 goes down off centre with the spindle stopped and bores back up from below,)
(G88 stops at the bottom for the operator. Each spindle event is a Notify on the timeline.)
G90 G94 G17 G21 G40 G49 G80 G54
F300 S2400 M3
G0 X0 Y0 Z10
G99 G84 X10 Y10 Z-8 R2 P0.2     (tap, then one more hole at X20)
X20
G80
M4 S1800                        (counter-clockwise: the cycles restart it that way)
G98 G86 X30 Y10 Z-6 R2 P0.3
G87 X40 Y10 Z-12 R2 I1.5 J0 K-4 (back bore from 12 mm down up to 4 mm down)
G88 X50 Y10 Z-5 R2 P0.5         (the operator takes over at the bottom)
G80
G18 G0 X0 Y-5 Z0
G99 G87 X10 Z5 Y-14 R-7 I0 J-10 K-1.2 (in the XZ plane: drills along Y, offset along Z)
G80 G17
G91 G99 G86 X10 Y30 Z-6 R-3 P0.1 L2 (incremental: two holes 10 mm apart)
G90 G80
M5
G0 Z20
M30
%
