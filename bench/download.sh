#!/usr/bin/env bash
# Download benchmark group: a 256 MiB package of pseudo-random bytes (made once
# under $QM_BENCH_OUT/download/, with its MD5) served on loopback by a small C
# server with Range support; first the server alone (the host's curl to
# /dev/null), then download_bench.exe under Wine: the download session fresh
# and resumed from half against a bare libcurl loop, and the cost of the
# per-write flush. QM_DOWNLOAD_RUNS sets the most rounds (9); rounds stop
# early so that the group stays within its 3 minutes on a loaded machine.
set -euo pipefail
source "$QM_ROOT/scripts/wine-env.sh"

out=$QM_BENCH_OUT/download
mkdir -p "$out"
size=$((256 * 1024 * 1024))
half=$((size / 2))
runs=${QM_DOWNLOAD_RUNS:-9}
package=$out/package.bin

if [ ! -f "$package.md5" ] || [ "$(stat -c %s "$package" 2>/dev/null)" != "$size" ]; then
    echo "making the $((size >> 20)) MiB package"
    rm -f "$package.md5"
    head -c "$size" /dev/urandom >"$package.part"
    md5sum "$package.part" | cut -d' ' -f1 >"$package.md5.part"
    mv "$package.part" "$package"
    mv "$package.md5.part" "$package.md5"
fi
md5=$(cat "$package.md5")
if [ "$(stat -c %s "$out/half.bin" 2>/dev/null)" != "$half" ] || [ "$out/half.bin" -ot "$package" ]; then
    head -c "$half" "$package" >"$out/half.bin"
fi

# The server, built with the host's C compiler (installed when missing).
if ! command -v gcc >/dev/null; then
    apt-get install -y gcc >/dev/null
fi
server=$out/download_server
if [ ! -x "$server" ] || [ "$server" -ot "$QM_ROOT/bench/download_server.c" ]; then
    gcc -O2 -Wall -Wextra -o "$server" "$QM_ROOT/bench/download_server.c"
fi
rm -f "$out/port"
"$server" "$package" /packages/driver-package.zip "$out/port" &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ -s "$out/port" ] && break
    kill -0 "$server_pid" 2>/dev/null || { echo "the server did not start" >&2; exit 1; }
    sleep 0.05
done
[ -s "$out/port" ] || { echo "the server did not start" >&2; exit 1; }
url=http://127.0.0.1:$(cat "$out/port")/packages/driver-package.zip

# The server alone: the host's curl, nothing written.
speeds=()
for _ in 1 2 3 4 5; do
    speeds+=("$(curl -sS --fail -o /dev/null -w '%{speed_download}' "$url")")
done
server_mibs=$(printf '%s\n' "${speeds[@]}" | sort -g | awk '{v[NR]=$1} END {printf "%.1f", v[int((NR+1)/2)] / 1048576}')
echo "server alone (host curl to /dev/null): ${speeds[*]} bytes/s"
printf 'BENCH {"name": "download-server", "what": "the loopback server alone: host curl to /dev/null, median of 5", "ours": %s, "baseline": null, "unit": "MiB/s", "compare": "info", "target": 0, "detail": {}}\n' "$server_mibs"

"$QM_WINE64" "$QM_BENCH_BIN/download_bench.exe" "$url" "$(winepath_w "$out")" "$size" "$md5" \
    "$(winepath_w "$out/half.bin")" "$runs" "$((150 - SECONDS))"
