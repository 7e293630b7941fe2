%
(The start of a day: reference every axis on its switch, probe the top of the work twice)
(at two corners, zero Z on it, and take a light facing pass. Shows the referencing and)
(probe results in the report. #2002 holds where the last probe touched.)
G21 G90 G94
G28.1 Z0                (Z first: the tool leaves the work before anything moves across it)
G28.1 X0 Y0
G0 X10 Y10
G38.2 Z-40 F240         (first corner)
G0 Z[#2002 + 7.5]       (7.5 mm above where the probe touched)
G0 X60 Y40
G38.2 Z-40 F120         (second corner, slower)
G92 Z0                  (the work's top is Z 0)
G0 Z2
G1 Z-0.2 F200
G1 X10 F1800
G1 Y30
G1 X60
G1 Y20
G1 X10
G0 Z10
G28 X0 Y0               (back to the machine's zero in X and Y)
M30
%
