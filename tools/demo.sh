#!/usr/bin/env bash
# The whole gateway on one machine, everything on 127.0.0.1: corvd32 on simulated modems
# (corvsim on pseudo-terminals, so no real device is touched), corvnet32 (SNPP), corvpop32
# polling a local dovecot with a demo mailbox, and corvweb under lighttpd on
# http://127.0.0.1:8080/, with a simulated WCTP paging carrier on the network beside the
# modems. It sends one page with corvsend, one by mail, one through the web form and one to
# the WCTP carrier, and shows them arriving. Ctrl+C stops everything.
#
#   bash tools/demo.sh              builds, runs, follows the log until Ctrl+C
#   bash tools/demo.sh --bounded N  stops once the four pages arrived (status 0), or after
#                                   N seconds without them (status 1); for tests and CI
#
# Environment: CORVEL_BUILD_DIR (build folder, default build), CORVEL_DEMO_DIR (scratch
# folder, default a new one under /tmp), CORVEL_DEMO_SKIP_BUILD=1 (use the build as it is),
# CORVEL_DEMO_HTTP_PORT, CORVEL_DEMO_SNPP_PORT, CORVEL_DEMO_POP_PORT, CORVEL_DEMO_WCTP_PORT
# (defaults 8080, 5444, 5110, 8090).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

bounded=0
limit=0
if [ "${1:-}" = "--bounded" ]; then
  bounded=1
  limit=${2:-180}
fi

build="${CORVEL_BUILD_DIR:-build}"
if [ "${CORVEL_DEMO_SKIP_BUILD:-0}" != 1 ]; then
  bash tools/install-deps.sh
  cmake -S . -B "$build" >/dev/null
  cmake --build "$build" -j2
fi
build=$(cd "$build" && pwd)
bin="$build/bin"

http_port=${CORVEL_DEMO_HTTP_PORT:-8080}
snpp_port=${CORVEL_DEMO_SNPP_PORT:-5444}
pop_port=${CORVEL_DEMO_POP_PORT:-5110}
api_port=${CORVEL_DEMO_API_PORT:-8025}
wctp_port=${CORVEL_DEMO_WCTP_PORT:-8090}

scratch=${CORVEL_DEMO_DIR:-$(mktemp -d /tmp/corvel-demo-XXXXXX)}
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)
if [ $((${#scratch} + 5)) -gt 29 ]; then
  echo "demo: the scratch folder $scratch is too long: $scratch/tty1 must fit a port name (29 characters)" >&2
  exit 1
fi
chmod 0755 "$scratch"  # dovecot's and lighttpd's own users must reach their folders
etc="$scratch/etc"     # the configuration folder, as /etc/corvel is for the service
mkdir -p "$etc"
export CORVEL_PIPE="$scratch/CORVD"

# --- configuration ---------------------------------------------------------------------
# The sample directory with COMn on pty links in the scratch folder (a port name holds 29
# characters) and corvsend sent to the local corvnet32.
sed -e "s#^Port = 'COM\([0-9]*\)'#Port = '$scratch/tty\1'#" \
    -e "s#^TcpPort = .*#TcpPort = $snpp_port\nHostName = '127.0.0.1'#" \
    -e "s#^WctpUrl = 'http://127.0.0.1:[0-9]*/#WctpUrl = 'http://127.0.0.1:$wctp_port/#" sample/page.ini >"$etc/page.ini"
# The simulated WCTP carrier of the sample's system Carrier: takes every page, reports it
# QUEUED and then DELIVERED when asked.
printf '[wctp]\nport = %s\nsender_id = corvel\nsecurity_code = demo\ntracking = on\nstatus_steps = QUEUED DELIVERED\n' \
  "$wctp_port" >"$scratch/wctp.ini"
printf 'TcpPort=%s\nBindAddress=127.0.0.1\n' "$snpp_port" >"$etc/SNPP.INI"
cat >"$etc/POPPAGE.INI" <<EOF
[demo]
PopHostName = "127.0.0.1"
PopPort = $pop_port
PopUser = "pager"
PopPassword = "demo"
PollTime = 3
EOF
printf 'HttpPort=%s\nBindAddress=127.0.0.1\nTokens=tokens\n' "$api_port" >"$etc/HTTP.INI"
echo "demo-token" >"$etc/tokens"
chmod 600 "$etc/tokens"
cat >"$etc/wwwpage.ini" <<EOF
HtmlFolder = "$source_dir/web/pages"
OkHtmlFile = "$source_dir/web/pages/ok.htm"
BadHtmlFile = "$source_dir/web/pages/bad.htm"
EOF
cp tools/demo/sim.ini "$scratch/sim.ini"

# dovecot: POP3 on 127.0.0.1 from the scratch folder, one mailbox "pager" (password demo).
mail_root="$scratch/dovecot"
mkdir -p "$mail_root/state" "$mail_root/mail/pager/Maildir/"{cur,new,tmp}
if [ "$(id -u)" -eq 0 ]; then
  internal_user=dovecot login_user=dovenull  # dovecot will not run its logins as root
else
  internal_user=$(id -un) login_user=$(id -un)
fi
internal_group=$(id -gn "$internal_user")
echo "pager:{PLAIN}demo:$(id -u "$internal_user"):$(id -g "$internal_user")::$mail_root/mail/pager" >"$mail_root/passwd"
[ "$(id -u)" -eq 0 ] && chown -R "$internal_user:$internal_group" "$mail_root/mail"
cat >"$mail_root/dovecot.conf" <<EOF
protocols = pop3
listen = 127.0.0.1
base_dir = $mail_root/run
state_dir = $mail_root/state
instance_name = corvel-demo-$pop_port
default_internal_user = $internal_user
default_internal_group = $internal_group
default_login_user = $login_user
log_path = $mail_root/dovecot.log
disable_plaintext_auth = no
auth_mechanisms = plain
passdb {
  driver = passwd-file
  args = scheme=PLAIN $mail_root/passwd
}
userdb {
  driver = passwd-file
  args = $mail_root/passwd
}
mail_location = maildir:~/Maildir
first_valid_uid = 0
ssl = no
service anvil {
  chroot =
}
service imap-login {
  chroot =
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = 0
  }
}
service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = $pop_port
  }
  inet_listener pop3s {
    port = 0
  }
}
EOF

# lighttpd: corvweb as CGI, finding its wwwpage.ini through CORVEL_CONFIG_DIR as an
# installed one does; the form is the document root's form.htm.
www="$scratch/www"
mkdir -p "$www/cgi-bin"
cp web/pages/form.htm tools/demo/index.html "$www/"
ln -sf "$bin/corvweb" "$www/cgi-bin/corvweb"
cat >"$scratch/lighttpd.conf" <<EOF
server.document-root = "$www"
server.bind = "127.0.0.1"
server.port = $http_port
server.modules = ("mod_cgi", "mod_setenv", "mod_access")
server.errorlog = "$scratch/lighttpd-error.log"
server.pid-file = "$scratch/lighttpd.pid"
index-file.names = ("index.html")
\$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ("" => "") }
setenv.add-environment = ("CORVEL_PIPE" => "$CORVEL_PIPE", "CORVEL_CONFIG_DIR" => "$etc")
EOF

# --- the processes ---------------------------------------------------------------------
pids=()
start() {  # NAME COMMAND...: runs in the scratch folder, console to NAME.out
  local name=$1
  shift
  (cd "$scratch" && exec "$@" >"$scratch/$name.out" 2>&1) &
  pids+=($!)
}
wait_for() {  # SECONDS TEST...: true once the test holds
  local tries=$(($1 * 10))
  shift
  for _ in $(seq 1 "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# The four pages and how they show in corvsim's records (blanks are written \x20).
texts=("Sent with corvsend" "Sent by mail" "Sent from the web form" "Sent to a WCTP carrier")
arrived() { grep -qF "text=${1// /\\x20}" "$scratch"/record-*.txt 2>/dev/null; }
all_arrived() { for t in "${texts[@]}"; do arrived "$t" || return 1; done; }

stopped=0
stop() {
  [ "$stopped" = 1 ] && return
  stopped=1
  trap - INT TERM
  # Front ends first, then the paging server, then the peers and the simulated modems.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[$i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
finish() {
  stop
  echo
  echo "== log.txt"
  cat "$scratch/log.txt" 2>/dev/null || true
  echo "== what the simulated paging terminals received"
  grep -h '^PAGE' "$scratch"/record-tty*.txt 2>/dev/null || true
  echo "== what the simulated WCTP carrier received"
  grep -h '^WCTP' "$scratch"/record-wctp.txt 2>/dev/null || true
  echo "== scratch folder kept: $scratch"
}
trap 'finish; exit 0' INT TERM

echo "== simulated modems on $scratch/tty1 and $scratch/tty2"
for n in 1 2; do start "corvsim$n" "$bin/corvsim" "$scratch/tty$n" sim.ini "record-tty$n.txt"; done
wait_for 10 test -L "$scratch/tty1" -a -L "$scratch/tty2" || { echo "corvsim did not start"; finish; exit 1; }
touch "$scratch/record-tty1.txt" "$scratch/record-tty2.txt"
echo "== a simulated WCTP paging carrier on http://127.0.0.1:$wctp_port/wctp"
start corvsim-wctp "$bin/corvsim" - wctp.ini record-wctp.txt
wait_for 10 port_open "$wctp_port" || { echo "the WCTP carrier did not start"; finish; exit 1; }

echo "== corvd32, the paging server (pipe $CORVEL_PIPE)"
start corvd32 "$bin/corvd32" -c "$etc"
wait_for 20 test -S "$CORVEL_PIPE" || { echo "corvd32 did not start"; finish; exit 1; }

echo "== corvnet32, the SNPP server, on 127.0.0.1:$snpp_port"
start corvnet32 "$bin/corvnet32" -c "$etc"
echo "== corvhttp, the HTTP API and webhooks, on http://127.0.0.1:$api_port/ (token demo-token)"
start corvhttp "$bin/corvhttp" -c "$etc"
echo "== dovecot, the demo mailbox pager@127.0.0.1:$pop_port"
start dovecot /usr/sbin/dovecot -F -c "$mail_root/dovecot.conf"
echo "== lighttpd with corvweb on http://127.0.0.1:$http_port/"
start lighttpd /usr/sbin/lighttpd -D -f "$scratch/lighttpd.conf"
wait_for 30 port_open "$snpp_port" || { echo "corvnet32 did not start"; finish; exit 1; }
wait_for 20 port_open "$pop_port" || { echo "dovecot did not start"; finish; exit 1; }
wait_for 20 port_open "$http_port" || { echo "lighttpd did not start"; finish; exit 1; }
echo "== corvpop32, the mail gateway, polling the demo mailbox every 3 s"
start corvpop32 "$bin/corvpop32" -c "$etc"

echo
echo "== a page with corvsend (through corvnet32): Ann"
"$bin/corvsend" -c "$etc" Ann "${texts[0]}" || true
echo "== a page with corvsend to Dana, whose system is the WCTP carrier"
"$bin/corvsend" -c "$etc" Dana "${texts[3]}" || true
echo "== a page by mail (subject: Bob) into the demo mailbox"
maildir="$mail_root/mail/pager/Maildir"
cp tools/demo/mail.txt "$maildir/tmp/demo.mail"
[ "$(id -u)" -eq 0 ] && chown "$internal_user:$internal_group" "$maildir/tmp/demo.mail"
mv "$maildir/tmp/demo.mail" "$maildir/new/demo.mail"
echo "== a page through the web form: Ann and Bob"
curl -sS -o "$scratch/form-reply.html" --max-time 30 \
  --data-urlencode "name=Support" --data-urlencode "message=${texts[2]}" --data-urlencode "pagetype=0" \
  "http://127.0.0.1:$http_port/cgi-bin/corvweb" || echo "(the form post failed: see $scratch/lighttpd-error.log)"
echo
echo "   Open http://127.0.0.1:$http_port/ to send more pages from the form;"
echo "   http://127.0.0.1:$http_port/cgi-bin/corvweb?status shows the queues."
echo

echo "== waiting for the simulated pagers and the carrier to take the four pages..."
deadline=$((SECONDS + (bounded == 1 ? limit : 180)))
shown=()
while [ "$SECONDS" -lt "$deadline" ]; do
  for t in "${texts[@]}"; do
    if arrived "$t" && [[ " ${shown[*]-} " != *" $t "* ]]; then
      echo "   arrived at a simulated pager: \"$t\""
      shown+=("$t")
    fi
  done
  all_arrived && break
  sleep 0.5
done

if [ "$bounded" = 1 ]; then
  if all_arrived; then
    finish
    echo "== demo: all four pages arrived"
    exit 0
  fi
  for t in "${texts[@]}"; do arrived "$t" || echo "== demo: not arrived: \"$t\""; done
  finish
  exit 1
fi

all_arrived || echo "== not all pages arrived yet; the log below shows why"
echo "== log.txt and the records (following; Ctrl+C stops everything)"
tail -n +1 -f "$scratch/log.txt" "$scratch/record-tty1.txt" "$scratch/record-tty2.txt" "$scratch/record-wctp.txt" &
pids+=($!)
wait 2>/dev/null || true
finish
