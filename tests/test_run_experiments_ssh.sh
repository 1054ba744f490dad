#!/usr/bin/env bash
# scripts/run_experiments over a real ssh server: starts Debian's sshd on
# 127.0.0.1 on a free port with a host key and a client key made here, runs
# the tiny experiment with one job slot there and one on this machine,
# checks that the job log shows both and that the results equal those of a
# run on this machine alone, and stops the server.
#   tests/test_run_experiments_ssh.sh RUNNER BIN_DIR
# Exits 77 (skipped) when sshd, ssh, GNU parallel or gnuplot is missing or
# sshd cannot run here (not root); tests/no_skip_in_ci.sh makes that a
# failure where CI=true.
set -euo pipefail

runner=$1
bin=$2
sshd=/usr/sbin/sshd

skip() {
  echo "SKIP: $*"
  exit 77
}
for tool in "$sshd" ssh ssh-keygen parallel gnuplot; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install_dependencies --tests)"
done
(($(id -u) == 0)) || skip "sshd is run as root with a configuration of its own; not root here"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/test_run_experiments_ssh.XXXXXX")
sshd_pid=""
stop() {
  if [[ -n $sshd_pid ]]; then
    kill "$sshd_pid" 2>/dev/null || true
    wait "$sshd_pid" 2>/dev/null || true
  fi
  rm -rf -- "$tmp"
}
trap stop EXIT

fail() {
  echo "FAIL: $*"
  for f in "$tmp"/*.out "$tmp"/*.err "$tmp/sshd.log"; do
    [[ -s $f ]] && echo "--- $f" && tail -n 30 "$f"
  done
  exit 1
}

ssh-keygen -q -t ed25519 -N '' -f "$tmp/host_key" || fail "ssh-keygen (host key)"
ssh-keygen -q -t ed25519 -N '' -f "$tmp/client_key" || fail "ssh-keygen (client key)"
cp "$tmp/client_key.pub" "$tmp/authorized_keys"
mkdir -p /run/sshd # sshd's privilege separation folder

# A free port: sshd is started on random ones until one takes it.
port=""
for _ in 1 2 3 4 5 6 7 8; do
  candidate=$((20000 + RANDOM % 40000))
  cat >"$tmp/sshd_config" <<EOF
Port $candidate
ListenAddress 127.0.0.1
HostKey $tmp/host_key
PidFile $tmp/sshd.pid
AuthorizedKeysFile $tmp/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
EOF
  "$sshd" -D -e -f "$tmp/sshd_config" 2>"$tmp/sshd.log" &
  sshd_pid=$!
  login=(ssh -p "$candidate" -i "$tmp/client_key" -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null
    -o BatchMode=yes -o LogLevel=ERROR)
  for ((i = 0; i < 50; i++)); do
    kill -0 "$sshd_pid" 2>/dev/null || break
    if "${login[@]}" root@127.0.0.1 true 2>/dev/null; then
      port=$candidate
      break 2
    fi
    sleep 0.1
  done
  kill "$sshd_pid" 2>/dev/null || true
  wait "$sshd_pid" 2>/dev/null || true
  sshd_pid=""
done
[[ -n $port ]] || skip "sshd could not be started here: $(tail -n 3 "$tmp/sshd.log" | paste -sd' ')"

remote="${login[*]} root@127.0.0.1"
printf '%s\n' "1/$remote" "1/:" >"$tmp/machines"
common=(--bin-dir "$bin" --surfaces 3 --size 32 --bank laws)
status=0
"$runner" "${common[@]}" --workspace "$tmp/ssh" --sshloginfile "$tmp/machines" >"$tmp/ssh.out" 2>"$tmp/ssh.err" ||
  status=$?
((status == 0)) || fail "the run over ssh ended with status $status"
hosts=$(cut -f2 "$tmp/ssh/runs/joblog.txt" | tail -n +2 | sort -u)
grep -qxF ":" <<<"$hosts" || fail "no job ran on this machine: $hosts"
grep -qxF "$remote" <<<"$hosts" || fail "no job ran over ssh: $hosts"
"$runner" "${common[@]}" --workspace "$tmp/local" >"$tmp/local.out" 2>"$tmp/local.err" ||
  fail "the run on this machine failed"
for f in classification direction; do
  cmp -s "$tmp/ssh/partial/$f.csv" "$tmp/local/partial/$f.csv" || fail "$f.csv differs from the local run's"
  diff <(grep -v '^%' "$tmp/ssh/partial/$f.tex") <(grep -v '^%' "$tmp/local/partial/$f.tex") >/dev/null ||
    fail "$f.tex differs from the local run's"
done
echo "PASS: run_experiments over ssh (port $port)"
