#!/usr/bin/env bash
# The main job, end to end, as a user does it, with the real programs and
# windows on a virtual display, for each kind of Windows (win64 gets the
# 64-bit program, win32 the 32-bit one):
#
#   tests/setup/main_job_test.sh [win64|win32]...   (default: both)
#
# Installs with the setup program into a fresh prefix, starts Quillmark from
# the Start-menu shortcut, scans the example PC against the reference update
# service, downloads everything, pauses and resumes one download, quits while
# downloads run (and confirms), starts again (the downloads show paused and
# resume to the exact bytes), installs one package (our DPInst stages its
# INF in the system's INF folder), backs up two packages, restores one and
# uninstalls. Every step is photographed into build/main-job/ARCH-NN-STEP.png.
# Needs a display (test.sh provides one) and build/setup/quillmark-setup-*.exe.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/tests/setup/setup_common.sh"
source "$root/scripts/reference-service.sh"
begin_setup_test "$root/build/main-job"
reference_pid=""
trap '[ -z "$reference_pid" ] || kill "$reference_pid" 2>/dev/null' EXIT

# --- the window, as a person uses it ------------------------------------------

window_id() { xwininfo -name Quillmark 2>/dev/null | awk '/Window id:/ {print $4}'; }
no_window() { [ -z "$(window_id)" ]; }
# Where the main window is on the screen: sets $left and $top.
find_window() {
    read -r left top < <(xwininfo -id "$(window_id)" |
        awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print x, y}')
}
# click X Y: the pointer moves onto a point of the window in two steps, as a
# hand does (the skinned buttons light up on the first), and clicks.
click() {
    xdotool mousemove $((left + $1)) $((top + $2 - 2)) sleep 0.2 \
        mousemove $((left + $1)) $((top + $2)) sleep 0.3 click 1 sleep 0.6
}
step=0
# photo NAME: the screen where the window is (message boxes and menus
# included), numbered in the order of the steps.
photo() {
    step=$((step + 1))
    import -window root -crop "800x600+$left+$top" +repage \
        "$out/$arch-$(printf %02d $step)-$1.png" 2>/dev/null
}
# Positions on the 800x600 window (English texts).
start_scan=(275 333) select_all=(20 575) download_all=(463 576) yes_button=(467 380)
row_button_1=(469 246) row_button_2=(469 339) menu_button=(689 14) menu_exit=(717 91)
backup_tab=(219 60) restore_tab=(301 60) big_button=(554 474)
backup_row_3=(54 180) backup_row_4=(54 196) restore_row_1=(32 132)

# DPInst's own window: its summary waits for its Close button (bottom right).
dpinst_id() { xwininfo -name 'Driver package installer' 2>/dev/null | awk '/Window id:/ {print $4}'; }
dpinst_shown() { [ -n "$(dpinst_id)" ]; }
no_dpinst() { [ -z "$(dpinst_id)" ]; }
close_dpinst() {
    local x y w h
    sleep 1  # the button is enabled once the summary is shown
    read -r x y w h < <(xwininfo -id "$(dpinst_id)" | awk '/Absolute upper-left X:/ {x=$4}
        /Absolute upper-left Y:/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
    xdotool mousemove $((x + w - 60)) $((y + h - 31)) sleep 0.3 \
        mousemove $((x + w - 60)) $((y + h - 29)) sleep 0.3 click 1 sleep 0.5
}

# --- the reference update service ----------------------------------------------

# The sample catalogue, with one change: the Intel graphics package also
# serves the display adapter that Wine reports, so that installing it finds
# a present device and stages the INF as on a real PC.
make_service_data() {
    local hardware_id=$1 data=$2
    rm -rf "$data"
    mkdir -p "$data"
    python3 - "$root/update-service/sample-catalogue.xml" "$data/catalogue.xml" "$hardware_id" <<'EOF'
import sys
text = open(sys.argv[1], encoding="utf-8").read()
anchor = '<hardware id="PCI\\VEN_8086&amp;DEV_0166" cp="1"/>'
assert anchor in text
extra = '<hardware id="%s" cp="1"/>' % sys.argv[3].replace("&", "&amp;")
open(sys.argv[2], "w", encoding="utf-8").write(text.replace(anchor, anchor + extra, 1))
EOF
    python3 -B "$root/update-service/make_samples.py" "$data/catalogue.xml" "$data" >/dev/null
}
scans_answered() { cat "$data/requests.log" 2>/dev/null | grep -c '"method": "POST", "path": "/"'; }

# --- what the user's disk shows --------------------------------------------------

# Every file in the download folder is a package of the service or the start
# of one (a partial download); with "complete", every one is a whole package.
downloads_true() {
    python3 - "$dir/download" "$data/packages" "${1:-}" <<'EOF'
import os, sys
folder, packages, complete = sys.argv[1], sys.argv[2], sys.argv[3] == "complete"
truth = [open(os.path.join(packages, f), "rb").read() for f in os.listdir(packages)]
# A package's ".link" file names the link it came from, not package bytes.
names = [f for f in os.listdir(folder)
         if os.path.isfile(os.path.join(folder, f)) and not f.endswith(".link")]
def as_served(name):
    data = open(os.path.join(folder, name), "rb").read()
    if name.endswith(".tmp"):
        return not complete and any(t.startswith(data) for t in truth)
    return data in truth
sys.exit(0 if names and all(as_served(n) for n in names) else 1)
EOF
}
partial_downloads() { ls "$dir/download" | grep -c '\.tmp$'; }
complete_downloads() { ls "$dir/download" | grep -c '\.zip$'; }
# Windows stages an INF as oemN.inf, Wine under its own name.
system_infs() { ls "$WINEPREFIX/drive_c/windows/inf" | grep -ci '\.inf$'; }
backups() { ls "$dir/backup" | grep -c '\.zip$'; }
more_than() { [ "$("$1")" -gt "$2" ]; }  # more_than COUNTER N
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
    local tries=$(($1 * 5))
    for _ in $(seq 1 "$tries"); do
        "${@:2}" >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}
start_from_shortcut() {
    "$wine" start "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quillmark\\Quillmark.lnk"
    window_up && sleep 2 && find_window
}
scan() {  # clicks "Start scan" and waits for the answer to be shown
    local before
    before=$(scans_answered)
    click "${start_scan[@]}"
    wait_for 30 more_than scans_answered "$before" && sleep 3
}

main_job() {
    arch=$1 step=0
    echo "[main-job] $arch: a fresh prefix and a silent installation"
    fresh_prefix "$arch" "$out/$arch-prefix"
    rm -f "$out/$arch"-*.png
    "$wine" start /wait /unix "$setup" /S
    check "the setup program installs" equals "$?" 0
    /usr/lib/wine/wineserver -w
    dir=$WINEPREFIX/drive_c/$programs/Quillmark

    # The display adapter Wine reports, for the package that installs.
    local display_id
    display_id=$("$wine" reg query 'HKLM\System\CurrentControlSet\Enum\PCI' /s 2>/dev/null | tr -d '\r' |
        awk '/HardwareID/ {print $3; exit}')
    data=$out/$arch-service
    make_service_data "${display_id:-PCI\\VEN_0000&DEV_0000&SUBSYS_00000000&REV_00}" "$data"
    start_reference_service "$data/catalogue.xml" "$data" --log "$data/requests.log" \
        --idle-timeout 600 || return
    # The example PC; on a 32-bit Windows, as its 32-bit edition, so that the
    # program starts the DPInst that can run there.
    local profile=$out/$arch-profile.xml
    if [ "$arch" = win64 ]; then
        cp "$root/profiles/example-pc.xml" "$profile"
    else
        sed 's/ arch="9"/ arch="0"/' "$root/profiles/example-pc.xml" >"$profile"
    fi
    export QUILLMARK_MACHINE_PROFILE
    QUILLMARK_MACHINE_PROFILE=$(winepath_w "$profile")
    export QUILLMARK_DRIVER_STORE
    QUILLMARK_DRIVER_STORE=$(winepath_w "$root/build/x64/driver-store")

    echo "[main-job] $arch: scan, download, pause and resume"
    check "the Start-menu shortcut starts Quillmark" start_from_shortcut || return
    photo home
    check "the scan is answered" scan
    photo download-page
    # Slow bodies: every download stops after its first kilobyte for a while.
    reference_service faults '{"1": {"slow_body": 25}, "2": {"slow_body": 25}, "3": {"slow_body": 25}}'
    click "${select_all[@]}"
    click "${download_all[@]}"
    photo download-all-confirm
    click "${yes_button[@]}"
    check "downloads start" wait_for 10 more_than partial_downloads 2
    photo downloading
    click "${row_button_1[@]}"
    sleep 1
    photo first-paused
    check "partial downloads are the start of their packages" downloads_true
    click "${row_button_1[@]}"
    sleep 2
    photo first-resumed

    echo "[main-job] $arch: quit while downloading, start again"
    click "${menu_button[@]}"
    photo menu
    click "${menu_exit[@]}"
    photo quit-confirm
    click "${yes_button[@]}"
    check "Quillmark quits after Yes" wait_for 20 no_window
    /usr/lib/wine/wineserver -w
    local left_partial
    left_partial=$(partial_downloads)
    check "partial downloads stay on disk" test "$left_partial" -gt 0
    check "and are the start of their packages" downloads_true
    reference_service reset ''
    check "Quillmark starts again" start_from_shortcut || return
    check "the second scan is answered" scan
    photo paused-after-restart
    check "nothing downloads before the user says so" test "$(partial_downloads)" -eq "$left_partial"
    local complete_before
    complete_before=$(complete_downloads)
    click "${row_button_2[@]}"
    check "a paused download resumes" wait_for 10 more_than complete_downloads "$complete_before"
    click "${select_all[@]}"
    click "${download_all[@]}"
    click "${yes_button[@]}"
    check "every download resumes to its package's exact bytes" wait_for 30 downloads_true complete
    photo downloaded

    echo "[main-job] $arch: install, back up, restore"
    local infs_before
    infs_before=$(system_infs)
    click "${row_button_1[@]}"
    check "installing stages the INF in the system's INF folder" \
        wait_for 20 more_than system_infs "$infs_before"
    check "DPInst shows its summary" wait_for 20 dpinst_shown
    photo installed
    close_dpinst
    check "the summary closes with its button" wait_for 10 no_dpinst
    click "${backup_tab[@]}"
    photo backup-page
    click "${backup_row_3[@]}"
    click "${backup_row_4[@]}"
    click "${big_button[@]}"
    check "two packages are backed up" wait_for 20 more_than backups 1
    sleep 1
    photo backed-up
    xdotool key Return sleep 0.5
    check "the catalogue lists both" test "$(grep -c '<driver>' "$dir/backup.xml")" -eq 2
    click "${restore_tab[@]}"
    photo restore-page
    click "${restore_row_1[@]}"
    click "${big_button[@]}"
    check "restoring unpacks the backup and installs it" wait_for 20 \
        grep -q 'Quillmark\\backup\\.*\.inf' "$WINEPREFIX/drive_c/windows/DPINST.LOG"
    check "DPInst shows the restore's summary" wait_for 20 dpinst_shown
    photo restored
    close_dpinst
    check "the restore's summary closes" wait_for 10 no_dpinst

    echo "[main-job] $arch: quit and uninstall"
    click "${menu_button[@]}"
    click "${menu_exit[@]}"
    check "Quillmark quits without asking when nothing downloads" wait_for 20 no_window
    /usr/lib/wine/wineserver -w
    "$wine" start /wait /unix "$dir/uninstall.exe" /S
    /usr/lib/wine/wineserver -w
    check "the uninstaller removes the program" test ! -e "$dir/quillmark.exe"
    check "the downloads stay" test -n "$(ls "$dir/download")"
    check "the backups stay" test -n "$(ls "$dir/backup")"
    kill "$reference_pid" 2>/dev/null
    reference_pid=""
    /usr/lib/wine/wineserver -k 2>/dev/null
}

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(win64 win32)
for kind in "${kinds[@]}"; do main_job "$kind"; done
if [ $failures -gt 0 ]; then
    echo "[main-job] $failures checks failed; the steps' pictures are in $out"
    exit 1
fi
echo "[main-job] passed; the steps' pictures are in $out"
