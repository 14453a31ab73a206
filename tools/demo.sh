#!/usr/bin/env bash
# The bridge at work: builds the release, starts the Vurel site simulator with
# the demo mailbox and the stand-in host with the plug-in (configured to reach
# the simulator as its HTTP proxy, so no root is needed), and prints what to
# type to read the mail. Ctrl-C stops both and leaves nothing running.
#
# --https: the simulator serves the site over HTTPS (its own test CA, written
# to build/release/demo/test-ca.pem and trusted by the bridge through
# SSL_CERT_FILE); the bridge reaches it through the simulator's CONNECT.
#
# Environment: QUILL_DEMO_POP3_PORT / QUILL_DEMO_SMTP_PORT (default 5110 / 5025).
set -euo pipefail
cd "$(dirname "$0")/.."

https=0
case "${1:-}" in
  --https) https=1 ;;
  "") ;;
  *) echo "usage: tools/demo.sh [--https]" >&2; exit 2 ;;
esac

bash tools/setup.sh

pop3_port=${QUILL_DEMO_POP3_PORT:-5110}
smtp_port=${QUILL_DEMO_SMTP_PORT:-5025}
user=alice
password=secret

echo "== building the release (build/release)"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target quillmere_plugin quillmere-host vurel-sim

build=build/release
demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo"

for port in "$pop3_port" "$smtp_port"; do
  if python3 -c "import socket,sys; s=socket.socket(); s.bind(('127.0.0.1', int(sys.argv[1])))" "$port" 2>/dev/null; then
    :
  else
    echo "demo: port $port on 127.0.0.1 is in use; set QUILL_DEMO_POP3_PORT / QUILL_DEMO_SMTP_PORT" >&2
    exit 1
  fi
done

sim_pid=
cleanup() {
  trap - EXIT INT TERM
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The site simulator on a free loopback port, with the demo mailbox.
tls_args=()
site_keys=
if [ "$https" = 1 ]; then
  tls_args=(--tls --ca-file "$demo/test-ca.pem")
  site_keys='[Site]\r\nFrontPage=https://mail.vurel.example/\r\nLoginPage=https://login.vurel.example/config/login\r\n'
  # The demo's CA only, for the bridge (never the machine's store).
  export SSL_CERT_FILE="$PWD/$demo/test-ca.pem"
  unset SSL_CERT_DIR
fi
"$build/bin/vurel-sim" --listen 127.0.0.1:0 --port-file "$demo/sim.port" \
  --user "$user:$password" --mailbox site/demo-mailbox --log "${tls_args[@]}" >"$demo/vurel-sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
  [ -s "$demo/sim.port" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$demo/vurel-sim.log" >&2; exit 1; }
  sleep 0.1
done
sim_port=$(cat "$demo/sim.port")

# An installation of its own: the plug-in and its settings file side by side.
cp "$build/plugin/Quillmere.so" "$demo/"
printf "[Setup]\r\nPOP3Port=%s\r\nSMTPPort=%s\r\nEmptyTrash=1\r\nPopup=1\r\nSaveCookie=1\r\nSaveSent=1\r\nProxyType=1\r\nProxy=127.0.0.1\r\nPort=%s\r\nLog=1\r\n[MailBox]\r\nBulk=0\r\nInbox=1\r\n$site_keys" \
  "$pop3_port" "$smtp_port" "$sim_port" >"$demo/Quillmere.ini"

# Where the SMTP side prints its sending line: curl submits a message with
# AUTH LOGIN; the simulator's log shows the compose form's POST.
send_line="printf 'To: friend@example.org\\r\\nSubject: Hello\\r\\n\\r\\nSent through the bridge.\\r\\n' | curl -u $user:$password --mail-from $user@vurel.example --mail-rcpt friend@example.org -T - smtp://127.0.0.1:$smtp_port"

cat <<INFO

== Quillmere demo
  web-mail site:  vurel-sim on 127.0.0.1:$sim_port (log: $demo/vurel-sim.log)$([ "$https" = 1 ] && printf '\n                  over HTTPS, test CA %s' "$demo/test-ca.pem")
  bridge:         POP3 127.0.0.1:$pop3_port, SMTP 127.0.0.1:$smtp_port (log: $demo/Quillmere.log)
  user/password:  $user / $password

  list the mailbox:  curl -u $user:$password pop3://127.0.0.1:$pop3_port/
  read message 1:    curl -u $user:$password pop3://127.0.0.1:$pop3_port/1
  fetch, keep mail:  fetchmail -p POP3 -P $pop3_port -u $user -k --sslproto '' -m cat 127.0.0.1
                     (fetchmail asks for the password)
  send:              $send_line

  Type "cancel pop3" or "cancel smtp" to press that progress window's Cancel;
  Ctrl-C stops the bridge and the simulator.

INFO

# In the foreground: it reads the console commands, and Ctrl-C reaches it.
"$build/bin/quillmere-host" "$PWD/$demo/Quillmere.so" || true
