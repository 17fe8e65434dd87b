#!/usr/bin/env bash
# Bounded fuzz runs of every parser with a target here: builds each *_fuzz.cpp of the list
# below with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, runs them one
# after the other within FUZZ_SECONDS in all (default 150, shared evenly) and fails on any
# crash, sanitizer report, broken invariant, leak or hang. FUZZ_TARGETS="a b" runs only those;
# each run's executions per second are printed at the end. Seeds: fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${FUZZ_SECONDS:-150}
out=${FUZZ_BUILD_DIR:-$root/build-fuzz}

# target | its source | the folders whose library code it links | extra link flags
targets_table="
page_ini_fuzz|directory/page_ini_fuzz.cpp|directory common platform|-lssl -lcrypto
snpp_session_fuzz|snpp/snpp_session_fuzz.cpp|snpp common platform|-lssl -lcrypto -lcrypt
snpp_ini_fuzz|snpp/snpp_ini_fuzz.cpp|snpp common platform|-lssl -lcrypto -lcrypt
http_ini_fuzz|http/http_ini_fuzz.cpp|http common platform|-lmicrohttpd -lssl -lcrypto
payload_fuzz|http/payload_fuzz.cpp|http common platform|-lmicrohttpd -lssl -lcrypto
"
wanted=${FUZZ_TARGETS:-$(echo "$targets_table" | cut -d'|' -f1 | xargs)}

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

mkdir -p "$out/obj" "$out/corpus/page_ini_fuzz" "$out/generated/common"
# The release text CMake makes from project()'s version, made here the same way.
version=$(sed -n 's/^project(Corvel VERSION \([0-9]*\)\.\([0-9]*\)\.\([0-9]*\).*/\1 \2 \3/p' CMakeLists.txt)
read -r vmajor vminor vpatch <<< "$version"
sed -e "s/@PROJECT_VERSION_MAJOR@/$vmajor/" -e "s/@PROJECT_VERSION_MINOR@/$vminor/" \
    -e "s/@PROJECT_VERSION_PATCH@/$vpatch/" common/version.h.in > "$out/generated/common/version.h"
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -I"$root" -I"$out/generated"
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
libflags=("${flags[@]/-fsanitize=fuzzer,address,undefined/-fsanitize=fuzzer-no-link,address,undefined}")

# Library code gets coverage and sanitizers but not libFuzzer's main; each object is built
# once for every target that links its folder.
object() {
  local f=$1 obj
  obj="$out/obj/$(echo "$f" | tr '/' '_').o"
  if [ ! -f "$obj" ] || [ "$f" -nt "$obj" ]; then "$cxx" "${libflags[@]}" -c "$f" -o "$obj"; fi
  echo "$obj"
}

build_target() {
  local name=$1 source=$2 folders=$3 links=$4 objs=() f
  for dir in $folders; do
    for f in "$dir"/*.cpp; do
      case "$f" in *_test.cpp | *_bench.cpp | *_fuzz.cpp | */main.cpp) continue ;; esac
      objs+=("$(object "$f")")
    done
  done
  "$cxx" "${flags[@]}" -c "$source" -o "$out/obj/$name.o"
  # shellcheck disable=SC2086
  "$cxx" "${flags[@]}" "$out/obj/$name.o" "${objs[@]}" -pthread $links -o "$out/$name"
}

# Seeds: a small directory of every section, and the sample page.ini when the tree has one.
cat > "$out/corpus/page_ini_fuzz/seed-sections.ini" <<'INI'
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
printf 'PagerSystemsSection\r\n[A]\r\nBaud =\r\nPort = "COM2"\r\n;\r\nDebug = Enabled' > "$out/corpus/page_ini_fuzz/seed-crlf.ini"
if [ -f sample/page.ini ]; then cp sample/page.ini "$out/corpus/page_ini_fuzz/seed-sample.ini"; fi

# The grammar's words, so the fuzzer reaches the value rows quickly.
dict="$out/page_ini_fuzz.dict"
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


count=$(echo "$wanted" | wc -w)
per=$(( seconds / count ))
[ "$per" -lt 5 ] && per=5
mkdir -p "$out/artifacts"
summary=""
failed=0
for name in $wanted; do
  line=$(echo "$targets_table" | grep "^$name|" || true)
  if [ -z "$line" ]; then echo "fuzz.sh: no target $name" >&2; exit 1; fi
  IFS='|' read -r _ source folders links <<< "$line"
  echo "== building $name with $cxx"
  build_target "$name" "$source" "$folders" "$links"
  mkdir -p "$out/corpus/$name"
  [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$out/corpus/$name/" 2>/dev/null || true
  dictarg=()
  [ -f "$out/$name.dict" ] && dictarg=(-dict="$out/$name.dict")
  echo "== fuzzing $name for ${per}s"
  status=0
  (cd "$out" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ./"$name" -max_total_time="$per" -timeout=10 -rss_limit_mb=2048 -max_len=65536 "${dictarg[@]}" \
    -artifact_prefix="$out/artifacts/$name-" -print_final_stats=1 "$out/corpus/$name" \
    > "$out/$name.log" 2>&1) || status=$?
  tail -n 8 "$out/$name.log"
  runs=$(awk '/stat::number_of_executed_units:/ {print $2; exit}' "$out/$name.log")
  runs=${runs:-0}
  summary+="$name: $runs runs in ${per}s, $(( runs / per )) exec/s"$'\n'
  if [ "$status" -ne 0 ] || ls "$out/artifacts/$name-"* >/dev/null 2>&1; then
    echo "fuzz.sh: $name failed (status $status); inputs in $out/artifacts" >&2
    failed=1
  fi
done
echo "== fuzz summary"
printf '%s' "$summary"
if [ "$failed" -ne 0 ]; then exit 1; fi
echo "fuzz.sh: no crash, report or hang in ${seconds}s over $count targets"
