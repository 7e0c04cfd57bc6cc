#!/usr/bin/env bash
# The run's folder between two local users, with the real hj5-update: the
# operator's runs as an unprivileged user (created here when run as root),
# the other user as root, each against an emulated device on loopback.
#   - a new folder is the user's alone (0700, its files 0600);
#   - a folder of another user, or one others may write, is refused before
#     any traffic, and a file planted there is left as it was;
#   - a second run into a locked folder is refused (exit 2); the lock of a
#     run killed with -9 is no obstacle.
# Usage: run_folder_users.sh EMULATOR HJ5_UPDATE
set -euo pipefail
emulator=$1
tool=$2
user=hj5-operator

if [[ $(id -u) -ne 0 ]]; then
  echo "run_folder_users: needs root to act as two users; skipped"
  exit 0
fi
id "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user"

work=$(mktemp -d /tmp/hj5-users-XXXXXX)
chmod 755 "$work"
emu_pid=""
cleanup() {
  [[ -n "$emu_pid" ]] && kill "$emu_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The programs where the other user can run them.
install -m 755 "$tool" "$work/hj5-update"
printf '<?xml version="1.0"?>\n<a/>\n' > "$work/site.xml"
chmod 644 "$work/site.xml"

/usr/bin/python3 "$emulator" --reboot-seconds 0.2 \
  --fault '{"match": {"MODE": "4"}, "delay_ms": 6000, "times": 1}' \
  > "$work/emulator.out" 2>&1 &
emu_pid=$!
for _ in $(seq 1 100); do grep -q '^http=' "$work/emulator.out" && break; sleep 0.1; done
read -r http ftp < <(sed -n 's/^http=\([0-9]*\) ftp=\([0-9]*\).*/\1 \2/p' "$work/emulator.out")
[[ -n "$http" ]] || { echo "the emulator did not start"; cat "$work/emulator.out"; exit 1; }

failures=0
check() {  # check WHAT EXPECTED ACTUAL
  if [[ "$2" != "$3" ]]; then
    echo "FAIL: $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}
# hj5-update --check on the device into FOLDER, as USER; its exit status.
run_as() {
  local as=$1 folder=$2
  shift 2
  local status=0
  runuser -u "$as" -- env HJ5_PASSWORD=hj5pass "$work/hj5-update" --check \
    --address "127.0.0.1:$http" --ftp-port "$ftp" --id admin \
    --results "$folder" "$@" > "$work/out" 2> "$work/err" || status=$?
  echo "$status"
}

# One run at a time; the first one waits 6 s for the device's answer.
mkdir "$work/home" && chown "$user" "$work/home" && chmod 700 "$work/home"
run_as "$user" "$work/home/run" > /dev/null &
first=$!
for _ in $(seq 1 50); do [[ -f "$work/home/run/run.json" ]] && break; sleep 0.1; done
check "a second run into a running run's folder" 2 "$(run_as "$user" "$work/home/run")"
check "its reason" 1 "$(grep -c 'another run holds it' "$work/err")"
pkill -9 -f "results $work/home/run" || true
wait "$first" 2>/dev/null || true
check "after kill -9 the folder is free" 0 "$(run_as "$user" "$work/home/run")"

modes=$(cd "$work/home/run" && stat -c '%a %n' . logs run.json journal.jsonl summary.json junit.xml failed.csv not-started.csv logs/* | sort)
check "owner-only modes" "$(printf '600 failed.csv\n600 journal.jsonl\n600 junit.xml\n600 logs/0001-127.0.0.1_%s.log\n600 not-started.csv\n600 run.json\n600 summary.json\n700 .\n700 logs' "$http" | sort)" "$modes"

# A folder that others may write, where another user planted links.
mkdir -m 1777 "$work/shared"
echo "keep" > "$work/victim"
chown "$user" "$work/victim"
chmod 600 "$work/victim"
ln -s "$work/victim" "$work/shared/journal.jsonl"
check "another user's folder" 2 "$(run_as "$user" "$work/shared")"
check "its reason" 1 "$(grep -c 'belongs to another user' "$work/err")"
mkdir -m 700 "$work/home/loose" && chown "$user" "$work/home/loose"
chmod 770 "$work/home/loose"
check "a folder its group may write" 2 "$(run_as "$user" "$work/home/loose")"
check "its reason" 1 "$(grep -c "chmod 700 $work/home/loose" "$work/err")"
# The other way round: root's run into a folder the other user owns.
mkdir -m 700 "$work/home/theirs" && chown "$user" "$work/home/theirs"
ln -s "$work/victim" "$work/home/theirs/journal.jsonl"
check "root into another user's folder" 2 "$(run_as root "$work/home/theirs")"
check "the planted link's file is untouched" keep "$(cat "$work/victim")"
# A link planted in the user's own folder: refused, nothing written through it.
mkdir -m 700 "$work/home/own" && chown "$user" "$work/home/own"
ln -s "$work/victim" "$work/home/own/journal.jsonl"
chown -h "$user" "$work/home/own/journal.jsonl"
check "a link where the journal goes" 2 "$(run_as "$user" "$work/home/own")"
check "its reason" 1 "$(grep -c 'journal.jsonl: is a symbolic link' "$work/err")"
check "the file it points at is untouched" keep "$(cat "$work/victim")"

((failures == 0)) || exit 1
echo "run_folder_users: all passed"
