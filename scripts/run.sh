#!/usr/bin/env bash
# Builds what is missing and starts Quillmark (64-bit) under Wine.
#
# On your display (DISPLAY set) the program runs until you quit it. Without a
# display it runs on a virtual one, scans, saves screenshots of the home,
# scan and download pages into build/screenshots/, downloads every driver on
# offer and installs one, opens the settings dialog, backs up the example PC's
# drivers on the Backup tab and shows them on the Restore tab, photographing
# each step, and prints where the pictures are.
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
    source "$root/scripts/reference-service.sh"
    start_reference_service "$root/update-service/sample-catalogue.xml" \
        "$root/build/x64/update-service" --ftp || exit 1
    echo "[run] reference update service: $QUILLMARK_MIRRORS" >&2
fi
profile=${QUILLMARK_MACHINE_PROFILE:-$root/profiles/example-pc.xml}
case "$profile" in /*) profile=$(winepath_w "$profile") ;; esac
export QUILLMARK_MACHINE_PROFILE=$profile
# The driver stores that profiles describe are made in the build tree.
export QUILLMARK_DRIVER_STORE=${QUILLMARK_DRIVER_STORE:-$(winepath_w "$root/build/x64/driver-store")}

if [ -n "${DISPLAY:-}" ]; then
    wine_start
    echo "Quillmark runs on $DISPLAY; close its window to end." >&2
    "$QM_WINE64" "$program" "$@"
    exit $?
fi

wine_start
# The demonstration downloads, installs and backs up anew each time: what an
# earlier run left in the program folder goes first.
rm -rf "$root/build/x64/program/download" "$root/build/x64/program/backup" \
    "$root/build/x64/program/setup.dat" "$root/build/x64/program/backup.xml"
shots=$root/build/screenshots
mkdir -p "$shots"
rm -f "$shots"/home.png "$shots"/scan.png "$shots"/results.png "$shots"/downloading.png \
      "$shots"/downloaded.png "$shots"/installing.png "$shots"/settings.png \
      "$shots"/backup.png "$shots"/backup-done.png "$shots"/restore.png
# The program photographs itself while it asks the update service and when
# it shows the results; a scan against loopback is too quick to catch from
# outside.
export QUILLMARK_DEMO_SHOTS=$(winepath_w "$shots")

window_id() { xwininfo -name Quillmark 2>/dev/null | awk '/Window id:/ {print $4}'; }

"$QM_WINE64" "$program" "$@" &
pid=$!
for _ in $(seq 1 150); do
    [ -n "$(window_id)" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
done
if [ -z "$(window_id)" ]; then
    echo "Quillmark did not open its window (exit code: $(wait "$pid"; echo $?))" >&2
    exit 1
fi
sleep 2
import -window "$(window_id)" "$shots/home.png"
# A second launch with --autorun hands over to the running program, which
# then scans, as the weekly scheduled task would make it do.
"$QM_WINE64" "$program" --autorun || true  # the second instance ends with -1
for _ in $(seq 1 100); do
    [ -s "$shots/results.png" ] && break
    sleep 0.2
done
sleep 1
# The main job, as a person does it: on the download page, "Select all",
# "Download all" and Yes; the rows photographed while they download (the
# reference service slows its bodies meanwhile) and once they are done; then
# Install on the first row, which starts our DPInst on the unpacked package.
# Then the Settings tab, the fifth tab of the caption: the settings dialog
# photographs itself once it is up.
if [ -s "$shots/results.png" ]; then
    origin=$(xwininfo -id "$(window_id)" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print x, y}')
    read -r left top <<<"$origin"
    size=$(xwininfo -id "$(window_id)" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
    # Two moves, as a hand makes them: the caption changes one tab's look per move.
    click() {
        xdotool mousemove $((left + $1)) $((top + $2 - 2)) sleep 0.2 \
            mousemove $((left + $1)) $((top + $2)) sleep 0.3 click 1 sleep 0.5 || true
    }
    # The screen around the window: message boxes and installers are windows
    # of their own.
    screen_shot() { import -window root -crop "$size+$left+$top" +repage "$1"; }
    # Faults on demand, when the service is ours.
    service() { [ -z "${reference_control:-}" ] || reference_service "$@" || true; }
    service faults '{"1": {"slow_body": 3}, "2": {"slow_body": 3}, "3": {"slow_body": 3}}'
    click 20 575
    click 463 576
    sleep 1
    click 467 380  # Yes
    sleep 1
    screen_shot "$shots/downloading.png"
    service reset ''
    sleep 5
    screen_shot "$shots/downloaded.png"
    click 469 246
    sleep 3
    screen_shot "$shots/installing.png"
    xdotool mousemove $((left + 384)) $((top + 58)) sleep 0.2 \
        mousemove $((left + 384)) $((top + 60)) sleep 0.2 click 1 || true
    for _ in $(seq 1 50); do
        [ -s "$shots/settings.png" ] && break
        sleep 0.2
    done
    xdotool key Escape sleep 0.5 || true
    # The Backup tab; on its page the root of the available drivers checks
    # every package, and the large button backs them up into the backup folder.
    click 219 60
    sleep 1
    import -window "$(window_id)" "$shots/backup.png"
    click 31 131
    click 554 474
    sleep 4
    screen_shot "$shots/backup-done.png"
    xdotool key Return sleep 0.5 || true
    # The Restore tab lists the backups just made.
    click 301 60
    sleep 1
    import -window "$(window_id)" "$shots/restore.png"
fi
echo "Quillmark ran on the virtual display $DISPLAY and scanned the example PC. Screenshots:"
for f in home scan results downloading downloaded installing settings backup backup-done restore; do
    [ -s "$shots/$f.png" ] && echo "  $shots/$f.png"
done
[ -s "$shots/results.png" ] || { echo "the scan did not reach the results page" >&2; exit 1; }
# The installation of the first row ran our DPInst silently; its log tells.
log=$WINEPREFIX/drive_c/windows/DPINST.LOG
if [ -s "$log" ]; then
    echo "The installer's log of the installation (C:\windows\DPINST.LOG):"
    tail -n 5 "$log" | sed 's/^/  /'
fi
# Ending the wineserver ends the program with it.
disown "$pid" 2>/dev/null || true
