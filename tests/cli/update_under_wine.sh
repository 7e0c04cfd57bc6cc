#!/usr/bin/env bash
# hj5-update.exe under wine: one whole update of a device emulated on the
# Linux side, on ports the OS picks. Passes when the program exits 0, says
# "Update completed." and the device holds the file byte for byte.
# Usage: update_under_wine.sh EMULATOR hj5-update.exe
set -euo pipefail
source "$(dirname "$0")/../support/emulator.sh"
emulator=$1
program=$2
root=$(mktemp -d /tmp/hj5-wine-update-XXXXXX)
trap 'kill "${emulator_pid:-}" 2>/dev/null; wait 2>/dev/null; rm -rf "$root"' EXIT
start_emulator "$emulator" "$root" --reboot-seconds 0.5
printf '<?xml version="1.0"?>\r\n<config/>\r\n' >"$root/site.xml"
status=0
HJ5_PASSWORD=hj5pass /usr/lib/wine/wine64 "$program" --json \
  --address "127.0.0.1:$http_port" --ftp-port "$ftp_port" --id admin \
  "Z:${root//\//\\}\\site.xml" >"$root/out" || status=$?
cat "$root/out"
[[ $status -eq 0 ]] || { echo "exit status $status" >&2; exit 1; }
grep -q '"kind":"information","text":"Update completed."' "$root/out"
cmp "$root/site.xml" "$root/device/www/site.xml"
echo "stored and completed"
