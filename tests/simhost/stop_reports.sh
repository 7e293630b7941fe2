#!/usr/bin/env bash
# What the report says after a stop and at the end of a job, in virtual time: where the card
# came to rest (its own trace, not a restarted card's zero count), the line a resume goes on
# from, the spindle and coolant back before the job moves again, underruns with their own
# exit status, and the spindle and coolant off at the end.
#
#   stop_reports.sh SOURCE_DIR TORVEXAN_SIM
set -uo pipefail

src="$1" sim="$2"
jobs="$src/tests/simhost/jobs"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
out="$work/out.txt"

# run WANT_EXIT ARGS...: one run of torvexan-sim --fast, its report in $out.
run() {
  local want="$1"
  shift
  what="$*"
  "$sim" --fast --no-progress --no-files "$@" > "$out" 2>&1
  local got=$?
  if [[ $got -ne $want ]]; then
    echo "FAILED (exit $got, wanted $want): $what"
    tail -40 "$out"
    failures=$((failures + 1))
  fi
}
fail() {
  echo "FAILED: $1 in the report of: $what"
  failures=$((failures + 1))
}
has() { grep -q -- "$1" "$out" || fail "no '$1'"; }
lacks() { ! grep -q -- "$1" "$out" || fail "'$1'"; }
# The line of the first stop as the card's trace gives it.
rest_line() { sed -n 's/.*the card came to rest at .* on line \([0-9]*\) (the card.s trace).*/\1/p' "$out" | head -1; }

# A restart far from the origin on a path that passes through it: the card's trace finds the
# machine on line 6 (Y40, from X60 Y0), the card's count is not known, and the job cannot go
# on after a reset, for it never referenced its axes.
for card in lorn4 lorn5 pell5; do
  run 4 --card "$card" --card-arg=--reboot-after --card-arg=10 "$jobs/through_origin.nc"
  has "the card came to rest at X 60.0000 Y [1-9][0-9.]* Z 0.0000 on line 6 (the card's trace): stands on the commanded path"
  lacks "X 0.0000 Y 0.0000 Z 0.0000.*stands on"
  has "the card restarted: its count is lost"
  has "^X  *60000  *not known"
  has "^result: job STOPPED by a fault at line 6 "
done
run 4 --card-arg=--reboot-after --card-arg=10 --reset-after-estop "$jobs/through_origin.nc"
has "the job cannot go on: the card restarted and lost its position, and the job never referenced XY"
lacks "the job goes on from line"

# The same path referenced first, with spindle and coolant on: reset, reference again, back to
# the start of the card's move, spindle and coolant on before the card runs the job again.
run 0 --card-arg=--reboot-after --card-arg=14 --reset-after-estop "$jobs/through_origin_referenced.nc"
line="$(rest_line)"
[[ -n "$line" ]] || fail "no line where the card came to rest"
has "RESET by the operator; the job goes on from line $line$"
has "restores the spindle: M3 S8000: Notify(3)"
# The card lost spindle and coolant as it went down at 14 s, not when its boot was over.
has "^card spindle  *0 at 1[34]\.[0-9]* s (the card restarted)$"
has "^card outputs  *00 at 1[34]\.[0-9]* s (the card restarted)$"
has "restores the coolant: M8 flood"
has "the card ran the job again at [0-9.]* s with spindle [1-9][0-9]*, outputs 01: spindle and coolant as the job had them"
grep -A20 'RESET by the operator; the job goes on' "$out" | grep -B20 'moves back to' | grep -q 'restores the spindle' ||
  fail "the spindle is not restored before the move back"
has "^card at end  *spindle 0, outputs 00"
has "^result: positions agree"

# A cable pulled mid-arc: the card runs on through its buffer. The report gives where it ran
# to, and the resume goes on from that line, not from where the card last answered.
run 0 --card-arg=--silent-after --card-arg=25 --card-arg=--silent-for --card-arg=4 --reset-after-estop \
  "$src/examples/demo.nc"
line="$(rest_line)"
has "RESET by the operator; the job goes on from line $line$"
has "it ran its buffer dry, still in its stream"
has "UNDERRUN: the card's buffer ran dry while the stream was open (caused by the stop at line $line"
has "^result: positions agree$"
run 4 --card-arg=--silent-after --card-arg=25 "$src/examples/demo.nc"
host_line="$(sed -n 's/.* line \([0-9]*\)  *host  *EStop raised.*/\1/p' "$out" | head -1)"
[[ "$(rest_line)" -gt "$host_line" ]] || fail "the card's line $(rest_line) is not past the host's $host_line"
lacks "OVER THE LIMIT"

# A lossy, slow link that starves the card (loss alone no longer does, even at 40%: a card that
# runs low is sent its packet again every tick): the underruns are on the timeline and the run
# ends with its own exit status.
run 5 --card-arg=--drop --card-arg=0.4 --card-arg=--latency --card-arg=60 "$src/examples/pocket.nc"
has "line [0-9]*  *card  *UNDERRUN: the card's buffer ran dry while the stream was open$"
has "^result: positions agree, but the motion was NOT CLEAN: [1-9][0-9]* underruns"

# The end of a job: the card has the last outputs; M30 stops what is still on; without M30
# a turning spindle is said.
run 0 "$jobs/ends_m5_m30.nc"
has "^card spindle  *0 at "
has "^card at end  *spindle 0, outputs 00"
run 0 "$jobs/ends_m30_spindle_on.nc"
has "M2/M30 program end: spindle and coolant off"
has "^card outputs  *02 at "
has "^card at end  *spindle 0, outputs 00"
run 0 "$jobs/ends_spindle_on.nc"
has "^card at end  *spindle [1-9][0-9]*, outputs 00 (the card's trace): THE SPINDLE STILL TURNS"

# A stopped job's closing sections tell the state at the stop, not the whole file's: the
# operator's RESET before the second tool's change, a restart before the probe that sets G92.
run 4 --reset-at 1 --tools "$src/examples/cam_post.tools" "$src/examples/cam_post.nc"
has "^run .*job STOPPED by the operator's RESET$"
has "^tool changes  *2 (tools 1, 2), tool 1 in the spindle at the stop$"
has "^offsets at stop G54: X 10.000 Y 10.000 Z -60.000$"
has "^result: job STOPPED by the operator's RESET at line [0-9]*; the machine stands on the commanded path"
lacks "by a fault"
run 4 --card-arg=--reboot-after --card-arg=10 "$src/examples/demo.nc"
has "^offsets at stop G54: none$"
has "^  *G92 none; tool length 0.000 mm$"
has "^result: job STOPPED by a fault at line [0-9]* (EStop raised by the plug-in after \"the card restarts\")"

# A restart in the middle of a probe: the card counts from zero again, so its counts are no
# position and the aborted probe says so, never "stopped at X 0 Y 0 Z 0".
run 0 --card lorn4 --card-arg=--reboot-after --card-arg=20 --reset-after-estop \
  "$src/examples/home_probe.nc"
has "^probe  *line 12: aborted, no probe position; where it stopped is NOT KNOWN (the card restarted)$"
lacks "aborted, no probe position; stopped at"

if [[ $failures -ne 0 ]]; then
  echo "$failures checks of the stop reports failed"
  exit 1
fi
echo "every stop and end reported from the card"
