#!/usr/bin/env bash
# vurel-sim as a program: serves the demo mailbox on a free port, signs in with
# curl through it as a proxy, reads a message byte for byte, and stops cleanly
# on SIGTERM. Usage: vurel-sim-test.sh PATH-TO-vurel-sim DEMO-MAILBOX-DIR
set -euo pipefail
sim=$1
mailbox=$2
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$sim" --listen 127.0.0.1:0 --user alice:demo --mailbox "$mailbox" --port-file "$work/port" \
  --page-size 4 --log >"$work/out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || fail "no port file; output: $(cat "$work/out")"
port=$(cat "$work/port")
c() { curl -s -S --max-time 20 -x "127.0.0.1:$port" -b "$work/jar" -c "$work/jar" "$@"; }

front=$(c http://mail.vurel.example/)
challenge=$(printf '%s' "$front" | sed -n 's/.*name=".challenge" value="\([^"]*\)".*/\1/p')
[ -n "$challenge" ] || fail "no challenge"
inner=$(printf '%s' demo | md5sum | cut -d' ' -f1)
answer=$(printf '%s%s' "$inner" "$challenge" | md5sum | cut -d' ' -f1)
welcome=$(c -L -d ".tries=1&.src=vm&.intl=us&login=alice&passwd=$answer&.hash=1&.md5=1&.js=1&.challenge=$challenge" \
  http://login.vurel.example/config/login)
printf '%s' "$welcome" | grep -q '<title>Vurel! Mail - alice@vurel.example</title>' || fail "not signed in"

count=$(ls "$mailbox"/*.eml | wc -l)
page0=$(c "http://us.mail.vurel.example/vm/ShowFolder?box=Inbox&Nview=a&Npos=0")
printf '%s' "$page0" | grep -q "Messages 1-4 of $count<" || fail "counter of page 0"
page1=$(c "http://us.mail.vurel.example/vm/ShowFolder?box=Inbox&Nview=a&Npos=1")
printf '%s' "$page1" | grep -q "Messages 5-$count of $count<" || fail "counter of page 1"

# The oldest message (the first file) is the last row of the last page.
id=$(printf '%s' "$page1" | grep -o 'href="/vm/ShowLetter?MsgId=[^&]*' | tail -1 | sed 's/.*MsgId=//')
base="http://us.mail.vurel.example/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=$id&bodyPart="
c -o "$work/h" "${base}HEADER"
c -o "$work/t" "${base}TEXT"
cat "$work/h" "$work/t" >"$work/message"
first=$(ls "$mailbox"/*.eml | head -1)
cmp "$work/message" "$first" || fail "print view differs from $first"

kill -TERM "$pid"
for _ in $(seq 1 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
if kill -0 "$pid" 2>/dev/null; then fail "still running after SIGTERM"; fi
wait "$pid" || fail "exit status $?"
pid=
grep -q '"GET http://us.mail.vurel.example/vm/ShowFolder?box=Inbox&Nview=a&Npos=1 HTTP/1.1" 200' "$work/out" \
  || fail "no log line; output: $(cat "$work/out")"
grep -q 'stopped after' "$work/out" || fail "no clean stop"
echo "vurel-sim: all checks passed"
