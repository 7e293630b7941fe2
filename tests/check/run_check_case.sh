#!/bin/sh
# One case of torvexan-check against torvexan-card or the libusb substitute, inside a private
# network namespace of its own (only loopback: the discovery broadcasts never leave it).
#
#   run_check_case.sh CASE CHECK_BINARY CARD_BINARY USBSUB_DIR
#
# (scripts/wine-link-e2e runs the wine-* cases with a CHECK_BINARY that starts the .exe.)
#
# Each case sets up the network and the card, runs the check, and checks its exit status and
# the findings its report must carry.
set -eu

if [ "${CHECK_CASE_NAMESPACE:-}" != 1 ]; then
  exec unshare -rnmu env CHECK_CASE_NAMESPACE=1 sh "$0" "$@"
fi

case_name=$1
check=$2
card=$3
usbsub=$4
ip link set lo up
# Under Wine the local addresses are those the host name resolves to: here, loopback's.
hostname localhost
work=$(mktemp -d)
card_pids=""
cleanup() {
  for p in $card_pids; do kill -TERM "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_card() {
  "$card" --seconds 30 "$@" >>"$work/card.out" 2>&1 &
  card_pids="$card_pids $!"
}

status=0
run_check() {
  sleep 0.3  # the card is listening
  "$check" "$@" >"$work/report" 2>"$work/progress" || status=$?
  cat "$work/report"
}

fail() {
  echo "check-case $case_name: FAILED: $1"
  exit 1
}
expect_status() {
  [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
}
expect() {
  grep -q -- "$1" "$work/report" || fail "the report lacks: $1"
}
figure() {  # the number after a name on the link test's counter line
  sed -n "s/.*[ ,]$1 \([0-9][0-9]*\).*/\1/p" "$work/report" | head -n 1
}

case "$case_name" in
  found)
    start_card --model lorn5 --mac 02:54:56:00:00:07 --firmware 01.2A
    run_check --no-usb --seconds 2
    expect_status 0
    head -n 1 "$work/report" | grep -q "never sends motion" || fail "first line"
    expect "Lorn5 025456000007 firmware 01.2A at 127.0.0.1:1234, reached from 127.0.0.1"
    expect "Link test: ethernet card Lorn5 025456000007"
    expect "round trip, polls answered at the first send: min"
    [ "$(figure 'link losses')" = 0 ] || fail "link lost"
    [ "$(figure exchanges)" -ge 80 ] || fail "too few exchanges"
    # The card saw status polls only: it never executed a row.
    for p in $card_pids; do kill -TERM "$p"; done
    wait
    card_pids=""
    grep -q "rows executed 0," "$work/card.out" || fail "the card executed rows"
    grep -q "link test" "$work/progress" || fail "no progress line"
    ;;
  json)
    start_card --model lorn4
    run_check --no-usb --json --seconds 1
    expect_status 0
    expect '"notice": "torvexan-check: reads the card only'
    expect '"model": "Lorn4"'
    expect '"exit_status": 0'
    tail -n 1 "$work/report" | grep -qx '}' || fail "the report is not one JSON object"
    ;;
  choose)
    # --address and --card pick the card to test; a card that is not there is a finding.
    start_card --model lorn4
    run_check --no-usb --seconds 1 --address 127.0.0.1 --card lorn4
    expect_status 0
    expect "Link test: ethernet card Lorn4"
    # A card asked for that is not there is no card, whatever else answered.
    run_check --no-usb --seconds 1 --address 10.1.1.1
    expect_status 2
    expect "No card at 10.1.1.1 answered. Seen instead: Lorn4 025456000001 at 127.0.0.1."
    expect "Result: no card found"
    status=0
    run_check --no-usb --seconds 0 --card lorn5
    expect_status 2
    expect "No Lorn5 answered. Seen instead: Lorn4 025456000001 at 127.0.0.1."
    if grep -q "^Link test" "$work/report"; then fail "tested the link of another card"; fi
    ;;
  asked-usb-absent)
    # The USB card asked for is absent; the Lorn5 on the network is named, not taken.
    start_card --model lorn5
    TORVEXAN_USBSUB_ABSENT=1 LD_LIBRARY_PATH="$usbsub" run_check --seconds 1 --card pell5
    expect_status 2
    expect "No Pell5 answered. Seen instead: Lorn5 025456000001 at 127.0.0.1."
    expect "Result: no card found"
    ;;
  no-link-test)
    start_card --model lorn5
    run_check --no-usb --seconds 0
    expect_status 0
    expect "Result: card found, link not tested (--seconds 0)"
    if grep -q "^Link test\|healthy\|round trip 99th" "$work/report"; then
      fail "a verdict on the link without a link test"
    fi
    ;;
  silence-of-all)
    run_check --no-usb --seconds 1
    expect_status 2
    expect "No Ethernet card answered"
    expect "UDP sent from local port 1235 to port 1234"
    expect "Result: no card found"
    ;;
  two-cards)
    start_card --mac 02:54:56:00:00:01
    start_card --mac 02:54:56:00:00:02 --model lorn4
    run_check --no-usb --seconds 1
    expect_status 1
    expect "card 025456000001"
    expect "card 025456000002"
    expect "More than one card answered (025456000001, 025456000002)"
    ;;
  other-subnet)
    # A second local address whose broadcasts the card answers from 127.0.0.1: a card the
    # PC can hear but would reach only through its gateway.
    ip addr add 10.9.0.1/24 dev lo
    ip route change local 10.9.0.1 dev lo table local proto kernel scope host src 127.0.0.1
    start_card
    run_check --no-usb --seconds 1
    expect_status 1
    expect "10.9.0.1        mask 255.255.255.0"
    expect "reached from 10.9.0.1, round trip .* ms (outside the subnet)"
    expect "The card at 127.0.0.1 answered the broadcast from 10.9.0.1, but it is outside"
    ;;
  loss)
    start_card --drop 0.2 --seed 3
    run_check --no-usb --seconds 3
    expect_status 1
    [ "$(figure resends)" -ge 1 ] || fail "no resends counted"
    expect "PROBLEM resends:"
    # The resends' waits are a loss, not slow answers: the round trip is judged without them.
    expect "polls answered only after a resend (lost, not slow): [1-9]"
    expect "ok      round trip 99th percentile"
    ;;
  silence)
    # Silent for longer than ten resends take: the link is lost and found again.
    start_card --silent-after 1 --silent-for 2.6
    run_check --no-usb --seconds 5
    expect_status 1
    [ "$(figure 'link losses')" -eq 1 ] || fail "link losses $(figure 'link losses'), expected 1"
    expect "PROBLEM link losses: 1"
    # About 50 polls before the silence: more means the link came back after it.
    [ "$(figure exchanges)" -ge 75 ] || fail "the link did not come back"
    ;;
  port-held)
    socat -u UDP4-RECV:1235,bind=127.0.0.1 /dev/null &
    card_pids="$card_pids $!"
    start_card
    run_check --seconds 1
    expect_status 2
    expect "Another program holds port 1235 (on 127.0.0.1) - is Mach3 running?"
    if grep -q "^USB\|^Link test" "$work/report"; then fail "went on after the port"; fi
    ;;
  usb-found)
    LD_LIBRARY_PATH="$usbsub" run_check --seconds 2
    expect_status 0
    expect "libusb-1.0.so.0: loaded from $usbsub/libusb-1.0.so.0"
    expect "devices with the card's ids (vendor A720, product F805): 1"
    expect "opened, answered the connect handshake"
    expect "product \"Pell5 Motion Controller\""
    expect "Link test: usb card Pell5"
    [ "$(figure exchanges)" -ge 80 ] || fail "too few exchanges"
    ;;
  usb-absent)
    TORVEXAN_USBSUB_ABSENT=1 LD_LIBRARY_PATH="$usbsub" run_check --seconds 1
    expect_status 2
    expect "devices with the card's ids (vendor A720, product F805): 0"
    expect "card's device (vendor A720, product F805): none opened"
    expect "No USB device with the card's ids (vendor A720, product F805) is plugged in"
    ;;
  usb-no-driver)
    # On the bus, but not openable: found, and the driver is what to fix.
    TORVEXAN_USBSUB_NO_DRIVER=1 LD_LIBRARY_PATH="$usbsub" run_check --seconds 1
    expect_status 1
    expect "devices with the card's ids (vendor A720, product F805): 1"
    expect "card's device (vendor A720, product F805): none opened"
    expect "PROBLEM A device with the card's ids (vendor A720, product F805) is plugged in, but libusb cannot open it"
    ;;
  usb-library-missing)
    # The system's own libusb, if any, is hidden in this mount namespace.
    system_libusb=$(ldconfig -p | sed -n 's/.*libusb-1.0.so.0 (libc6,x86-64) => //p' | head -n 1)
    [ -z "$system_libusb" ] || mount --bind /dev/null "$(readlink -f "$system_libusb")"
    run_check --seconds 1
    expect_status 2
    expect "libusb-1.0.so.0: not found"
    expect "cannot be loaded"
    ;;
  wine-ethernet)
    # CHECK_BINARY runs torvexan-check.exe under Wine; no libusb-1.0.dll is on its path. On a
    # busy machine Wine wakes a waiting socket tens of milliseconds late: the round-trip
    # verdict may then say so, and is the only problem allowed.
    start_card --model lorn5
    run_check --seconds 2 --tick-ms 50
    [ "$status" -le 1 ] || fail "exit status $status"
    if grep PROBLEM "$work/report" | grep -v "round trip 99th percentile"; then
      fail "a problem besides the round trip"
    fi
    expect "ok      link losses: 0"
    head -n 1 "$work/report" | grep -q "never sends motion" || fail "first line"
    expect "Link test: ethernet card Lorn5"
    expect "libusb-1.0.dll: not found"
    expect "Put the 32-bit libusb-1.0.dll next to Mach3.exe"
    ;;
  wine-usb)
    # CHECK_BINARY runs a torvexan-check.exe with the 32-bit substitute libusb-1.0.dll (from
    # USBSUB_DIR) beside it.
    run_check --no-ethernet --seconds 2
    expect_status 0
    expect "libusb-1.0.dll: loaded from"
    expect "Link test: usb card Pell5"
    ;;
  wine-own-console)
    # Double-clicked, the check is alone in a console window that closes with it. Wine gives a
    # program on a terminal of its own such a console: the check must wait for a key there.
    started=$(date +%s)
    (sleep 4; printf x) | script -qfec "$check --no-usb --seconds 0" "$work/report" >/dev/null ||
      status=$?
    tr -d '\r' <"$work/report"
    expect_status 2
    expect "Press any key to close this window."
    [ $(($(date +%s) - started)) -ge 4 ] || fail "closed before the key was pressed"
    # Started with its input from a file (or from a command prompt, whose window stays), it
    # does not wait.
    status=0
    run_check --no-usb --seconds 0 </dev/null
    expect_status 2
    if grep -q "Press any key" "$work/report"; then fail "waited for a key with no one to press it"; fi
    ;;
  bad-command-line)
    run_check --seconds -1 || true
    expect_status 64
    status=0
    run_check --card lorn6 || true
    expect_status 64
    status=0
    run_check --no-usb --no-ethernet || true
    expect_status 64
    grep -q "leave nothing to check" "$work/progress" || fail "no reason given: $(cat "$work/progress")"
    ;;
  *)
    fail "no such case"
    ;;
esac
echo "check-case $case_name: passed"
