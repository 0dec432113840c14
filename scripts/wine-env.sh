# Sourced by test.sh and run.sh: the Wine side of running Quillmark on Linux.
#   wine_prepare_prefix  creates the prefix $WINEPREFIX (build/wineprefix unless set
#                        after sourcing) once, with the settings GUI work needs;
#                        QM_WINE names the loader (default wine64)
#   wine_start           starts a virtual display when there is none, and one
#                        persistent wineserver for the prefix
#   wine_stop            stops both again (installed as an EXIT trap by wine_start)

QM_ROOT=${QM_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
QM_BUILD=${QM_BUILD:-$QM_ROOT/build}
export WINEPREFIX=$QM_BUILD/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts: the prefix is made without a network.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=win64
QM_WINE64=/usr/lib/wine/wine64
QM_WINESERVER=/usr/lib/wine/wineserver

_qm_xvfb_pid=""

wine_prepare_prefix() {
    # Bump when the settings below change, so old prefixes are made anew.
    local stamp=$WINEPREFIX/.quillmark-prefix-5
    [ -f "$stamp" ] && return 0
    echo "[wine] preparing prefix $WINEPREFIX" >&2
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    DISPLAY= "${QM_WINE:-$QM_WINE64}" wineboot -i >/dev/null 2>&1
    "$QM_WINESERVER" -w
    # A new prefix has no fonts; Verdana and Arial are not on Debian, so
    # DejaVu Sans and DejaVu Sans Condensed stand in with similar metrics.
    # Both have Arabic letters, as the originals do: Wine shapes and orders
    # Arabic with the font asked for, never with a linked one, so a stand-in
    # without them (Liberation Sans) draws Arabic unjoined and left to right.
    # Undecorated windows keep the skinned caption whole; unmanaged ones do not
    # wait for a window manager that a virtual display does not have. A crash
    # ends the program instead of opening a debugger dialog that would hang.
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    # The stand-ins have no Japanese or Chinese letters, nor Wine's own fonts
    # Arabic ones. As Windows does, the fonts are linked to others that have
    # them: Debian's IPA Gothic (Japanese), WenQuanYi Zen Hei (both Chinese
    # scripts) and DejaVu Sans (Arabic), placed in the prefix's font folder.
    local font
    for font in "${_qm_linked_fonts[@]}"; do
        ln -sf "${font%%|*}" "$WINEPREFIX/drive_c/windows/Fonts/"
    done
    local reg
    reg=$(mktemp --suffix=.reg)
    {
    cat <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Verdana"="DejaVu Sans"
"verdana"="DejaVu Sans"
"Arial"="DejaVu Sans Condensed"
"Tahoma"="DejaVu Sans"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Auto"="0"
"Debugger"=""
EOF
    _qm_font_link_entries
    } >"$reg"
    "${QM_WINE:-$QM_WINE64}" regedit /S "$(winepath_w "$reg")" >/dev/null 2>&1
    "$QM_WINESERVER" -w
    rm -f "$reg"
    touch "$stamp"
}

# The fonts linked behind the program's fonts and their stand-ins, in the
# order Wine tries them: file|face name.
_qm_linked_fonts=(
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf|IPAGothic"
    "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc|WenQuanYi Zen Hei"
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf|DejaVu Sans"
)
_qm_linking_fonts=("Verdana" "Arial" "Tahoma" "Microsoft Sans Serif" "DejaVu Sans" "DejaVu Sans Condensed"
    "Liberation Sans")

# The FontLink\SystemLink entries, in REGEDIT4 form: each value is a
# multi-string of "file,face" lines (hex(7): bytes, each line ends in a zero,
# one more zero ends the list).
_qm_font_link_entries() {
    local hex="" font name link
    for font in "${_qm_linked_fonts[@]}"; do
        link="$(basename "${font%%|*}"),${font#*|}"
        hex+=$(printf '%s' "$link" | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//')
        hex+="00,"
    done
    hex+="00"
    echo
    echo '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]'
    # Wine looks a bold font's links up under the face's full name.
    for name in "${_qm_linking_fonts[@]}"; do
        echo "\"$name\"=hex(7):$hex"
        echo "\"$name Bold\"=hex(7):$hex"
    done
}

# A Unix path as Wine sees it (through the Z: drive).
winepath_w() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

wine_start() {
    if [ -z "${DISPLAY:-}" ] || [ "${QM_FORCE_XVFB:-0}" = 1 ]; then
        # Xvfb picks a free display number itself and writes it to the pipe.
        local fifo n=""
        fifo=$(mktemp -u)
        mkfifo "$fifo"
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
        _qm_xvfb_pid=$!
        read -r -t 30 n <"$fifo" || true
        rm -f "$fifo"
        [ -n "$n" ] || { echo "[wine] Xvfb did not start" >&2; return 1; }
        export DISPLAY=":$n"
        echo "[wine] virtual display $DISPLAY" >&2
    fi
    "$QM_WINESERVER" -k >/dev/null 2>&1 || true
    # A server that was just told to end may still hold the prefix for a
    # moment; the new one is tried again until it ends.
    local tries
    for tries in 1 2 3 4 5 6 7 8 9 10; do
        "$QM_WINESERVER" -p && break
        [ "$tries" -lt 10 ] || return 1
        sleep 0.5
    done
    # Start Wine's own services now, detached from our output: started by the
    # first test instead, they would inherit its pipes and ctest would wait
    # for them until the timeout.
    "$QM_WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
    trap wine_stop EXIT
}

wine_stop() {
    "$QM_WINESERVER" -k >/dev/null 2>&1 || true
    if [ -n "$_qm_xvfb_pid" ]; then
        kill "$_qm_xvfb_pid" 2>/dev/null || true
        wait "$_qm_xvfb_pid" 2>/dev/null || true
        _qm_xvfb_pid=""
    fi
}
