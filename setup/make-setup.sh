#!/usr/bin/env bash
# Makes build/setup/quillmark-setup-<version>.exe from the program folders of
# both trees (scripts/build.sh calls it after building them). The programs go
# in without their debugging information.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(Quillmark VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
out=$root/build/setup
stage=$out/stage
mkdir -p "$stage/x64" "$stage/x86"
# copy SOURCE DESTINATION STRIP: stripped copies, made again when the source changed.
copy() {
    [ "$2" -nt "$1" ] && return 0
    if [ -n "$3" ]; then "$3" -o "$2" "$1"; else cp "$1" "$2"; fi
}
copy "$root/build/x64/program/quillmark.exe" "$stage/x64/quillmark.exe" x86_64-w64-mingw32-strip
copy "$root/build/x86/program/quillmark.exe" "$stage/x86/quillmark.exe" i686-w64-mingw32-strip
# The installers and the language file are the same in both trees.
copy "$root/build/x64/program/DPInst64.exe" "$stage/DPInst64.exe" x86_64-w64-mingw32-strip
copy "$root/build/x64/program/DPInst32.exe" "$stage/DPInst32.exe" i686-w64-mingw32-strip
copy "$root/build/x64/program/language.ini" "$stage/language.ini" ""
setup=$out/quillmark-setup-$version.exe
script=$root/setup/quillmark.nsi
newest=$(find "$stage" "$root/setup" -type f -newer "$setup" 2>/dev/null | head -1 || true)
if [ -f "$setup" ] && [ -z "$newest" ]; then exit 0; fi
makensis -V2 -DVERSION="$version" -DSTAGE="$stage" \
    -DICON="$root/build/x64/art/quillmark.ico" -DOUTFILE="$setup" "$script" >&2
echo "[build] $setup" >&2
