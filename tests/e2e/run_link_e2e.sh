#!/bin/sh
# Runs a plug-in host against torvexan-card over real UDP, both inside a private network
# namespace of their own (only loopback: the discovery broadcasts never leave this machine),
# then checks the card's statistics and the plug-in's diagnostic lines.
#
#   run_link_e2e.sh CARD_BINARY MIN_COMMANDS [card options...] -- HOST COMMAND...
#
# Passes when the host exits 0, the card served at least MIN_COMMANDS commands, and the card
# was found by discovery at least twice (once at start, once after its restart).
set -eu

if [ "${LINK_E2E_NAMESPACE:-}" != 1 ]; then
  exec unshare -rn env LINK_E2E_NAMESPACE=1 sh "$0" "$@"
fi

card=$1
min_commands=$2
shift 2
card_args=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  card_args="$card_args $1"
  shift
done
[ $# -gt 0 ] && shift  # the "--"

ip link set lo up
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shellcheck disable=SC2086 # the card options are words
"$card" $card_args >"$work/card.out" 2>&1 &
card_pid=$!
sleep 0.3

started=$(date +%s)
status=0
"$@" >"$work/host.out" 2>&1 || status=$?
finished=$(date +%s)

kill -TERM "$card_pid" 2>/dev/null || true
wait "$card_pid" 2>/dev/null || true

grep -v -e '^sent from' -e '^receieved from' "$work/host.out" || true
cat "$work/card.out"

# The card's figures, by name, from its statistics lines.
figure() {
  sed -n "s/.*$1 \([0-9][0-9]*\).*/\1/p" "$work/card.out" | tail -n 1
}
commands=$(figure 'commands served')
resends=$(figure 'resends')
discoveries=$(figure 'discoveries')
found=$(grep -c '^receieved from' "$work/host.out" || true)
searched=$(grep -c '^sent from' "$work/host.out" || true)
echo "link-e2e: ${commands:-?} commands served, ${resends:-?} resends, ${discoveries:-?} discoveries answered, $searched discovery requests, card found $found times, $((finished - started)) s"

fail() {
  echo "link-e2e: FAILED: $1"
  exit 1
}
[ "$status" -eq 0 ] || fail "the host exited with $status"
[ -n "$commands" ] || fail "the card printed no statistics"
[ "$commands" -ge "$min_commands" ] || fail "only $commands commands served"
[ "$found" -ge 2 ] || fail "the card was not found again after its restart"
echo "link-e2e: passed"
