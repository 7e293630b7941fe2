%
(Spindle and user codes: clockwise, counter-clockwise and stop with their speeds, the)
(user codes that go out as Modbus register writes, dwells, and the program stops.)
G21 G90
S6000 M3                (6000 rpm clockwise)
G4 P0.5
G1 X10 F1200
M101                    (register 100 <- 1)
S12000 M3               (faster)
G1 X20
M5                      (stop)
G4 P0.3
M4 S3000                (counter-clockwise, 3000 rpm)
G1 X0
M150                    (register 100 <- 50)
M227                    (register 100 <- 127, the highest code)
M0                      (program stop: the simulated operator resumes at once)
M1                      (optional stop)
M5
M30
%
