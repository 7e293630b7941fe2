#!/usr/bin/env bash
# A run as a user who is not root, in real time (the program makes its own private network as
# that user) and in virtual time, with a fresh TMPDIR: nothing is left there, the plug-in's
# log and the probe log land in the run folder beside the job, in --out DIR, or nowhere with
# --no-files. Needs root to become nobody (setpriv); skipped (77) otherwise.
#
#   unprivileged_run.sh SOURCE_DIR TORVEXAN_SIM
set -uo pipefail

src="$1" sim="$2"
if [[ $(id -u) -ne 0 ]] || ! command -v setpriv > /dev/null; then
  echo "skipped: becoming another user needs root and setpriv"
  exit 77
fi
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
if ! "${as_nobody[@]}" unshare -rn true 2> /dev/null; then
  echo "skipped: nobody may not make user namespaces here"
  exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -m 1777 "$work/tmp" "$work/jobs"
cp "$src/examples/short.nc" "$src/examples/probe_log.nc" "$work/jobs/"
failures=0
fail() {
  echo "FAILED: $1"
  failures=$((failures + 1))
}
nothing_in_tmp() {
  [[ -z "$(ls -A "$work/tmp")" ]] || fail "left in TMPDIR after $1: $(ls -A "$work/tmp")"
}
# run WANT_EXIT ARGS...: as nobody, in the job folder, with the fresh TMPDIR.
run() {
  local want="$1"
  shift
  (cd "$work/jobs" && "${as_nobody[@]}" env TMPDIR="$work/tmp" "$sim" --no-progress "$@") \
    > "$work/out.txt" 2>&1
  local got=$?
  if [[ $got -ne $want ]]; then
    fail "exit $got, wanted $want: $*"
    tail -20 "$work/out.txt"
  fi
  nothing_in_tmp "$*"
}

# Real time on sockets: the private network is made as nobody.
run 0 short.nc
grep -q "^result: positions agree" "$work/out.txt" || fail "no agreement as nobody in real time"
grep -q "^run folder  *short-run$" "$work/out.txt" || fail "the report names no run folder"
[[ -s "$work/jobs/short-run/plugin.log" ]] || fail "no plug-in log in the run folder"
# The probe log goes into the run folder too, or into --out DIR.
run 0 --fast probe_log.nc
[[ $(wc -l < "$work/jobs/probe_log-run/probe_log-probe-log.txt") -eq 4 ]] ||
  fail "no probe log of 4 trip points in the run folder"
# A folder nobody cannot make is refused before the run, with what to do instead.
run 2 --fast --out "$work/not-ours" probe_log.nc
grep -q "cannot make the run folder .*(--out DIR names another, --no-files keeps no file)" \
  "$work/out.txt" || fail "no word of the run folder that cannot be made"
mkdir -m 1777 "$work/out"
run 0 --fast --out "$work/out" probe_log.nc
[[ -s "$work/out/plugin.log" && -s "$work/out/probe_log-probe-log.txt" ]] ||
  fail "--out DIR holds no log"
# --no-files keeps nothing at all.
rm -rf "$work/jobs/probe_log-run"
run 0 --fast --no-files probe_log.nc
[[ ! -e "$work/jobs/probe_log-run" ]] || fail "--no-files made a run folder"
grep -q "^probe log  *not written (--no-files)$" "$work/out.txt" || fail "--no-files wrote a probe log"
[[ -z "$(find "$work/jobs" -newer "$work/out/plugin.log" -type f)" ]] ||
  fail "--no-files left files: $(find "$work/jobs" -newer "$work/out/plugin.log" -type f)"

if [[ $failures -ne 0 ]]; then
  echo "$failures checks of the unprivileged run failed"
  exit 1
fi
echo "runs as nobody leave nothing behind but the run folder"
