# Sourced by the scripts that run a Windows program under wine against the
# device emulator on the Linux side.
# start_emulator EMULATOR ROOT [emulator args...]: starts it on ports the OS
# picks with ROOT/device as its root, waits for its ports and sets
# emulator_pid, http_port, ftp_port and control_port. The caller's EXIT trap ends it.
start_emulator() {
  local emulator=$1 root=$2
  shift 2
  /usr/bin/python3 "$emulator" --http-port 0 --ftp-port 0 --control-port 0 \
    --root "$root/device" "$@" >"$root/ready" 2>"$root/log" &
  emulator_pid=$!
  for _ in $(seq 100); do
    grep -q '^http=' "$root/ready" 2>/dev/null && break
    sleep 0.1
  done
  local line
  line=$(grep '^http=' "$root/ready") || { cat "$root/log" >&2; return 1; }
  http_port=$(sed -n 's/^http=\([0-9]*\).*/\1/p' <<<"$line")
  ftp_port=$(sed -n 's/.* ftp=\([0-9]*\).*/\1/p' <<<"$line")
  control_port=$(sed -n 's/.* control=\([0-9]*\).*/\1/p' <<<"$line")
  mkdir -p "$root/device/www"
}
