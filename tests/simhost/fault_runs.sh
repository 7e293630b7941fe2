#!/usr/bin/env bash
# Every fault the virtual card takes, in virtual time on every card model, as a user would try
# them: the faults that stop a machine (restart, link loss, e-stop press) must stop the job
# with its own exit status, the host commanding nothing after the stop, the card's trace
# showing no step once the card had halted, and the report naming the event; with --reset-after-estop the job goes on and ends where it was commanded; the
# packet faults and the switches leave a job that still ends where it was commanded.
#
#   fault_runs.sh SOURCE_DIR TORVEXAN_SIM
set -uo pipefail

src="$1" sim="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

# run WANT_EXIT MODEL JOB [CARD-ARGS... --] [SIM-ARGS...], then `has` checks its report.
run() {
  local want="$1" card="$2" job="$3"
  shift 3
  local args=()
  while [[ $# -gt 0 && "$1" != "--" ]]; do args+=("--card-arg=$1"); shift; done
  [[ $# -gt 0 ]] && shift
  what="$card ${args[*]} $*"
  "$sim" --fast --no-progress --no-files --card "$card" "${args[@]}" "$@" "$src/examples/$job.nc" \
    > "$work/out.txt" 2>&1
  local got=$?
  if [[ $got -ne $want ]]; then
    echo "FAILED (exit $got, wanted $want): $what"
    tail -30 "$work/out.txt"
    failures=$((failures + 1))
  fi
}
has() {
  if ! grep -q -- "$1" "$work/out.txt"; then
    echo "FAILED: no '$1' in the report of: $what"
    failures=$((failures + 1))
  fi
}
lacks() {
  if grep -q -- "$1" "$work/out.txt"; then
    echo "FAILED: '$1' in the report of: $what"
    failures=$((failures + 1))
  fi
}
# The card's own trace: once it had halted, the machine did not move again.
card_still() {
  has "the card moved nothing after it halted"
  lacks "the card MOVED"
  lacks "THE CARD NEVER HALTED"
}
# The stop is on the timeline with its cause, nothing was commanded after it and the card
# moved nothing once halted.
stopped() {
  has "$1"
  has "the host stops the job"
  has "queue emptied, spindle and coolant off"
  has "the host commanded nothing after the stop; the job ended there"
  card_still
  has "^result: job STOPPED by a fault"
}

for card in lorn4 lorn5 pell5; do
  # demo.nc streams its pocket from about 17 s to 42 s.
  run 4 "$card" demo --reboot-after 25
  stopped "card     the card restarts"
  run 4 "$card" demo --silent-after 25 --silent-for 4 -- --svg "$work/stop.svg"
  stopped "card     the card falls silent"
  if ! grep -q '>stop, line [0-9]*</text>' "$work/stop.svg"; then
    echo "FAILED: the plot does not mark the stop of: $what"
    failures=$((failures + 1))
  fi
  has "plug-in  (Card link lost! Motion stopped, Estop.)"
  # The link is lost with the card's last rows run: the machine stands where it was sent.
  has "stands on the commanded path"
  run 0 "$card" demo --reboot-after 25 -- --reset-after-estop
  has "RESET by the operator; the job goes on from line"
  has "the card moved nothing after it halted at [0-9.]* s (until the operator's reset)"
  card_still
  has "the operator references the axes again"
  has "^result: positions agree"
  run 0 "$card" short --drop 0.05 --delay 0.1 --duplicate 0.05 --latency 3 --toggle-inputs 300
  has "^card faults  *in: dropped [1-9]"
  has "^result: positions agree"
  lacks "the host stops the job"
  # A damaged byte goes unnoticed by a card without checksums: whatever the run ends in, it
  # ends with a verdict, and the report counts the damage.
  "$sim" --fast --no-progress --no-files --card "$card" --card-arg=--corrupt --card-arg=0.02 \
    "$src/examples/short.nc" > "$work/out.txt" 2>&1
  code=$?
  what="$card --corrupt 0.02"
  if [[ $code -ne 0 && $code -ne 1 && $code -ne 4 ]]; then
    echo "FAILED (exit $code): $what"
    failures=$((failures + 1))
  fi
  has "corrupted [1-9]"
done
for card in lorn4 lorn5 pell5; do
  # The operator's RESET in the middle of the pocket (motion begins with the referencing).
  run 4 "$card" demo -- --reset-at 22
  has "host     RESET pressed by the operator: the host stops the job"
  has "the host commanded nothing after the stop; the job ended there"
  card_still
  has "^result: job STOPPED by the operator's RESET at line"
  lacks "STOPPED by a fault"
  has "stands on the commanded path"
done
for card in lorn5 pell5; do
  run 4 "$card" home_probe --estop-every 3
  stopped "card     the card's e-stop button is pressed"
done
# Without faults the probes touch where the machine has its surface, within the row the card
# looked at its probe input after; the USB card's stop stands in for its missing probe position.
for card in lorn5 pell5; do
  run 0 "$card" home_probe
  has "^probe .*surface expected at Z -22.5210; 19 steps past it, within the last row of 20"
  lacks "MORE THAN ONE ROW OFF"
done
has "USB replies carry no probe position; where it stopped, against the surface expected"
# The Lorn4 has no e-stop input: pressing one is refused, not silently ignored.
run 64 lorn4 short --estop-every 3
has "the Lorn4 has no emergency-stop input"

if [[ $failures -ne 0 ]]; then
  echo "$failures fault checks failed"
  exit 1
fi
echo "every fault ran as the host should see it"
