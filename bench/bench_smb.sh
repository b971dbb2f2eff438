#!/usr/bin/env bash
# Folders and files per second read over SMB on loopback: veltrano-cli collect against
# smbclient -c 'recurse; ls' on the same share in the same run, from a private smbd on a high
# port. Usage: bench/bench_smb.sh [veltrano-cli] [folders] [files-per-folder] [jobs]
set -euo pipefail

cli=${1:-build/dev/tools/veltrano-cli}
folders=${2:-2000}
files=${3:-20}
jobs=${4:-2}
cli=$(realpath "$cli")

work=$(mktemp -d /tmp/veltrano-bench-smb-XXXXXX)
chmod 755 "$work"
smbd_pid=
cleanup() {
    [ -n "$smbd_pid" ] && kill -TERM -- "-$smbd_pid" 2>/dev/null && wait "$smbd_pid" 2>/dev/null
    # smbd's RPC helper runs in a session of its own and outlives it.
    helper=$(cat "$work/pid/samba-dcerpcd.pid" 2>/dev/null || true)
    if [ -n "$helper" ] && grep -qa "$work/smb.conf" "/proc/$helper/cmdline" 2>/dev/null; then
        kill -TERM -- "-$helper" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The tree: $folders folders in two levels, $files files in each.
python3 - "$work/share" "$folders" "$files" <<'PY'
import os, sys
root, folders, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(folders):
    d = os.path.join(root, f"top{i % 50:02d}", f"資料夾{i:05d}")
    os.makedirs(d, exist_ok=True)
    for j in range(files):
        with open(os.path.join(d, f"檔案{j:03d}.txt"), "wb") as f:
            f.write(b"x" * j)
PY
find "$work/share" -type d -exec chmod 755 {} +
total_folders=$(find "$work/share" -type d | wc -l)
total_files=$(find "$work/share" -type f | wc -l)

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work"/{private,lock,state,cache,pid,ncalrpc}
cat > "$work/smb.conf" <<CONF
[global]
  disable netbios = yes
  smb ports = $port
  interfaces = 127.0.0.1
  bind interfaces only = yes
  private dir = $work/private
  lock directory = $work/lock
  state directory = $work/state
  cache directory = $work/cache
  pid directory = $work/pid
  ncalrpc dir = $work/ncalrpc
  log file = $work/smbd.log
  passdb backend = tdbsam:$work/private/passdb.tdb
  map to guest = Bad User
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
[share]
  path = $work/share
  guest ok = yes
  read only = yes
CONF
setsid /usr/sbin/smbd --foreground --no-process-group -s "$work/smb.conf" >/dev/null 2>&1 &
smbd_pid=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

seconds() { python3 -c 'import sys,time; print(f"{time.time():.3f}")'; }
rate() { python3 -c "import sys; print(f'{($1 + $2) / ($3):.0f}')"; }

echo "tree: $total_folders folders, $total_files files; smbd on 127.0.0.1:$port"
for round in 1 2; do
    t0=$(seconds)
    smbclient -N -p "$port" //127.0.0.1/share -c 'recurse; ls' >/dev/null 2>&1
    t1=$(seconds)
    rm -rf "$work/Cache"
    "$cli" collect --no-resolve --jobs "$jobs" --port "$port" --cache "$work/Cache" smb://127.0.0.1/share 2>/dev/null
    t2=$(seconds)
    s1=$(python3 -c "print(f'{$t1 - $t0:.2f}')")
    s2=$(python3 -c "print(f'{$t2 - $t1:.2f}')")
    echo "round $round: smbclient recurse ls ${s1} s, $(rate "$total_folders" "$total_files" "$s1") folders+files/s;" \
         "veltrano-cli collect ${s2} s, $(rate "$total_folders" "$total_files" "$s2") folders+files/s" \
         "($(python3 -c "print(f'{$total_folders / $s2:.0f}')") folders/s, $(python3 -c "print(f'{$total_files / $s2:.0f}')") files/s)"
done
