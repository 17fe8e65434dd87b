#!/usr/bin/env bash
# Bounded fuzz run of the page.ini reader: builds directory/page_ini_fuzz.cpp with clang's
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, runs it for FUZZ_SECONDS
# (default 75) and fails on any crash, sanitizer report, broken invariant, leak or hang.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${FUZZ_SECONDS:-75}
out=${FUZZ_BUILD_DIR:-$root/build-fuzz}

cxx=${FUZZ_CXX:-}
if [ -z "$cxx" ]; then
  for c in clang++ clang++-16 clang++-15 clang++-14; do
    if command -v "$c" >/dev/null 2>&1; then cxx=$c; break; fi
  done
fi
if [ -z "$cxx" ]; then
  echo "fuzz.sh: clang++ not found (install the packages of tools/packages/fuzz.txt)" >&2
  exit 1
fi

mkdir -p "$out/obj" "$out/corpus"
sources=()
for f in directory/*.cpp common/*.cpp platform/*.cpp; do
  case "$f" in *_test.cpp | *_bench.cpp | *_fuzz.cpp | */main.cpp) continue ;; esac
  sources+=("$f")
done
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -I"$root"
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)

echo "== building the page.ini fuzz target with $cxx"
objs=()
for f in "${sources[@]}" directory/page_ini_fuzz.cpp; do
  obj="$out/obj/$(echo "$f" | tr '/' '_').o"
  if [ "$f" = directory/page_ini_fuzz.cpp ]; then
    "$cxx" "${flags[@]}" -c "$f" -o "$obj"
  else
    # Library code gets coverage and sanitizers but not libFuzzer's main.
    "$cxx" "${flags[@]/-fsanitize=fuzzer,address,undefined/-fsanitize=fuzzer-no-link,address,undefined}" -c "$f" -o "$obj"
  fi
  objs+=("$obj")
done
# platform/ holds the TLS streams too: their library must be on the line.
"$cxx" "${flags[@]}" "${objs[@]}" -pthread -lssl -lcrypto -o "$out/page_ini_fuzz"

# Seeds: a small directory of every section, and the sample page.ini when the tree has one.
cat > "$out/corpus/seed-sections.ini" <<'INI'
; seed
GlobalSection
HostName = 'localhost'
TcpPort = 5100
QueueSize = 500
PagerSystemsSection
[Metro North]
SystemType = Tap
Port = 'COM1'
Baud = 2400
Parity = Even
DataBits = 7
StopBits = 1.5
TapPassWord = 'ab-cd_ef'
MaxMessageLength = 80
ModemInitString = Auto
NameSection
[Ann]
PageID = '12345'
PagerType = Alphanumeric
SystemName = 'Metro North'
Group = 'Sales'
GroupSection
[Support]
Name = 'Ann'
INI
printf 'PagerSystemsSection\r\n[A]\r\nBaud =\r\nPort = "COM2"\r\n;\r\nDebug = Enabled' > "$out/corpus/seed-crlf.ini"
if [ -f sample/page.ini ]; then cp sample/page.ini "$out/corpus/seed-sample.ini"; fi

# The grammar's words, so the fuzzer reaches the value rows quickly.
dict="$out/page_ini.dict"
: > "$dict"
for w in PagerSystemsSection NameSection GroupSection GlobalSection Parity Port StopBits Baud \
         ModemInitString DataBits SystemPhoneNumber SystemType ScriptFileName MaxMessageLength \
         TapPassWord MultipleMessageMode OverrideTcpPort OverrideHostName OverrideLanServerName \
         MaxPagesPerConnection PageID PagerType SystemName SuppressNameDisplay Group Name TcpPort \
         HostName LanServerName LogFileName MapCodePage LogMessages MaxReTrys DisplayGroupName \
         DialingPrefix ReadNamesFromServer ClientType Debug QueueSize Enabled Disabled Even Odd \
         None Space Mark Tap Script TapM UCP Numeric Alphanumeric CP437 CP850 Slim Full Auto; do
  echo "\"$w\"" >> "$dict"
done
printf '"= "\n"\\x0a"\n"; "\n"[x]"\n"'"'"'x'"'"'"\n' >> "$dict"

echo "== fuzzing page.ini for ${seconds}s"
mkdir -p "$out/artifacts"
cd "$out"
status=0
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ./page_ini_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -dict="$dict" -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$out/corpus" \
  > "$out/fuzz.log" 2>&1 || status=$?
tail -n 25 "$out/fuzz.log"
if [ "$status" -ne 0 ] || ls "$out/artifacts"/* >/dev/null 2>&1; then
  echo "fuzz.sh: the page.ini fuzz run failed (status $status); inputs in $out/artifacts" >&2
  exit 1
fi
echo "fuzz.sh: no crash, report or hang in ${seconds}s"
