#!/usr/bin/env bash
# Runs a Windows test program under wine against the device emulator, which
# runs here on the Linux side on ports the OS picks, with its FTP server on.
# The program learns the FTP port and the folder uploads land in from
# HJ5_FTP_PORT and HJ5_EMULATOR_WWW (a wine path).
# Usage: run_with_emulator.sh EMULATOR PROGRAM.exe [args...]
set -euo pipefail
emulator=$1
shift
root=$(mktemp -d /tmp/hj5-wine-emulator-XXXXXX)
out="$root/ready"
/usr/bin/python3 "$emulator" --http-port 0 --ftp-port 0 --control-port 0 \
  --root "$root/device" --ftp-on >"$out" 2>"$root/log" &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$root"' EXIT
for _ in $(seq 100); do
  grep -q '^http=' "$out" 2>/dev/null && break
  sleep 0.1
done
line=$(grep '^http=' "$out") || { cat "$root/log" >&2; exit 1; }
ftp=$(sed -n 's/.* ftp=\([0-9]*\).*/\1/p' <<<"$line")
mkdir -p "$root/device/www"
export HJ5_FTP_PORT=$ftp
export HJ5_EMULATOR_WWW="Z:${root//\//\\}\\device\\www"
/usr/lib/wine/wine64 "$@"
