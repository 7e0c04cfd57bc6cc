#!/usr/bin/env bash
# Upload throughput of the libcurl FTP client (A) against `curl -T` (B), both
# to the device emulator on loopback, with the same file, turns taken
# A B A B ... Prints each turn and the ratio A/B pair by pair (goal >= 0.95).
#
#   bench/ftp_upload_bench.sh BUILD_DIR [PAIRS] [SIZE_MIB]
#
# BUILD_DIR holds bench/hj5_ftp_upload_once. PAIRS defaults to 5, SIZE_MIB to
# 1024. The test file, the emulator's folder and the emulator itself are
# removed at the end, also on failure or Ctrl-C.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${1:?usage: $0 BUILD_DIR [PAIRS] [SIZE_MIB]}"
pairs="${2:-5}"
size_mib="${3:-1024}"
driver="$build/bench/hj5_ftp_upload_once"
emulator="$here/../emulator/hj5-emulator"
python=/usr/bin/python3
user=admin
password=hj5pass
name=bench.bin

[[ -x "$driver" ]] || { echo "no $driver: build hj5_ftp_upload_once" >&2; exit 1; }
(( pairs >= 1 && pairs <= 10 )) || { echo "PAIRS must be 1..10" >&2; exit 1; }

work="$(mktemp -d /tmp/hj5-ftp-bench-XXXXXX)"
# The emulator stores into memory when it can, so that disk write-back of
# one turn does not slow the next.
shm=/dev/shm
[[ -d "$shm" && -w "$shm" ]] || shm="$work"
root="$(mktemp -d "$shm/hj5-ftp-bench-root-XXXXXX")"
emulator_pid=""
cleanup() {
  if [[ -n "$emulator_pid" ]]; then
    kill "$emulator_pid" 2>/dev/null || true
    wait "$emulator_pid" 2>/dev/null || true
  fi
  rm -rf "$work" "$root"
}
trap cleanup EXIT INT TERM

"$python" "$emulator" --ftp-on --root "$root" \
  >"$work/emulator.out" 2>"$work/emulator.err" &
emulator_pid=$!
ftp_port=""
for _ in $(seq 100); do
  ftp_port="$(sed -n 's/.*ftp=\([0-9]*\).*/\1/p' "$work/emulator.out")"
  [[ -n "$ftp_port" ]] && break
  sleep 0.1
done
[[ -n "$ftp_port" ]] || { echo "emulator did not start:" >&2; cat "$work/emulator.err" >&2; exit 1; }

echo "making a ${size_mib} MiB file of random bytes"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$work/upload.bin"
bytes="$(stat -c %s "$work/upload.bin")"
stored="$root/www/$name"

now() { date +%s.%N; }

rate() {
  awk -v b="$bytes" -v s="$1" -v e="$2" \
    'BEGIN { printf "%.1f\n", b / 1048576 / (e - s) }'
}

# Each turn prints its MiB/s, timed from outside the same way for both, and
# fails when the upload failed or arrived short.
turn_client() {
  local start end out
  start="$(now)"
  out="$("$driver" 127.0.0.1 "$ftp_port" "$user" "$password" \
         "$work/upload.bin" "C:\\www\\$name")" || { echo "client: $out" >&2; return 1; }
  end="$(now)"
  check_stored || return 1
  rate "$start" "$end"
}

turn_curl() {
  local start end
  start="$(now)"
  curl --silent --show-error --ftp-method nocwd --user "$user:$password" \
    --max-time 600 -T "$work/upload.bin" \
    "ftp://127.0.0.1:$ftp_port/C%3A%5Cwww%5C$name" || return 1
  end="$(now)"
  check_stored || return 1
  rate "$start" "$end"
}

check_stored() {
  local got
  got="$(stat -c %s "$stored" 2>/dev/null || echo 0)"
  rm -f "$stored"
  [[ "$got" == "$bytes" ]] || { echo "stored $got of $bytes bytes" >&2; return 1; }
}

# Settle before timing: the new file's dirty pages written out, and one
# untimed turn of each so that both start warm.
sync
turn_client >/dev/null
turn_curl >/dev/null

echo "pair  client MiB/s  curl -T MiB/s  ratio"
ratios=()
for pair in $(seq "$pairs"); do
  sync
  a="$(turn_client)"
  sync
  b="$(turn_curl)"
  ratio="$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", a / b }')"
  ratios+=("$ratio")
  printf "%4d  %12s  %13s  %5s\n" "$pair" "$a" "$b" "$ratio"
done
printf '%s\n' "${ratios[@]}" | sort -n | awk '
  { r[NR] = $1 }
  END { printf "ratio min %.3f median %.3f max %.3f (goal >= 0.95)\n",
               r[1], r[int((NR + 1) / 2)], r[NR] }'
