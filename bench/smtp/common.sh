# Sourced by bench/smtp/run-tls and run-parallel: paths, a throw-away
# certificate, sinks that are stopped on exit, and one timed row per run.
# Each row's "key value" figures go to $work/<row>.txt for report.py.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-${BUILD_DIR:-$root/build}}"
sender="$build/bin/bench_smtp_send"
py=/usr/bin/python3
export ORDERGATE_SMTP_PASSWORD=bench-secret
login_user=bench

cmake --build "$build" --target bench_smtp_send -j2 >/dev/null

work="$(mktemp -d)"
declare -A sink_pid=()
cleanup() {
  for pid in "${sink_pid[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A self-signed certificate for IP 127.0.0.1 that both clients trust as
# their only authority, so the host check is as strict as for a provider.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
  -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$py" -c "import random; open('$work/att10k.bin', 'wb').write(random.Random(2003).randbytes(10 * 1024))"

# start_sink NAME [smtp_sink.py arguments]: a discarding aiosmtpd sink with
# STARTTLS required, login and PIPELINING; sets $port.
start_sink() {
  local name="$1"; shift
  "$py" "$root/tests/support/smtp_sink.py" --discard --port-file "$work/$name.port" \
    --count-file "$work/$name.count" --max-seconds 3600 --tls-cert "$work/cert.pem" \
    --tls-key "$work/key.pem" --login "$login_user:$ORDERGATE_SMTP_PASSWORD" --pipelining "$@" \
    2>"$work/$name.log" &
  sink_pid[$name]=$!
  for _ in $(seq 1 150); do [[ -s "$work/$name.port" ]] && break; sleep 0.1; done
  port="$(cat "$work/$name.port")"
}

# stop_sink NAME EXPECTED: stops it and says whether every message arrived.
stop_sink() {
  kill "${sink_pid[$1]}" 2>/dev/null || true
  wait "${sink_pid[$1]}" 2>/dev/null || true
  unset "sink_pid[$1]"
  local got; got="$(cat "$work/$1.count" 2>/dev/null || echo '?')"
  echo "  sink \"$1\" received $got messages (expected $2)$([[ "$got" == "$2" ]] || echo ' -- MISMATCH')"
}

load() { cut -d' ' -f1 /proc/loadavg; }

# ours ROW [bench_smtp_send arguments]: a timed run of this client.
ours() {
  local row="$1"; shift
  local before; before="$(load)"
  "$sender" --port "$port" --starttls --ca-file "$work/cert.pem" --user "$login_user" \
    --attachment "$work/att10k.bin" "$@" > "$work/$row.txt"
  echo "load $before-$(load)" >> "$work/$row.txt"
}

# smtplib ROW [smtplib_send.py arguments]: the same with starttls() and
# login() on every connection.
smtplib() {
  local row="$1"; shift
  local before; before="$(load)"
  "$py" "$here/smtplib_send.py" --port "$port" --starttls --ca-file "$work/cert.pem" --user "$login_user" \
    --attachment "$work/att10k.bin" "$@" > "$work/$row.txt"
  echo "load $before-$(load)" >> "$work/$row.txt"
}

header() {
  echo "$(nproc) cores shared with whatever else runs; load (1 min) $(cut -d' ' -f1-3 /proc/loadavg)"
}
