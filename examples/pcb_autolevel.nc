( Isolation routing of a small circuit board with auto-levelling, in the style the free  )
( PCB-to-G-code converters write for Mach3: probe a grid over the board, keep each height )
( in a parameter, then cut every point at the board's height there, interpolated between )
( the four grid points around it. Board 40 x 20 mm, grid 3 x 2 points, 20 mm apart.      )
( Its surface lies 2.5 mm below Z's power-up position: run it with                     )
(   torvexan-sim --fast --machine examples/machine.toml examples/pcb_autolevel.nc       )
G94 ( feed per minute )
G21 ( millimetres )
G90 ( absolute )
G17
T1 M6
G43 H1
S10000 M3
G0 Z2
( probe grid: #500..#502 along Y 0, #503..#505 along Y 20 )
M40 ( open the probe log )
G0 X0 Y0
G31 Z-5 F60
#500 = #2002
G0 Z2
G0 X20 Y0
G31 Z-5 F60
#501 = #2002
G0 Z2
G0 X40 Y0
G31 Z-5 F60
#502 = #2002
G0 Z2
G0 X0 Y20
G31 Z-5 F60
#503 = #2002
G0 Z2
G0 X20 Y20
G31 Z-5 F60
#504 = #2002
G0 Z2
G0 X40 Y20
G31 Z-5 F60
#505 = #2002
G0 Z2
M41 ( close the probe log )
( the cut: 0.1 mm into the copper at the board's height under each point )
#10 = -0.1 ( depth of cut )
#11 = 200 ( feed )
( a trace along Y 5 from X 5 to X 35: heights between rows 0 and 1, a quarter of the way )
#20 = [#500 + [#503 - #500] * 0.25] ( X 0 column at Y 5 )
#21 = [#501 + [#504 - #501] * 0.25] ( X 20 column at Y 5 )
#22 = [#502 + [#505 - #502] * 0.25] ( X 40 column at Y 5 )
G0 X5 Y5
G1 Z[#20 + [#21 - #20] * 0.25 + #10] F60
G1 X10 Z[#20 + [#21 - #20] * 0.5 + #10] F#11
G1 X15 Z[#20 + [#21 - #20] * 0.75 + #10]
G1 X20 Z[#21 + #10]
G1 X25 Z[#21 + [#22 - #21] * 0.25 + #10]
G1 X30 Z[#21 + [#22 - #21] * 0.5 + #10]
G1 X35 Z[#21 + [#22 - #21] * 0.75 + #10]
G0 Z2
( a trace along X 30 from Y 5 to Y 15 )
G0 X30 Y5
#23 = [#501 + [#502 - #501] * 0.5] ( row Y 0 at X 30 )
#24 = [#504 + [#505 - #504] * 0.5] ( row Y 20 at X 30 )
G1 Z[#23 + [#24 - #23] * 0.25 + #10] F60
G1 Y10 Z[#23 + [#24 - #23] * 0.5 + #10] F#11
G1 Y15 Z[#23 + [#24 - #23] * 0.75 + #10]
G0 Z2
( a pad: a small square around X 10 Y 15 )
#25 = [#500 + [#503 - #500] * 0.75]
#26 = [#501 + [#504 - #501] * 0.75]
#27 = [#25 + [#26 - #25] * 0.5] ( X 10 Y 15 )
G0 X9 Y14
G1 Z[#27 + #10] F60
G1 X11 F#11
G1 Y16
G1 X9
G1 Y14
G0 Z5
M5
G0 X0 Y0
M30
