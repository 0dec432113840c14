#!/usr/bin/env bash
# The setup program and its uninstaller, tried in fresh Wine prefixes: a
# 64-bit Windows gets the 64-bit program, a 32-bit Windows the 32-bit one.
#
#   tests/setup/setup_test.sh [win64|win32]...   (default: both)
#
# Needs a display (test.sh provides one) and build/setup/quillmark-setup-*.exe.
# For each kind of Windows: a silent install in the language given by /LANG,
# its files, shortcut and registry values; the installed program started from
# the shortcut's folder reaches its window in that language (screenshot in
# build/setup-test/); an invalid /LANG is refused; a silent uninstall removes
# our files, the shortcut, the uninstall entry, the Run entry and both work
# items, and keeps the user's settings and the download and backup folders.
# On the 64-bit Windows a user then installs by hand with the keyboard, in
# Japanese, starts the program from the last page, and uninstalls by hand
# without keeping the settings; each page is photographed. Then, for each
# kind, folders outside Program Files: a new one is reserved to
# administrators with icacls (Wine's own icacls changes nothing, so a
# recording one stands in for it), a folder with other files is refused,
# and so is the install when icacls fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/tests/setup/setup_common.sh"
begin_setup_test "$root/build/setup-test"

try_windows() {
    local arch=$1 lang_number=2 lang_name=Deutsch
    echo "[setup-test] $arch: a fresh prefix"
    fresh_prefix "$arch" "$out/$arch-prefix"
    local c=$WINEPREFIX/drive_c dir=$WINEPREFIX/drive_c/$programs/Quillmark
    local menu=$c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Quillmark
    local uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark'
    local run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

    use_recording_icacls

    "$wine" start /wait /unix "$setup" /S /LANG=12
    check "/LANG=12 is refused (exit code 2)" equals "$?" 2
    check "and installs nothing" test ! -e "$dir"

    "$wine" start /wait /unix "$setup" /S /LANG=$lang_number
    check "silent install ends with 0" equals "$?" 0
    /usr/lib/wine/wineserver -w
    local f
    for f in quillmark.exe language.ini DPInst32.exe DPInst64.exe uninstall.exe; do
        check "$f installed" test -s "$dir/$f"
    done
    check "quillmark.exe is the $arch program" equals "$(pe_machine "$dir/quillmark.exe")" "$machine"
    check "Program Files keeps its own permissions (no icacls)" test ! -s "$c/icacls-calls.txt"
    check "Start-menu shortcut" test -s "$menu/Quillmark.lnk"
    check "language number $lang_number for the first run" \
        equals "$(reg_value 'HKCU\SOFTWARE\Vantorel_Init' language)" "0x$lang_number"
    local name
    for name in DisplayName:Quillmark Publisher:Vantorel DisplayVersion:"$(sed -n 's/^project(Quillmark VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")" \
                UninstallString:"\"C:\\$programs\\Quillmark\\uninstall.exe\"" \
                DisplayIcon:"C:\\$programs\\Quillmark\\quillmark.exe,0"; do
        check "Programs and Features: ${name%%:*}" equals "$(reg_value "$uninstall_key" "${name%%:*}")" "${name#*:}"
    done
    check "Programs and Features: EstimatedSize" test -n "$(reg_value "$uninstall_key" EstimatedSize)"

    # The program, started where the shortcut points, opens its window and
    # takes the language chosen in the setup.
    (cd "$dir" && "$wine" quillmark.exe >/dev/null 2>&1 &)
    check "the installed program opens its window" window_up
    sleep 2
    import -window root "$out/$arch-first-run.png" 2>/dev/null
    check "it starts in $lang_name" equals "$(reg_value 'HKCU\SOFTWARE\Vantorel' language)" "$lang_name"
    "$wine" start /wait /unix "$setup" /S
    check "a setup while the program runs ends with 3" equals "$?" 3
    check "and leaves the program in place" test -s "$dir/quillmark.exe"
    /usr/lib/wine/wineserver -k
    /usr/lib/wine/wineserver -w

    # What a user and the program leave behind before uninstalling: packages
    # and backups, the Run entry and the two work items.
    mkdir -p "$dir/download" "$dir/backup"
    echo package >"$dir/download/package.zip"
    echo backup >"$dir/backup/backup.zip"
    "$wine" reg add "$run_key" /v Quillmark /d "\"C:\\$programs\\Quillmark\\quillmark.exe\"" /f >/dev/null 2>&1
    local tasks
    tasks=$(find "$c/windows" -maxdepth 1 -iname tasks | head -1)
    : >"$tasks/Quillmark.job"
    : >"$tasks/Quillmark Autostart.job"
    : >"$tasks/Someone else.job"
    # The tasks of this user under their per-user names: work items (before
    # Vista) and Task Scheduler 2.0 tasks, the weekly one and the log-on one.
    local sam
    sam=$("$wine" cmd /c 'echo %COMPUTERNAME%+%USERNAME%' 2>/dev/null | tr -d '\r')
    mkdir -p "$c/windows/system32/tasks"
    for name in "Quillmark ($sam)" "Quillmark Autostart ($sam)"; do
        : >"$tasks/$name.job"
        echo '<?xml version="1.0"?><Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task"/>' \
            >"$c/windows/system32/tasks/$name"
    done

    "$wine" start /wait /unix "$dir/uninstall.exe" /S
    /usr/lib/wine/wineserver -w
    for f in quillmark.exe language.ini DPInst32.exe DPInst64.exe uninstall.exe; do
        check "$f removed" test ! -e "$dir/$f"
    done
    check "the downloads stay" test -s "$dir/download/package.zip"
    check "the backups stay" test -s "$dir/backup/backup.zip"
    check "Start-menu shortcut removed" test ! -e "$menu"
    check "Programs and Features entry removed" no_key "$uninstall_key"
    check "Run entry removed" equals "$(reg_value "$run_key" Quillmark)" ""
    check "work item Quillmark removed" test ! -e "$tasks/Quillmark.job"
    check "work item Quillmark Autostart removed" test ! -e "$tasks/Quillmark Autostart.job"
    check "another work item stays" test -e "$tasks/Someone else.job"
    for name in "Quillmark ($sam)" "Quillmark Autostart ($sam)"; do
        check "this user's work item $name removed" test ! -e "$tasks/$name.job"
        check "this user's task $name removed" test ! -e "$c/windows/system32/tasks/$name"
    done
    check "silent uninstall keeps the settings" has_key 'HKCU\SOFTWARE\Vantorel'
    /usr/lib/wine/wineserver -k 2>/dev/null
    [ "$arch" = win64 ] || return 0

    echo "[setup-test] $arch: by hand, in Japanese"
    "$wine" reg delete 'HKCU\SOFTWARE\Vantorel' /f >/dev/null 2>&1   # a new user
    "$wine" start /unix "$setup"
    # The language list is sorted by the languages' own names; Japanese, 日本語, is last.
    by_hand language 3 End Return
    by_hand welcome 2 Return
    by_hand folder 1.5 Return
    by_hand finish 8 Return        # "Run Quillmark" is checked
    check "the program started from the last page opens its window" window_up
    sleep 2
    import -window root "$out/$arch-hand-first-run.png" 2>/dev/null
    check "language number 6 for the first run" \
        equals "$(reg_value 'HKCU\SOFTWARE\Vantorel_Init' language)" "0x6"
    check "it starts in Japanese" equals "$(reg_text 'HKCU\SOFTWARE\Vantorel' language)" "日本語"
    /usr/lib/wine/wineserver -k
    /usr/lib/wine/wineserver -w

    "$wine" start /unix "$dir/uninstall.exe"
    by_hand uninstall 3 Return     # the confirmation page's Uninstall
    by_hand keep-settings 2 Tab space   # "No": the settings go too
    by_hand uninstalled 1 Return
    /usr/lib/wine/wineserver -w
    check "quillmark.exe removed by hand" test ! -e "$dir/quillmark.exe"
    check "Programs and Features entry removed by hand" no_key "$uninstall_key"
    check "the settings removed when not kept" no_key 'HKCU\SOFTWARE\Vantorel'
    check "the first-run language removed when not kept" no_key 'HKCU\SOFTWARE\Vantorel_Init'
    check "the downloads stay, settings or not" test -s "$dir/download/package.zip"
}

# A recording icacls (tests/setup/icacls_recorder.c) in the prefix's system
# folders (the 32-bit setup on 64-bit Windows reaches SysWOW64's), which Wine
# is told to prefer to its own.
use_recording_icacls() {
    local recorder=$out/icacls-recorder.exe folder
    [ "$recorder" -nt "$root/tests/setup/icacls_recorder.c" ] ||
        i686-w64-mingw32-gcc -O2 -Wall -Wextra -mwindows -o "$recorder" "$root/tests/setup/icacls_recorder.c"
    for folder in system32 syswow64; do
        [ -d "$WINEPREFIX/drive_c/windows/$folder" ] && cp "$recorder" "$WINEPREFIX/drive_c/windows/$folder/icacls.exe"
    done
    "$wine" reg add 'HKCU\Software\Wine\DllOverrides' /v icacls.exe /d native /f >/dev/null 2>&1
    rm -f "$WINEPREFIX/drive_c/icacls-calls.txt" "$WINEPREFIX/drive_c/icacls-fails"
}

# icacls_calls: the recorded calls, one a line, then forgets them. Each line
# is the program's lower-case path, a space and its arguments as given.
icacls_calls() {
    local calls=$WINEPREFIX/drive_c/icacls-calls.txt
    [ -f "$calls" ] && tr -d '\r' <"$calls" | awk -F'"' '{ rest = substr($0, length($2) + 4); print tolower($2) " " rest }'
    rm -f "$calls"
}

try_folder_protection() {
    echo "[setup-test] $arch: folders outside Program Files"
    local c=$WINEPREFIX/drive_c icacls='c:\windows\system32\icacls.exe'
    local grants='/inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX'
    icacls_calls >/dev/null

    "$wine" start /wait /unix "$setup" /S '/D=C:\Tools\Quillmark'
    check "a new folder outside Program Files: install ends with 0" equals "$?" 0
    check "its permissions replaced by the system's icacls, by SID, and Administrators own it" \
        equals "$(icacls_calls)" "$icacls \"C:\\Tools\\Quillmark\" $grants
$icacls \"C:\\Tools\\Quillmark\" /setowner *S-1-5-32-544"
    check "and quillmark.exe installed there" test -s "$c/Tools/Quillmark/quillmark.exe"

    mkdir -p "$c/Data"
    echo "the user's own" >"$c/Data/notes.txt"
    "$wine" start /wait /unix "$setup" /S '/D=C:\Data'
    check "a folder with other files is refused (exit code 4)" equals "$?" 4
    check "without icacls" equals "$(icacls_calls)" ""
    check "nor any file of ours" test ! -e "$c/Data/quillmark.exe"
    check "and the user's file stays" test -s "$c/Data/notes.txt"

    : >"$c/icacls-fails"
    "$wine" start /wait /unix "$setup" /S '/D=C:\Tools3\Quillmark'
    check "icacls failing ends the install with 4" equals "$?" 4
    check "before any file lands" test ! -e "$c/Tools3/Quillmark/quillmark.exe"
    rm -f "$c/icacls-fails"
    icacls_calls >/dev/null

    # /D= naming the other Program Files, in pieces: start quotes one with spaces.
    if [ "$arch" = win64 ]; then
        "$wine" start /wait /unix "$setup" /S '/D=C:\Program' Files '(x86)\Quillmark'
        check "/D= naming the 32-bit Program Files is where quillmark.exe lands" \
            test -s "$c/Program Files (x86)/Quillmark/quillmark.exe" -a ! -e "$c/Program Files/Quillmark/quillmark.exe"
    fi
    /usr/lib/wine/wineserver -w
}

# by_hand NAME SECONDS KEY...: waits, photographs the screen as NAME, then
# presses the keys, as a person at the keyboard would.
by_hand() {
    sleep "$2"
    import -window root "$out/$arch-hand-$1.png" 2>/dev/null
    local key
    for key in "${@:3}"; do
        xdotool key "$key"
        sleep 0.3
    done
}

kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(win64 win32)
for kind in "${kinds[@]}"; do
    try_windows "$kind"
    arch=$kind try_folder_protection
done
if [ $failures -gt 0 ]; then
    echo "[setup-test] $failures checks failed"
    exit 1
fi
echo "[setup-test] passed"
