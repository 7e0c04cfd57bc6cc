#!/usr/bin/env bash
# Runs a Windows test program under wine against the device emulator, which
# runs here on the Linux side on ports the OS picks, with its FTP server on.
# The program learns the FTP port and the folder uploads land in from
# HJ5_FTP_PORT and HJ5_EMULATOR_WWW (a wine path).
# Usage: run_with_emulator.sh EMULATOR PROGRAM.exe [args...]
set -euo pipefail
source "$(dirname "$0")/../support/emulator.sh"
emulator=$1
shift
root=$(mktemp -d /tmp/hj5-wine-emulator-XXXXXX)
trap 'kill "${emulator_pid:-}" 2>/dev/null; wait 2>/dev/null; rm -rf "$root"' EXIT
start_emulator "$emulator" "$root" --ftp-on
export HJ5_FTP_PORT=$ftp_port
export HJ5_EMULATOR_WWW="Z:${root//\//\\}\\device\\www"
/usr/lib/wine/wine64 "$@"
