#!/usr/bin/env bash
# hj5-update.exe under wine against a device emulated on the Linux side, on
# ports the OS picks.
#
#   update_under_wine.sh EMULATOR hj5-update.exe
# One whole update: passes when the program exits 0, says "Update
# completed." and the device holds the file byte for byte. Then two devices
# side by side whose slow uploads read the one file at the same time, each
# read back (--verify=content): both complete.
#
#   update_under_wine.sh --cp932 EMULATOR hj5-update.exe
# The same under the ja_JP.UTF-8 locale, where wine's ANSI code page is 932:
#   - café.xml (é has no form in code page 932) is refused before any
#     traffic: exit 2, "File Name Error.", nothing received by the device;
#   - 設定.xml, in a folder named café (a local path keeps every character),
#     is updated whole: exit 0, "Update completed.", and the device stores
#     it under the name's code-page-932 bytes (90 DD 92 E8 .xml), byte for
#     byte.
set -euo pipefail
source "$(dirname "$0")/../support/emulator.sh"
cp932=0
if [[ "$1" == --cp932 ]]; then
  cp932=1
  shift
fi
emulator=$1
program=$2
root=$(mktemp -d /tmp/hj5-wine-update-XXXXXX)
trap 'kill "${emulator_pid:-}" "${first_pid:-}" 2>/dev/null; wait 2>/dev/null; rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

locale=()
if ((cp932)); then
  locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8' ||
    fail "the ja_JP.UTF-8 locale is not generated (scripts/install-deps)"
  locale=(LC_ALL=ja_JP.UTF-8)
fi

start_emulator "$emulator" "$root" --reboot-seconds 0.5

# Runs hj5-update.exe on the file at $1 (a Linux path) with the device's
# ports; its standard output goes to $root/out, its error to $root/err, its
# exit status to $status.
update() {
  status=0
  env "${locale[@]}" HJ5_PASSWORD=hj5pass /usr/lib/wine/wine64 "$program" \
    --json --address "127.0.0.1:$http_port" --ftp-port "$ftp_port" \
    --id admin "Z:${1//\//\\}" >"$root/out" 2>"$root/err" || status=$?
  cat "$root/out" "$root/err"
}

# Passes when the device received nothing: no HTTP request, no FTP line.
no_traffic() {
  curl -s --max-time 5 "http://127.0.0.1:$control_port/records" |
    /usr/bin/python3 -c '
import json, sys
records = json.load(sys.stdin)
sys.exit(0 if not records["http"] and not records["ftp"] else 1)'
}

xml=$'<?xml version="1.0"?>\r\n<config/>\r\n'
if ((cp932)); then
  printf '%s' "$xml" >"$root/café.xml"
  update "$root/café.xml"
  [[ $status -eq 2 ]] || fail "café.xml: exit status $status, not 2"
  grep -q 'File Name Error\.' "$root/err" || fail "café.xml: no File Name Error."
  no_traffic || fail "café.xml: the device received traffic"
  [[ -z "$(ls -A "$root/device/www")" ]] || fail "café.xml: a file was stored"
  echo "café.xml refused before any traffic"

  mkdir "$root/café"
  printf '%s' "$xml" >"$root/café/設定.xml"
  update "$root/café/設定.xml"
  [[ $status -eq 0 ]] || fail "設定.xml: exit status $status"
  grep -q '"kind":"information","text":"Update completed."' "$root/out" ||
    fail "設定.xml: no Update completed."
  stored=$(cd "$root/device/www" && ls -A)
  printf 'stored as: %s\n' "$(printf '%s' "$stored" | od -An -tx1 | tr -s ' \n' ' ')"
  cmp "$root/café/設定.xml" "$root/device/www/"$'\x90\xdd\x92\xe8'.xml ||
    fail "設定.xml is not stored under its code-page-932 name"
  echo "設定.xml stored under its code-page-932 name and completed"
else
  printf '%s' "$xml" >"$root/site.xml"
  update "$root/site.xml"
  [[ $status -eq 0 ]] || fail "exit status $status"
  grep -q '"kind":"information","text":"Update completed."' "$root/out" ||
    fail "no Update completed."
  cmp "$root/site.xml" "$root/device/www/site.xml"
  echo "stored and completed"

  first_pid=$emulator_pid first_http=$http_port first_ftp=$ftp_port
  first_control=$control_port
  mkdir "$root/second"
  start_emulator "$emulator" "$root/second" --reboot-seconds 0.5
  for control in "$first_control" "$control_port"; do
    curl -s --max-time 5 -d '{"ftp": "slow_store", "bytes_per_second": 262144}'       "http://127.0.0.1:$control/faults" >/dev/null
  done
  { printf '%s' "$xml"; head -c 1048576 /dev/zero | tr '\0' 'x'; } >"$root/big.xml"
  printf 'address,ftp_port\n127.0.0.1:%s,%s\n127.0.0.1:%s,%s\n' \
    "$first_http" "$first_ftp" "$http_port" "$ftp_port" >"$root/devices.csv"
  status=0
  HJ5_PASSWORD=hj5pass /usr/lib/wine/wine64 "$program" --json --id admin \
    --devices "Z:${root//\//\\}\\devices.csv" --jobs 2 --verify=content \
    "Z:${root//\//\\}\\big.xml" >"$root/out" 2>"$root/err" || status=$?
  grep -v '"kind":"tick"' "$root/out" | tail -n 3
  cat "$root/err"
  [[ $status -eq 0 ]] || fail "two devices: exit status $status"
  cmp "$root/big.xml" "$root/device/www/big.xml"
  cmp "$root/big.xml" "$root/second/device/www/big.xml"
  echo "two uploads of one file side by side, both read back and completed"

  # The live page, as on Linux: served while the run lasts, fetched from
  # this side with the token of the printed address; then report.html.
  HJ5_PASSWORD=hj5pass /usr/lib/wine/wine64 "$program" --json --id admin \
    --address "127.0.0.1:$http_port" --ftp-port "$ftp_port" --web 0 \
    --results "Z:${root//\//\\}\\results" "Z:${root//\//\\}\\site.xml" \
    >"$root/out" 2>"$root/err" &
  web_pid=$!
  url=""
  for _ in $(seq 1 300); do
    url=$(sed -n "s/.*the run's page: \(http[^[:space:]]*\).*/\1/p" "$root/err")
    [[ -n "$url" ]] && break
    sleep 0.1
  done
  [[ -n "$url" ]] || fail "--web: no page address printed"
  curl -s --max-time 10 -c "$root/jar" -b "$root/jar" -L "$url" >"$root/page.html"
  grep -q '<script id="hj5-data" type="application/json">{"live":true' \
    "$root/page.html" || fail "--web: the page was not served"
  [[ $(curl -s -o /dev/null -w '%{http_code}' --max-time 10 \
       "${url%%\?*}") == 403 ]] || fail "--web: served without the token"
  wait "$web_pid" || fail "--web: exit status $?"
  grep -q '"live":false' "$root/results/report.html" ||
    fail "--web: no report.html"
  echo "the live page served under wine, and report.html written"
fi
