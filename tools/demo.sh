#!/usr/bin/env bash
# The main job: builds everything, then runs the paging server in a scratch folder on
# sample/page.ini with its two serial ports on simulated modems (corvsim on pseudo-terminals)
# whose TAP terminal answers the sample's paging system. Posts pages through the pipe with
# corvadmin, shows them arriving at the simulated pager (corvsim's record) and in log.txt,
# then follows both until Ctrl+C. No real serial device is touched.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${CORVEL_BUILD_DIR:-build}"   # another build folder may be named here
bash tools/install-deps.sh
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2
build=$(cd "$build" && pwd)

scratch=$(mktemp -d /tmp/corvel-demo-XXXXXX)
# COMn becomes a pty link in the scratch folder (the port field holds 29 characters).
sed "s#^Port = 'COM\([0-9]*\)'#Port = '$scratch/tty\1'#" sample/page.ini > "$scratch/page.ini"
# The sample's TAP system dials 5550100 with password 000000; its numeric system 5550199.
cat > "$scratch/sim.ini" <<'EOF'
[modem]
dial_ms = 1500
[number 5550100]
result = CONNECT 2400/ARQ
terminal = tap
password = 000000
verdict_text = on
baud = 2400
[number 5550199]
terminal = numeric
EOF
export CORVEL_PIPE="$scratch/CORVD"
admin="$build/bin/corvadmin"

pids=()
stop() {
  trap - INT TERM
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo
  echo "== log.txt"
  cat "$scratch/log.txt"
  echo "== what the simulated paging terminals received (record-tty1.txt, record-tty2.txt)"
  cat "$scratch"/record-tty*.txt 2>/dev/null || true
  echo "== scratch folder kept: $scratch"
  exit 0
}
trap stop INT TERM

echo "== simulated modems on $scratch/tty1 and $scratch/tty2"
for n in 1 2; do
  (cd "$scratch" && exec "$build/bin/corvsim" "$scratch/tty$n" sim.ini "record-tty$n.txt" > "corvsim$n.out" 2>&1) &
  pids+=($!)
done
for _ in $(seq 1 50); do [ -L "$scratch/tty1" ] && [ -L "$scratch/tty2" ] && break; sleep 0.1; done

echo "== corvd32 in $scratch (Ctrl+C stops everything; its console goes to corvd32.out there)"
(cd "$scratch" && exec "$build/bin/corvd32" > corvd32.out 2>&1) &
pids+=($!)
for _ in $(seq 1 100); do [ -S "$CORVEL_PIPE" ] && break; sleep 0.1; done

echo "== persons:"; "$admin" persons
echo "== page Ann now:"; "$admin" page Ann "Server room temperature is 31 C"
echo "== page the group Support:"; "$admin" page Support "Backup finished"
echo "== page Bob in 5 minutes:"; "$admin" after Bob 5 "Stand-up meeting"

echo "== waiting for the simulated pager to take Ann's page..."
for _ in $(seq 1 600); do
  grep -q "sent to Ann" "$scratch/log.txt" 2>/dev/null && break
  sleep 0.1
done
echo "== the page at the simulated pager:"
grep -h "^PAGE" "$scratch"/record-tty*.txt 2>/dev/null || echo "(nothing yet)"
echo "== status:"; "$admin" status 1
echo "== log.txt and the records (following; Ctrl+C to stop):"
touch "$scratch/record-tty1.txt" "$scratch/record-tty2.txt"
tail -n +1 -f "$scratch/log.txt" "$scratch/record-tty1.txt" "$scratch/record-tty2.txt" &
pids+=($!)
wait "${pids[@]}" 2>/dev/null || true
stop
