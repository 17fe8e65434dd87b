#!/usr/bin/env bash
# Builds the Debian package from a copy of the tree (dpkg-buildpackage writes next to the
# source, so never in the work tree), checks it with lintian (no errors), unpacks it into a
# throw-away root, checks what it holds, and runs the installed corvd32 once with the
# installed configuration in a scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
work=$(mktemp -d /tmp/corvel-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "install_package: FAILED: $*" >&2; exit 1; }

echo "== source copy in $work"
mkdir "$work/corvel"
git ls-files -z --cached --others --exclude-standard | (cd "$src" && xargs -0 cp --parents -t "$work/corvel")
cd "$work/corvel"

echo "== dpkg-buildpackage"
DEB_BUILD_OPTIONS="parallel=${CORVEL_JOBS:-2} nocheck" dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1 ||
  { tail -n 60 "$work/build.log"; fail "dpkg-buildpackage"; }
deb=$(ls "$work"/corvel_*.deb)
echo "built $(basename "$deb")"

echo "== lintian"
lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || true
cat "$work/lintian.txt"
if grep -q '^E: ' "$work/lintian.txt"; then fail "lintian reports errors"; fi

echo "== contents"
root="$work/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/corvd32 usr/bin/corvnet32 usr/bin/corvpop32 usr/bin/corvweb usr/bin/corvsend usr/bin/corvadmin usr/bin/corvhttp \
         usr/lib/cgi-bin/corvweb; do
  [ -x "$root/$f" ] || fail "$f missing or not executable"
done
for f in etc/corvel/page.ini etc/corvel/SNPP.INI etc/corvel/POPPAGE.INI etc/corvel/wwwpage.ini \
         etc/logrotate.d/corvel lib/systemd/system/corvd32.service lib/systemd/system/corvnet32.service \
         lib/systemd/system/corvnet32.socket lib/systemd/system/corvpop32.service lib/systemd/system/corvhttp.service usr/lib/sysusers.d/corvel.conf \
         lib/udev/rules.d/60-corvel-modems.rules usr/share/corvel/www/form.htm \
         usr/share/doc/corvel/examples/page.ini usr/share/man/man8/corvd32.8.gz usr/share/man/man5/page.ini.5.gz \
         usr/share/man/man1/corvsend.1.gz; do
  [ -f "$root/$f" ] || fail "$f missing"
done
dpkg-deb -e "$deb" "$work/control"
[ -n "${CORVEL_SHOW_POSTINST:-}" ] && cat "$work/control/postinst"
grep -q 'systemd-sysusers' "$work/control/postinst" || fail "postinst does not create the user"
for unit in corvd32.service corvnet32.socket corvnet32.service corvpop32.service corvhttp.service; do
  grep -q "enable '$unit'" "$work/control/postinst" || fail "postinst does not enable $unit"
done
[ "$(grep -n 'systemd-sysusers' "$work/control/postinst" | head -1 | cut -d: -f1)" -lt \
  "$(grep -n 'corvd32.service' "$work/control/postinst" | head -1 | cut -d: -f1)" ] ||
  fail "postinst starts the services before it creates their user"
grep -qx '/etc/corvel/page.ini' "$work/control/conffiles" || fail "page.ini is not a conffile"

echo "== the installed corvd32 with the installed configuration"
state="$work/state"
mkdir "$state"
pipe="$state/CORVD"
(cd "$state" && CORVEL_PIPE="$pipe" exec "$root/usr/bin/corvd32" -c "$root/etc/corvel" >"$state/console.txt" 2>&1) &
server=$!
for _ in $(seq 1 150); do [ -S "$pipe" ] && break; sleep 0.1; done
[ -S "$pipe" ] || { kill "$server" 2>/dev/null; cat "$state/console.txt"; fail "no pipe"; }
names=$(CORVEL_PIPE="$pipe" "$root/usr/bin/corvadmin" persons) || true
kill -TERM "$server"
status=0
wait "$server" || status=$?
cat "$state/log.txt"
[ "$status" -eq 0 ] || fail "corvd32 ended with status $status"
grep -q 'Ann' <<<"$names" || fail "the installed directory's person Ann is not listed: $names"
grep -q 'CORVD32: Paging server started successfully' "$state/log.txt" || fail "no start line"
grep -q 'CORVD32: Paging server ended successfully' "$state/log.txt" || fail "no end line"
[ ! -e "$root/etc/corvel/log.txt" ] || fail "state written into the configuration folder"
echo "install_package: passed"
