#!/usr/bin/env bash
# Builds what is missing and starts Quillmark (64-bit) under Wine.
#
# On your display (DISPLAY set) the program runs until you close it. Without a
# display it runs on a virtual one, scans automatically, saves screenshots
# into build/screenshots/ and prints where they are.
#
# The update service asked is the reference one in update-service/, started
# on loopback with its sample catalogue. The machine scanned is the example PC in profiles/example-pc.xml unless
# QUILLMARK_MACHINE_PROFILE names another profile (Wine's own devices are
# too sparse to show anything). Extra arguments go to quillmark.exe.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null
source "$root/scripts/wine-env.sh"
wine_prepare_prefix

program=$root/build/x64/program/quillmark.exe

# The reference update service on loopback stands in for the real one; it
# ends with this script. QUILLMARK_MIRRORS, when set, points elsewhere.
if [ -z "${QUILLMARK_MIRRORS:-}" ]; then
    data=$root/build/x64/update-service
    ports=$(mktemp -u --suffix=.json)
    /usr/bin/python3 -B "$root/update-service/service.py" \
        --catalogue "$root/update-service/sample-catalogue.xml" \
        --packages "$data/packages" --pages "$data/pages" --ftp \
        --port-file "$ports" --parent-pid $$ >/dev/null 2>&1 &
    for _ in $(seq 1 100); do [ -s "$ports" ] && break; sleep 0.1; done
    [ -s "$ports" ] || { echo "the reference update service did not start" >&2; exit 1; }
    QUILLMARK_MIRRORS=$(python3 -c 'import json,sys; m=json.load(open(sys.argv[1]))["mirrors"]; print(";".join("http://127.0.0.1:%d/" % p for p in m))' "$ports")
    export QUILLMARK_MIRRORS
    rm -f "$ports"
    echo "[run] reference update service: $QUILLMARK_MIRRORS" >&2
fi
profile=${QUILLMARK_MACHINE_PROFILE:-$root/profiles/example-pc.xml}
case "$profile" in /*) profile=$(winepath_w "$profile") ;; esac
export QUILLMARK_MACHINE_PROFILE=$profile

if [ -n "${DISPLAY:-}" ]; then
    wine_start
    echo "Quillmark runs on $DISPLAY; close its window to end." >&2
    "$QM_WINE64" "$program" "$@"
    exit $?
fi

wine_start
shots=$root/build/screenshots
mkdir -p "$shots"
args=("$@")
[ ${#args[@]} -gt 0 ] || args=(--autoscan)
"$QM_WINE64" "$program" "${args[@]}" &
pid=$!

# Wait for the window, give the scan time to finish, then photograph it.
for _ in $(seq 1 100); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Quillmark"' && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
sleep "${QM_SHOT_DELAY:-4}"
shot=$shots/quillmark.png
window=$(xwininfo -name Quillmark 2>/dev/null | awk '/Window id:/ {print $4}')
if [ -n "$window" ]; then
    import -window "$window" "$shot"
    echo "Quillmark ran on the virtual display $DISPLAY; screenshot: $shot"
else
    echo "Quillmark did not open its window (exit code: $(wait "$pid"; echo $?))" >&2
    exit 1
fi
# Ending the wineserver ends the program with it.
disown "$pid" 2>/dev/null || true
