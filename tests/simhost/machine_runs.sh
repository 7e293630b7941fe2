#!/usr/bin/env bash
# torvexan-sim on a machine of the user's own, in virtual time, as a user would try it: the
# auto-levelling board job finds its board only where the machine file puts it, a move beyond
# the travel stops the run before anything moves (or only warns with --ignore-travel), the
# wrong tool's length is a warning, and a bad machine file is refused with its line and key.
#
#   machine_runs.sh SOURCE_DIR TORVEXAN_SIM
set -uo pipefail

src="$1" sim="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

# run WANT_EXIT SIM-ARGS...: the output (report and warnings) goes to out.txt.
run() {
  local want="$1"
  shift
  what="$*"
  "$sim" --fast --no-progress "$@" > out.txt 2>&1
  local got=$?
  if [[ $got -ne $want ]]; then
    echo "FAILED (exit $got, wanted $want): $what"
    tail -30 out.txt
    failures=$((failures + 1))
  fi
}
has() {
  if ! grep -q -- "$1" out.txt; then
    echo "FAILED: no '$1' in the output of: $what"
    failures=$((failures + 1))
  fi
}
count() {
  local n
  n=$(grep -c -- "$2" out.txt)
  if [[ $n -ne $1 ]]; then
    echo "FAILED: $n lines with '$2', wanted $1, in the output of: $what"
    failures=$((failures + 1))
  fi
}

machine="$src/examples/machine.toml"
board="$src/examples/pcb_autolevel.nc"

# The built-in machine has its work 12.5 mm down: the board job's first probe finds nothing.
run 4 "$board"
has "line 18: aborted, no probe position"
has '^machine  *built-in (no --machine file)$'
# On the machine of the file the board is 2.5 mm down and tilted: six probes touch it where
# the file says, on every card model.
for card in lorn4 lorn5 pell5; do
  run 0 --card "$card" --machine "$machine" "$board"
  has "^machine  *$machine\$"
  count 6 "^probe  *line [0-9]*: contact"
  has 'line 22: contact, stopped at X 20.0000 Y 0.0000 Z -2.46[0-9]*[; ].*surface expected at Z -2.4600; [0-9] steps past it, within the last row'
  has 'line 30: contact, stopped at X 0.0000 Y 20.0000 Z -2.52[0-9]*[; ].*surface expected at Z -2.5200; [0-9] steps past it, within the last row'
  has 'spindle fraction 0.833 of 12000 rpm'
  has "^tool table  *$machine \[\[tool\]\]: 2 tools\$"
  has '^X  *0.000 .. 40.000  *0.000 .. 40.000  *-5.000 .. 195.000$'
  has '^result: positions agree$'
done
# The file's card is the card unless --card says otherwise.
run 0 --machine "$machine" "$board"
has '^card  *lorn5,'

# Far beyond the travel: refused before anything moves, every axis with its line.
printf 'G21 G90\nG0 X3000 Y-2500\nM30\n' > far.nc
run 3 far.nc
has '^far.nc:2: X 3000.000 lies beyond the travel -30.000 .. 270.000 (machine coordinates)$'
has '^far.nc:2: Y -2500.000 lies beyond the travel -30.000 .. 270.000 (machine coordinates)$'
count 0 '== torvexan-sim report'
run 3 --machine "$machine" far.nc
has '^far.nc:2: X 3000.000 lies beyond the travel -5.000 .. 195.000 (machine coordinates)$'
# With --ignore-travel the move runs, and the report keeps the warning.
printf 'G21 G90\nG0 X300 Y-40\nG0 X0 Y0\nM30\n' > past.nc
run 0 --ignore-travel past.nc
has '^torvexan-sim: warning: past.nc:2: X 300.000 lies beyond the travel'
has '^warning  *line 2: Y -40.000 lies beyond the travel -30.000 .. 270.000 (machine coordinates) (--ignore-travel)$'
has '^X  *0.000 .. 300.000  *0.000 .. 300.000  *-30.000 .. 270.000$'

# The length of a tool that is not in the spindle: warned of, and the job runs.
printf 'T1 M6\nG43 H2\nG0 Z1\nG49 G0 Z0\nM30\n' > h2.nc
run 0 --machine "$machine" h2.nc
has '^torvexan-sim: warning: h2.nc:2: G43 H2 applies the length of tool 2 while tool 1 is in the spindle$'
has '^warning  *line 2: G43 H2 applies the length of tool 2 while tool 1 is in the spindle$'

# A bad machine file stops the run as a bad tool table does, naming file, line and key.
printf '[axes.x]\nvelocity = 50\nacceleraton = 3\n' > bad.toml
run 3 --machine bad.toml far.nc
has '^torvexan-sim: bad.toml:3: axes.x.acceleraton: unknown key'
run 3 --machine missing.toml far.nc
has '^torvexan-sim: cannot read the machine file missing.toml$'
# The initialization string's modes hold from the first line on: G20 makes X1 an inch, and
# the program's extents are in inches beside the machine's millimetres.
printf 'init = "G20"\n' > inches.toml
printf 'G0 X1\nG0 X0\nM30\n' > inch.nc
run 0 --machine inches.toml inch.nc
has '^extents  program (in)  *machine (mm)  *travel$'
has '^X  *0.000 .. 1.000  *0.000 .. 25.400  *-30.000 .. 270.000$'

if [[ $failures -ne 0 ]]; then
  echo "$failures failures"
  exit 1
fi
echo "all machine runs as expected"
