#!/usr/bin/env bash
# The Windows installer under wine, in a prefix of its own:
#   msiexec /i installs both programs under Program Files and the form's
#   Start-menu shortcut, and the installed hj5-update.exe --version answers;
#   an installer of a later version (the same files, built by
#   scripts/build-msi) replaces it, and the older one is then refused;
#   msiexec /x leaves nothing behind: the prefix's files are as before the
#   first install, and the registry holds nothing of the tool.
# Usage: tests/packaging/msi_under_wine.sh MSI ICON PREFIX
#   ICON  the form's icon, for the later version's installer
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
msi=$(realpath "$1") icon=$(realpath "$2") prefix=$3
version=$(head -n 1 "$top/VERSION")
IFS=. read -r major minor patch <<<"$version"
next="$major.$minor.$((patch + 1))"

# winemenubuilder would copy the shortcut into this machine's own menus.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
wine() { env -u DISPLAY /usr/lib/wine/wine64 "$@"; }
say() { printf 'msi_under_wine: %s\n' "$*"; }
fail() { say "FAIL: $*"; exit 1; }

work=$(mktemp -d /tmp/hj5-msi-test-XXXXXX)
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

product_code() {
  msiinfo export "$1" Property | tr -d '\r' | awk '$1 == "ProductCode" {print $2}'
}
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
registered() { wine reg query "$uninstall_key\\$1" >/dev/null 2>&1; }
# The prefix's files, but for Windows Installer's own cache folder, which
# is checked apart.
files() { (cd "$WINEPREFIX/drive_c" && find . -path ./windows/Installer -prune -o -print | sort); }
shortcuts() { find "$WINEPREFIX/drive_c" -name 'HJ-5 XML File Update.lnk'; }

installed="$WINEPREFIX/drive_c/Program Files/HJ-5 XML File Update"
first=$(product_code "$msi")
[[ -n "$first" ]] || fail "no ProductCode in $msi"

files >"$work/before"

say "msiexec /i $(basename "$msi")"
wine msiexec /i "$msi" /qn || fail "msiexec /i exited $?"
for file in hj5-xml-update.exe hj5-update.exe README.txt licenses/asio.txt \
            licenses/boost.txt licenses/chart.js.txt \
            licenses/gcc-runtime.txt licenses/mingw-w64.txt; do
  [[ -f "$installed/$file" ]] || fail "not installed: $file"
done
[[ $(shortcuts | wc -l) -eq 1 ]] || fail "not one Start-menu shortcut: $(shortcuts)"
registered "$first" || fail "no uninstall entry $first"
answer=$(wine 'C:\Program Files\HJ-5 XML File Update\hj5-update.exe' --version | tr -d '\r')
[[ "$answer" == "hj5-update $version" ]] || fail "installed hj5-update.exe --version: '$answer'"
say "installed; hj5-update.exe --version: $answer"
# The version resource, as the file's properties page shows it.
for program in hj5-xml-update hj5-update; do
  strings -el "$installed/$program.exe" | grep -A1 -x ProductVersion |
    grep -q -x "$version" || fail "$program.exe: no ProductVersion $version"
done

say "an upgrade to $next"
cp -r "$installed" "$work/files"
bash "$top/scripts/build-msi" --version "$next" "$icon" "$work/files" "$work/next.msi" >/dev/null
second=$(product_code "$work/next.msi")
wine msiexec /i "$work/next.msi" /qn || fail "msiexec /i (upgrade) exited $?"
registered "$second" || fail "no uninstall entry $second after the upgrade"
! registered "$first" || fail "$version still registered after the upgrade"
[[ -f "$installed/hj5-update.exe" ]] || fail "hj5-update.exe gone after the upgrade"
[[ $(shortcuts | wc -l) -eq 1 ]] || fail "not one shortcut after the upgrade"
say "upgraded: $second replaces $first"

if wine msiexec /i "$msi" /qn; then
  fail "the older $version installed over $next"
fi
registered "$second" || fail "$next gone after the refused downgrade"
say "the older installer is refused"

say "msiexec /x"
wine msiexec /x "$work/next.msi" /qn || fail "msiexec /x exited $?"
files >"$work/after"
diff "$work/before" "$work/after" || fail "files left behind (or lost)"
left=$(find "$WINEPREFIX/drive_c/windows/Installer" -mindepth 1 2>/dev/null || true)
[[ -z "$left" ]] || fail "left in Windows Installer's cache: $left"
/usr/lib/wine/wineserver -w  # the registry is on disk once the server ends
packed() {  # a GUID as Windows Installer writes it in its keys
  local hex=${1//[\{\}-]/}
  local out="" i
  out+=$(rev <<<"${hex:0:8}")$(rev <<<"${hex:8:4}")$(rev <<<"${hex:12:4}")
  for ((i = 16; i < 32; i += 2)); do out+=${hex:i+1:1}${hex:i:1}; done
  printf '%s' "$out"
}
for needle in 'HJ-5 XML File Update' 'Quorvel' 'hj5-update' 'hj5-xml-update' \
              "${first//[\{\}]/}" "${second//[\{\}]/}" \
              "$(packed "$first")" "$(packed "$second")" \
              "$(packed AA8D14C5-2438-434F-823A-6EF19E10CAB8)"; do
  if grep -i -F -q -- "$needle" "$WINEPREFIX"/*.reg; then
    grep -i -F -- "$needle" "$WINEPREFIX"/*.reg >&2
    fail "the registry still holds '$needle'"
  fi
done
say "uninstalled: nothing left behind"
