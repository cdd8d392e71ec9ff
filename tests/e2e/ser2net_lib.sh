# A console server of our own for the scripts (sourced, not run): ser2net in
# the foreground on a free port of 127.0.0.1, with its configuration in a
# folder of ours, never the system's service or /etc/ser2net.yaml.
#
#   ser2net_start DIR DEVICE KIND BAUD [OPTION...]
#       KIND raw or rfc2217; BAUD what ser2net sets the line to when a client
#       connects; OPTION "name: value" lines of the connection's options.
#       Sets ser2net_pid, ser2net_port and ser2net_url (socket://... or
#       rfc2217://...). Returns 1 (with the log on standard error) if it does
#       not come up. ser2net_tcp is the accepter's TCP layer: "tcp", or
#       "tcp(nodelay)" for replies sent on at once.
#   ser2net_stop       SIGTERM, waited for
#   ser2net_kill       SIGKILL, waited for

ser2net_pid=""
ser2net_port=""
ser2net_url=""
ser2net_tcp=tcp

ser2net_program() {
  local p
  for p in /usr/sbin/ser2net /usr/bin/ser2net /usr/local/sbin/ser2net; do
    [ -x "$p" ] && { echo "$p"; return 0; }
  done
  command -v ser2net 2>/dev/null
}

# A port of 127.0.0.1 that nothing listens on now.
ser2net_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# True once something listens on 127.0.0.1:$1 (read from /proc/net/tcp, so
# that asking opens no connection).
ser2net_listening() {
  local want
  want=$(printf '0100007F:%04X' "$1")
  awk -v w="$want" 'NR > 1 && $2 == w && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp
}

ser2net_start() {
  local dir=$1 device=$2 kind=$3 baud=$4
  shift 4
  local program accepter attempt i opt
  program=$(ser2net_program) || { echo "ser2net is not installed" >&2; return 1; }
  mkdir -p "$dir"
  for attempt in 1 2 3 4 5; do
    ser2net_port=$(ser2net_free_port)
    if [ "$kind" = rfc2217 ]; then
      accepter="telnet(rfc2217),$ser2net_tcp,127.0.0.1,$ser2net_port"
      ser2net_url="rfc2217://127.0.0.1:$ser2net_port"
    else
      accepter="$ser2net_tcp,127.0.0.1,$ser2net_port"
      ser2net_url="socket://127.0.0.1:$ser2net_port"
    fi
    {
      echo "%YAML 1.1"
      echo "---"
      echo "connection: &line"
      echo "  accepter: $accepter"
      echo "  connector: serialdev,$device,${baud}n81,local"
      if [ $# -gt 0 ]; then
        echo "  options:"
        for opt in "$@"; do echo "    $opt"; done
      fi
    } >"$dir/ser2net.yaml"
    # -d: in the foreground, messages to standard output; -u: no UUCP lock files.
    "$program" -d -u -c "$dir/ser2net.yaml" >"$dir/ser2net.log" 2>&1 &
    ser2net_pid=$!
    for i in $(seq 500); do
      ser2net_listening "$ser2net_port" && return 0
      grep -q "Address already in use" "$dir/ser2net.log" && break
      kill -0 "$ser2net_pid" 2>/dev/null || break
      sleep 0.01
    done
    ser2net_kill
    grep -q "Address already in use" "$dir/ser2net.log" || break
  done
  echo "ser2net did not come up on 127.0.0.1:$ser2net_port:" >&2
  cat "$dir/ser2net.log" >&2
  return 1
}

ser2net_stop() {
  [ -n "$ser2net_pid" ] || return 0
  kill -TERM "$ser2net_pid" 2>/dev/null || true
  wait "$ser2net_pid" 2>/dev/null || true
  ser2net_pid=""
}

ser2net_kill() {
  [ -n "$ser2net_pid" ] || return 0
  kill -KILL "$ser2net_pid" 2>/dev/null || true
  wait "$ser2net_pid" 2>/dev/null || true
  ser2net_pid=""
}
