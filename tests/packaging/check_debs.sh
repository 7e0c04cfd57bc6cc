#!/usr/bin/env bash
# The Debian packages as a user gets them, checked by the tools of Debian:
#   lintian on each .deb says nothing (no error, no warning);
#   appstreamcli validates the form's metainfo;
#   unpacked as dpkg would (no install: the machine stays as it is), each
#   program answers --version with VERSION, and the packaged emulator and
#   the packaged hj5-update rehearse one whole update on loopback.
# Usage: tests/packaging/check_debs.sh DIST  (the folder of the .deb files)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
dist=$1
version=$(head -n 1 "$top/VERSION")
tool_deb=$(ls "$dist"/hj5-xml-update_"$version"_*.deb)
emulator_deb="$dist/hj5-emulator_${version}_all.deb"

say() { printf 'check_debs: %s\n' "$*"; }
fail() { say "FAIL: $*"; exit 1; }

work=$(mktemp -d /tmp/hj5-debs-XXXXXX)
trap 'kill "${emulator_pid:-}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

for deb in "$tool_deb" "$emulator_deb"; do
  say "lintian $(basename "$deb")"
  # lintian's remark that it runs as root is not about the package.
  report=$(lintian "$deb" 2>&1 | grep -v '^running with root privileges' || true)
  if [[ -n "$report" ]]; then
    printf '%s\n' "$report"
    fail "lintian has something to say about $(basename "$deb")"
  fi
done

unpacked="$work/root"
for deb in "$tool_deb" "$emulator_deb"; do
  dpkg-deb -x "$deb" "$unpacked"
done

metainfo=("$unpacked"/usr/share/metainfo/*.metainfo.xml)
((${#metainfo[@]} == 1)) || fail "not one metainfo file: ${metainfo[*]}"
say "appstreamcli validate $(basename "${metainfo[0]}")"
# --no-net: no network here, and the screenshot's address is a placeholder
# until the project has a domain (cmake/packaging.cmake).
appstreamcli validate --no-net "${metainfo[0]}" || fail "appstreamcli validate"

for program in hj5-xml-update hj5-update hj5-emulator; do
  answer=$(env -u DISPLAY "$unpacked/usr/bin/$program" --version)
  [[ "$answer" == "$program $version" ]] ||
    fail "$program --version: '$answer', not '$program $version'"
  say "$answer"
done

say "a rehearsal: the packaged emulator and hj5-update, one whole update"
mkdir -p "$work/device/www"
"$unpacked/usr/bin/hj5-emulator" --http-port 0 --ftp-port 0 --control-port 0 \
  --root "$work/device" --reboot-seconds 0.2 >"$work/ready" 2>"$work/log" &
emulator_pid=$!
for _ in $(seq 100); do
  grep -q '^http=' "$work/ready" 2>/dev/null && break
  sleep 0.1
done
line=$(grep '^http=' "$work/ready") || { cat "$work/log" >&2; fail "no emulator"; }
http_port=$(sed -n 's/^http=\([0-9]*\).*/\1/p' <<<"$line")
ftp_port=$(sed -n 's/.* ftp=\([0-9]*\).*/\1/p' <<<"$line")
printf '<?xml version="1.0"?>\n<config/>\n' >"$work/site.xml"
status=0
HJ5_PASSWORD=hj5pass "$unpacked/usr/bin/hj5-update" --address "127.0.0.1:$http_port" \
  --ftp-port "$ftp_port" --id admin "$work/site.xml" >"$work/out" 2>&1 || status=$?
cat "$work/out"
((status == 0)) || fail "hj5-update exited $status"
cmp "$work/site.xml" "$work/device/www/site.xml" || fail "the file stored differs"
say "ok"
