#!/usr/bin/env bash
# End to end: the Ansible collection tarnwick.expander on localhost
# (connection: local, the collection from this checkout, no network) against
# three expander-sims, one host with three enclosures:
#   check      --check: changed, each port's plan, nothing on the wire
#   real       a real run: changed, every image whole, the defaults where planned
#   again      after the "power cycle" (the sims come back with the new
#              version): ok, nothing sent
#   rejected   one sim rejects the firmware: the task fails with rc and msg,
#              whose advice for rc 6 is the module's
#   mistyped   a good port beside a mistyped one: the good one is "not started"
#   digest     a wrong sha256 is named as the task spells it
#   nocli      no tarnwick-cli: the message names the module's cli option
#   refused    check mode fails where the run would: no port, a port named twice
#   rollout    the rollout playbook: a wrong fw_sha256 stops it before the copy;
#              the right one puts the file on the host and loads it
#   rerun      the bootloader rejected once: the run fails (do not power cycle),
#              check mode says why it is not current, the rerun is changed, the
#              third run ok
#   facts      the info module: running versions and the file, changing nothing
#   doc        ansible-doc renders the firmware module
#
#   tests/e2e/ansible_fleet.sh
#
# Skipped (exit 0, with a line that says so) without ansible-playbook.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
CLI="${TARNWICK_CLI:-$ROOT/build/linux/app/cli/tarnwick-cli}"
SIM="${TARNWICK_SIM:-$ROOT/build/linux/sim/expander-sim}"
FWIMAGE="${TARNWICK_FWIMAGE:-$ROOT/build/linux/tools/fwimage/fwimage}"
WAIT="${TARNWICK_E2E_WAIT:-60}"   # seconds any one wait may take
OLD=1.01.0000.05    # gets the factory defaults after a download
MID=1.02.0000.10    # does not
NEW=1.02.0000.11    # the file's version
FAILURES=0
SIM_PIDS=()

log() { printf '%s\n' "$*"; }

if ! command -v ansible-playbook >/dev/null 2>&1; then
  log "skip: ansible-playbook is not installed (apt-get install ansible-core)"
  exit 0
fi
for p in "$CLI" "$SIM" "$FWIMAGE"; do
  [ -x "$p" ] || { log "missing $p: build the linux preset first"; exit 1; }
done

WORK="$(mktemp -d /tmp/tarnwick-ansible-e2e.XXXXXX)"
# The download history of this run only.
export TARNWICK_STATE_DIR="$WORK/state"
mkdir -p "$TARNWICK_STATE_DIR"
cleanup() {
  set +e
  stop_sims
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

export ANSIBLE_COLLECTIONS_PATH="$ROOT/ansible"
export ANSIBLE_LOCAL_TEMP="$WORK/ansible-local" ANSIBLE_REMOTE_TEMP="$WORK/ansible-remote"
export ANSIBLE_HOME="$WORK/ansible-home"
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PYTHON_INTERPRETER=auto_silent
export ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_INVENTORY_UNPARSED_WARNING=0
export PYTHONDONTWRITEBYTECODE=1
# tarnwick-cli's download history of this run alone (without it, the file
# beside the program in the build tree, shared by every run).
TARNWICK_STATE_DIR="$(mktemp -d "$WORK/state.XXXXXX")"
export TARNWICK_STATE_DIR

# ---- the simulators ------------------------------------------------------------

# start_sim N VERSION [OPTIONS...]: expander-sim on $WORK/ttyN, its report to
# $WORK/simN.json when it ends.
start_sim() {
  local n=$1 version=$2 i
  shift 2
  rm -f "$WORK/tty$n" "$WORK/sim$n.json"
  "$SIM" --link "$WORK/tty$n" --report "$WORK/sim$n.json" --baud 0 --version "$version" \
    --reboot-seconds 2 "$@" >"$WORK/sim$n.out" 2>"$WORK/sim$n.err" &
  SIM_PIDS[$n]=$!
  for i in $(seq 1 $((WAIT * 5))); do
    [ -e "$WORK/tty$n" ] && return 0
    kill -0 "${SIM_PIDS[$n]}" 2>/dev/null || break
    sleep 0.2
  done
  log "expander-sim $n did not start: $(cat "$WORK/sim$n.err")"
  return 1
}

stop_sims() {
  local n
  for n in "${!SIM_PIDS[@]}"; do
    kill "${SIM_PIDS[$n]}" 2>/dev/null
    wait "${SIM_PIDS[$n]}" 2>/dev/null
  done
  SIM_PIDS=()
}

start_sims() {  # start_sims V1 V2 V3
  start_sim 1 "$1" && start_sim 2 "$2" && start_sim 3 "$3"
}

# ---- the playbook --------------------------------------------------------------

cat >"$WORK/fleet.yml" <<'EOF'
- name: One host, its enclosures
  hosts: localhost
  connection: local
  gather_facts: false
  tasks:
    - name: Load the firmware
      tarnwick.expander.firmware:
        port: "{{ ports }}"
        file: "{{ fw }}"
        cli: "{{ cli }}"
        dlretry: "{{ dlretry | default(2) }}"
        sha256: "{{ sha | default(omit) }}"
      register: flash
      ignore_errors: true
    - name: Keep the result for the judge
      ansible.builtin.copy:
        content: "{{ flash | to_nice_json }}"
        dest: "{{ out }}"
      check_mode: false
EOF

cat >"$WORK/facts.yml" <<'EOF'
- name: What runs, and what the file holds
  hosts: localhost
  connection: local
  gather_facts: false
  tasks:
    - name: Ask
      tarnwick.expander.info:
        port: "{{ ports }}"
        file: "{{ fw }}"
        cli: "{{ cli }}"
      register: asked
    - name: Keep the facts for the judge
      ansible.builtin.copy:
        content: "{{ {'changed': asked.changed, 'facts': tarnwick_expander} | to_nice_json }}"
        dest: "{{ out }}"
EOF

# play NAME PORTS_JSON [ansible-playbook options...]: the task's result in
# $WORK/NAME.json, the playbook's output in $WORK/NAME.log. The image file is
# $FW (default $WORK/fw.bin).
play() {
  local name=$1 ports=$2 book=$WORK/fleet.yml fw=${FW:-$WORK/fw.bin}
  shift 2
  [ "$name" = facts ] && book=$WORK/facts.yml
  ansible-playbook -i localhost, "$book" "$@" \
    -e "{\"ports\": $ports, \"fw\": \"$fw\", \"cli\": \"${PLAY_CLI:-$CLI}\", \"out\": \"$WORK/$name.json\"}" \
    >"$WORK/$name.log" 2>&1
  [ -s "$WORK/$name.json" ] || { log "$name: no result"; cat "$WORK/$name.log"; return 1; }
}

# judge NAME EXPR: EXPR (Python) holds over the task's result `r`, the file's
# table `info`, and the sims' reports `sims` (a list, in port order).
judge() {
  local name=$1 expr=$2
  python3 - "$WORK" "$name" "$expr" <<'PY' || { log "$name: fails: $expr"; return 1; }
import json, os, sys
work, name, expr = sys.argv[1:4]  # `work` is the run's folder, for EXPR
r = json.load(open(os.path.join(work, name + ".json")))
info = json.load(open(os.path.join(work, "info.json")))
sims = []
for n in (1, 2, 3):
    p = os.path.join(work, "sim%d.json" % n)
    sims.append(json.load(open(p)) if os.path.exists(p) else None)
def asked_only(s):
    """Only the start-up check's questions reached this sim."""
    return (s is not None and not s["images"] and s["counts"]["violations"] == 0
            and all(c["command"] in ("prompt", "version query") for c in s["commands"]))
def whole(s):
    """The file's images arrived whole, terminated, and nothing else."""
    return (s is not None and s["counts"]["violations"] == 0
            and [(i["sha256"], i["terminated"]) for i in s["images"]]
                == [(i["sha256"], True) for i in info["images"]])
ok = eval(expr)
if not ok:
    print(json.dumps(r, indent=1)[:4000])
sys.exit(0 if ok else 1)
PY
}

# task_says NAME TASK REGEX: a line of TASK's output in $WORK/NAME.log (the
# lines from its banner to the blank line after it) matches REGEX.
task_says() {
  sed -n "/^TASK \[$2\]/,/^\$/p" "$WORK/$1.log" | grep -q -- "$3"
}

run_case() {
  local name=$1
  shift
  log "== $name"
  if "$@"; then
    log "ok: $name"
  else
    log "FAILED: $name"
    [ -f "$WORK/$name.log" ] && tail -30 "$WORK/$name.log"
    FAILURES=$((FAILURES + 1))
  fi
  stop_sims
}

PORTS="[\"$WORK/tty1\", \"$WORK/tty2\", \"$WORK/tty3\"]"

case_check() {
  start_sims "$OLD" "$MID" "$NEW" || return 1
  play check "$PORTS" --check || return 1
  stop_sims
  judge check 'r["changed"] and not r.get("failed") and r["rc"] == 0' &&
    judge check '[p["outcome"] for p in r["ports"]] == ["would-download", "would-download", "already-current"]' &&
    judge check '[p["factory_defaults"] for p in r["ports"]] == [True, False, False]' &&
    judge check 'all(p["path"] == info["path"] for p in r["ports"])' &&
    judge check 'all(asked_only(s) for s in sims)'
}

case_real() {
  start_sims "$OLD" "$MID" "$NEW" || return 1
  play real "$PORTS" || return 1
  stop_sims
  judge real 'r["changed"] and not r.get("failed") and r["rc"] == 0' &&
    judge real '[p["outcome"] for p in r["ports"]] == ["success", "success", "already-current"]' &&
    judge real '[p["written"] for p in r["ports"]] == ["all", "all", "nothing"]' &&
    judge real '[p["version_before"] for p in r["ports"]] == ["'$OLD'", "'$MID'", "'$NEW'"]' &&
    judge real 'whole(sims[0]) and whole(sims[1]) and asked_only(sims[2])' &&
    # What check mode planned for the defaults is what the download did.
    judge real '[s["counts"]["defaults_writes"] for s in sims] == [1, 0, 0]' &&
    # Without -v the output says what happened on each port.
    grep -qF "[localhost] $WORK/tty1: success (running $OLD, file $NEW)." "$WORK/real.log" &&
    grep -qF "[localhost] $WORK/tty3: already current (runs $NEW)." "$WORK/real.log"
}

case_again() {
  # The power cycle: the enclosures come back running the file's version.
  start_sims "$NEW" "$NEW" "$NEW" || return 1
  play again "$PORTS" || return 1
  stop_sims
  judge again 'not r["changed"] and not r.get("failed") and r["rc"] == 0' &&
    judge again 'all(p["outcome"] == "already-current" for p in r["ports"])' &&
    judge again 'all(asked_only(s) for s in sims)' &&
    task_says again 'Load the firmware' '^ok: \[localhost\]'

}

case_rejected() {
  start_sim 1 "$MID" --reject-part 0x06 || return 1
  play rejected "[\"$WORK/tty1\"]" || return 1
  stop_sims
  judge rejected 'r["failed"] and r["rc"] == 6 and r["outcome"] == "download-failed"' &&
    judge rejected 'r["msg"].endswith("Power cycle the system, then run the download again.")' &&
    judge rejected 'r["ports"][0]["exit_code"] == 6' &&
    task_says rejected 'Load the firmware' '^fatal: \[localhost\]: FAILED!'

}

case_mistyped() {
  start_sim 1 "$MID" || return 1
  play mistyped "[\"$WORK/tty1\", \"$WORK/nosuch\"]" || return 1
  stop_sims
  judge mistyped 'r["failed"] and r["rc"] == 3 and not r["changed"]' &&
    judge mistyped '[p["outcome"] for p in r["ports"]] == ["not-started", "cannot-open-port"]' &&
    judge mistyped 'r["msg"].splitlines()[0].startswith(work + "/tty1: not started")' &&
    judge mistyped '"stopped" not in r["msg"] and len(r["msg"].splitlines()) == 2' &&
    judge mistyped 'not sims[0]["images"]'
}

case_digest() {
  start_sim 1 "$MID" || return 1
  play digest "[\"$WORK/tty1\"]" -e sha=$(printf '0%.0s' $(seq 64)) || return 1
  stop_sims
  judge digest 'r["failed"] and r["rc"] == 2 and not r["changed"]' &&
    judge digest '"as the sha256 option says" in r["msg"] and "--sha256" not in r["msg"]' &&
    judge digest 'asked_only(sims[0]) or not sims[0]["commands"]'
}

case_nocli() {
  PLAY_CLI=tarnwick-cli-not-installed play nocli "[\"$WORK/tty1\"]" || return 1
  judge nocli 'r["failed"] and "cli option" in r["msg"] and "tarnwick-cli-not-installed" in r["msg"]'
}

case_refused() {
  start_sim 1 "$MID" || return 1
  play refused-none "[]" --check || return 1
  play refused-twice "[\"$WORK/tty1\", \"$WORK/tty1\"]" --check || return 1
  stop_sims
  judge refused-none 'r["failed"] and r["rc"] == 2 and not r["changed"]' &&
    judge refused-twice 'r["failed"] and r["rc"] == 2 and "named twice" in r["msg"]' &&
    judge refused-twice 'asked_only(sims[0])'
}

case_rerun() {
  # The firmware takes five packets: the sixth, the bootloader's first, is
  # refused once, and one attempt per packet is allowed.
  local FW="$WORK/fw-boot.bin"
  "$FWIMAGE" make "$FW" --image fw:1K --image boot:1K --version "$NEW" >/dev/null || return 1
  start_sim 1 "$MID" --reject 6 --new-version "$NEW" || return 1
  local one="[\"$WORK/tty1\"]"
  FW=$FW play rerun-1 "$one" -e dlretry=1 &&
    FW=$FW play rerun-check "$one" --check -e dlretry=1 &&
    FW=$FW play rerun-2 "$one" -e dlretry=1 &&
    FW=$FW play rerun-3 "$one" -e dlretry=1 || return 1
  stop_sims
  judge rerun-1 'r["failed"] and r["changed"] and r["rc"] == 8 and "do NOT power cycle" in r["msg"]' &&
    judge rerun-check 'r["changed"] and not r.get("failed")' &&
    judge rerun-check '[(p["current"], p["would_download"]) for p in r["ports"]] == [("bootloader-failed", True)]' &&
    judge rerun-2 'r["changed"] and not r.get("failed") and r["ports"][0]["outcome"] == "success"' &&
    judge rerun-3 'not r["changed"] and not r.get("failed") and r["ports"][0]["outcome"] == "already-current"' &&
    task_says rerun-3 'Load the firmware' '^ok: \[localhost\]'
}

case_facts() {
  start_sim 1 "$MID" && start_sim 2 "$OLD" || return 1
  play facts "[\"$WORK/tty1\", \"$WORK/tty2\"]" || return 1
  stop_sims
  judge facts 'not r["changed"] and r["facts"]["file"]["version"] == "'$NEW'"' &&
    judge facts 'r["facts"]["file"]["images"] == info["images"]' &&
    judge facts '[p["version"] for p in r["facts"]["ports"]] == ["'$MID'", "'$OLD'"]' &&
    judge facts 'asked_only(sims[0]) and asked_only(sims[1])'
}

# rollout_play NAME SHA256: the collection's rollout playbook over an
# inventory of one host (this one) with the three sims, the file copied from
# "the controller" to $WORK/host/fw.bin; its output in $WORK/NAME.log.
rollout_play() {
  local name=$1 sha=$2
  cat >"$WORK/inventory" <<EOF2
[expander_hosts]
localhost ansible_connection=local
[expander_hosts:vars]
expander_ports=$PORTS
EOF2
  ansible-playbook -i "$WORK/inventory" tarnwick.expander.rollout \
    -e "{\"fw_file\": \"$WORK/fw.bin\", \"fw_sha256\": \"$sha\", \"fw_dest\": \"$WORK/host/fw.bin\",
         \"tarnwick_cli\": \"$CLI\", \"rollout_batch\": 1}" >"$WORK/$name.log" 2>&1
}

case_rollout() {
  local sha
  sha="$(sha256sum "$WORK/fw.bin" | cut -d' ' -f1)"
  start_sims "$OLD" "$MID" "$NEW" || return 1
  # A file that is not the published one goes nowhere.
  if rollout_play rollout-wrong "$(printf 'f%.0s' $(seq 64))"; then
    log "rollout-wrong: passed"; return 1
  fi
  grep -q "as fw_sha256 says; nothing was copied or sent" "$WORK/rollout-wrong.log" &&
    [ ! -e "$WORK/host/fw.bin" ] || { cat "$WORK/rollout-wrong.log"; return 1; }
  rollout_play rollout "$sha" || { cat "$WORK/rollout.log"; return 1; }
  stop_sims
  cmp -s "$WORK/fw.bin" "$WORK/host/fw.bin" &&
    [ "$(stat -c %a "$WORK/host")" = 700 ] &&
    task_says rollout 'Load the firmware where another version runs' \
      '^  \[localhost\] 3 ports: 2 written, 1 already current\.$' &&
    echo '{}' >"$WORK/rollout.json" && judge rollout 'whole(sims[0]) and whole(sims[1]) and asked_only(sims[2])'
}

case_doc() {
  local out="$WORK/doc.txt"
  ansible-doc tarnwick.expander.firmware >"$out" 2>&1 || { cat "$out"; return 1; }
  grep -q 'skip_if_current' "$out" && grep -q 'factory_defaults' "$out" &&
    grep -q 'allow_older' "$out" &&
    ansible-doc tarnwick.expander.info >/dev/null 2>&1
}

"$FWIMAGE" make "$WORK/fw.bin" --image fw:3000 --version "$NEW" >/dev/null || exit 1
"$CLI" info "$WORK/fw.bin" --json >"$WORK/info.json" || exit 1

run_case check case_check
run_case real case_real
run_case again case_again
run_case rejected case_rejected
run_case mistyped case_mistyped
run_case digest case_digest
run_case nocli case_nocli
run_case refused case_refused
run_case rollout case_rollout
run_case rerun case_rerun
run_case facts case_facts
run_case doc case_doc

if [ "$FAILURES" -gt 0 ]; then
  log "$FAILURES case(s) failed"
  exit 1
fi
log "all cases passed"
