#!/usr/bin/env bash
# Runs every torvexan-sim command README.md shows and every option `torvexan-sim --help`
# lists, as a new user would after scripts/demo. scripts/demo and scripts/test themselves are
# left out: they bootstrap and build, and the test command is what runs this.
#
#   documented_commands.sh SOURCE_DIR TORVEXAN_SIM FAKE_PLUGIN TORVEXAN_CARD USBSUB_DIR MODBUS_PEER
set -uo pipefail

src="$1" sim="$2" fake="$3" card="$4" usbsub="$5" peer="$6"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ln -s "$src/examples" "$work/examples"
cd "$work"
failures=0

# expect STATUS COMMAND...: runs the command, which must end with STATUS.
expect() {
  local want="$1"
  shift
  "$@" > out.txt 2>&1
  local got=$?
  if [[ $got -ne $want ]]; then
    echo "FAILED (exit $got, wanted $want): $*"
    tail -20 out.txt
    failures=$((failures + 1))
  else
    echo "ok (exit $got): $*"
  fi
}

# expect_either A B COMMAND...: the exit status is A or B.
expect_either() {
  local first="$1" second="$2"
  shift 2
  "$@" > out.txt 2>&1
  local got=$?
  if [[ $got -ne $first && $got -ne $second ]]; then
    echo "FAILED (exit $got, wanted $first or $second): $*"
    tail -20 out.txt
    failures=$((failures + 1))
  else
    echo "ok (exit $got): $*"
  fi
}

# 1. The commands README.md shows (indented lines that run torvexan-sim), as written.
mapfile -t readme < <(grep -E '^    (build/linux/tools/torvexan-sim/)?torvexan-sim ' "$src/README.md")
if [[ ${#readme[@]} -eq 0 ]]; then
  echo "FAILED: README.md shows no torvexan-sim command"
  failures=$((failures + 1))
fi
for line in "${readme[@]}"; do
  read -r -a words <<< "$line"
  words[0]="$sim"
  if [[ "$line" == *--drop* ]]; then
    expect_either 0 5 "${words[@]}"
  else
    expect 0 "${words[@]}"
  fi
done

# 2. Every option --help lists, each in a run that uses it.
covered=(--help -h --fast --plugin --card --card-bin --card-arg --usb-lib-dir --settings --svg
         --chord-tolerance --axis --startup-ms --stall-seconds --no-namespace --no-progress
         --config-dialog --reset-after-estop --reset-at --allow-empty --log --verbose --tools
         --out --no-files
         --machine --ignore-travel --init)
expect 0 "$sim" --help
for option in $(grep -oE '(^|[ ,])--?[a-z][a-z-]*' out.txt | tr -d ' ,' | sort -u); do
  if [[ ! " ${covered[*]} " == *" $option "* ]]; then
    echo "FAILED: --help lists $option, which this test does not run"
    failures=$((failures + 1))
  fi
done
expect 0 "$sim" -h
# The plug-in keeps its settings in an element of the host's file, which it does not create.
echo '<?xml version="1.0"?><Profile></Profile>' > settings.xml
expect 0 "$sim" --fast --no-progress --card lorn4 --axis Z:400:10:100 --chord-tolerance 0.01 \
  --settings settings.xml --svg out.svg examples/demo.nc
if [[ ! -s out.svg ]] || ! grep -q '<Torvexan' settings.xml; then
  echo "FAILED: no plot, or no settings saved into settings.xml"
  failures=$((failures + 1))
fi
expect 0 "$sim" --plugin "$fake" --card external --no-progress --startup-ms 200 --stall-seconds 5 \
  examples/short.nc
expect 0 "$sim" --card lorn5 --card-bin "$card" --card-arg=--drop --card-arg=0.02 --no-progress \
  examples/short.nc
expect 0 "$sim" --card pell5 --usb-lib-dir "$usbsub" --no-progress examples/short.nc
expect 0 unshare -rn sh -c 'ip link set lo up &&
  ip route add broadcast 255.255.255.255 dev lo scope link src 127.0.0.1 &&
  exec "$0" --no-namespace --no-progress --card-bin "$1" examples/short.nc' "$sim" "$card"
expect 0 "$sim" --fast --no-progress --tools examples/cam_post.tools examples/cam_post.nc
expect 0 "$sim" --fast --no-progress --init "G17 G21 G90 G98 G64" examples/pocket.nc
expect 3 "$sim" --fast --no-progress --init "G0 X1" examples/pocket.nc
expect 3 "$sim" --fast examples/bad.nc
expect 0 "$sim" --fast --no-progress --machine examples/machine.toml examples/pcb_autolevel.nc
printf 'G0 X280\nG0 X0\nM30\n' > beyond.nc
expect 3 "$sim" --fast --no-progress beyond.nc
expect 0 "$sim" --fast --no-progress --ignore-travel beyond.nc
expect 64 "$sim" --fast --card external examples/short.nc
# The configuration dialog is a Windows one (scripts/wine-dialog runs it); here it is refused.
expect 64 "$sim" --config-dialog --fast examples/short.nc
# The plug-in's console goes to the log the report names, and with --verbose to the console.
expect 0 "$sim" --fast --no-progress --verbose --log plugin.log examples/short.nc
if ! grep -q '^link counters:' plugin.log || ! grep -q '^plug-in log  *plugin.log' out.txt ||
   ! grep -q '^link counters:' out.txt; then
  echo "FAILED: the plug-in's console is not in plugin.log, or not named, or not shown"
  failures=$((failures + 1))
fi
expect 0 "$sim" --fast --no-progress --out short-files examples/short.nc
if [[ ! -s short-files/plugin.log ]]; then
  echo "FAILED: no plug-in log in the run folder --out names"
  failures=$((failures + 1))
fi
expect 0 "$sim" --fast --no-progress --no-files examples/short.nc
: > empty.nc
expect 3 "$sim" --fast empty.nc
expect 0 "$sim" --fast --no-progress --allow-empty empty.nc

# 3. The fault tries of the user's guide, as written, each with the events it must report.
mapfile -t tries < <(grep -o '`torvexan-sim [^`]*`' "$src/docs/user-guide.md" | tr -d '`' |
                     grep -E -- '--card-arg|--reset-')
if [[ ${#tries[@]} -lt 5 ]]; then
  echo "FAILED: the user's guide shows ${#tries[@]} fault tries, fewer than expected"
  failures=$((failures + 1))
fi
for line in "${tries[@]}"; do
  read -r -a words <<< "$line"
  words[0]="$sim"
  if [[ "$line" == *--reset-after-estop* ||
        ( "$line" != *-every* && "$line" != *--reboot* && "$line" != *--silent* &&
          "$line" != *--reset-at* ) ]]; then
    if [[ "$line" == *--drop* ]]; then
      # Lost packets may starve the card: then the run says so with its own status.
      expect_either 0 5 "${words[@]}" --no-progress
    else
      expect 0 "${words[@]}" --no-progress
    fi
  else
    expect 4 "${words[@]}" --no-progress
    # The card counts what struck it; the operator's RESET is the host's own.
    if ! grep -q 'the host stops the job' out.txt ||
       ! grep -q '^card faults  *.*[1-9]\|RESET pressed by the operator' out.txt ||
       ! grep -q 'the host commanded nothing after the stop' out.txt; then
      echo "FAILED: the report does not tell the stop of: $line"
      tail -30 out.txt
      failures=$((failures + 1))
    fi
    # What struck the card stands on the timeline, from the card's own words.
    event=""
    [[ "$line" == *--reboot-after* ]] && event="card     the card restarts"
    [[ "$line" == *--silent-after* ]] && event="card     the card falls silent"
    [[ "$line" == *--estop-every* ]] && event="card     the card's e-stop button is pressed"
    if [[ -n "$event" ]] && ! grep -q "$event" out.txt; then
      echo "FAILED: no '$event' on the timeline of: $line"
      failures=$((failures + 1))
    fi
  fi
done

# 4. README's Modbus recipe with a device of the user's own, as written.
sed -n '/^    export TORVEXAN_SERIAL_DIR/,/^    kill %1/p' "$src/README.md" | sed 's/^    //' |
  sed "s|build/linux/tests/serial/torvexan_modbus_peer|$peer|; s|build/linux/tools/torvexan-sim/torvexan-sim|$sim --no-progress|" \
  > recipe.sh
if [[ $(wc -l < recipe.sh) -lt 4 ]]; then
  echo "FAILED: README.md shows no Modbus recipe"
  failures=$((failures + 1))
fi
timeout 60 bash recipe.sh > out.txt 2>&1
if [[ $(grep -c '^function 6 register 100 = ' out.txt) -ne 3 ]] ||
   ! grep -q 'TORVEXAN_SERIAL_DIR is set' out.txt || ! grep -q '^result: positions agree' out.txt; then
  echo "FAILED: the Modbus recipe"
  cat recipe.sh out.txt
  failures=$((failures + 1))
else
  echo "ok: the Modbus recipe"
fi

if [[ $failures -ne 0 ]]; then
  echo "$failures documented commands failed"
  exit 1
fi
echo "every documented command ran as documented"
