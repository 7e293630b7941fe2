#!/usr/bin/env bash
# torvexan-sim --fast reaches no network and no USB device of the machine it runs on: its
# plug-in's sockets and libusb are the virtual network's and bus's. Under strace, on every card
# model, no process of the run opens an Internet or packet socket, sends anywhere, or loads
# libusb or opens a USB device. A control run of the plug-in library on the private network
# of torvexan-sim (real time) must show its sockets, so that the watch is known to see them.
#
#   fast_no_network.sh SOURCE_DIR TORVEXAN_SIM TORVEXAN_CARD
set -uo pipefail

src="$1" sim="$2" card="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
# LeakSanitizer cannot run under ptrace; the sanitized build's other runs look for leaks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
watch() {  # OUT COMMAND...
  local out="$1"
  shift
  strace -f -qq -o "$out" -e trace=socket,connect,bind,sendto,sendmsg,openat "$@" >run.txt 2>&1
}
reaching='socket\(AF_(INET|INET6|PACKET),|sa_family=AF_INET|"[^"]*libusb-1\.0[^"]*"|"/dev/bus/usb/'

for model in lorn4 lorn5 pell5; do
  watch "$model.strace" "$sim" --fast --no-progress --card "$model" \
    --machine "$src/examples/machine.toml" "$src/examples/pcb_autolevel.nc"
  status=$?
  if [[ $status -ne 0 ]] || ! grep -q '^result: positions agree' run.txt; then
    echo "FAILED: the run on $model (exit $status)"
    tail -20 run.txt
    failures=$((failures + 1))
  fi
  if grep -E "$reaching" "$model.strace" >/dev/null; then
    echo "FAILED: the run on $model reached for the system's network or USB:"
    grep -E "$reaching" "$model.strace" | head -5
    failures=$((failures + 1))
  fi
done

# The control: the same watch sees the real-time run's UDP sockets (in its own namespace).
watch control.strace "$sim" --no-progress --card lorn5 --card-bin "$card" "$src/examples/short.nc"
if ! grep -E 'sa_family=AF_INET' control.strace >/dev/null; then
  echo "FAILED: the watch saw no socket of the real-time control run"
  tail -20 run.txt
  failures=$((failures + 1))
fi

if [[ $failures -ne 0 ]]; then
  echo "$failures failures"
  exit 1
fi
echo "no socket, no datagram, no libusb in --fast on any card model"
