#!/usr/bin/env bash
# Soak: 1,000 complete updates in a row against one device emulator, with the
# mandated waits 100 times faster and 20 ms reboots. Prints descriptors,
# threads and resident memory after the 100th and the 1,000th update and the
# growth; fails on any update that does not complete or on a growth of
# descriptors or threads.
#
#   bench/soak.sh BUILD_DIR [UPDATES] [SCALE] [REBOOT_SECONDS]
#
# BUILD_DIR holds bench/soak (cmake --build BUILD_DIR --target soak).
set -euo pipefail

build="${1:?usage: $0 BUILD_DIR [UPDATES] [SCALE] [REBOOT_SECONDS]}"
driver="$build/bench/soak"
[[ -x "$driver" ]] || { echo "no $driver: build the target soak" >&2; exit 1; }
exec "$driver" "${2:-1000}" "${3:-100}" "${4:-0.02}"
