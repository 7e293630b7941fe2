(A short job: one 20 mm square at 1200 mm/min, about 4 s of motion.)
G90
G1 F1200 X20
Y20
X0
Y0
M30
