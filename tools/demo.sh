#!/usr/bin/env bash
# The main job: builds the paging server and runs it in a scratch folder on sample/page.ini,
# posts a few pages through its pipe with corvadmin and shows the log until Ctrl+C.
# The sample's serial ports are pointed at files in the scratch folder, so no real serial
# device is touched: the dial threads log that they cannot open them and keep the pages.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${CORVEL_BUILD_DIR:-build}"   # another build folder may be named here
bash tools/install-deps.sh
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target corvd32 corvadmin
build=$(cd "$build" && pwd)

scratch=$(mktemp -d /tmp/corvel-demo-XXXXXX)
sed "s#^Port = 'COM\([0-9]*\)'#Port = '$scratch/tty\1'#" sample/page.ini > "$scratch/page.ini"
export CORVEL_PIPE="$scratch/CORVD"
admin="$build/bin/corvadmin"

echo "== corvd32 in $scratch (Ctrl+C stops it; its console goes to corvd32.out there)"
(cd "$scratch" && exec "$build/bin/corvd32" > corvd32.out 2>&1) &
server=$!
tailer=""
stop() {
  trap - INT TERM
  kill -TERM "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  [ -n "$tailer" ] && kill "$tailer" 2>/dev/null || true
  echo
  echo "== log.txt"
  cat "$scratch/log.txt"
  echo "== scratch folder kept: $scratch"
  exit 0
}
trap stop INT TERM

for _ in $(seq 1 100); do [ -S "$CORVEL_PIPE" ] && break; sleep 0.1; done

echo "== persons:"; "$admin" persons
echo "== page Ann now:"; "$admin" page Ann "Server room temperature is 31 C"
echo "== page the group Support:"; "$admin" page Support "Backup finished"
echo "== page Bob in 5 minutes:"; "$admin" after Bob 5 "Stand-up meeting"
echo "== status:"; "$admin" status 1
echo "== log (following; Ctrl+C to stop):"
tail -n +1 -f "$scratch/log.txt" &
tailer=$!
wait "$server"
stop
